// The window's catalogue handlers: the rescan and the schedule view.
#include "ui/Unit1.h"

#include "catalogue/CatalogueWalk.h"
#include "catalogue/ListingFile.h"
#include "platform/AppPaths.h"
#include "platform/Exception.h"

#include <QCoreApplication>

namespace {

// Collects the entries of a walk, path and display name in the same step so they stay
// index-aligned, and hands them to the window's lists in one go: adding them one by one would make
// the lists, not the walk, the slow part of a large scan.
class WindowListsSink final : public CatalogueSink {
public:
    void FolderFound(const QString& folderPath) override { folders_ << folderPath; }
    void ListingFound(const QString& filePath, const QString& displayName) override {
        paths_ << filePath;
        names_ << displayName;
    }

    void AppendTo(TForm1& form) const {
        form.filepathList->addItems(folders_);
        form.TVFilepathList->addItems(paths_);
        form.TVList->addItems(names_);
    }

private:
    QStringList folders_;
    QStringList paths_;
    QStringList names_;
};

} // namespace

void ScanCatalogue(const QString& folder) {
    WindowListsSink sink;
    try {
        WalkCatalogue(folder, sink);
    } catch (...) {
        sink.AppendTo(*Form1); // the lists keep what was found before the failure
        throw;
    }
    sink.AppendTo(*Form1);
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
        const QString selectedClass = ComboBox_Class->currentText();
        ScanCatalogue(selectedClass == u"所有频道" ? DataFolder() : DataFolder() + selectedClass);
    } catch (...) {
        // The lists keep what was added; the status text stays as it was.
    }
}

void TForm1::ComboBox_ClassChange() {
    LoadData->click();
}

void TForm1::TVListClick() {
    try {
        const int index = TVList->currentRow();
        if (index < 0 || index >= TVFilepathList->count())
            throw Exception(QStringLiteral("List index out of bounds (%1)").arg(index));
        QStringList lines = LoadListingLines(TVFilepathList->item(index)->text());
        // Only now, with the whole file read, is the memo touched.
        lines.prepend(QStringLiteral("【") + TVList->item(index)->text() + QStringLiteral("】"));
        TVListBox->setPlainText(lines.join(u'\n'));
    } catch (...) {
        // A listing that cannot be read leaves the memo as it was.
    }
}
