// A reference-counting holder of a heap object with a virtual destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace kestrav
{
// The object and its share counter are allocated apart, the counter when an object is first
// attached. Copies on different threads share one counter, so it is atomic. A copy takes a
// share only while the counter is above 0 and below kMaximumShares: a counter of one signed
// byte must never wrap into the negative, which would delete the object under its holders.
// A copy that finds no share to take comes out empty, which its holder can see.
// The holder itself is not synchronised: one TSmartPtr object is used by one thread at a time.
template <typename T> class TSmartPtr
{
    static_assert(std::has_virtual_destructor_v<T>, "the object is deleted through this type");

public:
    using Count = std::int8_t;
    static constexpr Count kMaximumShares = std::numeric_limits<Count>::max();

    TSmartPtr() = default;
    explicit TSmartPtr(T* object) { Attach(object); }
    TSmartPtr(const TSmartPtr& other) { Share(other); }
    TSmartPtr(TSmartPtr&& other) noexcept
        : m_object(std::exchange(other.m_object, nullptr)), m_count(std::exchange(other.m_count, nullptr))
    {
    }
    ~TSmartPtr() { Release(); }

    TSmartPtr& operator=(const TSmartPtr& other)
    {
        TSmartPtr copy(other);
        Swap(copy);
        return *this;
    }
    TSmartPtr& operator=(TSmartPtr&& other) noexcept
    {
        TSmartPtr taken(std::move(other));
        Swap(taken);
        return *this;
    }

    // Takes ownership of `object` after releasing the old one. When no counter can be
    // allocated the object is deleted and the holder stays empty.
    void Attach(T* object)
    {
        if (object != nullptr && object == m_object)
            return;
        Release();
        if (object == nullptr)
            return;
        auto* count = new (std::nothrow) std::atomic<Count>(1);
        if (count == nullptr)
        {
            delete object;
            return;
        }
        m_object = object;
        m_count = count;
    }

    // Gives up this share; the last one deletes the object and the counter.
    void Release()
    {
        T* object = std::exchange(m_object, nullptr);
        std::atomic<Count>* count = std::exchange(m_count, nullptr);
        if (count != nullptr && count->fetch_sub(1, std::memory_order_acq_rel) == 1)
        {
            delete object;
            delete count;
        }
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    // The number of holders sharing the object; 0 when empty.
    int GetShareCount() const { return m_count != nullptr ? m_count->load(std::memory_order_acquire) : 0; }

private:
    void Share(const TSmartPtr& other)
    {
        if (other.m_count == nullptr)
            return;
        Count current = other.m_count->load(std::memory_order_relaxed);
        do
        {
            if (current <= 0 || current >= kMaximumShares)
                return;
        } while (
            !other.m_count->compare_exchange_weak(current, static_cast<Count>(current + 1), std::memory_order_relaxed));
        m_object = other.m_object;
        m_count = other.m_count;
    }

    void Swap(TSmartPtr& other) noexcept
    {
        std::swap(m_object, other.m_object);
        std::swap(m_count, other.m_count);
    }

    T* m_object = nullptr;
    std::atomic<Count>* m_count = nullptr;
};
}
