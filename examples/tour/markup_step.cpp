#include <cstdio>

#include "tour.h"
#include "vidozir/xmldoc.h"

namespace tour {

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
}

}  // namespace tour
