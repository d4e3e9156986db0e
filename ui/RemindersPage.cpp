#include "ui/RemindersPage.h"

#include "catalogue/ListingTime.h"
#include "platform/Exception.h"
#include "reminders/CalendarExport.h"
#include "reminders/Favourites.h"
#include "reminders/FollowedShows.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

namespace {

const char16_t* const kWeekdays[] = {u"一", u"二", u"三", u"四", u"五", u"六", u"日"};

QString DateText(const QDateTime& instant) {
    const QDate date = ListingTimeOf(instant).date();
    return date.toString(QStringLiteral("MM-dd")) + QStringLiteral(" 周") +
           QString::fromUtf16(kWeekdays[date.dayOfWeek() - 1]);
}

QString TimeText(const QDateTime& instant) {
    return ListingTimeOf(instant).toString(QStringLiteral("HH:mm"));
}

template <typename Widget> Widget* Named(Widget* widget, const char* name, const QString& accessibleName) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setAccessibleName(accessibleName);
    return widget;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    return Named(new QPushButton(caption, parent), name, caption);
}

QTreeView* MakeList(QWidget* parent, const char* name, const QString& accessibleName, TPageRowsModel* model) {
    auto* list = Named(new QTreeView(parent), name, accessibleName);
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return list;
}

QComboBox* MakeLeadBox(QWidget* parent, const char* name, const QString& accessibleName) {
    auto* box = Named(new QComboBox(parent), name, accessibleName);
    for (const int lead : kReminderLeads)
        box->addItem(LeadText(lead), lead);
    return box;
}

QString ChosenKey(const QTreeView* list, const TPageRowsModel* rows) {
    const QModelIndex current = list->currentIndex();
    return current.isValid() ? rows->Row(current.row()).key : QString();
}

} // namespace

TRemindersPage::TRemindersPage(ReminderStore& store, SettingsFile& settings, TGuideReader& reader,
                               QWidget* parent)
    : QWidget(parent), store_(store), settings_(settings), reader_(reader) {
    setObjectName(QStringLiteral("RemindersPage"));
    reminderRows_ =
        new TPageRowsModel({QStringLiteral("频道"), QStringLiteral("日期"), QStringLiteral("时间"),
                            QStringLiteral("节目"), QStringLiteral("提前")},
                           this);
    ReminderList = MakeList(this, "ReminderList", QStringLiteral("提醒"), reminderRows_);
    LeadBox = MakeLeadBox(this, "ReminderLead", QStringLiteral("提前"));
    DeleteButton = MakeButton(this, "DeleteReminder", QStringLiteral("删除"));
    ExportButton = MakeButton(this, "ExportCalendar", QStringLiteral("导出日历"));
    DefaultLeadBox = MakeLeadBox(this, "DefaultLead", QStringLiteral("默认提前"));
    DefaultLeadBox->setCurrentIndex(DefaultLeadBox->findData(DefaultReminderLead(settings_)));
    Note = Named(new QLabel(this), "RemindersNote", QStringLiteral("提示"));
    Note->setWordWrap(true);
    Note->hide();

    followedRows_ = new TPageRowsModel(
        {QStringLiteral("关注"), QStringLiteral("频道"), QStringLiteral("自动提醒")}, this);
    FollowedList = MakeList(this, "FollowedList", QStringLiteral("关注"), followedRows_);
    FollowEdit = Named(new QLineEdit(this), "FollowEdit", QStringLiteral("关注节目"));
    FollowEdit->setPlaceholderText(QStringLiteral("节目名或拼音，如 xwlb"));
    FollowChannelEdit = Named(new QLineEdit(this), "FollowChannelEdit", QStringLiteral("频道"));
    FollowChannelEdit->setPlaceholderText(QStringLiteral("频道（可不填）"));
    FollowButton = MakeButton(this, "FollowButton", QStringLiteral("关注"));
    UnfollowButton = MakeButton(this, "UnfollowButton", QStringLiteral("取消关注"));
    AutoRemindBox =
        Named(new QCheckBox(QStringLiteral("自动提醒"), this), "AutoRemind", QStringLiteral("自动提醒"));
    AutoModeBox = Named(new QComboBox(this), "AutoRemindMode", QStringLiteral("自动提醒方式"));
    AutoModeBox->addItem(QStringLiteral("新集"), static_cast<int>(AutoRemind::NewEpisodes));
    AutoModeBox->addItem(QStringLiteral("全部"), static_cast<int>(AutoRemind::Every));
    airingRows_ = new TPageRowsModel({QStringLiteral("日期"), QStringLiteral("时间"), QStringLiteral("频道"),
                                      QStringLiteral("节目"), QStringLiteral("剧集")},
                                     this);
    airingRows_->SetPastColour(palette().color(QPalette::Disabled, QPalette::Text));
    AiringList = MakeList(this, "AiringList", QStringLiteral("播出"), airingRows_);

    auto* reminderButtons = new QHBoxLayout;
    reminderButtons->addWidget(new QLabel(QStringLiteral("提前"), this));
    reminderButtons->addWidget(LeadBox);
    reminderButtons->addWidget(DeleteButton);
    reminderButtons->addWidget(ExportButton);
    reminderButtons->addStretch(1);
    reminderButtons->addWidget(new QLabel(QStringLiteral("默认提前"), this));
    reminderButtons->addWidget(DefaultLeadBox);
    auto* followBar = new QHBoxLayout;
    followBar->addWidget(FollowEdit, 2);
    followBar->addWidget(FollowChannelEdit, 1);
    followBar->addWidget(FollowButton);
    followBar->addWidget(UnfollowButton);
    followBar->addWidget(AutoRemindBox);
    followBar->addWidget(AutoModeBox);
    auto* followed = new QHBoxLayout;
    followed->addWidget(FollowedList, 2);
    followed->addWidget(AiringList, 3);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(ReminderList, 1);
    layout->addLayout(reminderButtons);
    layout->addWidget(Note);
    layout->addLayout(followBar);
    layout->addLayout(followed, 1);

    AskCalendarPath = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("导出日历"),
                                            QStringLiteral("Pelnavi提醒.ics"),
                                            QStringLiteral("iCalendar (*.ics)"));
    };
    Now = [] { return ListingNow(); };
    ChannelKey = [this](const QString& name) { return keys_.KeyOf(name); };

    connect(&store_, &ReminderStore::Changed, this, [this] {
        ShowReminders();
        ShowFollowed();
    });
    connect(&reader_, &TGuideReader::Read, this, &TRemindersPage::ShowAirings);
    connect(DeleteButton, &QPushButton::clicked, this, [this] { store_.Remove(ChosenReminder()); });
    connect(ExportButton, &QPushButton::clicked, this, &TRemindersPage::ExportCalendar);
    connect(LeadBox, &QComboBox::activated, this,
            [this] { store_.SetLead(ChosenReminder(), LeadBox->currentData().toInt()); });
    connect(DefaultLeadBox, &QComboBox::activated, this,
            [this] { SetDefaultReminderLead(settings_, DefaultLeadBox->currentData().toInt()); });
    connect(ReminderList->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        const qsizetype index = store_.IndexOf(ChosenReminder());
        if (index >= 0)
            LeadBox->setCurrentIndex(LeadBox->findData(store_.Reminders()[index].lead));
    });
    const auto open = [this](const QModelIndex& index) {
        const auto* rows = qobject_cast<const TPageRowsModel*>(index.model());
        const PageRow& row = rows->Row(index.row());
        if (row.programme)
            emit ProgrammeAsked({row.programme->listingPath, row.programme->className, row.programme->line,
                                 row.programme->title});
    };
    connect(ReminderList, &QTreeView::activated, this, open);
    connect(AiringList, &QTreeView::activated, this, open);
    connect(FollowButton, &QPushButton::clicked, this, &TRemindersPage::FollowText);
    connect(FollowEdit, &QLineEdit::returnPressed, this, &TRemindersPage::FollowText);
    connect(UnfollowButton, &QPushButton::clicked, this, [this] { store_.RemoveFollowed(ChosenFollowed()); });
    connect(FollowedList->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        for (const FollowedShow& show : store_.Followed()) {
            if (show.id != ChosenFollowed())
                continue;
            const QSignalBlocker quietBox(AutoRemindBox);
            const QSignalBlocker quietMode(AutoModeBox);
            AutoRemindBox->setChecked(show.autoRemind);
            AutoModeBox->setCurrentIndex(AutoModeBox->findData(static_cast<int>(show.mode)));
        }
        ShowAirings();
    });
    connect(AutoRemindBox, &QCheckBox::toggled, this,
            [this](bool on) { ChangeChosenFollowed([on](FollowedShow& show) { show.autoRemind = on; }); });
    connect(AutoModeBox, &QComboBox::activated, this, [this] {
        const auto mode = static_cast<AutoRemind>(AutoModeBox->currentData().toInt());
        ChangeChosenFollowed([mode](FollowedShow& show) { show.mode = mode; });
    });
    ShowReminders();
    ShowFollowed();
    ShowNote(store_.LoadProblem());
}

QString TRemindersPage::ChosenReminder() const {
    return ChosenKey(ReminderList, reminderRows_);
}

QString TRemindersPage::ChosenFollowed() const {
    return ChosenKey(FollowedList, followedRows_);
}

void TRemindersPage::ShowNote(const QString& text) {
    Note->setText(text);
    Note->setVisible(!text.isEmpty());
}

void TRemindersPage::ShowReminders() {
    QList<PageRow> rows;
    for (const Reminder& reminder : store_.Reminders()) {
        const QString state = StateText(reminder.state);
        rows.append({reminder.id,
                     {reminder.channel, DateText(reminder.start), TimeText(reminder.start), reminder.title,
                      state.isEmpty() ? LeadText(reminder.lead) : state},
                     reminder.listingPath,
                     reminder.className,
                     reminder.state == ReminderState::Missed || reminder.state == ReminderState::Fired,
                     reminder.channel,
                     reminder});
    }
    reminderRows_->SetRows(std::move(rows));
    if (!store_.WriteProblem().isEmpty())
        ShowNote(store_.WriteProblem());
}

void TRemindersPage::ShowFollowed() {
    QList<PageRow> rows;
    for (const FollowedShow& show : store_.Followed()) {
        const QString automatic = !show.autoRemind                 ? QString()
                                  : show.mode == AutoRemind::Every ? QStringLiteral("全部")
                                                                   : QStringLiteral("新集");
        rows.append(
            {show.id,
             {show.text, show.channel.isEmpty() ? QStringLiteral("所有频道") : show.channel, automatic},
             QStringLiteral("-"), // a row with a path is one that can be chosen
             {},
             false,
             show.channel,
             std::nullopt});
    }
    followedRows_->SetRows(std::move(rows));
    if (!FollowedList->currentIndex().isValid() && followedRows_->rowCount() > 0)
        FollowedList->setCurrentIndex(followedRows_->index(0, 0));
}

void TRemindersPage::ShowAirings() {
    const std::shared_ptr<const GuideReading> reading = reader_.Last();
    QList<PageRow> rows;
    const QString chosen = ChosenFollowed();
    const auto show = std::find_if(store_.Followed().begin(), store_.Followed().end(),
                                   [&](const FollowedShow& followed) { return followed.id == chosen; });
    if (show != store_.Followed().end() && reading->search) {
        const QDateTime now = Now();
        for (const Airing& airing : AiringsOf(*show, *reading->search, now, keys_)) {
            const GuideChannel& channel = reading->guide->channels[airing.channel];
            const Programme& programme = *airing.programme;
            rows.append(
                {channel.listingPath + u'\n' + QString::number(programme.line),
                 {DateText(programme.StartTime()), TimeText(programme.StartTime()), channel.displayName,
                  programme.title,
                  airing.episode
                      ? QStringLiteral("%1 第%2集").arg(airing.episode->series).arg(airing.episode->episode)
                      : QString()},
                 channel.listingPath,
                 channel.className,
                 airing.past,
                 channel.displayName,
                 ReminderOf(channel, {}, programme, kDefaultReminderLead)});
        }
    }
    airingRows_->SetRows(std::move(rows));
}

void TRemindersPage::FollowText() {
    FollowedShow show;
    show.text = FollowEdit->text().trimmed();
    if (show.text.isEmpty())
        return;
    show.channel = FollowChannelEdit->text().trimmed();
    if (!show.channel.isEmpty())
        show.channelKey = ChannelKey(show.channel);
    store_.AddFollowed(std::move(show));
    FollowEdit->clear();
    FollowChannelEdit->clear();
    FollowedList->setCurrentIndex(followedRows_->index(followedRows_->rowCount() - 1, 0));
}

void TRemindersPage::ChangeChosenFollowed(const std::function<void(FollowedShow&)>& change) {
    QList<FollowedShow> followed = store_.Followed();
    for (FollowedShow& show : followed)
        if (show.id == ChosenFollowed())
            change(show);
    store_.SetFollowed(std::move(followed));
}

void TRemindersPage::ExportCalendar() {
    const QString path = AskCalendarPath();
    if (path.isEmpty())
        return;
    try {
        WriteCalendar(path, store_.Reminders(), Now());
        ShowNote(QStringLiteral("已导出 %1 个提醒到 %2").arg(store_.Reminders().size()).arg(path));
    } catch (const Exception& error) {
        ShowNote(QStringLiteral("日历无法导出：") + error.Message());
    }
}

void TRemindersPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The airings come from the data folder as it is now.
    reader_.Refresh();
}
