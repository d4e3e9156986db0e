#pragma once

#include "tests/support/EncodeGbk.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScopedEnvironment.h"
#include "ui/Unit1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextCursor>

#include <functional>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

// A window started as the program would start it, but in a temporary world: the program folder,
// the working directory and the home folder (with its desktop) all lie in one temporary folder.
class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window as the program entry does, with these command-line arguments.
    TForm1& Start(const QStringList& arguments = {});
    // Start() without arguments, shown and active, its clock stopped at `now` (later: now_).
    TForm1& StartAt(const QDateTime& now);

    // How the windows of the next starts live; portable unless a test says otherwise.
    ProgramMode mode = ProgramMode::Portable;
    QString systemLibrary = QString::fromUtf8(kSystemArchiveLibrary);

    QString ProgramFolder() const { return root_.path() + QStringLiteral("/app/"); }
    QString ExecutablePath() const { return ProgramFolder() + QStringLiteral("pelnavi"); }
    QString WorkingFolder() const { return root_.path() + QStringLiteral("/work/"); }
    QString DesktopFolder() const { return root_.path() + QStringLiteral("/home/Desktop/"); }
    // The user's data and cache folders of an installed program (the XDG defaults below the home).
    QString UserDataFolder() const { return root_.path() + QStringLiteral("/home/.local/share/Pelnavi/"); }
    QString UserCacheFolder() const { return root_.path() + QStringLiteral("/home/.cache/Pelnavi/"); }
    // The data folder of the current way: beside the program, or in the user's data folder.
    QString DataFolder() const {
        return (mode == ProgramMode::Installed ? UserDataFolder() : ProgramFolder()) +
               QStringLiteral("ZORQListTemp/");
    }

    // Writes a file below the data folder, making its folders.
    void WriteDataFile(const QString& relativePath, const QByteArray& content);

    TForm1& form() { return *form_; }
    QStringList opened;     // addresses the window asked the desktop to open
    TUpdateTimings timings; // the timer periods the next Start hands to the window
    QDateTime now_;         // the time of a window started with StartAt

private:
    QTemporaryDir root_;
    QString previousWorkingFolder_;
    std::optional<ScopedVariable> home_, config_, data_, cache_;
    std::unique_ptr<TForm1> form_;
};

// The lines of a memo, as its Lines property would list them.
QStringList MemoLines(const QPlainTextEdit* memo);

// The line of a memo that holds `cursor`, as the memo shows it (a block may hold several).
QString LineAt(QTextCursor cursor);

// Every status line the window logs into its memo, with the time it arrived (from the recorder's
// creation), also the lines that a later rescan wipes from the memo.
class StatusLog final {
public:
    explicit StatusLog(TForm1& window);
    QStringList lines;
    QList<qint64> times;
    std::function<void(const QString& line)> onLine; // runs as each line arrives

    qint64 TimeOf(const QString& line) const;

private:
    qsizetype shown_ = 0;
    QElapsedTimer clock_;
};

// Processes events until the condition holds or the time is up; returns the condition.
template <typename Condition> bool WaitUntil(Condition condition, int timeoutMs = 10000);

// Answers the next modal box that opens: records its title and text and presses its default button.
struct ModalBoxRecord {
    QString title;
    QString text;
    int icon = -1;
    bool seen = false;
};
void AnswerNextModalBox(ModalBoxRecord& record);

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <typename Condition> bool WaitUntil(Condition condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
