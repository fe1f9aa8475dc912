#include "wine_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrav::testing
{
bool RunningUnderWine()
{
#ifdef _WIN32
    static const bool wine = []
    {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
#else
    return false;
#endif
}

const char* DefaultCameraAuth()
{
    return RunningUnderWine() ? "digest,basic" : "digest";
}
}
