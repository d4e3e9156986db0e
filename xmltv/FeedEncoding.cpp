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
    static const QByteArray kNames[] = {"gbk",         "gb2312", "gb18030", "cp936",   "ms936",
                                        "windows-936", "x-gbk",  "euc-cn",  "csgb2312"};
    const QByteArray name = DeclaredEncoding(head);
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames) ? FeedCodePage::Gbk
                                                                                     : FeedCodePage::None;
}
