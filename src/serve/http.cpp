/*
** http.cpp -- `morvenda serve`: the workbench's web server.
**
** Listens on 127.0.0.1 unless --host says otherwise.  On any other
** address anyone on the network could reach it, so every request must then
** carry the access token printed at start (?token=, an Authorization
** bearer header, or the cookie the page gets when opened with the token).
** On the loopback address a request must name a loopback host (a page of
** another site cannot reach the server through a name of its own), and a
** request that changes anything must not come from another site's page.
**
** The page and its scripts are served from the web folder of the source
** tree, the chart library from the packages installed there.
*/
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "serve/bio_layout.h"
#include "serve/serve.h"
#include "serve/workbench.h"

#ifndef MORVENDA_WEB_DIR
#define MORVENDA_WEB_DIR "web"
#endif
#ifndef MORVENDA_EXAMPLES_DIR
#define MORVENDA_EXAMPLES_DIR "examples"
#endif

namespace {

using nlohmann::json;
using serve::Refusal;

constexpr int DEFAULT_PORT = 8080;
constexpr const char* DEFAULT_HOST = "127.0.0.1";
constexpr std::size_t MAX_BODY_BYTES = 2 * serve::MAX_FILE_BYTES; /* a file inside JSON */
constexpr int TOKEN_BYTES = 24;
constexpr const char* TOKEN_COOKIE = "morvenda_token";
/* A browser keeps several connections open per page; each holds a worker
** while it is kept alive, so there are workers to spare and idle
** connections are let go soon. */
constexpr std::size_t WORKERS = 32;
constexpr time_t KEEP_ALIVE_SECONDS = 2;

struct Options {
    std::string dir = ".";
    std::string host = DEFAULT_HOST;
    int port = DEFAULT_PORT;
};

/* The server's library compresses some exact content types (and every
** text/ type) at its slowest setting, which costs far more time than it
** saves on a local connection: the scripts, the JSON answers and the run
** files go out under types it leaves alone. */
constexpr const char* JS_TYPE = "application/javascript; charset=utf-8";
constexpr const char* JSON_TYPE = "application/json; charset=utf-8";

/* The page's files: address, file under the web folder, content type. */
struct Asset {
    const char* url;
    const char* file;
    const char* type;
};
constexpr Asset ASSETS[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/app.js", "app.js", JS_TYPE},
    {"/app.css", "app.css", "text/css; charset=utf-8"},
    {"/vendor/uPlot.iife.min.js", "node_modules/uplot/dist/uPlot.iife.min.js", JS_TYPE},
    {"/vendor/uPlot.min.css", "node_modules/uplot/dist/uPlot.min.css", "text/css; charset=utf-8"},
};

std::atomic<httplib::Server*> running_server{nullptr};

void stop_on_signal(int)
{
    if (httplib::Server* s = running_server.load())
        s->stop();
}

bool is_loopback(const std::string& host)
{
    return host == "127.0.0.1" || host == "::1" || host == "localhost";
}

std::string random_token()
{
    std::random_device device;
    std::string out;
    const char* hex = "0123456789abcdef";
    for (int i = 0; i < TOKEN_BYTES; i++) {
        unsigned v = device() & 0xffu;
        out += hex[v >> 4];
        out += hex[v & 15u];
    }
    return out;
}

std::string read_whole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/* Host part of a Host or Origin value: "http://a:1" and "a:1" give "a". */
std::string host_part(std::string value)
{
    std::size_t scheme = value.find("://");
    if (scheme != std::string::npos)
        value = value.substr(scheme + 3);
    if (!value.empty() && value[0] == '[') {
        std::size_t close = value.find(']');
        return close == std::string::npos ? value : value.substr(1, close - 1);
    }
    std::size_t colon = value.find(':');
    return colon == std::string::npos ? value : value.substr(0, colon);
}

std::string cookie_value(const std::string& cookies, const std::string& name)
{
    std::size_t at = 0;
    while (at < cookies.size()) {
        std::size_t end = cookies.find(';', at);
        std::string part = cookies.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::size_t start = part.find_first_not_of(' ');
        if (start != std::string::npos)
            part = part.substr(start);
        if (part.rfind(name + "=", 0) == 0)
            return part.substr(name.size() + 1);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return "";
}

bool same_token(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); i++)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

void send_json(httplib::Response& res, const json& body, int status = 200)
{
    res.status = status;
    res.set_content(body.dump(), JSON_TYPE);
}

void send_error(httplib::Response& res, int status, const std::string& why)
{
    send_json(res, {{"error", why}}, status);
}

/* A file's text as it is; with `attach`, offered for saving as `name` (a
** name the workbench has already checked). */
void send_file(httplib::Response& res, const std::string& text, const std::string& name, bool attach)
{
    if (attach)
        res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    res.set_content(text, "application/octet-stream");
}

bool refused_sent(httplib::Response& res, const std::optional<Refusal>& refused)
{
    if (!refused)
        return false;
    send_error(res, refused->status, refused->why);
    return true;
}

/* The request's JSON object, or an answer of 400. */
std::optional<json> body_object(const httplib::Request& req, httplib::Response& res)
{
    if (req.body.empty())
        return json::object();
    json j = json::parse(req.body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        send_error(res, 400, "the request body is not a JSON object");
        return std::nullopt;
    }
    return j;
}

/* The "changes" member: an object of "item.index": "value" strings. */
std::optional<std::map<std::string, std::string>> changes_of(const json& body, httplib::Response& res)
{
    std::map<std::string, std::string> out;
    if (!body.contains("changes"))
        return out;
    const json& c = body["changes"];
    if (!c.is_object()) {
        send_error(res, 400, "changes must be an object of item.index: value");
        return std::nullopt;
    }
    for (const auto& [key, value] : c.items()) {
        if (!value.is_string()) {
            send_error(res, 400, "the value of " + key + " must be a string");
            return std::nullopt;
        }
        out[key] = value.get<std::string>();
    }
    return out;
}

std::string string_member(const json& body, const char* name)
{
    return body.contains(name) && body[name].is_string() ? body[name].get<std::string>() : "";
}

json schema_json()
{
    json items = json::array();
    for (const serve::BioItem& item : serve::bio_items())
        items.push_back({{"item", item.item},
                         {"group", item.group},
                         {"name", item.name},
                         {"unit", item.unit},
                         {"help", item.help},
                         {"rows", item.rows},
                         {"cols", item.cols},
                         {"kind", item.kind},
                         {"labels", item.labels},
                         {"col_labels", item.col_labels}});
    return {{"items", items}};
}

void add_routes(httplib::Server& server, serve::Workbench& bench, const std::string& web_dir)
{
    for (const Asset& asset : ASSETS) {
        std::string path = web_dir + "/" + asset.file;
        std::string type = asset.type;
        server.Get(asset.url, [path, type](const httplib::Request&, httplib::Response& res) {
            std::string body = read_whole(path);
            if (body.empty()) {
                send_error(res, 404, "the page's files are not installed (run scripts/setup.sh)");
                return;
            }
            res.set_header("Cache-Control", "no-cache");
            res.set_content(body, type.c_str());
        });
    }

    server.Get("/api/schema", [](const httplib::Request&, httplib::Response& res) {
        send_json(res, schema_json());
    });
    server.Get("/api/herds", [&bench](const httplib::Request&, httplib::Response& res) {
        send_json(res, bench.list_herds());
    });
    server.Get("/api/examples", [&bench](const httplib::Request&, httplib::Response& res) {
        send_json(res, bench.list_examples());
    });
    server.Post("/api/herds", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        std::optional<Refusal> refused;
        std::string name = string_member(*body, "name");
        bench.create_herd(name, string_member(*body, "example"), string_member(*body, "text"),
                          body->value("overwrite", false), refused);
        if (!refused_sent(res, refused))
            send_json(res, {{"name", name}}, 201);
    });
    server.Get(R"(/api/herds/([^/]+))", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        json herd = bench.open_herd(req.matches[1], refused);
        if (!refused_sent(res, refused))
            send_json(res, herd);
    });
    server.Get(R"(/api/herds/([^/]+)/download)", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        std::string name = req.matches[1];
        std::string text = bench.read_herd(name, refused);
        if (!refused_sent(res, refused))
            send_file(res, text, name, true);
    });
    server.Put(R"(/api/herds/([^/]+))", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        auto changes = changes_of(*body, res);
        if (!changes)
            return;
        std::optional<Refusal> refused;
        bench.save_herd(req.matches[1], *changes, refused);
        if (!refused_sent(res, refused))
            send_json(res, {{"saved", true}, {"changed", changes->size()}});
    });
    server.Post(R"(/api/herds/([^/]+)/check)", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        auto changes = changes_of(*body, res);
        if (!changes)
            return;
        std::optional<Refusal> refused;
        json result = bench.check_herd(req.matches[1], *changes, refused);
        if (!refused_sent(res, refused))
            send_json(res, result);
    });

    server.Get("/api/runs", [&bench](const httplib::Request&, httplib::Response& res) {
        json out = json::array();
        for (const serve::RunInfo& run : bench.runs().list())
            out.push_back(serve::run_json(run));
        send_json(res, out);
    });
    server.Post("/api/runs", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        std::optional<Refusal> refused;
        std::string id = bench.start_run(string_member(*body, "herd"), refused);
        if (!refused_sent(res, refused))
            send_json(res, {{"id", id}}, 202);
    });
    server.Post("/api/cows", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        std::optional<Refusal> refused;
        std::string id = bench.start_cows(string_member(*body, "herd"), string_member(*body, "csv"),
                                          string_member(*body, "month"), string_member(*body, "columns"),
                                          refused);
        if (!refused_sent(res, refused))
            send_json(res, {{"id", id}}, 202);
    });
    server.Get(R"(/api/runs/([^/]+))", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto run = bench.runs().get(req.matches[1]);
        if (!run)
            send_error(res, 404, "no such run");
        else
            send_json(res, serve::run_json(*run));
    });
    server.Post(R"(/api/runs/([^/]+)/cancel)", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::string id = req.matches[1];
        if (!bench.runs().get(id))
            send_error(res, 404, "no such run");
        else if (!bench.runs().cancel(id))
            send_error(res, 409, "the run has already ended");
        else
            send_json(res, {{"cancelled", true}});
    });
    server.Get(R"(/api/runs/([^/]+)/results)", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::string id = req.matches[1];
        auto run = bench.runs().get(id);
        if (!run) {
            send_error(res, 404, "no such run");
            return;
        }
        if (run->state != "done" || run->kind != "run") {
            send_error(res, 409, "the run has no results (" + run->state + ")");
            return;
        }
        std::optional<Refusal> refused;
        std::string path = bench.run_file_path(id, "results.json", refused);
        if (refused_sent(res, refused))
            return;
        res.set_content(read_whole(path), JSON_TYPE);
    });
    server.Get(R"(/api/runs/([^/]+)/files)", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        json files = bench.run_files(req.matches[1], refused);
        if (!refused_sent(res, refused))
            send_json(res, files);
    });
    server.Get(R"(/api/runs/([^/]+)/files/([^/]+))", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        std::string file = req.matches[2];
        std::string path = bench.run_file_path(req.matches[1], file, refused);
        if (!refused_sent(res, refused))
            send_file(res, read_whole(path), file, req.has_param("download"));
    });
}

/* Refuses what must not reach the routes: see the file's header. */
void add_guard(httplib::Server& server, const Options& options, const std::string& token)
{
    bool loopback = is_loopback(options.host);
    server.set_pre_routing_handler([loopback, token](const httplib::Request& req, httplib::Response& res) {
        auto refuse = [&res](int status, const std::string& why) {
            send_error(res, status, why);
            return httplib::Server::HandlerResponse::Handled;
        };
        std::string host = host_part(req.get_header_value("Host"));
        if (loopback && !is_loopback(host))
            return refuse(403, "this server answers only to a loopback address");
        if (req.method != "GET" && req.method != "HEAD" && req.has_header("Origin")) {
            std::string origin = host_part(req.get_header_value("Origin"));
            if (origin != host)
                return refuse(403, "a request from another site's page");
        }
        if (!token.empty()) {
            std::string given;
            std::string auth = req.get_header_value("Authorization");
            if (auth.rfind("Bearer ", 0) == 0)
                given = auth.substr(7);
            else if (req.has_param("token"))
                given = req.get_param_value("token");
            else
                given = cookie_value(req.get_header_value("Cookie"), TOKEN_COOKIE);
            if (given.empty())
                return refuse(401, "an access token is needed (printed when the server started)");
            if (!same_token(given, token))
                return refuse(403, "wrong access token");
            if (req.has_param("token"))
                res.set_header("Set-Cookie", std::string(TOKEN_COOKIE) + "=" + token +
                                                 "; Path=/; HttpOnly; SameSite=Strict");
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

int usage()
{
    std::fprintf(stderr, "usage: morvenda serve [--dir DIR] [--port 8080] [--host 127.0.0.1]\n");
    return 2;
}

} // namespace

int serve_command(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        std::string value = argv[++i];
        if (arg == "--dir")
            options.dir = value;
        else if (arg == "--host")
            options.host = value;
        else if (arg == "--port") {
            char* end = nullptr;
            long port = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || port < 0 || port > 65535)
                return usage();
            options.port = static_cast<int>(port);
        } else
            return usage();
    }

    std::error_code ec;
    std::filesystem::path dir = std::filesystem::canonical(options.dir, ec);
    if (ec || !std::filesystem::is_directory(dir)) {
        std::fprintf(stderr, "morvenda serve: %s is not a folder\n", options.dir.c_str());
        return 1;
    }
    /* A run's child must not die of a write to a closed pipe of ours, and
    ** the server must not die of a client that went away. */
    std::signal(SIGPIPE, SIG_IGN);

    unsigned cores = std::thread::hardware_concurrency();
    serve::Workbench bench(dir.string(), program_beside(MODEL_PROGRAM), MORVENDA_EXAMPLES_DIR, cores ? cores : 1);
    std::string token = is_loopback(options.host) ? "" : random_token();

    httplib::Server server;
    server.set_payload_max_length(MAX_BODY_BYTES);
    server.new_task_queue = [] { return new httplib::ThreadPool(WORKERS); };
    server.set_keep_alive_timeout(KEEP_ALIVE_SECONDS);
    add_guard(server, options, token);
    add_routes(server, bench, MORVENDA_WEB_DIR);

    int port = options.port;
    if (port == 0)
        port = server.bind_to_any_port(options.host);
    else if (!server.bind_to_port(options.host, port))
        port = -1;
    if (port < 0) {
        std::fprintf(stderr, "morvenda serve: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    std::string shown_host = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
    std::printf("morvenda serve: herds in %s\n", dir.c_str());
    if (token.empty())
        std::printf("morvenda serve: open http://%s:%d/\n", shown_host.c_str(), port);
    else {
        std::printf("morvenda serve: listening on %s, reachable from the network: every request needs the access token\n",
                    options.host.c_str());
        std::printf("morvenda serve: open http://%s:%d/?token=%s\n", shown_host.c_str(), port, token.c_str());
    }
    std::fflush(stdout);

    running_server.store(&server);
    std::signal(SIGINT, stop_on_signal);
    std::signal(SIGTERM, stop_on_signal);
    bool ok = server.listen_after_bind();
    running_server.store(nullptr);
    return ok ? 0 : 1;
}
