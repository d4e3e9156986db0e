#include "platform/SpecialFolders.h"

#include <QStandardPaths>

QString DesktopFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}
