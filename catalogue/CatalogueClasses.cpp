#include "catalogue/CatalogueClasses.h"

QStringList CatalogueClassItems() {
    QStringList items{QString::fromUtf16(kAllChannelsClass)};
    for (const char16_t* name : kClassFolderNames)
        items.append(QString::fromUtf16(name));
    return items;
}

QString ClassFolder(const QString& dataFolder, const QString& className) {
    return className == QStringView(kAllChannelsClass) ? dataFolder : dataFolder + className;
}
