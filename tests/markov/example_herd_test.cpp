// The projection on the example herd: steady state, then 36 collected months.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bio/bio.h"
#include "dp/dp.h"
#include "markov/markov.h"
#include "core/records.h"
#include "support/support.h"

namespace {

/* Steady state from an empty herd, then 36 collected months; checks that
** every collected month has its places filled and that the stored herd is
** the next month's before its heifers.  Returns the passes made. */
unsigned short PROJECT_AND_CHECK()
{
    mkvfile = "herd.mkv";
    capture_console();
    READ_MKV_FILE(); /* none yet: an empty herd */
    const unsigned short passes = STEADY_STATE_LOOP([] { MARKOV_CHAIN(1, 12, 0); });
    WRITE_MKV_FILE();
    MARKOV_CHAIN(1, 36, 1);
    captured_console();
    EXPECT_LT(passes, 500);

    for (int t = 1; t <= 36; t++) {
        double present = 0.0;
        for (int c = 1; c <= MAXCURR; c++)
            present += mkv->present[c][t];
        EXPECT_NEAR(present, 1.0, 1e-9) << "month " << t;
    }
    double stored = 0.0;
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                for (int p = 0; p < NMPREG; p++)
                    stored += mkv->pstate[c][l][m][p][2];
                EXPECT_LE(mkv->pfs[c][l][m][2], mkv->pstate[c][l][m][0][2]);
            }
    EXPECT_GT(stored, 0.97);
    EXPECT_LT(stored, 0.995);
    for (int c = 0; c < NCURR; c++)
        for (int t = 0; t < NT; t++)
            EXPECT_EQ(mkv->keep[c][t], 0.0);
    EXPECT_TRUE(file_exists("herd.mkv"));
    return passes;
}

void READ_EXAMPLE()
{
    runname = source_path("examples/holstein_lb.bio");
    capture_console();
    const short status = READ_BIO_FILE();
    BIO_PROBABILITY();
    RESET_POL_RECORD();
    captured_console();
    ASSERT_EQ(status, 0);
}

} // namespace

TEST(ExampleHerd, RulePolicyFillsEveryPlace)
{
    allocate_records();
    ScratchDir dir;
    READ_EXAMPLE();
    rule_policy();
    const unsigned short passes = PROJECT_AND_CHECK();
    std::printf("[          ] steady state after %d passes\n", passes);
}

TEST(ExampleHerd, SolversPolicyFillsEveryPlace)
{
    allocate_records();
    ScratchDir dir;
    READ_EXAMPLE();
    capture_console();
    RESET_FUT_RECORD();
    const short solved = DP_POLICY(bio->policy);
    captured_console();
    if (solved == 0 || pol->enter[1] == DEC_NONE)
        GTEST_SKIP() << "no policy solver in this build";
    const unsigned short passes = PROJECT_AND_CHECK();
    std::printf("[          ] steady state after %d passes\n", passes);
}
