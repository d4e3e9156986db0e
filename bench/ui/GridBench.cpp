// Prints what the programme grid costs over 500 channels of 8 days each (about 160,000 programmes),
// each figure beside its goal:
//   - opening the page once the model is read: from show() until the grid's first paint;
//   - a full repaint of a maximised 1920 x 1080 grid while it scrolls: median and 99th percentile
//     over 400 frames, each scrolled on from the one before;
//   - memory beyond the guide model: the heap the boxes, one day's rows and the painted titles'
//     widths take, per 10,000 programmes.
//
//   grid_bench                       the figures
//   grid_bench --screenshot OUT.png [DATA]   the grid's window over DATA (a data folder), for the README

#include "bench/support/BenchSupport.h"
#include "catalogue/ListingTime.h"
#include "ui/GridPage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>

#include <cstdio>

#include <malloc.h>

namespace {

constexpr int kChannels = 500;
constexpr int kDays = 8;

// One channel's listing: a title line, then per day about 40 programmes of a real listing's kind.
QByteArray ChannelText(int channel, const QDate& firstDay) {
    static const char16_t* const kShows[] = {
        u"朝闻天下",   u"新闻30分", u"今日说法", u"焦点访谈",     u"动物世界",
        u"快乐大本营", u"天天向上", u"星光大道", u"Evening News", u"NBA常规赛：湖人vs勇士",
        u"人与自然",   u"天气预报"};
    QString text =
        (channel % 2 ? QStringLiteral("Channel %1 HD") : QStringLiteral("频道%1 高清")).arg(channel) +
        QStringLiteral(" 一周节目预告\n\n");
    for (int day = 0; day < kDays; ++day) {
        text += firstDay.addDays(day).toString(QStringLiteral("yyyy-MM-dd\n"));
        for (int slot = 0; slot < 40; ++slot) {
            const int minute = slot * 36 + (channel + slot) % 7;
            const QString title = slot % 3 == 0
                                      ? QStringLiteral("电视剧：山海情长(%1)").arg(day * 14 + slot / 3)
                                      : QString::fromUtf16(kShows[(channel + slot) % 12]);
            text += QStringLiteral("%1:%2 ")
                        .arg(minute / 60, 2, 10, QChar(u'0'))
                        .arg(minute % 60, 2, 10, QChar(u'0')) +
                    title + u'\n';
        }
    }
    return "\xEF\xBB\xBF" + text.toUtf8();
}

void WriteDataFolder(const QString& dataFolder, const QDate& firstDay) {
    const char16_t* const kClasses[] = {u"央视频道", u"地方频道", u"数字频道", u"境外频道"};
    for (const char16_t* name : kClasses)
        QDir().mkpath(dataFolder + QString::fromUtf16(name));
    for (int c = 0; c < kChannels; ++c) {
        QFile file(dataFolder + QString::fromUtf16(kClasses[c % 4]) +
                   QStringLiteral("/channel%1.txt").arg(c, 3, 10, QChar(u'0')));
        if (!file.open(QIODevice::WriteOnly))
            std::exit(1);
        file.write(ChannelText(c, firstDay));
    }
}

// Bytes in use on the heap, large blocks of their own included.
size_t HeapBytes() {
    ::malloc_trim(0);
    const struct mallinfo2 heap = ::mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

qsizetype ProgrammeCount(const Guide& guide) {
    qsizetype count = 0;
    for (const GuideChannel& channel : guide.channels)
        for (const ScheduleDay& day : channel.schedule.days)
            count += day.programmes.size();
    return count;
}

int Screenshot(const QString& out, const QString& dataFolder, const QDateTime& now) {
    TGridPage page(nullptr);
    page.Model->DataFolder = [dataFolder] { return dataFolder; };
    page.Model->Now = [now] { return now; };
    page.OpenWindow();
    page.Window->resize(900, 420);
    page.Model->WaitForRefresh();
    page.Window->View->Grid->ScrollToTime(now.toMSecsSinceEpoch());
    page.Window->View->Grid->GoToNow();
    QCoreApplication::processEvents();
    return page.Window->grab().save(out) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QDate today = ListingNow().date();
    const QDateTime now = ListingInstant(today, QTime(19, 10));
    if (argc >= 3 && qstrcmp(argv[1], "--screenshot") == 0) {
        QTemporaryDir root;
        QString data =
            argc >= 4 ? QString::fromLocal8Bit(argv[3]) : root.path() + QStringLiteral("/ZORQListTemp/");
        if (!data.endsWith(u'/'))
            data += u'/';
        if (argc < 4)
            WriteDataFolder(data, today);
        return Screenshot(QString::fromLocal8Bit(argv[2]), data, now);
    }

    PrintLoad();
    QTemporaryDir root;
    const QString dataFolder = root.path() + QStringLiteral("/ZORQListTemp/");
    WriteDataFolder(dataFolder, today.addDays(-1));

    // Memory beyond the guide model.
    auto guide = std::make_shared<const Guide>(LoadGuide(dataFolder, today));
    const qsizetype programmes = ProgrammeCount(*guide);
    const size_t withGuide = HeapBytes();
    size_t beyond = 0;
    {
        auto grid = std::make_shared<const GuideGrid>(guide);
        TProgrammeGrid view;
        view.Now = [now] { return QDateTime(now); };
        view.resize(1920, 1080);
        view.ShowDay(grid, today, QStringLiteral("所有频道"));
        view.show();
        // Every programme of the day painted once, so that each title's width is kept.
        for (int y = 0; y <= view.verticalScrollBar()->maximum(); y += view.verticalScrollBar()->pageStep()) {
            view.verticalScrollBar()->setValue(y);
            for (int x = 0; x <= view.horizontalScrollBar()->maximum();
                 x += view.horizontalScrollBar()->pageStep()) {
                view.horizontalScrollBar()->setValue(x);
                view.viewport()->repaint();
            }
        }
        beyond = HeapBytes() - withGuide;
    }
    std::printf("memory beyond the guide model: %.3f MiB for %lld programmes = %.3f MiB per 10,000 "
                "(goal <= 0.5)\n",
                static_cast<double>(beyond) / (1 << 20), static_cast<long long>(programmes),
                static_cast<double>(beyond) / (1 << 20) * 10000 / static_cast<double>(programmes));
    guide.reset();

    // Opening the page once the model is read.
    TGridPage page(nullptr);
    page.Model->DataFolder = [dataFolder] { return QString(dataFolder); };
    page.Model->Now = [now] { return QDateTime(now); };
    page.resize(616, 361);
    QElapsedTimer timer;
    timer.start();
    page.Model->Refresh();
    page.Model->WaitForRefresh();
    std::printf("reading the model (on the worker): %.1f ms\n", Milliseconds(timer));
    PaintWatch painted(page.View->Grid->viewport());
    painted.Arm();
    timer.restart();
    page.show();
    painted.Wait();
    std::printf("opening the page until the first paint: %.1f ms (goal <= 100)\n", Milliseconds(timer));
    page.Model->WaitForRefresh();

    // Full repaints of a maximised grid while it scrolls.
    page.OpenWindow();
    page.Window->resize(1920, 1080);
    QCoreApplication::processEvents();
    TProgrammeGrid& grid = *page.Window->View->Grid;
    std::vector<double> frames;
    std::vector<double> processorFrames; // the window's thread alone: what the paint costs on a free core
    for (int frame = 0; frame < 400; ++frame) {
        QScrollBar* across = grid.horizontalScrollBar();
        QScrollBar* down = grid.verticalScrollBar();
        across->setValue(across->value() + 37 > across->maximum() ? 0 : across->value() + 37);
        down->setValue(down->value() + 11 > down->maximum() ? 0 : down->value() + 11);
        const double processorBefore = ThreadCpuMilliseconds();
        timer.restart();
        grid.viewport()->repaint();
        frames.push_back(Milliseconds(timer));
        processorFrames.push_back(ThreadCpuMilliseconds() - processorBefore);
    }
    std::sort(frames.begin(), frames.end());
    std::sort(processorFrames.begin(), processorFrames.end());
    std::printf("full repaint of a 1920 x 1080 grid while scrolling: median %.2f ms (goal <= 4), "
                "99th percentile %.2f ms (goal <= 8), %d rows of %d in view\n",
                Median(frames), frames[frames.size() * 99 / 100], static_cast<int>(grid.RowsInView()),
                static_cast<int>(grid.Day().RowCount()));
    std::printf("  the same in the window thread's processor time: median %.2f ms, 99th percentile %.2f ms\n",
                Median(processorFrames), processorFrames[processorFrames.size() * 99 / 100]);
    return 0;
}
