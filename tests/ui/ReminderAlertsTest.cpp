// A reminder at its time: a notification to the desktop's service on a private session bus, its
// action "打开" coming back, and the program's own window when there is no service.
#include "ui/ReminderAlerts.h"

#include "catalogue/ListingTime.h"
#include "tests/support/QtPrinters.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace {

const QDateTime kStart = ListingInstant(QDate(2026, 12, 10), QTime(19, 0));

class ReminderAlertsTest : public ::testing::Test {
protected:
    ReminderAlertsTest() : store_(folder_.filePath(u"reminders.json"_qs)) {
        Reminder reminder;
        reminder.channel = u"CCTV-1 综合"_qs;
        reminder.channelKey = u"cctv1"_qs;
        reminder.listingPath = u"/data/央视频道/01.txt"_qs;
        reminder.className = u"央视频道"_qs;
        reminder.line = 7;
        reminder.title = u"新闻联播"_qs;
        reminder.start = kStart;
        reminder.lead = 5;
        store_.Add(reminder);
        alerts_.Now = [this] { return now_; };
        QObject::connect(&alerts_, &TReminderAlerts::ProgrammeAsked,
                         [this](const ChosenProgramme& programme) {
                             asked_ = programme;
                             ++askedCount_;
                         });
    }

    void ExpectAskedForTheProgramme() {
        ASSERT_TRUE(asked_.has_value());
        EXPECT_EQ(asked_->listingPath, u"/data/央视频道/01.txt"_qs);
        EXPECT_EQ(asked_->className, u"央视频道"_qs);
        EXPECT_EQ(asked_->line, 7);
        EXPECT_EQ(asked_->title, u"新闻联播"_qs);
    }

    QTemporaryDir folder_;
    ReminderStore store_;
    QWidget mainWindow_;
    TReminderAlerts alerts_{store_, &mainWindow_};
    QDateTime now_ = kStart.addSecs(qint64(-10) * 60);
    std::optional<ChosenProgramme> asked_;
    int askedCount_ = 0;
};

TEST_F(ReminderAlertsTest, ANotificationGoesOutAtItsTimeAndItsActionOpensTheProgramme) {
    QProcess service;
    service.start(QString::fromUtf8(PELNAVI_FAKE_NOTIFICATIONS), {u"open"_qs});
    ASSERT_TRUE(service.waitForReadyRead(10000)) << service.readAllStandardError().toStdString();
    ASSERT_EQ(service.readLine().trimmed(), "ready");

    // Ten minutes before: nothing yet, the timer is set for five minutes on.
    alerts_.Check();
    EXPECT_TRUE(alerts_.Timer->isActive());
    EXPECT_EQ(alerts_.Timer->interval(), 5 * 60 * 1000);
    now_ = kStart.addSecs(qint64(-5) * 60);
    alerts_.Check();
    EXPECT_EQ(store_.Reminders()[0].state, ReminderState::Fired);
    EXPECT_FALSE(alerts_.Timer->isActive());

    QTRY_VERIFY_WITH_TIMEOUT(asked_.has_value(), 10000);
    ExpectAskedForTheProgramme();
    if (!service.canReadLine())
        service.waitForReadyRead(5000);
    const QJsonObject sent = QJsonDocument::fromJson(service.readLine()).object();
    EXPECT_EQ(sent[u"summary"].toString(), u"即将播出：新闻联播"_qs);
    EXPECT_EQ(sent[u"body"].toString(), u"CCTV-1 综合 19:00"_qs);
    EXPECT_EQ(sent[u"app"].toString(), u"Pelnavi系统"_qs);
    // Pairs of key and caption.
    const QVariantList actions = sent[u"actions"].toArray().toVariantList();
    const qsizetype open = actions.indexOf(u"open"_qs);
    ASSERT_GE(open, 0);
    EXPECT_EQ(actions.value(open + 1).toString(), u"打开"_qs);
    EXPECT_EQ(alerts_.Window, nullptr);
    // The action on another program's notification opened nothing.
    QTest::qWait(100);
    EXPECT_EQ(askedCount_, 1);
    service.kill();
    service.waitForFinished();
}

TEST_F(ReminderAlertsTest, WithoutAServiceTheProgramsOwnWindowShowsAndBlocksNothing) {
    const struct {
        const char* name;
        QDBusConnection bus;
    } cases[] = {
        {"a session bus without the service", QDBusConnection::sessionBus()},
        {"no session bus", QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_qs, u"nowhere"_qs)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delete alerts_.Window;
        alerts_.Window = nullptr;
        asked_.reset();
        store_.SetState(store_.Reminders()[0].id, ReminderState::Waiting);
        alerts_.Notifications = new DesktopNotifications(c.bus, &alerts_);
        now_ = kStart.addSecs(-60);
        alerts_.Check();
        QTRY_VERIFY_WITH_TIMEOUT(alerts_.Window != nullptr && alerts_.Window->isVisible(), 10000);
        TReminderWindow& window = *alerts_.Window;
        EXPECT_FALSE(window.isModal());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_TRUE(window.isWindow());
        ASSERT_EQ(window.List->count(), 1);
        EXPECT_EQ(window.List->item(0)->text(), u"即将播出：新闻联播\nCCTV-1 综合 19:00"_qs);
        EXPECT_EQ(window.OpenButton->accessibleName(), u"打开"_qs);
        window.OpenButton->click();
        ExpectAskedForTheProgramme();
    }
}

TEST_F(ReminderAlertsTest, AReminderWhoseTimePassedWhileTheProgramWasNotRunningIsMissed) {
    now_ = kStart.addSecs(3600);
    alerts_.Check();
    EXPECT_EQ(store_.Reminders()[0].state, ReminderState::Missed);
    EXPECT_EQ(ReminderStore(store_.Path()).Reminders()[0].state, ReminderState::Missed);
    QTest::qWait(50);
    EXPECT_EQ(alerts_.Window, nullptr);
    EXPECT_FALSE(asked_.has_value());
}

} // namespace
