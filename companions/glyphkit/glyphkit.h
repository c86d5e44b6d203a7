/* Glyphkit: a small Unicode services library (libglyphkit.so). Character categories and
   statistics, case and look-alike folding, tokenisation and charset conversion. Every function
   has C linkage, never throws and is safe to call from any thread.

   Buffers. Text goes in as (pointer, count) in its own units: bytes for UTF-8 and the other
   byte charsets, char16_t for UTF-16, char32_t for UTF-32. Results go out the same way, with no
   terminator, through (out, size): *size is the capacity of out in units on entry and the units
   written on return. A null out asks for the size alone (*size receives it, result 0); an out too
   small gets GK_NO_ROOM with *size set to the units needed and nothing written.

   Classification and case follow Unicode 15.1: general categories (folded into the GK_CAT_*
   values below), the White_Space and Script properties and the simple lower-case mappings. */
#ifndef GLYPHKIT_GLYPHKIT_H
#define GLYPHKIT_GLYPHKIT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(GLYPHKIT_BUILD)
#define GK_API __attribute__((visibility("default")))
#else
#define GK_API
#endif

/* Results. */
#define GK_OK 0
#define GK_BAD_ARGUMENT (-1) /* a required pointer is null */
#define GK_NO_ROOM (-2)      /* the output is too small; *size holds what is needed */
#define GK_ILL_FORMED (-3)   /* the input is not valid in its encoding */
#define GK_UNSUPPORTED (-4)  /* unknown charset */
#define GK_NO_MEMORY (-5)

/* Categories of GetUnicodeCategory. */
#define GK_CAT_OTHER 0   /* unassigned, surrogate, private use, beyond U+10FFFF (Cn Cs Co) */
#define GK_CAT_UPPER 1   /* upper-case letter (Lu) */
#define GK_CAT_LOWER 2   /* lower-case letter (Ll) */
#define GK_CAT_LETTER 3  /* title-case, modifier and uncased letters (Lt Lm Lo) */
#define GK_CAT_MARK 4    /* combining mark (Mn Mc Me) */
#define GK_CAT_DIGIT 5   /* digits and other numbers (Nd Nl No) */
#define GK_CAT_SPACE 6   /* white space: the White_Space property, tab to CR included */
#define GK_CAT_PUNCT 7   /* punctuation (P*) */
#define GK_CAT_SYMBOL 8  /* currency, math, modifier and other symbols, emoji (S*) */
#define GK_CAT_CONTROL 9 /* other controls and invisible format characters (Cc Cf) */

/* "1.2.0" and the authors, as static strings. */
GK_API const char* GetLibVersion(void);
GK_API const char* GetLibAuthor(void);

GK_API int32_t GetUnicodeCategory(uint32_t codePoint);

/* Character statistics as a NUL-terminated JSON document, for example
     {"Total":5,"Groups":{"Letter":4,"Space":1},"Scripts":{"Common":1,"Latin":4}}
   Groups: Letter, Mark, Digit, Space, Punctuation, Symbol, Control, Other (ill-formed input
   counts one Other per byte or unit). Scripts: the Script property of each letter and mark
   (long names such as "Latin" or "Old_Italic"), Common for every other character. Only non-zero
   counts appear, names in ascending order. The _v2 forms add "Cases":{"Upper":u,"Lower":l}.
   Here *size counts the terminator too. */
GK_API int32_t GetUTF8StringInfo(const char* text, size_t length, char* json, size_t* size);
GK_API int32_t GetUTF32StringInfo(const uint32_t* text, size_t count, char* json, size_t* size);
GK_API int32_t GetUTF8StringInfo_v2(const char* text, size_t length, char* json, size_t* size);
GK_API int32_t GetUTF32StringInfo_v2(const uint32_t* text, size_t count, char* json, size_t* size);

/* Simple lower-casing (the Unicode simple lower-case mappings). The Regex forms leave a backslash
   and the character after it alone, so that escapes such as \W or \S keep their meaning. */
GK_API int32_t TolowerUTF8(const char* text, size_t length, char* out, size_t* size);
GK_API int32_t TolowerUTF8Regex(const char* text, size_t length, char* out, size_t* size);
GK_API int32_t TolowerUTF32(const uint32_t* text, size_t count, uint32_t* out, size_t* size);
GK_API int32_t TolowerUTF32Regex(const uint32_t* text, size_t count, uint32_t* out, size_t* size);

/* 1 or 0 (GK_ILL_FORMED, GK_BAD_ARGUMENT on bad input). IsSameCase: all cased letters share one
   case (also when there are none). */
GK_API int32_t IsSameCaseUTF8(const char* text, size_t length);
GK_API int32_t HasLowerCaseUTF8(const char* text, size_t length);
GK_API int32_t HasUpperCaseUTF8(const char* text, size_t length);
GK_API int32_t IsSameCaseUTF32(const uint32_t* text, size_t count);
GK_API int32_t HasLowerCaseUTF32(const uint32_t* text, size_t count);
GK_API int32_t HasUpperCaseUTF32(const uint32_t* text, size_t count);

/* Look-alike folding: Greek and Cyrillic letters that look like Latin ones and full-width ASCII
   become ASCII. v2 also drops invisible characters (soft hyphen, zero-width space and joiners,
   word joiner, BOM), strips accents from Latin-1 letters and turns every space into U+0020. */
GK_API int32_t VisualNormalizationUTF8_v1(const char* text, size_t length, char* out, size_t* size);
GK_API int32_t VisualNormalizationUTF32_v1(const uint32_t* text, size_t count, uint32_t* out,
                                           size_t* size);
GK_API int32_t VisualNormalizationUTF8_v2(const char* text, size_t length, char* out, size_t* size);
GK_API int32_t VisualNormalizationUTF32_v2(const uint32_t* text, size_t count, uint32_t* out,
                                           size_t* size);

/* Compatibility composition for the covered range: a Latin-1 base letter followed by a
   combining grave, acute, circumflex, tilde, diaeresis, ring or cedilla becomes the precomposed
   letter; full-width ASCII, the Latin ligatures U+FB00..U+FB06 and the compatibility spaces
   become their plain forms. */
GK_API int32_t FormNormalizationUTF8(const char* text, size_t length, char* out, size_t* size);

/* Tokens are runs of letters, marks and digits. IsTokenBoundary: 1 when a token starts or ends
   between the two code points. Tokenize writes (byte offset, byte length) pairs into tokens;
   *count is the capacity in pairs on entry and the pairs written (or needed) on return. v2 also
   splits where letters meet digits and where the script of the letters changes. */
GK_API int32_t IsTokenBoundary(uint32_t previous, uint32_t next);
GK_API int32_t TokenizeUTF8_v1(const char* text, size_t length, uint32_t* tokens, size_t* count);
GK_API int32_t TokenizeUTF8_v2(const char* text, size_t length, uint32_t* tokens, size_t* count);

/* Charsets (case-insensitive): utf-8, utf-16 (little-endian unless a byte order mark says
   otherwise), utf-16le, utf-16be, utf-32, utf-32le, utf-32be, utf-7 (decoding only),
   iso-8859-1 (latin1), us-ascii (ascii). ConvertSupported: 1 when `charset` can be decoded. */
GK_API int32_t ConvertSupported(const char* charset);
GK_API int32_t Convert(const char* fromCharset, const char* toCharset, const char* input,
                       size_t length, char* out, size_t* size);
GK_API int32_t ConvertToUTF8(const char* fromCharset, const char* input, size_t length, char* out,
                             size_t* size);
GK_API int32_t ConvertToUTF16(const char* fromCharset, const char* input, size_t length,
                              uint16_t* out, size_t* size);
GK_API int32_t ConvertToUTF32(const char* fromCharset, const char* input, size_t length,
                              uint32_t* out, size_t* size);

/* Between the UTF forms; ill-formed input (unpaired surrogates included) gives GK_ILL_FORMED. */
GK_API int32_t ConvertFromUTF16ToUTF8(const uint16_t* text, size_t count, char* out, size_t* size);
GK_API int32_t ConvertFromUTF32ToUTF8(const uint32_t* text, size_t count, char* out, size_t* size);
GK_API int32_t ConvertFromUTF8ToUTF16(const char* text, size_t length, uint16_t* out, size_t* size);
GK_API int32_t ConvertFromUTF32ToUTF16(const uint32_t* text, size_t count, uint16_t* out,
                                       size_t* size);
GK_API int32_t ConvertFromUTF7ToUTF32(const char* text, size_t length, uint32_t* out, size_t* size);
GK_API int32_t ConvertFromUTF8ToUTF32(const char* text, size_t length, uint32_t* out, size_t* size);
GK_API int32_t ConvertFromUTF16ToUTF32(const uint16_t* text, size_t count, uint32_t* out,
                                       size_t* size);

#ifdef __cplusplus
}
#endif

#endif /* GLYPHKIT_GLYPHKIT_H */
