// The preset file reader and the preset list's load over any file contents: a file damaged on disk or
// edited by hand must neither crash the host nor give a list that breaks its own rules (slots within
// the capacity, each slot and each name once).
//
// Input: one byte of capacity, then the file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "fuzz_scratch.h"
#include "ptz/preposition_list.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

const std::filesystem::path& Directory()
{
    return kestrav::fuzz::ScratchDirectory("preset-file");
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrav;
    if (size < 1)
        return 0;
    const std::uint32_t capacity = data[0];
    std::filesystem::remove_all(Directory());
    std::filesystem::create_directories(Directory());
    std::ofstream(Directory() / "presets.preset", std::ios::binary)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));

    TSmartPtr<CXMLPrepositionReader> store(new CXMLPrepositionReader("BrantelIPCapture", Directory().string()));
    Check(store->Open("presets.preset"));
    CPrepositionList list(0);
    list.SetMaximumPrepositions(capacity);
    list.SetStorage(store);

    const std::int32_t count = list.GetPrepositionCount();
    Check(count >= 0 && static_cast<std::uint32_t>(count) <= capacity);
    std::set<std::string> names;
    for (std::int32_t index = 0; index < count; ++index)
    {
        std::string name;
        Check(list.GetPrepositionName(index, name));
        Check(!name.empty() && names.insert(name).second);
    }
    // What the load left in the file reads back as the same list.
    CPrepositionList reloaded(0);
    reloaded.SetMaximumPrepositions(capacity);
    reloaded.SetStorage(store);
    Check(reloaded.GetPrepositionCount() == count);
    return 0;
}
