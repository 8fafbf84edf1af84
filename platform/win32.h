// The Win32 calls the library is written against. On Windows these are the
// system's own; on other platforms each area header below declares the
// stand-ins that platform/ implements (only what the library calls).
#pragma once

#include "vidozir_wintypes.h"

#if defined(_WIN32)
#include <process.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <winsock2.h>
#include <winver.h>
#include <wtsapi32.h>
#else
#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/kernel.h"
#include "platform/iocp.h"
#include "platform/filemap.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/winmsg.h"
#include "platform/net.h"
#include "platform/shell.h"
#include "platform/shlwapi.h"
#include "platform/version.h"
#include "platform/localmem.h"
#include "platform/registry.h"
#include "platform/session.h"
#include "platform/sysinfo.h"
#endif
