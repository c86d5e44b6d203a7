// GlyphkitLib: binding of the Unicode services library through the platform loader.
#include "glyphkit/glyphkitlib.h"

#include <cstddef>

#include "common/platform.h"

namespace ascommon {

namespace {

// The library's exports, in the order the binding stores them.
constexpr const char* kEntryPointNames[GlyphkitLib::kEntryPointCount] = {
    "GetLibVersion",
    "GetLibAuthor",
    "GetUnicodeCategory",
    "GetUTF8StringInfo",
    "GetUTF32StringInfo",
    "GetUTF8StringInfo_v2",
    "GetUTF32StringInfo_v2",
    "TolowerUTF8",
    "TolowerUTF8Regex",
    "TolowerUTF32",
    "TolowerUTF32Regex",
    "IsSameCaseUTF8",
    "HasLowerCaseUTF8",
    "HasUpperCaseUTF8",
    "IsSameCaseUTF32",
    "HasLowerCaseUTF32",
    "HasUpperCaseUTF32",
    "VisualNormalizationUTF8_v1",
    "VisualNormalizationUTF32_v1",
    "VisualNormalizationUTF8_v2",
    "VisualNormalizationUTF32_v2",
    "FormNormalizationUTF8",
    "IsTokenBoundary",
    "TokenizeUTF8_v1",
    "TokenizeUTF8_v2",
    "ConvertSupported",
    "Convert",
    "ConvertToUTF8",
    "ConvertToUTF16",
    "ConvertToUTF32",
    "ConvertFromUTF16ToUTF8",
    "ConvertFromUTF32ToUTF8",
    "ConvertFromUTF8ToUTF16",
    "ConvertFromUTF32ToUTF16",
    "ConvertFromUTF7ToUTF32",
    "ConvertFromUTF8ToUTF32",
    "ConvertFromUTF16ToUTF32",
};

}  // namespace

GlyphkitLib::GlyphkitLib() {
    Clear();
}

GlyphkitLib::~GlyphkitLib() {
    Reset();
}

void GlyphkitLib::Clear() {
    m_status = kNotLoaded;
    m_module = nullptr;
    for (void*& entry : m_entryPoints) entry = nullptr;
}

void GlyphkitLib::Reset() {
    if (m_module != nullptr) platform::CloseLibrary(m_module);
    Clear();
}

int32_t GlyphkitLib::Load(const char* utf8Path) {
    Reset();
    m_module = platform::OpenLibrary(utf8Path);
    if (m_module == nullptr) {
        Clear();
        return m_status;
    }
    bool complete = true;
    for (int i = 0; i < kEntryPointCount; ++i) {
        m_entryPoints[i] = platform::LibrarySymbol(m_module, kEntryPointNames[i]);
        if (m_entryPoints[i] == nullptr) complete = false;
    }
    m_status = complete ? kLoaded : kIncomplete;
    return m_status;
}

void* GlyphkitLib::EntryPoint(int i) const {
    return (i >= 0 && i < kEntryPointCount) ? m_entryPoints[i] : nullptr;
}

const char* GlyphkitLib::EntryPointName(int i) {
    return (i >= 0 && i < kEntryPointCount) ? kEntryPointNames[i] : nullptr;
}

// The binding's layout: status, handle, then the entry points in table order.
struct GlyphkitLibLayout {
    static_assert(offsetof(GlyphkitLib, m_status) == 0, "status first");
    static_assert(offsetof(GlyphkitLib, m_module) == sizeof(void*), "handle after the status");
    static_assert(offsetof(GlyphkitLib, m_entryPoints) == 2 * sizeof(void*), "entry points last");
    static_assert(sizeof(GlyphkitLib) == (2 + GlyphkitLib::kEntryPointCount) * sizeof(void*),
                  "no trailing fields");
};

}  // namespace ascommon
