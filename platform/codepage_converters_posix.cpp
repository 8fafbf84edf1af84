// The converter engine (see platform/codepage_converters_posix.h).
#include "platform/codepage_converters_posix.h"

#include <utility>
#include <vector>

namespace vidozir::platform {

namespace {

// One open converter per code page and thread, reset before each use.
class ConverterCache {
public:
    ~ConverterCache() {
        for (auto& entry : m_converters)
            ucnv_close(entry.second);
    }
    UConverter* Get(UINT codePage, const char* (*nameOf)(UINT)) {
        for (auto& entry : m_converters) {
            if (entry.first == codePage) {
                ucnv_reset(entry.second);
                return entry.second;
            }
        }
        const char* name = nameOf(codePage);
        if (!name)
            return nullptr;
        UErrorCode error = U_ZERO_ERROR;
        UConverter* converter = ucnv_open(name, &error);
        if (U_FAILURE(error))
            return nullptr;
        m_converters.emplace_back(codePage, converter);
        return converter;
    }

private:
    std::vector<std::pair<UINT, UConverter*>> m_converters;
};

}  // namespace

UConverter* ConverterFor(UINT codePage, const char* (*nameOf)(UINT)) {
    thread_local ConverterCache cache;
    return cache.Get(codePage, nameOf);
}

}  // namespace vidozir::platform
