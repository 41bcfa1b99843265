#include "InstallLog.h"

#include "BoundedString.h"
#include "FileHandles.h"
#include "FileHelpers.h"
#include "RuntimeFunctions.h"

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szSideSuffix[] = "2.log";

// Where other users can reach the log's directory (no GetTempPath2A), its
// files are opened only through the open that never waits on another
// process's oplock, and never by name when that open is missing.
bool s_bNoWait = false;

HANDLE OpenLogFile(const char *pszPath, DWORD dwAccess, DWORD dwCreation)
{
    if (!s_bNoWait)
        return CreateFileA(pszPath, dwAccess, FILE_SHARE_READ, nullptr, dwCreation,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD dwDisposition = dwCreation == CREATE_NEW ? FILE_CREATE : dwCreation == OPEN_ALWAYS ? FILE_OPEN_IF : FILE_OPEN;
    return OpenNoWait(pszPath, dwAccess, FILE_SHARE_READ, dwDisposition, FILE_NON_DIRECTORY_FILE);
}

// Deletes the name (never what a link there leads to).
void DeleteName(const char *pszPath)
{
    if (!s_bNoWait) {
        DeleteFileA(pszPath);
        return;
    }
    HANDLE h = OpenNoWait(pszPath, DELETE, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
    if (h != INVALID_HANDLE_VALUE) {
        DeleteByHandle(h);
        CloseHandle(h);
    }
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

// The log's directory is open to every user, and the program may run as
// SYSTEM: it writes only a regular file with exactly one name that the running
// account, SYSTEM or the Administrators group owns. Links (symbolic, junction
// or hard) and other users' files are never written.
bool IsTrusted(HANDLE h, BY_HANDLE_FILE_INFORMATION *pInfo)
{
    if (!GetFileInformationByHandle(h, pInfo) || (pInfo->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        IsLinked(*pInfo))
        return false;
    PSID psidOwner = nullptr;
    PSECURITY_DESCRIPTOR pSD = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &psidOwner, nullptr, nullptr, nullptr, &pSD) !=
        ERROR_SUCCESS)
        return false;
    bool bTrusted = psidOwner && IsTrustedLogOwner(psidOwner);
    LocalFree(pSD);
    return bTrusted;
}

// Closes a file through whichever owns its handle: its stream, its descriptor
// or the handle itself. A side file (pszDelete) is deleted through the handle
// first; should the handle refuse, its name goes once the file is closed
// (DeleteName removes a name, never what it leads to).
void CloseFile(HANDLE h, int fd, FILE *pStream, const char *pszDelete)
{
    bool bDeleted = pszDelete && DeleteByHandle(h);
    if (pStream)
        fclose(pStream);
    else if (fd != -1)
        _close(fd);
    else
        CloseHandle(h);
    if (pszDelete && !bDeleted)
        DeleteName(pszDelete);
}

// Opens a file of the log through a handle that never follows a link at the
// name, and checks the file on that handle; nothing is ever opened by name
// again after the checks. CREATE_NEW makes the side file: an existing name is
// deleted once (only the name goes) and the file made anew. Returns
// INVALID_HANDLE_VALUE when there is no file to trust; a side file made here
// goes again then.
HANDLE OpenChecked(const char *pszPath, DWORD dwCreation, BY_HANDLE_FILE_INFORMATION *pInfo)
{
    bool bSide = dwCreation == CREATE_NEW;
    // The side file replaces the log through its own handle, which needs DELETE.
    DWORD dwAccess = GENERIC_READ | GENERIC_WRITE | (bSide ? DELETE : 0);
    HANDLE h = OpenLogFile(pszPath, dwAccess, dwCreation);
    if (h == INVALID_HANDLE_VALUE && bSide) {
        DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_EXISTS || dwError == ERROR_ALREADY_EXISTS) {
            DeleteName(pszPath);
            h = OpenLogFile(pszPath, dwAccess, dwCreation);
        }
    }
    if (h != INVALID_HANDLE_VALUE && !IsTrusted(h, pInfo)) {
        CloseFile(h, -1, nullptr, bSide ? pszPath : nullptr);
        h = INVALID_HANDLE_VALUE;
    }
    return h;
}

// Puts a stdio stream on the handle: every write goes to the end, and the
// stream owns the handle from then on. Null when it cannot be made; the file is
// closed then (and a side file deleted).
FILE *StreamOn(HANDLE h, const char *pszSide)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY);
    FILE *pStream = fd != -1 ? _fdopen(fd, "a+b") : nullptr;
    if (!pStream)
        CloseFile(h, fd, nullptr, pszSide);
    return pStream;
}

bool IsSameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Cuts the log open on pLog (checked as infoLog) to its last s_cbCap bytes, at
// line ends, through the side file, and returns the stream this run writes
// to: the side file once it has replaced the log; the old log, whole, when the
// copy or the replacement fails; null when the cut cannot start.
FILE *CapLog(FILE *pLog, const BY_HANDLE_FILE_INFORMATION &infoLog, const char *pszLogPath, const char *pszSide)
{
    BY_HANDLE_FILE_INFORMATION infoSide = {};
    HANDLE hSide = OpenChecked(pszSide, CREATE_NEW, &infoSide);
    FILE *pSide = hSide != INVALID_HANDLE_VALUE ? StreamOn(hSide, pszSide) : nullptr;
    if (!pSide) {
        // No cut, and no log for this run: appending would let the log grow
        // past the cap on every run for as long as the cut cannot be made.
        fclose(pLog);
        return nullptr;
    }

    // Only the tail is read, however large the log has grown.
    const long long cbCap = InstallLog::s_cbCap;
    char *pchTail = static_cast<char *>(malloc(static_cast<size_t>(cbCap)));
    bool bCopied = pchTail && _fseeki64(pLog, -cbCap, SEEK_END) == 0 &&
                   fread(pchTail, 1, static_cast<size_t>(cbCap), pLog) == static_cast<size_t>(cbCap) &&
                   WriteLines(pchTail, static_cast<size_t>(cbCap), pSide) && fflush(pSide) == 0;
    free(pchTail);
    if (bCopied) {
        // Windows replaces no file that is open: the old log's handle goes first.
        fclose(pLog);
        pLog = nullptr;
        // The side file takes the log's name in one step, through its own handle.
        if (RenameByHandle(hSide, pszLogPath, true))
            return pSide;
    }
    CloseFile(hSide, -1, pSide, pszSide);
    if (!pLog) {
        // The old log again, only as the very file checked before.
        BY_HANDLE_FILE_INFORMATION info = {};
        HANDLE h = OpenChecked(pszLogPath, OPEN_EXISTING, &info);
        if (h != INVALID_HANDLE_VALUE && !IsSameFile(info, infoLog)) {
            CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
        }
        pLog = h != INVALID_HANDLE_VALUE ? StreamOn(h, nullptr) : nullptr;
    }
    if (pLog && _fseeki64(pLog, 0, SEEK_END) != 0) {
        fclose(pLog);
        pLog = nullptr;
    }
    return pLog;
}

// The temporary directory. As SYSTEM, GetTempPath2A gives one that other
// users cannot reach (C:\Windows\SystemTemp), where none can hold up a run
// with a file at the log's names; where it is missing, GetTempPathA.
DWORD TempPath(char *szTemp, DWORD cbTemp)
{
    PFN_GETTEMPPATH2A pfnGetTempPath2A = s_fnGetTempPath2A.Find();
    s_bNoWait = !pfnGetTempPath2A;
    return pfnGetTempPath2A ? pfnGetTempPath2A(cbTemp, szTemp) : GetTempPathA(cbTemp, szTemp);
}

} // namespace

InstallLog::InstallLog(const char *pszName, bool bFile, PFN_LOGLINE pfnLineSink, void *pvLineSink)
    : m_stream(nullptr), m_cchLine(0), m_bFramed(pszName != nullptr), m_pfnLineSink(pfnLineSink),
      m_pvLineSink(pvLineSink)
{
    m_szPath[0] = '\0';
    m_szLine[0] = '\0';
    if (bFile && pszName)
        OpenFile(pszName);
    if (!m_bFramed)
        return;
    WriteTimestamp();
    WriteLine("Start Log");
}

void InstallLog::OpenFile(const char *pszName)
{
    char szTemp[MAX_PATH];
    DWORD cch = TempPath(szTemp, sizeof szTemp);
    // A temporary directory that cannot be determined, or a path that does not
    // fit, leaves the log closed.
    BY_HANDLE_FILE_INFORMATION info = {};
    HANDLE h = INVALID_HANDLE_VALUE;
    if (cch > 0 && cch < sizeof szTemp && BoundedCopy(m_szPath, sizeof m_szPath, szTemp) &&
        BoundedAppend(m_szPath, sizeof m_szPath, pszName))
        h = OpenChecked(m_szPath, OPEN_ALWAYS, &info);
    if (h != INVALID_HANDLE_VALUE)
        m_stream = StreamOn(h, nullptr);
    if (m_stream && _fseeki64(m_stream, 0, SEEK_END) == 0 && _ftelli64(m_stream) > s_cbCap) {
        // A side path that does not fit costs the cut, not the log.
        char szSide[MAX_PATH];
        if (MakeSidePath(m_szPath, szSide, sizeof szSide))
            m_stream = CapLog(m_stream, info, m_szPath, szSide);
    }
}

InstallLog::~InstallLog()
{
    if (m_bFramed) {
        WriteTimestamp();
        WriteLine("End Log");
        WriteLine("");
    }
    if (m_stream)
        fclose(m_stream);
}

bool InstallLog::Write(const char *pch, size_t cch)
{
    if (m_pfnLineSink) {
        size_t cchFits = sizeof m_szLine - 1 - m_cchLine;
        size_t cchCopy = cch < cchFits ? cch : cchFits;
        memcpy(m_szLine + m_cchLine, pch, cchCopy);
        m_cchLine += cchCopy;
        m_szLine[m_cchLine] = '\0';
    }
    if (!m_stream)
        return m_pfnLineSink != nullptr;
    fwrite(pch, 1, cch, m_stream);
    return true;
}

bool InstallLog::Write(const char *pszText)
{
    return Write(pszText, strlen(pszText));
}

bool InstallLog::EndLine()
{
    if (m_pfnLineSink) {
        m_pfnLineSink(m_pvLineSink, m_szLine);
        m_cchLine = 0;
        m_szLine[0] = '\0';
    }
    if (!m_stream)
        return m_pfnLineSink != nullptr;
    fwrite("\r\n", 1, 2, m_stream);
    fflush(m_stream);
    return true;
}

bool InstallLog::WriteTimestamp()
{
    // One reading for both: around midnight two would pair one day's date
    // with the next day's time.
    SYSTEMTIME st;
    GetLocalTime(&st);
    if (!IsHeard())
        return false;
    char sz[32];
    snprintf(sz, sizeof sz, "%02u:%02u:%02u\t%02u/%02u/%02u\t", st.wHour % 100u, st.wMinute % 100u, st.wSecond % 100u,
             st.wMonth % 100u, st.wDay % 100u, st.wYear % 100u);
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

namespace {

int LogVPrintf(InstallLog *pLog, const char *pszFormat, va_list args)
{
    if (!pLog || !pLog->IsHeard())
        return 0;
    char szLine[260];
    va_list argsTry;
    va_copy(argsTry, args);
    int cch = vsnprintf(szLine, sizeof szLine, pszFormat, argsTry);
    va_end(argsTry);
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
        va_copy(argsTry, args);
        cch = vsnprintf(pszLong, cb, pszFormat, argsTry);
        va_end(argsTry);
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

} // namespace

int LogPrintf(InstallLog *pLog, const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    int cch = LogVPrintf(pLog, pszFormat, args);
    va_end(args);
    return cch;
}

void LogLastError(InstallLog *pLog, unsigned long dwError, const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogVPrintf(pLog, pszFormat, args);
    va_end(args);
    LogPrintf(pLog, "GetLastError returned %d", static_cast<int>(dwError));
}

void LogErrno(InstallLog *pLog, int err, const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    LogVPrintf(pLog, pszFormat, args);
    va_end(args);
    LogPrintf(pLog, "errno = %d", err);
}
