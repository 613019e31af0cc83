// The key and certificate of `--tls-self-signed`, kept in the profile's
// tls/ folder (key.pem mode 0600, cert.pem): made on first start, and made
// anew when the one there no longer names every address asked for or
// expires within 30 days. ECDSA P-256, valid 397 days. Main thread only.
#pragma once

#include <string>
#include <vector>

namespace Orvane {
namespace Host {

class SelfSignedCertificate {
public:
    explicit SelfSignedCertificate(const std::string& folder);

    // Host names and IP addresses the certificate must name. Throws
    // Orvane::Exception when it cannot be made or stored.
    void ensure(const std::vector<std::string>& names);

    std::string certificateFile() const { return m_folder + "/cert.pem"; }
    std::string keyFile() const { return m_folder + "/key.pem"; }

private:
    bool usable(const std::vector<std::string>& names) const;
    void make(const std::vector<std::string>& names) const;

    std::string m_folder;
};

}  // namespace Host
}  // namespace Orvane
