#include "ptz/xml_preposition_reader.h"

#include <charconv>
#include <utility>

#include "platform/files.h"

namespace
{
using kestrav::CRecursiveLockGuard;
using kestrav::SettingsStatus;

constexpr const char* kChannelPath = "%s/PtzChannel%.2u";
constexpr const char* kNamePath = "%s/PtzChannel%.2u/Preposition%.3u/Name";
constexpr const char* kSlotPath = "%s/PtzChannel%.2u/Preposition%.3u/Slot";
// Older copies moved aside are kept too, up to this many.
constexpr unsigned kMovedAsideNames = 100;

bool ParseSlot(const std::string& text, std::uint32_t& slot)
{
    if (text.empty())
        return false;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, slot);
    return error == std::errc() && stop == end;
}
}

CXMLPrepositionReader::CXMLPrepositionReader(std::string rootName) : m_rootName(std::move(rootName)) {}

CXMLPrepositionReader::CXMLPrepositionReader(std::string rootName, std::string baseDirectory)
    : m_rootName(std::move(rootName))
{
    m_document.SetBaseDirectory(std::move(baseDirectory));
}

CXMLPrepositionReader::~CXMLPrepositionReader()
{
    while (m_document.CloseDocument() > 0)
    {
    }
}

bool CXMLPrepositionReader::Open(const std::string& fileName)
{
    CRecursiveLockGuard guard(m_lock);
    bool opened = m_document.OpenDocument(fileName) == SettingsStatus::Success;
    // Another program's XML under our name: no record could be written to it either.
    if (opened && !m_document.NodeExists("%s", m_rootName.c_str()))
    {
        m_document.CloseDocument();
        opened = false;
    }
    if (!opened && !fileName.empty())
    {
        const std::string path = m_document.PathOf(fileName);
        if (!kestrav::platform::FileExists(path) || MoveAside(path))
            opened = m_document.CreateDocument(m_rootName, fileName) == SettingsStatus::Success &&
                     m_document.OpenDocument(fileName) == SettingsStatus::Success;
    }
    m_autoSave = opened;
    return opened;
}

bool CXMLPrepositionReader::MoveAside(const std::string& path)
{
    for (unsigned attempt = 0; attempt < kMovedAsideNames; ++attempt)
    {
        std::string target = path + ".unreadable";
        if (attempt > 0)
            target += "." + std::to_string(attempt);
        if (kestrav::platform::FileExists(target))
            continue;
        if (!kestrav::platform::MoveFileAside(path, target))
            return false;
        m_movedAside = std::move(target);
        return true;
    }
    return false;
}

std::string CXMLPrepositionReader::GetMovedAsidePath()
{
    CRecursiveLockGuard guard(m_lock);
    return m_movedAside;
}

bool CXMLPrepositionReader::SetAutoSave(bool on)
{
    CRecursiveLockGuard guard(m_lock);
    const bool switchedOn = on && !m_autoSave;
    m_autoSave = on;
    return !switchedOn || m_document.SaveDocument();
}

bool CXMLPrepositionReader::ReadPreposition(std::uint32_t channel, std::uint32_t index,
                                            kestrav::PrepositionRecord& record)
{
    CRecursiveLockGuard guard(m_lock);
    std::string name = m_document.GetNodeValue(kNamePath, m_rootName.c_str(), channel + 1, index);
    std::uint32_t slot = 0;
    if (name.empty() || !ParseSlot(m_document.GetNodeValue(kSlotPath, m_rootName.c_str(), channel + 1, index), slot))
        return false;
    record.name = std::move(name);
    record.slot = slot;
    return true;
}

bool CXMLPrepositionReader::WritePreposition(std::uint32_t channel, std::uint32_t index,
                                             const kestrav::PrepositionRecord& record)
{
    CRecursiveLockGuard guard(m_lock);
    if (!m_document.SetNodeValue(record.name, kNamePath, m_rootName.c_str(), channel + 1, index) ||
        !m_document.SetNodeValue(std::to_string(record.slot), kSlotPath, m_rootName.c_str(), channel + 1, index))
        return false;
    return !m_autoSave || m_document.SaveDocument();
}

bool CXMLPrepositionReader::RemoveChannel(std::uint32_t channel)
{
    CRecursiveLockGuard guard(m_lock);
    if (!m_document.NodeExists(kChannelPath, m_rootName.c_str(), channel + 1))
        return false;
    if (!m_document.RemoveNodeUnsaved(kChannelPath, m_rootName.c_str(), channel + 1))
        return false;
    return !m_autoSave || m_document.SaveDocument();
}
