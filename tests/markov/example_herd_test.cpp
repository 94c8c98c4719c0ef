// The projection on the example herd: steady state, then 36 collected months.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "bio/bio.h"
#include "markov/markov.h"
#include "run/driver.h"
#include "run/records.h"
#include "support/support.h"

namespace {

/* A rule policy: inseminate in the breeding window, keep every other cow
** (she is sold at the last month in milk), heifers enter every month. */
void RULE_POLICY()
{
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++) {
            const int vwp = bio->vwp[std::min(l, 3)];
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    for (int t = 0; t < NSLOT; t++)
                        pol->decision[c][l][m][p][t] =
                            (p == 0 && m >= vwp && m <= bio->lbm && m < bio->maxmim) ? DEC_INSEMINATE
                                                                                    : DEC_KEEP;
        }
    for (int t = 0; t < NSLOT; t++)
        pol->enter[t] = 1;
}

} // namespace

TEST(ExampleHerd, SteadyStateThenCollectedMonthsFillEveryPlace)
{
    ALLOCATE_RECORDS();
    ScratchDir dir;
    runname = SOURCE_PATH("examples/holstein_lb.bio");
    testing::internal::CaptureStdout();
    ASSERT_EQ(READ_BIO_FILE(), 0);
    BIO_PROBABILITY();
    RESET_POL_RECORD();
    RULE_POLICY();
    mkvfile = "herd.mkv";
    READ_MKV_FILE(); /* none yet: an empty herd */
    const unsigned short passes = STEADY_STATE_LOOP([] { MARKOV_CHAIN(1, 12, 0); });
    WRITE_MKV_FILE();
    MARKOV_CHAIN(1, 36, 1);
    testing::internal::GetCapturedStdout();
    std::printf("[          ] steady state after %d passes\n", passes);
    EXPECT_LT(passes, 500);

    for (int t = 1; t <= 36; t++) {
        double present = 0.0;
        for (int c = 1; c <= MAXCURR; c++)
            present += mkv->present[c][t];
        EXPECT_NEAR(present, 1.0, 1e-9) << "month " << t;
    }
    /* The stored herd lacks the month's disposals and cows sold at the
    ** last month in milk, which next month's heifers replace. */
    double stored = 0.0;
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                for (int p = 0; p < NMPREG; p++)
                    stored += mkv->pstate[c][l][m][p][2];
                ASSERT_LE(mkv->pfs[c][l][m][2], mkv->pstate[c][l][m][0][2]);
            }
    EXPECT_GT(stored, 0.97);
    EXPECT_LT(stored, 0.995);
    for (int c = 0; c < NCURR; c++)
        for (int t = 0; t < NT; t++)
            ASSERT_EQ(mkv->keep[c][t], 0.0);
    EXPECT_TRUE(FILE_EXISTS("herd.mkv"));
}
