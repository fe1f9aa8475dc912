// A read-only probe of a file: whether it is there and can be opened.
#pragma once

#include <fstream>
#include <string>

namespace kestrav
{
enum class FileProbeResult
{
    Opened,
    Absent,
    // There, but it cannot be opened for reading (no permission, a directory, ...).
    Unreadable,
};

class CZarnFileBase
{
public:
    CZarnFileBase() = default;
    CZarnFileBase(const CZarnFileBase&) = delete;
    CZarnFileBase& operator=(const CZarnFileBase&) = delete;
    virtual ~CZarnFileBase();

    // Opens an existing file for reading; an open file is closed first. Other writers are not
    // locked out (the file stays shared for reading and writing).
    FileProbeResult Open(const std::string& fileName);
    void Close();

    bool IsOpened() const { return m_opened; }
    const std::string& GetFileName() const { return m_fileName; }

private:
    std::string m_fileName;
    std::ifstream m_file;
    bool m_opened = false;
};
}
