// morvenda cows against a real run of the example herd: every state of the
// stored herd and every edge of the mapping gets the rpo file's pay-off and
// the pol file's decision; bad rows are reported and kept; none of the
// run's files is written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bio/bio.h"
#include "core/records.h"
#include "support/bio_text.h"
#include "support/report.h"
#include "support/support.h"

namespace {

/* Fields of one CSV line (quotes undone; no line ends inside). */
std::vector<std::string> split_csv(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); i++) {
        const char ch = line[i];
        if (quoted && ch == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            i++;
        } else if (ch == '"') {
            quoted = !quoted;
        } else if (ch == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += ch;
        }
    }
    return fields;
}

/* The ranked file as rows of named fields. */
struct Ranked {
    std::vector<std::map<std::string, std::string>> rows;
    std::map<std::string, std::size_t> by_id;
};

Ranked read_ranked(const std::string& name)
{
    Ranked r;
    std::vector<std::string> lines = split_lines(read_text(name));
    if (lines.empty())
        return r;
    const std::vector<std::string> header = split_csv(lines[0]);
    for (std::size_t i = 1; i < lines.size(); i++) {
        const std::vector<std::string> f = split_csv(lines[i]);
        std::map<std::string, std::string> row;
        for (std::size_t c = 0; c < header.size() && c < f.size(); c++)
            row[header[c]] = f[c];
        r.by_id[row["id"]] = r.rows.size();
        r.rows.push_back(row);
    }
    return r;
}

std::string fixed0(double x)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.0f", x);
    return buf;
}

std::string trim(const std::string& s)
{
    const std::size_t a = s.find_first_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a);
}

const char* const DECISIONS[3] = {"replace", "keep", "breed"};

/* One run of the example herd (kg) in a directory kept for the suite:
** its pol, rpo and MKV files, read back into tables. */
class WholeHerd : public testing::Test {
protected:
    struct RpoLine {
        std::string rpo, prg, sel, milk;
    };

    static void SetUpTestSuite()
    {
        dir = std::make_unique<ScratchDir>();
        write_text("herd.bio", read_text(source_path("examples/holstein_kg.bio")));
        ASSERT_EQ(run_program("herd.bio", "run_console.txt"), 0);
        for (const char* f : {"holstein.rpo", "holstein.pol", "holstein.mkv"})
            ASSERT_TRUE(file_exists(f)) << f;

        allocate_records();
        capture_console();
        runname = "herd.bio";
        const short status = READ_BIO_FILE();
        captured_console();
        ASSERT_EQ(status, 0);

        read_rpo_file();
        read_pol_file();
    }

    static void TearDownTestSuite() { dir.reset(); }

    static int key(int curr, int lact, int mim, int mpreg, int t)
    {
        return (((curr * 13 + lact) * 25 + mim) * 10 + mpreg) * 25 + t;
    }

    static void read_rpo_file()
    {
        std::FILE* fp = std::fopen("holstein.rpo", "r");
        ASSERT_NE(fp, nullptr);
        char line[512];
        while (std::fgets(line, sizeof line, fp) != nullptr) {
            int c, l, m, p, t;
            char r1[32], r2[32], z1[8], z2[8], g1[32], g2[32], sel[32], milk[32];
            if (std::sscanf(line, "%d %d %d %d %d %31s %31s %7s %7s %31s %31s %31s %31s", &c, &l, &m, &p, &t, r1, r2,
                            z1, z2, g1, g2, sel, milk) != 13)
                continue;
            rpo_lines[key(c, l, m, p, t)] = RpoLine{r1, g1, sel, milk};
        }
        std::fclose(fp);
    }

    static void read_pol_file()
    {
        decisions.assign(static_cast<std::size_t>(key(16, 0, 0, 0, 0)), -1);
        std::stringstream in(read_text("holstein.pol"));
        int enter;
        for (int i = 0; i < 24; i++)
            in >> enter;
        int t, c, l, p;
        while (in >> t >> c >> l >> p)
            for (int m = 1; m <= 24; m++)
                in >> decisions[static_cast<std::size_t>(key(c, l, m, p, t))];
    }

    /* Checks one valued row against the files: state, decision, pay-off,
    ** sale value, pregnancy value and milk. */
    static void expect_as_files(const std::map<std::string, std::string>& row, int curr, int lact, int mim,
                                int mpreg, int t)
    {
        const std::string where = row.at("id");
        ASSERT_EQ(row.at("class"), std::to_string(curr)) << where;
        ASSERT_EQ(row.at("lact"), std::to_string(lact)) << where;
        ASSERT_EQ(row.at("mim"), std::to_string(mim)) << where;
        ASSERT_EQ(row.at("mpreg"), std::to_string(mpreg)) << where;
        ASSERT_EQ(row.at("month"), std::to_string(t)) << where;
        const int d = decisions[static_cast<std::size_t>(key(curr, lact, mim, mpreg, t))];
        ASSERT_TRUE(d >= 0 && d <= 2) << where << " decision " << d;
        EXPECT_EQ(row.at("decision"), DECISIONS[d]) << where;

        auto it = rpo_lines.find(key(curr, lact, mim, mpreg, t));
        ASSERT_NE(it, rpo_lines.end()) << where;
        const RpoLine& file = it->second;
        const double payoff = std::stod(row.at("rpo"));
        EXPECT_EQ(fixed0(payoff), file.rpo) << where;
        EXPECT_NEAR(std::stod(row.at("cow_value")) - payoff, std::stod(file.sel), 0.5 + 1e-6) << where;
        EXPECT_EQ(row.at("milk"), trim(file.milk)) << where;

        const int g = lact < 3 ? lact : 3;
        const bool in_window = mim >= bio->vwp[g] && mim <= bio->lbm;
        if (file.prg == "-9999" || (mpreg == 0 && !in_window))
            EXPECT_EQ(row.at("pregnancy_value"), "") << where;
        else
            EXPECT_EQ(fixed0(std::stod(row.at("pregnancy_value"))), file.prg) << where;
    }

    /* A relative yield in the middle of a class. */
    static double class_middle(int curr)
    {
        return curr == 1 ? 70.0 : curr == 15 ? 130.0 : 72.0 + 4.0 * (curr - 1);
    }

    static std::unique_ptr<ScratchDir> dir;
    static std::map<int, RpoLine> rpo_lines;
    static std::vector<int> decisions;
};

std::unique_ptr<ScratchDir> WholeHerd::dir;
std::map<int, WholeHerd::RpoLine> WholeHerd::rpo_lines;
std::vector<int> WholeHerd::decisions;

TEST_F(WholeHerd, EveryStateOfTheStoredHerdAsTheRpoAndPolFiles)
{
    struct State {
        int curr, lact, mim, mpreg;
    };
    std::vector<State> states;
    for (const std::string& line : split_lines(read_text("holstein.mkv"))) {
        State s{};
        double p;
        if (line == "99")
            break;
        if (std::sscanf(line.c_str(), "%d %d %d %d %lf", &s.curr, &s.lact, &s.mim, &s.mpreg, &p) == 5 && p > 0.0)
            states.push_back(s);
    }
    ASSERT_GT(states.size(), 5000u);

    // Every state in every calendar month, its days in the middle of its
    // months and its yield in the middle of its class.
    std::string csv = "id,lact,dim,dcc,rel_yield,date\n";
    char line[160];
    for (const State& s : states)
        for (int t = 1; t <= 12; t++) {
            std::snprintf(line, sizeof line, "s%d-%d-%d-%d-%d,%d,%.1f,%.1f,%.0f,2026-%02d-15\n", s.curr, s.lact, s.mim,
                          s.mpreg, t, s.lact, (s.mim - 1) * 30.4 + 15, s.mpreg == 0 ? 0.0 : (s.mpreg - 1) * 30.4 + 15,
                          class_middle(s.curr), t);
            csv += line;
        }
    write_text("states.csv", csv);
    ASSERT_EQ(run_program("cows herd.bio states.csv -o states_ranked.csv", "states_console.txt"), 0)
        << read_text("states_console.txt").substr(0, 2000);

    const Ranked ranked = read_ranked("states_ranked.csv");
    ASSERT_EQ(ranked.rows.size(), states.size() * 12);
    int rank = 0;
    double previous = 1e300;
    for (const auto& row : ranked.rows) {
        EXPECT_EQ(row.at("rank"), std::to_string(++rank));
        const double value = std::stod(row.at("cow_value"));
        EXPECT_LE(value, previous);
        previous = value;
        EXPECT_EQ(row.at("note"), "") << row.at("id");
    }
    for (const State& s : states)
        for (int t = 1; t <= 12; t++) {
            std::snprintf(line, sizeof line, "s%d-%d-%d-%d-%d", s.curr, s.lact, s.mim, s.mpreg, t);
            auto it = ranked.by_id.find(line);
            ASSERT_NE(it, ranked.by_id.end()) << line;
            expect_as_files(ranked.rows[it->second], s.curr, s.lact, s.mim, s.mpreg, t);
            if (HasFatalFailure())
                return;
        }
}

TEST_F(WholeHerd, EdgesOfTheMappingAsTheRpoAndPolFiles)
{
    struct Edge {
        std::string id, lact, dim, dcc, rel_yield;
        int curr, l, mim, mpreg;
        bool noted;
    };
    std::vector<Edge> edges;
    for (int curr = 1; curr <= 14; curr++) {
        char bound[16], above[16];
        std::snprintf(bound, sizeof bound, "%d", 74 + 4 * (curr - 1));
        std::snprintf(above, sizeof above, "%d.01", 74 + 4 * (curr - 1));
        edges.push_back({std::string("class-at-") + bound, "2", "100", "0", bound, curr, 2, 4, 0, false});
        edges.push_back({std::string("class-above-") + bound, "2", "100", "0", above, curr + 1, 2, 4, 0, false});
    }
    for (int m = 1; m <= 24; m++) {
        char at[16], below[16];
        std::snprintf(at, sizeof at, "%.1f", m * 30.4);
        std::snprintf(below, sizeof below, "%.1f", m * 30.4 - 0.1);
        edges.push_back({std::string("dim-") + at, "1", at, "", "100", 8, 1, m == 24 ? 24 : m + 1, 0, m == 24});
        edges.push_back({std::string("dim-") + below, "1", below, "", "100", 8, 1, m, 0, false});
    }
    edges.push_back({"lact-12", "12", "100", "0", "100", 8, 12, 4, 0, false});
    edges.push_back({"lact-13", "13", "100", "0", "100", 8, 12, 4, 0, true});
    edges.push_back({"dcc-30.3", "2", "152", "30.3", "100", 8, 2, 6, 1, false});
    edges.push_back({"dcc-30.4", "2", "152", "30.4", "100", 8, 2, 6, 2, false});
    edges.push_back({"dcc-243.2", "2", "330", "243.2", "100", 8, 2, 11, 9, false});
    edges.push_back({"dcc-290", "2", "380", "290", "100", 8, 2, 13, 9, false});
    edges.push_back({"conceived-early", "2", "35", "10", "100", 8, 2, 3, 1, true});
    edges.push_back({"conceived-late", "2", "500", "40", "100", 8, 2, 14, 2, true});
    edges.push_back({"window-last", "2", "395.2", "30.4", "100", 8, 2, 14, 2, false});

    std::string csv = "id,lact,dim,dcc,rel_yield\n";
    for (const Edge& e : edges)
        csv += e.id + "," + e.lact + "," + e.dim + "," + e.dcc + "," + e.rel_yield + "\n";
    write_text("edges.csv", csv);
    ASSERT_EQ(run_program("cows herd.bio edges.csv --month JUL -o edges_ranked.csv", "edges_console.txt"), 0)
        << read_text("edges_console.txt").substr(0, 2000);
    const Ranked ranked = read_ranked("edges_ranked.csv");
    ASSERT_EQ(ranked.rows.size(), edges.size());
    for (const Edge& e : edges) {
        auto it = ranked.by_id.find(e.id);
        ASSERT_NE(it, ranked.by_id.end()) << e.id;
        const auto& row = ranked.rows[it->second];
        expect_as_files(row, e.curr, e.l, e.mim, e.mpreg, 7);
        EXPECT_EQ(!row.at("note").empty(), e.noted) << e.id << ": " << row.at("note");
    }
}

TEST_F(WholeHerd, TheExampleCowListIsValuedWhole)
{
    const std::string args = "cows herd.bio " + source_path("examples/holstein_kg_cows.csv") +
                             " --month APR -o example_ranked.csv";
    ASSERT_EQ(run_program(args, "example_console.txt"), 0) << read_text("example_console.txt").substr(0, 2000);
    const Ranked ranked = read_ranked("example_ranked.csv");
    ASSERT_EQ(ranked.rows.size(), 200u);
    std::set<std::string> decisions_seen;
    for (std::size_t i = 0; i < ranked.rows.size(); i++) {
        EXPECT_EQ(ranked.rows[i].at("rank"), std::to_string(i + 1));
        decisions_seen.insert(ranked.rows[i].at("decision"));
    }
    EXPECT_EQ(decisions_seen, (std::set<std::string>{"keep", "breed", "replace"}));
    int dry = 0;
    for (const auto& row : ranked.rows)
        dry += row.at("note").find("dry: valued as an average cow") != std::string::npos ? 1 : 0;
    EXPECT_GT(dry, 5); // dry cows have no test-day milk in the list
    const std::string console = read_text("example_console.txt");
    EXPECT_NE(console.find("cows valued        : 200 of 200"), std::string::npos);
}

TEST_F(WholeHerd, BadRowsAreReportedKeptAndTheOthersValued)
{
    // The pol file of the run: decisions only, the pay-offs not known.
    write_text("herd_pol.bio", set_items(read_text("herd.bio"), "policy=USE_POL"));
    const std::string pol_before = read_text("holstein.pol");

    write_text("bad.csv", "id,lact,dim,dcc,milk\n"
                          "ok1,2,100,0,40\n"
                          "no-lact,,100,0,40\n"
                          "zero-lact,0,100,0,40\n"
                          "text-dim,2,abc,0,40\n"
                          "neg-dim,2,-3,0,40\n"
                          "neg-dcc,2,100,-1,40\n"
                          "long-preg,2,400,320,40\n"
                          "preg-before-calving,2,50,80,40\n"
                          "no-milk,2,100,0,\n"
                          "ok2,3,200,100,30\n");
    EXPECT_EQ(run_program("cows herd_pol.bio bad.csv --month MAR -o bad_ranked.csv", "bad_console.txt"), 1);
    const std::string console = read_text("bad_console.txt");
    const std::pair<int, const char*> reported[] = {{3, "lact"}, {4, "lact"}, {5, "dim"}, {6, "dim"},
                                                    {7, "dcc"},  {8, "dcc"},  {9, "dcc"}, {10, "milk"}};
    for (const auto& [line, column] : reported)
        EXPECT_NE(console.find("line " + std::to_string(line) + ", column " + column + ":"), std::string::npos)
            << line << " " << column;

    const Ranked ranked = read_ranked("bad_ranked.csv");
    ASSERT_EQ(ranked.rows.size(), 10u);
    for (const auto& row : ranked.rows) {
        const bool good = row.at("id").rfind("ok", 0) == 0;
        EXPECT_EQ(row.at("decision").empty(), !good) << row.at("id");
        EXPECT_EQ(row.at("rpo"), "") << row.at("id");
        EXPECT_EQ(row.at("cow_value"), "") << row.at("id");
        EXPECT_EQ(row.at("rank"), "") << row.at("id");
        if (good) {
            EXPECT_NE(row.at("note").find("pay-off not known"), std::string::npos);
            const int d = decisions[static_cast<std::size_t>(key(std::stoi(row.at("class")), std::stoi(row.at("lact")),
                                                                 std::stoi(row.at("mim")),
                                                                 std::stoi(row.at("mpreg")), 3))];
            EXPECT_EQ(row.at("decision"), DECISIONS[d]) << row.at("id");
        } else {
            EXPECT_EQ(row.at("note").rfind("rejected: column ", 0), 0u) << row.at("note");
        }
    }
    // Input order kept, and the pol file only read.
    EXPECT_EQ(ranked.rows.front().at("id"), "ok1");
    EXPECT_EQ(ranked.rows.back().at("id"), "ok2");
    EXPECT_EQ(read_text("holstein.pol"), pol_before);
}

TEST_F(WholeHerd, WritesOnlyTheRankedListAndStopsEarlyOnAWholeListError)
{
    std::filesystem::create_directory("alone");
    write_text("alone/cows.csv", "ID;LACT\n1;2\n");
    write_text("alone/good.csv", "id,lact,dim,dcc,rel_yield\n1,2,100,0,100\n");
    std::filesystem::current_path("alone");

    // A missing column: an error before the solve, nothing written.
    EXPECT_EQ(run_program("cows ../herd.bio cows.csv", "../alone_console1.txt"), 1);
    const std::string console = read_text("../alone_console1.txt");
    EXPECT_NE(console.find("cows.csv: no column 'id'"), std::string::npos) << console;
    EXPECT_EQ(console.find("DP_POLICY"), std::string::npos);
    EXPECT_EQ(run_program("cows ../herd.bio absent.csv", "../alone_console2.txt"), 1);
    EXPECT_NE(read_text("../alone_console2.txt").find("absent.csv: cannot be read"), std::string::npos);
    // The ranked list never overwrites the cow list.
    EXPECT_EQ(run_program("cows ../herd.bio good.csv -o good.csv", "../alone_console3.txt"), 1);
    EXPECT_EQ(run_program("cows ../herd.bio good.csv --month XYZ", "../alone_console4.txt"), 2);

    EXPECT_EQ(run_program("cows ../herd.bio good.csv", "../alone_console5.txt"), 0);
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        files.insert(entry.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"cows.csv", "good.csv", "good_ranked.csv", "msg.txt"}));
    EXPECT_EQ(read_text("msg.txt"), "32 - EXE completed");
    std::filesystem::current_path("..");
}

TEST_F(WholeHerd, TheRankedListReplacesNoFileOfTheRunAndNoConsole)
{
    std::filesystem::create_directory("names");
    write_text("names/good.csv", "id,lact,dim,dcc,rel_yield\n1,2,100,0,100\n");
    write_text("names/warm.txt", "1.0\n");
    write_text("names/herd.bio", read_text("herd.bio"));
    std::filesystem::copy_file("holstein.pol", "names/holstein.pol");
    std::filesystem::current_path("names");
    const std::string pol = read_text("holstein.pol");
    const struct {
        const char* output;
        const char* message;
    } cases[] = {
        {"msg.txt", "msg.txt would overwrite the run's msg.txt"},
        {"./warm.txt", "./warm.txt would overwrite the run's warm.txt"},
        {"holstein.pol", "holstein.pol would overwrite the pol file holstein.pol of the bio file"},
        {"holstein.res", "holstein.res would overwrite the res file holstein.res of the bio file"},
        {"/dev/stdout", "/dev/stdout cannot be written: a name under /dev or /proc"},
        {"/proc/self/fd/1", "/proc/self/fd/1 cannot be written: a name under /dev or /proc"},
        {"no/folder/r.csv", "no/folder/r.csv cannot be written: the folder no/folder does not exist"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run_program(std::string("cows herd.bio good.csv -o ") + c.output, "../names_console.txt"), 1)
            << c.output;
        const std::string console = read_text("../names_console.txt");
        EXPECT_NE(console.find("\n MORVENDA_COWS: " + std::string(c.message)), std::string::npos) << console;
        EXPECT_EQ(console.find("DP_POLICY"), std::string::npos) << "refused before the solve";
    }
    EXPECT_EQ(read_text("warm.txt"), "1.0\n");
    EXPECT_EQ(read_text("holstein.pol"), pol);
    EXPECT_FALSE(file_exists("holstein.res"));

    /* usage: asked for, missing or with an argument too many */
    EXPECT_EQ(run_program("cows", "../names_console.txt"), 2);
    EXPECT_FALSE(file_exists("cows")); /* not taken as a bio file */
    EXPECT_EQ(run_program("cows -h", "../names_console.txt"), 0);
    EXPECT_NE(read_text("../names_console.txt").find("usage: morvenda cows HERD.bio COWS.csv"), std::string::npos);
    EXPECT_EQ(run_program("cows --help", "../names_console.txt"), 0);
    EXPECT_EQ(run_program("cows herd.bio good.csv extra.csv", "../names_console.txt"), 2);
    std::filesystem::current_path("..");
}

} // namespace
