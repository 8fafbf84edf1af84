#include <cstdio>
#include <string>

#include "tour.h"
#include "vidozir/membuffer.h"
#include "vidozir/rollbuffer.h"
#include "vidozir/sharedmem.h"

namespace tour {

void Buffers(const std::vector<std::string>&) {
    Heading("Buffers and shared memory");
    // A record of pieces, each padded to 4 bytes, read back in the same order.
    VidOzir::CMemBuffer record;
    const unsigned char flags[] = {1, 0, 1};
    record.SetBytes(flags, 3);
    record.SetBytes(std::string("report.pdf"));
    record.SetBytes(
        CLuStringW(L"Stra\x00DF"
                   L"e \xD83D\xDCC1"));
    std::printf("record: %d bytes written (every piece padded to 4 bytes), block of %d\n",
                record.GetCursorPos(), record.GetSize());
    record.SeekToBegin();
    unsigned char back[3];
    std::string file;
    CLuStringW folder;
    record.GetBytes(back, 3);
    record.GetBytes(file);
    record.GetBytes(folder);
    std::printf("read back: flags %d%d%d, \"%s\", and ", back[0], back[1], back[2], file.c_str());
    Print(folder);

    // A rolling buffer fed at both ends; a stretch that wraps comes in two spans.
    VidOzir::CRollBuffer roll(8);
    unsigned char abc[] = {'a', 'b', 'c', 'd', 'e', 'f'};
    unsigned char xy[] = {'x', 'y'};
    roll.PushBack(abc, 6);
    roll.RemoveFront(4);
    roll.PushBack(abc, 4);
    roll.PushFront(xy, 2);
    unsigned char *first, *second;
    unsigned int firstLen, secondLen;
    roll.GetRowPtr(0, roll.GetDataSize(), first, firstLen, second, secondLen);
    std::printf("rolling buffer: %u bytes in spans of %u and %u: %.*s|%.*s\n", roll.GetDataSize(),
                firstLen, secondLen, static_cast<int>(firstLen), first, static_cast<int>(secondLen),
                second);

    // Shared memory: a second object (in practice, another process) opens the
    // same section by name and sees the first one's writes; the lock is the
    // named mutex "<name>lock".
    VidOzir::CSharedMemory writer, reader;
    const CLuStringW name(L"Local\\vidozir-tour-section");
    if (writer.Create(name, 1, 4096) && writer.Map(0, 0) && reader.Open(name) && reader.Map(0, 0)) {
        writer.Lock();
        std::snprintf(static_cast<char*>(writer.Memory()), 64, "hello from the writer");
        writer.Unlock();
        reader.Lock();
        std::printf("shared memory: the reader sees \"%s\"\n",
                    static_cast<const char*>(reader.Memory()));
        reader.Unlock();
    } else {
        std::printf("shared memory: not available here\n");
    }
}

}  // namespace tour
