/*
** workbench.cpp -- herd files, validation through the program's reader,
** and the preparation of run folders.
*/
#include "serve/regex_alarm.h" /* first: see there */
#include "serve/workbench.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "bio/bio_items.h"
#include "serve/bio_layout.h"
#include "serve/results.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

constexpr const char* RUNS_FOLDER = "runs";
constexpr const char* CHECK_FOLDER = ".check";
constexpr const char* RUN_BIO = "herd.bio";
constexpr const char* RESULTS_FILE = "results.json";
constexpr const char* COWS_INPUT = "cows.csv";
constexpr const char* COWS_OUTPUT = "ranked.csv";
constexpr const char* SIM_OUTPUT = "simulation.csv";
/* Longest policy file copied for a simulation. */
constexpr std::size_t MAX_POLICY_BYTES = 1u << 30;
/* What the page may ask a simulation for: places, years, replicates. */
constexpr int MOST_SIM_PLACES = 2000;
constexpr int MOST_SIM_YEARS = 20;
constexpr int MOST_SIM_REPLICATES = 1000;
/* The room a run is counted to need until it has ended: a whole run of a
** large herd leaves some 36 MB. */
constexpr std::uintmax_t RUN_DISK_ALLOWANCE = 64ull << 20;
constexpr std::uintmax_t MEGABYTE = 1ull << 20;
/* The names a run's outputs get, in the order of the file names of the
** item table (runname .. polfile). */
const char* const RUN_NAMES[6] = {"herd", "herd.rpo", "herd.del", "herd.mkv", "herd.res", "herd.pol"};
enum { NAME_RUN, NAME_RPO, NAME_DEL, NAME_MKV, NAME_RES, NAME_POL };

/* Whether a bio file keeps its milk in kilograms (item 5 reads KG). */
bool herd_in_kg(const std::string& path)
{
    constexpr int UNITS_ITEM = 5;
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const BioToken& t : walk_bio(text).tokens)
        if (t.item == UNITS_ITEM)
            return token_text(text, t) == "KG";
    return false;
}

/* The first line of a bio file, its title and time stamp. */
std::string first_line(const std::string& path)
{
    constexpr std::size_t LONGEST_TITLE = 200;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line.size() > LONGEST_TITLE ? line.substr(0, LONGEST_TITLE) : line;
}

/* The patterns a request's names must match.  They are compiled on first
** use: compiled at start-up they cost every model run (the same program)
** a few milliseconds. */
enum Pattern { HERD_NAME, FILE_NAME, RUN_ID, MONTH, COLUMNS, PATTERNS };

bool matches(const std::string& text, Pattern p)
{
    static const std::regex compiled[PATTERNS] = {
        std::regex(R"([A-Za-z0-9][A-Za-z0-9._ -]{0,99}\.bio)"),
        std::regex(R"([A-Za-z0-9][A-Za-z0-9._-]{0,120})"),
        std::regex(R"([0-9]{8}-[0-9]{6}-[0-9]{1,9})"),
        std::regex(R"(JAN|FEB|MAR|APR|MAY|JUN|JUL|AUG|SEP|OCT|NOV|DEC)"),
        std::regex(R"([A-Za-z0-9_]+=[^,=\s]{1,64}(,[A-Za-z0-9_]+=[^,=\s]{1,64}){0,15})"),
    };
    return std::regex_match(text, compiled[p]);
}

/* A regular file, not a link, at most `limit` bytes; nullopt otherwise. */
std::optional<std::string> read_regular(const std::string& path, std::size_t limit)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > limit) {
        ::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > limit) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    if (n < 0)
        return std::nullopt;
    return text;
}

bool is_plain_name(const std::string& name)
{
    return matches(name, FILE_NAME) && name.find("..") == std::string::npos;
}

/* "item.index" of value k of the item table's field `name`. */
std::string key_of(const char* name, int k = 0)
{
    const int f = find_bio_field(name);
    return std::to_string(bio_fields()[f].item) + "." + std::to_string(item_index(f, 0, 0) + k);
}

std::string value_of(const std::string& text, const BioWalk& walk, const char* name, int k = 0)
{
    const std::string key = key_of(name, k);
    for (const BioToken& t : walk.tokens)
        if (std::to_string(t.item) + "." + std::to_string(t.index) == key)
            return token_text(text, t);
    return "";
}

} // namespace

bool is_herd_name(const std::string& name)
{
    return matches(name, HERD_NAME) && name.find("..") == std::string::npos;
}

bool is_run_file_name(const std::string& name)
{
    return is_plain_name(name);
}

Workbench::Workbench(std::string dir, std::string program, std::string examples_dir, unsigned slots,
                     WorkbenchLimits limits)
    : dir_(std::move(dir)), program_(std::move(program)), examples_dir_(std::move(examples_dir)),
      limits_(limits), slots_(slots ? slots : 1)
{
    check_dir_ = dir_ + "/" + CHECK_FOLDER;
    fs::create_directories(check_dir_);
    runs_ = std::make_unique<RunQueue>(
        dir_ + "/" + RUNS_FOLDER, program_, slots, limits_.runs, [](const RunInfo& run, const std::string& folder) {
            if (run.kind != "run")
                return;
            nlohmann::json results = build_results(folder + "/" + RUN_NAMES[NAME_RES],
                                                   folder + "/" + RUN_NAMES[NAME_RPO]);
            describe_figures(results, herd_in_kg(folder + "/" + RUN_BIO));
            write_whole_file(folder + "/" + RESULTS_FILE, results.dump());
            /* The policy's pay-off and delay files take some 36 MB a run:
            ** the charts have been read from them, so they go unless the
            ** run was asked to keep them. */
            if (!run.keep_files) {
                std::error_code ec;
                fs::remove(folder + "/" + RUN_NAMES[NAME_RPO], ec);
                fs::remove(folder + "/" + RUN_NAMES[NAME_DEL], ec);
            }
        });
}

std::string Workbench::herd_path(const std::string& name, std::optional<Refusal>& refused) const
{
    if (!is_herd_name(name)) {
        refused = Refusal{400, "not a herd file name: a plain name ending in .bio is needed"};
        return "";
    }
    return dir_ + "/" + name;
}

nlohmann::json Workbench::list_herds() const
{
    nlohmann::json out = nlohmann::json::array();
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && !entry.is_symlink() && is_herd_name(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::error_code e2;
        auto size = fs::file_size(dir_ + "/" + name, e2);
        struct stat info {};
        long long modified = ::stat((dir_ + "/" + name).c_str(), &info) == 0 ? static_cast<long long>(info.st_mtime) : 0;
        out.push_back({{"name", name}, {"size", e2 ? 0 : size}, {"title", first_line(dir_ + "/" + name)},
                       {"modified", modified}});
    }
    return out;
}

nlohmann::json Workbench::list_examples() const
{
    nlohmann::json out = nlohmann::json::array();
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(examples_dir_, ec))
        if (entry.is_regular_file() && is_herd_name(entry.path().filename().string()))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        out.push_back(name);
    return out;
}

std::string Workbench::read_herd(const std::string& name, std::optional<Refusal>& refused) const
{
    std::string path = herd_path(name, refused);
    if (refused)
        return "";
    auto text = read_regular(path, MAX_FILE_BYTES);
    if (!text) {
        refused = Refusal{404, "no herd " + name};
        return "";
    }
    return *text;
}

nlohmann::json Workbench::open_herd(const std::string& name, std::optional<Refusal>& refused) const
{
    std::string text = read_herd(name, refused);
    if (refused)
        return nullptr;
    BioWalk walk = walk_bio(text);
    nlohmann::json values = nlohmann::json::object();
    for (const BioToken& t : walk.tokens)
        values[std::to_string(t.item) + "." + std::to_string(t.index)] = token_text(text, t);
    return {{"name", name},
            {"size", text.size()},
            {"complete", walk.complete},
            {"missing_item", walk.missing_item},
            {"values", values}};
}

void Workbench::write_file(const std::string& path, const std::string& text,
                           std::optional<Refusal>& refused)
{
    std::string why = write_whole_file(path, text);
    if (!why.empty())
        refused = Refusal{500, "the file could not be written: " + why};
}

std::mutex& Workbench::herd_lock(const std::string& name)
{
    std::lock_guard guard(locks_mutex_);
    std::unique_ptr<std::mutex>& lock = herd_locks_[name];
    if (!lock)
        lock = std::make_unique<std::mutex>();
    return *lock;
}

void Workbench::save_herd(const std::string& name, const std::map<std::string, std::string>& changes,
                          std::optional<Refusal>& refused)
{
    herd_path(name, refused);
    if (refused)
        return;
    /* One save of a herd at a time: each reads the file the last one left. */
    std::lock_guard one_at_a_time(herd_lock(name));
    std::string text = read_herd(name, refused);
    if (refused || changes.empty())
        return;
    std::string why = apply_changes(text, changes);
    if (!why.empty()) {
        refused = Refusal{400, why};
        return;
    }
    write_file(dir_ + "/" + name, text, refused);
}

void Workbench::create_herd(const std::string& name, const std::string& example,
                            const std::string& text, bool overwrite, std::optional<Refusal>& refused)
{
    std::string path = herd_path(name, refused);
    if (refused)
        return;
    std::string content = text;
    if (!example.empty()) {
        if (!is_herd_name(example)) {
            refused = Refusal{400, "not an example name"};
            return;
        }
        auto found = read_regular(examples_dir_ + "/" + example, MAX_FILE_BYTES);
        if (!found) {
            refused = Refusal{404, "no example " + example};
            return;
        }
        content = *found;
    }
    if (content.size() > MAX_FILE_BYTES) {
        refused = Refusal{413, "the file is too large"};
        return;
    }
    if ((refused = disk_refusal(content.size())))
        return;
    std::lock_guard one_at_a_time(herd_lock(name));
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        refused = Refusal{409, name + " is a symbolic link: the server writes no file through a link"};
        return;
    }
    if (!overwrite && ::lstat(path.c_str(), &st) == 0) {
        refused = Refusal{409, name + " exists already"};
        return;
    }
    write_file(path, content, refused);
}

nlohmann::json Workbench::check_herd(const std::string& name,
                                     const std::map<std::string, std::string>& changes,
                                     std::optional<Refusal>& refused)
{
    std::string text = read_herd(name, refused);
    if (refused)
        return nullptr;
    std::string why = apply_changes(text, changes);
    if (!why.empty()) {
        refused = Refusal{400, why};
        return nullptr;
    }
    /* The program's own item table judges the text: every fault at its
    ** value, not only the first. */
    return bio_check(text, name);
}

std::string Workbench::prepare_run_folder(const std::string& herd, std::string& id,
                                          std::optional<Refusal>& refused)
{
    std::string text = read_herd(herd, refused);
    if (refused)
        return "";
    BioWalk walk = walk_bio(text);

    /* Inputs a run reads under the bio file's names: the stored herd
    ** (analyses 2 and 3), the policy (USE_POL) and the warm-start values.
    ** They are taken from the herds folder only, by plain names. */
    std::vector<std::pair<std::string, std::string>> inputs;
    std::string analysis = value_of(text, walk, "analysis");
    if (analysis == "2" || analysis == "3")
        inputs.emplace_back(value_of(text, walk, "runname", NAME_MKV), RUN_NAMES[NAME_MKV]);
    if (value_of(text, walk, "policy") == "USE_POL")
        inputs.emplace_back(value_of(text, walk, "runname", NAME_POL), RUN_NAMES[NAME_POL]);
    if (value_of(text, walk, "warmstart") == "1")
        inputs.emplace_back("warm.txt", "warm.txt");

    std::map<std::string, std::string> names;
    for (int i = 0; i < 6; i++)
        if (!value_of(text, walk, "runname", i).empty())
            names[key_of("runname", i)] = RUN_NAMES[i];
    std::string why = apply_changes(text, names);
    if (!why.empty()) {
        refused = Refusal{400, why};
        return "";
    }

    id = runs_->new_folder();
    if (id.empty()) {
        refused = Refusal{500, "no run folder could be made"};
        return "";
    }
    std::string folder = runs_->folder_of(id);
    write_file(folder + "/" + RUN_BIO, text, refused);
    for (const auto& [from, to] : inputs) {
        if (!is_plain_name(from))
            continue;
        if (auto content = read_regular(dir_ + "/" + from, 1u << 30))
            write_file(folder + "/" + to, *content, refused);
    }
    return folder;
}

/* Bytes of the regular files under `dir`, links not followed. */
static std::uintmax_t folder_bytes(const std::string& dir)
{
    std::uintmax_t total = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (it->is_regular_file(e2) && !it->is_symlink(e2))
            total += it->file_size(e2);
    }
    return total;
}

std::optional<Refusal> Workbench::room_for_a_run()
{
    const RunLimits& limits = runs_->limits();
    std::size_t active = runs_->active();
    if (active >= slots_ + limits.max_queued)
        return Refusal{503, "the queue is full: " + std::to_string(limits.max_queued) +
                                " runs wait for a free core already; try again when one has ended"};
    return disk_refusal((active + 1) * RUN_DISK_ALLOWANCE);
}

std::optional<Refusal> Workbench::disk_refusal(std::uintmax_t more) const
{
    std::uintmax_t used = folder_bytes(dir_);
    if (used + more <= limits_.disk_bytes)
        return std::nullopt;
    return Refusal{507, "the herds folder uses " + std::to_string(used / MEGABYTE) + " MB of its " +
                            std::to_string(limits_.disk_bytes / MEGABYTE) +
                            " MB (morvenda serve --disk-mb): delete old runs under " + RUNS_FOLDER +
                            "/ to make room"};
}

/* A run prepared but not queued: its folder goes again. */
std::string Workbench::queue_full(const std::string& id, std::optional<Refusal>& refused)
{
    std::error_code ec;
    fs::remove_all(runs_->folder_of(id), ec);
    refused = Refusal{503, "the queue is full: " + std::to_string(runs_->limits().max_queued) +
                               " runs wait for a free core already; try again when one has ended"};
    return "";
}

std::string Workbench::start_run(const std::string& herd, bool keep_files, std::optional<Refusal>& refused)
{
    if ((refused = room_for_a_run()))
        return "";
    std::string id;
    prepare_run_folder(herd, id, refused);
    if (refused)
        return "";
    if (!runs_->submit(id, "run", herd, {RUN_BIO}, keep_files))
        return queue_full(id, refused);
    return id;
}

std::string Workbench::start_simulation(const std::string& run_id, int places, int years, int replicates,
                                        std::optional<Refusal>& refused)
{
    auto run = matches(run_id, RUN_ID) ? runs_->get(run_id) : std::nullopt;
    if (!run || run->kind != "run" || run->state != "done") {
        refused = Refusal{404, "no finished run " + run_id};
        return "";
    }
    if (places < 1 || places > MOST_SIM_PLACES || years < 1 || years > MOST_SIM_YEARS || replicates < 1 ||
        replicates > MOST_SIM_REPLICATES) {
        refused = Refusal{400, "places 1.." + std::to_string(MOST_SIM_PLACES) + ", years 1.." +
                                   std::to_string(MOST_SIM_YEARS) + ", replicates 1.." +
                                   std::to_string(MOST_SIM_REPLICATES)};
        return "";
    }
    if ((refused = room_for_a_run()))
        return "";
    /* The simulation gets a folder of its own with the finished run's bio
    ** file and policy, so that the finished run's files stay as they were. */
    std::string id = runs_->new_folder();
    if (id.empty()) {
        refused = Refusal{500, "no run folder could be made"};
        return "";
    }
    std::string from = runs_->folder_of(run_id);
    std::string folder = runs_->folder_of(id);
    for (const char* name : {RUN_BIO, RUN_NAMES[NAME_POL]}) {
        auto text = read_regular(from + "/" + name, MAX_POLICY_BYTES);
        if (!text)
            continue;
        write_file(folder + "/" + name, *text, refused);
        if (refused)
            return "";
    }
    std::vector<std::string> args = {"simulate",     RUN_BIO, "--cows", std::to_string(places), "--years",
                                     std::to_string(years), "--replicates", std::to_string(replicates),
                                     "-o",           SIM_OUTPUT};
    if (!runs_->submit(id, "simulate", run->herd, args))
        return queue_full(id, refused);
    return id;
}

std::string Workbench::start_cows(const std::string& herd, const std::string& csv,
                                  const std::string& month, const std::string& columns,
                                  std::optional<Refusal>& refused)
{
    if (!month.empty() && !matches(month, MONTH)) {
        refused = Refusal{400, "the month must be JAN..DEC"};
        return "";
    }
    if (!columns.empty() && !matches(columns, COLUMNS)) {
        refused = Refusal{400, "columns must be NAME=HEADER,..."};
        return "";
    }
    if (csv.empty() || csv.size() > MAX_FILE_BYTES) {
        refused = Refusal{400, "a cow list is needed"};
        return "";
    }
    if ((refused = room_for_a_run()))
        return "";
    std::string id;
    std::string folder = prepare_run_folder(herd, id, refused);
    if (refused)
        return "";
    write_file(folder + "/" + COWS_INPUT, csv, refused);
    if (refused)
        return "";
    std::vector<std::string> args = {"cows", RUN_BIO, COWS_INPUT, "-o", COWS_OUTPUT};
    if (!month.empty())
        args.insert(args.end(), {"--month", month});
    if (!columns.empty())
        args.insert(args.end(), {"--columns", columns});
    if (!runs_->submit(id, "cows", herd, args))
        return queue_full(id, refused);
    return id;
}

/* A cow list of the folder: a plain name ending in .csv. */
static bool is_cow_list_name(const std::string& name)
{
    constexpr std::size_t CSV_SUFFIX = 4;
    return is_plain_name(name) && name.size() > CSV_SUFFIX && name.compare(name.size() - CSV_SUFFIX, CSV_SUFFIX, ".csv") == 0;
}

nlohmann::json Workbench::list_cow_lists() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        std::string name = entry.path().filename().string();
        std::error_code e2;
        if (entry.is_regular_file(e2) && !entry.is_symlink(e2) && is_cow_list_name(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Workbench::read_cow_list(const std::string& name, std::optional<Refusal>& refused) const
{
    if (!is_cow_list_name(name)) {
        refused = Refusal{400, "not a cow list of the folder: a plain name ending in .csv is needed"};
        return "";
    }
    auto text = read_regular(dir_ + "/" + name, MAX_FILE_BYTES);
    if (!text) {
        refused = Refusal{404, "no cow list " + name};
        return "";
    }
    return *text;
}

void Workbench::delete_herd(const std::string& name, std::optional<Refusal>& refused)
{
    std::string path = herd_path(name, refused);
    if (refused)
        return;
    std::lock_guard lock(herd_lock(name));
    std::error_code ec;
    auto status = fs::symlink_status(path, ec);
    if (ec || !fs::exists(status)) {
        refused = Refusal{404, "no herd " + name};
        return;
    }
    if (!fs::is_regular_file(status)) {
        refused = Refusal{409, name + " is not a plain file: it is left alone"};
        return;
    }
    if (!fs::remove(path, ec) || ec)
        refused = Refusal{500, name + " could not be deleted"};
}

void Workbench::delete_run(const std::string& id, std::optional<Refusal>& refused)
{
    if (!matches(id, RUN_ID) || !runs_->get(id)) {
        refused = Refusal{404, "no run " + id};
        return;
    }
    std::string why = runs_->remove(id);
    if (!why.empty())
        refused = Refusal{409, why};
}

nlohmann::json Workbench::delete_runs_but_last(std::size_t keep)
{
    /* Ids start with the time they were made, so their order is their age. */
    std::vector<std::string> ended;
    for (const RunInfo& run : runs_->list())
        if (run.state != "queued" && run.state != "running")
            ended.push_back(run.id);
    std::sort(ended.begin(), ended.end(), [](const std::string& a, const std::string& b) {
        return std::make_pair(a.substr(0, a.rfind('-')), std::atoi(a.c_str() + a.rfind('-') + 1)) <
               std::make_pair(b.substr(0, b.rfind('-')), std::atoi(b.c_str() + b.rfind('-') + 1));
    });
    nlohmann::json deleted = nlohmann::json::array();
    for (std::size_t i = 0; i + keep < ended.size(); i++)
        if (runs_->remove(ended[i]).empty())
            deleted.push_back(ended[i]);
    return deleted;
}

std::uintmax_t Workbench::run_bytes(const std::string& id) const
{
    return folder_bytes(runs_->folder_of(id));
}

nlohmann::json Workbench::run_files(const std::string& id, std::optional<Refusal>& refused)
{
    if (!matches(id, RUN_ID) || !runs_->get(id)) {
        refused = Refusal{404, "no run " + id};
        return nullptr;
    }
    nlohmann::json out = nlohmann::json::array();
    std::vector<std::pair<std::string, std::uintmax_t>> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(runs_->folder_of(id), ec)) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && !entry.is_symlink() && is_plain_name(name))
            files.emplace_back(name, entry.file_size());
    }
    std::sort(files.begin(), files.end());
    for (const auto& [name, size] : files)
        out.push_back({{"name", name}, {"size", size}});
    return out;
}

std::string Workbench::run_file_path(const std::string& id, const std::string& file,
                                     std::optional<Refusal>& refused)
{
    if (!matches(id, RUN_ID) || !runs_->get(id)) {
        refused = Refusal{404, "no run " + id};
        return "";
    }
    if (!is_plain_name(file)) {
        refused = Refusal{400, "not a file name of a run"};
        return "";
    }
    std::string path = runs_->folder_of(id) + "/" + file;
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        refused = Refusal{404, "no file " + file + " in run " + id};
        return "";
    }
    return path;
}

} // namespace serve
