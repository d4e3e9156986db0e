#include "platform/SystemMessage.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

QString Strerror(int errorNumber) {
    return TrimMessageText(QString::fromLocal8Bit(::strerror(errorNumber)));
}

TEST(SystemMessageText, FixedErrnoAndUnknownCodes) {
    const struct {
        uint32_t code;
        QString expected;
    } cases[] = {
        {0x00000001u, QStringLiteral("Incorrect function")},
        {0x80004001u, QStringLiteral("Not implemented")},
        {0x80004002u, QStringLiteral("No such interface supported")},
        {0x80004003u, QStringLiteral("Invalid pointer")},
        {0x80004004u, QStringLiteral("Operation aborted")},
        {0x80004005u, QStringLiteral("Unspecified error")},
        // Fixed texts win over the system error number in the low word (14 and 87 on Linux).
        {0x8007000Eu, QStringLiteral("Not enough storage is available to complete this operation")},
        {0x80070057u, QStringLiteral("The parameter is incorrect")},
        {0x80040111u, QStringLiteral("ClassFactory cannot supply requested class")},
        {0x80070000u | ENOENT, Strerror(ENOENT)},
        {0x80070000u | ENOSPC, Strerror(ENOSPC)},
        {0x88000000u | EACCES, Strerror(EACCES)},
        {0x00000000u, QString()},
        {0x80040154u, QString()},
        {0x80080005u, QString()},
        {0x00070002u, QString()},
        {0xFFFFFFFFu, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code);
        EXPECT_EQ(SystemMessageText(static_cast<int32_t>(c.code)), c.expected);
    }
    EXPECT_FALSE(Strerror(ENOENT).isEmpty());
    EXPECT_FALSE(Strerror(ENOENT).endsWith(u'.'));
}

TEST(TrimMessageText, RemovesTrailingBlanksLineBreaksAndFullStops) {
    const struct {
        QString text;
        QString expected;
    } cases[] = {
        {QStringLiteral("The parameter is incorrect. \r\n"), QStringLiteral("The parameter is incorrect")},
        {QStringLiteral("Wait...\t"), QStringLiteral("Wait")},
        {QStringLiteral("a.b.c."), QStringLiteral("a.b.c")},
        {QStringLiteral("  leading stays"), QStringLiteral("  leading stays")},
        {QStringLiteral(". \r\n."), QString()},
        {QString(), QString()},
        {QStringLiteral("数据包!"), QStringLiteral("数据包!")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrimMessageText(c.text), c.expected) << c.text.toStdString();
    EXPECT_EQ(ErrnoMessageText(ENOENT), Strerror(ENOENT));
}

} // namespace
