#include "archive/Unit_sevenzip.h"
#include "platform/AbortRequest.h"
#include "platform/Exception.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/ZipWriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace {

// The extraction step as the update runs it.
void ExtractPackage(const QString& package, const QString& folder) {
    I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    archive->OpenArchiveFile(package);
    archive->ExtractIntoFolder(folder);
}

bool Holds(const QStringList& targets, const QString& path) {
    return std::any_of(targets.begin(), targets.end(), [&](const QString& t) { return t == path; });
}

// A stream per item, kept in memory; the indices in the order the library asked for them.
struct Collector {
    std::vector<uint32_t> indices;
    std::map<uint32_t, std::unique_ptr<TMemoryStream>> streams;

    static HRESULT Supply(void* sender, uint32_t index, ISequentialOutStream** outStream) {
        auto* self = static_cast<Collector*>(sender);
        self->indices.push_back(index);
        auto& stream = self->streams[index] = std::make_unique<TMemoryStream>();
        *outStream =
            TComPtr<ISequentialOutStream>(static_cast<IOutStream*>(new T7zStream(stream.get(), soReference)))
                .Detach();
        return S_OK;
    }
    QByteArray Bytes(uint32_t index) const {
        const auto it = streams.find(index);
        return it == streams.end() ? QByteArray("<none>") : it->second->Bytes();
    }
};

} // namespace

TEST(ExtractIntoFolder, WritesFileItemsUnderTheirPathsAndNothingElse) {
    const struct Case {
        const char* what;
        std::function<void(ZipWriter&)> build;
        QStringList before; // files present before, each with the content "old content that is longer"
        bool folderWithDelimiter;
        QStringList tree;
    } cases[] = {
        {"nested path without directory entries",
         [](ZipWriter& z) { z.AddFile(QByteArray("a/b/c.txt"), "abc"); },
         {},
         true,
         {"a/", "a/b/", "a/b/c.txt"}},
        {"folder given without its delimiter",
         [](ZipWriter& z) { z.AddFile(QByteArray("a/b/c.txt"), "abc"); },
         {},
         false,
         {"a/", "a/b/", "a/b/c.txt"}},
        {"directory entry creates no folder",
         [](ZipWriter& z) {
             z.AddDirectory("emptydir");
             z.AddDirectory("d");
             z.AddFile(QByteArray("d/c.txt"), "abc");
         },
         {},
         true,
         {"d/", "d/c.txt"}},
        {"shorter item replaces an existing file; files not in the package stay",
         [](ZipWriter& z) { z.AddFile(QByteArray("a/b/c.txt"), "abc"); },
         {"a/b/c.txt", "old.txt"},
         true,
         {"a/", "a/b/", "a/b/c.txt", "old.txt"}},
        {"empty archive", [](ZipWriter&) {}, {"old.txt"}, true, {"old.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LibraryWorkingFolder folder;
        ZipWriter zip;
        c.build(zip);
        ASSERT_TRUE(zip.WriteTo(folder.Path("package.zip")));
        const QString data = folder.Path("data");
        ASSERT_TRUE(QDir().mkpath(data));
        for (const QString& name : c.before) {
            QDir(data).mkpath(QFileInfo(name).path());
            WriteWholeFile(data + "/" + name, "old content that is longer");
        }
        // A second run over the same package gives the same result.
        for (int run = 0; run < 2; ++run) {
            ExtractPackage(folder.Path("package.zip"), c.folderWithDelimiter ? data + "/" : data);
            EXPECT_EQ(TreeBelow(data), c.tree);
            for (const QString& file : c.tree) {
                if (file.endsWith("c.txt")) {
                    EXPECT_EQ(ReadAll(data + "/" + file), "abc");
                }
            }
        }
        if (!c.before.isEmpty()) {
            EXPECT_EQ(ReadAll(data + "/old.txt"), "old content that is longer");
        }
    }
}

namespace {

// The temporary files below the folder: what a write left behind.
QStringList LeftoverTemporaryFiles(const QString& folder) {
    return TreeBelow(folder).filter(QStringLiteral(".part"));
}

} // namespace

TEST(ExtractIntoFolder, AnItemThatIsNotWholeLeavesTheOldFileAndLaterItemsStillArrive) {
    const struct Case {
        const char* what;
        std::function<QByteArray()> package; // holds "01.txt" (new), "02.txt" (the fault), maybe "03.txt"
        bool laterItem;
    } cases[] = {
        {"checksum does not match",
         [] {
             ZipWriter zip;
             zip.AddFile(QByteArray("01.txt"), "new 1");
             zip.CorruptCrc(zip.AddFile(QByteArray("02.txt"), "new 2 twenty bytes",
                                        {ZipWriter::Method::Stored, false, {}}));
             zip.AddFile(QByteArray("03.txt"), "new 3");
             return zip.Bytes();
         },
         true},
        {"a data byte flipped",
         [] {
             ZipWriter zip;
             zip.AddFile(QByteArray("01.txt"), "new 1");
             zip.CorruptData(zip.AddFile(QByteArray("02.txt"), QByteArray(5000, 'z')));
             zip.AddFile(QByteArray("03.txt"), "new 3");
             return zip.Bytes();
         },
         true},
        {"encrypted, and no password known",
         [] {
             ZipWriter zip;
             zip.AddFile(QByteArray("01.txt"), "new 1");
             zip.AddFile(QByteArray("02.txt"), "new 2 secret", {ZipWriter::Method::Deflate, false, "secret"});
             zip.AddFile(QByteArray("03.txt"), "new 3");
             return zip.Bytes();
         },
         true},
        {"package cut short inside the item",
         [] {
             ZipWriter zip;
             zip.AddFile(QByteArray("01.txt"), "new 1");
             zip.AddFile(QByteArray("02.txt"), QByteArray(3000, 'n'), {ZipWriter::Method::Stored, false, {}});
             const QByteArray whole = zip.Bytes();
             return whole.left(whole.indexOf(QByteArray(3000, 'n')) + 1000);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LibraryWorkingFolder folder;
        WriteWholeFile(folder.Path("package.zip"), c.package());
        const QString data = folder.Path("data");
        ASSERT_TRUE(QDir().mkpath(data));
        for (const char* name : {"01.txt", "02.txt", "03.txt"})
            WriteWholeFile(data + "/" + name, "old listing");

        ExtractPackage(folder.Path("package.zip"), data);
        EXPECT_EQ(ReadAll(data + "/01.txt"), "new 1");
        EXPECT_EQ(ReadAll(data + "/02.txt"), "old listing");
        EXPECT_EQ(ReadAll(data + "/03.txt"), c.laterItem ? "new 3" : "old listing");
        EXPECT_EQ(LeftoverTemporaryFiles(data), QStringList());
    }
}

// The library opens a damaged or cut-short Zip all the same, and unpacks what it finds; the update
// must still learn that the package did not come through whole.
TEST(ExtractIntoFolder, TellsWhetherEveryItemCameThroughAndWhetherThePackageWasCutShort) {
    ZipWriter zip;
    zip.AddFile(QByteArray("01.txt"), QByteArray(3000, 'a'));
    zip.AddFile(QByteArray("02.txt"), QByteArray(3000, 'b'), {ZipWriter::Method::Stored, false, {}});
    zip.AddFile(QByteArray("03.txt"), QByteArray(3000, 'c'));
    const QByteArray whole = zip.Bytes();
    ZipWriter damaged;
    damaged.AddFile(QByteArray("01.txt"), "new 1");
    damaged.CorruptCrc(damaged.AddFile(QByteArray("02.txt"), "new 2"));
    const struct Case {
        const char* what;
        QByteArray package;
        std::function<void(const QString& data)> arrange;
        uint32_t fileItems, itemsWritten;
        bool cutShort;
    } cases[] = {
        {"a whole package", whole, nullptr, 3, 3, false},
        {"an item whose checksum does not match", damaged.Bytes(), nullptr, 2, 1, false},
        {"an item whose name a folder has taken", whole,
         [](const QString& d) { QDir().mkpath(d + "/02.txt"); }, 3, 2, false},
        {"cut inside the first item", whole.left(40), nullptr, 1, 0, true},
        {"cut inside the stored item", whole.left(whole.indexOf(QByteArray(3000, 'b')) + 10), nullptr, 2, 1,
         true},
        {"cut in the central directory", whole.left(whole.size() - 60), nullptr, 3, 3, true},
        {"the last byte missing", whole.left(whole.size() - 1), nullptr, 3, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LibraryWorkingFolder folder;
        WriteWholeFile(folder.Path("package.zip"), c.package);
        const QString data = folder.Path("data");
        ASSERT_TRUE(QDir().mkpath(data));
        if (c.arrange)
            c.arrange(data);
        const I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
        archive->OpenArchiveFile(folder.Path("package.zip"));
        EXPECT_EQ(archive->ArchiveErrors() == kArchiveUnexpectedEnd, c.cutShort) << archive->ArchiveErrors();
        archive->ExtractIntoFolder(data);
        const TExtractionOutcome outcome = archive->LastExtraction();
        EXPECT_EQ(outcome.FileItems, c.fileItems);
        EXPECT_EQ(outcome.ItemsWritten, c.itemsWritten);
        EXPECT_EQ((outcome.ArchiveErrors & kArchiveUnexpectedEnd) != 0, c.cutShort);
        EXPECT_EQ(outcome.Whole(), c.itemsWritten == c.fileItems && !c.cutShort);
    }
}

TEST(ExtractIntoFolder, SkipsAnItemWhoseNameCannotBeMadeAndGoesOn) {
    const LibraryWorkingFolder folder;
    const QByteArray longName = QByteArray(252, 'n') + ".txt"; // 256 bytes: one more than a name may have
    ZipWriter zip;
    zip.AddFile(QByteArray("first.txt"), "first");
    zip.AddFile(QByteArray("taken.txt"), "a folder has this name");
    zip.AddFile(QByteArray("plain/below.txt"), "a file stands where the folder goes");
    zip.AddFile(longName, "name too long");
    zip.AddFile(QByteArray("later.txt"), "later");
    ASSERT_TRUE(zip.WriteTo(folder.Path("package.zip")));
    const QString data = folder.Path("data");
    ASSERT_TRUE(QDir().mkpath(data + "/taken.txt"));
    WriteWholeFile(data + "/plain", "plain file");

    ExtractPackage(folder.Path("package.zip"), data);
    EXPECT_EQ(TreeBelow(data), (QStringList{"first.txt", "later.txt", "plain", "taken.txt/"}));
    EXPECT_EQ(ReadAll(data + "/later.txt"), "later");
    EXPECT_EQ(ReadAll(data + "/plain"), "plain file");
}

namespace {

// Extracts with the given bounds; pumps are counted, and the pump may run an action.
struct BoundedExtraction {
    TExtractionLimits limits;
    int pumps = 0;
    std::function<void()> onPump;

    QString Run(const QString& package, const QString& folder) {
        return MessageOf([&] {
            I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
            archive->SetExtractionLimits(limits);
            archive->InstallPump(this, [](void* sender) {
                auto* self = static_cast<BoundedExtraction*>(sender);
                ++self->pumps;
                if (self->onPump)
                    self->onPump();
            });
            archive->OpenArchiveFile(package);
            archive->ExtractIntoFolder(folder);
        });
    }
};

} // namespace

TEST(ExtractionBounds, AnItemOverItsBoundIsSkippedAndTheTotalOrFreeSpaceEndsTheExtraction) {
    const std::map<QString, QByteArray> content = {{"01.txt", QByteArray(2000, 'a')},
                                                   {"02.txt", QByteArray(3000, 'b')},
                                                   {"03.txt", QByteArray(2000, 'c')}};
    const struct Case {
        const char* what;
        uint64_t itemBytes, totalBytes, freeSpace;
        QString message;
        QStringList newFiles; // the others keep their old content
    } cases[] = {
        {"within every bound", 3000, 7000, 1 << 30, "<no error>", {"01.txt", "02.txt", "03.txt"}},
        {"item over its bound", 2999, 7000, 1 << 30, "<no error>", {"01.txt", "03.txt"}},
        {"total bound reached",
         3000,
         6999,
         1 << 30,
         "The package would write more than 6999 bytes",
         {"01.txt", "02.txt"}},
        {"free space would drop below the reserve",
         3000,
         7000,
         1000 + 4999,
         "Fewer than 1000 bytes would be left free in \"%1/\"",
         {"01.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LibraryWorkingFolder folder;
        ZipWriter zip;
        for (const auto& [name, bytes] : content)
            zip.AddFile(name.toUtf8(), bytes);
        ASSERT_TRUE(zip.WriteTo(folder.Path("package.zip")));
        const QString data = folder.Path("data");
        ASSERT_TRUE(QDir().mkpath(data));
        for (const auto& item : content)
            WriteWholeFile(data + "/" + item.first, "old listing");

        BoundedExtraction extraction;
        extraction.limits.ItemBytes = c.itemBytes;
        extraction.limits.TotalBytes = c.totalBytes;
        extraction.limits.FreeSpaceReserve = 1000;
        // The file system fills as the extraction writes.
        const uint64_t freeAtStart = c.freeSpace;
        extraction.limits.FreeSpace = [&, freeAtStart](int) {
            uint64_t written = 0;
            for (const QString& file : QDir(data).entryList(QDir::Files | QDir::Hidden))
                if (ReadAll(data + "/" + file) != "old listing")
                    written += QFileInfo(data + "/" + file).size();
            return freeAtStart - written;
        };
        const QString message = c.message.contains("%1") ? c.message.arg(data) : c.message;
        EXPECT_EQ(extraction.Run(folder.Path("package.zip"), data), message);
        for (const auto& [name, bytes] : content)
            EXPECT_EQ(ReadAll(data + "/" + name), c.newFiles.contains(name) ? bytes : "old listing")
                << name.toStdString();
        EXPECT_EQ(LeftoverTemporaryFiles(data), QStringList());
    }
}

TEST(ExtractionPumping, PumpsAtItemBoundariesAndWhileWritingAndGivesUpOnAnAbortRequest) {
    const LibraryWorkingFolder folder;
    ZipWriter zip;
    for (const char* name : {"01.txt", "02.txt", "03.txt"})
        zip.AddFile(QByteArray(name), QByteArray(2'000'000, 'p'));
    ASSERT_TRUE(zip.WriteTo(folder.Path("package.zip")));
    const QString data = folder.Path("data");

    // With a long interval only the item boundaries pump: before and after each item.
    BoundedExtraction boundaries;
    boundaries.limits.PumpInterval = std::chrono::hours(1);
    EXPECT_EQ(boundaries.Run(folder.Path("package.zip"), data + "1"), "<no error>");
    EXPECT_EQ(boundaries.pumps, 6);
    // With none, every write of an item's data pumps too.
    BoundedExtraction writes;
    writes.limits.PumpInterval = std::chrono::milliseconds(0);
    EXPECT_EQ(writes.Run(folder.Path("package.zip"), data + "2"), "<no error>");
    EXPECT_GT(writes.pumps, 6);

    // An abort requested from a pump (the session ends) while "02.txt" is written stops at that
    // pump point: the item leaves no file, the old listings stay.
    ASSERT_TRUE(QDir().mkpath(data));
    for (const char* name : {"01.txt", "02.txt", "03.txt"})
        WriteWholeFile(data + "/" + name, "old listing");
    BoundedExtraction aborted;
    aborted.limits.PumpInterval = std::chrono::milliseconds(0);
    int pumpsAfterAbort = -1;
    aborted.onPump = [&] {
        if (AbortRequested())
            ++pumpsAfterAbort;
        else if (QFileInfo(data + "/01.txt").size() > 1000 && !LeftoverTemporaryFiles(data).isEmpty())
            RequestAbort();
    };
    EXPECT_EQ(aborted.Run(folder.Path("package.zip"), data), "Operation aborted");
    const bool requested = AbortRequested();
    ClearAbortRequest();
    EXPECT_TRUE(requested);
    EXPECT_EQ(pumpsAfterAbort, -1) << "nothing pumps after the abort";
    EXPECT_EQ(ReadAll(data + "/01.txt"), QByteArray(2'000'000, 'p'));
    EXPECT_EQ(ReadAll(data + "/02.txt"), "old listing");
    EXPECT_EQ(ReadAll(data + "/03.txt"), "old listing");
    EXPECT_EQ(LeftoverTemporaryFiles(data), QStringList());
}

TEST(ExtractIntoFolder, LeavesNoDescriptorOrMappingBehindOnceTheObjectIsGone) {
    const struct {
        const char* what;
        QByteArray package; // empty: no package file at all
        QString message;
    } cases[] = {
        {"good package",
         [] {
             ZipWriter zip;
             zip.AddFile(QByteArray("a.txt"), "a");
             return zip.Bytes();
         }(),
         "<no error>"},
        {"not a Zip archive", "just some text, no archive", "Incorrect function"},
        {"missing package", {}, "Cannot open file \"%1\". No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const LibraryWorkingFolder folder;
        const QString package = folder.Path("package.zip");
        if (!c.package.isEmpty())
            WriteWholeFile(package, c.package);
        I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
        EXPECT_EQ(MessageOf([&] {
                      archive->OpenArchiveFile(package);
                      // The handler keeps the package open until the object goes.
                      EXPECT_TRUE(Holds(OpenFileTargets(), package));
                      archive->ExtractIntoFolder(folder.Path("data"));
                  }),
                  c.message.arg(package));
        EXPECT_EQ(QFile::exists(folder.Path("data/a.txt")), c.message == "<no error>");
        if (c.message != "<no error>") {
            EXPECT_FALSE(QFile::exists(folder.Path("data")));
        }
        EXPECT_TRUE(IsMapped(folder.Path("7z.dll")));
        archive.Reset();
        const QStringList targets = OpenFileTargets();
        EXPECT_FALSE(Holds(targets, package));
        EXPECT_FALSE(Holds(targets, folder.Path("7z.dll")));
        EXPECT_FALSE(Holds(targets, folder.Path("data")));
        EXPECT_FALSE(IsMapped(folder.Path("7z.dll")));
    }
}

TEST(ExtractIntoFolder, NeverWritesOutsideTheTargetFolder) {
    const LibraryWorkingFolder folder;
    const QTemporaryDir outside;
    ASSERT_TRUE(outside.isValid());
    const QString data = folder.Path("data");
    ASSERT_TRUE(QDir().mkpath(data));
    ASSERT_TRUE(QFile::link(outside.path(), data + "/link"));
    WriteWholeFile(outside.filePath("victim.txt"), "keep");
    ASSERT_TRUE(QFile::link(outside.filePath("victim.txt"), data + "/victim.txt"));

    ZipWriter zip;
    const QByteArray hostile[] = {
        QFile::encodeName(outside.filePath("absolute.txt")),
        "../escape.txt",
        "sub/../../escape.txt",
        "..\\escape-backslash.txt",
        "link/through-link.txt",
        "victim.txt",
    };
    for (const QByteArray& name : hostile)
        zip.AddFile(name, "hostile");
    zip.AddFile(QByteArray("good/ok.txt"), "fine");
    zip.AddFile(QByteArray("dos\\style.txt"), "fine too");
    ASSERT_TRUE(zip.WriteTo(folder.Path("package.zip")));
    const QStringList workingBefore = TreeBelow(folder.Path());

    I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    archive->OpenArchiveFile(folder.Path("package.zip"));
    EXPECT_EQ(archive->ItemPath(1), "../escape.txt"); // reported as stored, only never written
    archive->ExtractIntoFolder(data);

    EXPECT_EQ(TreeBelow(outside.path()), QStringList{"victim.txt"});
    EXPECT_EQ(ReadAll(outside.filePath("victim.txt")), "keep");
    QStringList expected = workingBefore;
    expected += {"data/dos/", "data/dos/style.txt", "data/good/", "data/good/ok.txt"};
    expected.sort();
    EXPECT_EQ(TreeBelow(folder.Path()), expected);
    EXPECT_EQ(ReadAll(data + "/good/ok.txt"), "fine");
    EXPECT_EQ(ReadAll(data + "/dos/style.txt"), "fine too");
}

TEST(ItemNames, UnflaggedNamesAreCodePage936AndFlaggedNamesUtf8) {
    const LibraryWorkingFolder folder;
    ZipWriter zip;
    zip.AddFile(QByteArray::fromHex("d1ebcad3c6b5b5c0") + "/CCTV1.txt", "cctv"); // 央视频道/
    zip.AddFile(QByteArray::fromHex("c4bfc2bc2fbddac4bfb1ed") + ".xml", "xml");  // 目录/节目表.xml
    zip.AddFile(QByteArray::fromHex("d6d0cec4") + ".txt", "gbk");                // 中文.txt
    zip.AddUtf8File(QStringLiteral("数字频道/表情😀.txt"), "utf8");               // flagged
    zip.AddFile(QByteArray("plain.txt"), "ascii");
    ASSERT_TRUE(zip.WriteTo(folder.Path("package.zip")));
    const QStringList expected = {QStringLiteral("央视频道/CCTV1.txt"), QStringLiteral("目录/节目表.xml"),
                                  QStringLiteral("中文.txt"), QStringLiteral("数字频道/表情😀.txt"),
                                  QStringLiteral("plain.txt")};

    I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    archive->OpenArchiveFile(folder.Path("package.zip"));
    ASSERT_EQ(archive->ItemCount(), uint32_t(expected.size()));
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(archive->ItemPath(uint32_t(i)), expected[i]);
    archive->ExtractIntoFolder(folder.Path("data"));
    for (const QString& name : expected)
        EXPECT_TRUE(QFile::exists(folder.Path("data/" + name))) << name.toStdString();
}

TEST(InArchive, ReadsItemsAndExtractsThemIntoStreamsTheCallerChooses) {
    const LibraryWorkingFolder folder;
    ZipWriter zip;
    zip.AddDirectory("dir");
    zip.AddFile(QByteArray("dir/one.txt"), "one");
    zip.AddFile(QByteArray("two.txt"), "two, stored", {ZipWriter::Method::Stored, false, {}});
    ASSERT_TRUE(zip.WriteTo(folder.Path("package.zip")));

    I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    EXPECT_EQ(MessageOf([&] { archive->ItemCount(); }), "No archive is open");
    archive->OpenArchiveFile(folder.Path("package.zip"));
    EXPECT_EQ(archive->ItemCount(), 3u);
    const struct {
        uint32_t index;
        QString path;
        uint32_t size;
        bool folder;
    } items[] = {{0, "dir", 0, true},
                 {1, "dir/one.txt", 3, false},
                 {2, "two.txt", 11, false},
                 {3, "", 0, false},
                 {0xFFFFFFFFu, "", 0, false}};
    for (const auto& item : items) {
        EXPECT_EQ(archive->ItemPath(item.index), item.path);
        EXPECT_EQ(archive->ItemName(item.index), ""); // the Zip handler has no separate name
        EXPECT_EQ(archive->ItemSize(item.index), item.size);
        EXPECT_EQ(archive->ItemIsFolder(item.index), item.folder);
    }

    TMemoryStream one;
    archive->ExtractOneItem(1, &one, false);
    EXPECT_EQ(one.Bytes(), "one");
    TMemoryStream tested;
    archive->ExtractOneItem(2, &tested, true);
    EXPECT_EQ(tested.Bytes(), "");
    EXPECT_EQ(MessageOf([&] { archive->ExtractOneItem(3, &one, false); }), "The parameter is incorrect");

    Collector listed;
    const uint32_t unsorted[] = {2, 1, 2};
    archive->ExtractListedItems(unsorted, 3, false, &listed, &Collector::Supply);
    EXPECT_EQ(listed.indices, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(listed.Bytes(2), "two, stored");
    const uint32_t beyond[] = {0, 3};
    EXPECT_EQ(MessageOf([&] { archive->ExtractListedItems(beyond, 2, false, &listed, &Collector::Supply); }),
              "The parameter is incorrect");

    Collector every;
    archive->ExtractEveryItem(false, &every, &Collector::Supply);
    EXPECT_EQ(every.indices, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(every.Bytes(1), "one");

    archive->CloseArchive();
    EXPECT_EQ(MessageOf([&] { archive->ItemCount(); }), "No archive is open");
    archive->OpenArchiveFile(folder.Path("package.zip"));
    EXPECT_EQ(archive->ItemCount(), 3u);
}

namespace {

struct PasswordAsker {
    QString answer;
    HRESULT code = S_OK;
    int asked = 0;

    static HRESULT Ask(void* sender, QString& password) {
        auto* self = static_cast<PasswordAsker*>(sender);
        ++self->asked;
        password = self->answer;
        return self->code;
    }
};

QString EncryptedPackage(const LibraryWorkingFolder& folder) {
    ZipWriter zip;
    zip.AddFile(QByteArray("secret1.txt"), "first secret", {ZipWriter::Method::Deflate, false, "secret"});
    zip.AddFile(QByteArray("secret2.txt"), "second secret", {ZipWriter::Method::Stored, false, "secret"});
    zip.AddFile(QByteArray("plain.txt"), "plain");
    EXPECT_TRUE(zip.WriteTo(folder.Path("package.zip")));
    return folder.Path("package.zip");
}

} // namespace

TEST(InArchive, OpensACallersStreamFromItsStartWhereverItStands) {
    const LibraryWorkingFolder folder;
    ZipWriter zip;
    zip.AddFile(QByteArray("one.txt"), "one");
    TMemoryStream package;
    size_t written = 0;
    const QByteArray bytes = zip.Bytes();
    ASSERT_EQ(package.Write(bytes.constData(), static_cast<size_t>(bytes.size()), written), 0);
    // The stream stands at its end, as right after it was written; a reopen finds it there too.
    I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    const TComPtr<IInStream> stream(new T7zStream(&package, soReference));
    for (int open = 0; open < 2; ++open) {
        archive->OpenArchiveStream(stream.Get());
        EXPECT_EQ(archive->ItemCount(), 1u);
        TMemoryStream one;
        archive->ExtractOneItem(0, &one, false);
        EXPECT_EQ(one.Bytes(), "one");
    }
    archive->CloseArchive();
}

TEST(Passwords, AreTakenFromTheSetPasswordOrAskedForOnce) {
    const struct {
        const char* what;
        QString usePassword;
        bool provider;
        PasswordAsker asker;
        QString message;
        int asked;
        bool decrypted;
    } cases[] = {
        {"password set beforehand", "secret", false, {}, "<no error>", 0, true},
        {"provider asked once", "", true, {"secret", S_OK, 0}, "<no error>", 1, true},
        {"provider refuses", "", true, {"", E_ABORT, 0}, "Operation aborted", 1, false},
        {"wrong password", "wrong", false, {}, "<no error>", 0, false},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.what);
        const LibraryWorkingFolder folder;
        const QString package = EncryptedPackage(folder);
        I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
        archive->UsePassword(c.usePassword);
        if (c.provider)
            archive->InstallPasswordProvider(&c.asker, &PasswordAsker::Ask);
        archive->OpenArchiveFile(package);
        EXPECT_EQ(MessageOf([&] { archive->ExtractIntoFolder(folder.Path("data")); }), c.message);
        EXPECT_EQ(c.asker.asked, c.asked);
        EXPECT_EQ(ReadAll(folder.Path("data/secret1.txt")) == "first secret", c.decrypted);
        EXPECT_EQ(ReadAll(folder.Path("data/secret2.txt")) == "second secret", c.decrypted);
        if (c.message == "<no error>") {
            EXPECT_EQ(ReadAll(folder.Path("data/plain.txt")), "plain");
        }
    }
}

TEST(Passwords, WithoutPasswordOrProviderTheRequestIsAnsweredNo) {
    const LibraryWorkingFolder folder;
    const QString package = EncryptedPackage(folder);
    I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    archive->OpenArchiveFile(package);
    const TComPtr<ICryptoGetTextPassword> asker =
        QueryTo<ICryptoGetTextPassword>(archive.Get(), IID_ICryptoGetTextPassword);
    BSTR password = nullptr;
    EXPECT_EQ(asker->CryptoGetTextPassword(&password), S_FALSE);
    EXPECT_EQ(password, nullptr);
    // The library ends its run at an encrypted item with that answer; the item alone is skipped.
    EXPECT_EQ(MessageOf([&] { archive->ExtractIntoFolder(folder.Path("data")); }), "<no error>");
    EXPECT_EQ(TreeBelow(folder.Path("data")), QStringList{"plain.txt"});
}

namespace {

struct ProgressLog {
    HRESULT answer = S_OK;
    std::vector<std::pair<bool, int64_t>> calls;

    static HRESULT Record(void* sender, bool total, int64_t value) {
        auto* self = static_cast<ProgressLog*>(sender);
        self->calls.emplace_back(total, value);
        return self->answer;
    }
};

} // namespace

TEST(Progress, ReportsTheTotalAndTheAmountDoneAndCanStopTheExtraction) {
    const LibraryWorkingFolder folder;
    ZipWriter zip;
    zip.AddFile(QByteArray("a.txt"), QByteArray(3000, 'a'));
    zip.AddFile(QByteArray("b.txt"), QByteArray(2000, 'b'));
    ASSERT_TRUE(zip.WriteTo(folder.Path("package.zip")));

    for (const HRESULT answer : {S_OK, E_ABORT}) {
        ProgressLog log{answer, {}};
        I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
        archive->InstallProgressSink(&log, &ProgressLog::Record);
        archive->OpenArchiveFile(folder.Path("package.zip"));
        const QString data = folder.Path(answer == S_OK ? "done" : "stopped");
        EXPECT_EQ(MessageOf([&] { archive->ExtractIntoFolder(data); }),
                  answer == S_OK ? "<no error>" : "Operation aborted");
        ASSERT_FALSE(log.calls.empty());
        EXPECT_EQ(log.calls.front(), std::make_pair(true, int64_t(5000)));
        if (answer == S_OK) {
            EXPECT_EQ(log.calls.back(), std::make_pair(false, int64_t(5000)));
            EXPECT_EQ(TreeBelow(data), (QStringList{"a.txt", "b.txt"}));
        } else {
            EXPECT_EQ(log.calls.size(), 1u);
            EXPECT_FALSE(QFile::exists(data));
        }
    }
}

namespace {

// Reads a file and notes the thread of every read.
class ThreadNotingStream final : public TStream {
public:
    explicit ThreadNotingStream(TFileStream* file) : file_(file) {}
    int Read(void* data, size_t size, size_t& done) override {
        threads.insert(std::this_thread::get_id());
        return file_->Read(data, size, done);
    }
    int Write(const void* data, size_t size, size_t& done) override { return file_->Write(data, size, done); }
    int Seek(int64_t offset, Origin origin, int64_t& position) override {
        return file_->Seek(offset, origin, position);
    }
    int GetSize(int64_t& size) override { return file_->GetSize(size); }
    int SetSize(int64_t size) override { return file_->SetSize(size); }

    std::set<std::thread::id> threads;

private:
    std::unique_ptr<TFileStream> file_;
};

} // namespace

// Multi-block BZip2 is where the library would otherwise read from a thread of its own.
TEST(InArchive, KeepsEveryLibraryCallOnTheCallingThread) {
    const LibraryWorkingFolder folder;
    QByteArray text;
    for (int line = 0; text.size() < 4'500'000; ++line)
        text += QByteArray::number(line * 7919 % 100003) + " 节目 programme line\n";
    WriteWholeFile(folder.Path("big.txt"), text);
    QProcess packer;
    packer.setWorkingDirectory(folder.Path());
    packer.start(QStringLiteral("7z"),
                 {"a", "-tzip", "-mm=BZip2", "-bso0", "-bsp0", "package.zip", "big.txt"});
    if (!packer.waitForStarted())
        GTEST_SKIP() << "the 7z command is not installed";
    ASSERT_TRUE(packer.waitForFinished(60000));
    ASSERT_EQ(packer.exitCode(), 0);

    ThreadNotingStream input(TFileStream::OpenRead(folder.Path("package.zip")));
    I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    archive->OpenArchiveStream(TComPtr<IInStream>(new T7zStream(&input, soReference)).Get());
    Collector items;
    archive->ExtractEveryItem(false, &items, &Collector::Supply);
    archive.Reset();
    EXPECT_EQ(items.Bytes(0), text);
    EXPECT_EQ(input.threads, std::set<std::thread::id>{std::this_thread::get_id()});
}
