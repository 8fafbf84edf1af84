// The handle table of the non-Windows platform layer. A HANDLE names a
// reference-counted KernelObject through a process-wide table, so a stale or
// doubled CloseHandle fails with ERROR_INVALID_HANDLE instead of touching
// freed memory. A look-up takes no lock (see HandleSlot), so calls on
// unrelated handles never meet and calls on one handle never sleep on each
// other: the table's own lock is taken only to create and close handles.
#pragma once

#include <memory>
#include <mutex>

#include "platform/kernel.h"

namespace vidozir::platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}
bool RemoveHandle(HANDLE handle);

struct HandleSlot;

// The slot of a handle value, or null for a value that names none. Slots are
// never freed, so a caller that checks one handle again and again keeps it.
const HandleSlot* FindHandleSlot(HANDLE handle);
// Whether the slot holds `object` now. Reads the slot without a look's reader
// count, so it is safe only for an object the caller keeps alive by a
// reference of its own: no other object can then share its address.
bool SlotHolds(const HandleSlot* slot, const KernelObject* object);
// The object of the kind a call needs, or null with ERROR_INVALID_HANDLE set,
// as every call given a wrong or stale handle answers.
template <class T>
std::shared_ptr<T> RequireHandle(HANDLE handle) {
    auto object = LookupHandleAs<T>(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return object;
}

// The object of kind T that a thread used last through one call, with a
// reference and the handle's slot, for calls a thread makes again and again
// on one handle (a loop's wake-up event, its completion port): a call through
// it reads the slot, where a look-up writes the slot's reader count, a line
// that every thread using the handle would then pass around. An object whose
// handle is closed stays alive here until the thread uses another one of the
// kind or ends: keep to kinds that hold nothing but memory.
template <class T>
class LastUsed {
public:
    // The object, or null with ERROR_INVALID_HANDLE set.
    T* Find(HANDLE handle) {
        T* object = Cached(handle);
        if (object != nullptr) {
            return object;
        }
        std::shared_ptr<T> found = RequireHandle<T>(handle);
        if (!found) {
            return nullptr;
        }
        Keep(handle, std::move(found));
        return object_.get();
    }
    // The object when it is the one kept for this handle, else null.
    T* Cached(HANDLE handle) const {
        return handle_ == handle && object_ && SlotHolds(slot_, object_.get()) ? object_.get()
                                                                               : nullptr;
    }
    const std::shared_ptr<T>& Shared() const { return object_; }
    void Keep(HANDLE handle, std::shared_ptr<T> object) {
        handle_ = handle;
        slot_ = FindHandleSlot(handle);
        object_ = std::move(object);
    }

private:
    HANDLE handle_ = nullptr;
    const HandleSlot* slot_ = nullptr;
    std::shared_ptr<T> object_;
};

}  // namespace vidozir::platform
