// The download step with a large package, against curl:
//  1. fetch + save into a folder: the client streaming into the package's temporary file (fdatasync
//     and rename included), the client collecting the body in memory and then saving it (the way it
//     was done before), and `curl -s -o` into the same folder (with and without an fdatasync of its
//     file afterwards); each with the rise of this process's peak memory.
//  2. with the path of the program: a whole `-up` update of the same package by the real program
//     (a copy in a temporary folder, offscreen), its memory when idle and at its peak.
//   download_bench [megabytes=200] [rounds=3] [folder=current directory] [program]

#include "bench/support/Figures.h"
#include "bench/update/SyncedFile.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ZipWriter.h"
#include "update/IdAntiFreeze.h"
#include "update/IdHTTP.h"
#include "update/PackageDownload.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A value in kB from /proc/<pid>/status ("VmRSS", "VmHWM"); -1 when it cannot be read.
long StatusKb(qint64 pid, const char* field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').first().toLong();
    return -1;
}

long OwnPeakKb() {
    return StatusKb(QCoreApplication::applicationPid(), "VmHWM");
}

// Listing-like text, different in every item, so the package is large and stored as is.
QByteArray Package(qsizetype megabytes) {
    ZipWriter zip;
    const qsizetype itemSize = 4'000'000;
    QByteArray line = "06:00 Programme 0000000\r\n";
    for (qsizetype item = 0; item * itemSize < megabytes * 1000 * 1000; ++item) {
        QByteArray text;
        text.reserve(itemSize);
        for (qsizetype n = 0; text.size() < itemSize; ++n)
            text += "06:00 Programme " + QByteArray::number(item * 1000000 + n) + "\r\n";
        zip.AddFile("bench/" + QByteArray::number(item) + ".txt", text,
                    {ZipWriter::Method::Stored, false, {}});
    }
    return zip.Bytes();
}

struct Round {
    double seconds;
    long peakRiseKb;
};

std::optional<Round> Measure(const std::function<bool()>& run) {
    const long before = OwnPeakKb();
    const auto started = BenchClock::now();
    if (!run())
        return std::nullopt;
    return Round{Seconds(BenchClock::now() - started), OwnPeakKb() - before};
}

void Report(const char* what, const std::vector<Round>& rounds) {
    if (rounds.empty()) {
        std::printf("%-48s failed\n", what);
        return;
    }
    std::vector<double> seconds;
    long peak = 0;
    for (const Round& round : rounds) {
        seconds.push_back(round.seconds);
        peak = std::max(peak, round.peakRiseKb);
    }
    std::printf("%-48s median %.3f s, peak memory rise %ld kB\n", what, Median(seconds), peak);
}

// The whole -up update by the real program; prints its idle and peak memory.
void WholeUpdate(const QString& program, const QString& address, qsizetype itemCount) {
    QTemporaryDir folder;
    const QString copy = folder.path() + QStringLiteral("/pelnavi");
    if (!QFile::copy(program, copy)) {
        std::printf("cannot copy %s\n", qPrintable(program));
        return;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PELNAVI_PACKAGE_URL"), address);
    environment.insert(QStringLiteral("PELNAVI_PROBE_URL"), address);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.path());
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder.path());
    process.start(copy, {QStringLiteral("-up")});
    if (!process.waitForStarted())
        return;
    const qint64 pid = process.processId();
    // The update starts two seconds after the start; the window is up well before.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const long idle = StatusKb(pid, "VmRSS");
    const QString last = folder.path() + QStringLiteral("/ZORQListTemp/bench/%1.txt").arg(itemCount - 1);
    const auto started = BenchClock::now();
    bool done = false;
    while (!done && BenchClock::now() - started < std::chrono::minutes(5) &&
           process.state() == QProcess::Running) {
        done = QFileInfo(last).size() >= 4'000'000;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the rescan after the extraction
    const long peak = StatusKb(pid, "VmHWM");
    process.kill();
    process.waitForFinished();
    if (!done) {
        std::printf("whole -up update: did not finish (offline, or the package was refused)\n");
        return;
    }
    std::printf("whole -up update: idle %ld kB, peak %ld kB, peak - idle %ld kB\n", idle, peak, peak - idle);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const qsizetype megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const QString base = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QDir::currentPath();
    const QString program = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();

    const QByteArray package = Package(megabytes);
    const qsizetype items = (megabytes * 1000 * 1000 + 3999999) / 4000000;
    const auto server = LoopbackServer::AnsweringEveryGet(
        "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
        QByteArray::number(package.size()) + "\r\n\r\n" + package);
    const QString address = server->Url(QStringLiteral("/download/showtime.zip"));
    QTemporaryDir folder(base + QStringLiteral("/download_bench_XXXXXX"));
    const QString dataFolder = folder.path() + u'/';
    std::printf("package: %.1f MB in %lld items, folder: %s\n", static_cast<double>(package.size()) / 1e6,
                static_cast<long long>(items), qPrintable(dataFolder));

    TIdAntiFreeze antiFreeze; // the real pump: QCoreApplication::processEvents
    TIdHTTP http;
    http.HandleRedirects = true;
    const QString request = address + QStringLiteral("?20110916210509");

    std::vector<Round> streamed, collected, curlRounds, curlSynced;
    std::vector<double> replaceSeconds; // of the streaming rounds: the fdatasync and the rename
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    // Paired: the client, then curl, in each round, so both meet the same load.
    for (int i = 0; i < rounds; ++i) {
        if (auto round = Measure([&] {
                PackageFile file(dataFolder, QStringLiteral("zorq.zip"));
                http.Get(request, file);
                if (file.Size() != package.size())
                    return false;
                const auto replacing = BenchClock::now();
                file.Replace();
                replaceSeconds.push_back(Seconds(BenchClock::now() - replacing));
                return true;
            }))
            streamed.push_back(*round);
        // Out of the clock, as curl's file below: neither write meets an earlier file to free.
        QFile::remove(dataFolder + QStringLiteral("zorq.zip"));
        if (curl.isEmpty())
            continue;
        const QString output = dataFolder + QStringLiteral("curl.zip");
        double curlSeconds = 0;
        if (auto round = Measure([&] {
                QProcess process;
                process.start(curl, {"-s", "-o", output, "-w", "%{time_total}", request});
                bool ok = process.waitForFinished(300000) && process.exitCode() == 0;
                curlSeconds = QString::fromLatin1(process.readAllStandardOutput()).toDouble(&ok);
                return ok;
            })) {
            curlRounds.push_back({curlSeconds, 0});
            const auto started = BenchClock::now();
            if (FdatasyncFile(output))
                curlSynced.push_back({curlSeconds + Seconds(BenchClock::now() - started), 0});
        }
        QFile::remove(output);
    }
    // Last, since it raises this process's peak for good: the body collected in memory, then saved.
    for (int i = 0; i < rounds; ++i) {
        if (auto round = Measure([&] {
                QByteArray buffer;
                http.Get(request, buffer);
                if (buffer.size() != package.size())
                    return false;
                SavePackage(buffer, dataFolder, QStringLiteral("zorq.zip"));
                return true;
            }))
            collected.push_back(*round);
    }

    Report("client streaming into the folder (with fdatasync)", streamed);
    if (!replaceSeconds.empty())
        std::printf("  of which fdatasync and rename                 median %.3f s\n",
                    Median(replaceSeconds));
    Report("client into memory, then saved (with fdatasync)", collected);
    if (curl.isEmpty()) {
        std::printf("curl: not installed, no comparison\n");
    } else {
        Report("curl -s -o into the folder (its own time)", curlRounds);
        Report("curl -s -o, then fdatasync of its file", curlSynced);
        if (!streamed.empty() && !curlRounds.empty()) {
            std::vector<double> a, b, c;
            for (const Round& r : streamed)
                a.push_back(r.seconds);
            for (const Round& r : curlRounds)
                b.push_back(r.seconds);
            for (const Round& r : curlSynced)
                c.push_back(r.seconds);
            std::printf("streaming / curl -o: %.2fx; streaming / (curl -o + fdatasync): %.2fx\n",
                        Median(a) / Median(b), c.empty() ? 0.0 : Median(a) / Median(c));
        }
    }
    if (!program.isEmpty())
        WholeUpdate(program, address, items);
    return 0;
}
