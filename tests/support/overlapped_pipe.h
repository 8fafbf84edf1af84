// A pipe whose server end takes overlapped I/O through a completion port and
// whose client end is a plain blocking handle, on both platforms.
#pragma once

#include "platform/win32.h"

namespace vidozir_test {

struct PipeEnds {
    HANDLE server = nullptr;  // overlapped-capable; associate it with a port
    HANDLE client = nullptr;  // blocking reads and writes
};

// On Windows a duplex named pipe opened with FILE_FLAG_OVERLAPPED; elsewhere a
// pipe whose server end reads when `serverReads`, else writes.
bool MakeOverlappedPipe(bool serverReads, PipeEnds* ends);

}  // namespace vidozir_test
