#include "ui/ListingMemo.h"

#include "ui/ListingMemoAccessible.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>

#include <algorithm>

QString ListingWithTitle(QStringView title, QStringView text, qsizetype linesPerBlock) {
    // Every line adds one break before it, and every break of the text goes (CR LF is two units),
    // so the result is at most one unit longer than title and text together.
    QString result(title.size() + text.size() + 1, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    out = std::copy(title.utf16(), title.utf16() + title.size(), out);
    const char16_t* in = text.utf16();
    const char16_t* const end = in + text.size();
    // Lines left in the present block (the title is its first).
    qsizetype roomInBlock = std::max<qsizetype>(linesPerBlock, 1) - 1;
    const auto startLine = [&] {
        if (roomInBlock > 0) {
            *out++ = QChar::LineSeparator;
            --roomInBlock;
        } else {
            *out++ = u'\n';
            roomInBlock = std::max<qsizetype>(linesPerBlock, 1) - 1;
        }
    };
    if (in != end)
        startLine();
    while (in != end) {
        const char16_t unit = *in++;
        if (unit != u'\r' && unit != u'\n') {
            *out++ = unit;
            continue;
        }
        if (unit == u'\r' && in != end && *in == u'\n')
            ++in;
        if (in != end) // a break at the very end adds no line
            startLine();
    }
    result.truncate(out - reinterpret_cast<const char16_t*>(result.constData()));
    return result;
}

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
