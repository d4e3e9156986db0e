#pragma once

#include <QString>

#include <cstdint>

// The system's text for a result code: codes 0x8007xxxx and the library's own 0x8800xxxx carry a
// system error number (its strerror text); the common COM codes have fixed English texts; any
// other code has no text. Trailing blanks, line breaks and full stops are removed.
QString SystemMessageText(int32_t code);

// strerror of a system error number, trimmed the same way.
QString ErrnoMessageText(int errorNumber);

// Removes every trailing character of code 32 or below and every trailing full stop.
QString TrimMessageText(QString text);
