// The capture driver module loaded at run time, as a recording server loads it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <brantel/capability_query.h>
#include <brantel/capture_driver.h>

#include "tools/host/posix_system.h"

namespace kestrav::hostbench
{
class DriverModule
{
public:
    // The newest interface version: one export pair serves every version, so the bench uses this one.
    static constexpr const char* kCreateExport = "CreateIPCaptureEx5";
    static constexpr const char* kDeleteExport = "DeleteIPCaptureEx5";
#if defined(_WIN32)
    static constexpr const char* kFileName = "BrantelIPCapture.dll";
#else
    static constexpr const char* kFileName = "libBrantelIPCapture.so";
#endif
    // The device search. Looked up at load, but only the probe needs them.
    static constexpr const char* kCreateQueryExport = "CreateCapabilityQueryModule";
    static constexpr const char* kDeleteQueryExport = "DeleteCapabilityQueryModule";

    // False with the reason when the file does not load or lacks one of the two exports.
    bool Load(const std::filesystem::path& path, std::string& error);

    // Null when the module has no memory for a driver.
    ipcapture::IIPCaptureDriverEx5* CreateDriver() const;
    // Deletes through the module, which owns the object; null is ignored.
    void DeleteDriver(ipcapture::IIPCaptureDriverEx5* driver) const;

    // False with the reason when the module lacks the device search exports.
    bool HasCapabilityQuery(std::string& error) const;
    // A new device search reporting to `sink`; `videoStandard` true for 30 frames per second, false for 25.
    // Null when the module has no memory for one.
    ipcapture::IIPCapabilityQuery* CreateCapabilityQuery(ipcapture::IIPCapabilityQuerySink* sink,
                                                         bool videoStandard) const;
    // Deletes through the module; waits for a query thread still running (bounded by the module). Null is ignored.
    void DeleteCapabilityQuery(ipcapture::IIPCapabilityQuery* query) const;

    const std::filesystem::path& Path() const
    {
        return path_;
    }

private:
    using CreateFunction = ipcapture::IIPCaptureDriver* (*)();
    using DeleteFunction = void (*)(void*);
    using CreateQueryFunction = ipcapture::IIPCapabilityQuery* (*)(ipcapture::IIPCapabilityQuerySink*, bool);

    posix::SharedLibrary library_;
    std::filesystem::path path_;
    CreateFunction create_ = nullptr;
    DeleteFunction delete_ = nullptr;
    CreateQueryFunction createQuery_ = nullptr;
    DeleteFunction deleteQuery_ = nullptr;
    std::string queryMissing_;
};

// Where the module is looked for without --module, in order: beside the program, in ../lib from it
// (an installed layout), and the module of the build tree that made the program.
std::vector<std::filesystem::path> DefaultModuleCandidates(const std::filesystem::path& executable,
                                                           const std::filesystem::path& builtModule);
// The first candidate that exists; the last one (for the error message) when none does.
std::filesystem::path FirstExisting(const std::vector<std::filesystem::path>& candidates);
// The candidates of the running program.
std::filesystem::path DefaultModulePath();
}
