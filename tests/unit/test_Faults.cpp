// Platform faults in whole runs of the program. Every call that the log, the
// device walk and the file work make is, one at a time, failed once, failed
// from then on, or followed by a crash, in a child process. Each run must end
// with the exit status the rules give (1 only when an installer record cannot
// be allocated), keep the old log whole (cut or not) and lose no data source;
// after a crash the next run must find the log whole and clear up.
#include "LogModel.h"
#include "Sandbox.h"
#include "regfile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <direct.h>
#include <io.h>
#include <setupapi.h>

#include <dlfcn.h>
#include <errno.h>
#include <stdio_ext.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

enum Fn {
    F_MALLOC, F_NEW, F_FOPEN, F_FSEEK, F_FTELL, F_FREAD, F_FWRITE, F_FFLUSH, F_FCLOSE,
    F_MOVEFILEEX, F_MOVEFILE, F_DELETEFILE, F_REMOVE, F_RMDIR, F_REMOVEDIRECTORY, F_MKDIR,
    F_SETATTRIBUTES, F_GETATTRIBUTES, F_COPYFILE, F_FINDFIRSTFILE, F_FINDFIRST, F_FINDNEXT,
    F_GETCLASSDEVS, F_ENUMDEVICEINFO, F_GETPROPERTY, F_OPENDEVREGKEY, F_REGOPENKEY, F_REGQUERYVALUE,
    F_GETTEMPPATH, F_GETWINDOWSDIRECTORY, F_CREATEFILE, F_GETFILEINFORMATION, F_SETFILEINFORMATION,
    F_GETSECURITYINFO, F_OPENPROCESSTOKEN, F_GETTOKENINFORMATION, F_MULTIBYTETOWIDECHAR, F_OPENOSFHANDLE, F_FDOPEN,
    F_COUNT
};

const char *const s_rgpszFn[F_COUNT] = {
    "malloc", "operator new", "fopen", "_fseeki64", "_ftelli64", "fread", "fwrite", "fflush", "fclose",
    "MoveFileExA", "MoveFileA", "DeleteFileA", "remove", "_rmdir", "RemoveDirectoryA", "_mkdir",
    "SetFileAttributesA", "GetFileAttributesA", "CopyFileA", "FindFirstFileA", "_findfirst", "_findnext",
    "SetupDiGetClassDevsA", "SetupDiEnumDeviceInfo", "SetupDiGetDeviceRegistryPropertyA",
    "SetupDiOpenDevRegKey", "RegOpenKeyA", "RegQueryValueExA", "GetTempPathA", "GetWindowsDirectoryA",
    "CreateFileA", "GetFileInformationByHandle", "SetFileInformationByHandle", "GetSecurityInfo", "OpenProcessToken",
    "GetTokenInformation", "MultiByteToWideChar", "_open_osfhandle", "_fdopen"};

enum Mode { FAIL_ONCE, FAIL_FROM, CRASH_AFTER };
const char *const s_rgpszMode[] = {"fails once at call", "fails from call", "crash after call"};
const int s_nCrashStatus = 77;

// Written by the child, read by the parent.
struct Shared {
    long rgcCalls[F_COUNT];
    long cFired;
    bool bRecordAllocFailed; // a failed malloc of the installer's own records
};
Shared *g_pShared = nullptr;

bool g_bArmed = false;
int g_fn = -1;
long g_nCall = 0;
Mode g_mode = FAIL_ONCE;

// Counts the call; true when it is to fail.
bool Inject(Fn fn)
{
    if (!g_bArmed)
        return false;
    long n = ++g_pShared->rgcCalls[fn];
    if (fn != g_fn || g_mode == CRASH_AFTER)
        return false;
    bool bFail = g_mode == FAIL_ONCE ? n == g_nCall : n >= g_nCall;
    if (bFail)
        g_pShared->cFired++;
    return bFail;
}

// Called after a call went through: ends the process when it is the one.
void After(Fn fn)
{
    if (g_bArmed && g_mode == CRASH_AFTER && fn == g_fn && g_pShared->rgcCalls[fn] == g_nCall) {
        g_pShared->cFired++;
        _exit(s_nCrashStatus);
    }
}

BOOL FailWith(DWORD dwError)
{
    SetLastError(dwError);
    return FALSE;
}

} // namespace

// Link seams. Each counts its call, fails it or lets it through.
extern "C" {

void *__real_malloc(size_t);
void *__wrap_malloc(size_t cb)
{
    if (Inject(F_MALLOC)) {
        Dl_info info;
        void *pCaller = __builtin_return_address(0);
        if (dladdr(pCaller, &info) && info.dli_sname &&
            (strstr(info.dli_sname, "16TwainDSInstaller4Init") || strstr(info.dli_sname, "16TwainDSInstallerC") ||
             strstr(info.dli_sname, "16TwainDSInstaller14InstanceExists")))
            g_pShared->bRecordAllocFailed = true;
        errno = ENOMEM;
        return nullptr;
    }
    void *p = __real_malloc(cb);
    After(F_MALLOC);
    return p;
}

void *__real__ZnwmRKSt9nothrow_t(size_t, const std::nothrow_t &);
void *__wrap__ZnwmRKSt9nothrow_t(size_t cb, const std::nothrow_t &nt)
{
    if (Inject(F_NEW))
        return nullptr;
    void *p = __real__ZnwmRKSt9nothrow_t(cb, nt);
    After(F_NEW);
    return p;
}

[[noreturn]] void __real_exit(int);
[[noreturn]] void __wrap_exit(int status)
{
    if (g_bArmed)
        _exit(status);
    __real_exit(status);
}

FILE *__real_fopen(const char *, const char *);
FILE *__wrap_fopen(const char *pszPath, const char *pszMode)
{
    if (Inject(F_FOPEN)) {
        errno = EACCES;
        return nullptr;
    }
    FILE *p = __real_fopen(pszPath, pszMode);
    After(F_FOPEN);
    return p;
}

int __real__fseeki64(FILE *, int64_t, int);
int __wrap__fseeki64(FILE *p, int64_t off, int origin)
{
    if (Inject(F_FSEEK)) {
        errno = EIO;
        return -1;
    }
    int r = __real__fseeki64(p, off, origin);
    After(F_FSEEK);
    return r;
}

int64_t __real__ftelli64(FILE *);
int64_t __wrap__ftelli64(FILE *p)
{
    if (Inject(F_FTELL)) {
        errno = EIO;
        return -1;
    }
    int64_t r = __real__ftelli64(p);
    After(F_FTELL);
    return r;
}

size_t __real_fread(void *, size_t, size_t, FILE *);
size_t __wrap_fread(void *pv, size_t cb, size_t c, FILE *p)
{
    if (Inject(F_FREAD))
        return 0;
    size_t r = __real_fread(pv, cb, c, p);
    After(F_FREAD);
    return r;
}

// A failed write writes nothing; a failed flush or close loses what was buffered.
size_t __real_fwrite(const void *, size_t, size_t, FILE *);
size_t __wrap_fwrite(const void *pv, size_t cb, size_t c, FILE *p)
{
    if (Inject(F_FWRITE))
        return 0;
    size_t r = __real_fwrite(pv, cb, c, p);
    After(F_FWRITE);
    return r;
}

int __real_fflush(FILE *);
int __wrap_fflush(FILE *p)
{
    if (Inject(F_FFLUSH)) {
        __fpurge(p);
        errno = ENOSPC;
        return EOF;
    }
    int r = __real_fflush(p);
    After(F_FFLUSH);
    return r;
}

int __real_fclose(FILE *);
int __wrap_fclose(FILE *p)
{
    if (Inject(F_FCLOSE)) {
        __fpurge(p);
        __real_fclose(p);
        errno = ENOSPC;
        return EOF;
    }
    int r = __real_fclose(p);
    After(F_FCLOSE);
    return r;
}

#define ZUL_WRAP_BOOL(fn, id, error, params, args)                                                                 \
    BOOL __real_##fn params;                                                                                       \
    BOOL __wrap_##fn params                                                                                        \
    {                                                                                                              \
        if (Inject(id))                                                                                            \
            return FailWith(error);                                                                                \
        BOOL bResult = __real_##fn args;                                                                           \
        After(id);                                                                                                 \
        return bResult;                                                                                            \
    }

ZUL_WRAP_BOOL(MoveFileExA, F_MOVEFILEEX, ERROR_ACCESS_DENIED, (LPCSTR a, LPCSTR b, DWORD c), (a, b, c))
ZUL_WRAP_BOOL(MoveFileA, F_MOVEFILE, ERROR_SHARING_VIOLATION, (LPCSTR a, LPCSTR b), (a, b))
ZUL_WRAP_BOOL(DeleteFileA, F_DELETEFILE, ERROR_SHARING_VIOLATION, (LPCSTR a), (a))
ZUL_WRAP_BOOL(RemoveDirectoryA, F_REMOVEDIRECTORY, ERROR_SHARING_VIOLATION, (LPCSTR a), (a))
ZUL_WRAP_BOOL(SetFileAttributesA, F_SETATTRIBUTES, ERROR_ACCESS_DENIED, (LPCSTR a, DWORD b), (a, b))
ZUL_WRAP_BOOL(CopyFileA, F_COPYFILE, 112L /* ERROR_DISK_FULL */, (LPCSTR a, LPCSTR b, BOOL c), (a, b, c))
ZUL_WRAP_BOOL(GetFileInformationByHandle, F_GETFILEINFORMATION, ERROR_ACCESS_DENIED,
              (HANDLE a, LPBY_HANDLE_FILE_INFORMATION b), (a, b))
ZUL_WRAP_BOOL(SetFileInformationByHandle, F_SETFILEINFORMATION, ERROR_ACCESS_DENIED,
              (HANDLE a, FILE_INFO_BY_HANDLE_CLASS b, LPVOID c, DWORD d), (a, b, c, d))
ZUL_WRAP_BOOL(OpenProcessToken, F_OPENPROCESSTOKEN, ERROR_ACCESS_DENIED, (HANDLE a, DWORD b, PHANDLE c), (a, b, c))
ZUL_WRAP_BOOL(GetTokenInformation, F_GETTOKENINFORMATION, ERROR_NOT_ENOUGH_MEMORY,
              (HANDLE a, TOKEN_INFORMATION_CLASS b, LPVOID c, DWORD d, LPDWORD e), (a, b, c, d, e))
ZUL_WRAP_BOOL(SetupDiEnumDeviceInfo, F_ENUMDEVICEINFO, ERROR_NOT_ENOUGH_MEMORY,
              (HDEVINFO a, DWORD b, PSP_DEVINFO_DATA c), (a, b, c))
ZUL_WRAP_BOOL(SetupDiGetDeviceRegistryPropertyA, F_GETPROPERTY, ERROR_NOT_ENOUGH_MEMORY,
              (HDEVINFO a, PSP_DEVINFO_DATA b, DWORD c, LPDWORD d, LPBYTE e, DWORD f, LPDWORD g),
              (a, b, c, d, e, f, g))

#define ZUL_WRAP_CRT(fn, id, error, params, args)                                                                  \
    int __real_##fn params;                                                                                        \
    int __wrap_##fn params                                                                                         \
    {                                                                                                              \
        if (Inject(id)) {                                                                                          \
            errno = error;                                                                                         \
            return -1;                                                                                             \
        }                                                                                                          \
        int nResult = __real_##fn args;                                                                            \
        After(id);                                                                                                 \
        return nResult;                                                                                            \
    }

ZUL_WRAP_CRT(ZulStandinRemove, F_REMOVE, EACCES, (const char *a), (a))
ZUL_WRAP_CRT(_rmdir, F_RMDIR, EACCES, (const char *a), (a))
ZUL_WRAP_CRT(_mkdir, F_MKDIR, EACCES, (const char *a), (a))
ZUL_WRAP_CRT(_findnext, F_FINDNEXT, ENOMEM, (intptr_t a, struct _finddata_t *b), (a, b))
ZUL_WRAP_CRT(_open_osfhandle, F_OPENOSFHANDLE, EMFILE, (intptr_t a, int b), (a, b))

FILE *__real__fdopen(int, const char *);
FILE *__wrap__fdopen(int fd, const char *pszMode)
{
    if (Inject(F_FDOPEN)) {
        errno = ENOMEM;
        return nullptr;
    }
    FILE *p = __real__fdopen(fd, pszMode);
    After(F_FDOPEN);
    return p;
}

HANDLE __real_CreateFileA(LPCSTR, DWORD, DWORD, LPVOID, DWORD, DWORD, HANDLE);
HANDLE __wrap_CreateFileA(LPCSTR psz, DWORD a, DWORD b, LPVOID c, DWORD d, DWORD e, HANDLE f)
{
    if (Inject(F_CREATEFILE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = __real_CreateFileA(psz, a, b, c, d, e, f);
    After(F_CREATEFILE);
    return h;
}

DWORD __real_GetSecurityInfo(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID *, PSID *, PACL *, PACL *,
                             PSECURITY_DESCRIPTOR *);
DWORD __wrap_GetSecurityInfo(HANDLE h, SE_OBJECT_TYPE a, SECURITY_INFORMATION b, PSID *c, PSID *d, PACL *e, PACL *f,
                             PSECURITY_DESCRIPTOR *g)
{
    if (Inject(F_GETSECURITYINFO))
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD dw = __real_GetSecurityInfo(h, a, b, c, d, e, f, g);
    After(F_GETSECURITYINFO);
    return dw;
}

int __real_MultiByteToWideChar(UINT, DWORD, LPCSTR, int, LPWSTR, int);
int __wrap_MultiByteToWideChar(UINT a, DWORD b, LPCSTR c, int d, LPWSTR e, int f)
{
    if (Inject(F_MULTIBYTETOWIDECHAR)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    int n = __real_MultiByteToWideChar(a, b, c, d, e, f);
    After(F_MULTIBYTETOWIDECHAR);
    return n;
}

intptr_t __real__findfirst(const char *, struct _finddata_t *);
intptr_t __wrap__findfirst(const char *psz, struct _finddata_t *p)
{
    if (Inject(F_FINDFIRST)) {
        errno = ENOMEM;
        return -1;
    }
    intptr_t h = __real__findfirst(psz, p);
    After(F_FINDFIRST);
    return h;
}

DWORD __real_GetFileAttributesA(LPCSTR);
DWORD __wrap_GetFileAttributesA(LPCSTR psz)
{
    if (Inject(F_GETATTRIBUTES)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD dw = __real_GetFileAttributesA(psz);
    After(F_GETATTRIBUTES);
    return dw;
}

HANDLE __real_FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA);
HANDLE __wrap_FindFirstFileA(LPCSTR psz, LPWIN32_FIND_DATAA p)
{
    if (Inject(F_FINDFIRSTFILE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = __real_FindFirstFileA(psz, p);
    After(F_FINDFIRSTFILE);
    return h;
}

HDEVINFO __real_SetupDiGetClassDevsA(const GUID *, LPCSTR, HWND, DWORD);
HDEVINFO __wrap_SetupDiGetClassDevsA(const GUID *pGuid, LPCSTR psz, HWND hwnd, DWORD dw)
{
    if (Inject(F_GETCLASSDEVS)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    HDEVINFO h = __real_SetupDiGetClassDevsA(pGuid, psz, hwnd, dw);
    After(F_GETCLASSDEVS);
    return h;
}

HKEY __real_SetupDiOpenDevRegKey(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM);
HKEY __wrap_SetupDiOpenDevRegKey(HDEVINFO h, PSP_DEVINFO_DATA p, DWORD a, DWORD b, DWORD c, REGSAM d)
{
    if (Inject(F_OPENDEVREGKEY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    HKEY hKey = __real_SetupDiOpenDevRegKey(h, p, a, b, c, d);
    After(F_OPENDEVREGKEY);
    return hKey;
}

LSTATUS __real_RegOpenKeyA(HKEY, LPCSTR, PHKEY);
LSTATUS __wrap_RegOpenKeyA(HKEY h, LPCSTR psz, PHKEY ph)
{
    if (Inject(F_REGOPENKEY))
        return ERROR_ACCESS_DENIED;
    LSTATUS status = __real_RegOpenKeyA(h, psz, ph);
    After(F_REGOPENKEY);
    return status;
}

LSTATUS __real_RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
LSTATUS __wrap_RegQueryValueExA(HKEY h, LPCSTR psz, LPDWORD a, LPDWORD b, LPBYTE c, LPDWORD d)
{
    if (Inject(F_REGQUERYVALUE))
        return ERROR_ACCESS_DENIED;
    LSTATUS status = __real_RegQueryValueExA(h, psz, a, b, c, d);
    After(F_REGQUERYVALUE);
    return status;
}

DWORD __real_GetTempPathA(DWORD, LPSTR);
DWORD __wrap_GetTempPathA(DWORD cb, LPSTR psz)
{
    if (Inject(F_GETTEMPPATH)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    DWORD r = __real_GetTempPathA(cb, psz);
    After(F_GETTEMPPATH);
    return r;
}

UINT __real_GetWindowsDirectoryA(LPSTR, UINT);
UINT __wrap_GetWindowsDirectoryA(LPSTR psz, UINT cb)
{
    if (Inject(F_GETWINDOWSDIRECTORY)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    UINT r = __real_GetWindowsDirectoryA(psz, cb);
    After(F_GETWINDOWSDIRECTORY);
    return r;
}

} // extern "C"

namespace {

const char s_szAbsent[] = "<absent>";

// The machine every run starts from: five devices (0000 and 0001 marked and
// matching the hardware identifier, 0002 neither, 0003 without a driver, 0004
// marked but without a directory yet), their data sources in each state, an
// instance no device has, and both logs, the command's over the cap.
struct Command {
    const char *pszName;
    const char *pszText;
    const char *pszLog;
    // Each data-source file and the contents it may have afterwards.
    std::map<std::string, std::set<std::string>> allowed;
    // Groups of files of which at least one must be there afterwards.
    std::vector<std::vector<std::string>> mustKeepOne;
};

const std::map<std::string, std::string> s_seed = {
    {"qrvgnds2.tmp", "template"},
    {"zorb_0000/zorb_0000", "inactive 0000"},
    {"zorb_0001/zorb_0001.ds", "active 0001"},
    {"zorb_0002/zorb_0002.ds", "active 0002"},
    {"zorb_0007/zorb_0007.ds", "stale 0007"},
    {"zorb_0007/zorb_0007", "stale inactive 0007"},
    {"other.ds", "foreign"},
};

std::set<std::string> Same(const std::string &sPath)
{
    return {s_seed.at(sPath)};
}

std::set<std::string> SameOrGone(const std::string &sPath)
{
    return {s_seed.at(sPath), s_szAbsent};
}

std::vector<Command> Commands()
{
    std::vector<Command> commands;
    Command c;
    c.pszName = "MAddDS";
    c.pszText = "MAddDS";
    c.pszLog = "_add_ds.log";
    c.allowed = {{"qrvgnds2.tmp", Same("qrvgnds2.tmp")},
                 {"zorb_0000/zorb_0000", SameOrGone("zorb_0000/zorb_0000")},
                 {"zorb_0000/zorb_0000.ds", {"template", s_szAbsent}},
                 {"zorb_0001/zorb_0001.ds", {"active 0001", "template"}},
                 {"zorb_0004/zorb_0004.ds", {"template", s_szAbsent}},
                 {"zorb_0002/zorb_0002.ds", Same("zorb_0002/zorb_0002.ds")},
                 {"zorb_0007/zorb_0007.ds", Same("zorb_0007/zorb_0007.ds")},
                 {"zorb_0007/zorb_0007", Same("zorb_0007/zorb_0007")},
                 {"other.ds", Same("other.ds")}};
    commands.push_back(c);

    c = Command();
    c.pszName = "MRemoveDS";
    c.pszText = "MRemoveDS";
    c.pszLog = "_remove_ds.log";
    c.allowed = {{"qrvgnds2.tmp", Same("qrvgnds2.tmp")},
                 {"zorb_0000/zorb_0000", Same("zorb_0000/zorb_0000")},
                 {"zorb_0001/zorb_0001.ds", Same("zorb_0001/zorb_0001.ds")},
                 {"zorb_0002/zorb_0002.ds", Same("zorb_0002/zorb_0002.ds")},
                 {"zorb_0007/zorb_0007.ds", SameOrGone("zorb_0007/zorb_0007.ds")},
                 {"zorb_0007/zorb_0007", SameOrGone("zorb_0007/zorb_0007")},
                 {"other.ds", Same("other.ds")}};
    commands.push_back(c);

    c = Command();
    c.pszName = "AddDS";
    c.pszText = "AddDS hw-abc zorb_ DeviceData InstallCLSID params";
    c.pszLog = "_add_ds.log";
    c.allowed = {{"qrvgnds2.tmp", Same("qrvgnds2.tmp")},
                 {"zorb_0000/zorb_0000", SameOrGone("zorb_0000/zorb_0000")},
                 {"zorb_0000/zorb_0000.ds", SameOrGone("zorb_0000/zorb_0000")},
                 {"zorb_0001/zorb_0001.ds", Same("zorb_0001/zorb_0001.ds")},
                 {"zorb_0002/zorb_0002.ds", Same("zorb_0002/zorb_0002.ds")},
                 {"zorb_0007/zorb_0007.ds", Same("zorb_0007/zorb_0007.ds")},
                 {"zorb_0007/zorb_0007", Same("zorb_0007/zorb_0007")},
                 {"other.ds", Same("other.ds")}};
    c.mustKeepOne = {{"zorb_0000/zorb_0000", "zorb_0000/zorb_0000.ds"}};
    commands.push_back(c);

    c = Command();
    c.pszName = "RemoveDS";
    c.pszText = "RemoveDS zorb_ DeviceData InstallCLSID params";
    c.pszLog = "_remove_ds.log";
    c.allowed = {{"qrvgnds2.tmp", Same("qrvgnds2.tmp")},
                 {"zorb_0000/zorb_0000", Same("zorb_0000/zorb_0000")},
                 {"zorb_0001/zorb_0001.ds", SameOrGone("zorb_0001/zorb_0001.ds")},
                 {"zorb_0002/zorb_0002.ds", SameOrGone("zorb_0002/zorb_0002.ds")},
                 {"zorb_0007/zorb_0007.ds", Same("zorb_0007/zorb_0007.ds")},
                 {"zorb_0007/zorb_0007", Same("zorb_0007/zorb_0007")},
                 {"other.ds", Same("other.ds")}};
    commands.push_back(c);
    return commands;
}

// An old log over the cap, with LF-only lines, a CR before a CR LF and no end
// of line at the end, so that the cut has to rewrite it.
std::string OldLog(char chTag)
{
    std::string s;
    for (int i = 0; s.size() < 30000; i++)
        s += std::string(1, chTag) + " old line " + std::to_string(i) +
             (i % 3 == 0 ? "\n" : (i % 3 == 1 ? "\r\r\n" : "\r\n"));
    return s + "last line without end";
}

bool IsStampLine(const std::string &sLine)
{
    static const char szShape[] = "00:00:00\t00/00/00\t";
    if (sLine.size() != sizeof szShape - 1)
        return false;
    for (size_t i = 0; i < sLine.size(); i++) {
        if (szShape[i] == '0' ? !isdigit(static_cast<unsigned char>(sLine[i])) : sLine[i] != szShape[i])
            return false;
    }
    return true;
}

// What a run added after the old text: empty, or whole CR LF lines that open
// with a stamp and Start Log; closed with a stamp, End Log and an empty line
// unless the run was cut short.
std::string CheckRunText(const std::string &sRun, bool bMayBeCut)
{
    if (sRun.empty())
        return "";
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < sRun.size()) {
        size_t crlf = sRun.find("\r\n", start);
        if (crlf == std::string::npos)
            return "the run's text ends in the middle of a line";
        lines.push_back(sRun.substr(start, crlf - start));
        start = crlf + 2;
    }
    if (lines.size() < 2 || !IsStampLine(lines[0]) || lines[1] != "Start Log")
        return "the run's text does not open with a stamp and Start Log";
    size_t n = lines.size();
    bool bClosed = n >= 5 && IsStampLine(lines[n - 3]) && lines[n - 2] == "End Log" && lines[n - 1].empty();
    if (!bClosed && !bMayBeCut)
        return "the run's text does not close with a stamp, End Log and an empty line";
    return "";
}

// The log after a run over sOld: the old text whole or as the cap keeps it,
// then the run's. Returns a problem, or "".
std::string CheckLog(const std::string &sOld, const std::string &sLog, bool bRunMayBeCut, bool bRunMayBeDamaged)
{
    std::string sKept = KeptAfterCap(sOld);
    size_t cbPrefix;
    if (sLog.compare(0, sKept.size(), sKept) == 0 && sLog.size() >= sKept.size())
        cbPrefix = sKept.size();
    else if (sLog.compare(0, sOld.size(), sOld) == 0 && sLog.size() >= sOld.size())
        cbPrefix = sOld.size();
    else
        return "the old log is neither whole nor cut as the rules give";
    if (bRunMayBeDamaged)
        return "";
    return CheckRunText(sLog.substr(cbPrefix), bRunMayBeCut);
}

class FaultRuns : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_pShared = static_cast<Shared *>(
            mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(MAP_FAILED, static_cast<void *>(g_pShared));
        m_box.SetRegistry(ImagingDevicesReg("0000:\"InstallCLSID\"=\"{HW-ABC-0}\";\"MarelCLSID\"=\"x\"|"
                                            "0001:\"InstallCLSID\"=\"{hw-abc-1}\";\"MarelCLSID\"=\"y\"|"
                                            "0002:\"InstallCLSID\"=\"{other}\"|"
                                            "0003:-|"
                                            "0004:\"MarelCLSID\"=\"z\""));
        // Read once here, so that the children share it and no fault hits the reading.
        ZulStandin::LoadedRegistry();
    }
    void TearDown() override { munmap(g_pShared, sizeof(Shared)); }

    void Seed()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_box.TwainDir(), ec);
        std::filesystem::remove_all(m_box.TempDir(), ec);
        for (auto &file : s_seed)
            Sandbox::WriteFile(m_box.TwainDir() + "/" + file.first, file.second);
        Sandbox::MakeDir(m_box.TempDir());
        Sandbox::WriteFile(m_box.TempDir() + "/_add_ds.log", OldLog('a'));
        Sandbox::WriteFile(m_box.TempDir() + "/_remove_ds.log", OldLog('r'));
    }

    // One run of the command in a child; returns its exit status (-signal when killed).
    int Run(const char *pszText, int fn, long nCall, Mode mode)
    {
        memset(g_pShared, 0, sizeof(Shared));
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            g_fn = fn;
            g_nCall = nCall;
            g_mode = mode;
            g_bArmed = true;
            std::vector<char> text(pszText, pszText + strlen(pszText) + 1);
            int status = WinMain(nullptr, nullptr, text.data(), 1);
            g_bArmed = false;
            _exit(status);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    // Problems with the data sources after a run of c.
    std::string CheckDataSources(const Command &c)
    {
        std::map<std::string, std::string> files;
        for (auto &e : std::filesystem::recursive_directory_iterator(m_box.TwainDir())) {
            if (!e.is_directory())
                files[e.path().string().substr(m_box.TwainDir().size() + 1)] = Sandbox::ReadFile(e.path().string());
        }
        std::string sProblems;
        for (auto &file : files) {
            auto it = c.allowed.find(file.first);
            if (it == c.allowed.end())
                sProblems += " unexpected file " + file.first + ";";
            else if (!it->second.count(file.second))
                sProblems += " " + file.first + " holds '" + file.second + "';";
        }
        for (auto &rule : c.allowed) {
            if (!files.count(rule.first) && !rule.second.count(s_szAbsent))
                sProblems += " " + rule.first + " is lost;";
        }
        for (auto &group : c.mustKeepOne) {
            bool bAny = false;
            for (auto &sPath : group)
                bAny = bAny || files.count(sPath);
            if (!bAny)
                sProblems += " the data source of " + group[0] + " is lost;";
        }
        return sProblems;
    }

    // The calls a clean run of the command makes, by function.
    std::vector<long> CleanRunCalls(const Command &c)
    {
        Seed();
        int status = Run(c.pszText, -1, 0, FAIL_ONCE);
        EXPECT_EQ(0, status);
        EXPECT_EQ("", CheckDataSources(c));
        return std::vector<long>(g_pShared->rgcCalls, g_pShared->rgcCalls + F_COUNT);
    }

    // Every function, at a spread of its calls, in every mode.
    void Sweep(const Command &c)
    {
        std::vector<long> calls = CleanRunCalls(c);
        std::string sCalls;
        for (int fn = 0; fn < F_COUNT; fn++) {
            if (calls[fn])
                sCalls += std::string(" ") + s_rgpszFn[fn] + " " + std::to_string(calls[fn]);
        }
        printf("%s, calls of a clean run:%s\n", c.pszName, sCalls.c_str());
        const std::string sOldLog = OldLog(c.pszLog[1] == 'a' ? 'a' : 'r');
        const std::string sOtherLog = c.pszLog[1] == 'a' ? "_remove_ds.log" : "_add_ds.log";
        const std::string sOtherOld = OldLog(sOtherLog[1] == 'a' ? 'a' : 'r');
        const std::string sLogPath = m_box.TempDir() + "/" + c.pszLog;
        const std::string sSidePath = sLogPath.substr(0, sLogPath.size() - 4) + "2.log";
        long cCases = 0, cFired = 0;
        for (int fn = 0; fn < F_COUNT; fn++) {
            std::vector<long> samples;
            for (long k = 1; k <= calls[fn]; k = k < 8 ? k + 1 : k * 2)
                samples.push_back(k);
            if (calls[fn] > 0 && samples.back() != calls[fn])
                samples.push_back(calls[fn]);
            for (long k : samples) {
                for (Mode mode : {FAIL_ONCE, FAIL_FROM, CRASH_AFTER}) {
                    std::string sCase = std::string(c.pszName) + ": " + s_rgpszFn[fn] + " " + s_rgpszMode[mode] +
                                        " " + std::to_string(k) + " of " + std::to_string(calls[fn]);
                    Seed();
                    int status = Run(c.pszText, fn, k, mode);
                    cCases++;
                    bool bFired = g_pShared->cFired > 0;
                    cFired += bFired;
                    bool bCrashed = mode == CRASH_AFTER && bFired;
                    int nExpected = bCrashed ? s_nCrashStatus : (g_pShared->bRecordAllocFailed ? 1 : 0);
                    EXPECT_EQ(nExpected, status) << sCase;

                    ASSERT_TRUE(Sandbox::Exists(sLogPath)) << sCase << ": the log is gone";
                    std::string sLog = Sandbox::ReadFile(sLogPath);
                    bool bWriteFault = fn == F_FWRITE || fn == F_FFLUSH || fn == F_FCLOSE;
                    bool bCut = bCrashed || status == 1;
                    EXPECT_EQ("", CheckLog(sOldLog, sLog, bCut, bWriteFault && bFired)) << sCase;
                    EXPECT_EQ(sOtherOld, Sandbox::ReadFile(m_box.TempDir() + "/" + sOtherLog)) << sCase;
                    EXPECT_EQ("", CheckDataSources(c)) << sCase;
                    if (!bCrashed) {
                        EXPECT_FALSE(Sandbox::Exists(sSidePath)) << sCase << ": side file left";
                        continue;
                    }
                    // The next run finds the log whole, cuts it and clears the side file.
                    EXPECT_EQ(0, Run(c.pszText, -1, 0, FAIL_ONCE)) << sCase << ", next run";
                    std::string sNext = Sandbox::ReadFile(sLogPath);
                    EXPECT_EQ("", CheckLog(sLog, sNext, false, false)) << sCase << ", next run";
                    EXPECT_FALSE(Sandbox::Exists(sSidePath)) << sCase << ", next run: side file left";
                    EXPECT_EQ("", CheckDataSources(c)) << sCase << ", next run";
                }
            }
        }
        printf("%s: %ld faulty runs, %ld with the fault injected\n", c.pszName, cCases, cFired);
        EXPECT_GT(cFired, 0);
    }

    Sandbox m_box;
};

const Command &CommandNamed(const char *pszName)
{
    static const std::vector<Command> s_commands = Commands();
    for (const Command &c : s_commands) {
        if (strcmp(c.pszName, pszName) == 0)
            return c;
    }
    abort();
}

} // namespace

TEST_F(FaultRuns, MAddDSSurvivesEveryFault)
{
    Sweep(CommandNamed("MAddDS"));
}

TEST_F(FaultRuns, MRemoveDSSurvivesEveryFault)
{
    Sweep(CommandNamed("MRemoveDS"));
}

TEST_F(FaultRuns, AddDSSurvivesEveryFault)
{
    Sweep(CommandNamed("AddDS"));
}

TEST_F(FaultRuns, RemoveDSSurvivesEveryFault)
{
    Sweep(CommandNamed("RemoveDS"));
}
