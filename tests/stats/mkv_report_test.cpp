// The statistics report: layout, ranges, fillers and failures.
#include <gtest/gtest.h>

#include <cstdlib>

#include "run/runlog.h"
#include "stats/stats.h"
#include "stats_test_util.h"

namespace {

/* The report of a projection split into its parts. */
struct Report {
    std::vector<std::string> header;               // lines before the table
    std::vector<std::string> labels;               // column labels
    std::vector<std::vector<std::string>> rows;    // fields of rows 1..300
    std::vector<std::string> yearly;               // the yearly lines
    std::string text;

    const std::string& at(int row, const std::string& label) const
    {
        for (std::size_t i = 0; i < labels.size(); i++)
            if (labels[i] == label)
                return rows.at(row - 1).at(i);
        static const std::string none = "(no such column)";
        return none;
    }
};

Report write_report(unsigned short maxm, bool with_stats = true)
{
    resfile = "res.txt";
    testing::internal::CaptureStdout();
    if (with_stats)
        MARKOV_CHAIN_STATS(maxm);
    WRITE_MKV_STATS(maxm);
    testing::internal::GetCapturedStdout();

    Report rep;
    rep.text = READ_TEXT("res.txt");
    std::vector<std::string> lines = LINES(rep.text);
    std::size_t i = 0;
    while (i < lines.size() && lines[i].rfind("t sea ", 0) != 0)
        rep.header.push_back(lines[i++]);
    if (i < lines.size())
        rep.labels = FIELDS(lines[i++]);
    for (int r = 1; r <= 300 && i < lines.size(); r++)
        rep.rows.push_back(FIELDS(lines[i++]));
    while (i < lines.size())
        rep.yearly.push_back(lines[i++]);
    return rep;
}

double num(const std::string& s)
{
    return std::strtod(s.c_str(), nullptr);
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

} // namespace

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
        sum += num(rep.at(r, "total_cash"));
        EXPECT_NEAR(num(rep.at(r, "sumcash")), sum, 1e-5) << "row " << r;
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
    for (const std::string& line : LINES(rep.text))
        for (const std::string& f : FIELDS(line))
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
        testing::internal::CaptureStdout();
        int status = 0;
        try {
            WRITE_MKV_STATS(36);
        } catch (const RunEnded& e) {
            status = e.status;
        }
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, 1);
        EXPECT_NE(log.find(c.message), std::string::npos) << log;
        EXPECT_EQ(log.find("WRITE_MKV_STATS done"), std::string::npos);
        EXPECT_EQ(READ_TEXT("msg.txt"), " STOP(): check Morvenda.EXE");
    }
}
