#include "InstallLog.h"

#include "BoundedString.h"

#include <windows.h>

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szSideSuffix[] = "2.log";

// A log path that is a symbolic link, junction or other reparse point is never
// followed: both names are predictable and the program may run elevated. A name
// whose attributes cannot be read, for another reason than that it does not
// exist, is not trusted either.
bool MayBeReparsePoint(const char *pszPath)
{
    DWORD dwAttr = GetFileAttributesA(pszPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES) {
        DWORD dwError = GetLastError();
        return dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND;
    }
    return (dwAttr & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Side file: the log's path without its last four characters, then "2.log".
bool MakeSidePath(const char *pszLogPath, char *szSide, size_t cbSide)
{
    size_t cch = strlen(pszLogPath);
    if (cch < 4 || cch - 4 + sizeof s_szSideSuffix > cbSide)
        return false;
    memcpy(szSide, pszLogPath, cch - 4);
    memcpy(szSide + cch - 4, s_szSideSuffix, sizeof s_szSideSuffix);
    return true;
}

// Writes the lines of the tail to pOut, each ended with CR LF: a line runs up to
// the next LF, and the LF with a CR just before it is dropped. A last line
// without LF is written too. Returns false when a write failed.
bool WriteLines(const char *pchTail, size_t cbTail, FILE *pOut)
{
    size_t start = 0;
    while (start < cbTail) {
        const char *pLF = static_cast<const char *>(memchr(pchTail + start, '\n', cbTail - start));
        size_t next = pLF ? static_cast<size_t>(pLF - pchTail) : cbTail;
        size_t end = next;
        if (pLF && end > start && pchTail[end - 1] == '\r')
            end--;
        if (fwrite(pchTail + start, 1, end - start, pOut) != end - start || fwrite("\r\n", 1, 2, pOut) != 2)
            return false;
        start = next + 1;
    }
    return true;
}

} // namespace

InstallLog::InstallLog(const char *pszName) : m_stream(nullptr)
{
    m_szPath[0] = '\0';
    char szTemp[MAX_PATH];
    DWORD cch = GetTempPathA(sizeof szTemp, szTemp);
    char szSide[MAX_PATH];
    // A temporary directory that cannot be determined, or a path that does not
    // fit, leaves the log closed.
    if (cch > 0 && cch < sizeof szTemp && BoundedCopy(m_szPath, sizeof m_szPath, szTemp) &&
        BoundedAppend(m_szPath, sizeof m_szPath, pszName) && MakeSidePath(m_szPath, szSide, sizeof szSide) &&
        !MayBeReparsePoint(m_szPath) && !MayBeReparsePoint(szSide)) {
        m_stream = fopen(m_szPath, "a+b");
        if (m_stream && _fseeki64(m_stream, 0, SEEK_END) == 0 && _ftelli64(m_stream) > s_cbCap)
            Cap(szSide);
    }
    WriteTimestamp();
    WriteLine("Start Log");
}

// Replaces the log with its last s_cbCap bytes, cut at line ends, through the
// side file. The old log stays in place until the side file is complete and
// replaces it in one step; when the copy or the replacement fails, the log is
// reopened as it is.
void InstallLog::Cap(const char *pszSidePath)
{
    fclose(m_stream);
    m_stream = nullptr;

    FILE *pSide = fopen(pszSidePath, "wb");
    FILE *pOld = fopen(m_szPath, "r+b");
    if (!pSide || !pOld) {
        // No cut, and no log for this run: appending would let the log grow
        // past the cap on every run for as long as the cut cannot be made. The
        // side file, if this run made it, goes.
        if (pSide) {
            fclose(pSide);
            DeleteFileA(pszSidePath);
        }
        if (pOld)
            fclose(pOld);
        return;
    }

    // Only the tail is read, however large the log has grown.
    char *pchTail = static_cast<char *>(malloc(static_cast<size_t>(s_cbCap)));
    bool bCopied = pchTail && _fseeki64(pOld, -s_cbCap, SEEK_END) == 0 &&
                   fread(pchTail, 1, static_cast<size_t>(s_cbCap), pOld) == static_cast<size_t>(s_cbCap) &&
                   WriteLines(pchTail, static_cast<size_t>(s_cbCap), pSide);
    free(pchTail);
    fclose(pOld);
    bCopied = fclose(pSide) == 0 && bCopied;
    if (!bCopied || !MoveFileExA(pszSidePath, m_szPath, MOVEFILE_REPLACE_EXISTING))
        DeleteFileA(pszSidePath);

    m_stream = fopen(m_szPath, "r+b");
    if (m_stream && _fseeki64(m_stream, 0, SEEK_END) != 0) {
        fclose(m_stream);
        m_stream = nullptr;
    }
}

InstallLog::~InstallLog()
{
    WriteTimestamp();
    WriteLine("End Log");
    WriteLine("");
    if (m_stream)
        fclose(m_stream);
}

bool InstallLog::Write(const char *pch, size_t cch)
{
    if (!m_stream)
        return false;
    fwrite(pch, 1, cch, m_stream);
    return true;
}

bool InstallLog::Write(const char *pszText)
{
    return Write(pszText, strlen(pszText));
}

bool InstallLog::EndLine()
{
    if (!Write("\r\n", 2))
        return false;
    fflush(m_stream);
    return true;
}

bool InstallLog::WriteTimestamp()
{
    SYSTEMTIME stDate;
    SYSTEMTIME stTime;
    GetLocalTime(&stDate);
    GetLocalTime(&stTime);
    if (!m_stream)
        return false;
    char sz[32];
    snprintf(sz, sizeof sz, "%02u:%02u:%02u\t%02u/%02u/%02u\t", stTime.wHour % 100u, stTime.wMinute % 100u,
             stTime.wSecond % 100u, stDate.wMonth % 100u, stDate.wDay % 100u, stDate.wYear % 100u);
    Write(sz);
    return EndLine();
}

bool InstallLog::WriteLine(const char *pszText)
{
    Write(pszText);
    return EndLine();
}

bool InstallLog::WriteLabel(const char *pszLabel)
{
    Write(pszLabel);
    return Write("\t", 1);
}

int LogPrintf(InstallLog *pLog, const char *pszFormat, ...)
{
    if (!pLog || !pLog->IsOpen())
        return 0;
    char szLine[260];
    va_list args;
    va_start(args, pszFormat);
    int cch = vsnprintf(szLine, sizeof szLine, pszFormat, args);
    va_end(args);
    if (cch >= 0 && static_cast<size_t>(cch) < sizeof szLine) {
        pLog->WriteLine(szLine);
        return cch;
    }
    // Longer lines are written whole from a larger buffer; some runtimes report
    // only that the text did not fit, so grow until it does.
    for (size_t cb = 1024; cb <= (1u << 20); cb *= 4) {
        char *pszLong = static_cast<char *>(malloc(cb));
        if (!pszLong)
            break;
        va_start(args, pszFormat);
        cch = vsnprintf(pszLong, cb, pszFormat, args);
        va_end(args);
        if (cch >= 0 && static_cast<size_t>(cch) < cb) {
            pLog->WriteLine(pszLong);
            free(pszLong);
            return cch;
        }
        free(pszLong);
    }
    // Out of memory: the line as far as it fits.
    szLine[sizeof szLine - 1] = '\0';
    pLog->WriteLine(szLine);
    return static_cast<int>(strlen(szLine));
}
