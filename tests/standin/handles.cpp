// kernel32 file handles on POSIX descriptors, for what the log does with
// them: open without following a link at the name, read the file's facts,
// rename or delete the open file, hand the handle to the runtime as a
// descriptor. A handle is its descriptor, numbered apart from other handles;
// the runtime's _close and fclose are not seen here, so a handle's record is
// trusted only while its descriptor still shows the same file.
#include "standin.h"

#include <io.h>

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

const intptr_t s_hFirstFile = 0x40000;

struct OpenFile {
    std::string sPath; // the name the file was opened by, or renamed to
    DWORD dwAccess;
    dev_t dev;
    ino_t ino;
};

std::map<int, OpenFile> s_files;

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

BOOL RenameOpenFile(OpenFile &file, const FILE_RENAME_INFO *pInfo, DWORD cbInfo)
{
    if (cbInfo < offsetof(FILE_RENAME_INFO, FileName) ||
        pInfo->FileNameLength > cbInfo - offsetof(FILE_RENAME_INFO, FileName) || pInfo->RootDirectory)
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    // Characters back to the bytes MultiByteToWideChar made of them.
    std::string sName;
    for (size_t i = 0; i < pInfo->FileNameLength / sizeof(WCHAR); i++) {
        WCHAR wch = pInfo->FileName[i];
        if (wch == 0 || static_cast<unsigned long>(wch) > 0xFF)
            return ZulStandinFail(ERROR_INVALID_NAME);
        sName += static_cast<char>(wch);
    }
    std::string sTarget = ZulStandinPosixPath(sName.c_str());
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
    if (unlink(file.sPath.c_str()) != 0)
        return ZulStandinFail(ZulStandinErrorFromErrno(errno));
    return TRUE;
}

} // namespace

int ZulStandinFileDescriptor(HANDLE h)
{
    int fd = -1;
    return Lookup(h, &fd) ? fd : -1;
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
    s_files[fd] = OpenFile{s, dwDesiredAccess, st.st_dev, st.st_ino};
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

extern "C" BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                                  LPVOID lpFileInformation, DWORD dwBufferSize)
{
    int fd;
    OpenFile *pFile = Lookup(hFile, &fd);
    if (!pFile)
        return FALSE;
    if (FileInformationClass != FileRenameInfo && FileInformationClass != FileDispositionInfo)
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    if (!(pFile->dwAccess & DELETE))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    if (FileInformationClass == FileRenameInfo)
        return RenameOpenFile(*pFile, static_cast<const FILE_RENAME_INFO *>(lpFileInformation), dwBufferSize);
    return DeleteOpenFile(*pFile, static_cast<const FILE_DISPOSITION_INFO *>(lpFileInformation), dwBufferSize);
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
