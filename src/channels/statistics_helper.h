// A sliding window of the last values seen, with their mean.
#pragma once

#include <cstddef>
#include <deque>

namespace kestrav
{
template <typename Value> class TStatisticsHelper
{
public:
    static constexpr std::size_t kWindowSize = 1000;

    virtual ~TStatisticsHelper() = default;

    void Add(Value value)
    {
        while (m_values.size() >= kWindowSize)
        {
            m_sum -= static_cast<double>(m_values.front());
            m_values.pop_front();
        }
        m_values.push_back(value);
        m_sum += static_cast<double>(value);
    }

    // 0 for an empty window.
    double Mean() const { return m_values.empty() ? 0.0 : m_sum / static_cast<double>(m_values.size()); }
    std::size_t Count() const { return m_values.size(); }
    void Clear()
    {
        m_values.clear();
        m_sum = 0.0;
    }

private:
    std::deque<Value> m_values;
    double m_sum = 0.0;
};
}
