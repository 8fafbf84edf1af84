// The handle table (see platform/handles_posix.h).
#include "platform/handles_posix.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace vidozir::platform {

struct HandleSlot {
    std::mutex mutex;
    std::shared_ptr<KernelObject> object;
};

namespace {

// Slots live in chunks that are never moved or freed, so a look-up reaches
// its slot without the table's lock; the chunk list has a fixed capacity of
// kMaxChunks * kChunkSlots handles (four million, far beyond any process
// of this library).
constexpr size_t kChunkSlots = 1024;
constexpr size_t kMaxChunks = 4096;

struct Chunk {
    HandleSlot slots[kChunkSlots];
};

class HandleTable {
public:
    HandleSlot* Find(size_t index) const {
        if (index >= kChunkSlots * kMaxChunks) {
            return nullptr;
        }
        Chunk* chunk = chunks_[index / kChunkSlots].load(std::memory_order_acquire);
        return chunk != nullptr ? &chunk->slots[index % kChunkSlots] : nullptr;
    }

    // A free slot's index, or false when the table is full.
    bool Allocate(size_t* index) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!free_.empty()) {
            *index = free_.back();
            free_.pop_back();
            return true;
        }
        if (used_ == kChunkSlots * kMaxChunks) {
            return false;
        }
        std::atomic<Chunk*>& chunk = chunks_[used_ / kChunkSlots];
        if (chunk.load(std::memory_order_relaxed) == nullptr) {
            chunk.store(new Chunk, std::memory_order_release);
        }
        *index = used_++;
        return true;
    }

    void Release(size_t index) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(index);
    }

private:
    std::mutex mutex_;  // the free list and the growth
    std::vector<size_t> free_;
    size_t used_ = 0;
    std::atomic<Chunk*> chunks_[kMaxChunks] = {};
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // lives until exit, past static destructors
    return *table;
}

// Handle values are (index + 1) * 4, like Windows' small multiples of four:
// never null, never INVALID_HANDLE_VALUE.
HandleSlot* SlotOf(HANDLE handle, size_t* index = nullptr) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % 4 != 0) {
        return nullptr;
    }
    if (index != nullptr) {
        *index = value / 4 - 1;
    }
    return Table().Find(value / 4 - 1);
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    size_t index;
    if (!Table().Allocate(&index)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HandleSlot* slot = Table().Find(index);
    std::lock_guard<std::mutex> lock(slot->mutex);
    slot->object = std::move(object);
    return reinterpret_cast<HANDLE>((index + 1) * 4);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleSlot* slot = SlotOf(handle);
    if (slot == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(slot->mutex);
    return slot->object;
}

HandlePeek::HandlePeek(HANDLE handle) : slot_(SlotOf(handle)) {
    if (slot_ != nullptr) {
        slot_->mutex.lock();
        if (slot_->object) {
            owner_ = &slot_->object;
            object_ = owner_->get();
        }
    }
}

HandlePeek::~HandlePeek() {
    if (slot_ != nullptr) {
        slot_->mutex.unlock();
    }
}

bool RemoveHandle(HANDLE handle) {
    size_t index;
    HandleSlot* slot = SlotOf(handle, &index);
    if (slot == nullptr) {
        return false;
    }
    std::shared_ptr<KernelObject> doomed;  // destroyed outside the slot's lock
    {
        std::lock_guard<std::mutex> lock(slot->mutex);
        doomed = std::move(slot->object);
    }
    if (!doomed) {
        return false;
    }
    Table().Release(index);
    return true;
}

}  // namespace vidozir::platform
