#include "platform/InstanceGuard.h"

#include "tests/support/ScopedEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <unistd.h>

namespace {

using Outcome = InstanceGuard::Outcome;

const QString kName = QStringLiteral("Pelnavi系统");

// The guard claimed in another process; the holder keeps it until its input is closed.
class LockHolder final {
public:
    LockHolder(const QString& folder, const QString& name) {
        process_.start(QStringLiteral(PELNAVI_LOCK_HOLDER), {folder, name});
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

TEST(InstanceGuard, DefaultFolderIsTheRuntimeFolderElseTmpWithTheUserId) {
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    {
        ScopedVariable variable("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        InstanceGuard guard(kName);
        EXPECT_EQ(guard.outcome(), Outcome::Claimed);
        EXPECT_EQ(guard.lockFilePath(), runtime.filePath(kName + QStringLiteral(".lock")));
        EXPECT_TRUE(QFileInfo::exists(guard.lockFilePath()));
    }
    // A name of this test's own, so a running copy of the program is neither disturbed nor seen.
    const QString name = QStringLiteral("pelnavi-guard-test-%1").arg(::getpid());
    const QString expected = QStringLiteral("/tmp/%1-%2.lock").arg(name).arg(::getuid());
    for (const std::optional<QByteArray>& value :
         {std::optional<QByteArray>(), std::optional<QByteArray>("")}) {
        ScopedVariable variable("XDG_RUNTIME_DIR", value);
        InstanceGuard guard(name);
        EXPECT_EQ(guard.outcome(), Outcome::Claimed);
        EXPECT_EQ(guard.lockFilePath(), expected);
        EXPECT_EQ(InstanceGuard(name).outcome(), Outcome::AlreadyExists);
    }
    QFile::remove(expected);
}

} // namespace
