#include "StepRecord.h"

#include "BoundedString.h"
#include "FileHandles.h"
#include "FileHelpers.h"
#include "InstallLog.h"

#include <io.h>
#include <mbstring.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szHeader[] = "ZULFuncts step record 1\r\n";
const char s_szRecordName[] = "\\record";
// A record is a few lines a data source; anything larger is not ours.
const DWORD s_cbRecordMax = 1u << 20;

// Holds the directory and checks it as the TWAIN directory is checked.
// INVALID_HANDLE_VALUE when it cannot be opened (the open's error is the last
// error) or is refused (ERROR_ACCESS_DENIED, and the reason in the log).
HANDLE OpenTrustedDir(const char *pszDir, bool bRemove, InstallLog *pLog)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    const char *pszWhy = nullptr;
    DirCheck check = OpenTrustedDirectory(pszDir, bRemove, &h, &pszWhy);
    if (check == DIR_REPARSE_POINT || check == DIR_UNTRUSTED) {
        LogDirRefused(check, pszWhy, pszDir, "Reparse point: %s, no data source changed", pszDir, true, pLog);
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return h;
}

bool Join(char *szOut, const char *pszDir, const char *pszName)
{
    return BoundedCopy(szOut, 260, pszDir) && BoundedAppend(szOut, 260, "\\") && BoundedAppend(szOut, 260, pszName);
}

// An entry's path lies in an instance directory of the command's prefix, or
// is one: pszBelow, then a name without separators or parent steps, then at
// most one more such name.
bool IsWithin(const char *pszPath, const char *pszBelow)
{
    size_t cchBelow = strlen(pszBelow);
    if (_mbsnbicmp(reinterpret_cast<const unsigned char *>(pszPath), reinterpret_cast<const unsigned char *>(pszBelow),
                   cchBelow) != 0)
        return false;
    const unsigned char *psz = reinterpret_cast<const unsigned char *>(pszPath + cchBelow);
    if (*psz == '\0' || *psz == '\\')
        return false;
    int cSeparators = 0;
    for (const unsigned char *p = psz; *p; p += _ismbblead(*p) && p[1] ? 2 : 1) {
        if (*p == '/' || *p == ':' || (*p == '\\' && ++cSeparators > 1))
            return false;
        if (*p == '\\' && (p[1] == '\0' || (p[1] == '.' && (p[2] == '\0' || p[2] == '.'))))
            return false;
    }
    return !(psz[0] == '.' && (psz[1] == '\0' || psz[1] == '\\' || psz[1] == '.'));
}

// The directory an entry's path lies in, held and checked; for a path that is
// an instance directory itself, twain_32 was checked when the undo began.
bool ParentTrusted(const char *pszPath, const char *pszBelow, InstallLog *pLog)
{
    const char *pszSeparator = strchr(pszPath + strlen(pszBelow), '\\');
    if (!pszSeparator)
        return true;
    char szParent[260];
    size_t cch = static_cast<size_t>(pszSeparator - pszPath);
    memcpy(szParent, pszPath, cch);
    szParent[cch] = '\0';
    HANDLE h = OpenTrustedDir(szParent, false, pLog);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    CloseHandle(h);
    return true;
}

// One entry undone. False when it could not be: the reason is in the log.
bool UndoEntry(char chKind, const char *psz1, const char *psz2, const char *pszFolder, InstallLog *pLog)
{
    bool bLinked = false;
    HANDLE h = INVALID_HANDLE_VALUE;
    bool bDone = true;
    switch (chKind) {
    case 'M': { // psz1 moved aside as pszFolder\psz2: back it goes
        char szAside[260];
        if (!Join(szAside, pszFolder, psz2))
            return false;
        h = OpenFileExclusive(szAside, DELETE, FILE_OPEN, &bLinked);
        if (h == INVALID_HANDLE_VALUE) {
            h = OpenDirectory(szAside, true);
            if (h == INVALID_HANDLE_VALUE)
                return IsMissing(GetLastError()) && !bLinked; // the move never happened
        }
        bDone = RenameByHandle(h, psz1, false);
        break;
    }
    case 'C': // made by the command: removed
        h = OpenFileExclusive(psz1, DELETE, FILE_OPEN, &bLinked);
        if (h == INVALID_HANDLE_VALUE)
            return IsMissing(GetLastError()) && !bLinked;
        bDone = DeleteByHandle(h);
        break;
    case 'D':
        h = OpenDirectory(psz1, true);
        if (h == INVALID_HANDLE_VALUE)
            return IsMissing(GetLastError());
        bDone = IsReparsePointHandle(h) ? false : DeleteByHandle(h);
        break;
    case 'R': // psz1 renamed to psz2: back again
        h = OpenFileExclusive(psz2, DELETE, FILE_OPEN, &bLinked);
        if (h == INVALID_HANDLE_VALUE)
            return IsMissing(GetLastError()) && !bLinked;
        bDone = RenameByHandle(h, psz1, false);
        break;
    case 'X': { // an empty directory removed, with these attributes: made again
        if (!CreateDirectoryA(psz1, nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS)
                return true; // it held more, and stayed
            LogLastError(pLog, GetLastError(), "Rollback failed on %s", psz1);
            return false;
        }
        h = OpenDirectory(psz1, true);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        bDone = SetAttributesByHandle(h, static_cast<DWORD>(strtoul(psz2, nullptr, 10)));
        break;
    }
    default:
        return false;
    }
    DWORD dwError = bDone ? ERROR_SUCCESS : GetLastError();
    CloseHandle(h);
    if (!bDone)
        LogLastError(pLog, dwError, "Rollback failed on %s", psz1);
    return bDone;
}

} // namespace

StepRecord::StepRecord() : m_hFolder(INVALID_HANDLE_VALUE), m_hRecord(INVALID_HANDLE_VALUE), m_cMoved(0)
{
    m_szFolder[0] = '\0';
}

StepRecord::~StepRecord()
{
    if (m_hRecord != INVALID_HANDLE_VALUE)
        CloseHandle(m_hRecord);
    if (m_hFolder != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFolder);
}

bool StepRecord::Begin(const char *pszFolder, InstallLog *pLog)
{
    // The last three levels are ours: ZULFuncts, the product, the run.
    if (!BoundedCopy(m_szFolder, sizeof m_szFolder, pszFolder))
        return false;
    char *rgpszLevel[3] = {};
    for (int i = 2; i >= 0; i--) {
        char *pszSeparator = reinterpret_cast<char *>(_mbsrchr(reinterpret_cast<unsigned char *>(m_szFolder), '\\'));
        if (!pszSeparator)
            return false;
        *pszSeparator = '\0';
        rgpszLevel[i] = pszSeparator;
    }
    bool bMade = true;
    for (int i = 0; i < 3 && bMade; i++) {
        *rgpszLevel[i] = '\\';
        // A run's folder is new; those above it are shared by the runs.
        if (!CreateDirectoryA(m_szFolder, nullptr) && (i == 2 || GetLastError() != ERROR_ALREADY_EXISTS)) {
            LogLastError(pLog, GetLastError(), "CreateDirectory failed on %s", m_szFolder);
            bMade = false;
            break;
        }
        HANDLE h = OpenTrustedDir(m_szFolder, false, pLog);
        if (h == INVALID_HANDLE_VALUE) {
            bMade = false;
        } else if (i < 2) {
            CloseHandle(h);
        } else {
            m_hFolder = h;
        }
    }
    if (!bMade)
        return false;
    char szRecord[260];
    if (!BoundedCopy(szRecord, sizeof szRecord, m_szFolder) ||
        !BoundedAppend(szRecord, sizeof szRecord, s_szRecordName))
        return false;
    m_hRecord = OpenNoWait(szRecord, FILE_WRITE_DATA | FILE_APPEND_DATA, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE);
    if (m_hRecord == INVALID_HANDLE_VALUE) {
        LogLastError(pLog, GetLastError(), "CreateFile failed on %s", szRecord);
        return false;
    }
    DWORD cbWritten = 0;
    return WriteFile(m_hRecord, s_szHeader, sizeof s_szHeader - 1, &cbWritten, nullptr) && FlushFileBuffers(m_hRecord);
}

bool StepRecord::Append(char chKind, const char *psz1, const char *psz2)
{
    char szLine[2 * 260 + 8];
    int cch = psz2 ? snprintf(szLine, sizeof szLine, "%c\t%s\t%s\r\n", chKind, psz1, psz2)
                   : snprintf(szLine, sizeof szLine, "%c\t%s\r\n", chKind, psz1);
    DWORD cbWritten = 0;
    if (cch <= 0 || static_cast<size_t>(cch) >= sizeof szLine) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // Flushed before the step: after a power loss the record holds every
    // step that may have been made.
    return WriteFile(m_hRecord, szLine, static_cast<DWORD>(cch), &cbWritten, nullptr) &&
           cbWritten == static_cast<DWORD>(cch) && FlushFileBuffers(m_hRecord);
}

bool StepRecord::MoveAside(HANDLE h, const char *pszPath)
{
    char szName[16];
    char szAside[260];
    snprintf(szName, sizeof szName, "%u", ++m_cMoved);
    if (!Join(szAside, m_szFolder, szName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return Append('M', pszPath, szName) && RenameByHandle(h, szAside, false);
}

bool StepRecord::WillCreate(const char *pszPath, bool bDirectory)
{
    return Append(bDirectory ? 'D' : 'C', pszPath, nullptr);
}

bool StepRecord::WillRemoveDir(const char *pszPath, DWORD dwAttributes)
{
    char szAttributes[16];
    snprintf(szAttributes, sizeof szAttributes, "%lu", static_cast<unsigned long>(dwAttributes));
    return Append('X', pszPath, szAttributes);
}

bool StepRecord::WillRename(const char *pszFrom, const char *pszTo)
{
    return Append('R', pszFrom, pszTo);
}

bool StepRecord::Undo(const char *pszFolder, const char *pszBelow, InstallLog *pLog)
{
    HANDLE hFolder = OpenTrustedDir(pszFolder, false, pLog);
    if (hFolder == INVALID_HANDLE_VALUE)
        return IsMissing(GetLastError()); // the command never began its record
    char szRecord[260];
    HANDLE hRecord = INVALID_HANDLE_VALUE;
    if (BoundedCopy(szRecord, sizeof szRecord, pszFolder) && BoundedAppend(szRecord, sizeof szRecord, s_szRecordName))
        hRecord = OpenNoWait(szRecord, FILE_READ_DATA, FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
    char *pch = static_cast<char *>(malloc(s_cbRecordMax + 1));
    DWORD cb = 0;
    bool bRead = hRecord != INVALID_HANDLE_VALUE && pch && ReadFile(hRecord, pch, s_cbRecordMax, &cb, nullptr) &&
                 cb >= sizeof s_szHeader - 1 && memcmp(pch, s_szHeader, sizeof s_szHeader - 1) == 0;
    if (hRecord != INVALID_HANDLE_VALUE)
        CloseHandle(hRecord);
    bool bAll = bRead || (hRecord == INVALID_HANDLE_VALUE && IsMissing(GetLastError()));
    if (!bRead && !bAll)
        LogPrintf(pLog, "Record unreadable: %s", szRecord);

    // twain_32, the parent of every instance directory, checked once.
    char szTwainDir[260];
    const char *pszLast = reinterpret_cast<const char *>(
        _mbsrchr(reinterpret_cast<const unsigned char *>(pszBelow), static_cast<unsigned int>('\\')));
    HANDLE hTwainDir = INVALID_HANDLE_VALUE;
    if (bRead && pszLast && static_cast<size_t>(pszLast - pszBelow) < sizeof szTwainDir) {
        memcpy(szTwainDir, pszBelow, static_cast<size_t>(pszLast - pszBelow));
        szTwainDir[pszLast - pszBelow] = '\0';
        hTwainDir = OpenTrustedDir(szTwainDir, false, pLog);
    }
    if (bRead && hTwainDir == INVALID_HANDLE_VALUE) {
        bRead = false;
        bAll = false;
    }

    if (bRead) {
        // Whole lines only: a last line without its line end was cut short,
        // and its step never made.
        size_t cbWhole = cb;
        while (cbWhole > 0 && pch[cbWhole - 1] != '\n')
            cbWhole--;
        pch[cbWhole] = '\0';
        const char *pszFirst = pch + sizeof s_szHeader - 1;
        char *pszEnd = pch + cbWhole;
        // The last step first.
        while (pszEnd > pszFirst) {
            char *pszLine = pszEnd - 1;
            *pszLine = '\0';
            if (pszLine > pszFirst && pszLine[-1] == '\r')
                pszLine[-1] = '\0';
            while (pszLine > pszFirst && pszLine[-1] != '\n')
                pszLine--;
            pszEnd = pszLine;
            char *pszTab = strchr(pszLine, '\t');
            char *psz2 = pszTab ? strchr(pszTab + 1, '\t') : nullptr;
            if (psz2)
                *psz2++ = '\0';
            const char *psz1 = pszTab ? pszTab + 1 : "";
            char chKind = pszLine[0];
            bool bNumber = psz2 && *psz2 && strspn(psz2, "0123456789") == strlen(psz2);
            bool bWithin = pszTab == pszLine + 1 && IsWithin(psz1, pszBelow) &&
                           (chKind != 'R' || (psz2 && IsWithin(psz2, pszBelow))) &&
                           ((chKind != 'M' && chKind != 'X') || bNumber);
            if (!bWithin) {
                LogPrintf(pLog, "Record entry skipped: %c %s", chKind, psz1);
                bAll = false;
            } else if (!ParentTrusted(psz1, pszBelow, pLog) || !UndoEntry(chKind, psz1, psz2, pszFolder, pLog)) {
                bAll = false;
            }
        }
    }
    free(pch);
    if (hTwainDir != INVALID_HANDLE_VALUE)
        CloseHandle(hTwainDir);
    CloseHandle(hFolder);
    // What could not be put back stays in the folder, for a person to find.
    return bAll && RemoveAll(pszFolder, pLog);
}

bool StepRecord::RemoveAll(const char *pszFolder, InstallLog *pLog)
{
    HANDLE hFolder = OpenTrustedDir(pszFolder, false, pLog);
    if (hFolder == INVALID_HANDLE_VALUE)
        return IsMissing(GetLastError());
    bool bAll = true;
    char szPattern[260];
    struct _finddata_t found;
    intptr_t hFind = Join(szPattern, pszFolder, "*") ? _findfirst(szPattern, &found) : -1;
    for (int iFound = hFind == -1 ? -1 : 0; iFound == 0; iFound = _findnext(hFind, &found)) {
        if (strcmp(found.name, ".") == 0 || strcmp(found.name, "..") == 0)
            continue;
        char szPath[260];
        if (!Join(szPath, pszFolder, found.name)) {
            bAll = false;
        } else if ((found.attrib & _A_SUBDIR) && !(found.attrib & FILE_ATTRIBUTE_REPARSE_POINT)) {
            bAll = RemoveAll(szPath, pLog) && bAll;
        } else {
            // Only what the record made goes; a link, which it never makes, stays.
            bool bLinked = false;
            HANDLE h = OpenFileExclusive(szPath, DELETE | FILE_WRITE_ATTRIBUTES, FILE_OPEN, &bLinked);
            if (h == INVALID_HANDLE_VALUE) {
                bAll = false;
            } else {
                SetAttributesByHandle(h, FILE_ATTRIBUTE_NORMAL);
                bAll = DeleteByHandle(h) && bAll;
                CloseHandle(h);
            }
        }
    }
    if (hFind != -1)
        _findclose(hFind);
    CloseHandle(hFolder);
    HANDLE h = OpenDirectory(pszFolder, true);
    bool bRemoved = h != INVALID_HANDLE_VALUE && DeleteByHandle(h);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (!bRemoved)
        LogPrintf(pLog, "Backup folder left: %s", pszFolder);
    return bAll && bRemoved;
}
