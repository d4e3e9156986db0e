#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records the warnings logged while it lives, as "category: message".
class WarningRecorder final {
public:
    WarningRecorder() {
        recorder_ = this;
        previous_ = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context,
                                              const QString& text) {
            if (type == QtWarningMsg)
                recorder_->warnings << QString::fromLatin1(context.category) + QStringLiteral(": ") + text;
        });
    }
    ~WarningRecorder() {
        qInstallMessageHandler(previous_);
        recorder_ = nullptr;
    }
    WarningRecorder(const WarningRecorder&) = delete;
    WarningRecorder& operator=(const WarningRecorder&) = delete;
    QStringList warnings;

private:
    static inline WarningRecorder* recorder_ = nullptr;
    QtMessageHandler previous_ = nullptr;
};
