/*
** http.cpp -- `morvenda serve`: the workbench's web server.
**
** Listens on 127.0.0.1 unless --host says otherwise.  On any other
** address anyone on the network could reach it, so every request must then
** carry the access token printed at start (?token=, an Authorization
** bearer header, or the cookie the page gets when opened with the token).
**
** Every request must name the server by one of its own names and its port
** (a page of another site cannot reach it through a name of its own).  A
** request that changes anything must come from the server's own page: its
** Origin is exactly http:// and its Host, it is not marked cross-site, and
** it carries application/json (which a plain form of another page cannot
** send).  Every answer forbids framing and scripts from elsewhere.
**
** The library reads requests on a pool of workers; the server's own front
** (FrontServer) serves each connection under deadlines, so that a client
** that sends its request slowly cannot hold a worker for long, and caps the
** connections of one address off the loopback address.  The access token is
** checked as soon as the headers are in, before a body is read.
**
** The page and its scripts are served from the web folder of the source
** tree, the chart library from the packages installed there.
*/
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "serve/bio_layout.h"
#include "serve/calibrate_api.h"
#include "serve/serve.h"
#include "serve/sweep_api.h"
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
** connections are let go soon.  A request's headers must be in within
** HEADER_SECONDS of its first byte, its body within BODY_SECONDS after
** them (8 MB at a slow 150 kB/s); off the loopback address one client
** address holds at most CONNECTIONS_PER_ADDRESS connections. */
constexpr std::size_t WORKERS = 128;
constexpr time_t KEEP_ALIVE_SECONDS = 2;
constexpr std::size_t KEEP_ALIVE_REQUESTS = 100;
constexpr auto HEADER_SECONDS = std::chrono::seconds(10);
constexpr auto BODY_SECONDS = std::chrono::seconds(60);
constexpr int WRITE_TIMEOUT_MS = 10000;
constexpr int STOP_CHECK_MS = 100; /* how often an idle connection looks for a stop */
constexpr int CONNECTIONS_PER_ADDRESS = 16;
/* Connections that may wait to be accepted (the library's own is 5, which
** resets a burst of parallel connects). */
constexpr int LISTEN_BACKLOG = 512;
constexpr std::size_t READ_BUFFER = 16384;
constexpr long long MEGABYTE = 1ll << 20;

/* Headers of every answer: no framing by another page, scripts and other
** content from the server only, no guessing of types, no referrer. */
constexpr const char* CONTENT_SECURITY_POLICY =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

struct Options {
    std::string dir = ".";
    std::string sweeps; /* the folder of sweep databases: DIR unless given */
    std::string host = DEFAULT_HOST;
    int port = DEFAULT_PORT;
    serve::WorkbenchLimits limits;
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
    {"/early.js", "early.js", JS_TYPE},
    {"/app.js", "app.js", JS_TYPE},
    {"/calibrate.js", "calibrate.js", JS_TYPE},
    {"/sweep.js", "sweep.js", JS_TYPE},
    {"/app.css", "app.css", "text/css; charset=utf-8"},
    {"/vendor/uPlot.iife.min.js", "node_modules/uplot/dist/uPlot.iife.min.js", JS_TYPE},
    {"/vendor/uPlot.min.css", "node_modules/uplot/dist/uPlot.min.css", "text/css; charset=utf-8"},
};

/* ---- the front: connections under deadlines ------------------------- */

using Clock = std::chrono::steady_clock;

/* One connection's socket for the library's request reader: reads are
** buffered and end at the connection's deadline, whatever the pace at
** which the client sends. */
class ConnectionStream : public httplib::Stream {
public:
    explicit ConnectionStream(int sock) : sock_(sock) {}

    void set_deadline(Clock::time_point t) { deadline_ = t; }
    /* The rest of the connection is not to be read (a refused request
    ** whose body was left unread). */
    void close_after() { close_after_ = true; }
    bool must_close() const { return close_after_; }

    /* Waits up to `seconds` for the next request's first byte; false when
    ** none came, the client closed, or `stopping` said so. */
    template <class Stopping>
    bool wait_for_request(time_t seconds, Stopping stopping)
    {
        if (at_ < filled_)
            return true;
        auto until = Clock::now() + std::chrono::seconds(seconds);
        while (!stopping() && Clock::now() < until)
            if (wait(POLLIN, STOP_CHECK_MS))
                return true;
        return false;
    }

    bool is_readable() const override { return at_ < filled_ || wait(POLLIN, remaining_ms()); }
    bool is_writable() const override { return wait(POLLOUT, WRITE_TIMEOUT_MS); }

    ssize_t read(char* ptr, size_t size) override
    {
        if (at_ == filled_) {
            at_ = filled_ = 0;
            if (!wait(POLLIN, remaining_ms()))
                return -1;
            if (size >= READ_BUFFER)
                return ::recv(sock_, ptr, size, 0);
            ssize_t n = ::recv(sock_, buffer_, READ_BUFFER, 0);
            if (n <= 0)
                return n;
            filled_ = static_cast<std::size_t>(n);
        }
        std::size_t n = std::min(size, filled_ - at_);
        std::memcpy(ptr, buffer_ + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        return ::send(sock_, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { address_of(true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address_of(false, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    int remaining_ms() const
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

    bool wait(short events, int ms) const
    {
        pollfd p{sock_, events, 0};
        int got;
        do
            got = ::poll(&p, 1, ms);
        while (got < 0 && errno == EINTR);
        return got > 0;
    }

    void address_of(bool remote, std::string& ip, int& port) const
    {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        sockaddr* sa = reinterpret_cast<sockaddr*>(&a);
        ip.clear();
        port = 0;
        if ((remote ? ::getpeername(sock_, sa, &len) : ::getsockname(sock_, sa, &len)) != 0)
            return;
        char text[INET6_ADDRSTRLEN] = "";
        if (a.ss_family == AF_INET) {
            const sockaddr_in* v4 = reinterpret_cast<const sockaddr_in*>(&a);
            ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
            port = ntohs(v4->sin_port);
        } else if (a.ss_family == AF_INET6) {
            const sockaddr_in6* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
            ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
            port = ntohs(v6->sin6_port);
        }
        ip = text;
    }

    int sock_;
    Clock::time_point deadline_ = Clock::now();
    bool close_after_ = false;
    char buffer_[READ_BUFFER];
    std::size_t at_ = 0;
    std::size_t filled_ = 0;
};

/* The connection whose request the current worker is reading. */
thread_local ConnectionStream* current_connection = nullptr;

/* Marks the current connection to be closed after this answer. */
void close_connection_after(httplib::Response& res)
{
    if (current_connection != nullptr)
        current_connection->close_after();
    res.set_header("Connection", "close");
}

/* The library's server with the front's connection handling: the library
** accepts and hands each connection to a worker, which serves it here. */
class FrontServer : public httplib::Server {
public:
    explicit FrontServer(bool cap_per_address) : cap_per_address_(cap_per_address) {}

    /* The library listens with a short backlog: a second listen() on the
    ** bound socket lengthens it. */
    bool lengthen_backlog() { return ::listen(svr_sock_, LISTEN_BACKLOG) == 0; }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        int one = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
            ConnectionStream stream(sock);
            std::string address;
            int port = 0;
            stream.get_remote_ip_and_port(address, port);
            if (admit(address)) {
                serve_connection(stream);
                leave(address);
            } else {
                refuse_busy(stream);
            }
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return true;
    }

    void serve_connection(ConnectionStream& stream)
    {
        auto stopping = [this] { return svr_sock_ == INVALID_SOCKET; };
        for (std::size_t count = 1; count <= KEEP_ALIVE_REQUESTS; count++) {
            if (!stream.wait_for_request(keep_alive_timeout_sec_, stopping))
                return;
            stream.set_deadline(Clock::now() + HEADER_SECONDS);
            bool closed = false;
            current_connection = &stream;
            bool ok = process_request(stream, count == KEEP_ALIVE_REQUESTS, closed, [&stream](httplib::Request&) {
                stream.set_deadline(Clock::now() + BODY_SECONDS);
            });
            current_connection = nullptr;
            if (!ok || closed || stream.must_close())
                return;
        }
    }

    bool admit(const std::string& address)
    {
        std::lock_guard lock(mutex_);
        int& count = connections_[address];
        if (cap_per_address_ && count >= CONNECTIONS_PER_ADDRESS) {
            if (count == 0)
                connections_.erase(address);
            return false;
        }
        count++;
        return true;
    }

    void leave(const std::string& address)
    {
        std::lock_guard lock(mutex_);
        if (--connections_[address] <= 0)
            connections_.erase(address);
    }

    static void refuse_busy(ConnectionStream& stream)
    {
        std::string body = json{{"error", "too many connections from one address: close some and try again"}}.dump();
        std::string answer = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: " + std::string(JSON_TYPE) +
                             "\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nConnection: close\r\n\r\n" + body;
        stream.write(answer.data(), answer.size());
    }

    bool cap_per_address_;
    std::mutex mutex_;
    std::map<std::string, int> connections_;
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

    serve::add_calibrate_routes(server, bench);
    server.Get("/api/schema", [](const httplib::Request&, httplib::Response& res) {
        send_json(res, schema_json());
    });
    server.Get("/api/herds", [&bench](const httplib::Request&, httplib::Response& res) {
        send_json(res, bench.list_herds());
    });
    server.Get("/api/cowlists", [&bench](const httplib::Request&, httplib::Response& res) {
        send_json(res, bench.list_cow_lists());
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
        for (const serve::RunInfo& run : bench.runs().list()) {
            out.push_back(serve::run_json(run));
            out.back()["size"] = bench.run_bytes(run.id);
        }
        send_json(res, out);
    });
    /* Every ended run but the newest keep_last. */
    server.Delete("/api/runs", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        const json& keep = (*body)["keep_last"];
        if (!keep.is_number_unsigned()) {
            send_error(res, 400, "keep_last must be a whole number of runs to keep");
            return;
        }
        send_json(res, {{"deleted", bench.delete_runs_but_last(keep.get<std::size_t>())}});
    });
    server.Post(R"(/api/runs/([^/]+)/simulate)", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        auto whole = [&](const char* name, int fallback) {
            const json& v = (*body)[name];
            return v.is_number_integer() ? static_cast<int>(std::clamp<long long>(v.get<long long>(), -1, 1 << 30))
                                         : v.is_null() ? fallback : -1;
        };
        constexpr int DEFAULT_PLACES = 100, DEFAULT_YEARS = 5, DEFAULT_REPLICATES = 100;
        std::optional<Refusal> refused;
        std::string id = bench.start_simulation(req.matches[1], whole("cows", DEFAULT_PLACES), whole("years", DEFAULT_YEARS),
                                                whole("replicates", DEFAULT_REPLICATES), refused);
        if (!refused_sent(res, refused))
            send_json(res, {{"id", id}}, 202);
    });
    server.Delete(R"(/api/runs/([^/]+))", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        bench.delete_run(req.matches[1], refused);
        if (!refused_sent(res, refused))
            send_json(res, {{"deleted", true}});
    });
    server.Delete(R"(/api/herds/([^/]+))", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        bench.delete_herd(req.matches[1], refused);
        if (!refused_sent(res, refused))
            send_json(res, {{"deleted", true}});
    });
    server.Post("/api/runs", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        std::optional<Refusal> refused;
        const json& keep = (*body)["keep_files"];
        std::string id = bench.start_run(string_member(*body, "herd"), keep.is_boolean() && keep.get<bool>(), refused);
        if (!refused_sent(res, refused))
            send_json(res, {{"id", id}}, 202);
    });
    server.Post("/api/cows", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = body_object(req, res);
        if (!body)
            return;
        std::optional<Refusal> refused;
        /* The list comes with the request, or is one of the folder's. */
        std::string csv = string_member(*body, "csv");
        std::string list = string_member(*body, "list");
        if (csv.empty() && !list.empty()) {
            csv = bench.read_cow_list(list, refused);
            if (refused_sent(res, refused))
                return;
        }
        std::string id = bench.start_cows(string_member(*body, "herd"), csv,
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
    /* The run when its state differs from ?state=, or as it stands after
    ** ?ms= (at most a few seconds): a page follows a run without polling. */
    server.Get(R"(/api/runs/([^/]+)/wait)", [&bench](const httplib::Request& req, httplib::Response& res) {
        constexpr long LONGEST_WAIT_MS = 5000;
        char* end = nullptr;
        std::string ms_text = req.get_param_value("ms");
        long ms = std::strtol(ms_text.c_str(), &end, 10);
        ms = (end == ms_text.c_str() || *end != '\0') ? 0 : std::clamp(ms, 0L, LONGEST_WAIT_MS);
        auto run = bench.runs().wait_for_change(req.matches[1], req.get_param_value("state"), std::chrono::milliseconds(ms));
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

std::string lower(std::string s)
{
    for (char& ch : s)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

bool is_wildcard(const std::string& host)
{
    return host == "0.0.0.0" || host == "::" || host.empty();
}

/* The addresses of the machine's interfaces, IPv4 first. */
std::vector<std::string> machine_addresses()
{
    std::vector<std::string> v4, v6;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return v4;
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr)
            continue;
        char text[INET6_ADDRSTRLEN] = "";
        if (i->ifa_addr->sa_family == AF_INET) {
            ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
            v4.push_back(text);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            const in6_addr& a = reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr;
            if (IN6_IS_ADDR_LINKLOCAL(&a)) /* needs a zone, which no browser takes */
                continue;
            ::inet_ntop(AF_INET6, &a, text, sizeof text);
            v6.push_back(text);
        }
    }
    ::freeifaddrs(list);
    v4.insert(v4.end(), v6.begin(), v6.end());
    return v4;
}

/* How an address is written in a URL's host: IPv6 in brackets. */
std::string url_host(const std::string& host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

/* The addresses a browser may open the server at, the first the one to
** show first. */
std::vector<std::string> addresses_to_open(const std::string& host)
{
    if (!is_wildcard(host))
        return {host};
    std::vector<std::string> out;
    for (const std::string& a : machine_addresses())
        if (!is_loopback(a) && a.rfind("127.", 0) != 0)
            out.push_back(a);
    out.push_back(host == "::" ? "::1" : "127.0.0.1");
    return out;
}

/* Host header values that name this server: "name:port" in lower case,
** also plain "name" on port 80. */
std::set<std::string> own_names(const std::string& host, int port)
{
    std::vector<std::string> names = {host};
    if (is_loopback(host) || is_wildcard(host))
        names.insert(names.end(), {"127.0.0.1", "localhost", "::1"});
    if (is_wildcard(host)) {
        for (const std::string& a : machine_addresses())
            names.push_back(a);
        char name[256] = "";
        if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') {
            names.push_back(name);
            names.push_back(std::string(name) + ".local");
        }
    }
    std::set<std::string> out;
    for (const std::string& n : names) {
        out.insert(lower(url_host(n)) + ":" + std::to_string(port));
        if (port == 80)
            out.insert(lower(url_host(n)));
    }
    return out;
}

/* The media type of a Content-Type value, without parameters, in lower case. */
std::string media_type(const std::string& value)
{
    std::string type = lower(value.substr(0, value.find(';')));
    while (!type.empty() && type.back() == ' ')
        type.pop_back();
    return type;
}

/* Refuses what must not reach the routes: see the file's header. */
void add_guard(httplib::Server& server, const std::string& token, std::set<std::string> names)
{
    server.set_pre_routing_handler([token, names](const httplib::Request& req, httplib::Response& res) {
        /* A refused request's body is not read: the connection ends with
        ** the answer. */
        auto refuse = [&res](int status, const std::string& why) {
            send_error(res, status, why);
            close_connection_after(res);
            return httplib::Server::HandlerResponse::Handled;
        };
        std::string host = lower(req.get_header_value("Host"));
        if (!names.count(host))
            return refuse(403, "this server answers only to its own names and port (those printed when it started)");
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
        if (req.method == "GET" || req.method == "HEAD" || req.method == "OPTIONS")
            return httplib::Server::HandlerResponse::Unhandled;
        /* Everything else changes something. */
        if (req.get_header_value("Sec-Fetch-Site") == "cross-site")
            return refuse(403, "a change asked by another site's page");
        if (!req.has_header("Origin"))
            return refuse(403, "a change needs an Origin header naming this server (http://" + host + ")");
        if (lower(req.get_header_value("Origin")) != "http://" + host)
            return refuse(403, "a change asked by another page than this server's (Origin " +
                                   req.get_header_value("Origin") + ")");
        if (!req.has_header("Content-Length") &&
            lower(req.get_header_value("Transfer-Encoding")).find("chunked") == std::string::npos)
            return refuse(411, "a change needs a Content-Length header (0 for no body)");
        if (media_type(req.get_header_value("Content-Type")) != "application/json")
            return refuse(415, "a change must be sent as application/json");
        return httplib::Server::HandlerResponse::Unhandled;
    });

    /* The library's own refusals get a message too, and end the
    ** connection (a body may be left unread). */
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        std::string why;
        switch (res.status) {
        case 400: why = "the request could not be read (its start line, its headers or its body, "
                        "which must come whole within the server's time)"; break;
        case 404: why = "no such page"; break;
        case 405: why = "that method is not served here"; break;
        case 413: why = "the request is larger than " + std::to_string(MAX_BODY_BYTES / MEGABYTE) + " MB"; break;
        case 414: why = "the address is too long"; break;
        default: why = "the request was refused (" + std::to_string(res.status) + ")"; break;
        }
        send_error(res, res.status, why);
        if (res.status != 404)
            close_connection_after(res);
        return httplib::Server::HandlerResponse::Handled;
    }));
}

int usage(std::FILE* to = stderr)
{
    std::fprintf(to,
                 "usage: morvenda serve [--dir DIR] [--port 8080] [--host 127.0.0.1]\n"
                 "                      [--max-queued 8] [--run-seconds 3600] [--disk-mb 4096]\n"
                 "                      [--sweeps DIR]\n"
                 "  --dir DIR          the herds folder (default: the working directory)\n"
                 "  --port N           the port (0: any free port)\n"
                 "  --host ADDR        the address to listen on; off 127.0.0.1 every request\n"
                 "                     needs the access token printed at start\n"
                 "  --max-queued N     runs that may wait for a free core; more are refused\n"
                 "  --run-seconds N    a run still going after N seconds is stopped\n"
                 "  --disk-mb N        room the herds folder (runs included) may take; no\n"
                 "                     new run starts when it would not fit\n"
                 "  --sweeps DIR       the folder of sweep databases (*.db of morvenda-sweep)\n"
                 "                     shown read-only (default: the herds folder)\n");
    return 2;
}

/* A number above 0, or false. */
bool positive_number(const std::string& text, double& out)
{
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(v > 0.0) || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

/* A whole number of at least `least`, or false. */
bool whole_number(const std::string& text, long long least, long long& out)
{
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < least)
        return false;
    out = v;
    return true;
}

} // namespace

int serve_command(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (i + 1 >= argc)
            return usage();
        std::string value = argv[++i];
        long long number = 0;
        if (arg == "--dir")
            options.dir = value;
        else if (arg == "--sweeps")
            options.sweeps = value;
        else if (arg == "--host")
            options.host = value;
        else if (arg == "--port") {
            if (!whole_number(value, 0, number) || number > 65535)
                return usage();
            options.port = static_cast<int>(number);
        } else if (arg == "--max-queued" && whole_number(value, 0, number))
            options.limits.runs.max_queued = static_cast<std::size_t>(number);
        else if (arg == "--run-seconds") {
            if (!positive_number(value, options.limits.runs.run_seconds))
                return usage();
        } else if (arg == "--disk-mb" && whole_number(value, 1, number) && number < (1ll << 40))
            options.limits.disk_bytes = static_cast<std::uintmax_t>(number) * MEGABYTE;
        else
            return usage();
    }

    std::error_code ec;
    std::filesystem::path dir = std::filesystem::canonical(options.dir, ec);
    if (ec || !std::filesystem::is_directory(dir)) {
        std::fprintf(stderr, "morvenda serve: %s is not a folder\n", options.dir.c_str());
        return 1;
    }
    std::filesystem::path sweeps = options.sweeps.empty() ? dir : std::filesystem::canonical(options.sweeps, ec);
    if (ec || !std::filesystem::is_directory(sweeps)) {
        std::fprintf(stderr, "morvenda serve: --sweeps %s is not a folder\n", options.sweeps.c_str());
        return 1;
    }
    /* The server's own folders inside DIR must be folders of DIR, not links
    ** that lead out of it. */
    for (const char* own : {"runs", ".check"}) {
        std::error_code lec;
        if (std::filesystem::is_symlink(dir / own, lec)) {
            std::fprintf(stderr, "morvenda serve: %s is a symbolic link: the server writes only inside %s\n",
                         (dir / own).c_str(), dir.c_str());
            return 1;
        }
    }
    /* A run's child must not die of a write to a closed pipe of ours, and
    ** the server must not die of a client that went away. */
    std::signal(SIGPIPE, SIG_IGN);

    unsigned cores = std::thread::hardware_concurrency();
    serve::Workbench bench(dir.string(), program_beside(MODEL_PROGRAM), MORVENDA_EXAMPLES_DIR, cores ? cores : 1,
                           options.limits);
    bool loopback = is_loopback(options.host);
    std::string token = loopback ? "" : random_token();

    FrontServer server(!loopback);
    server.set_payload_max_length(MAX_BODY_BYTES);
    server.new_task_queue = [] { return new httplib::ThreadPool(WORKERS); };
    server.set_keep_alive_timeout(KEEP_ALIVE_SECONDS);
    server.set_keep_alive_max_count(KEEP_ALIVE_REQUESTS);
    server.set_tcp_nodelay(true);
    server.set_default_headers({{"Content-Security-Policy", CONTENT_SECURITY_POLICY},
                                {"X-Content-Type-Options", "nosniff"},
                                {"X-Frame-Options", "DENY"},
                                {"Referrer-Policy", "no-referrer"}});
    add_routes(server, bench, MORVENDA_WEB_DIR);
    serve::add_sweep_routes(server, sweeps.string());

    int port = options.port;
    if (port == 0)
        port = server.bind_to_any_port(options.host);
    else if (!server.bind_to_port(options.host, port))
        port = -1;
    if (port < 0) {
        std::fprintf(stderr, "morvenda serve: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    if (!server.lengthen_backlog())
        std::fprintf(stderr, "morvenda serve: the listen backlog stays short: %s\n", std::strerror(errno));
    add_guard(server, token, own_names(options.host, port));

    std::printf("morvenda serve: herds in %s\n", dir.c_str());
    if (!token.empty())
        std::printf("morvenda serve: listening on %s, reachable from the network: every request needs the access token\n",
                    options.host.c_str());
    for (const std::string& address : addresses_to_open(options.host))
        std::printf("morvenda serve: open http://%s:%d/%s\n", url_host(address).c_str(), port,
                    token.empty() ? "" : ("?token=" + token).c_str());
    std::fflush(stdout);

    running_server.store(&server);
    std::signal(SIGINT, stop_on_signal);
    std::signal(SIGTERM, stop_on_signal);
    bool ok = server.listen_after_bind();
    running_server.store(nullptr);
    return ok ? 0 : 1;
}
