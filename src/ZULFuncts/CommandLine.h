// Turns the command-line text into one of the four commands and runs it.
#pragma once

#include <stddef.h>

struct RunContext;

class CommandLine
{
public:
    CommandLine();
    virtual ~CommandLine();

    // True when a command was recognised, its parameters were complete and its
    // procedure ran for the run. Splits pszText in place.
    bool ParseAndRun(char *pszText, RunContext &run);
    // Reads the command and its parameters into the buffers without running
    // it: the command's code, CMD_NONE when the text is refused.
    int Parse(char *pszText);

    // Takes the next parameter, joining a double-quoted one that spans blanks.
    // False when no token is left, or when the parameter does not fit the
    // 260-byte destination (m_bOverlong is then set); the destination is
    // untouched in both cases.
    bool NextToken(char *szDest, const char *pszDelimiters);

    static int LookupCommand(const char *pszWord);
    // One of the texts that ask for the usage ("/?", "/h", "-?", "-h", or none).
    static bool IsHelpText(const char *pszText);

    enum
    {
        CMD_NONE = 0,
        CMD_ADD_DS = 4,
        CMD_REMOVE_DS = 5,
        CMD_MADD_DS = 14,
        CMD_MREMOVE_DS = 15
    };

    char m_szFunction[260];
    char m_szParamsKey[260];
    char m_szCheckValue[260];
    char m_szCheckKey[260];
    char m_szPrefix[260];
    char m_szHardwareId[260];
    char m_szLogging[260];
    bool m_bLogging;
    char *m_pszToken;
    bool m_bOverlong;

private:
    char *FetchToken(const char *pszDelimiters);
    void ReadLoggingFlag();
};
