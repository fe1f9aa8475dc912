#include "tools/host/console.h"

namespace kestrav::hostbench
{
namespace
{
// Control sequences every terminal emulator in use understands (ECMA-48).
constexpr const char* kEraseToEnd = "\x1b[J";

std::string CursorUp(std::size_t lines)
{
    return "\x1b[" + std::to_string(lines) + "A";
}
}

void Console::Line(const std::string& text)
{
    std::lock_guard lock(mutex_);
    EraseBlock();
    output_ << text << '\n';
    DrawBlock();
    output_.flush();
}

void Console::Error(const std::string& text)
{
    std::lock_guard lock(mutex_);
    EraseBlock();
    output_.flush();
    errors_ << text << '\n';
    errors_.flush();
    DrawBlock();
    output_.flush();
}

void Console::Status(const std::vector<std::string>& lines)
{
    std::lock_guard lock(mutex_);
    if (mode_ == Mode::Plain)
    {
        for (const std::string& line : lines)
            output_ << line << '\n';
        output_.flush();
        return;
    }
    EraseBlock();
    block_ = lines;
    DrawBlock();
    output_.flush();
}

void Console::EndStatus()
{
    std::lock_guard lock(mutex_);
    block_.clear();
    drawnLines_ = 0;
}

void Console::EraseBlock()
{
    if (mode_ != Mode::Terminal || drawnLines_ == 0)
        return;
    output_ << '\r' << CursorUp(drawnLines_) << kEraseToEnd;
    drawnLines_ = 0;
}

void Console::DrawBlock()
{
    if (mode_ != Mode::Terminal)
        return;
    for (const std::string& line : block_)
        output_ << line << '\n';
    drawnLines_ = block_.size();
}
}
