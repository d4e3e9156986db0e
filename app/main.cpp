// Program entry: the single-instance guard, the application object, the window and its message loop.
#include "guide/Pinyin.h"
#include "platform/AbortRequest.h"
#include "platform/AppPaths.h"
#include "platform/InstanceGuard.h"
#include "platform/ProgramPlaces.h"
#include "ui/Unit1.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};

void ForwardSignal(int) {
    // The interrupted code may be about to read errno: the write below must not change it.
    const int savedErrno = errno;
    // A fetch or extraction in progress gives up at its next pump point, where the pipe is read.
    RequestAbort();
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
    errno = savedErrno;
}

// A desktop session that ends (SIGTERM) or a Ctrl+C closes the window like its close box does, and
// also any box open over it, so the program still ends with exit code 0. The handlers are in place before the
// window exists; a signal that comes meanwhile waits in the pipe until the message loop runs.
bool ForwardTerminationSignals() {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = ForwardSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    return true;
}

void CloseOnForwardedSignal(TForm1& window) {
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [] {
        char byte;
        while (::read(gSignalPipe[0], &byte, 1) > 0) {
        }
        QApplication::closeAllWindows();
    });
}

QStringList ProgramArguments(int argc, char** argv) {
    // Taken before the application object sees them: Qt would remove its own options.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QFile::decodeName(argv[i]);
    return arguments;
}

} // namespace

int main(int argc, char** argv) {
    const QStringList arguments = ProgramArguments(argc, argv);
    const QString executable = ExecutablePath();
    const QString appPath = DirectoryWithDelimiter(executable);
    const ProgramMode mode = DecideProgramMode(appPath, BuiltForInstallation());
    // Only one copy per login, and one per portable folder: a second start ends here, silently,
    // before it needs a display.
    InstanceGuard guard(QString::fromUtf8(kApplicationTitle), {},
                        mode == ProgramMode::Portable ? appPath : QString());
    if (guard.outcome() == InstanceGuard::Outcome::NoHandle) {
        // Still no window, but the user learns why nothing started.
        std::fprintf(stderr, "%s: %s\n", kApplicationTitle, guard.problem().toLocal8Bit().constData());
        return 0;
    }
    if (guard.outcome() != InstanceGuard::Outcome::Claimed)
        return 0;

    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    // Wayland desktops match the window to its menu entry by this name.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(kApplicationId));

    const bool forwarding = ForwardTerminationSignals();
    TForm1 window(TStartup{executable, arguments, mode});
    if (forwarding)
        CloseOnForwardedSignal(window);
    window.show();
    // The programme search wants ICU's pinyin rules, which take ICU about 100 ms to compile: that is
    // done on a thread of its own once the window is up and the program first waits for events, so
    // neither the start nor the first search waits for it. The program's end waits for the thread.
    std::optional<PinyinRulesCompilation> pinyinRules;
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &window,
        [&pinyinRules] { pinyinRules.emplace(); }, Qt::SingleShotConnection);
    QApplication::exec();
    return 0;
}
