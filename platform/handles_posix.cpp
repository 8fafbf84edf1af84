// The handle table (see platform/handles_posix.h).
#include "platform/handles_posix.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace vidozir::platform {

// A look-up takes no lock at all: it announces itself in `readers`, then
// reads `raw`. Closing clears `raw` first and then waits for the readers to
// leave before it lets go of the object, so an object found is alive for the
// whole look. Producers that set one event from several threads thus never
// sleep on each other; `mutex` orders only the slot's creation and closing.
struct HandleSlot {
    std::mutex mutex;
    std::atomic<int> readers{0};
    std::atomic<KernelObject*> raw{nullptr};
    std::shared_ptr<KernelObject> object;  // written under mutex, while raw is null
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
    KernelObject* raw = object.get();
    slot->object = std::move(object);
    slot->raw.store(raw, std::memory_order_seq_cst);
    return reinterpret_cast<HANDLE>((index + 1) * 4);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    // Announced in the slot's reader count, so a CloseHandle waits until the
    // reference is taken.
    HandleSlot* slot = SlotOf(handle);
    if (slot == nullptr) {
        return nullptr;
    }
    slot->readers.fetch_add(1, std::memory_order_seq_cst);
    std::shared_ptr<KernelObject> object;
    if (slot->raw.load(std::memory_order_seq_cst) != nullptr) {
        object = slot->object;
    }
    slot->readers.fetch_sub(1, std::memory_order_release);
    return object;
}

const HandleSlot* FindHandleSlot(HANDLE handle) {
    return SlotOf(handle);
}

bool SlotHolds(const HandleSlot* slot, const KernelObject* object) {
    return slot != nullptr && slot->raw.load(std::memory_order_acquire) == object;
}

bool RemoveHandle(HANDLE handle) {
    size_t index;
    HandleSlot* slot = SlotOf(handle, &index);
    if (slot == nullptr) {
        return false;
    }
    std::shared_ptr<KernelObject> doomed;  // destroyed with no lock held
    {
        std::lock_guard<std::mutex> lock(slot->mutex);
        if (slot->raw.exchange(nullptr, std::memory_order_seq_cst) == nullptr) {
            return false;
        }
        // Looks that began before the exchange may still read the object.
        while (slot->readers.load(std::memory_order_acquire) != 0) {
            std::this_thread::yield();
        }
        doomed = std::move(slot->object);
    }
    Table().Release(index);
    return true;
}

}  // namespace vidozir::platform
