// The set of page buffers a mapper has handed out and not yet taken back.
//
// Open addressing with linear probing over a power-of-two table of addresses; erase shifts the
// following run back, so there are no tombstones. Memory is taken only when the table grows
// (it never shrinks), so a steady read-release pattern allocates nothing. Not thread-safe:
// one mapper serves one request on one thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pagestore {

class LivePageSet {
public:
    enum class InsertResult { Inserted, AlreadyPresent, OutOfMemory };

    LivePageSet() = default;
    ~LivePageSet();
    LivePageSet(const LivePageSet&) = delete;
    LivePageSet& operator=(const LivePageSet&) = delete;
    LivePageSet(LivePageSet&& other) noexcept;
    LivePageSet& operator=(LivePageSet&& other) noexcept;

    InsertResult Insert(const uint8_t* page) noexcept;
    // False when the address is not in the set.
    bool Erase(const uint8_t* page) noexcept;
    bool Contains(const uint8_t* page) const noexcept;
    size_t Size() const noexcept { return count_; }

    // Calls fn(page) for every member, then empties the set.
    template <class Fn>
    void Drain(Fn fn) noexcept {
        for (size_t i = 0; i < capacity_; ++i)
            if (slots_[i]) {
                fn(slots_[i]);
                slots_[i] = nullptr;
            }
        count_ = 0;
    }

private:
    size_t Home(const uint8_t* page) const noexcept;
    bool Grow() noexcept;

    uint8_t** slots_ = nullptr;
    size_t capacity_ = 0;  // 0 or a power of two
    size_t count_ = 0;
};

}  // namespace pagestore
