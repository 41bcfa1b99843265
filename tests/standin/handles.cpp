// kernel32 and NTDLL file handles on POSIX descriptors, for what the log and
// the data-source steps do with them: open without following a link at the
// name, read the file's facts, read, write and cut it, set its attributes,
// rename or delete the open file, hand the handle to the runtime as a
// descriptor. Sharing modes are not kept; another process's oplock is what
// ZulStandinHoldOplock says. A handle is its descriptor, numbered apart from other handles;
// the runtime's _close and fclose are not seen here, so a handle's record is
// trusted only while its descriptor still shows the same file.
#include "standin.h"

#include <io.h>
#include <winternl.h>

#include <errno.h>
#include <dirent.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

const intptr_t s_hFirstFile = 0x40000;

struct OpenFile {
    std::string sPath; // the name the file was opened by, or renamed to
    DWORD dwAccess;
    dev_t dev;
    ino_t ino;
    // Of a directory: its names as NtQueryDirectoryFile first read them, and
    // how many it handed out. Later changes do not move the cursor, as on NTFS.
    std::vector<std::string> names = {};
    size_t cListed = 0;
};

std::map<int, OpenFile> s_files;

// The file another process holds an oplock on, and how an open of it ends.
struct Oplock {
    bool bHeld = false;
    dev_t dev = 0;
    ino_t ino = 0;
    NTSTATUS status = 0;
} s_oplock;

// NTSTATUS values and the errors RtlNtStatusToDosError gives for them.
const struct {
    uint32_t status;
    DWORD dwError;
} s_rgStatusErrors[] = {
    {0xC0000034, ERROR_FILE_NOT_FOUND},    {0xC000003A, ERROR_PATH_NOT_FOUND}, {0xC0000022, ERROR_ACCESS_DENIED},
    {0xC0000043, ERROR_SHARING_VIOLATION}, {0xC0000035, ERROR_ALREADY_EXISTS}, {0xC0000103, ERROR_DIRECTORY},
    {0xC00000BA, ERROR_ACCESS_DENIED},     {0xC0000101, ERROR_DIR_NOT_EMPTY},  {0xC0000017, ERROR_NOT_ENOUGH_MEMORY},
    {0xC000000D, ERROR_INVALID_PARAMETER}, {0xC0000033, ERROR_INVALID_NAME},   {0xC0000001, ERROR_GEN_FAILURE},
    {0xC0000008, ERROR_INVALID_HANDLE},
};
const NTSTATUS s_statusNotADirectory = static_cast<NTSTATUS>(0xC0000103u);
const NTSTATUS s_statusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAu);
const NTSTATUS s_statusCollision = static_cast<NTSTATUS>(0xC0000035u);
const NTSTATUS s_statusInvalidName = static_cast<NTSTATUS>(0xC0000033u);

NTSTATUS StatusOf(DWORD dwError)
{
    for (auto &entry : s_rgStatusErrors) {
        if (entry.dwError == dwError)
            return static_cast<NTSTATUS>(entry.status);
    }
    return static_cast<NTSTATUS>(0xC0000001u); // STATUS_UNSUCCESSFUL
}

// The generic rights as the file object maps them.
ACCESS_MASK MapGeneric(ACCESS_MASK access)
{
    if (access & GENERIC_READ)
        access |= FILE_GENERIC_READ;
    if (access & GENERIC_WRITE)
        access |= FILE_GENERIC_WRITE;
    if (access & GENERIC_ALL)
        access |= FILE_ALL_ACCESS;
    return access;
}

HANDLE HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(s_hFirstFile + 4 * static_cast<intptr_t>(fd));
}

bool ShowsFile(const struct stat &st, const OpenFile &file)
{
    return st.st_dev == file.dev && st.st_ino == file.ino;
}

// The open file behind a handle, with its descriptor; null (last error set) for
// anything else.
OpenFile *Lookup(HANDLE h, int *pfd)
{
    intptr_t v = reinterpret_cast<intptr_t>(h);
    auto it = s_files.end();
    if (v >= s_hFirstFile && (v - s_hFirstFile) % 4 == 0)
        it = s_files.find(static_cast<int>((v - s_hFirstFile) / 4));
    struct stat st;
    if (it != s_files.end() && fstat(it->first, &st) == 0 && ShowsFile(st, it->second)) {
        *pfd = it->first;
        return &it->second;
    }
    if (it != s_files.end())
        s_files.erase(it); // its descriptor was closed by the runtime
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

// Whether a handle of this process holds the file open.
bool IsOpen(const struct stat &stFile)
{
    for (auto &entry : s_files) {
        struct stat st;
        if (ShowsFile(stFile, entry.second) && fstat(entry.first, &st) == 0 && ShowsFile(st, entry.second))
            return true;
    }
    return false;
}

FILETIME FileTime(const struct timespec &ts)
{
    // 100-ns intervals since 1601-01-01.
    uint64_t t = (static_cast<uint64_t>(ts.tv_sec) + 11644473600ULL) * 10000000ULL + ts.tv_nsec / 100;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

// The POSIX path of a name below the open directory hRoot; false when hRoot is none.
bool BelowRoot(HANDLE hRoot, const std::string &sName, std::string *psPath);

BOOL RenameOpenFile(OpenFile &file, const FILE_RENAME_INFO *pInfo, DWORD cbInfo)
{
    if (cbInfo < offsetof(FILE_RENAME_INFO, FileName) ||
        pInfo->FileNameLength > cbInfo - offsetof(FILE_RENAME_INFO, FileName))
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    // Characters back to the bytes MultiByteToWideChar made of them.
    std::string sName;
    for (size_t i = 0; i < pInfo->FileNameLength / sizeof(WCHAR); i++) {
        WCHAR wch = pInfo->FileName[i];
        if (wch == 0 || static_cast<unsigned long>(wch) > 0xFF)
            return ZulStandinFail(ERROR_INVALID_NAME);
        sName += static_cast<char>(wch);
    }
    std::string sTarget;
    if (!pInfo->RootDirectory)
        sTarget = ZulStandinPosixPath(sName.c_str());
    else if (!BelowRoot(pInfo->RootDirectory, sName, &sTarget))
        return ZulStandinFail(ERROR_INVALID_HANDLE);
    // POSIX renames names, not open files: only while the name still shows this file.
    struct stat st;
    if (lstat(file.sPath.c_str(), &st) != 0 || !ShowsFile(st, file))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    if (lstat(sTarget.c_str(), &st) == 0 && !ShowsFile(st, file)) {
        if (!pInfo->ReplaceIfExists)
            return ZulStandinFail(ERROR_ALREADY_EXISTS);
        // Windows replaces neither a directory nor a file that is open.
        if (S_ISDIR(st.st_mode) || IsOpen(st))
            return ZulStandinFail(ERROR_ACCESS_DENIED);
    }
    if (rename(file.sPath.c_str(), sTarget.c_str()) != 0)
        return ZulStandinFail(ZulStandinErrorForPath(errno, sName.c_str()));
    file.sPath = sTarget;
    return TRUE;
}

// Windows removes the name when the last handle closes; the stand-in does not
// see that close, and removes the name at once.
BOOL DeleteOpenFile(OpenFile &file, const FILE_DISPOSITION_INFO *pInfo, DWORD cbInfo)
{
    if (cbInfo < sizeof(FILE_DISPOSITION_INFO) || !pInfo->DeleteFile)
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    struct stat st;
    if (lstat(file.sPath.c_str(), &st) != 0 || !ShowsFile(st, file))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    // A read-only file cannot be deleted (STATUS_CANNOT_DELETE), a directory only when empty.
    if (S_ISREG(st.st_mode) && ZulStandinIsReadOnly(st.st_mode))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    if (S_ISDIR(st.st_mode) ? rmdir(file.sPath.c_str()) != 0 : unlink(file.sPath.c_str()) != 0)
        return ZulStandinFail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ZulStandinErrorFromErrno(errno));
    return TRUE;
}

// Attributes as SetFileAttributesA sets them (a directory keeps its
// permissions); a time of last write other than 0 is set too.
BOOL SetBasicInfo(int fd, const FILE_BASIC_INFO *pInfo, DWORD cbInfo)
{
    struct stat st;
    if (cbInfo < sizeof(FILE_BASIC_INFO))
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    if (fstat(fd, &st) != 0 || S_ISLNK(st.st_mode))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    if (pInfo->FileAttributes != 0 && !S_ISDIR(st.st_mode)) {
        mode_t mode = st.st_mode & 07777;
        if (pInfo->FileAttributes & FILE_ATTRIBUTE_READONLY)
            mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
        else if (ZulStandinIsReadOnly(mode))
            mode |= S_IWUSR | ((mode & (S_IRGRP | S_IROTH)) >> 1);
        if (fchmod(fd, mode) != 0)
            return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    }
    if (pInfo->LastWriteTime.QuadPart != 0) {
        // 100-ns intervals since 1601-01-01.
        uint64_t t = static_cast<uint64_t>(pInfo->LastWriteTime.QuadPart) - 116444736000000000ULL;
        struct timespec rgts[2] = {{0, UTIME_OMIT},
                                   {static_cast<time_t>(t / 10000000), static_cast<long>(t % 10000000) * 100}};
        if (futimens(fd, rgts) != 0)
            return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    }
    return TRUE;
}

bool BelowRoot(HANDLE hRoot, const std::string &sName, std::string *psPath)
{
    int fd;
    OpenFile *pRoot = Lookup(hRoot, &fd);
    struct stat st;
    if (!pRoot || fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    *psPath = ZulStandinPosixPath((pRoot->sPath + "/" + sName).c_str());
    return true;
}

} // namespace

int ZulStandinFileDescriptor(HANDLE h)
{
    int fd = -1;
    return Lookup(h, &fd) ? fd : -1;
}

ACCESS_MASK ZulStandinHandleAccess(HANDLE h)
{
    int fd = -1;
    OpenFile *pFile = Lookup(h, &fd);
    return pFile ? pFile->dwAccess : 0;
}

extern "C" HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPVOID,
                                     DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE)
{
    std::string s = ZulStandinPosixPath(lpFileName);
    bool bWrite = (dwDesiredAccess & GENERIC_WRITE) != 0;
    int oflags = O_CLOEXEC | (bWrite ? O_RDWR : O_RDONLY);
    if (dwCreationDisposition == CREATE_NEW)
        oflags |= O_CREAT | O_EXCL;
    else if (dwCreationDisposition == OPEN_ALWAYS)
        oflags |= O_CREAT;
    else if (dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    bool bNoFollow = (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    int fd = open(s.c_str(), oflags | (bNoFollow ? O_NOFOLLOW : 0), 0666);
    // A link at the name is opened itself, as Windows opens a reparse point.
    if (fd < 0 && errno == ELOOP && bNoFollow)
        fd = open(s.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        DWORD dwError = errno == EEXIST ? ERROR_FILE_EXISTS : ZulStandinErrorForPath(errno, lpFileName);
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    DWORD dwError = ERROR_SUCCESS;
    if (fstat(fd, &st) != 0)
        dwError = ZulStandinErrorFromErrno(errno);
    else if (S_ISDIR(st.st_mode) && (bWrite || !(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)))
        dwError = ERROR_ACCESS_DENIED; // a directory opens only with FILE_FLAG_BACKUP_SEMANTICS, to be read
    if (dwError != ERROR_SUCCESS) {
        close(fd);
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    s_files[fd] = OpenFile{s, MapGeneric(dwDesiredAccess), st.st_dev, st.st_ino};
    SetLastError(ERROR_SUCCESS);
    return HandleOf(fd);
}

extern "C" BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation)
{
    int fd;
    struct stat st;
    if (!Lookup(hFile, &fd))
        return FALSE;
    if (fstat(fd, &st) != 0)
        return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    BY_HANDLE_FILE_INFORMATION &info = *lpFileInformation;
    info.dwFileAttributes = ZulStandinAttributes(st.st_mode, S_ISLNK(st.st_mode));
    info.ftCreationTime = FileTime(st.st_ctim);
    info.ftLastAccessTime = FileTime(st.st_atim);
    info.ftLastWriteTime = FileTime(st.st_mtim);
    info.dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    info.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    info.nFileSizeLow = static_cast<DWORD>(st.st_size);
    info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    info.nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
    info.nFileIndexLow = static_cast<DWORD>(st.st_ino);
    return TRUE;
}

extern "C" BOOL WINAPI GetFileInformationByHandleEx(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                                    LPVOID lpFileInformation, DWORD dwBufferSize)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(hFile, &info))
        return FALSE;
    if (FileInformationClass == FileBasicInfo && dwBufferSize >= sizeof(FILE_BASIC_INFO)) {
        FILE_BASIC_INFO &basic = *static_cast<FILE_BASIC_INFO *>(lpFileInformation);
        const FILETIME *rgft[] = {&info.ftCreationTime, &info.ftLastAccessTime, &info.ftLastWriteTime,
                                  &info.ftLastWriteTime};
        LARGE_INTEGER *rgli[] = {&basic.CreationTime, &basic.LastAccessTime, &basic.LastWriteTime, &basic.ChangeTime};
        for (size_t i = 0; i < 4; i++) {
            rgli[i]->LowPart = rgft[i]->dwLowDateTime;
            rgli[i]->HighPart = static_cast<LONG>(rgft[i]->dwHighDateTime);
        }
        basic.FileAttributes = info.dwFileAttributes;
        return TRUE;
    }
    if (FileInformationClass == FileStandardInfo && dwBufferSize >= sizeof(FILE_STANDARD_INFO)) {
        FILE_STANDARD_INFO &standard = *static_cast<FILE_STANDARD_INFO *>(lpFileInformation);
        standard.EndOfFile.LowPart = info.nFileSizeLow;
        standard.EndOfFile.HighPart = static_cast<LONG>(info.nFileSizeHigh);
        standard.AllocationSize = standard.EndOfFile;
        standard.NumberOfLinks = info.nNumberOfLinks;
        standard.DeletePending = FALSE;
        standard.Directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? TRUE : FALSE;
        return TRUE;
    }
    return ZulStandinFail(ERROR_INVALID_PARAMETER);
}

extern "C" BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                                  LPVOID lpFileInformation, DWORD dwBufferSize)
{
    int fd;
    OpenFile *pFile = Lookup(hFile, &fd);
    if (!pFile)
        return FALSE;
    if (FileInformationClass == FileBasicInfo) {
        if (!(pFile->dwAccess & FILE_WRITE_ATTRIBUTES))
            return ZulStandinFail(ERROR_ACCESS_DENIED);
        return SetBasicInfo(fd, static_cast<const FILE_BASIC_INFO *>(lpFileInformation), dwBufferSize);
    }
    if (FileInformationClass != FileRenameInfo && FileInformationClass != FileDispositionInfo)
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    if (!(pFile->dwAccess & DELETE))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    if (FileInformationClass == FileRenameInfo)
        return RenameOpenFile(*pFile, static_cast<const FILE_RENAME_INFO *>(lpFileInformation), dwBufferSize);
    return DeleteOpenFile(*pFile, static_cast<const FILE_DISPOSITION_INFO *>(lpFileInformation), dwBufferSize);
}

void ZulStandinHoldOplock(const char *pszPath, NTSTATUS status)
{
    struct stat st;
    s_oplock.bHeld = pszPath && lstat(pszPath, &st) == 0;
    s_oplock.dev = s_oplock.bHeld ? st.st_dev : 0;
    s_oplock.ino = s_oplock.bHeld ? st.st_ino : 0;
    s_oplock.status = status;
}

extern "C" NTSTATUS NTAPI NtCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                                       POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                                       PLARGE_INTEGER, ULONG, ULONG, ULONG CreateDisposition, ULONG CreateOptions,
                                       PVOID, ULONG)
{
    // \??\ and the Windows path, its characters back to the bytes they were made from.
    const UNICODE_STRING *pName = ObjectAttributes->ObjectName;
    std::string sName;
    for (size_t i = 0; i < pName->Length / sizeof(WCHAR); i++) {
        if (pName->Buffer[i] == 0 || static_cast<unsigned long>(pName->Buffer[i]) > 0xFF)
            return s_statusInvalidName;
        sName += static_cast<char>(pName->Buffer[i]);
    }
    // A name below an open directory, or \??\ and a full path.
    std::string s;
    if (ObjectAttributes->RootDirectory) {
        if (sName.empty() || sName[0] == '\\' || !BelowRoot(ObjectAttributes->RootDirectory, sName, &s))
            return s_statusInvalidName;
    } else {
        if (sName.compare(0, 4, "\\??\\") != 0)
            return s_statusInvalidName;
        sName.erase(0, 4);
        s = ZulStandinPosixPath(sName.c_str());
    }
    ACCESS_MASK access = MapGeneric(DesiredAccess);
    bool bWrite = (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    bool bDirectory = (CreateOptions & FILE_DIRECTORY_FILE) != 0;
    bool bNonDirectory = (CreateOptions & FILE_NON_DIRECTORY_FILE) != 0;
    int oflags = O_CLOEXEC | (bWrite ? O_RDWR : O_RDONLY);
    if (CreateDisposition == FILE_CREATE)
        oflags |= O_CREAT | O_EXCL;
    else if (CreateDisposition == FILE_OPEN_IF)
        oflags |= O_CREAT;
    else if (CreateDisposition != FILE_OPEN)
        return StatusOf(ERROR_INVALID_PARAMETER);
    struct stat st;
    bool bExists = lstat(s.c_str(), &st) == 0;
    bool bNoFollow = (CreateOptions & FILE_OPEN_REPARSE_POINT) != 0;
    int fd = -1;
    if (bExists) {
        // A link is opened itself; one to a directory is a directory, as a junction is.
        struct stat stSeen = st;
        if (S_ISLNK(st.st_mode) && stat(s.c_str(), &stSeen) != 0) {
            if (!bNoFollow)
                return StatusOf(ERROR_FILE_NOT_FOUND);
            stSeen = st; // a dangling link is a file's
        }
        if (CreateDisposition == FILE_CREATE)
            return s_statusCollision;
        if (S_ISDIR(stSeen.st_mode) && (bNonDirectory || bWrite))
            return s_statusFileIsADirectory;
        if (!S_ISDIR(stSeen.st_mode) && bDirectory)
            return s_statusNotADirectory;
        if (bWrite && S_ISREG(stSeen.st_mode) && ZulStandinIsReadOnly(stSeen.st_mode))
            return StatusOf(ERROR_ACCESS_DENIED);
        if (S_ISLNK(st.st_mode) && bNoFollow)
            fd = open(s.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        else
            fd = open(s.c_str(), (oflags & ~(O_CREAT | O_EXCL)) | (S_ISDIR(stSeen.st_mode) ? O_DIRECTORY : 0));
    } else if (bDirectory && CreateDisposition != FILE_OPEN) {
        // Made as CreateDirectoryA makes it, then opened.
        if (mkdir(s.c_str(), 0777) != 0)
            return StatusOf(ZulStandinErrorForPath(errno, sName.c_str()));
        fd = open(s.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } else {
        fd = open(s.c_str(), oflags | O_NOFOLLOW, 0666);
    }
    if (fd < 0)
        return StatusOf(errno == EEXIST ? ERROR_ALREADY_EXISTS : ZulStandinErrorForPath(errno, sName.c_str()));
    if (fstat(fd, &st) != 0) {
        close(fd);
        return StatusOf(ERROR_GEN_FAILURE);
    }
    IoStatusBlock->Information = bExists ? FILE_OPENED : FILE_CREATED;
    // Another process's oplock: refused at once, or opened while it breaks.
    // An open without data access meets neither oplocks nor sharing modes.
    NTSTATUS status = 0;
    const ACCESS_MASK dataAccess = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_EXECUTE | DELETE;
    if (s_oplock.bHeld && st.st_dev == s_oplock.dev && st.st_ino == s_oplock.ino && (access & dataAccess)) {
        status = s_oplock.status;
        if (status < 0) {
            close(fd);
            IoStatusBlock->Information = FILE_OPBATCH_BREAK_UNDERWAY;
            IoStatusBlock->Status = status;
            return status;
        }
    }
    s_files[fd] = OpenFile{s, access, st.st_dev, st.st_ino};
    *FileHandle = HandleOf(fd);
    IoStatusBlock->Status = status;
    return status;
}

extern "C" NTSTATUS NTAPI NtSetInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation,
                                               ULONG Length, ULONG FileInformationClass)
{
    const ULONG ulFileRenameInformation = 10;
    int fd;
    OpenFile *pFile = Lookup(FileHandle, &fd);
    if (!pFile)
        return StatusOf(ERROR_INVALID_HANDLE);
    if (FileInformationClass != ulFileRenameInformation)
        return StatusOf(ERROR_INVALID_PARAMETER);
    if (!(pFile->dwAccess & DELETE))
        return StatusOf(ERROR_ACCESS_DENIED);
    BOOL bDone = RenameOpenFile(*pFile, static_cast<const FILE_RENAME_INFO *>(FileInformation), Length);
    IoStatusBlock->Status = bDone ? 0 : StatusOf(GetLastError());
    return IoStatusBlock->Status;
}

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE FileHandle, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK IoStatusBlock,
                                               PVOID FileInformation, ULONG Length, ULONG FileInformationClass, BOOLEAN,
                                               PUNICODE_STRING, BOOLEAN)
{
    const ULONG ulFileDirectoryInformation = 1;
    const NTSTATUS statusNoMoreFiles = static_cast<NTSTATUS>(0x80000006u);
    const size_t cbHead = 64; // FILE_DIRECTORY_INFORMATION up to FileName
    int fd;
    OpenFile *pFile = Lookup(FileHandle, &fd);
    if (!pFile)
        return StatusOf(ERROR_INVALID_HANDLE);
    if (FileInformationClass != ulFileDirectoryInformation)
        return StatusOf(ERROR_INVALID_PARAMETER);
    if (!(pFile->dwAccess & FILE_LIST_DIRECTORY))
        return StatusOf(ERROR_ACCESS_DENIED);
    // Sorted, as find.cpp's searches: the stand-in's order is stable.
    if (pFile->cListed == 0) {
        DIR *pDir = opendir(pFile->sPath.c_str());
        if (!pDir)
            return StatusOf(ZulStandinErrorFromErrno(errno));
        pFile->names.clear();
        while (struct dirent *pEntry = readdir(pDir))
            pFile->names.push_back(pEntry->d_name);
        closedir(pDir);
        std::sort(pFile->names.begin(), pFile->names.end());
    }
    const std::vector<std::string> &names = pFile->names;
    BYTE *pb = static_cast<BYTE *>(FileInformation);
    size_t ib = 0, ibLast = 0;
    bool bAny = false;
    for (; pFile->cListed < names.size(); pFile->cListed++) {
        const std::string &sName = names[pFile->cListed];
        size_t cch = sName.size(), cb = (cbHead + cch * sizeof(WCHAR) + 7) & ~static_cast<size_t>(7);
        if (ib + cbHead + cch * sizeof(WCHAR) > Length)
            break;
        struct stat st;
        if (lstat((pFile->sPath + "/" + sName).c_str(), &st) != 0)
            memset(&st, 0, sizeof st);
        memset(pb + ib, 0, cbHead);
        if (bAny)
            *reinterpret_cast<ULONG *>(pb + ibLast) = static_cast<ULONG>(ib - ibLast);
        *reinterpret_cast<ULONG *>(pb + ib + 56) = ZulStandinAttributes(st.st_mode, S_ISLNK(st.st_mode));
        *reinterpret_cast<ULONG *>(pb + ib + 60) = static_cast<ULONG>(cch * sizeof(WCHAR));
        WCHAR *pwch = reinterpret_cast<WCHAR *>(pb + ib + cbHead);
        for (size_t i = 0; i < cch; i++)
            pwch[i] = static_cast<unsigned char>(sName[i]);
        ibLast = ib;
        ib += cb;
        bAny = true;
    }
    IoStatusBlock->Information = bAny ? ibLast + cbHead + *reinterpret_cast<ULONG *>(pb + ibLast + 60) : 0;
    IoStatusBlock->Status = bAny ? 0 : statusNoMoreFiles;
    return IoStatusBlock->Status;
}

extern "C" ULONG NTAPI RtlNtStatusToDosError(NTSTATUS Status)
{
    if (Status >= 0)
        return ERROR_SUCCESS;
    for (auto &entry : s_rgStatusErrors) {
        if (static_cast<NTSTATUS>(entry.status) == Status)
            return entry.dwError;
    }
    return ERROR_MR_MID_NOT_FOUND;
}

extern "C" BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                                LPVOID)
{
    int fd;
    OpenFile *pFile = Lookup(hFile, &fd);
    *lpNumberOfBytesRead = 0;
    if (!pFile)
        return FALSE;
    if (!(pFile->dwAccess & FILE_READ_DATA))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    ssize_t cb = read(fd, lpBuffer, nNumberOfBytesToRead);
    if (cb < 0)
        return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    *lpNumberOfBytesRead = static_cast<DWORD>(cb);
    return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE hFile, const void *lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, LPVOID)
{
    int fd;
    OpenFile *pFile = Lookup(hFile, &fd);
    *lpNumberOfBytesWritten = 0;
    if (!pFile)
        return FALSE;
    if (!(pFile->dwAccess & (FILE_WRITE_DATA | FILE_APPEND_DATA)))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    ssize_t cb = write(fd, lpBuffer, nNumberOfBytesToWrite);
    if (cb < 0)
        return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    *lpNumberOfBytesWritten = static_cast<DWORD>(cb);
    return TRUE;
}

extern "C" BOOL WINAPI FlushFileBuffers(HANDLE hFile)
{
    int fd;
    if (!Lookup(hFile, &fd))
        return FALSE;
    if (fsync(fd) != 0)
        return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    return TRUE;
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE hFile)
{
    int fd;
    OpenFile *pFile = Lookup(hFile, &fd);
    if (!pFile)
        return FALSE;
    if (!(pFile->dwAccess & FILE_WRITE_DATA))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    off_t off = lseek(fd, 0, SEEK_CUR);
    if (off < 0 || ftruncate(fd, off) != 0)
        return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    return TRUE;
}

extern "C" BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                                        DWORD dwMoveMethod)
{
    int fd;
    if (!Lookup(hFile, &fd))
        return FALSE;
    if (dwMoveMethod != FILE_BEGIN)
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    off_t off = lseek(fd, static_cast<off_t>(liDistanceToMove.QuadPart), SEEK_SET);
    if (off < 0)
        return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    if (lpNewFilePointer)
        lpNewFilePointer->QuadPart = off;
    return TRUE;
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (ZulStandinIsTokenHandle(hObject))
        return TRUE;
    int fd;
    if (!Lookup(hObject, &fd))
        return FALSE;
    s_files.erase(fd);
    close(fd);
    return TRUE;
}

// The stand-in's ANSI code page names files by their bytes: each byte becomes
// the character of the same value, and a rename turns them back.
extern "C" int WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                                          int cchWideChar)
{
    size_t cb = cbMultiByte < 0 ? strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    if (cchWideChar == 0)
        return static_cast<int>(cb);
    if (static_cast<size_t>(cchWideChar) < cb) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < cb; i++)
        lpWideCharStr[i] = static_cast<unsigned char>(lpMultiByteStr[i]);
    return static_cast<int>(cb);
}

// And back: a character above 0xFF has no byte, and becomes the default character.
extern "C" int WINAPI WideCharToMultiByte(UINT, DWORD, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                                          int cbMultiByte, LPCSTR, LPBOOL lpUsedDefaultChar)
{
    size_t cch = 0;
    if (cchWideChar < 0)
        while (lpWideCharStr[cch++] != 0) {
        }
    else
        cch = static_cast<size_t>(cchWideChar);
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = FALSE;
    if (cbMultiByte == 0)
        return static_cast<int>(cch);
    if (static_cast<size_t>(cbMultiByte) < cch) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < cch; i++) {
        bool bFits = static_cast<unsigned long>(lpWideCharStr[i]) <= 0xFF;
        lpMultiByteStr[i] = bFits ? static_cast<char>(lpWideCharStr[i]) : '?';
        if (!bFits && lpUsedDefaultChar)
            *lpUsedDefaultChar = TRUE;
    }
    return static_cast<int>(cch);
}

extern "C" int _open_osfhandle(intptr_t osfhandle, int flags)
{
    int fd;
    if (!Lookup(reinterpret_cast<HANDLE>(osfhandle), &fd)) {
        errno = CRT_EBADF;
        return -1;
    }
    if ((flags & _O_APPEND) && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_APPEND) != 0)
        return -1;
    return fd;
}

extern "C" int _close(int fd)
{
    return close(fd);
}

extern "C" FILE *_fdopen(int fd, const char *mode)
{
    return fdopen(fd, mode);
}
