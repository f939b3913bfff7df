// A handle to image memory that may move: its address is valid only between Lock and the
// matching Unlock, since unlocked memory may be paged out to the pager file.
#pragma once

namespace tarn {

class NMemHandle {
public:
    // Returns the memory's current address and counts one lock.
    virtual void* Lock() = 0;
    // Matches one Lock; the address must not be used afterwards.
    virtual void Unlock() = 0;
    virtual ~NMemHandle() = default;
    // False only for memory that can never leave the heap.
    virtual bool IsPageable() const { return true; }

protected:
    NMemHandle() = default;
    NMemHandle(const NMemHandle&) = delete;
    NMemHandle& operator=(const NMemHandle&) = delete;
};

}  // namespace tarn
