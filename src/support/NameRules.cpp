#include "NameRules.h"

#include <windows.h>

#include <mbstring.h>
#include <string.h>

namespace {

// Besides the control characters.
const char s_szNeverInName[] = "\\/:*?\"<>|";

const char *const s_rgpszDevices[] = {"CON", "PRN", "AUX", "NUL"};
const char *const s_rgpszNumberedDevices[] = {"COM", "LPT"};

// One pass over a name given in pieces, a character at a time: a trail byte is
// never taken for a character of its own, and a lead byte before a terminator
// ends the pass instead of taking the terminator along.
struct NameScan {
    bool bEmpty = true;
    bool bClean = true;     // none of s_szNeverInName, no control character
    bool bLoneLead = false; // a piece ends in a lead byte
    bool bDotsOnly = true;
    unsigned char chLast = 0; // the last character when it is a single byte
    // The text before the first dot without its trailing blanks, as far as it
    // can be a device name: three characters, or COM or LPT and one more,
    // which may be a double-byte character; a longer one can not.
    bool bInStem = true;
    char szStem[6] = {0};
    size_t cchStem = 0; // bytes
    size_t cCharsStem = 0;
    size_t cBlanksPending = 0;
    bool bStemNoDevice = false;

    void Feed(const char *psz);
    void AddToStem(const unsigned char *pch, size_t cb);
    bool IsDevice() const;
};

void NameScan::Feed(const char *psz)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(psz);
    while (*p) {
        bEmpty = false;
        if (_ismbblead(*p)) {
            if (p[1] == '\0') {
                bLoneLead = true;
                return;
            }
            // Windows converts a lead byte without a valid trail byte on its
            // own and reads the byte after it as a character: a '?' or ':' there
            // would be one.
            if (!_ismbbtrail(p[1]))
                bClean = false;
            bDotsOnly = false;
            chLast = 0;
            if (bInStem)
                AddToStem(p, 2);
            p += 2;
            continue;
        }
        unsigned char ch = *p++;
        if (ch < 0x20 || strchr(s_szNeverInName, ch))
            bClean = false;
        if (ch != '.')
            bDotsOnly = false;
        chLast = ch;
        if (bInStem)
            AddToStem(p - 1, 1);
    }
}

void NameScan::AddToStem(const unsigned char *pch, size_t cb)
{
    if (cb == 1 && *pch == '.') {
        bInStem = false;
    } else if (cb == 1 && *pch == ' ') {
        cBlanksPending++;
    } else if (cchStem + cBlanksPending + cb >= sizeof szStem || cCharsStem + cBlanksPending >= 4 ||
               (cb == 2 && cCharsStem + cBlanksPending != 3)) {
        bStemNoDevice = true;
    } else {
        // Blanks inside the stem are part of it; only trailing ones go.
        for (; cBlanksPending > 0; cBlanksPending--, cCharsStem++)
            szStem[cchStem++] = ' ';
        memcpy(szStem + cchStem, pch, cb);
        cchStem += cb;
        cCharsStem++;
    }
}

bool NameScan::IsDevice() const
{
    if (bStemNoDevice)
        return false;
    const unsigned char *pszStem = reinterpret_cast<const unsigned char *>(szStem);
    if (cCharsStem == 3) {
        for (const char *pszDevice : s_rgpszDevices) {
            if (_mbsnbicmp(pszStem, reinterpret_cast<const unsigned char *>(pszDevice), 3) == 0)
                return true;
        }
        return false;
    }
    bool bNumbered = false;
    for (const char *pszDevice : s_rgpszNumberedDevices)
        bNumbered = bNumbered || _mbsnbicmp(pszStem, reinterpret_cast<const unsigned char *>(pszDevice), 3) == 0;
    if (cCharsStem != 4 || !bNumbered)
        return false;
    if (szStem[3] >= '1' && szStem[3] <= '9')
        return true;
    // Windows reads the digit in Unicode, where the superscripts one to three
    // are digits too; the code page decides which bytes they are. What cannot
    // be read counts as one.
    WCHAR wch = 0;
    if (MultiByteToWideChar(CP_ACP, 0, szStem + 3, static_cast<int>(cchStem - 3), &wch, 1) != 1)
        return true;
    return wch == 0x00B9 || wch == 0x00B2 || wch == 0x00B3;
}

} // namespace

bool EndsInLoneLeadByte(const char *psz)
{
    NameScan scan;
    scan.Feed(psz);
    return scan.bLoneLead;
}

bool DropLoneLeadByte(char *psz)
{
    if (!EndsInLoneLeadByte(psz))
        return false;
    psz[strlen(psz) - 1] = '\0';
    return true;
}

bool IsSafePrefix(const char *pszPrefix)
{
    NameScan scan;
    scan.Feed(pszPrefix);
    return scan.bClean && !scan.bLoneLead && (scan.bEmpty || !scan.bDotsOnly) && !scan.IsDevice();
}

bool IsUsableInstance(const char *pszPrefix, const char *pszInstance)
{
    NameScan scan;
    scan.Feed(pszPrefix);
    if (!scan.bLoneLead)
        scan.Feed(pszInstance);
    return !scan.bEmpty && scan.bClean && !scan.bLoneLead && scan.chLast != '.' && scan.chLast != ' ' &&
           !scan.IsDevice();
}
