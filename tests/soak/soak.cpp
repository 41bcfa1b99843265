// Soak: thousands of runs alternating MAddDS and MRemoveDS with logging on,
// on one machine. After every run: the exit status is 0, both logs hold at
// most the cap's bytes before the last run's lines and end with a whole run, no
// side file is left, no file descriptor (from /proc/self/fd) or platform
// handle is left open, and the data-source tree is what the command leaves.
//
//   zul_soak [--runs N] [--spawn PROGRAM]
//
// In-process (the default) the program's WinMain runs in this process, so a
// handle or descriptor it leaks stays here to be counted. With --spawn each
// run is a new process of PROGRAM, its exit status checked.
#include "Sandbox.h"
#include "Seams.h"
#include "TestFacts.h"

#include <windows.h>

#include <dirent.h>
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char **environ;

// Handles the program opens and closes, counted through the link seams of
// tests/seams/seams.def.
static long g_cOpen = 0;
static long g_cOpened = 0;

static void Opened(bool b)
{
    if (b) {
        g_cOpen++;
        g_cOpened++;
    }
}

// Each call seams.def marks as opening or closing a handle counts it; the
// rest are not wrapped here.
extern "C" {
#define ZUL_SEAM(fn, R, P, failure)
#define ZUL_SEAM_OPENS(fn, R, P, failure, opened) ZUL_OPENS(fn, R, P, opened)
#define ZUL_OPENS(fn, R, P, opened)                                                                                    \
    R ZUL_WRAP(fn)(ZUL_PARAMS P)                                                                                       \
    {                                                                                                                  \
        R r = ZUL_REAL(fn)(ZUL_ARGS P);                                                                                \
        Opened(opened);                                                                                                \
        return r;                                                                                                      \
    }
#define ZUL_SEAM_CLOSES(fn, R, P, failure) ZUL_CLOSES(fn, R, P)
#define ZUL_CLOSES(fn, R, P)                                                                                           \
    R ZUL_WRAP(fn)(ZUL_PARAMS P)                                                                                       \
    {                                                                                                                  \
        g_cOpen--;                                                                                                     \
        return ZUL_REAL(fn)(ZUL_ARGS P);                                                                               \
    }
#define ZUL_CALL(fn, R, P)
#include "seams.def"
}

namespace {

const char s_szTemplate[] = "template data source";

std::string g_sRoot, g_sTwain, g_sTemp;

[[noreturn]] void Fail(long nRun, const std::string &sWhy)
{
    fprintf(stderr, "soak: run %ld: %s\n", nRun, sWhy.c_str());
    exit(2);
}

int CountFds()
{
    int c = 0;
    DIR *pDir = opendir("/proc/self/fd");
    if (!pDir)
        return -1;
    while (struct dirent *pEnt = readdir(pDir))
        c += pEnt->d_name[0] != '.';
    closedir(pDir);
    return c - 1; // the directory's own descriptor
}

// After a run: the log is capped before the run's lines and ends with a whole run.
size_t CheckLog(long nRun, const char *pszName, size_t *pcbMax)
{
    std::string sLog = Sandbox::ReadFile(g_sTemp + pszName);
    size_t posStart = sLog.rfind(std::string(s_szStartLog) + "\r\n");
    if (posStart == std::string::npos || posStart < s_cchStampLine)
        Fail(nRun, std::string(pszName) + " has no run");
    size_t posRun = posStart - s_cchStampLine;
    if (posRun > s_cbLogCap)
        Fail(nRun, std::string(pszName) + " holds more than the cap before the last run");
    const std::string sEnd = std::string(s_szEndLog) + "\r\n\r\n";
    if (sLog.size() < sEnd.size() || sLog.compare(sLog.size() - sEnd.size(), sEnd.size(), sEnd) != 0)
        Fail(nRun, std::string(pszName) + " does not end with a whole run");
    if (sLog.size() > *pcbMax)
        *pcbMax = sLog.size();
    return sLog.size() - posRun;
}

int RunInProcess(const char *pszCommand)
{
    std::vector<char> text(pszCommand, pszCommand + strlen(pszCommand) + 1);
    return WinMain(nullptr, nullptr, text.data(), 1);
}

int RunSpawned(const char *pszProgram, const char *pszCommand)
{
    SetStandinEnvironment(nullptr, nullptr, pszCommand);
    pid_t pid;
    char *argv[] = {const_cast<char *>(pszProgram), nullptr};
    if (posix_spawn(&pid, pszProgram, nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char **argv)
{
    long cRuns = 10000;
    const char *pszSpawn = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            cRuns = atol(argv[++i]);
        else if (strcmp(argv[i], "--spawn") == 0 && i + 1 < argc)
            pszSpawn = argv[++i];
        else {
            fprintf(stderr, "usage: zul_soak [--runs N] [--spawn PROGRAM]\n");
            return 2;
        }
    }
    if (cRuns % 2)
        cRuns++; // end on MRemoveDS

    struct stat st;
    std::string sBase = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    char szRoot[64];
    snprintf(szRoot, sizeof szRoot, "%s/zulsoak.XXXXXX", sBase.c_str());
    if (!mkdtemp(szRoot))
        Fail(0, "no scratch directory");
    g_sRoot = szRoot;
    g_sTwain = g_sRoot + "/sysroot/windows/twain_32";
    g_sTemp = g_sRoot + "/temp/";
    std::filesystem::create_directories(g_sTemp);
    Sandbox::WriteFile(g_sTwain + "/qrvgnds2.tmp", s_szTemplate);
    // Two marked devices, one that is not, one without a driver.
    Sandbox::WriteFile(g_sRoot + "/sysroot/registry.reg",
                       ImagingDevicesReg("0000:\"MarelCLSID\"=\"x\";\"InstallCLSID\"=\"{A}\"|0001:\"MarelCLSID\"=\"y\"|"
                                         "0002:\"InstallCLSID\"=\"{B}\"|0003:-"));
    SetStandinEnvironment((g_sRoot + "/sysroot").c_str(), g_sTemp.c_str());

    // What both commands leave: the template and the data sources of the two marked devices.
    const std::string sTemplate = s_szTemplate;
    const std::string sAfterAdd = "qrvgnds2.tmp=" + sTemplate + "\nzorb_0000/\nzorb_0000/zorb_0000.ds=" + sTemplate +
                                  "\nzorb_0001/\nzorb_0001/zorb_0001.ds=" + sTemplate + "\n";
    const int cFdsBefore = CountFds();
    size_t cbAddMax = 0, cbRemoveMax = 0, cbRunMax = 0;
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    for (long nRun = 1; nRun <= cRuns; nRun++) {
        bool bAdd = nRun % 2 == 1;
        // Leftovers each command must clear: an extension-less data source for
        // MAddDS, an instance without a device for MRemoveDS.
        if (bAdd)
            Sandbox::WriteFile(g_sTwain + "/zorb_0000/zorb_0000", "inactive");
        else {
            Sandbox::WriteFile(g_sTwain + "/zorb_0009/zorb_0009.ds", "stale");
            Sandbox::WriteFile(g_sTwain + "/zorb_0009/zorb_0009", "stale inactive");
        }
        const char *pszCommand = bAdd ? "MAddDS" : "MRemoveDS";
        int status = pszSpawn ? RunSpawned(pszSpawn, pszCommand) : RunInProcess(pszCommand);
        if (status != 0)
            Fail(nRun, std::string(pszCommand) + " exited with " + std::to_string(status));
        if (g_cOpen != 0)
            Fail(nRun, std::to_string(g_cOpen) + " platform handles left open");
        if (CountFds() != cFdsBefore)
            Fail(nRun, "file descriptors: " + std::to_string(CountFds()) + ", before " + std::to_string(cFdsBefore));
        size_t cbRun = CheckLog(nRun, bAdd ? "_add_ds.log" : "_remove_ds.log", bAdd ? &cbAddMax : &cbRemoveMax);
        if (cbRun > cbRunMax)
            cbRunMax = cbRun;
        if (stat((g_sTemp + "_add_ds2.log").c_str(), &st) == 0 || stat((g_sTemp + "_remove_ds2.log").c_str(), &st) == 0)
            Fail(nRun, "a side file was left");
        if (Sandbox::Tree(g_sTwain) != sAfterAdd)
            Fail(nRun, "data-source tree after " + std::string(pszCommand) + ":\n" + Sandbox::Tree(g_sTwain));
    }
    clock_gettime(CLOCK_MONOTONIC, &t1);
    double dSeconds = (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;

    printf("soak: %ld runs (%s) in %.1f s, %.0f runs/s\n", cRuns, pszSpawn ? "spawned" : "in-process", dSeconds,
           cRuns / dSeconds);
    printf("soak: largest _add_ds.log %zu bytes, _remove_ds.log %zu bytes (cap %zu + one run of at most %zu)\n",
           cbAddMax, cbRemoveMax, s_cbLogCap, cbRunMax);
    printf("soak: descriptors before and after %d and %d; platform handles opened %ld, left open %ld\n", cFdsBefore,
           CountFds(), g_cOpened, g_cOpen);
    std::error_code ec;
    std::filesystem::remove_all(g_sRoot, ec);
    return 0;
}
