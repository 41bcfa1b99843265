// Small facts the C++ tests share: what the program promises about its logs,
// and the environment that names the stand-in's machine.
#pragma once

#include <stdlib.h>

#include <string>

// A log keeps at most this many bytes of earlier runs.
const size_t s_cbLogCap = 25600;

// A run's text opens with a stamp line ("HH:MM:SS\tMM/DD/YY\t\r\n") and the
// opening line, and closes with a stamp line, the closing line and an empty line.
const size_t s_cchStampLine = 20;
const char s_szStartLog[] = "Start Log";
const char s_szEndLog[] = "End Log";

// The device walk's lines.
inline std::string EnumLine(int bFound, int idx)
{
    return "SetupDiEnumDeviceInfo returned " + std::to_string(bFound) + ", m_idx = " + std::to_string(idx);
}

inline std::string EnumErrorLine(unsigned long dwError)
{
    return " EnumImagingDevices non-terminating error, GetLastError returned " + std::to_string(dwError);
}

inline std::string EnumEndLine(int idx)
{
    return "EnumImagingDevices terminating condition, m_idx = " + std::to_string(idx);
}

// Names the stand-in's machine to this process and the programs it starts:
// pszSysroot its Windows directory and registry.reg (ZULFUNCTS_SYSROOT; the
// default window station then), pszTemp every account's temporary directory
// (TMPDIR, and SystemTemp for LocalSystem), pszCommand a started program's
// command line (ZULFUNCTS_CMDLINE). Null leaves a variable as it is, "" removes it.
inline void SetStandinEnvironment(const char *pszSysroot, const char *pszTemp, const char *pszCommand = nullptr)
{
    const struct {
        const char *pszName;
        const char *pszValue;
    } vars[] = {{"ZULFUNCTS_SYSROOT", pszSysroot},
                {"ZULFUNCTS_WINDOW_STATION", pszSysroot ? "" : nullptr},
                {"TMPDIR", pszTemp},
                {"SystemTemp", pszTemp},
                {"ZULFUNCTS_CMDLINE", pszCommand}};
    for (const auto &var : vars) {
        if (var.pszValue && *var.pszValue)
            setenv(var.pszName, var.pszValue, 1);
        else if (var.pszValue)
            unsetenv(var.pszName);
    }
}
