#pragma once

#include <QObject>
#include <QPlainTextEdit>
#include <QString>
#include <QStringView>
#include <QTextCursor>

// Lines of a listing that go into one block of the memo's document (see ListingWithTitle). A block
// costs the document several microseconds and about 80 bytes when the text is set; a line within
// a block costs only its characters. A block is laid out whole when any of it is shown, so it stays
// small enough to lay out well within a frame.
inline constexpr qsizetype kListingLinesPerBlock = 128;

// What the schedule memo shows: the title line, then each line of `text` (the lines
// SplitListingLines gives). Built in one pass, without a list of lines. The lines go in blocks of
// `linesPerBlock`: a LF ends a block and U+2028 (QChar::LineSeparator) parts the lines within one.
// A text document shows both as line breaks and gives both back as LF in its plain text, while a
// block costs it far more than a line within one.
QString ListingWithTitle(QStringView title, QStringView text,
                         qsizetype linesPerBlock = kListingLinesPerBlock);

// Shows texts whose blocks hold several lines in a memo that does not wrap, with the vertical
// scroll bar counting lines from the start: the plain text layout takes a block it has not laid
// out for one line, and would otherwise find the true count only as each block is shown.
class TListingMemo final : public QObject {
    Q_OBJECT
public:
    explicit TListingMemo(QPlainTextEdit* memo);

    // Replaces the memo's text.
    void Show(const QString& text);

private:
    void CountLines();

    QPlainTextEdit* memo_;
    // Some block holds more than one line, so a layout that forgets the counts must be answered.
    bool blocksOfLines_ = false;
};

// A cursor at the start of the memo's visual line `line` (blocks of several lines counted line by
// line); a null cursor when there is no such line.
QTextCursor LineStart(QTextDocument* document, qsizetype line);
