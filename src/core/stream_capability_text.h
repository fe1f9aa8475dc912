// The stream capability text: the streams, codecs and resolutions of a camera as the device
// search writes them for the host and as the channels read them back to choose a profile.
//
//   stream  { "#" stream }        streams in index order, each ended by "#"
//   stream  = { codec ";" }
//   codec   = [ "h264:" | "mpeg4:" | "jpeg:" ] { resolution "," }   (no prefix: any other codec)
//   resolution = name " " width "x" height " " fps " " { bitrate "-" } " " { quality "-" }
//
// e.g. h264:1080p 1920x1080 30 1024-2048- 20-30-,;#
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/device_capabilities.h"

namespace kestrav
{
// The text of all streams, in index order. No streams give an empty text.
std::string WriteStreamCapabilityText(const std::map<std::uint32_t, StreamCapability>& streams);

// The codec entries of one stream kind (0 main, 1 live, 2 remote), in text order; an empty text,
// "(none)" or a text without a field for the kind gives none. The "#" field with index 1 belongs
// to the live stream, index 2 to the remote stream and every other field to the main stream.
//
// Written by an earlier device search but handed back by the host, so any text is accepted:
// - a codec entry that does not split at ":" into exactly two parts counts as another codec
//   (id 4); when it has no ":" at all it is read as resolutions, as the writer leaves codec 4
//   without a name;
// - a resolution without exactly five fields is kept as an entry with an empty name and no values;
// - a size that is not two numbers joined by "x" gives width and height 0;
// - a number that is not a decimal integer, or is negative, reads as 0.
// Every text the writer produces reads back into the codecs it was written from.
std::vector<CodecCapability> ReadStreamCodecs(std::string_view text, std::uint32_t streamKind);
}
