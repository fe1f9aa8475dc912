#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/stream_capability_text.h"

namespace kestrav
{
namespace
{
ResolutionCapability Resolution(const std::string& name, std::uint32_t width, std::uint32_t height,
                                std::uint32_t maxFrameRate, std::set<std::uint32_t> bitRates,
                                std::set<std::uint32_t> qualities)
{
    ResolutionCapability resolution;
    resolution.name = name;
    resolution.width = width;
    resolution.height = height;
    resolution.maxFrameRate = maxFrameRate;
    resolution.bitRates = std::move(bitRates);
    resolution.qualities = std::move(qualities);
    return resolution;
}

CodecCapability Codec(std::uint32_t codecId, const std::vector<ResolutionCapability>& resolutions)
{
    CodecCapability codec;
    codec.codecId = codecId;
    for (const ResolutionCapability& resolution : resolutions)
        codec.resolutions[resolution.name] = resolution;
    return codec;
}

// Three streams as a camera with H.264 and JPEG profiles on every stream reports them.
std::map<std::uint32_t, StreamCapability> ThreeStreams()
{
    const std::set<std::uint32_t> defaultQualities = ResolutionCapability().qualities;
    std::map<std::uint32_t, StreamCapability> streams;
    streams[0].codecs = {
        Codec(kCapabilityCodecH264, {Resolution("1080p", 1920, 1080, 30, {1024, 2048, 4096}, defaultQualities),
                                     Resolution("720p", 1280, 720, 25, {1024, 5120}, {20, 80})}),
        Codec(kCapabilityCodecJpeg, {Resolution("d1", 720, 480, 15, {}, defaultQualities)}),
    };
    streams[1].codecs = {
        Codec(kCapabilityCodecMpeg4, {Resolution("cif", 352, 240, 30, {128, 256}, {50})}),
        Codec(kCapabilityCodecOther, {Resolution("sxga", 1280, 1024, 30, {1024}, {})}),
    };
    streams[2].codecs = {Codec(kCapabilityCodecH264, {Resolution("5m", 2592, 1944, 12, {10240}, {30, 60})}),
                         Codec(kCapabilityCodecJpeg, {})};
    return streams;
}

// What the channels make of a text, put back into the record form.
std::map<std::uint32_t, StreamCapability> ReadAllStreams(const std::string& text)
{
    std::map<std::uint32_t, StreamCapability> streams;
    for (std::uint32_t kind = 0; kind < 3; ++kind)
        streams[kind].codecs = ReadStreamCodecs(text, kind);
    return streams;
}

TEST(StreamCapabilityText, WritesTheProfileOfOneStream)
{
    std::map<std::uint32_t, StreamCapability> streams;
    streams[0].codecs = {Codec(kCapabilityCodecH264, {Resolution("1080p", 1920, 1080, 30, {1024, 2048}, {20, 30})})};
    EXPECT_EQ(WriteStreamCapabilityText(streams), "h264:1080p 1920x1080 30 1024-2048- 20-30-,;#");
    EXPECT_EQ(WriteStreamCapabilityText({}), "");
}

TEST(StreamCapabilityText, WritesStreamsCodecsAndResolutionsInOrder)
{
    // Resolutions in name order ("1080p" before "720p"), codecs in list order, codec 4 without
    // a prefix but with its resolutions, empty sets as empty fields.
    EXPECT_EQ(WriteStreamCapabilityText(ThreeStreams()),
              "h264:1080p 1920x1080 30 1024-2048-4096- 20-30-40-50-60-70-80-,720p 1280x720 25 1024-5120- 20-80-,;"
              "jpeg:d1 720x480 15  20-30-40-50-60-70-80-,;#"
              "mpeg4:cif 352x240 30 128-256- 50-,;sxga 1280x1024 30 1024- ,;#"
              "h264:5m 2592x1944 12 10240- 30-60-,;jpeg:;#");
}

// Also where a field is empty: no bit rates, no qualities (the last field), no resolutions.
TEST(StreamCapabilityText, ReadsBackWhatWasWritten)
{
    const auto streams = ThreeStreams();
    const std::string text = WriteStreamCapabilityText(streams);
    const auto read = ReadAllStreams(text);
    for (std::uint32_t kind = 0; kind < 3; ++kind)
        EXPECT_EQ(read.at(kind).codecs, streams.at(kind).codecs) << "stream " << kind;
    EXPECT_EQ(WriteStreamCapabilityText(read), text);
}

TEST(StreamCapabilityText, GivesEachStreamKindItsOwnField)
{
    const std::string text = "h264:1080p 1920x1080 30 1024- 20-,;#jpeg:d1 720x480 30 128- 50-,;#";
    ASSERT_EQ(ReadStreamCodecs(text, 1).size(), 1u);
    EXPECT_EQ(ReadStreamCodecs(text, 1)[0].codecId, kCapabilityCodecJpeg);
    EXPECT_TRUE(ReadStreamCodecs(text, 2).empty());

    // A single field is the main stream's; the live stream finds nothing.
    EXPECT_TRUE(ReadStreamCodecs("h264:1080p 1920x1080 30 1024- 20-,;#", 1).empty());

    // Fields past the remote stream belong to the main stream, after its own.
    const auto main = ReadStreamCodecs("h264:;#jpeg:;#mpeg4:;#jpeg:;#h264:;", 0);
    ASSERT_EQ(main.size(), 3u);
    EXPECT_EQ(main[0].codecId, kCapabilityCodecH264);
    EXPECT_EQ(main[1].codecId, kCapabilityCodecJpeg);
    EXPECT_EQ(main[2].codecId, kCapabilityCodecH264);

    // A kind that no field belongs to.
    EXPECT_TRUE(ReadStreamCodecs(text, 7).empty());
}

TEST(StreamCapabilityText, ReadsNothingFromAnEmptyValue)
{
    EXPECT_TRUE(ReadStreamCodecs("", 0).empty());
    EXPECT_TRUE(ReadStreamCodecs("(none)", 0).empty());
    EXPECT_TRUE(ReadStreamCodecs("#", 0).empty());
}

TEST(StreamCapabilityText, NamesCodecsExactly)
{
    const auto codecs = ReadStreamCodecs("H264:;mpeg4:;jpeg:;mjpeg:;h264:a:b;;:;", 0);
    ASSERT_EQ(codecs.size(), 7u);
    EXPECT_EQ(codecs[0].codecId, kCapabilityCodecOther) << "names are case-sensitive";
    EXPECT_EQ(codecs[1].codecId, kCapabilityCodecMpeg4);
    EXPECT_EQ(codecs[2].codecId, kCapabilityCodecJpeg);
    EXPECT_EQ(codecs[3].codecId, kCapabilityCodecOther);
    EXPECT_EQ(codecs[4].codecId, kCapabilityCodecOther) << "three parts at ':'";
    EXPECT_TRUE(codecs[4].resolutions.empty());
    EXPECT_EQ(codecs[5].codecId, kCapabilityCodecOther) << "an empty entry";
    EXPECT_TRUE(codecs[5].resolutions.empty());
    EXPECT_EQ(codecs[6].codecId, kCapabilityCodecOther) << "an empty name";
}

TEST(StreamCapabilityText, KeepsMalformedResolutionsWithoutValues)
{
    const auto codecs = ReadStreamCodecs("h264:1080p 1920x1080 30 1024-,720p 1280x720,,;", 0);
    ASSERT_EQ(codecs.size(), 1u);
    const auto& resolutions = codecs[0].resolutions;
    ASSERT_EQ(resolutions.size(), 1u) << "every malformed entry lands on the one without a name";
    const ResolutionCapability& empty = resolutions.at("");
    EXPECT_EQ(empty.width, 0u);
    EXPECT_EQ(empty.maxFrameRate, 0u);
    EXPECT_TRUE(empty.bitRates.empty());
    EXPECT_TRUE(empty.qualities.empty()) << "no default qualities for an entry the text did not give";

    // One blank too many is a sixth field.
    const auto six = ReadStreamCodecs("jpeg:d1 720x480 30 128-  50-,;", 0);
    ASSERT_EQ(six.size(), 1u);
    EXPECT_EQ(six[0].resolutions.count("d1"), 0u);
}

TEST(StreamCapabilityText, ReadsBadNumbersAsZero)
{
    const auto codecs = ReadStreamCodecs("h264:a 1920x 30 1024- 20-,"
                                         "b x1080 -30 1024--x-2147483648- 20-,"
                                         "c 1920x1080x5 +25 -5- 99999999999-,"
                                         "d -1920x1080 abc 7- 8-,;",
                                         0);
    ASSERT_EQ(codecs.size(), 1u);
    const auto& resolutions = codecs[0].resolutions;
    ASSERT_EQ(resolutions.size(), 4u);

    EXPECT_EQ(resolutions.at("a").width, 0u) << "a size must split into two parts";
    EXPECT_EQ(resolutions.at("a").height, 0u);
    EXPECT_EQ(resolutions.at("a").maxFrameRate, 30u);

    EXPECT_EQ(resolutions.at("b").height, 0u) << "both parts of the size must be numbers";
    EXPECT_EQ(resolutions.at("b").maxFrameRate, 0u) << "a negative frame rate means nothing";
    EXPECT_EQ(resolutions.at("b").bitRates, (std::set<std::uint32_t>{0, 1024}));

    EXPECT_EQ(resolutions.at("c").width, 0u);
    EXPECT_EQ(resolutions.at("c").maxFrameRate, 25u);
    EXPECT_EQ(resolutions.at("c").bitRates, (std::set<std::uint32_t>{0, 5}));
    EXPECT_EQ(resolutions.at("c").qualities, (std::set<std::uint32_t>{0})) << "beyond 32 bits";

    EXPECT_EQ(resolutions.at("d").width, 0u);
    EXPECT_EQ(resolutions.at("d").height, 1080u);
    EXPECT_EQ(resolutions.at("d").maxFrameRate, 0u);
}
}
}
