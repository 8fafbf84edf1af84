#include "vidozir/membuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <tuple>

#include "support/text.h"

namespace {

using VidOzir::CMemBuffer;

// The block as the record, growth and seek rules lay it out. Bytes the buffer
// never wrote (new block space, padding) may hold anything: the model takes
// them from the buffer when they appear and then expects them to stay.
struct RecordModel {
    const CMemBuffer& real;
    std::string block;
    long long cursor = 0;

    static long long Align4(long long n) { return n + (4 - n % 4) % 4; }
    static std::string Int32(int32_t n) { return std::string(reinterpret_cast<char*>(&n), 4); }
    static unsigned char* Raw(std::string& s) { return reinterpret_cast<unsigned char*>(&s[0]); }
    long long Size() const { return static_cast<long long>(block.size()); }
    long long Step() const { return Size() < 1024 ? 2 * Size() : 3 * Size() / 2; }
    void Resize(long long size) {
        const long long had = Size(), seen = std::min<long long>(size, real.GetSize());
        block.resize(static_cast<size_t>(size));
        std::memcpy(&block[had], real.GetRawData() + had, std::max(seen - had, 0LL));
    }
    void Put(const std::string& bytes) {  // a piece: its bytes, then padding
        const long long needed = cursor + Align4(static_cast<long long>(bytes.size()));
        if (needed > Size())
            Resize(std::max(Align4(needed), Step()));
        block.replace(static_cast<size_t>(cursor), bytes.size(), bytes);
        cursor = needed;
    }
    std::string Take(long long n) {  // nothing when the piece would pass the end
        if (n <= 0 || cursor + n > Size())
            return "";
        cursor += Align4(n);
        return block.substr(static_cast<size_t>(cursor - Align4(n)), static_cast<size_t>(n));
    }
    std::string TakeString(int unit) {  // a damaged length reads as empty
        if (cursor + 4 > Size())
            return "";
        int32_t length;
        std::memcpy(&length, block.data() + cursor, 4);
        cursor += 4;
        return Take(static_cast<long long>(length) * unit);
    }
};

// Random writes and reads of raw runs, narrow and wide strings (lengths that a
// damaged record holds planted among the bytes), writes too large for the int
// range, seeks, resizes and copies, from buffers made of 0 to 99 bytes,
// against the model: size, cursor, every byte and every value read.
TEST(MemBuffer, MatchesTheRecordModel) {
    std::mt19937 random(21);
    const int32_t lengths[] = {-1, -4, INT_MIN, INT_MAX, INT_MAX / 2 + 1, 0, 1, 6, 40};
    for (int round = 0; round < 60; ++round) {
        // A record of one string; its body ends at the block's end when it fills
        // a block over 64 bytes.
        const int32_t length = static_cast<int32_t>(random() % 100) - 4;
        std::string start = length < 0 ? "" : RecordModel::Int32(length) + std::string(length, 'd');
        CMemBuffer buffer(start.empty() ? nullptr : RecordModel::Raw(start),
                          static_cast<int>(start.size()));
        RecordModel model{buffer, start};
        model.Resize(std::max(model.Align4(model.Size()), 64LL));
        for (int step = 0; step < 200; ++step) {
            const int op = step > 0 ? static_cast<int>(random() % 12) : 4;
            std::string bytes(random() % 8 ? random() % 24 : random() % 3000, '\0'), read, expected;
            std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
            if (op == 0 && random() % 2)
                bytes = model.Int32(lengths[random() % 9]);
            std::u16string units(bytes.size() / 2, u'\0');
            std::memcpy(&units[0], bytes.data(), 2 * units.size());
            CLuStringW wide(L"stale");
            if (op < 3) {  // a raw run (of 0 bytes: nothing); a string: length, then units
                const size_t unit = op == 2 ? 2 : 1, length = bytes.size() / unit;
                op == 0   ? buffer.SetBytes(model.Raw(bytes), static_cast<int>(length))
                : op == 1 ? buffer.SetBytes(bytes)
                          : buffer.SetBytes(vidozir_test::Wide(units));
                if (op > 0)
                    model.Put(model.Int32(static_cast<int32_t>(length)));
                if (length > 0)
                    model.Put(bytes.substr(0, unit * length));
            } else if (op == 3) {  // a run that does not fit leaves the target untouched
                read = std::string(bytes.size(), 'u');
                expected = model.Take(static_cast<long long>(bytes.size()));
                expected = expected.empty() ? read : expected;
                buffer.GetBytes(model.Raw(read), static_cast<int>(read.size()));
            } else if (op < 6) {  // strings, a wide one as its 2-byte units
                read = op == 4 ? "stale" : "";
                op == 4 ? buffer.GetBytes(read) : buffer.GetBytes(wide);
                for (wchar_t unit : op == 4 ? std::wstring() : vidozir_test::W(wide))
                    read += model.Int32(static_cast<int32_t>(unit)).substr(0, 2);
                expected = model.TakeString(op - 3);
            } else if (op < 9) {            // origin 0 from the start, often near the end; 1 back
                const int origin = op - 6;  // from the cursor; others do nothing
                const long long count = random() % 2 ? model.Size() - 8 + random() % 11
                                                     : static_cast<int>(random() % 40) - 20;
                buffer.Seek(origin, static_cast<int>(count));
                const long long to = origin == 0 ? count : model.cursor - count;
                model.cursor = origin == 2 ? model.cursor : std::clamp(to, 0LL, model.Size());
            } else if (op == 9) {  // beyond the int range: exhaustion, found before any change
                EXPECT_THROW(buffer.SetBytes(model.Raw(bytes), INT_MAX - 2), std::bad_alloc);
            } else if (op == 10 && model.Size() < 4096) {  // grows, a step at least; odd sizes too
                const long long asked = random() % 2 ? random() % 64 : model.Step() + random() % 7;
                buffer.Resize(static_cast<int>(asked));
                model.Resize(std::max(asked, model.Step()));
            } else if (op > 9) {  // a copy, or the buffer assigned to itself, starts at offset 0
                random() % 2 ? buffer = CMemBuffer(buffer)
                             : buffer = static_cast<CMemBuffer&>(buffer);
                model.cursor = 0;
            }
            const std::string got(reinterpret_cast<const char*>(buffer.GetRawData()),
                                  std::min<size_t>(model.block.size(), buffer.GetSize()));
            ASSERT_EQ(std::make_tuple(read, buffer.GetSize(), buffer.GetCursorPos(), got),
                      std::make_tuple(expected, int(model.Size()), int(model.cursor), model.block))
                << round << " " << step;
        }
    }
}

}  // namespace
