// morvenda simulate as a user runs it: the records' layout and date rules
// read back with a plain CSV reader, the summary's shape, and the option
// errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "csv_reader.h"
#include "support/bio_text.h"
#include "support/support.h"

namespace {

class SimulateCommand : public testing::Test {
protected:
    ScratchDir dir;
};

using Row = std::map<std::string, std::string>;

/* Rows of one cow, by the field `cow`. */
std::map<std::string, std::vector<Row>> by_cow(const CsvTable& t)
{
    std::map<std::string, std::vector<Row>> out;
    for (const Row& r : t.rows)
        out[r.at("cow")].push_back(r);
    return out;
}

TEST_F(SimulateCommand, RecordsFollowTheDateRules)
{
    make_herd("", "examples/holstein_kg.bio");
    ASSERT_EQ(run_program("simulate herd.bio --cows 60 --years 4 --replicates 2 --seed 3 --records rec"), 0)
        << read_text("console.txt");

    /* exactly the six files, each with its header */
    const std::map<std::string, std::vector<std::string>> headers = {
        {"tests.csv", {"herd", "cow", "date", "lact", "calving", "milk"}},
        {"inseminations.csv", {"herd", "cow", "date"}},
        {"calvings.csv", {"herd", "cow", "date", "lact"}},
        {"pregnancy_checks.csv", {"herd", "cow", "date", "result"}},
        {"exits.csv", {"herd", "cow", "entry", "entry_reason", "date", "reason"}},
        {"cows.csv", {"cow", "birth"}}};
    std::set<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator("rec"))
        files.insert(e.path().filename().string());
    EXPECT_EQ(files.size(), headers.size());
    std::map<std::string, CsvTable> t;
    for (const auto& [name, header] : headers) {
        t[name] = read_csv("rec/" + name);
        EXPECT_EQ(t[name].header, header) << name;
        EXPECT_FALSE(t[name].rows.empty()) << name;
        for (const Row& r : t[name].rows) {
            EXPECT_EQ(r.count("<fields>"), 0u) << name;
            for (const char* field : {"date", "calving", "entry", "birth"}) {
                const bool still_there = name == "exits.csv" && std::string(field) == "date" && r.at(field).empty();
                if (r.count(field) && !still_there) {
                    EXPECT_GE(parse_day(r.at(field)), 0) << name << " " << field << " " << r.at(field);
                }
            }
        }
    }

    /* one stay per cow, every cow born before she entered */
    std::map<std::string, int> birth, entry, exit_day;
    for (const Row& r : t["cows.csv"].rows)
        EXPECT_TRUE(birth.emplace(r.at("cow"), parse_day(r.at("birth"))).second);
    for (const Row& r : t["exits.csv"].rows) {
        const std::string& cow = r.at("cow");
        EXPECT_TRUE(entry.emplace(cow, parse_day(r.at("entry"))).second) << cow;
        EXPECT_TRUE(r.at("entry_reason") == "born" || r.at("entry_reason") == "bought");
        ASSERT_EQ(birth.count(cow), 1u) << cow;
        EXPECT_LT(birth[cow], entry[cow]);
        const std::string& reason = r.at("reason");
        if (r.at("date").empty()) {
            EXPECT_EQ(reason, "");
        } else {
            EXPECT_TRUE(reason == "died" || reason == "culled-involuntary" || reason == "culled-voluntary")
                << reason;
            exit_day[cow] = parse_day(r.at("date"));
            EXPECT_GE(exit_day[cow], entry[cow]);
        }
    }
    EXPECT_EQ(birth.size(), entry.size());

    auto services = by_cow(t["inseminations.csv"]);
    auto calvings = by_cow(t["calvings.csv"]);
    auto in_herd = [&](const std::string& cow, int day) {
        return entry.count(cow) && day >= entry[cow] && (!exit_day.count(cow) || day <= exit_day[cow]);
    };
    std::map<std::string, std::vector<int>> service_days;
    for (auto& [cow, rows] : services) {
        for (const Row& r : rows) {
            service_days[cow].push_back(parse_day(r.at("date")));
            EXPECT_TRUE(in_herd(cow, service_days[cow].back())) << cow;
        }
        std::sort(service_days[cow].begin(), service_days[cow].end());
    }
    /* the last service before a calving, 275..285 days before it */
    std::map<std::string, std::map<int, std::string>> calving_lact; /* cow -> day -> lact */
    for (auto& [cow, rows] : calvings)
        for (const Row& r : rows) {
            const int day = parse_day(r.at("date"));
            calving_lact[cow][day] = r.at("lact");
            EXPECT_TRUE(in_herd(cow, day)) << cow;
            const auto& s = service_days[cow];
            auto it = std::lower_bound(s.begin(), s.end(), day);
            if (it == s.begin())
                continue; /* conceived before the records began */
            const int gestation = day - *(it - 1);
            EXPECT_GE(gestation, 275) << cow << " " << r.at("date");
            EXPECT_LE(gestation, 285) << cow << " " << r.at("date");
        }
    /* services of a lactation after its calving */
    for (auto& [cow, days] : service_days)
        for (int d : days)
            for (auto& [cd, lact] : calving_lact[cow])
                EXPECT_NE(d, cd) << cow;

    /* test days: after the calving of the row, one month in milk or more,
    ** at most one a month, the calving the last one before the test */
    std::map<std::string, std::set<int>> test_months;
    for (const Row& r : t["tests.csv"].rows) {
        const std::string& cow = r.at("cow");
        const int day = parse_day(r.at("date"));
        const int calving = parse_day(r.at("calving"));
        EXPECT_TRUE(in_herd(cow, day)) << cow;
        EXPECT_LT(calving, day);
        const int mim = parse_month(r.at("date")) - parse_month(r.at("calving"));
        EXPECT_GE(mim, 1);
        EXPECT_LE(mim, 24);
        EXPECT_TRUE(test_months[cow].insert(parse_month(r.at("date"))).second) << cow << " " << r.at("date");
        EXPECT_GT(std::stod(r.at("milk")), 0.0);
        const auto& cl = calving_lact[cow];
        auto next = cl.upper_bound(calving);
        EXPECT_TRUE(next == cl.end() || next->first > day) << cow << ": a later calving before the test";
        if (cl.count(calving)) {
            EXPECT_EQ(cl.at(calving), r.at("lact"));
        }
    }

    /* checks 35-45 or 100-130 days after a service that is still the last */
    int pregnant = 0, open = 0;
    for (const Row& r : t["pregnancy_checks.csv"].rows) {
        const std::string& cow = r.at("cow");
        const int day = parse_day(r.at("date"));
        EXPECT_TRUE(in_herd(cow, day)) << cow;
        const auto& s = service_days[cow];
        auto it = std::lower_bound(s.begin(), s.end(), day);
        ASSERT_NE(it, s.begin()) << cow << " checked without a service";
        const int after = day - *(it - 1);
        EXPECT_TRUE((after >= 35 && after <= 45) || (after >= 100 && after <= 130)) << cow << " " << after;
        (r.at("result") == "pregnant" ? pregnant : open)++;
        EXPECT_TRUE(r.at("result") == "pregnant" || r.at("result") == "open");
    }
    EXPECT_GT(pregnant, 0);
    EXPECT_GT(open, 0);

    /* the summary beside them, named after the run */
    const CsvTable summary = read_csv("holstein_sim.csv");
    EXPECT_EQ(summary.header,
              (std::vector<std::string>{"figure", "year", "scope", "mean", "sd", "p5", "p25", "p50", "p75", "p95"}));
    /* 16 money and milk figures per cow and per herd, 13 ratios per cow,
    ** and the culls of the herd for the 3 culling rates, each year */
    EXPECT_EQ(summary.rows.size(), 4u * (16 * 2 + 13 + 3));
    double culls = -1.0, rate = -1.0;
    for (const Row& r : summary.rows)
        if (r.at("figure") == "cullrateall" && r.at("year") == "1")
            (r.at("scope") == "herd" ? culls : rate) = std::stod(r.at("mean"));
    /* some 33 % of 60 places a year */
    EXPECT_GT(culls, 0.2 * 60);
    EXPECT_LT(culls, 0.5 * 60);
    EXPECT_GT(rate, 0.2);
    EXPECT_NE(read_text("console.txt").find("year 4: cash per cow"), std::string::npos);
    EXPECT_FALSE(file_exists("holstein.mkv")) << "a file of the run was written";
}

/* The policy a run wrote, read back under USE_POL, gives the very herds
** of the solved one. */
TEST_F(SimulateCommand, ThePolFileOfARunGivesTheSameHerds)
{
    make_herd("", "examples/holstein_kg.bio");
    ASSERT_EQ(run_program("herd.bio", "run.txt"), 0);
    ASSERT_TRUE(file_exists("holstein.pol"));
    write_text("herd_pol.bio", set_items(read_text("herd.bio"), "policy=USE_POL"));
    ASSERT_EQ(run_program("simulate herd.bio --cows 80 --years 2 --replicates 6 -o solved.csv"), 0);
    ASSERT_EQ(run_program("simulate herd_pol.bio --cows 80 --years 2 --replicates 6 -o read.csv"), 0)
        << read_text("console.txt");
    EXPECT_FALSE(read_text("solved.csv").empty());
    EXPECT_EQ(read_text("read.csv"), read_text("solved.csv"));
}

TEST_F(SimulateCommand, BadOptionsAreUsageErrorsNamingTheOption)
{
    make_herd("", "examples/holstein_kg.bio");
    const std::string bio = read_text("herd.bio");
    const std::pair<const char*, const char*> cases[] = {
        {"--cows 0", "--cows"},
        {"--cows 100001", "--cows"},
        {"--cows 12x", "--cows"},
        {"--years 0", "--years"},
        {"--years 51", "--years"},
        {"--replicates 100001", "--replicates"},
        {"--seed -1", "--seed"},
        {"--seed 18446744073709551616", "--seed"},
        {"--start 1899", "--start"},
        {"--death-share 1.5", "--death-share"},
        {"--test-day-cv -0.1", "--test-day-cv"},
        {"--test-day-cv nan", "--test-day-cv"},
        {"--cows 100000 --years 50 --replicates 1000", "10^10"},
        {"--bogus 3", "--bogus"},
        {"--cows", "--cows"},
        {"-o herd.bio", "the bio file"},
        {"--records . -o tests.csv", "one file"},
        {"--records herd.bio", "not a folder"},
    };
    for (const auto& [args, named] : cases) {
        EXPECT_EQ(run_program(std::string("simulate herd.bio ") + args), 2) << args;
        EXPECT_NE(read_text("console.txt").find(named), std::string::npos) << args << ":\n"
                                                                            << read_text("console.txt");
    }
    EXPECT_EQ(read_text("herd.bio"), bio);
    EXPECT_FALSE(file_exists("tests.csv"));
    EXPECT_EQ(run_program("simulate --help"), 0);
    EXPECT_NE(read_text("console.txt").find("usage: morvenda simulate"), std::string::npos);
    /* a herd that cannot be read fails as a run fails */
    EXPECT_EQ(run_program("simulate missing.bio"), 1);
}

} // namespace
