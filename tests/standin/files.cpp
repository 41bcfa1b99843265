// kernel32 file operations and the runtime's remove/_mkdir/_rmdir, with the
// behaviour a Windows program can observe. Read-only is the lack of write
// permission bits, which is how Wine keeps FILE_ATTRIBUTE_READONLY.
#include "standin.h"

#include <direct.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

static BOOL FailFromErrno(int err, const char *pszWinPath)
{
    return ZulStandinFail(ZulStandinErrorForPath(err, pszWinPath));
}

extern "C" BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    std::string sSrc = ZulStandinPosixPath(lpExistingFileName);
    std::string sDst = ZulStandinPosixPath(lpNewFileName);
    struct stat stSrc;
    if (stat(sSrc.c_str(), &stSrc) != 0)
        return FailFromErrno(errno, lpExistingFileName);
    if (S_ISDIR(stSrc.st_mode))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    struct stat stDst;
    if (stat(sDst.c_str(), &stDst) == 0) {
        if (bFailIfExists)
            return ZulStandinFail(ERROR_FILE_EXISTS);
        if (S_ISDIR(stDst.st_mode) || ZulStandinIsReadOnly(stDst.st_mode))
            return ZulStandinFail(ERROR_ACCESS_DENIED);
    }
    int fdIn = open(sSrc.c_str(), O_RDONLY | O_CLOEXEC);
    if (fdIn < 0)
        return FailFromErrno(errno, lpExistingFileName);
    int fdOut = open(sDst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fdOut < 0) {
        int err = errno;
        close(fdIn);
        return FailFromErrno(err, lpNewFileName);
    }
    char buf[65536];
    bool bOk = true;
    for (;;) {
        ssize_t n = read(fdIn, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0) {
            bOk = false;
            break;
        }
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(fdOut, buf + off, static_cast<size_t>(n - off));
            if (w <= 0) {
                bOk = false;
                break;
            }
            off += w;
        }
        if (!bOk)
            break;
    }
    int err = errno;
    close(fdIn);
    // CopyFile carries the source's attributes over, read-only included.
    if (bOk && fchmod(fdOut, stSrc.st_mode & 07777) != 0)
        bOk = false;
    close(fdOut);
    if (!bOk)
        return FailFromErrno(err, lpNewFileName);
    return TRUE;
}

extern "C" BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    std::string sSrc = ZulStandinPosixPath(lpExistingFileName);
    std::string sDst = ZulStandinPosixPath(lpNewFileName);
    struct stat stSrc;
    if (lstat(sSrc.c_str(), &stSrc) != 0)
        return FailFromErrno(errno, lpExistingFileName);
    struct stat stDst;
    if (lstat(sDst.c_str(), &stDst) == 0) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING))
            return ZulStandinFail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(stDst.st_mode) || S_ISDIR(stSrc.st_mode) || ZulStandinIsReadOnly(stDst.st_mode))
            return ZulStandinFail(ERROR_ACCESS_DENIED);
    }
    if (rename(sSrc.c_str(), sDst.c_str()) != 0)
        return FailFromErrno(errno, lpNewFileName);
    return TRUE;
}

extern "C" BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName)
{
    return MoveFileExA(lpExistingFileName, lpNewFileName, 0);
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    std::string s = ZulStandinPosixPath(lpFileName);
    struct stat st;
    if (lstat(s.c_str(), &st) != 0)
        return FailFromErrno(errno, lpFileName);
    if (S_ISDIR(st.st_mode))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    if (!S_ISLNK(st.st_mode) && ZulStandinIsReadOnly(st.st_mode))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    if (unlink(s.c_str()) != 0)
        return FailFromErrno(errno, lpFileName);
    return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPVOID lpSecurityAttributes)
{
    std::string s = ZulStandinPosixPath(lpPathName);
    if (mkdir(s.c_str(), 0777) != 0) {
        if (errno == ENOENT)
            return ZulStandinFail(ERROR_PATH_NOT_FOUND);
        return FailFromErrno(errno, lpPathName);
    }
    const SECURITY_ATTRIBUTES *pAttributes = static_cast<const SECURITY_ATTRIBUTES *>(lpSecurityAttributes);
    if (pAttributes && pAttributes->lpSecurityDescriptor) {
        int fd = open(s.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bool bApplied = fd >= 0 && ZulStandinApplyDescriptor(fd, pAttributes->lpSecurityDescriptor);
        if (fd >= 0)
            close(fd);
        if (!bApplied) {
            rmdir(s.c_str());
            return ZulStandinFail(ERROR_INVALID_SECURITY_DESCR);
        }
    }
    return TRUE;
}

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName)
{
    std::string s = ZulStandinPosixPath(lpPathName);
    struct stat st;
    if (lstat(s.c_str(), &st) != 0)
        return FailFromErrno(errno, lpPathName);
    if (!S_ISDIR(st.st_mode))
        return ZulStandinFail(ERROR_DIRECTORY);
    if (rmdir(s.c_str()) != 0) {
        if (errno == EEXIST)
            return ZulStandinFail(ERROR_DIR_NOT_EMPTY);
        return FailFromErrno(errno, lpPathName);
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    std::string s = ZulStandinPosixPath(lpFileName);
    struct stat st;
    if (lstat(s.c_str(), &st) != 0) {
        SetLastError(ZulStandinErrorForPath(errno, lpFileName));
        return INVALID_FILE_ATTRIBUTES;
    }
    bool bLink = S_ISLNK(st.st_mode);
    if (bLink)
        stat(s.c_str(), &st);
    return ZulStandinAttributes(st.st_mode, bLink);
}

extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes)
{
    std::string s = ZulStandinPosixPath(lpFileName);
    struct stat st;
    if (stat(s.c_str(), &st) != 0)
        return FailFromErrno(errno, lpFileName);
    if (S_ISDIR(st.st_mode))
        return TRUE; // directories keep their permissions, as under Wine
    mode_t mode = st.st_mode & 07777;
    if (dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else if (ZulStandinIsReadOnly(mode))
        mode |= S_IWUSR | ((mode & (S_IRGRP | S_IROTH)) >> 1);
    if (chmod(s.c_str(), mode) != 0)
        return FailFromErrno(errno, lpFileName);
    return TRUE;
}

// The runtime's file routines: the kernel32 call, then errno from the last error.
static int CrtResult(BOOL bOk)
{
    if (bOk)
        return 0;
    errno = ZulStandinErrnoFromError(GetLastError());
    return -1;
}

extern "C" int ZulStandinRemove(const char *pszPath)
{
    return CrtResult(DeleteFileA(pszPath));
}

extern "C" int _mkdir(const char *dirname)
{
    return CrtResult(CreateDirectoryA(dirname, nullptr));
}

extern "C" int _rmdir(const char *dirname)
{
    return CrtResult(RemoveDirectoryA(dirname));
}

extern "C" int _fseeki64(FILE *stream, int64_t offset, int origin)
{
    return fseeko(stream, static_cast<off_t>(offset), origin);
}

extern "C" int64_t _ftelli64(FILE *stream)
{
    return static_cast<int64_t>(ftello(stream));
}
