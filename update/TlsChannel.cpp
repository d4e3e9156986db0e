#include "update/TlsChannel.h"

#include "platform/Logging.h"
#include "platform/SystemMessage.h"
#include "update/HttpErrors.h"

#include <QStringList>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/socket.h>

namespace {

// ---- The socket BIO ----

struct SocketBioState {
    int fd = -1;
    int error = 0; // errno of the last failed call
};

SocketBioState& StateOf(BIO* bio) {
    return *static_cast<SocketBioState*>(BIO_get_data(bio));
}

int SocketWrite(BIO* bio, const char* data, int size) {
    SocketBioState& state = StateOf(bio);
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t rc = ::send(state.fd, data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (rc >= 0)
            return static_cast<int>(rc);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(bio);
        else
            state.error = errno;
        return -1;
    }
}

int SocketRead(BIO* bio, char* into, int size) {
    SocketBioState& state = StateOf(bio);
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t rc = ::recv(state.fd, into, static_cast<size_t>(size), MSG_DONTWAIT);
        if (rc > 0)
            return static_cast<int>(rc);
        if (rc == 0) {
            // Tells OpenSSL that the peer has gone, so that it can tell a close without close-notify.
            BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        else
            state.error = errno;
        return -1;
    }
}

long SocketControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
    default:
        return 0;
    }
}

int SocketDestroy(BIO* bio) {
    delete static_cast<SocketBioState*>(BIO_get_data(bio));
    BIO_set_data(bio, nullptr);
    return 1;
}

BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "pelnavi socket");
        BIO_meth_set_write(made, SocketWrite);
        BIO_meth_set_read(made, SocketRead);
        BIO_meth_set_ctrl(made, SocketControl);
        BIO_meth_set_destroy(made, SocketDestroy);
        return made;
    }();
    return method;
}

// ---- The client context ----

// Everything OpenSSL queued for this thread, oldest first; the queue is left empty.
QString TakeErrorQueue() {
    QStringList reasons;
    while (const unsigned long error = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(error, text, sizeof text);
        reasons << QString::fromLatin1(text);
    }
    return reasons.isEmpty() ? QStringLiteral("no reason given") : reasons.join(QStringLiteral("; "));
}

struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

// The trusted authorities are read for every connection: a fetch always sees the store as it is now.
void LoadAuthorities(SSL_CTX* context) {
    const QByteArray file = qgetenv("SSL_CERT_FILE");
    const QByteArray folder = qgetenv("SSL_CERT_DIR");
    if (file.isEmpty() && folder.isEmpty()) {
        if (SSL_CTX_set_default_verify_paths(context) != 1)
            qCWarning(lcUpdate).noquote()
                << "the system's certificate store cannot be read:" << TakeErrorQueue();
        return;
    }
    // What cannot be read trusts nothing, and every certificate then fails with its reason.
    if (!file.isEmpty() && SSL_CTX_load_verify_file(context, file.constData()) != 1)
        qCWarning(lcUpdate).noquote() << "SSL_CERT_FILE cannot be read:" << file << TakeErrorQueue();
    if (!folder.isEmpty() && SSL_CTX_load_verify_dir(context, folder.constData()) != 1)
        qCWarning(lcUpdate).noquote() << "SSL_CERT_DIR cannot be read:" << folder << TakeErrorQueue();
}

std::unique_ptr<SSL_CTX, ContextFree> NewClientContext() {
    std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_client_method()));
    if (!context)
        throw TlsError(TakeErrorQueue());
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    // Records are read ahead in large blocks, not with two system calls each. The waits stay right:
    // a wait only follows a read that OpenSSL answered with "want read", and then no whole record is
    // left in its buffer.
    SSL_CTX_set_read_ahead(context.get(), 1);
    SSL_CTX_set_default_read_buffer_len(context.get(), size_t{256} * 1024);
    LoadAuthorities(context.get());
    return context;
}

bool IsIpLiteral(const QByteArray& host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.constData(), address) == 1 ||
           ::inet_pton(AF_INET6, host.constData(), address) == 1;
}

// The name the certificate must carry, and SNI sends: an absolute name's final dot is no part of it.
QByteArray CheckedName(QByteArray host) {
    if (host.endsWith('.'))
        host.chop(1);
    return host;
}

} // namespace

BIO* NewSocketBio(int descriptor) {
    BIO* bio = BIO_new(SocketBioMethod());
    if (bio == nullptr)
        return nullptr;
    BIO_set_data(bio, new SocketBioState{descriptor, 0});
    BIO_set_init(bio, 1);
    return bio;
}

void TlsChannel::SslFree::operator()(SSL* ssl) const {
    SSL_free(ssl);
}

TlsChannel::TlsChannel(TcpSocket socket, const QByteArray& host) : socket_(std::move(socket)) {
    ERR_clear_error();
    const auto context = NewClientContext();
    ssl_.reset(SSL_new(context.get()));
    BIO* bio = NewSocketBio(socket_.Descriptor());
    if (!ssl_ || bio == nullptr) {
        BIO_free(bio);
        throw TlsError(TakeErrorQueue());
    }
    SSL_set_bio(ssl_.get(), bio, bio);
    SSL_set_connect_state(ssl_.get());

    const QByteArray name = CheckedName(host);
    X509_VERIFY_PARAM* check = SSL_get0_param(ssl_.get());
    X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    bool named = false;
    if (IsIpLiteral(name)) {
        // No SNI for an address (RFC 6066, 3): the certificate must list the address itself.
        named = X509_VERIFY_PARAM_set1_ip_asc(check, name.constData()) == 1;
    } else {
        named = X509_VERIFY_PARAM_set1_host(check, name.constData(), static_cast<size_t>(name.size())) == 1 &&
                SSL_set_tlsext_host_name(ssl_.get(), name.constData()) == 1;
    }
    if (!named)
        throw TlsError(QStringLiteral("The host name cannot be checked: %1").arg(QString::fromLatin1(host)));
}

TlsChannel::~TlsChannel() {
    // A close-notify for the server, when the session is sound; without waiting for its answer.
    if (ssl_ && !broken_ && SSL_is_init_finished(ssl_.get()) == 1) {
        SSL_shutdown(ssl_.get());
        ERR_clear_error();
    }
}

TlsChannel::Outcome TlsChannel::Judge(int result) {
    switch (SSL_get_error(ssl_.get(), result)) {
    case SSL_ERROR_NONE:
        return Outcome::Done;
    case SSL_ERROR_WANT_READ:
        wantsWrite_ = false;
        return Outcome::WantRead;
    case SSL_ERROR_WANT_WRITE:
        wantsWrite_ = true;
        return Outcome::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return Outcome::CleanClose;
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0) {
            broken_ = true;
            const int error = StateOf(SSL_get_rbio(ssl_.get())).error;
            if (error == 0)
                return Outcome::CutClose;
            throw SocketError(error, ErrnoMessageText(error));
        }
        break;
    default:
        break;
    }
    broken_ = true;
    if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        ERR_clear_error();
        return Outcome::CutClose;
    }
    throw TlsError(TakeErrorQueue());
}

bool TlsChannel::WaitFor(short events, std::chrono::milliseconds wait) {
    pollfd fd{socket_.Descriptor(), events, 0};
    const int rc = ::poll(&fd, 1, wait.count() < 0 ? -1 : static_cast<int>(wait.count()));
    if (rc < 0) {
        if (errno == EINTR)
            return false;
        throw SocketError(errno, ErrnoMessageText(errno));
    }
    return rc > 0;
}

void TlsChannel::Handshake(std::chrono::milliseconds limit, std::chrono::milliseconds step,
                           const std::function<void()>& afterStep) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        ERR_clear_error();
        Outcome outcome = Outcome::Done;
        try {
            outcome = Judge(SSL_connect(ssl_.get()));
        } catch (const TlsError&) {
            const long verdict = SSL_get_verify_result(ssl_.get());
            if (verdict != X509_V_OK)
                throw TlsCertificateError(QString::fromLatin1(X509_verify_cert_error_string(verdict)));
            throw;
        }
        switch (outcome) {
        case Outcome::Done:
            if (SSL_get0_peer_certificate(ssl_.get()) == nullptr ||
                SSL_get_verify_result(ssl_.get()) != X509_V_OK) {
                broken_ = true;
                throw TlsCertificateError(QStringLiteral("no certificate"));
            }
            return;
        case Outcome::CleanClose:
        case Outcome::CutClose:
            broken_ = true;
            throw TlsError(QStringLiteral("The server closed the connection in the handshake"));
        case Outcome::WantRead:
        case Outcome::WantWrite:
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw ConnectTimeoutError();
        if (!WaitFor(outcome == Outcome::WantWrite ? POLLOUT : POLLIN, std::min(step, left)) && afterStep)
            afterStep();
    }
}

void TlsChannel::SendAll(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    for (;;) {
        ERR_clear_error();
        size_t written = 0;
        // Only whole: a write that must wait is repeated with the same bytes, as OpenSSL asks.
        const int rc =
            SSL_write_ex(ssl_.get(), bytes.constData(), static_cast<size_t>(bytes.size()), &written);
        if (rc == 1)
            return;
        switch (Judge(rc)) {
        case Outcome::WantRead:
            WaitFor(POLLIN, std::chrono::milliseconds(-1));
            break;
        case Outcome::WantWrite:
            WaitFor(POLLOUT, std::chrono::milliseconds(-1));
            break;
        case Outcome::Done:
            return;
        case Outcome::CleanClose:
        case Outcome::CutClose:
            throw ConnectionClosedError();
        }
    }
}

qsizetype TlsChannel::ReceiveNow(char* into, qsizetype limit) {
    ERR_clear_error();
    size_t received = 0;
    const int rc = SSL_read_ex(ssl_.get(), into, static_cast<size_t>(limit), &received);
    if (rc == 1)
        return static_cast<qsizetype>(received);
    switch (Judge(rc)) {
    case Outcome::Done:
    case Outcome::WantRead:
    case Outcome::WantWrite:
        return -1;
    case Outcome::CleanClose:
        return 0;
    case Outcome::CutClose:
        break;
    }
    throw ConnectionClosedError();
}

int TlsChannel::PeekNow() {
    ERR_clear_error();
    char byte = 0;
    size_t received = 0;
    const int rc = SSL_peek_ex(ssl_.get(), &byte, 1, &received);
    if (rc == 1)
        return 1;
    switch (Judge(rc)) {
    case Outcome::Done:
    case Outcome::WantRead:
    case Outcome::WantWrite:
        return -1;
    case Outcome::CleanClose:
    case Outcome::CutClose:
        // Only a body that may be skipped is waited for this way: its end needs no proof.
        return 0;
    }
    return 0;
}

bool TlsChannel::WaitReadable(std::chrono::milliseconds wait) {
    // Bytes OpenSSL has already decrypted are there without the socket's say.
    if (SSL_pending(ssl_.get()) > 0)
        return true;
    return WaitFor(wantsWrite_ ? static_cast<short>(POLLIN | POLLOUT) : static_cast<short>(POLLIN),
                   std::max(wait, std::chrono::milliseconds(0)));
}
