#include "update/UpdateFailure.h"

QString UpdateFailureLine(UpdateFailure failure, int statusCode) {
    switch (failure) {
    case UpdateFailure::NoConnection:
        return QString::fromUtf16(kNoConnectionLine);
    case UpdateFailure::ErrorStatus:
        return QString::fromUtf16(kErrorStatusLine) + QString::number(statusCode);
    case UpdateFailure::IncompletePackage:
        return QString::fromUtf16(kIncompletePackageLine);
    case UpdateFailure::CannotSave:
        return QString::fromUtf16(kCannotSaveLine);
    case UpdateFailure::CannotUnpack:
        return QString::fromUtf16(kCannotUnpackLine);
    case UpdateFailure::BadCertificate:
        return QString::fromUtf16(kBadCertificateLine);
    case UpdateFailure::NoSecureConnection:
        return QString::fromUtf16(kNoSecureConnectionLine);
    case UpdateFailure::DataFolderBusy:
        return QString::fromUtf16(kDataFolderBusyLine);
    }
    return QString::fromUtf16(kNoConnectionLine);
}
