#pragma once

#include "update/CookieStore.h"
#include "update/HttpAddress.h"
#include "update/HttpRequest.h"
#include "update/HttpResponse.h"
#include "update/HttpResponseReader.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class HttpConnection;
class ResponseReader;

enum TWorkMode { wmRead, wmWrite };
enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };

// What the client sends besides the address and the cookies.
struct TIdHTTPRequest final {
    QString Accept = QString::fromLatin1(kDefaultAccept);
    QString UserAgent = QString::fromLatin1(kDefaultUserAgent);
};

// The HTTP/1.1 client of the window (IdHTTP1). Single-threaded on the calling (GUI) thread; it
// keeps its connection, its cookies and its last address between fetches, and keeps the window
// live through the anti-freeze while it waits.
class TIdHTTP final {
public:
    TIdHTTP();
    ~TIdHTTP();
    TIdHTTP(const TIdHTTP&) = delete;
    TIdHTTP& operator=(const TIdHTTP&) = delete;

    TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
    bool HandleRedirects = false;
    // Redirect responses one fetch takes; the one that reaches this number ends the fetch.
    int RedirectMaximum = 15;
    bool AllowCookies = true;
    TIdHTTPRequest Request;
    // Longest wait for a connection in ms; 0 stands for 120 000.
    int ConnectTimeout = 0;
    // Longest wait in ms without a byte from the server; zero or less waits without limit.
    int ReadTimeout = 120000;
    // Low-speed limit, as curl's: a response that brings fewer than LowSpeedLimit bytes within any
    // LowSpeedTime ms fails. Zero or less for either turns it off.
    int64_t LowSpeedLimit = 1024;
    int LowSpeedTime = 60000;
    // A body longer than this fails the fetch, whether it is kept or discarded.
    int64_t MaxBodySize = HttpLimits::MaxBody;

    // Transfer events: one begin and one end for every body read or discarded (the end also when
    // reading fails), work after every block with the running total. Fired inside Get.
    std::function<void(TIdHTTP& sender, TWorkMode mode, int64_t workCountMax)> OnWorkBegin;
    std::function<void(TIdHTTP& sender, TWorkMode mode, int64_t workCount)> OnWork;
    std::function<void(TIdHTTP& sender, TWorkMode mode)> OnWorkEnd;

    // Fetches `address` and appends the final body to `buffer` from the size it had at the call.
    // On failure the buffer is cut back to that size and an error from update/HttpErrors.h (or an
    // InvalidAddressError) is thrown. A nested call while a fetch runs is refused.
    void Get(const QString& address, QByteArray& buffer);
    // The same into any sink: the final body is appended from the size the sink had at the call,
    // and on failure the sink is cut back to that size.
    void Get(const QString& address, BodySink& sink);

    // The status code, status line and headers (trailers included) of the last response of the last
    // fetch; code -1 and no headers when that fetch read no status line.
    int ResponseCode() const { return lastResponse_.StatusCode; }
    const ResponseHead& Response() const { return lastResponse_; }
    // Null until cookies are allowed and the first response has come.
    const CookieStore* CookieManager() const { return cookies_.get(); }
    bool Connected() const;
    void Disconnect();

private:
    void Fetch(const QString& address, BodySink& sink, int64_t start);
    ResponseHead Exchange(const HttpAddress& address);
    void PrepareConnection(const HttpAddress& address);
    void ReadBody(ResponseHead& head, BodySink* sink);
    bool BodyArrivesWithin(const ResponseHead& head, std::chrono::milliseconds limit);
    void FinishResponse(const ResponseHead& head);
    [[noreturn]] void FailWithErrorPage(ResponseHead& head, bool onlyIfItArrives);

    std::unique_ptr<HttpConnection> connection_;
    bool keepAlive_ = false;
    std::optional<HttpAddress> lastAddress_;
    std::unique_ptr<CookieStore> cookies_;
    ResponseHead lastResponse_;
    bool busy_ = false;
};
