#pragma once

#include "xmltv/FeedReader.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The text of a channel's listing file, in the shape of the schedule packages.

// UTF-8 with its mark, CR LF line ends; "<name> 一周节目预告", an empty line, then per date an empty
// line before a heading "YYYY-MM-DD 星期X" and "HH:MM title" lines in time order ("HH:MM:SS" when
// the seconds are not zero).
QByteArray ListingFileBytes(const QString& displayName, const QList<FeedProgramme>& programmes);

// The name the title line uses: the first display name with a Chinese character, else the first,
// else the id.
QString ChannelTitleName(const FeedChannel& channel);
