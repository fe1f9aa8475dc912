// A run of failed attempts to get something going (a camera's stream): the operator hears of the first
// failure of each kind once, not of every retry, and once more when the thing works again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav
{
class CFailureRun
{
public:
    // A camera that fails a new way at every attempt must not fill the log either.
    static constexpr std::size_t kDefaultReportLimit = 8;

    explicit CFailureRun(std::size_t reportLimit = kDefaultReportLimit) : m_reportLimit(reportLimit) {}

    // Counts one failed attempt; true when a failure of this kind is to be reported, that is the
    // first of its kind in this run, within the limit of reports per run.
    bool Fail(std::string_view kind);
    // Ends the run; the number of failed attempts it held (0 when there was no run).
    std::uint32_t Recover();
    // Forgets the run without reporting its end (the channel was stopped).
    void Reset();

    bool InRun() const { return m_failures != 0; }
    std::uint32_t GetFailureCount() const { return m_failures; }

private:
    std::size_t m_reportLimit;
    std::uint32_t m_failures = 0;
    std::vector<std::string> m_reported;
};
}
