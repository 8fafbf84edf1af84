#include <gtest/gtest.h>

#include "xml_probe.h"

using xml_test::XmlProbe;

namespace {

// The index check is the oracle behind every other markup test ("IndexOk"):
// it must see each kind of damage, or those tests could not fail.
struct Corruption {
    const char* what;
    void (*apply)(XmlProbe& doc);
};

TEST(XmlCheck, DetectsEachKindOfDamage) {
    // r(1) holds a(2), b(3), c(5); b holds d(4).
    const wchar_t* text = L"<r><a/><b><d/></b><c/></r>";
    const Corruption corruptions[] = {
        {"previous-sibling link", [](XmlProbe& d) { d.Elem(5).iElemPrev = 2; }},
        {"last-child link", [](XmlProbe& d) { d.Elem(2).iElemPrev = 3; }},
        {"first-child flag missing", [](XmlProbe& d) { d.Elem(2).nFlagsLevel &= ~0x80000; }},
        {"first-child flag extra", [](XmlProbe& d) { d.Elem(3).nFlagsLevel |= 0x80000; }},
        {"parent link", [](XmlProbe& d) { d.Elem(4).iElemParent = 1; }},
        {"level", [](XmlProbe& d) { d.Elem(4).SetLevel(1); }},
        {"start not on a tag", [](XmlProbe& d) { d.Elem(3).nStart += 1; }},
        {"span beyond the parent", [](XmlProbe& d) { d.Elem(4).nLength += 5; }},
        {"span beyond the text", [](XmlProbe& d) { d.Elem(1).nLength += 1; }},
        {"siblings out of order", [](XmlProbe& d) { d.Elem(3).nStart = 3; }},
        {"cycle", [](XmlProbe& d) { d.Elem(5).iElemNext = 2; }},
        {"index out of range", [](XmlProbe& d) { d.Elem(5).iElemNext = 9; }},
        {"released but linked", [](XmlProbe& d) { d.x_ReleasePos(4); }},
        {"released chain loops",
         [](XmlProbe& d) {
             const int i = d.x_GetFreePos();
             d.x_ReleasePos(i);
             d.Elem(i).iElemNext = i;
         }},
        {"released record unmarked",
         [](XmlProbe& d) {
             const int i = d.x_GetFreePos();
             d.x_ReleasePos(i);
             d.Elem(i).nFlagsLevel |= 0x80000;
         }},
        {"document record length", [](XmlProbe& d) { d.Elem(0).nLength -= 1; }},
    };
    for (const Corruption& corruption : corruptions) {
        XmlProbe doc(text);
        ASSERT_TRUE(doc.IndexOk());
        corruption.apply(doc);
        EXPECT_FALSE(doc.IndexOkQuiet()) << corruption.what;
    }
    // Released records off the tree are fine.
    XmlProbe doc(text);
    doc.x_ReleasePos(doc.x_GetFreePos());
    EXPECT_TRUE(doc.IndexOk());
}

}  // namespace
