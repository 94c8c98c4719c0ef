/*
** serve_http_test.cpp -- every endpoint of `morvenda serve` over HTTP.
*/
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "served_folder.h"
#include "support/support.h"

namespace {

using nlohmann::json;

const char* const JSON_TYPE = "application/json";
/* Value keys of the bio file: item 26's second series is the milk price,
** item 20 the conception rate table. */
const char* const MILK_PRICE_JAN = "26.24";
const char* const MILK_PRICE_FEB = "26.25";

std::string herd_bytes(const ServedFolder& served, const std::string& name)
{
    return read_text(served.dir() + "/" + name);
}

json save(const ServedFolder& served, const std::string& herd, const json& changes, int expect)
{
    auto res = served.client().Put("/api/herds/" + herd, json{{"changes", changes}}.dump(), JSON_TYPE);
    EXPECT_TRUE(res);
    if (!res)
        return nullptr;
    EXPECT_EQ(res->status, expect) << res->body;
    return json_of(res);
}

json check(const ServedFolder& served, const std::string& herd, const json& changes)
{
    auto res = served.client().Post("/api/herds/" + herd + "/check", json{{"changes", changes}}.dump(), JSON_TYPE);
    EXPECT_TRUE(res && res->status == 200);
    return json_of(res);
}

TEST(ServeHerds, ListOpenDownloadAndNewFromExampleOrUpload)
{
    ServedFolder served;
    auto c = served.client();
    EXPECT_EQ(json_of(c.Get("/api/herds")), json::array());
    json examples = json_of(c.Get("/api/examples"));
    EXPECT_NE(std::find(examples.begin(), examples.end(), "holstein_lb.bio"), examples.end());

    served.add_example("base.bio");
    std::string example = read_text(source_path("examples/holstein_lb.bio"));
    EXPECT_EQ(herd_bytes(served, "base.bio"), example);
    json list = json_of(c.Get("/api/herds"));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["name"], "base.bio");

    json herd = json_of(c.Get("/api/herds/base.bio"));
    EXPECT_TRUE(herd["complete"].get<bool>());
    EXPECT_EQ(herd["values"]["1.0"], "Holstein lb 2026-12-08");
    EXPECT_EQ(herd["values"]["2.1"], "holstein.rpo");
    EXPECT_EQ(herd["values"]["29.0"], "OPTIMAL");
    EXPECT_EQ(herd["values"]["36.8"], "0.86");

    auto download = c.Get("/api/herds/base.bio/download");
    ASSERT_TRUE(download);
    EXPECT_EQ(download->body, example);
    EXPECT_NE(download->get_header_value("Content-Disposition").find("base.bio"), std::string::npos);

    /* Upload: a new name is taken, an existing one only when asked to. */
    json upload = {{"name", "uploaded.bio"}, {"text", example}};
    EXPECT_EQ(c.Post("/api/herds", upload.dump(), JSON_TYPE)->status, 201);
    EXPECT_EQ(herd_bytes(served, "uploaded.bio"), example);
    upload["text"] = "changed";
    EXPECT_EQ(c.Post("/api/herds", upload.dump(), JSON_TYPE)->status, 409);
    EXPECT_EQ(herd_bytes(served, "uploaded.bio"), example);
    upload["overwrite"] = true;
    EXPECT_EQ(c.Post("/api/herds", upload.dump(), JSON_TYPE)->status, 201);
    EXPECT_EQ(herd_bytes(served, "uploaded.bio"), "changed");

    EXPECT_EQ(c.Get("/api/herds/missing.bio")->status, 404);
    EXPECT_EQ(c.Post("/api/herds", "{not json", JSON_TYPE)->status, 400);
    EXPECT_EQ(c.Post("/api/herds", json{{"name", "x.bio"}, {"example", "none.bio"}}.dump(), JSON_TYPE)->status, 404);
}

TEST(ServeHerds, SaveChangesOnlyTheTokensAndRoundTripsByteForByte)
{
    ServedFolder served;
    served.add_example("base.bio");
    const std::string original = herd_bytes(served, "base.bio");

    save(served, "base.bio", json::object(), 200);
    EXPECT_EQ(herd_bytes(served, "base.bio"), original);

    json herd = json_of(served.client().Get("/api/herds/base.bio"));
    std::string jan = herd["values"][MILK_PRICE_JAN];
    save(served, "base.bio", {{MILK_PRICE_JAN, "15.81"}, {"1.0", "Milk price -15%"}}, 200);
    std::string changed = herd_bytes(served, "base.bio");
    EXPECT_NE(changed.find("Milk price -15%\n"), std::string::npos);
    EXPECT_EQ(json_of(served.client().Get("/api/herds/base.bio"))["values"][MILK_PRICE_JAN], "15.81");
    /* Everything else is where it was: the same number of lines, and the
    ** other values unchanged. */
    EXPECT_EQ(std::count(changed.begin(), changed.end(), '\n'), std::count(original.begin(), original.end(), '\n'));
    EXPECT_EQ(json_of(served.client().Get("/api/herds/base.bio"))["values"][MILK_PRICE_FEB],
              herd["values"][MILK_PRICE_FEB]);

    save(served, "base.bio", {{MILK_PRICE_JAN, jan}, {"1.0", "Holstein lb 2026-12-08"}}, 200);
    EXPECT_EQ(herd_bytes(served, "base.bio"), original);

    /* Values that would break the file's layout are refused, the file kept. */
    for (const json& bad : {json{{MILK_PRICE_JAN, "1 2"}}, json{{MILK_PRICE_JAN, ""}},
                            json{{MILK_PRICE_JAN, "1\n2"}}, json{{"1.0", "a time stamp of more than 24"}},
                            json{{"35.0", "   "}}, json{{"99.0", "1"}}, json{{MILK_PRICE_JAN, 5}}}) {
        save(served, "base.bio", bad, 400);
        EXPECT_EQ(herd_bytes(served, "base.bio"), original) << bad.dump();
    }
}

TEST(ServeHerds, ValidationNamesTheItemAndTheValueAtFault)
{
    ServedFolder served;
    served.add_example("base.bio");
    json good = check(served, "base.bio", json::object());
    EXPECT_TRUE(good["ok"].get<bool>());
    EXPECT_EQ(good["messages"], json::array());

    json bad = check(served, "base.bio", {{"20.5", "0.4x"}});
    EXPECT_FALSE(bad["ok"].get<bool>());
    ASSERT_EQ(bad["messages"].size(), 1u);
    EXPECT_EQ(bad["messages"][0]["item"], 20);
    EXPECT_EQ(bad["messages"][0]["index"], 5);
    std::string text = bad["messages"][0]["text"];
    EXPECT_NE(text.find("base.bio, item 20 (conception rate)"), std::string::npos) << text;
    EXPECT_NE(text.find("\"0.4x\""), std::string::npos) << text;

    json range = check(served, "base.bio", {{"17.0", "13"}});
    EXPECT_FALSE(range["ok"].get<bool>());
    EXPECT_EQ(range["messages"][0]["item"], 17);
    EXPECT_EQ(range["messages"][0]["index"], 0);

    json month = check(served, "base.bio", {{"28.0", "JANUARY"}});
    EXPECT_FALSE(month["ok"].get<bool>());
    EXPECT_EQ(month["messages"][0]["item"], 28);

    /* A file that ends early names the item whose values are missing. */
    std::string example = read_text(source_path("examples/holstein_lb.bio"));
    json upload = {{"name", "short.bio"}, {"text", example.substr(0, example.size() / 2)}};
    ASSERT_EQ(served.client().Post("/api/herds", upload.dump(), JSON_TYPE)->status, 201);
    json herd = json_of(served.client().Get("/api/herds/short.bio"));
    EXPECT_FALSE(herd["complete"].get<bool>());
    json early = check(served, "short.bio", json::object());
    EXPECT_FALSE(early["ok"].get<bool>());
    EXPECT_EQ(early["messages"][0]["item"], herd["missing_item"]);
    /* The check leaves nothing behind and changes nothing. */
    EXPECT_EQ(herd_bytes(served, "base.bio"), example);
    EXPECT_TRUE(std::filesystem::is_empty(served.dir() + "/.check"));
}

TEST(ServeHerds, ValidationOutlinesEveryValueOutOfRange)
{
    ServedFolder served;
    served.add_example("base.bio");
    /* A decimal out of range (1.5 in 0..1), a negative milk price and a
    ** negative interest rate: all three at their values, in file order. */
    json bad = check(served, "base.bio", {{"31.2", "-1"}, {"12.30", "1.5"}, {"26.30", "-19"}});
    EXPECT_FALSE(bad["ok"].get<bool>());
    ASSERT_EQ(bad["messages"].size(), 3u) << bad.dump(1);
    EXPECT_EQ(bad["messages"][0]["item"], 12);
    EXPECT_EQ(bad["messages"][0]["index"], 30);
    EXPECT_NE(bad["messages"][0]["text"].get<std::string>().find("base.bio, item 12"), std::string::npos);
    EXPECT_EQ(bad["messages"][1]["item"], 26);
    EXPECT_EQ(bad["messages"][1]["index"], 30);
    EXPECT_EQ(bad["messages"][1]["name"], "milk_price");
    EXPECT_EQ(bad["messages"][2]["item"], 31);
    EXPECT_EQ(bad["messages"][2]["index"], 2);
}

TEST(ServeRuns, RunToCompletionShowsResultsAndFiles)
{
    ServedFolder served;
    served.add_example("base.bio");
    std::string id = served.start_run("base.bio");
    ASSERT_FALSE(id.empty());
    json run = served.wait_run(id);
    ASSERT_EQ(run["state"], "done") << run.dump();
    EXPECT_EQ(run["message"], "32 - EXE completed");
    EXPECT_EQ(run["progress"], 1.0);

    json results = json_of(served.client().Get("/api/runs/" + id + "/results"));
    EXPECT_EQ(results["title"], "Holstein lb 2026-12-08");
    std::set<std::string> names;
    for (const json& row : results["yearly"]) {
        names.insert(row["name"].get<std::string>());
        EXPECT_EQ(row["values"].size(), 3u) << row.dump();
    }
    for (const char* name : {"cash_cyr", "milkyield_cyr", "cullrateall", "cullprice y"})
        EXPECT_TRUE(names.count(name)) << name;
    EXPECT_EQ(results["monthly"]["t"].size(), 36u);
    EXPECT_EQ(results["mim"]["lactationcurve"].size(), 24u);
    ASSERT_EQ(results["rpo"].size(), 3u);
    EXPECT_EQ(results["rpo"][0]["average"].size(), 24u);
    EXPECT_TRUE(results["pregnancy_value"][1]["high"][5].is_number());

    json files = json_of(served.client().Get("/api/runs/" + id + "/files"));
    std::set<std::string> listed;
    for (const json& f : files)
        listed.insert(f["name"].get<std::string>());
    for (const char* name : {"herd.bio", "herd.res", "herd.pol", "herd.mkv", "msg.txt"})
        EXPECT_TRUE(listed.count(name)) << name;
    /* The pay-off and delay files went once the charts were read from them. */
    for (const char* name : {"herd.rpo", "herd.del"})
        EXPECT_FALSE(listed.count(name)) << name;
    /* Every yearly figure has its plain words; this herd is in pounds. */
    EXPECT_EQ(results["kg"], false);
    EXPECT_EQ(results["empty_place"], false);
    for (const json& row : results["yearly"]) {
        EXPECT_FALSE(row.value("plain", "").empty()) << row.dump();
        EXPECT_FALSE(row.value("unit", "").empty()) << row.dump();
        EXPECT_EQ(row.value("unit", "").find("kg"), std::string::npos) << row.dump();
    }
    auto report = served.client().Get("/api/runs/" + id + "/files/herd.res?download=1");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->body, read_text(served.dir() + "/runs/" + id + "/herd.res"));
    EXPECT_NE(report->get_header_value("Content-Disposition").find("herd.res"), std::string::npos);

    json all = json_of(served.client().Get("/api/runs"));
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["id"], id);
    EXPECT_GT(all[0]["size"].get<long long>(), 0);
    EXPECT_GE(all[0]["started"].get<long long>(), all[0]["created"].get<long long>());
    EXPECT_GE(all[0]["finished"].get<long long>(), all[0]["started"].get<long long>());
    EXPECT_EQ(all[0]["stage"], "EXE completed");
    EXPECT_EQ(served.client().Post("/api/runs/" + id + "/cancel", "", JSON_TYPE)->status, 409);

    /* A simulation of the finished run: its own folder, the summary in it. */
    auto asked = [&](const std::string& run, const json& body) {
        return served.client().Post("/api/runs/" + run + "/simulate", body.dump(), JSON_TYPE);
    };
    EXPECT_EQ(asked(id, {{"cows", 0}})->status, 400);
    EXPECT_EQ(asked(id, {{"years", "5"}})->status, 400);
    EXPECT_EQ(asked(id, {{"replicates", 1e12}})->status, 400);
    EXPECT_EQ(asked("20990101-000000-9", {{"cows", 10}})->status, 404);
    auto sim = asked(id, {{"cows", 10}, {"years", 2}, {"replicates", 4}});
    ASSERT_TRUE(sim && sim->status == 202) << (sim ? sim->body : "");
    std::string sim_id = json_of(sim)["id"];
    json ended = served.wait_run(sim_id);
    ASSERT_EQ(ended["state"], "done") << ended.dump();
    EXPECT_EQ(ended["kind"], "simulate");
    std::string summary = read_text(served.dir() + "/runs/" + sim_id + "/simulation.csv");
    EXPECT_EQ(summary.rfind("figure,year,scope,mean,sd,p5,p25,p50,p75,p95\n", 0), 0u);
    EXPECT_NE(summary.find("cash_cyr,2,cow,"), std::string::npos);
    EXPECT_EQ(asked(sim_id, {{"cows", 10}})->status, 404) << "only a finished run of the model is simulated";
}

TEST(ServeRuns, AWaitingRequestTellsTheRunsNextState)
{
    ServedFolder served;
    served.add_example("base.bio");
    std::string id = served.start_run("base.bio");
    /* each answer is the run in a state other than the one known, or as it
    ** stands when the wait is up: followed so, the run gets to its end */
    std::string known = "queued";
    std::vector<std::string> seen;
    for (int i = 0; i < 200 && known != "done" && known != "failed"; i++) {
        json run = json_of(served.client().Get("/api/runs/" + id + "/wait?state=" + known + "&ms=5000"));
        ASSERT_TRUE(run.contains("state")) << run.dump();
        if (run["state"] != known)
            seen.push_back(run["state"]);
        known = run["state"];
    }
    EXPECT_EQ(known, "done");
    EXPECT_EQ(seen.back(), "done");
    EXPECT_EQ(json_of(served.client().Get("/api/runs/" + id + "/wait?state=done&ms=1"))["state"], "done");
    /* a wait that cannot be read as milliseconds does not wait */
    EXPECT_EQ(json_of(served.client().Get("/api/runs/" + id + "/wait?state=done&ms=lots"))["state"], "done");
    EXPECT_EQ(served.client().Get("/api/runs/nope/wait?state=running&ms=10")->status, 404);
}

TEST(ServeRuns, CancelEndsTheRunAndAFailedRunKeepsItsLastMessage)
{
    ServedFolder served;
    served.add_example("base.bio");
    std::string id = served.start_run("base.bio");
    for (int i = 0; i < 200 && json_of(served.client().Get("/api/runs/" + id))["state"] != "running"; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(served.client().Post("/api/runs/" + id + "/cancel", "", JSON_TYPE)->status, 200);
    json run = served.wait_run(id, 30);
    EXPECT_EQ(run["state"], "cancelled") << run.dump();
    EXPECT_EQ(served.client().Get("/api/runs/" + id + "/results")->status, 409);
    EXPECT_EQ(served.client().Post("/api/runs/nope/cancel", "", JSON_TYPE)->status, 404);

    save(served, "base.bio", {{"20.5", "0.4x"}}, 200);
    std::string failed = served.start_run("base.bio");
    json end = served.wait_run(failed);
    EXPECT_EQ(end["state"], "failed");
    EXPECT_EQ(end["exit_status"], 1);
    EXPECT_EQ(end["message"], "STOP(): check Morvenda.EXE");
    EXPECT_NE(end["console_tail"].get<std::string>().find("item 20 (conception rate)"), std::string::npos);
    /* The server lives on. */
    EXPECT_EQ(served.client().Get("/api/herds")->status, 200);
}

TEST(ServeRuns, AtMostOneRunPerCoreTheRestQueued)
{
    ServedFolder served;
    served.add_example("base.bio");
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::string> ids;
    for (unsigned i = 0; i < cores + 1; i++)
        ids.push_back(served.start_run("base.bio"));
    unsigned most = 0;
    bool queued_seen = false;
    for (int i = 0; i < 3000; i++) {
        unsigned running = 0, ended = 0;
        for (const json& run : json_of(served.client().Get("/api/runs"))) {
            running += run["state"] == "running";
            queued_seen |= run["state"] == "queued";
            ended += run["state"] == "done";
        }
        most = std::max(most, running);
        if (ended == ids.size())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_LE(most, cores);
    EXPECT_TRUE(queued_seen);
    for (const std::string& id : ids)
        EXPECT_EQ(json_of(served.client().Get("/api/runs/" + id))["state"], "done");
}

TEST(ServeSafety, PathsFromRequestsStayInTheFolder)
{
    ServedFolder served;
    served.add_example("base.bio");
    auto c = served.client();
    for (const char* path : {"/api/herds/..%2F..%2Fetc%2Fpasswd", "/api/herds/%2Fetc%2Fpasswd",
                             "/api/herds/../../etc/passwd", "/api/herds/..", "/api/herds/.hidden.bio",
                             "/api/herds/base.bio%00.txt", "/api/runs/..%2F..%2F/files",
                             "/api/runs/../files/passwd", "/api/herds/..%2Fbase.bio/download"}) {
        auto res = c.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_TRUE(res->status == 400 || res->status == 404) << path << " " << res->status;
        EXPECT_EQ(res->body.find("root:"), std::string::npos) << path;
    }
    for (const char* name : {"../escape.bio", "/tmp/escape.bio", "sub/escape.bio", "escape.txt", ".bio"}) {
        json body = {{"name", name}, {"example", "holstein_lb.bio"}};
        EXPECT_EQ(c.Post("/api/herds", body.dump(), JSON_TYPE)->status, 400) << name;
        EXPECT_EQ(c.Post("/api/runs", json{{"herd", name}}.dump(), JSON_TYPE)->status, 400) << name;
    }
    EXPECT_EQ(c.Post("/api/herds", json{{"name", "x.bio"}, {"example", "../README.md"}}.dump(), JSON_TYPE)->status, 400);
    EXPECT_FALSE(std::filesystem::exists("/tmp/escape.bio"));

    /* The file names inside a bio file never reach the file system. */
    std::string escape = served.dir() + "-escape";
    save(served, "base.bio",
         {{"2.0", "../../run"}, {"2.1", escape + ".rpo"}, {"2.2", "../" + std::string("x.del")},
          {"2.3", "/tmp/morvenda-escape.mkv"}, {"2.4", "../../x.res"}, {"2.5", escape + ".pol"}},
         200);
    std::string id = served.start_run("base.bio");
    json run = served.wait_run(id);
    EXPECT_EQ(run["state"], "done") << run.dump();
    for (const std::string& outside : {escape + ".rpo", escape + ".pol", std::string("/tmp/morvenda-escape.mkv"),
                                       served.dir() + "/x.del", served.dir() + "/runs/x.res"})
        EXPECT_FALSE(std::filesystem::exists(outside)) << outside;
    std::set<std::string> top;
    for (const auto& entry : std::filesystem::directory_iterator(served.dir()))
        top.insert(entry.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{".check", "base.bio", "runs"}));
    auto file = c.Get("/api/runs/" + id + "/files/..");
    EXPECT_EQ(file->status, 400);
}

TEST(ServeSafety, OversizedBodiesAndForeignPagesAreRefused)
{
    ServedFolder served;
    served.add_example("base.bio");
    std::string huge(9u << 20, 'x');
    auto big = served.client().Post("/api/herds", json{{"name", "big.bio"}, {"text", huge}}.dump(), JSON_TYPE);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->status, 413);
    EXPECT_FALSE(std::filesystem::exists(served.dir() + "/big.bio"));
    std::string large(5u << 20, 'x');
    EXPECT_EQ(served.client().Post("/api/herds", json{{"name", "big.bio"}, {"text", large}}.dump(), JSON_TYPE)->status, 413);

    /* A request through a name that is not a loopback name, and a change
    ** asked by another site's page. */
    httplib::Client c("127.0.0.1", served.port());
    EXPECT_EQ(c.Get("/api/herds", {{"Host", "attacker.example:80"}})->status, 403);
    EXPECT_EQ(c.Post("/api/runs", {{"Origin", "http://attacker.example"}}, json{{"herd", "base.bio"}}.dump(), JSON_TYPE)->status, 403);
    EXPECT_EQ(json_of(c.Get("/api/runs")), json::array());
    EXPECT_TRUE(served.token().empty());
}

TEST(ServeSafety, OffLoopbackEveryRequestNeedsTheToken)
{
    ServedFolder served("127.0.0.2");
    ASSERT_EQ(served.token().size(), 48u) << served.banner();
    EXPECT_NE(served.banner().find("access token"), std::string::npos);
    httplib::Client bare("127.0.0.2", served.port());
    EXPECT_EQ(bare.Get("/api/herds")->status, 401);
    EXPECT_EQ(bare.Get("/")->status, 401);
    EXPECT_EQ(bare.Post("/api/runs", json{{"herd", "x.bio"}}.dump(), JSON_TYPE)->status, 401);
    EXPECT_EQ(bare.Get("/api/herds?token=0123")->status, 403);
    bare.set_bearer_token_auth("f00d");
    EXPECT_EQ(bare.Get("/api/herds")->status, 403);
    EXPECT_EQ(served.client().Get("/api/herds")->status, 200);

    /* Opened with the token, the page gets a cookie that carries it. */
    httplib::Client browser("127.0.0.2", served.port());
    auto page = browser.Get("/api/schema?token=" + served.token());
    ASSERT_EQ(page->status, 200);
    std::string cookie = page->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_EQ(browser.Get("/api/herds", {{"Cookie", cookie.substr(0, cookie.find(';'))}})->status, 200);
}

TEST(ServeSchema, EveryItemIsDescribed)
{
    ServedFolder served;
    json schema = json_of(served.client().Get("/api/schema"));
    ASSERT_EQ(schema["items"].size(), 36u);
    std::set<std::string> groups;
    for (const json& item : schema["items"]) {
        groups.insert(item["group"].get<std::string>());
        EXPECT_FALSE(item["help"].get<std::string>().empty());
        int values = item["rows"].get<int>() * item["cols"].get<int>();
        if (values > 1 && item["labels"].empty())
            ADD_FAILURE() << "item " << item["item"] << " has no labels";
    }
    EXPECT_EQ(groups, (std::set<std::string>{"milk", "reproduction", "culling", "prices", "costs", "model"}));
}

TEST(ServeCows, BadRequestsAreRefusedBeforeAnythingRuns)
{
    ServedFolder served;
    served.add_example("base.bio");
    auto c = served.client();
    json body = {{"herd", "base.bio"}, {"csv", "id,lact,dim,dcc,milk\n1,2,100,0,80\n"}};
    body["month"] = "JANUARY";
    EXPECT_EQ(c.Post("/api/cows", body.dump(), JSON_TYPE)->status, 400);
    body["month"] = "";
    body["columns"] = "id=ID;rm -rf /";
    EXPECT_EQ(c.Post("/api/cows", body.dump(), JSON_TYPE)->status, 400);
    body["columns"] = "";
    body["csv"] = "";
    EXPECT_EQ(c.Post("/api/cows", body.dump(), JSON_TYPE)->status, 400);
    body["csv"] = "id\n1\n";
    body["herd"] = "../base.bio";
    EXPECT_EQ(c.Post("/api/cows", body.dump(), JSON_TYPE)->status, 400);
    EXPECT_EQ(json_of(c.Get("/api/runs")), json::array());
}

} // namespace

namespace {

TEST(ServeCows, RanksTheExampleCowListInItsOwnFolder)
{
    ServedFolder served;
    nlohmann::json herd = {{"name", "kg.bio"}, {"example", "holstein_kg.bio"}};
    ASSERT_EQ(served.client().Post("/api/herds", herd.dump(), JSON_TYPE)->status, 201);
    std::string csv = read_text(source_path("examples/holstein_kg_cows.csv"));
    ASSERT_FALSE(csv.empty());
    json body = {{"herd", "kg.bio"}, {"csv", csv}, {"month", "MAR"}};
    auto started = served.client().Post("/api/cows", body.dump(), JSON_TYPE);
    ASSERT_EQ(started->status, 202) << started->body;
    std::string id = json_of(started)["id"];
    json run = served.wait_run(id);
    EXPECT_EQ(run["state"], "done") << run.dump();
    EXPECT_EQ(run["kind"], "cows");
    auto ranked = served.client().Get("/api/runs/" + id + "/files/ranked.csv");
    ASSERT_EQ(ranked->status, 200);
    EXPECT_EQ(ranked->body.rfind("id,class,lact,mim,mpreg,decision,rpo,cow_value,pregnancy_value,milk,rank,note", 0), 0u);
    EXPECT_EQ(std::count(ranked->body.begin(), ranked->body.end(), '\n'),
              std::count(csv.begin(), csv.end(), '\n'));
    /* A cow run has no yearly results of its own. */
    EXPECT_EQ(served.client().Get("/api/runs/" + id + "/results")->status, 409);
}

} // namespace

TEST(ServeCommand, TheModelProgramHandsOverToTheServerOrSaysWhyNot)
{
    /* Beside its server, `morvenda serve` becomes the server (the other
    ** tests); alone, it names what it could not start. */
    ScratchDir dir;
    std::filesystem::copy_file(MORVENDA_BINARY, "morvenda");
    std::filesystem::permissions("morvenda", std::filesystem::perms::owner_all);
    const int status = std::system("./morvenda serve --port 0 2>err.txt </dev/null");
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = read_text("err.txt");
    EXPECT_NE(err.find("morvenda serve: cannot start "), std::string::npos) << err;
    EXPECT_NE(err.find("/morvenda-serve: No such file or directory"), std::string::npos) << err;
}

TEST(ServeRuns, KeepsPolicyFilesOnlyWhenAskedAndDeletesRuns)
{
    ServedFolder served;
    served.add_example("base.bio");
    auto kept = served.client().Post("/api/runs", json{{"herd", "base.bio"}, {"keep_files", true}}.dump(), JSON_TYPE);
    ASSERT_TRUE(kept && kept->status == 202);
    std::string keep_id = json_of(kept)["id"];
    ASSERT_EQ(served.wait_run(keep_id)["state"], "done");
    EXPECT_TRUE(std::filesystem::exists(served.dir() + "/runs/" + keep_id + "/herd.rpo"));
    EXPECT_TRUE(std::filesystem::exists(served.dir() + "/runs/" + keep_id + "/herd.del"));

    std::vector<std::string> ids = {keep_id};
    for (int i = 0; i < 2; i++) {
        ids.push_back(served.start_run("base.bio"));
        ASSERT_EQ(served.wait_run(ids.back())["state"], "done");
    }
    /* One run alone; a run that is not there; a DELETE in any other form
    ** than the page's JSON is refused like every change. */
    EXPECT_EQ(served.client().Delete("/api/runs/" + ids[1], "{}", JSON_TYPE)->status, 200);
    EXPECT_FALSE(std::filesystem::exists(served.dir() + "/runs/" + ids[1]));
    EXPECT_EQ(served.client().Delete("/api/runs/" + ids[1], "{}", JSON_TYPE)->status, 404);
    EXPECT_EQ(served.client().Delete("/api/runs/" + ids[0], "x=1", "text/plain")->status, 415);
    EXPECT_EQ(served.client().Delete("/api/runs", json{{"keep_last", -1}}.dump(), JSON_TYPE)->status, 400);
    /* All but the newest. */
    json gone = json_of(served.client().Delete("/api/runs", json{{"keep_last", 1}}.dump(), JSON_TYPE));
    EXPECT_EQ(gone["deleted"], json::array({ids[0]})) << gone.dump();
    json all = json_of(served.client().Get("/api/runs"));
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["id"], ids[2]);
}

TEST(ServeHerds, ListsTitlesAndDeletesHerds)
{
    ServedFolder served;
    served.add_example("base.bio");
    json herds = json_of(served.client().Get("/api/herds"));
    ASSERT_EQ(herds.size(), 1u);
    EXPECT_EQ(herds[0]["title"], "Holstein lb 2026-12-08");
    EXPECT_GT(herds[0]["modified"].get<long long>(), 0);
    EXPECT_EQ(served.client().Delete("/api/herds/x.txt", "{}", JSON_TYPE)->status, 400);
    EXPECT_EQ(served.client().Delete("/api/herds/none.bio", "{}", JSON_TYPE)->status, 404);
    EXPECT_EQ(served.client().Delete("/api/herds/base.bio", "{}", JSON_TYPE)->status, 200);
    EXPECT_FALSE(std::filesystem::exists(served.dir() + "/base.bio"));
}

TEST(ServeCows, OffersTheFoldersCowLists)
{
    ServedFolder served;
    served.add_example("base.bio");
    write_text(served.dir() + "/herd_cows.csv", "id,lact,dim,dcc,milk\n1,2,100,0,30\n");
    write_text(served.dir() + "/notes.txt", "not a list\n");
    EXPECT_EQ(json_of(served.client().Get("/api/cowlists")), json::array({"herd_cows.csv"}));
    auto cows = [&](const json& body) { return served.client().Post("/api/cows", body.dump(), JSON_TYPE); };
    EXPECT_EQ(cows({{"herd", "base.bio"}, {"list", "../herd_cows.csv"}})->status, 400);
    EXPECT_EQ(cows({{"herd", "base.bio"}, {"list", "notes.txt"}})->status, 400);
    EXPECT_EQ(cows({{"herd", "base.bio"}, {"list", "none.csv"}})->status, 404);
    auto ranked = cows({{"herd", "base.bio"}, {"list", "herd_cows.csv"}});
    ASSERT_TRUE(ranked && ranked->status == 202) << (ranked ? ranked->body : "");
    json run = served.wait_run(json_of(ranked)["id"]);
    EXPECT_EQ(run["state"], "done") << run.dump();
}
