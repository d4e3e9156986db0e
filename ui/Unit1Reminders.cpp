// The window's reminders: the page "提醒", reminders and favourites set on the other pages, the
// alerts, and the reminders that follow their programmes after an update.
#include "ui/Unit1.h"

#include "reminders/ReminderPlan.h"
#include "ui/GuideReading.h"
#include "ui/RemindersPage.h"

#include <QVBoxLayout>

QString RemindersFile() {
    return Places.DataParentFolder.isEmpty()
               ? QString()
               : Places.DataParentFolder + QString::fromUtf16(kRemindersFileName);
}

void TForm1::LoadReminders() {
    reminderStore_ = std::make_unique<ReminderStore>(RemindersFile());
    Reminders = reminderStore_.get();
    favouriteChannels_ = std::make_unique<FavouriteChannels>(*settingsFile_);
    Favourites = favouriteChannels_.get();
    ReminderAlerts = new TReminderAlerts(*Reminders, this, this);
    ReminderAlerts->Now = [this] { return Now(); };
    connect(ReminderAlerts, &TReminderAlerts::ProgrammeAsked, this, &TForm1::OpenProgramme);
    OnAirPage->IsFavourite = [this](const QString& name) { return Favourites->Contains(name); };
    // Reminders whose time passed while the program was not running become "已错过" now.
    ReminderAlerts->Check();
}

TRemindersPage* TForm1::RemindersPage() {
    if (remindersPage_ != nullptr || Reminders == nullptr)
        return remindersPage_;
    remindersPage_ = new TRemindersPage(*Reminders, *settingsFile_, *GuideReader(), TabSheet_Reminders);
    remindersPage_->Now = [this] { return Now(); };
    remindersPage_->ChannelKey = [this](const QString& name) { return channelKeys_.KeyOf(name); };
    auto* fill = new QVBoxLayout(TabSheet_Reminders);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(remindersPage_);
    connect(remindersPage_, &TRemindersPage::ProgrammeAsked, this, &TForm1::OpenProgramme);
    return remindersPage_;
}

TGuideReader* TForm1::GuideReader() {
    if (guideReader_ == nullptr) {
        guideReader_ = new TGuideReader(this);
        guideReader_->DataFolder = [] { return DataFolder(); };
        guideReader_->Now = [this] { return Now(); };
        connect(guideReader_, &TGuideReader::Read, this, &TForm1::GuideRead);
    }
    return guideReader_;
}

void TForm1::RemindOf(Reminder programme) {
    if (Reminders == nullptr)
        return;
    programme.id = NewReminderId();
    programme.channelKey = channelKeys_.KeyOf(programme.channel);
    programme.lead = DefaultReminderLead(*settingsFile_);
    programme.state = ReminderState::Waiting;
    const QString title = programme.title;
    Reminders->Add(std::move(programme));
    SBPanel0->setText(QStringLiteral("已设置提醒：") + title);
}

void TForm1::ToggleFavourite(const QString& channelName) {
    if (Favourites == nullptr)
        return;
    Favourites->Toggle(channelName);
    OnAirPage->FavouritesChanged();
    if (gridPage_ != nullptr)
        gridPage_->FavouritesChanged();
}

void TForm1::FollowReminders() {
    if (Reminders == nullptr || (Reminders->Reminders().isEmpty() && Reminders->Followed().isEmpty()))
        return;
    followAfterReading_ = true;
    GuideReader()->Refresh();
}

void TForm1::GuideRead() {
    if (!followAfterReading_)
        return;
    followAfterReading_ = false;
    const GuideReading& reading = *guideReader_->Last();
    const QDateTime now = Now();
    QList<Reminder> reminders = Reminders->Reminders();
    bool changed = FollowSchedule(reminders, *reading.guide, now, channelKeys_);
    QList<FollowedShow> followed = Reminders->Followed();
    if (reading.search) {
        const int lead = DefaultReminderLead(*settingsFile_);
        for (FollowedShow& show : followed) {
            const QList<Reminder> made =
                AutomaticReminders(show, AiringsOf(show, *reading.search, now, channelKeys_), *reading.guide,
                                   reminders, lead, now, channelKeys_);
            reminders += made;
            changed = changed || !made.isEmpty();
        }
    }
    if (!changed)
        return;
    Reminders->SetFollowed(std::move(followed));
    Reminders->SetReminders(std::move(reminders));
}
