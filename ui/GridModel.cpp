#include "ui/GridModel.h"

#include "catalogue/ListingTime.h"
#include "platform/Exception.h"
#include "platform/Logging.h"

#include <QtConcurrent/QtConcurrentRun>

TGuideGridModel::TGuideGridModel(QObject* parent)
    : QObject(parent), grid_(std::make_shared<const GuideGrid>(std::make_shared<const Guide>())) {
    DataFolder = [] { return QString(); };
    Now = [] { return ListingNow(); };
    MinuteTimer = new QTimer(this);
    MinuteTimer->setObjectName(QStringLiteral("GridMinuteTimer"));
    MinuteTimer->setSingleShot(true);
    MinuteTimer->setTimerType(Qt::PreciseTimer);
    connect(MinuteTimer, &QTimer::timeout, this, [this] { MinutePassed(); });
    watcher_ = new QFutureWatcher<Reading>(this);
    connect(watcher_, &QFutureWatcherBase::finished, this, [this] { ReadingDone(); });
}

TGuideGridModel::~TGuideGridModel() {
    // The program's end waits for this; the reading stops soon when asked to.
    stopReading_.request_stop();
    watcher_->waitForFinished();
}

TGuideGridModel::Reading
TGuideGridModel::Read(const QString& dataFolder, const QDate& today, const GuideLimits& limits,
                      const std::function<void(const std::stop_token&)>& duringReading,
                      const std::stop_token& stop) {
    try {
        auto guide = std::make_shared<const Guide>(LoadGuide(dataFolder, today, limits, stop));
        if (duringReading)
            duringReading(stop);
        return {std::make_shared<const GuideGrid>(std::move(guide)), {}};
    } catch (...) {
        // An exception left on the worker would come back where the result is taken and end the
        // program; the grid shows nothing instead.
        Reading failed;
        try {
            failed.failure = CurrentExceptionMessage();
            qCWarning(lcCatalogue).noquote() << "grid: reading failed:" << failed.failure;
        } catch (...) {
            failed.failure = QStringLiteral("?");
        }
        return failed;
    }
}

void TGuideGridModel::Refresh() {
    if (reading_)
        readAgain_ = true;
    else
        StartReading();
}

void TGuideGridModel::StartReading() {
    reading_ = true;
    readAgain_ = false;
    stopReading_ = {};
    watcher_->setFuture(QtConcurrent::run(&TGuideGridModel::Read, DataFolder(), ListingTimeOf(Now()).date(),
                                          Limits, DuringReading, stopReading_.get_token()));
}

void TGuideGridModel::ReadingDone() {
    // The signal of a reading already taken by WaitForRefresh comes late, or not at all.
    if (!reading_ || !watcher_->isFinished())
        return;
    reading_ = false;
    if (readAgain_) {
        StartReading();
        return;
    }
    Reading reading = watcher_->result();
    hasRead_ = true;
    failure_ = reading.failure;
    grid_ = reading.grid ? std::move(reading.grid)
                         : std::make_shared<const GuideGrid>(std::make_shared<const Guide>());
    emit GridRead();
}

void TGuideGridModel::WaitForRefresh() {
    while (reading_) {
        watcher_->waitForFinished();
        ReadingDone();
    }
}

void TGuideGridModel::ViewShown() {
    if (viewsShown_++ == 0)
        ArmMinuteTimer();
}

void TGuideGridModel::ViewHidden() {
    if (viewsShown_ > 0 && --viewsShown_ == 0)
        MinuteTimer->stop();
}

void TGuideGridModel::MinutePassed() {
    emit Minute();
    if (viewsShown_ > 0)
        ArmMinuteTimer();
}

void TGuideGridModel::ArmMinuteTimer() {
    // A little past the boundary, so the next minute has surely begun.
    MinuteTimer->start(MillisecondsToNextMinute(Now()) + 50);
}
