// The sanitizer build really fails on a memory error, on undefined behaviour
// and on a leak: each ends the process with a report.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdlib.h>
#include <sys/wait.h>

namespace {

void *volatile g_pLost;

void Overflow()
{
    char *p = static_cast<char *>(malloc(8));
    volatile int i = 8;
    p[i] = 1;
    free(p);
}

void UseAfterFree()
{
    char *p = static_cast<char *>(malloc(8));
    char *volatile pStale = p;
    free(p);
    volatile char c = pStale[0];
    (void)c;
}

void SignedOverflow()
{
    volatile int n = INT_MAX;
    n = n + 1;
}

void Leak()
{
    g_pLost = malloc(64);
    g_pLost = nullptr;
    exit(0);
}

} // namespace

TEST(SanitizerDeathTest, AMemoryErrorEndsTheProcessWithAReport)
{
    EXPECT_DEATH(Overflow(), "heap-buffer-overflow");
    EXPECT_DEATH(UseAfterFree(), "heap-use-after-free");
}

TEST(SanitizerDeathTest, UndefinedBehaviourEndsTheProcessWithAReport)
{
    EXPECT_DEATH(SignedOverflow(), "signed integer overflow");
}

TEST(SanitizerDeathTest, ALeakFailsTheProcessAtExit)
{
    EXPECT_EXIT(
        Leak(), [](int status) { return !WIFEXITED(status) || WEXITSTATUS(status) != 0; }, "detected memory leaks");
}
