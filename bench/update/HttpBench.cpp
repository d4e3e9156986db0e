// Fetches a large body from a loopback server into memory with the window's real pump, then lets
// curl fetch the same address (into /dev/null), and prints both throughputs, with a bare recv()
// loop into memory as the floor that keeping the body costs.
//   http_bench [megabytes=200] [rounds=3]

#include "bench/support/Figures.h"
#include "tests/support/LoopbackServer.h"
#include "update/IdAntiFreeze.h"
#include "update/IdHTTP.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray LargeResponse(qsizetype size) {
    QByteArray response =
        "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " + QByteArray::number(size) +
        "\r\n\r\n";
    const qsizetype head = response.size();
    response.resize(head + size);
    for (qsizetype i = 0; i < size; ++i)
        response[head + i] = static_cast<char>(i * 31 + 7);
    return response;
}

// One fetch with the client; the seconds it took, or none when it failed.
std::optional<double> ClientRound(TIdHTTP& http, const QString& address, qsizetype expected) {
    QByteArray buffer;
    const auto started = BenchClock::now();
    try {
        http.Get(address, buffer);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "client fetch failed: %s\n", e.what());
        return std::nullopt;
    }
    const double seconds = Seconds(BenchClock::now() - started);
    if (buffer.size() != expected) {
        std::fprintf(stderr, "client fetch gave %lld bytes\n", static_cast<long long>(buffer.size()));
        return std::nullopt;
    }
    return seconds;
}

// One fetch with curl; curl's own transfer time, or none when it failed.
std::optional<double> CurlRound(const QString& curl, const QString& address, const QString& output) {
    QProcess process;
    process.start(curl, {"-s", "-o", output, "-w", "%{time_total}", address});
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return std::nullopt;
    bool ok = false;
    const double seconds = QString::fromLatin1(process.readAllStandardOutput()).trimmed().toDouble(&ok);
    return ok ? std::optional<double>(seconds) : std::nullopt;
}

// The floor for any client that keeps the body: a bare recv() loop straight into a fresh buffer
// of the body's size, without parsing, events or pumping.
std::optional<double> BareReceiveRound(uint16_t port, qsizetype responseSize) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return std::nullopt;
    const char request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
    QByteArray buffer;
    buffer.resize(responseSize);
    const auto started = BenchClock::now();
    qsizetype total = 0;
    while (total < responseSize) {
        const ssize_t received =
            ::recv(fd, buffer.data() + total, std::min<qsizetype>(32768, responseSize - total), 0);
        if (received <= 0)
            break;
        total += received;
    }
    const double seconds = Seconds(BenchClock::now() - started);
    ::close(fd);
    return total == responseSize ? std::optional<double>(seconds) : std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const qsizetype megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const qsizetype size = megabytes * 1000 * 1000;

    const QByteArray response = LargeResponse(size);
    const auto server = LoopbackServer::AnsweringEveryGet(response);
    const QString address = server->Url(QStringLiteral("/download/showtime.zip?20110916210509"));

    TIdAntiFreeze antiFreeze; // the real pump: QCoreApplication::processEvents
    TIdHTTP http;
    http.HandleRedirects = true;
    std::vector<double> client;
    for (int i = 0; i < rounds; ++i)
        if (const auto seconds = ClientRound(http, address, size))
            client.push_back(*seconds);
    if (client.empty())
        return 1;
    const double clientRate = static_cast<double>(size) / 1e6 / Median(client);
    std::printf("body: %lld MB, rounds: %d\n", static_cast<long long>(megabytes), rounds);
    std::printf("TIdHTTP::Get into memory: median %.3f s, %.0f MB/s\n", Median(client), clientRate);

    std::vector<double> bare;
    for (int i = 0; i < rounds; ++i)
        if (const auto seconds = BareReceiveRound(server->Port(), response.size()))
            bare.push_back(*seconds);
    if (!bare.empty())
        std::printf("bare recv() into memory (floor): median %.3f s, %.0f MB/s\n", Median(bare),
                    static_cast<double>(size) / 1e6 / Median(bare));

    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        std::printf("curl: not installed, no comparison\n");
        return 0;
    }
    // Into /dev/null as asked, and into a file on tmpfs, where curl keeps the body as the client does.
    const QString inMemoryFile =
        QStringLiteral("/dev/shm/pelnavi_http_bench_%1").arg(QCoreApplication::applicationPid());
    double curlRate = 0;
    for (const QString& output : {QStringLiteral("/dev/null"), inMemoryFile}) {
        std::vector<double> curlTimes;
        for (int i = 0; i < rounds; ++i)
            if (const auto seconds = CurlRound(curl, address, output))
                curlTimes.push_back(*seconds);
        QFile::remove(inMemoryFile);
        if (curlTimes.empty()) {
            std::printf("curl -o %s: failed\n", qPrintable(output));
            continue;
        }
        const double rate = static_cast<double>(size) / 1e6 / Median(curlTimes);
        std::printf("curl -s -o %s: median %.3f s, %.0f MB/s\n", qPrintable(output), Median(curlTimes), rate);
        if (curlRate == 0)
            curlRate = rate;
    }
    if (curlRate > 0)
        std::printf("client / curl (-o /dev/null) throughput: %.2fx\n", clientRate / curlRate);
    return 0;
}
