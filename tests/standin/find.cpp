// Wildcard directory search: kernel32's FindFirstFileA and FindClose and the runtime's
// _findfirst family. Names match without regard to case; entries come sorted,
// so the stand-in's order is stable (Windows gives the file system's order).
#include "standin.h"

#include <io.h>

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

struct FindEntry {
    std::string sName;
    struct stat st;
    bool bLink;
};

struct FindSearch {
    std::vector<FindEntry> rgEntries;
    size_t idxNext = 0;
};

std::map<intptr_t, FindSearch> s_searches;
intptr_t s_nNextSearch = 0x100;

// '*' matches any run of characters, '?' any one character.
bool WildMatch(const char *pszPat, const char *pszName)
{
    const char *pszStarPat = nullptr;
    const char *pszStarName = nullptr;
    while (*pszName) {
        if (*pszPat == '*') {
            pszStarPat = ++pszPat;
            pszStarName = pszName;
        } else if (*pszPat == '?' || (*pszPat && ZulStandinFoldAscii(static_cast<unsigned char>(*pszPat)) ==
                                                     ZulStandinFoldAscii(static_cast<unsigned char>(*pszName)))) {
            pszPat++;
            pszName++;
        } else if (pszStarPat) {
            pszPat = pszStarPat;
            pszName = ++pszStarName;
        } else {
            return false;
        }
    }
    while (*pszPat == '*')
        pszPat++;
    return *pszPat == '\0';
}

bool MatchName(const std::string &sPattern, const std::string &sName)
{
    if (sPattern == "*.*")
        return true;
    return WildMatch(sPattern.c_str(), sName.c_str());
}

// Collects the matching entries; on failure returns the Windows error code.
DWORD Collect(const char *pszWinPattern, FindSearch &search)
{
    std::string sPath = ZulStandinPosixPath(pszWinPattern);
    size_t slash = sPath.rfind('/');
    std::string sDir = slash == std::string::npos ? "." : (slash == 0 ? "/" : sPath.substr(0, slash));
    std::string sPattern = slash == std::string::npos ? sPath : sPath.substr(slash + 1);
    if (sPattern.empty())
        return ERROR_FILE_NOT_FOUND;
    DIR *pDir = opendir(sDir.c_str());
    if (!pDir)
        return errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ZulStandinErrorFromErrno(errno);
    while (struct dirent *pEnt = readdir(pDir)) {
        if (!MatchName(sPattern, pEnt->d_name))
            continue;
        FindEntry entry;
        entry.sName = pEnt->d_name;
        std::string sFull = sDir + "/" + entry.sName;
        if (lstat(sFull.c_str(), &entry.st) != 0)
            continue;
        entry.bLink = S_ISLNK(entry.st.st_mode);
        if (entry.bLink) {
            struct stat stTarget;
            if (stat(sFull.c_str(), &stTarget) == 0)
                entry.st = stTarget;
        }
        search.rgEntries.push_back(entry);
    }
    closedir(pDir);
    if (search.rgEntries.empty())
        return ERROR_FILE_NOT_FOUND;
    std::sort(search.rgEntries.begin(), search.rgEntries.end(),
              [](const FindEntry &a, const FindEntry &b) { return a.sName < b.sName; });
    return ERROR_SUCCESS;
}

DWORD Attributes(const FindEntry &e)
{
    return ZulStandinAttributes(e.st.st_mode, e.bLink);
}

void CopyName(char *pDest, size_t cbDest, const std::string &s)
{
    size_t n = std::min(s.size(), cbDest - 1);
    memcpy(pDest, s.data(), n);
    pDest[n] = '\0';
}

void FillFindData(const FindEntry &e, WIN32_FIND_DATAA *p)
{
    memset(p, 0, sizeof *p);
    p->dwFileAttributes = Attributes(e);
    uint64_t size = S_ISDIR(e.st.st_mode) ? 0 : static_cast<uint64_t>(e.st.st_size);
    p->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    p->nFileSizeLow = static_cast<DWORD>(size);
    CopyName(p->cFileName, sizeof p->cFileName, e.sName);
}

void FillFindData(const FindEntry &e, struct _finddata_t *p)
{
    memset(p, 0, sizeof *p);
    // msvcrt hands on the Win32 attributes whole (a link's reparse point too),
    // but for FILE_ATTRIBUTE_NORMAL alone, which becomes 0.
    DWORD dw = Attributes(e);
    p->attrib = dw == FILE_ATTRIBUTE_NORMAL ? 0 : dw;
    p->time_create = e.st.st_ctime;
    p->time_access = e.st.st_atime;
    p->time_write = e.st.st_mtime;
    p->size = S_ISDIR(e.st.st_mode) ? 0 : static_cast<_fsize_t>(e.st.st_size);
    CopyName(p->name, sizeof p->name, e.sName);
}

} // namespace

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    FindSearch search;
    DWORD dwError = Collect(lpFileName, search);
    if (dwError != ERROR_SUCCESS) {
        SetLastError(dwError);
        return INVALID_HANDLE_VALUE;
    }
    FillFindData(search.rgEntries[0], lpFindFileData);
    search.idxNext = 1;
    intptr_t h = s_nNextSearch++;
    s_searches[h] = search;
    return reinterpret_cast<HANDLE>(h);
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile)
{
    if (s_searches.erase(reinterpret_cast<intptr_t>(hFindFile)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

extern "C" intptr_t _findfirst(const char *filespec, struct _finddata_t *fileinfo)
{
    FindSearch search;
    DWORD dwError = Collect(filespec, search);
    if (dwError != ERROR_SUCCESS) {
        errno = ZulStandinErrnoFromError(dwError);
        return -1;
    }
    FillFindData(search.rgEntries[0], fileinfo);
    search.idxNext = 1;
    intptr_t h = s_nNextSearch++;
    s_searches[h] = search;
    return h;
}

extern "C" int _findnext(intptr_t handle, struct _finddata_t *fileinfo)
{
    auto it = s_searches.find(handle);
    if (it == s_searches.end()) {
        errno = CRT_EINVAL;
        return -1;
    }
    if (it->second.idxNext >= it->second.rgEntries.size()) {
        errno = CRT_ENOENT; // as msvcrt maps ERROR_NO_MORE_FILES
        return -1;
    }
    FillFindData(it->second.rgEntries[it->second.idxNext++], fileinfo);
    return 0;
}

extern "C" int _findclose(intptr_t handle)
{
    if (s_searches.erase(handle) == 0) {
        errno = CRT_EINVAL;
        return -1;
    }
    return 0;
}
