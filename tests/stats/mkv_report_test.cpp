// The statistics report: layout, ranges, fillers and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "bio/bio.h"
#include "markov/markov.h"
#include "core/runlog.h"
#include "stats/stats.h"
#include "stats/stats_test_util.h"
#include "support/report.h"
#include "support/support.h"

namespace {

Report write_report(unsigned short maxm, bool with_stats = true)
{
    resfile = "res.txt";
    capture_console();
    if (with_stats)
        MARKOV_CHAIN_STATS(maxm);
    WRITE_MKV_STATS(maxm);
    captured_console();
    return read_report("res.txt");
}

void fill_months(int maxm)
{
    for (int t = 1; t <= maxm; t++) {
        mkv->total_cash[t] = 10.0 * t - 95.5;
        mkv->pind[1][t] = 0.001 * t;
        mkv->repl[2][t] = 0.02;
        mkv->open[1][t] = 0.3;
        mkv->preg[1][t] = 0.7;
        mkv->present[1][t] = 1.0;
        mkv->milking[t] = 0.8;
        mkv->milkyield[3][t] = 800.0;
        mkv->cwt[t] = 8.0;
        mkv->mkv_enter[t] = 1;
    }
}


/* Sum of column `label` over rows first..last, each times weight(r). */
template <class Weight>
double column_sum(const Report& rep, const std::string& label, int first, int last, Weight weight)
{
    double sum = 0.0;
    for (int r = first; r <= last; r++)
        sum += rep.value(r, label) * weight(r);
    return sum;
}

double column_sum(const Report& rep, const std::string& label, int first, int last)
{
    return column_sum(rep, label, first, last, [](int) { return 1.0; });
}


/* The example herd under a rule policy (inseminate in the breeding window,
** keep every cow, heifers enter every month): a steady herd, then 36
** collected months. */
void PROJECT_EXAMPLE_HERD()
{
    allocate_records();
    runname = source_path("examples/holstein_lb.bio");
    mkvfile = "none.mkv";
    capture_console();
    const short status = READ_BIO_FILE();
    BIO_PROBABILITY();
    RESET_POL_RECORD();
    rule_policy();
    READ_MKV_FILE(); /* none: an empty herd */
    STEADY_STATE_LOOP([] { MARKOV_CHAIN(1, 12, 0); });
    MARKOV_CHAIN(1, 36, 1);
    captured_console();
    ASSERT_EQ(status, 0);
}

/* Relative closeness for figures rebuilt from six-decimal report fields. */
void EXPECT_CLOSE(double got, double want, const std::string& what)
{
    EXPECT_NEAR(got, want, 2e-5 * std::max(1.0, std::fabs(want))) << what;
}

} // namespace

TEST(MkvReport, MonthlyColumnsShowTheirOwnFigures)
{
    ScratchDir dir;
    CLEAR_PROJECTION(1, 0.0, 1);
    bio->p_lactfeed = 0.25;
    /* every field its own figures, so that no two columns can be mistaken */
    struct Field {
        const char* label;
        double* month;  /* [t] */
        double base;
    };
    MkvRecord* k = mkv;
    const Field fields[] = {
        {"operating_cash", k->operating_cash, 1.0},   {"total_cash", k->total_cash, 2.0},
        {"calves_born", k->calves_born, 3.0},         {"heifers_purchased", k->heifers_purchased, 4.0},
        {"heifers_raised", k->heifers_raised, 5.0},   {"heifers_sold", k->heifers_sold, 6.0},
        {"heiferpool", k->heiferpool, 7.0},           {"pind", k->pind[0], 8.0},
        {"repl", k->repl[0], 9.0},                    {"open", k->open[0], 10.0},
        {"preg", k->preg[0], 11.0},                   {"milking", k->milking, 12.0},
        {"milksales", k->milksales, 13.0},            {"cwt", k->cwt, 14.0},
        {"calfsales", k->calfsales, 15.0},            {"cowsales", k->cowsales, 16.0},
        {"heiferpurchasecost", k->heiferpurchasecost, 17.0},
        {"lactation1", k->lactation1, 18.0},          {"calved", k->calved, 19.0},
        {"totrevenue", k->totrevenue, 20.0},          {"totcost", k->totcost, 21.0},
        {"breedingsupplycost", k->breedingsupplycost, 22.0},
        {"labortime", k->labortime, 23.0},            {"laborcost", k->laborcost, 24.0},
        {"breedings1", k->at_vwp, 25.0},              {"dryoffyield", k->dryoffyield, 26.0},
        {"breedings", k->breedable_mim[0], 27.0},
    };
    for (const Field& f : fields)
        for (int t = 1; t <= 36; t++)
            f.month[t] = f.base + 0.001 * t;
    for (int t = 1; t <= 36; t++) {
        k->milkyield[0][t] = 600.0 + t;
        k->feedcostdry[t] = 30.0 + t;
        k->feedcostlac[t] = 90.0 + 2 * t;
        k->fixedcost_labor[t] = 40.0 + t;
        k->fixedcost_other[t] = 50.0 + 3 * t;
        k->rpo_sum[t] = 70.0 + t;
        k->rpo_n[t] = 0.5;
        k->cowvalue_sum[t] = 900.0 + t;
        k->cowvalue_n[t] = 0.9;
        k->present[0][t] = 0.97;
    }
    Report rep = write_report(36, false);

    for (int r : {1, 7, 36}) {
        SCOPED_TRACE("row " + std::to_string(r));
        for (const Field& f : fields)
            EXPECT_CLOSE(rep.value(r, f.label), f.base + 0.001 * r, f.label);
        const double milk = 600.0 + r, dry = 30.0 + r, lac = 90.0 + 2 * r;
        const double labor = 40.0 + r, other = 50.0 + 3 * r;
        EXPECT_CLOSE(rep.value(r, "milkyield"), milk / 30.4, "herd milk per day");
        EXPECT_CLOSE(rep.value(r, "milkyield_mcow_d"), milk / (12.0 + 0.001 * r) / 30.4, "milk per milking cow");
        EXPECT_CLOSE(rep.value(r, "present"), (10.0 + 0.001 * r) + (11.0 + 0.001 * r), "open and pregnant");
        EXPECT_CLOSE(rep.value(r, "vol"), 9.0 + 0.001 * r, "voluntary disposals");
        EXPECT_CLOSE(rep.value(r, "feedcost"), dry + lac, "feed cost");
        EXPECT_CLOSE(rep.value(r, "feedcost_lact"), lac / 30.4, "lactating feed cost a day");
        EXPECT_CLOSE(rep.value(r, "dmi_mcow_d"), lac / 30.4 / 0.25, "dry matter a day");
        EXPECT_CLOSE(rep.value(r, "fixedcost"), labor + other, "fixed cost");
        EXPECT_CLOSE(rep.value(r, "saldo"), 2.0 + 0.001 * r + labor + other, "cash before fixed cost");
        EXPECT_CLOSE(rep.value(r, "rpo"), (70.0 + r) / 0.5, "retention pay-off");
        EXPECT_CLOSE(rep.value(r, "cowvalue"), (900.0 + r) / 0.9 * 0.97, "cow value");
    }
    EXPECT_CLOSE(rep.value(1, "inv"), 8.012, "row 1 shows month 12");
    EXPECT_CLOSE(rep.value(20, "inv"), 8.019, "the month before");
}

/* The yearly block sums up the monthly table printed above it: without
** interest each figure of a statistic year is the plain sum of its twelve
** rows; with interest (analyses 2 and 3) each year is discounted to its own
** first month, cow sales and losses a month further. */
TEST(MkvReport, YearlyFiguresSumUpTheMonthlyTable)
{
    if (!file_exists(source_path("examples/holstein_lb.bio")))
        GTEST_SKIP() << "example herd not in the tree";
    ScratchDir dir;
    struct Case {
        short analysis;
        double interest;
    };
    for (Case c : {Case{1, 0.0}, Case{2, 0.09}}) {
        SCOPED_TRACE("analysis " + std::to_string(c.analysis));
        PROJECT_EXAMPLE_HERD(); /* the statistics work on the projection in place */
        bio->analysis = c.analysis;
        bio->interest = c.interest;
        resfile = "res.txt";
        Report rep = write_report(36);

        for (int y = 1; y <= 3; y++) {
            SCOPED_TRACE("year " + std::to_string(y));
            const int first = 12 * y - 11, last = 12 * y;
            /* start-of-month and end-of-month factors within the year */
            auto d0 = [&](int r) { return rep.value(r, "discount") / rep.value(first, "discount"); };
            auto d1 = [&](int r) { return d0(r) / (1.0 + c.interest / 12.0); };
            double sumd0 = 0.0, sumd1 = 0.0;
            for (int r = first; r <= last; r++) {
                sumd0 += d0(r);
                sumd1 += d1(r);
            }
            auto year = [&](const char* label) { return rep.year_value(label, y); };
            auto flow = [&](const char* label) { return column_sum(rep, label, first, last, d0) / sumd0 * 12.0; };

            const double present = column_sum(rep, "present", first, last);
            const double repl = column_sum(rep, "repl", first, last);
            const double pind = column_sum(rep, "pind", first, last);
            const double cwt = column_sum(rep, "cwt", first, last);
            const double milk = column_sum(rep, "milkyield", first, last) * 30.4;
            const double cowsales = column_sum(rep, "cowsales", first, last, d1) / sumd1 * 12.0;
            ASSERT_GT(present, 11.0);
            ASSERT_GT(cwt, 0.0);

            EXPECT_CLOSE(year("cash_cyr"), column_sum(rep, "total_cash", first, last), "cash_cyr");
            EXPECT_CLOSE(year("cullratevol"), repl / present * 12.0, "cullratevol");
            EXPECT_CLOSE(year("cullrateinv"), pind / present * 12.0, "cullrateinv");
            EXPECT_CLOSE(year("cullrateall"), (repl + pind) / present * 12.0, "cullrateall");
            EXPECT_CLOSE(year("herdlife"), 30.4 * 12.0 / ((repl + pind) / present * 12.0), "herdlife");
            EXPECT_CLOSE(year("milkyield_cyr"), milk, "milkyield_cyr");
            EXPECT_CLOSE(year("milkyield_cwt"), milk / cwt, "milkyield_cwt");
            EXPECT_CLOSE(year("milksales_cyr"), flow("milksales"), "milksales_cyr");
            EXPECT_CLOSE(year("feedcost_cyr"), flow("feedcost"), "feedcost_cyr");
            EXPECT_CLOSE(year("calfsales_cyr"), flow("calfsales"), "calfsales_cyr");
            EXPECT_CLOSE(year("laborcost_cyr"), flow("laborcost"), "laborcost_cyr");
            EXPECT_CLOSE(year("breedingsupplycost_cyr"), flow("breedingsupplycost"), "breedingsupplycost_cyr");
            EXPECT_CLOSE(year("cowsales_cyr"), cowsales, "cowsales_cyr");
            EXPECT_CLOSE(year("cowsales_cwt"), cowsales / cwt, "cowsales_cwt");
            EXPECT_CLOSE(year("cullprice y"), cowsales / (repl + pind), "cullprice y");
            /* heifers are valued at the month's heifer price, first year apart */
            double heifers = 0.0;
            for (int r = first; r <= last; r++)
                heifers += d0(r) * rep.value(r, "heiferpool") *
                           bio->p_heifer[static_cast<int>(rep.value(r, "sea")) + (r <= 12 ? 0 : 12)];
            EXPECT_CLOSE(year("heifercost_cyr"), heifers / sumd0 * 12.0, "heifercost_cyr");
            /* days in milk: the months weighted by their milking cows */
            EXPECT_CLOSE(year("dim"),
                         column_sum(rep, "dim", first, last, [&](int r) { return rep.value(r, "milking"); }) /
                             column_sum(rep, "milking", first, last),
                         "dim");
        }
    }
}

TEST(MkvReport, LayoutOfAThirtySixMonthRun)
{
    ScratchDir dir;
    CLEAR_PROJECTION(1, 0.0, 1);
    fill_months(36);
    for (int m = 1; m <= 24; m++)
        mkv->open_dim[m] = 36 * 0.01;
    MkvStats& s = mkv->stats;
    s.pv_curr[1][10] = 2.5;           // all pregnant: rows 30-44
    s.pv_curr_lact[2][2][1] = 11.0;   // row 4: class 2, lactation 2, month 1
    Report rep = write_report(36);

    ASSERT_EQ(rep.header.size(), 2u);
    EXPECT_EQ(rep.header[0], "stats run 1");
    EXPECT_EQ(rep.header[1], "Tue Dec  8 04:00:00 2026");
    ASSERT_EQ(rep.labels.size(), 118u);
    EXPECT_EQ(rep.labels[0], "t");
    EXPECT_EQ(rep.labels[44], "%open");
    EXPECT_EQ(rep.labels[117], "breedings");
    ASSERT_EQ(rep.rows.size(), 300u);
    for (int r = 1; r <= 300; r++)
        ASSERT_EQ(rep.rows[r - 1].size(), 118u) << "row " << r;
    ASSERT_EQ(rep.yearly.size(), 65u);
    EXPECT_EQ(rep.yearly[0].substr(rep.yearly[0].size() - 17), "herdlife         ");
    EXPECT_EQ(rep.yearly[64], "0.000000 0.000000 0.000000 dayspreg_cost     ");
    EXPECT_EQ(rep.text.back(), ' ');  // no newline after the last line

    // month columns stop at maxm; lactation, month-in-milk and class
    // columns keep their 12, 24 and 15 rows
    EXPECT_EQ(rep.at(36, "total_cash"), "264.500000");
    EXPECT_EQ(rep.at(37, "total_cash"), "0");
    EXPECT_EQ(rep.at(37, "mkv_enter"), "0");
    EXPECT_EQ(rep.at(37, "discount"), "0");
    EXPECT_EQ(rep.at(24, "open_dim"), "0.010000");
    EXPECT_EQ(rep.at(25, "open_dim"), "0");
    EXPECT_EQ(rep.at(15, "smy_curr"), "1.300000");
    EXPECT_EQ(rep.at(16, "smy_curr"), "0");
    EXPECT_EQ(rep.at(12, "cows_lact"), "0.000000");
    EXPECT_EQ(rep.at(13, "cows_lact"), "0");
    EXPECT_EQ(rep.at(1, "keep"), "null");
    EXPECT_EQ(rep.at(300, "dayslbm_clvsea"), "null");
    EXPECT_EQ(rep.at(30, "pv_curr"), "2.500000");
    EXPECT_EQ(rep.at(29, "pv_curr"), "null");
    EXPECT_EQ(rep.at(4, "pv_curr_lact"), "11.000000");
    EXPECT_EQ(rep.at(25, "opportunitycost"), "10.000000");  // slot 1 again
    EXPECT_EQ(rep.at(37, "opportunitycost"), "null");

    // herd columns come from the class totals of the statistics
    EXPECT_EQ(rep.at(5, "present"), "1.000000");
    EXPECT_EQ(rep.at(5, "repl"), "0.020000");
    EXPECT_EQ(rep.at(5, "milkyield"), "26.315789");
    EXPECT_EQ(rep.at(5, "milkyield_mcow_d"), "32.894737");

    // "inv" shows the previous month; row 1 shows month 12
    EXPECT_EQ(rep.at(1, "inv"), "0.012000");
    EXPECT_EQ(rep.at(2, "inv"), "0.001000");

    // "sumcash" is the running sum of "total_cash"
    double sum = 0.0;
    for (int r = 1; r <= 36; r++) {
        sum += rep.value(r, "total_cash");
        EXPECT_NEAR(rep.value(r, "sumcash"), sum, 1e-5) << "row " << r;
    }
}

TEST(MkvReport, CalendarColumnsFollowTheStartMonth)
{
    ScratchDir dir;
    CLEAR_PROJECTION(2, 0.12, 7);
    fill_months(300);
    Report rep = write_report(300, false);
    EXPECT_EQ(rep.at(1, "sea"), "7");
    EXPECT_EQ(rep.at(7, "sea"), "1");
    EXPECT_EQ(rep.at(300, "sea"), "6");
    // discounting keeps compounding over all rows
    EXPECT_EQ(rep.at(1, "discount"), "1.000000");
    EXPECT_EQ(rep.at(13, "discount"), "0.887449");

    // the calving-month columns print the calendar month of the row
    CLEAR_PROJECTION(1, 0.0, 7);
    mkv->stats.pind_clv[7][1] = 3.5;
    mkv->stats.repl_clv[1][1] = 6.25;
    mkv->stats.pind_clv[6][1] = 9.0;  // calendar month of row 12 ...
    rep = write_report(36, false);
    EXPECT_EQ(rep.at(1, "pind_clv"), "3.500000");
    EXPECT_EQ(rep.at(7, "repl_clv"), "6.250000");
    EXPECT_EQ(rep.at(12, "pind_clv"), "9.000000");
    EXPECT_EQ(rep.at(13, "pind_clv"), "0");  // ... but only rows 1-12
}

TEST(MkvReport, ShortTimeStampLeavesAnEmptyLineBeforeTheLabels)
{
    ScratchDir dir;
    CLEAR_PROJECTION();
    biofiletime = "8 Dec 2026\n";  // a first line read whole, newline included
    Report rep = write_report(36, false);
    ASSERT_EQ(rep.header.size(), 3u);
    EXPECT_EQ(rep.header[1], "8 Dec 2026");
    EXPECT_EQ(rep.header[2], "");
    EXPECT_EQ(rep.text.substr(0, 34), "stats run 1\n8 Dec 2026\n\nt sea oper");
}

TEST(MkvReport, ZeroDivisorsPrintZero)
{
    ScratchDir dir;
    CLEAR_PROJECTION(1, 0.0, 1);
    bio->p_lactfeed = 0.0;
    // month 3 has services and delays, the others nothing at all
    mkv->serv_n[3] = 0.2;
    mkv->serv_preg[3] = 0.05;
    mkv->delayed_n[3] = 0.05;
    mkv->feedcostlac[3] = 30.4;
    Report rep = write_report(36);
    EXPECT_EQ(rep.at(3, "delayed"), "0.200000");
    EXPECT_EQ(rep.at(3, "serv"), "0.250000");
    EXPECT_EQ(rep.at(4, "delayed"), "0.000000");
    EXPECT_EQ(rep.at(4, "serv"), "0.000000");
    EXPECT_EQ(rep.at(4, "serv_keep"), "0.000000");
    EXPECT_EQ(rep.at(3, "dmi_mcow_d"), "0.000000");  // no feed price
    EXPECT_EQ(rep.at(20, "%open"), "0.000000");      // no cows at that month in milk
    EXPECT_EQ(rep.at(3, "milkyield_mcow_d"), "0.000000");
    EXPECT_EQ(rep.at(3, "rpo"), "0.000000");
    EXPECT_EQ(rep.at(3, "cowvalue"), "0.000000");
    int undefined = 0;
    for (const std::string& line : split_lines(rep.text))
        for (const std::string& f : split_fields(line))
            if (f.find("nan") == 0 || f.find("-nan") == 0 || f.find("inf") == 0 || f.find("-inf") == 0)
                undefined++;
    EXPECT_EQ(undefined, 0);
}

TEST(MkvReport, OpenAndWriteFailuresEndTheRun)
{
    ScratchDir dir;
    CLEAR_PROJECTION();
    struct Case {
        const char* name;
        const char* message;
    };
    const Case cases[] = {
        {"no_such_dir/res.txt", "\n WRITE_MKV_STATS: no_such_dir/res.txt open failure"},
        {"/dev/full", "\n WRITE_MKV_STATS: /dev/full open failure (not a regular file)"}, /* never replaced */
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resfile = c.name;
        capture_console();
        int status = 0;
        try {
            WRITE_MKV_STATS(36);
        } catch (const RunEnded& e) {
            status = e.status;
        }
        std::string log = captured_console();
        EXPECT_EQ(status, 1);
        EXPECT_NE(log.find(c.message), std::string::npos) << log;
        EXPECT_EQ(log.find("WRITE_MKV_STATS done"), std::string::npos);
        EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");
    }
}
