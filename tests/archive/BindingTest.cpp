#include "archive/T7zInArchive.h"
#include "archive/Unit_sevenzip.h"
#include "platform/Exception.h"
#include "tests/archive/ArchiveTestSupport.h"
#include "tests/support/Files.h"
#include "tests/support/ZipWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray LibraryResource() {
    return ReadAll(QStringLiteral(":/rsrc/DLL/7Z"));
}

// Caps the size of files this process writes; a write beyond it fails with EFBIG.
class ScopedFileSizeLimit final {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousSignal_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousSignal_);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousSignal_)(int) = SIG_DFL;
};

constexpr GUID kFormat7z{0x23170F69u, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00}};

} // namespace

TEST(ExtractResourceToFile, WritesTheResourceFoundWithoutRegardToCase) {
    const QByteArray library = LibraryResource();
    ASSERT_GT(library.size(), 100000);
    const LibraryWorkingFolder folder(false);
    const struct {
        const char* name;
        const char* type;
    } lookups[] = {{"7z", "dll"}, {"7Z", "DLL"}, {"7z", "Dll"}};
    for (const auto& lookup : lookups) {
        // A longer file of other content is replaced completely.
        WriteWholeFile(folder.Path("7z.dll"), QByteArray(library.size() + 4096, 'x'));
        ExtractResourceToFile(lookup.name, lookup.type, QStringLiteral("7z.dll"));
        EXPECT_EQ(ReadAll(folder.Path("7z.dll")), library) << lookup.name << " " << lookup.type;
    }
}

TEST(ExtractResourceToFile, ReportsEachFailureInItsOwnWords) {
    const LibraryWorkingFolder folder(false);
    const QString missingFolderFile = folder.Path("no-such-folder/7z.dll");
    EXPECT_EQ(MessageOf([] { ExtractResourceToFile("8z", "dll", "7z.dll"); }), "Resource 8z not found");
    EXPECT_EQ(MessageOf([] { ExtractResourceToFile("7z", "exe", "7z.dll"); }), "Resource 7z not found");
    EXPECT_EQ(MessageOf([] { ExtractResourceToFile("7z", "dll", "no-such-folder/7z.dll"); }),
              QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(missingFolderFile));
    EXPECT_EQ(MessageOf([&] { ExtractResourceToFile("7z", "dll", folder.Path()); }),
              QStringLiteral("Cannot create file \"%1\". Is a directory").arg(folder.Path()));
    // A write that the system cuts short leaves the earlier file as it was, and no part of the new one.
    WriteWholeFile(folder.Path("7z.dll"), "earlier copy");
    {
        const ScopedFileSizeLimit limit(4096);
        EXPECT_EQ(MessageOf([] { ExtractResourceToFile("7z", "dll", "7z.dll"); }),
                  QStringLiteral("Cannot write file \"%1\". File too large").arg(folder.Path("7z.dll")));
    }
    EXPECT_EQ(ReadAll(folder.Path("7z.dll")), "earlier copy");
    EXPECT_EQ(TreeBelow(folder.Path()), QStringList{"7z.dll"});
}

TEST(ExtractResourceToFile, ReplacesALinkInsteadOfWritingThroughIt) {
    const LibraryWorkingFolder folder(false);
    WriteWholeFile(folder.Path("victim.txt"), "victim");
    ASSERT_TRUE(QFile::link(folder.Path("victim.txt"), folder.Path("7z.dll")));
    ExtractResourceToFile("7z", "dll", "7z.dll");
    EXPECT_EQ(ReadAll(folder.Path("victim.txt")), "victim");
    EXPECT_FALSE(QFileInfo(folder.Path("7z.dll")).isSymLink());
    EXPECT_EQ(ReadAll(folder.Path("7z.dll")), LibraryResource());
    EXPECT_EQ(TreeBelow(folder.Path()), (QStringList{"7z.dll", "victim.txt"}));
}

// A copy that already holds the library is kept (the same file, untouched); anything else in its
// place is replaced by a new file with the library.
TEST(ExtractResourceToFile, KeepsOnlyAPlainFileOfItsOwnThatHoldsTheLibraryExactly) {
    const QByteArray library = LibraryResource();
    QByteArray lastByteChanged = library;
    lastByteChanged[lastByteChanged.size() - 1] = char(lastByteChanged.back() ^ 1);
    const struct {
        const char* what;
        QByteArray content;
        bool secondName; // the file has another name (a hard link) besides 7z.dll
        bool kept;
    } cases[] = {
        {"the library", library, false, true},
        {"the last byte changed", lastByteChanged, false, false},
        {"one byte short", library.left(library.size() - 1), false, false},
        {"one byte more", library + 'x', false, false},
        {"the library under a second name", library, true, false},
    };
    for (const auto& c : cases) {
        const LibraryWorkingFolder folder(false);
        WriteWholeFile(folder.Path("7z.dll"), c.content);
        if (c.secondName) {
            ASSERT_EQ(::link(QFile::encodeName(folder.Path("7z.dll")).constData(),
                             QFile::encodeName(folder.Path("other")).constData()),
                      0);
        }
        struct stat before {};
        ASSERT_EQ(::stat(QFile::encodeName(folder.Path("7z.dll")).constData(), &before), 0);
        ExtractResourceToFile("7z", "dll", "7z.dll");
        struct stat after {};
        ASSERT_EQ(::stat(QFile::encodeName(folder.Path("7z.dll")).constData(), &after), 0);
        EXPECT_EQ(ReadAll(folder.Path("7z.dll")), library) << c.what;
        EXPECT_EQ(after.st_ino == before.st_ino, c.kept) << c.what;
        if (c.secondName) {
            EXPECT_EQ(ReadAll(folder.Path("other")), c.content) << c.what;
        }
    }
}

// A copy that others may write would be refused by the extraction, so start-up writes a new one,
// whatever the user's umask.
TEST(ExtractResourceToFile, WritesACopyOnlyTheUserMayChange) {
    const LibraryWorkingFolder folder(false);
    WriteWholeFile(folder.Path("7z.dll"), LibraryResource());
    ASSERT_EQ(::chmod(QFile::encodeName(folder.Path("7z.dll")).constData(), 0664), 0);
    const mode_t previous = ::umask(0);
    ExtractResourceToFile("7z", "dll", "7z.dll");
    ::umask(previous);
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(folder.Path("7z.dll")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_EQ(MessageOf([] { MakeInArchive(CLSID_CFormatZip); }), "<no error>");
}

TEST(LibraryLoading, RefusesModulesThatAreNotTheArchiveLibrary) {
    const struct {
        const char* source; // copied to "7z.dll"; nullptr: no such file
        const char* message;
    } cases[] = {
        {nullptr, "Error loading library 7z.dll"},
        {"", "Error loading library 7z.dll"}, // not a library at all: a text file
        {TESTLIB_NO_CREATE_OBJECT, "7z.dll is not a 7z library"},
        {TESTLIB_OLD_LAYOUT, "7z.dll is not a 7z library"},
        {TESTLIB_NO_HANDLER_PROPERTY, "7z.dll is not a Format library"},
    };
    for (const auto& c : cases) {
        const LibraryWorkingFolder folder(false);
        if (c.source && *c.source)
            ASSERT_TRUE(QFile::copy(c.source, folder.Path("7z.dll")));
        else if (c.source)
            WriteWholeFile(folder.Path("7z.dll"), "this is not a library\n");
        // The loader itself, without the check of the factory below.
        EXPECT_EQ(MessageOf([] { I7zInArchivePtr(new T7zInArchive(QStringLiteral("7z.dll"))); }), c.message)
            << c.message;
        EXPECT_FALSE(IsMapped(folder.Path("7z.dll")));
    }
}

TEST(LibraryLoading, TheFactoryLoadsOnlyAFileThatHoldsExactlyTheEmbeddedLibrary) {
    const QByteArray library = LibraryResource();
    QByteArray oneByteChanged = library;
    oneByteChanged[oneByteChanged.size() / 2] = char(oneByteChanged[oneByteChanged.size() / 2] ^ 1);
    const struct {
        const char* what;
        std::function<void(const LibraryWorkingFolder&)> plant;
        bool loads;
    } cases[] = {
        {"the embedded library", [&](const auto& f) { WriteWholeFile(f.Path("7z.dll"), library); }, true},
        {"a link to a copy of it",
         [&](const auto& f) {
             WriteWholeFile(f.Path("copy.so"), library);
             QFile::link(f.Path("copy.so"), f.Path("7z.dll"));
         },
         true},
        {"another library", [](const auto& f) { QFile::copy(TESTLIB_NO_HANDLER_PROPERTY, f.Path("7z.dll")); },
         false},
        {"one byte changed", [&](const auto& f) { WriteWholeFile(f.Path("7z.dll"), oneByteChanged); }, false},
        {"one byte more", [&](const auto& f) { WriteWholeFile(f.Path("7z.dll"), library + '\0'); }, false},
        {"a folder", [](const auto& f) { QDir().mkpath(f.Path("7z.dll")); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const LibraryWorkingFolder folder(false);
        c.plant(folder);
        EXPECT_EQ(MessageOf([] { MakeInArchive(CLSID_CFormatZip); }),
                  c.loads ? "<no error>" : "Error loading library 7z.dll");
        EXPECT_FALSE(IsMapped(folder.Path("7z.dll")));
    }
}

// The user who shares a working folder with another (a sticky folder like /tmp) cannot replace a
// "7z.dll" the other left there; the other may rewrite it in place at any moment after the check.
TEST(LibraryLoading, ACopyRewrittenAfterTheCheckIsNotWhatRuns) {
    const LibraryWorkingFolder folder;
    WriteWholeFile(folder.Path("package.zip"), [] {
        ZipWriter zip;
        zip.AddFile("a/01.txt", "06:00 news\r\n");
        return zip.Bytes();
    }());
    const I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    // The bytes in place, as the other user would write them: the code of a mapped file would change.
    const QByteArray zeros(LibraryResource().size(), '\0');
    const int file = ::open(QFile::encodeName(folder.Path("7z.dll")).constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::pwrite(file, zeros.constData(), size_t(zeros.size()), 0), zeros.size());
    ::close(file);

    archive->OpenArchiveFile(folder.Path("package.zip"));
    archive->ExtractIntoFolder(folder.Path("data"));
    EXPECT_EQ(ReadAll(folder.Path("data/a/01.txt")), "06:00 news\r\n");
    EXPECT_TRUE(ReadAll(QStringLiteral("/proc/self/maps"))
                    .contains("/memfd:" + QFile::encodeName(folder.Path("7z.dll"))));
}

TEST(LibraryLoading, TheCheckedCopyIsSealedAgainstEveryChange) {
    const LibraryWorkingFolder folder;
    const int file = ::open(QFile::encodeName(folder.Path("7z.dll")).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    QString problem;
    const FileDescriptor copy =
        SealedLibraryCopy(file, EmbeddedLibraryImage(), folder.Path("7z.dll"), &problem);
    ::close(file);
    ASSERT_TRUE(copy.valid()) << problem.toStdString();
    EXPECT_EQ(::fcntl(copy.get(), F_GET_SEALS), F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL);
    EXPECT_EQ(::pwrite(copy.get(), "x", 1, 0), -1);
    EXPECT_NE(::ftruncate(copy.get(), 0), 0);
}

// Whoever may change the library file may run code in the program, whether it is the copy start-up
// wrote or the system's library that an installed program loads.
TEST(LibraryLoading, RefusesALibraryFileThatAnotherUserOwnsOrMayWrite) {
    const struct {
        const char* what;
        std::function<bool(const QByteArray& path)> change;
    } cases[] = {
        {"writable by its group", [](const QByteArray& p) { return ::chmod(p.constData(), 0620) == 0; }},
        {"writable by everyone", [](const QByteArray& p) { return ::chmod(p.constData(), 0602) == 0; }},
        {"owned by another user",
         [](const QByteArray& p) { return ::chown(p.constData(), 65534, 65534) == 0; }},
    };
    for (const auto& c : cases) {
        for (const bool embeddedCopy : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (embeddedCopy ? ", the copy" : ", a system library"));
            const LibraryWorkingFolder folder;
            if (!c.change(QFile::encodeName(folder.Path("7z.dll")))) {
                ASSERT_EQ(errno, EPERM);
                GTEST_SKIP() << "only root can give a file to another user";
            }
            EXPECT_EQ(
                MessageOf([&] { MakeInArchive(CLSID_CFormatZip, QStringLiteral("7z.dll"), embeddedCopy); }),
                "Error loading library 7z.dll");
            EXPECT_FALSE(IsMapped(folder.Path("7z.dll")));
        }
    }
}

TEST(LibraryLoading, AFailedConstructorGivesTheModuleBackExactlyOnce) {
    const LibraryWorkingFolder folder(false);
    ASSERT_TRUE(QFile::copy(TESTLIB_NO_HANDLER_PROPERTY, folder.Path("7z.dll")));
    void* ownLoad = ::dlopen(QFile::encodeName(folder.Path("7z.dll")).constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(ownLoad, nullptr);
    EXPECT_EQ(MessageOf([] { I7zInArchivePtr(new T7zInArchive(QStringLiteral("7z.dll"))); }),
              "7z.dll is not a Format library");
    // Released twice, the module would be gone although we still hold it.
    EXPECT_TRUE(IsMapped(folder.Path("7z.dll")));
    ::dlclose(ownLoad);
    // Not released at all, it would still be here.
    EXPECT_FALSE(IsMapped(folder.Path("7z.dll")));
}

TEST(LibraryLoading, EachArchiveObjectHoldsItsOwnLoadOfTheModule) {
    const LibraryWorkingFolder folder;
    I7zInArchivePtr first = MakeInArchive(CLSID_CFormatZip);
    I7zInArchivePtr second = MakeInArchive(CLSID_CFormatZip);
    EXPECT_TRUE(IsMapped(folder.Path("7z.dll")));
    first.Reset();
    EXPECT_TRUE(IsMapped(folder.Path("7z.dll")));
    second.Reset();
    EXPECT_FALSE(IsMapped(folder.Path("7z.dll")));
}

TEST(LibraryLoading, AClassIdNeverSetFailsAtOpenWithTheLibrarysCode) {
    const LibraryWorkingFolder folder;
    WriteWholeFile(folder.Path("package.zip"), "PK\x05\x06" + QByteArray(18, '\0'));
    const I7zInArchivePtr archive(new T7zInArchive(QStringLiteral("7z.dll")));
    EXPECT_EQ(archive->ReadClassID(), GUID{});
    EXPECT_EQ(MessageOf([&] { archive->OpenArchiveFile(folder.Path("package.zip")); }),
              "ClassFactory cannot supply requested class");
}

TEST(LibraryLoading, ReadsTheLibrarysDefaultHandlerDescription) {
    const LibraryWorkingFolder folder;
    T7zArchive* archive = new T7zArchive(QStringLiteral("7z.dll"));
    const TComPtr<IUnknown> reference(static_cast<IUnknown*>(archive));
    // This build describes its default format, 7z, not Zip.
    EXPECT_EQ(archive->Name(), "7z");
    EXPECT_TRUE(archive->Extension().split(' ').contains("7z"));
    EXPECT_EQ(archive->GetLibGUIDProperty(NArchive::kClassID), kFormat7z);
    EXPECT_EQ(archive->GetLibStringProperty(NArchive::kAddExtension), "");
    EXPECT_EQ(archive->ClassID(), GUID{});
    archive->SetClassID(CLSID_CFormatZip);
    EXPECT_EQ(archive->ClassID(), CLSID_CFormatZip);
}

TEST(LibraryLoading, CreateObjectFailsOnlyOnNegativeCodes) {
    const LibraryWorkingFolder folder;
    T7zPlugin* plugin = new T7zPlugin(QStringLiteral("7z.dll"));
    const TComPtr<IUnknown> reference(plugin);
    TComPtr<IInArchive> handler;
    plugin->CreateObject(CLSID_CFormatZip, IID_IInArchive, handler.ReceiveVoid());
    EXPECT_TRUE(handler);
    EXPECT_EQ(MessageOf([&] { plugin->CreateObject(CLSID_CFormatZip, IID_IUnknown, handler.ReceiveVoid()); }),
              "No such interface supported");
    EXPECT_FALSE(handler);
}

TEST(ReferenceCounting, ObjectsAnswerOnlyForTheirInterfaces) {
    const LibraryWorkingFolder folder;
    const I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
    const TComPtr<IInStream> stream(new T7zStream(new TMemoryStream, soOwned));
    const GUID unknownIid = LibraryInterfaceId(0x04, 0x04); // ICompressProgressInfo
    const struct {
        IUnknown* object;
        GUID iid;
        bool answered;
    } cases[] = {
        {archive.Get(), IID_I7zInArchive, true},
        {archive.Get(), IID_IArchiveExtractCallback, true},
        {archive.Get(), IID_IProgress, true},
        {archive.Get(), IID_ICryptoGetTextPassword, true},
        {archive.Get(), IID_IArchiveOpenVolumeCallback, true},
        {archive.Get(), IID_IArchiveOpenSetSubArchiveName, true},
        {archive.Get(), unknownIid, false},
        {archive.Get(), IID_IInStream, false},
        {stream.Get(), IID_IOutStream, true},
        {stream.Get(), IID_IStreamGetSize, true},
        {stream.Get(), IID_IOutStreamFinish, true},
        {stream.Get(), unknownIid, false},
        {stream.Get(), IID_IArchiveExtractCallback, false},
    };
    for (const auto& c : cases) {
        void* answer = reinterpret_cast<void*>(1);
        const HRESULT code = c.object->QueryInterface(c.iid, &answer);
        EXPECT_EQ(code, c.answered ? S_OK : E_NOINTERFACE);
        EXPECT_EQ(answer != nullptr, c.answered);
        if (answer)
            static_cast<IUnknown*>(answer)->Release();
    }
    // The same object whichever interface it is reached through.
    const TComPtr<IUnknown> viaCallback = QueryTo<IUnknown>(
        QueryTo<IArchiveExtractCallback>(archive.Get(), IID_IArchiveExtractCallback).Get(), IID_IUnknown);
    EXPECT_EQ(viaCallback.Get(), static_cast<IUnknown*>(archive.Get()));
}
