// The compression functions behind the digest interface. Kept apart from the
// exported functions so the tests can drive each SHA-1 path directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vidozir::digest {

// Compresses `blocks` whole 64-byte blocks into the five chaining values.
void Sha1CompressPortable(uint32_t state[5], const unsigned char* data, size_t blocks);
// The SHA instruction-set path; call only when Sha1HasShaNi() is true.
void Sha1CompressShaNi(uint32_t state[5], const unsigned char* data, size_t blocks);
bool Sha1HasShaNi();
// The path chosen once for this processor.
void Sha1Compress(uint32_t state[5], const unsigned char* data, size_t blocks);

}  // namespace vidozir::digest
