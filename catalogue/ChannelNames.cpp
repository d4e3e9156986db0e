#include "catalogue/ChannelNames.h"

#include "platform/AsciiCase.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string_view>

namespace {

struct Substitution {
    std::u16string_view search;
    std::u16string_view replacement;
};

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

// A cheap filter in front of the search: one bit per code unit value modulo 128. A row whose
// search text has a bit that the text lacks cannot match, and most rows are skipped this way.
struct UnitSet {
    uint64_t bits[2] = {0, 0};

    constexpr void Add(char16_t unit) { bits[(unit >> 6) & 1] |= uint64_t{1} << (unit & 63); }
    constexpr void Add(std::u16string_view text) {
        for (char16_t unit : text)
            Add(unit);
    }
    constexpr bool Contains(const UnitSet& other) const {
        return ((other.bits[0] & ~bits[0]) | (other.bits[1] & ~bits[1])) == 0;
    }
};

constexpr std::array<UnitSet, kSubstitutions.size()> MakeSearchSets() {
    std::array<UnitSet, kSubstitutions.size()> sets{};
    for (size_t i = 0; i < kSubstitutions.size(); ++i)
        sets[i].Add(kSubstitutions[i].search);
    return sets;
}

constexpr std::array<UnitSet, kSubstitutions.size()> kSearchSets = MakeSearchSets();

// The rows from `firstRow` on whose search text may occur in a text holding `present`, one bit each.
struct RowSet {
    uint64_t words[2] = {0, 0};

    static RowSet MayMatch(const UnitSet& present, size_t firstRow) {
        // Accumulated in locals: this loop is the bulk of the work for most names.
        uint64_t low = 0, high = 0;
        for (size_t i = 0; i < 64; ++i)
            low |= uint64_t{present.Contains(kSearchSets[i])} << i;
        for (size_t i = 64; i < kSubstitutions.size(); ++i)
            high |= uint64_t{present.Contains(kSearchSets[i])} << (i - 64);
        RowSet rows;
        rows.words[0] = firstRow >= 64 ? 0 : low & (~uint64_t{0} << firstRow);
        rows.words[1] = firstRow <= 64 ? high : high & (~uint64_t{0} << (firstRow - 64));
        return rows;
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

QString ChannelDisplayName(const QString& fileName) {
    QString text = fileName;
    UnitSet present;
    bool hasCapitals = false;
    for (const char16_t unit : View(fileName)) {
        const char16_t lowered = AsciiLower(unit);
        hasCapitals = hasCapitals || lowered != unit;
        present.Add(lowered);
    }
    if (hasCapitals)
        LowerAsciiInPlace(text);
    RowSet rows = RowSet::MayMatch(present, 0);
    for (size_t i = rows.Next(0); i < kSubstitutions.size(); i = rows.Next(i + 1)) {
        const Substitution& row = kSubstitutions[i];
        const size_t firstMatch = View(text).find(row.search);
        if (firstMatch == std::u16string_view::npos)
            continue;
        if (row.replacement.empty()) {
            RemoveAll(text, firstMatch, row.search);
        } else {
            ReplaceAll(text, firstMatch, row);
            // Units that a row removes may linger in the set; that costs a search, never a match.
            present.Add(row.replacement);
            rows = RowSet::MayMatch(present, i + 1);
        }
    }
    return text;
}
