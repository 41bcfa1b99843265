// Any registry-file text through the stand-in's reader; the tree it leaves is
// then walked as the registry functions walk it.
#include "regfile.h"

#include <stdint.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t cb)
{
    ZulStandin::RegTree tree;
    ZulStandin::ImportRegText(std::string(reinterpret_cast<const char *>(pData), cb), tree);

    const ZulStandin::PredefinedKey *pRoot = ZulStandin::FindPredefinedKey("HKEY_LOCAL_MACHINE");
    const ZulStandin::RegKey *pMachine = pRoot ? tree.Resolve(*pRoot) : nullptr;
    if (pMachine) {
        const ZulStandin::RegKey *pKey = nullptr;
        ZulStandin::WalkPath(pMachine, "SYSTEM\\CurrentControlSet\\Enum", &pKey);
        ZulStandin::WalkPath(pMachine, "SYSTEM\\\\CurrentControlSet\\Control\\Class\\", &pKey);
    }
    return 0;
}
