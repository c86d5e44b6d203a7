// TextUrlScanner: the plain-text URL scanner of the URL finder (url_finder.h lists what counts
// as a URL in text). One forward pass over the text: only a word that holds a "." (a
// www. or bare host) or ends before a ":" (a scheme) can start a URL, so the scan jumps from one
// such byte to the next and takes the word around it. A scanner keeps a view of the caller's
// text, which must outlive it; one scanner serves one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace host::url_finding {

class TextUrlScanner {
  public:
    // Without bareHosts only URLs with a scheme or a www. host count (script text, where
    // "window.open" is code, not a host).
    explicit TextUrlScanner(std::string_view text, bool bareHosts = true);

    // The next URL of the text, as the offsets [*start, *end); false when no URL is left. URLs
    // come in order and do not overlap.
    bool Next(size_t* start, size_t* end);

    // Goes on from pos at the earliest (after a URL that was joined across a line break).
    void SkipTo(size_t pos) {
        if (pos > m_pos) m_pos = pos;
    }

  private:
    size_t Find(unsigned char c, size_t pos) const;
    std::string_view Text(size_t from, size_t to) const;
    size_t CharAt(size_t pos, uint32_t* cp) const;
    size_t NonAsciiCharAt(size_t pos, uint32_t* cp) const;
    bool GluedToWord(size_t word) const;
    size_t SchemeLength(size_t word, size_t wordEnd) const;
    size_t HostEnd(size_t pos) const;
    size_t RestEnd(size_t p) const;
    size_t Trim(size_t start, size_t floor, size_t end) const;
    bool HostHasName(size_t from, size_t to) const;
    size_t SchemeUrl(size_t start, size_t authority) const;
    size_t WwwUrl(size_t start) const;
    size_t BareUrl(size_t word, size_t wordEnd) const;

    const unsigned char* m_text;
    size_t m_size;
    bool m_bareHosts;
    size_t m_pos = 0;  // where the scan goes on
    size_t m_dot;      // the next "." at or after m_pos, or m_size
    size_t m_colon;    // the next ":" at or after m_pos, or m_size
};

}  // namespace host::url_finding
