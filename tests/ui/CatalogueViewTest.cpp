// The channel list and the schedule view on the real window.
#include "tests/ui/WindowFixture.h"

#include "catalogue/ListingFile.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <unistd.h>

namespace {

QByteArray Utf16LeWithMark(const QString& text) {
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return bytes;
}

const QString kSchedule = QStringLiteral("06:00 朝闻天下\r\n08:35 新闻30分\r\n19:00 新闻联播\r\n");
const QStringList kScheduleLines = {"06:00 朝闻天下", "08:35 新闻30分", "19:00 新闻联播"};

class CatalogueViewTest : public WindowFixture {
protected:
    void SelectChannel(TForm1& window, int row) {
        const QRect place = window.TVList->visualItemRect(row);
        QTest::mouseClick(window.TVList->viewport(), Qt::LeftButton, {}, place.center());
    }
};

TEST_F(CatalogueViewTest, PlainStartListsTheNationalClassUnderDisplayNames) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kSchedule));
    WriteDataFile(QStringLiteral("央视频道/A.TXT"), "x");
    WriteDataFile(QStringLiteral("地方频道/anhui卫视.txt"), "x");
    WriteDataFile(QStringLiteral("zorq.zip"), "PK");
    TForm1& window = Start();
    QStringList names = window.TVList->itemTexts();
    names.sort();
    EXPECT_EQ(names, (QStringList{"ZORQ-1 中央", "a"}));
    EXPECT_EQ(window.SBPanel0->text(), QStringLiteral("共2个频道 ") + WelcomeLine());
    ASSERT_EQ(window.TVFilepathList->count(), window.TVList->count());
    for (int i = 0; i < window.TVList->count(); ++i) {
        const QString path = window.TVFilepathList->itemText(i);
        EXPECT_EQ(window.TVList->itemText(i),
                  path.endsWith(u"A.TXT") ? QStringLiteral("a") : QStringLiteral("ZORQ-1 中央"));
        EXPECT_TRUE(path.startsWith(DataFolder() + QStringLiteral("央视频道/")));
    }
}

TEST_F(CatalogueViewTest, AllChannelsWalksTheWholeDataFolderBreadthFirst) {
    WriteDataFile(QStringLiteral("央视频道/sub/deep/03.txt"), "x");
    WriteDataFile(QStringLiteral("央视频道/02.txt"), "x");
    WriteDataFile(QStringLiteral("top.txt"), "x");
    WriteDataFile(QStringLiteral("zorq.zip"), "PK");
    TForm1& window = Start();
    window.ComboBox_Class->setCurrentIndex(0); // the change rescans at once
    EXPECT_EQ(window.TVList->itemTexts(), (QStringList{"top", "ZORQ-2 财经", "ZORQ-3 综艺"}));
    EXPECT_EQ(window.TVFilepathList->itemTexts(),
              (QStringList{DataFolder() + "top.txt", DataFolder() + "央视频道/02.txt",
                           DataFolder() + "央视频道/sub/deep/03.txt"}));
    EXPECT_EQ(window.filepathList->itemTexts(),
              (QStringList{DataFolder() + "央视频道/", DataFolder() + "央视频道/sub/",
                           DataFolder() + "央视频道/sub/deep/"}));
    EXPECT_EQ(window.SBPanel0->text(), QStringLiteral("共3个频道 ") + WelcomeLine());

    window.TVListBox->setPlainText(QStringLiteral("old listing"));
    window.ComboBox_Class->setCurrentText(QStringLiteral("地方频道")); // no such folder
    EXPECT_EQ(window.TVList->count(), 0);
    EXPECT_EQ(window.TVFilepathList->count(), 0);
    EXPECT_TRUE(window.TVListBox->toPlainText().isEmpty());
    EXPECT_EQ(window.SBPanel0->text(), QStringLiteral("共0个频道 ") + WelcomeLine());
}

TEST_F(CatalogueViewTest, ARescanAskedForDuringTheScanPumpLeavesOneScanInTheLists) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "x");
    WriteDataFile(QStringLiteral("地方频道/hunan卫视.txt"), "x");
    WriteDataFile(QStringLiteral("top.txt"), "x");
    TForm1& window = Start();
    ASSERT_EQ(window.TVList->count(), 1);
    // The class changes while the rescan below lets the window take its messages.
    QMetaObject::invokeMethod(
        window.ComboBox_Class, [&window] { window.ComboBox_Class->setCurrentIndex(0); },
        Qt::QueuedConnection);
    window.LoadData->click();
    EXPECT_EQ(window.TVList->count(), 3);
    EXPECT_EQ(window.TVFilepathList->count(), 3);
    EXPECT_EQ(window.SBPanel0->text(), QStringLiteral("共3个频道 ") + WelcomeLine());
}

TEST_F(CatalogueViewTest, AListingLooksTheSameInEveryEncoding) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(kSchedule));
    WriteDataFile(QStringLiteral("央视频道/02.txt"), "\xEF\xBB\xBF" + kSchedule.toUtf8());
    WriteDataFile(QStringLiteral("央视频道/03.txt"), Utf16LeWithMark(kSchedule));
    TForm1& window = Start();
    window.show();
    ASSERT_EQ(window.TVList->count(), 3);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        SelectChannel(window, row);
        EXPECT_EQ(MemoLines(window.TVListBox),
                  QStringList{QStringLiteral("【") + window.TVList->itemText(row) + QStringLiteral("】")} +
                      kScheduleLines);
    }
}

TEST_F(CatalogueViewTest, ArrowKeysShowEachListingAndAnUnreadableOneLeavesTheMemo) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "first\n");
    WriteDataFile(QStringLiteral("央视频道/02.txt"), "second\n");
    TForm1& window = Start();
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_EQ(window.TVList->count(), 2);
    SelectChannel(window, 0);
    const QString first = window.TVListBox->toPlainText();
    EXPECT_TRUE(first.endsWith(u"first"));
    window.TVList->setFocus();
    QTest::keyClick(window.TVList, Qt::Key_Down);
    EXPECT_TRUE(window.TVListBox->toPlainText().endsWith(u"second"));
    QTest::keyClick(window.TVList, Qt::Key_Up);
    EXPECT_EQ(window.TVListBox->toPlainText(), first);

    // A file removed after the scan: the selection moves, the memo stays.
    ASSERT_TRUE(QFile::remove(window.TVFilepathList->itemText(1)));
    QTest::keyClick(window.TVList, Qt::Key_Down);
    EXPECT_EQ(window.TVList->currentRow(), 1);
    EXPECT_EQ(window.TVListBox->toPlainText(), first);

    // After a rescan nothing is selected and the memo is empty until a channel is picked.
    window.LoadData->click();
    EXPECT_EQ(window.TVList->currentRow(), -1);
    EXPECT_TRUE(window.TVListBox->toPlainText().isEmpty());
}

TEST_F(CatalogueViewTest, ALongListingReadsMovesScrollsAndCopiesLineByLine) {
    // Lines enough for several of the memo's blocks, and a last one that is not full.
    const qsizetype count = 3 * kListingLinesPerBlock + 10;
    QString listing;
    QStringList shown = {QStringLiteral("【ZORQ-1 中央】")};
    for (qsizetype i = 1; i <= count; ++i) {
        shown << QStringLiteral("%1 节目").arg(i, 4, 10, QChar(u'0'));
        listing += shown.last() + QStringLiteral("\r\n");
    }
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(listing));
    TForm1& window = Start();
    window.show();
    QApplication::setActiveWindow(&window);
    SelectChannel(window, 0);
    QPlainTextEdit* const memo = window.TVListBox;
    QTextDocument* const document = memo->document();
    EXPECT_EQ(MemoLines(memo), shown);
    ASSERT_LT(document->blockCount(), shown.size());

    // The scroll bar counts every line at once, also after the memo is laid out anew.
    QScrollBar* const lines = memo->verticalScrollBar();
    EXPECT_EQ(lines->maximum() + lines->pageStep(), shown.size());
    memo->resize(memo->width() - 40, memo->height());
    EXPECT_EQ(lines->maximum() + lines->pageStep(), shown.size());
    memo->resize(memo->width() + 40, memo->height());
    EXPECT_EQ(lines->maximum() + lines->pageStep(), shown.size());
    lines->setValue(lines->maximum());
    const int bottom = memo->viewport()->height() - memo->fontMetrics().height();
    EXPECT_EQ(LineAt(memo->cursorForPosition(QPoint(4, bottom))), shown.last());

    // Keys move over the lines as over one block a line, also from one block to the next.
    memo->setFocus();
    const int lastOfFirstBlock = static_cast<int>(kListingLinesPerBlock) - 1;
    memo->setTextCursor(LineStart(document, lastOfFirstBlock - 1));
    QTest::keyClick(memo, Qt::Key_End);
    EXPECT_EQ(memo->textCursor().position(), LineStart(document, lastOfFirstBlock).position() - 1);
    QTest::keyClick(memo, Qt::Key_Home);
    EXPECT_EQ(memo->textCursor().position(), LineStart(document, lastOfFirstBlock - 1).position());
    QTest::keyClick(memo, Qt::Key_Down);
    QTest::keyClick(memo, Qt::Key_Down);
    EXPECT_EQ(LineAt(memo->textCursor()), shown[lastOfFirstBlock + 1]);
    QTest::keyClick(memo, Qt::Key_Up);
    EXPECT_EQ(LineAt(memo->textCursor()), shown[lastOfFirstBlock]);
    QTest::keyClick(memo, Qt::Key_PageDown);
    EXPECT_GT(shown.indexOf(LineAt(memo->textCursor())), lastOfFirstBlock + 1);
    EXPECT_TRUE(memo->viewport()->rect().contains(memo->cursorRect().center()));

    // A screen reader reads it line by line.
    QAccessibleTextInterface* const reader = QAccessible::queryAccessibleInterface(memo)->textInterface();
    int start = 0, end = 0;
    const int inLine = LineStart(document, lastOfFirstBlock - 1).position() + 2;
    EXPECT_EQ(reader->textAtOffset(inLine, QAccessible::LineBoundary, &start, &end),
              shown[lastOfFirstBlock - 1]);

    // A selection over the end of a block copies as lines, and pastes back as the same lines.
    memo->setTextCursor(LineStart(document, lastOfFirstBlock - 1));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(memo, Qt::Key_Down, Qt::ShiftModifier);
    memo->copy();
    const QString copied = shown.mid(lastOfFirstBlock - 1, 3).join(u'\n') + u'\n';
    EXPECT_EQ(QApplication::clipboard()->text(), copied);
    memo->moveCursor(QTextCursor::End);
    QTest::keyClick(memo, Qt::Key_Return);
    memo->paste();
    EXPECT_EQ(MemoLines(memo), shown + shown.mid(lastOfFirstBlock - 1, 3) + QStringList{QString()});
}

// What a screen reader reads of the memo is what Qt's own interface reads of a plain memo that
// holds the same text a block a line, although the listing memo keeps many lines in one block.
TEST_F(CatalogueViewTest, AScreenReaderReadsTheListingAsAPlainMemoWithABlockALine) {
    QString listing;
    for (qsizetype i = 1; i <= 2 * kListingLinesPerBlock + 10; ++i)
        listing += QStringLiteral("%1 新闻 First words. Then more\r\n").arg(i, 4, 10, QChar(u'0'));
    WriteDataFile(QStringLiteral("央视频道/01.txt"), EncodeGbk(listing));
    TForm1& window = Start();
    window.show();
    SelectChannel(window, 0);
    QPlainTextEdit* const memo = window.TVListBox;
    ASSERT_LT(memo->document()->blockCount(), memo->document()->lineCount());

    QPlainTextEdit plain;
    plain.setLineWrapMode(QPlainTextEdit::NoWrap);
    plain.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    plain.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    plain.setFont(memo->font());
    plain.resize(memo->size());
    plain.setPlainText(memo->toPlainText());
    plain.show();
    ASSERT_EQ(plain.document()->blockCount(), memo->document()->lineCount());
    const int scrolled = static_cast<int>(kListingLinesPerBlock) + 3;
    memo->verticalScrollBar()->setValue(scrolled);
    plain.verticalScrollBar()->setValue(scrolled);

    QAccessibleInterface* const ours = QAccessible::queryAccessibleInterface(memo);
    QAccessibleInterface* const qts = QAccessible::queryAccessibleInterface(&plain);
    QAccessibleTextInterface* const reader = ours->textInterface();
    QAccessibleTextInterface* const expected = qts->textInterface();
    ASSERT_TRUE(reader && expected && ours->editableTextInterface());
    EXPECT_EQ(ours->role(), qts->role());
    EXPECT_EQ(ours->text(QAccessible::Value), qts->text(QAccessible::Value));
    EXPECT_EQ(ours->state().editable, qts->state().editable);
    EXPECT_EQ(ours->state().multiLine, qts->state().multiLine);
    EXPECT_EQ(ours->state().selectableText, qts->state().selectableText);
    const int count = expected->characterCount();
    ASSERT_EQ(reader->characterCount(), count);
    EXPECT_EQ(reader->text(0, count), expected->text(0, count));

    const auto lineStart = [&](int line) { return plain.document()->findBlockByNumber(line).position(); };
    const int lastOfBlock = static_cast<int>(kListingLinesPerBlock);
    // Line starts and ends on both sides of a block boundary, inside words and sentences, the end.
    const QList<int> offsets = {0,
                                5,
                                lineStart(lastOfBlock) - 1,
                                lineStart(lastOfBlock),
                                lineStart(lastOfBlock) + 3,
                                lineStart(lastOfBlock + 1) - 1,
                                lineStart(lastOfBlock + 1),
                                lineStart(lastOfBlock + 1) + 13,
                                lineStart(lastOfBlock + 1) + 20,
                                lineStart(scrolled + 2) + 7,
                                count - 2,
                                count};
    const QList<QAccessible::TextBoundaryType> boundaries = {
        QAccessible::CharBoundary,      QAccessible::WordBoundary, QAccessible::SentenceBoundary,
        QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary};
    using Query = QString (QAccessibleTextInterface::*)(int, QAccessible::TextBoundaryType, int*, int*) const;
    const QList<std::pair<const char*, Query>> queries = {
        {"before", &QAccessibleTextInterface::textBeforeOffset},
        {"at", &QAccessibleTextInterface::textAtOffset},
        {"after", &QAccessibleTextInterface::textAfterOffset}};
    for (const int offset : offsets) {
        for (const QAccessible::TextBoundaryType boundary : boundaries) {
            for (const auto& [name, query] : queries) {
                SCOPED_TRACE(testing::Message() << name << " offset " << offset << " boundary " << boundary);
                int start = -9, end = -9, expectedStart = -9, expectedEnd = -9;
                EXPECT_EQ((reader->*query)(offset, boundary, &start, &end),
                          (expected->*query)(offset, boundary, &expectedStart, &expectedEnd));
                EXPECT_EQ(start, expectedStart);
                EXPECT_EQ(end, expectedEnd);
            }
        }
        SCOPED_TRACE(testing::Message() << "offset " << offset);
        int start = -9, end = -9, expectedStart = -9, expectedEnd = -9;
        EXPECT_EQ(reader->attributes(offset, &start, &end),
                  expected->attributes(offset, &expectedStart, &expectedEnd));
        EXPECT_EQ(start, expectedStart);
        EXPECT_EQ(end, expectedEnd);
    }

    // Places on the screen are where the memo draws the character, also within a block.
    const QRect screen(memo->viewport()->mapToGlobal(QPoint(0, 0)), memo->viewport()->size());
    for (const int line : {scrolled, scrolled + 2}) {
        SCOPED_TRACE(testing::Message() << "line " << line);
        const int offset = lineStart(line) + 7;
        QTextCursor cursor(memo->document());
        cursor.setPosition(offset);
        const QRect place = reader->characterRect(offset);
        EXPECT_EQ(place.topLeft(), memo->viewport()->mapToGlobal(memo->cursorRect(cursor).topLeft()));
        EXPECT_GT(place.width(), 0);
        EXPECT_TRUE(screen.contains(place));
        EXPECT_EQ(reader->offsetAtPoint(place.center() - QPoint(place.width() / 4, 0)), offset);
    }
    EXPECT_EQ(reader->offsetAtPoint(screen.bottomRight() + QPoint(1, 1)), -1);

    // Selections and edits through the screen reader land where they land in the plain memo.
    for (QAccessibleInterface* side : {ours, qts}) {
        side->textInterface()->setSelection(0, lineStart(lastOfBlock) - 4, lineStart(lastOfBlock + 2));
        side->editableTextInterface()->replaceText(lineStart(lastOfBlock + 1) + 5,
                                                   lineStart(lastOfBlock + 1) + 7, QStringLiteral("体育"));
        side->editableTextInterface()->insertText(lineStart(lastOfBlock) - 1, QStringLiteral("!"));
    }
    int start = -9, end = -9, expectedStart = -9, expectedEnd = -9;
    reader->selection(0, &start, &end);
    expected->selection(0, &expectedStart, &expectedEnd);
    EXPECT_EQ(std::pair(start, end), std::pair(expectedStart, expectedEnd));
    EXPECT_EQ(reader->text(start, end), expected->text(expectedStart, expectedEnd));
    EXPECT_EQ(memo->toPlainText(), plain.toPlainText());
}

TEST_F(CatalogueViewTest, AListingOverTheSizeLimitLeavesTheMemoAsItWas) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "first\n");
    WriteDataFile(QStringLiteral("央视频道/02.txt"), "second\n");
    TForm1& window = Start();
    window.show();
    ASSERT_EQ(window.TVList->count(), 2);
    const int hugeRow = window.TVFilepathList->itemText(0).endsWith(u"02.txt") ? 0 : 1;
    // Sparse: the file claims the size without taking the room.
    ASSERT_EQ(::truncate(QFile::encodeName(window.TVFilepathList->itemText(hugeRow)).constData(),
                         kListingSizeLimit + 1),
              0);
    SelectChannel(window, 1 - hugeRow);
    const QString shown = window.TVListBox->toPlainText();
    ASSERT_TRUE(shown.endsWith(u"first"));
    SelectChannel(window, hugeRow);
    EXPECT_EQ(window.TVList->currentRow(), hugeRow);
    EXPECT_EQ(window.TVListBox->toPlainText(), shown);
}

TEST_F(CatalogueViewTest, EveryRowOfTheListsFitsItsTextAndSpansTheList) {
    // Rows are not measured one by one; the one row size must still hold Latin and Chinese names.
    WriteDataFile(QStringLiteral("央视频道/Beijing.txt"), "x");
    WriteDataFile(QStringLiteral("央视频道/04(亚洲).txt"), "x");
    WriteDataFile(QStringLiteral("央视频道/gjgjgjgjgjgjgjgjgjgjgjgjgjgjgjgjgj.txt"), "x");
    TForm1& window = Start();
    window.show();
    for (TListBox* list : {window.TVList, window.TVFilepathList}) {
        SCOPED_TRACE(list->objectName().toStdString());
        ASSERT_EQ(list->count(), 3);
        for (int row = 0; row < list->count(); ++row) {
            const QRect place = list->visualItemRect(row);
            const QFontMetrics metrics(list->font());
            EXPECT_GE(place.height(), metrics.boundingRect(list->itemText(row)).height());
            EXPECT_GE(place.width(), list->viewport()->width());
        }
        EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0) << "no sideways scrolling, as in a list box";
    }
}

TEST_F(CatalogueViewTest, AScreenReaderFindsEveryEntryOfTheThreeListsWithItsText) {
    // The texts live in a model, not in items: the accessibility tree must still hold each entry.
    // (Without a screen reader running, Qt tells the tree of no later change, so it is read once.)
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "x");
    WriteDataFile(QStringLiteral("央视频道/sub/anhui卫视.txt"), "x");
    WriteDataFile(QStringLiteral("top.txt"), "x");
    TForm1& window = Start();
    window.show();
    window.ComboBox_Class->setCurrentIndex(0); // a rescan of every class
    for (TListBox* list : {window.TVList, window.TVFilepathList, window.filepathList}) {
        SCOPED_TRACE(list->objectName().toStdString());
        QAccessibleInterface* const accessible = QAccessible::queryAccessibleInterface(list);
        EXPECT_EQ(accessible->role(), QAccessible::List);
        QStringList entries;
        for (int i = 0; i < accessible->childCount(); ++i)
            if (accessible->child(i)->role() == QAccessible::ListItem)
                entries << accessible->child(i)->text(QAccessible::Name);
        ASSERT_GT(list->count(), 0);
        EXPECT_EQ(entries, list->itemTexts());
    }
    EXPECT_EQ(window.TVList->itemTexts(), (QStringList{"top", "ZORQ-1 中央", "卫视"}));
}

TEST_F(CatalogueViewTest, OnlyASelectionShowsAListingNotTheFocusNorOtherButtons) {
    WriteDataFile(QStringLiteral("央视频道/01.txt"), "first\n");
    WriteDataFile(QStringLiteral("央视频道/02.txt"), "second\n");
    TForm1& window = Start();
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.LoadData->click();
    ASSERT_EQ(window.TVList->count(), 2);

    // Tab from the page's tabs into the list: Qt makes the first row current, but selects nothing.
    window.PageControl1->tabBar()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(window.PageControl1->tabBar(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), window.TVList);
    EXPECT_EQ(window.TVList->currentRow(), 0);
    EXPECT_TRUE(window.TVListBox->toPlainText().isEmpty());

    const QPoint second = window.TVList->visualItemRect(1).center();
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mouseClick(window.TVList->viewport(), button, {}, second);
        EXPECT_TRUE(window.TVListBox->toPlainText().isEmpty()) << button;
        EXPECT_EQ(window.TVList->selectedRow(), -1) << button;
    }
    SelectChannel(window, 1);
    EXPECT_TRUE(window.TVListBox->toPlainText().endsWith(u"second"));
}

} // namespace
