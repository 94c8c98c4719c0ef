/*
** charts_test.cpp -- the report's charts on a hand-made herd whose records
** say exactly what the charts must show.
*/
#include <gtest/gtest.h>

#include <cmath>

#include "calib/calib_charts.h"
#include "calib/calib_records.h"

namespace {

int day(const char* text)
{
    int d = 0;
    EXPECT_TRUE(parse_day(text, d)) << text;
    return d;
}

/* 200 heifers calve over 200 days and are served at 60 days; one in four
** calves again 280 days later and stays, the others are found open and
** culled at 130 days.  Every test day gives 25 of milk. */
HerdRecords quarter_conceive(int start)
{
    HerdRecords rec;
    rec.have_checks = rec.have_calvings = true;
    for (int c = 0; c < 200; c++) {
        const int calving = start + c;
        const bool conceives = c % 4 == 0;
        rec.calvings.push_back({c, calving, 1});
        rec.tests.push_back({c, calving + 40, 1, calving, 25.0});
        rec.inseminations.push_back({c, calving + 60});
        if (conceives) {
            rec.calvings.push_back({c, calving + 340, 2});
            rec.tests.push_back({c, start + 1200, 2, calving + 340, 25.0});
            rec.stays.push_back({c, start - 700, -1, ExitKind::none});
        } else {
            rec.checks.push_back({c, calving + 100, false});
            rec.stays.push_back({c, start - 700, calving + 130, ExitKind::culled_voluntary});
        }
    }
    return rec;
}

BaseValues flat_values()
{
    BaseValues v;
    v["milk_curve1"].assign(24 * 12, 20.0);
    v["conception"].assign(14 * 12, 0.4);
    v["heat_detection"].assign(14 * 12, 0.5);
    v["conception_lact"].assign(12, 1.0);
    return v;
}

} // namespace

TEST(CalibCharts, RecordsAgainstTheCalibratedHerd)
{
    const double cull_rate = 0.3;
    const nlohmann::json ch = CALIB_CHARTS(quarter_conceive(day("2018-01-01")), flat_values(), CalibOptions(), cull_rate);

    /* milk: every test day counted once, at its own mean, beside the curve */
    const nlohmann::json& first = ch["milk"][0];
    double tests = 0;
    for (std::size_t m = 0; m < first["mim"].size(); m++) {
        tests += first["n"][m].get<double>();
        if (!first["observed"][m].is_null()) {
            EXPECT_DOUBLE_EQ(first["observed"][m].get<double>(), 25.0);
        }
        EXPECT_DOUBLE_EQ(first["fitted"][m].get<double>(), 20.0);
    }
    EXPECT_EQ(tests, 200.0);

    /* conception: a quarter of 200 judged services, its interval around it;
    ** the calibrated side is the file's 0.4 */
    const nlohmann::json& all = ch["checks"]["conception"];
    EXPECT_EQ(all["n"].get<double>(), 200.0);
    EXPECT_DOUBLE_EQ(all["observed"].get<double>(), 0.25);
    EXPECT_NEAR(all["calibrated"].get<double>(), 0.4, 1e-12);
    double n = 0;
    for (const nlohmann::json& row : ch["conception"]["by_month_in_milk"]) {
        n += row["n"].get<double>();
        if (row["n"].get<double>() > 0) {
            EXPECT_LE(row["lo"].get<double>(), row["observed"].get<double>());
            EXPECT_GE(row["hi"].get<double>(), row["observed"].get<double>());
            EXPECT_LT(row["lo"].get<double>(), row["hi"].get<double>());
            EXPECT_GE(row["lo"].get<double>(), 0.0);
            EXPECT_LE(row["hi"].get<double>(), 1.0);
        }
    }
    EXPECT_EQ(n, 200.0) << "each service in one month in milk";
    EXPECT_EQ(ch["conception"]["by_calendar_month"].size(), 12u);

    /* survival since first calving: all there at 4 months, a quarter from
    ** 5 months on; the model's curve at its yearly culling rate.  The 40
    ** heifers that calved before the first test day are not followed: their
    ** first months were not in the records. */
    const nlohmann::json& s = ch["survival"];
    EXPECT_EQ(s["cows"].get<int>(), 160);
    EXPECT_DOUBLE_EQ(s["observed"][4].get<double>(), 1.0);
    EXPECT_NEAR(s["observed"][5].get<double>(), 0.25, 1e-12);
    EXPECT_NEAR(s["model"][12].get<double>(), std::exp(-cull_rate), 1e-12);
}

TEST(CalibCharts, NoModelNoModelCurveAndNoRecordsNoFailure)
{
    const nlohmann::json ch = CALIB_CHARTS(quarter_conceive(day("2018-01-01")), flat_values(), CalibOptions(), NAN);
    EXPECT_FALSE(ch["survival"].contains("model"));
    const nlohmann::json empty = CALIB_CHARTS(HerdRecords(), BaseValues(), CalibOptions(), NAN);
    EXPECT_EQ(empty["milk"].size(), 3u);
    EXPECT_FALSE(empty.contains("survival"));
}
