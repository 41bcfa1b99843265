// Check macros for the conformance test, one translation unit only.
//   ok(condition, "format %d\n", value)  counts a check; prints file:line and the message on failure
//   trace("format\n", ...)                prints file:line and the message
//   WtestSummary()                        prints the totals; returns the exit status (failures, at most 255)
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#if defined(__GNUC__)
#define WTEST_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define WTEST_PRINTF(fmt, args)
#endif

static const char *g_pszWtestFile = "";
static int g_nWtestLine = 0;
static int g_cWtestChecks = 0;
static int g_cWtestFailures = 0;

static inline void WtestSetLocation(const char *pszFile, int nLine)
{
    const char *psz = pszFile;
    for (const char *p = pszFile; *p; ++p) {
        if (*p == '/' || *p == '\\') {
            psz = p + 1;
        }
    }
    g_pszWtestFile = psz;
    g_nWtestLine = nLine;
}

static inline void WtestOk(int bCondition, const char *pszFormat, ...) WTEST_PRINTF(2, 3);
static inline void WtestOk(int bCondition, const char *pszFormat, ...)
{
    ++g_cWtestChecks;
    if (bCondition) {
        return;
    }
    ++g_cWtestFailures;
    va_list args;
    va_start(args, pszFormat);
    printf("%s:%d: Test failed: ", g_pszWtestFile, g_nWtestLine);
    vprintf(pszFormat, args);
    va_end(args);
    fflush(stdout);
}

static inline void WtestTrace(const char *pszFormat, ...) WTEST_PRINTF(1, 2);
static inline void WtestTrace(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    printf("%s:%d: ", g_pszWtestFile, g_nWtestLine);
    vprintf(pszFormat, args);
    va_end(args);
    fflush(stdout);
}

static inline int WtestSummary(const char *pszName)
{
    printf("%s: %d tests executed, %d failures\n", pszName, g_cWtestChecks, g_cWtestFailures);
    fflush(stdout);
    return g_cWtestFailures > 255 ? 255 : g_cWtestFailures;
}

#define ok (WtestSetLocation(__FILE__, __LINE__), 0) ? (void)0 : WtestOk
#define trace (WtestSetLocation(__FILE__, __LINE__), 0) ? (void)0 : WtestTrace
