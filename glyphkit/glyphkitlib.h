// GlyphkitLib: the run-time binding of the Unicode services library. Load opens the library and
// resolves its 37 entry points by name; the binding keeps the handle and the addresses until the
// next Load, Reset or destruction. The module only binds: it never calls the library through it.
// Not thread-safe: load before sharing, as the charset conversion object does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ascommon {

class GlyphkitLib {
  public:
    static constexpr int kEntryPointCount = 37;

    // Status values.
    static constexpr int32_t kLoaded = 0;       // library loaded, every entry point resolved
    static constexpr int32_t kNotLoaded = -4;   // no library held
    static constexpr int32_t kIncomplete = -5;  // library held, at least one entry point missing

    GlyphkitLib();
    ~GlyphkitLib();
    GlyphkitLib(const GlyphkitLib&) = delete;
    GlyphkitLib& operator=(const GlyphkitLib&) = delete;

    // Releases any library held, then opens the one at utf8Path and resolves the entry points in
    // table order. Returns the new status: kLoaded, kNotLoaded (the library could not be opened;
    // nothing is held) or kIncomplete (the library stays loaded with the entry points found).
    int32_t Load(const char* utf8Path);
    // Releases any library held; status kNotLoaded, handle and entry points null.
    void Reset();

    int32_t GetStatus() const { return m_status; }
    void* Module() const { return m_module; }
    // The resolved address of entry point i (table order), null when unresolved or out of range.
    void* EntryPoint(int i) const;
    // The exported name of entry point i, null out of range.
    static const char* EntryPointName(int i);

  private:
    friend struct GlyphkitLibLayout;
    void Clear();

    int32_t m_status;
    void* m_module;
    void* m_entryPoints[kEntryPointCount];
};

}  // namespace ascommon
