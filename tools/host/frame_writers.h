// Where the frames of one stream end up on disk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tools/host/command_line.h"

namespace kestrav::hostbench
{
// Used by one writer thread at a time. After a failure the writer takes nothing more; Error()
// says what went wrong.
class FrameWriter
{
public:
    virtual ~FrameWriter() = default;
    virtual bool Write(std::span<const std::uint8_t> frame) = 0;
    // Flushes and closes; false when the data did not all reach the file.
    virtual bool Finish() = 0;
    // The file or directory written, for the summary.
    virtual std::filesystem::path Target() const = 0;
    const std::string& Error() const { return error_; }

protected:
    bool Fail(std::string error);

private:
    std::string error_;
};

// Frames one after another in one file: a Motion JPEG stream for JPEG pictures.
class ConcatenatingWriter final : public FrameWriter
{
public:
    explicit ConcatenatingWriter(std::filesystem::path file) : file_(std::move(file)) {}
    // Creates (or empties) the file.
    bool Open();
    bool Write(std::span<const std::uint8_t> frame) override;
    bool Finish() override;
    std::filesystem::path Target() const override { return file_; }

private:
    std::filesystem::path file_;
    std::ofstream output_;
};

// The size of the access unit delimiter (start code, NAL unit type 9, one byte of picture type)
// that ends `frame`, or 0.
std::size_t TrailingDelimiterSize(std::span<const std::uint8_t> frame);

// An H.264 Annex B byte stream: the module delivers access units with start codes, each ended by
// an access unit delimiter that opens the next one. The delimiter of the latest frame is held
// back until another frame follows, so the file does not end in an access unit without a picture.
class AnnexBStreamWriter final : public FrameWriter
{
public:
    explicit AnnexBStreamWriter(std::filesystem::path file) : file_(std::move(file)) {}
    bool Open();
    bool Write(std::span<const std::uint8_t> frame) override;
    bool Finish() override;
    std::filesystem::path Target() const override { return file_.Target(); }

private:
    ConcatenatingWriter file_;
    std::vector<std::uint8_t> heldBack_;
};

// One file per picture: 000001.jpg, 000002.jpg ... in a directory of the stream.
class PictureFilesWriter final : public FrameWriter
{
public:
    explicit PictureFilesWriter(std::filesystem::path directory) : directory_(std::move(directory)) {}
    // Creates the directory and removes the pictures an earlier run left in it.
    bool Open();
    bool Write(std::span<const std::uint8_t> frame) override;
    bool Finish() override;
    std::filesystem::path Target() const override { return directory_; }

    static std::string PictureName(std::uint64_t number);

private:
    std::filesystem::path directory_;
    std::uint64_t written_ = 0;
};

// The writer for a stream, opened; on failure null with the reason in `error`.
std::unique_ptr<FrameWriter> OpenStreamWriter(const StreamRequest& stream, const std::filesystem::path& outDirectory,
                                              bool jpegFiles, std::string& error);
}
