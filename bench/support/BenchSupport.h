#pragma once

// Helpers shared by the benchmarks with Qt: their application, memory from /proc, timed runs of a
// peer tool, the first paint of a widget, and schedule text in code page 936. The figures
// themselves are taken as Figures.h says.

#include "bench/support/Figures.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <iconv.h>

// The application of a benchmark with widgets: on the offscreen platform unless another one is asked
// for, and its figures printed line by line as they are measured.
class BenchApplication final : public QApplication {
public:
    BenchApplication(int& argc, char** argv) : QApplication(Prepared(argc), argv) {}

private:
    static int& Prepared(int& argc) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        return argc;
    }
};

inline double Milliseconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// A field of /proc/self/status in kilobytes ("VmRSS", "VmHWM").
inline long StatusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return 0;
}

// Makes the peak figure (VmHWM) start again from the present size.
inline void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Runs a tool with its output thrown away; ends the benchmark when the tool fails. Returns its
// time in milliseconds, start included.
inline double RunTool(const QString& program, const QStringList& arguments) {
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(1);
    }
    return Milliseconds(timer);
}

// Runs this benchmark again with `arguments`, so that a figure comes from a fresh process (the first
// time after a start, or a peak of memory of its own), and returns the numbers it printed; ends the
// benchmark when that run fails.
inline std::vector<double> RunSelf(const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(arguments.join(u' ')));
        std::exit(1);
    }
    std::vector<double> numbers;
    for (const QByteArray& field : process.readAllStandardOutput().simplified().split(' '))
        numbers.push_back(field.toDouble());
    return numbers;
}

// Notes the first paint of a widget after Arm().
class PaintWatch final : public QObject {
public:
    explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
    void Arm() { painted_ = false; }
    // Takes the window's events until the widget has been painted.
    void Wait() const {
        while (!painted_)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted_ = true;
        return false;
    }

private:
    bool painted_ = true;
};

inline QByteArray ToGbk(const QByteArray& utf8) {
    iconv_t converter = ::iconv_open("GBK", "UTF-8");
    QByteArray out(utf8.size(), Qt::Uninitialized); // GBK never needs more bytes than UTF-8
    char* in = const_cast<char*>(utf8.constData());
    char* o = out.data();
    size_t inLeft = static_cast<size_t>(utf8.size()), outLeft = static_cast<size_t>(out.size());
    ::iconv(converter, &in, &inLeft, &o, &outLeft);
    ::iconv_close(converter);
    out.truncate(out.size() - static_cast<qsizetype>(outLeft));
    return out;
}

// A schedule in code page 936 of about the given size, with all three kinds of line break and
// lines of a real listing's length.
inline QByteArray ScheduleText(qsizetype kilobytes) {
    const QByteArray day =
        ToGbk(QStringLiteral("08:00 新闻联播\r\n08:30 天气预报\r\n09:00 电视剧：大宅门(12)\r\n"
                             "10:45 ZORQ体育 足球 甲级联赛\r\n12:00 午间新闻\n13:05 纪录片 长江\r")
                  .toUtf8());
    const qsizetype target = kilobytes * 1024;
    QByteArray text;
    text.reserve(target + day.size());
    while (text.size() < target)
        text += day; // whole days only, so iconv sees no cut character
    return text;
}
