// What the system test files share: the test framework, the platform's calls
// that they are compared with, and the test helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/win32.h"
#include "support/test_support.h"
#include "support/text.h"

using vidozir_test::Wide;
