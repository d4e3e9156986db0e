#pragma once

#include "platform/ProgramPlaces.h"
#include "reminders/Favourites.h"
#include "reminders/ReminderStore.h"
#include "sources/ScheduleSources.h"
#include "sources/SourceRun.h"
#include "ui/GridPage.h"
#include "ui/ListBox.h"
#include "ui/ListingMark.h"
#include "ui/ListingMemo.h"
#include "ui/OnAirPage.h"
#include "ui/ReminderAlerts.h"
#include "ui/TProgressBar.h"
#include "ui/TTimer.h"
#include "update/IdAntiFreeze.h"
#include "update/IdHTTP.h"
#include "update/UpdateFailure.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class TSourcesPage;
class TRemindersPage;
class TGuideReader;

// The periods of the update chain's two timers: from the update request to the download (Timer1),
// and from the saved package to the extraction (Timer_Load). The program keeps these; tests that run
// the whole chain shorten them.
struct TUpdateTimings {
    int DownloadDelayMs = 2000;
    int ExtractionDelayMs = 3000;
};

// What the program entry hands to the window: the executable's full path, the command-line
// arguments after the program name, how the program lives on this machine (decided once by the
// entry) with the system library that an installed program prefers, and the update chain's timer
// periods.
struct TStartup {
    QString ExecutablePath;
    QStringList Arguments;
    ProgramMode Mode = ProgramMode::Portable;
    QString SystemArchiveLibrary = QString::fromUtf8(kSystemArchiveLibrary);
    TUpdateTimings Timings = {};
};

// A picture that reports clicks (the banner).
class TImage final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void Clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The program's one window. Controls keep the names the handlers use; the worker controls
// lie outside the 624-pixel client area, where the user never sees them.
class TForm1 final : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(const TStartup& startup, QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, in the order the window declares them.
    QPushButton* Button3;
    QStatusBar* SB;
    QLabel* SBPanel0; // the status bar's one panel
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    TListBox* TVList;
    QPushButton* LoadData;
    TListBox* filepathList;
    TListBox* TVFilepathList;
    TImage* Image1;
    QPushButton* Button1;
    QWidget* TabSheet2;
    QPlainTextEdit* Memo1;
    QPlainTextEdit* TVListBox;
    QComboBox* ComboBox_Class;
    QPushButton* Button_UpDate;
    TProgressBar* ProgressBar1;
    TIdHTTP IdHTTP1;
    TIdAntiFreeze IdAntiFreeze1;
    QTabWidget* PageControl2;
    QWidget* TabSheet4;
    QLineEdit* Edit_Url;
    QLineEdit* Edit_SaveFile;
    QPushButton* Button_Download;
    QPushButton* Button_URAR;
    TTimer* Timer_Load;
    QPushButton* Button_R;
    TTimer* Timer1;
    QLineEdit* Edit_Ver;
    QLabel* Label5;
    QPushButton* Button2;
    // The third page: what is on now, and the programme search.
    QWidget* TabSheet_OnAir;
    TOnAirPage* OnAirPage;
    // The fourth page: every channel against time, made when first shown or asked for.
    QWidget* TabSheet_Grid;
    TGridPage* GridPage();
    TListingMemo* ListingMemo; // shows listings in TVListBox
    TListingMark* ListingMark; // the programme on air in TVListBox
    // The page "提醒": the reminders and the followed shows. Made when first shown, or asked for.
    QWidget* TabSheet_Reminders;
    TRemindersPage* RemindersPage();
    // The reminders and followed shows, read at creation; the favourite channels and the alerts.
    ReminderStore* Reminders = nullptr;
    FavouriteChannels* Favourites = nullptr;
    TReminderAlerts* ReminderAlerts = nullptr;
    // The guide the reminders follow after an update; made when first needed.
    TGuideReader* GuideReader();
    // The last page: the schedule sources and the automatic update. Its controls are made when it is
    // first shown, or asked for.
    QWidget* TabSheet_Sources;
    TSourcesPage* SourcesPage();
    // The sources and the automatic update's options, read from the settings file at creation.
    SourceSettings* Sources = nullptr;
    QTimer* AutomaticUpdateTimer; // runs while an automatic update is planned

    // Event handlers.
    void Button3Click();
    void LoadDataClick();
    void TVListClick();
    void FormCreate();
    void Button1Click();
    void Image1Click();
    void ComboBox_ClassChange();
    void Button_UpDateClick();
    void Button_DownloadClick();
    void Button_URARClick();
    void IdHTTP1WorkBegin(TIdHTTP& ASender, TWorkMode AWorkMode, int64_t AWorkCountMax);
    void IdHTTP1Work(TIdHTTP& ASender, TWorkMode AWorkMode, int64_t AWorkCount);
    void IdHTTP1WorkEnd(TIdHTTP& ASender, TWorkMode AWorkMode);
    void Timer_LoadTimer();
    void Button_RClick();
    void Timer1Timer();
    void Button2Click();
    // Shows a channel's listing on the first page as a click on its entry would: picks its class,
    // selects it in TVList and loads the listing.
    void OpenChannel(const QString& listingPath, const QString& className);
    // OpenChannel, then selects the programme's line in the listing when it still holds the programme.
    void OpenProgramme(const ChosenProgramme& programme);

    bool IsOnline();
    // A reminder of a programme (as a page offers it) with the lead new reminders get.
    void RemindOf(Reminder programme);
    void ToggleFavourite(const QString& channelName);
    // After an update: reminders follow their programmes into the new listings and followed shows
    // with "自动提醒" remind of their new airings, once the guide is read on a worker.
    void FollowReminders();

    // Seams to the desktop and the network, replaceable by tests.
    std::function<void(const QString& address)> OpenAddress;
    std::function<bool()> OnlineTest;
    std::function<bool(const QString& address)> NetworkProbe;
    std::function<void(const QString& title, const QString& text)> ShowNotice;
    QString ProbeAddress;
    // The time the on-air page and the listing's mark go by (ListingNow).
    std::function<QDateTime()> Now;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void BindEvents();
    // The schedule sources (Unit1Sources.cpp).
    void LoadSources();
    // The reminders (Unit1Reminders.cpp).
    void LoadReminders();
    void GuideRead();
    bool DownloadPackage();
    bool SeveralSources() const;
    void DownloadSources();
    void FetchSource(SourceRunEntry& entry);
    void ExtractSources();
    void ConvertFeedSources(SourceRun& run);
    void BeginUpdate();
    void EndUpdate();
    QString PackageFailureText() const;
    bool UpdateRunning() const;
    void PlanAutomaticUpdate();
    void AutomaticUpdateTick();
    void ReadWhetherListingsLastBeyondToday();
    void SetTabOrder();
    void ShowCreationError(const QString& message);
    void OpenHomePage();

    TStartup startup_;
    bool focusPlaced_ = false;
    bool downloadRunning_ = false;
    bool transferEnded_ = false;
    bool extractionRunning_ = false;
    bool extractAgain_ = false; // a package was saved while the extraction ran
    int scanGeneration_ = 0;
    std::unique_ptr<SettingsFile> settingsFile_;
    std::unique_ptr<SourceSettings> sourceSettings_; // Sources
    TSourcesPage* sourcesPage_ = nullptr;
    std::unique_ptr<ReminderStore> reminderStore_;         // Reminders
    std::unique_ptr<FavouriteChannels> favouriteChannels_; // Favourites
    TRemindersPage* remindersPage_ = nullptr;
    TGuideReader* guideReader_ = nullptr;
    bool followAfterReading_ = false; // the next guide read follows the reminders
    ChannelKeys channelKeys_;
    TGridPage* gridPage_ = nullptr;
    // How the update under way stands: whether it is one of several sources, the run between its
    // download step and its extraction step, and how it ended once that is known.
    struct UpdateOutcome {
        bool known = false;
        bool anySucceeded = false;
        bool anyFailed = false;
    };
    bool severalSources_ = false;
    std::unique_ptr<SourceRun> sourceRun_;
    UpdateOutcome outcome_;
    bool sourceTransfer_ = false; // a source's fetch runs: the package's status lines stay out
    bool packageDone_ = false;    // the extraction of the program's own package ran to its end
    QDateTime automaticSince_;    // when automatic updates began in this run; invalid while off
    bool listingsLastBeyondToday_ = true;
};

// Module-level state of the window's module.
extern TForm1* Form1;
extern QString AppPath;
// Where this run keeps what it writes; set with AppPath.
extern ProgramPlaces Places;

// The data folder: beside the program, or in the user's data folder when installed.
QString DataFolder();

// The reminders' file, beside the data folder; empty before the places are known.
QString RemindersFile();

// Where the grid's window keeps its size and place between runs: beside the data folder; empty
// before the places are known.
QString GridWindowGeometryFile();

// Sets the status panel's text and appends it as a new last line of the listing memo.
void ReportStatus(const QString& text);

// Reports the final line of an update that did not succeed (update/UpdateFailure.h) through
// ReportStatus; statusCode counts for UpdateFailure::ErrorStatus only.
void ReportUpdateFailure(UpdateFailure failure, int statusCode = 0);

// The catalogue scan: walks the folder and appends to Form1's three catalogue lists.
void ScanCatalogue(const QString& folder);

// Fixed texts of the program.
inline constexpr const char* kApplicationTitle = "Pelnavi系统";
QString WelcomeLine();
