// Files by handle, as the log keeps them: CreateFileA, a stream on the handle, what the handle
// tells of the file, and renaming and deleting through it.
#include "conformance.h"

#include <fcntl.h>
#include <io.h>

#ifndef _WIN32
#include <unistd.h>
#endif

// A second name for a file, as another user would make it.
static bool MakeHardLink(const std::string &sLink, const std::string &sTarget)
{
#ifdef _WIN32
    return CreateHardLinkA(sLink.c_str(), sTarget.c_str(), NULL) != FALSE;
#else
    return link(StdioPath(sTarget).c_str(), StdioPath(sLink).c_str()) == 0;
#endif
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

static bool Rename(HANDLE h, const std::string &sTo)
{
    union {
        FILE_RENAME_INFO info;
        BYTE rgb[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    } target;
    memset(&target, 0, sizeof(target));
    int cwch = MultiByteToWideChar(CP_ACP, 0, sTo.c_str(), -1, target.info.FileName, MAX_PATH);
    ok(cwch == (int)sTo.size() + 1, "MultiByteToWideChar counts one character a byte and the NUL, got %d\n", cwch);
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
    std::string sLog = Scratch("h.log"), sKeep = Scratch("keep.txt");
    HANDLE h = OpenLogFile(sLog, OPEN_ALWAYS);
    ok(h != INVALID_HANDLE_VALUE, "CreateFileA(OPEN_ALWAYS) creates a missing file, error %lu\n", LastError());
    BY_HANDLE_FILE_INFORMATION info = InfoOf(h);
    ok(!(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           info.nNumberOfLinks == 1 && info.nFileSizeLow == 0 && info.nFileSizeHigh == 0,
       "a new file: no directory or reparse attribute, one link, empty; got %#lx, %lu links\n",
       (unsigned long)info.dwFileAttributes, (unsigned long)info.nNumberOfLinks);
    HANDLE hSecond = CreateFileA(sLog.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 NULL, OPEN_EXISTING, 0, NULL);
    unsigned long dwErr = LastError();
    // The stand-in keeps no sharing modes.
    ok((hSecond == INVALID_HANDLE_VALUE && dwErr == ERROR_SHARING_VIOLATION) ||
           standin_differs(hSecond != INVALID_HANDLE_VALUE),
       "a file shared for reading only refuses a second writer with 32, got %p, error %lu\n", (void *)hSecond, dwErr);
    if (hSecond != INVALID_HANDLE_VALUE) {
        CloseHandle(hSecond);
    }
    FILE *pStream = StreamOn(h);
    ok(pStream != NULL, "_open_osfhandle(_O_APPEND) and _fdopen(\"a+b\") put a stream on the handle, errno %d\n",
       errno);
    if (!pStream) {
        return;
    }
    fputs("one\r\n", pStream);
    fflush(pStream);
    ok(ReadText(sLog) == "one\r\n", "a flushed line is in the file, bytes unchanged, got %s\n", ReadText(sLog).c_str());
    int nClose = fclose(pStream);
    ok(nClose == 0, "fclose of the stream closes the handle, got %d\n", nClose);
    hSecond = CreateFileA(sLog.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ok(hSecond != INVALID_HANDLE_VALUE, "after fclose nothing holds the file: an exclusive open succeeds, error %lu\n",
       LastError());
    CloseHandle(hSecond);

    // A descriptor that gets no stream is closed with _close, and the handle with it.
    h = OpenLogFile(sLog, OPEN_EXISTING);
    int fd = h != INVALID_HANDLE_VALUE ? _open_osfhandle((intptr_t)h, _O_APPEND | _O_BINARY) : -1;
    ok(fd != -1, "_open_osfhandle gives a descriptor, errno %d\n", errno);
    ok_crt(_close(fd), "_close of the descriptor");
    hSecond = CreateFileA(sLog.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ok(hSecond != INVALID_HANDLE_VALUE, "after _close nothing holds the file: an exclusive open succeeds, error %lu\n",
       LastError());
    CloseHandle(hSecond);

    // OPEN_ALWAYS keeps the content; with _O_APPEND every write goes to the end, even after a read from the start.
    h = OpenLogFile(sLog, OPEN_ALWAYS);
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
    ok(ReadText(sLog) == "one\r\ntwo\r\n", "writes go to the end of the file, got %s\n", ReadText(sLog).c_str());

    // Files the log must never write through.
    ok(WriteText(sKeep, "kept"), "cannot write the scratch file, errno %d\n", errno);
    ok_win_fails(OpenLogFile(sKeep, CREATE_NEW, DELETE) != INVALID_HANDLE_VALUE, ERROR_FILE_EXISTS,
                 "CreateFileA(CREATE_NEW) of an existing name");
    ok_win_fails(OpenLogFile(g_sScratch, OPEN_ALWAYS) != INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED,
                 "CreateFileA of a directory");

    // A hard link: two names, seen on a handle opened through either.
    std::string sLink = Scratch("h2.log");
    ok(MakeHardLink(sLink, sKeep), "cannot make a hard link, errno %d, error %lu\n", errno, LastError());
    h = OpenLogFile(sLink, OPEN_ALWAYS);
    ok(h != INVALID_HANDLE_VALUE, "CreateFileA(FILE_FLAG_OPEN_REPARSE_POINT) opens a hard link's name, error %lu\n",
       LastError());
    if (h != INVALID_HANDLE_VALUE) {
        info = InfoOf(h);
        ok(info.nNumberOfLinks == 2 && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT),
           "a file with a hard link has nNumberOfLinks 2 and no reparse attribute, got %lu, %#lx\n",
           (unsigned long)info.nNumberOfLinks, (unsigned long)info.dwFileAttributes);
        CloseHandle(h);
    }
    ok_win_fails(OpenLogFile(sLink, CREATE_NEW, DELETE) != INVALID_HANDLE_VALUE, ERROR_FILE_EXISTS,
                 "CreateFileA(CREATE_NEW) of a hard link's name");
    ok_win(DeleteFileA(sLink.c_str()), "DeleteFileA of a hard link's name");
    ok(ReadText(sKeep) == "kept", "DeleteFileA removes the name only: the other name keeps the content, got %s\n",
       ReadText(sKeep).c_str());
    h = OpenLogFile(sLink, CREATE_NEW, DELETE);
    ok(h != INVALID_HANDLE_VALUE, "CreateFileA(CREATE_NEW) succeeds once the name is deleted, error %lu\n",
       LastError());
    if (h != INVALID_HANDLE_VALUE) {
        DWORD cLinks = InfoOf(h).nNumberOfLinks;
        ok(cLinks == 1, "the new side file has one name, got %lu\n", (unsigned long)cLinks);
        CloseHandle(h);
    }

#ifndef _WIN32
    // A symbolic link is opened itself, never followed; the file it names is not created.
    std::string sSym = Scratch("sym.log"), sAway = Scratch("away.txt");
    ok(symlink(StdioPath(sAway).c_str(), StdioPath(sSym).c_str()) == 0, "cannot make a symbolic link, errno %d\n",
       errno);
    h = OpenLogFile(sSym, OPEN_ALWAYS);
    ok(h != INVALID_HANDLE_VALUE,
       "CreateFileA(FILE_FLAG_OPEN_REPARSE_POINT) opens a dangling symbolic link, error %lu\n", LastError());
    if (h != INVALID_HANDLE_VALUE) {
        ok((InfoOf(h).dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
           "a symbolic link's handle has FILE_ATTRIBUTE_REPARSE_POINT\n");
        CloseHandle(h);
    }
    ok(!Exists(sAway), "the link's target is not created, attributes %#lx\n", Attributes(sAway));
    ok_win(DeleteFileA(sSym.c_str()), "DeleteFileA of a symbolic link");
#else
    skip("Wine 8 makes no symbolic link that shows as a reparse point\n");
#endif
    DeleteFileA(sKeep.c_str());
    DeleteFileA(sLink.c_str());
    DeleteFileA(sLog.c_str());
}

static void test_RenameAndDeleteByHandle()
{
    std::string sLog = Scratch("r.log"), sSide = Scratch("r2.log"), sOther = Scratch("r-other.txt");
    ok(WriteText(sLog, "old log"), "cannot write the scratch file, errno %d\n", errno);

    HANDLE hSide = OpenLogFile(sSide, CREATE_NEW, DELETE);
    ok(hSide != INVALID_HANDLE_VALUE, "CreateFileA(CREATE_NEW, DELETE) makes the side file, error %lu\n", LastError());
    FILE *pSide = hSide != INVALID_HANDLE_VALUE ? StreamOn(hSide) : NULL;
    if (!pSide) {
        return;
    }
    fputs("tail\r\n", pSide);
    fflush(pSide);

    // A file that is open is not replaced, and stays whole.
    HANDLE hLog = OpenLogFile(sLog, OPEN_EXISTING);
    SetLastError(0xdeadbeef);
    bool bRenamed = Rename(hSide, sLog);
    unsigned long dwErr = LastError();
    ok(!bRenamed && dwErr == ERROR_ACCESS_DENIED, "FileRenameInfo onto a file that is open fails with 5, got %d, %lu\n",
       bRenamed, dwErr);
    CloseHandle(hLog);
    ok(ReadText(sLog) == "old log" && Exists(sSide), "a failed rename changes neither file, got %s and %#lx\n",
       ReadText(sLog).c_str(), Attributes(sSide));
    ok_win_fails(Rename(hSide, g_sScratch), ERROR_ACCESS_DENIED, "FileRenameInfo onto a directory");

    // Onto a closed file that has a second name: only the name is replaced. (A
    // handle with DELETE access is read by others only if they share delete:
    // the content is looked at once it is closed.)
    ok(MakeHardLink(sOther, sLog), "cannot make a hard link, errno %d, error %lu\n", errno, LastError());
    ok_win(Rename(hSide, sLog), "FileRenameInfo(ReplaceIfExists) onto a closed file");
    ok(!Exists(sSide) && Exists(sLog), "the open file takes the name, attributes %#lx and %#lx\n", Attributes(sSide),
       Attributes(sLog));
    ok(ReadText(sOther) == "old log", "the replaced name's other name keeps the old content, got %s\n",
       ReadText(sOther).c_str());
    fputs("run\r\n", pSide);
    fclose(pSide);
    ok(ReadText(sLog) == "tail\r\nrun\r\n",
       "the file keeps its content, and the handle writes on under the new "
       "name, got %s\n",
       ReadText(sLog).c_str());

    // A name that needs the ANSI code page: MultiByteToWideChar and back name the same file.
    std::string sAnsi = Scratch("caf\xe9.log");
    hSide = OpenLogFile(sSide, CREATE_NEW, DELETE);
    if (hSide != INVALID_HANDLE_VALUE) {
        ok_win(Rename(hSide, sAnsi), "FileRenameInfo to a name with a byte above 0x7F");
        CloseHandle(hSide);
    }
    ok(Exists(sAnsi) && !Exists(sSide), "the renamed file is found by its ANSI name, attributes %#lx and %#lx\n",
       Attributes(sAnsi), Attributes(sSide));
    DeleteFileA(sAnsi.c_str());

    // Deleted through the handle: the name is gone once the stream on it is closed.
    hSide = OpenLogFile(sSide, CREATE_NEW, DELETE);
    pSide = hSide != INVALID_HANDLE_VALUE ? StreamOn(hSide) : NULL;
    ok(pSide != NULL, "cannot make the side file, error %lu\n", LastError());
    if (pSide) {
        fputs("x", pSide);
        ok_win(MarkForDeletion(hSide), "FileDispositionInfo(DeleteFile)");
        fclose(pSide);
    }
    ok(!Exists(sSide), "a file marked for deletion is gone after fclose of its stream, attributes %#lx\n",
       Attributes(sSide));
    hSide = OpenLogFile(sSide, CREATE_NEW);
    ok_win_fails(MarkForDeletion(hSide), ERROR_ACCESS_DENIED, "FileDispositionInfo on a handle without DELETE");
    SetLastError(0xdeadbeef);
    bRenamed = Rename(hSide, sOther);
    dwErr = LastError();
    todo_wine ok(!bRenamed && dwErr == ERROR_ACCESS_DENIED,
                 "FileRenameInfo on a handle without DELETE fails with 5, got %d, %lu\n", bRenamed, dwErr);
    CloseHandle(hSide);

    DeleteFileA(sSide.c_str());
    DeleteFileA(sLog.c_str());
    DeleteFileA(sOther.c_str());
}

void func_handles()
{
    test_LogHandles();
    test_RenameAndDeleteByHandle();
}
