#include "tests/support/TestAuthority.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
    ERR_clear_error();
    throw std::runtime_error(std::string("TestAuthority: ") + what);
}

EVP_PKEY* NewKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (key == nullptr)
        Fail("no key");
    return key;
}

void AddExtension(X509* certificate, X509V3_CTX& context, int nid, const char* value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr || X509_add_ext(certificate, extension, -1) != 1) {
        X509_EXTENSION_free(extension);
        Fail("an extension cannot be added");
    }
    X509_EXTENSION_free(extension);
}

struct Subject {
    const QByteArray& commonName;
    EVP_PKEY* key;
};

// A certificate for `subject`, signed by `issuer` (itself when none).
X509* NewCertificate(const Subject& subject, X509* issuer, EVP_PKEY* issuerKey,
                     const QByteArray& alternativeNames, TestAuthority::Validity validity) {
    X509* certificate = X509_new();
    if (certificate == nullptr)
        Fail("no certificate");
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F; // positive
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
    BN_free(number);
    X509_set_version(certificate, X509_VERSION_3);
    X509_gmtime_adj(X509_getm_notBefore(certificate), static_cast<long>(validity.from.count()));
    X509_gmtime_adj(X509_getm_notAfter(certificate), static_cast<long>(validity.until.count()));
    X509_set_pubkey(certificate, subject.key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(subject.commonName.constData()), -1, -1,
                               0);
    X509_set_issuer_name(certificate, issuer != nullptr ? X509_get_subject_name(issuer) : name);

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer != nullptr ? issuer : certificate, certificate, nullptr, nullptr, 0);
    const bool authority = issuer == nullptr;
    AddExtension(certificate, context, NID_basic_constraints, authority ? "critical,CA:TRUE" : "CA:FALSE");
    AddExtension(certificate, context, NID_key_usage,
                 authority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    AddExtension(certificate, context, NID_subject_key_identifier, "hash");
    if (!authority) {
        AddExtension(certificate, context, NID_authority_key_identifier, "keyid:always");
        AddExtension(certificate, context, NID_ext_key_usage, "serverAuth");
        if (!alternativeNames.isEmpty())
            AddExtension(certificate, context, NID_subject_alt_name, alternativeNames.constData());
    }
    if (X509_sign(certificate, issuerKey != nullptr ? issuerKey : subject.key, EVP_sha256()) == 0) {
        X509_free(certificate);
        Fail("cannot sign");
    }
    return certificate;
}

template <typename Write> QByteArray Pem(const Write& write) {
    BIO* memory = BIO_new(BIO_s_mem());
    if (memory == nullptr || write(memory) != 1) {
        BIO_free(memory);
        Fail("cannot write PEM");
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(memory, &data);
    QByteArray pem(data, static_cast<qsizetype>(size));
    BIO_free(memory);
    return pem;
}

QByteArray CertificateText(X509* certificate) {
    return Pem([certificate](BIO* out) { return PEM_write_bio_X509(out, certificate); });
}

} // namespace

TestAuthority::TestAuthority(const QByteArray& name) : key_(NewKey()) {
    try {
        certificate_ = NewCertificate({name, key_}, nullptr, nullptr, {}, Validity{});
    } catch (...) {
        EVP_PKEY_free(key_);
        throw;
    }
}

TestAuthority::~TestAuthority() {
    X509_free(certificate_);
    EVP_PKEY_free(key_);
}

LoopbackServer::TlsIdentity TestAuthority::Issue(const QByteArray& alternativeNames,
                                                 Validity validity) const {
    EVP_PKEY* key = NewKey();
    const QByteArray commonName = "Pelnavi test server";
    X509* certificate = nullptr;
    try {
        certificate = NewCertificate({commonName, key}, certificate_, key_, alternativeNames, validity);
    } catch (...) {
        EVP_PKEY_free(key);
        throw;
    }
    LoopbackServer::TlsIdentity identity{CertificateText(certificate), Pem([key](BIO* out) {
                                             return PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0,
                                                                             nullptr, nullptr);
                                         })};
    X509_free(certificate);
    EVP_PKEY_free(key);
    return identity;
}

QByteArray TestAuthority::CertificatePem() const {
    return CertificateText(certificate_);
}

void TestAuthority::WriteCertificate(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(CertificatePem()) < 0)
        Fail("cannot write the certificate file");
}
