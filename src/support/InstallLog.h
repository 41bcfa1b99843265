// The optional trace of one command's run: a text file in the temporary
// directory, capped to its last 25600 bytes when a run opens it. The file is
// opened once, through a handle checked before anything is written.
#pragma once

#include <stdio.h>

class InstallLog
{
public:
    explicit InstallLog(const char *pszName);
    virtual ~InstallLog();

    bool WriteTimestamp();
    bool WriteLine(const char *pszText);
    bool WriteLabel(const char *pszLabel);
    bool IsOpen() const { return m_stream != nullptr; }

    static const long long s_cbCap = 25600;

private:
    InstallLog(const InstallLog &) = delete;
    InstallLog &operator=(const InstallLog &) = delete;

    bool Write(const char *pszText);
    bool Write(const char *pch, size_t cch);
    bool EndLine();

    FILE *m_stream;     // null while the log is closed
    char m_szPath[260]; // temporary directory and file name
};

// Formats one line into the log. Returns the number of characters written,
// 0 when the log is closed.
int LogPrintf(InstallLog *pLog, const char *pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The two lines of a failed Windows call: the formatted text, then
// "GetLastError returned N" with the error the caller saved.
void LogLastError(InstallLog *pLog, unsigned long dwError, const char *pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// The same for a runtime library call, with "errno = N".
void LogErrno(InstallLog *pLog, int err, const char *pszFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
