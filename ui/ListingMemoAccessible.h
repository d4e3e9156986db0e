#pragma once

#include <QAccessibleWidget>
#include <QPlainTextEdit>

// What a screen reader reads of the listing memo. The memo keeps many listing lines in one text
// block, parted by line separators (U+2028); Qt's own interface for a plain text edit would hand
// those separators out in ranges of text and take a whole block for a paragraph. This one reads
// the memo as one block a line: a line separator reads as a line end, and a paragraph (and the
// sentences in it) ends at a line's end. Places on the screen are where the memo draws the text;
// everything else is what Qt's interface does.
class TListingMemoAccessible final : public QAccessibleWidget,
                                     public QAccessibleTextInterface,
                                     public QAccessibleEditableTextInterface {
public:
    explicit TListingMemoAccessible(QPlainTextEdit* memo);

    // The memo's interface is this one from now on (call before anything asks for it).
    static void UseFor(QPlainTextEdit* memo);

    // QAccessibleInterface
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text type, const QString& text) override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

private:
    QPlainTextEdit* Memo() const;
    // The memo's cursor moved to the offset, or left where it is when the offset is out of range.
    QTextCursor CursorAt(int offset) const;
    QTextCursor CursorOver(int startOffset, int endOffset) const;
    QString TextAround(const QTextCursor& cursor, QAccessible::TextBoundaryType boundaryType,
                       int* startOffset, int* endOffset) const;
};
