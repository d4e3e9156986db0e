#pragma once

#include "guide/Guide.h"
#include "guide/GuideSearch.h"
#include "guide/Pinyin.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// The data folder's guide with its search, as the reminders need it: to follow reminders after an
// update and to list a followed show's airings. Read on a worker when asked, never at the start.
struct GuideReading {
    std::shared_ptr<const Guide> guide = std::make_shared<const Guide>(); // never null
    std::optional<GuideSearch> search;
};

class TGuideReader final : public QObject {
    Q_OBJECT
public:
    explicit TGuideReader(QObject* parent = nullptr);
    ~TGuideReader() override;

    std::function<QString()> DataFolder;
    std::function<QDateTime()> Now;

    // Reads again on a worker; Read comes when it is read. A refresh asked for while one runs reads
    // again after it.
    void Refresh();
    void WaitForRefresh();
    bool IsReading() const { return reading_; }
    // What was read last; never null.
    std::shared_ptr<const GuideReading> Last() const { return last_; }

signals:
    void Read();

private:
    static std::shared_ptr<const GuideReading> ReadGuide(const QString& dataFolder, const QDate& today,
                                                         PinyinCache& pinyin, const std::stop_token& stop);
    void StartReading();
    void ReadingDone();

    PinyinCache pinyin_; // used by one reading at a time
    QFutureWatcher<std::shared_ptr<const GuideReading>>* watcher_;
    std::stop_source stop_;
    bool reading_ = false;
    bool readAgain_ = false;
    std::shared_ptr<const GuideReading> last_ = std::make_shared<const GuideReading>();
};
