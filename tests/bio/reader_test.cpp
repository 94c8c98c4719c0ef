// The bio file reader: the example herd, the derived tables and their
// worked numbers, the keyword rules, and the handling of bad files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/bio_text.h"
#include "support/support.h"

namespace {

class Reader : public testing::Test {
protected:
    void SetUp() override { allocate_records(); }
    ScratchDir dir;
};

/* A flat 30 a day in month in milk 3 of lactation 1, body weight 600,
** fat 3.5 and no spread between cows: class 8 gives 912 a month. */
std::string worked_example(const std::string& units)
{
    std::string t = edit(example_text(), "", 4, units);
    t = edit(t, H_CURVE1, 3, repeat("30", 12));
    t = edit(t, H_WEIGHT, 3, "600 600");
    return edit(t, H_WRITE, AT_FEED, "0.12 0.09 28 3.5 0 0.6");
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
    EXPECT_EQ(runname + rpofile + delfile + mkvfile + resfile + polfile,
              "holsteinholstein.rpoholstein.delholstein.mkvholstein.resholstein.pol");
    EXPECT_EQ(bio->kg, 0);
    EXPECT_EQ(bio->vwp[1], 2);
    EXPECT_EQ(bio->lbm, 12);
    EXPECT_EQ(bio->maxmim, 24);
    EXPECT_EQ(bio->policy, POLICY_OPTIMAL);
    EXPECT_EQ(bio->writepol + bio->writerpo + bio->ci_adjust, 3);
    EXPECT_EQ(bio->milk_mpreg[0], 1.0);
    EXPECT_DOUBLE_EQ(bio->p_milk[13], 0.192); /* per hundredweight in the file */
    for (int m = 5; m <= 24; m++)
        EXPECT_EQ(bio->vetcost[m], bio->vetcost[4]);

    /* pregnancy adds to the open weight; later lactations copy the second */
    EXPECT_DOUBLE_EQ(bio->bodyweight[1][5][3], bio->bodyweight[1][5][0] + 10);
    EXPECT_DOUBLE_EQ(bio->bodyweight[7][5][3], bio->bodyweight[2][5][0] + 10);
    EXPECT_DOUBLE_EQ(bio->sel[3][5][4], bio->bodyweight[2][5][0] * 1.08);
    /* lactations past 3 follow lactation 3 by their factor; dry cows give 0 */
    EXPECT_NEAR(bio->milkyield[8][5][4][0][6], bio->milkyield[8][3][4][0][6] * 0.99, 1e-9);
    EXPECT_EQ(bio->milkyield[8][2][20][8][3], 0.0);
}

TEST_F(Reader, WorkedIntakeInKilogramsAndPounds)
{
    ReadResult r = read_bio_text(worked_example("KG"));
    ASSERT_EQ(r.status, 0) << r.console;
    ASSERT_EQ(bio->kg, 1);
    EXPECT_NEAR(bio->milkyield[8][1][3][0][5], 912.0, 1e-9);
    EXPECT_NEAR(INTAKE_LAG(3), 0.93845, 5e-6);
    /* without body weight only the fat-corrected milk term is left */
    EXPECT_NEAR(LACTATING_INTAKE(912.0, 0.0, 3, 3.5, true) / 30.4 / 0.372, 27.75, 1e-9);
    EXPECT_NEAR(bio->dmi[8][1][3][0][5] / 30.4, 21.336, 5e-4);
    EXPECT_NEAR(bio->dmi[8][1][3][0][5], 648.61, 5e-3);

    double sales = 912.0 * bio->p_milk[5];
    double feed = 648.61 * bio->p_lactfeed + bio->lactcost * 30.4;
    double labour = bio->lacttime / 60.0 * bio->wage + bio->vetcost[3];
    EXPECT_NEAR(bio->iofc[8][1][3][0][5], sales - feed, 0.01);
    EXPECT_NEAR(bio->rev[8][1][3][0][5], sales - feed - labour, 0.01);
    EXPECT_NEAR(bio->rev[8][1][3][0][17], 912.0 * bio->p_milk[17] - feed - labour, 0.01);

    r = read_bio_text(worked_example("LB"));
    ASSERT_EQ(bio->kg, 0);
    EXPECT_NEAR(bio->dmi[8][1][3][0][5] / 2.204624 / 30.4, 10.769, 5e-4);
    EXPECT_NEAR(bio->dmi[8][1][3][0][5], 721.77, 5e-3);
}

TEST_F(Reader, DryAndLactatingStates)
{
    std::string t = edit(worked_example("LB"), H_CURVE1, 4, repeat("0", 12));
    ReadResult r = read_bio_text(edit(t, H_CURVE1, 5, repeat("0.01", 12)));
    ASSERT_EQ(r.status, 0) << r.console;
    /* a dry cow eats the dry ration; income over feed cost prices it as
    ** lactating feed with the lactating daily cost */
    double intake = bio->drydmi * 30.4;
    EXPECT_DOUBLE_EQ(bio->dmi[8][1][4][0][2], intake);
    EXPECT_EQ(bio->labortime[8][1][4][0][2], bio->drytime);
    EXPECT_NEAR(bio->rev[8][1][4][0][2],
                -(intake * bio->p_dryfeed + bio->drycost * 30.4 + bio->drytime / 60 * bio->wage +
                  bio->vetcost[4]),
                1e-9);
    EXPECT_NEAR(bio->iofc[8][1][4][0][2], -(intake * bio->p_lactfeed + bio->lactcost * 30.4), 1e-9);
    /* a trickle of milk makes a lactating cow; month 1 adds the fresh time */
    EXPECT_EQ(bio->labortime[8][1][5][0][2], bio->lacttime);
    EXPECT_EQ(bio->labortime[8][1][1][0][2], bio->lacttime + bio->freshtime);
}

TEST_F(Reader, StartMonthPlacesTheSeries)
{
    std::string first, second;
    for (int f = 1; f <= 12; f++) {
        first += std::to_string(f) + " ";
        second += std::to_string(f + 12) + " ";
    }
    std::string t = edit(edit(example_text(), H_PRICES, 1, first), H_PRICES, 2, second);
    t = edit(t, H_SERVE, 1, "YES yes NO no Y free free free free free free free");
    ReadResult r = read_bio_text(edit(t, H_WRITE, AT_START, "MAR"));
    ASSERT_EQ(r.status, 0) << r.console;
    const int index_of[25] = {0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1, 2,
                              15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 13, 14};
    for (int f = 1; f <= 24; f++)
        EXPECT_EQ(bio->p_heifer[index_of[f]], f) << "model month " << f;
    const short serve[8] = {0, 8, 8, 1, 1, 0, 0, 8};
    for (int m = 1; m <= 7; m++)
        EXPECT_EQ(bio->serve[m], serve[m]) << m;
}

TEST_F(Reader, KeywordCasesLimitsAndLastMonth)
{
    std::string t = edit(example_text(), "", 4, "kg");
    t = edit(t, H_WRITE, 1, "yes YES");
    t = edit(t, H_WRITE, AT_CI, "yes");
    t = edit(t, H_WRITE, AT_POLICY, "KEEPPREG");
    t = edit(t, H_PRICES, 3, "18.5 " + repeat("20", 11));
    t = edit(t, "Involuntary disposal factor", 1, "1.3 " + repeat("1", 11));
    t = edit(t, "Involuntary disposal per month", 1, repeat("1", 12));
    t = edit(t, H_CONC, 1, "0.6 " + repeat("0.4", 11));
    t = edit(t, H_ABORT, AT_CONCLACT, "2.0 " + repeat("1", 11));
    t = edit(t, H_ABORT, AT_LBM, "16");
    ReadResult r = read_bio_text(edit(t, H_WRITE, AT_MAXMIM, "15"));
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(bio->kg, 0);
    EXPECT_EQ(bio->writepol, 0);
    EXPECT_EQ(bio->writerpo, 1);
    EXPECT_EQ(bio->ci_adjust, 0);
    EXPECT_EQ(bio->policy, POLICY_KEEPPREG);
    EXPECT_DOUBLE_EQ(bio->p_milk[1], 0.185);
    EXPECT_EQ(bio->pind[1][1][1], 1.0); /* 1.3 limited to 1 */
    EXPECT_EQ(bio->conceptionrate[1][2][1], 1.0);
    EXPECT_DOUBLE_EQ(bio->conceptionrate[1][2][2], 0.8);
    EXPECT_DOUBLE_EQ(bio->conceptionrate[0][2][1], 0.6);
    EXPECT_EQ(bio->lbm, 15);
    EXPECT_EQ(bio->maxmim, 24); /* not above the last breeding month */

    r = read_bio_text(edit(t, H_WRITE, AT_MAXMIM, "16"));
    EXPECT_EQ(bio->maxmim, 16);
    r = read_bio_text(edit(t, H_WRITE, AT_POLICY, "KEEPALL"));
    EXPECT_EQ(bio->policy, POLICY_KEEPALL);
    r = read_bio_text(edit(t, H_WRITE, AT_POLICY, "USE_POL"));
    EXPECT_EQ(bio->policy, POLICY_USE_POL);
}

TEST_F(Reader, FirstLineKeepsAtMost24Characters)
{
    ReadResult r = read_bio_text(edit(example_text(), "", 0, "123456789012345678901234"));
    EXPECT_EQ(biofiletime, "123456789012345678901234");
    EXPECT_EQ(runname, "holstein");

    r = read_bio_text(edit(example_text(), "", 0, "Run of 8 Dec 2026 with new prices"));
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(biofiletime, "Run of 8 Dec 2026 with n");
    EXPECT_EQ(runname, "holstein");
    EXPECT_NE(r.console.find("first line longer than 24"), std::string::npos);
}

TEST_F(Reader, ValuesOutsideTheirRangeEndTheRun)
{
    const std::string ex = example_text();
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {edit(ex, "", 2, "2"), "item 3 (warm start flag): 2 is outside 0..1"},
        {edit(ex, "", 5, "5"), "item 6 (analysis mode): 5 is not 1, 2, 3 or 71"},
        {edit(ex, "Milk factor", 1, "1e308 " + repeat("1", 8)), "item 7 (milk factor by month of pregnancy): \"1e308\" is outside 0..10"},
        {edit(ex, H_CURVE1, 2, "-5 " + repeat("60", 11)), "item 8 (milk curve of lactation 1): \"-5\" is outside 0..500"},
        {edit(ex, "Involuntary disposal per", 1, "1.5 " + repeat("0.01", 11)), "item 12 (involuntary disposal by month in milk): \"1.5\""},
        {edit(ex, H_ABORT, 1, "-1 " + repeat("0.01", 7)), "item 13 (abortion risk): \"-1\" is outside 0..1"},
        {edit(ex, H_ABORT, AT_LBM, "2"), "item 15 (last breeding month): 2 is before the waiting period of lactation 1 3"},
        {edit(ex, H_HEAT, 1, "-0.5 " + repeat("0.5", 11)), "item 19 (heat detection rate): \"-0.5\" is outside 0..1"},
        {edit(ex, H_HEAT, 1, "1e308 " + repeat("0.5", 11)), "item 19 (heat detection rate): \"1e308\""},
        {edit(ex, H_WEIGHT, 1, "-1289.7 1430"), "item 22 (open body weight): \"-1289.7\" is outside"},
        {edit(ex, H_WEIGHT, 1, "0 1430"), "item 22 (open body weight): a weight must be above 0"},
        {edit(ex, H_PRICES, 3, "1e308 " + repeat("19", 11)), "item 26 (milk price): \"1e308\" is outside 0..1e+07"},
        {edit(ex, H_WRITE, AT_POLICY, "optimal"), "item 29 (policy): \"optimal\" is not OPTIMAL"},
        {edit(ex, H_WRITE, AT_MAXMIM + 1, "15 -2 -1 50 0.6"), "item 31 (interest rate): \"-1\" is outside 0..1"},
        {edit(ex, H_WRITE, AT_MAXMIM + 1, "15 -2 0.05 50 -0.6"), "item 31 (sale value factor): \"-0.6\""},
        {edit(ex, H_WRITE, AT_FEED, "0.12 0.09 28 -1e308 11 0.6"), "item 33 (milk fat percentage): \"-1e308\""},
        {edit(ex, H_WRITE, AT_FEED + 2, "30 12 -8 6"), "item 34 (veterinary cost): \"-8\" is outside"},
        {ex.substr(0, ex.rfind("1.00 0.99")) + "1e308" + repeat(" 1", 8) + "\n", "item 36 (lactation factor): \"1e308\""},
        {edit(ex, "", 1, std::string("holstein a\0b.rpo d m r p", 24)), "item 2: the rpo file name holds a NUL character"},
    };
    for (const auto& c : cases) {
        ReadResult r = read_bio_text(c.text);
        EXPECT_EQ(r.ended, 1) << c.message;
        EXPECT_NE(r.console.find("test.bio, " + std::string(c.message)), std::string::npos)
            << c.message << " in\n" << r.console.substr(r.console.size() > 600 ? r.console.size() - 600 : 0);
    }
    /* The bounds themselves are valid. */
    std::string t = edit(ex, H_HEAT, 1, "1 " + repeat("0", 11));
    t = edit(t, H_ABORT, AT_LBM, "3");
    t = edit(t, H_WRITE, AT_MAXMIM + 1, "0 -2 1 0 0");
    ReadResult r = read_bio_text(t);
    EXPECT_EQ(r.status, 0) << r.console.substr(0, 400);
}

TEST_F(Reader, BadFilesEndTheRun)
{
    const std::string ex = example_text();
    const std::size_t heat4 = line_start(ex, H_HEAT, 4);
    const std::string longname(MAX_NAME_LENGTH + 1, 'r');
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {edit(ex, H_HEAT, 3, "0.5 abc " + repeat("0.5", 10)),
         "test.bio, item 19 (heat detection rate): a number expected, found \"abc\""},
        {edit(ex, H_ABORT, AT_VWP, "3 3.0 3"), "item 14 (waiting period of lactation 2): a whole"},
        {edit(ex, H_ABORT, AT_VWP, "3 3 3x"), "found \"3x\""},
        {edit(ex, H_ABORT, AT_VWP, "3 3 99999"), "found \"99999\""},
        {edit(ex, "", 2, "1e0"), "item 3 (warm start flag): a whole number expected"},
        {edit(ex, H_PRICES, 1, "2900 nan " + repeat("1", 10)), "item 26 (heifer price)"},
        {edit(ex, H_PRICES, 1, "1e999 " + repeat("1", 11)), "found \"1e999\""},
        {ex.substr(0, heat4), "test.bio, item 19 (heat detection rate): the file ends early"},
        {ex.substr(0, ex.rfind("1.00 0.99")), "item 36 (lactation factor): the file ends"},
        {ex.substr(0, ex.find("Heifer entry")), "item 25 (heifer entry switches): the file"},
        {"", "item 2 (run name): the file ends early"},
        {edit(ex, H_ABORT, AT_MAXLACT, "13"), "item 17 (highest lactation): 13 is outside 1..12"},
        {edit(ex, H_ABORT, AT_MAXLACT, "0"), "item 17 (highest lactation): 0 is outside 1..12"},
        {edit(ex, H_WRITE, AT_MAXMIM, "25"), "item 30 (highest month in milk): 25 is outside"},
        {edit(ex, H_ABORT, AT_LBM, "25"), "item 15 (last breeding month): 25 is outside 1..16"},
        {edit(ex, H_ABORT, AT_LBM, "0"), "item 15 (last breeding month): 0 is outside"},
        {edit(ex, H_ABORT, AT_VWP, "0 3 3"), "item 14 (waiting period of lactation 1): 0 is"},
        {edit(ex, H_WRITE, AT_START, "Mar"),
         "\n start_sea error\n READ_BIO_FILE: test.bio, item 28 (start month): \"Mar\" is not JAN..DEC\a@"},
        {edit(ex, H_WRITE, AT_FEED, "0.12 0.09 28 3.9 -1 0.6"), "(yield standard deviation)"},
        {edit(ex, H_WRITE, AT_FEED, "0.12 0.09 28 3.9 11 1.5"), "(yield correlation)"},
        {edit(ex, H_HEAT, 0, "Heat detection rate, mim 2-15 x JAN-DEC, fraction 0-1"),
         "item 19 (heat detection rate): a number expected, found \"0-1\""},
        {edit(ex, "", 1, "run " + longname + " d m r p"),
         "item 2: the rpo file name is longer than 4095 characters"},
    };
    for (const auto& c : cases) {
        ReadResult r = read_bio_text(c.text);
        EXPECT_EQ(r.status, -1) << c.message;
        EXPECT_EQ(r.ended, 1) << c.message;
        EXPECT_NE(r.console.find(c.message), std::string::npos) << c.message << " in\n"
                                                                << r.console;
        EXPECT_NE(r.console.find("\a@"), std::string::npos) << c.message;
        EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");
    }
    /* the longest name, heading and skipped line accepted */
    std::string t = edit(ex, "", 1, "run r d m s " + longname.substr(1));
    t = edit(t, H_HEAT, 0, "Heat detection rate, mim 2-15 x JAN-DEC, fraction");
    ReadResult r = read_bio_text(edit(t, "Notes", 1, std::string(449, 'n')));
    ASSERT_EQ(r.status, 0) << r.console.substr(0, 400);
    EXPECT_EQ(polfile.size(), MAX_NAME_LENGTH);
}

TEST_F(Reader, ProgramEndsWithStatusOneOnABadFile)
{
    write_text("bad.bio", edit(example_text(), H_CONC, 2, "0.4 0.4 x"));
    EXPECT_EQ(run_program("bad.bio"), 1);
    std::string console = read_text("console.txt");
    EXPECT_NE(console.find("bad.bio, item 20 (conception rate): a number expected, found \"x\""),
              std::string::npos)
        << console;
    EXPECT_EQ(console.find("BIO_PROBABILITY"), std::string::npos);
    EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");

    EXPECT_EQ(run_program("missing.bio"), 1);
    EXPECT_NE(read_text("console.txt").find("\n READ_BIO_FILE: file open failure:missing.bio (No such file or directory)\a@"),
              std::string::npos);
}

TEST_F(Reader, KilogramExampleIsThePoundHerd)
{
    read_bio_text(example_text());
    const double rev = bio->rev[8][2][3][0][4], milk = bio->milkyield[8][2][3][0][4];
    ReadResult r = read_bio_text(example_text("examples/holstein_kg.bio"));
    ASSERT_EQ(r.status, 0) << r.console;
    ASSERT_EQ(bio->kg, 1);
    EXPECT_NEAR(bio->rev[8][2][3][0][4], rev, 0.01 * std::fabs(rev));
    EXPECT_NEAR(bio->milkyield[8][2][3][0][4] * 2.2046, milk, 0.01 * milk);
}
