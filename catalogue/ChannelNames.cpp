#include "catalogue/ChannelNames.h"

#include "platform/AsciiCase.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string_view>

namespace {

using Substitution = ChannelNameSubstitution;

// Applied top to bottom; each row works on the output of the rows above it, so a row may act on
// text that an earlier row inserted (13.txt → "ZORQ-13 新闻" → "ZORQ-13 ZORQ-13 新闻").
constexpr std::array<Substitution, 68> kSubstitutions{{
    {u"01.txt", u"ZORQ-1 中央"},
    {u"02.txt", u"ZORQ-2 财经"},
    {u"03.txt", u"ZORQ-3 综艺"},
    {u"04.txt", u"ZORQ-4台"},
    {u"04(亚洲).txt", u"ZORQ-4 中文国际(亚)"},
    {u"04(欧洲).txt", u"ZORQ-4 中文国际(欧)"},
    {u"04(美洲).txt", u"ZORQ-4 中文国际(美)"},
    {u"05.txt", u"ZORQ-5 体育"},
    {u"06.txt", u"ZORQ-6 电影"},
    {u"07.txt", u"ZORQ-7 军事/农业"},
    {u"08.txt", u"ZORQ-8 电视剧"},
    {u"09(英).txt", u"ZORQ-9 纪录(英)"},
    {u"09.txt", u"ZORQ-9 纪录"},
    {u"10.txt", u"ZORQ-10 科教"},
    {u"11.txt", u"ZORQ-11 戏曲"},
    {u"12.txt", u"ZORQ-12 社会与法"},
    {u"13.txt", u"ZORQ-13 新闻"},
    {u"新闻", u"ZORQ-13 新闻"},
    {u"14.txt", u"ZORQ-14 少儿"},
    {u"15.txt", u"ZORQ-15 音乐"},
    {u"16.txt", u"ZORQ-16台"},
    {u"17.txt", u"ZORQ-17台"},
    {u"18.txt", u"ZORQ-18台"},
    {u"news", u"ZORQ-NEWS"},
    {u"俄语", u"ZORQ-俄语台"},
    {u"少儿", u"ZORQ-少儿台"},
    {u"高清", u"ZORQ-高清台"},
    {u"法语", u"ZORQ-法语台"},
    {u"西语", u"ZORQ-西语台"},
    {u"阿语", u"ZORQ-阿语台"},
    {u"音乐", u"ZORQ-音乐台"},
    {u"dongfang", u""},
    {u"yunnan", u""},
    {u"meimenggu", u""},
    {u"neimenggu", u""},
    {u"jilin", u""},
    {u"sichuan", u""},
    {u"tianjin1", u""},
    {u"tianjin2", u""},
    {u"fujian", u""},
    {u"ningxia", u""},
    {u"tianjinweishi", u""},
    {u"shandong", u""},
    {u"shanxitai", u""},
    {u"shanxi", u""},
    {u"guangdong", u""},
    {u"guangxi", u""},
    {u"jiaoyu", u""},
    {u"luyou", u""},
    {u"xinjiang", u""},
    {u"anhui", u""},
    {u"henan", u""},
    {u"hebei", u""},
    {u"jiangsu", u""},
    {u"jiangxi", u""},
    {u"zhejiang", u""},
    {u"hubei", u""},
    {u"hunan", u""},
    {u"gansu", u""},
    {u"xizang", u""},
    {u"xiamen", u""},
    {u"guizhou", u""},
    {u"liaoning", u""},
    {u"heilongjiang", u""},
    {u"chongqing", u""},
    {u"qinghai", u""},
    {u"电视台", u""},
    {u".txt", u""},
}};

// A cheap filter in front of the search: a row can only match where its first two code units stand
// side by side, so each pair of neighbouring units in the text picks, through one table look-up, the
// rows that start with it (or with a pair that shares its bucket). Most rows are never searched.
constexpr size_t kPairBuckets = 1024;

constexpr size_t PairBucket(char16_t first, char16_t second) {
    return ((uint32_t{first} * 31u + uint32_t{second}) * 2654435761u) >> 22;
}

// A set of rows, one bit each.
struct RowSet {
    uint64_t words[2] = {0, 0};

    constexpr void Add(size_t row) { words[row >> 6] |= uint64_t{1} << (row & 63); }
    constexpr void Add(const RowSet& other) {
        words[0] |= other.words[0];
        words[1] |= other.words[1];
    }
    // The first row in the set from `row` on; kSubstitutions.size() when none is left.
    size_t Next(size_t row) const {
        for (size_t word = row >> 6; word < 2; ++word) {
            const uint64_t rest = row > word * 64 ? words[word] & (~uint64_t{0} << (row & 63)) : words[word];
            if (rest != 0)
                return word * 64 + static_cast<size_t>(std::countr_zero(rest));
        }
        return kSubstitutions.size();
    }
};

static_assert(kSubstitutions.size() <= 128, "RowSet holds 128 rows");

constexpr std::array<RowSet, kPairBuckets> MakeRowsByFirstPair() {
    std::array<RowSet, kPairBuckets> rows{};
    for (size_t i = 0; i < kSubstitutions.size(); ++i) {
        const std::u16string_view search = kSubstitutions[i].search;
        if (search.size() < 2)
            throw "every search text needs two code units for the filter";
        rows[PairBucket(search[0], search[1])].Add(i);
    }
    return rows;
}

constexpr std::array<RowSet, kPairBuckets> kRowsByFirstPair = MakeRowsByFirstPair();

// The rows whose search text may occur in `text`.
RowSet RowsThatMayMatch(std::u16string_view text) {
    RowSet rows;
    for (size_t i = 1; i < text.size(); ++i)
        rows.Add(kRowsByFirstPair[PairBucket(text[i - 1], text[i])]);
    return rows;
}

std::u16string_view View(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size())};
}

// Replaces every occurrence, searching left to right and going on right behind each match, so
// matches never overlap and inserted text is not searched again by the same row.
void ReplaceAll(QString& text, size_t firstMatch, const Substitution& row) {
    const std::u16string_view source = View(text);
    QString result;
    result.reserve(text.size() + static_cast<qsizetype>(row.replacement.size()) * 2);
    size_t from = 0;
    for (size_t match = firstMatch; match != std::u16string_view::npos;
         match = source.find(row.search, from)) {
        result.append(QStringView(source.substr(from, match - from)));
        result.append(QStringView(row.replacement));
        from = match + row.search.size();
    }
    result.append(QStringView(source.substr(from)));
    text = std::move(result);
}

// The same for an empty replacement, in place: what is kept moves left over what is removed, and
// the search always runs ahead of the writing.
void RemoveAll(QString& text, size_t firstMatch, std::u16string_view search) {
    char16_t* const units = reinterpret_cast<char16_t*>(text.data());
    const std::u16string_view source(units, static_cast<size_t>(text.size()));
    size_t kept = firstMatch;
    size_t from = firstMatch + search.size();
    for (size_t match = source.find(search, from); match != std::u16string_view::npos;
         match = source.find(search, from)) {
        std::copy(units + from, units + match, units + kept);
        kept += match - from;
        from = match + search.size();
    }
    std::copy(units + from, units + source.size(), units + kept);
    kept += source.size() - from;
    text.truncate(static_cast<qsizetype>(kept));
}

} // namespace

std::span<const ChannelNameSubstitution> ChannelNameSubstitutions() {
    return kSubstitutions;
}

QString ChannelDisplayName(const QString& fileName) {
    QString text = fileName;
    if (std::any_of(fileName.cbegin(), fileName.cend(),
                    [](QChar unit) { return AsciiLower(unit.unicode()) != unit.unicode(); }))
        LowerAsciiInPlace(text);
    RowSet rows = RowsThatMayMatch(View(text));
    for (size_t i = rows.Next(0); i < kSubstitutions.size(); i = rows.Next(i + 1)) {
        const Substitution& row = kSubstitutions[i];
        const size_t firstMatch = View(text).find(row.search);
        if (firstMatch == std::u16string_view::npos)
            continue;
        if (row.replacement.empty())
            RemoveAll(text, firstMatch, row.search);
        else
            ReplaceAll(text, firstMatch, row);
        // Both may bring units together that a later row matches.
        rows = RowsThatMayMatch(View(text));
    }
    return text;
}
