#pragma once

#include "catalogue/Schedule.h"

#include <QDateTime>
#include <QPlainTextEdit>
#include <QTimer>

#include <functional>

// Marks the line of the programme on air in a listing shown in a memo: a background of the
// palette's highlight colour at low alpha, the memo's text untouched. The mark follows the minute
// and goes when the memo's text is replaced, cleared or edited within the listing.
class TListingMark final : public QObject {
    Q_OBJECT
public:
    explicit TListingMark(QPlainTextEdit* memo);

    std::function<QDateTime()> Now;
    QTimer* MinuteTimer;

    // The memo now shows this text (lines after a LF or a line separator): marks the programme on
    // air, if any, and scrolls it into view.
    void Show(QStringView memoText);
    // Moves the mark to the programme on air now.
    void MinutePassed();
    // The memo line marked; -1 when none.
    qsizetype MarkedLine() const { return markedLine_; }

private:
    void Read(QStringView memoText, const QDate& today);
    void Clear();
    void Mark(bool scroll);

    QPlainTextEdit* memo_;
    // Only the days that can have a programme on air on `today_`; a listing may be large.
    Schedule schedule_;
    QDate today_;
    // The date the listing was shown on dates the days without a year.
    QDate shownOn_;
    // The listing's length in the memo; lines appended below it are not read as programmes.
    qsizetype shownLength_ = 0;
    bool active_ = false;
    qsizetype markedLine_ = -1;
};
