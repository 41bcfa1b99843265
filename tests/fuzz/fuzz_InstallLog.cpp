// Any earlier log, of any size but mostly around the log cap, through
// one run of the log: afterwards the file holds exactly the old text the cap
// rules keep, then this run's lines.
//
// Input: byte 0 flags (bit 0: _remove_ds.log, bit 1: no earlier log, bit 2: a
// leftover side file, bits 3-5: lines to write), bytes 1-2 the size (bit 15
// set: any size below 32768; clear: the cap - 64 .. the cap + 64), then a pattern
// repeated to that size. The lines written are cut from the pattern too.
#include "InstallLog.h"
#include "LogModel.h"
#include "TestFacts.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

std::string g_sTemp; // with its final '/'

void Fail(const char *pszWhy)
{
    fprintf(stderr, "log invariant broken: %s\n", pszWhy);
    abort();
}

void WriteWhole(const std::string &sPath, const std::string &s)
{
    FILE *p = fopen(sPath.c_str(), "wb");
    if (!p || fwrite(s.data(), 1, s.size(), p) != s.size() || fclose(p) != 0)
        Fail("cannot seed the log");
}

bool ReadWhole(const std::string &sPath, std::string &s)
{
    s.clear();
    FILE *p = fopen(sPath.c_str(), "rb");
    if (!p)
        return false;
    char buf[65536];
    size_t cb;
    while ((cb = fread(buf, 1, sizeof buf, p)) > 0)
        s.append(buf, cb);
    fclose(p);
    return true;
}

// "HH:MM:SS\tMM/DD/YY\t\r\n" at pos.
bool IsStampAt(const std::string &s, size_t pos)
{
    static const char szShape[] = "00:00:00\t00/00/00\t\r\n";
    if (s.size() - pos < sizeof szShape - 1)
        return false;
    for (size_t i = 0; i < sizeof szShape - 1; i++) {
        char c = s[pos + i];
        if (szShape[i] == '0' ? (c < '0' || c > '9') : c != szShape[i])
            return false;
    }
    return true;
}

void RemoveScratch()
{
    rmdir(g_sTemp.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    struct stat st;
    std::string sBase = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string sTemplate = sBase + "/zulfuzzlog.XXXXXX";
    std::vector<char> szTemplate(sTemplate.begin(), sTemplate.end());
    szTemplate.push_back('\0');
    if (!mkdtemp(szTemplate.data()))
        Fail("no scratch directory");
    g_sTemp = std::string(szTemplate.data()) + "/";
    SetStandinEnvironment(nullptr, g_sTemp.c_str());
    atexit(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t cb)
{
    if (cb < 3)
        return 0;
    unsigned flags = pData[0];
    unsigned sel = pData[1] | (pData[2] << 8u);
    std::string sPattern(reinterpret_cast<const char *>(pData + 3), cb - 3);
    if (sPattern.empty())
        sPattern = "x";

    const char *pszName = (flags & 1) ? "_remove_ds.log" : "_add_ds.log";
    std::string sLog = g_sTemp + pszName;
    std::string sSide = g_sTemp + ((flags & 1) ? "_remove_ds2.log" : "_add_ds2.log");
    bool bOld = (flags & 2) == 0;
    bool bLeftover = (flags & 4) != 0;
    unsigned cLines = (flags >> 3) & 7;

    size_t cbOld = (sel & 0x8000) ? (sel & 0x7FFF) : s_cbLogCap - 64 + sel % 129;
    std::string sOld;
    if (bOld) {
        sOld.reserve(cbOld);
        while (sOld.size() < cbOld)
            sOld.append(sPattern, 0, cbOld - sOld.size());
        WriteWhole(sLog, sOld);
    }
    if (bLeftover)
        WriteWhole(sSide, "stale side file\r\n");

    // The run: lines cut from the pattern at NULs, through each way of writing.
    std::vector<std::string> lines;
    {
        size_t start = 0;
        for (unsigned i = 0; i < cLines; i++) {
            size_t nul = sPattern.find('\0', start);
            std::string sLine = sPattern.substr(start, nul == std::string::npos ? std::string::npos : nul - start);
            lines.push_back(sLine);
            start = nul == std::string::npos ? sPattern.size() : nul + 1;
        }
    }
    std::string sRun;
    {
        InstallLog log(pszName);
        if (!log.IsOpen())
            Fail("the log did not open");
        for (size_t i = 0; i < lines.size(); i++) {
            switch (i % 3) {
            case 0:
                log.WriteLine(lines[i].c_str());
                sRun += lines[i] + "\r\n";
                break;
            case 1:
                if (LogPrintf(&log, "%s", lines[i].c_str()) != static_cast<int>(lines[i].size()))
                    Fail("LogPrintf did not count the whole line");
                sRun += lines[i] + "\r\n";
                break;
            default:
                log.WriteLabel(lines[i].c_str());
                log.WriteLine("value");
                sRun += lines[i] + "\tvalue\r\n";
                break;
            }
        }
    }

    std::string sAfter;
    if (!ReadWhole(sLog, sAfter))
        Fail("the log is gone");
    std::string sKept = KeptAfterCap(sOld);
    if (sAfter.compare(0, sKept.size(), sKept) != 0 || sAfter.size() < sKept.size())
        Fail("the kept old text is not what the cap rules give");
    size_t pos = sKept.size();
    const std::string sStart = std::string(s_szStartLog) + "\r\n";
    const std::string sEnd = std::string(s_szEndLog) + "\r\n\r\n";
    const size_t cchStamp = s_cchStampLine;
    if (!IsStampAt(sAfter, pos) || sAfter.compare(pos + cchStamp, sStart.size(), sStart) != 0)
        Fail("the run does not open with a stamp and Start Log");
    pos += cchStamp + sStart.size();
    if (sAfter.compare(pos, sRun.size(), sRun) != 0)
        Fail("the run's lines are not there as written");
    pos += sRun.size();
    if (!IsStampAt(sAfter, pos) || sAfter.compare(pos + cchStamp, std::string::npos, sEnd) != 0)
        Fail("the run does not close with a stamp, End Log and an empty line");

    struct stat st;
    bool bSideNow = lstat(sSide.c_str(), &st) == 0;
    if (bSideNow != (bLeftover && sOld.size() <= s_cbLogCap))
        Fail("the side file was left behind, or a leftover one removed without a cap");

    unlink(sLog.c_str());
    unlink(sSide.c_str());
    return 0;
}
