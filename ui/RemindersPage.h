#pragma once

#include "reminders/ReminderStore.h"
#include "sources/SettingsFile.h"
#include "ui/GridPage.h"
#include "ui/GuideReading.h"
#include "ui/PageRows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QWidget>

#include <functional>

// The page "提醒": the reminders (频道 | 日期 | 时间 | 节目 | 提前) with "删除" and "导出日历", the lead
// of new reminders, and below them the followed shows with the airings of the one chosen. A thin
// view over the reminders' store; it is made when first shown.
class TRemindersPage final : public QWidget {
    Q_OBJECT
public:
    TRemindersPage(ReminderStore& store, SettingsFile& settings, TGuideReader& reader, QWidget* parent);

    QTreeView* ReminderList;
    QComboBox* LeadBox; // the lead of the chosen reminder
    QPushButton* DeleteButton;
    QPushButton* ExportButton;
    QComboBox* DefaultLeadBox; // the lead new reminders get
    QLabel* Note;              // what could not be read, written or exported; hidden when nothing
    QTreeView* FollowedList;   // 关注 | 频道 | 自动提醒
    QLineEdit* FollowEdit;
    QLineEdit* FollowChannelEdit;
    QPushButton* FollowButton;
    QPushButton* UnfollowButton;
    QCheckBox* AutoRemindBox;
    QComboBox* AutoModeBox; // 新集 | 全部
    QTreeView* AiringList;  // 日期 | 时间 | 频道 | 节目 | 剧集 of the chosen show

    // Where "导出日历" writes: the file dialog; empty when the person cancels.
    std::function<QString()> AskCalendarPath;
    std::function<QDateTime()> Now;

    // The key of a channel's name, as the program keeps it for favourites and reminders.
    std::function<QString(const QString& channelName)> ChannelKey;

    void ShowReminders();
    void ShowFollowed();
    void ShowAirings();
    void ExportCalendar();

signals:
    // A reminder's or an airing's programme, chosen to be seen in its listing.
    void ProgrammeAsked(const ChosenProgramme& programme);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString ChosenReminder() const;
    QString ChosenFollowed() const;
    void ShowNote(const QString& text);
    void FollowText();
    void ChangeChosenFollowed(const std::function<void(FollowedShow&)>& change);

    ReminderStore& store_;
    SettingsFile& settings_;
    TGuideReader& reader_;
    TPageRowsModel* reminderRows_;
    TPageRowsModel* followedRows_;
    TPageRowsModel* airingRows_;
    ChannelKeys keys_;
};
