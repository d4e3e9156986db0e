#pragma once

#include <QString>
#include <QStringList>

// The class selector's item that stands for the whole data folder.
inline constexpr const char16_t* kAllChannelsClass = u"所有频道";

// The class folders: direct sub-folders of the data folder, named like the class selector's items,
// in the selector's order.
inline constexpr const char16_t* kNationalClass = u"央视频道";
inline constexpr const char16_t* kProvincialClass = u"地方频道";
inline constexpr const char16_t* kDigitalClass = u"数字频道";
inline constexpr const char16_t* kAbroadClass = u"境外频道";
inline constexpr const char16_t* kClassFolderNames[] = {kNationalClass, kProvincialClass, kDigitalClass,
                                                        kAbroadClass};

// The class selector's items in their order: "所有频道" first, then the class folders.
QStringList CatalogueClassItems();

// The folder a class stands for, below `dataFolder` (which ends in "/"): the data folder itself for
// "所有频道" (exact comparison), otherwise the data folder followed by the class name, with no "/"
// at its end. Any other name is taken as a folder name too, so a class that is not one of the four
// walks a folder that simply may not exist.
QString ClassFolder(const QString& dataFolder, const QString& className);
