#include "ui/GuideReading.h"

#include "catalogue/ListingTime.h"
#include "platform/Exception.h"
#include "platform/Logging.h"

#include <QtConcurrent/QtConcurrentRun>

TGuideReader::TGuideReader(QObject* parent) : QObject(parent) {
    DataFolder = [] { return QString(); };
    Now = [] { return ListingNow(); };
    watcher_ = new QFutureWatcher<std::shared_ptr<const GuideReading>>(this);
    connect(watcher_, &QFutureWatcherBase::finished, this, &TGuideReader::ReadingDone);
}

TGuideReader::~TGuideReader() {
    // The reading uses the pinyin cache: it ends before the reader does, soon when asked to.
    stop_.request_stop();
    watcher_->waitForFinished();
}

std::shared_ptr<const GuideReading> TGuideReader::ReadGuide(const QString& dataFolder, const QDate& today,
                                                            PinyinCache& pinyin,
                                                            const std::stop_token& stop) {
    try {
        auto reading = std::make_shared<GuideReading>();
        reading->guide = std::make_shared<const Guide>(LoadGuide(dataFolder, today, {}, stop));
        reading->search.emplace(reading->guide, pinyin, stop);
        return reading;
    } catch (...) {
        // Left on the worker, it would end the program where the result is taken.
        try {
            qCWarning(lcCatalogue).noquote() << "reminders: reading failed:" << CurrentExceptionMessage();
        } catch (...) {
        }
        return nullptr;
    }
}

void TGuideReader::Refresh() {
    if (reading_)
        readAgain_ = true;
    else
        StartReading();
}

void TGuideReader::StartReading() {
    reading_ = true;
    readAgain_ = false;
    stop_ = {};
    watcher_->setFuture(QtConcurrent::run(&TGuideReader::ReadGuide, DataFolder(), ListingTimeOf(Now()).date(),
                                          std::ref(pinyin_), stop_.get_token()));
}

void TGuideReader::ReadingDone() {
    if (!reading_ || !watcher_->isFinished())
        return;
    reading_ = false;
    if (readAgain_) {
        StartReading();
        return;
    }
    // A failed reading keeps what was read before.
    if (std::shared_ptr<const GuideReading> reading = watcher_->result())
        last_ = std::move(reading);
    emit Read();
}

void TGuideReader::WaitForRefresh() {
    while (reading_) {
        watcher_->waitForFinished();
        ReadingDone();
    }
}
