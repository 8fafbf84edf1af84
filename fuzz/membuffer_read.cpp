// Arbitrary bytes as a record, read with an arbitrary sequence of GetBytes
// calls (raw runs, narrow and wide strings) and cursor moves. The first bytes
// steer the reads; the rest is the record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vidozir/membuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const size_t steps = data[0] % 32;
    if (size < 1 + 2 * steps) {
        return 0;
    }
    const uint8_t* program = data + 1;
    const uint8_t* record = program + 2 * steps;
    const int length = static_cast<int>(size - 1 - 2 * steps);
    VidOzir::CMemBuffer buffer(record, length);
    std::vector<unsigned char> raw(512);
    std::string narrow;
    CLuStringW wide;
    for (size_t i = 0; i < steps; ++i) {
        const uint8_t op = program[2 * i];
        const uint8_t arg = program[2 * i + 1];
        const int before = buffer.GetCursorPos();
        switch (op % 6) {
            case 0:
                buffer.GetBytes(raw.data(), arg + (op & 0xC0 ? 256 : 0));
                break;
            case 1:
                buffer.GetBytes(narrow);
                if (!narrow.empty() && buffer.GetCursorPos() > buffer.GetSize() + 3) {
                    __builtin_trap();
                }
                break;
            case 2:
                buffer.GetBytes(wide);
                break;
            case 3:
                buffer.Seek(op >> 7, static_cast<int8_t>(arg) * 4);
                break;
            case 4:
                buffer.SeekToBegin();
                break;
            default:
                buffer.Resize(arg);
                break;
        }
        // The cursor never goes before the start, nor further past the end
        // than the padding of a last raw run.
        const int after = buffer.GetCursorPos();
        if (after < 0 || after > buffer.GetSize() + 3 || (op % 6 == 1 && after < before)) {
            __builtin_trap();
        }
    }
    return 0;
}
