#pragma once

#include "update/ByteChannel.h"
#include "update/TcpSocket.h"

#include <QByteArray>

#include <openssl/types.h>

#include <chrono>
#include <functional>
#include <memory>

// A TLS client session (OpenSSL) over a connected socket. Only TLS 1.2 and later are spoken, and the
// server must show a certificate that a trusted authority signed, that is valid now, and that is made
// out for the host asked for (its DNS name, or its IP address for a literal). Trusted are the
// system's authorities (package ca-certificates); SSL_CERT_FILE and SSL_CERT_DIR, when set, name
// the authorities to trust in their place, as for curl and other OpenSSL-based tools.
class TlsChannel final : public ByteChannel {
public:
    // Takes over the socket; nothing is sent until Handshake.
    TlsChannel(TcpSocket socket, const QByteArray& host);
    ~TlsChannel() override;
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Runs the handshake, waiting in steps of `step` and running `afterStep` after each step that ends
    // without progress. Throws TlsCertificateError when the certificate is not accepted, TlsError when
    // the handshake fails otherwise, and ConnectTimeoutError once `limit` has passed.
    void Handshake(std::chrono::milliseconds limit, std::chrono::milliseconds step,
                   const std::function<void()>& afterStep);

    // A close without the server's close-notify throws ConnectionClosedError: the data before it may
    // have been cut off by anyone on the way. A failure of the protocol throws TlsError.
    void SendAll(const QByteArray& bytes) override;
    qsizetype ReceiveNow(char* into, qsizetype limit) override;
    int PeekNow() override;
    bool WaitReadable(std::chrono::milliseconds wait) override;

private:
    struct SslFree {
        void operator()(SSL* ssl) const;
    };
    enum class Outcome { Done, WantRead, WantWrite, CleanClose, CutClose };
    Outcome Judge(int result);
    bool WaitFor(short events, std::chrono::milliseconds wait);

    TcpSocket socket_;
    std::unique_ptr<SSL, SslFree> ssl_;
    bool wantsWrite_ = false; // the last call waits for room to write, not for data
    bool broken_ = false;     // after a fatal error, OpenSSL must not be asked for a close-notify
};

// A BIO over a socket descriptor it does not own: it never waits and never raises SIGPIPE, so that a
// peer gone away is an error of the call, not the end of the program.
BIO* NewSocketBio(int descriptor);
