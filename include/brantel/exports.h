// The module's C entry points, as a host declares them.
#pragma once

#if defined(_WIN32)
#define BRANTEL_EXPORT __declspec(dllexport)
#else
#define BRANTEL_EXPORT __attribute__((visibility("default")))
#endif

#include <cstdint>

namespace kestrav::ipcapture
{
class IIPCaptureDriver;
class IIPCapabilityQuery;
class IIPCapabilityQuerySink;
class IIPCapabilityResults;
}

extern "C"
{
    // All six names are one entry: a new driver object, or null when memory is exhausted.
    BRANTEL_EXPORT kestrav::ipcapture::IIPCaptureDriver* CreateIPCapture();
    BRANTEL_EXPORT kestrav::ipcapture::IIPCaptureDriver* CreateIPCaptureEx();
    BRANTEL_EXPORT kestrav::ipcapture::IIPCaptureDriver* CreateIPCaptureEx2();
    BRANTEL_EXPORT kestrav::ipcapture::IIPCaptureDriver* CreateIPCaptureEx3();
    BRANTEL_EXPORT kestrav::ipcapture::IIPCaptureDriver* CreateIPCaptureEx4();
    BRANTEL_EXPORT kestrav::ipcapture::IIPCaptureDriver* CreateIPCaptureEx5();

    // All seven names are one entry: deletes any object the module handed out through
    // its virtual destructor; null is ignored.
    BRANTEL_EXPORT void DeleteIPCapture(void* object);
    BRANTEL_EXPORT void DeleteIPCaptureEx(void* object);
    BRANTEL_EXPORT void DeleteIPCaptureEx2(void* object);
    BRANTEL_EXPORT void DeleteIPCaptureEx3(void* object);
    BRANTEL_EXPORT void DeleteIPCaptureEx4(void* object);
    BRANTEL_EXPORT void DeleteIPCaptureEx5(void* object);
    BRANTEL_EXPORT void DeleteCapabilityQueryModule(void* object);

    // Device search, object form: a new query module that reports to `sink` (the host's, outliving
    // the module), or null when memory is exhausted. `videoStandard` true for 30 frames per second.
    // Deleted with DeleteCapabilityQueryModule.
    BRANTEL_EXPORT kestrav::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
        kestrav::ipcapture::IIPCapabilityQuerySink* sink, bool videoStandard);

    // Device search, process-wide form: one module held by the library.
    // 1 when a module was created; 0 when one exists already or memory is exhausted.
    BRANTEL_EXPORT std::int32_t InitCapabilityQuery(kestrav::ipcapture::IIPCapabilityQuerySink* sink,
                                                    bool videoStandard);
    // The module's Start: 1 when the query runs; 0 without a module, for a null text or a port outside
    // 1 to 65535.
    BRANTEL_EXPORT std::int32_t StartCapabilityQuery(const char* address, std::int32_t port, const char* user,
                                                     const char* password,
                                                     kestrav::ipcapture::IIPCapabilityResults* results);
    // Asks the module's query to end soon; does not wait. Always 1.
    BRANTEL_EXPORT std::int32_t TerminateCapabilityQuery();
    // Deletes the module (waiting for its query as its destruction does). Always 1.
    BRANTEL_EXPORT std::int32_t UninitCapabilityQuery();
}
