// Conformance test: the Windows and C runtime behaviour that ZULFuncts relies on.
// The same source runs under Wine (the reference) and natively on the POSIX stand-in.
// Each check's message names the behaviour it relies on.

#include <windows.h>
#include <aclapi.h>
#include <setupapi.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <mbctype.h>
#include <mbstring.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <set>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "wtest.h"

static const GUID imagingGuid = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
static const char szDriverPrefix[] = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\";

// Scratch directory below the temporary directory, without a trailing separator.
static std::string g_strScratch;

static std::string Scratch(const char *pszName)
{
    return g_strScratch + "\\" + pszName;
}

// The runtime's fopen takes the Windows path under Wine; natively it needs the POSIX spelling.
static std::string StdioPath(const std::string &strPath)
{
    std::string str = strPath;
#ifndef _WIN32
    for (char &ch : str) {
        if (ch == '\\') {
            ch = '/';
        }
    }
#endif
    return str;
}

static bool WriteText(const std::string &strPath, const char *pszText)
{
    FILE *pFile = fopen(StdioPath(strPath).c_str(), "wb");
    if (!pFile) {
        return false;
    }
    size_t cch = strlen(pszText);
    bool bOk = fwrite(pszText, 1, cch, pFile) == cch;
    return fclose(pFile) == 0 && bOk;
}

static std::string ReadText(const std::string &strPath)
{
    std::string str;
    FILE *pFile = fopen(StdioPath(strPath).c_str(), "rb");
    if (!pFile) {
        return "<missing>";
    }
    char buf[256];
    size_t cb;
    while ((cb = fread(buf, 1, sizeof(buf), pFile)) > 0) {
        str.append(buf, cb);
    }
    fclose(pFile);
    return str;
}

static bool Exists(const std::string &strPath)
{
    return GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static unsigned long LastError()
{
    return (unsigned long)GetLastError();
}

// The error code and errno are read right after the call, before anything else can change them.
#define ok_win(expr, what)                                                                                             \
    do {                                                                                                               \
        bool b_ = (expr);                                                                                              \
        unsigned long e_ = LastError();                                                                                \
        ok(b_, what " must succeed, error %lu\n", e_);                                                                 \
    } while (0)
#define ok_win_fails(expr, err, what)                                                                                  \
    do {                                                                                                               \
        SetLastError(0xdeadbeef);                                                                                      \
        bool b_ = (expr);                                                                                              \
        unsigned long e_ = LastError();                                                                                \
        ok(!b_, what " must fail\n");                                                                                  \
        ok(e_ == (err), what ": error %lu expected, got %lu\n", (unsigned long)(err), e_);                             \
    } while (0)
#define ok_crt(expr, what)                                                                                             \
    do {                                                                                                               \
        errno = 0;                                                                                                     \
        bool b_ = (expr) == 0;                                                                                         \
        int e_ = errno;                                                                                                \
        ok(b_, what " must succeed, errno %d\n", e_);                                                                  \
    } while (0)
#define ok_crt_fails(expr, err, what)                                                                                  \
    do {                                                                                                               \
        errno = 0;                                                                                                     \
        bool b_ = (expr) == -1;                                                                                        \
        int e_ = errno;                                                                                                \
        ok(b_, what " must fail with -1\n");                                                                           \
        ok(e_ == (err), what ": errno %d expected, got %d\n", (int)(err), e_);                                         \
    } while (0)

static void test_MoveAndCopy()
{
    std::string strA = Scratch("a.txt"), strB = Scratch("b.txt"), strC = Scratch("c.txt");
    ok(WriteText(strA, "alpha") && WriteText(strB, "beta"), "cannot write the scratch files\n");

    ok_win_fails(MoveFileA(strA.c_str(), strB.c_str()), ERROR_ALREADY_EXISTS, "MoveFileA onto an existing file");
    ok(ReadText(strA) == "alpha" && ReadText(strB) == "beta", "a failed MoveFileA changes neither file\n");
    ok_win_fails(MoveFileA(Scratch("missing.txt").c_str(), strC.c_str()), ERROR_FILE_NOT_FOUND,
                 "MoveFileA of a missing source");
    ok(!Exists(strC), "a failed MoveFileA creates no target\n");

    ok_win(MoveFileA(strA.c_str(), strC.c_str()), "MoveFileA to a free name");
    ok(!Exists(strA) && ReadText(strC) == "alpha", "MoveFileA moves the content to the new name\n");
    ok_win(MoveFileExA(strC.c_str(), strB.c_str(), MOVEFILE_REPLACE_EXISTING),
           "MoveFileExA(MOVEFILE_REPLACE_EXISTING) onto an existing file");
    ok(!Exists(strC) && ReadText(strB) == "alpha", "MoveFileExA(MOVEFILE_REPLACE_EXISTING) replaces the target\n");

    ok(WriteText(strA, "gamma"), "cannot write the scratch file\n");
    ok_win(CopyFileA(strA.c_str(), strB.c_str(), FALSE), "CopyFileA(FALSE) over an existing file");
    ok(ReadText(strB) == "gamma" && ReadText(strA) == "gamma", "CopyFileA(FALSE) overwrites the target\n");
    ok_win_fails(CopyFileA(Scratch("missing.txt").c_str(), strC.c_str(), FALSE), ERROR_FILE_NOT_FOUND,
                 "CopyFileA of a missing source");
    ok(!Exists(strC), "a failed CopyFileA creates no target\n");
    ok_win_fails(CopyFileA(strA.c_str(), Scratch("nodir\\c.txt").c_str(), FALSE), ERROR_PATH_NOT_FOUND,
                 "CopyFileA into a missing directory");

    DeleteFileA(strA.c_str());
    DeleteFileA(strB.c_str());
}

static void test_DeleteAndAttributes()
{
    std::string strRo = Scratch("ro.txt"), strDir = Scratch("full");
    ok(WriteText(strRo, "read-only"), "cannot write the scratch file\n");
    ok_win(SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_READONLY), "SetFileAttributesA(READONLY)");

    DWORD dwAttr = GetFileAttributesA(strRo.c_str());
    ok(dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY) && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY),
       "GetFileAttributesA of a read-only file has FILE_ATTRIBUTE_READONLY, got %#lx\n", (unsigned long)dwAttr);

    ok_win_fails(DeleteFileA(strRo.c_str()), ERROR_ACCESS_DENIED, "DeleteFileA of a read-only file");
    ok(Exists(strRo), "a read-only file stays after DeleteFileA\n");
    ok_win(SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL)");
    ok_win(DeleteFileA(strRo.c_str()), "DeleteFileA after clearing FILE_ATTRIBUTE_READONLY");
    ok(!Exists(strRo), "the file is gone after DeleteFileA\n");

    ok_win_fails(DeleteFileA(strRo.c_str()), ERROR_FILE_NOT_FOUND, "DeleteFileA of a missing file");
    ok_win_fails(SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_NORMAL), ERROR_FILE_NOT_FOUND,
                 "SetFileAttributesA of a missing path");
    ok_win_fails(GetFileAttributesA(strRo.c_str()) != INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND,
                 "GetFileAttributesA of a missing file (INVALID_FILE_ATTRIBUTES)");

    ok_win(CreateDirectoryA(strDir.c_str(), NULL), "CreateDirectoryA");
    dwAttr = GetFileAttributesA(strDir.c_str());
    ok(dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY),
       "GetFileAttributesA of a directory has FILE_ATTRIBUTE_DIRECTORY, got %#lx\n", (unsigned long)dwAttr);
    ok_win(SetFileAttributesA(strDir.c_str(), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL) on a directory");

    std::string strInner = strDir + "\\inner.txt";
    ok(WriteText(strInner, "x"), "cannot write the scratch file\n");
    ok_win_fails(RemoveDirectoryA(strDir.c_str()), ERROR_DIR_NOT_EMPTY, "RemoveDirectoryA of a non-empty directory");
    ok(Exists(strInner), "a failed RemoveDirectoryA leaves the content\n");
    ok_win(DeleteFileA(strInner.c_str()), "DeleteFileA");
    ok_win(RemoveDirectoryA(strDir.c_str()), "RemoveDirectoryA of an empty directory");
}

static void test_PathSpelling()
{
    std::string strSub = Scratch("Sub");
    ok_win(CreateDirectoryA(strSub.c_str(), NULL), "CreateDirectoryA");
    ok(WriteText(strSub + "\\File.txt", "x"), "cannot write the scratch file\n");

    ok(Exists(g_strScratch + "/Sub/File.txt"), "forward slashes separate path components\n");
    ok(Exists(g_strScratch + "\\Sub/File.txt"), "backslashes and slashes mix in one path\n");
    ok(Exists(g_strScratch + "\\SUB\\file.TXT"), "file names are matched without regard to case\n");

    ok_win(CopyFileA((g_strScratch + "\\SUB\\FILE.TXT").c_str(), (g_strScratch + "\\sub\\COPY.txt").c_str(), FALSE),
           "CopyFileA from and into a directory named in another case");
    ok(Exists(strSub + "\\copy.txt"), "a new file goes into the existing directory named in another case\n");
    ok_win(DeleteFileA((strSub + "\\copy.TXT").c_str()), "DeleteFileA with a name in another case");
    ok_win(DeleteFileA((g_strScratch + "/sub/file.txt").c_str()), "DeleteFileA with slashes");
    ok_win(RemoveDirectoryA((g_strScratch + "\\SUB").c_str()), "RemoveDirectoryA with a name in another case");
}

// The runtime's errno values are msvcrt's: 13 EACCES, 2 ENOENT, 17 EEXIST, 41 ENOTEMPTY.
static void test_RuntimeFiles()
{
    std::string strRo = Scratch("ro.txt"), strDir = Scratch("rtdir");
    ok(WriteText(strRo, "x") && SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_READONLY),
       "cannot make the read-only scratch file\n");
    ok_crt_fails(remove(strRo.c_str()), 13, "remove() of a read-only file");
    ok(Exists(strRo), "a read-only file stays after remove()\n");
    SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_NORMAL);
    ok_crt(remove(strRo.c_str()), "remove() of a writable file");
    ok(!Exists(strRo), "the file is gone after remove()\n");
    ok_crt_fails(remove(strRo.c_str()), 2, "remove() of a missing file");

    ok_crt(_mkdir(strDir.c_str()), "_mkdir");
    ok_crt_fails(_mkdir(strDir.c_str()), 17, "_mkdir of an existing directory");
    ok_crt_fails(_mkdir(Scratch("nodir\\child").c_str()), 2, "_mkdir with a missing parent");

    ok_crt_fails(remove(strDir.c_str()), 13, "remove() of a directory");
    ok(Exists(strDir), "a directory stays after remove()\n");

    std::string strInner = strDir + "\\inner";
    ok(WriteText(strInner, "x"), "cannot write the scratch file\n");
    ok_crt_fails(_rmdir(strDir.c_str()), 41, "_rmdir of a non-empty directory");
    ok(Exists(strInner), "a failed _rmdir leaves the content\n");
    DeleteFileA(strInner.c_str());
    ok_crt(_rmdir(strDir.c_str()), "_rmdir of an empty directory");
    ok_crt_fails(_rmdir(strDir.c_str()), 2, "_rmdir of a missing directory");
}

static bool FindsOne(const std::string &strPattern, const char *pszName)
{
    WIN32_FIND_DATAA wfd;
    HANDLE h = FindFirstFileA(strPattern.c_str(), &wfd);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool bOk = strcmp(wfd.cFileName, pszName) == 0;
    SetLastError(0xdeadbeef);
    bOk = bOk && !FindNextFileA(h, &wfd) && GetLastError() == ERROR_NO_MORE_FILES;
    return FindClose(h) && bOk;
}

static void test_Find()
{
    std::string strTwain = Scratch("twain");
    ok(CreateDirectoryA(strTwain.c_str(), NULL) && CreateDirectoryA((strTwain + "\\zorb_0000").c_str(), NULL) &&
           WriteText(strTwain + "\\ZORB_0001", "x") && WriteText(strTwain + "\\other.ds", "x") &&
           WriteText(strTwain + "\\qrvgnds2.tmp", "x"),
       "cannot make the scratch tree\n");

    struct _finddata_t fd;
    memset(&fd, 0, sizeof(fd));
    intptr_t hFind = _findfirst((strTwain + "\\Zorb_*").c_str(), &fd);
    ok(hFind != -1, "_findfirst matches names without regard to case\n");
    std::set<std::string> names;
    bool bSubdirSeen = false;
    if (hFind != -1) {
        int cEntries = 0;
        do {
            names.insert(fd.name);
            if (strcmp(fd.name, "zorb_0000") == 0) {
                bSubdirSeen = (fd.attrib & _A_SUBDIR) != 0;
            }
        } while (++cEntries < 10 && _findnext(hFind, &fd) == 0);
        ok(_findnext(hFind, &fd) == -1, "_findnext keeps returning -1 at the end\n");
        ok(_findclose(hFind) == 0, "_findclose succeeds\n");
    }
    ok(names.size() == 2 && names.count("zorb_0000") && names.count("ZORB_0001"),
       "_findfirst/_findnext give the directory and the file that match, in their own case, got %d entries\n",
       (int)names.size());
    ok(bSubdirSeen, "_findfirst marks a directory with _A_SUBDIR\n");

    ok_crt_fails(_findfirst((strTwain + "\\nomatch_*").c_str(), &fd), 2, "_findfirst without a match");
    ok(_findfirst(Scratch("nodir\\zorb_*").c_str(), &fd) == -1, "_findfirst in a missing directory returns -1\n");

    WIN32_FIND_DATAA wfd;
    HANDLE h = FindFirstFileA((strTwain + "\\zorb_0000").c_str(), &wfd);
    ok(h != INVALID_HANDLE_VALUE, "FindFirstFileA finds a directory named without a trailing backslash\n");
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
    ok(FindsOne(strTwain + "\\QRV*.TMP", "qrvgnds2.tmp"),
       "FindFirstFileA with a '*' pattern finds the one match by its own name, then FindNextFileA fails with 18\n");
    ok(FindsOne(strTwain + "\\qrvgnds?.tmp", "qrvgnds2.tmp"), "FindFirstFileA with a '?' pattern finds the file\n");

    // Existence tests count read-only, hidden and system files; clearing the attributes makes them removable.
    std::string strHidden = strTwain + "\\hidden.ds";
    ok(WriteText(strHidden, "x"), "cannot write the scratch file\n");
    ok_win(SetFileAttributesA(strHidden.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
           "SetFileAttributesA(READONLY|HIDDEN|SYSTEM)");
    ok(FindsOne(strHidden, "hidden.ds"), "FindFirstFileA finds a read-only hidden system file\n");
    ok_win(SetFileAttributesA(strHidden.c_str(), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL) on a hidden file");
    ok_crt(remove(strHidden.c_str()), "remove() after clearing the attributes");

    DeleteFileA((strTwain + "\\ZORB_0001").c_str());
    DeleteFileA((strTwain + "\\other.ds").c_str());
    DeleteFileA((strTwain + "\\qrvgnds2.tmp").c_str());
    RemoveDirectoryA((strTwain + "\\zorb_0000").c_str());
    ok_win(RemoveDirectoryA(strTwain.c_str()), "RemoveDirectoryA of the emptied find tree");
}

// What a link looks like to the program: a reparse point, with the attributes
// of the link itself. Wine 8 cannot show it (CreateSymbolicLinkA does nothing
// there, and a Unix link is followed and reported like its target), so the
// checks run only on the stand-in, where a POSIX symbolic link plays the part.
static void test_ReparsePoints()
{
#ifndef _WIN32
    std::string strDir = Scratch("links");
    ok(CreateDirectoryA(strDir.c_str(), NULL) && CreateDirectoryA((strDir + "\\target").c_str(), NULL) &&
           WriteText(strDir + "\\target.txt", "x"),
       "cannot make the link tree\n");
    ok(symlink(StdioPath(strDir + "\\target").c_str(), StdioPath(strDir + "\\dirlink").c_str()) == 0 &&
           symlink(StdioPath(strDir + "\\target.txt").c_str(), StdioPath(strDir + "\\filelink").c_str()) == 0,
       "cannot make the links\n");

    DWORD dwAttr = GetFileAttributesA((strDir + "\\dirlink").c_str());
    ok(dwAttr == (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
       "GetFileAttributesA of a link to a directory: reparse point and directory, got %#lx\n", (unsigned long)dwAttr);
    dwAttr = GetFileAttributesA((strDir + "\\target").c_str());
    ok(dwAttr == FILE_ATTRIBUTE_DIRECTORY, "GetFileAttributesA of the directory itself, got %#lx\n", (unsigned long)dwAttr);

    struct _finddata_t fd;
    memset(&fd, 0, sizeof(fd));
    intptr_t hFind = _findfirst((strDir + "\\dirlink").c_str(), &fd);
    ok(hFind != -1 && fd.attrib == (FILE_ATTRIBUTE_REPARSE_POINT | _A_SUBDIR),
       "_findfirst's attrib carries the reparse point of a link to a directory, got %#x\n", (unsigned)fd.attrib);
    if (hFind != -1) {
        _findclose(hFind);
    }
    hFind = _findfirst((strDir + "\\filelink").c_str(), &fd);
    ok(hFind != -1 && (fd.attrib & FILE_ATTRIBUTE_REPARSE_POINT) && !(fd.attrib & _A_SUBDIR),
       "_findfirst's attrib carries the reparse point of a link to a file, got %#x\n", (unsigned)fd.attrib);
    if (hFind != -1) {
        _findclose(hFind);
    }
    hFind = _findfirst((strDir + "\\target").c_str(), &fd);
    ok(hFind != -1 && fd.attrib == _A_SUBDIR, "_findfirst's attrib of a directory, got %#x\n", (unsigned)fd.attrib);
    if (hFind != -1) {
        _findclose(hFind);
    }

    unlink(StdioPath(strDir + "\\dirlink").c_str());
    unlink(StdioPath(strDir + "\\filelink").c_str());
    DeleteFileA((strDir + "\\target.txt").c_str());
    RemoveDirectoryA((strDir + "\\target").c_str());
    ok_win(RemoveDirectoryA(strDir.c_str()), "RemoveDirectoryA of the emptied link tree");
#endif
}

// The log's handles. What only one side can show is said in a trace line.

// A second name for a file, as another user would make it.
static bool MakeHardLink(const std::string &strLink, const std::string &strTarget)
{
#ifdef _WIN32
    return CreateHardLinkA(strLink.c_str(), strTarget.c_str(), NULL) != FALSE;
#else
    return link(StdioPath(strTarget).c_str(), StdioPath(strLink).c_str()) == 0;
#endif
}

// As the log opens its files: never through a link at the name, sharing read only.
static HANDLE OpenLogFile(const std::string &strPath, DWORD dwCreation, DWORD dwExtraAccess = 0)
{
    return CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE | dwExtraAccess, FILE_SHARE_READ, NULL, dwCreation,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

static FILE *StreamOn(HANDLE h)
{
    int fd = _open_osfhandle((intptr_t)h, _O_APPEND | _O_BINARY);
    return fd == -1 ? NULL : _fdopen(fd, "a+b");
}

static BY_HANDLE_FILE_INFORMATION InfoOf(HANDLE h)
{
    BY_HANDLE_FILE_INFORMATION info;
    memset(&info, 0xCC, sizeof(info));
    ok(GetFileInformationByHandle(h, &info) != FALSE, "GetFileInformationByHandle succeeds, error %lu\n", LastError());
    return info;
}

static bool Rename(HANDLE h, const std::string &strTo)
{
    union {
        FILE_RENAME_INFO info;
        BYTE rgb[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    } target;
    memset(&target, 0, sizeof(target));
    int cwch = MultiByteToWideChar(CP_ACP, 0, strTo.c_str(), -1, target.info.FileName, MAX_PATH);
    ok(cwch == (int)strTo.size() + 1, "MultiByteToWideChar counts one character a byte and the NUL, got %d\n", cwch);
    target.info.ReplaceIfExists = TRUE;
    target.info.FileNameLength = (DWORD)(cwch - 1) * sizeof(WCHAR);
    return SetFileInformationByHandle(h, FileRenameInfo, &target, sizeof(target)) != FALSE;
}

static bool MarkForDeletion(HANDLE h)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

static void test_LogHandles()
{
    std::string strLog = Scratch("h.log"), strKeep = Scratch("keep.txt");
    HANDLE h = OpenLogFile(strLog, OPEN_ALWAYS);
    ok(h != INVALID_HANDLE_VALUE, "CreateFileA(OPEN_ALWAYS) creates a missing file, error %lu\n", LastError());
    BY_HANDLE_FILE_INFORMATION info = InfoOf(h);
    ok(!(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           info.nNumberOfLinks == 1 && info.nFileSizeLow == 0 && info.nFileSizeHigh == 0,
       "a new file: no directory or reparse attribute, one link, empty; got %#lx, %lu links\n",
       (unsigned long)info.dwFileAttributes, (unsigned long)info.nNumberOfLinks);
    HANDLE hSecond = CreateFileA(strLog.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, 0, NULL);
#ifdef _WIN32
    ok(hSecond == INVALID_HANDLE_VALUE && LastError() == ERROR_SHARING_VIOLATION,
       "a file shared for reading only refuses a second writer with 32, got %lu\n", LastError());
#else
    trace("the stand-in does not keep sharing modes: a second writer is not refused\n");
#endif
    if (hSecond != INVALID_HANDLE_VALUE) {
        CloseHandle(hSecond);
    }
    FILE *pStream = StreamOn(h);
    ok(pStream != NULL, "_open_osfhandle(_O_APPEND) and _fdopen(\"a+b\") put a stream on the handle\n");
    if (!pStream) {
        return;
    }
    fputs("one\r\n", pStream);
    fflush(pStream);
    ok(ReadText(strLog) == "one\r\n", "a flushed line is in the file, bytes unchanged\n");
    ok(fclose(pStream) == 0, "fclose of the stream closes the handle\n");
    hSecond = CreateFileA(strLog.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ok(hSecond != INVALID_HANDLE_VALUE, "after fclose nothing holds the file: an exclusive open succeeds, error %lu\n",
       LastError());
    CloseHandle(hSecond);

    // OPEN_ALWAYS keeps the content; with _O_APPEND every write goes to the end, even after a read from the start.
    h = OpenLogFile(strLog, OPEN_ALWAYS);
    pStream = h != INVALID_HANDLE_VALUE ? StreamOn(h) : NULL;
    ok(pStream != NULL, "CreateFileA(OPEN_ALWAYS) opens an existing file, error %lu\n", LastError());
    if (pStream) {
        char sz[4] = "";
        ok(_fseeki64(pStream, 0, SEEK_SET) == 0 && fread(sz, 1, 3, pStream) == 3 && memcmp(sz, "one", 3) == 0,
           "the stream reads the file from its start\n");
        _fseeki64(pStream, 0, SEEK_SET);
        fputs("two\r\n", pStream);
        fclose(pStream);
    }
    ok(ReadText(strLog) == "one\r\ntwo\r\n", "writes go to the end of the file, got %s\n", ReadText(strLog).c_str());

    // Files the log must never write through.
    ok(WriteText(strKeep, "kept"), "cannot write the scratch file\n");
    ok_win_fails(OpenLogFile(strKeep, CREATE_NEW, DELETE) != INVALID_HANDLE_VALUE, ERROR_FILE_EXISTS,
                 "CreateFileA(CREATE_NEW) of an existing name");
    ok_win_fails(OpenLogFile(g_strScratch, OPEN_ALWAYS) != INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED,
                 "CreateFileA of a directory");

    // A hard link: two names, seen on a handle opened through either.
    std::string strLink = Scratch("h2.log");
    ok(MakeHardLink(strLink, strKeep), "cannot make a hard link\n");
    h = OpenLogFile(strLink, OPEN_ALWAYS);
    ok(h != INVALID_HANDLE_VALUE, "CreateFileA(FILE_FLAG_OPEN_REPARSE_POINT) opens a hard link's name\n");
    if (h != INVALID_HANDLE_VALUE) {
        info = InfoOf(h);
        ok(info.nNumberOfLinks == 2 && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT),
           "a file with a hard link has nNumberOfLinks 2 and no reparse attribute, got %lu, %#lx\n",
           (unsigned long)info.nNumberOfLinks, (unsigned long)info.dwFileAttributes);
        CloseHandle(h);
    }
    ok_win_fails(OpenLogFile(strLink, CREATE_NEW, DELETE) != INVALID_HANDLE_VALUE, ERROR_FILE_EXISTS,
                 "CreateFileA(CREATE_NEW) of a hard link's name");
    ok_win(DeleteFileA(strLink.c_str()), "DeleteFileA of a hard link's name");
    ok(ReadText(strKeep) == "kept", "DeleteFileA removes the name only: the other name keeps the content\n");
    h = OpenLogFile(strLink, CREATE_NEW, DELETE);
    ok(h != INVALID_HANDLE_VALUE, "CreateFileA(CREATE_NEW) succeeds once the name is deleted, error %lu\n", LastError());
    if (h != INVALID_HANDLE_VALUE) {
        ok(InfoOf(h).nNumberOfLinks == 1, "the new side file has one name\n");
        CloseHandle(h);
    }

#ifndef _WIN32
    // A symbolic link is opened itself, never followed; the file it names is not created.
    std::string strSym = Scratch("sym.log"), strAway = Scratch("away.txt");
    ok(symlink(StdioPath(strAway).c_str(), StdioPath(strSym).c_str()) == 0, "cannot make a symbolic link\n");
    h = OpenLogFile(strSym, OPEN_ALWAYS);
    ok(h != INVALID_HANDLE_VALUE, "CreateFileA(FILE_FLAG_OPEN_REPARSE_POINT) opens a dangling symbolic link\n");
    if (h != INVALID_HANDLE_VALUE) {
        ok((InfoOf(h).dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
           "a symbolic link's handle has FILE_ATTRIBUTE_REPARSE_POINT\n");
        CloseHandle(h);
    }
    ok(!Exists(strAway), "the link's target is not created\n");
    ok_win(DeleteFileA(strSym.c_str()), "DeleteFileA of a symbolic link");
#else
    trace("Wine 8 follows Unix symbolic links and shows no reparse point: not checked here\n");
#endif
    DeleteFileA(strKeep.c_str());
    DeleteFileA(strLink.c_str());
    DeleteFileA(strLog.c_str());
}

static void test_RenameAndDeleteByHandle()
{
    std::string strLog = Scratch("r.log"), strSide = Scratch("r2.log"), strOther = Scratch("r-other.txt");
    ok(WriteText(strLog, "old log"), "cannot write the scratch file\n");

    HANDLE hSide = OpenLogFile(strSide, CREATE_NEW, DELETE);
    ok(hSide != INVALID_HANDLE_VALUE, "CreateFileA(CREATE_NEW, DELETE) makes the side file\n");
    FILE *pSide = hSide != INVALID_HANDLE_VALUE ? StreamOn(hSide) : NULL;
    if (!pSide) {
        return;
    }
    fputs("tail\r\n", pSide);
    fflush(pSide);

    // A file that is open is not replaced, and stays whole.
    HANDLE hLog = OpenLogFile(strLog, OPEN_EXISTING);
    SetLastError(0xdeadbeef);
    bool bRenamed = Rename(hSide, strLog);
    unsigned long dwErr = LastError();
    ok(!bRenamed && dwErr == ERROR_ACCESS_DENIED, "FileRenameInfo onto a file that is open fails with 5, got %d, %lu\n",
       bRenamed, dwErr);
    CloseHandle(hLog);
    ok(ReadText(strLog) == "old log" && Exists(strSide), "a failed rename changes neither file\n");
    ok_win_fails(Rename(hSide, g_strScratch), ERROR_ACCESS_DENIED, "FileRenameInfo onto a directory");

    // Onto a closed file that has a second name: only the name is replaced. (A
    // handle with DELETE access is read by others only if they share delete:
    // the content is looked at once it is closed.)
    ok(MakeHardLink(strOther, strLog), "cannot make a hard link\n");
    ok_win(Rename(hSide, strLog), "FileRenameInfo(ReplaceIfExists) onto a closed file");
    ok(!Exists(strSide) && Exists(strLog), "the open file takes the name\n");
    ok(ReadText(strOther) == "old log", "the replaced name's other name keeps the old content\n");
    fputs("run\r\n", pSide);
    fclose(pSide);
    ok(ReadText(strLog) == "tail\r\nrun\r\n", "the file keeps its content, and the handle writes on under the new "
       "name, got %s\n", ReadText(strLog).c_str());

    // A name that needs the ANSI code page: MultiByteToWideChar and back name the same file.
    std::string strAnsi = Scratch("caf\xe9.log");
    hSide = OpenLogFile(strSide, CREATE_NEW, DELETE);
    if (hSide != INVALID_HANDLE_VALUE) {
        ok_win(Rename(hSide, strAnsi), "FileRenameInfo to a name with a byte above 0x7F");
        CloseHandle(hSide);
    }
    ok(Exists(strAnsi) && !Exists(strSide), "the renamed file is found by its ANSI name\n");
    DeleteFileA(strAnsi.c_str());

    // Deleted through the handle: the name is gone once the stream on it is closed.
    hSide = OpenLogFile(strSide, CREATE_NEW, DELETE);
    pSide = hSide != INVALID_HANDLE_VALUE ? StreamOn(hSide) : NULL;
    ok(pSide != NULL, "cannot make the side file\n");
    if (pSide) {
        fputs("x", pSide);
        ok_win(MarkForDeletion(hSide), "FileDispositionInfo(DeleteFile)");
        fclose(pSide);
    }
    ok(!Exists(strSide), "a file marked for deletion is gone after fclose of its stream\n");
    hSide = OpenLogFile(strSide, CREATE_NEW);
    ok_win_fails(MarkForDeletion(hSide), ERROR_ACCESS_DENIED, "FileDispositionInfo on a handle without DELETE");
#ifndef _WIN32
    ok_win_fails(Rename(hSide, strOther), ERROR_ACCESS_DENIED, "FileRenameInfo on a handle without DELETE");
#else
    trace("Wine 8 renames through a handle without DELETE access (Windows refuses): not checked here\n");
#endif
    CloseHandle(hSide);

    DeleteFileA(strSide.c_str());
    DeleteFileA(strLog.c_str());
    DeleteFileA(strOther.c_str());
}

// A SID from its parts: S-1-5-r0-r1.
static void MakeNtSid(BYTE *pb, DWORD dwRid0, DWORD dwRid1, BYTE cRid)
{
    SID *pSid = (SID *)pb;
    pSid->Revision = 1;
    pSid->SubAuthorityCount = cRid;
    memset(pSid->IdentifierAuthority.Value, 0, 6);
    pSid->IdentifierAuthority.Value[5] = 5;
    memcpy(pb + 8, &dwRid0, 4);
    memcpy(pb + 12, &dwRid1, 4);
}

static bool OwnerIs(HANDLE h, PSID psid, bool *pbWellKnown)
{
    PSID psidOwner = NULL;
    PSECURITY_DESCRIPTOR pSD = NULL;
    DWORD dwErr = GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &psidOwner, NULL, NULL, NULL, &pSD);
    ok(dwErr == ERROR_SUCCESS && psidOwner != NULL, "GetSecurityInfo(OWNER) of a file succeeds, got %lu\n",
       (unsigned long)dwErr);
    if (dwErr != ERROR_SUCCESS || !psidOwner) {
        return false;
    }
    bool bSame = EqualSid(psidOwner, psid) != FALSE;
    *pbWellKnown = IsWellKnownSid(psidOwner, WinLocalSystemSid) || IsWellKnownSid(psidOwner, WinBuiltinAdministratorsSid);
    ok(LocalFree(pSD) == NULL, "LocalFree of the security descriptor returns NULL\n");
    return bSame;
}

static void test_Owners()
{
    alignas(DWORD) BYTE rgbSystem[SECURITY_MAX_SID_SIZE], rgbAdmins[SECURITY_MAX_SID_SIZE];
    MakeNtSid(rgbSystem, 18, 0, 1);
    MakeNtSid(rgbAdmins, 32, 544, 2);
    ok(IsWellKnownSid(rgbSystem, WinLocalSystemSid) && !IsWellKnownSid(rgbSystem, WinBuiltinAdministratorsSid),
       "S-1-5-18 is WinLocalSystemSid\n");
    ok(IsWellKnownSid(rgbAdmins, WinBuiltinAdministratorsSid) && !IsWellKnownSid(rgbAdmins, WinLocalSystemSid),
       "S-1-5-32-544 is WinBuiltinAdministratorsSid\n");
    ok(EqualSid(rgbSystem, rgbSystem) && !EqualSid(rgbSystem, rgbAdmins), "EqualSid compares SIDs\n");

    HANDLE hToken = NULL;
    ok(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken), "OpenProcessToken(TOKEN_QUERY) succeeds\n");
    union {
        TOKEN_USER user;
        BYTE rgb[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } token;
    DWORD cb = 0;
    ok(GetTokenInformation(hToken, TokenUser, &token, sizeof(token), &cb) && cb <= sizeof(token),
       "GetTokenInformation(TokenUser) fits a TOKEN_USER and the largest SID, error %lu\n", LastError());
    ok(CloseHandle(hToken), "CloseHandle of the token\n");
    trace("the running account is %s\n", IsWellKnownSid(token.user.User.Sid, WinLocalSystemSid) ? "SYSTEM" : "a user");

    std::string strFile = Scratch("owned.log");
    HANDLE h = OpenLogFile(strFile, OPEN_ALWAYS);
    bool bWellKnown = false;
    ok(h != INVALID_HANDLE_VALUE && OwnerIs(h, token.user.User.Sid, &bWellKnown),
       "a file the process made is owned by the token's user\n");
    CloseHandle(h);
#ifndef _WIN32
    ok(chown(StdioPath(strFile).c_str(), 12345, (gid_t)-1) == 0, "cannot give the file to another user\n");
    h = OpenLogFile(strFile, OPEN_EXISTING);
    ok(h != INVALID_HANDLE_VALUE && !OwnerIs(h, token.user.User.Sid, &bWellKnown) && !bWellKnown,
       "a file of another user is owned by neither the token's user, SYSTEM nor Administrators\n");
    CloseHandle(h);
#else
    trace("Wine 8 gives every file the running user as owner: another user's file is not shown here\n");
#endif
    DeleteFileA(strFile.c_str());
}

static void test_MbString()
{
    unsigned char line[] = "  AddDS   a\tb  c ";
    const unsigned char *pszBlank = (const unsigned char *)" ";
    unsigned char *psz = _mbstok(line, pszBlank);
    ok(psz == line + 2 && strcmp((char *)psz, "AddDS") == 0, "_mbstok skips leading blanks, got %s\n",
       psz ? (char *)psz : "(null)");
    ok(line[7] == '\0' && line[8] == ' ', "_mbstok writes one NUL in place after the token\n");
    psz = _mbstok(NULL, pszBlank);
    ok(psz && strcmp((char *)psz, "a\tb") == 0, "_mbstok: a run of blanks is one separator, tab is no delimiter, "
       "got %s\n", psz ? (char *)psz : "(null)");
    psz = _mbstok(NULL, pszBlank);
    ok(psz && strcmp((char *)psz, "c") == 0, "_mbstok: last token before trailing blank, got %s\n",
       psz ? (char *)psz : "(null)");
    ok(_mbstok(NULL, pszBlank) == NULL, "_mbstok returns NULL after the last token\n");
    unsigned char blanks[] = "   ";
    ok(_mbstok(blanks, pszBlank) == NULL, "_mbstok of blanks only returns NULL\n");

    const unsigned char *pszA = (const unsigned char *)"zorb_ABC";
    ok(_mbsicmp(pszA, (const unsigned char *)"ZORB_abc") == 0, "_mbsicmp ignores case\n");
    ok(_mbsicmp((const unsigned char *)"abc", (const unsigned char *)"ABD") < 0, "_mbsicmp orders abc before ABD\n");
    ok(_mbsicmp((const unsigned char *)"B", (const unsigned char *)"a") > 0, "_mbsicmp orders B after a\n");
    ok(_mbsicmp((const unsigned char *)"ab", (const unsigned char *)"abc") < 0, "_mbsicmp: a prefix sorts first\n");

    ok(_mbsnbicmp((const unsigned char *)"madds", (const unsigned char *)"MAxx", 2) == 0,
       "_mbsnbicmp compares only the first 2 bytes, without case\n");
    ok(_mbsnbicmp((const unsigned char *)"MRemoveDS", (const unsigned char *)"MAddDS", 2) != 0,
       "_mbsnbicmp sees a difference in the second byte\n");
    ok(_mbsnbicmp((const unsigned char *)"A", (const unsigned char *)"AddDS", 2) != 0,
       "_mbsnbicmp: a 1-byte text differs from a longer one over 2 bytes\n");

    unsigned char lower[] = "ZORB_{ABC}\\0000";
    ok(_mbslwr(lower) == lower && strcmp((char *)lower, "zorb_{abc}\\0000") == 0,
       "_mbslwr folds in place and returns its argument, got %s\n", lower);

    const unsigned char *pszHay = (const unsigned char *)"{ABC},{ABCD}";
    ok(_mbsstr(pszHay, (const unsigned char *)"{ABCD}") == pszHay + 6, "_mbsstr finds the substring\n");
    ok(_mbsstr(pszHay, (const unsigned char *)"{abc}") == NULL, "_mbsstr is case-sensitive\n");
    ok(_mbsstr(pszHay, (const unsigned char *)"") == pszHay, "_mbsstr with an empty needle returns the haystack\n");

    const unsigned char *pszKey = (const unsigned char *)"{6BDD}\\0000\\x";
    ok(_mbsrchr(pszKey, '\\') == pszKey + 11, "_mbsrchr finds the last backslash\n");
    ok(_mbsrchr((const unsigned char *)"0000", '\\') == NULL, "_mbsrchr without the character returns NULL\n");

    unsigned char buf[8];
    memset(buf, 'X', sizeof(buf));
    ok(_mbsnbcpy(buf, (const unsigned char *)"ab", 5) == buf, "_mbsnbcpy returns its destination\n");
    ok(memcmp(buf, "ab\0\0\0XXX", 8) == 0, "_mbsnbcpy pads the rest of count with NULs and no further\n");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"abcde", 5);
    ok(memcmp(buf, "abcdeXXX", 8) == 0, "_mbsnbcpy of a source as long as count writes no NUL\n");
}

// Code page 932: which bytes lead and trail, and what the routines do with a
// lead byte right before the terminator. They take the terminator for its trail
// byte and walk on (the buffers hold known bytes after it, so the checks stay
// in bounds); only the substring search and the bounded copy stop there.
static void test_MbLeadBytes()
{
    int nOldCodePage = _getmbcp();
    ok(_setmbcp(932) == 0, "_setmbcp(932) succeeds\n");
    ok(_ismbblead(0x81) && _ismbblead(0x9F) && _ismbblead(0xE0) && _ismbblead(0xFC),
       "_ismbblead: 0x81 to 0x9F and 0xE0 to 0xFC lead\n");
    ok(!_ismbblead(0x80) && !_ismbblead(0xA0) && !_ismbblead(0xDF) && !_ismbblead(0xFD) && !_ismbblead('A'),
       "_ismbblead: 0x80, 0xA0, 0xDF, 0xFD and ASCII do not lead\n");
    ok(_ismbbtrail(0x40) && _ismbbtrail(0x5C) && _ismbbtrail(0x7C) && _ismbbtrail(0x80) && _ismbbtrail(0xFC),
       "_ismbbtrail: 0x40 to 0x7E and 0x80 to 0xFC trail, backslash and bar among them\n");
    ok(!_ismbbtrail(0) && !_ismbbtrail(0x1F) && !_ismbbtrail('?') && !_ismbbtrail(':') && !_ismbbtrail(0x7F) &&
       !_ismbbtrail(0xFD),
       "_ismbbtrail: NUL, control bytes, ? : 0x7F and 0xFD do not trail\n");

    unsigned char lower[] = "AB\x81\0CDEF";
    _mbslwr(lower);
    ok(memcmp(lower, "ab\x81\0cdef", 9) == 0, "_mbslwr folds past a lead byte's terminator, got %s|%s\n", lower,
       lower + 4);

    const unsigned char rgbChr[] = "AB\x81\0C\\D";
    ok(_mbschr(rgbChr, '\\') == rgbChr + 5, "_mbschr walks past a lead byte's terminator\n");
    ok(_mbsrchr(rgbChr, '\\') == rgbChr + 5, "_mbsrchr walks past a lead byte's terminator\n");
    ok(_mbsicmp((const unsigned char *)"AB\x81\0X", (const unsigned char *)"AB\x81\0Y") != 0,
       "_mbsicmp compares past a lead byte's terminator\n");

    unsigned char line[] = "AB\x81\0C D";
    unsigned char *psz = _mbstok(line, (const unsigned char *)" ");
    ok(psz == line && line[5] == '\0', "_mbstok ends the first token at the blank past a lead byte's terminator\n");
    psz = _mbstok(NULL, (const unsigned char *)" ");
    ok(psz == line + 6, "_mbstok's next token is the one after that blank\n");

    const unsigned char rgbHay[] = "AB\x81\0CD";
    ok(_mbsstr(rgbHay, (const unsigned char *)"CD") == NULL, "_mbsstr stops at a lead byte's terminator\n");

    unsigned char buf[8];
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"AB\x81", 5);
    ok(memcmp(buf, "AB\0\0\0XXX", 8) == 0, "_mbsnbcpy drops a lead byte before the terminator\n");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"A\x95\x5C", 2);
    ok(memcmp(buf, "A\0XXXXXX", 8) == 0, "_mbsnbcpy puts a zero byte for a character count cuts in two\n");
    memset(buf, 'X', sizeof(buf));
    _mbsnbcpy(buf, (const unsigned char *)"\x95\x5C_", 4);
    ok(memcmp(buf, "\x95\x5C_\0XXXX", 8) == 0, "_mbsnbcpy copies a character whose trail byte is 0x5C\n");

    _setmbcp(nOldCodePage);
    ok(!_ismbblead(0x81), "the old code page is back, without lead bytes\n");
}

static void test_System()
{
    char szDir[MAX_PATH + 1];
    memset(szDir, 0, sizeof(szDir));
    UINT cch = GetWindowsDirectoryA(szDir, MAX_PATH);
    ok(cch > 0 && cch < MAX_PATH, "GetWindowsDirectoryA returns a length in 1..259, got %u\n", cch);
    ok(strlen(szDir) == cch, "GetWindowsDirectoryA returns the text's length, got %u for %s\n", cch, szDir);
    DWORD dwAttr = GetFileAttributesA(szDir);
    ok(dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY),
       "the Windows directory %s exists\n", szDir);

    memset(szDir, 0, sizeof(szDir));
    DWORD cchTemp = GetTempPathA(MAX_PATH, szDir);
    ok(cchTemp > 0 && cchTemp < MAX_PATH && strlen(szDir) == cchTemp, "GetTempPathA returns its length, got %lu\n",
       (unsigned long)cchTemp);
    ok(cchTemp > 0 && (szDir[cchTemp - 1] == '\\' || szDir[cchTemp - 1] == '/'),
       "GetTempPathA ends with a separator: %s\n", szDir);

    SYSTEMTIME st;
    memset(&st, 0xff, sizeof(st));
    GetLocalTime(&st);
    ok(st.wYear >= 2020 && st.wYear < 2100 && st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 && st.wDay <= 31,
       "GetLocalTime gives a plausible date, got %u-%u-%u\n", st.wYear, st.wMonth, st.wDay);
    ok(st.wHour < 24 && st.wMinute < 60 && st.wSecond < 61 && st.wDayOfWeek < 7,
       "GetLocalTime gives a plausible time, got %u:%u:%u\n", st.wHour, st.wMinute, st.wSecond);
}

typedef HWINSTA(WINAPI *PFN_GETPROCESSWINDOWSTATION)(void);
typedef BOOL(WINAPI *PFN_GETUSEROBJECTINFORMATIONA)(HANDLE, int, PVOID, DWORD, LPDWORD);

// The usage box asks USER32, loaded at run time, whether its window station is
// visible. A test started from a desktop session runs on WinSta0, which is.
static void test_WindowStation()
{
    HMODULE hUser32 = LoadLibraryA("user32.dll");
    ok(hUser32 != NULL, "LoadLibraryA(\"user32.dll\") succeeds, error %lu\n", LastError());
    if (!hUser32) {
        return;
    }
    PFN_GETPROCESSWINDOWSTATION pfnGetProcessWindowStation = (PFN_GETPROCESSWINDOWSTATION)(
        void (*)(void))GetProcAddress(hUser32, "GetProcessWindowStation");
    PFN_GETUSEROBJECTINFORMATIONA pfnGetUserObjectInformationA = (PFN_GETUSEROBJECTINFORMATIONA)(
        void (*)(void))GetProcAddress(hUser32, "GetUserObjectInformationA");
    ok(pfnGetProcessWindowStation != NULL && pfnGetUserObjectInformationA != NULL,
       "USER32 exports GetProcessWindowStation and GetUserObjectInformationA\n");
    if (!pfnGetProcessWindowStation || !pfnGetUserObjectInformationA) {
        FreeLibrary(hUser32);
        return;
    }

    HWINSTA hStation = pfnGetProcessWindowStation();
    ok(hStation != NULL, "GetProcessWindowStation gives a handle\n");
    ok(pfnGetProcessWindowStation() == hStation, "GetProcessWindowStation gives the same handle again\n");

    USEROBJECTFLAGS flags;
    memset(&flags, 0, sizeof(flags));
    DWORD cbNeeded = 0;
    ok_win(pfnGetUserObjectInformationA(hStation, UOI_FLAGS, &flags, sizeof(flags), &cbNeeded),
           "GetUserObjectInformationA(UOI_FLAGS) of the process's station");
    ok(cbNeeded == sizeof(USEROBJECTFLAGS), "UOI_FLAGS needs %u bytes, got %lu\n", (unsigned)sizeof(USEROBJECTFLAGS),
       (unsigned long)cbNeeded);
    ok(flags.dwFlags & WSF_VISIBLE, "the desktop session's station has WSF_VISIBLE, flags 0x%lx\n",
       (unsigned long)flags.dwFlags);

    // Too small a buffer fails (Wine: ERROR_BUFFER_OVERFLOW; Windows documents no
    // code) and reports the size needed.
    cbNeeded = 0;
    ok(!pfnGetUserObjectInformationA(hStation, UOI_FLAGS, &flags, sizeof(flags) - 1, &cbNeeded),
       "GetUserObjectInformationA fails with a buffer too small\n");
    ok(cbNeeded == sizeof(USEROBJECTFLAGS), "and reports the size needed, got %lu\n", (unsigned long)cbNeeded);
    ok_win_fails(pfnGetUserObjectInformationA(NULL, UOI_FLAGS, &flags, sizeof(flags), &cbNeeded),
                 ERROR_INVALID_HANDLE, "GetUserObjectInformationA of a null handle");
    ok(FreeLibrary(hUser32), "FreeLibrary of USER32 succeeds\n");
}

// Reads a value into a 260-byte buffer as the driver-key probes do.
static LONG QueryValue(HKEY hKey, const char *pszName, DWORD *pdwType, char *pszBuf, DWORD *pcb)
{
    *pcb = MAX_PATH;
    memset(pszBuf, 0, MAX_PATH);
    if (pdwType) {
        *pdwType = REG_NONE;
    }
    return RegQueryValueExA(hKey, pszName, NULL, pdwType, (LPBYTE)pszBuf, pcb);
}

static void test_DriverKey(HKEY hKey)
{
    HKEY hSame = NULL;
    ok(RegOpenKeyA(hKey, "", &hSame) == ERROR_SUCCESS && hSame == hKey,
       "RegOpenKeyA with an empty subkey gives the same handle\n");

    HKEY hSub = NULL;
    ok(RegOpenKeyA(hKey, "Missing", &hSub) == ERROR_FILE_NOT_FOUND, "RegOpenKeyA of a missing subkey fails with 2\n");

    ok(RegQueryValueExA(hKey, "Over261", NULL, NULL, NULL, NULL) == ERROR_SUCCESS,
       "RegQueryValueExA without buffer and size succeeds for an existing value, whatever its size\n");
    ok(RegQueryValueExA(hKey, "Empty", NULL, NULL, NULL, NULL) == ERROR_SUCCESS,
       "RegQueryValueExA without buffer and size succeeds for a value of no data\n");
    ok(RegQueryValueExA(hKey, "MarelCLSID", NULL, NULL, NULL, NULL) == ERROR_FILE_NOT_FOUND,
       "RegQueryValueExA without buffer and size fails with 2 for a missing value\n");

    char szBuf[MAX_PATH];
    DWORD dwType = 0, cb = 0;
    LONG lRet = QueryValue(hKey, "Exact260", NULL, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && cb == 260 && strlen(szBuf) == 259,
       "260 bytes of string data fit a 260-byte buffer, got %ld, cb %lu\n", (long)lRet, (unsigned long)cb);
    lRet = QueryValue(hKey, "Over261", NULL, szBuf, &cb);
    ok(lRet == ERROR_MORE_DATA, "261 bytes of data into a 260-byte buffer fail with 234, got %ld\n", (long)lRet);

    lRet = QueryValue(hKey, "Multi", &dwType, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && dwType == REG_MULTI_SZ && strcmp(szBuf, "first") == 0,
       "a REG_MULTI_SZ reads as its strings, the first ending at the first NUL, got %ld, %s\n", (long)lRet, szBuf);
    lRet = QueryValue(hKey, "Dword", &dwType, szBuf, &cb);
    DWORD dw = 0;
    memcpy(&dw, szBuf, sizeof(dw));
    ok(lRet == ERROR_SUCCESS && dwType == REG_DWORD && cb == 4 && dw == 0x102,
       "a dword reads as 4 bytes, got %ld, cb %lu, %#lx\n", (long)lRet, (unsigned long)cb, (unsigned long)dw);
    lRet = QueryValue(hKey, "", &dwType, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && dwType == REG_SZ && strcmp(szBuf, "default text") == 0,
       "the empty value name reads the key's default value, got %ld, %s\n", (long)lRet, szBuf);

    ok(RegOpenKeyA(hKey, "DEVICEDATA", &hSub) == ERROR_SUCCESS,
       "RegOpenKeyA opens the DeviceData subkey, key names without regard to case\n");
    lRet = QueryValue(hSub, "installclsid", &dwType, szBuf, &cb);
    ok(lRet == ERROR_SUCCESS && strcmp(szBuf, "{ABCDEF00-1111-2222-3333-444455556666}") == 0,
       "a string value of the subkey reads, value names without regard to case, got %ld, %s\n", (long)lRet, szBuf);
    ok(cb == 39, "a string's size counts its NUL, got %lu\n", (unsigned long)cb);
    ok(RegQueryValueExA(hSub, "MarelCLSID", NULL, NULL, NULL, NULL) == ERROR_SUCCESS,
       "the marker value exists in the subkey\n");
    ok(RegCloseKey(hSub) == ERROR_SUCCESS, "RegCloseKey of a subkey succeeds\n");
}

static void test_Devices()
{
    ok(sizeof(SP_DEVINFO_DATA) == (sizeof(void *) == 4 ? 28u : 32u), "sizeof(SP_DEVINFO_DATA) is %u\n",
       (unsigned)sizeof(SP_DEVINFO_DATA));

    HDEVINFO hDevs = SetupDiGetClassDevsA(&imagingGuid, NULL, NULL, 0);
    unsigned long dwErr = LastError();
    ok(hDevs != INVALID_HANDLE_VALUE, "SetupDiGetClassDevsA of the imaging class succeeds, error %lu\n", dwErr);
    if (hDevs == INVALID_HANDLE_VALUE) {
        return;
    }

    SP_DEVINFO_DATA did;
    memset(&did, 0, sizeof(did));
    did.cbSize = sizeof(did) + 1;
    ok_win_fails(SetupDiEnumDeviceInfo(hDevs, 0, &did), ERROR_INVALID_USER_BUFFER,
                 "SetupDiEnumDeviceInfo with a wrong cbSize");

    // The devices come in the order of their Enum key names, not the order of the .reg file;
    // device 0003 is of another class. Expected driver instance per index, "" for none.
    static const char *const rgszDriver[] = {"0003", "", "0000"};
    const DWORD cDevices = sizeof(rgszDriver) / sizeof(rgszDriver[0]);
    for (DWORD idx = 0; idx <= cDevices; ++idx) {
        memset(&did, 0, sizeof(did));
        did.cbSize = sizeof(did);
        SetLastError(0xdeadbeef);
        BOOL bOk = SetupDiEnumDeviceInfo(hDevs, idx, &did);
        dwErr = LastError();
        if (idx == cDevices) {
            ok(!bOk && dwErr == ERROR_NO_MORE_ITEMS,
               "SetupDiEnumDeviceInfo past the last device fails with 259, got %d, %lu\n", bOk, dwErr);
            break;
        }
        ok(bOk, "SetupDiEnumDeviceInfo gives device %lu, error %lu\n", (unsigned long)idx, dwErr);
        if (!bOk) {
            continue;
        }
        char szDriver[MAX_PATH];
        memset(szDriver, 0, sizeof(szDriver));
        DWORD cbNeeded = 0;
        bOk = SetupDiGetDeviceRegistryPropertyA(hDevs, &did, SPDRP_DRIVER, NULL, (LPBYTE)szDriver, sizeof(szDriver),
                                                &cbNeeded);
        HKEY hKey = SetupDiOpenDevRegKey(hDevs, &did, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
        dwErr = LastError();
        if (!rgszDriver[idx][0]) {
            ok(!bOk, "SPDRP_DRIVER of device %lu without a Driver value fails\n", (unsigned long)idx);
            ok(hKey == INVALID_HANDLE_VALUE, "SetupDiOpenDevRegKey of device %lu without a driver gives "
               "INVALID_HANDLE_VALUE, got %p\n", (unsigned long)idx, (void *)hKey);
            if (hKey != INVALID_HANDLE_VALUE) {
                RegCloseKey(hKey);
            }
            continue;
        }
        std::string strWant = std::string(szDriverPrefix) + rgszDriver[idx];
        ok(bOk && strWant == szDriver, "SPDRP_DRIVER of device %lu is the Driver value %s, got %s\n",
           (unsigned long)idx, strWant.c_str(), szDriver);
        ok(hKey != INVALID_HANDLE_VALUE, "SetupDiOpenDevRegKey(DIREG_DRV) opens device %lu's driver key, error %lu\n",
           (unsigned long)idx, dwErr);
        if (hKey == INVALID_HANDLE_VALUE) {
            continue;
        }
        if (strcmp(rgszDriver[idx], "0000") == 0) {
            test_DriverKey(hKey);
        } else {
            // Each device's driver key is the one its Driver value names.
            HKEY hSub = NULL;
            char szBuf[MAX_PATH];
            DWORD cb = 0;
            LONG lRet = RegOpenKeyA(hKey, "DeviceData", &hSub);
            if (lRet == ERROR_SUCCESS) {
                lRet = QueryValue(hSub, "InstallCLSID", NULL, szBuf, &cb);
                RegCloseKey(hSub);
            }
            ok(lRet == ERROR_SUCCESS && strcmp(szBuf, "{11111111-2222-3333-4444-555555555555}") == 0,
               "device %lu's driver key is the one its Driver value names, got %ld\n", (unsigned long)idx, (long)lRet);
        }
        ok(RegCloseKey(hKey) == ERROR_SUCCESS, "RegCloseKey of a driver key succeeds\n");
    }
    ok(SetupDiDestroyDeviceInfoList(hDevs), "SetupDiDestroyDeviceInfoList succeeds\n");
}

int main()
{
    char szTemp[MAX_PATH];
    DWORD cch = GetTempPathA(MAX_PATH, szTemp);
    if (cch == 0 || cch >= MAX_PATH) {
        printf("GetTempPathA failed\n");
        return 1;
    }
    // A fresh directory of our own, so that nothing left from another run can disturb the checks.
    bool bCreated = false;
    for (unsigned long n = (unsigned long)time(NULL) % 100000, cTries = 0; !bCreated && cTries < 100; ++n, ++cTries) {
        char szName[32];
        snprintf(szName, sizeof(szName), "zulconf_%lu", n);
        g_strScratch = std::string(szTemp) + szName;
        bCreated = CreateDirectoryA(g_strScratch.c_str(), NULL) != FALSE;
    }
    if (!bCreated) {
        printf("cannot create a scratch directory in %s, error %lu\n", szTemp, LastError());
        return 1;
    }

    test_MoveAndCopy();
    test_DeleteAndAttributes();
    test_PathSpelling();
    test_RuntimeFiles();
    test_Find();
    test_ReparsePoints();
    test_LogHandles();
    test_RenameAndDeleteByHandle();
    test_Owners();
    test_MbString();
    test_MbLeadBytes();
    test_System();
    test_WindowStation();
    test_Devices();

    ok_win(RemoveDirectoryA(g_strScratch.c_str()), "RemoveDirectoryA of the emptied scratch directory");
    return WtestSummary("conformance");
}
