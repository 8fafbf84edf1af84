// A short walk through what the library does. Run it with `scripts/demo`.
#include <cstdio>
#include <string>
#include <vector>

#include "tour.h"
#include "vidozir/lustring.h"

namespace tour {

void Heading(const char* title) {
    std::printf("\n== %s ==\n", title);
}

void Print(const wchar_t* text) {
    CLuStringA narrow;
    narrow.Format("%ls", text);  // UTF-16 to UTF-8
    std::printf("%s\n", narrow.GetString());
}

}  // namespace tour

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    tour::Foundation(args);
    tour::MessageLoop(args);
    tour::Threads(args);
    tour::Buffers(args);
    tour::Markup(args);
    tour::Conversions(args);
    tour::ClientVersions(args);
    tour::Digests(args);
    return 0;
}
