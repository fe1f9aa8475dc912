// The recent items of an ever-growing stream (log lines, frames, allocation requests).
#pragma once

#include <cstddef>
#include <deque>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace kestrav::hostkit
{
// Keeps the most recent items up to a limit while counting all of them, so that a test
// keeps everything by default and a bench program running for hours keeps a window.
// Not thread-safe: the owning host object guards it with its own lock.
template <typename T> class BoundedHistory
{
public:
    static constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

    // A limit of 0 keeps nothing but still counts.
    void SetLimit(std::size_t limit)
    {
        limit_ = limit;
        Trim();
    }

    void Add(T item)
    {
        ++total_;
        items_.push_back(std::move(item));
        Trim();
    }

    // Items added since the last Clear, kept or not.
    std::size_t Total() const { return total_; }
    const std::deque<T>& Items() const { return items_; }
    std::vector<T> Snapshot() const { return {items_.begin(), items_.end()}; }

    // The first kept item matching `predicate` among those with an ordinal (0 = first
    // added since Clear) of at least `firstOrdinal`; lets a waiter resume where it stopped.
    template <typename Predicate> std::optional<T> FindFrom(std::size_t firstOrdinal, Predicate&& predicate) const
    {
        const std::size_t ordinalOfFront = total_ - items_.size();
        const std::size_t skip = firstOrdinal > ordinalOfFront ? firstOrdinal - ordinalOfFront : 0;
        for (std::size_t i = skip; i < items_.size(); ++i)
        {
            if (predicate(items_[i]))
            {
                return items_[i];
            }
        }
        return std::nullopt;
    }

    void Clear()
    {
        items_.clear();
        total_ = 0;
    }

private:
    void Trim()
    {
        while (items_.size() > limit_)
        {
            items_.pop_front();
        }
    }

    std::deque<T> items_;
    std::size_t total_ = 0;
    std::size_t limit_ = kUnbounded;
};
}
