// Building and reading back a record of 1,000,000 mixed pieces, against a
// std::vector<uint8_t> with the same hand packing; and a rolling buffer fed
// and drained at both ends, against std::deque<uint8_t> with bulk inserts.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "vidozir/membuffer.h"
#include "vidozir/rollbuffer.h"

namespace {

const int kPieces = 1000000;

struct Pieces {
    std::vector<unsigned char> raw;  // runs of 1..24 bytes taken from here
    std::vector<std::string> narrow;
    std::vector<CLuStringW> wide;
    int64_t recordBytes = 0;

    Pieces() {
        raw.resize(64);
        for (size_t i = 0; i < raw.size(); ++i) {
            raw[i] = static_cast<unsigned char>(i * 7);
        }
        for (int i = 0; i < 64; ++i) {
            narrow.push_back(
                std::string(static_cast<size_t>(i % 40), static_cast<char>('a' + i % 26)));
            CLuStringW w;
            for (int k = 0; k < i % 30; ++k) {
                w.AppendChar(static_cast<wchar_t>(0x3B1 + k));
            }
            wide.push_back(w);
        }
        for (int i = 0; i < kPieces; ++i) {
            switch (i % 3) {
                case 0:
                    recordBytes += Padded(RawLength(i));
                    break;
                case 1:
                    recordBytes += 4 + Padded(static_cast<int>(narrow[i % 64].size()));
                    break;
                default:
                    recordBytes += 4 + Padded(2 * wide[i % 64].GetLength());
                    break;
            }
        }
    }
    static int RawLength(int i) { return 1 + i % 24; }
    static int Padded(int n) { return (n + 3) & ~3; }
};

const Pieces& TestPieces() {
    static Pieces pieces;
    return pieces;
}

void Record_MemBuffer(benchmark::State& state) {
    const Pieces& p = TestPieces();
    std::vector<unsigned char> rawBack(32);
    std::string narrowBack;
    CLuStringW wideBack;
    for (auto _ : state) {
        VidOzir::CMemBuffer buffer;
        for (int i = 0; i < kPieces; ++i) {
            switch (i % 3) {
                case 0:
                    buffer.SetBytes(p.raw.data(), Pieces::RawLength(i));
                    break;
                case 1:
                    buffer.SetBytes(p.narrow[i % 64]);
                    break;
                default:
                    buffer.SetBytes(p.wide[i % 64]);
                    break;
            }
        }
        buffer.SeekToBegin();
        size_t check = 0;
        for (int i = 0; i < kPieces; ++i) {
            switch (i % 3) {
                case 0:
                    buffer.GetBytes(rawBack.data(), Pieces::RawLength(i));
                    check += rawBack[0];
                    break;
                case 1:
                    buffer.GetBytes(narrowBack);
                    check += narrowBack.size();
                    break;
                default:
                    buffer.GetBytes(wideBack);
                    check += static_cast<size_t>(wideBack.GetLength());
                    break;
            }
        }
        benchmark::DoNotOptimize(check);
    }
    state.SetBytesProcessed(state.iterations() * p.recordBytes * 2);  // written and read
}

// The same record packed by hand into a vector: length prefixes, UTF-16
// units, padding to 4 bytes.
void PutPadded(std::vector<uint8_t>& out, const void* data, size_t n) {
    const size_t at = out.size();
    out.resize(at + ((n + 3) & ~size_t(3)));
    std::memcpy(out.data() + at, data, n);
}

void Record_Vector(benchmark::State& state) {
    const Pieces& p = TestPieces();
    std::vector<unsigned char> rawBack(32);
    std::string narrowBack;
    CLuStringW wideBack;
    std::vector<uint16_t> units;
    for (auto _ : state) {
        std::vector<uint8_t> out;
        for (int i = 0; i < kPieces; ++i) {
            switch (i % 3) {
                case 0:
                    PutPadded(out, p.raw.data(), static_cast<size_t>(Pieces::RawLength(i)));
                    break;
                case 1: {
                    const std::string& s = p.narrow[i % 64];
                    const int32_t n = static_cast<int32_t>(s.size());
                    PutPadded(out, &n, 4);
                    if (n > 0) {
                        PutPadded(out, s.data(), s.size());
                    }
                    break;
                }
                default: {
                    const CLuStringW& s = p.wide[i % 64];
                    const int32_t n = s.GetLength();
                    PutPadded(out, &n, 4);
                    if (n > 0) {
                        units.resize(static_cast<size_t>(n));
                        for (int32_t k = 0; k < n; ++k) {
                            units[static_cast<size_t>(k)] = static_cast<uint16_t>(s[k]);
                        }
                        PutPadded(out, units.data(), 2 * static_cast<size_t>(n));
                    }
                    break;
                }
            }
        }
        size_t at = 0;
        size_t check = 0;
        for (int i = 0; i < kPieces; ++i) {
            int32_t n = 0;
            switch (i % 3) {
                case 0:
                    n = Pieces::RawLength(i);
                    if (at + static_cast<size_t>(n) <= out.size()) {
                        std::memcpy(rawBack.data(), out.data() + at, static_cast<size_t>(n));
                        at += static_cast<size_t>(Pieces::Padded(n));
                        check += rawBack[0];
                    }
                    break;
                case 1:
                    std::memcpy(&n, out.data() + at, 4);
                    at += 4;
                    narrowBack.clear();
                    if (n > 0 && at + static_cast<size_t>(n) <= out.size()) {
                        narrowBack.assign(reinterpret_cast<const char*>(out.data() + at),
                                          static_cast<size_t>(n));
                        at += static_cast<size_t>(Pieces::Padded(n));
                    }
                    check += narrowBack.size();
                    break;
                default:
                    std::memcpy(&n, out.data() + at, 4);
                    at += 4;
                    wideBack.Empty();
                    if (n > 0 && at + 2 * static_cast<size_t>(n) <= out.size()) {
                        wchar_t* w = wideBack.GetBuffer(n);
                        for (int32_t k = 0; k < n; ++k) {
                            uint16_t u;
                            std::memcpy(&u, out.data() + at + 2 * static_cast<size_t>(k), 2);
                            w[k] = static_cast<wchar_t>(u);
                        }
                        wideBack.ReleaseBuffer(n);
                        at += static_cast<size_t>(Pieces::Padded(2 * n));
                    }
                    check += static_cast<size_t>(wideBack.GetLength());
                    break;
            }
        }
        benchmark::DoNotOptimize(check);
    }
    state.SetBytesProcessed(state.iterations() * p.recordBytes * 2);
}

// Rolling: chunks of 1..64 bytes pushed at alternating ends while the
// content stays near 64 KiB, and drained from the opposite ends.
const int kRollSteps = 200000;
const unsigned kRollTarget = 64 * 1024;

unsigned ChunkLength(int i) {
    return 1 + static_cast<unsigned>(i * 37) % 64;
}

void Roll_RollBuffer(benchmark::State& state) {
    std::vector<unsigned char> chunk(64, 0x5A);
    int64_t bytes = 0;
    for (auto _ : state) {
        VidOzir::CRollBuffer buffer(4096);
        for (int i = 0; i < kRollSteps; ++i) {
            const unsigned n = ChunkLength(i);
            if (i & 1) {
                buffer.PushFront(chunk.data(), n);
            } else {
                buffer.PushBack(chunk.data(), n);
            }
            if (buffer.GetDataSize() > kRollTarget) {
                if (i & 2) {
                    buffer.RemoveFront(n);
                } else {
                    buffer.RemoveBack(n);
                }
            }
            bytes += n;
        }
        benchmark::DoNotOptimize(buffer.GetDataSize());
    }
    state.SetBytesProcessed(bytes);
}

void Roll_Deque(benchmark::State& state) {
    std::vector<unsigned char> chunk(64, 0x5A);
    int64_t bytes = 0;
    for (auto _ : state) {
        std::deque<uint8_t> buffer;
        for (int i = 0; i < kRollSteps; ++i) {
            const unsigned n = ChunkLength(i);
            if (i & 1) {
                buffer.insert(buffer.begin(), chunk.begin(), chunk.begin() + n);
            } else {
                buffer.insert(buffer.end(), chunk.begin(), chunk.begin() + n);
            }
            if (buffer.size() > kRollTarget) {
                if (i & 2) {
                    buffer.erase(buffer.begin(), buffer.begin() + n);
                } else {
                    buffer.erase(buffer.end() - n, buffer.end());
                }
            }
            bytes += n;
        }
        benchmark::DoNotOptimize(buffer.size());
    }
    state.SetBytesProcessed(bytes);
}

}  // namespace

BENCHMARK(Record_MemBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(Record_Vector)->Unit(benchmark::kMillisecond);
BENCHMARK(Roll_RollBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(Roll_Deque)->Unit(benchmark::kMillisecond);
