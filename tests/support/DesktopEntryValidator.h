#pragma once

#include <QProcess>
#include <QString>

// What desktop-file-validate (package desktop-file-utils) says against a desktop entry: empty when
// it accepts the file without an error or a warning (hints do not count), else its report.
inline QString DesktopEntryProblems(const QString& path) {
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(QStringLiteral("desktop-file-validate"), {path});
    if (!validator.waitForFinished(60000) || validator.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("desktop-file-validate did not run: ") + validator.errorString();
    const QString report = QString::fromUtf8(validator.readAll());
    if (validator.exitCode() != 0 || report.contains(QStringLiteral("error:")) ||
        report.contains(QStringLiteral("warning:")))
        return report.isEmpty() ? QStringLiteral("exit code %1").arg(validator.exitCode()) : report;
    return {};
}
