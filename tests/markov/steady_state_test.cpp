// The steady-state search of analysis 1: when it stops, and when it gives up.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "core/records.h"
#include "markov/markov.h"
#include "support/support.h"

namespace {

/* A stand-in for the 12-month projection: moves mass between two states of
** the stored slot by the amounts given, one per pass. */
struct StandInChain {
    std::vector<double> shifts;
    size_t pass = 0;
    void operator()()
    {
        double s = pass < shifts.size() ? shifts[pass] : shifts.back();
        pass++;
        mkv->pstate[1][1][1][0][2] -= s / 2;
        mkv->pstate[1][1][2][0][2] += s / 2;
    }
};

void clear_stored_slot()
{
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    mkv->pstate[c][l][m][p][2] = 0.0;
    mkv->pstate[1][1][1][0][2] = 0.5;
    mkv->pstate[1][1][2][0][2] = 0.5;
}

} // namespace

TEST(SteadyStateLoop, StopsAfterTheFirstPassWhenAlreadySteady)
{
    allocate_records();
    ScratchDir dir;
    bio->maxlact = 3;
    clear_stored_slot();
    StandInChain chain{{0.0}};
    capture_console();
    unsigned short passes = STEADY_STATE_LOOP(std::ref(chain));
    std::string console = captured_console();
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(console, "   steady-state conv:0.0000000 (1)");
    EXPECT_EQ(read_text("msg.txt"), "28 - Markov chain convergence: 0.0000000");
}

TEST(SteadyStateLoop, ConvergesWhenTheChangeFallsBelowTheLimit)
{
    allocate_records();
    ScratchDir dir;
    bio->maxlact = 3;
    clear_stored_slot();
    StandInChain chain{{1e-3, 1e-5, 1e-8}};
    capture_console();
    unsigned short passes = STEADY_STATE_LOOP(std::ref(chain));
    captured_console();
    EXPECT_EQ(passes, 3);
}

TEST(SteadyStateLoop, GivesUpOnTheFirstGrowingPassAfterOneHundred)
{
    allocate_records();
    ScratchDir dir;
    bio->maxlact = 3;
    clear_stored_slot();
    /* shrinking slowly for 104 passes, then growing */
    std::vector<double> shifts;
    for (int i = 0; i < 104; i++)
        shifts.push_back(1e-3 * std::pow(0.999, i));
    shifts.push_back(2e-3);
    StandInChain chain{shifts};
    capture_console();
    unsigned short passes = STEADY_STATE_LOOP(std::ref(chain));
    std::string console = captured_console();
    EXPECT_EQ(passes, 105);
    EXPECT_NE(console.find("\n\a convergence decreases, continue with current solution"),
              std::string::npos);
    EXPECT_EQ(read_text("msg.txt"), "29 - Markov chain convergence failed: 0.002000");
}

TEST(SteadyStateLoop, NeverRunsAFiveHundredAndFirstPass)
{
    allocate_records();
    ScratchDir dir;
    bio->maxlact = 3;
    clear_stored_slot();
    /* a change that shrinks too slowly to converge and never grows */
    std::vector<double> shifts;
    for (int i = 0; i < 600; i++)
        shifts.push_back(1e-3 * std::pow(0.9999, i) * (i % 2 == 0 ? 1 : -1));
    StandInChain chain{shifts};
    capture_console();
    unsigned short passes = STEADY_STATE_LOOP(std::ref(chain));
    std::string console = captured_console();
    EXPECT_EQ(passes, 500);
    EXPECT_EQ(chain.pass, 500u);
    EXPECT_NE(console.find("\n\a steady state not found in 500 iterations, continue with current solution"),
              std::string::npos);
    EXPECT_NE(read_text("msg.txt").find("29 - Markov chain convergence failed: "), std::string::npos);
}
