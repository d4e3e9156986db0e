#pragma once

#include <QLoggingCategory>
#include <QString>

// The program's logging categories. Their warnings reach standard error (Qt's default), so a user who
// starts the program from a terminal, and a failing test, can see why a step stopped that the window
// only reports by its status texts. QT_LOGGING_RULES="pelnavi.*=false" silences them.
Q_DECLARE_LOGGING_CATEGORY(lcStartup)   // "pelnavi.startup"
Q_DECLARE_LOGGING_CATEGORY(lcCatalogue) // "pelnavi.catalogue"
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)    // "pelnavi.update"

// The text of the exception being handled: the program's own message, a standard exception's
// what(), or a fixed text for anything else. Call it only inside a catch block.
QString CurrentExceptionMessage();
