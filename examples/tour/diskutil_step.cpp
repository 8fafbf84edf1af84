#include <cstdio>
#include <string>
#include <vector>

#include "tour.h"
#include "vidozir/diskutil.h"

namespace tour {

void Conversions(const std::vector<std::string>&) {
    using namespace VidOzir::DiskUtil;
    Heading("Conversions and splitting");
    const CLuStringW text(
        L"Gr\x00FC\x00DF"
        L"e \xD83D\xDE00");
    const CLuStringA utf8 = Utf8FromWS(text);
    std::printf("UTF-8 of the greeting: %d bytes, hex %s\n", utf8.GetLength(),
                bin2hex(utf8.GetString(), unsigned(utf8.GetLength())).c_str());
    std::printf("back to UTF-16 unchanged: %s\n", Utf8ToWS(utf8) == text ? "yes" : "no");

    std::printf("Int64ToStringW(-1) = ");
    Print(Int64ToStringW(-1));
    std::printf("StringToInt(\"42 apples\") = %d, IPToString(0x0100007F) = ",
                StringToInt(CLuStringW(L"42 apples")));
    Print(IPToString(0x0100007Fu));

    unsigned char key[4];
    if (StringToByte(CLuStringW(L" de ad BE EF "), key, 4) == 0)
        std::printf("\" de ad BE EF \" is not 4 bytes of hex (blanks inside count)\n");
    if (StringToByte(CLuStringW(L" deadBEEF "), key, 4) == 1)
        std::printf("\" deadBEEF \" decodes to %s\n",
                    format("%02x %02x %02x %02x", key[0], key[1], key[2], key[3]).c_str());

    std::vector<std::string> pieces;
    const int count = Split(" alpha, beta,, gamma ,", ",", pieces);
    std::printf("Split(\" alpha, beta,, gamma ,\", \",\") gives %d pieces:", count);
    for (const std::string& piece : pieces)
        std::printf(" [%s]", piece.c_str());
    std::vector<CLuStringW> parts;
    SplitPath(L"C:\\Users\\u\\\\AppData\\", parts, L"\\");
    std::printf("\nSplitPath of C:\\Users\\u\\\\AppData\\ keeps empty pieces: %zu pieces\n",
                parts.size());
}

}  // namespace tour
