// Conformance test: the Windows and C runtime behaviour that ZULFuncts relies on, one source
// per area of the stand-in. The same program runs under Wine (the reference) and natively on
// the POSIX stand-in; what the stand-in provides is what these checks hold it to.
#pragma once

#include <windows.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "ImagingClass.h"
#include "standin/crterrno.h"
#include "wtest.h"

// The areas, each run by main() in turn.
void func_files();
void func_find();
void func_handles();
void func_strings();
void func_system();
void func_module();
void func_registry();
void func_setupapi();

// A fresh scratch directory below the temporary directory, without a trailing separator.
extern std::string g_sScratch;

inline std::string Scratch(const char *pszName)
{
    return g_sScratch + "\\" + pszName;
}

// The runtime's fopen takes the Windows path under Wine; natively it needs the POSIX spelling.
inline std::string StdioPath(const std::string &sPath)
{
    std::string s = sPath;
#ifndef _WIN32
    for (char &ch : s) {
        if (ch == '\\') {
            ch = '/';
        }
    }
#endif
    return s;
}

bool WriteText(const std::string &sPath, const char *pszText);
// The file's content, or "<missing>".
std::string ReadText(const std::string &sPath);

// Reads a value into a 260-byte buffer as the driver-key probes do.
LONG QueryValue(HKEY hKey, const char *pszName, DWORD *pdwType, char *pszBuf, DWORD *pcb);

inline bool Exists(const std::string &sPath)
{
    return GetFileAttributesA(sPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline unsigned long LastError()
{
    return (unsigned long)GetLastError();
}

// The error code and errno are read right after the call, before anything else can change them.
#define ok_win(expr, what)                                                                                             \
    do {                                                                                                               \
        bool b_ = (expr);                                                                                              \
        unsigned long e_ = LastError();                                                                                \
        ok(b_, what " must succeed, failed with error %lu\n", e_);                                                     \
    } while (0)
#define ok_win_fails(expr, err, what)                                                                                  \
    do {                                                                                                               \
        SetLastError(0xdeadbeef);                                                                                      \
        bool b_ = (expr);                                                                                              \
        unsigned long e_ = LastError();                                                                                \
        ok(!b_ && e_ == (unsigned long)(err), what " must fail with error %lu, got %s and error %lu\n",                \
           (unsigned long)(err), b_ ? "success" : "failure", e_);                                                      \
    } while (0)
#define ok_crt(expr, what)                                                                                             \
    do {                                                                                                               \
        errno = 0;                                                                                                     \
        int r_ = (expr);                                                                                               \
        int e_ = errno;                                                                                                \
        ok(r_ == 0, what " must succeed, got %d and errno %d\n", r_, e_);                                              \
    } while (0)
#define ok_crt_fails(expr, err, what)                                                                                  \
    do {                                                                                                               \
        errno = 0;                                                                                                     \
        int r_ = (int)(expr);                                                                                          \
        int e_ = errno;                                                                                                \
        ok(r_ == -1 && e_ == (err), what " must fail with -1 and errno %d, got %d and errno %d\n", (int)(err), r_,     \
           e_);                                                                                                        \
    } while (0)

// As the log opens its files: never through a link at the name, sharing read only.
inline HANDLE OpenLogFile(const std::string &sPath, DWORD dwCreation, DWORD dwExtraAccess = 0)
{
    return CreateFileA(sPath.c_str(), GENERIC_READ | GENERIC_WRITE | dwExtraAccess, FILE_SHARE_READ, NULL, dwCreation,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

// GetFileAttributesA's result, for a message.
inline unsigned long Attributes(const std::string &sPath)
{
    return (unsigned long)GetFileAttributesA(sPath.c_str());
}
