#include "vidozir/membuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "support/text.h"

namespace {

using VidOzir::CMemBuffer;
using vidozir_test::W;

CMemBuffer FromBytes(const std::vector<unsigned char>& bytes) {
    return CMemBuffer(bytes.data(), static_cast<int>(bytes.size()));
}

void PutInt(std::vector<unsigned char>& bytes, int32_t value) {
    unsigned char raw[4];
    std::memcpy(raw, &value, 4);
    bytes.insert(bytes.end(), raw, raw + 4);
}

TEST(MemBuffer, SizesAndGrowthSteps) {
    unsigned char data[5000] = {};
    for (auto [length, size] : {std::pair{-1, 64}, {0, 64}, {10, 64}, {64, 64}, {70, 72}})
        EXPECT_EQ(CMemBuffer(length < 0 ? nullptr : data, std::max(length, 0)).GetSize(), size);
    // Writes from a cursor: the padded piece decides whether the block grows,
    // to the larger of the step and the size needed.
    struct Case {
        int resize, seek;
        std::vector<int> writes;
        int size, cursor;
    } const cases[] = {
        {0, 0, {5}, 64, 8},
        {0, 0, {100}, 128, 100},          // the step beats the 100 needed
        {0, 0, {128, 128, 4}, 512, 260},  // 260 needed of 256: doubles
        {1024, 1020, {10}, 1536, 1032},
        {0, 0, {5000}, 5000, 5000},  // the needed size beats a smaller step
        {0, 60, {4}, 64, 64},        // fits exactly
        {0, 62, {1}, 128, 66},       // 1 byte takes 4: 66 of 64
    };
    for (const Case& c : cases) {
        CMemBuffer buffer;
        if (c.resize)
            buffer.Resize(c.resize);
        buffer.Seek(0, c.seek);
        for (int n : c.writes)
            buffer.SetBytes(data, n);
        EXPECT_EQ(std::pair(buffer.GetSize(), buffer.GetCursorPos()), std::pair(c.size, c.cursor))
            << c.seek << " " << c.writes[0];
    }
    // Resize always grows, by the step at least, keeping content and cursor.
    CMemBuffer buffer;
    buffer.SetBytes(data + 1, 6);
    for (auto [asked, size] : {std::pair{0, 128}, {10, 256}, {1000, 1000}, {0, 2000}, {1, 3000}}) {
        buffer.Resize(asked);
        EXPECT_EQ(buffer.GetSize(), size) << asked;
    }
    EXPECT_EQ(buffer.GetCursorPos(), 8);
    EXPECT_EQ(0, std::memcmp(buffer.GetRawData(), data + 1, 6));
}

// A record as another build wrote it: wide strings are UTF-16, 2 bytes per
// unit, on every platform; padding (0xEE here) may hold anything. It reads
// back whole from those bytes, from a copy and from an assigned buffer.
TEST(MemBuffer, RecordBytesAndRoundTrip) {
    std::vector<unsigned char> record = {1, 2, 3, 4, 5, 0xEE, 0xEE, 0xEE};
    PutInt(record, 3);
    record.insert(record.end(), {'a', 'b', 'c', 0xEE});
    PutInt(record, 4);
    record.insert(record.end(), {'h', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE});
    PutInt(record, 0);
    PutInt(record, 1);
    record.insert(record.end(), {'z', 0, 0xEE, 0xEE});

    const unsigned char raw[] = {1, 2, 3, 4, 5};
    const CLuStringW wide(L"h\x00E9\xD83D\xDE00"), withZero(L"a\0b", 3);
    const std::string longText(3000, 'q');
    CMemBuffer written;
    written.SetBytes(raw, 5);
    written.SetBytes(std::string("abc"));
    written.SetBytes(wide);
    written.SetBytes(std::string());
    written.SetBytes(CLuStringW(L"z"));
    ASSERT_EQ(written.GetCursorPos(), 40);
    for (size_t i = 0; i < record.size(); ++i) {
        if (record[i] != 0xEE)
            EXPECT_EQ(written.GetRawData()[i], record[i]) << "byte " << i;
    }
    written.SetBytes(withZero);  // a zero unit inside the piece
    written.SetBytes(longText);
    written.SetBytes(CLuStringW());
    written.SetBytes(raw, 1);
    const int end = written.GetCursorPos();
    record.insert(record.end(), written.GetRawData() + 40, written.GetRawData() + end);

    written.Seek(0, 12);
    CMemBuffer fromBytes = FromBytes(record), copy(written), assigned;
    assigned.SetBytes(std::string("old"));
    assigned = written;
    assigned = static_cast<CMemBuffer&>(assigned);  // keeps its bytes
    EXPECT_NE(assigned.GetRawData(), written.GetRawData());
    for (CMemBuffer* reader : {&fromBytes, &copy, &assigned}) {
        EXPECT_EQ(reader->GetCursorPos(), 0);
        EXPECT_EQ(reader->GetSize(), reader == &fromBytes ? end : written.GetSize());
        unsigned char rawBack[5] = {}, last = 0;
        std::string narrow = "stale", empty = "stale", longBack;
        CLuStringW wideBack(L"stale"), zBack, zeroBack, emptyWide(L"stale");
        reader->GetBytes(rawBack, 5);
        reader->GetBytes(narrow);
        reader->GetBytes(wideBack);
        reader->GetBytes(empty);
        reader->GetBytes(zBack);
        reader->GetBytes(zeroBack);
        reader->GetBytes(longBack);
        reader->GetBytes(emptyWide);
        reader->GetBytes(&last, 1);
        // Whole strings, lengths included (the embedded zero unit).
        EXPECT_EQ(
            std::make_tuple(std::string(rawBack, rawBack + 5), narrow, W(wideBack), empty, W(zBack),
                            W(zeroBack), longBack, W(emptyWide), int(last), reader->GetCursorPos()),
            std::make_tuple(std::string(raw, raw + 5), "abc", W(wide), "", L"z", W(withZero),
                            longText, L"", 1, end));
    }
}

// Reads that would pass the end of the block do nothing; a damaged length
// (negative, or a body past the end; for a wide piece, 2 bytes a unit) reads
// as empty, the cursor just after the length.
TEST(MemBuffer, ShortAndDamagedReadsStayInTheBlock) {
    CMemBuffer buffer = FromBytes(std::vector<unsigned char>(64, 0));
    unsigned char dst[8] = {0xAA};
    std::string text = "kept?";
    CLuStringW wide(L"kept?");
    buffer.Seek(0, 60);
    buffer.GetBytes(dst, 5);  // 60 + 5 > 64: nothing
    buffer.GetBytes(nullptr, 4);
    buffer.GetBytes(dst, 0);
    EXPECT_EQ(buffer.GetCursorPos(), 60);
    EXPECT_EQ(dst[0], 0xAA);
    buffer.GetBytes(dst, 4);  // exactly to the end
    EXPECT_EQ(buffer.GetCursorPos(), 64);
    buffer.Seek(0, 60);
    buffer.GetBytes(text);  // an empty piece in the last 4 bytes
    EXPECT_EQ(buffer.GetCursorPos(), 64);
    buffer.GetBytes(text);  // no room for the length
    buffer.GetBytes(wide);
    EXPECT_TRUE(text.empty() && wide.IsEmpty());
    EXPECT_EQ(buffer.GetCursorPos(), 64);

    // The bound test uses the count, not the padded length: the last run of
    // a block whose size is not a multiple of 4 is still read.
    CMemBuffer odd;
    odd.Resize(130);
    EXPECT_EQ(CMemBuffer(odd).GetSize(), 130);  // a copy keeps the odd size
    odd.Seek(0, 128);
    odd.GetBytes(dst, 2);
    odd.GetBytes(dst, 1);
    EXPECT_EQ(odd.GetCursorPos(), 132);
    odd.SetBytes(std::string("after"));  // a write from past the end
    EXPECT_EQ(odd.GetCursorPos(), 144);
    odd.Seek(0, 132);
    odd.GetBytes(text);
    EXPECT_EQ(text, "after");

    const std::pair<int32_t, int> lengths[] = {
        {1000, 0}, {40, 40},     {60, 60},     {-1, 0},
        {-4, 0},   {INT_MIN, 0}, {INT_MAX, 0}, {INT_MAX / 2 + 1, 0}};
    for (const auto& [length, narrowRead] : lengths) {
        std::vector<unsigned char> record;
        PutInt(record, length);
        record.insert(record.end(), 60, 'y');
        CMemBuffer damaged = FromBytes(record);
        damaged.GetBytes(text);
        EXPECT_EQ(text, std::string(size_t(narrowRead), 'y'));
        EXPECT_EQ(damaged.GetCursorPos(), 4 + narrowRead) << length;
        damaged.SeekToBegin();
        damaged.GetBytes(wide);
        EXPECT_TRUE(wide.IsEmpty());
        EXPECT_EQ(damaged.GetCursorPos(), 4) << length;
    }
}

// Steps in order on one buffer of 64 bytes: origin 0 counts from the start,
// origin 1 back from the cursor, others do nothing; never outside the block.
TEST(MemBuffer, Seeking) {
    CMemBuffer buffer;
    const int steps[][3] = {{0, 40, 40},    {0, 10, 10}, {0, 65, 64}, {0, 1000, 64},
                            {0, -5, 0},     {0, 30, 30}, {1, 10, 20}, {1, 100, 0},
                            {1, -1000, 64}, {0, 7, 7},   {2, 5, 7},   {-1, 5, 7}};
    for (const auto& step : steps) {
        buffer.Seek(step[0], step[1]);
        EXPECT_EQ(buffer.GetCursorPos(), step[2]) << step[0] << " " << step[1];
    }
    buffer.SeekToEnd();
    EXPECT_EQ(buffer.GetCursorPos(), 64);
    buffer.SeekToBegin();
    EXPECT_EQ(buffer.GetCursorPos(), 0);
}

// A count beyond the int range is exhaustion, found before any copy: the
// buffer keeps its block, cursor and content.
TEST(MemBuffer, ASizeBeyondTheIntRangeIsExhaustion) {
    CMemBuffer buffer;
    buffer.SetBytes(std::string("kept"));
    const unsigned char byte = 1;
    EXPECT_THROW(buffer.SetBytes(&byte, INT_MAX - 2), std::bad_alloc);
    EXPECT_EQ(std::pair(buffer.GetSize(), buffer.GetCursorPos()), std::pair(64, 8));
    buffer.SeekToBegin();
    std::string text;
    buffer.GetBytes(text);
    EXPECT_EQ(text, "kept");
}

}  // namespace
