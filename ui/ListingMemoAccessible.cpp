#include "ui/ListingMemoAccessible.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>

#include <utility>

namespace {

constexpr char kListingMemoProperty[] = "pelnaviListingMemo";

using Range = std::pair<int, int>;

int Offset(qsizetype position) {
    return static_cast<int>(position);
}

// The memo's line around the cursor, without its end, as a block a line would give it.
Range LineAround(const QTextCursor& at) {
    const QTextBlock block = at.block();
    const QString text = block.text();
    const qsizetype inBlock = at.position() - block.position();
    const qsizetype before = inBlock > 0 ? text.lastIndexOf(QChar::LineSeparator, inBlock - 1) : -1;
    qsizetype after = text.indexOf(QChar::LineSeparator, inBlock);
    if (after < 0)
        after = text.size();
    return {block.position() + Offset(before + 1), block.position() + Offset(after)};
}

// The sentence around the cursor, found within its line the way Qt finds it within a block.
Range SentenceAround(const QTextCursor& at) {
    const Range line = LineAround(at);
    const QTextBlock block = at.block();
    const QString text = block.text().mid(line.first - block.position(), line.second - line.first);
    QTextBoundaryFinder sentences(QTextBoundaryFinder::Sentence, text);
    const qsizetype inLine = at.position() - line.first;
    sentences.setPosition(inLine);
    qsizetype previous = inLine;
    if (!(sentences.boundaryReasons() & QTextBoundaryFinder::StartOfItem))
        previous = sentences.toPreviousBoundary();
    const qsizetype next = sentences.toNextBoundary();
    Range sentence = line;
    if (next != -1)
        sentence.second = line.first + Offset(next);
    if (previous != -1)
        sentence.first = line.first + Offset(previous);
    return sentence;
}

Range Boundaries(const QTextCursor& at, QAccessible::TextBoundaryType type) {
    switch (type) {
    case QAccessible::ParagraphBoundary:
        return LineAround(at);
    case QAccessible::SentenceBoundary:
        return SentenceAround(at);
    default:
        return QAccessible::qAccessibleTextBoundaryHelper(at, type);
    }
}

// The fragment of the block that holds the character at `offset`; an invalid one past its text.
QTextFragment FragmentAt(const QTextBlock& block, int offset) {
    for (QTextBlock::iterator fragment = block.begin(); !fragment.atEnd(); ++fragment) {
        if (fragment.fragment().contains(offset))
            return fragment.fragment();
    }
    return {};
}

// The format of the character at `offset`; a block's end has the format of the character before.
QTextCharFormat FormatAt(const QTextBlock& block, int offset) {
    if (block.begin().atEnd())
        return block.charFormat();
    QTextFragment fragment = FragmentAt(block, offset);
    if (!fragment.isValid())
        fragment = (--block.end()).fragment();
    return fragment.charFormat();
}

QAccessibleInterface* ListingMemoFactory(const QString& className, QObject* object) {
    auto* memo = qobject_cast<QPlainTextEdit*>(object);
    if (className != u"QPlainTextEdit" || !memo || !memo->property(kListingMemoProperty).toBool())
        return nullptr;
    return new TListingMemoAccessible(memo);
}

// Backslash and the separators of the attribute list are escaped in a value.
QString EscapedAttribute(QString value) {
    for (const QChar special : {u'\\', u':', u',', u'=', u';', u'"'})
        value.replace(special, QString(u'\\') + special);
    return value;
}

QString Rgb(const QColor& colour) {
    return QStringLiteral("rgb(%1,%2,%3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

QString UnderlineStyleName(const QTextCharFormat& format) {
    QTextCharFormat::UnderlineStyle style = format.underlineStyle();
    // The default font may still underline.
    if (style == QTextCharFormat::NoUnderline && format.font().underline())
        style = QTextCharFormat::SingleUnderline;
    switch (style) {
    case QTextCharFormat::SingleUnderline:
        return QStringLiteral("solid");
    case QTextCharFormat::DashUnderline:
    case QTextCharFormat::DotLine:
        return QStringLiteral("dash");
    case QTextCharFormat::DashDotLine:
        return QStringLiteral("dot-dash");
    case QTextCharFormat::DashDotDotLine:
        return QStringLiteral("dot-dot-dash");
    case QTextCharFormat::WaveUnderline:
    case QTextCharFormat::SpellCheckUnderline:
        return QStringLiteral("wave");
    default:
        return {};
    }
}

QString AlignmentName(Qt::Alignment alignment) {
    switch (alignment & (Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify)) {
    case Qt::AlignLeft:
        return QStringLiteral("left");
    case Qt::AlignRight:
        return QStringLiteral("right");
    case Qt::AlignHCenter:
        return QStringLiteral("center");
    case Qt::AlignJustify:
        return QStringLiteral("justify");
    default:
        return {};
    }
}

} // namespace

TListingMemoAccessible::TListingMemoAccessible(QPlainTextEdit* memo)
    : QAccessibleWidget(memo, QAccessible::EditableText) {}

void TListingMemoAccessible::UseFor(QPlainTextEdit* memo) {
    static const bool installed = [] {
        QAccessible::installFactory(ListingMemoFactory);
        return true;
    }();
    Q_UNUSED(installed);
    memo->setProperty(kListingMemoProperty, true);
}

QPlainTextEdit* TListingMemoAccessible::Memo() const {
    return static_cast<QPlainTextEdit*>(widget());
}

QString TListingMemoAccessible::text(QAccessible::Text type) const {
    if (type == QAccessible::Value)
        return Memo()->toPlainText();
    return QAccessibleWidget::text(type);
}

void TListingMemoAccessible::setText(QAccessible::Text type, const QString& text) {
    if (type != QAccessible::Value) {
        QAccessibleWidget::setText(type, text);
        return;
    }
    if (!Memo()->isReadOnly())
        Memo()->setPlainText(text);
}

QAccessible::State TListingMemoAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.selectableText = true;
    state.multiLine = true;
    if (Memo()->isReadOnly())
        state.readOnly = true;
    else
        state.editable = true;
    return state;
}

void* TListingMemoAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

void TListingMemoAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    const QTextCursor cursor = Memo()->textCursor();
    if (selectionIndex != 0 || !cursor.hasSelection())
        return;
    *startOffset = cursor.selectionStart();
    *endOffset = cursor.selectionEnd();
}

int TListingMemoAccessible::selectionCount() const {
    return Memo()->textCursor().hasSelection() ? 1 : 0;
}

void TListingMemoAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void TListingMemoAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex != 0)
        return;
    QTextCursor cursor = Memo()->textCursor();
    cursor.clearSelection();
    Memo()->setTextCursor(cursor);
}

void TListingMemoAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex == 0)
        Memo()->setTextCursor(CursorOver(startOffset, endOffset));
}

int TListingMemoAccessible::cursorPosition() const {
    return Memo()->textCursor().position();
}

void TListingMemoAccessible::setCursorPosition(int position) {
    Memo()->setTextCursor(CursorAt(position));
}

QString TListingMemoAccessible::text(int startOffset, int endOffset) const {
    QString text = CursorOver(startOffset, endOffset).selectedText();
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = u'\n';
    }
    return text;
}

// Before, at and after an offset go the way Qt's text widgets go, only with the boundaries above
// (out-of-range positions included: the cursor then stays where it was).
QString TListingMemoAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                                 int* startOffset, int* endOffset) const {
    QTextCursor cursor = CursorAt(offset);
    cursor.setPosition(Boundaries(cursor, boundaryType).first - 1);
    return TextAround(cursor, boundaryType, startOffset, endOffset);
}

QString TListingMemoAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                                int* startOffset, int* endOffset) const {
    QTextCursor cursor = CursorAt(offset);
    cursor.setPosition(Boundaries(cursor, boundaryType).second);
    return TextAround(cursor, boundaryType, startOffset, endOffset);
}

QString TListingMemoAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int* startOffset, int* endOffset) const {
    return TextAround(CursorAt(offset), boundaryType, startOffset, endOffset);
}

QString TListingMemoAccessible::TextAround(const QTextCursor& cursor,
                                           QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                           int* endOffset) const {
    const Range range = Boundaries(cursor, boundaryType);
    *startOffset = range.first;
    *endOffset = range.second;
    return text(range.first, range.second);
}

int TListingMemoAccessible::characterCount() const {
    QTextCursor cursor = Memo()->textCursor();
    cursor.movePosition(QTextCursor::End);
    return cursor.position();
}

// Qt's plain memo takes the scroll bar's lines for pixels and its layout for the block's own, so
// its places are off once scrolled; these come from where the memo itself draws the character.
QRect TListingMemoAccessible::characterRect(int offset) const {
    const QString character = text(offset, offset + 1);
    if (character.isEmpty())
        return {};
    const QTextCursor cursor = CursorAt(offset);
    const QRect caret = Memo()->cursorRect(cursor);
    const QFontMetrics metrics(FormatAt(cursor.block(), offset).font());
    const QRect place(caret.topLeft(), QSize(metrics.horizontalAdvance(character), caret.height()));
    return place.translated(Memo()->viewport()->mapToGlobal(QPoint(0, 0)));
}

int TListingMemoAccessible::offsetAtPoint(const QPoint& point) const {
    const QPoint inViewport = Memo()->viewport()->mapFromGlobal(point);
    if (!Memo()->viewport()->rect().contains(inViewport))
        return -1;
    return Memo()->cursorForPosition(inViewport).position();
}

void TListingMemoAccessible::scrollToSubstring(int, int) {
    // Qt's plain text edit does not scroll for a screen reader either.
}

QString TListingMemoAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    // -2 is the cursor position; -1 and the end ask for the last character.
    if (offset == -2)
        offset = cursorPosition();
    const int count = characterCount();
    if (offset == -1 || offset == count)
        offset = count - 1;
    if (offset < 0 || offset > count) {
        *startOffset = *endOffset = -1;
        return {};
    }
    const QTextCursor cursor = CursorAt(offset);
    const QTextBlock block = cursor.block();
    const Range line = LineAround(cursor);
    // A line's end has the block's format and a range of its own, as a block's end has.
    const QTextCharFormat format = offset < line.second ? FormatAt(block, offset) : block.charFormat();
    *startOffset = line.second;
    *endOffset = line.second + 1;
    if (offset < line.second) {
        const QTextFragment fragment = FragmentAt(block, offset);
        *startOffset = std::max(fragment.position(), line.first);
        *endOffset = std::min(fragment.position() + fragment.length(), line.second);
    }

    const QFont font = format.font();
    QString attributes;
    const auto add = [&attributes](const char* name, const QString& value) {
        attributes += QLatin1String(name) + u':' + value + u';';
    };
    const QString family = font.families().value(0);
    if (!family.isEmpty())
        add("font-family", u'"' + EscapedAttribute(family) + u'"');
    if (const int size = static_cast<int>(font.pointSize()); size != 0)
        add("font-size", QStringLiteral("%1pt").arg(size));
    add("font-weight", font.weight() > QFont::Normal ? QStringLiteral("bold") : QStringLiteral("normal"));
    add("font-style", font.style() == QFont::StyleItalic    ? QStringLiteral("italic")
                      : font.style() == QFont::StyleOblique ? QStringLiteral("oblique")
                                                            : QStringLiteral("normal"));
    if (const QString underline = UnderlineStyleName(format); !underline.isEmpty()) {
        add("text-underline-style", underline);
        add("text-underline-type", QStringLiteral("single"));
    }
    if (block.textDirection() == Qt::RightToLeft)
        add("writing-mode", QStringLiteral("rl"));
    const QTextCharFormat::VerticalAlignment position = format.verticalAlignment();
    add("text-position", position == QTextCharFormat::AlignSubScript     ? QStringLiteral("sub")
                         : position == QTextCharFormat::AlignSuperScript ? QStringLiteral("super")
                                                                         : QStringLiteral("baseline"));
    if (format.background().style() == Qt::SolidPattern)
        add("background-color", Rgb(format.background().color()));
    if (format.foreground().style() == Qt::SolidPattern)
        add("color", Rgb(format.foreground().color()));
    if (const QString alignment = AlignmentName(cursor.blockFormat().alignment()); !alignment.isEmpty())
        add("text-align", alignment);
    return attributes;
}

void TListingMemoAccessible::deleteText(int startOffset, int endOffset) {
    CursorOver(startOffset, endOffset).removeSelectedText();
}

void TListingMemoAccessible::insertText(int offset, const QString& text) {
    CursorAt(offset).insertText(text);
}

void TListingMemoAccessible::replaceText(int startOffset, int endOffset, const QString& text) {
    QTextCursor cursor = CursorOver(startOffset, endOffset);
    cursor.removeSelectedText();
    cursor.insertText(text);
}

QTextCursor TListingMemoAccessible::CursorAt(int offset) const {
    QTextCursor cursor = Memo()->textCursor();
    cursor.setPosition(offset);
    return cursor;
}

QTextCursor TListingMemoAccessible::CursorOver(int startOffset, int endOffset) const {
    QTextCursor cursor = Memo()->textCursor();
    cursor.setPosition(startOffset, QTextCursor::MoveAnchor);
    cursor.setPosition(endOffset, QTextCursor::KeepAnchor);
    return cursor;
}
