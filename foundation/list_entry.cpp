#include "vidozir/foundation.h"

namespace VidOzir::ListEntry {

void InitializeListHead(_LIST_ENTRY* head) {
    if (head != nullptr) {
        head->Flink = head;
        head->Blink = head;
    }
}

void InsertHeadList(_LIST_ENTRY* head, _LIST_ENTRY* entry) {
    if (head == nullptr || entry == nullptr) {
        return;
    }
    _LIST_ENTRY* first = head->Flink;
    entry->Flink = first;
    entry->Blink = head;
    first->Blink = entry;
    head->Flink = entry;
}

void InsertTailList(_LIST_ENTRY* head, _LIST_ENTRY* entry) {
    if (head == nullptr || entry == nullptr) {
        return;
    }
    _LIST_ENTRY* last = head->Blink;
    last->Flink = entry;
    entry->Blink = last;
    entry->Flink = head;
    head->Blink = entry;
}

int IsListEmpty(const _LIST_ENTRY* head) {
    return head == nullptr || head->Flink == head ? 1 : 0;
}

int RemoveEntryList(_LIST_ENTRY* entry) {
    if (entry == nullptr || entry->Flink == entry) {
        return 1;
    }
    _LIST_ENTRY* next = entry->Flink;
    _LIST_ENTRY* prev = entry->Blink;
    prev->Flink = next;
    next->Blink = prev;
    entry->Flink = entry;
    entry->Blink = entry;
    return next == prev ? 1 : 0;
}

_LIST_ENTRY* RemoveHeadList(_LIST_ENTRY* head) {
    if (head == nullptr || head->Flink == head) {
        return head;
    }
    _LIST_ENTRY* entry = head->Flink;
    RemoveEntryList(entry);
    return entry;
}

_LIST_ENTRY* RemoveTailList(_LIST_ENTRY* head) {
    if (head == nullptr || head->Blink == head) {
        return head;
    }
    _LIST_ENTRY* entry = head->Blink;
    RemoveEntryList(entry);
    return entry;
}

}  // namespace VidOzir::ListEntry
