// Whole runs of the program on the example herd: every analysis and policy,
// both units, seasonal switches, fewer lactations, no yield variation and the
// warm start, each checked for the invariants that hold for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/bio_text.h"
#include "support/report.h"
#include "support/support.h"

namespace {

void expect_completed(int status)
{
    EXPECT_EQ(status, 0) << read_text("console.txt").substr(0, 4000);
    EXPECT_EQ(read_text("msg.txt"), "32 - EXE completed");
}

void expect_report_shape(const Report& r)
{
    EXPECT_EQ(r.labels.size(), 118u);
    ASSERT_EQ(r.rows.size(), 300u);
    for (size_t i = 0; i < r.rows.size(); i++) {
        ASSERT_EQ(r.rows[i].size(), 118u) << "row " << i + 1;
        EXPECT_EQ(r.rows[i][0], std::to_string(i + 1));
    }
    EXPECT_EQ(r.yearly.size(), 65u);
    for (const auto& row : r.rows)
        for (const auto& v : row)
            ASSERT_TRUE(v.find("nan") == std::string::npos && v.find("inf") == std::string::npos) << v;
}

/* Herd present (open + pregnant) in the collected months. */
void expect_full_herd(const Report& r, int months)
{
    for (int t = 1; t <= months; t++)
        EXPECT_NEAR(r.value(t, "present"), 1.0, 2e-6) << "month " << t;
}

/* The first year of a steady herd looks like a commercial Holstein herd. */
void expect_plausible_herd(const Report& r)
{
    const double cull = r.year_value("cullrateall", 1);
    EXPECT_GT(cull, 0.15);
    EXPECT_LT(cull, 0.60);
    EXPECT_NEAR(r.year_value("herdlife", 1), 30.4 * 12.0 / cull, 0.5);
    EXPECT_GT(r.year_value("clvinterval", 1), 12.0);
    EXPECT_LT(r.year_value("clvinterval", 1), 16.0);
    EXPECT_GT(r.year_value("pregnancyrate1", 1), 0.08);
    EXPECT_LT(r.year_value("pregnancyrate1", 1), 0.45);
    EXPECT_GT(r.year_value("dim", 1), 120.0);
    EXPECT_LT(r.year_value("dim", 1), 260.0);
}

bool console_has(const std::string& text)
{
    return read_text("console.txt").find(text) != std::string::npos;
}

/* A steady-state run without interest: its first projected year earns what
** the dynamic program valued, so the statistics print no difference line. */
void expect_cash_matches_solver()
{
    EXPECT_FALSE(console_has("MARKOV_CHAIN_STATS: difference")) << "first year must earn the solver's value";
}

} // namespace

/* The bundled example herds exactly as a user first runs them (interest 5 %,
** analysis 1, every file written). */
TEST(WholeRun, BundledExampleHerds)
{
    for (const char* example : {"holstein_lb", "holstein_kg"}) {
        SCOPED_TRACE(example);
        ScratchDir dir;
        expect_completed(run_program(source_path(std::string("examples/") + example + ".bio")));
        EXPECT_GOLDEN(std::string("example_") + example);
    }
}

TEST(WholeRun, SteadyStateInPoundsAndKilograms)
{
    for (const char* example : {"examples/holstein_lb.bio", "examples/holstein_kg.bio"}) {
        SCOPED_TRACE(example);
        ScratchDir dir;
        make_herd("interest=0", example);
        expect_completed(run_program("herd.bio"));
        expect_cash_matches_solver();
        EXPECT_TRUE(console_has("\n MARKOV_CHAIN_STATS done ..."));
        EXPECT_TRUE(console_has("\n WRITE_MKV_STATS done ..."));
        Report r = read_report("holstein.res");
        expect_report_shape(r);
        expect_full_herd(r, 36);
        EXPECT_EQ(r.value(37, "total_cash"), 0.0);
        expect_plausible_herd(r);
        EXPECT_TRUE(file_exists("holstein.pol"));
        EXPECT_TRUE(file_exists("holstein.rpo"));
        EXPECT_TRUE(file_exists("holstein.del"));
        EXPECT_TRUE(file_exists("holstein.mkv"));
        EXPECT_GOLDEN(std::string("steady_") + (std::string(example).find("_kg") != std::string::npos ? "kg" : "lb"));
    }
}

TEST(WholeRun, ProjectionsFromTheStoredHerd)
{
    ScratchDir dir;
    make_herd("analysis=1");
    expect_completed(run_program("herd.bio"));
    EXPECT_GOLDEN("stored_analysis1");

    make_herd("analysis=2");
    expect_completed(run_program("herd.bio"));
    EXPECT_GOLDEN("stored_analysis2");
    Report r2 = read_report("holstein.res");
    expect_report_shape(r2);
    expect_full_herd(r2, 300);

    make_herd("analysis=3");
    expect_completed(run_program("herd.bio"));
    EXPECT_GOLDEN("stored_analysis3");
    Report r3 = read_report("holstein.res");
    expect_report_shape(r3);
    /* no heifer enters a herd that is not empty */
    for (int t = 1; t <= 300; t++)
        EXPECT_EQ(r3.value(t, "heiferpool"), 0.0) << "month " << t;
}

TEST(WholeRun, PolicyOnlyAnalysis)
{
    ScratchDir dir;
    make_herd("analysis=71");
    expect_completed(run_program("herd.bio"));
    EXPECT_TRUE(file_exists("holstein.pol"));
    EXPECT_FALSE(file_exists("holstein.res"));
    EXPECT_GOLDEN("policy_only");
}

TEST(WholeRun, ConstrainedPolicies)
{
    for (const char* policy : {"KEEPPREG", "KEEPALL"}) {
        SCOPED_TRACE(policy);
        ScratchDir dir;
        make_herd(std::string("interest=0 policy=") + policy);
        expect_completed(run_program("herd.bio"));
        expect_cash_matches_solver();
        Report r = read_report("holstein.res");
        expect_report_shape(r);
        expect_full_herd(r, 36);
        EXPECT_GOLDEN(std::string("policy_") + policy);
        /* no pregnant cow is ever given the decision to replace */
        std::vector<std::string> lines = split_lines(read_text("holstein.pol"));
        ASSERT_EQ(lines.size(), 43201u);
        for (size_t i = 1; i < lines.size(); i++) {
            std::vector<std::string> w = split_fields(lines[i]);
            ASSERT_EQ(w.size(), 28u);
            if (w[3] == "0")
                continue;
            for (size_t k = 4; k < w.size(); k++)
                ASSERT_NE(w[k], "0") << lines[i];
        }
    }
}

TEST(WholeRun, StoredPolicyReadsBackToTheSameDecisions)
{
    ScratchDir dir;
    make_herd("analysis=71");
    expect_completed(run_program("herd.bio"));
    EXPECT_TRUE(console_has("\n DP_POLICY done ... "));
    std::string solved = read_text("holstein.pol");
    EXPECT_EQ(std::count(solved.begin(), solved.end(), '\n'), 43200);
    const std::string del_text = read_text("holstein.del");
    EXPECT_EQ(std::count(del_text.begin(), del_text.end(), '\n'), 12 * 15 * 12 * 276);
    EXPECT_TRUE(file_exists("holstein.rpo"));
    std::rename("holstein.pol", "solved.pol");

    /* the stored policy, read instead of solved, is written back unchanged */
    make_herd("analysis=1 policy=USE_POL polfile=solved.pol writerpo=NO");
    expect_completed(run_program("herd.bio"));
    EXPECT_FALSE(console_has("DP_POLICY"));
    EXPECT_TRUE(console_has("\n READ_POL_FILE done ..."));
    EXPECT_EQ(read_text("solved.pol"), solved) << "the pol file is rewritten unchanged";
    EXPECT_GOLDEN("use_pol");
    Report r = read_report("holstein.res");
    expect_report_shape(r);
    expect_full_herd(r, 36);
}

TEST(WholeRun, SeasonalSwitches)
{
    ScratchDir dir;
    /* no insemination in the summer months, no heifer entry in June-August */
    make_herd("interest=0 serve[6]=NO serve[7]=NO serve[8]=NO serve[18]=NO serve[19]=NO serve[20]=NO "
              "enter[6]=NO enter[7]=NO enter[8]=NO enter[18]=NO enter[19]=NO enter[20]=NO");
    expect_completed(run_program("herd.bio"));
    expect_cash_matches_solver();
    EXPECT_GOLDEN("seasonal");
    Report r = read_report("holstein.res");
    expect_report_shape(r);
    for (int t = 1; t <= 36; t++) {
        int sea = std::atoi(r.rows[t - 1][1].c_str());
        bool closed = sea >= 6 && sea <= 8;
        if (closed) {
            EXPECT_EQ(r.value(t, "heiferpool"), 0.0) << "month " << t;
            EXPECT_EQ(r.value(t, "mkv_enter"), 0.0) << "month " << t;
        } else {
            EXPECT_NEAR(r.value(t, "present"), 1.0, 2e-6) << "month " << t;
        }
    }
}

TEST(WholeRun, FewerLactationsAndNoYieldVariation)
{
    {
        ScratchDir dir;
        make_herd("interest=0 maxlact=4");
        expect_completed(run_program("herd.bio"));
        EXPECT_GOLDEN("maxlact4");
        /* cows kept in the last lactation calve into it again, in the
        ** projection as in the solver */
        expect_cash_matches_solver();
        Report r = read_report("holstein.res");
        expect_report_shape(r);
        expect_full_herd(r, 36);
        for (int l = 5; l <= 12; l++)
            EXPECT_EQ(r.value(l, "cows_lact"), 0.0) << "lactation " << l;
    }
    {
        ScratchDir dir;
        make_herd("interest=0 yield_sd=0");
        expect_completed(run_program("herd.bio"));
        EXPECT_GOLDEN("yield_sd0");
        expect_cash_matches_solver();
        Report r = read_report("holstein.res");
        expect_report_shape(r);
        expect_full_herd(r, 36);
        EXPECT_EQ(r.value(8, "smy_curr"), 100.0);
    }
}

TEST(WholeRun, WarmStartNeedsNoMoreStagesThanAColdStart)
{
    ScratchDir dir;
    make_herd("analysis=71 warmstart=1 interest=0.05");
    expect_completed(run_program("herd.bio", "console_cold.txt"));
    ASSERT_TRUE(file_exists("warm.txt"));
    EXPECT_GOLDEN("warm_cold");
    expect_completed(run_program("herd.bio", "console_warm.txt"));
    EXPECT_GOLDEN("warm_warm");
    auto stages = [](const std::string& console) {
        size_t at = console.find("DP_POLICY done ... ");
        EXPECT_NE(at, std::string::npos);
        return std::atof(console.c_str() + at + std::string("DP_POLICY done ... ").size());
    };
    EXPECT_LE(stages(read_text("console_warm.txt")), stages(read_text("console_cold.txt")));
    EXPECT_NE(read_text("console_warm.txt").find("READ_WARM_FILE done ... warm.txt read"), std::string::npos);
}
