#include "ui/ListingMemo.h"

#include "ui/ListingMemoAccessible.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>

TListingMemo::TListingMemo(QPlainTextEdit* memo) : QObject(memo), memo_(memo) {
    TListingMemoAccessible::UseFor(memo);
    // A new text width (the memo resized) makes the layout forget every block's count; it says so
    // with an update of the whole document before the memo sizes its scroll bars again.
    connect(memo->document()->documentLayout(), &QAbstractTextDocumentLayout::update, this, [this] {
        const QTextDocument* document = memo_->document();
        if (blocksOfLines_ && document->lineCount() == document->blockCount())
            CountLines();
    });
}

void TListingMemo::Show(const QString& text) {
    memo_->setPlainText(text);
    CountLines();
}

void TListingMemo::CountLines() {
    QTextDocument* document = memo_->document();
    blocksOfLines_ = false;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        // Without wrapping, each line separator starts a line; a block that is laid out already
        // has its count.
        if (block.layout()->lineCount() > 0)
            continue;
        const int lines = 1 + static_cast<int>(block.text().count(QChar::LineSeparator));
        block.setLineCount(lines);
        blocksOfLines_ = blocksOfLines_ || lines > 1;
    }
    blocksOfLines_ = blocksOfLines_ || document->lineCount() > document->blockCount();
    // The memo sizes its scroll bars when the layout reports a new size.
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    emit layout->documentSizeChanged(layout->documentSize());
}

QTextCursor LineStart(QTextDocument* document, qsizetype line) {
    if (line < 0 || line >= document->lineCount())
        return {};
    const QTextBlock block = document->findBlockByLineNumber(static_cast<int>(line));
    if (!block.isValid())
        return {};
    const QString text = block.text();
    qsizetype offset = 0;
    for (int left = static_cast<int>(line) - block.firstLineNumber(); left > 0; --left) {
        offset = text.indexOf(QChar::LineSeparator, offset) + 1;
        if (offset == 0)
            return {};
    }
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + static_cast<int>(offset));
    return cursor;
}
