#include <cstdio>

#include "tour.h"
#include "vidozir/xmldoc.h"

namespace tour {

namespace {

// Prints every element below the current parent, depth first, one line each:
// indentation by depth, tag name, the "name" attribute and the data.
void PrintTree(CXmlDoc& doc, int depth) {
    while (doc.FindElem()) {
        CLuStringW line;
        for (int k = 0; k < depth; ++k) {
            line += L"  ";
        }
        line += L"<" + doc.GetTagName() + L">";
        const CLuStringW name = doc.GetAttrib(L"name");
        if (!name.IsEmpty()) {
            line += L" name=" + name;
        }
        const CLuStringW data = doc.GetData();
        if (!data.IsEmpty()) {
            line += L" data=\"" + data + L"\"";
        }
        Print(line);
        doc.IntoElem();
        PrintTree(doc, depth + 1);
        doc.OutOfElem();
    }
}

// The document text without its carriage returns, for the terminal.
void PrintText(const CLuStringW& text) {
    CLuStringW lines;
    for (int i = 0; i < text.GetLength(); ++i) {
        if (text[i] != L'\r') {
            lines += text[i];
        }
    }
    Print(lines);
}

}  // namespace

void Markup(const std::vector<std::string>&) {
    Heading("XML documents");
    CXmlDoc doc(
        L"<?xml version=\"1.0\"?>\r\n<order id='7'><item>Caf&eacute; &amp; tea</item></order>");
    std::printf("well formed: %s, %d characters\n", doc.IsWellFormed() ? "yes" : "no",
                doc.GetDoc().GetLength());

    // The parser never stops: what was wrong is kept as records.
    CXmlDoc broken(L"<a><b></a></c>");
    std::printf("lenient parse, well formed: %s; result records:\n",
                broken.IsWellFormed() ? "yes" : "no");
    Print(broken.GetResult());

    Print(CXmlDoc::EscapeText(L"x < y && \"z\"", CXmlDoc::NodeEscapeQuotes));
    Print(CXmlDoc::UnescapeText(L"&copy; 2026 &mdash; &#x263A; &#128512; &lt;ok&gt;", -1, 0));

    // Walking: three cursors (parent, current element, child) move over the
    // element index; nothing is copied until a getter asks for it.
    CXmlDoc sync(
        L"<sync account='me@example.com'>\r\n"
        L"<folder name='Documents'>\r\n"
        L"<file name='plan.txt' size='1200'>draft &amp; notes</file>\r\n"
        L"<file name='old.tmp' size='0'/>\r\n"
        L"</folder>\r\n"
        L"<folder name='Photos'/>\r\n"
        L"</sync>\r\n");
    std::printf("\nwalking a folder listing:\n");
    PrintTree(sync, 0);
    sync.ResetPos();
    sync.FindElem(L"sync");
    Print((L"account: " + sync.GetAttrib(L"account")).GetString());

    // Editing splices the text and repairs the index in place.
    sync.IntoElem();
    sync.FindElem(L"folder");  // Documents
    sync.IntoElem();
    while (sync.FindElem(L"file")) {
        if (sync.GetAttrib(L"name") == L"old.tmp") {
            sync.RemoveElem();  // the next FindElem goes on behind it
        }
    }
    sync.AddElem(L"file", L"1 < 2");
    sync.SetAttrib(L"name", L"math \"notes\".txt");
    sync.SetAttrib(L"size", 5);
    sync.OutOfElem();
    sync.FindElem(L"folder");  // Photos, empty until now
    sync.AddChildElem(L"file");
    sync.SetChildAttrib(L"name", L"beach.jpg");
    std::printf("after removing old.tmp and adding two files:\n");
    PrintText(sync.GetDoc());

    // A document built from nothing, element by element.
    CXmlDoc built;
    built.AddElem(L"settings");
    built.SetAttrib(L"version", 2);
    built.AddChildElem(L"proxy", L"none");
    built.AddChildElem(L"bandwidth", 512);
    built.SetChildAttrib(L"unit", L"KB/s");
    std::printf("built from nothing:\n");
    PrintText(built.GetDoc());

    // What was wrong, as one line of English.
    CXmlDoc bad(L"<a><b></a>");
    std::printf("error of \"<a><b></a>\": ");
    Print(bad.GetError());
}

}  // namespace tour
