#include "platform/InstanceGuard.h"

#include "tests/support/ScopedEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

using Outcome = InstanceGuard::Outcome;

const QString kName = QStringLiteral("Pelnavi系统");

// The guard claimed in another process; the holder keeps it until its input is closed.
class LockHolder final {
public:
    LockHolder(const QString& folder, const QString& name) : LockHolder(QStringList{folder, name}) {}
    explicit LockHolder(const QStringList& arguments) {
        process_.start(QStringLiteral(PELNAVI_LOCK_HOLDER), arguments);
    }
    ~LockHolder() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(30000);
        }
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // The outcome line the holder printed, or empty when it gave none.
    QString outcome() {
        while (!process_.canReadLine() && process_.waitForReadyRead(30000)) {
        }
        return QString::fromUtf8(process_.readLine()).trimmed();
    }
    bool release() {
        process_.closeWriteChannel();
        return process_.waitForFinished(30000) && process_.exitCode() == 0;
    }
    bool kill() {
        process_.kill();
        return process_.waitForFinished(30000);
    }

private:
    QProcess process_;
};

TEST(InstanceGuard, AnotherProcessHoldingTheGuardIsReported) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    {
        LockHolder holder(folder.path(), kName);
        ASSERT_EQ(holder.outcome(), QStringLiteral("Claimed"));
        EXPECT_EQ(InstanceGuard(kName, folder.path()).outcome(), Outcome::AlreadyExists);
        LockHolder second(folder.path(), kName);
        EXPECT_EQ(second.outcome(), QStringLiteral("AlreadyExists"));
        // Another name is another guard.
        EXPECT_EQ(InstanceGuard(QStringLiteral("other"), folder.path()).outcome(), Outcome::Claimed);
        ASSERT_TRUE(holder.release());
    }
    InstanceGuard mine(kName, folder.path());
    EXPECT_EQ(mine.outcome(), Outcome::Claimed);
    LockHolder late(folder.path(), kName);
    EXPECT_EQ(late.outcome(), QStringLiteral("AlreadyExists"));
}

TEST(InstanceGuard, GuardEndsWithAKilledHolder) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    LockHolder holder(folder.path(), kName);
    ASSERT_EQ(holder.outcome(), QStringLiteral("Claimed"));
    ASSERT_TRUE(holder.kill());
    EXPECT_EQ(InstanceGuard(kName, folder.path()).outcome(), Outcome::Claimed);
}

TEST(InstanceGuard, SecondGuardInTheSameProcessConflictsUntilTheFirstEnds) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto first = std::make_unique<InstanceGuard>(kName, folder.path());
    ASSERT_EQ(first->outcome(), Outcome::Claimed);
    EXPECT_EQ(InstanceGuard(kName, folder.path()).outcome(), Outcome::AlreadyExists);
    first.reset();
    EXPECT_EQ(InstanceGuard(kName, folder.path()).outcome(), Outcome::Claimed);
}

TEST(InstanceGuard, UnopenableLockFileGivesNoHandle) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString plainFile = folder.filePath(QStringLiteral("plain"));
    QFile file(plainFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QDir(folder.path()).mkdir(kName + QStringLiteral(".lock")));
    const QString linked = folder.filePath(QStringLiteral("linked"));
    ASSERT_TRUE(QDir().mkpath(linked));
    const QString planted = folder.filePath(QStringLiteral("planted"));
    ASSERT_TRUE(QFile::link(planted, linked + u'/' + kName + QStringLiteral(".lock")));
    const struct {
        const char* why;
        QString folder;
    } cases[] = {
        {"missing folder", folder.filePath(QStringLiteral("missing"))},
        {"file in place of the folder", plainFile},
        {"folder in place of the lock file", folder.path()},
        {"link in place of the lock file", linked},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        InstanceGuard guard(kName, c.folder);
        EXPECT_EQ(guard.outcome(), Outcome::NoHandle);
        LockHolder holder(c.folder, kName);
        EXPECT_EQ(holder.outcome(), QStringLiteral("NoHandle"));
    }
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(QFileInfo::exists(planted)); // the link was not followed
}

// Two copies of one portable folder, started with different runtime folders (so with different
// login locks), still never run together; copies in other folders are not held up.
TEST(InstanceGuard, OnePortableFolderRunsOneCopyWhateverTheLoginLockFolder) {
    QTemporaryDir firstLogin, secondLogin, program, otherProgram;
    ASSERT_TRUE(firstLogin.isValid() && secondLogin.isValid() && program.isValid() && otherProgram.isValid());
    const QString folderLock = program.filePath(u'.' + kName + QStringLiteral(".lock"));
    {
        LockHolder holder({firstLogin.path(), kName, program.path()});
        ASSERT_EQ(holder.outcome(), QStringLiteral("Claimed"));
        EXPECT_TRUE(QFileInfo::exists(folderLock));
        EXPECT_EQ(InstanceGuard(kName, secondLogin.path(), program.path()).outcome(), Outcome::AlreadyExists);
        LockHolder second({secondLogin.path(), kName, program.path()});
        EXPECT_EQ(second.outcome(), QStringLiteral("AlreadyExists"));
        EXPECT_EQ(InstanceGuard(kName, secondLogin.path(), otherProgram.path()).outcome(), Outcome::Claimed);
        ASSERT_TRUE(holder.release());
    }
    EXPECT_FALSE(QFileInfo::exists(folderLock)) << "nothing is left in the program's folder";
    EXPECT_EQ(InstanceGuard(kName, secondLogin.path(), program.path()).outcome(), Outcome::Claimed);
}

// An update and an import hold the data folder while they write; a second process is told it is
// busy, a step nested in the same process shares the hold, and the lock file goes with the last hold.
TEST(DataFolderLock, HeldByOneProcessAtATimeAndNestedWithinIt) {
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const QString lockFile = data.filePath(QString::fromUtf16(DataFolderLock::kFileName));
    {
        LockHolder holder(QStringList{QStringLiteral("--data"), data.path()});
        ASSERT_EQ(holder.outcome(), QStringLiteral("Claimed"));
        const DataFolderLock mine(data.path());
        EXPECT_TRUE(mine.Busy());
        EXPECT_FALSE(mine.Held());
        ASSERT_TRUE(holder.release());
    }
    EXPECT_FALSE(QFileInfo::exists(lockFile));
    {
        const DataFolderLock outer(data.path() + u'/');
        ASSERT_TRUE(outer.Held());
        {
            const DataFolderLock nested(data.path());
            EXPECT_TRUE(nested.Held());
        }
        LockHolder other(QStringList{QStringLiteral("--data"), data.path()});
        EXPECT_EQ(other.outcome(), QStringLiteral("Busy")) << "the outer hold is still there";
    }
    EXPECT_FALSE(QFileInfo::exists(lockFile));
    LockHolder late(QStringList{QStringLiteral("--data"), data.path()});
    EXPECT_EQ(late.outcome(), QStringLiteral("Claimed"));
}

TEST(InstanceGuard, DefaultFolderIsTheRuntimeFolderElseAFolderOfTheUsersOwn) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    {
        ScopedVariable variable("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        InstanceGuard guard(kName);
        EXPECT_EQ(guard.outcome(), Outcome::Claimed);
        EXPECT_EQ(guard.lockFilePath(), runtime.filePath(kName + QStringLiteral(".lock")));
        EXPECT_TRUE(QFileInfo::exists(guard.lockFilePath()));
    }
    // Without it, never a file in the shared /tmp itself, where another user could make it first.
    // A name of this test's own, so a running copy of the program is neither disturbed nor seen.
    const QString name = QStringLiteral("pelnavi-guard-test-%1").arg(::getpid());
    for (const std::optional<QByteArray>& value :
         {std::optional<QByteArray>(), std::optional<QByteArray>("")}) {
        ScopedVariable variable("XDG_RUNTIME_DIR", value);
        InstanceGuard guard(name);
        EXPECT_EQ(guard.outcome(), Outcome::Claimed);
        const QFileInfo folder(QFileInfo(guard.lockFilePath()).path());
        EXPECT_NE(folder.filePath(), QStringLiteral("/tmp"));
        EXPECT_EQ(folder.ownerId(), ::getuid());
        EXPECT_EQ(InstanceGuard(name).outcome(), Outcome::AlreadyExists);
        QFile::remove(guard.lockFilePath());
    }
}

TEST(InstanceGuard, ChoosesAFolderThatOnlyTheUserCanReach) {
    const uid_t user = ::getuid();
    const QString own = QStringLiteral("pelnavi-%1").arg(user);
    const struct Case {
        const char* what;
        std::function<void(const QString& root)> prepare; // root holds "run", "tmp" and "cache"
        QString runtime;                                  // relative to root; empty: unset
        const char* chosen;                               // relative to root; empty: none
    } cases[] = {
        {"runtime folder of mode 0700", [](const QString&) {}, "run", "run"},
        {"no runtime folder: one of our own in tmp, made with mode 0700", [](const QString&) {}, "",
         "tmp/%1"},
        {"runtime folder open to others",
         [](const QString& root) {
             QFile::setPermissions(root + "/run",
                                   QFile::permissions(root + "/run") | QFile::ReadOther | QFile::ExeOther);
         },
         "run", "tmp/%1"},
        {"runtime folder missing", [](const QString&) {}, "missing", "tmp/%1"},
        {"runtime folder named relatively", [](const QString&) {}, "./run", "tmp/%1"},
        {"our folder in tmp was made open to others",
         [&](const QString& root) {
             QDir(root + "/tmp").mkdir(own);
             QFile::setPermissions(root + "/tmp/" + own, QFileDevice::Permissions(0x7777));
         },
         "", "cache"},
        {"a link stands at our folder in tmp",
         [&](const QString& root) { QFile::link(root + "/run", root + "/tmp/" + own); }, "", "cache"},
        {"a file stands at our folder in tmp",
         [&](const QString& root) { QFile(root + "/tmp/" + own).open(QIODevice::WriteOnly); }, "", "cache"},
        {"no tmp and no cache folder",
         [](const QString& root) {
             QDir(root + "/tmp").removeRecursively();
             QFile(root + "/cache").open(QIODevice::WriteOnly);
         },
         "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath("run") && QDir(root.path()).mkpath("tmp"));
        QFile::setPermissions(root.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        c.prepare(root.path());
        LockFolderSources sources;
        sources.RuntimeFolder =
            c.runtime.isEmpty() || c.runtime.startsWith('.') ? c.runtime : root.filePath(c.runtime);
        sources.SharedTemporaryFolder = root.filePath("tmp");
        sources.CacheFolder = root.filePath("cache");
        sources.User = user;
        QString problem;
        const QString chosen = ChooseLockFolder(sources, &problem);
        const QString expected = *c.chosen ? root.filePath(QString::fromUtf8(c.chosen).arg(own)) : QString();
        EXPECT_EQ(chosen, expected);
        EXPECT_EQ(problem.isEmpty(), !expected.isEmpty()) << problem.toStdString();
        if (expected.endsWith(own)) {
            struct stat status {};
            ASSERT_EQ(::stat(QFile::encodeName(expected).constData(), &status), 0);
            EXPECT_EQ(status.st_mode & 07777, 0700u);
        }
    }
}

TEST(InstanceGuard, APrivateFolderIsADirectoryOfTheUserWithMode0700) {
    const struct {
        mode_t mode;
        uid_t owner;
        bool isPrivate;
    } cases[] = {
        {S_IFDIR | 0700, 1000, true},  {S_IFDIR | 0700, 1001, false},  {S_IFDIR | 0750, 1000, false},
        {S_IFDIR | 0701, 1000, false}, {S_IFDIR | 01700, 1000, false}, {S_IFLNK | 0700, 1000, false},
        {S_IFREG | 0700, 1000, false},
    };
    for (const auto& c : cases) {
        struct stat status {};
        status.st_mode = c.mode;
        status.st_uid = c.owner;
        EXPECT_EQ(IsPrivateFolder(status, 1000), c.isPrivate)
            << std::oct << c.mode << " " << std::dec << c.owner;
    }
}

} // namespace
