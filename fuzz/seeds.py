#!/usr/bin/env python3
"""Writes the hand-made seed corpora and dictionaries of the fuzz targets.

    python3 fuzz/seeds.py        (from the repository root)

Each target's input layout is described in its source; the seeds here are
small inputs that reach the deeper paths of each layout (well-formed and
broken documents, edit programs, records with every piece type, PE images
with a version resource), so a short run starts from useful coverage. The
files are checked in; run this again only when a layout changes. Crash
reproducers found later go into fuzz/corpus/<target>/ by hand, beside these.
"""
import os
import random
import struct

ROOT = os.path.dirname(os.path.abspath(__file__))


def u16(text):
    return text.encode("utf-16-le", "surrogatepass")


def write_corpus(target, seeds):
    folder = os.path.join(ROOT, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if name.startswith("seed-"):
            os.remove(os.path.join(folder, name))
    for name, data in seeds.items():
        with open(os.path.join(folder, "seed-" + name), "wb") as f:
            f.write(data)


def write_dict(target, tokens):
    def escape(token):
        return "".join(chr(b) if 32 <= b < 127 and b not in b'"\\' else "\\x%02x" % b
                       for b in token)
    with open(os.path.join(ROOT, target + ".dict"), "w") as f:
        f.write("# libFuzzer dictionary of fuzz_%s; written by fuzz/seeds.py\n" % target)
        for token in tokens:
            f.write('"%s"\n' % escape(token))


# XML documents, well formed and not, as the parser sees them (UTF-16 units).
XML_DOCS = {
    "declaration": '<?xml version="1.0" encoding="UTF-16"?>\r\n<root a="1" b=\'2\'>\r\n'
                   '  <item id="x">text &amp; more &#65;&#x42;</item>\r\n  <empty/>\r\n</root>\r\n',
    "doctype": '<!DOCTYPE r [\n<!ELEMENT r (#PCDATA)>\n<!ATTLIST r a CDATA "x>y">\n'
               '<!ENTITY e "v">\n<!NOTATION n SYSTEM "n">\n]>\n<r a="1">&e;</r>',
    "cdata-comment-pi": '<!-- head --><r><![CDATA[a<b>&]]]]><![CDATA[>]]><?pi d="1"?>'
                        '<!-- in -- side --></r><?tail?>',
    "unended": "<a><b></a>",
    "unended-children": "<a><b><c/><d>t</a><e/>",
    "lone-end": "<a></b></a></a>",
    "siblings": "<a/><b/>text",
    "text-only": "text only",
    "bad-bang": "<a><!x><!-x><![x]><1/><a b='>'/></a>",
    "unterminated": "<a><![CDATA[x",
    "unterminated-doctype": "<!DOCTYPE a [<!ENTITY",
    "unquoted": "<a href=x/><b c=d e='f' g=\"h\"/><i j == 'k'/>",
    "case": "<Abc>x</aBC>",
    "wide-names": "<\u00e9l \u00fc=\"\u65e5\">\u65e5\u672c\ud83d\ude00</\u00c9L>",
    "space": "<r>  a   b \t\n c  <s> </s>\r\n\r\n<t>\t</t></r>",
    "escapes": "<r a=\"&lt;&gt;&quot;&apos;&amp;&#x1F600;&#9999999;&#;&bogus;&amp\">"
               "&#0;&#xD800;&lt</r>",
    "deep": "<a>" * 12 + "x" + "</a>" * 12,
    "paths": "<r><a id='1'><b/><b n='2'/></a><a id='2'><c>t</c></a></r>",
}

XML_TOKENS = ["<", ">", "</", "/>", "<?", "?>", "<!--", "-->", "<![CDATA[", "]]>",
              "<!DOCTYPE", "<!ELEMENT", "<!ATTLIST", "<!ENTITY", "[", "]", "=\"", "='",
              "\"", "'", "&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#", "&#x", ";",
              "xml", "version", "encoding", " ", "\r\n", "\t", "\ud83d\ude00", "\u00e9"]


def edit_seeds():
    """Documents followed by a 0 unit and programs of (operation, argument) pairs."""
    docs = ["<r><a x='1'>t</a><b/><!-- c --><c><d/></c></r>",
            "<r/>",
            "",
            "<a><b></a><c>",
            "<r>text<![CDATA[x]]><?p?></r>"]
    rng = random.Random(22)
    seeds = {}
    for n, doc in enumerate(docs):
        program = bytearray()
        for op in rng.sample(range(32), 32):  # every operation once, in some order
            program += bytes([op, rng.randrange(256)])
        seeds["program-%d" % n] = u16(doc) + b"\0\0" + bytes(program)
    # Navigation then edits under an element, and edits on an empty document.
    seeds["into-and-edit"] = u16(docs[0]) + b"\0\0" + bytes(
        [0, 0, 2, 0, 0, 0, 6, 5, 8, 6, 18, 7, 16, 1, 24, 0, 21, 0, 25, 0, 3, 0, 30, 0])
    seeds["empty-doc"] = b"\0\0" + bytes([6, 0, 8, 5, 12, 5, 14, 6, 20, 9, 23, 0, 28, 0])
    seeds["malformed-texts"] = u16(docs[0]) + b"\0\0" + bytes(
        [0, 0, 12, 13, 13, 14, 14, 15, 15, 16, 20, 17, 18, 12, 11, 13])
    return seeds


def membuffer_seeds():
    """A program (step count, then pairs) followed by a record of pieces."""
    def narrow(s):
        return struct.pack("<i", len(s)) + s + b"\0" * (-len(s) % 4)

    def wide(s):
        body = u16(s)
        return struct.pack("<i", len(body) // 2) + body + b"\0" * (-len(body) % 4)

    def seed(steps, record):
        program = bytes(b for step in steps for b in step)
        return bytes([len(steps)]) + program + record

    record = narrow(b"abc") + wide("h\u00e9\ud83d\ude00") + b"RAW!" + narrow(b"") + wide("")
    return {
        "pieces": seed([(1, 0), (2, 0), (0, 4), (1, 0), (2, 0)], record),
        "seek-back": seed([(1, 0), (131, 2), (1, 0), (4, 0), (2, 0)], record),
        "seek-forward": seed([(3, 3), (1, 0), (3, 0x7f), (2, 0)], record),
        "negative-length": seed([(1, 0), (2, 0)], struct.pack("<i", -8) + b"xxxxxxxx"),
        "huge-length": seed([(2, 0), (1, 0)], struct.pack("<i", 0x7FFFFFFF) + b"abcd"),
        "short-body": seed([(1, 0), (1, 0)], struct.pack("<i", 9) + b"abc"),
        "resize-odd": seed([(5, 69), (0, 3), (0, 3), (0x40, 10), (1, 0)], record),
        "raw-past-end": seed([(0, 200), (0xC0, 1), (1, 0)], b"0123456789"),
    }


def version_seeds():
    """Parse reads UTF-16 units, hex2bin the raw bytes; the first byte % 64 is
    the byte count StringToByte is asked for."""
    texts = ["1.2.3.4", "10.0.19041.1", " 1.2.3.4beta", "-1.2.3.4", "1.2.3", "1.2.3.4.5",
             "1..3.4", "1.2.3.4.", "1.2.3.99999999999", "a.2.3.4"]
    seeds = {"parse-%d" % n: u16(t) for n, t in enumerate(texts)}
    seeds["hex-bytes"] = u16("0" + "123456789abcdefABCDEF0" * 5)[:2 * 96]  # '0': 48 bytes
    seeds["hex-blanks"] = u16("B 0a1B ")  # 'B' % 64 = 2
    seeds["hex-narrow"] = b"414243NULL4g"
    return seeds


VERSION_TOKENS = [u16("."), u16("0"), u16("9"), u16(" "), u16("-"), b"NULL", b"0x", b"ff"]


def version_block(strings, translations, table="040904b0", fixed=(1, 2, 3, 4)):
    """A VS_VERSIONINFO block: the fixed record, string table and translations."""
    def node(key, value=b"", text=False, children=(), value_units=None):
        body = u16(key) + b"\0\0"
        body += b"\0" * (-(6 + len(body)) % 4)
        body += value
        if children:
            body += b"\0" * (-(6 + len(body)) % 4)
            for child in children:
                body += child + b"\0" * (-len(child) % 4)
        length = value_units if value_units is not None else len(value)
        return struct.pack("<HHH", 6 + len(body), length, 1 if text else 0) + body

    a, b, c, d = fixed
    fixed_info = struct.pack("<13I", 0xFEEF04BD, 0x10000, (a << 16) | b, (c << 16) | d,
                             (a << 16) | b, (c << 16) | d, 0x3F, 0, 4, 2, 0, 0, 0)
    string_nodes = [node(k, u16(v) + b"\0\0", True, value_units=len(v) + 1)
                    for k, v in strings]
    children = [node("StringFileInfo", text=True, children=[
        node(table, text=True, children=string_nodes)])]
    if translations:
        var = b"".join(struct.pack("<HH", lang, cp) for lang, cp in translations)
        children.append(node("VarFileInfo", text=True,
                             children=[node("Translation", var)]))
    return node("VS_VERSION_INFO", fixed_info, children=children)


def pe_image(block, plus=False, languages=(0x409,), rva=0x1000, raw=0x200):
    """A PE image whose one section holds a resource tree: version (16), name 1,
    one entry per language, each pointing at the same block."""
    directory = lambda entries: struct.pack("<IIHHHH", 0, 0, 4, 0, 0, len(entries)) + b"".join(
        struct.pack("<II", ident, target) for ident, target in entries)
    n = len(languages)
    type_dir, name_dir, lang_dir = 0, 24, 48  # each directory with one entry is 24 bytes
    data_entries = lang_dir + 16 + 8 * n
    block_offset = data_entries + 16 * n
    tree = directory([(16, 0x80000000 | name_dir)])
    tree += directory([(1, 0x80000000 | lang_dir)])
    tree += directory([(lang, data_entries + 16 * i) for i, lang in enumerate(languages)])
    for _ in languages:
        tree += struct.pack("<IIII", rva + block_offset, len(block), 1200, 0)
    tree += block
    tree += b"\0" * (-len(tree) % 512)

    optional_size = 240 if plus else 224
    count_at = 108 if plus else 92
    optional = bytearray(optional_size)
    struct.pack_into("<H", optional, 0, 0x20B if plus else 0x10B)
    struct.pack_into("<I", optional, count_at, 16)
    struct.pack_into("<II", optional, count_at + 4 + 2 * 8, rva, len(tree))
    coff = struct.pack("<HHIIIHH", 0x8664 if plus else 0x14C, 1, 0, 0, 0, optional_size, 0x2102)
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", len(tree), rva, len(tree), raw, 0, 0, 0, 0,
                          0x40000040)
    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 64)
    headers = bytes(dos) + b"PE\0\0" + coff + bytes(optional) + section
    return headers + b"\0" * (raw - len(headers)) + tree


def pe_seeds():
    strings = [("CompanyName", "Corvane"), ("FileVersion", "1.2.3.4")]
    basic = version_block(strings, [(0x409, 1200)])
    german = version_block([("FileVersion", "5.6"), ("ProductName", "x")], [(0x407, 1252)],
                           table="040704e4", fixed=(5, 6, 7, 8))
    image = pe_image(basic)
    return {
        "pe32": image,
        "pe32plus": pe_image(basic, plus=True),
        "neutral-and-german": pe_image(german, languages=(0x407, 0)),
        "two-languages": pe_image(basic, languages=(0x419, 0x409)),
        "no-translation": pe_image(version_block(strings, [])),
        "truncated": image[:0x200 + 200],  # inside the version block
        "not-pe": b"MZ but not a module at all",
    }


PE_TOKENS = [b"MZ", b"PE\0\0", b"\x0b\x01", b"\x0b\x02", b".rsrc\0\0\0",
             b"\x10\0\0\0", b"\x01\0\0\0", b"\x09\x04\0\0", b"\0\0\0\x80",
             b"\xbd\x04\xef\xfe", b"\xb0\x04", b"\xe4\x04"] + [
    u16(k) + b"\0\0" for k in ("VS_VERSION_INFO", "StringFileInfo", "VarFileInfo",
                               "Translation", "FileVersion", "CompanyName", "040904b0",
                               "040904B0")]


# Tokens of targets whose corpora are real files made elsewhere: files as
# loaded (byte order marks, declarations, UTF-8 sequences) and signed images
# (PE fields, the DER of the PKCS #7 and Authenticode identifiers).
XML_FILE_TOKENS = [b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff", b"<?xml", b"version=\"1.0\"",
                   b"encoding=\"", b"UTF-8", b"UTF-16", b"windows-1252", b"ISO-8859-1",
                   b"shift_jis", b"<html>", b"<meta", b"http-equiv=\"Content-Type\"",
                   b"content=\"text/html; charset=", b"<!--", b"-->", b"<![CDATA[", b"]]>",
                   b"</", b"/>", b"&amp;", b"&#x", b"\xc3\xa9", b"\xf0\x9f\x98\x80",
                   b"\xc0\x80", b"\xed\xa0\x80", b"\0"]

SIGNATURE_TOKENS = [b"MZ", b"PE\0\0", b"\x0b\x01", b"\x0b\x02", b"\x00\x02\x02\x00",
                    b"\x7fELF", b"~Module signature appended~\n", b"\x30\x82", b"\xa0\x82",
                    b"\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02",  # signedData
                    b"\x06\x0a\x2b\x06\x01\x04\x01\x82\x37\x02\x01\x04",  # indirect data
                    b"\x06\x0a\x2b\x06\x01\x04\x01\x82\x37\x02\x01\x0c",  # opus info
                    b"\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01",  # SHA-256
                    b"\x06\x05\x2b\x0e\x03\x02\x1a",  # SHA-1
                    b"\x06\x03\x55\x04\x03"]  # common name


def main():
    xml = {name: u16(doc) for name, doc in XML_DOCS.items()}
    write_corpus("xml_parse", xml)
    write_corpus("xml_edit", edit_seeds())
    write_corpus("membuffer_read", membuffer_seeds())
    write_corpus("version_parse", version_seeds())
    write_corpus("pe_version", pe_seeds())
    xml_tokens = [u16(t) for t in XML_TOKENS]
    write_dict("xml_parse", xml_tokens)
    write_dict("xml_edit", xml_tokens + [b"\0\0"])
    write_dict("version_parse", VERSION_TOKENS)
    write_dict("pe_version", PE_TOKENS)
    write_dict("xml_load", XML_FILE_TOKENS)
    write_dict("pe_signature", SIGNATURE_TOKENS)


if __name__ == "__main__":
    main()
