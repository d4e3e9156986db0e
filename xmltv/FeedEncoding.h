#pragma once

#include <QByteArray>
#include <QByteArrayView>

// What a feed's XML declaration says about its encoding. Qt's reader reads the Unicode encodings
// itself; the Chinese code pages it does not know are decoded before it sees the text.

// The XML declaration must lie within the feed's first bytes.
inline constexpr qsizetype kDeclarationWindow = 1024;

// The encoding that the XML declaration at the start of `head` names, lowered; empty when none is
// named.
QByteArray DeclaredEncoding(QByteArrayView head);

enum class FeedCodePage {
    None,    // Qt's reader takes the bytes as they are
    Gbk,     // GBK and GB2312, read through code page 936
    Gb18030, // GB18030, a superset of GBK with four-byte sequences
};

// The code page the feed must be decoded from before Qt's reader sees it.
FeedCodePage DeclaredCodePage(QByteArrayView head);
