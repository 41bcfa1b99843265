// Files by handle, as the log keeps them: CreateFileA, a stream on the handle, what the handle
// tells of the file, and renaming and deleting through it; and as the data-source steps keep
// them: NtCreateFile, reading, writing and cutting, attributes and deleting directories.
#include "conformance.h"

#include <winternl.h>

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
        FILE_STANDARD_INFO standard;
        FILE_BASIC_INFO basic;
        ok(GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof(standard)) &&
               GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof(basic)) && standard.NumberOfLinks == 2 &&
               standard.EndOfFile.LowPart == info.nFileSizeLow && basic.FileAttributes == info.dwFileAttributes,
           "FileStandardInfo and FileBasicInfo read the names, size and attributes, error %lu\n", LastError());
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

typedef NTSTATUS(NTAPI *PFN_NTCREATEFILE)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef ULONG(NTAPI *PFN_RTLNTSTATUSTODOSERROR)(NTSTATUS);
static PFN_NTCREATEFILE s_pfnNtCreateFile;
static PFN_RTLNTSTATUSTODOSERROR s_pfnToError;

// As the data-source steps open: never waiting on an oplock, never through a link, synchronous.
// Below hRoot when it is given, sPath then a name in it.
static NTSTATUS NtOpen(const std::string &sPath, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                       HANDLE *ph, ULONG_PTR *pInformation = NULL, HANDLE hRoot = NULL)
{
    WCHAR wsz[8 + MAX_PATH] = {'\\', '?', '?', '\\'};
    int cwchPrefix = hRoot ? 0 : 4;
    int cwch = MultiByteToWideChar(CP_ACP, 0, sPath.c_str(), -1, wsz + cwchPrefix, MAX_PATH);
    UNICODE_STRING name;
    name.Length = (WORD)((cwchPrefix + cwch - 1) * sizeof(WCHAR));
    name.MaximumLength = (WORD)(name.Length + sizeof(WCHAR));
    name.Buffer = wsz;
    OBJECT_ATTRIBUTES attributes;
    memset(&attributes, 0, sizeof(attributes));
    attributes.Length = sizeof(attributes);
    attributes.RootDirectory = hRoot;
    attributes.ObjectName = &name;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK iosb;
    memset(&iosb, 0, sizeof(iosb));
    *ph = NULL;
    NTSTATUS status = s_pfnNtCreateFile(
        ph, access | SYNCHRONIZE, &attributes, &iosb, NULL, FILE_ATTRIBUTE_NORMAL, share, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (pInformation) {
        *pInformation = iosb.Information;
    }
    return status;
}

// The open's failure as the program logs it: the status's error.
#define ok_nt_fails(status, err, what)                                                                                 \
    do {                                                                                                               \
        NTSTATUS s_ = (status);                                                                                        \
        ULONG e_ = s_pfnToError(s_);                                                                                   \
        ok(s_ < 0 && e_ == (ULONG)(err), what " must fail with error %lu, got status %#lx, error %lu\n",               \
           (unsigned long)(err), (unsigned long)s_, (unsigned long)e_);                                                \
    } while (0)

static bool SetBasic(HANDLE h, DWORD dwAttributes, long long llWriteTime)
{
    FILE_BASIC_INFO basic;
    memset(&basic, 0, sizeof(basic));
    basic.FileAttributes = dwAttributes;
    basic.LastWriteTime.QuadPart = llWriteTime;
    return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

static void test_DataSourceHandles()
{
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    s_pfnNtCreateFile = (PFN_NTCREATEFILE)(void (*)(void))GetProcAddress(hNtdll, "NtCreateFile");
    s_pfnToError = (PFN_RTLNTSTATUSTODOSERROR)(void (*)(void))GetProcAddress(hNtdll, "RtlNtStatusToDosError");
    ok(s_pfnNtCreateFile && s_pfnToError, "NTDLL exports NtCreateFile and RtlNtStatusToDosError\n");
    if (!s_pfnNtCreateFile || !s_pfnToError) {
        return;
    }
    const ULONG file = FILE_NON_DIRECTORY_FILE, dir = FILE_DIRECTORY_FILE;
    std::string sDs = Scratch("n.ds"), sDir = Scratch("inst");
    ok(WriteText(sDs, "old content"), "cannot write the scratch file, errno %d\n", errno);

    // Exclusive, and what a second open meets.
    HANDLE h = NULL, h2 = NULL;
    ULONG_PTR information = 0;
    NTSTATUS status =
        NtOpen(sDs, FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE, 0,
               FILE_OPEN_IF, file, &h, &information);
    ok(status == 0 && information == FILE_OPENED, "NtCreateFile(FILE_OPEN_IF) of a file opens it, status %#lx, %lu\n",
       (unsigned long)status, (unsigned long)information);
    status = NtOpen(sDs, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, file, &h2);
    ok((status < 0 && s_pfnToError(status) == ERROR_SHARING_VIOLATION) || standin_differs(status == 0),
       "a second open of a file held with share 0 fails at once with 32, status %#lx\n", (unsigned long)status);
    if (status >= 0) {
        CloseHandle(h2);
    }

    // Cut first, then written: the old content's tail goes.
    DWORD cb = 0;
    ok_win(SetEndOfFile(h), "SetEndOfFile at the start");
    ok_win(WriteFile(h, "new", 3, &cb, NULL) && cb == 3, "WriteFile");
    ok_win(SetBasic(h, FILE_ATTRIBUTE_READONLY, 0), "FileBasicInfo(READONLY)");
    CloseHandle(h);
    ok(ReadText(sDs) == "new" && (Attributes(sDs) & FILE_ATTRIBUTE_READONLY),
       "the file holds what was written, read-only: %s, %#lx\n", ReadText(sDs).c_str(), Attributes(sDs));
    // Wine 8 run by root opens it.
    status = NtOpen(sDs, FILE_WRITE_DATA, 0, FILE_OPEN, file, &h);
    todo_wine ok(status < 0 && s_pfnToError(status) == ERROR_ACCESS_DENIED,
                 "NtCreateFile(FILE_WRITE_DATA) of a read-only file fails with 5, status %#lx\n",
                 (unsigned long)status);
    if (status >= 0) {
        CloseHandle(h);
    }
    status =
        NtOpen(sDs, FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE, 0, FILE_OPEN, file, &h);
    ok(status == 0, "NtCreateFile(DELETE) of a read-only file, status %#lx\n", (unsigned long)status);
    char sz[8] = "";
    ok_win(ReadFile(h, sz, sizeof(sz), &cb, NULL) && cb == 3 && !memcmp(sz, "new", 3), "ReadFile");
    ok_win(ReadFile(h, sz, sizeof(sz), &cb, NULL) && cb == 0, "ReadFile at the end reads 0 bytes");
    ok_win_fails(MarkForDeletion(h), ERROR_ACCESS_DENIED, "FileDispositionInfo on a read-only file");
    BY_HANDLE_FILE_INFORMATION info = InfoOf(h);
    long long llTime = ((long long)info.ftLastWriteTime.dwHighDateTime << 32) + info.ftLastWriteTime.dwLowDateTime;
    ok_win(SetBasic(h, FILE_ATTRIBUTE_NORMAL, llTime - 10000000LL * 3600), "FileBasicInfo(NORMAL, a time)");
    info = InfoOf(h);
    ok(!(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
           ((long long)info.ftLastWriteTime.dwHighDateTime << 32) + info.ftLastWriteTime.dwLowDateTime ==
               llTime - 10000000LL * 3600,
       "FileBasicInfo sets the attributes and the time of last write, got %#lx\n",
       (unsigned long)info.dwFileAttributes);
    CloseHandle(h);

    // Renamed without replacing: an existing name is kept.
    ok(WriteText(Scratch("n2.ds"), "other"), "cannot write the scratch file, errno %d\n", errno);
    status = NtOpen(sDs, DELETE, 0, FILE_OPEN, file, &h);
    union {
        FILE_RENAME_INFO info;
        BYTE rgb[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    } target;
    memset(&target, 0, sizeof(target));
    int cwch = MultiByteToWideChar(CP_ACP, 0, Scratch("n2.ds").c_str(), -1, target.info.FileName, MAX_PATH);
    target.info.FileNameLength = (DWORD)(cwch - 1) * sizeof(WCHAR);
    ok_win_fails(SetFileInformationByHandle(h, FileRenameInfo, &target, sizeof(target)), ERROR_ALREADY_EXISTS,
                 "FileRenameInfo without ReplaceIfExists onto an existing file");
    ok_win(MarkForDeletion(h), "FileDispositionInfo on a writable file");
    CloseHandle(h);
    ok(!Exists(sDs) && ReadText(Scratch("n2.ds")) == "other", "deleted through its handle, %#lx\n", Attributes(sDs));

    // What the opens report, as the steps read it.
    ok_nt_fails(NtOpen(sDs, DELETE, 0, FILE_OPEN, file, &h), ERROR_FILE_NOT_FOUND, "NtCreateFile of a missing file");
    ok_nt_fails(NtOpen(Scratch("nodir\\x.ds"), DELETE, 0, FILE_OPEN, file, &h), ERROR_PATH_NOT_FOUND,
                "NtCreateFile in a missing directory");
    ok_nt_fails(NtOpen(Scratch("n2.ds\\x.ds"), FILE_WRITE_DATA, 0, FILE_OPEN_IF, file, &h), ERROR_PATH_NOT_FOUND,
                "NtCreateFile below a file");
    ok_nt_fails(NtOpen(Scratch("n2.ds"), READ_CONTROL, 0, FILE_OPEN, dir, &h), ERROR_DIRECTORY,
                "NtCreateFile(FILE_DIRECTORY_FILE) of a file");
    ok_nt_fails(NtOpen(g_sScratch, FILE_READ_DATA, 0, FILE_OPEN, file, &h), ERROR_ACCESS_DENIED,
                "NtCreateFile(FILE_NON_DIRECTORY_FILE) of a directory");
    ok_nt_fails(NtOpen(Scratch("n2.ds"), FILE_READ_DATA, 0, FILE_CREATE, file, &h), ERROR_ALREADY_EXISTS,
                "NtCreateFile(FILE_CREATE) of an existing file");
    status = NtOpen(sDs, FILE_WRITE_DATA | DELETE, 0, FILE_OPEN_IF, file, &h, &information);
    ok(status == 0 && information == FILE_CREATED, "NtCreateFile(FILE_OPEN_IF) makes a missing file, %#lx, %lu\n",
       (unsigned long)status, (unsigned long)information);
    ok_win(MarkForDeletion(h), "FileDispositionInfo on the file just made");
    CloseHandle(h);
    DeleteFileA(Scratch("n2.ds").c_str());

    // A directory held, and one removed through its handle only when empty.
    ok_win(CreateDirectoryA(sDir.c_str(), NULL), "CreateDirectoryA");
    ok(WriteText(sDir + "\\inner", "x"), "cannot write the scratch file, errno %d\n", errno);
    status = NtOpen(sDir, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, dir, &h);
    ok(status == 0, "NtCreateFile(FILE_DIRECTORY_FILE) holds a directory, status %#lx\n", (unsigned long)status);
    status = NtOpen(sDir, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, dir, &h2);
    // Sharing is checked only against read, write and delete access: a hold
    // with none of them keeps no one from deleting or renaming the directory.
    ok(status == 0,
       "a directory held without FILE_SHARE_DELETE but without DELETE access opens to be deleted, "
       "status %#lx\n",
       (unsigned long)status);
    if (status >= 0) {
        CloseHandle(h2);
    }
    CloseHandle(h);
    status = NtOpen(sDir, READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | DELETE, 0, FILE_OPEN, dir, &h);
    ok(status == 0, "NtCreateFile(FILE_DIRECTORY_FILE, DELETE), status %#lx\n", (unsigned long)status);
    ok_win(SetBasic(h, FILE_ATTRIBUTE_NORMAL, 0), "FileBasicInfo(NORMAL) on a directory");
    ok_win_fails(MarkForDeletion(h), ERROR_DIR_NOT_EMPTY, "FileDispositionInfo on a directory that is not empty");
    CloseHandle(h);
    ok(Exists(sDir + "\\inner"), "a directory that is not empty stays, %#lx\n", Attributes(sDir));
    DeleteFileA((sDir + "\\inner").c_str());
    status = NtOpen(sDir, DELETE, 0, FILE_OPEN, dir, &h);
    ok_win(MarkForDeletion(h), "FileDispositionInfo on an empty directory");
    CloseHandle(h);
    ok(!Exists(sDir), "an empty directory goes when its handle closes, %#lx\n", Attributes(sDir));
}

typedef NTSTATUS(NTAPI *PFN_NTSETINFORMATIONFILE)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

// Below a held directory: a file opened by its name in it, read again from
// its start, and renamed to another name in it.
static void test_RelativeToHeldDirectory()
{
    PFN_NTSETINFORMATIONFILE pfnSet =
        (PFN_NTSETINFORMATIONFILE)(void (*)(void))GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile");
    ok(pfnSet != NULL, "NTDLL exports NtSetInformationFile\n");
    if (!pfnSet || !s_pfnNtCreateFile) {
        return;
    }
    std::string sDir = Scratch("held");
    ok_win(CreateDirectoryA(sDir.c_str(), NULL), "CreateDirectoryA");
    HANDLE hDir = NULL, h = NULL;
    NTSTATUS status = NtOpen(sDir, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                             FILE_DIRECTORY_FILE, &hDir);
    ok(status == 0, "the directory is held, status %#lx\n", (unsigned long)status);
    ULONG_PTR information = 0;
    status = NtOpen("A.ds", FILE_READ_DATA | FILE_WRITE_DATA | DELETE, 0, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, &h,
                    &information, hDir);
    ok(status == 0 && information == FILE_CREATED, "NtCreateFile below RootDirectory makes the name there, %#lx\n",
       (unsigned long)status);
    DWORD cb = 0;
    char sz[8] = "";
    LARGE_INTEGER start;
    start.QuadPart = 0;
    ok_win(WriteFile(h, "abc", 3, &cb, NULL) && SetFilePointerEx(h, start, NULL, FILE_BEGIN) &&
               ReadFile(h, sz, sizeof(sz), &cb, NULL) && cb == 3 && !memcmp(sz, "abc", 3),
           "SetFilePointerEx(0, FILE_BEGIN) reads the file again from its start");
    union {
        FILE_RENAME_INFO info;
        BYTE rgb[sizeof(FILE_RENAME_INFO) + MAX_PATH * sizeof(WCHAR)];
    } target;
    memset(&target, 0, sizeof(target));
    target.info.RootDirectory = hDir;
    int cwch = MultiByteToWideChar(CP_ACP, 0, "b.ds", -1, target.info.FileName, MAX_PATH);
    target.info.FileNameLength = (DWORD)(cwch - 1) * sizeof(WCHAR);
    IO_STATUS_BLOCK iosb;
    memset(&iosb, 0, sizeof(iosb));
    status = pfnSet(h, &iosb, &target, sizeof(target), 10 /* FileRenameInformation */);
    ok(status == 0, "FileRenameInformation below RootDirectory, status %#lx\n", (unsigned long)status);
    CloseHandle(h);
    ok(ReadText(sDir + "\\b.ds") == "abc" && !Exists(sDir + "\\A.ds"), "renamed within the held directory\n");
    ok_nt_fails(NtOpen("A.ds", DELETE, 0, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &h, NULL, hDir), ERROR_FILE_NOT_FOUND,
                "NtCreateFile below RootDirectory of a missing name");
    status = NtOpen("sub", READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                    FILE_DIRECTORY_FILE, &h, &information, hDir);
    ok(status == 0 && information == FILE_CREATED && (Attributes(sDir + "\\sub") & FILE_ATTRIBUTE_DIRECTORY),
       "NtCreateFile(FILE_CREATE, FILE_DIRECTORY_FILE) below RootDirectory makes and holds it, %#lx\n",
       (unsigned long)status);
    if (status >= 0) {
        CloseHandle(h);
    }
    ok_nt_fails(NtOpen("sub", READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE, &h,
                       NULL, hDir),
                ERROR_ALREADY_EXISTS, "NtCreateFile(FILE_CREATE) of an existing directory");
    RemoveDirectoryA((sDir + "\\sub").c_str());
    CloseHandle(hDir);

    // Its listing, read through a handle: every name once, then STATUS_NO_MORE_FILES.
    typedef NTSTATUS(NTAPI * PFN_QUERY)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG, BOOLEAN,
                                        PUNICODE_STRING, BOOLEAN);
    PFN_QUERY pfnQuery =
        (PFN_QUERY)(void (*)(void))GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryDirectoryFile");
    ok(WriteText(sDir + "\\c", "x"), "cannot write the scratch file, errno %d\n", errno);
    status = NtOpen(sDir, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                    FILE_DIRECTORY_FILE, &hDir);
    int cEntries = 0;
    bool bFound = false;
    alignas(8) BYTE rgb[4096];
    while (pfnQuery && status >= 0 &&
           (status = pfnQuery(hDir, NULL, NULL, NULL, &iosb, rgb, sizeof(rgb), 1, FALSE, NULL, FALSE)) == 0) {
        for (ULONG ib = 0;;) {
            const ULONG *pul = (const ULONG *)(rgb + ib);
            const WCHAR *pwsz = (const WCHAR *)(rgb + ib + 64);
            cEntries++;
            bFound = bFound || (pul[15] == 4 * sizeof(WCHAR) && pwsz[0] == 'b' && pwsz[1] == '.' &&
                                !(pul[14] & FILE_ATTRIBUTE_DIRECTORY));
            if (!pul[0])
                break;
            ib += pul[0];
        }
    }
    ok(status == (NTSTATUS)0x80000006u && cEntries == 4 && bFound,
       "NtQueryDirectoryFile(FileDirectoryInformation) lists ., .., b.ds and c, then %#lx; %d entries\n",
       (unsigned long)status, cEntries);
    CloseHandle(hDir);
    DeleteFileA((sDir + "\\c").c_str());
    DeleteFileA((sDir + "\\b.ds").c_str());
    RemoveDirectoryA(sDir.c_str());
}

void func_handles()
{
    test_LogHandles();
    test_RenameAndDeleteByHandle();
    test_DataSourceHandles();
    test_RelativeToHeldDirectory();
}
