#pragma once

#include "tests/support/LoopbackServer.h"

#include <QByteArray>
#include <QString>

#include <openssl/types.h>

#include <chrono>

// A certificate authority made for one test or benchmark, and the server certificates it signs, all
// with fresh keys (EC P-256): no private key is ever kept in the tree.
class TestAuthority final {
public:
    explicit TestAuthority(const QByteArray& name = "Pelnavi Test Authority");
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    // When a certificate is valid, counted from now.
    struct Validity {
        std::chrono::seconds from{-3600};
        std::chrono::seconds until{86400};
    };

    // A server certificate for the subject alternative names (e.g. "DNS:localhost,IP:127.0.0.1"), with
    // its key.
    LoopbackServer::TlsIdentity Issue(const QByteArray& alternativeNames, Validity validity) const;
    LoopbackServer::TlsIdentity Issue(const QByteArray& alternativeNames) const {
        return Issue(alternativeNames, Validity{});
    }
    // The authority's certificate as PEM, and written into a file (for SSL_CERT_FILE or curl's --cacert).
    QByteArray CertificatePem() const;
    void WriteCertificate(const QString& path) const;

private:
    EVP_PKEY* key_ = nullptr;
    X509* certificate_ = nullptr;
};
