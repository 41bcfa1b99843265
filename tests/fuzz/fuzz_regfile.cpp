// Any text through the stand-in's registry-file reader: it reads what the tests write and
// refuses the rest naming a line of the text. The tree it leaves is then walked as the
// registry functions walk it.
#include "regfile.h"

#include <stdint.h>
#include <stdlib.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t cb)
{
    std::string sText(reinterpret_cast<const char *>(pData), cb);
    ZulRegKey machine;
    int nLine = 0;
    std::string sError;
    if (ZulStandinReadRegText(sText, &machine, &nLine, &sError)) {
        const ZulRegKey *pKey = nullptr;
        ZulStandinWalkKey(&machine, "SYSTEM\\CurrentControlSet\\Enum", &pKey);
        ZulStandinWalkKey(&machine, "SYSTEM\\\\CurrentControlSet\\Control\\Class\\", &pKey);
    } else if (nLine < 1 || static_cast<size_t>(nLine) > cb + 1 || sError.empty()) {
        abort(); // a refusal names a line of the text and says why
    }
    return 0;
}
