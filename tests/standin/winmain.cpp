// The runtime's GUI start-up: builds the command-line text after the program
// name and hands it to WinMain, whose result is the exit status.
//
// The text is argv[1..] joined by one blank, an empty argument or one holding a
// blank wrapped in double quotes. ZULFUNCTS_CMDLINE, when set, gives the text
// after the program name exactly instead (tests need runs of blanks, lone quotes
// and trailing blanks, which argv cannot carry).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

// In a sanitizer build a report ends the process with 86: the sanitizers'
// default status, 1, is the program's own for a refused command line, and a
// test expecting a refusal would take a report for one. Without the
// sanitizers nothing calls these.
extern "C" const char *__asan_default_options()
{
    return "exitcode=86";
}

extern "C" const char *__ubsan_default_options()
{
    return "exitcode=86";
}

int main(int argc, char **argv)
{
    std::string sText;
    const char *pszExact = getenv("ZULFUNCTS_CMDLINE");
    if (pszExact) {
        sText = pszExact;
    } else {
        for (int i = 1; i < argc; i++) {
            if (i > 1)
                sText += ' ';
            bool bQuote = argv[i][0] == '\0' || strchr(argv[i], ' ') != nullptr;
            if (bQuote)
                sText += '"';
            sText += argv[i];
            if (bQuote)
                sText += '"';
        }
    }
    // Like msvcrt, skip the blanks and control characters that follow the program name.
    size_t skip = 0;
    while (skip < sText.size() && static_cast<unsigned char>(sText[skip]) <= ' ')
        skip++;
    std::vector<char> text(sText.begin() + static_cast<std::ptrdiff_t>(skip), sText.end());
    text.push_back('\0');
    int status = WinMain(nullptr, nullptr, text.data(), 1);
    fflush(stdout);
    return status;
}
