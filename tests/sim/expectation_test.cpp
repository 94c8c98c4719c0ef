// The simulated herds average out to the chain's herd: every yearly figure
// with a per-cow meaning agrees with the chain's within 4 standard errors.
// A wrong transition mass, money term or order of events in either program
// shows up here.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/sim_figures.h"
#include "sim_test_support.h"
#include "support/bio_text.h"
#include "support/support.h"

namespace {

/* 1,000 places x 3 years x 80 replicates: 240,000 place-years a herd, of
** which at least 200,000 cow-years (places are empty between a cow and the
** next heifer). */
constexpr int PLACES = 1000;
constexpr int YEARS = 3;
constexpr int REPLICATES = 80;
constexpr double MIN_COW_YEARS = 200000.0;
constexpr std::uint64_t SEED = 20261209;
constexpr double TOLERANCE_SE = 4.0;

const char* const COMPARED[] = {"cash_cyr",       "milkyield_cyr", "milksales_cyr", "feedcost_cyr", "heifercost_cyr",
                                "cowsales_cyr",   "calfsales_cyr", "cullrateall",   "cullratevol",  "cullrateinv",
                                "clvinterval",    "daysopen",      "herdlife"};

/* Simulates the herd whose policy and start herd the records hold and
** compares every compared figure of years 1-3 with the chain's. */
void expect_chain_agrees(const char* herd, unsigned short months, int replicates = REPLICATES)
{
    const SimSetup setup = setup_and_chain(PLACES, YEARS, months);
    const std::vector<SimReplicate> reps = RUN_REPLICATES(setup, SEED, replicates, 2, nullptr);
    double cow_months = 0.0;
    for (const SimReplicate& r : reps) {
        ASSERT_EQ(r.bad_state, "");
        for (const SimYear& y : r.years)
            cow_months += y.sum[SUM_PRESENT];
    }
    EXPECT_GE(cow_months / 12.0, MIN_COW_YEARS) << herd;
    for (const char* label : COMPARED) {
        const SimFigure* f = SIM_FIGURE(label);
        ASSERT_NE(f, nullptr) << label;
        for (int yr = 1; yr <= YEARS; yr++) {
            const SimEstimate e = ESTIMATE_FIGURE(*f, yr, reps, setup.places);
            const double chain = chain_figure(label, yr);
            /* a figure without spread must agree to rounding */
            const double allowed = TOLERANCE_SE * e.se + 1e-9 * (1.0 + std::fabs(chain));
            EXPECT_NEAR(e.value, chain, allowed)
                << herd << " " << label << " year " << yr << ": simulated " << e.value << " +- " << e.se
                << " (" << (e.value - chain) / (e.se > 0 ? e.se : 1) << " SE)";
        }
    }
}

class ChainExpectation : public testing::Test {
protected:
    static void SetUpTestSuite() { allocate_records(); }
    ScratchDir dir;

    /* Solves the herd of herd.bio as the command does and finds its start
    ** herd (console hidden). */
    static void prepare_herd()
    {
        capture_console();
        OBTAIN_SIM_POLICY("herd.bio");
        FIND_START_HERD();
        captured_console();
    }
};

TEST_F(ChainExpectation, ExampleHerdInPounds)
{
    make_herd("", "examples/holstein_lb.bio");
    prepare_herd();
    expect_chain_agrees("lb example", 36);
}

TEST_F(ChainExpectation, ExampleHerdInKilograms)
{
    make_herd("", "examples/holstein_kg.bio");
    prepare_herd();
    expect_chain_agrees("kg example", 36);
}

/* No interest, no insemination in June, July and August, and heifers that
** enter only in March and September: months with empty places and
** seasons without conceptions. */
TEST_F(ChainExpectation, SeasonalBreedingAndEntry)
{
    make_herd("interest=0 serve[6]=NO serve[7]=NO serve[8]=NO serve[18]=NO serve[19]=NO serve[20]=NO "
              "enter=NO enter[3]=YES enter[9]=YES enter[15]=YES enter[21]=YES",
              "examples/holstein_kg.bio");
    prepare_herd();
    expect_chain_agrees("seasonal kg", 36);
}

TEST_F(ChainExpectation, KeepPregnantCowsAtSixPercent)
{
    make_herd("policy=KEEPPREG interest=0.06", "examples/holstein_kg.bio");
    prepare_herd();
    expect_chain_agrees("KEEPPREG kg", 36);
}

/* A stored herd projected with discounting (analysis 2): the yearly money
** is discounted within the year, cow sales and losses one month further. */
TEST_F(ChainExpectation, StoredHerdWithDiscounting)
{
    make_herd("", "examples/holstein_kg.bio");
    prepare_herd();
    /* the steady state just found becomes the stored herd of analysis 2 */
    bio->analysis = 2;
    expect_chain_agrees("stored kg, analysis 2", MAXT);
}

/* Analysis 3 from the stored herd: no heifer ever enters, the herd
** dwindles. */
TEST_F(ChainExpectation, StoredHerdWithoutEntry)
{
    make_herd("", "examples/holstein_kg.bio");
    prepare_herd();
    bio->analysis = 3;
    /* the dwindling herd needs more herds for its cow-years */
    expect_chain_agrees("stored kg, analysis 3", MAXT, 120);
}

/* Analysis 3 from an empty herd: a whole herd of heifers in month 1, and
** none after. */
TEST_F(ChainExpectation, WholeHerdOfHeifersAtTheStart)
{
    make_herd("", "examples/holstein_kg.bio");
    prepare_herd();
    bio->analysis = 3;
    capture_console();
    RESET_MKV_RECORD(RESET_ALL_SLOTS, MAXT);
    captured_console();
    expect_chain_agrees("heifers only, analysis 3", MAXT, 100);
}

} // namespace
