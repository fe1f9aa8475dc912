#include "ptz/base_ptz_handler.h"

#include <new>
#include <utility>

#include "core/driver_services.h"
#include "platform/thread_termination.h"
#include "runtime/result_def.h"

namespace kestrav
{
namespace
{
constexpr const char* kInitializeXMLStorage = "kestrav::CBasePTZHandler::InitializeXMLStorage";
}

CBasePTZHandler::CBasePTZHandler(IDriver* driver, std::string rootName)
    : m_driver(driver), m_rootName(std::move(rootName))
{
}

CBasePTZHandler::~CBasePTZHandler()
{
    std::lock_guard guard(m_lock);
    m_controls.clear();
    m_store.Release();
}

IIPPTZApiEx* CBasePTZHandler::GetPTZApiEx(std::uint32_t channel)
{
    try
    {
        return GetPTZControl(channel);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        return nullptr;
    }
}

CBasePTZControl* CBasePTZHandler::GetPTZControl(std::uint32_t channel)
{
    if (channel >= m_channelCount)
        return nullptr;
    std::lock_guard guard(m_lock);
    const auto found = m_controls.find(channel);
    if (found != m_controls.end())
        return found->second.get();
    if (m_rootName.empty())
        return nullptr;
    if (!m_store && !InitializeXMLStorage())
        return nullptr;

    std::unique_ptr<CBasePTZControl> control(CreatePTZControl(channel));
    // A control that does not open is dropped; the next request tries again.
    if (control == nullptr || !control->Open(m_store))
        return nullptr;
    CBasePTZControl* const handedOut = control.get();
    m_controls[channel] = std::move(control);
    return handedOut;
}

void CBasePTZHandler::ReleaseControls()
{
    std::lock_guard guard(m_lock);
    m_controls.clear();
}

bool CBasePTZHandler::InitializeXMLStorage()
{
    std::lock_guard guard(m_lock);
    CResultDef result;
    std::string fileName;
    GetXMLStorageFileName(fileName);
    if (fileName.empty())
    {
        result.SetResultEx(kLogError, 3,
                           "%s: PTZ module cannot be initialized! Name of file for preset storing was not defined",
                           kInitializeXMLStorage);
    }
    else
    {
        m_store.Attach(new (std::nothrow) CXMLPrepositionReader(m_rootName));
        if (!m_store)
        {
            result.SetResultEx(kLogError, 6, "%s: not enough memory for creating CXMLPrepositionReader object",
                               kInitializeXMLStorage);
        }
        else if (!m_store->Open(fileName))
        {
            result.SetResultEx(kLogError, 1, "%s: cannot initialize CXMLPrepositionReader object with parameter \"%s\"",
                               kInitializeXMLStorage, fileName.c_str());
            // Kept attached, a store without file would serve every later request: the next one tries again.
            m_store.Release();
        }
    }
    result.LogResult(m_driver);
    return result.GetCode() == 0;
}
}
