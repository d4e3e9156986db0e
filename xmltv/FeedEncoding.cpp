#include "xmltv/FeedEncoding.h"

#include <algorithm>
#include <iterator>

QByteArray DeclaredEncoding(QByteArrayView head) {
    if (!head.startsWith("<?xml"))
        return {};
    const qsizetype end = head.indexOf("?>");
    const QByteArrayView declaration = head.first(end < 0 ? head.size() : end);
    qsizetype at = declaration.indexOf("encoding");
    if (at < 0)
        return {};
    at += 8;
    while (at < declaration.size() &&
           (declaration[at] == ' ' || declaration[at] == '=' || declaration[at] == '\t'))
        ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const qsizetype close = declaration.indexOf(declaration[at], at + 1);
    if (close < 0)
        return {};
    return declaration.sliced(at + 1, close - at - 1).toByteArray().toLower();
}

FeedCodePage DeclaredCodePage(QByteArrayView head) {
    static const QByteArray kGbkNames[] = {"gbk",         "gb2312", "cp936",  "ms936",
                                           "windows-936", "x-gbk",  "euc-cn", "csgb2312"};
    const QByteArray name = DeclaredEncoding(head);
    if (name == "gb18030")
        return FeedCodePage::Gb18030;
    const bool gbk = std::find(std::begin(kGbkNames), std::end(kGbkNames), name) != std::end(kGbkNames);
    return gbk ? FeedCodePage::Gbk : FeedCodePage::None;
}
