#include "tests/ui/WindowFixture.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>
#include <unistd.h>

void WindowFixture::SetUp() {
    ASSERT_TRUE(root_.isValid());
    QDir root(root_.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("app")));
    ASSERT_TRUE(root.mkpath(QStringLiteral("work")));
    ASSERT_TRUE(root.mkpath(QStringLiteral("home/Desktop")));
    ASSERT_TRUE(root.mkpath(QStringLiteral("home/.config")));
    QFile executable(ExecutablePath());
    ASSERT_TRUE(executable.open(QIODevice::WriteOnly));
    executable.close();
    QFile userDirs(root_.path() + QStringLiteral("/home/.config/user-dirs.dirs"));
    ASSERT_TRUE(userDirs.open(QIODevice::WriteOnly));
    userDirs.write("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
    userDirs.close();

    previousWorkingFolder_ = QDir::currentPath();
    home_.emplace("HOME", QFile::encodeName(root_.path() + QStringLiteral("/home")));
    config_.emplace("XDG_CONFIG_HOME", QFile::encodeName(root_.path() + QStringLiteral("/home/.config")));
    data_.emplace("XDG_DATA_HOME", std::nullopt); // the defaults below the temporary home
    cache_.emplace("XDG_CACHE_HOME", std::nullopt);
    ASSERT_TRUE(QDir::setCurrent(WorkingFolder()));
}

void WindowFixture::TearDown() {
    form_.reset();
    QDir::setCurrent(previousWorkingFolder_);
    cache_.reset();
    data_.reset();
    config_.reset();
    home_.reset();
}

TForm1& WindowFixture::Start(const QStringList& arguments) {
    form_.reset(); // one window at a time, as in the program
    form_ = std::make_unique<TForm1>(TStartup{ExecutablePath(), arguments, mode, systemLibrary, timings});
    form_->OpenAddress = [this](const QString& address) { opened << address; };
    return *form_;
}

TForm1& WindowFixture::StartAt(const QDateTime& now) {
    TForm1& window = Start();
    window.Now = [this] { return now_; };
    now_ = now;
    window.show();
    QApplication::setActiveWindow(&window);
    return window;
}

void WindowFixture::WriteDataFile(const QString& relativePath, const QByteArray& content) {
    const QString path = DataFolder() + relativePath;
    ASSERT_TRUE(QDir().mkpath(path.left(path.lastIndexOf(u'/'))));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content), content.size());
}

QStringList MemoLines(const QPlainTextEdit* memo) {
    const QString text = memo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

QString LineAt(QTextCursor cursor) {
    cursor.movePosition(QTextCursor::StartOfLine);
    cursor.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
    return cursor.selectedText();
}

void AnswerNextModalBox(ModalBoxRecord& record) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &record] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        record.title = box->windowTitle();
        record.text = box->text();
        record.icon = box->icon();
        record.seen = true;
        box->accept();
        poll->stop();
        poll->deleteLater();
    });
    poll->start();
}

StatusLog::StatusLog(TForm1& window) {
    clock_.start();
    QPlainTextEdit* memo = window.TVListBox;
    QObject::connect(memo, &QPlainTextEdit::textChanged, memo, [this, memo] {
        const QStringList now = MemoLines(memo);
        if (now.size() > shown_ && !now.isEmpty()) {
            lines << now.last();
            times << clock_.elapsed();
            if (onLine)
                onLine(now.last());
        }
        shown_ = now.size();
    });
}

qint64 StatusLog::TimeOf(const QString& line) const {
    const qsizetype index = lines.indexOf(line);
    return index < 0 ? -1 : times[index];
}
