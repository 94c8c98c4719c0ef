// The dynamic program on the example herd: policy invariants in process.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <string>

#include "bio/bio.h"
#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp/dp_herd.h"
#include "core/records.h"
#include "support/bio_text.h"
#include "support/support.h"

namespace {

/* A bio file (the example herd by default) read into bio, without
** interest (the fast case). */
void READ_EXAMPLE_HERD(const std::string& file = source_path("examples/holstein_lb.bio"))
{
    CLEAR_DP_RECORDS();
    runname = file;
    capture_console();
    const short read = READ_BIO_FILE();
    BIO_PROBABILITY();
    captured_console();
    ASSERT_EQ(read, 0);
    ASSERT_EQ(bio->maxlact, 12);
    bio->interest = 0.0;
}

/* Open states (class, lactation, month in milk, slot) the policy replaces. */
std::set<std::array<int, 4>> replaced_open_cows()
{
    std::set<std::array<int, 4>> out;
    for (int t = 1; t <= 24; t++)
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 12; lact++)
                for (int mim = 1; mim <= 24; mim++)
                    if (pol->decision[curr][lact][mim][0][t] == DEC_REPLACE)
                        out.insert({curr, lact, mim, t});
    return out;
}

/* The example herd solved under `policy` with the daily milk minimum
** `minmilk` (the file's own when negative); the open cows it replaces. */
std::set<std::array<int, 4>> solve_example(short policy, double minmilk = -1.0)
{
    READ_EXAMPLE_HERD();
    if (minmilk >= 0.0)
        bio->minmilk = minmilk;
    short status = 0;
    RUN_DP(policy, status);
    EXPECT_EQ(status, 1);
    return replaced_open_cows();
}

bool includes(const std::set<std::array<int, 4>>& big, const std::set<std::array<int, 4>>& small)
{
    return std::includes(big.begin(), big.end(), small.begin(), small.end());
}

} // namespace

/* Keeping every cow still replaces the low producers: a cow milking less
** than the herd's minimum (or earning less than its minimum revenue) from
** her fourth month in milk on.  Lower yield classes milk less, so a class
** that is replaced takes every class below it along; a higher minimum only
** adds cows; keeping just the pregnant cows replaces those and more. */
TEST(ExampleHerd, KeepAllAndKeepPreg)
{
    ScratchDir dir;
    const auto keepall = solve_example(POLICY_KEEPALL);
    EXPECT_FALSE(keepall.empty());
    for (const auto& [curr, lact, mim, t] : keepall) {
        EXPECT_GE(mim, 4) << "class " << curr << " lactation " << lact << " slot " << t;
        for (int lower = 1; lower < curr; lower++)
            EXPECT_EQ(keepall.count({lower, lact, mim, t}), 1u)
                << "class " << lower << " kept below replaced class " << curr << ", lactation " << lact
                << " month " << mim << " slot " << t;
    }
    /* pregnant cows are all kept, in the states a conception can reach */
    for (int t = 1; t <= 24; t++)
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 12; lact++) {
                const int vwp = bio->vwp[lact < 3 ? lact : 3];
                for (int mim = 1; mim <= 24; mim++)
                    for (int mpreg = 1; mpreg <= 9; mpreg++) {
                        const bool reached = mim - mpreg >= vwp && mim - mpreg <= bio->lbm;
                        EXPECT_EQ(pol->decision[curr][lact][mim][mpreg][t], reached ? DEC_KEEP : DEC_NONE);
                    }
            }

    /* with a minimum above the lowest classes' peak, whole classes are low
    ** producers, yet none is replaced before her fourth month */
    const auto keepall_high = solve_example(POLICY_KEEPALL, 60.0);
    EXPECT_TRUE(includes(keepall_high, keepall));
    EXPECT_GT(keepall_high.size(), keepall.size());
    for (const auto& state : keepall_high)
        EXPECT_GE(state[2], 4);

    const auto keeppreg = solve_example(POLICY_KEEPPREG);
    EXPECT_TRUE(includes(keeppreg, keepall));
    EXPECT_GT(keeppreg.size(), keepall.size());
}

TEST(ExampleHerd, NotConvergedRunsNothingFromTheBioFile)
{
    ScratchDir dir;
    write_text("herd.bio", set_items(edit(example_text(), "", 0, "x; touch pwned #"),
                                     {{ITEM_ANALYSIS, "71"}, {ITEM_INTEREST, "0"}}));
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
    EXPECT_NE(log.find("\n DP_POLICY not converged, biofiletime = " + biofiletime + "\a"), std::string::npos);
    EXPECT_FALSE(file_exists("pwned"));
    EXPECT_EQ(read_text("msg.txt"), "19 - DP convergence failed");
    /* values that did not settle are no start for a later run */
    EXPECT_EQ(log.find("WRITE_WARM_FILE"), std::string::npos);
    EXPECT_FALSE(file_exists("warm.txt"));
}
