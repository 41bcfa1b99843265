#include "BoundedString.h"

#include <string.h>

bool BoundedCopy(char *szDest, size_t cbDest, const char *pszSrc)
{
    if (cbDest == 0)
        return false;
    szDest[0] = '\0';
    return BoundedAppend(szDest, cbDest, pszSrc);
}

bool BoundedAppend(char *szDest, size_t cbDest, const char *pszSrc)
{
    size_t cchDest = strnlen(szDest, cbDest);
    size_t cchSrc = strlen(pszSrc);
    if (cchDest >= cbDest || cchSrc >= cbDest - cchDest)
        return false;
    memcpy(szDest + cchDest, pszSrc, cchSrc + 1);
    return true;
}
