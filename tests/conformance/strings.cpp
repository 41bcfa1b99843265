// The runtime's multibyte string routines, in the single-byte code page and in code page 932.
#include "conformance.h"

#include <mbctype.h>
#include <mbstring.h>

// The checks print what came back: a number, where a pointer points, the bytes of a buffer.
#define ok_int(expr, op, want, what)                                                                                   \
    do {                                                                                                               \
        int n_ = (expr);                                                                                               \
        ok(n_ op(want), what ", got %d\n", n_);                                                                        \
    } while (0)
#define ok_ptr(expr, want, what)                                                                                       \
    do {                                                                                                               \
        const void *p_ = (expr);                                                                                       \
        ok(p_ == (const void *)(want), what ", got %p for %p\n", p_, (const void *)(want));                            \
    } while (0)
#define ok_bytes(buf, want, cb, what) ok(memcmp(buf, want, cb) == 0, what ", got %s\n", Hex(buf, cb).c_str())

static std::string Hex(const unsigned char *pb, size_t cb)
{
    std::string s;
    char sz[4];
    for (size_t i = 0; i < cb; ++i) {
        snprintf(sz, sizeof(sz), "%02x ", pb[i]);
        s += sz;
    }
    return s;
}

static void test_MbString()
{
    unsigned char line[] = "  AddDS   a\tb  c ";
    const unsigned char *pszBlank = (const unsigned char *)" ";
    unsigned char *psz = _mbstok(line, pszBlank);
    ok(psz == line + 2 && strcmp((char *)psz, "AddDS") == 0, "_mbstok skips leading blanks, got %s\n",
       psz ? (char *)psz : "(null)");
    ok(line[7] == '\0' && line[8] == ' ', "_mbstok writes one NUL in place after the token, got %#x %#x\n", line[7],
       line[8]);
    psz = _mbstok(NULL, pszBlank);
    ok(psz && strcmp((char *)psz, "a\tb") == 0,
       "_mbstok: a run of blanks is one separator, tab is no delimiter, "
       "got %s\n",
       psz ? (char *)psz : "(null)");
    psz = _mbstok(NULL, pszBlank);
    ok(psz && strcmp((char *)psz, "c") == 0, "_mbstok: last token before trailing blank, got %s\n",
       psz ? (char *)psz : "(null)");
    ok_ptr(_mbstok(NULL, pszBlank), NULL, "_mbstok returns NULL after the last token");
    unsigned char blanks[] = "   ";
    ok_ptr(_mbstok(blanks, pszBlank), NULL, "_mbstok of blanks only returns NULL");

    ok_int(_mbscmp((const unsigned char *)"-?", (const unsigned char *)"-?"), ==, 0, "_mbscmp of equal texts");
    ok_int(_mbscmp((const unsigned char *)"-H", (const unsigned char *)"-h"), <, 0, "_mbscmp minds case: -H before -h");
    ok_int(_mbscmp((const unsigned char *)"-h ", (const unsigned char *)"-h"), >, 0, "_mbscmp: a longer text after");

    const unsigned char *pszA = (const unsigned char *)"zorb_ABC";
    ok_int(_mbsicmp(pszA, (const unsigned char *)"ZORB_abc"), ==, 0, "_mbsicmp ignores case");
    ok_int(_mbsicmp((const unsigned char *)"abc", (const unsigned char *)"ABD"), <, 0,
           "_mbsicmp orders abc before ABD");
    ok_int(_mbsicmp((const unsigned char *)"B", (const unsigned char *)"a"), >, 0, "_mbsicmp orders B after a");
    ok_int(_mbsicmp((const unsigned char *)"ab", (const unsigned char *)"abc"), <, 0, "_mbsicmp: a prefix sorts first");

    ok_int(_mbsnbicmp((const unsigned char *)"madds", (const unsigned char *)"MAxx", 2), ==, 0,
           "_mbsnbicmp compares only the first 2 bytes, without case");
    ok_int(_mbsnbicmp((const unsigned char *)"MRemoveDS", (const unsigned char *)"MAddDS", 2), !=, 0,
           "_mbsnbicmp sees a difference in the second byte");
    ok_int(_mbsnbicmp((const unsigned char *)"A", (const unsigned char *)"AddDS", 2), !=, 0,
           "_mbsnbicmp: a 1-byte text differs from a longer one over 2 bytes");

    unsigned char lower[] = "ZORB_{ABC}\\0000";
    ok(_mbslwr(lower) == lower && strcmp((char *)lower, "zorb_{abc}\\0000") == 0,
       "_mbslwr folds in place and returns its argument, got %s\n", lower);

    const unsigned char *pszHay = (const unsigned char *)"{ABC},{ABCD}";
    ok_ptr(_mbsstr(pszHay, (const unsigned char *)"{ABCD}"), pszHay + 6, "_mbsstr finds the substring");
    ok_ptr(_mbsstr(pszHay, (const unsigned char *)"{abc}"), NULL, "_mbsstr is case-sensitive");
    ok_ptr(_mbsstr(pszHay, (const unsigned char *)""), pszHay, "_mbsstr with an empty needle returns the haystack");

    const unsigned char *pszKey = (const unsigned char *)"{6BDD}\\0000\\x";
    ok_ptr(_mbsrchr(pszKey, '\\'), pszKey + 11, "_mbsrchr finds the last backslash");
    ok_ptr(_mbsrchr((const unsigned char *)"0000", '\\'), NULL, "_mbsrchr without the character returns NULL");

    unsigned char buf[8];
    memset(buf, 'X', sizeof(buf));
    ok_ptr(_mbsnbcpy(buf, (const unsigned char *)"ab", 5), buf, "_mbsnbcpy returns its destination");
    ok_bytes(buf, "ab\0\0\0XXX", 8, "_mbsnbcpy pads the rest of count with NULs and no further");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"abcde", 5);
    ok_bytes(buf, "abcdeXXX", 8, "_mbsnbcpy of a source as long as count writes no NUL");
}

// Code page 932: which bytes lead and trail, and what the routines do with a
// lead byte right before the terminator. They take the terminator for its trail
// byte and walk on (the buffers hold known bytes after it, so the checks stay
// in bounds); only the substring search and the bounded copy stop there.
static void test_MbLeadBytes()
{
    ok_int(_setmbcp(932), ==, 0, "_setmbcp(932) succeeds");
    // 0x81 to 0x9F and 0xE0 to 0xFC lead; 0x40 to 0x7E and 0x80 to 0xFC trail, backslash and bar among them.
    static const struct {
        unsigned c;
        int bLead, bTrail;
    } s_rgBytes[] = {{0x81, 1, 1}, {0x9F, 1, 1}, {0xE0, 1, 1}, {0xFC, 1, 1}, {0x80, 0, 1}, {0xA0, 0, 1},
                     {0xDF, 0, 1}, {0xFD, 0, 0}, {'A', 0, 1},  {0x40, 0, 1}, {0x5C, 0, 1}, {0x7C, 0, 1},
                     {0, 0, 0},    {0x1F, 0, 0}, {'?', 0, 0},  {':', 0, 0},  {0x7F, 0, 0}};
    for (const auto &byte : s_rgBytes) {
        int bLead = _ismbblead(byte.c) != 0, bTrail = _ismbbtrail(byte.c) != 0;
        ok(bLead == byte.bLead && bTrail == byte.bTrail, "byte %#x: lead %d and trail %d expected, got %d and %d\n",
           byte.c, byte.bLead, byte.bTrail, bLead, bTrail);
    }

    unsigned char lower[] = "AB\x81\0CDEF";
    _mbslwr(lower);
    ok(memcmp(lower, "ab\x81\0cdef", 9) == 0, "_mbslwr folds past a lead byte's terminator, got %s|%s\n", lower,
       lower + 4);

    const unsigned char rgbChr[] = "AB\x81\0C\\D";
    ok_ptr(_mbsrchr(rgbChr, '\\'), rgbChr + 5, "_mbsrchr walks past a lead byte's terminator");
    ok_int(_mbsicmp((const unsigned char *)"AB\x81\0X", (const unsigned char *)"AB\x81\0Y"), !=, 0,
           "_mbsicmp compares past a lead byte's terminator");

    unsigned char line[] = "AB\x81\0C D";
    unsigned char *psz = _mbstok(line, (const unsigned char *)" ");
    ok_ptr(psz, line, "_mbstok's first token is the line's start");
    ok_bytes(line, "AB\x81\0C\0D", 8, "_mbstok ends the first token at the blank past a lead byte's terminator");
    psz = _mbstok(NULL, (const unsigned char *)" ");
    ok_ptr(psz, line + 6, "_mbstok's next token is the one after that blank");

    const unsigned char rgbHay[] = "AB\x81\0CD";
    ok_ptr(_mbsstr(rgbHay, (const unsigned char *)"CD"), NULL, "_mbsstr stops at a lead byte's terminator");

    unsigned char buf[8];
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"AB\x81", 5);
    ok_bytes(buf, "AB\0\0\0XXX", 8, "_mbsnbcpy drops a lead byte before the terminator");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"A\x95\x5C", 2);
    ok_bytes(buf, "A\0XXXXXX", 8, "_mbsnbcpy puts a zero byte for a character count cuts in two");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"\x95\x5C_", 4);
    ok_bytes(buf, "\x95\x5C_\0XXXX", 8, "_mbsnbcpy copies a character whose trail byte is 0x5C");

    ok_int(_setmbcp(0), ==, 0, "_setmbcp(0) goes back to a single-byte code page");
    ok_int(_ismbblead(0x81), ==, 0, "the old code page is back, without lead bytes");
}

void func_strings()
{
    test_MbString();
    test_MbLeadBytes();
}
