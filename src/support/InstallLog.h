// The optional trace of one command's run: a text file in the temporary
// directory, capped to its last 25600 bytes when a run opens it. The file is
// opened once, through a handle checked before anything is written.
#pragma once

#include <stdio.h>

// Receives each whole line as well, without its line end (the installer's own log).
typedef void (*PFN_LOGLINE)(void *pvContext, const char *pszLine);

class InstallLog
{
public:
    // bFile: whether the file is written; the line sink, when given, gets
    // every line either way. Without a name, no file and no framing lines:
    // the sink's lines alone.
    explicit InstallLog(const char *pszName, bool bFile = true, PFN_LOGLINE pfnLineSink = nullptr,
                        void *pvLineSink = nullptr);
    virtual ~InstallLog();

    bool WriteTimestamp();
    bool WriteLine(const char *pszText);
    bool WriteLabel(const char *pszLabel);
    // Whether the file is open.
    bool IsOpen() const { return m_stream != nullptr; }
    // Whether a line goes anywhere: the file or the sink.
    bool IsHeard() const { return m_stream != nullptr || m_pfnLineSink != nullptr; }

    static const long long s_cbCap = 25600;

private:
    InstallLog(const InstallLog &) = delete;
    InstallLog &operator=(const InstallLog &) = delete;

    void OpenFile(const char *pszName);
    bool Write(const char *pszText);
    bool Write(const char *pch, size_t cch);
    bool EndLine();

    FILE *m_stream;     // null while the log is closed
    char m_szPath[260]; // temporary directory and file name
    // The line being written, for the sink; a longer line reaches it cut.
    char m_szLine[1024];
    size_t m_cchLine;
    bool m_bFramed;            // the start and end lines around the run's
    PFN_LOGLINE m_pfnLineSink; // null: the file alone
    void *m_pvLineSink;
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
