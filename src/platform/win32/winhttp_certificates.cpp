#include "platform/win32/winhttp_certificates.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/win32/http_completion_win32.h"

namespace kestrav::platform::win32
{
namespace
{
// A certificate bundle is a few hundred kilobytes at most.
constexpr DWORD kLargestFile = 4 * 1024 * 1024;
// Leaf, intermediates, root: deeper chains are not a camera's.
constexpr int kLongestChain = 8;

std::vector<char> ReadWholeFile(const std::string& path)
{
    std::vector<char> bytes;
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= kLargestFile)
    {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
        DWORD read = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
            read = 0;
        bytes.resize(read);
    }
    CloseHandle(file);
    return bytes;
}

std::optional<std::array<BYTE, 4>> ParseIpv4(std::string_view text)
{
    std::array<BYTE, 4> address{};
    for (std::size_t part = 0; part < address.size(); ++part)
    {
        if (part > 0)
        {
            if (text.empty() || text.front() != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
            value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;
        address[part] = static_cast<BYTE>(value);
        text.remove_prefix(digits);
    }
    if (!text.empty())
        return std::nullopt;
    return address;
}

wchar_t LowerAscii(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool SameName(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](wchar_t x, wchar_t y) { return LowerAscii(x) == LowerAscii(y); });
}

// A certificate's DNS name against the host: "*." stands for exactly one leading label.
bool DnsNameMatches(std::wstring_view pattern, std::wstring_view host)
{
    if (pattern.starts_with(L"*."))
    {
        const std::size_t dot = host.find(L'.');
        return dot != std::wstring_view::npos && dot > 0 && SameName(pattern.substr(1), host.substr(dot));
    }
    return SameName(pattern, host);
}

// Done here rather than by WinHTTP, whose check under Wine does not match an address against the
// certificate's IP address names.
bool NameMatches(PCCERT_CONTEXT certificate, const std::string& serverName)
{
    const std::wstring host = Widen(serverName);
    const auto address = ParseIpv4(serverName);
    const PCERT_EXTENSION extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                                                        certificate->pCertInfo->rgExtension);
    if (extension == nullptr)
    {
        // No alternative names: the subject's common name, as older certificates carry it.
        std::array<wchar_t, 256> name{};
        const DWORD length =
            CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name.data(),
                               static_cast<DWORD>(name.size()));
        return length > 1 && DnsNameMatches(std::wstring_view(name.data(), length - 1), host);
    }
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size) ||
        names == nullptr)
        return false;
    bool matches = false;
    for (DWORD i = 0; i < names->cAltEntry && !matches; ++i)
    {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && !address && entry.pwszDNSName != nullptr)
            matches = DnsNameMatches(entry.pwszDNSName, host);
        else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && address)
            matches = entry.IPAddress.cbData == address->size() &&
                      std::memcmp(entry.IPAddress.pbData, address->data(), address->size()) == 0;
    }
    LocalFree(names);
    return matches;
}

// An issuer of `subject` in `store` whose key signed it.
PCCERT_CONTEXT FindIssuer(HCERTSTORE store, PCCERT_CONTEXT subject)
{
    if (store == nullptr)
        return nullptr;
    PCCERT_CONTEXT candidate = nullptr;
    while ((candidate = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                   &subject->pCertInfo->Issuer, candidate)) != nullptr)
    {
        if (CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                              const_cast<CERT_CONTEXT*>(subject), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                              const_cast<CERT_CONTEXT*>(candidate), 0, nullptr))
            return candidate; // the search's reference becomes the caller's
    }
    return nullptr;
}
}

TrustedCertificates::TrustedCertificates(const std::string& pemFile)
    : m_store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr))
{
    if (m_store == nullptr)
        return;
    const std::vector<char> file = ReadWholeFile(pemFile);
    const std::string_view text(file.data(), file.size());
    constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    for (std::size_t at = text.find(kBegin); at != std::string_view::npos; at = text.find(kBegin, at))
    {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string_view::npos)
            break;
        const std::string_view block = text.substr(at, end + kEnd.size() - at);
        at = end + kEnd.size();
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr) ||
            size == 0)
            continue;
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                 &size, nullptr, nullptr))
            CertAddEncodedCertificateToStore(m_store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                             nullptr);
    }
}

TrustedCertificates::~TrustedCertificates()
{
    if (m_store != nullptr)
        CertCloseStore(m_store, 0);
}

bool TrustedCertificates::Trusts(HINTERNET request) const
{
    if (m_store == nullptr)
        return false;
    PCCERT_CONTEXT leaf = nullptr;
    DWORD size = sizeof(leaf);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &leaf, &size) || leaf == nullptr)
        return false;
    bool trusted = false;
    PCCERT_CONTEXT current = CertDuplicateCertificateContext(leaf);
    for (int depth = 0; depth < kLongestChain && current != nullptr && !trusted; ++depth)
    {
        if (PCCERT_CONTEXT same =
                CertFindCertificateInStore(m_store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, current, nullptr))
        {
            CertFreeCertificateContext(same);
            trusted = true;
            break;
        }
        if (PCCERT_CONTEXT issuer = FindIssuer(m_store, current))
        {
            CertFreeCertificateContext(issuer);
            trusted = true;
            break;
        }
        // One step up through what the server sent; a self-signed certificate ends the walk.
        PCCERT_CONTEXT next = FindIssuer(leaf->hCertStore, current);
        if (next != nullptr && CertCompareCertificate(X509_ASN_ENCODING, next->pCertInfo, current->pCertInfo))
        {
            CertFreeCertificateContext(next);
            next = nullptr;
        }
        CertFreeCertificateContext(current);
        current = next;
    }
    if (current != nullptr)
        CertFreeCertificateContext(current);
    CertFreeCertificateContext(leaf);
    return trusted;
}

bool CertificateCheck::Passes(HINTERNET request) const
{
    if (!trust || !trust->Trusts(request))
        return false;
    if (serverName.empty())
        return true;
    PCCERT_CONTEXT leaf = nullptr;
    DWORD size = sizeof(leaf);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &leaf, &size) || leaf == nullptr)
        return false;
    const bool matches = NameMatches(leaf, serverName);
    CertFreeCertificateContext(leaf);
    return matches;
}
}
