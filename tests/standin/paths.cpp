// Path translation and error mapping shared by the stand-in's file operations.
#include "standin.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

bool ZulStandinEqualNoCase(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (ZulStandinFoldAscii(static_cast<unsigned char>(a[i])) !=
            ZulStandinFoldAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Finds the entry of directory sDir whose name equals sName without regard to case.
static bool FindNoCase(const std::string &sDir, const std::string &sName, std::string &sFound)
{
    DIR *pDir = opendir(sDir.empty() ? "." : sDir.c_str());
    if (!pDir)
        return false;
    bool bFound = false;
    while (struct dirent *pEnt = readdir(pDir)) {
        if (ZulStandinEqualNoCase(pEnt->d_name, sName)) {
            sFound = pEnt->d_name;
            bFound = true;
            break;
        }
    }
    closedir(pDir);
    return bFound;
}

std::string ZulStandinPosixPath(const char *pszWinPath)
{
    std::string sIn = pszWinPath ? pszWinPath : "";
    for (char &c : sIn)
        if (c == '\\')
            c = '/';

    // Split into components; keep a leading '/' and empty components (doubled separators).
    std::string sOut;
    size_t pos = 0;
    if (!sIn.empty() && sIn[0] == '/') {
        sOut = "/";
        pos = 1;
    }
    bool bResolving = true;
    while (pos <= sIn.size()) {
        size_t next = sIn.find('/', pos);
        if (next == std::string::npos)
            next = sIn.size();
        std::string sComp = sIn.substr(pos, next - pos);
        if (!sComp.empty() && sComp != "." && sComp != ".." && bResolving) {
            std::string sCandidate = sOut + sComp;
            struct stat st;
            if (lstat(sCandidate.c_str(), &st) != 0) {
                std::string sFound;
                if (FindNoCase(sOut.empty() ? std::string(".") : sOut, sComp, sFound))
                    sComp = sFound;
                else
                    bResolving = false; // nothing below a missing component can exist
            }
        }
        sOut += sComp;
        if (next < sIn.size())
            sOut += '/';
        pos = next + 1;
    }
    return sOut;
}

static bool ParentExists(const char *pszWinPath)
{
    std::string s = ZulStandinPosixPath(pszWinPath);
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    size_t slash = s.rfind('/');
    std::string sParent = slash == std::string::npos ? "." : (slash == 0 ? "/" : s.substr(0, slash));
    struct stat st;
    return stat(sParent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD ZulStandinErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// ENOENT means "file not found" when the parent directory exists and "path not found" otherwise.
DWORD ZulStandinErrorForPath(int err, const char *pszWinPath)
{
    if (err == ENOENT && !ParentExists(pszWinPath))
        return ERROR_PATH_NOT_FOUND;
    return ZulStandinErrorFromErrno(err);
}

// msvcrt's table (_dosmaperr) for the error codes the stand-in sets: Windows error code to errno.
int ZulStandinErrnoFromError(DWORD dwError)
{
    switch (dwError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return CRT_ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_SHARING_VIOLATION:
        return CRT_EACCES;
    case ERROR_INVALID_HANDLE:
        return CRT_EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
        return CRT_ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return CRT_EEXIST;
    case ERROR_DISK_FULL:
        return CRT_ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
        return CRT_ENOTEMPTY;
    default:
        return CRT_EINVAL;
    }
}

DWORD ZulStandinAttributes(unsigned int mode, bool bLink)
{
    DWORD dw = S_ISDIR(mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!S_ISDIR(mode) && ZulStandinIsReadOnly(mode))
        dw |= FILE_ATTRIBUTE_READONLY;
    if (bLink)
        dw |= FILE_ATTRIBUTE_REPARSE_POINT;
    return dw;
}

bool ZulStandinIsReadOnly(unsigned int mode)
{
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

BOOL ZulStandinFail(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}
