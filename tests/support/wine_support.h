// What differs when the Windows test programs run under Wine rather than on Windows: Wine's WinHTTP and WinINet
// answer Basic but cannot answer Digest (or NTLM), and the module offers them only Basic there.
#pragma once

namespace kestrav::testing
{
// True in a Windows program run by Wine (ntdll exports wine_get_version); false on Linux and on Windows.
bool RunningUnderWine();

// The camera's schemes for a test that needs authentication but not a particular scheme: Digest, the cameras'
// default, and under Wine Basic as well, which the module then answers over HTTP (its RTSP client still
// answers Digest, being the module's own).
const char* DefaultCameraAuth();
}

// For a test whose point is the HTTP transport answering Digest (or NTLM).
#define KESTRAV_SKIP_DIGEST_UNDER_WINE()        \
    if (::kestrav::testing::RunningUnderWine()) \
    GTEST_SKIP() << "Wine's WinHTTP/WinINet cannot answer Digest; checked on Linux"
