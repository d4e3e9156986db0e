#pragma once

#include "reminders/Reminder.h"
#include "ui/GridModel.h"
#include "ui/ProgrammeGrid.h"

#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QWidget>

#include <functional>

// A programme chosen to be seen in its channel's listing.
struct ChosenProgramme {
    QString listingPath;
    QString className;
    qsizetype line = -1; // the programme's line in the listing
    QString title;
};

// The details of a programme: channel, date, start and end, title, and the series and episode
// where the title names them.
class TGridDetails final : public QDialog {
    Q_OBJECT
public:
    explicit TGridDetails(QWidget* parent);
    void Show(const GridDay& day, const GridPlace& place);

    QLabel* Channel;
    QLabel* Date;
    QLabel* Times;
    QLabel* Title;
    QLabel* Series;           // hidden when the title names no episode
    QPushButton* Remind;      // "提醒我"
    QPushButton* OpenListing; // "打开节目表"
    QPushButton* Close;

signals:
    void ListingAsked(const ChosenProgramme& programme);
    void ReminderAsked(const Reminder& programme);

private:
    ChosenProgramme shown_;
    Reminder programme_;
};

// One view of the grid: the controls "日期", "频道分类" and "现在" above the grid. The page and its
// window each have one, over the same model.
class TGridView final : public QWidget {
    Q_OBJECT
public:
    TGridView(TGuideGridModel* model, QWidget* parent);

    QComboBox* DateBox;
    QComboBox* ClassBox;
    QPushButton* NowButton;
    TProgrammeGrid* Grid;
    QHBoxLayout* Bar;                // the row of controls
    TGridDetails* Details = nullptr; // made when first asked for

    // Shows the details of a programme of the grid.
    void ShowDetails(const GridPlace& place);
    // The context menu of a programme: "收藏频道" or "取消收藏", "提醒我", "打开节目表".
    QMenu* ProgrammeMenu(const GridPlace& place);
    // Shows the grid again after the favourites changed.
    void FavouritesChanged();

    // Shows what the model read last, keeping the date, the class and the selection.
    void ShowModel();
    // The date the selector shows.
    QDate ShownDate() const;

signals:
    void ListingAsked(const ChosenProgramme& programme);
    void ReminderAsked(const Reminder& programme);
    void FavouriteToggled(const QString& channelName);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool Favourite(const QString& channelName) const;
    void FillDates();
    void ShowDay();
    void GoToNow();
    void PlaceAtNow();

    TGuideGridModel* model_;
    // The grid opens with now in view once, when the first reading it shows arrives.
    bool placedAtNow_ = false;
    bool shown_ = false;
    bool datesRead_ = false; // the date selector lists read dates, not today alone
    QDate today_;            // the date marked "今天"
};

// The grid's own window: the same grid, as large as the user likes. It keeps its size and place.
class TGridWindow final : public QWidget {
    Q_OBJECT
public:
    TGridWindow(TGuideGridModel* model, QWidget* parent);
    ~TGridWindow() override;

    TGridView* View;
    // Where the geometry goes and comes from (saveGeometry's bytes; empty when none).
    std::function<QByteArray()> LoadGeometry;
    std::function<void(const QByteArray&)> SaveGeometry;

    // Shows the window, raised, where it was last.
    void Open();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void KeepGeometry();
    bool placed_ = false;
};

// The page "节目单": every channel against time, and the button "新窗口" that opens the same grid in
// a window of its own.
class TGridPage final : public QWidget {
    Q_OBJECT
public:
    explicit TGridPage(QWidget* parent);
    ~TGridPage() override;

    TGuideGridModel* Model;
    TGridView* View;
    QPushButton* WindowButton; // "新窗口"
    TGridWindow* Window;       // made at the first "新窗口"; null before
    std::function<QByteArray()> LoadWindowGeometry;
    std::function<void(const QByteArray&)> SaveWindowGeometry;

    void OpenWindow();
    // Whether the page or its window shows.
    bool IsShown() const;
    void FavouritesChanged();

signals:
    void ListingAsked(const ChosenProgramme& programme);
    void ReminderAsked(const Reminder& programme);
    void FavouriteToggled(const QString& channelName);

private:
    void Forward(TGridView* view);
};

// The file that keeps the grid window's geometry between runs: written whole or not at all, read
// only when it is a small plain file.
QByteArray ReadGeometryFile(const QString& path);
void WriteGeometryFile(const QString& path, const QByteArray& geometry);
