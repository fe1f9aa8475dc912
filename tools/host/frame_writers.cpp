#include "tools/host/frame_writers.h"

#include <array>
#include <cstdio>
#include <system_error>
#include <utility>

namespace kestrav::hostbench
{
namespace
{
// "000123.jpg": a name this writer gives.
bool IsPictureName(const std::string& name)
{
    const std::string extension = ".jpg";
    if (name.size() <= extension.size() || name.compare(name.size() - extension.size(), extension.size(), extension))
        return false;
    const std::string digits = name.substr(0, name.size() - extension.size());
    return digits.find_first_not_of("0123456789") == std::string::npos;
}

template <typename Writer> std::unique_ptr<FrameWriter> Opened(std::filesystem::path target, std::string& error)
{
    auto writer = std::make_unique<Writer>(std::move(target));
    if (writer->Open())
        return writer;
    error = writer->Error();
    return nullptr;
}

bool WriteAll(std::ofstream& output, std::span<const std::uint8_t> data)
{
    output.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return output.good();
}
}

bool FrameWriter::Fail(std::string error)
{
    if (error_.empty())
        error_ = std::move(error);
    return false;
}

bool ConcatenatingWriter::Open()
{
    output_.open(file_, std::ios::binary | std::ios::trunc);
    return output_.is_open() || Fail("cannot create " + file_.string());
}

bool ConcatenatingWriter::Write(std::span<const std::uint8_t> frame)
{
    if (!Error().empty())
        return false;
    return WriteAll(output_, frame) || Fail("cannot write to " + file_.string());
}

bool ConcatenatingWriter::Finish()
{
    if (!output_.is_open())
        return Error().empty() ? Fail(file_.string() + " was never opened") : false;
    output_.close();
    return (!output_.fail() && Error().empty()) || Fail("cannot finish " + file_.string());
}

std::size_t TrailingDelimiterSize(std::span<const std::uint8_t> frame)
{
    constexpr std::size_t kDelimiterSize = 5;
    constexpr std::uint8_t kNalTypeMask = 0x1F;
    constexpr std::uint8_t kDelimiterType = 9;
    if (frame.size() < kDelimiterSize)
        return 0;
    const std::span<const std::uint8_t> tail = frame.last(kDelimiterSize);
    const bool startCode = tail[0] == 0 && tail[1] == 0 && tail[2] == 1;
    return startCode && (tail[3] & kNalTypeMask) == kDelimiterType ? kDelimiterSize : 0;
}

bool AnnexBStreamWriter::Open()
{
    return file_.Open() || Fail(file_.Error());
}

bool AnnexBStreamWriter::Write(std::span<const std::uint8_t> frame)
{
    if (!Error().empty())
        return false;
    if (!heldBack_.empty() && !file_.Write(heldBack_))
        return Fail(file_.Error());
    const std::size_t picture = frame.size() - TrailingDelimiterSize(frame);
    if (!file_.Write(frame.first(picture)))
        return Fail(file_.Error());
    heldBack_.assign(frame.begin() + static_cast<std::ptrdiff_t>(picture), frame.end());
    return true;
}

bool AnnexBStreamWriter::Finish()
{
    return file_.Finish() ? Error().empty() : Fail(file_.Error());
}

bool PictureFilesWriter::Open()
{
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    if (error || !std::filesystem::is_directory(directory_, error))
        return Fail("cannot create the directory " + directory_.string());
    // Pictures of an earlier, longer run would read as part of this one.
    std::filesystem::directory_iterator entry(directory_, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
    {
        std::error_code ignored;
        if (entry->is_regular_file(ignored) && IsPictureName(entry->path().filename().string()))
            std::filesystem::remove(entry->path(), ignored);
    }
    return true;
}

bool PictureFilesWriter::Write(std::span<const std::uint8_t> frame)
{
    if (!Error().empty())
        return false;
    const std::filesystem::path file = directory_ / PictureName(written_ + 1);
    std::ofstream output(file, std::ios::binary | std::ios::trunc);
    if (!WriteAll(output, frame))
        return Fail("cannot write " + file.string());
    output.close();
    if (output.fail())
        return Fail("cannot finish " + file.string());
    ++written_;
    return true;
}

bool PictureFilesWriter::Finish()
{
    return Error().empty();
}

std::string PictureFilesWriter::PictureName(std::uint64_t number)
{
    std::array<char, 32> name{};
    std::snprintf(name.data(), name.size(), "%06llu.jpg", static_cast<unsigned long long>(number));
    return name.data();
}

std::unique_ptr<FrameWriter> OpenStreamWriter(const StreamRequest& stream, const std::filesystem::path& outDirectory,
                                              bool jpegFiles, std::string& error)
{
    const std::string name = stream.Name();
    if (stream.codec == StreamCodec::H264)
        return Opened<AnnexBStreamWriter>(outDirectory / (name + ".h264"), error);
    if (jpegFiles)
        return Opened<PictureFilesWriter>(outDirectory / name, error);
    return Opened<ConcatenatingWriter>(outDirectory / (name + ".mjpeg"), error);
}
}
