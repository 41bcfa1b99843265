// Files by pattern: FindFirstFileA and the runtime's _findfirst, and what a link looks like to them.
#include "conformance.h"

#include <io.h>

#include <set>

#ifndef _WIN32
#include <unistd.h>
#endif

// FindFirstFileA of the pattern gives that name first.
#define check_finds(pattern, name, what) check_finds_(__FILE__, __LINE__, pattern, name, what)
static void check_finds_(const char *pszFile, int nLine, const std::string &sPattern, const char *pszName,
                         const char *pszWhat)
{
    WIN32_FIND_DATAA wfd;
    memset(&wfd, 0, sizeof(wfd));
    HANDLE h = FindFirstFileA(sPattern.c_str(), &wfd);
    unsigned long dwErr = LastError();
    ok_(pszFile, nLine)(h != INVALID_HANDLE_VALUE && strcmp(wfd.cFileName, pszName) == 0,
                        "%s: FindFirstFileA gives %s, got %s, error %lu\n", pszWhat, pszName,
                        h != INVALID_HANDLE_VALUE ? wfd.cFileName : "nothing", dwErr);
    if (h != INVALID_HANDLE_VALUE) {
        ok_(pszFile, nLine)(FindClose(h), "%s: FindClose succeeds, error %lu\n", pszWhat, LastError());
    }
}

static void test_Find()
{
    std::string sTwain = Scratch("twain");
    ok(CreateDirectoryA(sTwain.c_str(), NULL) && CreateDirectoryA((sTwain + "\\zorb_0000").c_str(), NULL) &&
           WriteText(sTwain + "\\ZORB_0001", "x") && WriteText(sTwain + "\\other.ds", "x") &&
           WriteText(sTwain + "\\qrvgnds2.tmp", "x"),
       "cannot make the scratch tree\n");

    struct _finddata_t fd;
    memset(&fd, 0, sizeof(fd));
    intptr_t hFind = _findfirst((sTwain + "\\Zorb_*").c_str(), &fd);
    ok(hFind != -1, "_findfirst matches names without regard to case, errno %d\n", errno);
    std::set<std::string> names;
    unsigned uSubdirAttrib = 0;
    if (hFind != -1) {
        int cEntries = 0;
        do {
            names.insert(fd.name);
            if (strcmp(fd.name, "zorb_0000") == 0) {
                uSubdirAttrib = fd.attrib;
            }
        } while (++cEntries < 10 && _findnext(hFind, &fd) == 0);
        int nNext = _findnext(hFind, &fd);
        ok(nNext == -1, "_findnext keeps returning -1 at the end, got %d\n", nNext);
        int nClose = _findclose(hFind);
        ok(nClose == 0, "_findclose succeeds, got %d\n", nClose);
    }
    ok(names.size() == 2 && names.count("zorb_0000") && names.count("ZORB_0001"),
       "_findfirst/_findnext give the directory and the file that match, in their own case, got %d entries\n",
       (int)names.size());
    ok(uSubdirAttrib & _A_SUBDIR, "_findfirst marks a directory with _A_SUBDIR, got attrib %#x\n", uSubdirAttrib);

    ok_crt_fails(_findfirst((sTwain + "\\nomatch_*").c_str(), &fd), 2, "_findfirst without a match");
    intptr_t hMissing = _findfirst(Scratch("nodir\\zorb_*").c_str(), &fd);
    ok(hMissing == -1, "_findfirst in a missing directory returns -1, got %ld\n", (long)hMissing);

    WIN32_FIND_DATAA wfd;
    HANDLE h = FindFirstFileA((sTwain + "\\zorb_0000").c_str(), &wfd);
    ok(h != INVALID_HANDLE_VALUE, "FindFirstFileA finds a directory named without a trailing backslash, error %lu\n",
       LastError());
    if (h != INVALID_HANDLE_VALUE) {
        ok(strcmp(wfd.cFileName, "zorb_0000") == 0 && (wfd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY),
           "FindFirstFileA gives the directory's name and attribute, got %s\n", wfd.cFileName);
        FindClose(h);
    }
    ok_win_fails((h = FindFirstFileA(Scratch("nodir\\file.txt").c_str(), &wfd)) != INVALID_HANDLE_VALUE,
                 ERROR_PATH_NOT_FOUND, "FindFirstFileA of a file in a missing directory");
    if (h != INVALID_HANDLE_VALUE) {
        FindClose(h);
    }
    check_finds(sTwain + "\\QRV*.TMP", "qrvgnds2.tmp", "a '*' pattern, matched by its own name");
    check_finds(sTwain + "\\qrvgnds?.tmp", "qrvgnds2.tmp", "a '?' pattern");

    // Existence tests count read-only, hidden and system files; clearing the attributes makes them removable.
    std::string sHidden = sTwain + "\\hidden.ds";
    ok(WriteText(sHidden, "x"), "cannot write the scratch file, errno %d\n", errno);
    ok_win(SetFileAttributesA(sHidden.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
           "SetFileAttributesA(READONLY|HIDDEN|SYSTEM)");
    check_finds(sHidden, "hidden.ds", "a read-only hidden system file");
    ok_win(SetFileAttributesA(sHidden.c_str(), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL) on a hidden file");
    ok_crt(remove(sHidden.c_str()), "remove() after clearing the attributes");

    DeleteFileA((sTwain + "\\ZORB_0001").c_str());
    DeleteFileA((sTwain + "\\other.ds").c_str());
    DeleteFileA((sTwain + "\\qrvgnds2.tmp").c_str());
    RemoveDirectoryA((sTwain + "\\zorb_0000").c_str());
    ok_win(RemoveDirectoryA(sTwain.c_str()), "RemoveDirectoryA of the emptied find tree");
}

// What a link looks like to the program: a reparse point, with the attributes
// of the link itself. Wine 8 cannot show it (CreateSymbolicLinkA does nothing
// there, and a Unix link is followed and reported like its target), so the
// checks run only on the stand-in, where a POSIX symbolic link plays the part.
static void test_ReparsePoints()
{
#ifndef _WIN32
    std::string sDir = Scratch("links");
    ok(CreateDirectoryA(sDir.c_str(), NULL) && CreateDirectoryA((sDir + "\\target").c_str(), NULL) &&
           WriteText(sDir + "\\target.txt", "x"),
       "cannot make the link tree\n");
    ok(symlink(StdioPath(sDir + "\\target").c_str(), StdioPath(sDir + "\\dirlink").c_str()) == 0 &&
           symlink(StdioPath(sDir + "\\target.txt").c_str(), StdioPath(sDir + "\\filelink").c_str()) == 0,
       "cannot make the links\n");

    DWORD dwAttr = GetFileAttributesA((sDir + "\\dirlink").c_str());
    ok(dwAttr == (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
       "GetFileAttributesA of a link to a directory: reparse point and directory, got %#lx\n", (unsigned long)dwAttr);
    dwAttr = GetFileAttributesA((sDir + "\\target").c_str());
    ok(dwAttr == FILE_ATTRIBUTE_DIRECTORY, "GetFileAttributesA of the directory itself, got %#lx\n",
       (unsigned long)dwAttr);

    struct _finddata_t fd;
    memset(&fd, 0, sizeof(fd));
    intptr_t hFind = _findfirst((sDir + "\\dirlink").c_str(), &fd);
    ok(hFind != -1 && fd.attrib == (FILE_ATTRIBUTE_REPARSE_POINT | _A_SUBDIR),
       "_findfirst's attrib carries the reparse point of a link to a directory, got %#x\n", (unsigned)fd.attrib);
    if (hFind != -1) {
        _findclose(hFind);
    }
    hFind = _findfirst((sDir + "\\filelink").c_str(), &fd);
    ok(hFind != -1 && (fd.attrib & FILE_ATTRIBUTE_REPARSE_POINT) && !(fd.attrib & _A_SUBDIR),
       "_findfirst's attrib carries the reparse point of a link to a file, got %#x\n", (unsigned)fd.attrib);
    if (hFind != -1) {
        _findclose(hFind);
    }
    hFind = _findfirst((sDir + "\\target").c_str(), &fd);
    ok(hFind != -1 && fd.attrib == _A_SUBDIR, "_findfirst's attrib of a directory, got %#x\n", (unsigned)fd.attrib);
    if (hFind != -1) {
        _findclose(hFind);
    }

    unlink(StdioPath(sDir + "\\dirlink").c_str());
    unlink(StdioPath(sDir + "\\filelink").c_str());
    DeleteFileA((sDir + "\\target.txt").c_str());
    RemoveDirectoryA((sDir + "\\target").c_str());
    ok_win(RemoveDirectoryA(sDir.c_str()), "RemoveDirectoryA of the emptied link tree");
#else
    skip("Wine 8 makes no link that shows as a reparse point: the stand-in's links are checked natively only\n");
#endif
}

void func_find()
{
    test_Find();
    test_ReparsePoints();
}
