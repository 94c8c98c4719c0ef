/*
** serve_guard_test.cpp -- what the server refuses and withstands: changes
** from other pages, slow and crowding clients, parallel saves, links, and
** runs beyond its limits.  Every connection goes to a loopback address.
*/
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "served_folder.h"
#include "support/support.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

const char* const JSON_TYPE = "application/json";
const char* const MILK_PRICE_JAN = "26.24";

/* A raw connection to a loopback address, for what a library client will
** not send. */
class RawConnection {
public:
    RawConnection(const std::string& address, int port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RawConnection()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool ok() const { return fd_ >= 0; }
    bool send(const std::string& text) { return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size()); }
    /* What the server sends until it closes or `ms` pass. */
    std::string receive(int ms)
    {
        std::string out;
        auto until = Clock::now() + std::chrono::milliseconds(ms);
        char buf[4096];
        while (Clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
    /* True once the server has closed the connection (without waiting). */
    bool closed_by_server()
    {
        if (!closed_)
            receive(0);
        if (!closed_) {
            pollfd p{fd_, POLLIN, 0};
            char buf[256];
            if (::poll(&p, 1, 0) > 0 && ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT) <= 0)
                closed_ = true;
        }
        return closed_;
    }

private:
    int fd_ = -1;
    bool closed_ = false;
};

void expect_guarding_headers(const httplib::Result& res, const std::string& what)
{
    ASSERT_TRUE(res) << what;
    std::string csp = res->get_header_value("Content-Security-Policy");
    EXPECT_NE(csp.find("frame-ancestors 'none'"), std::string::npos) << what << ": " << csp;
    EXPECT_NE(csp.find("script-src 'self'"), std::string::npos) << what << ": " << csp;
    EXPECT_EQ(res->get_header_value("X-Content-Type-Options"), "nosniff") << what;
    EXPECT_EQ(res->get_header_value("Referrer-Policy"), "no-referrer") << what;
}

TEST(ServeGuard, ChangesComeOnlyFromTheServersOwnPage)
{
    ServedFolder served;
    served.add_example("base.bio");
    const std::string own = served.origin();
    const std::string port = std::to_string(served.port());
    httplib::Client c("127.0.0.1", served.port());
    const std::string body = json{{"name", "x.bio"}, {"text", "x"}, {"overwrite", true}}.dump();

    /* Another local port's page, no page at all, a form's type, a page
    ** marked cross-site, an Origin that is not this Host. */
    EXPECT_EQ(c.Post("/api/herds", {{"Origin", "http://127.0.0.1:8393"}}, body, "text/plain")->status, 403);
    EXPECT_EQ(c.Post("/api/herds", {{"Origin", "http://127.0.0.1:8393"}}, body, JSON_TYPE)->status, 403);
    EXPECT_EQ(c.Post("/api/herds", body, JSON_TYPE)->status, 403);
    EXPECT_EQ(c.Post("/api/herds", {{"Origin", own}}, body, "text/plain")->status, 415);
    EXPECT_EQ(c.Post("/api/herds", {{"Origin", own}}, body, "application/x-www-form-urlencoded")->status, 415);
    EXPECT_EQ(c.Post("/api/herds", {{"Origin", own}, {"Sec-Fetch-Site", "cross-site"}}, body, JSON_TYPE)->status, 403);
    EXPECT_EQ(c.Post("/api/herds", {{"Origin", "http://localhost:" + port}}, body, JSON_TYPE)->status, 403);
    EXPECT_EQ(c.Post("/api/runs/nope/cancel", {{"Origin", "http://127.0.0.1:8393"}}, "", JSON_TYPE)->status, 403);
    /* A Host of another port, or a name not the server's. */
    EXPECT_EQ(c.Get("/api/herds", {{"Host", "127.0.0.1:8393"}})->status, 403);
    EXPECT_EQ(c.Get("/api/herds", {{"Host", "evil.example:" + port}})->status, 403);
    EXPECT_FALSE(std::filesystem::exists(served.dir() + "/x.bio"));

    /* The page itself: its Origin, JSON, and bodiless changes too. */
    EXPECT_EQ(c.Post("/api/herds", {{"Origin", own}, {"Sec-Fetch-Site", "same-origin"}}, body, JSON_TYPE)->status, 201);
    EXPECT_EQ(c.Post("/api/runs/nope/cancel", {{"Origin", own}}, "", JSON_TYPE)->status, 404);
    httplib::Client by_name("localhost", served.port());
    EXPECT_EQ(by_name.Get("/api/herds")->status, 200);

    /* A change without a length is refused with a message, at once. */
    RawConnection raw("127.0.0.1", served.port());
    ASSERT_TRUE(raw.ok());
    raw.send("POST /api/herds HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nOrigin: " + own +
             "\r\nContent-Type: application/json\r\n\r\n");
    std::string answer = raw.receive(3000);
    EXPECT_EQ(answer.rfind("HTTP/1.1 411", 0), 0u) << answer;
    EXPECT_NE(answer.find("Content-Length"), std::string::npos) << answer;

    /* Every answer forbids framing and foreign scripts; the page has no
    ** script of its own inline. */
    auto page = c.Get("/");
    expect_guarding_headers(page, "page");
    expect_guarding_headers(c.Get("/api/herds"), "list");
    expect_guarding_headers(c.Post("/api/herds", body, JSON_TYPE), "refusal");
    std::string html = page->body;
    for (std::size_t at = html.find("<script"); at != std::string::npos; at = html.find("<script", at + 1))
        EXPECT_NE(html.substr(at, html.find('>', at) - at).find("src="), std::string::npos) << "an inline script";
    auto missing = c.Get("/no/such/page");
    EXPECT_EQ(missing->status, 404);
    EXPECT_TRUE(json_of(missing).contains("error")) << missing->body;
}

TEST(ServeGuard, SlowClientsDoNotHoldTheServer)
{
    /* Clients that send their request a byte at a time: each is cut off
    ** by the deadline for the headers, and meanwhile everyone else is
    ** served. */
    constexpr int SLOW = 40;
    constexpr auto DRIBBLE = std::chrono::seconds(1);
    constexpr auto CUT_OFF_WITHIN = std::chrono::seconds(16); /* the 10 s deadline, and room */
    ServedFolder served;
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < SLOW; i++) {
        slow.push_back(std::make_unique<RawConnection>("127.0.0.1", served.port()));
        ASSERT_TRUE(slow.back()->ok());
        slow.back()->send("G");
    }
    const auto start = Clock::now();
    int answered = 0;
    int slow_closed = 0;
    while (Clock::now() - start < CUT_OFF_WITHIN && slow_closed < SLOW) {
        slow_closed = 0;
        for (auto& conn : slow)
            if (conn->closed_by_server())
                slow_closed++;
            else
                conn->send("E");
        httplib::Client normal("127.0.0.1", served.port());
        normal.set_read_timeout(3, 0);
        normal.set_connection_timeout(3, 0);
        auto res = normal.Get("/api/herds");
        answered += res && res->status == 200;
        EXPECT_TRUE(res && res->status == 200) << "a normal request was not answered while slow clients waited";
        std::this_thread::sleep_for(DRIBBLE);
    }
    EXPECT_EQ(slow_closed, SLOW);
    EXPECT_GE(answered, 5);
}

TEST(ServeGuard, ManyParallelConnectsAreAllServed)
{
    constexpr int PARALLEL = 64;
    ServedFolder served;
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < PARALLEL; i++)
        threads.emplace_back([&] {
            auto c = served.client();
            auto res = c.Get("/api/schema");
            ok += res && res->status == 200;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(ok, PARALLEL);
}

TEST(ServeGuard, OffLoopbackOneAddressGetsAFewConnectionsAndNoBodyWithoutTheToken)
{
    constexpr int CAP = 16;
    ServedFolder served("127.0.0.2");
    ASSERT_FALSE(served.token().empty());
    const std::string host = "127.0.0.2:" + std::to_string(served.port());

    /* Without the token a request is refused once its headers are in: the
    ** body it announces is never waited for. */
    RawConnection early("127.0.0.2", served.port());
    early.send("POST /api/herds HTTP/1.1\r\nHost: " + host + "\r\nOrigin: http://" + host +
               "\r\nContent-Type: application/json\r\nContent-Length: 1000000\r\n\r\n{");
    std::string answer = early.receive(3000);
    EXPECT_EQ(answer.rfind("HTTP/1.1 401", 0), 0u) << answer;

    std::vector<std::unique_ptr<RawConnection>> held;
    for (int i = 0; i < CAP; i++)
        held.push_back(std::make_unique<RawConnection>("127.0.0.2", served.port()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    RawConnection one_more("127.0.0.2", served.port());
    std::string refused = one_more.receive(1500);
    EXPECT_EQ(refused.rfind("HTTP/1.1 503", 0), 0u) << refused;
    EXPECT_NE(refused.find("too many connections"), std::string::npos) << refused;
    held.clear();
    bool served_again = false;
    for (int i = 0; i < 50 && !served_again; i++) {
        auto res = served.client().Get("/api/herds");
        served_again = res && res->status == 200;
        if (!served_again)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(served_again);
}

TEST(ServeGuard, ParallelSavesNeverMeetAndNoLinkIsFollowed)
{
    constexpr int THREADS = 12;
    constexpr int SAVES = 8;
    ServedFolder served;
    served.add_example("base.bio");
    const std::string dir = served.dir();
    const json a = {{"changes", {{MILK_PRICE_JAN, "15.81"}}}};
    const json b = {{"changes", {{MILK_PRICE_JAN, "35.0"}}}};
    ASSERT_EQ(served.client().Put("/api/herds/base.bio", a.dump(), JSON_TYPE)->status, 200);
    const std::string text_a = read_text(dir + "/base.bio");
    ASSERT_EQ(served.client().Put("/api/herds/base.bio", b.dump(), JSON_TYPE)->status, 200);
    const std::string text_b = read_text(dir + "/base.bio");

    std::atomic<int> saved{0}, read_whole{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; t++)
        threads.emplace_back([&, t] {
            auto c = served.client();
            for (int i = 0; i < SAVES; i++) {
                auto res = c.Put("/api/herds/base.bio", ((t + i) % 2 ? a : b).dump(), JSON_TYPE);
                saved += res && res->status == 200;
                json herd = json_of(c.Get("/api/herds/base.bio"));
                std::string jan = herd.is_object() ? herd["values"].value(MILK_PRICE_JAN, "") : "";
                read_whole += (jan == "15.81" || jan == "35.0") && herd["complete"] == true;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(saved, THREADS * SAVES);
    EXPECT_EQ(read_whole, THREADS * SAVES);
    const std::string final_text = read_text(dir + "/base.bio");
    EXPECT_TRUE(final_text == text_a || final_text == text_b);
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".morvenda-"), std::string::npos) << entry.path();

    /* A link where the old fixed temporary name was, and herds that are
    ** links: nothing outside the folder is written, no link is replaced. */
    const std::string outside = dir + "-outside.txt";
    write_text(outside, "keep me\n");
    std::filesystem::create_symlink(outside, dir + "/base.bio.saving");
    EXPECT_EQ(served.client().Put("/api/herds/base.bio", a.dump(), JSON_TYPE)->status, 200);
    EXPECT_FALSE(std::filesystem::is_symlink(dir + "/base.bio"));
    std::filesystem::create_symlink(outside, dir + "/link.bio");
    json upload = {{"name", "link.bio"}, {"text", "overwritten"}, {"overwrite", true}};
    EXPECT_EQ(served.client().Post("/api/herds", upload.dump(), JSON_TYPE)->status, 409);
    EXPECT_EQ(served.client().Put("/api/herds/link.bio", a.dump(), JSON_TYPE)->status, 404);
    EXPECT_EQ(read_text(outside), "keep me\n");
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.bio"));
    std::filesystem::remove(outside);
}

TEST(ServeRuns, TheQueueTheTimeOfARunAndTheDiskAreLimited)
{
    {
        /* One run may wait beyond those that go at once; the next is
        ** refused until the queue has room again. */
        ServedFolder served("127.0.0.1", {"--max-queued", "1"});
        served.add_example("base.bio");
        unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        std::vector<std::string> ids;
        for (unsigned i = 0; i < cores + 1; i++) {
            ids.push_back(served.start_run("base.bio"));
            EXPECT_FALSE(ids.back().empty()) << i;
        }
        auto refused = served.client().Post("/api/runs", json{{"herd", "base.bio"}}.dump(), JSON_TYPE);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 503);
        EXPECT_NE(refused->body.find("queue is full"), std::string::npos) << refused->body;
        EXPECT_EQ(json_of(served.client().Get("/api/runs")).size(), ids.size());
        for (const std::string& id : ids)
            EXPECT_EQ(served.wait_run(id)["state"], "done");
        EXPECT_FALSE(served.start_run("base.bio").empty());
    }
    {
        /* A run past its time is stopped, with a message that says why. */
        ServedFolder served("127.0.0.1", {"--run-seconds", "0.05"});
        served.add_example("base.bio");
        json run = served.wait_run(served.start_run("base.bio"), 60);
        EXPECT_EQ(run["state"], "failed") << run.dump();
        EXPECT_NE(run["message"].get<std::string>().find("stopped after 0.05 s"), std::string::npos) << run.dump();
    }
    {
        /* A folder at its disk budget takes no new run, and says so. */
        ServedFolder served("127.0.0.1", {"--disk-mb", "1"});
        served.add_example("base.bio");
        auto res = served.client().Post("/api/runs", json{{"herd", "base.bio"}}.dump(), JSON_TYPE);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 507);
        EXPECT_NE(res->body.find("--disk-mb"), std::string::npos) << res->body;
        EXPECT_EQ(json_of(served.client().Get("/api/runs")), json::array());
        json upload = {{"name", "large.bio"}, {"text", std::string(2u << 20, '1')}};
        EXPECT_EQ(served.client().Post("/api/herds", upload.dump(), JSON_TYPE)->status, 507);
        EXPECT_FALSE(std::filesystem::exists(served.dir() + "/large.bio"));
    }
}

TEST(ServeCommand, AServerFolderThatIsALinkOutIsRefusedAtStart)
{
    ScratchDir dir;
    std::filesystem::create_directory("herds");
    std::filesystem::create_directory("elsewhere");
    std::filesystem::create_directory_symlink("../elsewhere", "herds/runs");
    const std::string command = std::string(MORVENDA_BINARY) + " serve --dir herds --port 0 2>err.txt </dev/null";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = read_text("err.txt");
    EXPECT_NE(err.find("runs is a symbolic link"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::is_empty("elsewhere"));
}

} // namespace
