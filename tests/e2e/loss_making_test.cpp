// Herds that lose money, as in a milk-price slump: the value of an empty
// herd place then falls below the not-applicable marker, and the solver's
// choices, the projection and the report must stay sound.  Also the
// property every solved policy must have: no other policy, constrained or
// solved for another price level, projects more cash on the same herd.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "support/bio_text.h"
#include "support/report.h"
#include "support/support.h"

namespace {

/* The example herd's breeding window (months in milk of insemination). */
constexpr int FIRST_BREEDING_MIM = 2;
constexpr int LAST_BREEDING_MIM = 12;

/* What a solved policy may fall short of another by: the iteration stops
** when the yearly cash value repeats within 0.0005, and the projection
** starts from a herd that is steady only to the chain's own tolerance. */
constexpr double CASH_TOLERANCE = 0.5; /* $/cow/year */

void expect_completed(int status)
{
    EXPECT_EQ(status, 0) << read_text("console.txt").substr(0, 4000);
    EXPECT_EQ(read_text("msg.txt"), "32 - EXE completed");
}

/* Decision 2 (inseminate) only for open cows inside the breeding window. */
void expect_insemination_only_in_window(const std::string& pol)
{
    std::stringstream in(pol);
    std::string line;
    std::getline(in, line); /* heifer entry by slot */
    int lines = 0, inseminations = 0;
    while (std::getline(in, line)) {
        std::stringstream words(line);
        int t, curr, lact, mpreg;
        ASSERT_TRUE(words >> t >> curr >> lact >> mpreg) << line;
        lines++;
        for (int mim = 1; mim <= 24; mim++) {
            int d;
            ASSERT_TRUE(words >> d) << line;
            if (d != 2)
                continue;
            inseminations++;
            ASSERT_EQ(mpreg, 0) << "pregnant cow inseminated: " << line;
            ASSERT_TRUE(mim >= FIRST_BREEDING_MIM && mim <= LAST_BREEDING_MIM)
                << "inseminated at month in milk " << mim << ": " << line;
        }
    }
    EXPECT_EQ(lines, 43200);
    EXPECT_GT(inseminations, 0) << "a loss-making herd still breeds its cows";
}

} // namespace

/* Flat 16 $/cwt without interest, and flat 17 $/cwt at 2 %: the place
** loses more than the marker is worth.  The runs complete, insemination
** stays in the breeding window, the projection meets no decision it cannot
** carry out, and the report holds figures only. */
TEST(LossMakingHerds, RunSoundly)
{
    struct Variant {
        const char* golden;
        const char* assignments;
        bool undiscounted; /* the first year then earns what the solver valued */
    };
    for (const Variant& v : {Variant{"loss_16cwt", "interest=0 milk_price=16", true},
                             Variant{"loss_17cwt_2pct", "interest=0.02 milk_price=17", false}}) {
        SCOPED_TRACE(v.golden);
        ScratchDir dir;
        make_herd(v.assignments);
        expect_completed(run_program("herd.bio"));
        const std::string console = read_text("console.txt");
        EXPECT_EQ(console.find("error"), std::string::npos) << "the projection met an impossible state";
        if (v.undiscounted) {
            EXPECT_EQ(console.find("MARKOV_CHAIN_STATS: difference"), std::string::npos);
        }
        expect_insemination_only_in_window(read_text("holstein.pol"));
        const Report report = read_report("holstein.res");
        ASSERT_FALSE(report.text.empty());
        EXPECT_EQ(report.text.find("-9999"), std::string::npos) << "the marker was averaged as a value";
        EXPECT_LT(report.year_value("cash_cyr", 1), 0.0) << "the variant is meant to lose money";
        EXPECT_GOLDEN(v.golden);
    }
}

/* On the example herd without interest and on its 16 $/cwt variant, the
** solved policy projects at least the first-year cash of keeping every
** pregnant cow, of keeping every cow, and of the policy solved for the
** other price level, read back from its file. */
TEST(LossMakingHerds, NoPolicyBeatsTheOptimum)
{
    struct Level {
        const char* name;
        const char* assignments;
    };
    const Level levels[2] = {{"example", "interest=0"}, {"16cwt", "interest=0 milk_price=16"}};
    for (int i = 0; i < 2; i++) {
        const Level& level = levels[i];
        const Level& other = levels[1 - i];
        SCOPED_TRACE(level.name);
        ScratchDir dir;

        make_herd(std::string(other.assignments) + " analysis=71");
        expect_completed(run_program("herd.bio"));
        ASSERT_EQ(std::rename("holstein.pol", "other.pol"), 0);

        auto cash_under = [&](const std::string& policy) {
            make_herd(std::string(level.assignments) + " writerpo=NO " + policy);
            expect_completed(run_program("herd.bio"));
            const Report report = read_report("holstein.res");
            EXPECT_EQ(report.text.find("-9999"), std::string::npos) << policy;
            return report.year_value("cash_cyr", 1);
        };
        const double optimal = cash_under("policy=OPTIMAL");
        EXPECT_GE(optimal + CASH_TOLERANCE, cash_under("policy=KEEPPREG"));
        EXPECT_GE(optimal + CASH_TOLERANCE, cash_under("policy=KEEPALL"));
        EXPECT_GE(optimal + CASH_TOLERANCE, cash_under("policy=USE_POL polfile=other.pol"))
            << "the policy solved for " << other.name;
    }
}
