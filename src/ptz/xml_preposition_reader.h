// The preset file: per channel a numbered list of records, each a preset name and the camera slot
// that holds its position.
//
//   <Root>
//     <PtzChannel01>                      channel index + 1, at least two digits
//       <Preposition000>                  record index, at least three digits
//         <Name value="Gate"/>
//         <Slot value="4"/>
#pragma once

#include <cstdint>
#include <string>

#include "runtime/recursive_lock.h"
#include "runtime/xml_settings_api.h"

namespace kestrav
{
struct PrepositionRecord
{
    std::string name;
    std::uint32_t slot = 0;
};

// No camera stores more presets than this; it also bounds how far a file is searched for records.
constexpr std::uint32_t kMaximumPrepositions = 256;
}

class CXMLPrepositionReader
{
public:
    explicit CXMLPrepositionReader(std::string rootName);
    // Files are looked up in `baseDirectory` instead of the host directory.
    CXMLPrepositionReader(std::string rootName, std::string baseDirectory);
    CXMLPrepositionReader(const CXMLPrepositionReader&) = delete;
    CXMLPrepositionReader& operator=(const CXMLPrepositionReader&) = delete;
    // Closes the document without saving: every change was saved when it was made.
    virtual ~CXMLPrepositionReader();

    // Opens the file, creating it only when there is none. A file that is there but cannot be read
    // is someone's presets: it is moved aside (to the first free name of the form
    // "<name>.unreadable[.N]") and kept, and a new file takes its place. Auto-save follows the result.
    bool Open(const std::string& fileName);
    // Turning auto-save on saves at once; false when that save failed.
    bool SetAutoSave(bool on);

    bool ReadPreposition(std::uint32_t channel, std::uint32_t index, kestrav::PrepositionRecord& record);
    bool WritePreposition(std::uint32_t channel, std::uint32_t index, const kestrav::PrepositionRecord& record);
    // True only when the channel had records, they were removed and, with auto-save, saved.
    bool RemoveChannel(std::uint32_t channel);

    // Where a damaged file went; empty when none was moved.
    std::string GetMovedAsidePath();

private:
    bool MoveAside(const std::string& path);

    std::string m_rootName;
    kestrav::CRecursiveLock m_lock;
    kestrav::CXMLSettingsAPI m_document;
    bool m_autoSave = false;
    std::string m_movedAside;
};
