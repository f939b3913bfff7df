#include "readers/pagestore/LivePageSet.h"

#include <cstdlib>
#include <utility>

namespace pagestore {

namespace {
constexpr size_t kInitialCapacity = 32;
}

LivePageSet::~LivePageSet() { std::free(slots_); }

LivePageSet::LivePageSet(LivePageSet&& other) noexcept
    : slots_(std::exchange(other.slots_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      count_(std::exchange(other.count_, 0)) {}

LivePageSet& LivePageSet::operator=(LivePageSet&& other) noexcept {
    if (this != &other) {
        std::free(slots_);
        slots_ = std::exchange(other.slots_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        count_ = std::exchange(other.count_, 0);
    }
    return *this;
}

size_t LivePageSet::Home(const uint8_t* page) const noexcept {
    // Page buffers are large blocks: the low bits carry little; mix them in with a multiply.
    uint64_t h = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(page)) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h >> 32) & (capacity_ - 1);
}

bool LivePageSet::Contains(const uint8_t* page) const noexcept {
    if (!page || capacity_ == 0) return false;
    for (size_t i = Home(page);; i = (i + 1) & (capacity_ - 1)) {
        if (slots_[i] == page) return true;
        if (!slots_[i]) return false;
    }
}

LivePageSet::InsertResult LivePageSet::Insert(const uint8_t* page) noexcept {
    // Keep the load at most one half so probe runs stay short.
    if ((count_ + 1) * 2 > capacity_ && !Grow()) return InsertResult::OutOfMemory;
    size_t i = Home(page);
    while (slots_[i]) {
        if (slots_[i] == page) return InsertResult::AlreadyPresent;
        i = (i + 1) & (capacity_ - 1);
    }
    slots_[i] = const_cast<uint8_t*>(page);
    ++count_;
    return InsertResult::Inserted;
}

bool LivePageSet::Erase(const uint8_t* page) noexcept {
    if (!page || capacity_ == 0) return false;
    size_t mask = capacity_ - 1;
    size_t i = Home(page);
    while (slots_[i] != page) {
        if (!slots_[i]) return false;
        i = (i + 1) & mask;
    }
    // Backward-shift: move each later member of the run into the hole when its home allows.
    size_t hole = i;
    for (size_t j = (i + 1) & mask; slots_[j]; j = (j + 1) & mask) {
        size_t home = Home(slots_[j]);
        bool homeBetween = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (!homeBetween) {
            slots_[hole] = slots_[j];
            hole = j;
        }
    }
    slots_[hole] = nullptr;
    --count_;
    return true;
}

bool LivePageSet::Grow() noexcept {
    size_t newCapacity = capacity_ ? capacity_ * 2 : kInitialCapacity;
    auto* fresh = static_cast<uint8_t**>(std::calloc(newCapacity, sizeof(uint8_t*)));
    if (!fresh) return false;
    uint8_t** old = slots_;
    size_t oldCapacity = capacity_;
    slots_ = fresh;
    capacity_ = newCapacity;
    count_ = 0;
    for (size_t i = 0; i < oldCapacity; ++i)
        if (old[i]) Insert(old[i]);
    std::free(old);
    return true;
}

}  // namespace pagestore

