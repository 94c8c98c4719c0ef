/*
** workbench.h -- the herds folder: bio files, validation and runs.
**
** Every name that comes with a request is checked before it reaches the
** file system: a herd is a plain file name ending in .bio directly in the
** folder, a run is one of the queue's ids, a run's file is a plain name in
** that run's folder.  The file names written inside a bio file never reach
** the file system: a run's copy of the bio file names its outputs with the
** server's own names.
*/
#ifndef MORVENDA_SERVE_WORKBENCH_H
#define MORVENDA_SERVE_WORKBENCH_H

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "serve/runs.h"

namespace serve {

/* Longest bio file or cow list taken in. */
constexpr std::size_t MAX_FILE_BYTES = 4u << 20;

/* What a request asked for that cannot be done: the HTTP status and why. */
struct Refusal {
    int status;
    std::string why;
};

/* What the server allows: the queue's limits, and the room the herds
** folder (its runs included) may take on the disk. */
struct WorkbenchLimits {
    RunLimits runs;
    std::uintmax_t disk_bytes = 4ull << 30;
};

bool is_herd_name(const std::string& name);
bool is_run_file_name(const std::string& name);

class Workbench {
public:
    Workbench(std::string dir, std::string program, std::string examples_dir, unsigned slots,
              WorkbenchLimits limits = {});

    const std::string& dir() const { return dir_; }
    RunQueue& runs() { return *runs_; }

    nlohmann::json list_herds() const;
    nlohmann::json list_examples() const;
    /* The herd's values by "item.index", or a refusal. */
    nlohmann::json open_herd(const std::string& name, std::optional<Refusal>& refused) const;
    /* The herd's bytes, or a refusal. */
    std::string read_herd(const std::string& name, std::optional<Refusal>& refused) const;
    /* Applies the changes to the stored file and writes it back whole
    ** (through a temporary file and a rename); no changes, no write. */
    void save_herd(const std::string& name, const std::map<std::string, std::string>& changes,
                   std::optional<Refusal>& refused);
    /* A new herd from an example (example != "") or from the given text. */
    void create_herd(const std::string& name, const std::string& example, const std::string& text,
                     bool overwrite, std::optional<Refusal>& refused);
    /* Every fault of the herd with the changes applied, by the program's
    ** item table (bio_check). */
    nlohmann::json check_herd(const std::string& name, const std::map<std::string, std::string>& changes,
                              std::optional<Refusal>& refused);

    /* A run of the herd; its rpo and del files are kept only when asked. */
    std::string start_run(const std::string& herd, bool keep_files, std::optional<Refusal>& refused);
    /* `morvenda simulate` of a finished run's herd and policy, in a run
    ** folder of its own; its summary is simulation.csv. */
    std::string start_simulation(const std::string& run_id, int places, int years, int replicates,
                                 std::optional<Refusal>& refused);
    /* The cow lists (.csv) of the folder, and one of them read. */
    nlohmann::json list_cow_lists() const;
    std::string read_cow_list(const std::string& name, std::optional<Refusal>& refused) const;
    /* Removes a herd's bio file (never through a link). */
    void delete_herd(const std::string& name, std::optional<Refusal>& refused);
    /* Removes an ended run and its folder. */
    void delete_run(const std::string& id, std::optional<Refusal>& refused);
    /* Removes every ended run but the newest `keep`; the ids removed. */
    nlohmann::json delete_runs_but_last(std::size_t keep);
    /* The bytes a run's folder takes. */
    std::uintmax_t run_bytes(const std::string& id) const;
    std::string start_cows(const std::string& herd, const std::string& csv, const std::string& month,
                           const std::string& columns, std::optional<Refusal>& refused);
    nlohmann::json run_files(const std::string& id, std::optional<Refusal>& refused);
    /* Path of a file of a run, checked; "" with a refusal. */
    std::string run_file_path(const std::string& id, const std::string& file,
                              std::optional<Refusal>& refused);
    /* A refusal when another run would not fit: the queue is full, or the
    ** folder is near its disk budget. */
    std::optional<Refusal> room_for_a_run();
    /* A refusal when `more` bytes would take the folder past its budget. */
    std::optional<Refusal> disk_refusal(std::uintmax_t more) const;

private:
    std::string herd_path(const std::string& name, std::optional<Refusal>& refused) const;
    std::string prepare_run_folder(const std::string& herd, std::string& id,
                                   std::optional<Refusal>& refused);
    void write_file(const std::string& path, const std::string& text, std::optional<Refusal>& refused);
    std::string queue_full(const std::string& id, std::optional<Refusal>& refused);
    /* The lock that each save or creation of the herd holds. */
    std::mutex& herd_lock(const std::string& name);

    std::string dir_;
    std::string program_;
    std::string examples_dir_;
    std::string check_dir_;
    WorkbenchLimits limits_;
    unsigned slots_;
    std::unique_ptr<RunQueue> runs_;
    std::mutex locks_mutex_;
    std::map<std::string, std::unique_ptr<std::mutex>> herd_locks_;
};

} // namespace serve

#endif
