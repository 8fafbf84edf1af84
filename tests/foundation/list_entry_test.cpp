#include <gtest/gtest.h>

#include <vector>

#include "vidozir/foundation.h"

namespace LE = VidOzir::ListEntry;

namespace {

struct Item {
    int value;
    _LIST_ENTRY link;
};

std::vector<int> Values(_LIST_ENTRY* head) {
    std::vector<int> values;
    for (_LIST_ENTRY* e = head->Flink; e != head; e = e->Flink) {
        // Walk back from the link to its record.
        auto* item = reinterpret_cast<Item*>(reinterpret_cast<char*>(e) - offsetof(Item, link));
        values.push_back(item->value);
        EXPECT_EQ(e->Flink->Blink, e);
    }
    return values;
}

TEST(ListEntry, InsertAtBothEnds) {
    _LIST_ENTRY head;
    LE::InitializeListHead(&head);
    EXPECT_EQ(head.Flink, &head);
    EXPECT_EQ(LE::IsListEmpty(&head), 1);
    Item a{1, {}}, b{2, {}}, c{3, {}};
    LE::InsertTailList(&head, &a.link);
    LE::InsertHeadList(&head, &b.link);
    LE::InsertTailList(&head, &c.link);
    EXPECT_EQ(Values(&head), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(LE::IsListEmpty(&head), 0);
    EXPECT_EQ(head.Blink, &c.link);
}

TEST(ListEntry, RemovalResults) {
    _LIST_ENTRY head;
    LE::InitializeListHead(&head);
    EXPECT_EQ(LE::RemoveHeadList(&head), &head);  // empty: the head itself
    EXPECT_EQ(LE::RemoveTailList(&head), &head);

    Item a{1, {}}, b{2, {}};
    LE::InsertTailList(&head, &a.link);
    LE::InsertTailList(&head, &b.link);
    EXPECT_EQ(LE::RemoveEntryList(&a.link), 0);  // one of two: list not empty
    EXPECT_EQ(a.link.Flink, &a.link);
    EXPECT_EQ(a.link.Blink, &a.link);
    EXPECT_EQ(LE::RemoveEntryList(&a.link), 1);  // already removed: harmless
    EXPECT_EQ(LE::RemoveEntryList(&b.link), 1);  // the only entry
    EXPECT_EQ(LE::IsListEmpty(&head), 1);

    LE::InsertTailList(&head, &a.link);
    LE::InsertTailList(&head, &b.link);
    EXPECT_EQ(LE::RemoveTailList(&head), &b.link);
    EXPECT_EQ(b.link.Flink, &b.link);
    EXPECT_EQ(LE::RemoveHeadList(&head), &a.link);
    EXPECT_EQ(LE::IsListEmpty(&head), 1);
}

TEST(ListEntry, NullArguments) {
    _LIST_ENTRY entry;
    LE::InitializeListHead(nullptr);
    LE::InsertHeadList(nullptr, &entry);
    LE::InsertTailList(&entry, nullptr);
    EXPECT_EQ(LE::IsListEmpty(nullptr), 1);
    EXPECT_EQ(LE::RemoveEntryList(nullptr), 1);
    EXPECT_EQ(LE::RemoveHeadList(nullptr), nullptr);
    EXPECT_EQ(LE::RemoveTailList(nullptr), nullptr);
}

}  // namespace
