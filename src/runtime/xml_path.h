// The path forms with which the module finds elements in its XML documents: child steps from
// the document, each an element name with any number of [@name="value"] conditions, as in
//
//   Configuration/Device[@address="10.0.0.5"][@port="80"]/VideoChannel
//
// Inside a value, \" stands for a quotation mark and \\ for a backslash, so that any text can
// be looked up; FormatXmlPath writes every text argument that way.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/printf_format.h"

namespace kestrav
{
// The paths are formatted into 1024 characters with room for the terminator, as the preset and
// configuration files have always been addressed; longer paths are cut.
constexpr std::size_t kMaximumXmlPathLength = 1023;

struct XmlPathCondition
{
    std::string attribute;
    std::string value;
};

struct XmlPathStep
{
    std::string element;
    std::vector<XmlPathCondition> conditions;
};

// `value` ready to stand between the quotation marks of a condition.
std::string EscapeXmlPathValue(std::string_view value);

// printf into a path of at most kMaximumXmlPathLength characters. Every %s argument is escaped
// with EscapeXmlPathValue, so a value with quotation marks cannot end its condition early; the
// precision of %s counts the value's own characters. Conversions: d i o u x X c s with the
// lengths h hh l ll z; any other (%n, floating point, wide strings) gives an empty path.
std::string FormatXmlPath(const char* format, ...) KESTRAV_PRINTF_FORMAT(1, 2);
std::string FormatXmlPathV(const char* format, va_list arguments) KESTRAV_PRINTF_FORMAT(1, 0);

// The steps of `path`, or nullopt when it is not of the form above or names an element or an
// attribute with a name that cannot be written to a file (XML names without namespace prefixes).
std::optional<std::vector<XmlPathStep>> ParseXmlPath(std::string_view path);
}
