// Unpacks a package of 5,000 listing files (about 50 MB, deflate) through the binding and with
// "7z x", alternately, and prints the times. Usage: archive_bench [rounds [folder]]; the folder to
// work in defaults to the system's temporary folder (a tmpfs such as /dev/shm takes the disk out).
#include "archive/Unit_sevenzip.h"
#include "bench/support/Figures.h"
#include "platform/Exception.h"
#include "tests/support/ZipWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFiles = 5000;
constexpr int kFileSize = 10'000;

// A day's listing: times, a GBK programme name, a running number, as the packages hold them.
QByteArray Listing(int channel) {
    static const QByteArray name = QByteArray::fromHex("d0c2cec5c1aabbb2"); // 新闻联播
    QByteArray text;
    text.reserve(kFileSize + 64);
    for (int line = 0; text.size() < kFileSize; ++line)
        text += QByteArray::number(line / 4 % 24).rightJustified(2, '0') + ':' +
                QByteArray::number(line * 15 % 60).rightJustified(2, '0') + ' ' + name +
                QByteArray::number(channel * 131 + line * 7) + "\r\n";
    text.truncate(kFileSize);
    return text;
}

QByteArray BuildPackage() {
    const QByteArray classes[] = {
        QByteArray::fromHex("d1ebcad3c6b5b5c0"), QByteArray::fromHex("b5d8b7bdc6b5b5c0"),
        QByteArray::fromHex("cafdd7d6c6b5b5c0"), QByteArray::fromHex("beb3cde2c6b5b5c0")};
    ZipWriter zip;
    for (int i = 0; i < kFiles; ++i)
        zip.AddFile(classes[i % 4] + "/channel" + QByteArray::number(i) + ".txt", Listing(i));
    return zip.Bytes();
}

void RemoveTree(const QString& path) {
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(path).toStdString(), ignored);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    PrintLoad("before");
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const auto workPlace =
        argc > 2 ? std::make_unique<QTemporaryDir>(QString::fromLocal8Bit(argv[2]) + "/archive_bench-XXXXXX")
                 : std::make_unique<QTemporaryDir>();
    const QTemporaryDir& work = *workPlace;
    if (!work.isValid() || ::chdir(QFile::encodeName(work.path()).constData()) != 0)
        return 1;
    try {
        ExtractResourceToFile("7z", "dll", "7z.dll");
        const QByteArray package = BuildPackage();
        QFile file(work.filePath("package.zip"));
        if (!file.open(QIODevice::WriteOnly) || file.write(package) != package.size())
            return 1;
        file.close();
        std::printf("package: %d files, %.1f MB unpacked, %.1f MB packed\n", kFiles, kFiles * kFileSize / 1e6,
                    static_cast<double>(package.size()) / 1e6);

        std::vector<double> ours, command, oursCpu, commandCpu;
        // Each run starts from a removed folder; the order alternates, as removing many files just
        // before slows down the file creation that follows.
        const auto runBinding = [&] {
            RemoveTree(work.filePath("ours"));
            QElapsedTimer timer;
            const double cpu = CpuMilliseconds(RUSAGE_SELF);
            timer.start();
            {
                I7zInArchivePtr archive = MakeInArchive(CLSID_CFormatZip);
                archive->OpenArchiveFile(work.filePath("package.zip"));
                archive->ExtractIntoFolder(work.filePath("ours"));
            }
            ours.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            oursCpu.push_back(CpuMilliseconds(RUSAGE_SELF) - cpu);
        };
        const auto runCommand = [&] {
            // The command writes the GBK names as raw bytes, which only a byte-wise removal handles.
            RemoveTree(work.filePath("command"));
            QElapsedTimer timer;
            const double cpu = CpuMilliseconds(RUSAGE_CHILDREN);
            timer.start();
            QProcess sevenZip;
            sevenZip.start("7z",
                           {"x", "-y", "-bso0", "-bsp0", "-o" + work.filePath("command"), "package.zip"});
            if (!sevenZip.waitForFinished(600000) || sevenZip.exitCode() != 0)
                throw Exception("7z x failed: " + sevenZip.readAllStandardError());
            command.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            commandCpu.push_back(CpuMilliseconds(RUSAGE_CHILDREN) - cpu);
        };
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                runBinding();
                runCommand();
            } else {
                runCommand();
                runBinding();
            }
            std::printf("round %d: binding %.1f ms (cpu %.1f), 7z x %.1f ms (cpu %.1f)\n", round + 1,
                        ours.back(), oursCpu.back(), command.back(), commandCpu.back());
        }
        const double a = Median(ours), b = Median(command);
        std::printf("median wall: binding %.1f ms, 7z x %.1f ms, ratio %.2f (goal <= 1.20)\n", a, b, a / b);
        const double c = Median(oursCpu), d = Median(commandCpu);
        std::printf("median cpu:  binding %.1f ms, 7z x %.1f ms, ratio %.2f\n", c, d, c / d);
        PrintLoad("after");
        RemoveTree(work.filePath("ours"));
        RemoveTree(work.filePath("command"));
    } catch (const Exception& error) {
        std::printf("error: %s\n", error.what());
        return 1;
    }
    return 0;
}
