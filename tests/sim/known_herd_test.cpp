// Herds whose every event is certain (rates 0 or 1, no yield variation, no
// test-day measurement error): the records and the figures are known
// exactly.  And the same seed gives the same bytes on one thread or two.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "csv_reader.h"
#include "markov/herd_fixture.h"
#include "sim/sim_figures.h"
#include "sim/sim_records.h"
#include "sim_test_support.h"
#include "support/support.h"

namespace {

constexpr int PLACES = 3;
constexpr int YEARS = 3;
constexpr int START_MONTH = 2020 * 12; /* January 2020 */

/* The hand-made herd with certain events: no disposals or abortions, every
** heat detected and every service conceiving. */
void certain_herd()
{
    BUILD_HAND_HERD(0.0);
    for (int m = 0; m < NMIM; m++)
        for (int s = 0; s < NSEA; s++) {
            bio->heatdetectionrate[m][s] = 1.0;
            for (int l = 0; l < NLACT; l++)
                bio->conceptionrate[l][m][s] = 1.0;
        }
    for (int p = 0; p < NMPREG; p++)
        bio->abort[p] = 0.0;
}

std::string fixed3(double x)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", x);
    return text;
}

class KnownHerd : public testing::Test {
protected:
    static void SetUpTestSuite() { allocate_records(); }
    ScratchDir dir;
};

/* Each heifer enters in January 2020, is served and conceives in her
** second month in milk, calves nine months later, and so on: services in
** Feb 2020, Jan 2021, Dec 2021, Nov 2022; calvings in Nov 2020, Oct 2021,
** Sep 2022 (the third lactation, the model's last, starts again).  She is
** dry in her eighth and ninth months of pregnancy. */
TEST_F(KnownHerd, RecordsAreExactlyThePredictedOnes)
{
    certain_herd();
    SimSetup setup = setup_and_chain(PLACES, YEARS, 36);
    setup.test_day_cv = 0.0;
    setup.herd_name = "known";
    SimRecords records(setup.herd_name);
    std::string error;
    ASSERT_TRUE(records.open("rec", error)) << error;
    const std::vector<SimReplicate> reps = RUN_REPLICATES(setup, 7, 1, 1, &records);
    ASSERT_EQ(reps[0].bad_state, "");
    ASSERT_TRUE(records.commit(error)) << error;

    const CsvTable cows = read_csv("rec/cows.csv");
    ASSERT_EQ(cows.rows.size(), 3u);
    const CsvTable exits = read_csv("rec/exits.csv");
    ASSERT_EQ(exits.rows.size(), 3u);
    for (auto& row : exits.rows) {
        EXPECT_EQ(row.at("entry"), "2020-01-01");
        EXPECT_EQ(row.at("entry_reason"), "bought");
        EXPECT_EQ(row.at("date"), "");
        EXPECT_EQ(row.at("reason"), "");
    }

    const CsvTable ins = read_csv("rec/inseminations.csv");
    std::map<std::string, std::vector<int>> ins_months;
    for (auto& row : ins.rows)
        ins_months[row.at("cow")].push_back(parse_month(row.at("date")) - START_MONTH);
    ASSERT_EQ(ins_months.size(), 3u);
    for (auto& [cow, months] : ins_months)
        EXPECT_EQ(months, (std::vector<int>{1, 12, 23, 34})) << "cow " << cow;

    const CsvTable calvings = read_csv("rec/calvings.csv");
    std::map<std::string, std::vector<std::pair<int, std::string>>> calv;
    for (auto& row : calvings.rows)
        calv[row.at("cow")].push_back({parse_month(row.at("date")) - START_MONTH, row.at("lact")});
    for (auto& [cow, list] : calv)
        EXPECT_EQ(list, (std::vector<std::pair<int, std::string>>{{10, "2"}, {21, "3"}, {32, "4"}})) << cow;

    /* Every test day: the state's daily yield exactly, in the months the
    ** cow milks (30 of 36), one a month. */
    const CsvTable tests = read_csv("rec/tests.csv");
    std::map<std::string, std::set<int>> test_months;
    for (auto& row : tests.rows) {
        const int month = parse_month(row.at("date"));
        const int mim = month - parse_month(row.at("calving"));
        ASSERT_GE(mim, 1);
        const double daily = (700.0 - 20.0 * mim) * (0.8 + 0.03 * 8) / DAYS_PER_MONTH;
        EXPECT_EQ(row.at("milk"), fixed3(daily)) << row.at("date");
        EXPECT_TRUE(test_months[row.at("cow")].insert(month - START_MONTH).second);
    }
    for (auto& [cow, months] : test_months) {
        EXPECT_EQ(months.size(), 30u) << cow;
        for (int dry : {9, 10, 20, 21, 31, 32})
            EXPECT_EQ(months.count(dry), 0u) << "cow " << cow << " tested while dry in month " << dry;
    }

    /* Two checks after each service; the last service's first check may
    ** fall after the records end.  Every cow is pregnant when checked. */
    const CsvTable checks = read_csv("rec/pregnancy_checks.csv");
    std::map<std::string, int> per_cow;
    for (auto& row : checks.rows) {
        EXPECT_EQ(row.at("result"), "pregnant");
        per_cow[row.at("cow")]++;
    }
    for (auto& [cow, n] : per_cow)
        EXPECT_TRUE(n == 6 || n == 7) << cow << ": " << n;
}

/* With every event certain each replicate is the chain's herd: the figures
** have no spread and equal the chain's. */
TEST_F(KnownHerd, FiguresAreTheChainsWithoutSpread)
{
    certain_herd();
    const SimSetup setup = setup_and_chain(PLACES, YEARS, 36);
    const std::vector<SimReplicate> reps = RUN_REPLICATES(setup, 11, 5, 2, nullptr);
    for (const char* label : {"cash_cyr", "eaa_cyr", "milkyield_cyr", "milksales_cyr", "feedcost_cyr",
                              "heifercost_cyr", "calfsales_cyr", "laborcost_cyr", "vetcost_cyr", "othercost_cyr",
                              "breedingsupplycost_cyr", "clvinterval", "daysopen", "daystoconc", "pregnancyrate0",
                              "opendays", "cash_cwt"}) {
        const SimFigure* f = SIM_FIGURE(label);
        ASSERT_NE(f, nullptr) << label;
        for (int yr = 1; yr <= YEARS; yr++) {
            const SimEstimate e = ESTIMATE_FIGURE(*f, yr, reps, PLACES);
            const double chain = chain_figure(label, yr);
            EXPECT_NEAR(e.value, chain, 1e-9 * (1.0 + std::fabs(chain))) << label << " year " << yr;
            EXPECT_NEAR(e.se, 0.0, 1e-9 * (1.0 + std::fabs(chain))) << label << " year " << yr;
        }
    }
    /* No cow leaves: the herd life of a year without culls is no number,
    ** and the summary leaves it empty. */
    const std::string summary = SUMMARY_TEXT(reps, PLACES, YEARS);
    EXPECT_NE(summary.find("\nherdlife,1,cow,,,,,,,\n"), std::string::npos);
    EXPECT_NE(summary.find("\ncullrateall,1,cow,0.000000,0.000000,"), std::string::npos);
}

/* A policy without a valid decision for a state the herd reaches, or with
** a heifer-entry switch that is neither 0 nor 1, is named, not followed. */
TEST_F(KnownHerd, AnInvalidPolicyIsNamed)
{
    certain_herd();
    const SimSetup setup = setup_and_chain(PLACES, 1, 36);
    pol->decision[8][1][4][2][4] = DEC_NONE; /* April, the heifers' second month pregnant */
    std::vector<SimReplicate> reps = RUN_REPLICATES(setup, 1, 2, 2, nullptr);
    EXPECT_EQ(reps[0].bad_state, "curr 8 lact 1 mim 4 mpreg 2 policy month 4: decision 8");
    pol->decision[8][1][4][2][4] = DEC_KEEP;
    pol->enter[3] = 5;
    reps = RUN_REPLICATES(setup, 1, 1, 1, nullptr);
    EXPECT_EQ(reps[0].bad_state, "heifer entry switch 5 in policy month 3");
}

/* One random stream per replicate: the same seed gives the same summary
** and records on one thread or two and in either order; another seed gives
** other herds. */
TEST_F(KnownHerd, SameSeedSameBytesOnAnyThreads)
{
    BUILD_HAND_HERD(0.02);
    const SimSetup setup = setup_and_chain(40, 2, 36);
    auto run = [&](std::uint64_t seed, int threads, bool backwards, const char* folder) {
        SimRecords records("h");
        std::string error;
        EXPECT_TRUE(records.open(folder, error)) << error;
        const std::vector<SimReplicate> reps = RUN_REPLICATES(setup, seed, 9, threads, &records, backwards);
        EXPECT_TRUE(records.commit(error)) << error;
        std::string all = SUMMARY_TEXT(reps, setup.places, setup.years);
        for (const char* name : SimRecords::FILE_NAMES)
            all += read_text(std::string(folder) + "/" + name);
        return all;
    };
    const std::string one = run(5, 1, false, "a");
    EXPECT_EQ(run(5, 2, false, "b"), one);
    EXPECT_EQ(run(5, 2, true, "c"), one);
    EXPECT_NE(run(6, 2, false, "d"), one);
    EXPECT_NE(one.find("\ncash_cyr,2,herd,"), std::string::npos);
}

} // namespace
