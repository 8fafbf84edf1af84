// A reader of PE file headers (32- and 64-bit images), and of the version
// resource, used where the system has no version-information functions. Every offset and
// length it reads from the file is checked before use: damaged files give
// "not found", never a read outside the file or the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vidozir::pe {

// Reads `size` bytes at `offset` of the file into `buffer`; false when the
// file does not hold them all.
using ReadAt = std::function<bool(uint64_t offset, void* buffer, size_t size)>;

// Where a PE image's headers put what the readers look for. Only entries
// that are both counted and inside the optional header are in
// `directoryCount`.
struct Headers {
    uint64_t optional = 0;  // the optional header's offset
    uint32_t optionalSize = 0;
    uint32_t sectionCount = 0;
    uint64_t directories = 0;  // the data directories' offset, 8 bytes each
    uint32_t directoryCount = 0;
};

// False when the file of `fileSize` bytes is not a PE image (32 or 64 bit).
bool ReadHeaders(const ReadAt& read, uint64_t fileSize, Headers& out);

enum class FindResult { Found, NotPe, NoVersion };

// Locates the VS_VERSIONINFO resource (type 16, name 1; language neutral,
// else US English, else the first language) of the image of `fileSize` bytes.
FindResult FindVersionResource(const ReadAt& read, uint64_t fileSize, uint64_t& offset,
                               uint32_t& length);

// Looks up `path` ("\" for the root value, "\VarFileInfo\Translation",
// "\StringFileInfo\040904b0\FileVersion"; keys compare without regard to ASCII
// case) in a VS_VERSIONINFO block of `size` bytes. `value` points into the
// block; `length` is in 16-bit units for texts and in bytes otherwise, and the
// value always lies inside the block. (A binary value read as text covers
// up to twice its bytes: within twice the block's size.)
bool QueryVersionValue(const unsigned char* block, size_t size, const wchar_t* path,
                       const void*& value, unsigned& length);

}  // namespace vidozir::pe
