#include "ui/ListingMark.h"

#include "guide/Guide.h"

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
    Now = [] { return QDateTime::currentDateTime(); };
    connect(MinuteTimer, &QTimer::timeout, this, [this] { MinutePassed(); });
    // Lines appended below the listing (status lines) keep the mark; anything that removes text
    // means the listing is no longer what the memo shows.
    connect(memo->document(), &QTextDocument::contentsChange, this, [this](int, int charsRemoved, int) {
        if (charsRemoved > 0)
            Clear();
    });
}

void TListingMark::Show(const QStringList& memoLines) {
    const QDateTime now = Now();
    schedule_ = ParseSchedule(memoLines, now.date());
    active_ = true;
    Mark(true);
}

void TListingMark::MinutePassed() {
    if (active_)
        Mark(false);
}

void TListingMark::Clear() {
    active_ = false;
    schedule_ = {};
    markedLine_ = -1;
    MinuteTimer->stop();
    if (!memo_->extraSelections().isEmpty())
        memo_->setExtraSelections({});
}

void TListingMark::Mark(bool scroll) {
    const QDateTime now = Now();
    const Programme* programme = ProgrammeOnAirToday(schedule_, now);
    const QTextBlock block =
        programme ? memo_->document()->findBlockByNumber(static_cast<int>(programme->line)) : QTextBlock();
    QList<QTextEdit::ExtraSelection> selections;
    markedLine_ = -1;
    if (block.isValid()) {
        QTextEdit::ExtraSelection selection;
        QColor colour = memo_->palette().color(QPalette::Highlight);
        colour.setAlpha(kMarkAlpha);
        selection.format.setBackground(colour);
        selection.format.setProperty(QTextFormat::FullWidthSelection, true);
        selection.cursor = QTextCursor(block);
        selections.append(selection);
        markedLine_ = block.blockNumber();
        // Without wrapping, the vertical scroll bar counts lines.
        if (scroll)
            memo_->verticalScrollBar()->setValue(std::max(0, block.blockNumber() - kLinesAbove));
    }
    memo_->setExtraSelections(selections);
    MinuteTimer->start(MillisecondsToNextMinute(now) + 50);
}
