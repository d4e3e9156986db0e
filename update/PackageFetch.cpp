#include "update/PackageFetch.h"

#include "platform/Logging.h"
#include "update/HttpErrors.h"

namespace {

bool IsSuccessStatus(int statusCode) {
    return statusCode >= 200 && statusCode < 300;
}

FetchFailure Logged(UpdateFailure failure, const QString& reason) {
    qCWarning(lcUpdate).noquote() << "download stopped:" << reason;
    return {failure, 0};
}

} // namespace

std::optional<FetchFailure> FetchPackage(TIdHTTP& http, const QString& address, PackageFile& package) {
    try {
        http.HandleRedirects = true;
        http.Get(address, package);
    } catch (const HttpProtocolError& error) {
        qCWarning(lcUpdate).noquote() << "download stopped:" << error.Message();
        return FetchFailure{UpdateFailure::ErrorStatus, error.ErrorCode()};
    } catch (const PackageSaveError& error) {
        return Logged(UpdateFailure::CannotSave, error.Message());
    } catch (const TlsCertificateError& error) {
        return Logged(UpdateFailure::BadCertificate, error.Message());
    } catch (const TlsError& error) {
        return Logged(UpdateFailure::NoSecureConnection, error.Message());
    } catch (...) {
        // A failure after a success status broke off the package's body; any earlier one means the
        // server was never properly reached.
        return Logged(IsSuccessStatus(http.ResponseCode()) ? UpdateFailure::IncompletePackage
                                                           : UpdateFailure::NoConnection,
                      CurrentExceptionMessage());
    }
    const ResponseHead& response = http.Response();
    if (JudgeResponse(response.StatusCode, response.Headers.Value("Location")) == ResponseVerdict::Redirect) {
        qCWarning(lcUpdate).noquote()
            << "download stopped: the redirects gave up at" << QString::fromLatin1(response.StatusLine);
        return FetchFailure{UpdateFailure::ErrorStatus, response.StatusCode};
    }
    // An empty or cut-short body is no package: saving it would only destroy the one an earlier
    // update left.
    if (!IsWholePackage(package.Size(), response))
        return Logged(UpdateFailure::IncompletePackage,
                      QStringLiteral("%1 bytes came, which is no whole package").arg(package.Size()));
    return std::nullopt;
}
