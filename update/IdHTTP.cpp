#include "update/IdHTTP.h"

#include "update/HttpConnection.h"
#include "update/HttpErrors.h"
#include "update/HttpRequest.h"
#include "update/TlsChannel.h"

#include <QScopedValueRollback>

#include <algorithm>
#include <exception>

namespace {

constexpr std::chrono::milliseconds DefaultConnectLimit{120000};
// How long a redirect body, and a body after 204, 304 or 1xx, is waited for before it is skipped.
constexpr std::chrono::milliseconds RedirectBodyWait{5000};
constexpr std::chrono::milliseconds UnexpectedBodyWait{100};

// Only failures on the connection itself end it: after an error page read to its end, or an address
// refused before any connecting, a kept-alive connection is still good for the next fetch.
bool LeavesConnectionUsable(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const HttpProtocolError&) {
        return true;
    } catch (const UnsupportedSchemeError&) {
        return true;
    } catch (const InvalidAddressError&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

TIdHTTP::TIdHTTP() = default;
TIdHTTP::~TIdHTTP() = default;

bool TIdHTTP::Connected() const {
    return connection_ != nullptr;
}

void TIdHTTP::Disconnect() {
    connection_.reset();
    keepAlive_ = false;
}

void TIdHTTP::Get(const QString& address, QByteArray& buffer) {
    ByteArraySink sink(buffer);
    Get(address, sink);
}

namespace {

void TruncateQuietly(BodySink& sink, int64_t size) {
    // The fetch's own error is the one to report.
    try {
        sink.Truncate(size);
    } catch (...) {
    }
}

// file, ftp and the rest must never be taken for http.
void CheckScheme(const HttpAddress& address) {
    if (!address.IsHttps() && address.Protocol.compare(u"http", Qt::CaseInsensitive) != 0)
        throw UnsupportedSchemeError(address.Protocol);
}

// The TLS handshake over a new socket. It is part of connecting; a server that stops answering in it
// is bound by the read time-out as well.
std::unique_ptr<ByteChannel> Secured(TcpSocket socket, const QByteArray& host,
                                     std::chrono::milliseconds connectLimit, int readTimeout) {
    auto channel = std::make_unique<TlsChannel>(std::move(socket), host);
    const auto limit =
        readTimeout > 0 ? std::min(connectLimit, std::chrono::milliseconds(readTimeout)) : connectLimit;
    channel->Handshake(limit, AntiFreeze::ConnectStep(), AntiFreeze::PumpWhenIdle);
    return channel;
}

} // namespace

void TIdHTTP::Get(const QString& address, BodySink& sink) {
    // Handlers run nested at the pump points; a second fetch there would tear the first one's
    // connection away from under it.
    if (busy_)
        throw Exception(QStringLiteral("The HTTP client is busy with another fetch"));
    const QScopedValueRollback<bool> busy(busy_, true);

    const int64_t start = sink.Size();
    // Until this fetch reads a status line, there is no last response: a caller can tell a fetch that
    // broke off in a body from one that never got an answer.
    lastResponse_ = ResponseHead();
    try {
        Fetch(address, sink, start);
    } catch (...) {
        TruncateQuietly(sink, start);
        if (!LeavesConnectionUsable(std::current_exception()))
            Disconnect();
        throw;
    }
}

void TIdHTTP::Fetch(const QString& text, BodySink& sink, int64_t start) {
    HttpAddress address = ResolveAddress(text, lastAddress_);
    int redirects = 0;
    for (;;) {
        CheckScheme(address);
        ResponseHead head = Exchange(address);
        const QByteArray location = head.Headers.Value("Location");
        ResponseVerdict verdict = JudgeResponse(head.StatusCode, location);
        if (verdict == ResponseVerdict::Redirect && !HandleRedirects)
            verdict = ResponseVerdict::Error;

        switch (verdict) {
        case ResponseVerdict::Redirect:
            ++redirects;
            if (BodyArrivesWithin(head, RedirectBodyWait))
                ReadBody(head, nullptr);
            FinishResponse(head);
            sink.Truncate(start);
            // The redirect that reaches the limit ends the fetch, successfully and with nothing in
            // the buffer; the caller decides what an empty result is worth.
            if (redirects >= RedirectMaximum)
                return;
            address = ResolveAddress(QString::fromUtf8(location), lastAddress_);
            continue;
        case ResponseVerdict::Success:
            ReadBody(head, &sink);
            FinishResponse(head);
            return;
        case ResponseVerdict::NoContent:
            if (BodyArrivesWithin(head, UnexpectedBodyWait))
                ReadBody(head, nullptr);
            FinishResponse(head);
            return;
        case ResponseVerdict::ErrorIfBodyArrives:
            FailWithErrorPage(head, true);
        case ResponseVerdict::Error:
            FailWithErrorPage(head, false);
        }
    }
}

void TIdHTTP::FailWithErrorPage(ResponseHead& head, bool onlyIfItArrives) {
    QByteArray page;
    ByteArraySink pageSink(page);
    if (!onlyIfItArrives || BodyArrivesWithin(head, UnexpectedBodyWait))
        ReadBody(head, &pageSink);
    FinishResponse(head);
    throw HttpProtocolError(head.StatusCode, QString::fromLatin1(head.StatusLine),
                            DecodeBodyText(page, head.Headers));
}

ResponseHead TIdHTTP::Exchange(const HttpAddress& address) {
    PrepareConnection(address);
    lastAddress_ = address;
    RequestHeaderValues values;
    values.HttpVersion = ProtocolVersion == pv1_0 ? "1.0" : "1.1";
    values.Accept = Request.Accept.toLatin1();
    values.UserAgent = Request.UserAgent.toLatin1();
    const QList<QByteArray> cookieLines =
        AllowCookies && cookies_ ? cookies_->RequestLines(address) : QList<QByteArray>();
    connection_->Send(BuildGetRequest(address, values, cookieLines));
    connection_->StartLowSpeedCheck(LowSpeedLimit, std::chrono::milliseconds(LowSpeedTime));

    // Interim responses share the head's limit with the real one, and their number is bounded: a
    // server that sends "100 Continue" without end would otherwise hold the fetch for good.
    qsizetype headBytes = 0;
    for (int interim = 0;; ++interim) {
        ResponseHead head = connection_->Reader().ReadHead(headBytes);
        lastResponse_ = head;
        if (AllowCookies) {
            if (!cookies_)
                cookies_ = std::make_unique<CookieStore>();
            cookies_->TakeFrom(head.Headers, address);
        }
        // "100 Continue" is only a preamble: the real response follows on the same connection.
        if (head.StatusCode != 100)
            return head;
        if (interim >= HttpLimits::MaxInterimResponses)
            throw MalformedResponseError(QStringLiteral("Too many interim responses"));
        AntiFreeze::PumpAfterBlock();
    }
}

void TIdHTTP::PrepareConnection(const HttpAddress& address) {
    const QByteArray host = address.AsciiHost();
    if (connection_ && (!keepAlive_ || !connection_->Serves(address.IsHttps(), host, address.Port)))
        Disconnect();
    if (connection_ && !connection_->DrainAndCheckOpen())
        Disconnect();
    if (!connection_) {
        const auto limit =
            ConnectTimeout > 0 ? std::chrono::milliseconds(ConnectTimeout) : DefaultConnectLimit;
        // A name server that does not answer is given up on like a server that sends nothing.
        TcpSocket socket =
            TcpSocket::Connect(host, address.Port, address.HostIsIPv6, std::chrono::milliseconds(ReadTimeout),
                               limit, AntiFreeze::ConnectStep(), AntiFreeze::PumpWhenIdle);
        if (address.IsHttps())
            connection_ = std::make_unique<HttpConnection>(
                Secured(std::move(socket), host, limit, ReadTimeout), host, address.Port);
        else
            connection_ = std::make_unique<HttpConnection>(std::move(socket), host, address.Port);
    }
    connection_->SetReadTimeout(std::chrono::milliseconds(ReadTimeout));
    connection_->Reader().SetBodyLimit(MaxBodySize);
    keepAlive_ = false; // until a response says otherwise
}

bool TIdHTTP::BodyArrivesWithin(const ResponseHead& head, std::chrono::milliseconds limit) {
    return FramingOf(head.Headers).kind != BodyFraming::Kind::Empty &&
           connection_->Reader().BodyArrivesWithin(limit);
}

void TIdHTTP::ReadBody(ResponseHead& head, BodySink* sink) {
    TransferHooks hooks;
    hooks.begin = [this](int64_t max) {
        if (OnWorkBegin)
            OnWorkBegin(*this, wmRead, max);
    };
    hooks.work = [this](int64_t count) {
        if (OnWork)
            OnWork(*this, wmRead, count);
    };
    hooks.end = [this] {
        if (OnWorkEnd)
            OnWorkEnd(*this, wmRead);
    };
    hooks.pump = AntiFreeze::PumpAfterBlock;
    connection_->Reader().ReadBody(FramingOf(head.Headers), sink, head.Headers, hooks);
    lastResponse_.Headers = head.Headers;
}

void TIdHTTP::FinishResponse(const ResponseHead& head) {
    keepAlive_ = AllowsKeepAlive(head.Headers) && !connection_->Reader().PeerClosed();
}
