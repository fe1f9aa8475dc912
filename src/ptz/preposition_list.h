// The named presets of one PTZ channel: names mapped to the camera's numbered slots, the preset the
// camera rests on, and their mirror in the preset file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ptz/xml_preposition_reader.h"
#include "runtime/recursive_lock.h"
#include "runtime/smart_ptr.h"

namespace kestrav
{
class IPrepositionComm;

// A preset's index is its place in the order the host sees. Names are unique: saving under a name
// that exists stores the camera's position in that preset's slot again. Camera requests are made
// under the list's lock, so preset operations of one channel take turns.
class CPrepositionList
{
public:
    explicit CPrepositionList(std::uint32_t channel);
    CPrepositionList(const CPrepositionList&) = delete;
    CPrepositionList& operator=(const CPrepositionList&) = delete;
    virtual ~CPrepositionList();

    // The record at `index` of this channel in the store; false without store.
    virtual bool WritePreposition(std::uint32_t index, std::uint32_t slot, const std::string& name);
    // Rewrites the channel's records as 0, 1, 2 ... and saves the file once.
    virtual bool StoreAll();
    // Reloads from the store. Records whose slot the camera cannot hold, and second records of a slot
    // or a name, are skipped; when the loaded records do not sit at 0, 1, 2 ... the file is rewritten
    // so, or a new preset would be written over one of them.
    virtual void LoadPrepositions();
    virtual bool SetStorage(const TSmartPtr<CXMLPrepositionReader>& store);
    virtual std::int32_t GetPrepositionCount();
    virtual bool GetPrepositionName(std::int32_t index, std::string& name);
    virtual bool GotoPreposition(const std::string& name, std::int32_t value);
    // kPtzDone, kPtzInvalidArgument, kPtzFailed or kPtzNoRoomForPreset.
    virtual std::int32_t AddPreposition(const std::string& name);
    // False when the camera refused or the file could not be rewritten.
    virtual bool RemovePreposition(const std::string& name);
    virtual bool GetCurrentPreposition(std::string& name);

    // Saving while the camera rests on a preset renames it; the camera is not asked.
    std::int32_t RenameCurrentPreposition(const std::string& name);
    // After every movement: the camera no longer rests on a preset.
    void ForgetCurrentPreposition();

    // Not owned; null until the control is opened.
    void SetPrepositionComm(IPrepositionComm* comm);
    // The camera's capacity, clamped to 0 ... kMaximumPrepositions.
    void SetMaximumPrepositions(std::int64_t count);
    std::uint32_t GetMaximumPrepositions();

private:
    // Index in the order of the preset named `name`, or -1.
    std::int32_t FindIndex(const std::string& name) const;
    bool StoreAllLocked();
    std::int32_t RenameLocked(const std::string& name);

    const std::uint32_t m_channel;
    IPrepositionComm* m_comm = nullptr;
    std::uint32_t m_maximum = 0;
    TSmartPtr<CXMLPrepositionReader> m_store;
    CRecursiveLock m_lock;
    std::map<std::uint32_t, std::string> m_names;
    std::vector<std::uint32_t> m_order;
    std::int32_t m_current = -1;
};
}
