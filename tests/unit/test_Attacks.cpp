// Attacks through whole runs of the program. On the log: a hard or symbolic
// link at a log or side-file name, a file another user owns there, a link
// planted while the run opens the log. No link is ever written through, no
// other user's file is written, and the run's work is the same as without the
// attack; a log that is read-only or a directory costs the log, never the
// run's work. On the data sources: instance directories others may change,
// links in them, files another process holds, and the owners and DACLs the
// trust decisions are made on.
#include "LogModel.h"
#include "Sandbox.h"
#include "Seams.h"
#include "TestFacts.h"
#include "regfile.h"
#include "standin.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>

#include <linux/capability.h>
#include <stdlib.h>
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

// A crafted descriptor for the file or directory at s_sCraftedPath: its owner
// (SECURITY_MAX_SID_SIZE bytes), then its DACL, none when s_bCraftedNoDacl.
static std::string s_sCraftedPath;
static std::vector<BYTE> s_crafted;
static bool s_bCraftedNoDacl = false;

static std::string PathOfHandle(HANDLE h)
{
    int fd = ZulStandinFileDescriptor(h);
    char sz[4096];
    ssize_t cch = fd < 0 ? -1 : readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), sz, sizeof sz - 1);
    return cch < 0 ? "" : std::string(sz, static_cast<size_t>(cch));
}

extern "C" DWORD __wrap_GetSecurityInfo(HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID *ppOwner,
                                        PSID *ppGroup, PACL *ppDacl, PACL *ppSacl, PSECURITY_DESCRIPTOR *ppSD)
{
    if (s_bDenyOwner && info == OWNER_SECURITY_INFORMATION)
        return ERROR_ACCESS_DENIED;
    if (s_sCraftedPath.empty() || PathOfHandle(h) != s_sCraftedPath)
        return __real_GetSecurityInfo(h, type, info, ppOwner, ppGroup, ppDacl, ppSacl, ppSD);
    BYTE *pb = static_cast<BYTE *>(malloc(s_crafted.size()));
    memcpy(pb, s_crafted.data(), s_crafted.size());
    *ppOwner = pb;
    if (ppDacl)
        *ppDacl = s_bCraftedNoDacl ? nullptr : reinterpret_cast<PACL>(pb + SECURITY_MAX_SID_SIZE);
    *ppSD = pb;
    return ERROR_SUCCESS;
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
        s_sCraftedPath.clear();
        ZulStandinHoldOplock(nullptr, 0);
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

namespace {

// An entry of a crafted DACL: type, flags, rights, trustee "S-1-...".
struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    const char *pszSid;
};

const BYTE s_ALLOW = ACCESS_ALLOWED_ACE_TYPE, s_DENY = ACCESS_DENIED_ACE_TYPE;
const BYTE s_OICI = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, s_IO = INHERIT_ONLY_ACE;
const ACCESS_MASK s_RX = 0x1200a9, s_MODIFY = 0x1301bf;
const char s_szSystem[] = "S-1-5-18", s_szAdmins[] = "S-1-5-32-544", s_szUsers[] = "S-1-5-32-545",
           s_szAuthUsers[] = "S-1-5-11", s_szCreatorOwner[] = "S-1-3-0", s_szCreatorGroup[] = "S-1-3-1",
           s_szOtherUser[] = "S-1-5-21-0-0-0-12345",
           s_szTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

void AppendSid(std::vector<BYTE> &bytes, const char *pszSid)
{
    std::vector<unsigned long long> parts;
    for (const char *p = pszSid + 2; *p; p++) {
        parts.push_back(strtoull(p, const_cast<char **>(&p), 10));
        if (!*p)
            break;
    }
    bytes.push_back(static_cast<BYTE>(parts[0]));
    bytes.push_back(static_cast<BYTE>(parts.size() - 2));
    for (int i = 5; i >= 0; i--)
        bytes.push_back(static_cast<BYTE>(parts[1] >> (8 * i)));
    for (size_t i = 2; i < parts.size(); i++)
        for (int j = 0; j < 4; j++)
            bytes.push_back(static_cast<BYTE>(parts[i] >> (8 * j)));
}

// The owner padded to SECURITY_MAX_SID_SIZE, then the ACL.
std::vector<BYTE> Descriptor(const char *pszOwner, const std::vector<Ace> &aces)
{
    std::vector<BYTE> sd;
    AppendSid(sd, pszOwner);
    sd.resize(SECURITY_MAX_SID_SIZE);
    std::vector<BYTE> acl(sizeof(ACL));
    for (const Ace &ace : aces) {
        std::vector<BYTE> entry(8);
        entry[0] = ace.type;
        entry[1] = ace.flags;
        memcpy(&entry[4], &ace.mask, 4);
        if (ace.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || ace.type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE)
            entry.resize(entry.size() + 4); // the flags of the object types, none given
        if (ace.type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE)
            entry.resize(entry.size() + 4); // the compound type and a reserved word; the server's SID follows
        AppendSid(entry, ace.pszSid);
        WORD cb = static_cast<WORD>(entry.size());
        memcpy(&entry[2], &cb, 2);
        acl.insert(acl.end(), entry.begin(), entry.end());
    }
    ACL header = {ACL_REVISION, 0, static_cast<WORD>(acl.size()), static_cast<WORD>(aces.size()), 0};
    memcpy(acl.data(), &header, sizeof header);
    sd.insert(sd.end(), acl.begin(), acl.end());
    return sd;
}

// Windows' own C:\Windows DACL, which twain_32 inherits.
const std::vector<Ace> s_windowsDefault = {
    {s_ALLOW, 0, s_MODIFY, s_szSystem},
    {s_ALLOW, s_OICI | s_IO, GENERIC_ALL, s_szSystem},
    {s_ALLOW, 0, s_MODIFY, s_szAdmins},
    {s_ALLOW, s_OICI | s_IO, GENERIC_ALL, s_szAdmins},
    {s_ALLOW, 0, s_RX, s_szUsers},
    {s_ALLOW, s_OICI | s_IO, GENERIC_READ | 0x20000000, s_szUsers}, // GENERIC_EXECUTE,
    {s_ALLOW, s_OICI | s_IO, GENERIC_ALL, s_szCreatorOwner},
    {s_ALLOW, s_OICI, FILE_ALL_ACCESS, s_szTrustedInstaller},
};

std::vector<Ace> WindowsDefaultAnd(const Ace &ace)
{
    std::vector<Ace> aces = s_windowsDefault;
    aces.push_back(ace);
    return aces;
}

enum Target
{
    TWAIN,
    INSTANCE,
    TEMPLATE,
    LOG
};

// One trust decision: the descriptor the program reads for the target and the
// verdict (the reason of the refusal, or null when it goes on).
struct TrustRow {
    const char *pszWhat;
    Target target;
    const char *pszOwner;
    bool bNoDacl;
    std::vector<Ace> aces;
    const char *pszWhy;
};

} // namespace

TEST_F(LogAttacks, EveryTrustDecisionFollowsTheOwnerAndTheDacl)
{
    const char *const pszWritable = "Writable by other users", *const pszOwned = "Owned by another user",
                      *const pszUnreadable = "Security unreadable";
    const std::vector<TrustRow> rows = {
        {"Windows' default DACL", TWAIN, s_szTrustedInstaller, false, s_windowsDefault, nullptr},
        {"owned by SYSTEM", TWAIN, s_szSystem, false, s_windowsDefault, nullptr},
        {"owned by Administrators", TWAIN, s_szAdmins, false, s_windowsDefault, nullptr},
        {"owned by another user", TWAIN, s_szOtherUser, false, s_windowsDefault, pszOwned},
        {"no DACL", TWAIN, s_szSystem, true, {}, pszWritable},
        {"Users (OI)(CI)(IO) Modify", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({s_ALLOW, s_OICI | s_IO, s_MODIFY, s_szUsers}), pszWritable},
        {"Authenticated Users (CI)(IO) GENERIC_ALL", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({s_ALLOW, CONTAINER_INHERIT_ACE | s_IO, GENERIC_ALL, s_szAuthUsers}), pszWritable},
        {"Users RX and FILE_WRITE_ATTRIBUTES", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({s_ALLOW, 0, s_RX | FILE_WRITE_ATTRIBUTES, s_szUsers}), pszWritable},
        {"Users GENERIC_WRITE", TWAIN, s_szSystem, false, WindowsDefaultAnd({s_ALLOW, 0, GENERIC_WRITE, s_szUsers}),
         pszWritable},
        {"CREATOR GROUP (OI)(CI)(IO) Modify", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({s_ALLOW, s_OICI | s_IO, s_MODIFY, s_szCreatorGroup}), pszWritable},
        {"an object entry adding files", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, FILE_ADD_FILE, s_szUsers}), pszWritable},
        {"a callback entry adding files", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, FILE_ADD_FILE, s_szUsers}), pszWritable},
        {"a compound entry adding files", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({ACCESS_ALLOWED_COMPOUND_ACE_TYPE, 0, FILE_ADD_FILE, s_szUsers}), pszWritable},
        {"a callback object entry adding files", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, FILE_ADD_FILE, s_szUsers}), pszWritable},
        {"Users WRITE_DAC", TWAIN, s_szSystem, false, WindowsDefaultAnd({s_ALLOW, 0, WRITE_DAC, s_szUsers}),
         pszWritable},
        {"inherit-only, inherited by nothing", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({s_ALLOW, s_IO, s_MODIFY, s_szUsers}), nullptr},
        {"Everyone denied everything", TWAIN, s_szSystem, false,
         WindowsDefaultAnd({s_DENY, s_OICI, FILE_ALL_ACCESS, "S-1-1-0"}), nullptr},
        {"Windows' default DACL", INSTANCE, s_szSystem, false, s_windowsDefault, nullptr},
        {"Users (OI)(CI)(IO) Modify", INSTANCE, s_szSystem, false,
         WindowsDefaultAnd({s_ALLOW, s_OICI | s_IO, s_MODIFY, s_szUsers}), pszWritable},
        {"owned by another user", INSTANCE, s_szOtherUser, false, s_windowsDefault, pszOwned},
        {"Users WRITE_OWNER", INSTANCE, s_szSystem, false, WindowsDefaultAnd({s_ALLOW, 0, WRITE_OWNER, s_szUsers}),
         pszWritable},
        // No owner: not even opened (its owner may not read it, and no capability overrides that).
        {"cannot be opened", INSTANCE, nullptr, false, {}, pszUnreadable},
        {"owned by TrustedInstaller", TEMPLATE, s_szTrustedInstaller, false, s_windowsDefault, nullptr},
        {"Users Modify", TEMPLATE, s_szSystem, false, WindowsDefaultAnd({s_ALLOW, 0, s_MODIFY, s_szUsers}),
         pszWritable},
        {"owned by another user", TEMPLATE, s_szOtherUser, false, s_windowsDefault, pszOwned},
        {"Users DELETE", TEMPLATE, s_szSystem, false, WindowsDefaultAnd({s_ALLOW, 0, DELETE, s_szUsers}), pszWritable},
        {"owned by Administrators", LOG, s_szAdmins, false, s_windowsDefault, nullptr},
        {"owned by SYSTEM", LOG, s_szSystem, false, s_windowsDefault, nullptr},
        {"owned by another user", LOG, s_szOtherUser, false, s_windowsDefault, "the log not written"},
        {"owned by TrustedInstaller", LOG, s_szTrustedInstaller, false, s_windowsDefault, "the log not written"},
    };
    const char *const rgpszTargets[] = {"twain_32", "instance directory", "template", "log"};
    for (const TrustRow &row : rows) {
        std::string sCase = std::string(rgpszTargets[row.target]) + ", " + row.pszWhat;
        ClearTemp();
        SeedTwain();
        Sandbox::WriteFile(Temp("_add_ds.log"), "old\r\n");
        const std::string rgsPaths[] = {m_box.TwainDir(), m_box.TwainDir() + "/zorb_0000",
                                        m_box.TwainDir() + "/qrvgnds2.tmp", Temp("_add_ds.log")};
        const std::string rgsWinPaths[] = {m_box.WindowsDir() + "\\twain_32",
                                           m_box.WindowsDir() + "\\twain_32\\zorb_0000",
                                           m_box.WindowsDir() + "\\twain_32\\qrvgnds2.tmp", ""};
        if (row.pszOwner) {
            s_sCraftedPath = rgsPaths[row.target];
            s_crafted = Descriptor(row.pszOwner, row.aces);
            s_bCraftedNoDacl = row.bNoDacl;
        } else {
            ASSERT_EQ(0, chmod(rgsPaths[row.target].c_str(), 0300)) << sCase;
        }
        EXPECT_EQ(0, row.pszOwner ? Run("MAddDS") : RunHeldByReadOnly("MAddDS")) << sCase;
        ClearSeams();
        std::string sLog = Sandbox::ReadFile(Temp("_add_ds.log"));
        std::string sDs = Sandbox::Exists(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds")
                              ? Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0000/zorb_0000.ds")
                              : "<none>";
        if (row.target == LOG) {
            EXPECT_EQ(row.pszWhy == nullptr, sLog != "old\r\n") << sCase;
            EXPECT_EQ("template", sDs) << sCase;
            continue;
        }
        EXPECT_EQ(row.pszWhy ? "<none>" : "template", sDs) << sCase;
        for (const char *pszWhy : {pszWritable, pszOwned, pszUnreadable}) {
            std::string sLine = std::string(pszWhy) + ": " + rgsWinPaths[row.target] + ", no data source changed\r\n";
            EXPECT_EQ(row.pszWhy == pszWhy, sLog.find(sLine) != std::string::npos) << sCase << "\n" << sLog;
        }
    }
}

// An ordinary user's instance directory, or one every user may write, with
// links in it that lead out of twain_32, or links in a directory only the
// trusted accounts may change: nothing outside twain_32 changes, byte for
// byte and attribute for attribute.
TEST_F(LogAttacks, NoLinkInAnInstanceDirectoryIsWorkedThrough)
{
    struct Fact {
        std::string sContent;
        mode_t mode;
        uid_t uid;
        time_t mtime;
    };
    auto FactsOutside = [&] {
        std::map<std::string, Fact> facts;
        for (auto &e : std::filesystem::recursive_directory_iterator(m_box.Root() + "/outside")) {
            struct stat st;
            lstat(e.path().c_str(), &st);
            facts[e.path().string()] = {Sandbox::ReadFile(e.path().string()), st.st_mode, st.st_uid, st.st_mtime};
        }
        return facts;
    };
    int cAttacks = 0;
    for (const Command &c : s_rgCommands) {
        for (int kind = 0; kind < 3; kind++) {
            std::string sCase = std::string(c.pszText) + (kind == 0   ? ": a user's directories"
                                                          : kind == 1 ? ": mode-0777 directories"
                                                                      : ": trusted directories");
            ClearTemp();
            SeedTwain();
            for (const char *pszInstance : {"zorb_0000", "zorb_0001", "zorb_0007"}) {
                std::string sDir = m_box.TwainDir() + "/" + pszInstance, sName = sDir + "/" + pszInstance;
                std::error_code ec;
                std::filesystem::remove_all(sDir, ec);
                Sandbox::MakeDir(sDir);
                std::string sHard = Outside(std::string(pszInstance) + "-hard"),
                            sSym = Outside(std::string(pszInstance) + "-sym");
                Sandbox::WriteFile(sHard, "hard target");
                Sandbox::WriteFile(sSym, "symbolic target");
                ASSERT_EQ(0, chmod(sSym.c_str(), 0444));
                ASSERT_EQ(0, link(sHard.c_str(), sName.c_str()));
                ASSERT_EQ(0, symlink(sSym.c_str(), (sName + ".ds").c_str()));
                if (kind == 0) {
                    ASSERT_EQ(0, chown(sDir.c_str(), s_uidOther, static_cast<gid_t>(-1)));
                }
                ASSERT_EQ(0, chmod(sDir.c_str(), kind == 1 ? 0777 : 0755));
            }
            std::map<std::string, Fact> before = FactsOutside();
            std::string sTree = Tree();
            EXPECT_EQ(0, Run(c.pszText)) << sCase;
            cAttacks++;
            std::map<std::string, Fact> after = FactsOutside();
            EXPECT_EQ(before.size(), after.size()) << sCase;
            for (auto &fact : before) {
                const Fact &now = after[fact.first];
                EXPECT_TRUE(now.sContent == fact.second.sContent && now.mode == fact.second.mode &&
                            now.uid == fact.second.uid && now.mtime == fact.second.mtime)
                    << sCase << ": " << fact.first << " changed";
            }
            std::string sLog = Sandbox::ReadFile(Temp(c.pszLog));
            if (kind == 2) {
                EXPECT_NE(std::string::npos, sLog.find(", left as it is\r\n")) << sCase << "\n" << sLog;
                EXPECT_EQ(std::string::npos, sLog.find("removed")) << sCase << "\n" << sLog;
            } else {
                EXPECT_EQ(sTree, Tree()) << sCase;
                EXPECT_NE(std::string::npos,
                          sLog.find(kind == 0 ? "Owned by another user: " : "Writable by other users: "))
                    << sCase << "\n"
                    << sLog;
            }
        }
    }
    printf("%d attacks on instance directories\n", cAttacks);
}

// Another process holds a data-source file, or an oplock on it that is being
// broken: no open waits, the step fails as a sharing violation does, and the
// command goes on with the other devices.
TEST_F(LogAttacks, AFileAnotherProcessHoldsFailsItsStepAtOnce)
{
    for (NTSTATUS status : {static_cast<NTSTATUS>(0xC0000043u), static_cast<NTSTATUS>(0x108)}) {
        std::string sCase = status < 0 ? "sharing violation" : "oplock break in progress";
        ClearTemp();
        SeedTwain();
        std::string sDs = m_box.TwainDir() + "/zorb_0000/zorb_0000.ds";
        Sandbox::WriteFile(sDs, "held");
        ZulStandinHoldOplock(sDs.c_str(), status);
        m_box.SetRegistry(ImagingDevicesReg("0000:\"MarelCLSID\"=\"x\"|0001:\"MarelCLSID\"=\"y\""));
        EXPECT_EQ(0, Run("MAddDS")) << sCase;
        EXPECT_EQ("held", Sandbox::ReadFile(sDs)) << sCase;
        EXPECT_EQ("template", Sandbox::ReadFile(m_box.TwainDir() + "/zorb_0001/zorb_0001.ds")) << sCase;
        std::string sLog = Sandbox::ReadFile(Temp("_add_ds.log"));
        EXPECT_NE(std::string::npos, sLog.find("CopyFile failed\r\nGetLastError returned 32\r\n")) << sCase << sLog;

        // MRemoveDS: the stale instance's .ds is held.
        std::string sStale = m_box.TwainDir() + "/zorb_0007/zorb_0007.ds",
                    sWin = m_box.WindowsDir() + "\\twain_32\\zorb_0007\\zorb_0007.ds";
        ZulStandinHoldOplock(sStale.c_str(), status);
        EXPECT_EQ(0, Run("MRemoveDS")) << sCase;
        ClearSeams();
        EXPECT_EQ("stale 0007", Sandbox::ReadFile(sStale)) << sCase;
        sLog = Sandbox::ReadFile(Temp("_remove_ds.log"));
        EXPECT_NE(std::string::npos, sLog.find("SetFileAttributes failed on " + sWin +
                                               "\r\nGetLastError returned 32\r\n_tremove failed on " + sWin +
                                               "\r\nerrno = 13\r\n_trmdir failed, errno = 41\r\n"))
            << sCase << sLog;
    }
}
