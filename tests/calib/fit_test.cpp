/*
** fit_test.cpp -- the estimators on hand-made herds whose answer is known,
** and the calibrated file keeping every value it does not calibrate.
*/
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>

#include "bio/bio_items.h"
#include "calib/calib_charts.h"
#include "calib/calib_fit.h"
#include "calib/calib_records.h"
#include "support/support.h"

namespace {

int day(const char* text)
{
    int d = 0;
    EXPECT_TRUE(parse_day(text, d)) << text;
    return d;
}

double estimate(const CalibResult& r, const std::string& name, const std::string& index = "")
{
    for (const Estimate& e : r.estimates)
        if (e.name == name && e.index == index)
            return e.value;
    ADD_FAILURE() << name << "." << index;
    return -1;
}

} // namespace

/* Cows culled open after a failed service, whose failures only checks and
** later services tell, count against conception; a calving 280 days after
** the last service counts for it. */
TEST(CalibFit, ServicesAreJudgedByCalvingsChecksAndLaterServices)
{
    HerdRecords rec;
    rec.have_checks = true;
    const int start = day("2018-01-01");
    /* 200 cows: each calves, is served at 60 days; half conceive (a calving
    ** 280 days later), half are found open at 40 days and culled at 100 */
    for (int c = 0; c < 200; c++) {
        const int calving = start + c;
        rec.tests.push_back({c, calving + 20, 2, calving, 30.0});
        rec.tests.push_back({c, start + 1200, c % 2 == 0 ? 3 : 2, c % 2 == 0 ? calving + 340 : calving, 30.0});
        rec.inseminations.push_back({c, calving + 60});
        if (c % 2 == 0) {
            rec.calvings.push_back({c, calving, 2});
            rec.calvings.push_back({c, calving + 340, 3});
            rec.checks.push_back({c, calving + 100, true});
            rec.stays.push_back({c, start - 400, -1, ExitKind::none});
        } else {
            rec.calvings.push_back({c, calving, 2});
            rec.checks.push_back({c, calving + 100, false});
            rec.stays.push_back({c, start - 400, calving + 130, ExitKind::culled_voluntary});
        }
    }
    rec.have_calvings = true;
    const CalibResult r = CALIBRATE_HERD(rec, BaseValues(), CalibOptions());
    ASSERT_EQ(r.missing, "");
    EXPECT_NEAR(r.observed.at("conception_all_services"), 0.5, 1e-9);
    EXPECT_NEAR(r.observed.at("conception_first_service"), 0.5, 1e-9);
    /* voluntary culls never count as involuntary disposal */
    EXPECT_EQ(r.summary.at("involuntary_per_year"), 0.0);
    /* the calving interval of the cows that calved twice */
    EXPECT_NEAR(r.observed.at("calving_interval_days"), 340.0, 1e-9);
}

/* A cow culled or sold by choice after a service, before any check, later
** service or calving, counts as a failure of that service; a death, an
** involuntary cull or a move leaves it unknown, and a slaughter that does
** not say which counts by its voluntary share.  The report's charts count
** the same services. */
TEST(CalibFit, ServicesBeforeAVoluntaryExitFail)
{
    HerdRecords rec;
    rec.have_calvings = true;
    const int start = day("2018-01-01");
    /* 420 cows calve over 420 days and are served at 60 days; the first 100
    ** calve again 280 days later, the rest leave at 100 days unchecked */
    const ExitKind kinds[] = {ExitKind::culled_voluntary, ExitKind::sold, ExitKind::died,
                              ExitKind::culled_involuntary, ExitKind::culled, ExitKind::culled, ExitKind::moved};
    for (int c = 0; c < 420; c++) {
        const int calving = start + c;
        rec.calvings.push_back({c, calving, 2});
        rec.tests.push_back({c, calving + 20, 2, calving, 30.0});
        rec.inseminations.push_back({c, calving + 60});
        if (c < 100) {
            rec.calvings.push_back({c, calving + 340, 3});
            rec.tests.push_back({c, start + 1200, 3, calving + 340, 30.0});
            rec.stays.push_back({c, start - 400, -1, ExitKind::none});
        } else {
            rec.stays.push_back({c, start - 400, calving + 100, kinds[(c - 100) % 7]});
        }
    }
    /* 100 conceived; ~46 culled by choice and ~46 sold fail, ~91 slaughtered
    ** without a kind fail by their voluntary share */
    int by_kind[8] = {};
    for (int c = 100; c < 420; c++)
        by_kind[static_cast<int>(kinds[(c - 100) % 7])]++;
    auto want = [&](double involuntary_share) {
        const double failed = by_kind[static_cast<int>(ExitKind::culled_voluntary)] +
                              by_kind[static_cast<int>(ExitKind::sold)] +
                              (1 - involuntary_share) * by_kind[static_cast<int>(ExitKind::culled)];
        return 100.0 / (100.0 + failed);
    };
    for (double share : {0.5, 0.8}) {
        SCOPED_TRACE(share);
        CalibOptions opt;
        opt.involuntary_share = share;
        opt.jackknife_groups = 0;
        const CalibResult r = CALIBRATE_HERD(rec, BaseValues(), opt);
        ASSERT_EQ(r.missing, "");
        EXPECT_NEAR(r.observed.at("conception_all_services"), want(share), 1e-9);
        EXPECT_NEAR(r.observed.at("conception_first_service"), want(share), 1e-9);
        const nlohmann::json charts = CALIB_CHARTS(rec, calibrated_values(BaseValues(), r.estimates), opt, NAN);
        EXPECT_NEAR(charts["checks"]["conception"]["observed"].get<double>(), want(share), 1e-9);
    }
    /* each service's known share, by how its cow left */
    for (const JudgedLactation& l : judged_lactations(rec, CalibOptions())) {
        if (l.services.empty())
            continue;
        ASSERT_EQ(l.judged.size(), 1u);
        const ExitKind kind = l.cow < 100 ? ExitKind::none : kinds[(l.cow - 100) % 7];
        const double known = kind == ExitKind::none || kind == ExitKind::culled_voluntary || kind == ExitKind::sold
                                 ? 1.0
                                 : kind == ExitKind::culled ? 0.5 : 0.0;
        EXPECT_EQ(l.judged[0], known) << "cow " << l.cow;
        EXPECT_EQ(l.outcome[0], l.cow < 100 ? 1 : known > 0 ? 0 : -1) << "cow " << l.cow;
    }
}

/* A sparse cell is pulled toward its row and column: never 0 or 1 from a
** handful of services. */
TEST(CalibFit, SparseConceptionCellsArePooled)
{
    HerdRecords rec;
    const int start = day("2015-01-01");
    /* 300 cows calving through the year, one service each in month in milk
    ** 3; one in three conceives */
    for (int c = 0; c < 300; c++) {
        const int calving = start + c * 2;
        rec.tests.push_back({c, calving + 10, 1, calving, 25.0});
        if (c % 3 == 0)
            rec.tests.push_back({c, start + 2000, 2, calving + 75 + 280, 25.0});
        else
            rec.tests.push_back({c, start + 2000, 1, calving, 25.0});
        rec.inseminations.push_back({c, calving + 75});
        rec.stays.push_back({c, start - 800, -1, ExitKind::none});
        if (c % 3 == 0)
            rec.calvings.push_back({c, calving + 75 + 280, 2});
        rec.calvings.push_back({c, calving, 1});
    }
    /* two cows served late in lactation (month in milk 7), both conceiving:
    ** their cell alone would say 1 */
    for (int c = 300; c < 302; c++) {
        const int calving = start + 100;
        rec.tests.push_back({c, calving + 10, 1, calving, 25.0});
        rec.tests.push_back({c, start + 2000, 2, calving + 215 + 280, 25.0});
        rec.inseminations.push_back({c, calving + 215});
        rec.stays.push_back({c, start - 800, -1, ExitKind::none});
        rec.calvings.push_back({c, calving, 1});
        rec.calvings.push_back({c, calving + 215 + 280, 2});
    }
    rec.have_calvings = true;
    const CalibResult r = CALIBRATE_HERD(rec, BaseValues(), CalibOptions());
    EXPECT_LT(estimate(r, "conception", "8.NOV"), 0.7);
    for (const Estimate& e : r.estimates)
        if (e.name == "conception" && e.used) {
            EXPECT_GT(e.value, 0.02) << e.index;
            EXPECT_LT(e.value, 0.98) << e.index;
            EXPECT_LE(e.lo, e.value);
            EXPECT_GE(e.hi, e.value);
        }
    EXPECT_NEAR(r.observed.at("conception_all_services"), 102.0 / 302.0, 0.01);
    EXPECT_GT(estimate(r, "conception", "3.JUN"), 0.2);
}

/* HERD.bio is BASE.bio with only calibrated values changed: every value of
** a field the calibration does not touch keeps its exact bytes. */
TEST(CalibFit, UntouchedValuesKeepTheirText)
{
    ScratchDir dir;
    const std::string d = source_path("examples/herd-records") + "/";
    ASSERT_EQ(run_program("calibrate " + source_path("examples/holstein_kg.bio") + " --tests " + d +
                          "rec.csv --inseminations " + d + "ai.csv --exits " + d + "mvt.csv --herd FR000019 "
                          "--columns tests.herd=herd_id,tests.cow=anim_id,tests.date=ctrl_date,tests.lact=parity,"
                          "tests.calving=calv_date,inseminations.herd=herd_id,inseminations.cow=cow_id,"
                          "inseminations.date=ai_date,exits.herd=herd_id,exits.cow=anim_id,exits.entry=date_in,"
                          "exits.date=date_out,exits.reason=caus_out "
                          "--exit-reasons B=culled,M=died,E=sold,H=moved,C=ignore -o herd.bio"),
              0)
        << read_text("console.txt");
    const std::string base = read_text(source_path("examples/holstein_kg.bio")), herd = read_text("herd.bio");
    const BioLayout a = bio_layout(base), b = bio_layout(herd);
    ASSERT_TRUE(a.complete && b.complete);
    ASSERT_EQ(a.tokens.size(), b.tokens.size());
    const std::set<std::string> calibrated = {"milk_factor", "milk_curve1", "milk_curve2", "milk_curve3",
                                              "disposal_lact", "disposal", "abortion", "vwp1", "vwp2", "vwp3",
                                              "lbm", "conception_lact", "heat_detection", "conception",
                                              "yield_sd", "yield_corr", "lactation_factor"};
    int changed = 0;
    for (std::size_t k = 0; k < a.tokens.size(); k++) {
        const std::string x = base.substr(a.tokens[k].offset, a.tokens[k].length);
        const std::string y = herd.substr(b.tokens[k].offset, b.tokens[k].length);
        if (!calibrated.count(bio_fields()[a.tokens[k].field].name)) {
            EXPECT_EQ(x, y) << bio_fields()[a.tokens[k].field].name;
        }
        changed += x != y;
    }
    EXPECT_GT(changed, 500);
    /* without pregnancy checks, abortion keeps the base file's values */
    for (std::size_t k = 0; k < a.tokens.size(); k++)
        if (std::string(bio_fields()[a.tokens[k].field].name) == "abortion") {
            EXPECT_EQ(base.substr(a.tokens[k].offset, a.tokens[k].length),
                      herd.substr(b.tokens[k].offset, b.tokens[k].length));
        }
}

/* Abortion is read from checks of one pregnancy: a pregnant check followed
** by an open one or by a new service is a loss, but the open check of the
** next lactation, after a calving, is not. */
TEST(CalibFit, AbortionPairsChecksOfOnePregnancyOnly)
{
    HerdRecords rec;
    rec.have_checks = rec.have_calvings = true;
    const int start = day("2016-01-01");
    /* 100 cows carrying to term, then found open after their next service;
    ** 20 more losing the pregnancy, seen by a new service before the next check */
    for (int c = 0; c < 120; c++) {
        const int calving = start + c, served = calving + 60;
        rec.tests.push_back({c, calving + 20, 2, calving, 30.0});
        rec.calvings.push_back({c, calving, 2});
        rec.inseminations.push_back({c, served});
        rec.checks.push_back({c, served + 40, true});
        rec.stays.push_back({c, start - 400, -1, ExitKind::none});
        if (c < 100) {
            rec.checks.push_back({c, served + 100, true});
            rec.calvings.push_back({c, served + 280, 3});
            rec.inseminations.push_back({c, served + 360});
            rec.checks.push_back({c, served + 400, false});
            rec.tests.push_back({c, start + 900, 3, served + 280, 30.0});
        } else {
            rec.tests.push_back({c, start + 900, 2, calving, 30.0});
            rec.inseminations.push_back({c, served + 90});
            rec.checks.push_back({c, served + 130, true});
        }
    }
    const CalibResult r = CALIBRATE_HERD(rec, BaseValues(), CalibOptions());
    ASSERT_EQ(r.missing, "");
    /* 20 losses over 100 x 60 + 20 x 90 days of checked pregnancy */
    const double months = (100 * 60 + 20 * 90) / 30.4;
    EXPECT_NEAR(estimate(r, "abortion", "2"), 20 / months, 1e-6);
}

/* A herd that culls its low yielders: heifers below 97 % of the average
** leave after their fifth month, the others calve again and start their
** second lactation nearer the average than they stood (correlation 0.6).
** The curves must come back as those of an average cow: a fit to the test
** days as they are would see the late months and the second lactation
** some 3-4 % high. */
TEST(CalibFit, CurvesOfAnAverageCowFromAHerdThatCullsItsLowYielders)
{
    /* ---- constants ----
    ** COWS, SD, CORR, NOISE  heifers, spread and correlation of their
    **                  relative yields, test-day noise (log scale)
    ** WOOD_A/B/C      the true curve of lactation 1, per day
    ** SECOND          lactation 2's level over lactation 1's
    ** CULL_BELOW, CULL_AFTER  the herd's rule
    ** MILK_MARGIN     relative error allowed on ten months' milk */
    constexpr int COWS = 800;
    constexpr double SD = 0.10, CORR = 0.6, NOISE = 0.08;
    constexpr double WOOD_A = 12.0, WOOD_B = 0.2, WOOD_C = 0.004, SECOND = 1.15;
    constexpr double CULL_BELOW = 0.97;
    constexpr int CULL_AFTER = 5;
    constexpr double MILK_MARGIN = 0.015;

    std::mt19937 gen(7);
    auto normal = [&gen]() {
        const double u1 = (gen() + 1.0) / 4294967297.0, u2 = (gen() + 1.0) / 4294967297.0;
        return std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
    };
    auto first_of = [](int year, int month) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", year + month / 12, month % 12 + 1, 1);
        return day(text);
    };
    auto wood = [&](int m) {
        const double t = 30.4 * (m - 0.5);
        return WOOD_A * std::pow(t, WOOD_B) * std::exp(-WOOD_C * t);
    };
    HerdRecords rec;
    for (int c = 0; c < COWS; c++) {
        const int month0 = c % 36; /* calvings spread over three years */
        const double z1 = 1 + SD * normal();
        const double z2 = 1 + CORR * (z1 - 1) + std::sqrt(1 - CORR * CORR) * SD * normal();
        const bool kept = z1 >= CULL_BELOW;
        const int calving1 = first_of(2015, month0), calving2 = first_of(2015, month0 + 12);
        for (int m = 1; m <= (kept ? 10 : CULL_AFTER); m++)
            rec.tests.push_back({c, first_of(2015, month0 + m) + 14, 1, calving1,
                                 wood(m) * z1 * std::exp(NOISE * normal() - NOISE * NOISE / 2)});
        if (kept)
            for (int m = 1; m <= 10; m++)
                rec.tests.push_back({c, first_of(2015, month0 + 12 + m) + 14, 2, calving2,
                                     SECOND * wood(m) * z2 * std::exp(NOISE * normal() - NOISE * NOISE / 2)});
    }
    const CalibResult r = CALIBRATE_HERD(rec, BaseValues(), CalibOptions());
    ASSERT_EQ(r.missing, "");
    double ten = 0;
    for (int m = 1; m <= 10; m++)
        ten += wood(m) * 30.4;
    EXPECT_NEAR(r.summary.at("milk_10m_1"), ten, MILK_MARGIN * ten);
    EXPECT_NEAR(r.summary.at("milk_10m_2"), SECOND * ten, MILK_MARGIN * SECOND * ten);
    EXPECT_NEAR(r.summary.at("yield_sd"), 100 * SD, 1.5);
    EXPECT_NEAR(r.summary.at("yield_corr"), CORR, 0.15);
}
