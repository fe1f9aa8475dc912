#include "tools/host/module_loader.h"

#include <system_error>

#ifndef BRANTEL_HOST_BUILT_MODULE
#error "BRANTEL_HOST_BUILT_MODULE must name the module of the build tree"
#endif

namespace kestrav::hostbench
{
bool DriverModule::Load(const std::filesystem::path& path, std::string& error)
{
    std::string reason;
    if (!library_.Load(path, reason))
    {
        error = "cannot load the module " + path.string() + ": " + reason;
        return false;
    }
    void* create = library_.Symbol(kCreateExport, reason);
    void* remove = create != nullptr ? library_.Symbol(kDeleteExport, reason) : nullptr;
    if (create == nullptr || remove == nullptr)
    {
        error = path.string() + " is not a capture driver module: " + reason;
        return false;
    }
    // POSIX guarantees that a function's address survives the trip through void*.
    create_ = reinterpret_cast<CreateFunction>(create);
    delete_ = reinterpret_cast<DeleteFunction>(remove);
    path_ = path;

    void* createQuery = library_.Symbol(kCreateQueryExport, reason);
    void* deleteQuery = createQuery != nullptr ? library_.Symbol(kDeleteQueryExport, reason) : nullptr;
    if (createQuery == nullptr || deleteQuery == nullptr)
        queryMissing_ = path.string() + " offers no device search: " + reason;
    else
    {
        createQuery_ = reinterpret_cast<CreateQueryFunction>(createQuery);
        deleteQuery_ = reinterpret_cast<DeleteFunction>(deleteQuery);
    }
    return true;
}

bool DriverModule::HasCapabilityQuery(std::string& error) const
{
    if (createQuery_ != nullptr)
        return true;
    error = queryMissing_.empty() ? std::string("no module loaded") : queryMissing_;
    return false;
}

ipcapture::IIPCapabilityQuery* DriverModule::CreateCapabilityQuery(ipcapture::IIPCapabilityQuerySink* sink,
                                                                   bool videoStandard) const
{
    return createQuery_ != nullptr ? createQuery_(sink, videoStandard) : nullptr;
}

void DriverModule::DeleteCapabilityQuery(ipcapture::IIPCapabilityQuery* query) const
{
    // The delete export takes the object as its deletable root, which is the query's only base.
    if (deleteQuery_ != nullptr && query != nullptr)
        deleteQuery_(static_cast<ipcapture::IIPDeletable*>(query));
}

ipcapture::IIPCaptureDriverEx5* DriverModule::CreateDriver() const
{
    if (create_ == nullptr)
        return nullptr;
    // The interface versions form one single-inheritance chain, so the object the export returns is every version.
    return static_cast<ipcapture::IIPCaptureDriverEx5*>(create_());
}

void DriverModule::DeleteDriver(ipcapture::IIPCaptureDriverEx5* driver) const
{
    if (delete_ != nullptr && driver != nullptr)
        delete_(driver);
}

std::vector<std::filesystem::path> DefaultModuleCandidates(const std::filesystem::path& executable,
                                                           const std::filesystem::path& builtModule)
{
    std::vector<std::filesystem::path> candidates;
    if (!executable.empty())
    {
        const std::filesystem::path directory = executable.parent_path();
        candidates.push_back(directory / DriverModule::kFileName);
        candidates.push_back((directory / ".." / "lib" / DriverModule::kFileName).lexically_normal());
    }
    if (!builtModule.empty())
        candidates.push_back(builtModule);
    return candidates;
}

std::filesystem::path FirstExisting(const std::vector<std::filesystem::path>& candidates)
{
    for (const std::filesystem::path& candidate : candidates)
    {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate;
    }
    return candidates.empty() ? std::filesystem::path(DriverModule::kFileName) : candidates.back();
}

std::filesystem::path DefaultModulePath()
{
    return FirstExisting(DefaultModuleCandidates(posix::ExecutablePath(), BRANTEL_HOST_BUILT_MODULE));
}
}
