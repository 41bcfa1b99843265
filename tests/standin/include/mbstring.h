// POSIX stand-in for the runtime's <mbstring.h>: multibyte string routines of
// the ANSI code page. The stand-in's code page is single-byte unless a test
// selects a double-byte one with _setmbcp.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

int _setmbcp(int codepage);
int _ismbblead(unsigned int c);
int _ismbbtrail(unsigned int c);

unsigned char *_mbstok(unsigned char *str, const unsigned char *delim);
int _mbscmp(const unsigned char *s1, const unsigned char *s2);
int _mbsicmp(const unsigned char *s1, const unsigned char *s2);
int _mbsnbicmp(const unsigned char *s1, const unsigned char *s2, size_t count);
unsigned char *_mbslwr(unsigned char *str);
unsigned char *_mbsstr(const unsigned char *str, const unsigned char *substr);
unsigned char *_mbsrchr(const unsigned char *str, unsigned int c);
unsigned char *_mbsnbcpy(unsigned char *dest, const unsigned char *src, size_t count);

#ifdef __cplusplus
}
#endif
