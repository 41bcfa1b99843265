// The runtime's multibyte string routines, in the single-byte code page and in code page 932.
#include "conformance.h"

#include <mbctype.h>
#include <mbstring.h>

static void test_MbString()
{
    unsigned char line[] = "  AddDS   a\tb  c ";
    const unsigned char *pszBlank = (const unsigned char *)" ";
    unsigned char *psz = _mbstok(line, pszBlank);
    ok(psz == line + 2 && strcmp((char *)psz, "AddDS") == 0, "_mbstok skips leading blanks, got %s\n",
       psz ? (char *)psz : "(null)");
    ok(line[7] == '\0' && line[8] == ' ', "_mbstok writes one NUL in place after the token\n");
    psz = _mbstok(NULL, pszBlank);
    ok(psz && strcmp((char *)psz, "a\tb") == 0, "_mbstok: a run of blanks is one separator, tab is no delimiter, "
       "got %s\n", psz ? (char *)psz : "(null)");
    psz = _mbstok(NULL, pszBlank);
    ok(psz && strcmp((char *)psz, "c") == 0, "_mbstok: last token before trailing blank, got %s\n",
       psz ? (char *)psz : "(null)");
    ok(_mbstok(NULL, pszBlank) == NULL, "_mbstok returns NULL after the last token\n");
    unsigned char blanks[] = "   ";
    ok(_mbstok(blanks, pszBlank) == NULL, "_mbstok of blanks only returns NULL\n");

    const unsigned char *pszA = (const unsigned char *)"zorb_ABC";
    ok(_mbsicmp(pszA, (const unsigned char *)"ZORB_abc") == 0, "_mbsicmp ignores case\n");
    ok(_mbsicmp((const unsigned char *)"abc", (const unsigned char *)"ABD") < 0, "_mbsicmp orders abc before ABD\n");
    ok(_mbsicmp((const unsigned char *)"B", (const unsigned char *)"a") > 0, "_mbsicmp orders B after a\n");
    ok(_mbsicmp((const unsigned char *)"ab", (const unsigned char *)"abc") < 0, "_mbsicmp: a prefix sorts first\n");

    ok(_mbsnbicmp((const unsigned char *)"madds", (const unsigned char *)"MAxx", 2) == 0,
       "_mbsnbicmp compares only the first 2 bytes, without case\n");
    ok(_mbsnbicmp((const unsigned char *)"MRemoveDS", (const unsigned char *)"MAddDS", 2) != 0,
       "_mbsnbicmp sees a difference in the second byte\n");
    ok(_mbsnbicmp((const unsigned char *)"A", (const unsigned char *)"AddDS", 2) != 0,
       "_mbsnbicmp: a 1-byte text differs from a longer one over 2 bytes\n");

    unsigned char lower[] = "ZORB_{ABC}\\0000";
    ok(_mbslwr(lower) == lower && strcmp((char *)lower, "zorb_{abc}\\0000") == 0,
       "_mbslwr folds in place and returns its argument, got %s\n", lower);

    const unsigned char *pszHay = (const unsigned char *)"{ABC},{ABCD}";
    ok(_mbsstr(pszHay, (const unsigned char *)"{ABCD}") == pszHay + 6, "_mbsstr finds the substring\n");
    ok(_mbsstr(pszHay, (const unsigned char *)"{abc}") == NULL, "_mbsstr is case-sensitive\n");
    ok(_mbsstr(pszHay, (const unsigned char *)"") == pszHay, "_mbsstr with an empty needle returns the haystack\n");

    const unsigned char *pszKey = (const unsigned char *)"{6BDD}\\0000\\x";
    ok(_mbsrchr(pszKey, '\\') == pszKey + 11, "_mbsrchr finds the last backslash\n");
    ok(_mbsrchr((const unsigned char *)"0000", '\\') == NULL, "_mbsrchr without the character returns NULL\n");

    unsigned char buf[8];
    memset(buf, 'X', sizeof(buf));
    ok(_mbsnbcpy(buf, (const unsigned char *)"ab", 5) == buf, "_mbsnbcpy returns its destination\n");
    ok(memcmp(buf, "ab\0\0\0XXX", 8) == 0, "_mbsnbcpy pads the rest of count with NULs and no further\n");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"abcde", 5);
    ok(memcmp(buf, "abcdeXXX", 8) == 0, "_mbsnbcpy of a source as long as count writes no NUL\n");
}

// Code page 932: which bytes lead and trail, and what the routines do with a
// lead byte right before the terminator. They take the terminator for its trail
// byte and walk on (the buffers hold known bytes after it, so the checks stay
// in bounds); only the substring search and the bounded copy stop there.
static void test_MbLeadBytes()
{
    ok(_setmbcp(932) == 0, "_setmbcp(932) succeeds\n");
    ok(_ismbblead(0x81) && _ismbblead(0x9F) && _ismbblead(0xE0) && _ismbblead(0xFC),
       "_ismbblead: 0x81 to 0x9F and 0xE0 to 0xFC lead\n");
    ok(!_ismbblead(0x80) && !_ismbblead(0xA0) && !_ismbblead(0xDF) && !_ismbblead(0xFD) && !_ismbblead('A'),
       "_ismbblead: 0x80, 0xA0, 0xDF, 0xFD and ASCII do not lead\n");
    ok(_ismbbtrail(0x40) && _ismbbtrail(0x5C) && _ismbbtrail(0x7C) && _ismbbtrail(0x80) && _ismbbtrail(0xFC),
       "_ismbbtrail: 0x40 to 0x7E and 0x80 to 0xFC trail, backslash and bar among them\n");
    ok(!_ismbbtrail(0) && !_ismbbtrail(0x1F) && !_ismbbtrail('?') && !_ismbbtrail(':') && !_ismbbtrail(0x7F) &&
       !_ismbbtrail(0xFD),
       "_ismbbtrail: NUL, control bytes, ? : 0x7F and 0xFD do not trail\n");

    unsigned char lower[] = "AB\x81\0CDEF";
    _mbslwr(lower);
    ok(memcmp(lower, "ab\x81\0cdef", 9) == 0, "_mbslwr folds past a lead byte's terminator, got %s|%s\n", lower,
       lower + 4);

    const unsigned char rgbChr[] = "AB\x81\0C\\D";
    ok(_mbsrchr(rgbChr, '\\') == rgbChr + 5, "_mbsrchr walks past a lead byte's terminator\n");
    ok(_mbsicmp((const unsigned char *)"AB\x81\0X", (const unsigned char *)"AB\x81\0Y") != 0,
       "_mbsicmp compares past a lead byte's terminator\n");

    unsigned char line[] = "AB\x81\0C D";
    unsigned char *psz = _mbstok(line, (const unsigned char *)" ");
    ok(psz == line && line[5] == '\0', "_mbstok ends the first token at the blank past a lead byte's terminator\n");
    psz = _mbstok(NULL, (const unsigned char *)" ");
    ok(psz == line + 6, "_mbstok's next token is the one after that blank\n");

    const unsigned char rgbHay[] = "AB\x81\0CD";
    ok(_mbsstr(rgbHay, (const unsigned char *)"CD") == NULL, "_mbsstr stops at a lead byte's terminator\n");

    unsigned char buf[8];
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"AB\x81", 5);
    ok(memcmp(buf, "AB\0\0\0XXX", 8) == 0, "_mbsnbcpy drops a lead byte before the terminator\n");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"A\x95\x5C", 2);
    ok(memcmp(buf, "A\0XXXXXX", 8) == 0, "_mbsnbcpy puts a zero byte for a character count cuts in two\n");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"\x95\x5C_", 4);
    ok(memcmp(buf, "\x95\x5C_\0XXXX", 8) == 0, "_mbsnbcpy copies a character whose trail byte is 0x5C\n");

    ok(_setmbcp(0) == 0, "_setmbcp(0) goes back to a single-byte code page\n");
    ok(!_ismbblead(0x81), "the old code page is back, without lead bytes\n");
}

void func_strings()
{
    test_MbString();
    test_MbLeadBytes();
}
