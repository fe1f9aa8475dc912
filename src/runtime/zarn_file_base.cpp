#include "runtime/zarn_file_base.h"

#include <filesystem>
#include <system_error>

namespace kestrav
{
CZarnFileBase::~CZarnFileBase()
{
    Close();
}

FileProbeResult CZarnFileBase::Open(const std::string& fileName)
{
    Close();
    m_fileName = fileName;
    if (fileName.empty())
        return FileProbeResult::Absent;

    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(fileName, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return FileProbeResult::Absent;
    // Anything else that stops the status (a directory without search permission on the way)
    // does not prove the file absent.
    if (!error && std::filesystem::is_directory(status))
        return FileProbeResult::Unreadable;

    m_file.open(fileName, std::ios::in | std::ios::binary);
    m_opened = m_file.is_open();
    return m_opened ? FileProbeResult::Opened : FileProbeResult::Unreadable;
}

void CZarnFileBase::Close()
{
    if (m_file.is_open())
        m_file.close();
    m_opened = false;
}
}
