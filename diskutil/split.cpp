// Cutting text into pieces at a separator: the trimming Split family and the
// piece-keeping SplitString and SplitPath.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "vidozir/diskutil.h"

namespace VidOzir {
namespace DiskUtil {

namespace {

// Removes spaces (only the character 32) from the end, then from the start.
void TrimSpaces(std::string& piece) {
    const size_t last = piece.find_last_not_of(' ');
    if (last == std::string::npos) {
        piece.clear();
        return;
    }
    piece.erase(last + 1);
    piece.erase(0, piece.find_first_not_of(' '));
}

// strtol and strtoul as they read with a 32-bit long (as on Windows), so
// clamping is the same on every platform: beyond the range gives the limit,
// and a minus sign negates the unsigned result.
int ReadLong(const std::string& piece) {
    errno = 0;
    const long long value = std::strtoll(piece.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return int(value);
}

unsigned int ReadUnsignedLong(const std::string& piece) {
    size_t position = 0;
    while (position < piece.size() && std::isspace(static_cast<unsigned char>(piece[position])))
        ++position;
    bool negative = false;
    if (position < piece.size() && (piece[position] == '-' || piece[position] == '+')) {
        negative = piece[position] == '-';
        ++position;
    }
    if (position >= piece.size() || !std::isdigit(static_cast<unsigned char>(piece[position])))
        return 0;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(piece.c_str() + position, nullptr, 10);
    if (errno == ERANGE || magnitude > UINT_MAX)
        return UINT_MAX;
    const unsigned int value = static_cast<unsigned int>(magnitude);
    return negative ? 0u - value : value;
}

template <typename Number, typename Read>
int SplitNumbers(std::string text, std::string separator, std::vector<Number>& numbers, Read read) {
    std::vector<std::string> pieces;
    const int count = Split(std::move(text), std::move(separator), pieces);
    for (const std::string& piece : pieces)
        numbers.push_back(read(piece));
    return count;
}

}  // namespace

// An empty separator cannot cut anything: the whole text, trimmed, is the one
// piece, as for a separator that does not occur (searching for the empty
// separator would never move forward).
int Split(std::string text, std::string separator, std::vector<std::string>& pieces) {
    if (separator.empty()) {
        TrimSpaces(text);
        if (text.empty())
            return 0;
        pieces.push_back(std::move(text));
        return 1;
    }
    text += separator;  // every piece, the last included, ends with a separator
    int count = 0;
    for (size_t position = 0; position < text.size();) {
        const size_t found = text.find(separator, position);
        std::string piece = text.substr(position, found - position);
        TrimSpaces(piece);
        if (!piece.empty()) {
            pieces.push_back(std::move(piece));
            ++count;
        }
        position = found + separator.size();
    }
    return count;
}

int Split(const CLuStringW& text, const CLuStringW& separator, std::vector<CLuStringW>& pieces) {
    pieces.clear();
    const CLuStringA narrowText = Utf8FromWS(text);
    const CLuStringA narrowSeparator = Utf8FromWS(separator);
    std::vector<std::string> narrowPieces;
    const int count =
        Split(std::string(narrowText.GetString(), size_t(narrowText.GetLength())),
              std::string(narrowSeparator.GetString(), size_t(narrowSeparator.GetLength())),
              narrowPieces);
    for (const std::string& piece : narrowPieces)
        pieces.push_back(Utf8ToWS(CLuStringA(piece.c_str())));
    return count;
}

int Split(std::string text, std::string separator, std::vector<int>& numbers) {
    return SplitNumbers(std::move(text), std::move(separator), numbers, ReadLong);
}

// Returns the number of pieces, as its sisters do (rather than always 0).
int Split(std::string text, std::string separator, std::vector<unsigned int>& numbers) {
    return SplitNumbers(std::move(text), std::move(separator), numbers, ReadUnsignedLong);
}

void SplitString(const CLuStringW& text, const CLuStringW& separator,
                 std::vector<CLuStringW>& pieces) {
    if (text.IsEmpty() || separator.IsEmpty()) {
        pieces.clear();
        return;
    }
    const CLuStringW working = text + separator;
    const int step = separator.GetLength();
    for (int position = 0; position < working.GetLength();) {
        const int found = working.Find(separator.GetString(), position);
        pieces.push_back(working.Mid(position, found - position));
        position = found + step;
    }
}

// An empty separator matches nowhere: the text is the one piece.
void SplitPath(const CLuStringW& text, std::vector<CLuStringW>& pieces, const wchar_t* separator) {
    if (text.IsEmpty() || !separator)
        return;
    int position = 0;
    while (true) {
        const int found = *separator ? text.Find(separator, position) : -1;
        if (found < 0) {
            if (position < text.GetLength())
                pieces.push_back(text.Mid(position));
            return;
        }
        pieces.push_back(text.Mid(position, found - position));
        position = found + 1;
    }
}

}  // namespace DiskUtil
}  // namespace VidOzir
