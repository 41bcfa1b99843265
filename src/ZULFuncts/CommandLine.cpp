#include "CommandLine.h"

#include "BoundedString.h"
#include "NameRules.h"
#include "TwainDSInstaller.h"

#include <mbstring.h>
#include <string.h>

namespace {

const char s_szBlank[] = " ";

const char *const s_rgpszHelp[] = {"/?", "/h", "-?", "-h", ""};

struct CommandName {
    const char *pszName;
    int nCode;
};

const CommandName s_commands[] = {
    {"AddDS", CommandLine::CMD_ADD_DS},
    {"RemoveDS", CommandLine::CMD_REMOVE_DS},
    {"MAddDS", CommandLine::CMD_MADD_DS},
    {"MRemoveDS", CommandLine::CMD_MREMOVE_DS},
};

} // namespace

CommandLine::CommandLine() : m_bLogging(true), m_pszToken(nullptr), m_bOverlong(false)
{
    m_szFunction[0] = '\0';
    m_szParamsKey[0] = '\0';
    m_szCheckValue[0] = '\0';
    m_szCheckKey[0] = '\0';
    m_szPrefix[0] = '\0';
    m_szHardwareId[0] = '\0';
    m_szLogging[0] = '\0';
}

CommandLine::~CommandLine()
{
}

char *CommandLine::FetchToken(const char *pszDelimiters)
{
    return reinterpret_cast<char *>(_mbstok(nullptr, reinterpret_cast<const unsigned char *>(pszDelimiters)));
}

bool CommandLine::NextToken(char *szDest, const char *pszDelimiters)
{
    if (!m_pszToken)
        return false;
    char szParam[260];
    bool bFits;
    size_t cchToken = strlen(m_pszToken);
    if (m_pszToken[0] != '"') {
        bFits = BoundedCopy(szParam, sizeof szParam, m_pszToken);
    } else if (m_pszToken[cchToken - 1] == '"') {
        // "text", or a lone quote or two quotes: the empty parameter.
        m_pszToken[cchToken - 1] = '\0';
        bFits = BoundedCopy(szParam, sizeof szParam, cchToken > 1 ? m_pszToken + 1 : "");
    } else {
        // An opening quote: the parameter runs on to the token that ends with
        // one, or to the end of the command line; pieces joined by one blank.
        bFits = BoundedCopy(szParam, sizeof szParam, m_pszToken + 1);
        while (char *pszPiece = FetchToken(pszDelimiters)) {
            size_t cchPiece = strlen(pszPiece);
            bool bClosing = pszPiece[cchPiece - 1] == '"';
            if (bClosing)
                pszPiece[cchPiece - 1] = '\0';
            bFits = bFits && BoundedAppend(szParam, sizeof szParam, s_szBlank) &&
                    BoundedAppend(szParam, sizeof szParam, pszPiece);
            if (bClosing)
                break;
        }
    }
    m_pszToken = FetchToken(pszDelimiters);
    if (!bFits) {
        m_bOverlong = true;
        return false;
    }
    memcpy(szDest, szParam, strlen(szParam) + 1);
    return true;
}

int CommandLine::LookupCommand(const char *pszWord)
{
    for (const CommandName &command : s_commands) {
        if (_mbsnbicmp(reinterpret_cast<const unsigned char *>(pszWord),
                       reinterpret_cast<const unsigned char *>(command.pszName), 2) == 0)
            return command.nCode;
    }
    return CMD_NONE;
}

bool CommandLine::IsHelpText(const char *pszText)
{
    for (const char *pszHelp : s_rgpszHelp) {
        if (_mbscmp(reinterpret_cast<const unsigned char *>(pszText),
                    reinterpret_cast<const unsigned char *>(pszHelp)) == 0)
            return true;
    }
    return false;
}

void CommandLine::ReadLoggingFlag()
{
    if (NextToken(m_szLogging, s_szBlank) && m_szLogging[0] == '0')
        m_bLogging = false;
}

bool CommandLine::ParseAndRun(char *pszText, RunContext &run)
{
    int nCommand = Parse(pszText);
    switch (nCommand) {
    case CMD_ADD_DS:
    case CMD_REMOVE_DS: {
        TwainDSInstaller installer(m_szHardwareId, m_szPrefix, m_szCheckKey, m_szCheckValue, m_szParamsKey, &run);
        installer.AddTwainDS(nCommand == CMD_ADD_DS, m_bLogging);
        return true;
    }
    case CMD_MADD_DS:
    case CMD_MREMOVE_DS: {
        TwainDSInstaller installer(m_szPrefix, m_szCheckKey, m_szCheckValue, &run);
        installer.MAddTwainDS(nCommand == CMD_MADD_DS, m_bLogging);
        return true;
    }
    default:
        return false;
    }
}

int CommandLine::Parse(char *pszText)
{
    // The tokenizer would take the terminator for the trail byte of a last lead byte.
    DropLoneLeadByte(pszText);
    m_pszToken = reinterpret_cast<char *>(
        _mbstok(reinterpret_cast<unsigned char *>(pszText), reinterpret_cast<const unsigned char *>(s_szBlank)));
    if (!NextToken(m_szFunction, s_szBlank))
        return CMD_NONE;

    int nCommand = LookupCommand(m_szFunction);
    switch (nCommand) {
    case CMD_ADD_DS:
    case CMD_REMOVE_DS:
        if (nCommand == CMD_ADD_DS && !NextToken(m_szHardwareId, s_szBlank))
            return CMD_NONE;
        if (!NextToken(m_szPrefix, s_szBlank) || !NextToken(m_szCheckKey, s_szBlank) ||
            !NextToken(m_szCheckValue, s_szBlank) || !NextToken(m_szParamsKey, s_szBlank))
            return CMD_NONE;
        ReadLoggingFlag();
        if (m_bOverlong || !IsSafePrefix(m_szPrefix))
            return CMD_NONE;
        return nCommand;
    case CMD_MADD_DS:
    case CMD_MREMOVE_DS:
        if (!NextToken(m_szPrefix, s_szBlank)) {
            if (m_bOverlong)
                return CMD_NONE;
            BoundedCopy(m_szPrefix, sizeof m_szPrefix, "zorb_");
            BoundedCopy(m_szCheckKey, sizeof m_szCheckKey, "DeviceData");
            BoundedCopy(m_szCheckValue, sizeof m_szCheckValue, "InstallCLSID");
        } else if (NextToken(m_szCheckKey, s_szBlank) && NextToken(m_szCheckValue, s_szBlank)) {
            ReadLoggingFlag();
        }
        if (m_bOverlong || m_szPrefix[0] == '\0' || m_szCheckKey[0] == '\0' || m_szCheckValue[0] == '\0' ||
            !IsSafePrefix(m_szPrefix))
            return CMD_NONE;
        return nCommand;
    default:
        return CMD_NONE;
    }
}
