// The dynamic program on the example herd: policy invariants in process,
// and whole runs of analysis 71 (policy and files only) as an operator
// would start them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "bio/bio.h"
#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp/dp_herd.h"
#include "run/records.h"
#include "support/support.h"

namespace {

/* A bio file (the example herd by default) read into bio, without
** interest (the fast case). */
void READ_EXAMPLE_HERD(const std::string& file = SOURCE_PATH("examples/holstein_lb.bio"))
{
    CLEAR_DP_RECORDS();
    runname = file;
    testing::internal::CaptureStdout();
    const short read = READ_BIO_FILE();
    BIO_PROBABILITY();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(read, 0);
    ASSERT_EQ(bio->maxlact, 12);
    bio->interest = 0.0;
}

void replace_once(std::string& text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

/* The example as a file in the working directory: time stamp, analysis,
** policy, and no interest. */
void WRITE_EXAMPLE(const std::string& name, const std::string& analysis, const std::string& policy,
                   const std::string& stamp = "Holstein lb 2026-12-08")
{
    std::string text = READ_TEXT(SOURCE_PATH("examples/holstein_lb.bio"));
    replace_once(text, "Holstein lb 2026-12-08\n", stamp + "\n");
    replace_once(text, "\n1\nMilk factor", "\n" + analysis + "\nMilk factor");
    replace_once(text, "\nOPTIMAL\n", "\n" + policy + "\n");
    replace_once(text, "\n15 -2 0.05 50 1\n", "\n15 -2 0 50 1\n");
    WRITE_TEXT(name, text);
}

} // namespace

TEST(ExampleHerd, KeepAllAndKeepPreg)
{
    for (short policy : {POLICY_KEEPALL, POLICY_KEEPPREG}) {
        ScratchDir dir;
        READ_EXAMPLE_HERD();
        if (policy == POLICY_KEEPALL)
            bio->minmilk = 60.0; /* low classes are low from month 1 on */
        short status = 0;
        RUN_DP(policy, status);
        ASSERT_EQ(status, 1);
        int open_replaced = 0, low = 0;
        for (int t = 1; t <= 24; t++)
            for (int curr = 1; curr <= 15; curr++)
                for (int lact = 1; lact <= 12; lact++) {
                    const int vwp = bio->vwp[lact < 3 ? lact : 3];
                    for (int mim = 1; mim <= 24; mim++) {
                        const bool is_low = mim >= 4 && (bio->milkyield[curr][lact][mim][0][12] / 30.4 < bio->minmilk ||
                                                         bio->rev[curr][lact][mim][0][12] / 30.4 < bio->minrev);
                        const short d = pol->decision[curr][lact][mim][0][t];
                        low += is_low;
                        open_replaced += d == 0 && !is_low;
                        EXPECT_TRUE(d == 0 || !is_low);
                        for (int mpreg = 1; mpreg <= 9; mpreg++) {
                            const bool reached = mim - mpreg >= vwp && mim - mpreg <= bio->lbm;
                            EXPECT_EQ(pol->decision[curr][lact][mim][mpreg][t], reached ? 1 : 8);
                        }
                    }
                }
        EXPECT_GT(low, 0);
        if (policy == POLICY_KEEPALL) {
            EXPECT_EQ(open_replaced, 0); /* not even in months 1..3 */
        } else {
            EXPECT_GT(open_replaced, 0);
        }
    }
}

TEST(ExampleHerd, PolicyRunWritesItsFilesAndReadsThePolicyBack)
{
    ScratchDir dir;
    WRITE_EXAMPLE("herd.bio", "71", "OPTIMAL");
    ASSERT_EQ(RUN_PROGRAM("herd.bio"), 0);
    std::string console = READ_TEXT("console.txt");
    EXPECT_NE(console.find("\n DP_POLICY done ... "), std::string::npos);
    EXPECT_EQ(READ_TEXT("msg.txt"), "32 - EXE completed");
    const std::string solved = READ_TEXT("holstein.pol");
    EXPECT_EQ(std::count(solved.begin(), solved.end(), '\n'), 43200);
    const std::string del_text = READ_TEXT("holstein.del");
    EXPECT_EQ(std::count(del_text.begin(), del_text.end(), '\n'), 12 * 15 * 12 * 276);
    EXPECT_TRUE(FILE_EXISTS("holstein.rpo"));

    /* the stored policy, read instead of solved, is written back unchanged */
    std::rename("holstein.pol", "solved.pol");
    WRITE_TEXT("holstein.pol", solved);
    WRITE_EXAMPLE("herd.bio", "71", "USE_POL");
    ASSERT_EQ(RUN_PROGRAM("herd.bio"), 0);
    console = READ_TEXT("console.txt");
    EXPECT_EQ(console.find("DP_POLICY"), std::string::npos);
    EXPECT_NE(console.find("\n READ_POL_FILE done ..."), std::string::npos);
    EXPECT_EQ(READ_TEXT("holstein.pol"), solved);
}

TEST(ExampleHerd, NotConvergedRunsNothingFromTheBioFile)
{
    ScratchDir dir;
    WRITE_EXAMPLE("herd.bio", "71", "OPTIMAL", "x; touch pwned #");
    READ_EXAMPLE_HERD("herd.bio");
    ASSERT_EQ(biofiletime.rfind("x; touch pwned #", 0), 0u);
    struct Limit {
        Limit() { DP_SET_STAGE_LIMIT(5); }
        ~Limit() { DP_SET_STAGE_LIMIT(10000); }
    } limit;
    short status = 1;
    const std::string log = RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(log.find("\n 5 calc:-1 w:12 sea: 8 fut:"), std::string::npos);
    EXPECT_NE(log.find("\n DP_POLICY not converged, biofiletime = " + biofiletime +
                       "\a\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE done ..."),
              std::string::npos);
    EXPECT_FALSE(FILE_EXISTS("pwned"));
    EXPECT_EQ(READ_TEXT("msg.txt"), "19 - DP convergence failed");
    /* the warm file holds the buffer the last stage read (stage 4's) */
    char first[64];
    std::snprintf(first, sizeof first, "%f\n0.000000\n", fut->heifer[0] - fut->heifer_now);
    EXPECT_EQ(READ_TEXT("warm.txt").rfind(first, 0), 0u);
}
