// pelnavi-xmltv as a command-line user runs it.
#include "catalogue/ListingTime.h"
#include "tests/support/QtPrinters.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the exporter; with `zone`, in that time zone (the TZ of its environment).
Outcome Exporter(const QStringList& arguments, const QByteArray& zone = {}) {
    QProcess process;
    if (!zone.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TZ"), QString::fromLatin1(zone));
        process.setProcessEnvironment(environment);
    }
    process.start(QStringLiteral(PELNAVI_XMLTV_EXPORTER), arguments);
    Outcome run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// A listing with a programme on the day before `today`, on `today` and on the day after, and `more`.
void WriteDaysAround(const QTemporaryDir& data, const QDate& today, const QString& more = {}) {
    QDir().mkpath(data.filePath(QStringLiteral("央视频道")));
    QFile listing(data.filePath(QStringLiteral("央视频道/01.txt")));
    ASSERT_TRUE(listing.open(QIODevice::WriteOnly));
    listing.write("\xEF\xBB\xBF" +
                  (today.addDays(-1).toString(u"yyyy-MM-dd") + u"\r\n08:00 昨天\r\n"_qs +
                   today.toString(u"yyyy-MM-dd") + u"\r\n08:00 今天\r\n"_qs +
                   today.addDays(1).toString(u"yyyy-MM-dd") + u"\r\n08:00 明天\r\n"_qs + more)
                      .toUtf8());
}

TEST(ExporterCommand, ArgumentsAndExitCodes) {
    QTemporaryDir data;
    WriteDaysAround(data, ListingNow().date());
    const QString out = data.filePath(QStringLiteral("out.xml"));
    const struct {
        const char* what;
        QStringList arguments;
        int exitCode;
        QByteArray inOut; // found on standard output
        QByteArray inErr; // found on standard error
    } cases[] = {
        {"help", {"--help"}, 0, "Usage: pelnavi-xmltv [--data DIR] [--days N] [-o FILE]", ""},
        {"version", {"--version"}, 0, "pelnavi-xmltv 1.32.2011916", ""},
        {"to standard output", {"--data", data.path()}, 0, "昨天", ""},
        {"one day from today", {"--data=" + data.path(), "--days", "1"}, 0, "今天", ""},
        {"unknown option", {"--colour"}, 2, "", "unknown option '--colour'"},
        {"stray argument", {"extra"}, 2, "", "unexpected argument 'extra'"},
        {"missing value", {"--data"}, 2, "", "option '--data' needs a value"},
        {"days not a number", {"--days", "x"}, 2, "", "--days takes a whole number"},
        {"days zero", {"--days", "0"}, 2, "", "--days takes a whole number"},
        {"no such data folder", {"--data", data.filePath("missing")}, 1, "", "does not exist"},
        {"output folder missing",
         {"--data", data.path(), "-o", data.filePath("no/such/out.xml")},
         1,
         "",
         "Cannot write"},
        {"to a file", {"--data", data.path(), "-o", out}, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome run = Exporter(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(c.inOut)) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(c.inErr)) << run.err.toStdString();
    }
    const Outcome oneDay = Exporter({"--data", data.path(), "--days", "1"});
    EXPECT_FALSE(oneDay.out.contains("昨天") || oneDay.out.contains("明天")) << oneDay.out.toStdString();
    QFile written(out);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray document = written.readAll();
    EXPECT_TRUE(document.contains("明天") && document.endsWith("</tv>\n"));
    EXPECT_FALSE(QFile::exists(data.filePath("no"))) << "a failed export leaves nothing";
}

// -o used to rename its document over whatever stood at the name: a pipe became a plain file, and
// as root a device node was replaced. Only a plain file (or a new one) is written whole and renamed.
TEST(ExporterCommand, WritesIntoAPipeAndRefusesWhatIsNeitherFileNorStream) {
    QTemporaryDir data;
    const QString pipe = data.filePath("pipe"), folder = data.filePath("folder"),
                  socket = data.filePath("socket");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    // The reader is there first, and the document fits in the pipe.
    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const Outcome piped = Exporter({"--data", data.path(), "-o", pipe});
    EXPECT_EQ(piped.exitCode, 0) << piped.err.toStdString();
    QByteArray document(65536, '\0');
    const ssize_t got = ::read(reader, document.data(), size_t(document.size()));
    ::close(reader);
    document.resize(got > 0 ? got : 0);
    EXPECT_TRUE(document.contains("<tv generator-info-name=\"pelnavi-xmltv\"")) << document.toStdString();
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(pipe).constData(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode)) << "still a pipe";

    ASSERT_TRUE(QDir().mkpath(folder));
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = QFile::encodeName(socket);
    ASSERT_LT(size_t(socketPath.size()), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    for (const QString& target : {folder, socket}) {
        SCOPED_TRACE(target.toStdString());
        const Outcome refused = Exporter({"--data", data.path(), "-o", target});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_TRUE(refused.err.contains("Cannot write")) << refused.err.toStdString();
    }
    ::close(listening);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    ASSERT_EQ(::stat(socketPath.constData(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode)) << "still a socket";
}

// The days of --days and the times written are Beijing time in any zone. The days used to be the
// machine's, so that in the Americas "--days 1" gave Beijing's yesterday for most of the day, and a
// time that the machine's clock skipped came out an hour late.
TEST(ExporterCommand, DaysAndTimesAreBeijingTimeInAnyZone) {
    // Of these two, one always has another date than Beijing: where the fault shows.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray farZone = now.toTimeZone(QTimeZone("Etc/GMT+12")).date() != ListingTimeOf(now).date()
                                   ? "Etc/GMT+12"
                                   : "Pacific/Kiritimati";
    for (const QByteArray& zone : {farZone, QByteArray("Europe/Berlin"), QByteArray("America/Los_Angeles")}) {
        SCOPED_TRACE(zone.toStdString());
        ASSERT_TRUE(QTimeZone(zone).isValid()) << "the time-zone data (package tzdata) is needed";
        // Written again should Beijing's midnight pass during the run.
        for (int attempt = 0; attempt < 2; ++attempt) {
            const QDate today = ListingNow().date();
            QTemporaryDir data;
            // The nights the clocks change in Berlin and in Los Angeles.
            WriteDaysAround(data, today,
                            u"2026-03-29\r\n02:30 天气\r\n03:30 早间新闻\r\n"
                            u"2026-03-08\r\n02:30 天气\r\n03:30 早间新闻\r\n"_qs);
            const Outcome oneDay = Exporter({"--data", data.path(), "--days", "1"}, zone);
            const Outcome all = Exporter({"--data", data.path()}, zone);
            if (ListingNow().date() != today)
                continue;
            EXPECT_EQ(oneDay.exitCode, 0) << oneDay.err.toStdString();
            EXPECT_TRUE(oneDay.out.contains("今天")) << oneDay.out.toStdString();
            EXPECT_FALSE(oneDay.out.contains("昨天") || oneDay.out.contains("明天"))
                << oneDay.out.toStdString();
            EXPECT_TRUE(
                all.out.contains("start=\"" + today.toString(u"yyyyMMdd").toLatin1() + "080000 +0800\""));
            for (const char* night : {"20260329", "20260308"})
                EXPECT_TRUE(all.out.contains(QByteArray("start=\"") + night + "023000 +0800\" stop=\"" +
                                             night + "033000 +0800\""))
                    << night << all.out.toStdString();
            break;
        }
    }
}

} // namespace
