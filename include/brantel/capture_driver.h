// The driver interface chain the host receives from the CreateIPCapture exports.
// Each version appends operations, so one object pointer serves every version.
#pragma once

#include <brantel/deletable.h>
#include <brantel/host_params.h>
#include <brantel/media.h>

namespace kestrav
{
class ICaptureIOApi;
class IIPPTZDriver;
class IIPPTZDriverEx;
}

namespace kestrav::ipcapture
{
class IIPVideoCapture;
class IIPVideoCaptureEx;
class IIPVideoCaptureEx2;

class IIPCaptureDriver : public IIPDeletable
{
public:
    virtual bool Open(IIPDebugOutput* debugSink, IIPMediaAllocator* allocator,
                      IIPDeviceParams* deviceParams) = 0; // 1
    virtual void Close() = 0;                             // 2
    virtual IIPVideoCapture* GetVideoCapture() = 0;       // 3
    virtual ICaptureIOApi* GetCaptureIO() = 0;            // 4
};

class IIPCaptureDriverEx : public IIPCaptureDriver
{
public:
    virtual void* GetOptionalInterface5() = 0; // 5: not provided, null
    virtual IIPPTZDriver* GetPTZDriver() = 0;  // 6
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx
{
public:
    virtual void* GetOptionalInterface7() = 0;          // 7: not provided, null
    virtual IIPVideoCaptureEx* GetVideoCaptureEx() = 0; // 8
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2
{
public:
    virtual IIPPTZDriverEx* GetPTZDriverEx() = 0; // 9
};

class IIPCaptureDriverEx4 : public IIPCaptureDriverEx3
{
public:
    virtual void* GetOptionalInterface10() = 0; // 10: not provided, null
    virtual void* GetOptionalInterface11() = 0; // 11: not provided, null
};

class IIPCaptureDriverEx5 : public IIPCaptureDriverEx4
{
public:
    virtual IIPVideoCaptureEx2* GetVideoCaptureEx2() = 0; // 12
};
}
