// SplitText on any text (lists in CGI answers and SDP come from the camera): the fields and delimiters give the
// text back. Input: the delimiter byte, then the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/text_utils.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrav;
    if (size < 1)
        return 0;
    const char delimiter = static_cast<char>(data[0]);
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<std::string> fields = SplitText(text, delimiter);

    std::string joined;
    std::string concatenated;
    for (std::size_t i = 0; i < fields.size(); ++i)
    {
        Check(fields[i].find(delimiter) == std::string::npos);
        if (i > 0)
            joined += delimiter;
        joined += fields[i];
        concatenated += fields[i];
    }
    // Only a delimiter at the very end leaves no field behind it.
    if (!text.empty() && text.back() == delimiter)
        joined += delimiter;
    Check(joined == text);
    Check(text.empty() == fields.empty());
    Check(RemoveChars(text, std::string_view(&delimiter, 1)) == concatenated);
    return 0;
}
