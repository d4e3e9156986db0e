#pragma once

#include "guide/Guide.h"
#include "guide/GuideSearch.h"
#include "guide/Pinyin.h"

#include <QDateTime>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

// The page "正在播出": what is on now on every channel of the data folder, and the programme search.
// A thin view over the guide; it reads the data folder itself and never the window's lists.
class TOnAirPage final : public QWidget {
    Q_OBJECT
public:
    explicit TOnAirPage(QWidget* parent = nullptr);
    ~TOnAirPage() override;

    QLineEdit* SearchEdit;
    QTreeWidget* OnAirList; // 频道 | 正在播出 | 开始 | 接下来 | 开始
    QTreeWidget* MatchList; // 日期 | 时间 | 频道 | 节目
    QTimer* SearchDelay;    // the pause after typing before the search runs
    QTimer* MinuteTimer;    // runs while the page is shown

    // Where the listings are and what time it is; replaceable by tests.
    std::function<QString()> DataFolder;
    std::function<QDateTime()> Now;

    // Reads the data folder again and shows the lists for now.
    void Refresh();
    // Shows the lists for the current minute from what was read.
    void MinutePassed();

signals:
    // A row was chosen: the channel's listing file and the class selector's item that lists it.
    void ChannelChosen(const QString& listingPath, const QString& className);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ShowOnAir(const QDateTime& now);
    void ShowMatches(const QDateTime& now);
    void ShowCurrentList();
    void ArmMinuteTimer();
    void Choose(QTreeWidgetItem* item);

    PinyinCache pinyin_; // kept over refreshes: a title's keys are computed once
    Guide guide_;
    std::optional<GuideSearch> search_;
};
