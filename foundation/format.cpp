#include "foundation/format.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace vidozir::detail {

namespace {

struct Directive {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    int size = 0;  // -2 hh, -1 h, 0 none, 1 l, 2 ll/I64, 3 size_t/ptrdiff_t/intmax
    char conv = 0;
};

// Narrow text meeting wide output is decoded as UTF-8; a byte that does not
// start a valid sequence stands for itself (Latin-1), so nothing is dropped.
void AppendNarrowAsWide(std::u16string& out, const char* text, int limit) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    int i = 0;
    while ((limit < 0 || i < limit) && p[i] != 0) {
        unsigned c = p[i];
        int extra = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
        if (c >= 0x80 && extra > 0 && (limit < 0 || i + extra < limit)) {
            unsigned cp = c & (0x3F >> extra);
            int k = 1;
            for (; k <= extra && (p[i + k] & 0xC0) == 0x80; ++k) {
                cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            bool valid = k > extra &&
                         !(extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) &&
                         !(extra == 3 && (cp < 0x10000 || cp > 0x10FFFF));
            if (valid) {
                if (cp >= 0x10000) {
                    cp -= 0x10000;
                    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
                    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
                } else {
                    out.push_back(static_cast<char16_t>(cp));
                }
                i += extra + 1;
                continue;
            }
        }
        out.push_back(static_cast<char16_t>(c));
        ++i;
    }
}

// UTF-16 text meeting narrow output is encoded as UTF-8 (an unpaired
// surrogate as U+FFFD).
void AppendWideAsNarrow(std::string& out, const wchar_t* text, int limit) {
    for (int i = 0; (limit < 0 || i < limit) && text[i] != 0; ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]) & 0xFFFF;
        if (c >= 0xD800 && c < 0xDC00 && (limit < 0 || i + 1 < limit)) {
            uint32_t low = static_cast<uint32_t>(text[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

template <class Out>
void Pad(Out& out, int count, char fill) {
    if (count > 0) {
        out.append(static_cast<size_t>(count), static_cast<typename Out::value_type>(fill));
    }
}

// Places an already-converted body (ASCII) with sign/prefix, precision and width.
template <class Out>
void EmitNumber(Out& out, const Directive& directive, const char* prefix, const std::string& digits,
                bool integer) {
    std::string body = digits;
    if (integer && directive.precision >= 0) {
        if (directive.precision == 0 && body == "0") {
            body.clear();
        }
        if (static_cast<int>(body.size()) < directive.precision) {
            body.insert(0, static_cast<size_t>(directive.precision) - body.size(), '0');
        }
    }
    std::string pre = prefix;
    int total = static_cast<int>(pre.size() + body.size());
    bool zeroPad = directive.zero && !directive.left && !(integer && directive.precision >= 0);
    if (zeroPad && total < directive.width) {
        body.insert(0, static_cast<size_t>(directive.width - total), '0');
        total = directive.width;
    }
    if (!directive.left) {
        Pad(out, directive.width - total, ' ');
    }
    for (char c : pre) {
        out.push_back(static_cast<typename Out::value_type>(c));
    }
    for (char c : body) {
        out.push_back(static_cast<typename Out::value_type>(c));
    }
    if (directive.left) {
        Pad(out, directive.width - total, ' ');
    }
}

std::string ToDigits(unsigned long long value, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char buffer[72];
    int n = 0;
    do {
        buffer[n++] = set[value % base];
        value /= base;
    } while (value != 0);
    std::string digits(buffer, static_cast<size_t>(n));
    std::reverse(digits.begin(), digits.end());
    return digits;
}

long long SignedArg(const Directive& directive, va_list& args) {
    switch (directive.size) {
        case -2:
            return static_cast<signed char>(va_arg(args, int));
        case -1:
            return static_cast<short>(va_arg(args, int));
        case 1:
            return va_arg(args, long);
        case 2:
            return va_arg(args, long long);
        case 3:
            return static_cast<long long>(va_arg(args, ptrdiff_t));
        default:
            return va_arg(args, int);
    }
}

unsigned long long UnsignedArg(const Directive& directive, va_list& args) {
    switch (directive.size) {
        case -2:
            return static_cast<unsigned char>(va_arg(args, unsigned));
        case -1:
            return static_cast<unsigned short>(va_arg(args, unsigned));
        case 1:
            return va_arg(args, unsigned long);
        case 2:
            return va_arg(args, unsigned long long);
        case 3:
            return va_arg(args, size_t);
        default:
            return va_arg(args, unsigned);
    }
}

template <class Out>
void AppendText(Out& out, const Directive& directive, const Out& text) {
    int length = static_cast<int>(text.size());
    if (!directive.left) {
        Pad(out, directive.width - length, ' ');
    }
    out += text;
    if (directive.left) {
        Pad(out, directive.width - length, ' ');
    }
}

void ConvertText(std::u16string& out, bool wide, const void* p, int limit) {
    if (wide) {
        const auto* w = static_cast<const wchar_t*>(p);
        for (int i = 0; (limit < 0 || i < limit) && w[i] != 0; ++i) {
            out.push_back(static_cast<char16_t>(w[i]));
        }
    } else {
        AppendNarrowAsWide(out, static_cast<const char*>(p), limit);
    }
}

void ConvertText(std::string& out, bool wide, const void* p, int limit) {
    if (wide) {
        AppendWideAsNarrow(out, static_cast<const wchar_t*>(p), limit);
    } else {
        const auto* n = static_cast<const char*>(p);
        for (int i = 0; (limit < 0 || i < limit) && n[i] != 0; ++i) {
            out.push_back(n[i]);
        }
    }
}

// `argList` points at a va_list of our own: va_list is an array type on some
// ABIs, so it is passed by address to be consumed across helper calls.
template <class Out, class Ch>
void FormatImpl(Out& out, const Ch* format, va_list* argList) {
    va_list& args = *argList;
    constexpr bool kWideOut = sizeof(typename Out::value_type) == 2;
    const Ch* p = format;
    while (*p != 0) {
        if (*p != '%') {
            out.push_back(static_cast<typename Out::value_type>(*p++));
            continue;
        }
        const Ch* start = p++;
        if (*p == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        Directive directive;
        for (;; ++p) {
            if (*p == '-')
                directive.left = true;
            else if (*p == '+')
                directive.plus = true;
            else if (*p == ' ')
                directive.space = true;
            else if (*p == '#')
                directive.alt = true;
            else if (*p == '0')
                directive.zero = true;
            else
                break;
        }
        if (*p == '*') {
            directive.width = va_arg(args, int);
            if (directive.width < 0) {
                directive.left = true;
                directive.width = -directive.width;
            }
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') {
                directive.width = directive.width * 10 + (*p++ - '0');
            }
        }
        if (*p == '.') {
            ++p;
            directive.precision = 0;
            if (*p == '*') {
                directive.precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9') {
                    directive.precision = directive.precision * 10 + (*p++ - '0');
                }
            }
        }
        // 0 none, 'h', 'l' for the text width of %s/%c; directive.size for numbers.
        char textWidth = 0;
        if (*p == 'h') {
            ++p;
            directive.size = -1;
            textWidth = 'h';
            if (*p == 'h') {
                ++p;
                directive.size = -2;
            }
        } else if (*p == 'l') {
            ++p;
            directive.size = 1;
            textWidth = 'l';
            if (*p == 'l') {
                ++p;
                directive.size = 2;
            }
        } else if (*p == 'w') {
            ++p;
            textWidth = 'l';
        } else if (*p == 'L' || *p == 'q') {
            ++p;
            directive.size = 2;
        } else if (*p == 'z' || *p == 't' || *p == 'j') {
            directive.size = *p == 'j' ? 2 : 3;
            ++p;
        } else if (*p == 'I') {
            if (p[1] == '6' && p[2] == '4') {
                p += 3;
                directive.size = 2;
            } else if (p[1] == '3' && p[2] == '2') {
                p += 3;
            } else {
                ++p;
                directive.size = 3;
            }
        }
        directive.conv = static_cast<char>(*p);
        if (*p != 0) {
            ++p;
        }
        switch (directive.conv) {
            case 'd':
            case 'i': {
                long long v = SignedArg(directive, args);
                unsigned long long magnitude = v < 0 ? 0ull - static_cast<unsigned long long>(v)
                                                     : static_cast<unsigned long long>(v);
                const char* sign = v < 0 ? "-" : directive.plus ? "+" : directive.space ? " " : "";
                EmitNumber(out, directive, sign, ToDigits(magnitude, 10, false), true);
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                unsigned long long v = UnsignedArg(directive, args);
                unsigned base = directive.conv == 'u' ? 10 : directive.conv == 'o' ? 8 : 16;
                const char* prefix = "";
                if (directive.alt && v != 0) {
                    prefix = directive.conv == 'x'   ? "0x"
                             : directive.conv == 'X' ? "0X"
                             : directive.conv == 'o' ? "0"
                                                     : "";
                }
                EmitNumber(out, directive, prefix, ToDigits(v, base, directive.conv == 'X'), true);
                break;
            }
            case 'p': {
                auto v = reinterpret_cast<uintptr_t>(va_arg(args, void*));
                std::string digits = ToDigits(v, 16, true);
                digits.insert(0, sizeof(void*) * 2 - digits.size(), '0');
                EmitNumber(out, directive, "", digits, false);
                break;
            }
            case 'c':
            case 'C': {
                int unit = va_arg(args, int);
                bool wideArg = directive.conv == 'C'
                                   ? !kWideOut
                                   : (textWidth == 'l' || (kWideOut && textWidth != 'h'));
                Out text;
                if (wideArg) {
                    wchar_t w[2] = {static_cast<wchar_t>(unit), 0};
                    ConvertText(text, true, w, -1);
                } else {
                    char n[2] = {static_cast<char>(unit), 0};
                    ConvertText(text, false, n, -1);
                }
                if (unit == 0) {
                    text.assign(1, 0);
                }
                AppendText(out, directive, text);
                break;
            }
            case 's':
            case 'S': {
                const void* arg = va_arg(args, const void*);
                bool wideArg = directive.conv == 'S'
                                   ? !kWideOut
                                   : (textWidth == 'l' || (kWideOut && textWidth != 'h'));
                Out text;
                if (arg == nullptr) {
                    ConvertText(text, false, "(null)", directive.precision);
                } else {
                    ConvertText(text, wideArg, arg, directive.precision);
                }
                AppendText(out, directive, text);
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A': {
                double v = directive.size == 2 ? static_cast<double>(va_arg(args, long double))
                                               : va_arg(args, double);
                std::string c_format = "%";
                if (directive.left)
                    c_format += '-';
                if (directive.plus)
                    c_format += '+';
                if (directive.space)
                    c_format += ' ';
                if (directive.alt)
                    c_format += '#';
                if (directive.zero)
                    c_format += '0';
                c_format += std::to_string(directive.width);
                if (directive.precision >= 0) {
                    c_format += '.' + std::to_string(directive.precision);
                }
                c_format += directive.conv;
                int n = std::snprintf(nullptr, 0, c_format.c_str(), v);
                std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
                std::snprintf(&text[0], text.size() + 1, c_format.c_str(), v);
                for (char c : text) {
                    out.push_back(static_cast<typename Out::value_type>(c));
                }
                break;
            }
            case 'n':
                (void)va_arg(args, void*);  // writing through it is never wanted
                break;
            default:
                // An unknown conversion is copied through as written.
                for (const Ch* q = start; q != p; ++q) {
                    out.push_back(static_cast<typename Out::value_type>(*q));
                }
                break;
        }
    }
}

}  // namespace

void FormatAppend(std::u16string& out, const wchar_t* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    FormatImpl(out, format, &copy);
    va_end(copy);
}

void FormatAppend(std::string& out, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    FormatImpl(out, format, &copy);
    va_end(copy);
}

}  // namespace vidozir::detail
