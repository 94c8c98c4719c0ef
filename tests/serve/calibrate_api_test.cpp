/*
** calibrate_api_test.cpp -- the workbench's record sets and calibrations:
** what reaches `morvenda calibrate` from a request, what is refused, and a
** real herd's records calibrated and saved through the server.
*/
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "serve/calibrate_api.h"
#include "served_folder.h"

#ifndef MORVENDA_SOURCE_DIR
#define MORVENDA_SOURCE_DIR "."
#endif

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const char* const JSON_TYPE = "application/json";
const std::string RECORDS = std::string(MORVENDA_SOURCE_DIR) + "/examples/herd-records";

std::string read_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/* The shipped real herds' mapping, as the page sends it. */
json real_herd_request()
{
    return {{"records", "french"},
            {"base", "holstein_kg.bio"},
            {"herd", "FR000019"},
            {"files", {{"tests", "rec.csv"}, {"inseminations", "ai.csv"}, {"exits", "mvt.csv"}, {"cows", "anim.csv"}}},
            {"columns", {{"tests.herd", "herd_id"}, {"tests.cow", "anim_id"}, {"tests.date", "ctrl_date"},
                         {"tests.lact", "parity"}, {"tests.calving", "calv_date"}, {"inseminations.herd", "herd_id"},
                         {"inseminations.cow", "cow_id"}, {"inseminations.date", "ai_date"}, {"exits.herd", "herd_id"},
                         {"exits.cow", "anim_id"}, {"exits.entry", "date_in"}, {"exits.entry_reason", "cause_in"},
                         {"exits.date", "date_out"}, {"exits.reason", "caus_out"}, {"cows.cow", "anim_id"},
                         {"cows.birth", "birth_date"}}},
            {"exit_reasons", {{"B", "culled"}, {"M", "died"}, {"E", "sold"}, {"H", "moved"}, {"C", "ignore"}}},
            {"involuntary_share", 0.4},
            {"gestation", "270-300"}};
}

TEST(CalibrateArguments, RequestBecomesTheProgramsOptions)
{
    std::vector<std::string> files;
    std::optional<serve::Refusal> refused;
    std::vector<std::string> args = serve::calibrate_arguments(real_herd_request(), files, refused);
    ASSERT_FALSE(refused) << refused->why;
    auto after = [&](const std::string& option) {
        auto it = std::find(args.begin(), args.end(), option);
        return it == args.end() || it + 1 == args.end() ? std::string("(absent)") : *(it + 1);
    };
    EXPECT_EQ(after("--tests"), "rec.csv");
    EXPECT_EQ(after("--exits"), "mvt.csv");
    EXPECT_EQ(after("--calvings"), "(absent)");
    EXPECT_EQ(after("--herd"), "FR000019");
    EXPECT_EQ(after("--exit-reasons"), "B=culled,C=ignore,E=sold,H=moved,M=died");
    EXPECT_NE(after("--columns").find("exits.reason=caus_out"), std::string::npos);
    EXPECT_EQ(after("--involuntary-share"), "0.4");
    EXPECT_EQ(after("--gestation"), "270-300");
    EXPECT_EQ(files, (std::vector<std::string>{"rec.csv", "ai.csv", "mvt.csv", "anim.csv"}));
}

TEST(CalibrateArguments, BadNamesAndMappingsAreRefused)
{
    /* each case: a member replaced, and a word the refusal must hold */
    const std::vector<std::tuple<std::string, json, std::string>> cases = {
        {"columns", {{"tests.udder", "x"}}, "no field tests.udder"},
        {"columns", {{"milking.cow", "x"}}, "no field milking.cow"},
        {"columns", {{"tests.cow", "a,tests.milk=b"}}, "no comma"},
        {"columns", {{"tests.cow", "id=2"}}, "no comma"},
        {"columns", {{"tests.cow", ""}}, "header"},
        {"columns", "tests.cow=id", "object"},
        {"exit_reasons", {{"B", "slaughtered"}}, "kind of B"},
        {"exit_reasons", {{"B;rm -rf", "died"}}, "code"},
        {"exit_reasons", {{"", "died"}}, "code"},
        {"herd", "../FR1", "herd id"},
        {"herd", "FR 1", "herd id"},
        {"herd", 19, "herd must be text"},
        {"gestation", "265-400", "gestation"},
        {"gestation", "295-265", "gestation"},
        {"gestation", "265", "gestation"},
        {"involuntary_share", 1.5, "involuntary_share"},
        {"involuntary_share", "half", "involuntary_share"},
        {"files", {{"tests", "../rec.csv"}, {"inseminations", "ai.csv"}, {"exits", "mvt.csv"}}, "tests file"},
        {"files", {{"tests", "rec.txt"}, {"inseminations", "ai.csv"}, {"exits", "mvt.csv"}}, "tests file"},
        {"files", {{"tests", "rec.csv"}, {"exits", "mvt.csv"}}, "inseminations file is needed"},
        {"files", {{"tests", "rec.csv"}, {"inseminations", "ai.csv"}, {"exits", "mvt.csv"}, {"sales", "s.csv"}}, "no table sales"},
        {"files", "rec.csv", "files must name"},
    };
    for (const auto& [member, value, word] : cases) {
        json request = real_herd_request();
        request[member] = value;
        std::vector<std::string> files;
        std::optional<serve::Refusal> refused;
        std::vector<std::string> args = serve::calibrate_arguments(request, files, refused);
        ASSERT_TRUE(refused) << member << " = " << value.dump();
        EXPECT_EQ(refused->status, 400) << member;
        EXPECT_NE(refused->why.find(word), std::string::npos) << member << ": " << refused->why;
        EXPECT_TRUE(args.empty()) << member;
    }
}

TEST(CalibrateRoutes, UploadsMissingFilesAndLimitsAreRefused)
{
    ServedFolder served;
    auto c = served.client();
    auto upload = [&](const std::string& set, const json& body) {
        return c.Post("/api/records/" + set + "/files", body.dump(), JSON_TYPE);
    };
    EXPECT_EQ(upload("..", {{"name", "a.csv"}, {"text", "x"}})->status, 400);
    EXPECT_EQ(upload("set", {{"name", "../a.csv"}, {"text", "x"}})->status, 400);
    EXPECT_EQ(upload("set", {{"name", "a.txt"}, {"text", "x"}})->status, 400);
    EXPECT_EQ(upload("set", {{"name", "..a.csv"}, {"text", "x"}})->status, 400);
    EXPECT_EQ(upload("set", {{"name", "a.csv"}})->status, 400) << "no text";
    EXPECT_EQ(upload("set", {{"name", "a.csv"}, {"text", 12}})->status, 400);
    auto big = upload("set", {{"name", "a.csv"}, {"text", std::string(serve::MAX_FILE_BYTES + 1, 'x')}});
    EXPECT_EQ(big->status, 413);
    EXPECT_NE(big->body.find("one herd"), std::string::npos) << big->body;
    EXPECT_FALSE(fs::exists(served.dir() + "/records/set/a.csv"));
    /* only JSON from the page is taken */
    EXPECT_EQ(c.Post("/api/records/set/files", "name=a.csv", "application/x-www-form-urlencoded")->status, 415);

    ASSERT_EQ(upload("set", {{"name", "rec.csv"}, {"text", "herd_id,anim_id\nH1,C1\nH2,C2\nH1,C3\n"}})->status, 201);
    json head = json_of(c.Get("/api/records/set/files/rec.csv?column=herd_id"));
    EXPECT_EQ(head["header"], json({"herd_id", "anim_id"}));
    EXPECT_EQ(head["values"], json({"H1", "H2"}));
    EXPECT_EQ(c.Get("/api/records/set/files/none.csv")->status, 404);
    json sets = json_of(c.Get("/api/records"));
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0]["files"][0]["name"], "rec.csv");

    /* a calibration of files not uploaded, a set or a base herd not there */
    served.add_example("base.bio");
    json request = real_herd_request();
    request["records"] = "set";
    request["base"] = "base.bio";
    auto missing = c.Post("/api/calibrations", request.dump(), JSON_TYPE);
    EXPECT_EQ(missing->status, 404);
    EXPECT_NE(missing->body.find("no file ai.csv"), std::string::npos) << missing->body;
    request["records"] = "nothing";
    EXPECT_EQ(c.Post("/api/calibrations", request.dump(), JSON_TYPE)->status, 404);
    request["records"] = "set";
    request["base"] = "absent.bio";
    request["files"] = {{"tests", "rec.csv"}, {"inseminations", "rec.csv"}, {"exits", "rec.csv"}};
    EXPECT_EQ(c.Post("/api/calibrations", request.dump(), JSON_TYPE)->status, 404);
    request["base"] = "base.bio";
    request["columns"] = {{"tests.cow", "a=b"}};
    EXPECT_EQ(c.Post("/api/calibrations", request.dump(), JSON_TYPE)->status, 400);
    EXPECT_EQ(json_of(c.Get("/api/runs")).size(), 0u) << "nothing refused is queued";
    EXPECT_EQ(c.Post("/api/calibrations/20260101-000000-1/save", R"({"name":"x.bio"})", JSON_TYPE)->status, 404);

    EXPECT_EQ(c.Delete("/api/records/set", "{}", JSON_TYPE)->status, 200);
    EXPECT_FALSE(fs::exists(served.dir() + "/records/set"));
    EXPECT_EQ(c.Delete("/api/records/set", "{}", JSON_TYPE)->status, 404);
}

TEST(CalibrateRoutes, UploadsStayWithinTheDiskBudget)
{
    ServedFolder served("127.0.0.1", {"--disk-mb", "1"});
    auto res = served.client().Post("/api/records/set/files",
                                    json{{"name", "a.csv"}, {"text", std::string((1u << 20) + 1000, 'x')}}.dump(), JSON_TYPE);
    EXPECT_EQ(res->status, 507);
    EXPECT_FALSE(fs::exists(served.dir() + "/records/set/a.csv"));
}

TEST(CalibrateRoutes, RealHerdCalibratedReportedAndSaved)
{
    ServedFolder served;
    auto c = served.client();
    ASSERT_EQ(c.Post("/api/herds", R"({"name":"holstein_kg.bio","example":"holstein_kg.bio"})", JSON_TYPE)->status, 201);
    for (const char* f : {"rec.csv", "ai.csv", "mvt.csv", "anim.csv"})
        ASSERT_EQ(c.Post("/api/records/french/files", json{{"name", f}, {"text", read_text(RECORDS + "/" + f)}}.dump(),
                         JSON_TYPE)->status, 201) << f;
    auto started = c.Post("/api/calibrations", real_herd_request().dump(), JSON_TYPE);
    ASSERT_EQ(started->status, 202) << started->body;
    const std::string id = json_of(started)["id"];
    json run = served.wait_run(id);
    ASSERT_EQ(run["state"], "done") << run.dump();
    EXPECT_EQ(run["kind"], "calibrate");
    json report = json::parse(c.Get("/api/runs/" + id + "/files/calibration.json")->body);
    EXPECT_EQ(report["herd"], "FR000019");
    EXPECT_EQ(report["involuntary_share"], 0.4);
    ASSERT_TRUE(report.contains("charts"));
    EXPECT_EQ(report["charts"]["milk"].size(), 3u);

    EXPECT_EQ(c.Post("/api/calibrations/" + id + "/save", R"({"name":"../fr.bio"})", JSON_TYPE)->status, 400);
    ASSERT_EQ(c.Post("/api/calibrations/" + id + "/save", R"({"name":"fr.bio"})", JSON_TYPE)->status, 201);
    EXPECT_EQ(read_text(served.dir() + "/fr.bio"), c.Get("/api/runs/" + id + "/files/herd.bio")->body);
    EXPECT_EQ(c.Post("/api/calibrations/" + id + "/save", R"({"name":"fr.bio"})", JSON_TYPE)->status, 409);
    EXPECT_EQ(c.Post("/api/calibrations/" + id + "/save", R"({"name":"fr.bio","overwrite":true})", JSON_TYPE)->status, 201);
    bool listed = false;
    for (const json& h : json_of(c.Get("/api/herds")))
        listed = listed || h["name"] == "fr.bio";
    EXPECT_TRUE(listed);

    /* an exit code without a kind: the program's refusal reaches the run */
    json request = real_herd_request();
    request["exit_reasons"].erase("B");
    const std::string bad = json_of(c.Post("/api/calibrations", request.dump(), JSON_TYPE))["id"];
    EXPECT_EQ(served.wait_run(bad)["state"], "failed");
    EXPECT_NE(c.Get("/api/runs/" + bad + "/files/console.txt")->body.find("'B'"), std::string::npos)
        << c.Get("/api/runs/" + bad + "/files/console.txt")->body;
    EXPECT_EQ(c.Post("/api/calibrations/" + bad + "/save", R"({"name":"bad.bio"})", JSON_TYPE)->status, 409);
}

} // namespace
