#include "net/tls/SelfSignedCertificate.h"

#include <Poco/File.h>
#include <Poco/Net/IPAddress.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "orvane/Exception.h"

namespace Orvane {
namespace Host {

namespace {

const long kValidDays = 397;
const long kRenewDays = 30;

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using CertPtr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

bool isAddress(const std::string& name) {
    Poco::Net::IPAddress address;
    return Poco::Net::IPAddress::tryParse(name, address);
}

CertPtr readCertificate(const std::string& file) {
    FILE* in = std::fopen(file.c_str(), "r");
    if (!in)
        return CertPtr();
    CertPtr certificate(PEM_read_X509(in, nullptr, nullptr, nullptr));
    std::fclose(in);
    ERR_clear_error();
    return certificate;
}

void addExtension(X509* certificate, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension)
        throw Orvane::Exception("cannot make the TLS certificate's " + value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

std::string altNames(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ",") + std::string(isAddress(name) ? "IP:" : "DNS:") + name;
    return text;
}

void setSerial(X509* certificate) {
    unsigned char bytes[16];
    RAND_bytes(bytes, sizeof(bytes));
    bytes[0] &= 0x7f;  // a positive number
    BIGNUM* number = BN_bin2bn(bytes, sizeof(bytes), nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
    BN_free(number);
}

CertPtr sign(EVP_PKEY* key, const std::vector<std::string>& names) {
    CertPtr certificate(X509_new());
    X509* x = certificate.get();
    X509_set_version(x, 2);
    setSerial(x);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), kValidDays * 86400);
    X509_NAME* subject = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("orvane-host"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(names.front().c_str()), -1,
                               -1, 0);
    X509_set_issuer_name(x, subject);
    X509_set_pubkey(x, key);
    addExtension(x, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(x, NID_ext_key_usage, "serverAuth");
    addExtension(x, NID_subject_key_identifier, "hash");
    addExtension(x, NID_subject_alt_name, altNames(names));
    if (X509_sign(x, key, EVP_sha256()) == 0)
        throw Orvane::Exception("cannot sign the TLS certificate");
    return certificate;
}

// Written beside and renamed into place: a crash leaves the old pair whole.
template <typename Write>
void store(const std::string& file, mode_t mode, Write write) {
    const std::string temporary = file + ".new";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    FILE* out = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!out) {
        if (fd >= 0)
            ::close(fd);
        throw Orvane::Exception("cannot write " + temporary);
    }
    const bool written = write(out) == 1;
    if (std::fclose(out) != 0 || !written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw Orvane::Exception("cannot write " + file);
    }
}

}  // namespace

SelfSignedCertificate::SelfSignedCertificate(const std::string& folder) : m_folder(folder) {}

void SelfSignedCertificate::ensure(const std::vector<std::string>& names) {
    if (names.empty())
        throw Orvane::Exception("a self-signed certificate needs at least one name");
    if (usable(names))
        return;
    try {
        Poco::File(m_folder).createDirectories();
    } catch (const Poco::Exception& e) {
        throw Orvane::Exception("cannot make " + m_folder + ": " + e.displayText());
    }
    ::chmod(m_folder.c_str(), 0700);
    make(names);
}

bool SelfSignedCertificate::usable(const std::vector<std::string>& names) const {
    if (::access(keyFile().c_str(), R_OK) != 0)
        return false;
    CertPtr certificate = readCertificate(certificateFile());
    if (!certificate)
        return false;
    time_t soon = ::time(nullptr) + kRenewDays * 86400;
    if (X509_cmp_time(X509_get0_notAfter(certificate.get()), &soon) <= 0)
        return false;
    for (const auto& name : names) {
        const int match = isAddress(name)
                              ? X509_check_ip_asc(certificate.get(), name.c_str(), 0)
                              : X509_check_host(certificate.get(), name.c_str(), 0, 0, nullptr);
        if (match != 1)
            return false;
    }
    return true;
}

void SelfSignedCertificate::make(const std::vector<std::string>& names) const {
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        throw Orvane::Exception("cannot make a key for the TLS certificate");
    CertPtr certificate = sign(key.get(), names);
    store(keyFile(), 0600, [&](FILE* out) {
        return PEM_write_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    store(certificateFile(), 0644,
          [&](FILE* out) { return PEM_write_X509(out, certificate.get()); });
    ERR_clear_error();
}

}  // namespace Host
}  // namespace Orvane
