// The device search's C entry points: the object form and the process-wide form.
#include <brantel/capability_query.h>
#include <brantel/exports.h>

#include <mutex>
#include <new>
#include <utility>

#include "http/varon_capability_query_module.h"
#include "platform/thread_termination.h"

using kestrav::ipcapture::IIPCapabilityQuery;
using kestrav::ipcapture::IIPCapabilityQuerySink;
using kestrav::ipcapture::IIPCapabilityResults;

namespace
{
// The process-wide module. A host may call the plain functions from several threads (Terminate while
// another thread waits in Uninit), so the pointer is guarded. The lock is never held while a module is
// deleted: a deletion waits for the query thread, whose callback may call these functions.
std::mutex g_moduleLock;
IIPCapabilityQuery* g_module = nullptr;

IIPCapabilityQuery* NewModule(IIPCapabilityQuerySink* sink, bool videoStandard)
{
    try
    {
        return new (std::nothrow) kestrav::CVaronCapabilityQueryModule(sink, videoStandard);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        return nullptr;
    }
}
}

extern "C"
{
    IIPCapabilityQuery* CreateCapabilityQueryModule(IIPCapabilityQuerySink* sink, bool videoStandard)
    {
        return NewModule(sink, videoStandard);
    }

    std::int32_t InitCapabilityQuery(IIPCapabilityQuerySink* sink, bool videoStandard)
    {
        std::lock_guard guard(g_moduleLock);
        if (g_module != nullptr)
            return 0;
        g_module = NewModule(sink, videoStandard);
        return g_module != nullptr ? 1 : 0;
    }

    std::int32_t StartCapabilityQuery(const char* address, std::int32_t port, const char* user, const char* password,
                                      IIPCapabilityResults* results)
    {
        // A port that does not fit 16 bits would otherwise be narrowed into some other camera's port.
        if (address == nullptr || user == nullptr || password == nullptr || port < 1 || port > 0xFFFF)
            return 0;
        std::lock_guard guard(g_moduleLock);
        if (g_module == nullptr)
            return 0;
        return g_module->Start(address, static_cast<std::uint16_t>(port), user, password, results);
    }

    std::int32_t TerminateCapabilityQuery()
    {
        std::lock_guard guard(g_moduleLock);
        if (g_module != nullptr)
            g_module->Terminate();
        return 1;
    }

    std::int32_t UninitCapabilityQuery()
    {
        IIPCapabilityQuery* module = nullptr;
        {
            std::lock_guard guard(g_moduleLock);
            module = std::exchange(g_module, nullptr);
        }
        delete module;
        return 1;
    }
}
