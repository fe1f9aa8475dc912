// The program's output: log lines, and a block of status lines that a terminal redraws in place.
#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace kestrav::hostbench
{
// Lines come from the module's threads (log lines) and the main thread (status) at once; each
// call writes whole lines.
class Console
{
public:
    enum class Mode
    {
        // The status block stays at the bottom and is rewritten with ANSI cursor movements.
        Terminal,
        // Every status refresh prints its lines after what came before, for logs and pipes.
        Plain,
    };

    // Errors go to `errors`, so they reach the user when the output goes to a file.
    Console(std::ostream& output, std::ostream& errors, Mode mode) : output_(output), errors_(errors), mode_(mode) {}

    Mode GetMode() const { return mode_; }
    // A line of its own; on a terminal it goes above the status block.
    void Line(const std::string& text);
    void Error(const std::string& text);
    void Status(const std::vector<std::string>& lines);
    // The last status block stays on screen as it is; later lines go below it.
    void EndStatus();

private:
    void EraseBlock();
    void DrawBlock();

    std::mutex mutex_;
    std::ostream& output_;
    std::ostream& errors_;
    const Mode mode_;
    std::vector<std::string> block_;
    // Lines of the block now on screen, below which the cursor stands.
    std::size_t drawnLines_ = 0;
};
}
