// Fetch + save of a large package over https on the loopback address, against curl -o from the same
// server with the same authority (--cacert): the client streaming into the package's temporary file
// (fdatasync and rename included), and curl writing its file, alone and with an fdatasync of it after.
// Every round of either opens a new connection, handshake included. Rounds are paired, so both meet
// the same load; the load average is printed beside the figures.
//   https_bench [megabytes=200] [rounds=3] [folder=current directory]

#include "bench/support/Figures.h"
#include "bench/update/SyncedFile.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TestAuthority.h"
#include "update/IdAntiFreeze.h"
#include "update/IdHTTP.h"
#include "update/PackageDownload.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

QByteArray PackageResponse(qsizetype size) {
    QByteArray response =
        "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " + QByteArray::number(size) +
        "\r\n\r\n";
    const qsizetype head = response.size();
    response.resize(head + size);
    uint32_t state = 2463534242u; // xorshift: bytes that look like a compressed package
    for (qsizetype i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        response[head + i] = static_cast<char>(state);
    }
    return response;
}

// The whole time, and the part of it that the fdatasync and the rename took.
std::optional<std::pair<double, double>> ClientRound(TIdHTTP& http, const QString& address,
                                                     const QString& folder, qsizetype size) {
    http.Disconnect(); // a new connection and handshake, as curl makes
    const auto started = BenchClock::now();
    auto replacing = started;
    try {
        PackageFile file(folder, QStringLiteral("zorq.zip"));
        http.Get(address, file);
        if (file.Size() != size)
            return std::nullopt;
        replacing = BenchClock::now();
        file.Replace();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "client fetch failed: %s\n", e.what());
        return std::nullopt;
    }
    const auto ended = BenchClock::now();
    return std::pair{Seconds(ended - started), Seconds(ended - replacing)};
}

// curl's own transfer time, and that time with the fdatasync of its file after it.
std::optional<std::pair<double, double>> CurlRound(const QString& curl, const QString& authority,
                                                   const QString& address, const QString& output) {
    QProcess process;
    process.start(curl, {"-s", "--cacert", authority, "-o", output, "-w", "%{time_total}", address});
    if (!process.waitForFinished(300000) || process.exitCode() != 0) {
        std::fprintf(stderr, "curl failed: %s\n", process.readAllStandardError().constData());
        return std::nullopt;
    }
    bool ok = false;
    const double seconds = QString::fromLatin1(process.readAllStandardOutput()).trimmed().toDouble(&ok);
    const auto syncing = BenchClock::now();
    if (!ok || !FdatasyncFile(output))
        return std::nullopt;
    return std::pair{seconds, seconds + Seconds(BenchClock::now() - syncing)};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const qsizetype megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const QString base = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QDir::currentPath();
    const qsizetype size = megabytes * 1000 * 1000;

    QTemporaryDir folder(base + QStringLiteral("/https_bench_XXXXXX"));
    const QString dataFolder = folder.path() + u'/';
    const TestAuthority authority;
    const QString authorityFile = dataFolder + QStringLiteral("authority.pem");
    authority.WriteCertificate(authorityFile);
    qputenv("SSL_CERT_FILE", QFile::encodeName(authorityFile));
    qunsetenv("SSL_CERT_DIR");
    const auto server = LoopbackServer::AnsweringEveryGet(PackageResponse(size),
                                                          authority.Issue("DNS:localhost,IP:127.0.0.1"));
    const QString address =
        server->UrlAt(QStringLiteral("localhost"), QStringLiteral("/download/showtime.zip"));
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    std::printf("package: %lld MB over https, rounds: %d, folder: %s\nload average before: %s\n",
                static_cast<long long>(megabytes), rounds, qPrintable(dataFolder), LoadAverage().c_str());

    TIdAntiFreeze antiFreeze; // the real pump: QCoreApplication::processEvents
    TIdHTTP http;
    http.HandleRedirects = true;
    std::vector<double> client, clientFetch, curlOwn, curlSynced;
    for (int i = 0; i < rounds; ++i) {
        if (const auto seconds = ClientRound(http, address, dataFolder, size)) {
            client.push_back(seconds->first);
            clientFetch.push_back(seconds->first - seconds->second);
        }
        QFile::remove(dataFolder + QStringLiteral("zorq.zip"));
        if (curl.isEmpty())
            continue;
        const QString output = dataFolder + QStringLiteral("curl.zip");
        if (const auto seconds = CurlRound(curl, authorityFile, address, output)) {
            curlOwn.push_back(seconds->first);
            curlSynced.push_back(seconds->second);
        }
        QFile::remove(output);
    }
    if (client.empty())
        return 1;
    std::printf("client fetch + save (fdatasync, rename)  median %.3f s, %.0f MB/s\n", Median(client),
                static_cast<double>(size) / 1e6 / Median(client));
    std::printf("  without the fdatasync and rename       median %.3f s\n", Median(clientFetch));
    if (curlOwn.empty()) {
        std::printf("curl: not installed or failed, no comparison\n");
        return 0;
    }
    std::printf("curl --cacert -o (its own time)          median %.3f s\n", Median(curlOwn));
    std::printf("curl --cacert -o, then fdatasync         median %.3f s\n", Median(curlSynced));
    std::printf("client / (curl -o + fdatasync): %.2fx; client / curl -o: %.2fx; "
                "client without fdatasync / curl -o: %.2fx\n",
                Median(client) / Median(curlSynced), Median(client) / Median(curlOwn),
                Median(clientFetch) / Median(curlOwn));
    std::printf("load average after: %s\n", LoadAverage().c_str());
    return 0;
}
