#pragma once

#include <QString>

#include <span>
#include <string_view>

// The name shown in the channel list for a listing file's bare name: the name with A to Z lowered,
// then passed through the fixed chain of substitutions (national channel numbers become "ZORQ-"
// names, pinyin place names, "电视台" and ".txt" are cut out). May be empty; never fails.
QString ChannelDisplayName(const QString& fileName);

// One step of that chain: every occurrence of `search`, left to right and not overlapping, becomes
// `replacement`; the next step works on the result.
struct ChannelNameSubstitution {
    std::u16string_view search;
    std::u16string_view replacement;
};

// The chain, in the order it is applied.
std::span<const ChannelNameSubstitution> ChannelNameSubstitutions();
