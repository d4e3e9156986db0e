#include "platform/Logging.h"

#include "platform/Exception.h"

#include <exception>

Q_LOGGING_CATEGORY(lcStartup, "pelnavi.startup", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCatalogue, "pelnavi.catalogue", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUpdate, "pelnavi.update", QtWarningMsg)

QString CurrentExceptionMessage() {
    try {
        throw;
    } catch (const Exception& error) {
        return error.Message();
    } catch (const std::exception& error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}
