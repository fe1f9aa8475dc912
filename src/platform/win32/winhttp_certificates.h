// The certificates of HttpTransportSettings::trustedCertificatesFile, for WinHTTP, which has no option
// of its own for a store other than the system's.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <wincrypt.h>
#include <winhttp.h>

#include <memory>
#include <string>

namespace kestrav::platform::win32
{
class TrustedCertificates
{
public:
    // PEM certificates; a file that cannot be read (or holds none) trusts nothing.
    explicit TrustedCertificates(const std::string& pemFile);
    ~TrustedCertificates();
    TrustedCertificates(const TrustedCertificates&) = delete;
    TrustedCertificates& operator=(const TrustedCertificates&) = delete;

    // Whether the server certificate of the request is one of the file's, or chains to one of them
    // through the certificates the server sent. The dates are left to WinHTTP's own check.
    bool Trusts(HINTERNET request) const;

private:
    HCERTSTORE m_store = nullptr;
};

// What the status callback checks of an HTTPS request that trusts the file's certificates.
struct CertificateCheck
{
    std::shared_ptr<const TrustedCertificates> trust;
    // The server's name as the request was sent to it; empty when the caller lets any name pass.
    std::string serverName;

    bool Passes(HINTERNET request) const;
};
}
