// The runtime's multibyte string routines for the ANSI code page. The code page
// is single-byte with ASCII case folding (the "C" locale) unless _setmbcp selects
// 932, whose lead bytes start two-byte characters: a trail byte such as 0x5C is
// never taken for a character of its own.
//
// As in msvcrt, a lead byte takes the byte after it as its trail byte even when
// that is the terminator: the routines that walk character by character (the
// token, comparison, fold and last-character search) then walk on past the end,
// so that a sanitizer sees a caller that hands them such a text. The substring
// search and the bounded copy work on bytes up to the terminator.
#include "standin.h"

#include <mbstring.h>

#include <string.h>

static int s_nCodePage = 0;
static unsigned char *s_pTokNext = nullptr;

extern "C" int _setmbcp(int codepage)
{
    if (codepage != 0 && codepage != 932 && codepage != 1252)
        return -1;
    s_nCodePage = codepage == 932 ? 932 : 0;
    return 0;
}

extern "C" int _ismbblead(unsigned int c)
{
    if (s_nCodePage != 932)
        return 0;
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

extern "C" int _ismbbtrail(unsigned int c)
{
    if (s_nCodePage != 932)
        return 0;
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// Length in bytes of the character at p: 2 for a lead byte, whatever follows it.
static size_t CharLen(const unsigned char *p)
{
    return _ismbblead(p[0]) ? 2 : 1;
}

static unsigned int CharAt(const unsigned char *p)
{
    return CharLen(p) == 2 ? (static_cast<unsigned int>(p[0]) << 8) | p[1] : p[0];
}

static unsigned int FoldChar(unsigned int c)
{
    if (c <= 0xFF)
        return ZulStandinFoldAscii(static_cast<unsigned char>(c));
    if (s_nCodePage == 932 && c >= 0x8260 && c <= 0x8279) // full-width A to Z
        return c + 0x21;
    return c;
}

static bool IsDelim(unsigned int c, const unsigned char *delim)
{
    for (const unsigned char *d = delim; *d; d += CharLen(d))
        if (CharAt(d) == c)
            return true;
    return false;
}

extern "C" unsigned char *_mbstok(unsigned char *str, const unsigned char *delim)
{
    unsigned char *p = str ? str : s_pTokNext;
    if (!p)
        return nullptr;
    while (*p && IsDelim(CharAt(p), delim))
        p += CharLen(p);
    if (!*p) {
        s_pTokNext = nullptr;
        return nullptr;
    }
    unsigned char *token = p;
    while (*p && !IsDelim(CharAt(p), delim))
        p += CharLen(p);
    if (*p) {
        size_t n = CharLen(p);
        for (size_t i = 0; i < n; i++)
            p[i] = '\0';
        s_pTokNext = p + n;
    } else {
        s_pTokNext = nullptr;
    }
    return token;
}

static int Compare(const unsigned char *s1, const unsigned char *s2, size_t maxBytes, bool bFold)
{
    size_t bytes = 0;
    while (bytes < maxBytes) {
        unsigned int c1 = CharAt(s1);
        unsigned int c2 = CharAt(s2);
        if (bFold) {
            c1 = FoldChar(c1);
            c2 = FoldChar(c2);
        }
        if (c1 != c2)
            return c1 < c2 ? -1 : 1;
        if (c1 == 0)
            return 0;
        size_t n = CharLen(s1);
        s1 += n;
        s2 += CharLen(s2);
        bytes += n;
    }
    return 0;
}

extern "C" int _mbscmp(const unsigned char *s1, const unsigned char *s2)
{
    return Compare(s1, s2, static_cast<size_t>(-1), false);
}

extern "C" int _mbsicmp(const unsigned char *s1, const unsigned char *s2)
{
    return Compare(s1, s2, static_cast<size_t>(-1), true);
}

extern "C" int _mbsnbicmp(const unsigned char *s1, const unsigned char *s2, size_t count)
{
    return Compare(s1, s2, count, true);
}

extern "C" unsigned char *_mbslwr(unsigned char *str)
{
    for (unsigned char *p = str; *p;) {
        size_t n = CharLen(p);
        unsigned int c = FoldChar(CharAt(p));
        if (n == 2) {
            p[0] = static_cast<unsigned char>(c >> 8);
            p[1] = static_cast<unsigned char>(c);
        } else {
            p[0] = static_cast<unsigned char>(c);
        }
        p += n;
    }
    return str;
}

extern "C" unsigned char *_mbsstr(const unsigned char *str, const unsigned char *substr)
{
    size_t n = strlen(reinterpret_cast<const char *>(substr));
    for (const unsigned char *p = str;; p += CharLen(p)) {
        if (strncmp(reinterpret_cast<const char *>(p), reinterpret_cast<const char *>(substr), n) == 0)
            return const_cast<unsigned char *>(p);
        if (!p[0] || !p[CharLen(p) - 1])
            return nullptr;
    }
}

extern "C" unsigned char *_mbsrchr(const unsigned char *str, unsigned int c)
{
    const unsigned char *found = nullptr;
    for (const unsigned char *p = str;; p += CharLen(p)) {
        if (CharAt(p) == c)
            found = p;
        if (!*p)
            break;
    }
    return const_cast<unsigned char *>(found);
}

// Bytes up to the terminator or count; a lead byte left last (its character
// cut by count, or a lone one before the terminator) becomes a zero byte.
extern "C" unsigned char *_mbsnbcpy(unsigned char *dest, const unsigned char *src, size_t count)
{
    size_t i = 0;
    bool bLead = false;
    for (; i < count && src[i]; i++) {
        bLead = !bLead && _ismbblead(src[i]);
        dest[i] = src[i];
    }
    if (bLead)
        dest[i - 1] = '\0';
    while (i < count)
        dest[i++] = '\0';
    return dest;
}
