// The module's C entry points. Each family of names is one entry: the other names are
// aliases of it, so a host may call whichever its interface version knows.
#include <brantel/exports.h>

#include <new>

#include "driver/varon_capture_driver.h"
#include "platform/thread_termination.h"

using kestrav::ipcapture::IIPCaptureDriver;
using kestrav::ipcapture::IIPDeletable;

extern "C"
{
    IIPCaptureDriver* CreateIPCapture()
    {
        try
        {
            return new (std::nothrow) kestrav::CVaronIPCaptureDriver;
        }
        KESTRAV_PASS_THREAD_TERMINATION
        catch (...)
        {
            // A constructor failing on the way (its directory or version look-up) gives no driver.
            return nullptr;
        }
    }

    void DeleteIPCapture(void* object)
    {
        // Every object handed out derives first from IIPDeletable, at the object's start.
        if (object != nullptr)
            delete static_cast<IIPDeletable*>(object);
    }

// copy() gives an alias the attributes the compiler inferred for its target (mingw's GCC infers nothrow and
// warns when an alias lacks it); clang has no copy() and does not warn.
#if __has_attribute(copy)
#define BRANTEL_ALIAS(target) __attribute__((alias(#target), copy(target)))
#else
#define BRANTEL_ALIAS(target) __attribute__((alias(#target)))
#endif
    IIPCaptureDriver* CreateIPCaptureEx() BRANTEL_ALIAS(CreateIPCapture);
    IIPCaptureDriver* CreateIPCaptureEx2() BRANTEL_ALIAS(CreateIPCapture);
    IIPCaptureDriver* CreateIPCaptureEx3() BRANTEL_ALIAS(CreateIPCapture);
    IIPCaptureDriver* CreateIPCaptureEx4() BRANTEL_ALIAS(CreateIPCapture);
    IIPCaptureDriver* CreateIPCaptureEx5() BRANTEL_ALIAS(CreateIPCapture);
    void DeleteIPCaptureEx(void*) BRANTEL_ALIAS(DeleteIPCapture);
    void DeleteIPCaptureEx2(void*) BRANTEL_ALIAS(DeleteIPCapture);
    void DeleteIPCaptureEx3(void*) BRANTEL_ALIAS(DeleteIPCapture);
    void DeleteIPCaptureEx4(void*) BRANTEL_ALIAS(DeleteIPCapture);
    void DeleteIPCaptureEx5(void*) BRANTEL_ALIAS(DeleteIPCapture);
    void DeleteCapabilityQueryModule(void*) BRANTEL_ALIAS(DeleteIPCapture);
#undef BRANTEL_ALIAS
}
