#include "net/tls/TlsContext.h"

#include <Poco/Net/NetSSL.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

#include "orvane/Exception.h"

namespace Orvane {
namespace Host {

namespace {

// Mozilla's "intermediate" configuration.
const char* kCiphers12 =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
const char* kCiphers13 =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
const char* kGroups = "X25519:prime256v1:secp384r1";

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};

int noPassphrase(char*, int, int, void*) {
    return 0;
}

std::unique_ptr<BIO, BioFree> openFile(const std::string& file, const std::string& what) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new_file(file.c_str(), "r"));
    if (!bio)
        throw Orvane::Exception("cannot read the TLS " + what + " " + file);
    return bio;
}

// Reads both files first, for errors that name the file and the fault
// (OpenSSL's own would only say which call failed).
std::string checkFiles(const std::string& certificateFile, const std::string& keyFile) {
    std::unique_ptr<X509, X509Free> certificate(PEM_read_bio_X509(
        openFile(certificateFile, "certificate").get(), nullptr, noPassphrase, nullptr));
    if (!certificate) {
        throw Orvane::Exception("the TLS certificate " + certificateFile +
                                " holds no PEM certificate");
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        PEM_read_bio_PrivateKey(openFile(keyFile, "key").get(), nullptr, noPassphrase, nullptr));
    ERR_clear_error();
    if (!key) {
        throw Orvane::Exception("the TLS key " + keyFile +
                                " holds no PEM private key (or one locked with a passphrase)");
    }
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        ERR_clear_error();
        throw Orvane::Exception("the TLS key " + keyFile + " does not belong to the certificate " +
                                certificateFile);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate.get(), EVP_sha256(), digest, &length);
    std::string text;
    static const char* hex = "0123456789ABCDEF";
    for (unsigned int i = 0; i < length; ++i) {
        text += i ? ":" : "";
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

void tune(SSL_CTX* raw) {
    // Tickets off: resumption through the server's cache, whose keys die
    // with the process, as the intermediate configuration asks.
    SSL_CTX_set_options(raw, SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF |
                                 SSL_OP_NO_COMPRESSION | SSL_OP_NO_TICKET | SSL_OP_ENABLE_KTLS);
    SSL_CTX_set_mode(raw, SSL_MODE_RELEASE_BUFFERS | SSL_MODE_ENABLE_PARTIAL_WRITE |
                              SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_clear_mode(raw, SSL_MODE_AUTO_RETRY);
    SSL_CTX_set_min_proto_version(raw, TLS1_2_VERSION);
    SSL_CTX_set_cipher_list(raw, kCiphers12);
    SSL_CTX_set_ciphersuites(raw, kCiphers13);
    SSL_CTX_set1_groups_list(raw, kGroups);
    SSL_CTX_set_dh_auto(raw, 1);
    SSL_CTX_sess_set_cache_size(raw, 20480);
    SSL_CTX_set_timeout(raw, 86400);
}

}  // namespace

TlsContext::TlsContext(const std::string& certificateFile, const std::string& keyFile)
    : m_certificateFile(certificateFile), m_keyFile(keyFile) {
    Poco::Net::initializeSSL();
    m_context = build(m_fingerprint);
}

TlsContext::~TlsContext() {
    m_context.reset();
    Poco::Net::uninitializeSSL();
}

void TlsContext::reload() {
    std::string fingerprint;
    Poco::Net::Context::Ptr fresh = build(fingerprint);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_context = fresh;
    m_fingerprint = fingerprint;
}

Poco::Net::Context::Ptr TlsContext::build(std::string& fingerprint) const {
    fingerprint = checkFiles(m_certificateFile, m_keyFile);
    Poco::Net::Context::Params params;
    params.certificateFile = m_certificateFile;  // the chain, leaf first
    params.privateKeyFile = m_keyFile;
    params.verificationMode = Poco::Net::Context::VERIFY_NONE;
    params.loadDefaultCAs = false;
    params.cipherList = kCiphers12;
    params.ecdhCurve = kGroups;
    Poco::Net::Context::Ptr context;
    try {
        context = new Poco::Net::Context(Poco::Net::Context::TLS_SERVER_USE, params);
        context->requireMinimumProtocol(Poco::Net::Context::PROTO_TLSV1_2);
        context->enableSessionCache(true, "orvane-host");
    } catch (const Poco::Exception& e) {
        throw Orvane::Exception("cannot use the TLS certificate " + m_certificateFile + ": " +
                                e.displayText());
    }
    tune(context->sslContext());
    return context;
}

ssl_st* TlsContext::newSession(int fd) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    SSL* ssl = SSL_new(m_context->sslContext());
    if (ssl && SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        ssl = nullptr;
    }
    ERR_clear_error();
    return ssl;
}

std::string TlsContext::fingerprint() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fingerprint;
}

}  // namespace Host
}  // namespace Orvane
