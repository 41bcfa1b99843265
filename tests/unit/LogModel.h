// What the cap keeps of an old log, written out independently of the code
// under test: over the cap, the cap's last bytes with every line (up to
// LF, a CR right before the LF dropped, or a last line without LF) ended by
// CR LF; otherwise the old text untouched.
#pragma once

#include "TestFacts.h"

#include <string>

inline std::string KeptAfterCap(const std::string &sOld)
{
    if (sOld.size() <= s_cbLogCap)
        return sOld;
    std::string sTail = sOld.substr(sOld.size() - s_cbLogCap);
    std::string sOut;
    size_t start = 0;
    while (start < sTail.size()) {
        size_t lf = sTail.find('\n', start);
        size_t next = lf == std::string::npos ? sTail.size() : lf;
        size_t end = next;
        if (lf != std::string::npos && end > start && sTail[end - 1] == '\r')
            end--;
        sOut.append(sTail, start, end - start);
        sOut += "\r\n";
        start = next + 1;
    }
    return sOut;
}
