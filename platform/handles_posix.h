// The handle table of the non-Windows platform layer. A HANDLE names a
// reference-counted KernelObject through a process-wide table, so a stale or
// doubled CloseHandle fails with ERROR_INVALID_HANDLE instead of touching
// freed memory. A look-up takes no lock (see HandleSlot), so calls on
// unrelated handles never meet and calls on one handle never sleep on each
// other: the table's own lock is taken only to create and close handles.
#pragma once

#include <memory>
#include <mutex>
#include <type_traits>
#include <typeinfo>

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

// Looks at the object of a handle while its slot holds it, without taking a
// reference: the cheap path of hot calls whose usual case needs none (setting
// a set event, polling an empty port). A CloseHandle of the handle waits for
// the look to end: keep it short, and do not close handles while it lasts.
class HandlePeek {
public:
    explicit HandlePeek(HANDLE handle);
    ~HandlePeek();
    HandlePeek(const HandlePeek&) = delete;
    HandlePeek& operator=(const HandlePeek&) = delete;

    // The object when it is exactly of kind T (a final class), else null.
    template <class T>
    T* As() const {
        return object_ != nullptr && typeid(*object_) == typeid(T) ? static_cast<T*>(object_)
                                                                   : nullptr;
    }
    // A reference to the object, for work that must go on after the peek.
    template <class T>
    std::shared_ptr<T> Share() const {
        if (owner_ == nullptr) {
            return nullptr;
        }
        if constexpr (std::is_same_v<T, KernelObject>) {
            return *owner_;
        } else {
            return std::shared_ptr<T>(*owner_, As<T>());
        }
    }

private:
    HandleSlot* slot_ = nullptr;
    const std::shared_ptr<KernelObject>* owner_ = nullptr;
    KernelObject* object_ = nullptr;
};

}  // namespace vidozir::platform
