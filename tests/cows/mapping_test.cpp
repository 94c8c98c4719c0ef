// The mapping of a cow onto the model's state, on the example herd's bio
// record: every class bound, every month bound, the caps and the nearest
// state of a pregnancy the model does not have.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "bio/bio.h"
#include "cows/cow_value.h"
#include "cows/ranked_list.h"
#include "core/records.h"
#include "support/support.h"

namespace {

/* The example herd's bio record: vwp 2 in every lactation, last breeding
** month 12, 12 lactations, dry in months 8 and 9 of pregnancy. */
class Mapping : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        allocate_records();
        ScratchDir dir;
        capture_console();
        runname = source_path("examples/holstein_kg.bio");
        const short status = READ_BIO_FILE();
        captured_console();
        ASSERT_EQ(status, 0);
        ASSERT_EQ(bio->vwp[1], 2);
        ASSERT_EQ(bio->vwp[3], 2);
        ASSERT_EQ(bio->lbm, 12);
    }

    static CowFacts cow(int lact, double dim, double dcc, double rel_yield)
    {
        CowFacts f;
        f.lact = lact;
        f.dim = dim;
        f.dcc = dcc;
        f.has_rel_yield = true;
        f.rel_yield = rel_yield;
        f.sea = 5;
        return f;
    }
};

/* A day count as a cow list writes it, "91.2" rather than 3 x 30.4. */
double days(double value, double shift = 0.0)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value + shift);
    return std::stod(text);
}

TEST_F(Mapping, ClassBoundsBelongToTheLowerClass)
{
    for (int curr = 1; curr <= 14; curr++) {
        const double bound = 74.0 + 4.0 * (curr - 1);
        EXPECT_EQ(YIELD_CLASS(bound), curr) << bound;
        EXPECT_EQ(YIELD_CLASS(bound + 0.01), curr + 1) << bound;
        EXPECT_EQ(YIELD_CLASS(bound - 0.01), curr) << bound;
    }
    EXPECT_EQ(YIELD_CLASS(0.0), 1);
    EXPECT_EQ(YIELD_CLASS(400.0), 15);
    EXPECT_EQ(YIELD_CLASS(1e300), 15);
}

TEST_F(Mapping, MonthBoundsAtEvery30Point4Days)
{
    for (int m = 1; m <= 25; m++) {
        EXPECT_EQ(MODEL_MONTH(days(m * 30.4)), m + 1) << m * 30.4;
        EXPECT_EQ(MODEL_MONTH(days(m * 30.4, -0.1)), m) << m * 30.4 - 0.1;
    }
    EXPECT_EQ(MODEL_MONTH(0.0), 1);
    EXPECT_EQ(MODEL_MONTH(1e300), 10001);

    CowState s = MAP_COW(cow(2, days(23 * 30.4, -0.1), 0, 100));
    EXPECT_EQ(s.mim, 23);
    EXPECT_EQ(s.note, "");
    s = MAP_COW(cow(2, days(23 * 30.4), 0, 100));
    EXPECT_EQ(s.mim, 24);
    EXPECT_EQ(s.note, "");
    s = MAP_COW(cow(2, days(24 * 30.4), 0, 100));
    EXPECT_EQ(s.mim, 24);
    EXPECT_NE(s.note.find("month in milk 25 valued as 24"), std::string::npos) << s.note;
}

TEST_F(Mapping, PregnancyMonthsAndTheirCap)
{
    // dim keeps the conception month (mim - mpreg) inside the window.
    struct Case {
        double dcc;
        int mpreg;
    } cases[] = {{0.0, 0}, {0.5, 1}, {30.3, 1}, {30.4, 2}, {243.1, 8}, {243.2, 9}, {273.6, 9}, {304.0, 9}};
    for (const Case& c : cases) {
        const double dim = c.dcc + 3 * 30.4 + 10;
        const CowState s = MAP_COW(cow(2, dim, c.dcc, 100));
        EXPECT_EQ(s.mpreg, c.mpreg) << c.dcc;
        if (c.mpreg > 0) {
            EXPECT_GE(s.mim - s.mpreg, 2) << c.dcc;
            EXPECT_LE(s.mim - s.mpreg, 12) << c.dcc;
        }
        EXPECT_EQ(s.note, "") << c.dcc;
    }
}

TEST_F(Mapping, PregnancyOutsideTheWindowTakesTheNearestMonthInMilk)
{
    // Conceived in month 1, before the waiting period ends.
    CowState s = MAP_COW(cow(2, 35, 10, 100));
    EXPECT_EQ(s.mpreg, 1);
    EXPECT_EQ(s.mim, 3);
    EXPECT_NE(s.note.find("conceived in month in milk 1, outside the breeding window 2-12: valued at month "
                          "in milk 3"),
              std::string::npos)
        << s.note;
    // Conceived in month 15, after the last breeding month.
    s = MAP_COW(cow(2, 500, 40, 100));
    EXPECT_EQ(s.mpreg, 2);
    EXPECT_EQ(s.mim, 14);
    EXPECT_NE(s.note.find("conceived in month in milk 15"), std::string::npos) << s.note;
    // The window's own ends are states the model has.
    s = MAP_COW(cow(2, days(2 * 30.4), 1, 100));
    EXPECT_EQ(s.mim, 3);
    EXPECT_EQ(s.note, "");
    s = MAP_COW(cow(2, days(13 * 30.4), days(1 * 30.4), 100));
    EXPECT_EQ(s.mim - s.mpreg, 12);
    EXPECT_EQ(s.note, "");
}

TEST_F(Mapping, LactationAboveTheHighestIsTheHighest)
{
    const short saved = bio->maxlact;
    bio->maxlact = 8;
    CowState s = MAP_COW(cow(8, 100, 0, 100));
    EXPECT_EQ(s.lact, 8);
    EXPECT_EQ(s.note, "");
    s = MAP_COW(cow(9, 100, 0, 100));
    EXPECT_EQ(s.lact, 8);
    EXPECT_EQ(s.note, "lactation 9 valued as 8, the model's highest");
    bio->maxlact = saved;
}

TEST_F(Mapping, TestDayMilkAgainstTheAverageCowOfHerState)
{
    CowFacts f = cow(3, 100, 0, 0);
    f.has_rel_yield = false;
    f.has_milk = true;
    const double average = bio->milkyield[8][3][4][0][5] / 30.4;
    ASSERT_GT(average, 20.0);
    f.milk = average * 1.08;
    CowState s = MAP_COW(f);
    EXPECT_EQ(s.curr, 10);
    EXPECT_NEAR(s.rel_yield, 108.0, 1e-9);

    // Dry (pregnant 8 months): no average to compare with, an average cow.
    f.dim = 300;
    f.dcc = 230;
    f.milk = 0.0;
    s = MAP_COW(f);
    EXPECT_EQ(s.mpreg, 8);
    EXPECT_EQ(s.curr, 8);
    EXPECT_STREQ(s.error, "");
    EXPECT_NE(s.note.find("dry: valued as an average cow"), std::string::npos) << s.note;
    f.has_milk = false;
    EXPECT_EQ(MAP_COW(f).curr, 8);

    // Milking, with no figure: her row cannot be valued.
    f.dcc = 0;
    s = MAP_COW(f);
    EXPECT_STREQ(s.error, "missing value");
    EXPECT_STREQ(s.error_column, "milk");
}

// The ranked list's fast fixed-point text is printf's, ties and signs included.
TEST(FixedText, SameTextAsPrintf)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> wide(-5000.0, 5000.0);
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -0.5, 0.125, 0.375, 1.005, 2.675, -0.004, 1e16, -1e20,
                                  99.995, 0.045, 123.45};
    for (int i = 0; i < 200000; i++)
        values.push_back(wide(rng));
    for (int i = 0; i < 20000; i++) // on and near the ties of two decimals
        values.push_back(std::nextafter((i + 0.5) / 100.0, i % 2 ? 1e9 : -1e9));
    char mine[400];
    char theirs[400];
    for (double x : values)
        for (int decimals = 0; decimals <= 3; decimals++) {
            const int n = FIXED_TEXT(mine, sizeof mine, x, decimals);
            std::snprintf(theirs, sizeof theirs, "%.*f", decimals, x);
            ASSERT_EQ(std::string(mine, static_cast<std::size_t>(n)), theirs) << x << " " << decimals;
        }
}

} // namespace
