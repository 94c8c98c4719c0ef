/*
** runs.h -- runs of the model as child processes, queued and watched.
**
** The model keeps its records once per process, so the server never runs
** it in its own process: every run is the morvenda program started with
** fork and exec (no shell) in a run folder of its own, in a process group
** of its own so that a cancel ends it and anything it started.  At most
** `slots` runs go at once, the rest wait in order.  Progress is read from
** the run's msg.txt; a run that ends with status 0 is done, any other end
** is a failure that keeps the run's last message.  Each run's state is
** kept in run.json in its folder, so the list survives a restart.
*/
#ifndef MORVENDA_SERVE_RUNS_H
#define MORVENDA_SERVE_RUNS_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace serve {

struct RunInfo {
    std::string id;
    std::string kind;  /* "run" (a whole run) or "cows" (a ranked cow list) */
    std::string herd;  /* bio file name in DIR it was made from */
    std::string state; /* queued, running, done, failed, cancelled */
    std::string message;
    std::string console_tail;
    double progress = 0.0; /* 0..1 */
    int exit_status = -1;
    long long created = 0; /* seconds since the epoch */
    long long finished = 0;
    std::vector<std::string> args; /* the program's arguments, in the run folder */
    pid_t pid = 0;
    std::chrono::steady_clock::time_point began; /* when it started running */
    long long started = 0;  /* seconds since the epoch, when it began running */
    bool keep_files = false; /* keep the rpo and del files (else removed when done) */
    bool cancel_asked = false;
    bool overran = false; /* stopped for taking longer than a run may */
};

/* What the queue allows: runs waiting at most, and the time a run may take
** before it is stopped (with anything it started). */
struct RunLimits {
    std::size_t max_queued = 8;
    double run_seconds = 3600.0;
};

nlohmann::json run_json(const RunInfo& run);

/* Every file the server writes goes through the program's writer: a
** temporary file of its own, created exclusively, synced and renamed over
** the name, so that parallel writers never meet and a reader never sees
** half a file.  A name that is a symbolic link is refused, never written
** through out of the folder.  "" or why it could not be written (the old
** file then stays as it was). */
std::string write_whole_file(const std::string& path, const std::string& text);

/* 0..1 from a msg.txt line: how far the run is. */
double progress_of(const std::string& message);

/* The stage a msg.txt line names, in the program's own words (its progress
** messages without the code and the value): "" when it names none. */
std::string stage_of(const std::string& message);

/* A child with its own process group in `folder`, standard input from
** /dev/null, standard output and error to `console`; -1 when it could not
** be started. */
pid_t start_child(const std::string& program, const std::vector<std::string>& args,
                  const std::string& folder, const std::string& console);

/* Runs a child to its end, killing it after `timeout_ms`; returns its exit
** status (-1 when it was killed or could not start). */
int run_child(const std::string& program, const std::vector<std::string>& args,
              const std::string& folder, const std::string& console, int timeout_ms);

class RunQueue {
public:
    /* Called in the watcher thread when a run ended with status 0, before
    ** it is shown as done (results are prepared there). */
    using Finisher = std::function<void(const RunInfo&, const std::string& folder)>;

    RunQueue(std::string runs_dir, std::string program, unsigned slots, RunLimits limits, Finisher finisher);
    ~RunQueue();
    RunQueue(const RunQueue&) = delete;
    RunQueue& operator=(const RunQueue&) = delete;

    /* A new run folder under the runs folder, created empty; its id. */
    std::string new_folder();
    std::string folder_of(const std::string& id) const { return runs_dir_ + "/" + id; }

    /* false (nothing queued) when as many runs wait for a free core as
    ** may. */
    bool submit(const std::string& id, const std::string& kind, const std::string& herd,
                const std::vector<std::string>& args, bool keep_files = false);
    /* Runs waiting or running now. */
    std::size_t active();
    const RunLimits& limits() const { return limits_; }
    std::optional<RunInfo> get(const std::string& id);
    /* The run once its state is no longer `known_state`, or as it stands
    ** after `most`: a page learns that its run has ended without asking
    ** over and over. */
    std::optional<RunInfo> wait_for_change(const std::string& id, const std::string& known_state,
                                           std::chrono::milliseconds most);
    std::vector<RunInfo> list();
    /* false when there is no such run or it has already ended. */
    bool cancel(const std::string& id);
    /* Forgets an ended run and removes its folder: "" or why not (a run
    ** still queued or running is not removed). */
    std::string remove(const std::string& id);

private:
    void watch();
    void start_queued();
    void reap();
    void stop_overrunning();
    void save(const RunInfo& run);
    void load_saved();
    void end_run(RunInfo& run, int status);

    std::string runs_dir_;
    std::string program_;
    unsigned slots_;
    RunLimits limits_;
    Finisher finisher_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable changed_; /* a run's state was saved */
    std::map<std::string, RunInfo> runs_;
    std::deque<std::string> queue_;
    unsigned counter_ = 0;
    bool stopping_ = false;
    std::thread watcher_;
};

} // namespace serve

#endif
