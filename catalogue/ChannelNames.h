#pragma once

#include <QString>

// The name shown in the channel list for a listing file's bare name: the name with A to Z lowered,
// then passed through the fixed chain of substitutions (national channel numbers become "ZORQ-"
// names, pinyin place names, "电视台" and ".txt" are cut out). May be empty; never fails.
QString ChannelDisplayName(const QString& fileName);
