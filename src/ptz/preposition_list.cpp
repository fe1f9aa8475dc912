#include "ptz/preposition_list.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "ptz/preposition_comm.h"
#include "ptz/ptz_result_codes.h"
#include "runtime/debug_message.h"

namespace kestrav
{
namespace
{
// Characters that once broke the file's markup and are still refused in names.
constexpr std::string_view kForbiddenNameCharacters = "&!<>'\"";

bool IsValidName(const std::string& name)
{
    return !name.empty() && name.find_first_of(kForbiddenNameCharacters) == std::string::npos &&
           name.find('\0') == std::string::npos;
}
}

CPrepositionList::CPrepositionList(std::uint32_t channel) : m_channel(channel) {}

CPrepositionList::~CPrepositionList() = default;

void CPrepositionList::SetPrepositionComm(IPrepositionComm* comm)
{
    CRecursiveLockGuard guard(m_lock);
    m_comm = comm;
}

void CPrepositionList::SetMaximumPrepositions(std::int64_t count)
{
    CRecursiveLockGuard guard(m_lock);
    m_maximum = static_cast<std::uint32_t>(std::clamp<std::int64_t>(count, 0, kMaximumPrepositions));
}

std::uint32_t CPrepositionList::GetMaximumPrepositions()
{
    CRecursiveLockGuard guard(m_lock);
    return m_maximum;
}

bool CPrepositionList::WritePreposition(std::uint32_t index, std::uint32_t slot, const std::string& name)
{
    CRecursiveLockGuard guard(m_lock);
    return m_store && m_store->WritePreposition(m_channel, index, PrepositionRecord{name, slot});
}

bool CPrepositionList::StoreAll()
{
    CRecursiveLockGuard guard(m_lock);
    return StoreAllLocked();
}

bool CPrepositionList::StoreAllLocked()
{
    if (!m_store)
        return false;
    m_store->SetAutoSave(false);
    m_store->RemoveChannel(m_channel);
    bool written = true;
    for (std::uint32_t index = 0; index < m_order.size() && written; ++index)
    {
        const auto name = m_names.find(m_order[index]);
        written = name != m_names.end() && WritePreposition(index, m_order[index], name->second);
    }
    // The one save of the whole rewrite; when it fails the file keeps the records it had.
    const bool saved = m_store->SetAutoSave(true);
    return written && saved;
}

void CPrepositionList::LoadPrepositions()
{
    CRecursiveLockGuard guard(m_lock);
    m_names.clear();
    m_order.clear();
    m_current = -1;
    if (!m_store || m_maximum == 0)
        return;

    std::set<std::string> names;
    bool renumber = false;
    for (std::uint32_t index = 0; index < kMaximumPrepositions; ++index)
    {
        PrepositionRecord record;
        if (!m_store->ReadPreposition(m_channel, index, record))
            continue;
        const bool usable =
            record.slot < m_maximum && !m_names.contains(record.slot) && names.insert(record.name).second;
        if (!usable || index != m_order.size())
            renumber = true;
        if (!usable)
            continue;
        m_names[record.slot] = record.name;
        m_order.push_back(record.slot);
    }
    if (renumber && !StoreAllLocked() && m_comm != nullptr)
        m_comm->SendDebugMessage(kLogWarning, "%s: The presets of channel %u could not be stored again in order.",
                                 "kestrav::CPrepositionList::LoadPrepositions", m_channel + 1);
}

bool CPrepositionList::SetStorage(const TSmartPtr<CXMLPrepositionReader>& store)
{
    CRecursiveLockGuard guard(m_lock);
    m_store = store;
    if (m_store)
        LoadPrepositions();
    return !!m_store;
}

std::int32_t CPrepositionList::GetPrepositionCount()
{
    CRecursiveLockGuard guard(m_lock);
    return static_cast<std::int32_t>(m_order.size());
}

bool CPrepositionList::GetPrepositionName(std::int32_t index, std::string& name)
{
    CRecursiveLockGuard guard(m_lock);
    if (index < 0 || static_cast<std::size_t>(index) >= m_order.size())
        return false;
    const auto found = m_names.find(m_order[static_cast<std::size_t>(index)]);
    if (found == m_names.end())
        return false;
    name = found->second;
    return true;
}

bool CPrepositionList::GetCurrentPreposition(std::string& name)
{
    CRecursiveLockGuard guard(m_lock);
    return m_current >= 0 && GetPrepositionName(m_current, name);
}

std::int32_t CPrepositionList::FindIndex(const std::string& name) const
{
    for (const auto& [slot, slotName] : m_names)
    {
        if (slotName != name)
            continue;
        const auto at = std::find(m_order.begin(), m_order.end(), slot);
        if (at != m_order.end())
            return static_cast<std::int32_t>(at - m_order.begin());
    }
    return -1;
}

bool CPrepositionList::GotoPreposition(const std::string& name, std::int32_t value)
{
    if (name.empty())
        return false;
    CRecursiveLockGuard guard(m_lock);
    const std::int32_t index = FindIndex(name);
    if (index < 0)
        return false;
    if (index == m_current)
        return true;
    if (m_comm == nullptr || !m_comm->GotoPreset(m_order[static_cast<std::size_t>(index)], name, value))
        return false;
    m_current = index;
    return true;
}

std::int32_t CPrepositionList::AddPreposition(const std::string& name)
{
    CRecursiveLockGuard guard(m_lock);
    if (m_comm == nullptr)
        return kPtzFailed;
    if (!IsValidName(name))
    {
        const std::string line = "kestrav::CPrepositionList::AddPreposition: A preposition \"" + name +
                                 "\" cannot be added - the name is invalid.";
        m_comm->SendDebugMessage(kLogError, "%s", line.c_str());
        return kPtzInvalidArgument;
    }

    // A second preset of the same name could never be reached: the position goes to the existing one.
    const std::int32_t existing = FindIndex(name);
    if (existing >= 0 && existing != m_current)
    {
        if (!m_comm->SetPreset(m_order[static_cast<std::size_t>(existing)], name))
            return kPtzFailed;
        m_current = existing;
        return kPtzDone;
    }
    if (m_current >= 0)
        return RenameLocked(name);

    if (m_order.size() >= m_maximum)
    {
        m_comm->SendDebugMessage(
            kLogError,
            "%s: A preposition \"%s\" cannot be added. Camera supports saving not more than %u prepositions.",
            "kestrav::CPrepositionList::AddPreposition", name.c_str(), m_maximum);
        return kPtzNoRoomForPreset;
    }
    std::uint32_t slot = 0;
    while (slot < m_maximum && m_names.contains(slot))
        ++slot;
    if (slot >= m_maximum)
        return kPtzNoRoomForPreset;
    if (!m_comm->SetPreset(slot, name))
        return kPtzFailed;
    m_names[slot] = name;
    m_order.push_back(slot);
    m_current = static_cast<std::int32_t>(m_order.size() - 1);
    return WritePreposition(static_cast<std::uint32_t>(m_current), slot, name) ? kPtzDone : kPtzFailed;
}

std::int32_t CPrepositionList::RenameCurrentPreposition(const std::string& name)
{
    CRecursiveLockGuard guard(m_lock);
    return RenameLocked(name);
}

std::int32_t CPrepositionList::RenameLocked(const std::string& name)
{
    if (m_current < 0)
        return kPtzFailed;
    if (static_cast<std::size_t>(m_current) >= m_order.size())
        return kPtzInvalidArgument;
    const std::uint32_t slot = m_order[static_cast<std::size_t>(m_current)];
    const auto found = m_names.find(slot);
    if (found == m_names.end())
        return kPtzFailed;
    if (found->second == name)
        return kPtzDone;
    if (!WritePreposition(static_cast<std::uint32_t>(m_current), slot, name))
        return kPtzFailed;
    if (m_comm != nullptr)
        m_comm->SendDebugMessage(kLogInformation, "%s: A preposition with index %d was renamed from \"%s\" to \"%s\".",
                                 "kestrav::CPrepositionList::RenameCurrentPreposition", m_current,
                                 found->second.c_str(), name.c_str());
    found->second = name;
    return kPtzDone;
}

void CPrepositionList::ForgetCurrentPreposition()
{
    CRecursiveLockGuard guard(m_lock);
    m_current = -1;
}

bool CPrepositionList::RemovePreposition(const std::string& name)
{
    if (name.empty())
        return false;
    CRecursiveLockGuard guard(m_lock);
    const std::int32_t index = FindIndex(name);
    if (index < 0 || m_comm == nullptr)
        return false;
    const std::uint32_t slot = m_order[static_cast<std::size_t>(index)];
    m_current = -1;
    // A preset the camera still holds stays in the list and the file, and the host hears of the refusal.
    if (!m_comm->RemovePreset(slot, name))
        return false;
    m_names.erase(slot);
    std::erase(m_order, slot);
    return StoreAllLocked();
}
}
