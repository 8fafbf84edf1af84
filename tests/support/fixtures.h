// Fixture files that the build puts in folders beside the test program
// (version_fixtures, trust_fixtures, process_fixtures).
#pragma once

#include <string>
#include <vector>

#include "vidozir/lustring.h"

namespace vidozir_test {

// The folder `folder` beside the test program, as a native narrow path.
std::string FixtureDir(const std::string& folder);

// The bytes of fixture `name` in `folder` (empty when it cannot be read).
std::vector<unsigned char> ReadFixture(const std::string& folder, const std::string& name);

// The Windows-form path of fixture `name` in `folder` (backslashes on every
// platform), as the library's callers pass it.
CLuStringW FixturePath(const std::string& folder, const std::string& name);

#if defined(_WIN32)
// Adds the PEM certificate file `pemPath` to the machine's system store
// `storeName` ("Root", "Disallowed") of Windows or of the Wine prefix.
void AddCertificateToStore(const wchar_t* storeName, const std::string& pemPath);
#endif

}  // namespace vidozir_test
