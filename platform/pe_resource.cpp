#include "platform/pe_resource.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace vidozir::pe {

namespace {

constexpr uint32_t kResourceVersion = 16;  // RT_VERSION
constexpr uint32_t kVersionInfoName = 1;   // VS_VERSION_INFO
constexpr uint32_t kLangNeutral = 0x0000;
constexpr uint32_t kLangEnglishUs = 0x0409;
// The root of a version block has a 16-bit length, so no block is larger.
constexpr uint32_t kMaxBlock = 0xFFFF;

uint16_t Word(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t DWord(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
};

class Image {
public:
    Image(const ReadAt& read, uint64_t fileSize) : m_read(read), m_fileSize(fileSize) {}

    bool Read(uint64_t offset, void* buffer, size_t size) const {
        if (offset > m_fileSize || size > m_fileSize - offset)
            return false;
        return m_read(offset, buffer, size);
    }

    // Headers and the section table; false when this is not a PE image.
    bool Open(uint32_t& resourceRva) {
        Headers headers;
        if (!ReadHeaders(m_read, m_fileSize, headers))
            return false;
        resourceRva = 0;
        unsigned char directory[8];
        if (headers.directoryCount > 2 && Read(headers.directories + 2 * 8, directory, 8))
            resourceRva = DWord(directory);
        const uint64_t sectionOffset = headers.optional + headers.optionalSize;
        for (uint32_t i = 0; i < headers.sectionCount; ++i) {
            unsigned char entry[40];
            if (!Read(sectionOffset + uint64_t(i) * 40, entry, sizeof entry))
                return false;
            m_sections.push_back(
                {DWord(entry + 12), DWord(entry + 8), DWord(entry + 16), DWord(entry + 20)});
        }
        return true;
    }

    // The file offset of `size` bytes at `rva`, all inside one section's data.
    bool Map(uint64_t rva, uint64_t size, uint64_t& offset) const {
        for (const Section& section : m_sections) {
            if (rva < section.virtualAddress)
                continue;
            const uint64_t within = rva - section.virtualAddress;
            if (within >= section.rawSize || size > section.rawSize - within)
                continue;
            offset = section.rawOffset + within;
            return offset <= m_fileSize && size <= m_fileSize - offset;
        }
        return false;
    }

private:
    const ReadAt& m_read;
    uint64_t m_fileSize;
    std::vector<Section> m_sections;
};

// One level of the resource tree: the entry with `id` (or, with `fallbacks`,
// the first of them present, else the first entry). Offsets are relative to
// the resource directory.
bool FindEntry(const Image& image, uint32_t rootRva, uint32_t directory,
               std::initializer_list<uint32_t> ids, bool orFirst, uint32_t& target) {
    uint64_t offset = 0;
    unsigned char header[16];
    if (!image.Map(uint64_t(rootRva) + directory, sizeof header, offset) ||
        !image.Read(offset, header, sizeof header))
        return false;
    const uint32_t named = Word(header + 12);
    const uint32_t total = named + Word(header + 14);
    uint64_t entriesOffset = 0;
    if (total == 0 ||
        !image.Map(uint64_t(rootRva) + directory + 16, uint64_t(total) * 8, entriesOffset))
        return false;
    std::vector<unsigned char> entries(size_t(total) * 8);
    if (!image.Read(entriesOffset, entries.data(), entries.size()))
        return false;
    for (uint32_t id : ids) {
        for (uint32_t i = named; i < total; ++i) {  // entries named by text come first
            if (DWord(&entries[i * 8]) == id) {
                target = DWord(&entries[i * 8 + 4]);
                return true;
            }
        }
    }
    if (!orFirst)
        return false;
    target = DWord(&entries[4]);
    return true;
}

bool IsDirectory(uint32_t target) {
    return (target & 0x80000000u) != 0;
}

}  // namespace

bool ReadHeaders(const ReadAt& read, uint64_t fileSize, Headers& out) {
    const auto inFile = [&](uint64_t offset, void* buffer, size_t size) {
        return offset <= fileSize && size <= fileSize - offset && read(offset, buffer, size);
    };
    unsigned char dos[64];
    if (!inFile(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return false;
    const uint32_t peOffset = DWord(dos + 0x3C);
    unsigned char header[24];
    if (!inFile(peOffset, header, sizeof header) || DWord(header) != 0x00004550)  // "PE\0\0"
        return false;
    out = Headers();
    out.sectionCount = Word(header + 6);
    out.optionalSize = Word(header + 20);
    out.optional = uint64_t(peOffset) + sizeof header;
    unsigned char magic[2];
    if (!inFile(out.optional, magic, sizeof magic))
        return false;
    uint32_t countOffset = 0;  // NumberOfRvaAndSizes, the data directories follow
    if (Word(magic) == 0x10B)
        countOffset = 92;
    else if (Word(magic) == 0x20B)
        countOffset = 108;
    else
        return false;
    out.directories = out.optional + countOffset + 4;
    unsigned char count[4];
    if (out.optionalSize >= countOffset + 4 && inFile(out.optional + countOffset, count, 4)) {
        const uint32_t room = (out.optionalSize - countOffset - 4) / 8;
        out.directoryCount = DWord(count) < room ? DWord(count) : room;
    }
    return true;
}

FindResult FindVersionResource(const ReadAt& read, uint64_t fileSize, uint64_t& offset,
                               uint32_t& length) {
    Image image(read, fileSize);
    uint32_t rootRva = 0;
    if (!image.Open(rootRva))
        return FindResult::NotPe;
    uint32_t type = 0, name = 0, language = 0;
    if (rootRva == 0 || !FindEntry(image, rootRva, 0, {kResourceVersion}, false, type) ||
        !IsDirectory(type) ||
        !FindEntry(image, rootRva, type & 0x7FFFFFFFu, {kVersionInfoName}, false, name) ||
        !IsDirectory(name) ||
        !FindEntry(image, rootRva, name & 0x7FFFFFFFu, {kLangNeutral, kLangEnglishUs}, true,
                   language) ||
        IsDirectory(language))
        return FindResult::NoVersion;
    uint64_t entryOffset = 0;
    unsigned char entry[16];  // IMAGE_RESOURCE_DATA_ENTRY: rva, size, code page, reserved
    if (!image.Map(uint64_t(rootRva) + language, sizeof entry, entryOffset) ||
        !image.Read(entryOffset, entry, sizeof entry))
        return FindResult::NoVersion;
    const uint32_t size = DWord(entry + 4) > kMaxBlock ? kMaxBlock : DWord(entry + 4);
    if (size < 6 || !image.Map(DWord(entry), size, offset))
        return FindResult::NoVersion;
    length = size;
    return FindResult::Found;
}

namespace {

// One node of a version block: WORD length, WORD value length, WORD type, the
// key (UTF-16, null-terminated), padding to 4 bytes, the value, padding, the
// children. Positions are relative to the block, whose start is aligned.
struct Node {
    size_t end = 0;       // the node's end, clamped to its parent
    size_t key = 0;       // first unit of the key
    size_t keyUnits = 0;  // without the terminator
    size_t value = 0;
    size_t valueBytes = 0;
    bool text = false;
    size_t children = 0;
};

size_t Align4(size_t position) {
    return (position + 3) & ~size_t(3);
}

bool ReadNode(const unsigned char* block, size_t start, size_t limit, Node& node) {
    if (start > limit || limit - start < 6)
        return false;
    const size_t length = Word(block + start);
    if (length < 6)
        return false;
    node.end = length > limit - start ? limit : start + length;
    const size_t valueLength = Word(block + start + 2);
    node.text = Word(block + start + 4) == 1;
    node.key = start + 6;
    size_t position = node.key;
    while (true) {
        if (node.end - position < 2)
            return false;  // key without terminator
        if (Word(block + position) == 0)
            break;
        position += 2;
    }
    node.keyUnits = (position - node.key) / 2;
    node.value = Align4(position + 2);
    if (node.value > node.end)
        node.value = node.end;
    node.valueBytes = node.text ? valueLength * 2 : valueLength;
    if (node.valueBytes > node.end - node.value)
        node.valueBytes = node.end - node.value;
    node.children = Align4(node.value + node.valueBytes);
    return true;
}

unsigned FoldAscii(unsigned unit) {
    return unit >= 'A' && unit <= 'Z' ? unit + 32 : unit;
}

bool KeyEquals(const unsigned char* block, const Node& node, const std::u16string& key) {
    if (node.keyUnits != key.size())
        return false;
    for (size_t i = 0; i < key.size(); ++i) {
        if (FoldAscii(Word(block + node.key + 2 * i)) != FoldAscii(key[i]))
            return false;
    }
    return true;
}

}  // namespace

bool QueryVersionValue(const unsigned char* block, size_t size, const wchar_t* path,
                       const void*& value, unsigned& length) {
    if (!block || !path)
        return false;
    Node node;
    if (!ReadNode(block, 0, size, node))
        return false;
    for (const wchar_t* part = path; *part;) {
        if (*part == L'\\') {
            ++part;
            continue;
        }
        std::u16string key;
        for (; *part && *part != L'\\'; ++part)
            key += char16_t(*part & 0xFFFF);
        Node child;
        bool found = false;
        for (size_t position = node.children; position < node.end;) {
            if (!ReadNode(block, position, node.end, child))
                break;
            if (KeyEquals(block, child, key)) {
                found = true;
                break;
            }
            position = Align4(child.end);
        }
        if (!found)
            return false;
        node = child;
    }
    value = block + node.value;
    length = unsigned(node.text ? node.valueBytes / 2 : node.valueBytes);
    return true;
}

}  // namespace vidozir::pe
