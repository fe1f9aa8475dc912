// The module's C entry points, as a host declares them.
#pragma once

#if defined(_WIN32)
#define BRANTEL_EXPORT __declspec(dllexport)
#else
#define BRANTEL_EXPORT __attribute__((visibility("default")))
#endif

namespace kestrav::ipcapture
{
class IIPCaptureDriver;
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

    // Reserved for the capability query (device search); declared here so the export
    // table is stable, defined when the query module lands.
}
