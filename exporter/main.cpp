// pelnavi-xmltv: writes the listings of a data folder as one XMLTV document.
#include "catalogue/ListingTime.h"
#include "exporter/XmltvExport.h"
#include "platform/AppPaths.h"
#include "platform/Exception.h"
#include "platform/FileDescriptor.h"
#include "platform/ProgramPlaces.h"
#include "platform/SystemMessage.h"
#include "platform/Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kMaxDays = 3660;

const char kUsageText[] = "Usage: pelnavi-xmltv [--data DIR] [--days N] [-o FILE]\n"
                          "Writes the channel listings of a Pelnavi data folder as one XMLTV document.\n"
                          "\n"
                          "  --data DIR   the data folder (default: the program's own)\n"
                          "  --days N     only programmes of the N days from today on\n"
                          "  -o FILE      write to FILE instead of standard output\n"
                          "  --help       show this text\n"
                          "  --version    show the version\n"
                          "\n"
                          "Exit status: 0 done, 1 failed, 2 wrong usage.\n";

struct Options {
    QString dataFolder;
    std::optional<int> days;
    QString output;
};

int Usage(const QString& problem) {
    std::fprintf(stderr, "pelnavi-xmltv: %s\nTry 'pelnavi-xmltv --help'.\n", qPrintable(problem));
    return kUsage;
}

// An option as the user typed it: "--name" or "-name", without a value given with "=".
QString AsTyped(const QStringList& arguments, const QString& name) {
    for (const QString& argument : arguments.sliced(1)) {
        QString typed = argument.section(u'=', 0, 0);
        if (typed == QStringLiteral("--") + name || typed == u'-' + name)
            return typed;
    }
    return QStringLiteral("--") + name;
}

// Empty optional with the exit code when the run ends here (help, version, wrong usage).
std::optional<Options> Parse(const QStringList& arguments, int& exitCode) {
    QCommandLineParser parser;
    // "-o", "--data" and "--data=DIR"; a single dash never packs several one-letter options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption data(QStringLiteral("data"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption days(QStringLiteral("days"), QString(), QStringLiteral("N"));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")}, QString(),
                                    QStringLiteral("FILE"));
    parser.addOptions({help, version, data, days, output});
    if (!parser.parse(arguments)) {
        // The parser's own words are of its own style; a value is missing only after the last argument.
        exitCode = !parser.unknownOptionNames().isEmpty()
                       ? Usage(QStringLiteral("unknown option '%1'")
                                   .arg(AsTyped(arguments, parser.unknownOptionNames().constFirst())))
                       : Usage(QStringLiteral("option '%1' needs a value").arg(arguments.constLast()));
        return std::nullopt;
    }
    if (parser.isSet(help)) {
        std::fputs(kUsageText, stdout);
        exitCode = kDone;
        return std::nullopt;
    }
    if (parser.isSet(version)) {
        std::printf("pelnavi-xmltv %s\n", kVersionText);
        exitCode = kDone;
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        exitCode =
            Usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));
        return std::nullopt;
    }
    Options options;
    options.dataFolder = parser.value(data);
    options.output = parser.value(output);
    if (parser.isSet(days)) {
        bool number = false;
        const int count = parser.value(days).toInt(&number);
        if (!number || count < 1 || count > kMaxDays) {
            exitCode = Usage(QStringLiteral("--days takes a whole number from 1 to %1").arg(kMaxDays));
            return std::nullopt;
        }
        options.days = count;
    }
    return options;
}

// Whether something other than a plain file stands at the output's name: renaming over it would
// put a plain file in its place (a pipe, a terminal, as root even a device).
bool StandsAsStream(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode);
}

// A pipe or a character device (a terminal, /dev/null) takes the document as it is written; anything
// else that is not a plain file (a folder, a socket, a disk) is refused.
int ExportToStream(const QString& dataFolder, const QString& path, const ExportRange& range) {
    const auto fail = [&](const QString& why) {
        return Exception(QStringLiteral("Cannot write \"%1\": %2").arg(path, why));
    };
    const FileDescriptor file(::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0)
        throw fail(ErrnoMessageText(errno));
    if (!S_ISFIFO(status.st_mode) && !S_ISCHR(status.st_mode))
        throw fail(QStringLiteral("neither a file nor a pipe nor a character device"));
    QFile out;
    if (!out.open(file.get(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        throw fail(out.errorString());
    WriteXmltv(dataFolder, out, range);
    if (!out.flush())
        throw fail(out.errorString());
    return kDone;
}

int Export(const Options& options) {
    // The program's own data folder: beside it when portable, in the user's folders when installed.
    const QString appPath = DirectoryWithDelimiter(ExecutablePath());
    const QString dataFolder =
        options.dataFolder.isEmpty()
            ? PlacesFor(DecideProgramMode(appPath, BuiltForInstallation()), appPath).DataFolder
            : options.dataFolder;
    const ExportRange range = options.days ? DaysFrom(ListingNow(), *options.days) : ExportRange{};
    if (options.output.isEmpty() || options.output == u"-") {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly))
            throw Exception(QStringLiteral("Cannot write to standard output"));
        WriteXmltv(dataFolder, out, range);
        if (!out.flush())
            throw Exception(QStringLiteral("Cannot write to standard output"));
        return kDone;
    }
    if (StandsAsStream(options.output))
        return ExportToStream(dataFolder, options.output, range);
    // Written whole under a temporary name first, so a failed export leaves no half document.
    QSaveFile out(options.output);
    if (!out.open(QIODevice::WriteOnly))
        throw Exception(QStringLiteral("Cannot write \"%1\": %2").arg(options.output, out.errorString()));
    WriteXmltv(dataFolder, out, range);
    if (!out.commit())
        throw Exception(QStringLiteral("Cannot write \"%1\": %2").arg(options.output, out.errorString()));
    return kDone;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    int exitCode = kDone;
    const std::optional<Options> options = Parse(QCoreApplication::arguments(), exitCode);
    if (!options)
        return exitCode;
    try {
        return Export(*options);
    } catch (const Exception& error) {
        std::fprintf(stderr, "pelnavi-xmltv: %s\n", error.what());
        return kFailed;
    }
}
