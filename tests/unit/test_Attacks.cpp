// Attacks on the log through whole runs of the program: a hard or symbolic
// link at a log or side-file name, a file another user owns there, a link
// planted while the run opens the log. No link is ever written through, no
// other user's file is written, and the run's work is the same as without the
// attack; a log that is read-only or a directory costs the log, never the
// run's work.
#include "LogModel.h"
#include "Sandbox.h"
#include "Seams.h"
#include "TestFacts.h"
#include "regfile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>

#include <linux/capability.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Link seams: act at a run's first CreateFileA, before or after the real
// call; make the log's GetSecurityInfo fail.
static std::function<void()> s_beforeFirstOpen;
static std::function<void()> s_afterFirstOpen;
static int s_cOpens = 0;
static bool s_bDenyOwner = false;

extern "C" HANDLE __wrap_CreateFileA(LPCSTR psz, DWORD dwAccess, DWORD dwShare, LPVOID pSA, DWORD dwCreation,
                                     DWORD dwFlags, HANDLE hTemplate)
{
    bool bFirst = ++s_cOpens == 1;
    if (bFirst && s_beforeFirstOpen)
        s_beforeFirstOpen();
    HANDLE h = __real_CreateFileA(psz, dwAccess, dwShare, pSA, dwCreation, dwFlags, hTemplate);
    if (bFirst && s_afterFirstOpen)
        s_afterFirstOpen();
    return h;
}

extern "C" DWORD __wrap_GetSecurityInfo(HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID *ppOwner,
                                        PSID *ppGroup, PACL *ppDacl, PACL *ppSacl, PSECURITY_DESCRIPTOR *ppSD)
{
    if (s_bDenyOwner && info == OWNER_SECURITY_INFORMATION)
        return ERROR_ACCESS_DENIED;
    return __real_GetSecurityInfo(h, type, info, ppOwner, ppGroup, ppDacl, ppSacl, ppSD);
}

namespace {

struct Command {
    const char *pszText;
    const char *pszLog;
    const char *pszSide;
};

const Command s_rgCommands[] = {
    {"MAddDS", "_add_ds.log", "_add_ds2.log"},
    {"MRemoveDS", "_remove_ds.log", "_remove_ds2.log"},
    {"AddDS hw-abc zorb_ DeviceData InstallCLSID params", "_add_ds.log", "_add_ds2.log"},
    {"RemoveDS zorb_ DeviceData InstallCLSID params", "_remove_ds.log", "_remove_ds2.log"},
};

const std::string s_sPrecious = "precious\r\nnot a log\r\n";

class LogAttacks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_box.SetRegistry(ImagingDevicesReg("0000:\"InstallCLSID\"=\"{HW-ABC-0}\";\"MarelCLSID\"=\"x\"|"
                                            "0001:\"InstallCLSID\"=\"{other}\""));
        ZulStandinLoadedRegistry();
    }
    void TearDown() override { ClearSeams(); }
    static void ClearSeams()
    {
        s_beforeFirstOpen = nullptr;
        s_afterFirstOpen = nullptr;
        s_bDenyOwner = false;
    }

    std::string Temp(const std::string &sName) const { return m_box.TempDir() + "/" + sName; }
    std::string Outside(const std::string &sName) const { return m_box.Root() + "/outside/" + sName; }

    void SeedTwain()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_box.TwainDir(), ec);
        Sandbox::WriteFile(m_box.TwainDir() + "/qrvgnds2.tmp", "template");
        Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0000/zorb_0000", "inactive 0000");
        Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0001/zorb_0001.ds", "active 0001");
        Sandbox::WriteFile(m_box.TwainDir() + "/zorb_0007/zorb_0007.ds", "stale 0007");
    }
    void ClearTemp()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_box.TempDir(), ec);
        std::filesystem::remove_all(m_box.Root() + "/outside", ec);
        Sandbox::MakeDir(m_box.TempDir());
        Sandbox::MakeDir(m_box.Root() + "/outside");
    }

    std::string Tree() const { return Sandbox::Tree(m_box.TwainDir()); }

    static int Run(const char *pszText)
    {
        s_cOpens = 0;
        std::vector<char> text(pszText, pszText + strlen(pszText) + 1);
        return WinMain(nullptr, nullptr, text.data(), 1);
    }

    // A run in a child that read-only files stop, as Windows' read-only
    // attribute stops every caller: root without the capabilities that
    // override file permissions.
    static int RunHeldByReadOnly(const char *pszText)
    {
        pid_t pid = fork();
        if (pid == 0) {
            struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
            struct __user_cap_data_struct data[2] = {};
            syscall(SYS_capget, &header, data);
            data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
            syscall(SYS_capset, &header, data);
            _exit(Run(pszText));
        }
        int status = -1;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The data-source tree a run of the command leaves when nobody interferes.
    std::string ReferenceTree(const Command &c)
    {
        ClearTemp();
        SeedTwain();
        EXPECT_EQ(0, Run(c.pszText));
        return Tree();
    }

    static std::string LinkTarget(const std::string &sPath)
    {
        std::error_code ec;
        return std::filesystem::read_symlink(sPath, ec).string();
    }

    Sandbox m_box;
};

std::string BigLog()
{
    std::string s;
    while (s.size() <= 30000)
        s += "old line " + std::to_string(s.size()) + "\r\n";
    return s;
}

} // namespace

namespace {

const char *const s_rgpszNames[] = {"_add_ds.log", "_remove_ds.log", "_add_ds2.log", "_remove_ds2.log"};
const uid_t s_uidOther = 12345;

// One attack: what is planted before the run (and by the seams during it),
// and whether the command's log is to be written all the same.
struct Attack {
    std::string sWhat;
    std::function<void()> plant;
    bool bLogWritten;
    // The entries the attack leaves at temp names; checked after the run.
    std::function<void(const std::string &sCase)> check;
};

std::map<std::string, std::string> FilesBelow(const std::string &sDir)
{
    std::map<std::string, std::string> files;
    for (auto &e : std::filesystem::recursive_directory_iterator(sDir)) {
        if (e.is_regular_file() && !e.is_symlink())
            files[e.path().string()] = Sandbox::ReadFile(e.path().string());
    }
    return files;
}

bool SameFile(const std::string &a, const std::string &b)
{
    struct stat stA, stB;
    return lstat(a.c_str(), &stA) == 0 && stat(b.c_str(), &stB) == 0 && stA.st_dev == stB.st_dev &&
           stA.st_ino == stB.st_ino;
}

uid_t OwnerOf(const std::string &sPath)
{
    struct stat st;
    return lstat(sPath.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// A link appears at sName in place of whatever was there, in one step.
void PlantAt(const std::string &sName, const std::string &sTarget, bool bHard)
{
    std::string sTmp = sName + ".planted";
    ASSERT_EQ(0, bHard ? link(sTarget.c_str(), sTmp.c_str()) : symlink(sTarget.c_str(), sTmp.c_str()));
    ASSERT_EQ(0, rename(sTmp.c_str(), sName.c_str()));
}

} // namespace

TEST_F(LogAttacks, NoLinkAndNoOtherUsersFileIsEverWrittenThrough)
{
    int cAttacks = 0;
    for (const Command &c : s_rgCommands) {
        const std::string sReference = ReferenceTree(c);
        for (bool bBig : {false, true}) {
            const std::string sOld = bBig ? BigLog() : "small log\r\n";
            const std::string sLog = Temp(c.pszLog), sSide = Temp(c.pszSide), sTarget = Outside("target");
            std::vector<Attack> attacks;

            // A hard or symbolic link at each name; one at the command's own log
            // leads to a file that would be cut if it were followed.
            for (const char *pszName : s_rgpszNames) {
                bool bOwnLog = strcmp(pszName, c.pszLog) == 0;
                bool bOwnSide = strcmp(pszName, c.pszSide) == 0;
                for (bool bHard : {true, false}) {
                    Attack a;
                    a.sWhat = std::string(bHard ? "hard" : "symbolic") + " link at " + pszName;
                    a.plant = [=] {
                        Sandbox::WriteFile(sTarget, bOwnLog ? sOld : s_sPrecious);
                        if (!bOwnLog)
                            Sandbox::WriteFile(sLog, sOld);
                        PlantAt(Temp(pszName), sTarget, bHard);
                    };
                    a.bLogWritten = !bOwnLog;
                    // The cut removes a link at its side name; every other link stays.
                    bool bRemoved = bOwnSide && bBig;
                    a.check = [=](const std::string &sCase) {
                        std::string sAt = Temp(pszName);
                        if (bRemoved)
                            EXPECT_FALSE(Sandbox::Exists(sAt)) << sCase;
                        else if (bHard)
                            EXPECT_TRUE(SameFile(sAt, sTarget)) << sCase;
                        else
                            EXPECT_EQ(sTarget, LinkTarget(sAt)) << sCase;
                    };
                    attacks.push_back(a);
                }
            }

            // Files another user owns at the side name and at the log's name.
            Attack a;
            a.sWhat = "side file of another user";
            a.plant = [=] {
                Sandbox::WriteFile(sLog, sOld);
                Sandbox::WriteFile(sSide, "foreign side\r\n");
                ASSERT_EQ(0, chown(sSide.c_str(), s_uidOther, static_cast<gid_t>(-1)));
            };
            a.bLogWritten = true;
            a.check = [=](const std::string &sCase) {
                if (bBig) {
                    EXPECT_FALSE(Sandbox::Exists(sSide)) << sCase << ": the name is deleted for the cut";
                } else {
                    EXPECT_EQ("foreign side\r\n", Sandbox::ReadFile(sSide)) << sCase;
                    EXPECT_EQ(s_uidOther, OwnerOf(sSide)) << sCase;
                }
            };
            attacks.push_back(a);

            a.sWhat = "log of another user";
            a.plant = [=] {
                Sandbox::WriteFile(sLog, sOld);
                ASSERT_EQ(0, chown(sLog.c_str(), s_uidOther, static_cast<gid_t>(-1)));
            };
            a.bLogWritten = false;
            a.check = [=](const std::string &sCase) {
                EXPECT_EQ(sOld, Sandbox::ReadFile(sLog)) << sCase;
                EXPECT_EQ(s_uidOther, OwnerOf(sLog)) << sCase;
                EXPECT_FALSE(Sandbox::Exists(sSide)) << sCase;
            };
            attacks.push_back(a);

            a.sWhat = "side file left before the run";
            a.plant = [=] {
                Sandbox::WriteFile(sLog, sOld);
                Sandbox::WriteFile(sSide, "leftover\r\n");
            };
            a.bLogWritten = true;
            a.check = [=](const std::string &sCase) {
                if (bBig)
                    EXPECT_FALSE(Sandbox::Exists(sSide)) << sCase;
                else
                    EXPECT_EQ("leftover\r\n", Sandbox::ReadFile(sSide)) << sCase;
            };
            attacks.push_back(a);

            // Links planted while the run opens its log: just before the open,
            // in place of the log; just after it, in place of the log or as a
            // second name of the log the run holds open.
            for (bool bAfter : {false, true}) {
                for (bool bHard : {true, false}) {
                    a.sWhat = std::string(bHard && bAfter ? "second name for the open log"
                                          : bHard         ? "hard link"
                                                          : "symbolic link") +
                              (bAfter ? " planted after the first open" : " planted at the first open");
                    std::string sStolen = Outside("stolen");
                    std::function<void()> attack = [=] {
                        if (bHard && bAfter)
                            ASSERT_EQ(0, link(sLog.c_str(), sStolen.c_str()));
                        else
                            PlantAt(sLog, sTarget, bHard);
                    };
                    a.plant = [=] {
                        Sandbox::WriteFile(sLog, sOld);
                        Sandbox::WriteFile(sTarget, s_sPrecious);
                        (bAfter ? s_afterFirstOpen : s_beforeFirstOpen) = attack;
                    };
                    a.bLogWritten = false;
                    a.check = [=](const std::string &sCase) {
                        if (bHard && bAfter) {
                            EXPECT_EQ(sOld, Sandbox::ReadFile(sLog)) << sCase;
                            EXPECT_TRUE(SameFile(sLog, sStolen)) << sCase;
                        } else if (bHard) {
                            EXPECT_TRUE(SameFile(sLog, sTarget)) << sCase;
                        } else {
                            EXPECT_EQ(sTarget, LinkTarget(sLog)) << sCase;
                        }
                        EXPECT_FALSE(Sandbox::Exists(sSide)) << sCase;
                    };
                    attacks.push_back(a);
                }
            }

            for (const Attack &attack : attacks) {
                std::string sCase =
                    std::string(c.pszText) + (bBig ? ", log over the cap, " : ", small log, ") + attack.sWhat;
                ClearTemp();
                SeedTwain();
                attack.plant();
                std::map<std::string, std::string> outside = FilesBelow(m_box.Root() + "/outside");
                EXPECT_EQ(0, Run(c.pszText)) << sCase;
                ClearSeams();
                cAttacks++;
                EXPECT_EQ(sReference, Tree()) << sCase << ": the run's work differs";
                std::map<std::string, std::string> outsideAfter = FilesBelow(m_box.Root() + "/outside");
                outsideAfter.erase(Outside("stolen")); // made during the run; its attack checks it
                EXPECT_EQ(outside, outsideAfter) << sCase << ": a file outside changed";
                attack.check(sCase);
                if (!attack.bLogWritten)
                    continue;
                // The log written: one name, the runner's, the old text whole or cut, then one run.
                struct stat st;
                ASSERT_EQ(0, lstat(sLog.c_str(), &st)) << sCase;
                EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid()) << sCase;
                std::string sAfter = Sandbox::ReadFile(sLog), sKept = KeptAfterCap(sOld);
                EXPECT_EQ(sKept, sAfter.substr(0, sKept.size())) << sCase;
                const std::string sStart = std::string(s_szStartLog) + "\r\n";
                const std::string sEnd = std::string(s_szEndLog) + "\r\n\r\n";
                EXPECT_EQ(0u, sAfter.find(sStart, sKept.size()) - sKept.size() - s_cchStampLine) << sCase;
                EXPECT_EQ(sAfter.size() - sEnd.size(), sAfter.rfind(sEnd)) << sCase;
            }
        }
    }
    printf("%d attacks\n", cAttacks);
}

TEST_F(LogAttacks, ALogWhoseOwnerCannotBeReadIsNotWritten)
{
    const Command &c = s_rgCommands[0];
    std::string sReference = ReferenceTree(c);
    ClearTemp();
    SeedTwain();
    Sandbox::WriteFile(Temp(c.pszLog), s_sPrecious);
    s_bDenyOwner = true;
    EXPECT_EQ(0, Run(c.pszText));
    s_bDenyOwner = false;
    EXPECT_EQ(s_sPrecious, Sandbox::ReadFile(Temp(c.pszLog)));
    EXPECT_EQ(sReference, Tree());
}

TEST_F(LogAttacks, ADirectoryAtTheLogNameCostsOnlyTheLog)
{
    for (const Command &c : s_rgCommands) {
        std::string sReference = ReferenceTree(c);
        ClearTemp();
        SeedTwain();
        Sandbox::MakeDir(Temp(c.pszLog));
        EXPECT_EQ(0, Run(c.pszText)) << c.pszText;
        EXPECT_EQ(sReference, Tree()) << c.pszText;
        EXPECT_TRUE(std::filesystem::is_directory(Temp(c.pszLog))) << c.pszText;
        EXPECT_TRUE(std::filesystem::is_empty(Temp(c.pszLog))) << c.pszText;
        EXPECT_FALSE(Sandbox::Exists(Temp(c.pszSide))) << c.pszText;
    }
}

TEST_F(LogAttacks, ASideFileThatCannotBeWrittenLeavesTheLogWholeAndUnwritten)
{
    const Command &c = s_rgCommands[1];
    std::string sReference = ReferenceTree(c);
    for (const char *pszKind : {"directory", "read-only file"}) {
        ClearTemp();
        SeedTwain();
        std::string sLog = BigLog();
        Sandbox::WriteFile(Temp(c.pszLog), sLog);
        if (strcmp(pszKind, "directory") == 0) {
            Sandbox::MakeDir(Temp(c.pszSide));
        } else {
            Sandbox::WriteFile(Temp(c.pszSide), "leftover");
            Sandbox::MakeReadOnly(Temp(c.pszSide));
        }
        EXPECT_EQ(0, RunHeldByReadOnly(c.pszText)) << pszKind;
        EXPECT_EQ(sReference, Tree()) << pszKind;
        std::string sAfter = Sandbox::ReadFile(Temp(c.pszLog));
        EXPECT_EQ(sLog, sAfter) << pszKind << ": the old log is whole, and does not grow past the cap";
    }
}

TEST_F(LogAttacks, AReadOnlyLogIsNeitherWrittenNorCut)
{
    for (const Command &c : s_rgCommands) {
        std::string sReference = ReferenceTree(c);
        for (bool bBig : {false, true}) {
            std::string sCase = std::string(c.pszText) + (bBig ? ", log over the cap" : ", small log");
            ClearTemp();
            SeedTwain();
            std::string sLog = bBig ? BigLog() : "small log\r\n";
            Sandbox::WriteFile(Temp(c.pszLog), sLog);
            Sandbox::MakeReadOnly(Temp(c.pszLog));
            EXPECT_EQ(0, RunHeldByReadOnly(c.pszText)) << sCase;
            EXPECT_EQ(sReference, Tree()) << sCase;
            EXPECT_EQ(sLog, Sandbox::ReadFile(Temp(c.pszLog))) << sCase;
            EXPECT_FALSE(Sandbox::Exists(Temp(c.pszSide))) << sCase << ": side file left";
        }
    }
}

// A TWAIN directory that others may change: a user who may add or rename its
// entries could swap an instance directory for a link between a check and the
// act by name. No command changes anything there, whoever may change it.
TEST_F(LogAttacks, NoDataSourceIsChangedInATwainDirectoryOthersMayChange)
{
    for (const Command &c : s_rgCommands) {
        for (mode_t mode : {0777, 01777, 0775, 0755}) {
            ClearTemp();
            SeedTwain();
            std::string sBefore = Tree(), sWhy = mode == 0755 ? "Owned by another user" : "Writable by other users";
            ASSERT_EQ(0, chmod(m_box.TwainDir().c_str(), mode));
            ASSERT_EQ(0, chown(m_box.TwainDir().c_str(), mode == 0755 ? s_uidOther : 0, static_cast<gid_t>(-1)));
            EXPECT_EQ(0, Run(c.pszText)) << c.pszText;
            EXPECT_EQ(sBefore, Tree()) << c.pszText << ", mode " << mode;
            std::string sLine = sWhy + ": " + m_box.WindowsDir() + "\\twain_32, no data source changed\r\n";
            EXPECT_NE(std::string::npos, Sandbox::ReadFile(Temp(c.pszLog)).find(sLine)) << c.pszText;
        }
    }
}
