/*
** sweep_api_test.cpp -- the workbench's reading of sweep databases: what it
** makes of files that are not sweep databases, of names and columns a
** request should not reach, and that the points are the scenarios' means.
*/
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "serve/sweep_api.h"
#include "support/support.h"

namespace {

/* Runs SQL on a new database file (the test's own writing, not the server's). */
void make_database(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_close(db);
}

/* Two items: a takes 2 values, b 3; eaa_cyr of year 1 is a*10+b; the
** scenario a=2, b=3 failed. */
const char* SWEEP_SQL =
    "CREATE TABLE scenarios (id TEXT NOT NULL, run TEXT, \"a\" NUMERIC, \"b\" NUMERIC);"
    "CREATE TABLE results (id TEXT NOT NULL, exit_status INTEGER, message TEXT, eaa_cyr_y1 REAL, eaa_cyr_y2 REAL);"
    "INSERT INTO scenarios VALUES ('s11','a=1 b=1',1,1),('s12','a=1 b=2',1,2),('s13','a=1 b=3',1,3),"
    "('s21','a=2 b=1',2,1),('s22','a=2 b=2',2,2),('s23','a=2 b=3',2,3);"
    "INSERT INTO results VALUES ('s11',0,'',11,0),('s12',0,'',12,0),('s13',0,'',13,0),"
    "('s21',0,'',21,0),('s22',0,'',22,0),('s23',1,'STOP',NULL,NULL);";

} // namespace

TEST(SweepDatabase, FilesThatAreNotSweepsGetAMessage)
{
    ScratchDir scratch;
    const std::string dir = scratch.path();
    write_text(dir + "/text.db", std::string(4096, 'x'));
    make_database(dir + "/other.db", "CREATE TABLE cows (id TEXT);");
    make_database(dir + "/novaried.db", "CREATE TABLE scenarios (id TEXT, run TEXT);"
                                         "CREATE TABLE results (id TEXT, exit_status INTEGER, eaa_cyr_y1 REAL);");
    write_text(dir + "/empty.db", "");
    for (const char* name : {"text.db", "other.db", "novaried.db", "empty.db"}) {
        std::optional<serve::Refusal> refused;
        serve::describe_sweep(dir, name, refused);
        ASSERT_TRUE(refused) << name;
        EXPECT_EQ(refused->status, 422) << name;
        EXPECT_NE(refused->why.find(name), std::string::npos) << refused->why;
        EXPECT_NE(refused->why.find("not a"), std::string::npos) << refused->why;
    }
    nlohmann::json list = serve::list_sweeps(dir);
    ASSERT_EQ(list.size(), 4u);
    for (const auto& one : list)
        EXPECT_TRUE(one.contains("error")) << one.dump();
    EXPECT_EQ(read_text(dir + "/text.db"), std::string(4096, 'x')) << "a file read must stay as it was";
}

TEST(SweepDatabase, NamesOutsideTheFolderAndLinksAreRefused)
{
    ScratchDir scratch;
    const std::string dir = scratch.path();
    make_database(dir + "/sweep.db", SWEEP_SQL);
    ASSERT_EQ(symlink((dir + "/sweep.db").c_str(), (dir + "/link.db").c_str()), 0);
    std::filesystem::create_directory(dir + "/folder.db");
    struct Case {
        const char* name;
        int status;
    } cases[] = {{"../sweep.db", 400}, {"sweep.txt", 400}, {".hidden.db", 400}, {"", 400},
                 {"missing.db", 404}, {"link.db", 409},    {"folder.db", 409}};
    for (const Case& c : cases) {
        std::optional<serve::Refusal> refused;
        serve::describe_sweep(dir, c.name, refused);
        ASSERT_TRUE(refused) << c.name;
        EXPECT_EQ(refused->status, c.status) << c.name << ": " << refused->why;
    }
    nlohmann::json list = serve::list_sweeps(dir);
    ASSERT_EQ(list.size(), 1u) << "a link and a folder are not listed: " << list.dump();
    EXPECT_EQ(list[0]["scenarios"], 6);
}

TEST(SweepDatabase, AskedColumnsMustBeTheFilesOwn)
{
    ScratchDir scratch;
    const std::string dir = scratch.path();
    make_database(dir + "/sweep.db", SWEEP_SQL);
    struct Case {
        const char* figure;
        int year;
        const char* x;
        const char* by;
    } cases[] = {
        {"eaa_cyr", 1, "a\" FROM scenarios; DROP TABLE results; --", ""},
        {"eaa_cyr", 1, "id", ""},           /* the key is no varied item */
        {"eaa_cyr", 1, "a", "a"},           /* series by the x axis' own item */
        {"eaa_cyr", 1, "a", "run"},
        {"milksales", 1, "a", ""},          /* a figure the file lacks */
        {"eaa_cyr", 3, "a", ""},            /* a year it does not hold */
        {"eaa_cyr", 0, "a", ""},
        {"eaa_cyr_y1", 1, "a", ""},
    };
    for (const Case& c : cases) {
        std::optional<serve::Refusal> refused;
        serve::sweep_points(dir, "sweep.db", c.figure, c.year, c.x, c.by, refused);
        ASSERT_TRUE(refused) << c.figure << " " << c.x << " " << c.by;
        EXPECT_EQ(refused->status, 400) << refused->why;
    }
    std::optional<serve::Refusal> refused;
    nlohmann::json points = serve::sweep_points(dir, "sweep.db", "eaa_cyr", 1, "a", "", refused);
    ASSERT_FALSE(refused) << "the tables are all still there";
    EXPECT_EQ(points["points"].size(), 2u);
}

TEST(SweepDatabase, PointsAreMeansOfTheFinishedScenarios)
{
    ScratchDir scratch;
    /* a folder name that a URI would otherwise cut short */
    const std::string dir = scratch.path() + "/odd ?#%folder";
    std::filesystem::create_directory(dir);
    make_database(dir + "/sweep.db", SWEEP_SQL);
    std::string before = read_text(dir + "/sweep.db");

    std::optional<serve::Refusal> refused;
    nlohmann::json info = serve::describe_sweep(dir, "sweep.db", refused);
    ASSERT_FALSE(refused) << refused->why;
    EXPECT_EQ(info["scenarios"], 6);
    EXPECT_EQ(info["finished"], 5);
    ASSERT_EQ(info["varied"].size(), 2u);
    EXPECT_EQ(info["varied"][1]["values"], nlohmann::json({1.0, 2.0, 3.0}));
    ASSERT_EQ(info["figures"].size(), 1u);
    EXPECT_EQ(info["figures"][0]["years"], nlohmann::json({1, 2}));
    EXPECT_FALSE(info["figures"][0]["plain"].get<std::string>().empty());

    /* by a alone: the mean over b of the scenarios that finished */
    nlohmann::json by_a = serve::sweep_points(dir, "sweep.db", "eaa_cyr", 1, "a", "", refused);
    ASSERT_FALSE(refused);
    ASSERT_EQ(by_a["points"].size(), 2u);
    EXPECT_DOUBLE_EQ(by_a["points"][0][2].get<double>(), 12.0);
    EXPECT_EQ(by_a["points"][0][3], 3);
    EXPECT_DOUBLE_EQ(by_a["points"][1][2].get<double>(), 21.5);
    EXPECT_EQ(by_a["points"][1][3], 2);
    EXPECT_EQ(by_a["left_out"], 1);

    /* b on the x axis, a line per a: one scenario per point */
    nlohmann::json lines = serve::sweep_points(dir, "sweep.db", "eaa_cyr", 1, "b", "a", refused);
    ASSERT_FALSE(refused);
    ASSERT_EQ(lines["points"].size(), 5u);
    for (const auto& p : lines["points"])
        EXPECT_DOUBLE_EQ(p[2].get<double>(), p[1].get<double>() * 10 + p[0].get<double>());

    EXPECT_EQ(read_text(dir + "/sweep.db"), before);
    EXPECT_FALSE(std::filesystem::exists(dir + "/sweep.db-journal"));
}

TEST(SweepDatabase, TooManySeriesAreRefused)
{
    ScratchDir scratch;
    const std::string dir = scratch.path();
    std::string sql = "CREATE TABLE scenarios (id TEXT, run TEXT, a NUMERIC, b NUMERIC);"
                      "CREATE TABLE results (id TEXT, exit_status INTEGER, message TEXT, eaa_cyr_y1 REAL);";
    constexpr int MANY = 13;
    for (int i = 0; i < MANY; i++)
        sql += "INSERT INTO scenarios VALUES ('s" + std::to_string(i) + "','',1," + std::to_string(i) +
               ");INSERT INTO results VALUES ('s" + std::to_string(i) + "',0,'',1);";
    make_database(dir + "/sampled.db", sql);
    std::optional<serve::Refusal> refused;
    serve::sweep_points(dir, "sampled.db", "eaa_cyr", 1, "a", "b", refused);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_NE(refused->why.find("13 values"), std::string::npos) << refused->why;
    refused.reset();
    nlohmann::json points = serve::sweep_points(dir, "sampled.db", "eaa_cyr", 1, "b", "", refused);
    ASSERT_FALSE(refused);
    EXPECT_EQ(points["points"].size(), static_cast<std::size_t>(MANY));
}
