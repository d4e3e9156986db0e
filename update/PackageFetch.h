#pragma once

#include "update/IdHTTP.h"
#include "update/PackageDownload.h"
#include "update/UpdateFailure.h"

#include <QString>

#include <optional>

// How a fetch did not bring a package.
struct FetchFailure {
    UpdateFailure failure = UpdateFailure::NoConnection;
    int statusCode = 0; // for UpdateFailure::ErrorStatus
};

// Fetches `address` into `package`, following redirects, and judges what came: a failure to connect,
// an error status or a redirect chain that gave up, a body that broke off, was empty or was cut
// short of its announced length, a package that could not be written. The package file is not put
// in place: the caller checks what it holds and replaces it. The reason of every failure goes to
// the log category pelnavi.update.
std::optional<FetchFailure> FetchPackage(TIdHTTP& http, const QString& address, PackageFile& package);
