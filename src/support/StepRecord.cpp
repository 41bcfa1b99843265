#include "StepRecord.h"

#include "BoundedString.h"
#include "FileHandles.h"
#include "FileHelpers.h"
#include "InstallLog.h"

#include <mbstring.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szHeader[] = "ZULFuncts step record 2\r\n";
// Version 1.0.0's: no DACLs, no undo marks.
const char s_szHeaderV1[] = "ZULFuncts step record 1\r\n";
const size_t s_cchHeader = sizeof s_szHeader - 1;
const char s_szRecordName[] = "record";
// "U\t<entry number, ten digits>\r\n": an entry undone.
const DWORD s_cbMark = 15;
// A line an undo finds cut short is ended and marked in one write.
const DWORD s_cbCutMark = 2 + s_cbMark;
// A kept DACL: the self-relative header and an ACL of up to 64 KiB.
const DWORD s_cbMaxDescriptor = 20 + 65536;

// SYSTEM and Administrators full control, inherited by files and folders
// (OI)(CI), protected from what the parent gives: self-relative.
alignas(DWORD) const BYTE s_rgbProtected[] = {
    1, 0, 0x04, 0x90, 0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, // header: DACL present, protected
    2, 0, 52,   0,    2,    0,    0,    0,                                      // ACL: 52 bytes, 2 entries
    0, 3, 20,   0,    0xFF, 0x01, 0x1F, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0, // SYSTEM
    0, 3, 24,   0,    0xFF, 0x01, 0x1F, 0, 1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0}; // Administrators

PSECURITY_DESCRIPTOR ProtectedDescriptor()
{
    return const_cast<BYTE *>(s_rgbProtected);
}

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

// The folder pszPath lies in, in szParent (260 bytes); false when it has none.
bool ParentOf(const char *pszPath, char *szParent)
{
    if (!BoundedCopy(szParent, 260, pszPath))
        return false;
    char *pszSeparator = reinterpret_cast<char *>(_mbsrchr(reinterpret_cast<unsigned char *>(szParent), '\\'));
    if (!pszSeparator)
        return false;
    *pszSeparator = '\0';
    return true;
}

// One level of the backup folders: made with the protected DACL when missing
// (bNew: it must be new), held, refused when it is a link, then given the
// protected DACL (a level made by an earlier version inherited its parent's)
// and refused when anyone untrusted owns it.
HANDLE OpenOwnLevel(const char *pszLevel, bool bNew, InstallLog *pLog)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, ProtectedDescriptor(), FALSE};
    if (!CreateDirectoryA(pszLevel, &attributes) && (bNew || GetLastError() != ERROR_ALREADY_EXISTS)) {
        LogLastError(pLog, GetLastError(), "CreateDirectory failed on %s", pszLevel);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = OpenNoWait(pszLevel, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          FILE_OPEN, FILE_DIRECTORY_FILE);
    if (h == INVALID_HANDLE_VALUE) {
        LogLastError(pLog, GetLastError(), "CreateFile failed on %s", pszLevel);
        return h;
    }
    const char *pszWhy = nullptr;
    if (IsReparsePointHandle(h)) {
        LogPrintf(pLog, "Reparse point: %s, no data source changed", pszLevel);
    } else if (!SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, ProtectedDescriptor())) {
        LogLastError(pLog, GetLastError(), "SetKernelObjectSecurity failed on %s", pszLevel);
    } else if (!OnlyTrustedMayChange(h, &pszWhy)) {
        LogPrintf(pLog, "%s: %s, no data source changed", pszWhy, pszLevel);
    } else {
        return h;
    }
    CloseHandle(h);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

// The DACL and its control bits of the object held on h, self-relative, as
// hex digits in a buffer from malloc; null with the last error set.
char *ReadDaclHex(HANDLE h)
{
    BYTE *pb = static_cast<BYTE *>(malloc(s_cbMaxDescriptor));
    char *psz = static_cast<char *>(malloc(2 * s_cbMaxDescriptor + 1));
    DWORD cb = 0;
    bool bRead = pb && psz && GetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, pb, s_cbMaxDescriptor, &cb);
    if (bRead) {
        static const char s_szDigits[] = "0123456789ABCDEF";
        for (size_t i = 0; i < cb; i++) {
            psz[2 * i] = s_szDigits[pb[i] >> 4];
            psz[2 * i + 1] = s_szDigits[pb[i] & 15];
        }
        psz[2 * static_cast<size_t>(cb)] = '\0';
    } else if (!pb || !psz) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    free(pb);
    if (!bRead) {
        free(psz);
        psz = nullptr;
    }
    return psz;
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// A kept DACL back from its hex digits, in a buffer from malloc; null when
// the text is no valid descriptor.
PSECURITY_DESCRIPTOR DecodeDescriptor(const char *pszHex)
{
    size_t cch = strlen(pszHex);
    if (cch < 40 || cch % 2 != 0 || cch / 2 > s_cbMaxDescriptor)
        return nullptr;
    BYTE *pb = static_cast<BYTE *>(calloc(cch / 2, 1));
    for (size_t i = 0; pb && i < cch / 2; i++) {
        int nHigh = HexDigit(pszHex[2 * i]), nLow = HexDigit(pszHex[2 * i + 1]);
        if (nHigh < 0 || nLow < 0) {
            free(pb);
            return nullptr;
        }
        pb[i] = static_cast<BYTE>(nHigh * 16 + nLow);
    }
    // Only a DACL, lying within the text, that Windows takes for valid.
    const SECURITY_DESCRIPTOR_RELATIVE *pHeader = reinterpret_cast<const SECURITY_DESCRIPTOR_RELATIVE *>(pb);
    const size_t cb = cch / 2;
    bool bFits =
        pb && pHeader->Owner == 0 && pHeader->Group == 0 && pHeader->Sacl == 0 &&
        (pHeader->Dacl == 0 || (pHeader->Dacl >= sizeof *pHeader && pHeader->Dacl + sizeof(ACL) <= cb &&
                                pHeader->Dacl + reinterpret_cast<const ACL *>(pb + pHeader->Dacl)->AclSize <= cb));
    if (pb && (!bFits || !IsValidSecurityDescriptor(pb))) {
        free(pb);
        pb = nullptr;
    }
    return pb;
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
// an instance directory itself, the TWAIN directory was checked when the undo
// began. ERROR_SUCCESS, or why the entry cannot be undone.
DWORD CheckParent(const char *pszPath, const char *pszBelow, InstallLog *pLog)
{
    // The one separator IsWithin lets through, found by character: a trail byte may be 0x5C.
    const char *pszSeparator = reinterpret_cast<const char *>(
        _mbsrchr(reinterpret_cast<const unsigned char *>(pszPath + strlen(pszBelow)), '\\'));
    if (!pszSeparator)
        return ERROR_SUCCESS;
    char szParent[260];
    size_t cch = static_cast<size_t>(pszSeparator - pszPath);
    memcpy(szParent, pszPath, cch);
    szParent[cch] = '\0';
    HANDLE h = OpenTrustedDir(szParent, false, pLog);
    if (h == INVALID_HANDLE_VALUE)
        return IsMissing(GetLastError()) ? ERROR_SUCCESS : GetLastError();
    CloseHandle(h);
    return ERROR_SUCCESS;
}

// The error of a step on a handle, or of the open that gave none; a name
// found missing was never made or was undone already.
DWORD Outcome(HANDLE h, bool bDone, bool bLinked)
{
    if (h == INVALID_HANDLE_VALUE)
        return IsMissing(GetLastError()) && !bLinked ? ERROR_SUCCESS : GetLastError();
    DWORD dwError = bDone ? ERROR_SUCCESS : GetLastError();
    CloseHandle(h);
    return dwError;
}

// psz1 moved aside as pszFolder\psz2, its DACL kept as pszHex (none in a
// record of version 1.0.0): back it goes, and its DACL with it.
DWORD UndoMove(const char *psz1, const char *psz2, const char *pszHex, const char *pszFolder)
{
    char szAside[260];
    if (!Join(szAside, pszFolder, psz2))
        return ERROR_FILENAME_EXCED_RANGE;
    PSECURITY_DESCRIPTOR pSD = pszHex ? DecodeDescriptor(pszHex) : nullptr;
    if (pszHex && !pSD)
        return ERROR_INVALID_SECURITY_DESCR;
    bool bLinked = false;
    HANDLE h = OpenFileExclusive(szAside, DELETE | READ_CONTROL | WRITE_DAC, FILE_OPEN, &bLinked);
    if (h == INVALID_HANDLE_VALUE && !bLinked) {
        h = OpenNoWait(szAside, DELETE | READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, 0, FILE_OPEN,
                       FILE_DIRECTORY_FILE);
        if (h != INVALID_HANDLE_VALUE && IsReparsePointHandle(h)) {
            CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
            bLinked = true;
            SetLastError(ERROR_ACCESS_DENIED);
        }
    }
    // Gone from the folder: home already (or never moved), where an undo cut
    // short may have left it without its DACL.
    bool bHome = h == INVALID_HANDLE_VALUE && !bLinked && IsMissing(GetLastError());
    if (bHome)
        h = OpenFileExclusive(psz1, READ_CONTROL | WRITE_DAC, FILE_OPEN, &bLinked);
    bool bDone = h != INVALID_HANDLE_VALUE && (bHome || RenameByHandle(h, psz1, false)) &&
                 (!pSD || SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, pSD));
    free(pSD);
    if (h == INVALID_HANDLE_VALUE && bHome && !bLinked && IsMissing(GetLastError()))
        return ERROR_FILE_NOT_FOUND; // in neither place
    return Outcome(h, bDone, bLinked);
}

// One entry undone: ERROR_SUCCESS, or why it could not be.
DWORD UndoEntry(char chKind, const char *psz1, const char *psz2, const char *psz3, const char *pszFolder)
{
    bool bLinked = false;
    HANDLE h = INVALID_HANDLE_VALUE;
    bool bDone = false;
    switch (chKind) {
    case 'M':
        return UndoMove(psz1, psz2, psz3, pszFolder);
    case 'C': // made by the command: removed, read-only or not
        h = OpenFileExclusive(psz1, DELETE | FILE_WRITE_ATTRIBUTES, FILE_OPEN, &bLinked);
        bDone = h != INVALID_HANDLE_VALUE && SetAttributesByHandle(h, FILE_ATTRIBUTE_NORMAL) && DeleteByHandle(h);
        break;
    case 'D':
        h = OpenDirectory(psz1, true);
        bDone = h != INVALID_HANDLE_VALUE && !IsReparsePointHandle(h) && DeleteByHandle(h);
        break;
    case 'R': // psz1 renamed to psz2: back again
        h = OpenFileExclusive(psz2, DELETE, FILE_OPEN, &bLinked);
        bDone = h != INVALID_HANDLE_VALUE && RenameByHandle(h, psz1, false);
        break;
    case 'X': // an empty directory removed, with these attributes: made again
        if (!CreateDirectoryA(psz1, nullptr))
            return GetLastError() == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : GetLastError(); // it held more, and stayed
        h = OpenDirectory(psz1, true);
        bDone = h != INVALID_HANDLE_VALUE && SetAttributesByHandle(h, static_cast<DWORD>(strtoul(psz2, nullptr, 10)));
        if (h == INVALID_HANDLE_VALUE)
            return GetLastError();
        break;
    default:
        return ERROR_INVALID_DATA;
    }
    if (!bDone && h != INVALID_HANDLE_VALUE && GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_ACCESS_DENIED); // a reparse point where a directory was made
    return Outcome(h, bDone, bLinked);
}

// A record read whole for an undo, held for appending its marks.
struct Record {
    HANDLE h = INVALID_HANDLE_VALUE;
    char *pch = nullptr; // the text, NUL-ended
    DWORD cb = 0;
    bool bV1 = false;
    char **rgpszEntry = nullptr; // the entry lines, split at their tabs later
    unsigned cEntries = 0;
    bool *rgbUndone = nullptr; // marked undone, by entry
    char *pszCut = nullptr;    // a last line without its line end, or null
};

// ERROR_SUCCESS when the record was read, ERROR_FILE_NOT_FOUND when there is
// none, another error when it cannot be read or is not a record.
DWORD ReadRecord(const char *pszFolder, Record *pRecord)
{
    char szRecord[260];
    if (!Join(szRecord, pszFolder, s_szRecordName))
        return ERROR_FILENAME_EXCED_RANGE;
    pRecord->h = OpenNoWait(szRecord, FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                            FILE_OPEN, FILE_NON_DIRECTORY_FILE);
    if (pRecord->h == INVALID_HANDLE_VALUE)
        return IsMissing(GetLastError()) ? ERROR_FILE_NOT_FOUND : GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(pRecord->h, &info))
        return GetLastError();
    if (info.nFileSizeHigh != 0 || info.nFileSizeLow > StepRecord::s_cbMaxRecord + s_cbCutMark)
        return ERROR_FILE_TOO_LARGE;
    pRecord->pch = static_cast<char *>(malloc(info.nFileSizeLow + 1));
    if (!pRecord->pch)
        return ERROR_NOT_ENOUGH_MEMORY;
    while (pRecord->cb < info.nFileSizeLow) {
        DWORD cbRead = 0;
        if (!ReadFile(pRecord->h, pRecord->pch + pRecord->cb, info.nFileSizeLow - pRecord->cb, &cbRead, nullptr))
            return GetLastError();
        if (cbRead == 0)
            break;
        pRecord->cb += cbRead;
    }
    pRecord->pch[pRecord->cb] = '\0';
    pRecord->bV1 = pRecord->cb >= s_cchHeader && memcmp(pRecord->pch, s_szHeaderV1, s_cchHeader) == 0;
    bool bRecord = pRecord->bV1 || (pRecord->cb >= s_cchHeader && memcmp(pRecord->pch, s_szHeader, s_cchHeader) == 0);
    return bRecord ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

// "U\t" and ten digits: the number of the entry undone, else 0.
unsigned MarkedEntry(const char *pszLine)
{
    if (pszLine[0] != 'U' || pszLine[1] != '\t' || strlen(pszLine) != 12 || strspn(pszLine + 2, "0123456789") != 10)
        return 0;
    return static_cast<unsigned>(strtoul(pszLine + 2, nullptr, 10));
}

// Splits the record into lines: the entries, numbered from 1 in the order
// written, and the marks of those undone. A line that is neither (a mark cut
// short and ended by a later undo) counts for nothing.
bool IndexEntries(Record *pRecord)
{
    if (!pRecord->pch)
        return false;
    char *pszFirst = pRecord->pch + s_cchHeader;
    unsigned cLines = 0;
    for (const char *p = pszFirst; (p = strchr(p, '\n')) != nullptr; p++)
        cLines++;
    pRecord->rgpszEntry = static_cast<char **>(malloc((cLines + 1) * sizeof(char *)));
    pRecord->rgbUndone = static_cast<bool *>(calloc(cLines + 2, sizeof(bool)));
    if (!pRecord->rgpszEntry || !pRecord->rgbUndone)
        return false;
    char *pszLine = pszFirst;
    for (char *pszEnd; (pszEnd = strchr(pszLine, '\n')) != nullptr; pszLine = pszEnd + 1) {
        *pszEnd = '\0';
        if (pszEnd > pszLine && pszEnd[-1] == '\r')
            pszEnd[-1] = '\0';
        unsigned nMarked = MarkedEntry(pszLine);
        if (nMarked >= 1 && nMarked <= cLines + 1)
            pRecord->rgbUndone[nMarked] = true;
        else if (pszLine[0] != 'U')
            pRecord->rgpszEntry[pRecord->cEntries++] = pszLine;
    }
    pRecord->pszCut = *pszLine ? pszLine : nullptr;
    return true;
}

bool AppendFlushed(HANDLE h, const char *psz)
{
    DWORD cb = static_cast<DWORD>(strlen(psz)), cbWritten = 0;
    if (!WriteFile(h, psz, cb, &cbWritten, nullptr))
        return false;
    if (cbWritten != cb) {
        SetLastError(ERROR_DISK_FULL);
        return false;
    }
    return FlushFileBuffers(h) != FALSE;
}

// Marks entry n undone; a line an earlier run cut short is ended first, and,
// when it is an entry, marked too: its step was never made.
bool MarkUndone(Record *pRecord, unsigned n)
{
    char szMark[2 + s_cbMark + 1];
    if (pRecord->pszCut) {
        snprintf(szMark, sizeof szMark, pRecord->pszCut[0] == 'U' ? "\r\n" : "\r\nU\t%010u\r\n", pRecord->cEntries + 1);
        if (!AppendFlushed(pRecord->h, szMark))
            return false;
        pRecord->pszCut = nullptr;
    }
    snprintf(szMark, sizeof szMark, "U\t%010u\r\n", n);
    return AppendFlushed(pRecord->h, szMark);
}

// Whether an entry's fields are what a record of its version holds, for a
// command whose data sources lie below pszBelow.
bool IsSound(char chKind, const char *psz1, const char *psz2, const char *psz3, bool bV1, const char *pszBelow)
{
    bool bNumber = psz2 && *psz2 && strlen(psz2) < 11 && strspn(psz2, "0123456789") == strlen(psz2);
    bool bFits = strlen(psz1) < 260 && (!psz2 || strlen(psz2) < 260);
    switch (chKind) {
    case 'M':
        return bFits && bNumber && IsWithin(psz1, pszBelow) && (bV1 ? !psz3 : psz3 != nullptr);
    case 'X':
        return bFits && bNumber && !psz3 && IsWithin(psz1, pszBelow);
    case 'R':
        return bFits && psz2 && !psz3 && IsWithin(psz1, pszBelow) && IsWithin(psz2, pszBelow);
    case 'C':
    case 'D':
        return bFits && !psz2 && IsWithin(psz1, pszBelow);
    default:
        return false;
    }
}

// The entries not yet undone, the last first. Each one undone is marked at
// once; one that cannot be is logged with its error. False when any was not
// undone, or a mark could not be written (the undo stops there).
bool UndoEntries(Record *pRecord, const char *pszFolder, const char *pszBelow, InstallLog *pLog)
{
    bool bAll = true;
    for (unsigned n = pRecord->cEntries; n >= 1; n--) {
        if (pRecord->rgbUndone[n])
            continue;
        // Kind, tab, then up to three fields.
        char *rgpszField[4] = {pRecord->rgpszEntry[n - 1]};
        for (int i = 1; i < 4 && rgpszField[i - 1]; i++) {
            rgpszField[i] = strchr(rgpszField[i - 1], '\t');
            if (rgpszField[i])
                *rgpszField[i]++ = '\0';
        }
        const char chKind = rgpszField[0][0];
        char *psz1 = rgpszField[0][0] && !rgpszField[0][1] ? rgpszField[1] : nullptr;
        char *psz2 = rgpszField[2], *psz3 = rgpszField[3];
        DWORD dwError = ERROR_INVALID_DATA;
        if (psz1 && IsSound(chKind, psz1, psz2, psz3, pRecord->bV1, pszBelow)) {
            dwError = CheckParent(psz1, pszBelow, pLog);
            if (dwError == ERROR_SUCCESS)
                dwError = UndoEntry(chKind, psz1, psz2, psz3, pszFolder);
        }
        if (dwError != ERROR_SUCCESS) {
            LogLastError(pLog, dwError, "Rollback failed on %s", psz1 ? psz1 : rgpszField[0]);
            bAll = false;
        } else if (!MarkUndone(pRecord, n)) {
            LogLastError(pLog, GetLastError(), "WriteFile failed on %s\\%s", pszFolder, s_szRecordName);
            return false;
        }
    }
    return bAll;
}

bool HasEntryToUndo(const Record &record)
{
    for (unsigned n = 1; n <= record.cEntries; n++) {
        if (!record.rgbUndone[n])
            return true;
    }
    return false;
}

// The TWAIN directory above pszBelow, held and checked.
HANDLE OpenTwainDirAbove(const char *pszBelow, InstallLog *pLog)
{
    char szTwainDir[260];
    if (!ParentOf(pszBelow, szTwainDir))
        return INVALID_HANDLE_VALUE;
    HANDLE h = OpenTrustedDir(szTwainDir, false, pLog);
    if (h == INVALID_HANDLE_VALUE)
        LogLastError(pLog, GetLastError(), "Rollback failed on %s", szTwainDir);
    return h;
}

bool IsDotEntry(const char *pszName)
{
    return strcmp(pszName, ".") == 0 || strcmp(pszName, "..") == 0;
}

bool IsRecordName(const char *pszName)
{
    return _mbsicmp(reinterpret_cast<const unsigned char *>(pszName),
                    reinterpret_cast<const unsigned char *>(s_szRecordName)) == 0;
}

// Whether the run folder holds anything besides its record: a file moved
// aside that no rollback put back. True too when that cannot be told.
bool HoldsBackups(const char *pszFolder)
{
    DirectoryListing listing;
    if (!listing.Open(pszFolder))
        return true;
    char szName[260];
    DWORD dwAttributes = 0;
    bool bHolds = false;
    while (!bHolds && listing.Next(szName, sizeof szName, &dwAttributes))
        bHolds = !IsDotEntry(szName) && !IsRecordName(szName);
    return bHolds || GetLastError() != ERROR_NO_MORE_FILES;
}

// Removes the folder when it is empty and no link; anything else stays.
void RemoveIfEmpty(const char *pszFolder)
{
    HANDLE h = OpenNoWait(pszFolder, DELETE | FILE_READ_ATTRIBUTES, 0, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (h == INVALID_HANDLE_VALUE)
        return;
    if (!IsReparsePointHandle(h))
        DeleteByHandle(h);
    CloseHandle(h);
}

} // namespace

StepRecord::StepRecord(DWORD cbMax)
    : m_hFolder(INVALID_HANDLE_VALUE), m_hRecord(INVALID_HANDLE_VALUE), m_cbMax(cbMax), m_cbWritten(0), m_cEntries(0),
      m_cMoved(0)
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
    // Each level held until the one below it is made and checked.
    HANDLE rghLevel[3] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    bool bMade = true;
    for (int i = 0; i < 3 && bMade; i++) {
        *rgpszLevel[i] = '\\';
        rghLevel[i] = OpenOwnLevel(m_szFolder, i == 2, pLog); // a run's folder is new
        bMade = rghLevel[i] != INVALID_HANDLE_VALUE;
    }
    for (int i = 0; i < 2; i++) {
        if (rghLevel[i] != INVALID_HANDLE_VALUE)
            CloseHandle(rghLevel[i]);
    }
    m_hFolder = rghLevel[2];
    char szRecord[260];
    if (!bMade || !Join(szRecord, m_szFolder, s_szRecordName))
        return false;
    m_hRecord = OpenNoWait(szRecord, FILE_WRITE_DATA | FILE_APPEND_DATA, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE);
    if (m_hRecord == INVALID_HANDLE_VALUE) {
        LogLastError(pLog, GetLastError(), "CreateFile failed on %s", szRecord);
        return false;
    }
    m_cbWritten = static_cast<DWORD>(s_cchHeader);
    return AppendFlushed(m_hRecord, s_szHeader);
}

bool StepRecord::Append(char chKind, const char *psz1, const char *psz2, const char *psz3)
{
    // Paths as the steps take them; a kept DACL of up to 64 KiB.
    if (strlen(psz1) >= 260 || (psz2 && strlen(psz2) >= 260) ||
        (psz3 && strlen(psz3) > 2 * static_cast<size_t>(s_cbMaxDescriptor))) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    size_t cb = 2 + strlen(psz1) + (psz2 ? 1 + strlen(psz2) : 0) + (psz3 ? 1 + strlen(psz3) : 0) + 3;
    // Room kept for the undo to mark this entry and every one before it.
    if (m_hRecord == INVALID_HANDLE_VALUE ||
        m_cbWritten + cb + static_cast<size_t>(m_cEntries + 1) * s_cbMark + s_cbCutMark > m_cbMax) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    char *pszLine = static_cast<char *>(malloc(cb));
    if (!pszLine) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    snprintf(pszLine, cb, "%c\t%s%s%s%s%s\r\n", chKind, psz1, psz2 ? "\t" : "", psz2 ? psz2 : "", psz3 ? "\t" : "",
             psz3 ? psz3 : "");
    // Flushed before the step: after a power loss the record holds every
    // step that may have been made.
    bool bWritten = AppendFlushed(m_hRecord, pszLine);
    free(pszLine);
    if (bWritten) {
        m_cbWritten += static_cast<DWORD>(cb - 1);
        m_cEntries++;
    }
    return bWritten;
}

bool StepRecord::Cancel()
{
    // Uses the room Append kept for this entry's mark.
    if (m_hRecord == INVALID_HANDLE_VALUE || m_cEntries == 0)
        return false;
    char szMark[s_cbMark + 1];
    snprintf(szMark, sizeof szMark, "U\t%010u\r\n", m_cEntries);
    if (AppendFlushed(m_hRecord, szMark)) {
        m_cbWritten += s_cbMark;
        return true;
    }
    // A mark cut short would hide the entry after it: no step is recorded, nor made, from here.
    CloseHandle(m_hRecord);
    m_hRecord = INVALID_HANDLE_VALUE;
    return false;
}

bool StepRecord::MoveAside(HANDLE h, const char *pszPath)
{
    char szName[16];
    char szAside[260];
    snprintf(szName, sizeof szName, "%u", m_cMoved + 1);
    if (!Join(szAside, m_szFolder, szName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    char *pszDacl = ReadDaclHex(h);
    bool bRecorded = pszDacl && Append('M', pszPath, szName, pszDacl);
    free(pszDacl);
    if (!bRecorded || !RenameByHandle(h, szAside, false))
        return false;
    m_cMoved++;
    if (SetKernelObjectSecurity(h, DACL_SECURITY_INFORMATION, ProtectedDescriptor()))
        return true;
    // Not to be left where others may open it: home again, and the step fails.
    DWORD dwError = GetLastError();
    RenameByHandle(h, pszPath, false);
    SetLastError(dwError);
    return false;
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
    if (hFolder == INVALID_HANDLE_VALUE && IsMissing(GetLastError()))
        return true; // the command never began its record
    Record record;
    DWORD dwRead = hFolder == INVALID_HANDLE_VALUE ? GetLastError() : ReadRecord(pszFolder, &record);
    bool bAll = dwRead == ERROR_FILE_NOT_FOUND;
    if (dwRead == ERROR_SUCCESS) {
        bAll = IndexEntries(&record);
        // With nothing left to undo, a TWAIN directory gone since is no failure.
        if (bAll && HasEntryToUndo(record)) {
            HANDLE hTwainDir = OpenTwainDirAbove(pszBelow, pLog);
            bAll = hTwainDir != INVALID_HANDLE_VALUE && UndoEntries(&record, pszFolder, pszBelow, pLog);
            if (hTwainDir != INVALID_HANDLE_VALUE)
                CloseHandle(hTwainDir);
        }
    } else if (!bAll) {
        LogLastError(pLog, dwRead, "Record unreadable: %s\\%s", pszFolder, s_szRecordName);
    }
    free(record.rgpszEntry);
    free(record.rgbUndone);
    free(record.pch);
    if (record.h != INVALID_HANDLE_VALUE)
        CloseHandle(record.h);
    if (hFolder != INVALID_HANDLE_VALUE)
        CloseHandle(hFolder);
    // What could not be put back stays in the folder, for a person to find.
    if (bAll)
        return RemoveAll(pszFolder, pLog);
    LogPrintf(pLog, "Backup folder left: %s", pszFolder);
    return false;
}

bool StepRecord::RemoveAll(const char *pszFolder, InstallLog *pLog)
{
    HANDLE hFolder = OpenTrustedDir(pszFolder, false, pLog);
    if (hFolder == INVALID_HANDLE_VALUE)
        return IsMissing(GetLastError());
    DirectoryListing listing;
    bool bAll = listing.Open(pszFolder);
    char szName[260];
    DWORD dwAttributes = 0;
    while (bAll && listing.Next(szName, sizeof szName, &dwAttributes)) {
        if (IsDotEntry(szName) || IsRecordName(szName))
            continue;
        char szPath[260];
        if (!Join(szPath, pszFolder, szName)) {
            bAll = false;
        } else if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
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
    if (bAll && GetLastError() != ERROR_NO_MORE_FILES)
        bAll = false;
    listing.Close();
    // The record goes last: a folder that stays still tells what it holds,
    // and what was undone already.
    char szRecord[260];
    bool bLinked = false;
    HANDLE hRecord = bAll && Join(szRecord, pszFolder, s_szRecordName)
                         ? OpenFileExclusive(szRecord, DELETE, FILE_OPEN, &bLinked)
                         : INVALID_HANDLE_VALUE;
    if (hRecord != INVALID_HANDLE_VALUE) {
        bAll = DeleteByHandle(hRecord);
        CloseHandle(hRecord);
    } else if (bAll && !(IsMissing(GetLastError()) && !bLinked)) {
        bAll = false;
    }
    CloseHandle(hFolder);
    HANDLE h = OpenDirectory(pszFolder, true);
    bool bRemoved = h != INVALID_HANDLE_VALUE && DeleteByHandle(h);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (!bRemoved)
        LogPrintf(pLog, "Backup folder left: %s", pszFolder);
    return bAll && bRemoved;
}

void StepRecord::LetGo(const char *pszFolder, size_t cchInstallation, InstallLog *pLog)
{
    char szProduct[260], szTop[260];
    if (!ParentOf(pszFolder, szProduct) || !ParentOf(szProduct, szTop))
        return;
    const unsigned char *pszRun = reinterpret_cast<const unsigned char *>(pszFolder + strlen(szProduct) + 1);
    DirectoryListing listing;
    char szName[260];
    DWORD dwAttributes = 0;
    if (!listing.Open(szProduct) && !IsMissing(GetLastError()))
        LogLastError(pLog, GetLastError(), "NtQueryDirectoryFile failed on %s", szProduct);
    while (listing.IsOpen() && listing.Next(szName, sizeof szName, &dwAttributes)) {
        const unsigned char *pszName = reinterpret_cast<const unsigned char *>(szName);
        char szRun[260];
        if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotEntry(szName) ||
            (cchInstallation > 0 && _mbsnbicmp(pszName, pszRun, cchInstallation) == 0) ||
            !Join(szRun, szProduct, szName))
            continue;
        // A run whose rollback never came: what it moved aside is found
        // nowhere else.
        if (HoldsBackups(szRun))
            LogPrintf(pLog, "Backup folder left: %s", szRun);
        else
            RemoveAll(szRun, pLog);
    }
    listing.Close();
    RemoveIfEmpty(szProduct);
    RemoveIfEmpty(szTop);
}
