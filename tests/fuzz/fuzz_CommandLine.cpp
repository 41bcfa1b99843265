// Any command-line text through the front end, with the installer replaced by
// the recorder: an accepted command carries only parameters that fit 259 bytes
// (and MAddDS/MRemoveDS only complete, safe ones); a refused one built nothing.
// A first byte 0xFF selects code page 932, whose lead bytes the multibyte
// routines take with whatever follows, the terminator too.
#include "CommandLine.h"
#include "RunContext.h"
#include "RecordingInstaller.h"

#include <mbstring.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

void Fail(const char *pszWhy, const std::string &sText)
{
    fprintf(stderr, "command-line invariant broken: %s\ntext: [%s]\n", pszWhy, sText.c_str());
    abort();
}

bool Fits(const std::string &s)
{
    return s.size() <= 259;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t cb)
{
    bool bDoubleByte = cb > 0 && pData[0] == 0xFF;
    if (bDoubleByte) {
        pData++;
        cb--;
    }
    _setmbcp(bDoubleByte ? 932 : 0);
    // The text stops at a NUL, as the one the runtime hands WinMain does.
    std::vector<char> text(pData, pData + cb);
    text.push_back('\0');
    std::string sText(text.data());

    g_installerRecord = InstallerRecord();
    bool bAccepted;
    {
        CommandLine commandLine;
        RunContext run;
        bAccepted = commandLine.ParseAndRun(text.data(), run);
        // The front end's own buffers stay terminated within their 260 bytes.
        const char *rgpsz[] = {commandLine.m_szFunction, commandLine.m_szParamsKey, commandLine.m_szCheckValue,
                               commandLine.m_szCheckKey, commandLine.m_szPrefix,    commandLine.m_szHardwareId,
                               commandLine.m_szLogging};
        for (const char *psz : rgpsz) {
            if (!memchr(psz, '\0', 260))
                Fail("a parameter buffer is not terminated", sText);
        }
    }
    const InstallerRecord &r = g_installerRecord;

    if (!bAccepted) {
        if (r.nBuilt != 0 || !r.sProcedure.empty())
            Fail("a refused command line built an installer", sText);
        return 0;
    }
    if (r.nBuilt != 1 || r.nDestroyed != 1 || r.sProcedure.empty())
        Fail("an accepted command did not run exactly one installer", sText);
    if (!Fits(r.sHardwareId) || !Fits(r.sPrefix) || !Fits(r.sCheckKey) || !Fits(r.sCheckValue) || !Fits(r.sParamsKey))
        Fail("an accepted parameter is over 259 bytes", sText);
    // In a single-byte code page every byte is a character of its own.
    if (!bDoubleByte) {
        bool bControl = false;
        for (unsigned char ch : r.sPrefix)
            bControl = bControl || ch < 0x20;
        if (bControl || r.sPrefix.find_first_of("\\/:*?\"<>|") != std::string::npos)
            Fail("an accepted prefix holds a separator, colon, wildcard, quote, bracket, bar or control", sText);
        if (!r.sPrefix.empty() && r.sPrefix.find_first_not_of('.') == std::string::npos)
            Fail("an accepted prefix is dots alone", sText);
    }
    if (r.sProcedure == "MAddTwainDS" && (r.sPrefix.empty() || r.sCheckKey.empty() || r.sCheckValue.empty()))
        Fail("MAddDS/MRemoveDS accepted an empty parameter", sText);
    if (r.sProcedure == "AddTwainDS" && r.nParams != 5)
        Fail("AddDS/RemoveDS built the wrong installer", sText);
    return 0;
}
