// The PE version-resource reader over the fixture modules, and over truncated
// and damaged copies of them (run under AddressSanitizer, a read outside the
// file or the block is a failure). On Windows its answers are compared with
// the system's own version functions.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/pe_resource.h"
#include "platform/win32.h"
#include "support/fixtures.h"

using namespace vidozir::pe;

namespace {

std::vector<unsigned char> ReadFixture(const std::string& name) {
    return vidozir_test::ReadFixture("version_fixtures", name);
}

const char* const kFixtures[] = {"basic.dll",  "basic32.dll", "multi.exe",    "multi32.exe",
                                 "commas.dll", "three.dll",   "unlisted.dll", "pieces.dll"};

const wchar_t* const kQueries[] = {
    L"\\",
    L"\\VarFileInfo\\Translation",
    L"\\StringFileInfo\\040904b0\\FileVersion",
    L"\\StringFileInfo\\040904B0\\CompanyName",
    L"\\StringFileInfo\\040704e4\\FileVersion",
    L"\\StringFileInfo\\040704e4\\ProductName",
    L"\\StringFileInfo\\041904e3\\FileVersion",
    L"\\StringFileInfo\\040904b0",
    L"\\StringFileInfo\\040904b0\\NoSuchKey",
    L"\\NoSuchBlock",
};

ReadAt MemoryReader(const std::vector<unsigned char>& file) {
    return [&file](uint64_t offset, void* buffer, size_t size) {
        if (offset > file.size() || size > file.size() - offset)
            return false;
        std::memcpy(buffer, file.data() + offset, size);
        return true;
    };
}

// The version block of an image in memory, in a buffer of exactly its size.
FindResult Block(const std::vector<unsigned char>& file, std::vector<unsigned char>& block,
                 uint64_t* where = nullptr) {
    uint64_t offset = 0;
    uint32_t length = 0;
    const FindResult result = FindVersionResource(MemoryReader(file), file.size(), offset, length);
    if (result == FindResult::Found) {
        EXPECT_LE(offset + length, file.size());
        block.assign(file.begin() + std::ptrdiff_t(offset),
                     file.begin() + std::ptrdiff_t(offset + length));
        if (where)
            *where = offset;
    }
    return result;
}

std::u16string Text(const void* value, unsigned length) {
    std::u16string text;
    const auto* bytes = static_cast<const unsigned char*>(value);
    for (unsigned i = 0; i < length; ++i) {
        const char16_t unit = char16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

bool QueryText(const std::vector<unsigned char>& block, const wchar_t* path, std::u16string& text) {
    const void* value = nullptr;
    unsigned length = 0;
    if (!QueryVersionValue(block.data(), block.size(), path, value, length))
        return false;
    text = Text(value, length);
    return true;
}

// Every query answers inside the block, whatever the block holds. The block
// lies in a buffer of twice its size whose second half is zeros, as the
// version functions hand it out, so a value read as 16-bit text (its length
// counting bytes when the value is binary) stays inside too.
void QueryEverything(const std::vector<unsigned char>& block) {
    std::vector<unsigned char> buffer(block.size() * 2, 0);
    std::copy(block.begin(), block.end(), buffer.begin());
    for (const wchar_t* path : kQueries) {
        const void* value = nullptr;
        unsigned length = 0;
        if (!QueryVersionValue(buffer.data(), block.size(), path, value, length))
            continue;
        const auto* start = static_cast<const unsigned char*>(value);
        ASSERT_GE(start, buffer.data());
        ASSERT_LE(start, buffer.data() + block.size());
        ASSERT_LE(size_t(start - buffer.data()) + size_t(length) * 2, buffer.size())
            << "query past the buffer";
        Text(value, length);  // touches every unit the answer claims
    }
}

TEST(PeResource, ReadsEveryFixture) {
    for (const char* name : kFixtures) {
        const std::vector<unsigned char> file = ReadFixture(name);
        ASSERT_FALSE(file.empty())
            << name << " missing from " << vidozir_test::FixtureDir("version_fixtures");
        std::vector<unsigned char> block;
        ASSERT_EQ(Block(file, block), FindResult::Found) << name;
        QueryEverything(block);

        // The root value is VS_FIXEDFILEINFO.
        const void* value = nullptr;
        unsigned length = 0;
        ASSERT_TRUE(QueryVersionValue(block.data(), block.size(), L"\\", value, length));
        ASSERT_EQ(length, 52u);
        uint32_t signature = 0;
        std::memcpy(&signature, value, 4);
        EXPECT_EQ(signature, 0xFEEF04BDu);
    }
}

TEST(PeResource, ValuesOfTheFixtures) {
    std::vector<unsigned char> block;
    ASSERT_EQ(Block(ReadFixture("basic.dll"), block), FindResult::Found);
    std::u16string text;
    ASSERT_TRUE(QueryText(block, L"\\StringFileInfo\\040904b0\\FileVersion", text));
    EXPECT_EQ(text, u"1.2.3.4");
    // Keys compare without regard to case, and repeated separators are skipped.
    ASSERT_TRUE(QueryText(block, L"\\\\stringfileinfo\\040904B0\\companyNAME", text));
    EXPECT_EQ(text, u"Corvane");
    EXPECT_FALSE(QueryText(block, L"\\StringFileInfo\\040904b0\\FileVersio", text));
    EXPECT_FALSE(QueryText(block, L"\\StringFileInfo\\040904b0\\FileVersionX", text));

    const void* value = nullptr;
    unsigned length = 0;
    ASSERT_TRUE(QueryVersionValue(block.data(), block.size(), L"\\VarFileInfo\\Translation", value,
                                  length));
    ASSERT_EQ(length, 4u);
    const auto* bytes = static_cast<const unsigned char*>(value);
    EXPECT_EQ(bytes[0] | (bytes[1] << 8), 0x0409);
    EXPECT_EQ(bytes[2] | (bytes[3] << 8), 1200);

    ASSERT_EQ(Block(ReadFixture("multi32.exe"), block), FindResult::Found);
    ASSERT_TRUE(QueryVersionValue(block.data(), block.size(), L"\\VarFileInfo\\Translation", value,
                                  length));
    EXPECT_EQ(length, 12u);
    EXPECT_FALSE(QueryText(block, L"\\StringFileInfo\\040704e4\\FileVersion", text));
    ASSERT_TRUE(QueryText(block, L"\\StringFileInfo\\040704e4\\ProductName", text));
    EXPECT_EQ(text, u"CirrelSync");
    ASSERT_TRUE(QueryText(block, L"\\StringFileInfo\\040c04e4\\FileVersion", text));
    EXPECT_EQ(text, u"9.9.9.9");

    ASSERT_EQ(Block(ReadFixture("commas.dll"), block), FindResult::Found);
    ASSERT_TRUE(QueryText(block, L"\\StringFileInfo\\040904b0\\FileVersion", text));
    EXPECT_EQ(text, u"1, 0, 0, 1");

    EXPECT_EQ(Block(ReadFixture("plain.dll"), block), FindResult::NoVersion);
    EXPECT_EQ(Block(std::vector<unsigned char>{'M', 'Z'}, block), FindResult::NotPe);
    EXPECT_EQ(Block(std::vector<unsigned char>(), block), FindResult::NotPe);
}

TEST(PeResource, TruncatedCopies) {
    for (const char* name : kFixtures) {
        const std::vector<unsigned char> file = ReadFixture(name);
        std::vector<unsigned char> block;
        uint64_t offset = 0;
        ASSERT_EQ(Block(file, block, &offset), FindResult::Found);
        const uint64_t blockEnd = offset + block.size();
        for (size_t size = 0; size < file.size(); ++size) {
            const std::vector<unsigned char> cut(file.begin(), file.begin() + std::ptrdiff_t(size));
            std::vector<unsigned char> found;
            const FindResult result = Block(cut, found);
            if (size < blockEnd)
                ASSERT_NE(result, FindResult::Found) << name << " cut at " << size;
            else if (result == FindResult::Found)
                QueryEverything(found);
        }
        // Blocks cut short themselves.
        for (size_t size = 0; size <= block.size(); ++size) {
            const std::vector<unsigned char> cut(block.begin(),
                                                 block.begin() + std::ptrdiff_t(size));
            QueryEverything(cut);
        }
    }
}

TEST(PeResource, CorruptedCopies) {
    std::mt19937 random(1234);
    for (const char* name : kFixtures) {
        const std::vector<unsigned char> file = ReadFixture(name);
        std::vector<unsigned char> block;
        uint64_t offset = 0;
        ASSERT_EQ(Block(file, block, &offset), FindResult::Found);
        for (int round = 0; round < 1500; ++round) {
            std::vector<unsigned char> damaged = file;
            const int changes = 1 + int(random() % 8);
            for (int i = 0; i < changes; ++i) {
                // Half the damage lands in the headers, half in the version block.
                const size_t at = round % 2 == 0 ? random() % 1024 % damaged.size()
                                                 : size_t(offset + random() % block.size());
                damaged[at] = random() % 3 == 0 ? 0xFF : static_cast<unsigned char>(random());
            }
            std::vector<unsigned char> found;
            if (Block(damaged, found) == FindResult::Found)
                QueryEverything(found);
        }
    }
}

#if defined(_WIN32)
// The system's version functions give the same texts as the reader.
TEST(PeResource, AgreesWithTheSystem) {
    for (const char* name : kFixtures) {
        const CLuStringW path = vidozir_test::FixturePath("version_fixtures", name);
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.GetString(), &handle);
        ASSERT_NE(size, 0u) << name;
        std::vector<unsigned char> system(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.GetString(), handle, size, system.data()));
        std::vector<unsigned char> ours;
        ASSERT_EQ(Block(ReadFixture(name), ours), FindResult::Found);
        for (const wchar_t* query : kQueries) {
            void* systemValue = nullptr;
            UINT systemLength = 0;
            const bool systemFound =
                VerQueryValueW(system.data(), query, &systemValue, &systemLength) != FALSE;
            const void* ourValue = nullptr;
            unsigned ourLength = 0;
            const bool ourFound =
                QueryVersionValue(ours.data(), ours.size(), query, ourValue, ourLength);
            EXPECT_EQ(ourFound, systemFound)
                << name << " " << testing::PrintToString(std::wstring(query));
            if (ourFound && systemFound &&
                std::wstring(query).find(L"StringFileInfo\\0") != std::wstring::npos)
                EXPECT_EQ(Text(ourValue, ourLength), Text(systemValue, systemLength));
        }
    }
}
#endif

}  // namespace
