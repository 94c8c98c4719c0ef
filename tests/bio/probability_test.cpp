// Yield classes, their transition rows and the shared numeric routines.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstring>

#include "core/numeric.h"
#include "support/bio_text.h"
#include "support/support.h"

namespace {

class Probability : public testing::Test {
protected:
    void SetUp() override { allocate_records(); }
    ScratchDir dir;

    /* Reads the example (with an edit) and runs the transitions. */
    std::string read_and_derive(const std::string& text)
    {
        ReadResult r = read_bio_text(text);
        EXPECT_EQ(r.status, 0) << r.console;
        capture_console();
        BIO_PROBABILITY();
        return captured_console();
    }
};

double row_sum(const double* row)
{
    double s = 0.0;
    for (int c = 1; c <= 15; c++)
        s += row[c];
    return s;
}

double row_mean(const double* row)
{
    double s = 0.0;
    for (int c = 1; c <= 15; c++)
        s += row[c] * bio->smy[c];
    return s;
}

} // namespace

TEST(Numeric, NormalCdfMatchesKnownProbabilities)
{
    EXPECT_EQ(NORMAL_CDF(12.71), 1.0);
    EXPECT_EQ(NORMAL_CDF(-12.71), 0.0);
    EXPECT_NEAR(NORMAL_CDF(12.7), 1.0, 1e-15);
    EXPECT_GT(NORMAL_CDF(-12.7), 0.0); /* computed, not cut */
    EXPECT_DOUBLE_EQ(NORMAL_CDF(0.0), 0.5);
    const struct {
        double x, p;
    } known[] = {{0.5, 0.6914624613}, {1.0, 0.8413447461}, {1.28, 0.8997274320},
                 {1.29, 0.9014746917}, {-1.0, 0.1586552539}, {-1.96, 0.0249978952},
                 {2.5, 0.9937903347}, {-3.0, 0.0013498980}, {4.0, 0.9999683288},
                 {-6.0, 9.8658765e-10}};
    for (const auto& k : known)
        EXPECT_NEAR(NORMAL_CDF(k.x), k.p, 1e-7) << "x = " << k.x;
    /* symmetric about 0 on both branches */
    for (double x : {0.3, 1.27, 1.3, 3.7})
        EXPECT_NEAR(NORMAL_CDF(x) + NORMAL_CDF(-x), 1.0, 1e-12);
}

TEST(Numeric, MonthWrapMaxAndDiscount)
{
    const short wrapped[][2] = {{0, 12}, {-1, 11}, {13, 1}, {25, 1}, {12, 12}, {-12, 12}, {1, 1}};
    for (const auto& w : wrapped)
        EXPECT_EQ(MONTH_WRAP(w[0]), w[1]) << w[0];
    /* ties go to the later argument */
    EXPECT_EQ(ARGMAX2(2.0, 1.0), 1);
    EXPECT_EQ(ARGMAX2(1.0, 1.0), 2);
    EXPECT_EQ(ARGMAX3(3.0, 1.0, 2.0), 1);
    EXPECT_EQ(ARGMAX3(1.0, 3.0, 2.0), 2);
    EXPECT_EQ(ARGMAX3(2.0, 2.0, 1.0), 2);
    EXPECT_EQ(ARGMAX3(2.0, 1.0, 2.0), 3);
    EXPECT_EQ(ARGMAX3(1.0, 2.0, 2.0), 3);
    EXPECT_EQ(MAX3(1.0, 3.0, 2.0), 3.0);
    EXPECT_NEAR(DISCOUNT(0.05, 12.0), 1.0 / std::pow(1.05, 12), 1e-15);
}

TEST(Numeric, PowerBeyondRangeEndsTheRun)
{
    ScratchDir dir;
    capture_console();
    int status = 0;
    try {
        POW_(10.0, 60.0);
    } catch (const RunEnded& e) {
        status = e.status;
    }
    std::string console = captured_console();
    EXPECT_EQ(status, 1);
    EXPECT_NE(console.find("\n POW_ xx:10.00000  yy:60.00000"), std::string::npos) << console;
    EXPECT_NE(console.find("\n pow result:"), std::string::npos);
}

TEST_F(Probability, ClassMeansOfTheTruncatedNormal)
{
    std::memset(bio->smy, 0, sizeof bio->smy);
    bio->yield_sd = 10.0;
    capture_console();
    BIO_SMY();
    EXPECT_EQ(captured_console(), "\n BIO_SMY started ...\n BIO_SMY done ...");
    EXPECT_NEAR(bio->smy[8], 100.0, 1e-9);
    for (int c = 1; c <= 7; c++)
        EXPECT_NEAR(bio->smy[c] + bio->smy[16 - c], 200.0, 1e-7) << c;
    for (int c = 2; c <= 14; c++) /* inside the class, 4 % wide */
        EXPECT_TRUE(bio->smy[c] > 66.0 + 4 * c && bio->smy[c] < 70.0 + 4 * c) << c;
    EXPECT_LT(bio->smy[1], 74.0);
    EXPECT_GT(bio->smy[15], 126.0);
}

TEST_F(Probability, ExampleRowsAreDistributions)
{
    std::string console = read_and_derive(example_text());
    EXPECT_NE(console.find("\n BIO_PROBABILITY started ...\n PREDICT_305M started ..."
                           "\n PREDICT_305M done ... 0% 2% 5% 8% 11% 14% 17% 33% 50% 67% 83% "
                           "100%\n BIO_PROBABILITY done ..."),
              std::string::npos)
        << console;
    EXPECT_EQ(read_text("msg.txt"), "8 - Calculate bio probabilities: 100% completed");

    for (int l = 0; l <= 12; l++)
        for (int m = 0; m <= 24; m++)
            for (int k = 0; k <= 12; k++)
                for (int s = 1; s <= 15; s++) {
                    const double* row = bio->pnext[s][l][m][k];
                    ASSERT_NEAR(row_sum(row), 1.0, 1e-12) << s << " " << l << " " << m << " " << k;
                    int lo = bio->lo[s][l][m][k], hi = bio->hi[s][l][m][k];
                    ASSERT_TRUE(1 <= lo && lo <= hi && hi <= 15);
                    for (int c = 1; c <= 15; c++) {
                        ASSERT_GE(row[c], 0.0);
                        if (c < lo || c > hi) {
                            ASSERT_EQ(row[c], 0.0);
                        } else if (c == lo || c == hi) {
                            ASSERT_GE(row[c], 0.0001);
                        }
                    }
                }

    /* a heifer's class does not depend on s; the entry row is that row */
    for (int s = 1; s <= 15; s++)
        for (int c = 0; c <= 15; c++)
            ASSERT_EQ(bio->pnext[s][0][0][0][c], bio->pnext[0][0][0][0][c]);
    EXPECT_NEAR(row_mean(bio->pnext[0][0][0][0]), 100.0, 0.01);
    EXPECT_NEAR(bio->pnext[0][0][0][0][1], bio->pnext[0][0][0][0][15], 1e-12);

    /* from month 10 on a cow keeps her class within the lactation */
    for (int m = 10; m <= 24; m++)
        for (int s = 1; s <= 15; s++) {
            EXPECT_EQ(bio->pnext[s][3][m][0][s], 1.0);
            EXPECT_EQ(bio->lo[s][3][m][0], s);
            EXPECT_EQ(bio->hi[s][3][m][0], s);
        }
    /* month to month early in lactation: mostly the same class, regressing
    ** slightly to the mean */
    EXPECT_GT(bio->pnext[8][2][1][0][8], 0.3);
    EXPECT_LT(row_mean(bio->pnext[14][2][1][0]), bio->smy[14]);
    EXPECT_GT(row_mean(bio->pnext[2][2][1][0]), bio->smy[2]);
}

TEST_F(Probability, LateCalvingRaisesNextLactation)
{
    read_and_derive(example_text());
    /* 305-day yield of class 8, lactation 2, calving in March */
    double m305 = 0.0;
    for (int m = 1, t = 3; m <= 10; m++, t = t == 12 ? 1 : t + 1)
        m305 += bio->milkyield[8][2][m][0][t];
    EXPECT_NEAR(bio->m305[8][2][3], m305, 1e-6);

    /* the unshifted row of lactation 3 (never adjusted) against the
    ** adjusted rows of lactation 1 at months in milk 11 (short interval)
    ** and 19 (long) */
    auto expected_next = [](int l, int m, int k) {
        double v = 0.0;
        for (int c = 1; c <= 15; c++)
            v += bio->pnext[8][l][m][k][c] * bio->m305[c][l + 1][k];
        return v;
    };
    double base = 0.0;
    for (int c = 1; c <= 15; c++)
        base += bio->pnext[8][3][19][3][c] * bio->m305[c][2][3];
    EXPECT_NEAR(expected_next(1, 19, 3) / base, 1.047120419, 0.01);
    EXPECT_NEAR(expected_next(1, 11, 3) / base, 0.980392157, 0.01);
    EXPECT_NEAR(expected_next(1, 12, 3) / base, 1.0, 0.01);
    EXPECT_GT(expected_next(2, 22, 7), expected_next(2, 12, 7));
}

TEST_F(Probability, NoAdjustmentLeavesRowsUnshifted)
{
    read_and_derive(edit(example_text(), H_WRITE, AT_CI, "NO"));
    EXPECT_EQ(bio->m305[8][2][1], 0.0);
    for (int c = 1; c <= 15; c++)
        EXPECT_EQ(bio->pnext[5][1][19][4][c], bio->pnext[5][3][19][4][c]);
}

TEST_F(Probability, NoVariationKeepsEveryCowInHerClass)
{
    std::string console =
        read_and_derive(edit(example_text(), H_WRITE, AT_FEED, "0.12 0.09 28 3.9 0 0.6"));
    EXPECT_EQ(console, "\n BIO_PROBABILITY started ...");
    EXPECT_EQ(bio->smy[8], 100.0);
    EXPECT_EQ(bio->smy[3], 0.0);
    EXPECT_EQ(bio->pnext[0][0][0][0][8], 1.0);
    EXPECT_EQ(bio->pnext[0][0][0][0][7], 0.0);
    for (int l = 0; l <= 12; l++)
        for (int m = 0; m <= 24; m++)
            for (int k = 0; k <= 12; k++)
                for (int s = 1; s <= 15; s++) {
                    ASSERT_EQ(bio->pnext[s][l][m][k][s], 1.0);
                    ASSERT_EQ(row_sum(bio->pnext[s][l][m][k]), 1.0);
                    ASSERT_EQ(bio->lo[s][l][m][k], s);
                    ASSERT_EQ(bio->hi[s][l][m][k], s);
                }
    /* only class 8 milks */
    EXPECT_GT(bio->milkyield[8][1][3][0][1], 0.0);
    EXPECT_EQ(bio->milkyield[7][1][3][0][1], 0.0);
}

TEST(TailTrim, CutsBelowOneInTenThousand)
{
    double row[16] = {0};
    row[1] = 0.0000999;
    row[2] = 0.0001;
    row[3] = 0.4;
    row[4] = 0.5997001;
    row[5] = 0.00005;
    row[6] = 0.00005;
    short lo = 0, hi = 0;
    TRIM_TAILS(row, lo, hi);
    EXPECT_EQ(lo, 2);
    EXPECT_EQ(hi, 4);
    double kept = 1.0 - 0.0000999 - 0.0001;
    EXPECT_EQ(row[1], 0.0);
    EXPECT_EQ(row[5], 0.0);
    EXPECT_EQ(row[6], 0.0);
    EXPECT_NEAR(row[2], 0.0001 / kept, 1e-15);
    EXPECT_NEAR(row[3], 0.4 / kept, 1e-15);
    EXPECT_NEAR(row_sum(row), 1.0, 1e-12);

    /* a row with nothing worth keeping is left whole rather than walked
    ** past its ends */
    double flat[16] = {0};
    TRIM_TAILS(flat, lo, hi);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 15);
}

TEST_F(Probability, BrokenRowsAreReported)
{
    read_bio_text(example_text());
    std::memset(static_cast<void*>(bio->pnext), 0, sizeof bio->pnext);
    /* a class mean that is not a number spoils the rows of class 3 (the
    ** rows at calving stay whole with a correlation of 1) */
    bio->smy[3] = std::nan("");
    bio->yield_corr = 1.0;
    bio->ci_adjust = 0;
    RESET_REPEATED_STOPS();
    capture_console();
    EXPECT_THROW(BIO_PROBABILITY(), RunEnded); /* one pause, a few lines, then the end */
    std::string console = captured_console();
    EXPECT_NE(console.find("\n BIO_PROBABILITY sumprob:"), std::string::npos);
    EXPECT_NE(console.find(" != 1.000\a@"), std::string::npos);
    EXPECT_NE(console.find("\n BIO_PROBABILITY sumprob error: 5 times, the run ends\a@"), std::string::npos);
    EXPECT_EQ(std::count(console.begin(), console.end(), '@'), 2);
}
