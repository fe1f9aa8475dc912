#include <string>

#include "platform/files.h"
#include "platform/win32/utf16.h"
#include "platform/win32/wait_context_win32.h"

namespace kestrav::platform
{
namespace
{
bool WriteAll(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty())
    {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}
}

bool FileExists(const std::string& path)
{
    const std::wstring wide = win32::Utf8ToWide(path);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MoveFileAside(const std::string& from, const std::string& to)
{
    const std::wstring source = win32::Utf8ToWide(from);
    const std::wstring target = win32::Utf8ToWide(to);
    // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists, with no window between
    // a check and the move.
    return !source.empty() && !target.empty() && MoveFileExW(source.c_str(), target.c_str(), 0) != FALSE;
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes)
{
    const std::wstring target = win32::Utf8ToWide(path);
    const std::wstring temporary = win32::Utf8ToWide(path + kReplacementSuffix);
    if (target.empty() || temporary.empty())
        return false;
    const HANDLE file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool written = WriteAll(file, bytes) && FlushFileBuffers(file) != FALSE;
    const bool closed = CloseHandle(file) != FALSE;
    // MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk.
    if (!written || !closed ||
        !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}
}
