#include "FileHandles.h"

#include "RuntimeFunctions.h"

#include <stdlib.h>
#include <string.h>

namespace {

// NTSTATUS values, which winnt.h does not define.
const NTSTATUS s_statusOplockBreakInProgress = 0x00000108;
const NTSTATUS s_statusSharingViolation = static_cast<NTSTATUS>(0xC0000043u);

const DWORD s_cbCopyBlock = 65536;

const NTSTATUS s_statusNoMoreFiles = static_cast<NTSTATUS>(0x80000006u);
const ULONG s_ulFileDirectoryInformation = 1;

// Where FILE_DIRECTORY_INFORMATION, which winternl.h does not define, keeps
// what the listing reads: the next entry's offset, the attributes, the
// name's length in bytes and the name.
const size_t s_ibNextEntry = 0;
const size_t s_ibAttributes = 56;
const size_t s_ibNameLength = 60;
const size_t s_ibName = 64;

ULONG EntryField(const BYTE *pbEntry, size_t ib)
{
    ULONG ul;
    memcpy(&ul, pbEntry + ib, sizeof ul);
    return ul;
}

} // namespace

namespace {

// RtlNtStatusToDosError, when the NTDLL call that needs it was found too
// (bFound); null otherwise, with ERROR_PROC_NOT_FOUND: nothing is done by
// name instead.
PFN_RTLNTSTATUSTODOSERROR StatusMapper(bool bFound)
{
    PFN_RTLNTSTATUSTODOSERROR pfnToError = bFound ? s_fnRtlNtStatusToDosError.Find() : nullptr;
    if (!pfnToError)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return pfnToError;
}

// The name NtCreateFile is given: below hRoot, the relative name as it is;
// else the NT name, \??\ and the path (\\server\share becomes \??\UNC\server\share).
// cppcheck-suppress constParameter
bool MakeNtName(HANDLE hRoot, const char *pszPath, WCHAR *wszName, size_t cwchName, UNICODE_STRING *pName)
{
    bool bUnc = !hRoot && pszPath[0] == '\\' && pszPath[1] == '\\';
    static const WCHAR s_wszDos[] = {'\\', '?', '?', '\\'};
    static const WCHAR s_wszUnc[] = {'\\', '?', '?', '\\', 'U', 'N', 'C'};
    size_t cwchPrefix = bUnc ? sizeof s_wszUnc / sizeof(WCHAR) : sizeof s_wszDos / sizeof(WCHAR);
    if (hRoot)
        cwchPrefix = 0;
    else
        memcpy(wszName, bUnc ? s_wszUnc : s_wszDos, cwchPrefix * sizeof(WCHAR));
    int cwch = MultiByteToWideChar(CP_ACP, 0, bUnc ? pszPath + 1 : pszPath, -1, wszName + cwchPrefix,
                                   static_cast<int>(cwchName - cwchPrefix));
    if (cwch <= 1) {
        if (cwch == 1)
            SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    for (int i = 0; i < cwch; i++) {
        if (wszName[cwchPrefix + i] == '/')
            wszName[cwchPrefix + i] = '\\';
    }
    pName->Length = static_cast<WORD>((cwchPrefix + static_cast<size_t>(cwch) - 1) * sizeof(WCHAR));
    pName->MaximumLength = static_cast<WORD>(pName->Length + sizeof(WCHAR));
    pName->Buffer = wszName;
    return true;
}

} // namespace

HANDLE OpenNoWait(const char *pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition, DWORD dwOptions,
                  bool *pbCreated)
{
    return OpenNoWaitAt(nullptr, pszPath, dwAccess, dwShare, dwDisposition, dwOptions, pbCreated);
}

HANDLE OpenNoWaitAt(HANDLE hRoot, const char *pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition,
                    DWORD dwOptions, bool *pbCreated)
{
    if (pbCreated)
        *pbCreated = false;
    PFN_NTCREATEFILE pfnNtCreateFile = s_fnNtCreateFile.Find();
    PFN_RTLNTSTATUSTODOSERROR pfnToError = StatusMapper(pfnNtCreateFile != nullptr);
    if (!pfnToError)
        return INVALID_HANDLE_VALUE;
    if (hRoot == INVALID_HANDLE_VALUE)
        hRoot = nullptr;
    WCHAR wszName[8 + MAX_PATH];
    UNICODE_STRING name;
    if (!MakeNtName(hRoot, pszPath, wszName, sizeof wszName / sizeof(WCHAR), &name))
        return INVALID_HANDLE_VALUE;
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = hRoot;
    attributes.ObjectName = &name;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK iosb = {};
    HANDLE h = nullptr;
    NTSTATUS status = pfnNtCreateFile(
        &h, dwAccess | SYNCHRONIZE, &attributes, &iosb, nullptr, FILE_ATTRIBUTE_NORMAL, dwShare, dwDisposition,
        dwOptions | FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    // Opened while another process's oplock is being broken: the next call on
    // the handle could wait for that break. Given up as a sharing violation,
    // as is an open that a batch oplock refused (FILE_OPBATCH_BREAK_UNDERWAY).
    if (status == s_statusOplockBreakInProgress) {
        CloseHandle(h);
        status = s_statusSharingViolation;
    }
    if (status < 0) {
        SetLastError(pfnToError(status));
        return INVALID_HANDLE_VALUE;
    }
    if (pbCreated)
        *pbCreated = iosb.Information == FILE_CREATED;
    return h;
}

bool ReadFileFacts(HANDLE h, BY_HANDLE_FILE_INFORMATION *pInfo)
{
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard))
        return false;
    memset(pInfo, 0, sizeof *pInfo);
    pInfo->dwFileAttributes = basic.FileAttributes;
    FILETIME *rgft[] = {&pInfo->ftCreationTime, &pInfo->ftLastAccessTime, &pInfo->ftLastWriteTime};
    const LARGE_INTEGER *rgli[] = {&basic.CreationTime, &basic.LastAccessTime, &basic.LastWriteTime};
    for (size_t i = 0; i < sizeof rgft / sizeof rgft[0]; i++) {
        rgft[i]->dwLowDateTime = rgli[i]->LowPart;
        rgft[i]->dwHighDateTime = static_cast<DWORD>(rgli[i]->HighPart);
    }
    pInfo->nFileSizeHigh = static_cast<DWORD>(standard.EndOfFile.HighPart);
    pInfo->nFileSizeLow = standard.EndOfFile.LowPart;
    pInfo->nNumberOfLinks = standard.NumberOfLinks;
    return true;
}

bool IsLinked(const BY_HANDLE_FILE_INFORMATION &info)
{
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks != 1;
}

HANDLE OpenFileExclusive(const char *pszPath, DWORD dwAccess, DWORD dwDisposition, bool *pbLinked, bool *pbCreated)
{
    return OpenFileExclusiveAt(nullptr, pszPath, dwAccess, dwDisposition, pbLinked, pbCreated);
}

HANDLE OpenFileExclusiveAt(HANDLE hRoot, const char *pszPath, DWORD dwAccess, DWORD dwDisposition, bool *pbLinked,
                           bool *pbCreated, BY_HANDLE_FILE_INFORMATION *pInfo)
{
    *pbLinked = false;
    bool bCreated = false;
    HANDLE h = OpenNoWaitAt(hRoot, pszPath, dwAccess | FILE_READ_ATTRIBUTES, 0, dwDisposition, FILE_NON_DIRECTORY_FILE,
                            &bCreated);
    if (pbCreated)
        *pbCreated = bCreated;
    // What the open made has one name and is no reparse point: nothing to check.
    if (h == INVALID_HANDLE_VALUE || (bCreated && !pInfo))
        return h;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD dwError = ERROR_SUCCESS;
    if (!ReadFileFacts(h, &info)) {
        dwError = GetLastError();
    } else if (IsLinked(info)) {
        *pbLinked = true;
        dwError = ERROR_ACCESS_DENIED;
    } else if (pInfo) {
        *pInfo = info;
    }
    if (dwError == ERROR_SUCCESS)
        return h;
    if (bCreated && (dwAccess & DELETE))
        DeleteByHandle(h);
    CloseHandle(h);
    SetLastError(dwError);
    return INVALID_HANDLE_VALUE;
}

HANDLE OpenDirectory(const char *pszPath, bool bRemove, HANDLE hRoot)
{
    // Shared for reading and writing: a rename in it opens it for writing.
    const DWORD dwHeld = READ_CONTROL | FILE_READ_ATTRIBUTES | (bRemove ? DELETE | FILE_WRITE_ATTRIBUTES : 0);
    return OpenNoWaitAt(hRoot, pszPath, dwHeld, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, FILE_DIRECTORY_FILE);
}

bool IsReparsePointHandle(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    return !ReadFileFacts(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CopyByHandle(HANDLE hFrom, const BY_HANDLE_FILE_INFORMATION &info, HANDLE hTo, bool bEmpty, bool *pbWritten)
{
    *pbWritten = false;
    BYTE *pb = static_cast<BYTE *>(malloc(s_cbCopyBlock));
    if (!pb) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    // From the start of hFrom, which a copy before this one read to its end.
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(hFrom, zero, nullptr, FILE_BEGIN)) {
        free(pb);
        return false;
    }
    // Cut first: a copy cut short leaves a part of the template, never the old
    // content's tail after it.
    bool bCopied = bEmpty || SetEndOfFile(hTo) != FALSE;
    *pbWritten = bCopied && !bEmpty;
    // hFrom is held unshared: its size is what it was when it was read.
    unsigned long long cbLeft = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    while (bCopied && cbLeft > 0) {
        DWORD cbRead = 0, cbWritten = 0;
        DWORD cbBlock = cbLeft < s_cbCopyBlock ? static_cast<DWORD>(cbLeft) : s_cbCopyBlock;
        if (!ReadFile(hFrom, pb, cbBlock, &cbRead, nullptr)) {
            bCopied = false;
            break;
        }
        if (cbRead == 0)
            break;
        cbLeft -= cbRead;
        *pbWritten = true;
        bool bWrote = WriteFile(hTo, pb, cbRead, &cbWritten, nullptr) != FALSE;
        if (!bWrote || cbWritten != cbRead) {
            if (bWrote)
                SetLastError(ERROR_DISK_FULL);
            bCopied = false;
            break;
        }
    }
    free(pb);
    if (!bCopied)
        return false;
    FILE_BASIC_INFO basic = {};
    basic.LastWriteTime.LowPart = info.ftLastWriteTime.dwLowDateTime;
    basic.LastWriteTime.HighPart = static_cast<LONG>(info.ftLastWriteTime.dwHighDateTime);
    const DWORD dwCopied =
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    basic.FileAttributes =
        (info.dwFileAttributes & dwCopied) ? info.dwFileAttributes & dwCopied : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(hTo, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool SetAttributesByHandle(HANDLE h, DWORD dwAttributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = dwAttributes;
    return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool DeleteByHandle(HANDLE h)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

bool RenameByHandle(HANDLE h, const char *pszNewPath, bool bReplaceIfExists, HANDLE hRoot)
{
    alignas(FILE_RENAME_INFO) BYTE rgbRename[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    memset(rgbRename, 0, sizeof rgbRename);
    FILE_RENAME_INFO *pRename = reinterpret_cast<FILE_RENAME_INFO *>(rgbRename);
    int cwch = MultiByteToWideChar(CP_ACP, 0, pszNewPath, -1, pRename->FileName, MAX_PATH);
    if (cwch <= 1)
        return false;
    pRename->ReplaceIfExists = bReplaceIfExists ? TRUE : FALSE;
    pRename->RootDirectory = hRoot == INVALID_HANDLE_VALUE ? nullptr : hRoot;
    pRename->FileNameLength = static_cast<DWORD>(cwch - 1) * sizeof(WCHAR);
    if (!pRename->RootDirectory)
        return SetFileInformationByHandle(h, FileRenameInfo, rgbRename, sizeof rgbRename) != FALSE;
    // FILE_RENAME_INFORMATION has FILE_RENAME_INFO's layout.
    const ULONG ulFileRenameInformation = 10;
    PFN_NTSETINFORMATIONFILE pfnSet = s_fnNtSetInformationFile.Find();
    PFN_RTLNTSTATUSTODOSERROR pfnToError = StatusMapper(pfnSet != nullptr);
    if (!pfnToError)
        return false;
    IO_STATUS_BLOCK iosb = {};
    NTSTATUS status = pfnSet(h, &iosb, rgbRename, sizeof rgbRename, ulFileRenameInformation);
    if (status < 0)
        SetLastError(pfnToError(status));
    return status >= 0;
}

DirectoryListing::DirectoryListing() : m_hDir(INVALID_HANDLE_VALUE), m_cbFilled(0), m_ibNext(0), m_rgb()
{
}

DirectoryListing::~DirectoryListing()
{
    Close();
}

bool DirectoryListing::Open(const char *pszDir)
{
    Close();
    m_hDir = OpenNoWait(pszDir, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                        FILE_DIRECTORY_FILE);
    return m_hDir != INVALID_HANDLE_VALUE;
}

void DirectoryListing::Close()
{
    if (m_hDir != INVALID_HANDLE_VALUE)
        CloseHandle(m_hDir);
    m_hDir = INVALID_HANDLE_VALUE;
    m_cbFilled = m_ibNext = 0;
}

bool DirectoryListing::Fill()
{
    PFN_NTQUERYDIRECTORYFILE pfnQuery = s_fnNtQueryDirectoryFile.Find();
    PFN_RTLNTSTATUSTODOSERROR pfnToError = StatusMapper(pfnQuery != nullptr);
    if (!pfnToError)
        return false;
    IO_STATUS_BLOCK iosb = {};
    NTSTATUS status = pfnQuery(m_hDir, nullptr, nullptr, nullptr, &iosb, m_rgb, sizeof m_rgb,
                               s_ulFileDirectoryInformation, FALSE, nullptr, FALSE);
    m_cbFilled = m_ibNext = 0;
    if (status == s_statusNoMoreFiles) {
        SetLastError(ERROR_NO_MORE_FILES);
        return false;
    }
    if (status < 0) {
        SetLastError(pfnToError(status));
        return false;
    }
    m_cbFilled = static_cast<ULONG>(iosb.Information);
    if (m_cbFilled == 0) {
        SetLastError(ERROR_NO_MORE_FILES);
        return false;
    }
    return true;
}

bool DirectoryListing::Next(char *szName, size_t cbName, DWORD *pdwAttributes)
{
    for (;;) {
        if (m_hDir == INVALID_HANDLE_VALUE) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (m_ibNext >= m_cbFilled && !Fill())
            return false;
        const BYTE *pbEntry = m_rgb + m_ibNext;
        ULONG ibNext = EntryField(pbEntry, s_ibNextEntry);
        m_ibNext = ibNext ? m_ibNext + ibNext : m_cbFilled;
        BOOL bLossy = FALSE;
        int cch = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const WCHAR *>(pbEntry + s_ibName),
                                      static_cast<int>(EntryField(pbEntry, s_ibNameLength) / sizeof(WCHAR)), szName,
                                      static_cast<int>(cbName - 1), nullptr, &bLossy);
        if (cch <= 0 || bLossy)
            continue; // would name another entry, or none
        szName[cch] = '\0';
        *pdwAttributes = EntryField(pbEntry, s_ibAttributes);
        return true;
    }
}

int CrtErrno(DWORD dwError)
{
    switch (dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return 2; // ENOENT
    case ERROR_ACCESS_DENIED:
        return 13; // EACCES
    case ERROR_INVALID_HANDLE:
        return 9; // EBADF
    case ERROR_NOT_ENOUGH_MEMORY:
        return 12; // ENOMEM
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return 17; // EEXIST
    case ERROR_DISK_FULL:
        return 28; // ENOSPC
    case ERROR_DIR_NOT_EMPTY:
        return 41; // ENOTEMPTY
    default:
        // Write protection to sharing and lock violations: EACCES; the rest EINVAL.
        return dwError >= 19 && dwError <= 36 ? 13 : 22;
    }
}
