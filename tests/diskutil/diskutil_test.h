// What the diskutil test files share: the library's calls, the platform's
// that they are compared with, and the test helpers for paths and text.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <tuple>
#include <vector>

#include "platform/win32.h"
#include "support/child_process.h"
#include "support/test_support.h"
#include "support/text.h"
#include "vidozir/diskutil.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/recording_opener.h"
#endif

using namespace VidOzir::DiskUtil;
using vidozir_test::W;
using vidozir_test::Wide;
