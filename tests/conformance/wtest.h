// Check macros of the conformance test, after the fashion of Wine's own tests.
//   ok(condition, "format\n", got...)  a check; a failure prints file:line and the message,
//                                      which says what was expected and what came back
//   ok_(file, line)(condition, ...)    the same check, reported at a helper's caller
//   todo_wine ok(...)                  a Windows behaviour Wine 8 does not have: under Wine a
//                                      failure counts as todo and a success as a failure (the
//                                      todo can go); on the stand-in a plain check
//   standin_differs(condition)         a known difference of the stand-in: true on the stand-in
//                                      when the condition holds, false under Wine and on Windows
//                                      (no check needs Wine's broken(), Windows' own differences)
//   skip("format\n", ...)              checks that cannot run on this side, and why
//   trace("format\n", ...)             information
//   WtestSummary(name)                 prints the totals; the exit status is the failures (at most 255)
#pragma once

#include <stdarg.h>
#include <stdio.h>

#ifdef _WIN32
#include <windows.h>
#endif

#if defined(__GNUC__)
#define WTEST_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define WTEST_PRINTF(fmt, args)
#endif

struct WtestState {
    const char *pszFile = "";
    int nLine = 0;
    unsigned uTodoLevel = 0; // one bit per nested todo block, the innermost lowest
    bool bTodoLoop = false;
    int cChecks = 0;
    int cFailures = 0;
    int cTodos = 0;
    int cSkips = 0;
};

inline WtestState g_wtest;

inline bool WtestUnderWine()
{
#ifdef _WIN32
    static const bool s_bWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
    return s_bWine;
#else
    return false;
#endif
}

inline void WtestSetLocation(const char *pszFile, int nLine)
{
    const char *psz = pszFile;
    for (const char *p = pszFile; *p; ++p) {
        if (*p == '/' || *p == '\\') {
            psz = p + 1;
        }
    }
    g_wtest.pszFile = psz;
    g_wtest.nLine = nLine;
}

inline void WtestPrint(const char *pszKind, const char *pszFormat, va_list args)
{
    printf("%s:%d: %s", g_wtest.pszFile, g_wtest.nLine, pszKind);
    vprintf(pszFormat, args);
    fflush(stdout);
}

inline void WtestOk(int bCondition, const char *pszFormat, ...) WTEST_PRINTF(2, 3);
inline void WtestOk(int bCondition, const char *pszFormat, ...)
{
    ++g_wtest.cChecks;
    bool bTodo = (g_wtest.uTodoLevel & 1) != 0;
    if (bCondition && !bTodo) {
        return;
    }
    va_list args;
    va_start(args, pszFormat);
    if (bTodo && !bCondition) {
        ++g_wtest.cTodos;
        WtestPrint("Test marked todo: ", pszFormat, args);
    } else {
        ++g_wtest.cFailures;
        WtestPrint(bTodo ? "Test succeeded inside todo block: " : "Test failed: ", pszFormat, args);
    }
    va_end(args);
}

inline void WtestSkip(const char *pszFormat, ...) WTEST_PRINTF(1, 2);
inline void WtestSkip(const char *pszFormat, ...)
{
    ++g_wtest.cSkips;
    va_list args;
    va_start(args, pszFormat);
    WtestPrint("Tests skipped: ", pszFormat, args);
    va_end(args);
}

inline void WtestTrace(const char *pszFormat, ...) WTEST_PRINTF(1, 2);
inline void WtestTrace(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    WtestPrint("", pszFormat, args);
    va_end(args);
}

inline void WtestStartTodo(bool bTodo)
{
    g_wtest.uTodoLevel = (g_wtest.uTodoLevel << 1) | (bTodo ? 1u : 0u);
    g_wtest.bTodoLoop = true;
}

inline bool WtestLoopTodo()
{
    bool bLoop = g_wtest.bTodoLoop;
    g_wtest.bTodoLoop = false;
    return bLoop;
}

inline void WtestEndTodo()
{
    g_wtest.uTodoLevel >>= 1;
}

inline bool WtestStandinDiffers(bool bCondition)
{
#ifdef _WIN32
    (void)bCondition;
    return false;
#else
    return bCondition;
#endif
}

inline int WtestSummary(const char *pszName)
{
    printf("%s: %d tests executed (%d marked as todo, %d failures), %d skipped.\n", pszName, g_wtest.cChecks,
           g_wtest.cTodos, g_wtest.cFailures, g_wtest.cSkips);
    fflush(stdout);
    return g_wtest.cFailures > 255 ? 255 : g_wtest.cFailures;
}

#define ok_(file, line) (WtestSetLocation(file, line), 0) ? (void)0 : WtestOk
#define ok ok_(__FILE__, __LINE__)
#define skip (WtestSetLocation(__FILE__, __LINE__), 0) ? (void)0 : WtestSkip
#define trace (WtestSetLocation(__FILE__, __LINE__), 0) ? (void)0 : WtestTrace
#define todo_if(is_todo) for (WtestStartTodo(is_todo); WtestLoopTodo(); WtestEndTodo())
#define todo_wine todo_if(WtestUnderWine())
#define standin_differs(condition) WtestStandinDiffers(condition)
