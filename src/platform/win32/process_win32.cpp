// windows.h first: bcrypt.h relies on its types.
#include "platform/win32/wait_context_win32.h"

#include <bcrypt.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/process.h"
#include "platform/win32/utf16.h"

namespace kestrav::platform
{
namespace
{
constexpr const wchar_t* kHostCoreLibrary = L"vaultex.dll";
// Paths beyond this are not tried; long-path aware hosts stay well under it.
constexpr DWORD kMaximumPathCharacters = 32768;

std::mutex g_overrideMutex;
std::optional<std::string> g_executableOverride;

// GetModuleFileNameW cuts a path that does not fit without failing: grow until it fits.
std::wstring ModulePath(HMODULE module)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    while (buffer.size() <= kMaximumPathCharacters)
    {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

// The fixed part of the file's version resource; the file is read, never loaded.
std::optional<FileVersion> VersionOfFile(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return std::nullopt;
    std::vector<std::uint8_t> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
        return std::nullopt;
    void* block = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", &block, &length) || block == nullptr || length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    if (fixed->dwSignature != 0xFEEF04BD)
        return std::nullopt;
    // The product version, which names the host's release; the file version may differ per file.
    return FileVersion{HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                       HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
}

std::wstring SystemDirectory(UINT(WINAPI* query)(LPWSTR, UINT))
{
    wchar_t buffer[MAX_PATH];
    const UINT length = query(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

// The directories the loader searches after the application's own: the system directory (SysWOW64
// for this 32-bit module on 64-bit Windows, by redirection), the Windows directory and PATH. The
// current directory is left out: a file planted there must not decide the host's version.
std::optional<FileVersion> VersionInSystemSearch()
{
    std::wstring directories = SystemDirectory(GetSystemDirectoryW) + L";" + SystemDirectory(GetWindowsDirectoryW);
    const DWORD pathLength = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (pathLength > 0 && pathLength <= kMaximumPathCharacters)
    {
        std::vector<wchar_t> path(pathLength);
        const DWORD copied = GetEnvironmentVariableW(L"PATH", path.data(), pathLength);
        if (copied > 0 && copied < pathLength)
            directories += L";" + std::wstring(path.data(), copied);
    }
    std::vector<wchar_t> found(kMaximumPathCharacters);
    const DWORD length = SearchPathW(directories.c_str(), kHostCoreLibrary, nullptr, static_cast<DWORD>(found.size()),
                                     found.data(), nullptr);
    if (length == 0 || length >= found.size())
        return std::nullopt;
    return VersionOfFile(std::wstring(found.data(), length));
}
}

std::string HostExecutablePath()
{
    {
        std::lock_guard lock(g_overrideMutex);
        if (g_executableOverride)
            return *g_executableOverride;
    }
    return win32::WideToUtf8(ModulePath(nullptr));
}

void SetHostExecutablePathForTesting(std::optional<std::string> path)
{
    std::lock_guard lock(g_overrideMutex);
    g_executableOverride = std::move(path);
}

std::optional<FileVersion> FindHostCoreVersion(const std::string& hostDirectory)
{
    if (const HMODULE loaded = GetModuleHandleW(kHostCoreLibrary))
    {
        if (auto version = VersionOfFile(ModulePath(loaded)))
            return version;
    }
    if (!hostDirectory.empty())
    {
        std::wstring directory = win32::Utf8ToWide(hostDirectory);
        if (!directory.empty())
        {
            if (directory.back() != L'\\' && directory.back() != L'/')
                directory += L'\\';
            if (auto version = VersionOfFile(directory + kHostCoreLibrary))
                return version;
        }
    }
    return VersionInSystemSearch();
}

std::uint32_t ProcessorCount()
{
    const DWORD count = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (count > 0)
        return count;
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

bool FillRandomBytes(std::span<std::uint8_t> bytes)
{
    std::size_t filled = 0;
    while (filled < bytes.size())
    {
        const auto chunk = static_cast<ULONG>(std::min<std::size_t>(bytes.size() - filled, 1u << 20));
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes.data() + filled, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        filled += chunk;
    }
    return true;
}
}
