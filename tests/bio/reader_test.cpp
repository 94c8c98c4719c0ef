// The bio file reader: the example herd, the derived tables and their
// worked numbers, the keyword rules, and the handling of bad files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bio_text.h"

namespace {

class Reader : public testing::Test {
protected:
    void SetUp() override { ALLOCATE_RECORDS(); }
    ScratchDir dir;
};

/* The example with one flat milk curve of 30 a day in month in milk 3,
** body weight 600 there, fat 3.5 and no variation between cows, so that
** class 8 gives 912 a month. */
std::string worked_example(const std::string& units)
{
    std::string t = example_text();
    t = with_line(t, 5, units);
    t = with_line_after(t, H_CURVE1, 3, repeat("30", 12));
    t = with_line_after(t, H_WEIGHT, 3, "600 600");
    t = with_line_after(t, H_WRITE, AT_FEED, "0.12 0.09 28 3.5 0 0.6");
    return t;
}

/* Ends the run with status 1 and a console message holding every piece. */
void expect_ended(const ReadResult& r, std::initializer_list<const char*> pieces)
{
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.ended, 1);
    for (const char* p : pieces)
        EXPECT_NE(r.console.find(p), std::string::npos) << "missing \"" << p << "\" in\n"
                                                        << r.console;
    EXPECT_NE(r.console.find("\a@"), std::string::npos) << "no pause";
    EXPECT_EQ(READ_TEXT("msg.txt"), " STOP(): check Morvenda.EXE");
}

} // namespace

TEST_F(Reader, ExampleHerdReadsWholly)
{
    ReadResult r = read_bio_text(example_text());
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(r.console.rfind("\n READ_BIO_FILE started ... test.bio", 0), 0u);
    EXPECT_NE(r.console.find(" version: 1.0"), std::string::npos);
    EXPECT_NE(r.console.find("\n READ_BIO_FILE done ..."), std::string::npos);
    EXPECT_EQ(r.console.find("\a"), std::string::npos) << "no pause on a sound file";

    EXPECT_EQ(biofiletime, "Holstein lb 2026-12-08\n");
    EXPECT_EQ(runname, "holstein");
    EXPECT_EQ(rpofile, "holstein.rpo");
    EXPECT_EQ(delfile, "holstein.del");
    EXPECT_EQ(mkvfile, "holstein.mkv");
    EXPECT_EQ(resfile, "holstein.res");
    EXPECT_EQ(polfile, "holstein.pol");
    EXPECT_EQ(warmstart, 0);
    EXPECT_EQ(bio->kg, 0);
    EXPECT_EQ(bio->analysis, 1);
    EXPECT_EQ(bio->vwp[1], 2);
    EXPECT_EQ(bio->lbm, 12);
    EXPECT_EQ(bio->maxlact, 12);
    EXPECT_EQ(bio->maxmim, 24);
    EXPECT_EQ(bio->start_sea, 1);
    EXPECT_EQ(bio->policy, POLICY_OPTIMAL);
    EXPECT_EQ(bio->writepol, 1);
    EXPECT_EQ(bio->writerpo, 1);
    EXPECT_EQ(bio->ci_adjust, 1);
    EXPECT_EQ(bio->milk_mpreg[0], 1.0);
    EXPECT_DOUBLE_EQ(bio->p_milk[1], 0.192);
    EXPECT_DOUBLE_EQ(bio->p_milk[13], 0.192);
    EXPECT_EQ(bio->serve[5], 8);
    EXPECT_EQ(bio->enter[17], 8);
    EXPECT_DOUBLE_EQ(bio->abort[2], 0.02);
    EXPECT_EQ(bio->abort[1], 0.0);

    /* pregnancy adds to the open weight; later lactations copy the second */
    EXPECT_DOUBLE_EQ(bio->bodyweight[1][5][3], bio->bodyweight[1][5][0] + 10);
    EXPECT_DOUBLE_EQ(bio->bodyweight[7][5][3], bio->bodyweight[2][5][0] + 10);
    EXPECT_DOUBLE_EQ(bio->bodyweight[7][5][0], bio->bodyweight[2][5][0]);
    EXPECT_DOUBLE_EQ(bio->sel[3][5][4], bio->bodyweight[2][5][0] * 1.08);

    /* the vet cost of month 4 holds for the rest of the lactation */
    for (int m = 5; m <= 24; m++)
        EXPECT_EQ(bio->vetcost[m], bio->vetcost[4]);

    /* lactations past 3 follow lactation 3 times their factor */
    EXPECT_NEAR(bio->milkyield[8][5][4][0][6], bio->milkyield[8][3][4][0][6] * 0.99, 1e-9);
    /* cows are dry in the last two months of pregnancy */
    EXPECT_EQ(bio->milkyield[8][2][20][8][3], 0.0);
}

TEST_F(Reader, WorkedIntakeInKilograms)
{
    ReadResult r = read_bio_text(worked_example("KG"));
    ASSERT_EQ(r.status, 0) << r.console;
    ASSERT_EQ(bio->kg, 1);
    EXPECT_EQ(bio->smy[8], 100.0);
    EXPECT_NEAR(bio->milkyield[8][1][3][0][5], 912.0, 1e-9);
    EXPECT_NEAR(INTAKE_LAG(3), 0.93845, 5e-6);
    /* without body weight only the fat-corrected milk term is left */
    EXPECT_NEAR(LACTATING_INTAKE(912.0, 0.0, 3, 3.5, true) / 30.4 / 0.372, 27.75, 1e-9);
    EXPECT_NEAR(bio->dmi[8][1][3][0][5] / 30.4, 21.336, 5e-4);
    EXPECT_NEAR(bio->dmi[8][1][3][0][5], 648.61, 5e-3);

    /* feed and daily costs come off both revenue and income over feed */
    double milk_sales = 912.0 * bio->p_milk[5];
    double feed = 648.61 * bio->p_lactfeed + bio->lactcost * 30.4;
    EXPECT_NEAR(bio->iofc[8][1][3][0][5], milk_sales - feed, 0.01);
    double labour = bio->lacttime / 60.0 * bio->wage + bio->vetcost[3];
    EXPECT_NEAR(bio->rev[8][1][3][0][5], milk_sales - feed - labour, 0.01);
    EXPECT_NEAR(bio->rev[8][1][3][0][17], 912.0 * bio->p_milk[17] - feed - labour, 0.01);
}

TEST_F(Reader, WorkedIntakeInPounds)
{
    ReadResult r = read_bio_text(worked_example("LB"));
    ASSERT_EQ(r.status, 0) << r.console;
    ASSERT_EQ(bio->kg, 0);
    EXPECT_NEAR(bio->dmi[8][1][3][0][5] / 2.204624 / 30.4, 10.769, 5e-4);
    EXPECT_NEAR(bio->dmi[8][1][3][0][5], 721.77, 5e-3);
}

TEST_F(Reader, DryAndLactatingStates)
{
    std::string t = worked_example("LB");
    t = with_line_after(t, H_CURVE1, 4, repeat("0", 12));
    t = with_line_after(t, H_CURVE1, 5, repeat("0.01", 12));
    ReadResult r = read_bio_text(t);
    ASSERT_EQ(r.status, 0) << r.console;

    /* a dry cow eats the dry ration; her income over feed cost prices it
    ** as lactating feed with the lactating daily cost */
    double intake = bio->drydmi * 30.4;
    EXPECT_EQ(bio->milkyield[8][1][4][0][2], 0.0);
    EXPECT_DOUBLE_EQ(bio->dmi[8][1][4][0][2], intake);
    EXPECT_EQ(bio->labortime[8][1][4][0][2], bio->drytime);
    EXPECT_NEAR(bio->rev[8][1][4][0][2],
                -(intake * bio->p_dryfeed + bio->drycost * 30.4 + bio->drytime / 60 * bio->wage +
                  bio->vetcost[4]),
                1e-9);
    EXPECT_NEAR(bio->iofc[8][1][4][0][2], -(intake * bio->p_lactfeed + bio->lactcost * 30.4),
                1e-9);

    /* a trickle of milk makes a lactating cow */
    EXPECT_GE(bio->milkyield[8][1][5][0][2], 0.01);
    EXPECT_EQ(bio->labortime[8][1][5][0][2], bio->lacttime);
    EXPECT_EQ(bio->labortime[8][1][1][0][2], bio->lacttime + bio->freshtime);
}

TEST_F(Reader, StartMonthPlacesTheSeries)
{
    std::string t = example_text();
    std::string first, second;
    for (int f = 1; f <= 12; f++) {
        first += std::to_string(f) + " ";
        second += std::to_string(f + 12) + " ";
    }
    t = with_line_after(t, H_PRICES, 1, first);
    t = with_line_after(t, H_PRICES, 2, second);
    t = with_line_after(t, H_SERVE, 1, "YES yes NO no Y free free free free free free free");
    t = with_line_after(t, H_WRITE, AT_START, "MAR");
    ReadResult r = read_bio_text(t);
    ASSERT_EQ(r.status, 0) << r.console;
    ASSERT_EQ(bio->start_sea, 3);
    EXPECT_EQ(bio->p_heifer[3], 1);
    EXPECT_EQ(bio->p_heifer[12], 10);
    EXPECT_EQ(bio->p_heifer[1], 11);
    EXPECT_EQ(bio->p_heifer[2], 12);
    EXPECT_EQ(bio->p_heifer[15], 13);
    EXPECT_EQ(bio->p_heifer[24], 22);
    EXPECT_EQ(bio->p_heifer[13], 23);
    EXPECT_EQ(bio->p_heifer[14], 24);
    /* the switch keywords: YES/yes force, NO/no forbid, others are free */
    EXPECT_EQ(bio->serve[3], 1);
    EXPECT_EQ(bio->serve[4], 1);
    EXPECT_EQ(bio->serve[5], 0);
    EXPECT_EQ(bio->serve[6], 0);
    EXPECT_EQ(bio->serve[7], 8);
    EXPECT_EQ(bio->serve[1], 8);
}

TEST_F(Reader, KeywordsAreCaseSensitive)
{
    std::string t = example_text();
    t = with_line(t, 5, "kg");
    t = with_line_after(t, H_WRITE, AT_WRITES, "yes YES");
    t = with_line_after(t, H_WRITE, AT_CI, "yes");
    t = with_line_after(t, H_WRITE, AT_POLICY, "KEEPALL");
    ReadResult r = read_bio_text(t);
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(bio->kg, 0);
    EXPECT_EQ(bio->writepol, 0);
    EXPECT_EQ(bio->writerpo, 1);
    EXPECT_EQ(bio->ci_adjust, 0);
    EXPECT_EQ(bio->policy, POLICY_KEEPALL);

    r = read_bio_text(with_line_after(example_text(), H_WRITE, AT_POLICY, "KEEPPREG"));
    EXPECT_EQ(bio->policy, POLICY_KEEPPREG);
    r = read_bio_text(with_line_after(example_text(), H_WRITE, AT_POLICY, "USE_POL"));
    EXPECT_EQ(bio->policy, POLICY_USE_POL);
}

TEST_F(Reader, LastMonthInMilkFollowsLastBreedingMonth)
{
    std::string t = with_line_after(example_text(), H_ABORT, AT_LBM, "21");
    ReadResult r = read_bio_text(with_line_after(t, H_WRITE, AT_MAXMIM, "20"));
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(bio->lbm, 20);
    EXPECT_EQ(bio->maxmim, 24);
    r = read_bio_text(with_line_after(t, H_WRITE, AT_MAXMIM, "21"));
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(bio->maxmim, 21);
}

TEST_F(Reader, PricesRatesAndLimits)
{
    std::string t = example_text();
    t = with_line_after(t, H_PRICES, 3, "18.5 " + repeat("20", 11));
    t = with_line_after(t, H_PINDLACT, 1, "1.3 " + repeat("1", 11));
    t = with_line_after(t, H_PINDMIM, 1, repeat("1", 12));
    t = with_line_after(t, H_CONC, 1, "0.6 " + repeat("0.4", 11));
    t = with_line_after(t, H_ABORT, AT_MAXLACT + 1, "2.0 " + repeat("1", 11));
    ReadResult r = read_bio_text(t);
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_DOUBLE_EQ(bio->p_milk[1], 0.185);
    EXPECT_DOUBLE_EQ(bio->p_milk[2], 0.2);
    EXPECT_EQ(bio->pind[1][1][1], 1.0);   /* 1.3 limited to 1 */
    EXPECT_EQ(bio->pind[2][1][1], 1.0);
    EXPECT_EQ(bio->conceptionrate[1][2][1], 1.0); /* 2 x 0.6 limited */
    EXPECT_DOUBLE_EQ(bio->conceptionrate[1][2][2], 0.8);
    EXPECT_DOUBLE_EQ(bio->conceptionrate[0][2][1], 0.6);
    EXPECT_DOUBLE_EQ(bio->conceptionrate[3][2][2], 0.4);
}

TEST_F(Reader, FirstLineKeepsAtMost24Characters)
{
    ReadResult r = read_bio_text(with_line(example_text(), 1, "123456789012345678901234"));
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(biofiletime, "123456789012345678901234");
    EXPECT_EQ(runname, "holstein");

    r = read_bio_text(with_line(example_text(), 1, "Run of 8 Dec 2026 with new prices"));
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(biofiletime, "Run of 8 Dec 2026 with n");
    EXPECT_EQ(runname, "holstein");
    EXPECT_NE(r.console.find("first line longer than 24"), std::string::npos);

    r = read_bio_text(with_line(example_text(), 1, "short"));
    EXPECT_EQ(biofiletime, "short\n");
}

TEST_F(Reader, NegativeRatesPauseAndReadingGoesOn)
{
    std::string t = with_line_after(example_text(), H_CURVE1, 2, "-5 " + repeat("60", 11));
    t = with_line_after(t, H_HEAT, 1, "-0.5 " + repeat("0.5", 11));
    ReadResult r = read_bio_text(t);
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_NE(r.console.find("item 8 (milk curve of lactation 1): negative value -5"),
              std::string::npos);
    EXPECT_NE(r.console.find("item 19 (heat detection rate): negative value -0.5"),
              std::string::npos);
    EXPECT_EQ(bio->milkyield[8][1][2][0][1], 0.0);  /* negative yield becomes 0 */
    EXPECT_GT(bio->milkyield[8][1][2][0][2], 0.0);
    EXPECT_EQ(bio->heatdetectionrate[2][1], -0.5);  /* the value is kept */
}

TEST_F(Reader, UnknownPolicyFallsBackToStoredPolicy)
{
    ReadResult r = read_bio_text(with_line_after(example_text(), H_WRITE, AT_POLICY, "optimal"));
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_NE(r.console.find("\n bio->policy error\a@"), std::string::npos);
    EXPECT_EQ(bio->policy, POLICY_USE_POL);
    EXPECT_EQ(bio->maxmim, 24); /* reading went on */
}

TEST_F(Reader, MissingFileReturnsOne)
{
    RESET_RUN_VALUES();
    runname = "nowhere.bio";
    testing::internal::CaptureStdout();
    short status = READ_BIO_FILE();
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    EXPECT_NE(console.find("\n READ_BIO_FILE: file open failure:nowhere.bio\a@"),
              std::string::npos);
}

TEST_F(Reader, UnreadableTokensEndTheRun)
{
    std::string ex = example_text();
    expect_ended(read_bio_text(with_line_after(ex, H_HEAT, 3, "0.5 abc " + repeat("0.5", 10))),
                 {"test.bio", "item 19 (heat detection rate)", "\"abc\""});
    expect_ended(read_bio_text(with_line_after(ex, H_ABORT, AT_VWP, "3 3.0 3")),
                 {"item 14 (waiting period of lactation 2)", "\"3.0\""});
    expect_ended(read_bio_text(with_line_after(ex, H_ABORT, AT_VWP, "3 3 3x")),
                 {"item 14", "\"3x\""});
    expect_ended(read_bio_text(with_line(ex, 3, "1e0")), {"item 3 (warm start flag)", "\"1e0\""});
    expect_ended(read_bio_text(with_line_after(ex, H_PRICES, 1, "2900 nan " + repeat("1", 10))),
                 {"item 26 (heifer price)", "\"nan\""});
    expect_ended(read_bio_text(with_line_after(ex, H_PRICES, 1, "1e999 " + repeat("1", 11))),
                 {"item 26", "\"1e999\""});
}

TEST_F(Reader, EarlyEndOfFileEndsTheRun)
{
    std::string ex = example_text();
    /* cut inside the heat detection table */
    std::string cut = ex.substr(0, ex.find(line_after(ex, H_HEAT, 4)));
    expect_ended(read_bio_text(cut), {"test.bio", "item 19 (heat detection rate)", "ends early"});
    /* cut right before the last item */
    std::string last = line_after(ex, H_NOTES, 13);
    expect_ended(read_bio_text(ex.substr(0, ex.rfind(last))), {"item 36 (lactation factor)"});
    /* cut before a heading */
    expect_ended(read_bio_text(ex.substr(0, ex.find(H_ENTER))), {"item 25"});
    expect_ended(read_bio_text(""), {"item 2 (run name)"});
}

TEST_F(Reader, OutOfRangeCountsEndTheRun)
{
    std::string ex = example_text();
    expect_ended(read_bio_text(with_line_after(ex, H_ABORT, AT_MAXLACT, "13")),
                 {"item 17 (highest lactation): 13 is outside 1..12"});
    expect_ended(read_bio_text(with_line_after(ex, H_ABORT, AT_MAXLACT, "0")),
                 {"item 17 (highest lactation): 0 is outside 1..12"});
    expect_ended(read_bio_text(with_line_after(ex, H_WRITE, AT_MAXMIM, "25")),
                 {"item 30 (highest month in milk): 25 is outside 1..24"});
    expect_ended(read_bio_text(with_line_after(ex, H_ABORT, AT_LBM, "25")),
                 {"item 15 (last breeding month): 25 is outside 1..24"});
    expect_ended(read_bio_text(with_line_after(ex, H_ABORT, AT_LBM, "0")),
                 {"item 15 (last breeding month)"});
    expect_ended(read_bio_text(with_line_after(ex, H_ABORT, AT_VWP, "0 3 3")),
                 {"item 14 (waiting period of lactation 1): 0 is outside 1..24"});
    expect_ended(read_bio_text(with_line_after(ex, H_ABORT, AT_VWP, "3 3 99999")),
                 {"item 14", "\"99999\""});
    expect_ended(read_bio_text(with_line_after(ex, H_WRITE, AT_START, "Mar")),
                 {"\n start_sea error\a@"});
    expect_ended(read_bio_text(with_line_after(ex, H_WRITE, AT_FEED, "0.12 0.09 28 3.9 -1 0.6")),
                 {"item 33 (yield standard deviation)"});
    expect_ended(read_bio_text(with_line_after(ex, H_WRITE, AT_FEED, "0.12 0.09 28 3.9 11 1.5")),
                 {"item 33 (yield correlation)"});
}

TEST_F(Reader, OverlongNamesEndTheRun)
{
    std::string ex = example_text();
    std::string longname(MAX_NAME_LENGTH + 1, 'r');
    expect_ended(read_bio_text(with_line(ex, 2, "run " + longname + " d m r p")),
                 {"the rpo file name is longer than 4095 characters"});
    std::string fits(MAX_NAME_LENGTH, 'p');
    ReadResult r = read_bio_text(with_line(ex, 2, "run r d m s " + fits));
    ASSERT_EQ(r.status, 0) << r.console.substr(0, 300);
    EXPECT_EQ(polfile, fits);
}

TEST_F(Reader, KilogramExampleIsThePoundHerd)
{
    ReadResult r = read_bio_text(example_text("examples/holstein_lb.bio"));
    ASSERT_EQ(r.status, 0);
    double rev_lb = bio->rev[8][2][3][0][4];
    double m305_lb = bio->milkyield[8][2][3][0][4];
    double sel_lb = bio->sel[2][3][4];
    r = read_bio_text(example_text("examples/holstein_kg.bio"));
    ASSERT_EQ(r.status, 0) << r.console;
    ASSERT_EQ(bio->kg, 1);
    /* same money, milk in kilograms */
    EXPECT_NEAR(bio->rev[8][2][3][0][4], rev_lb, 0.01 * std::fabs(rev_lb));
    EXPECT_NEAR(bio->milkyield[8][2][3][0][4] * 2.2046, m305_lb, 0.01 * m305_lb);
    EXPECT_NEAR(bio->sel[2][3][4], sel_lb, 0.01 * sel_lb);
}

TEST_F(Reader, ProgramEndsWithStatusOneOnABadFile)
{
    std::string ex = example_text();
    WRITE_TEXT("bad.bio", with_line_after(ex, H_CONC, 2, "0.4 0.4 x"));
    EXPECT_EQ(RUN_PROGRAM("bad.bio"), 1);
    std::string console = READ_TEXT("console.txt");
    EXPECT_NE(console.find("bad.bio, item 20 (conception rate): a number expected, found \"x\""),
              std::string::npos)
        << console;
    EXPECT_EQ(READ_TEXT("msg.txt"), " STOP(): check Morvenda.EXE");
    EXPECT_EQ(console.find("BIO_PROBABILITY"), std::string::npos);

    EXPECT_EQ(RUN_PROGRAM("missing.bio"), 1);
    EXPECT_NE(READ_TEXT("console.txt").find("file open failure:missing.bio"), std::string::npos);
}
