/*
** served_folder.cpp -- starts and stops the server child of the HTTP tests.
*/
#include "served_folder.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

ServedFolder::ServedFolder(const std::string& host, const std::vector<std::string>& options) : host_(host)
{
    char tmpl[] = "/tmp/morvenda-serve-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    dir_ = tmpl;
    std::vector<std::string> args = {"morvenda", "serve", "--dir", dir_, "--port", "0", "--host", host_};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("no pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execv(MORVENDA_BINARY, argv.data());
        _exit(127);
    }
    close(out[1]);
    /* The banner ends with the address to open. */
    FILE* f = fdopen(out[0], "r");
    char line[1024];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        banner_ += line;
        /* "open http://HOST:PORT/" or "open http://HOST:PORT/?token=HEX" */
        const char* at = std::strstr(line, "open http://");
        const char* colon = at != nullptr ? std::strchr(at + 12, ':') : nullptr;
        if (colon == nullptr)
            continue;
        port_ = std::atoi(colon + 1);
        const char* token = std::strstr(colon, "?token=");
        if (token != nullptr)
            token_.assign(token + 7, std::strspn(token + 7, "0123456789abcdef"));
        break;
    }
    std::fclose(f);
    if (port_ == 0)
        throw std::runtime_error("the server did not start: " + banner_);
}

ServedFolder::~ServedFolder()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

httplib::Client ServedFolder::client() const
{
    httplib::Client c(host_, port_);
    c.set_read_timeout(60, 0);
    if (!token_.empty())
        c.set_bearer_token_auth(token_.c_str());
    c.set_default_headers({{"Origin", origin()}});
    return c;
}

std::string ServedFolder::origin() const
{
    return "http://" + host_ + ":" + std::to_string(port_);
}

void ServedFolder::add_example(const std::string& name)
{
    nlohmann::json body = {{"name", name}, {"example", "holstein_lb.bio"}};
    auto res = client().Post("/api/herds", body.dump(), "application/json");
    if (!res || res->status != 201)
        throw std::runtime_error("cannot add the example herd");
}

std::string ServedFolder::start_run(const std::string& herd)
{
    auto res = client().Post("/api/runs", nlohmann::json{{"herd", herd}}.dump(), "application/json");
    if (!res || res->status != 202)
        return "";
    return json_of(res).value("id", "");
}

nlohmann::json ServedFolder::wait_run(const std::string& id, int seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    nlohmann::json run;
    while (std::chrono::steady_clock::now() < deadline) {
        run = json_of(client().Get("/api/runs/" + id));
        std::string state = run.value("state", "");
        if (state != "queued" && state != "running")
            return run;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return run;
}

nlohmann::json json_of(const httplib::Result& res)
{
    if (!res)
        return nullptr;
    return nlohmann::json::parse(res->body, nullptr, false);
}
