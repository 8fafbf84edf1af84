#include "vidozir/membuffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

using VidOzir::CMemBuffer;

std::vector<unsigned char> Bytes(const CMemBuffer& buffer, int from, int count) {
    return std::vector<unsigned char>(buffer.GetRawData() + from,
                                      buffer.GetRawData() + from + count);
}

CMemBuffer FromBytes(const std::vector<unsigned char>& bytes) {
    return CMemBuffer(bytes.data(), static_cast<int>(bytes.size()));
}

void PutInt(std::vector<unsigned char>& bytes, int32_t value) {
    unsigned char raw[4];
    std::memcpy(raw, &value, 4);
    bytes.insert(bytes.end(), raw, raw + 4);
}

TEST(MemBuffer, SizesAndGrowthSteps) {
    EXPECT_EQ(CMemBuffer::ms_allocUnit, 64);
    unsigned char data[5000] = {};
    EXPECT_EQ(CMemBuffer().GetSize(), 64);
    EXPECT_EQ(CMemBuffer(data, 10).GetSize(), 64);
    EXPECT_EQ(CMemBuffer(data, 70).GetSize(), 72);
    EXPECT_EQ(CMemBuffer(data, 70).GetCursorPos(), 0);
    EXPECT_EQ(CMemBuffer(nullptr, 0).GetSize(), 64);
    // Writes from a cursor: the padded piece decides whether the block grows,
    // to the larger of the step and the size needed.
    struct Case {
        int resize, seek;
        std::vector<int> writes;
        int size, cursor;
    };
    const Case cases[] = {
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
        EXPECT_EQ(buffer.GetSize(), c.size) << c.seek << " " << c.writes[0];
        EXPECT_EQ(buffer.GetCursorPos(), c.cursor) << c.seek << " " << c.writes[0];
    }
}

TEST(MemBuffer, ResizeAlwaysGrowsAndKeepsContentAndCursor) {
    CMemBuffer buffer;
    const unsigned char data[] = {1, 2, 3, 4, 5, 6};
    buffer.SetBytes(data, 6);
    const std::pair<int, int> steps[] = {{0, 128}, {10, 256}, {1000, 1000}, {0, 2000}, {1, 3000}};
    for (const auto& step : steps) {
        buffer.Resize(step.first);
        EXPECT_EQ(buffer.GetSize(), step.second) << step.first;
    }
    EXPECT_EQ(buffer.GetCursorPos(), 8);
    EXPECT_EQ(Bytes(buffer, 0, 6), std::vector<unsigned char>(data, data + 6));
}

TEST(MemBuffer, MixedRecordRoundTrip) {
    CMemBuffer buffer;
    const unsigned char raw[] = {9, 8, 7, 6, 5, 4, 3};
    const std::string longText(3000, 'q');
    const CLuStringW wide(L"gr\x00FC\x00DF \xD83D\xDE00!");
    const CLuStringW withZero(L"a\0b", 3);  // a zero unit inside the piece
    buffer.SetBytes(raw, 7);
    buffer.SetBytes(std::string("hello"));
    buffer.SetBytes(wide);
    buffer.SetBytes(withZero);
    buffer.SetBytes(std::string());
    buffer.SetBytes(longText);
    buffer.SetBytes(CLuStringW());
    buffer.SetBytes(raw, 1);
    const int written = buffer.GetCursorPos();

    for (CMemBuffer* reader : {&buffer, new CMemBuffer(buffer)}) {
        reader->SeekToBegin();
        unsigned char back[7] = {};
        std::string text = "stale";
        CLuStringW wideBack(L"stale");
        reader->GetBytes(back, 7);
        EXPECT_EQ(0, std::memcmp(back, raw, 7));
        reader->GetBytes(text);
        EXPECT_EQ(text, "hello");
        reader->GetBytes(wideBack);
        EXPECT_TRUE(wideBack == wide);
        EXPECT_EQ(wideBack.GetLength(), 8);
        reader->GetBytes(wideBack);
        EXPECT_EQ(wideBack.GetLength(), 3);
        EXPECT_TRUE(wideBack == withZero);
        reader->GetBytes(text);
        EXPECT_EQ(text, "");
        reader->GetBytes(text);
        EXPECT_EQ(text, longText);
        reader->GetBytes(wideBack);
        EXPECT_TRUE(wideBack.IsEmpty());
        unsigned char last = 0;
        reader->GetBytes(&last, 1);
        EXPECT_EQ(last, 9);
        EXPECT_EQ(reader->GetCursorPos(), written);
        if (reader != &buffer) {
            delete reader;
        }
    }
}

// A record as another build wrote it: wide strings are UTF-16, 2 bytes per
// unit, on every platform; padding (0xEE here) may hold anything.
TEST(MemBuffer, FixedRecordBytes) {
    std::vector<unsigned char> record = {1, 2, 3, 4, 5, 0xEE, 0xEE, 0xEE};
    PutInt(record, 3);
    record.insert(record.end(), {'a', 'b', 'c', 0xEE});
    PutInt(record, 4);
    record.insert(record.end(), {'h', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE});
    PutInt(record, 0);
    PutInt(record, 1);
    record.insert(record.end(), {'z', 0, 0xEE, 0xEE});
    ASSERT_EQ(record.size(), 40u);
    const std::vector<bool> padding = [&] {
        std::vector<bool> pad(40, false);
        for (int i : {5, 6, 7, 15, 38, 39}) {
            pad[i] = true;
        }
        return pad;
    }();

    const unsigned char raw[] = {1, 2, 3, 4, 5};
    const CLuStringW wide(L"h\x00E9\xD83D\xDE00");
    CMemBuffer written;
    written.SetBytes(raw, 5);
    written.SetBytes(std::string("abc"));
    written.SetBytes(wide);
    written.SetBytes(std::string());
    written.SetBytes(CLuStringW(L"z"));
    ASSERT_EQ(written.GetCursorPos(), 40);
    for (size_t i = 0; i < record.size(); ++i) {
        if (!padding[i]) {
            EXPECT_EQ(written.GetRawData()[i], record[i]) << "byte " << i;
        }
    }

    CMemBuffer reader = FromBytes(record);
    unsigned char rawBack[5];
    std::string narrow;
    CLuStringW wideBack;
    reader.GetBytes(rawBack, 5);
    EXPECT_EQ(0, std::memcmp(rawBack, raw, 5));
    reader.GetBytes(narrow);
    EXPECT_EQ(narrow, "abc");
    reader.GetBytes(wideBack);
    ASSERT_EQ(wideBack.GetLength(), 4);
    EXPECT_EQ(static_cast<unsigned>(wideBack[1]), 0xE9u);
    EXPECT_EQ(static_cast<unsigned>(wideBack[2]), 0xD83Du);
    EXPECT_EQ(static_cast<unsigned>(wideBack[3]), 0xDE00u);
    reader.GetBytes(narrow);
    EXPECT_TRUE(narrow.empty());
    reader.GetBytes(wideBack);
    EXPECT_TRUE(wideBack == L"z");
    EXPECT_EQ(reader.GetCursorPos(), 40);
}

TEST(MemBuffer, ShortReads) {
    unsigned char data[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    CMemBuffer buffer(data, 12);
    buffer.Seek(0, 60);
    unsigned char dst[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    buffer.GetBytes(dst, 5);  // 60 + 5 > 64: nothing
    EXPECT_EQ(buffer.GetCursorPos(), 60);
    EXPECT_EQ(dst[0], 0xAA);
    buffer.GetBytes(dst, 4);  // exactly to the end
    EXPECT_EQ(buffer.GetCursorPos(), 64);
    buffer.GetBytes(dst, 1);
    EXPECT_EQ(buffer.GetCursorPos(), 64);

    std::string text = "kept?";
    CLuStringW wide(L"kept?");
    buffer.GetBytes(text);  // no room for the length
    buffer.GetBytes(wide);
    EXPECT_TRUE(text.empty());
    EXPECT_TRUE(wide.IsEmpty());
    EXPECT_EQ(buffer.GetCursorPos(), 64);

    buffer.GetBytes(nullptr, 4);
    buffer.SeekToBegin();
    buffer.GetBytes(dst, 0);
    EXPECT_EQ(buffer.GetCursorPos(), 0);

    // The bound test uses the count, not the padded length: the last run of
    // a block whose size is not a multiple of 4 is still read.
    CMemBuffer odd;
    odd.Resize(130);
    ASSERT_EQ(odd.GetSize(), 130);
    EXPECT_EQ(CMemBuffer(odd).GetSize(), 130);  // a copy keeps the odd size
    odd.Seek(0, 128);
    odd.GetBytes(dst, 2);
    EXPECT_EQ(odd.GetCursorPos(), 132);
    odd.GetBytes(dst, 1);
    EXPECT_EQ(odd.GetCursorPos(), 132);
    odd.SetBytes(std::string("after"));  // a write from past the end
    EXPECT_EQ(odd.GetCursorPos(), 144);
    EXPECT_GE(odd.GetSize(), 144);
    odd.Seek(0, 132);
    odd.GetBytes(text);
    EXPECT_EQ(text, "after");
}

TEST(MemBuffer, DamagedRecordsReadSafely) {
    // Body past the end: empty string, cursor just after the length.
    std::vector<unsigned char> record;
    PutInt(record, 1000);
    record.insert(record.end(), 60, 'x');
    for (int wide = 0; wide < 2; ++wide) {
        CMemBuffer buffer = FromBytes(record);
        std::string text = "x";
        CLuStringW wtext(L"x");
        wide ? buffer.GetBytes(wtext) : buffer.GetBytes(text);
        EXPECT_TRUE(text.empty() || wide);
        EXPECT_TRUE(wtext.IsEmpty() || !wide);
        EXPECT_EQ(buffer.GetCursorPos(), 4);
    }

    // A wide body that fits as bytes but not as units (2*L).
    record.clear();
    PutInt(record, 40);
    record.insert(record.end(), 60, 'y');
    CMemBuffer half = FromBytes(record);
    CLuStringW wtext;
    half.GetBytes(wtext);
    EXPECT_TRUE(wtext.IsEmpty());
    EXPECT_EQ(half.GetCursorPos(), 4);
    half.SeekToBegin();
    std::string text;
    half.GetBytes(text);  // 40 narrow bytes do fit
    EXPECT_EQ(text, std::string(40, 'y'));
    EXPECT_EQ(half.GetCursorPos(), 44);

    // Negative and huge lengths: nothing read, never outside the block.
    for (int32_t length : {-1, -4, INT_MIN, INT_MAX, INT_MAX / 2 + 1}) {
        record.clear();
        PutInt(record, length);
        CMemBuffer buffer = FromBytes(record);
        buffer.GetBytes(text);
        EXPECT_TRUE(text.empty());
        EXPECT_EQ(buffer.GetCursorPos(), 4) << length;
        buffer.SeekToBegin();
        buffer.GetBytes(wtext);
        EXPECT_TRUE(wtext.IsEmpty());
        EXPECT_EQ(buffer.GetCursorPos(), 4) << length;
    }
}

// Steps in order on one buffer of 64 bytes: origin 0 counts from the start,
// origin 1 back from the cursor, others do nothing; never outside the block.
TEST(MemBuffer, Seeking) {
    CMemBuffer buffer;
    const int steps[][3] = {{0, 40, 40}, {0, 10, 10}, {0, 1000, 64}, {0, -5, 0},
                            {0, 30, 30}, {1, 10, 20}, {1, 100, 0},   {1, -1000, 64},
                            {0, 7, 7},   {2, 5, 7},   {-1, 5, 7}};
    for (const auto& step : steps) {
        buffer.Seek(step[0], step[1]);
        EXPECT_EQ(buffer.GetCursorPos(), step[2]) << step[0] << " " << step[1];
    }
    buffer.SeekToEnd();
    EXPECT_EQ(buffer.GetCursorPos(), buffer.GetSize());
    buffer.SeekToBegin();
    EXPECT_EQ(buffer.GetCursorPos(), 0);
}

TEST(MemBuffer, CopiesStartAtZeroWithTheSameBytes) {
    CMemBuffer buffer;
    for (int i = 0; i < 10; ++i) {
        buffer.SetBytes(std::string(1, static_cast<char>('a' + i)));
    }
    buffer.Resize(200);
    buffer.Seek(0, 40);
    CMemBuffer copy(buffer);
    EXPECT_EQ(copy.GetCursorPos(), 0);
    EXPECT_EQ(copy.GetSize(), buffer.GetSize());
    EXPECT_EQ(Bytes(copy, 0, 80), Bytes(buffer, 0, 80));

    CMemBuffer assigned;
    assigned.SetBytes(std::string("old"));
    assigned = buffer;
    EXPECT_EQ(assigned.GetCursorPos(), 0);
    EXPECT_EQ(assigned.GetSize(),
              256);  // 128 grown by Resize(200) to its next step
    EXPECT_EQ(Bytes(assigned, 0, 80), Bytes(buffer, 0, 80));
    EXPECT_NE(assigned.GetRawData(), buffer.GetRawData());

    CMemBuffer& self = assigned;
    assigned.Seek(0, 12);
    assigned = self;
    EXPECT_EQ(assigned.GetCursorPos(), 0);
    std::string first;
    assigned.GetBytes(first);
    EXPECT_EQ(first, "a");
}

TEST(MemBuffer, ASizeBeyondTheIntRangeIsExhaustion) {
    CMemBuffer buffer;
    buffer.SetBytes(std::string("kept"));
    const unsigned char byte = 1;
    // The count is only checked against the int range before any copy.
    EXPECT_THROW(buffer.SetBytes(&byte, INT_MAX - 2), std::bad_alloc);
    EXPECT_EQ(buffer.GetSize(), 64);
    EXPECT_EQ(buffer.GetCursorPos(), 8);
    buffer.SeekToBegin();
    std::string text;
    buffer.GetBytes(text);
    EXPECT_EQ(text, "kept");
}

}  // namespace
