// The window's catalogue handlers: the rescan and the schedule view.
#include "ui/Unit1.h"

#include "catalogue/CatalogueClasses.h"
#include "catalogue/CatalogueWalk.h"
#include "catalogue/FeedListingIndex.h"
#include "catalogue/ListingFile.h"
#include "platform/Exception.h"
#include "platform/Logging.h"

#include <QCoreApplication>
#include <QSignalBlocker>
#include <QTextBlock>

namespace {

// Puts what the walk finds into the window's three lists in batches of some hundred entries: one
// insertion per list and batch (entry by entry, the lists, not the walk, would be the slow part of a
// large scan), made while the batch's texts are still in the processor's cache.
class CatalogueLists final : public CatalogueSink {
public:
    explicit CatalogueLists(TForm1& form) : form_(form) {}

    void FolderFound(const QString& folderPathWithSlash) override {
        batch_.folders.append(folderPathWithSlash);
    }
    void ListingFound(const QString& filePath, const QString& displayName) override {
        batch_.listingPaths.append(filePath);
        batch_.displayNames.append(displayName);
        if (batch_.listingPaths.size() >= kBatchSize)
            Flush();
    }
    void Flush() {
        form_.filepathList->addItems(batch_.folders);
        form_.TVFilepathList->addItems(batch_.listingPaths);
        form_.TVList->addItems(batch_.displayNames);
        // Emptied, not freed: the next batch reuses the room.
        batch_.folders.clear();
        batch_.listingPaths.clear();
        batch_.displayNames.clear();
    }

private:
    static constexpr qsizetype kBatchSize = 512;
    TForm1& form_;
    CatalogueEntries batch_;
};

} // namespace

void ScanCatalogue(const QString& folder) {
    CatalogueLists lists(*Form1);
    // Listings that feeds gave go by their channels' own names.
    const FeedListingNames feedNames = FeedListingNames::Load(DataFolder());
    try {
        WalkCatalogue(folder, lists, WalkScope::FollowLinks, &feedNames);
    } catch (...) {
        lists.Flush(); // the lists keep what was found before the failure
        throw;
    }
    lists.Flush();
    // The count goes to the panel alone; it is not echoed into the memo.
    Form1->SBPanel0->setText(QStringLiteral("共") + QString::number(Form1->TVList->count()) +
                             QStringLiteral("个频道 ") + WelcomeLine());
}

void TForm1::LoadDataClick() {
    TVListBox->clear();
    TVList->clear();
    filepathList->clear();
    TVFilepathList->clear();
    const int generation = ++scanGeneration_;
    try {
        QCoreApplication::processEvents();
        // A rescan that ran to its end during the pump above has left the lists complete and for the
        // class now selected; walking again here would add a second scan's entries to them.
        if (generation != scanGeneration_)
            return;
        ScanCatalogue(ClassFolder(DataFolder(), ComboBox_Class->currentText()));
    } catch (...) {
        // The lists keep what was added; the status text stays as it was.
        qCWarning(lcCatalogue).noquote() << "catalogue scan stopped:" << CurrentExceptionMessage();
    }
    // Every scan (an update ends with one) shows on the on-air page when it is up.
    if (OnAirPage->isVisible())
        OnAirPage->Refresh();
    if (gridPage_ != nullptr && gridPage_->IsShown())
        gridPage_->Model->Refresh();
}

void TForm1::ComboBox_ClassChange() {
    LoadData->click();
}

void TForm1::TVListClick() {
    try {
        // The selection, not the current row: Qt makes a row current on focus-in without selecting it.
        const int index = TVList->selectedRow();
        if (index < 0 || index >= TVFilepathList->count())
            throw Exception(QStringLiteral("List index out of bounds (%1)").arg(index));
        const QString title = QStringLiteral("【") + TVList->itemText(index) + QStringLiteral("】");
        const QString text = ListingWithTitle(title, LoadListingText(TVFilepathList->itemText(index)));
        // Only now, with the whole file read, is the memo touched.
        ListingMemo->Show(text);
        ListingMark->Show(text);
    } catch (...) {
        // A listing that cannot be read leaves the memo as it was.
        qCWarning(lcCatalogue).noquote() << "listing not shown:" << CurrentExceptionMessage();
    }
}

void TForm1::OpenChannel(const QString& listingPath, const QString& className) {
    PageControl1->setCurrentIndex(0);
    if (ComboBox_Class->currentText() != className)
        ComboBox_Class->setCurrentText(className); // the change rescans
    int row = -1;
    const auto findRow = [&] {
        row = static_cast<int>(TVFilepathList->itemTexts().indexOf(listingPath));
        return row >= 0;
    };
    // The lists may predate the file (an update since the last scan of this class).
    if (!findRow()) {
        LoadData->click();
        if (!findRow())
            return;
    }
    {
        // The listing is loaded once, below, whether or not the list has the focus.
        const QSignalBlocker quiet(TVList);
        TVList->setCurrentRow(row);
    }
    TVList->scrollToItem(row);
    TVListClick();
}

void TForm1::OpenProgramme(const ChosenProgramme& programme) {
    OpenChannel(programme.listingPath, programme.className);
    raise();
    activateWindow();
    // The listing's title line comes first in the memo.
    QTextCursor cursor = LineStart(TVListBox->document(), programme.line + 1);
    if (programme.line < 0 || cursor.isNull())
        return;
    const QTextBlock block = cursor.block();
    const QString text = block.text();
    const qsizetype from = cursor.position() - block.position();
    qsizetype to = text.indexOf(QChar::LineSeparator, from);
    if (to < 0)
        to = text.size();
    // The file may have changed since the grid read it.
    if (!QStringView(text).sliced(from, to - from).contains(programme.title))
        return;
    cursor.setPosition(block.position() + static_cast<int>(to), QTextCursor::KeepAnchor);
    TVListBox->setTextCursor(cursor);
    TVListBox->ensureCursorVisible();
}
