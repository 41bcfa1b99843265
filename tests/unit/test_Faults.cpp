// Platform faults in whole runs of the program. Every call that the log, the
// device walk and the file work make is, one at a time, failed once, failed
// from then on, or followed by a crash, in a child process. Each run must end
// with the exit status the rules give (1 only when an installer record cannot
// be allocated), keep the old log whole (cut or not) and lose no data source;
// after a crash the next run must find the log whole and clear up.
#include "ActionData.h"
#include "CommandLine.h"
#include "FileHelpers.h"
#include "LogModel.h"
#include "Sandbox.h"
#include "Seams.h"
#include "RunContext.h"
#include "StepRecord.h"
#include "TestFacts.h"
#include "TwainDSInstaller.h"
#include "regfile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cxxabi.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdio_ext.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The calls seams.def lists for the sweep, as F_<name>.
enum Fn
{
#define ZUL_FAULT(fn, R, P, failure) ZUL_CAT(F_, fn),
#include "faulted.inc"
    F_COUNT
};

// Their symbols.
const char *const s_rgpszFn[F_COUNT] = {
#define ZUL_FAULT(fn, R, P, failure) ZUL_STR(fn),
#include "faulted.inc"
};

enum Mode
{
    FAIL_ONCE,
    FAIL_FROM,
    CRASH_AFTER
};
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
bool g_bNoTempPath2 = false; // GetTempPath2A withheld, as by Wine 8 and older Windows
int g_fn = -1;
long g_nCall = 0;
Mode g_mode = FAIL_ONCE;

// A symbol's name as written in C++ (demangled), without its parameters, so
// that it reads the same on either word size: "TwainDSInstaller::Init".
std::string Unmangled(const char *pszSymbol)
{
    int status = 0;
    char *psz = abi::__cxa_demangle(pszSymbol, nullptr, nullptr, &status);
    if (!psz)
        return pszSymbol; // a C name
    std::string s(psz, strcspn(psz, "("));
    free(psz);
    return s;
}

// The function that holds the code at pc ("" when it has no exported symbol).
std::string FunctionAt(void *pc)
{
    Dl_info info;
    return dladdr(pc, &info) && info.dli_sname ? Unmangled(info.dli_sname) : "";
}

// Whether an allocation from pCaller is one of the installer's own records,
// whose failure ends the run with 1.
bool IsRecordAllocation(void *pCaller)
{
    static const char *const s_rgpszRecords[] = {"TwainDSInstaller::TwainDSInstaller", "TwainDSInstaller::Init",
                                                 "TwainDSInstaller::InstanceExists"};
    std::string sCaller = FunctionAt(pCaller);
    for (const char *psz : s_rgpszRecords) {
        if (sCaller == psz)
            return true;
    }
    return false;
}

// Whether the call is refused as a Windows without it refuses it: only
// GetTempPath2A, where the run is to be without it.
template <typename... A>
bool Withheld(A...)
{
    return false;
}
bool Withheld(HMODULE, LPCSTR pszName)
{
    return g_bArmed && g_bNoTempPath2 && reinterpret_cast<uintptr_t>(pszName) > 0xFFFF &&
           strcmp(pszName, "GetTempPath2A") == 0;
}

// Counts the call from pCaller; true when it is to fail.
bool Inject(Fn fn, void *pCaller)
{
    if (!g_bArmed)
        return false;
    long n = ++g_pShared->rgcCalls[fn];
    if (fn != g_fn || g_mode == CRASH_AFTER)
        return false;
    bool bFail = g_mode == FAIL_ONCE ? n == g_nCall : n >= g_nCall;
    if (bFail) {
        g_pShared->cFired++;
        if (fn == F_malloc && IsRecordAllocation(pCaller))
            g_pShared->bRecordAllocFailed = true;
    }
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

} // namespace

// Link seams. Each counts its call, fails it as seams.def says or lets it
// through. A failed write writes nothing; a failed flush or close loses what
// was buffered.
#define LAST_ERROR(result, error)                                                                                      \
    SetLastError(error);                                                                                               \
    return result;
#define SETS_ERRNO(result, error)                                                                                      \
    errno = error;                                                                                                     \
    return result;
#define RETURNS_ERROR(error) return error;
#define RETURNS(result) return result;
#define LOSES_BUFFER(result, error)                                                                                    \
    __fpurge(a1);                                                                                                      \
    pfnReal(a1);                                                                                                       \
    errno = error;                                                                                                     \
    return result;

extern "C" {

#define ZUL_FAULT(fn, R, P, failure)                                                                                   \
    R ZUL_WRAP(fn)(ZUL_PARAMS P)                                                                                       \
    {                                                                                                                  \
        R (*const pfnReal)(ZUL_PARAMS P) = ZUL_REAL(fn);                                                               \
        if (Inject(ZUL_CAT(F_, fn), __builtin_return_address(0)) || Withheld(ZUL_ARGS P)) {                            \
            failure                                                                                                    \
        }                                                                                                              \
        R result = pfnReal(ZUL_ARGS P);                                                                                \
        After(ZUL_CAT(F_, fn));                                                                                        \
        return result;                                                                                                 \
    }
#include "faulted.inc"

#undef LAST_ERROR
#undef SETS_ERRNO
#undef RETURNS_ERROR
#undef RETURNS
#undef LOSES_BUFFER

// A run that exits ends its child there.
void __wrap_exit(int status)
{
    if (g_bArmed)
        _exit(status);
    __real_exit(status);
}

} // extern "C"

namespace {

const char s_szAbsent[] = "<absent>";
const char s_szProductCode[] = "{0123ABCD-4567-89EF-0123-456789ABCDEF}";
const char s_szRun[] = "0123456789ABCDEF-89ABCDEF";

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
    // Files a run cut short while it copied into them may hold a part of the template.
    std::set<std::string> mayBeCut;
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
    c.mayBeCut = {"zorb_0000/zorb_0000.ds", "zorb_0001/zorb_0001.ds", "zorb_0004/zorb_0004.ds"};
    c.allowed = {{"qrvgnds2.tmp", Same("qrvgnds2.tmp")},
                 {"zorb_0000/zorb_0000", SameOrGone("zorb_0000/zorb_0000")},
                 {"zorb_0000/zorb_0000.ds", {"template", s_szAbsent}},
                 // A copy that fails half-way leaves no half-written data source.
                 {"zorb_0001/zorb_0001.ds", {"active 0001", "template", s_szAbsent}},
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

// The calls to fail, of each function's calls: the first eight, then every
// power of two, and the last.
std::vector<std::pair<int, long>> FaultPoints(const std::vector<long> &calls)
{
    std::vector<std::pair<int, long>> points;
    for (int fn = 0; fn < F_COUNT; fn++) {
        for (long k = 1; k <= calls[fn]; k = k < 8 ? k + 1 : k * 2)
            points.emplace_back(fn, k);
        if (calls[fn] > 0 && points.back().second != calls[fn])
            points.emplace_back(fn, calls[fn]);
    }
    return points;
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
    if (lines.size() < 2 || !IsStampLine(lines[0]) || lines[1] != s_szStartLog)
        return "the run's text does not open with a stamp and Start Log";
    size_t n = lines.size();
    bool bClosed = n >= 5 && IsStampLine(lines[n - 3]) && lines[n - 2] == s_szEndLog && lines[n - 1].empty();
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
        ZulStandinLoadedRegistry();
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
            // AddDS and RemoveDS log where GetTempPathA points.
            g_bNoTempPath2 = pszText[0] != 'M';
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

    // Problems with the data sources after a run of c (bCut: the run crashed).
    std::string CheckDataSources(const Command &c, bool bCut = false)
    {
        std::map<std::string, std::string> files;
        for (auto &e : std::filesystem::recursive_directory_iterator(m_box.TwainDir())) {
            if (!e.is_directory())
                files[e.path().string().substr(m_box.TwainDir().size() + 1)] = Sandbox::ReadFile(e.path().string());
        }
        std::string sProblems;
        for (auto &file : files) {
            auto it = c.allowed.find(file.first);
            bool bPartCopied = bCut && c.mayBeCut.count(file.first) &&
                               s_seed.at("qrvgnds2.tmp").compare(0, file.second.size(), file.second) == 0;
            if (it == c.allowed.end())
                sProblems += " unexpected file " + file.first + ";";
            else if (!it->second.count(file.second) && !bPartCopied)
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
                sCalls += " " + Unmangled(s_rgpszFn[fn]) + " " + std::to_string(calls[fn]);
        }
        printf("%s, calls of a clean run:%s\n", c.pszName, sCalls.c_str());
        const std::string sOldLog = OldLog(c.pszLog[1] == 'a' ? 'a' : 'r');
        const std::string sOtherLog = c.pszLog[1] == 'a' ? "_remove_ds.log" : "_add_ds.log";
        const std::string sOtherOld = OldLog(sOtherLog[1] == 'a' ? 'a' : 'r');
        const std::string sLogPath = m_box.TempDir() + "/" + c.pszLog;
        const std::string sSidePath = sLogPath.substr(0, sLogPath.size() - 4) + "2.log";
        long cCases = 0, cFired = 0;
        for (auto [fn, k] : FaultPoints(calls)) {
            for (Mode mode : {FAIL_ONCE, FAIL_FROM, CRASH_AFTER}) {
                std::string sCase = std::string(c.pszName) + ": " + Unmangled(s_rgpszFn[fn]) + " " + s_rgpszMode[mode] +
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
                bool bWriteFault = fn == F_fwrite || fn == F_fflush || fn == F_fclose;
                bool bCut = bCrashed || status == 1;
                EXPECT_EQ("", CheckLog(sOldLog, sLog, bCut, bWriteFault && bFired)) << sCase;
                EXPECT_EQ(sOtherOld, Sandbox::ReadFile(m_box.TempDir() + "/" + sOtherLog)) << sCase;
                EXPECT_EQ("", CheckDataSources(c, bCrashed)) << sCase;
                if (!bCrashed) {
                    // Where the log is opened only through NtCreateFile, a side
                    // file no handle can delete stays for the next run.
                    bool bSideMayStay = c.pszText[0] != 'M' && fn == F_SetFileInformationByHandle && mode == FAIL_FROM;
                    EXPECT_TRUE(bSideMayStay || !Sandbox::Exists(sSidePath)) << sCase << ": side file left";
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
        printf("%s: %ld faulty runs, %ld with the fault injected\n", c.pszName, cCases, cFired);
        EXPECT_GT(cFired, 0);
    }

    // The DLL form: one child runs the command as the deferred action does,
    // with a step record (bUndo false), or undoes that record as the rollback
    // does. Returns the child's status: 0, or 2 for an undo that failed.
    int RunRecorded(const char *pszText, bool bUndo, int fn, long nCall, Mode mode)
    {
        memset(g_pShared, 0, sizeof(Shared));
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            char szFolder[260], szBelow[260];
            if (!WindowsPath(szFolder, nullptr, "ZULFuncts", s_szProductCode, s_szRun) ||
                !WindowsPath(szBelow, nullptr, "twain_32", "zorb_"))
                _exit(3);
            // A silent install's answers: an adding command stops, a removing one goes on.
            const StepObserver observer = {
                nullptr, [](void *, const char *) { return true; },
                [](void *, bool bAdd, const char *, DWORD) { return bAdd ? STEP_STOP : STEP_GO_ON; }};
            g_fn = fn;
            g_nCall = nCall;
            g_mode = mode;
            g_bArmed = true;
            if (bUndo)
                _exit(StepRecord::Undo(szFolder, szBelow, nullptr) ? 0 : 2);
            StepRecord record;
            if (record.Begin(szFolder, nullptr)) {
                RunContext run;
                run.pRecord = &record;
                run.pObserver = &observer;
                std::vector<char> text(pszText, pszText + strlen(pszText) + 1);
                CommandLine commandLine;
                commandLine.ParseAndRun(text.data(), run);
            }
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    std::string RunDir() { return m_box.WindowsDir() + "/ZULFuncts/" + s_szProductCode + "/" + s_szRun; }

    // Every file below twain_32, with its bytes and its mode.
    std::string Tree()
    {
        std::set<std::string> modes;
        for (auto &e : std::filesystem::recursive_directory_iterator(m_box.TwainDir())) {
            struct stat st;
            modes.insert(e.path().string() + (lstat(e.path().c_str(), &st) == 0 ? std::to_string(st.st_mode) : "?"));
        }
        std::string s = Sandbox::Tree(m_box.TwainDir());
        for (auto &sMode : modes)
            s += sMode + "\n";
        return s;
    }

    // The files that were there before the run and are now neither below
    // twain_32 (in their place, or renamed as a step does) nor in the backup
    // folder.
    std::string Lost()
    {
        std::set<std::string> held;
        for (const std::string &sDir : {m_box.TwainDir(), RunDir()}) {
            std::error_code ec;
            for (auto &e : std::filesystem::recursive_directory_iterator(sDir, ec)) {
                if (!e.is_directory() && e.path().filename() != "record")
                    held.insert(Sandbox::ReadFile(e.path().string()));
            }
        }
        std::string sLost;
        for (auto &file : s_seed) {
            if (!held.count(file.second))
                sLost += " " + file.first;
        }
        return sLost;
    }

    // The command, then its undo, each at every fault point: the tree ends as
    // it began, and no file is lost on the way.
    void SweepRecorded(const Command &c)
    {
        std::error_code ec;
        Seed();
        const std::string sBefore = Tree();
        RunRecorded(c.pszText, false, -1, 0, FAIL_ONCE);
        const std::vector<long> runCalls(g_pShared->rgcCalls, g_pShared->rgcCalls + F_COUNT);
        EXPECT_EQ(0, RunRecorded(c.pszText, true, -1, 0, FAIL_ONCE));
        const std::vector<long> undoCalls(g_pShared->rgcCalls, g_pShared->rgcCalls + F_COUNT);
        EXPECT_EQ(sBefore, Tree());
        long cRuns = 0, cPoints = 0, cChecks = 0;
        for (bool bUndo : {false, true}) {
            const std::vector<long> &calls = bUndo ? undoCalls : runCalls;
            for (auto [fn, k] : FaultPoints(calls)) {
                cPoints++;
                for (Mode mode : {FAIL_ONCE, FAIL_FROM, CRASH_AFTER}) {
                    std::string sCase = std::string(c.pszName) + (bUndo ? ", undo: " : ", recorded: ") +
                                        Unmangled(s_rgpszFn[fn]) + " " + s_rgpszMode[mode] + " " + std::to_string(k) +
                                        " of " + std::to_string(calls[fn]);
                    Seed();
                    std::filesystem::remove_all(m_box.WindowsDir() + "/ZULFuncts", ec);
                    if (bUndo)
                        RunRecorded(c.pszText, false, -1, 0, FAIL_ONCE);
                    RunRecorded(c.pszText, bUndo, fn, k, mode);
                    cRuns++;
                    EXPECT_EQ("", Lost()) << sCase << ": lost";
                    int nSecond = RunRecorded(c.pszText, true, -1, 0, FAIL_ONCE);
                    EXPECT_EQ("", Lost()) << sCase << ", then undone: lost";
                    cChecks += 2;
                    // A record the fault left unreadable keeps all it holds.
                    if (nSecond == 0 || !bUndo) {
                        EXPECT_EQ(sBefore, Tree()) << sCase << ", then undone";
                    }
                }
            }
        }
        printf("%s recorded: %ld runs at %ld fault points, %ld invariant checks\n", c.pszName, cRuns, cPoints, cChecks);
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

TEST_F(FaultRuns, RecordedMarkerCommandsAndTheirUndoSurviveEveryFault)
{
    SweepRecorded(CommandNamed("MAddDS"));
    SweepRecorded(CommandNamed("MRemoveDS"));
}

TEST_F(FaultRuns, RecordedHardwareIdCommandsAndTheirUndoSurviveEveryFault)
{
    SweepRecorded(CommandNamed("AddDS"));
    SweepRecorded(CommandNamed("RemoveDS"));
}

// A call the seam table fails that no command makes is a seam the sweep never
// tries: the program has stopped calling it, or calls something else now.
TEST_F(FaultRuns, EveryFailedCallIsMade)
{
    std::vector<long> total(F_COUNT, 0);
    for (const char *pszName : {"MAddDS", "MRemoveDS", "AddDS", "RemoveDS"}) {
        std::vector<long> calls = CleanRunCalls(CommandNamed(pszName));
        for (int fn = 0; fn < F_COUNT; fn++)
            total[fn] += calls[fn];
        // And as the DLL runs it, with its record and the undo.
        for (bool bUndo : {false, true}) {
            RunRecorded(CommandNamed(pszName).pszText, bUndo, -1, 0, FAIL_ONCE);
            for (int fn = 0; fn < F_COUNT; fn++)
                total[fn] += g_pShared->rgcCalls[fn];
        }
    }
    for (int fn = 0; fn < F_COUNT; fn++)
        EXPECT_GT(total[fn], 0) << Unmangled(s_rgpszFn[fn]) << " is in seams.def but no command calls it";
}
