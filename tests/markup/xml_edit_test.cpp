#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "xml_probe.h"

using xml_test::SameIndex;
using xml_test::Utf8;
using xml_test::XmlProbe;

namespace {

const int kNoLines = CXmlDoc::NodeWithNoLines, kCdata = CXmlDoc::NodeWithCdata,
          kRefs = CXmlDoc::NodeWithRefs, kXhtml = CXmlDoc::NodeWithXhtmlSpace,
          kNoEnd = CXmlDoc::NodeWithNoEnd, kIllData = XmlProbe::ElemIllData;

std::string Text(const CXmlDoc& doc) {
    return Utf8(doc.GetDoc());
}

// An edited index must pass the index check, account for every record and be
// the index a parse of the edited text builds (into *pFresh when given). The
// document record's ElemIllFormed is left out, as edits never clear it, and
// the flags nIll on every record.
::testing::AssertionResult Reparses(const XmlProbe& doc, int nIll = 0, XmlProbe* pFresh = nullptr) {
    XmlProbe local;
    XmlProbe& fresh = pFresh ? *pFresh : local;
    ::testing::AssertionResult ok = doc.IndexOk();
    ok = ok ? doc.RecordsAccounted() : ok;
    if (ok) {
        fresh.SetDocFlags(doc.GetDocFlags());
        fresh.SetDoc(CLuStringW(doc.GetDoc()));
        ok = SameIndex(doc, fresh, nIll, XmlProbe::ElemIllFormed | nIll);
    }
    return ok;
}

// Everything a refused edit must leave alone: text, cursor, record counters
// and every record.
using Snapshot = std::pair<std::wstring, std::vector<int>>;
Snapshot Snap(const XmlProbe& doc) {
    std::vector<int> state{doc.ParentPos(), doc.MainPos(),    doc.ChildPos(), doc.NodeType(),
                           doc.NodeStart(), doc.NodeLength(), doc.NextFree(), doc.Released()};
    for (const XmlProbe::WalkEntry& e : doc.Walk()) {
        state.push_back(e.iRecord);
        state.insert(state.end(), e.fields.begin(), e.fields.end());
    }
    return {std::wstring(doc.GetDoc()), state};
}

// The cursor in short: main and child element by start offset ("-" for none),
// node type, and for other nodes their span.
std::string Cursor(XmlProbe& doc) {
    auto start = [&](int i) { return i ? std::to_string(doc.Elem(i).nStart) : std::string("-"); };
    std::string s = "M" + start(doc.MainPos()) + " C" + start(doc.ChildPos()) + " T" +
                    std::to_string(doc.NodeType());
    if (doc.NodeType() > 1 || doc.NodeLength()) {
        s += "@" + std::to_string(doc.NodeStart()) + "+" + std::to_string(doc.NodeLength());
    }
    return s;
}

// One cursor move: F[:name] FindElem, C[:name] FindChildElem, I IntoElem,
// O OutOfElem, N:mask FindNode, R ResetPos, M ResetMainPos, r ResetChildPos,
// S:name SavePos, P:name RestorePos. Returns what the call returns (1 for resets).
int MoveOnce(XmlProbe& doc, const std::string& move) {
    const std::wstring arg(move.begin() + static_cast<long>(std::min<size_t>(move.size(), 2)),
                           move.end());
    const wchar_t* sz = arg.empty() ? nullptr : arg.c_str();
    const char k = move[0];
    return k == 'F'   ? doc.FindElem(sz)
           : k == 'C' ? doc.FindChildElem(sz)
           : k == 'I' ? doc.IntoElem()
           : k == 'O' ? doc.OutOfElem()
           : k == 'N' ? doc.FindNode(std::stoi(move.substr(2)))
           : k == 'S' ? doc.SavePos(sz)
           : k == 'P' ? doc.RestorePos(sz)
           : k == 'R' ? (doc.ResetPos(), 1)
           : k == 'M' ? (doc.ResetMainPos(), 1)
                      : (doc.ResetChildPos(), 1);
}

// Space separated moves that must all succeed (FindNode: find its mask).
::testing::AssertionResult Moved(XmlProbe& doc, const char* szMoves) {
    std::istringstream in(szMoves);
    for (std::string move; in >> move;) {
        const int n = MoveOnce(doc, move);
        if (move[0] == 'N' ? n != std::stoi(move.substr(2)) : !n) {
            return ::testing::AssertionFailure() << "move " << move << " failed";
        }
    }
    return ::testing::AssertionSuccess();
}

// One edit: start document, cursor moves, the edit, its answer, the text after
// it and (when given) the cursor after it. A refused edit that leaves the text
// as it was must leave everything as it was; any other edit must leave the
// index a parse of its text builds.
struct EditCase {
    const wchar_t* doc;
    const char* moves;
    bool (*edit)(XmlProbe&);
    bool bResult;
    const char* text;
    const char* cursor;
};
#define E(call) [](XmlProbe& d) -> bool { return d.call; }

template <size_t N>
void RunCases(const EditCase (&cases)[N]) {
    for (const EditCase& c : cases) {
        SCOPED_TRACE(Utf8(c.doc) + " | " + c.moves);
        XmlProbe doc(c.doc);
        ASSERT_TRUE(Moved(doc, c.moves));
        const Snapshot before = Snap(doc);
        EXPECT_EQ(c.edit(doc), c.bResult);
        EXPECT_EQ(Text(doc), c.text);
        if (!c.bResult && Text(doc) == Utf8(c.doc)) {
            EXPECT_EQ(Snap(doc).second, before.second);  // cursor and records too
        } else {
            EXPECT_TRUE(Reparses(doc));
        }
        if (c.cursor) {
            EXPECT_EQ(Cursor(doc), c.cursor);
        }
    }
}

// The random edits below predict the text, answer and cursor of every edit
// from the placement rules, but use text values only and do not predict the
// text of attributes: those are here.
TEST(XmlEdit, IntegerValuesAndAttributes) {
    const EditCase cases[] = {
        // Integer values.
        {L"", "", E(AddElem(L"x", -3)), 1, "<x>-3</x>\r\n"},
        {L"", "", E(AddElem(L"x", INT_MIN)), 1, "<x>-2147483648</x>\r\n"},
        {L"", "", E(AddElem(L"x", 5, kNoEnd)), 0, ""},
        {L"<r><e>1</e></r>", "F C:e", E(SetChildData(9)), 1, "<r><e>9</e></r>"},
        // Attributes: new ones go in front of the tag's end, values are replaced.
        {L"<e/>", "F", E(SetAttrib(L"a", L"x\"y")), 1, "<e a=\"x&quot;y\"/>", "M0 C- T1"},
        {L"<e/>", "F", E(SetAttrib(L"a", L"x\"y") && d.SetAttrib(L"a", L"1")), 1, "<e a=\"1\"/>"},
        {L"<e />", "F", E(SetAttrib(L"a", L"1")), 1, "<e a=\"1\" />"},
        {L"<r><e  >t</e><f/></r>", "F I F:e", E(SetAttrib(L"a", L"it's")), 1,
         "<r><e a=\"it&apos;s\"  >t</e><f/></r>", "M3 C- T1"},
        {L"<e a='1' b=\"2\">t</e>", "F", E(AddAttrib(L"b", 3)), 1, "<e a='1' b=\"3\">t</e>"},
        {L"<e a=x b='y'>t</e>", "F", E(SetAttrib(L"a", L"1")), 1, "<e a=\"1\" b='y'>t</e>"},
        {L"<e/>", "F", E(SetAttrib(L"c", L"&amp;&<", kRefs)), 1, "<e c=\"&amp;&amp;&lt;\"/>"},
        // Processing instructions take attributes; child elements through the child position.
        {L"<?xml version=\"1.0\"?>\r\n<r/>", "N:16", E(SetAttrib(L"encoding", L"UTF-8")), 1,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r/>", "M- C- T16@0+38"},
        {L"<?p?><r/>", "N:16", E(SetAttrib(L"a", 1)), 1, "<?p a=\"1\"?><r/>", "M- C- T16@0+11"},
        {L"<r><c/></r>", "F C:c", E(SetChildAttrib(L"k", L"v")), 1, "<r><c k=\"v\"/></r>",
         "M0 C3 T1"},
        {L"<r><c/></r>", "F", E(AddChildAttrib(L"k", 1)), 0, "<r><c/></r>"},
        {L"<r>t</r>", "F I N:2", E(SetAttrib(L"a", L"1")), 0, "<r>t</r>"},
        // A value read from the document's own text, which the edit moves.
        {L"<e>v</e>", "F", E(SetAttrib(L"a", d.GetDoc().GetString() + 3)), 1,
         "<e a=\"v&lt;/e&gt;\">v</e>"},
        // A quote the parser took as part of the tag would carry the change out of it.
        {L"<r='><b/>", "F", E(SetAttrib(L"a", L"1")), 0, "<r='><b/>"},
        {L"<?p a='?><r/>", "N:16", E(SetAttrib(L"b", L"1")), 0, "<?p a='?><r/>"},
    };
    RunCases(cases);
}

// The rules' loop: find and remove until nothing is found. Removing never
// hands records back; only a parse numbers them from 1 again.
TEST(XmlEdit, FindAndRemoveLoop) {
    XmlProbe doc(L"<r><x/><y/><x>1</x>\r\n<x><z/></x><w/></r>");
    ASSERT_TRUE(Moved(doc, "F I"));
    int nRemoved = 0;
    while (doc.FindElem(L"x") && nRemoved < 10) {
        ASSERT_TRUE(doc.RemoveElem());
        ++nRemoved;
    }
    EXPECT_EQ(nRemoved, 3);
    EXPECT_EQ(Text(doc), "<r><y/><w/></r>");
    EXPECT_EQ(doc.NextFree(), 8);
    EXPECT_TRUE(doc.RecordsAccounted());
    EXPECT_TRUE(doc.SetDoc(doc.GetDoc()));
    EXPECT_EQ(doc.NextFree(), 4);
    EXPECT_EQ(doc.Released(), 0);
}

// The parse result of a document gives way to that of each subdocument or content.
TEST(XmlEdit, ResultsComeFromTheLastInsertedText) {
    XmlProbe doc(L"<r><a></r>");
    ASSERT_FALSE(doc.GetResult().IsEmpty());
    ASSERT_TRUE(Moved(doc, "F"));
    ASSERT_TRUE(doc.AddChildSubDoc(L"<b/>"));
    EXPECT_EQ(Utf8(doc.GetResult()), "");
    EXPECT_FALSE(doc.AddChildSubDoc(L"</zz>"));
    EXPECT_EQ(Utf8(doc.GetResult()), "<lone_end_tag tagname=\"zz\" offset=\"0\"/>");
    EXPECT_FALSE(doc.SetElemContent(L"<n>"));
    EXPECT_EQ(Utf8(doc.GetResult()),
              "<unended_start_tag tagname=\"n\" offset=\"0\" offset2=\"3\"/>");
}

TEST(XmlEdit, EditsAcrossRecordSegments) {
    // Records 65,536 and up live in a second segment; edits shift, link and
    // take records on both sides of the boundary.
    XmlProbe doc(xml_test::Repeated(L"<r>", L"<a/>", 65530, L"</r>"));
    ASSERT_TRUE(doc.FindElem());
    for (int n = 0; n < 20; ++n) {
        ASSERT_TRUE(doc.AddChildElem(L"b", n, kNoLines));
    }
    EXPECT_GT(doc.NextFree(), 65536);
    doc.ResetChildPos();
    // The attribute shifts every record.
    ASSERT_TRUE(doc.InsertChildElem(L"c", L"", kNoLines) && doc.SetAttrib(L"k", L"v") &&
                Moved(doc, "r C:b") && doc.SetChildData(L"xyz") && doc.RemoveChildElem() &&
                Moved(doc, "I F:b") && doc.SetElemContent(L"<d/><d/>"));
    EXPECT_TRUE(Reparses(doc));
}

TEST(XmlEdit, BufferGrowsByHalfAgainPlus128) {
    XmlProbe doc(L"<r/>");
    ASSERT_TRUE(doc.FindElem());
    ASSERT_LT(doc.GetDoc().GetAllocLength(), 15);
    ASSERT_TRUE(doc.AddChildElem(L"a"));
    ASSERT_EQ(doc.GetDoc().GetLength(), 15);
    EXPECT_EQ(doc.GetDoc().GetAllocLength(), 15 + 7 + 128);
    ASSERT_TRUE(doc.AddChildElem(L"b"));  // fits: no new buffer
    EXPECT_EQ(doc.GetDoc().GetAllocLength(), 150);
    ASSERT_TRUE(doc.AddChildElem(L"c", std::wstring(200, L'v').c_str()));
    const int n = doc.GetDoc().GetLength();
    EXPECT_EQ(doc.GetDoc().GetAllocLength(), n + n / 2 + 128);
    ASSERT_TRUE(doc.RemoveChildElem());  // shrinking keeps the buffer
    EXPECT_EQ(doc.GetDoc().GetAllocLength(), n + n / 2 + 128);
}

// Under the read and write file flags, removals and content are refused;
// additions, attributes and data are not.
TEST(XmlEdit, FileFlagsRefuseRemovalsAndContentOnly) {
    for (int nFlag : {16, 32}) {
        SCOPED_TRACE(nFlag);
        XmlProbe doc(L"<r><a/><!--c--></r>");
        auto moved = [&](const char* szMoves) {  // moves under these flags read a file
            doc.ForceDocFlags(0);
            const bool bOk = Moved(doc, szMoves);
            doc.ForceDocFlags(nFlag);
            return bOk;
        };
        ASSERT_TRUE(moved("F C:a"));
        const Snapshot before = Snap(doc);
        EXPECT_FALSE(doc.RemoveChildElem() || doc.RemoveElem() || doc.RemoveNode() ||
                     doc.SetElemContent(L"<b/>"));
        EXPECT_TRUE(Snap(doc) == before);
        ASSERT_TRUE(moved("I N:32"));
        EXPECT_FALSE(doc.RemoveNode());
        ASSERT_TRUE(moved("R F"));
        EXPECT_TRUE(doc.AddChildElem(L"b") && doc.SetAttrib(L"k", L"v") && doc.SetChildData(L"d"));
        EXPECT_EQ(Text(doc), "<r k=\"v\"><a/><!--c--><b>d</b>\r\n</r>");
        EXPECT_TRUE(doc.IndexOk());
    }
}

// ---- differential oracle: random edits against a fresh parse ----
//
// After every random edit the index must pass the index check, account for
// every record, keep the cursor on a real node and equal record by record the
// index a parse of the edited text builds; the text is predicted from the
// placement rules. What may legitimately differ is kept out by the generator:
// - Malformed inserted text is parsed alone, so its errors end in place: error
//   nodes closed by ">", lone end tags zz and zy (never start tags), unended
//   start tags (and NodeWithNoEnd elements) with unique names. Documents end
//   cleanly; comment and instruction texts hold no ">".
// - Edits never clear ElemIllFormed on the document, and adding a lone end tag
//   or removing an error node need not maintain ElemIllData: those are not
//   compared, and the document is parsed again after such an edit.
// - A value for a bare attribute ("flag") is not settled: never set.

// The same sequence on every platform: the engine's algorithm is fixed, and
// the reduction to a range is our own.
struct Rng : std::mt19937_64 {
    using std::mt19937_64::mt19937_64;
    int Below(int n) { return static_cast<int>((*this)() % static_cast<uint64_t>(n)); }
    bool OneIn(int n) { return Below(n) == 0; }
    template <class T, size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(static_cast<int>(N))];
    }
};

const wchar_t* const kNames[] = {L"a", L"b", L"c", L"item", L"d"};
const wchar_t* const kValues[] = {L"",      L"v",      L"1<2",   L"a&b",          L"q\"u'o",
                                  L"x]]>y", L"  sp  ", L"&amp;", L"line\r\nbreak"};

// A subdocument or element content; "#" stands for a fresh unique name.
struct Fragment {
    const wchar_t* text;
    bool bClean;           // parses without error
    int nTop;              // top-level elements
    const wchar_t* first;  // the first top-level element's name
    const wchar_t* span;   // what a subdocument inserts (null: all of it, no line end)
};
const Fragment kFragments[] = {
    {L"<b/>", true, 1, L"b", L"<b/>"},
    {L"<c k=\"1\">t &amp; u</c>", true, 1, L"c", L"<c k=\"1\">t &amp; u</c>"},
    {L"<item><a/><b>x</b></item>", true, 1, L"item", L"<item><a/><b>x</b></item>"},
    {L"<!--lead--><d/>\r\n", true, 1, L"d", L"<d/>"},
    {L"\r\n<a>1</a>  ", true, 1, L"a", L"<a>1</a>"},
    {L"<?p?><b><c/></b>", true, 1, L"b", L"<b><c/></b>"},
    {L"<a/><b/>", true, 2, L"a", L"<a/><b/>"},
    {L"<c/>text<d/>", true, 2, L"c", L"<c/>text<d/>"},
    {L"plain text", true, 0, nullptr},
    {L"", true, 0, nullptr},
    {L"<#>", false, 1, L"#"},
    {L"<b><#></b>", false, 1, L"b"},
    {L"<b/></zz>", false, 1, L"b"},
    {L"</zy>", false, 0, nullptr},
    {L"x < y", false, 0, nullptr},
    {L"<!x><c/>", false, 1, L"c"},
    {L"<a><#><b/></a>", false, 1, L"a"},
    {L"<#>t<c/>", false, 2, L"#"},
};

// A text as a C string literal, to paste into a test (other than ASCII as "?").
std::string Quoted(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        const size_t n = std::wstring(L"\r\n\t\"\\").find(c);
        out += n == std::wstring::npos ? std::string(1, c < 128 ? static_cast<char>(c) : '?')
                                       : std::string("\\") + "rnt\"\\"[n];
    }
    return out + "\"";
}

std::wstring Escaped(const std::wstring& value, int nFlags) {
    return std::wstring(nFlags & kCdata ? XmlProbe::x_EncodeCDATASection(value.c_str())
                                        : CXmlDoc::EscapeText(value.c_str(), nFlags));
}

// Node types with their markup around the text and the texts generated.
struct NodeKind {
    int nType;
    const wchar_t *open, *close, *values[3];
};
const NodeKind kNodeKinds[] = {
    {1, L"<", L"/>", {L"a", L"b", L"item"}},
    {2, L"", L"", {L"t", L"x<y&z", L"a > b"}},
    {4, L"", L"", {L" ", L"\r\n", L"\t "}},
    {8, L"<![CDATA[", L"]]>", {L"<c>&", L"x]]>y", L"]"}},
    {16, L"<?", L"?>", {L"p", L"p a='1'", L"q b=\"2\""}},
    {32, L"<!--", L"-->", {L"note", L"a-b", L"changed"}},
    {64, L"", L"", {L"<!DOCTYPE q>", L"<!DOCTYPE r>", L"<!DOCTYPE r>"}},
    {128, L"</", L">", {L"zz", L"zy", L"zz"}},
};
const NodeKind& Kind(int nType) {
    return *std::find_if(std::begin(kNodeKinds), std::end(kNodeKinds),
                         [&](const NodeKind& k) { return k.nType == nType; });
}
std::wstring NodeText(int nType, const std::wstring& text) {
    const NodeKind& k = Kind(nType);
    return k.open + (nType == 2 || nType == 4 ? Escaped(text, 0) : text) + k.close;
}

class EditOracle {
public:
    explicit EditOracle(uint64_t seed) : m_rng(seed) {}

    // Runs nSteps steps; false with Report() on the first fault.
    bool Run(int nSteps) {
        m_bIgnoreCase = m_rng.OneIn(4);
        m_nDocFlags = m_bIgnoreCase ? CXmlDoc::DocFlagIgnoreCase : 0;
        NewDocument();
        for (m_nStep = 0; m_nStep < nSteps && m_failure.empty(); ++m_nStep) {
            if (m_doc.GetDoc().GetLength() > 6000) {
                NewDocument();
            } else if (m_rng.Below(100) < 40) {
                Move();
            } else {
                Edit();
            }
        }
        return m_failure.empty();
    }
    int Edits() const { return m_nEdits; }
    std::string Report() const {
        std::string report = m_failure + "\nsteps since the document was loaded:\n";
        for (const std::string& line : m_log) {
            report += "  " + line + "\n";
        }
        return report + "text before the failing step: " + Quoted(m_before) + "\n";
    }

private:
    enum { kEither = -1 };
    // What an edit step found out, checked in Edit().
    struct Step {
        std::string what;
        bool bResult = false;
        int nExpected = kEither;         // 1 true, 0 false
        bool bInsertsWhenFalse = false;  // a false answer may still change the text
        bool bStale = false;             // ElemIllData is not maintained
        bool bKeepsCursor = false;
        std::string check;  // a fault found by the edit's own checks
    };
    using EditFn = void (EditOracle::*)(Step&);

    // ---- documents ----
    std::wstring Unique(const wchar_t* szPrefix) { return szPrefix + std::to_wstring(++m_nUnique); }
    static std::wstring Replace(std::wstring text, const std::wstring& name) {
        for (size_t n = text.find(L'#'); n != std::wstring::npos; n = text.find(L'#')) {
            text.replace(n, 1, name);
        }
        return text;
    }
    std::wstring Misc(bool bDirty) {
        static const wchar_t* const kMisc[] = {L"\r\n  ",      L" ",           L"text",
                                               L"a &amp; b",   L"q&#65;r",     L"a > b",
                                               L"<!--note-->", L"<?p v='1'?>", L"<![CDATA[<x>&]]>"};
        static const wchar_t* const kDirty[] = {L"<!x>",  L"<1>",   L"<!-x>", L"<![x>",
                                                L"a < b", L"</zz>", L"</zy>"};
        if (bDirty && m_rng.OneIn(4)) {
            return m_rng.OneIn(3) ? L"<" + Unique(L"u") + L">" : m_rng.Pick(kDirty);
        }
        return m_rng.Pick(kMisc);
    }
    std::wstring Element(int nDepth, bool bDirty, int& nBudget) {
        static const wchar_t* const kAttribs[] = {L" id=\"1\"",  L" k='v&amp;w'", L" flag",
                                                  L" t=\"a>b\"", L" ID=\"x\"",    L" id='2'"};
        --nBudget;
        std::wstring name = m_rng.Pick(kNames), text = L"<" + name;
        for (int n = m_rng.Below(3); n > 0; --n) {
            text += m_rng.Pick(kAttribs);
        }
        if (m_rng.Below(10) < 2 || nDepth >= 4 || nBudget <= 0) {
            return text + (m_rng.OneIn(3) ? L" />" : L"/>");
        }
        text += L">";
        for (int n = m_rng.Below(5); n > 0; --n) {
            text +=
                nBudget > 0 && m_rng.OneIn(2) ? Element(nDepth + 1, bDirty, nBudget) : Misc(bDirty);
        }
        if (m_bIgnoreCase && m_rng.OneIn(2)) {
            name[0] = static_cast<wchar_t>(name[0] - L'a' + L'A');
        }
        return text + L"</" + name + L">";
    }
    std::wstring Document(bool bDirty) {
        int nBudget = 3 + m_rng.Below(80);
        std::wstring text = m_rng.OneIn(3) ? L"<?xml version=\"1.0\"?>\r\n" : L"";
        text += !m_rng.OneIn(4)  ? L""
                : m_rng.OneIn(2) ? L"<!DOCTYPE r>\r\n"
                                 : L"<!DOCTYPE r [<!ENTITY e '<x>'>]>\r\n";
        text += m_rng.OneIn(3) ? L"<!--head-->\r\n" : L"";
        if (bDirty && m_rng.OneIn(6)) {
            text += L"just text";  // no root element
        } else {
            text += bDirty && m_rng.OneIn(4) ? L"<" + Unique(L"u") + L">" : L"";
            text += Element(0, bDirty, nBudget);
            text += bDirty && m_rng.OneIn(4) ? L"<b/>" : L"";  // a second top-level element
            text += bDirty && m_rng.OneIn(5) ? L"</zz>" : L"";
        }
        text += m_rng.OneIn(2) ? L"\r\n" : L"";
        return text + (m_rng.OneIn(4) ? L"<!--tail-->\r\n" : L"");
    }
    void Load(const std::wstring& text, const std::string& what) {
        m_log.assign(1, what);
        m_doc.SetDocFlags(m_nDocFlags);
        m_doc.SetDoc(text.c_str());
        m_saved.clear();
        m_before = text;
    }
    void NewDocument() {
        const bool bDirty = m_rng.OneIn(3);
        const std::wstring text = Document(bDirty);
        Load(text, "SetDoc(" + Quoted(text) + ") flags " + std::to_string(m_nDocFlags));
        if (!bDirty && !m_doc.IsWellFormed()) {
            Fail("generated a document that is not well formed: " + Utf8(m_doc.GetError()));
        }
        Verify(false);
    }

    // ---- cursor moves ----
    void Move() {
        static const char* const kMoves[] = {"F", "F", "C", "I", "O", "N", "N",
                                             "R", "M", "r", "S", "S", "P", "P"};
        static const int kMasks[] = {0, 1, 2, 4, 8, 16, 32, 64, 128, 6, 48, 32768, 0xFFFF};
        std::string move = m_rng.Pick(kMoves);
        const char k = move[0];
        if ((k == 'F' || k == 'C') && !m_rng.OneIn(3)) {
            move += ":" + Utf8(m_rng.Pick(kNames));
        } else if (k == 'N') {
            move += ":" + std::to_string(m_rng.Pick(kMasks));
        } else if (k == 'S' || k == 'P') {
            move += ":p" + std::to_string(m_rng.Below(3));
        }
        // A saved position restores its cursor unless its element was removed.
        const std::wstring pos(move.begin() + 2 * (k == 'S' || k == 'P'), move.end());
        const int c = m_doc.ChildPos(), m = m_doc.MainPos();
        std::pair<int, int> saved{c ? 2 : m ? 1 : 0, c ? c : m ? m : m_doc.ParentPos()};
        auto it = m_saved.find(pos);
        const bool bKnown = k == 'P' && it != m_saved.end();
        const bool bExpected =
            bKnown && (!it->second.second ||
                       m_doc.Elem(it->second.second).nFlagsLevel != XmlProbe::ElemReleased);
        if (bKnown) {
            saved = it->second;
            if (!bExpected) {
                m_saved.erase(it);
            }
        }
        const int n = MoveOnce(m_doc, move);
        const std::string what = move + " -> " + std::to_string(n);
        m_log.push_back(what);
        m_before = std::wstring(m_doc.GetDoc());
        if (k == 'S') {
            m_saved[pos] = saved;
            return n ? VerifyCursor() : Fail(what + ": refused");
        }
        if (k == 'P' && n != bExpected) {
            return Fail(what + ", expected " + std::to_string(bExpected));
        }
        const int iPos = saved.second, iChild = saved.first == 2 ? iPos : 0;
        const int iMain = iChild ? m_doc.x_GetParent(iChild) : saved.first ? iPos : 0;
        if (k == 'P' && n &&
            (m_doc.ChildPos() != iChild || m_doc.MainPos() != iMain ||
             m_doc.ParentPos() != (saved.first ? m_doc.x_GetParent(iMain) : iPos))) {
            return Fail(what + ": restored the wrong cursor");
        }
        VerifyCursor();  // the text is unchanged, and so is its fresh parse
    }

    // ---- edits ----
    std::wstring NodeValue(int nType) { return m_rng.Pick(Kind(nType).values); }

    void Edit() {
        // Weights of the edit families; plain additions keep documents growing.
        static const EditFn kEdits[] = {
            &EditOracle::AddElems, &EditOracle::AddElems,   &EditOracle::AddNodes,
            &EditOracle::AddNodes, &EditOracle::AddSubDocs, &EditOracle::AddSubDocs,
            &EditOracle::Attribs,  &EditOracle::Data,       &EditOracle::Content,
            &EditOracle::Removes,  &EditOracle::Removes,    &EditOracle::RemoveNodes,
            &EditOracle::AddPlain, &EditOracle::AddPlain,   &EditOracle::AddPlain};
        ++m_nEdits;
        const Snapshot before = Snap(m_doc);
        m_before = std::wstring(m_doc.GetDoc());
        m_iParent = m_doc.ParentPos(), m_iMain = m_doc.MainPos(), m_iChild = m_doc.ChildPos();
        m_nType = m_doc.NodeType(), m_nNodeStart = m_doc.NodeStart();
        Step s;
        (this->*m_rng.Pick(kEdits))(s);
        if (s.what.empty()) {
            return;  // nothing settled to try
        }
        s.what += " -> " + std::to_string(s.bResult);
        m_log.push_back(s.what);
        if (s.bKeepsCursor && s.bResult && s.check.empty() &&
            (m_doc.ParentPos() != m_iParent || m_doc.MainPos() != m_iMain ||
             m_doc.ChildPos() != m_iChild || m_doc.NodeType() != m_nType ||
             m_doc.NodeStart() != m_nNodeStart)) {
            s.check = "the cursor moved";
        }
        if (s.nExpected != kEither && static_cast<int>(s.bResult) != s.nExpected) {
            s.check = "expected " + std::to_string(s.nExpected);
        }
        if (s.check.empty() && !s.bResult && !s.bInsertsWhenFalse) {
            s.check =
                Snap(m_doc) == before ? "" : "refused, but the text, cursor or records changed";
        }
        if (!s.check.empty()) {
            return Fail(s.what + ": " + s.check);
        }
        Verify(s.bStale);
        if (m_failure.empty() && s.bStale) {
            Load(std::wstring(m_doc.GetDoc()), "(parsed again)");
        }
    }

    // Elements; plain ones (default flags, added under an element when there is
    // one, so they succeed) keep documents growing.
    void AddElems(Step& s) { AddElem(s, false); }
    void AddPlain(Step& s) { AddElem(s, true); }
    void AddElem(Step& s, bool bPlain) {
        static const int kFlags[] = {0,      0,     kNoLines,          kXhtml,
                                     kCdata, kRefs, kNoLines | kCdata, kNoEnd};
        const int nKind = bPlain ? 2 * (m_iMain && m_nType == 1) : m_rng.Below(4);
        const int nFlags = bPlain ? 0 : m_rng.Pick(kFlags);
        const bool bChild = nKind >= 2, bInsert = nKind % 2;
        std::wstring value = m_rng.Pick(kValues), name = m_rng.Pick(kNames);
        if (nFlags & kNoEnd) {
            name = Unique(L"n");
            value = m_rng.OneIn(4) ? value : L"";
        }
        const std::wstring added =
            !value.empty() ? L"<" + name + L">" + Escaped(value, nFlags) + L"</" + name + L">"
                           : L"<" + name +
                                 (nFlags & kNoEnd   ? L">"
                                  : nFlags & kXhtml ? L" />"
                                                    : L"/>");
        const std::wstring placed = Placed(bChild, bInsert, nFlags & kNoLines, added);
        using Fn = bool (CXmlDoc::*)(XML_CSTR, XML_CSTR, int);
        static const Fn kFns[] = {&CXmlDoc::AddElem, &CXmlDoc::InsertElem, &CXmlDoc::AddChildElem,
                                  &CXmlDoc::InsertChildElem};
        s.bResult = (m_doc.*kFns[nKind])(name.c_str(), value.c_str(), nFlags);
        s.what = std::string(bInsert ? "Insert" : "Add") + (bChild ? "ChildElem(" : "Elem(") +
                 Utf8(name.c_str()) + ", " + Quoted(value) + ", " + std::to_string(nFlags) + ")";
        s.nExpected = !((nFlags & kNoEnd) && !value.empty()) && (!bChild || m_iMain);
        if (s.bResult) {
            s.check = TextIs(placed) + CursorSpans(1, added, bChild) +
                      (!bChild && m_doc.ChildPos() ? "the child position is not reset" : "");
        }
    }

    void AddNodes(Step& s) {
        const int nType = m_rng.Pick(kNodeKinds).nType;
        const std::wstring text = NodeValue(nType), added = NodeText(nType, text);
        const bool bInsert = m_rng.OneIn(2), bLines = nType == 16 || nType == 32 || nType == 64;
        const std::wstring placed = Placed(false, bInsert, !bLines, added);
        s.bResult =
            bInsert ? m_doc.InsertNode(nType, text.c_str()) : m_doc.AddNode(nType, text.c_str());
        s.what = std::string(bInsert ? "InsertNode(" : "AddNode(") + std::to_string(nType) + ", " +
                 Quoted(text) + ")";
        s.nExpected = !(nType == 8 && text.find(L"]]>") != std::wstring::npos);
        s.bStale = nType == 128;
        if (s.bResult) {
            s.check = TextIs(placed) + CursorSpans(nType, added, false);
        }
    }

    void AddSubDocs(Step& s) {
        const Fragment& fragment = m_rng.Pick(kFragments);
        const std::wstring unique = Unique(L"u"), text = Replace(fragment.text, unique);
        const int nKind = m_rng.Below(4);
        const bool bChild = nKind >= 2, bInsert = nKind % 2, bRefused = bChild && !m_iMain;
        const std::wstring placed = bRefused ? std::wstring()
                                             : Placed(bChild, bInsert, !fragment.span,
                                                      fragment.span ? fragment.span : text);
        using Fn = bool (CXmlDoc::*)(XML_CSTR);
        static const Fn kFns[] = {&CXmlDoc::AddSubDoc, &CXmlDoc::InsertSubDoc,
                                  &CXmlDoc::AddChildSubDoc, &CXmlDoc::InsertChildSubDoc};
        s.bResult = (m_doc.*kFns[nKind])(text.c_str());
        s.what = std::string(bInsert ? "Insert" : "Add") + (bChild ? "ChildSubDoc(" : "SubDoc(") +
                 Quoted(text) + ")";
        s.nExpected = !bRefused && fragment.bClean && fragment.nTop == 1;
        s.bInsertsWhenFalse = !bRefused;
        if (!bRefused) {
            const int iFirst = bChild ? m_doc.ChildPos() : m_doc.MainPos();
            const std::wstring tag(iFirst ? m_doc.x_GetTagName(iFirst) : CLuStringW());
            const bool bOnFirst = tag == (fragment.first ? Replace(fragment.first, unique) : L"");
            s.check = TextIs(placed) + (bOnFirst ? ""
                                                 : "the cursor is on " + Quoted(tag) +
                                                       ", not the first inserted element");
        }
    }

    void Attribs(Step& s) {
        static const wchar_t* const kAttribNames[] = {L"id", L"k", L"new", L"ID"};
        static const char* const kOps[] = {"SetAttrib(", "AddAttrib(", "SetChildAttrib(",
                                           "AddChildAttrib("};
        const std::wstring name = m_rng.Pick(kAttribNames), value = m_rng.Pick(kValues);
        const int nKind = m_rng.Below(4), nFlags = nKind % 2 == 0 && m_rng.OneIn(4) ? kRefs : 0;
        const wchar_t *n = name.c_str(), *v = value.c_str();
        s.bResult = nKind == 0   ? m_doc.SetAttrib(n, v, nFlags)
                    : nKind == 1 ? m_doc.AddAttrib(n, v)
                    : nKind == 2 ? m_doc.SetChildAttrib(n, v, nFlags)
                                 : m_doc.AddChildAttrib(n, v);
        s.what = kOps[nKind] + Utf8(n) + ", " + Quoted(value) + ", " + std::to_string(nFlags) + ")";
        s.bKeepsCursor = true;
        // With no element at all, a processing instruction under the cursor may
        // be the target of a child attribute: either answer.
        s.nExpected = nKind >= 2 ? (m_iChild && m_nType == 1    ? 1
                                    : !m_iMain && m_nType == 16 ? kEither
                                                                : 0)
                                 : (m_iMain && m_nType == 1) || m_nType == 16;
        if (s.bResult && !nFlags) {
            const std::wstring got(nKind >= 2 ? m_doc.GetChildAttrib(n) : m_doc.GetAttrib(n));
            s.check = got == value ? "" : "the attribute reads back as " + Quoted(got);
        }
    }

    void Data(Step& s) {
        const bool bChild = m_rng.OneIn(3), bOnNode = !bChild && m_nType > 1;
        if (m_nType == 32768 && !bChild) {
            return;  // what rewriting an error node gives is not settled
        }
        const int nFlags = bOnNode ? 0 : m_rng.OneIn(3) ? kCdata : m_rng.OneIn(4) ? kRefs : 0;
        const std::wstring value = bOnNode ? NodeValue(m_nType) : m_rng.Pick(kValues);
        const int iTarget = bChild ? m_iChild : bOnNode ? 0 : m_iMain;
        std::wstring expected = m_before;
        if (bOnNode) {
            expected.replace(static_cast<size_t>(m_nNodeStart),
                             static_cast<size_t>(m_doc.NodeLength()), NodeText(m_nType, value));
        } else if (iTarget && !m_doc.Elem(iTarget).iElemChild) {
            expected = Replaced(iTarget, Escaped(value, nFlags));
        }
        s.bResult = bChild ? m_doc.SetChildData(value.c_str(), nFlags)
                           : m_doc.SetData(value.c_str(), nFlags);
        s.what = std::string(bChild ? "SetChildData(" : "SetData(") + Quoted(value) + ", " +
                 std::to_string(nFlags) + ")";
        s.bKeepsCursor = true;
        auto bare = [&](int i) { return i && !m_doc.Elem(i).iElemChild; };
        s.nExpected = bChild    ? (m_iChild                  ? bare(m_iChild)
                                   : !m_iMain && m_nType > 1 ? kEither
                                                             : 0)
                      : bOnNode ? !(m_nType == 8 && value.find(L"]]>") != std::wstring::npos)
                                : m_nType == 1 && bare(m_iMain);
        if (s.bResult) {
            s.check = TextIs(expected);
        }
    }

    void Content(Step& s) {
        const Fragment& fragment = m_rng.Pick(kFragments);
        const std::wstring text = Replace(fragment.text, Unique(L"u"));
        const bool bCan = m_iMain && m_nType == 1;
        const std::wstring expected = bCan ? Replaced(m_iMain, text) : std::wstring();
        s.bResult = m_doc.SetElemContent(text.c_str());
        s.what = "SetElemContent(" + Quoted(text) + ")";
        s.nExpected = bCan && fragment.bClean;
        s.bInsertsWhenFalse = bCan;
        if (bCan) {
            const bool bOn =
                Cursor(m_doc) == "M" + std::to_string(m_doc.Elem(m_iMain).nStart) + " C- T1";
            s.check =
                TextIs(expected) + (bOn ? "" : "the cursor is not on the element with no child");
        }
    }

    // The text without [nStart, nEnd), and the white space behind it when that
    // runs up to a tag.
    std::wstring Without(int nStart, int nEnd, bool bSpace) const {
        const size_t n = static_cast<size_t>(nEnd), nStop = bSpace ? SpaceToTag(n) : n;
        std::wstring text = m_before;
        return text.erase(static_cast<size_t>(nStart), nStop - static_cast<size_t>(nStart));
    }
    // The offset behind the white space from n on when that runs up to a tag
    // or the end of the text, n when it does not.
    size_t SpaceToTag(size_t n) const {
        size_t k = n;
        while (k < m_before.size() && std::wcschr(L" \t\r\n", m_before[k])) {
            ++k;
        }
        return k == m_before.size() || m_before[k] == L'<' ? k : n;
    }

    void Removes(Step& s) {
        const bool bChild = m_rng.OneIn(2);
        const int iGone = bChild ? m_iChild : m_nType == 1 ? m_iMain : 0;
        const XmlProbe::ElemPos gone = m_doc.Elem(iGone);
        const int iPrev = iGone && !(m_doc.Flags(iGone) & XmlProbe::ElemFirst) ? gone.iElemPrev : 0;
        const std::wstring expected = Without(gone.nStart, gone.StartAfter(), true);
        s.bResult = bChild ? m_doc.RemoveChildElem() : m_doc.RemoveElem();
        s.what = bChild ? "RemoveChildElem()" : "RemoveElem()";
        s.nExpected = iGone != 0;
        if (s.bResult && iGone) {
            const bool bOnPrev = (bChild ? m_doc.ChildPos() : m_doc.MainPos()) == iPrev;
            s.check =
                TextIs(expected) + (bOnPrev ? "" : "the cursor is not on the previous sibling");
        }
    }

    void RemoveNodes(Step& s) {
        const bool bElem = m_nType == 1 && m_iMain, bOnNode = m_nType > 1 || bElem;
        const int nStart = bElem ? m_doc.Elem(m_iMain).nStart : m_nNodeStart;
        const int nEnd = nStart + (bElem ? m_doc.Elem(m_iMain).nLength : m_doc.NodeLength());
        s.bResult = m_doc.RemoveNode();
        s.what = "RemoveNode()";
        s.nExpected = bOnNode ? 1 : m_iMain ? kEither : 0;
        s.bStale = m_nType == 32768;
        if (!s.bResult || !bOnNode) {
            return;
        }
        const int t = m_doc.NodeType(), p = m_doc.ParentPos();
        const bool bBefore = t > 1    ? m_doc.NodeStart() < nStart
                             : t == 1 ? m_doc.Elem(m_doc.MainPos()).StartAfter() <= nStart
                                      : nStart == (p ? m_doc.Elem(p).StartContent() : 0);
        s.check = TextIs(Without(nStart, nEnd, false)) +
                  (m_doc.ChildPos() ? "the child position is not 0" : "") +
                  (bBefore ? "" : "the cursor is not on the node before the removed one");
    }

    // The text once `text` is placed at the cursor as the rules for new text
    // have it (one level down with bChild), worked out before the edit.
    std::wstring Placed(bool bChild, bool bInsert, bool bNoLines, std::wstring text) {
        const int iParent = bChild ? m_iMain : m_iParent, iRel = bChild ? m_iChild : m_iMain;
        const int nNodeStart = bChild ? 0 : m_nNodeStart;
        const int nNodeLength = bChild ? 0 : m_doc.NodeLength();
        const XmlProbe::ElemPos p = m_doc.Elem(iParent);
        const bool bEmpty = iParent && p.IsEmptyElement();
        const bool bContentless = iParent && !bEmpty && p.ContentLen() == 0;
        if (!bNoLines) {
            text += L"\r\n";
        }
        if (bEmpty) {
            return Replaced(iParent, (bNoLines ? L"" : L"\r\n") + text);
        }
        size_t nOffset;
        if (nNodeLength) {
            nOffset = static_cast<size_t>(bInsert ? nNodeStart : nNodeStart + nNodeLength);
        } else if (iRel) {
            nOffset = static_cast<size_t>(bInsert ? m_doc.Elem(iRel).nStart
                                                  : m_doc.Elem(iRel).StartAfter());
        } else if (!iParent) {
            nOffset = bInsert ? 0 : m_before.size();
        } else {
            nOffset =
                static_cast<size_t>(bInsert ? p.StartContent() : p.StartAfter() - p.EndTagLen());
        }
        nOffset = bNoLines ? nOffset : SpaceToTag(nOffset);
        std::wstring doc = m_before;
        return doc.insert(nOffset, bContentless && !bNoLines ? L"\r\n" + text : text);
    }

    // The text once the content of element iPos is `content`: an element without
    // content is split, "/>" losing its "/", an unended one taking the content
    // and end tag in front of its ">".
    std::wstring Replaced(int iPos, const std::wstring& content) {
        std::wstring doc = m_before;
        const XmlProbe::ElemPos e = m_doc.Elem(iPos);
        const size_t nEnd = static_cast<size_t>(e.StartAfter());
        const std::wstring split = L">" + content + L"</" + std::wstring(m_doc.x_GetTagName(iPos));
        if (!e.IsEmptyElement()) {
            return doc.replace(static_cast<size_t>(e.StartContent()),
                               static_cast<size_t>(e.ContentLen()), content);
        }
        return e.nFlagsLevel & XmlProbe::ElemNonEnded ? doc.insert(nEnd - 1, split)
                                                      : doc.replace(nEnd - 2, 1, split);
    }

    std::string TextIs(const std::wstring& expected) const {
        const std::wstring got(m_doc.GetDoc());
        if (got == expected) {
            return std::string();
        }
        const size_t n = static_cast<size_t>(
            std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first -
            got.begin());
        const size_t nFrom = n < 20 ? 0 : n - 20;
        return "the text differs from offset " + std::to_string(n) + ": " +
               Quoted(got.substr(nFrom, 60)) + ", expected " + Quoted(expected.substr(nFrom, 60));
    }

    // The cursor is on a node of type nType (an element: the main or with
    // bChild the child position) whose markup is `expected`.
    std::string CursorSpans(int nType, const std::wstring& expected, bool bChild) {
        const int i = bChild ? m_doc.ChildPos() : m_doc.MainPos();
        if (m_doc.NodeType() != nType || (nType == 1 && !i)) {
            return "the cursor is not on a node of the type added";
        }
        const int s = nType == 1 ? m_doc.Elem(i).nStart : m_doc.NodeStart();
        const int l = nType == 1 ? m_doc.Elem(i).nLength : m_doc.NodeLength();
        const std::wstring got(m_doc.GetDoc().Mid(s, l));
        return got == expected
                   ? std::string()
                   : "the cursor spans " + Quoted(got) + ", expected " + Quoted(expected);
    }

    void Fail(const std::string& what) {
        if (m_failure.empty()) {
            m_failure = "step " + std::to_string(m_nStep) + ": " + what;
        }
    }

    // The checks made after every edit; VerifyCursor alone after a move.
    void Verify(bool bStale) {
        const ::testing::AssertionResult ok = Reparses(m_doc, bStale ? kIllData : 0, &m_fresh);
        return ok ? VerifyCursor() : Fail(m_log.back() + ": " + ok.message());
    }
    void VerifyCursor() {
        const std::string problem = CursorProblem();
        return problem.empty() ? void() : Fail(m_log.back() + ": " + problem);
    }

    std::string CursorProblem() {
        const int p = m_doc.ParentPos(), m = m_doc.MainPos(), c = m_doc.ChildPos();
        const int t = m_doc.NodeType(), s = m_doc.NodeStart(), e = s + m_doc.NodeLength();
        for (int i : {p, m, c}) {
            if (i < 0 || i >= m_doc.NextFree() ||
                (i && m_doc.Elem(i).nFlagsLevel == XmlProbe::ElemReleased)) {
                return "a cursor names a record not in the tree";
            }
        }
        if ((m && m_doc.Elem(m).iElemParent != p) ||
            (c && (!m || m_doc.Elem(c).iElemParent != m))) {
            return "the cursor's elements are not parent and children";
        }
        if (t <= 1) {
            return (t == 1 ? !m || s || e : m || c)
                       ? "node type " + std::to_string(t) + " does not fit the positions"
                       : std::string();
        }
        // On another node: inside the parent's content, after the main
        // element and before the element that follows it.
        const int nFrom = p ? m_doc.Elem(p).StartContent() : 0;
        const int nTo =
            p ? m_doc.Elem(p).StartAfter() - m_doc.Elem(p).EndTagLen() : m_doc.GetDoc().GetLength();
        const int iNext = m ? m_doc.Elem(m).iElemNext : m_doc.Elem(p).iElemChild;
        if (c || e <= s || s < nFrom || e > nTo || (m && m_doc.Elem(m).StartAfter() > s) ||
            (iNext && m_doc.Elem(iNext).nStart < e)) {
            return "the node cursor is not between its neighbouring elements";
        }
        // The node must be one a scan of the fresh parse finds at the same
        // level. Text may have merged with a neighbour (or been swallowed by an
        // error node running up to the next "<"): it need only lie inside one.
        const int pr = p ? m_fresh.At(m_doc.Elem(p).nStart) : 0;  // the indexes are equal
        m_fresh.x_SetPos(pr ? m_fresh.x_GetParent(pr) : 0, pr, 0);
        if (pr) {
            m_fresh.IntoElem();
        } else {
            m_fresh.ResetPos();
        }
        auto merges = [](int nType) { return nType == 2 || nType == 4 || nType == 32768; };
        for (int ft = m_fresh.FindNode(0); ft; ft = m_fresh.FindNode(0)) {
            const int fm = m_fresh.MainPos();
            const int fs = ft == 1 ? m_fresh.Elem(fm).nStart : m_fresh.NodeStart();
            const int fe = fs + (ft == 1 ? m_fresh.Elem(fm).nLength : m_fresh.NodeLength());
            if (merges(t) ? fs <= s && s < fe : fs == s) {
                return (merges(t) ? merges(ft) && e <= fe : ft == t && fe == e)
                           ? std::string()
                           : "the cursor's node differs in a fresh parse";
            }
        }
        return "a fresh parse has no node where the cursor stands";
    }

    Rng m_rng;
    bool m_bIgnoreCase = false;
    int m_nUnique = 0, m_nDocFlags = 0, m_nStep = 0, m_nEdits = 0;
    int m_iParent = 0, m_iMain = 0, m_iChild = 0, m_nType = 0, m_nNodeStart = 0;
    XmlProbe m_doc, m_fresh;
    std::map<std::wstring, std::pair<int, int>> m_saved;  // name: flags, record
    std::vector<std::string> m_log;
    std::wstring m_before;
    std::string m_failure;
};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define XML_EDIT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define XML_EDIT_SANITIZED 1
#endif
#endif
#ifdef XML_EDIT_SANITIZED
const int kSequences = 100;  // a sanitizer build runs some fifty times slower
#else
const int kSequences = 1000;
#endif

uint64_t EnvNumber(const char* szName, uint64_t nDefault) {
    const char* sz = std::getenv(szName);
    return sz && *sz ? std::strtoull(sz, nullptr, 0) : nDefault;
}

// XML_EDIT_SEED picks the first sequence's seed (sequence n uses seed + n);
// XML_EDIT_SEQUENCES and XML_EDIT_STEPS size the run; XML_EDIT_TRACE=1 prints
// each sequence's steps.
TEST(XmlEditOracle, RandomEditsKeepTheIndexOfAFreshParse) {
    const uint64_t seed = EnvNumber("XML_EDIT_SEED", 0x5EED0001);
    const int nSequences = static_cast<int>(EnvNumber("XML_EDIT_SEQUENCES", kSequences));
    const int nSteps = static_cast<int>(EnvNumber("XML_EDIT_STEPS", 300));
    int nEdits = 0;
    for (int n = 0; n < nSequences; ++n) {
        EditOracle oracle(seed + static_cast<uint64_t>(n));
        const bool bOk = oracle.Run(nSteps);
        nEdits += oracle.Edits();
        if (EnvNumber("XML_EDIT_TRACE", 0)) {
            std::printf("%s\n", oracle.Report().c_str());
        }
        ASSERT_TRUE(bOk) << "XML_EDIT_SEED=" << seed + static_cast<uint64_t>(n)
                         << " XML_EDIT_SEQUENCES=1 repeats it\n"
                         << oracle.Report();
    }
    RecordProperty("edits", nEdits);
    EXPECT_GT(nEdits, nSequences * nSteps / 3);
}

}  // namespace
