// The example herd through the whole run: policy, steady herd, statistics.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "stats/stats_test_util.h"

namespace {

/* The yearly lines of a report by label: the values of years 1, 2, 3. */
std::map<std::string, std::vector<double>> yearly_figures(const std::string& text)
{
    std::map<std::string, std::vector<double>> out;
    std::vector<std::string> lines = LINES(text);
    std::size_t first = lines.size() >= 65 ? lines.size() - 65 : 0;
    for (std::size_t i = first; i < lines.size(); i++) {
        std::vector<std::string> f = FIELDS(lines[i]);
        if (f.size() < 4)
            continue;
        std::string label = f[3];
        for (std::size_t j = 4; j < f.size(); j++)
            label += " " + f[j];
        out[label] = {std::strtod(f[0].c_str(), nullptr), std::strtod(f[1].c_str(), nullptr),
                      std::strtod(f[2].c_str(), nullptr)};
    }
    return out;
}

/* The example herd with some items replaced, as herd.bio. */
std::string make_bio(const std::string& settings)
{
    std::string cmd = SOURCE_PATH("tools/bio-set") + " " + SOURCE_PATH("examples/holstein_lb.bio") + " " +
                      settings + " > herd.bio";
    return std::system(cmd.c_str()) == 0 ? READ_TEXT("herd.bio") : "";
}

} // namespace

TEST(HerdEndToEnd, FirstYearEarnsWhatTheDynamicProgramValued)
{
    if (!FILE_EXISTS(SOURCE_PATH("examples/holstein_lb.bio")))
        GTEST_SKIP() << "example herd not in the tree";
    ScratchDir dir;
    ASSERT_NE(make_bio("analysis=1 interest=0 resfile=herd.res"), "");
    ASSERT_EQ(RUN_PROGRAM("herd.bio"), 0);
    std::string log = READ_TEXT("console.txt");
    EXPECT_EQ(log.find("MARKOV_CHAIN_STATS: difference"), std::string::npos) << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
    EXPECT_NE(log.find("\n MARKOV_CHAIN_STATS done ..."), std::string::npos);
    EXPECT_NE(log.find("\n WRITE_MKV_STATS done ..."), std::string::npos);
    EXPECT_EQ(READ_TEXT("msg.txt"), "32 - EXE completed");

    std::string text = READ_TEXT("herd.res");
    ASSERT_FALSE(text.empty()) << "no statistics report written";
    auto y = yearly_figures(text);
    ASSERT_EQ(y.size(), 65u);

    double cull = y["cullrateall"][0];
    double herdlife = y["herdlife"][0];
    double ci = y["clvinterval"][0];
    double daysopen = y["daysopen"][0];
    double preg0 = y["pregnancyrate0"][0];
    double preg1 = y["pregnancyrate1"][0];
    double milk = y["milkyield_cyr"][0];
    double eaa = y["eaa_cyr"][0];
    double cash = y["cash_cyr"][0];
    std::printf("\n example herd: cullrate %.4f herdlife %.1f d calving interval %.2f mo"
                " daysopen %.1f d pregnancy rate %.4f (with delays %.4f) milk %.1f /cow/yr"
                " annuity %.2f /cow/yr cash %.2f /cow/yr dim %.1f daystoconc %.1f\n",
                cull, herdlife, ci, daysopen, preg0, preg1, milk, eaa, cash, y["dim"][0],
                y["daystoconc"][0]);
    // plausible for a commercial Holstein herd
    EXPECT_GT(cull, 0.15);
    EXPECT_LT(cull, 0.60);
    EXPECT_NEAR(herdlife, 30.4 * 12.0 / cull, 0.5);
    EXPECT_GT(ci, 12.0);
    EXPECT_LT(ci, 16.0);
    EXPECT_GT(preg1, 0.08);
    EXPECT_LT(preg1, 0.45);
    EXPECT_GT(y["dim"][0], 120.0);
    EXPECT_LT(y["dim"][0], 260.0);
}
