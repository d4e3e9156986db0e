#include "ui/ListingMark.h"

#include "catalogue/ListingTime.h"
#include "guide/Guide.h"
#include "ui/ListingMarkSchedule.h"
#include "ui/ListingMemo.h"

#include <QScrollBar>
#include <QTextBlock>

namespace {

// Low enough that the text stays readable on light and dark palettes alike.
constexpr int kMarkAlpha = 64;
// Lines left above the marked one when it is scrolled into view.
constexpr int kLinesAbove = 2;

} // namespace

TListingMark::TListingMark(QPlainTextEdit* memo) : QObject(memo), memo_(memo) {
    MinuteTimer = new QTimer(this);
    MinuteTimer->setSingleShot(true);
    MinuteTimer->setTimerType(Qt::PreciseTimer);
    Now = [] { return ListingNow(); };
    connect(MinuteTimer, &QTimer::timeout, this, [this] { MinutePassed(); });
    // Lines appended below the listing (status lines) keep the mark. Text that goes, or comes within
    // the listing, means the memo no longer shows the listing as it was read: a line break above the
    // mark would move it onto another programme, and the midnight re-read would read the edit.
    connect(memo->document(), &QTextDocument::contentsChange, this,
            [this](int position, int charsRemoved, int) {
                if (charsRemoved > 0 || position < shownLength_)
                    Clear();
            });
}

void TListingMark::Show(QStringView memoText) {
    shownOn_ = ListingTimeOf(Now()).date();
    shownLength_ = memoText.size();
    Read(memoText, shownOn_);
    active_ = true;
    Mark(true);
}

void TListingMark::Read(QStringView memoText, const QDate& today) {
    schedule_ = ParseScheduleAround(memoText, shownOn_, today);
    today_ = today;
}

void TListingMark::MinutePassed() {
    if (active_)
        Mark(false);
}

void TListingMark::Clear() {
    active_ = false;
    schedule_ = {};
    today_ = {};
    markedLine_ = -1;
    MinuteTimer->stop();
    if (!memo_->extraSelections().isEmpty())
        memo_->setExtraSelections({});
}

void TListingMark::Mark(bool scroll) {
    const QDateTime now = Now();
    const QDate today = ListingTimeOf(now).date();
    // Shown across midnight: the days kept were those around the day before. The plain text gives
    // each line break back as one LF, so the listing keeps its length and its line numbers.
    if (today != today_)
        Read(memo_->toPlainText().left(shownLength_), today);
    const Programme* programme = ProgrammeOnAirToday(schedule_, now);
    // A line of its own in the memo, though a block may hold several.
    const QTextCursor line = programme ? LineStart(memo_->document(), programme->line) : QTextCursor();
    QList<QTextEdit::ExtraSelection> selections;
    markedLine_ = -1;
    if (!line.isNull()) {
        QTextEdit::ExtraSelection selection;
        QColor colour = memo_->palette().color(QPalette::Highlight);
        colour.setAlpha(kMarkAlpha);
        selection.format.setBackground(colour);
        selection.format.setProperty(QTextFormat::FullWidthSelection, true);
        // Without a selection, the full width mark covers the visual line of the cursor.
        selection.cursor = line;
        selections.append(selection);
        markedLine_ = programme->line;
        // Without wrapping, the vertical scroll bar counts lines.
        if (scroll)
            memo_->verticalScrollBar()->setValue(
                static_cast<int>(std::max<qsizetype>(0, markedLine_ - kLinesAbove)));
    }
    memo_->setExtraSelections(selections);
    MinuteTimer->start(MillisecondsToNextMinute(now) + 50);
}
