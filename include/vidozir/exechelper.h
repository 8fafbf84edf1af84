// CExecHelper: starts programs, documents and folders with the shell's
// "open" verb.
#pragma once

#include "vidozir/export.h"

class VIDOZIR_API CExecHelper {
public:
    CExecHelper() {}
    ~CExecHelper() {}
    CExecHelper& operator=(const CExecHelper&) { return *this; }

    // False for a null file; otherwise whether the launch succeeded. `show`
    // is an SW_ value; `parameters` may be null.
    static bool Exec(const wchar_t* file, const wchar_t* parameters, unsigned int show);
    // The same, then, unless `timeout` is 0, waits up to `timeout` ms
    // (0xFFFFFFFF: without limit) for the new process to end or for
    // `stopEvent` (may be null) to be signalled. The wait's outcome is not
    // reported.
    static bool Exec(const wchar_t* file, const wchar_t* parameters, unsigned int show,
                     void* stopEvent, unsigned long timeout);
    // Opens `path` as suits the system: the path itself on version 6 or
    // later, else Explorer with the path.
    static bool Exec(const wchar_t* path);
};
