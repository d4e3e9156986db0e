#pragma once

#include "sources/ScheduleSources.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimeEdit>
#include <QWidget>

#include <functional>

// The page "节目源": the schedule sources a person sets, in the order they count, and the automatic
// update. A thin view over SourceSettings, which keeps and writes everything; the window builds the
// page only when it is first shown.
class TSourcesPage final : public QWidget {
    Q_OBJECT
public:
    enum Column { EnabledColumn, NameColumn, AddressColumn, OffsetColumn, LastUpdateColumn, ResultColumn };

    // `builtInAddress` gives the program's own package address, which the first row shows.
    TSourcesPage(SourceSettings& settings, std::function<QString()> builtInAddress,
                 QWidget* parent = nullptr);

    QTableWidget* SourceTable; // 启用 | 名称 | 地址 | 时间偏移 | 上次更新 | 结果
    QLineEdit* AddressEdit;
    QPushButton* AddButton;
    QPushButton* RemoveButton;
    QPushButton* UpButton;
    QPushButton* DownButton;
    QPushButton* UpdateNowButton;
    QCheckBox* AutomaticBox;
    QTimeEdit* DailyTimeEdit;
    QLabel* NextUpdateLabel;
    // One line for the person: why an address was not taken, or that the settings file was damaged.
    QLabel* MessageLabel;

    // Starts an update as "更新电视节目" does.
    std::function<void()> UpdateNow;

    // The next automatic update; invalid when none is planned.
    void ShowNextUpdate(const QDateTime& next, bool automaticOn);

private:
    void Fill();
    void AddSource();
    void RemoveSource();
    void MoveSource(int by);
    void TakeEdit(QTableWidgetItem* item);
    void TakeAutomatic();
    void Say(const QString& message);
    int CurrentRow() const;

    SourceSettings& settings_;
    std::function<QString()> builtInAddress_;
    bool filling_ = false;
    bool taking_ = false; // an edit of the table is being taken
};
