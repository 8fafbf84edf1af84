#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "xml_probe.h"

using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

// ---- the check itself finds broken indexes ----

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

// ---- generated documents ----

class Generator {
public:
    explicit Generator(unsigned seed) : m_rng(seed) {}

    // A well-formed document; records the start and length of each element
    // in document order.
    CLuStringW Document(std::vector<std::pair<int, int>>* elements) {
        m_text.Empty();
        m_elements = elements;
        if (Chance(3)) {
            m_text += L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
        }
        if (Chance(5)) {
            m_text += L"<!DOCTYPE root [\n<!ENTITY e \"x>y\">\n<!-- <r> -->\n]>\n";
        }
        Misc();
        Element(0);
        Misc();
        return m_text;
    }

private:
    int Pick(int n) { return static_cast<int>(m_rng() % static_cast<unsigned>(n)); }
    bool Chance(int n) { return Pick(n) == 0; }

    CLuStringW Name() {
        static const wchar_t* const names[] = {
            L"a", L"item", L"x:y", L"_z", L"Node-1", L"\x00E9t\x00E9", L"\x4E2D", L"b.c", L"A"};
        return names[Pick(9)];
    }

    void Misc() {
        switch (Pick(6)) {
            case 0:
                m_text += L"<!-- comment > with -- dashes -->";
                break;
            case 1:
                m_text += L"<?pi data > more ?>";
                break;
            case 2:
                m_text += L"\r\n  \t";
                break;
            default:
                break;
        }
    }

    void Content(int depth) {
        switch (Pick(7)) {
            case 0:
                m_text += L"text &amp; &lt;more&gt; \xD83D\xDE00";
                break;
            case 1:
                m_text += L"<![CDATA[ <not> & ]] ]>]]>";
                break;
            case 2:
                m_text += L" a > b ";
                break;
            case 3:
                Misc();
                break;
            default:
                if (depth < 12) {
                    Element(depth + 1);
                }
        }
    }

    void Element(int depth) {
        const CLuStringW name = Name();
        const int nStart = m_text.GetLength();
        const size_t index = m_elements->size();
        m_elements->push_back({nStart, 0});
        m_text += L"<" + name;
        const int nAttribs = Pick(4);
        bool bUnquoted = false;  // "/>" right after an unquoted value is no empty tag
        for (int n = 0; n < nAttribs; ++n) {
            static const wchar_t* const attribs[] = {L" k=\"v\"",        L" q='a > b / c'",
                                                     L"\n\tw = \"x'y\"", L" u=plain",
                                                     L" flag",           L" s=\"&quot;/&gt;\""};
            const int nAttrib = Pick(6);
            m_text += attribs[nAttrib];
            bUnquoted = nAttrib == 3;
        }
        if (Chance(4)) {
            m_text += Chance(2) && !bUnquoted ? L"/>" : L" />";
        } else {
            m_text += L">";
            const int nContent = Pick(5);
            for (int n = 0; n < nContent; ++n) {
                Content(depth);
            }
            m_text += L"</" + name + (Chance(3) ? L" >" : L">");
        }
        (*m_elements)[index].second = m_text.GetLength() - nStart;
    }

    std::mt19937 m_rng;
    CLuStringW m_text;
    std::vector<std::pair<int, int>>* m_elements = nullptr;
};

TEST(XmlCorpus, GeneratedDocumentsAreWellFormed) {
    Generator generator(20240611);
    for (int n = 0; n < 300; ++n) {
        std::vector<std::pair<int, int>> elements;
        const CLuStringW text = generator.Document(&elements);
        XmlProbe doc(text);
        ASSERT_TRUE(doc.IsWellFormed()) << Utf8(text) << "\n" << Utf8(doc.GetResult());
        EXPECT_EQ(doc.GetResult(), L"");
        ASSERT_EQ(doc.NextFree(), static_cast<int>(elements.size()) + 1);
        for (size_t i = 0; i < elements.size(); ++i) {
            const int iPos = static_cast<int>(i) + 1;
            ASSERT_EQ(doc.Elem(iPos).nStart, elements[i].first) << Utf8(text);
            ASSERT_EQ(doc.Elem(iPos).nLength, elements[i].second) << Utf8(text);
        }
        ASSERT_TRUE(doc.IndexOk());
    }
}

TEST(XmlCorpus, MutationsNeverBreakTheIndex) {
    Generator generator(7);
    std::mt19937 rng(99);
    const wchar_t pieces[] = L"<>/!?-[]'\"= \nCDa&;x";
    const int nPieces = static_cast<int>(sizeof(pieces) / sizeof(pieces[0])) - 1;
    int nIllFormed = 0;
    for (int n = 0; n < 150; ++n) {
        std::vector<std::pair<int, int>> elements;
        std::wstring text(generator.Document(&elements).GetString());
        for (int m = 0; m < 25; ++m) {
            const size_t at = rng() % (text.size() + 1);
            switch (rng() % 5) {
                case 0:  // insert a markup character
                    text.insert(at, 1, pieces[rng() % nPieces]);
                    break;
                case 1:  // delete a run
                    text.erase(at, rng() % 4);
                    break;
                case 2:  // cut the end off
                    text.resize(at);
                    break;
                case 3: {  // duplicate a run somewhere else
                    const std::wstring run = text.substr(at, rng() % 12);
                    text.insert(rng() % (text.size() + 1), run);
                    break;
                }
                default:  // replace a character
                    if (at < text.size()) {
                        text[at] = pieces[rng() % nPieces];
                    }
            }
            for (int nFlags : {0, int(CXmlDoc::DocFlagIgnoreCase)}) {
                XmlProbe doc(nFlags);
                const bool bWellFormed = doc.SetDoc(text.c_str());
                nIllFormed += bWellFormed ? 0 : 1;
                ASSERT_TRUE(doc.IndexOk()) << Utf8(text.c_str());
                EXPECT_LE(doc.GetResult().GetLength(), 1000 + 200);
            }
        }
    }
    EXPECT_GT(nIllFormed, 1000);  // the mutations do break documents
}

}  // namespace
