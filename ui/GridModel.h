#pragma once

#include "guide/GridBoxes.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <stop_token>

// What the grid page and its window show, read once for both: the data folder's listings as
// boxes, read on a worker thread so that a large data folder does not hold up the window, and the
// minute that moves the line of "now".
class TGuideGridModel final : public QObject {
    Q_OBJECT
public:
    explicit TGuideGridModel(QObject* parent = nullptr);
    ~TGuideGridModel() override;

    // Where the listings are and what time it is; replaceable by tests.
    std::function<QString()> DataFolder;
    std::function<QDateTime()> Now;
    // Whether a channel, by the name shown, is a favourite (the class "收藏").
    std::function<bool(const QString& channelName)> IsFavourite;
    // Runs on the worker during each reading (tests hold a reading there).
    std::function<void(const std::stop_token&)> DuringReading;
    GuideLimits Limits;
    QTimer* MinuteTimer; // runs while a view shows

    // Reads the data folder again on a worker; GridRead comes when it is read. A refresh asked for
    // while one runs reads again after it, and only that newer reading is shown.
    void Refresh();
    void WaitForRefresh();
    bool IsReading() const { return reading_; }
    // Whether a reading has been shown yet.
    bool HasRead() const { return hasRead_; }
    // What was read last; never null.
    std::shared_ptr<const GuideGrid> Grid() const { return grid_; }
    // Why the last reading failed; empty when it did not.
    const QString& Failure() const { return failure_; }

    // Views say when they show and hide: the minute timer runs while one shows.
    void ViewShown();
    void ViewHidden();
    void MinutePassed();

signals:
    void GridRead();
    void Minute();

private:
    struct Reading {
        std::shared_ptr<const GuideGrid> grid;
        QString failure;
    };
    static Reading Read(const QString& dataFolder, const QDate& today, const GuideLimits& limits,
                        const std::function<void(const std::stop_token&)>& duringReading,
                        const std::stop_token& stop);
    void StartReading();
    void ReadingDone();
    void ArmMinuteTimer();

    QFutureWatcher<Reading>* watcher_;
    std::stop_source stopReading_;
    bool reading_ = false;
    bool readAgain_ = false;
    bool hasRead_ = false;
    int viewsShown_ = 0;
    std::shared_ptr<const GuideGrid> grid_;
    QString failure_;
};
