/*
** runs.cpp -- the run queue: start, watch, cancel and remember runs.
*/
#include "serve/runs.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/output_file.h"
#include "core/runlog.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

/* How often the watcher looks at its children (more often while one runs,
** so that a finished run is seen at once); how many console lines a run's
** state keeps. */
constexpr auto WATCH_PERIOD = std::chrono::milliseconds(50);
constexpr auto WATCH_PERIOD_RUNNING = std::chrono::milliseconds(5);
constexpr int CONSOLE_TAIL_LINES = 6;
constexpr const char* RUN_STATE_FILE = "run.json";
constexpr const char* MSG_FILE = "msg.txt";
constexpr const char* CONSOLE_FILE = "console.txt";

/* Where each stage of the program's progress messages stands on the way
** through a run, as the start and end of its share of the bar (the
** percentage or convergence of the message moves within the share).  The
** codes are the program's own (core/runlog.h). */
struct Stage {
    unsigned code;
    double from;
    double to;
};
constexpr Stage STAGES[] = {
    {MSG_INIT_STARTED, 0.01, 0.01},       {MSG_RESET_BIO, 0.02, 0.02},
    {MSG_READ_BIO, 0.03, 0.03},           {MSG_BIO_PROBABILITIES, 0.04, 0.04},
    {MSG_BIO_PROBABILITIES_PROGRESS, 0.04, 0.08},
    {MSG_RESET_FUT, 0.08, 0.08},          {MSG_RESET_POL, 0.08, 0.08},
    {MSG_RESET_RPO, 0.09, 0.09},          {MSG_RESET_INS, 0.09, 0.09},
    {MSG_RESET_DEL, 0.09, 0.09},          {MSG_RESET_MKV, 0.10, 0.10},
    {MSG_RESET_COW, 0.10, 0.10},          {MSG_READING_POL, 0.10, 0.15},
    {MSG_DP_STARTED, 0.10, 0.10},         {MSG_DP_CONVERGENCE, 0.10, 0.45},
    {MSG_DP_FAILED, 0.45, 0.45},          {MSG_DP_CONVERGED, 0.45, 0.45},
    {MSG_WRITING_POL, 0.45, 0.50},        {MSG_WRITING_RPO, 0.50, 0.60},
    {MSG_WRITING_DEL, 0.60, 0.70},        {MSG_CHAIN_STARTED, 0.70, 0.70},
    {MSG_READING_MKV, 0.70, 0.70},        {MSG_RESET_MKV_PROGRESS, 0.70, 0.72},
    {MSG_CHAIN_CONVERGENCE, 0.72, 0.85},  {MSG_CHAIN_FAILED, 0.85, 0.85},
    {MSG_CHAIN_COLLECTING, 0.85, 0.95},   {MSG_CHAIN_STATISTICS, 0.95, 0.95},
    {MSG_WRITING_RES, 0.97, 0.97},        {MSG_COMPLETED, 1.00, 1.00},
};

/* The number a progress message starts with (the file shows 125 as 25). */
unsigned shown_code(unsigned code)
{
    constexpr unsigned SHOWN_CODES = 100;
    return code == MSG_STOP ? code : code % SHOWN_CODES;
}

/* Convergence messages fall from about 1 to 1e-7: their decades move the bar. */
constexpr double CONVERGENCE_DECADES = 7.0;

long long now_seconds()
{
    return static_cast<long long>(std::time(nullptr));
}

std::string read_small_file(const std::string& path, std::size_t limit = 1 << 20)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::string last_lines(const std::string& path, int count)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    std::streamoff start = size > 8192 ? size - 8192 : 0;
    in.seekg(start);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::istringstream rows(text);
    std::string line;
    while (std::getline(rows, line))
        if (line.find_first_not_of(" \t\r@\a") != std::string::npos)
            lines.push_back(line);
    std::string out;
    int first = static_cast<int>(lines.size()) > count ? static_cast<int>(lines.size()) - count : 0;
    for (int i = first; i < static_cast<int>(lines.size()); i++)
        out += lines[static_cast<std::size_t>(i)] + "\n";
    return out;
}

std::string trim(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    std::size_t start = s.find_first_not_of(' ');
    return start == std::string::npos ? "" : s.substr(start);
}

} // namespace

double progress_of(const std::string& message)
{
    char* end = nullptr;
    long code = std::strtol(message.c_str(), &end, 10);
    if (end == message.c_str())
        return 0.0;
    for (const Stage& stage : STAGES) {
        if (static_cast<long>(shown_code(stage.code)) != code)
            continue;
        double share = 0.0;
        std::size_t colon = message.find(':');
        if (colon != std::string::npos) {
            double v = std::strtod(message.c_str() + colon + 1, nullptr);
            if (message.find('%') != std::string::npos)
                share = v / 100.0;
            else if (v > 0.0)
                share = -std::log10(v) / CONVERGENCE_DECADES;
        }
        share = share < 0.0 ? 0.0 : share > 1.0 ? 1.0 : share;
        return stage.from + (stage.to - stage.from) * share;
    }
    return 0.0;
}

std::string stage_of(const std::string& message)
{
    for (unsigned i = 0; i < PROGRESS_MESSAGE_COUNT; i++) {
        std::string format = PROGRESS_MESSAGES[i].format;
        std::size_t dash = format.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::string head = format.substr(0, dash + 3);
        if (message.rfind(head, 0) != 0)
            continue;
        std::string name = format.substr(dash + 3);
        std::size_t cut = name.find_first_of(":%,");
        return cut == std::string::npos ? name : name.substr(0, cut);
    }
    return "";
}

nlohmann::json run_json(const RunInfo& run)
{
    return {{"id", run.id},           {"kind", run.kind},
            {"herd", run.herd},       {"state", run.state},
            {"message", run.message}, {"console_tail", run.console_tail},
            {"progress", run.progress}, {"exit_status", run.exit_status},
            {"created", run.created}, {"finished", run.finished},
            {"started", run.started}, {"keep_files", run.keep_files},
            {"stage", stage_of(run.message)}, {"args", run.args}};
}

std::string write_whole_file(const std::string& path, const std::string& text)
{
    OutputFile out(path, OutputFile::Links::REFUSE);
    if (!out.ok())
        return out.error();
    if (std::fwrite(text.data(), 1, text.size(), out.fp()) != text.size()) {
        out.discard();
        return "the disk refused the writing";
    }
    if (!out.commit())
        return out.error();
    return "";
}

pid_t start_child(const std::string& program, const std::vector<std::string>& args,
                  const std::string& folder, const std::string& console)
{
    /* Everything the child needs is prepared before the fork: between fork
    ** and exec only system calls are made. */
    std::vector<char*> argv;
    std::string name = "morvenda";
    argv.push_back(name.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const char* dir = folder.c_str();
    const char* out = console.c_str();
    const char* path = program.c_str();

    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        setpgid(0, 0);
        if (chdir(dir) != 0)
            _exit(127);
        int in = open("/dev/null", O_RDONLY);
        int log = open(out, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
        if (in < 0 || log < 0)
            _exit(127);
        dup2(in, 0);
        dup2(log, 1);
        dup2(log, 2);
        /* The server's sockets and files stay with the server. */
        close_range(3, ~0U, 0);
        execv(path, argv.data());
        _exit(127);
    }
    setpgid(pid, pid); /* also here, so that a cancel right after finds the group */
    return pid;
}

int run_child(const std::string& program, const std::vector<std::string>& args,
              const std::string& folder, const std::string& console, int timeout_ms)
{
    pid_t pid = start_child(program, args, folder, console);
    if (pid < 0)
        return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    for (;;) {
        pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid)
            break;
        if (got < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RunQueue::RunQueue(std::string runs_dir, std::string program, unsigned slots, RunLimits limits,
                   Finisher finisher)
    : runs_dir_(std::move(runs_dir)), program_(std::move(program)), slots_(slots ? slots : 1),
      limits_(limits), finisher_(std::move(finisher))
{
    fs::create_directories(runs_dir_);
    load_saved();
    watcher_ = std::thread([this] { watch(); });
}

RunQueue::~RunQueue()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
        for (auto& [id, run] : runs_)
            if (run.state == "running" && run.pid > 0)
                kill(-run.pid, SIGKILL);
    }
    wake_.notify_all();
    watcher_.join();
    for (auto& [id, run] : runs_)
        if (run.state == "running" && run.pid > 0)
            waitpid(run.pid, nullptr, 0);
}

std::string RunQueue::new_folder()
{
    std::lock_guard lock(mutex_);
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    for (;;) {
        std::string id = std::string(stamp) + "-" + std::to_string(++counter_);
        if (::mkdir((runs_dir_ + "/" + id).c_str(), 0755) == 0)
            return id;
        if (errno != EEXIST)
            return "";
    }
}

bool RunQueue::submit(const std::string& id, const std::string& kind, const std::string& herd,
                      const std::vector<std::string>& args, bool keep_files)
{
    {
        std::lock_guard lock(mutex_);
        std::size_t running = 0;
        for (const auto& [other, run] : runs_)
            running += run.state == "running";
        std::size_t free_slots = running < slots_ ? slots_ - running : 0;
        if (queue_.size() >= free_slots + limits_.max_queued)
            return false;
        RunInfo run;
        run.id = id;
        run.kind = kind;
        run.herd = herd;
        run.state = "queued";
        run.message = "waiting for a free core";
        run.created = now_seconds();
        run.args = args;
        run.keep_files = keep_files;
        runs_[id] = run;
        queue_.push_back(id);
        save(run);
    }
    wake_.notify_all();
    return true;
}

std::size_t RunQueue::active()
{
    std::lock_guard lock(mutex_);
    std::size_t n = queue_.size();
    for (const auto& [id, run] : runs_)
        n += run.state == "running";
    return n;
}

std::optional<RunInfo> RunQueue::get(const std::string& id)
{
    std::lock_guard lock(mutex_);
    auto it = runs_.find(id);
    if (it == runs_.end())
        return std::nullopt;
    RunInfo& run = it->second;
    if (run.state == "running") {
        std::string msg = trim(read_small_file(folder_of(id) + "/" + MSG_FILE, 4096));
        if (!msg.empty()) {
            run.message = msg;
            run.progress = progress_of(msg);
        }
    }
    return run;
}

std::optional<RunInfo> RunQueue::wait_for_change(const std::string& id, const std::string& known_state,
                                                  std::chrono::milliseconds most)
{
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, most, [&] {
            auto it = runs_.find(id);
            return stopping_ || it == runs_.end() || it->second.state != known_state;
        });
    }
    return get(id);
}

std::vector<RunInfo> RunQueue::list()
{
    std::vector<std::string> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, run] : runs_)
            ids.push_back(id);
    }
    std::vector<RunInfo> out;
    for (const std::string& id : ids)
        if (auto run = get(id))
            out.push_back(*run);
    return out;
}

bool RunQueue::cancel(const std::string& id)
{
    std::lock_guard lock(mutex_);
    auto it = runs_.find(id);
    if (it == runs_.end())
        return false;
    RunInfo& run = it->second;
    if (run.state == "queued") {
        std::erase(queue_, id);
        run.state = "cancelled";
        run.message = "cancelled before it started";
        run.finished = now_seconds();
        save(run);
        return true;
    }
    if (run.state != "running")
        return false;
    run.cancel_asked = true;
    if (run.pid > 0)
        kill(-run.pid, SIGKILL);
    return true;
}

std::string RunQueue::remove(const std::string& id)
{
    std::lock_guard lock(mutex_);
    auto it = runs_.find(id);
    if (it == runs_.end())
        return "no such run";
    if (it->second.state == "queued" || it->second.state == "running")
        return "the run has not ended: cancel it first";
    std::error_code ec;
    fs::remove_all(folder_of(id), ec);
    if (ec)
        return "the run's folder could not be removed: " + ec.message();
    runs_.erase(it);
    return "";
}

void RunQueue::watch()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        reap();
        lock.lock();
        stop_overrunning();
        start_queued();
        bool running = std::any_of(runs_.begin(), runs_.end(), [](const auto& r) { return r.second.state == "running"; });
        wake_.wait_for(lock, running ? WATCH_PERIOD_RUNNING : WATCH_PERIOD);
    }
}

/* Called with the lock held. */
void RunQueue::start_queued()
{
    unsigned running = 0;
    for (const auto& [id, run] : runs_)
        if (run.state == "running")
            running++;
    while (running < slots_ && !queue_.empty()) {
        RunInfo& run = runs_[queue_.front()];
        queue_.pop_front();
        std::string folder = folder_of(run.id);
        run.pid = start_child(program_, run.args, folder, folder + "/" + CONSOLE_FILE);
        if (run.pid < 0) {
            run.state = "failed";
            run.message = "the program could not be started";
            run.finished = now_seconds();
        } else {
            run.state = "running";
            run.message = "started";
            run.began = std::chrono::steady_clock::now();
            run.started = now_seconds();
            running++;
        }
        save(run);
    }
}

/* Called with the lock held: a run past its time is ended with its whole
** process group; the next look reaps it. */
void RunQueue::stop_overrunning()
{
    auto now = std::chrono::steady_clock::now();
    for (auto& [id, run] : runs_)
        if (run.state == "running" && run.pid > 0 && !run.overran && !run.cancel_asked &&
            std::chrono::duration<double>(now - run.began).count() >= limits_.run_seconds) {
            run.overran = true;
            kill(-run.pid, SIGKILL);
        }
}

void RunQueue::reap()
{
    std::vector<std::pair<std::string, int>> ended;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, run] : runs_) {
            if (run.state != "running" || run.pid <= 0)
                continue;
            int status = 0;
            if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
                /* Anything the run left behind in its group goes with it. */
                kill(-run.pid, SIGKILL);
                ended.emplace_back(id, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            }
        }
    }
    for (auto& [id, status] : ended) {
        std::string folder = folder_of(id);
        RunInfo snapshot;
        {
            std::lock_guard lock(mutex_);
            snapshot = runs_[id];
        }
        /* A cancel that arrives as the run ends finds it already complete:
        ** status 0 means the program got to its end, so the run is kept. */
        if (status == 0 && !snapshot.overran && finisher_)
            finisher_(snapshot, folder);
        std::lock_guard lock(mutex_);
        end_run(runs_[id], status);
    }
}

/* Called with the lock held. */
void RunQueue::end_run(RunInfo& run, int status)
{
    std::string folder = folder_of(run.id);
    std::string msg = trim(read_small_file(folder + "/" + MSG_FILE, 4096));
    run.exit_status = status;
    run.finished = now_seconds();
    run.pid = 0;
    run.console_tail = last_lines(folder + "/" + CONSOLE_FILE, CONSOLE_TAIL_LINES);
    if (run.overran) {
        run.state = "failed";
        char limit[32];
        std::snprintf(limit, sizeof limit, "%g", limits_.run_seconds);
        run.message = std::string("stopped after ") + limit +
                      " s, the longest a run may take here (morvenda serve --run-seconds)";
    } else if (run.cancel_asked && status != 0) {
        run.state = "cancelled";
        run.message = "cancelled" + (msg.empty() ? std::string() : " at: " + msg);
    } else if (status == 0) {
        run.state = "done";
        run.message = msg.empty() ? "completed" : msg;
        run.progress = 1.0;
    } else {
        run.state = "failed";
        run.message = msg.empty() ? "the run ended with status " + std::to_string(status) : msg;
    }
    save(run);
}

/* Called with the lock held (or before the watcher starts). */
void RunQueue::save(const RunInfo& run)
{
    /* A state that cannot be saved is still kept in memory: the list shows it
    ** until the server stops. */
    (void)write_whole_file(folder_of(run.id) + "/" + RUN_STATE_FILE, run_json(run).dump(1) + "\n");
    changed_.notify_all();
}

void RunQueue::load_saved()
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(runs_dir_, ec)) {
        if (!entry.is_directory() || entry.is_symlink())
            continue;
        std::string text = read_small_file(entry.path().string() + "/" + RUN_STATE_FILE);
        nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
        if (j.is_discarded() || !j.is_object())
            continue;
        RunInfo run;
        run.id = entry.path().filename().string();
        run.kind = j.value("kind", "run");
        run.herd = j.value("herd", "");
        run.state = j.value("state", "failed");
        run.message = j.value("message", "");
        run.console_tail = j.value("console_tail", "");
        run.progress = j.value("progress", 0.0);
        run.exit_status = j.value("exit_status", -1);
        run.created = j.value("created", 0LL);
        run.finished = j.value("finished", 0LL);
        run.started = j.value("started", 0LL);
        run.keep_files = j.value("keep_files", false);
        if (j.contains("args") && j["args"].is_array())
            for (const auto& a : j["args"])
                if (a.is_string())
                    run.args.push_back(a.get<std::string>());
        if (run.state == "queued" || run.state == "running") {
            run.state = "failed";
            run.message = "the server stopped before the run ended";
            save(run);
        }
        runs_[run.id] = run;
    }
}

} // namespace serve
