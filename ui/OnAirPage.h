#pragma once

#include "guide/Guide.h"
#include "guide/GuideSearch.h"
#include "guide/Pinyin.h"
#include "ui/PageRows.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QTreeView>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// The page "正在播出": what is on now on every channel of the data folder, and the programme search.
// A thin view over the guide; it reads the data folder itself and never the window's lists. The
// guide and its search index are built on a worker thread (a large data folder would hold up the
// window), and the lists show them when they are ready.
class TOnAirPage final : public QWidget {
    Q_OBJECT
public:
    explicit TOnAirPage(QWidget* parent = nullptr);
    ~TOnAirPage() override;

    QLineEdit* SearchEdit;
    QCheckBox* FavouritesOnly; // "只看收藏": the search finds programmes of favourite channels only
    QLabel* Clock;             // the time the lists go by, "北京时间 20:00"
    QLabel* Note;              // what the last reading could not read; hidden when it read everything
    QTreeView* OnAirList;      // 频道 | 正在播出 | 开始 | 接下来 | 开始
    QTreeView* MatchList;      // 日期 | 时间 | 频道 | 节目
    QTimer* SearchDelay;       // the pause after typing before the search runs
    QTimer* MinuteTimer;       // runs while the page is shown

    // Where the listings are and what time it is; replaceable by tests.
    std::function<QString()> DataFolder;
    std::function<QDateTime()> Now;
    // Whether a channel, by the name shown, is a favourite: favourites come first, with a star.
    std::function<bool(const QString& channelName)> IsFavourite;
    // Runs on the worker during each reading, after the listings are read, with the reading's stop
    // (tests fail or hold a reading there).
    std::function<void(const std::stop_token&)> DuringReading;
    // What a reading reads at most.
    GuideLimits Limits;
    // Runs on the worker during each search (tests hold a search there).
    std::function<void()> DuringSearch;
    // The matches a search shows at most; a line below them counts the rest.
    static constexpr qsizetype kShownMatches = 500;

    // Reads the data folder again on a worker and shows the lists for now when it is read. A refresh
    // asked for while one runs reads again after it, and only that newer reading is shown.
    void Refresh();
    // Waits until what the last Refresh asked for is read and shown.
    void WaitForRefresh();
    // True from a Refresh until what it asked for is shown.
    bool IsReading() const { return reading_; }
    // Shows the lists for the current minute from what was read.
    void MinutePassed();
    // True from a search's start until its matches are shown (or dropped for a newer one).
    bool IsSearching() const { return searching_; }
    // Shows the lists again after the favourites changed.
    void FavouritesChanged();
    // The context menu of a row of `list`: "收藏频道" or "取消收藏", and "提醒我" where the row has a
    // programme to come. Null for a note.
    QMenu* RowMenu(QTreeView* list, const QModelIndex& index);

signals:
    // A row was chosen: the channel's listing file and the class selector's item that lists it.
    void ChannelChosen(const QString& listingPath, const QString& className);
    // "收藏频道" / "取消收藏" (or the key F) on a row's channel.
    void FavouriteToggled(const QString& channelName);
    // "提醒我" (or the key R) on a row's programme.
    void ReminderAsked(const Reminder& programme);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // What a refresh reads.
    struct Reading {
        std::shared_ptr<const Guide> guide = std::make_shared<const Guide>(); // never null
        std::optional<GuideSearch> search;
        // Why the reading failed (it then holds nothing); empty when it did not.
        QString failure;
        GuideLimits limits; // what it read at most
    };
    using SharedReading = std::shared_ptr<const Reading>;

    static SharedReading Read(const QString& dataFolder, const QDate& today, const GuideLimits& limits,
                              PinyinCache& pinyin,
                              const std::function<void(const std::stop_token&)>& duringReading,
                              const std::stop_token& stop);
    // `only`: the channels whose programmes are found; all when none.
    static QList<PageRow> Search(const SharedReading& reading, const QString& text, const QDateTime& now,
                                 const std::optional<QSet<qsizetype>>& only,
                                 const std::function<void()>& duringSearch);
    QSet<qsizetype> FavouriteChannels() const;
    bool Favourite(const QString& channelName) const;
    void AddRowKeys(QTreeView* list);
    const PageRow* RowAt(const QModelIndex& index) const;
    void StartSearch();
    void SearchDone();
    void ShowNote();
    void StartReading();
    void ReadingDone();
    void ShowOnAir(const QDateTime& now);
    void ShowMatches();
    void ShowCurrentList();
    void ShowClock(const QDateTime& now);
    void FitChannelColumn();
    void ArmMinuteTimer();
    void Choose(const QModelIndex& index);

    // Kept over refreshes, so a title's keys are computed once. Only the reading uses it, and only
    // one reading runs at a time.
    PinyinCache pinyin_;
    TPageRowsModel* onAirRows_;
    TPageRowsModel* matchRows_;
    QFutureWatcher<SharedReading>* readingWatcher_;
    // Stops the reading under way (the page's end asks it to).
    std::stop_source stopReading_;
    QFutureWatcher<QList<PageRow>>* searchWatcher_;
    bool searching_ = false;   // a search runs or has ended and is not shown yet
    bool searchAgain_ = false; // the text or the reading changed while it ran
    bool reading_ = false;     // a reading runs or has ended and is not shown yet
    bool readAgain_ = false;   // a refresh came while it ran
    SharedReading shown_;      // never null
};
