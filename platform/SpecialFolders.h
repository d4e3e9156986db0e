#pragma once

#include <QString>

// The user's desktop folder (the XDG desktop directory), without a trailing "/". It need not exist.
QString DesktopFolder();
