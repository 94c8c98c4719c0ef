/*
** calibrate_api.cpp -- record sets and calibrations of the workbench.
**
** Everything a request names is checked before it reaches the file system
** or the program: a record set is a plain name, a record file a plain name
** ending in .csv inside its set, a herd id, a column's header and an exit
** code a short run of letters, digits and a few marks (no comma or equals
** sign, which would change the meaning of the program's own lists), a
** field one of the tables' fields, a kind one of the program's.  The
** program gets its arguments as a vector, never through a shell.
*/
#include "serve/regex_alarm.h" /* first: see there */
#include "serve/calibrate_api.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

#include "serve/runs.h"

namespace serve {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

/* ---- constants ----
** RECORDS_FOLDER   the record sets' folder inside the herds folder
** BASE_BIO, HERD_BIO, REPORT_FILE  the run folder's base herd, calibrated herd, report
** MOST_SETS        record sets the folder keeps at once
** MOST_SET_FILES   files of one record set
** MOST_MAPPINGS    columns or exit codes one calibration maps */
constexpr const char* RECORDS_FOLDER = "records";
constexpr const char* BASE_BIO = "base.bio";
constexpr const char* HERD_BIO = "herd.bio";
constexpr const char* REPORT_FILE = "calibration.json";
constexpr std::size_t MOST_SETS = 32;
constexpr std::size_t MOST_SET_FILES = 12;
constexpr std::size_t MOST_MAPPINGS = 64;

/* The record tables, the option naming each file, and their fields. */
struct Table {
    const char* name;
    const char* option;
    bool required;
    std::vector<const char*> fields;
};
const std::vector<Table>& tables()
{
    static const std::vector<Table> t = {
        {"tests", "--tests", true, {"herd", "cow", "date", "lact", "calving", "milk"}},
        {"inseminations", "--inseminations", true, {"herd", "cow", "date"}},
        {"calvings", "--calvings", false, {"herd", "cow", "date", "lact"}},
        {"pregnancy_checks", "--pregnancy-checks", false, {"herd", "cow", "date", "result"}},
        {"exits", "--exits", true, {"herd", "cow", "entry", "entry_reason", "date", "reason"}},
        {"cows", "--cows", false, {"cow", "birth"}},
    };
    return t;
}

const std::set<std::string> EXIT_KINDS = {"died", "culled-involuntary", "culled-voluntary", "culled",
                                          "sold", "moved", "ignore"};

enum Pattern { SET_NAME, CSV_NAME, HERD_ID, HEADER, EXIT_CODE, GESTATION, PATTERNS };

bool matches(const std::string& text, Pattern p)
{
    static const std::regex compiled[PATTERNS] = {
        std::regex(R"([A-Za-z0-9][A-Za-z0-9._-]{0,63})"),
        std::regex(R"([A-Za-z0-9][A-Za-z0-9._-]{0,99}\.csv)"),
        std::regex(R"([A-Za-z0-9][A-Za-z0-9._-]{0,63})"),
        std::regex(R"([A-Za-z0-9_][A-Za-z0-9 _.()/-]{0,63})"),
        std::regex(R"([A-Za-z0-9_.-]{1,32})"),
        std::regex(R"([0-9]{3}-[0-9]{3})"),
    };
    return std::regex_match(text, compiled[p]) && text.find("..") == std::string::npos;
}

std::string string_of(const json& body, const char* name)
{
    return body.contains(name) && body[name].is_string() ? body[name].get<std::string>() : "";
}

/* The "TABLE.FIELD=HEADER,..." list of a "columns" object. */
std::string column_list(const json& columns, std::optional<Refusal>& refused)
{
    std::string out;
    if (columns.is_null())
        return out;
    if (!columns.is_object() || columns.size() > MOST_MAPPINGS) {
        refused = Refusal{400, "columns must be an object of TABLE.FIELD: header"};
        return "";
    }
    for (const auto& [key, header] : columns.items()) {
        const std::size_t dot = key.find('.');
        const std::string table = key.substr(0, dot), field = dot == std::string::npos ? "" : key.substr(dot + 1);
        auto t = std::find_if(tables().begin(), tables().end(), [&](const Table& x) { return table == x.name; });
        if (t == tables().end() ||
            std::none_of(t->fields.begin(), t->fields.end(), [&](const char* f) { return field == f; })) {
            refused = Refusal{400, "columns: no field " + key + " (fields are TABLE.FIELD, such as tests.cow)"};
            return "";
        }
        if (!header.is_string() || !matches(header.get<std::string>(), HEADER)) {
            refused = Refusal{400, "columns: the header of " + key +
                                       " must be 1-64 letters, digits, blanks or _ . ( ) / - (no comma or =)"};
            return "";
        }
        out += (out.empty() ? "" : ",") + key + "=" + header.get<std::string>();
    }
    return out;
}

/* The "CODE=KIND,..." list of an "exit_reasons" object. */
std::string reason_list(const json& reasons, std::optional<Refusal>& refused)
{
    std::string out;
    if (reasons.is_null())
        return out;
    if (!reasons.is_object() || reasons.size() > MOST_MAPPINGS) {
        refused = Refusal{400, "exit_reasons must be an object of code: kind"};
        return "";
    }
    for (const auto& [code, kind] : reasons.items()) {
        if (!matches(code, EXIT_CODE)) {
            refused = Refusal{400, "exit_reasons: the code '" + code + "' must be 1-32 letters, digits or _ . -"};
            return "";
        }
        if (!kind.is_string() || !EXIT_KINDS.count(kind.get<std::string>())) {
            refused = Refusal{400, "exit_reasons: the kind of " + code +
                                       " must be died, culled-involuntary, culled-voluntary, culled, sold, moved or ignore"};
            return "";
        }
        out += (out.empty() ? "" : ",") + code + "=" + kind.get<std::string>();
    }
    return out;
}

/* A regular file, not a link, of at most `limit` bytes. */
std::optional<std::string> read_plain_file(const std::string& path, std::size_t limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    std::optional<std::string> text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= limit) {
        text.emplace();
        char buf[65536];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0 && text->size() <= limit)
            text->append(buf, static_cast<std::size_t>(n));
        if (n < 0 || text->size() > limit)
            text.reset();
    }
    ::close(fd);
    return text;
}

/* A folder of the herds folder that is a folder, not a link; created when
** `make` and it is not there. */
bool own_folder(const std::string& path, bool make)
{
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    return make && ::mkdir(path.c_str(), 0777) == 0;
}

/* One change of the record sets at a time. */
std::mutex records_mutex;

std::string records_dir(const Workbench& bench)
{
    return bench.dir() + "/" + RECORDS_FOLDER;
}

json list_sets(const Workbench& bench)
{
    json out = json::array();
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(records_dir(bench), ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory(ec) && !entry.is_symlink(ec) && matches(name, SET_NAME))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::vector<std::pair<std::string, std::uintmax_t>> files;
        for (const auto& f : fs::directory_iterator(records_dir(bench) + "/" + name, ec)) {
            const std::string file = f.path().filename().string();
            std::error_code e2;
            if (f.is_regular_file(e2) && !f.is_symlink(e2) && matches(file, CSV_NAME))
                files.emplace_back(file, f.file_size(e2));
        }
        std::sort(files.begin(), files.end());
        json list = json::array();
        for (const auto& [file, size] : files)
            list.push_back({{"name", file}, {"size", size}});
        out.push_back({{"name", name}, {"files", list}});
    }
    return out;
}

void upload(Workbench& bench, const std::string& set, const json& body, std::optional<Refusal>& refused)
{
    const std::string name = string_of(body, "name");
    if (!matches(set, SET_NAME)) {
        refused = Refusal{400, "not a record set name: 1-64 letters, digits or . _ -"};
        return;
    }
    if (!matches(name, CSV_NAME)) {
        refused = Refusal{400, "not a record file name: a plain name ending in .csv"};
        return;
    }
    if (!body.contains("text") || !body["text"].is_string()) {
        refused = Refusal{400, "the file's text is needed (text)"};
        return;
    }
    const std::string& text = body["text"].get_ref<const std::string&>();
    if (text.size() > MAX_FILE_BYTES) {
        refused = Refusal{413, name + " is larger than " + std::to_string(MAX_FILE_BYTES >> 20) +
                                   " MB: upload one herd's rows at a time"};
        return;
    }
    if ((refused = bench.disk_refusal(text.size())))
        return;
    std::lock_guard one_at_a_time(records_mutex);
    const std::string dir = records_dir(bench), folder = dir + "/" + set;
    if (!own_folder(dir, true)) {
        refused = Refusal{500, std::string(RECORDS_FOLDER) + "/ is not a folder of the herds folder"};
        return;
    }
    if (!own_folder(folder, false)) {
        if (list_sets(bench).size() >= MOST_SETS) {
            refused = Refusal{507, "there are " + std::to_string(MOST_SETS) + " record sets already: delete one"};
            return;
        }
        if (!own_folder(folder, true)) {
            refused = Refusal{500, "the record set " + set + " could not be made"};
            return;
        }
    }
    struct stat st{};
    std::size_t count = 0;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(folder, ec))
        count += f.path().filename() != name;
    if (::lstat((folder + "/" + name).c_str(), &st) != 0 && count >= MOST_SET_FILES) {
        refused = Refusal{507, "a record set holds at most " + std::to_string(MOST_SET_FILES) + " files"};
        return;
    }
    const std::string why = write_whole_file(folder + "/" + name, text);
    if (!why.empty())
        refused = Refusal{500, name + " could not be written: " + why};
}

void delete_set(Workbench& bench, const std::string& set, std::optional<Refusal>& refused)
{
    if (!matches(set, SET_NAME)) {
        refused = Refusal{400, "not a record set name"};
        return;
    }
    std::lock_guard one_at_a_time(records_mutex);
    const std::string folder = records_dir(bench) + "/" + set;
    if (!own_folder(folder, false)) {
        refused = Refusal{404, "no record set " + set};
        return;
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    if (ec)
        refused = Refusal{500, "the record set " + set + " could not be deleted"};
}

/* Splits a CSV line on commas; a field in double quotes may hold commas. */
std::vector<std::string> csv_fields(const std::string& line)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t k = 0; k < line.size(); k++) {
        const char ch = line[k];
        if (quoted && ch == '"' && k + 1 < line.size() && line[k + 1] == '"')
            out.back() += '"', k++;
        else if (ch == '"')
            quoted = !quoted;
        else if (ch == ',' && !quoted)
            out.emplace_back();
        else if (ch != '\r')
            out.back() += ch;
    }
    return out;
}

/* A record file's header, and the distinct values of one of its columns
** (at most MOST_VALUES of them), for the page's mapping. */
json file_head(Workbench& bench, const std::string& set, const std::string& name, const std::string& column,
               std::optional<Refusal>& refused)
{
    constexpr std::size_t MOST_VALUES = 64;
    if (!matches(set, SET_NAME) || !matches(name, CSV_NAME)) {
        refused = Refusal{400, "not a record set and file name"};
        return nullptr;
    }
    auto text = read_plain_file(records_dir(bench) + "/" + set + "/" + name, MAX_FILE_BYTES);
    if (!text) {
        refused = Refusal{404, "the record set " + set + " has no file " + name};
        return nullptr;
    }
    std::size_t at = 0, end = text->find('\n');
    const std::vector<std::string> header = csv_fields(text->substr(0, end));
    const auto col = std::find(header.begin(), header.end(), column);
    std::set<std::string> values;
    bool more = false;
    while (col != header.end() && end != std::string::npos) {
        at = end + 1;
        end = text->find('\n', at);
        const std::vector<std::string> row = csv_fields(text->substr(at, end == std::string::npos ? end : end - at));
        const std::size_t k = static_cast<std::size_t>(col - header.begin());
        if (k < row.size() && !row[k].empty() && row.size() > 1) {
            if (values.size() < MOST_VALUES)
                values.insert(row[k]);
            else
                more = more || !values.count(row[k]);
        }
    }
    return {{"header", header}, {"values", values}, {"more_values", more}};
}

/* Starts a calibration: the run's id, or "" with a refusal. */
std::string start_calibration(Workbench& bench, const json& body, std::optional<Refusal>& refused)
{
    const std::string set = string_of(body, "records"), base = string_of(body, "base");
    if (!matches(set, SET_NAME) || !own_folder(records_dir(bench) + "/" + set, false)) {
        refused = Refusal{404, "no record set '" + set + "': upload the records first"};
        return "";
    }
    std::vector<std::string> files;
    std::vector<std::string> args = calibrate_arguments(body, files, refused);
    if (refused)
        return "";
    const std::string base_text = bench.read_herd(base, refused);
    if (refused)
        return "";
    std::map<std::string, std::string> texts;
    for (const std::string& f : files) {
        auto text = read_plain_file(records_dir(bench) + "/" + set + "/" + f, MAX_FILE_BYTES);
        if (!text) {
            refused = Refusal{404, "the record set " + set + " has no file " + f};
            return "";
        }
        texts[f] = *text;
    }
    if ((refused = bench.room_for_a_run()))
        return "";
    RunQueue& runs = bench.runs();
    const std::string id = runs.new_folder();
    if (id.empty()) {
        refused = Refusal{500, "no run folder could be made"};
        return "";
    }
    const std::string folder = runs.folder_of(id);
    std::string why = write_whole_file(folder + "/" + BASE_BIO, base_text);
    for (const auto& [name, text] : texts)
        if (why.empty())
            why = write_whole_file(folder + "/" + name, text);
    std::error_code ec;
    if (!why.empty()) {
        fs::remove_all(folder, ec);
        refused = Refusal{500, "the run folder could not be written: " + why};
        return "";
    }
    args.insert(args.begin(), {"calibrate", BASE_BIO});
    args.insert(args.end(), {"-o", HERD_BIO, "--report", "."});
    if (!runs.submit(id, "calibrate", base, args)) {
        fs::remove_all(folder, ec);
        refused = Refusal{503, "the queue is full: try again when a run has ended"};
        return "";
    }
    return id;
}

/* Saves a finished calibration's herd into the herds folder. */
void save_calibrated(Workbench& bench, const std::string& id, const json& body, std::optional<Refusal>& refused)
{
    auto run = bench.runs().get(id);
    if (!run || run->kind != "calibrate") {
        refused = Refusal{404, "no calibration " + id};
        return;
    }
    if (run->state != "done") {
        refused = Refusal{409, "the calibration has no herd (" + run->state + ")"};
        return;
    }
    const std::string path = bench.run_file_path(id, HERD_BIO, refused);
    if (refused)
        return;
    auto text = read_plain_file(path, MAX_FILE_BYTES);
    if (!text) {
        refused = Refusal{500, "the calibrated herd could not be read"};
        return;
    }
    const json& overwrite = body.contains("overwrite") ? body["overwrite"] : json(false);
    bench.create_herd(string_of(body, "name"), "", *text, overwrite.is_boolean() && overwrite.get<bool>(), refused);
}

void send(httplib::Response& res, const json& body, int status)
{
    res.status = status;
    res.set_content(body.dump(), "application/json; charset=utf-8");
}

/* The request's object, or an answer of 400 (nullopt). */
std::optional<json> object_of(const httplib::Request& req, httplib::Response& res)
{
    json j = req.body.empty() ? json::object() : json::parse(req.body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        send(res, {{"error", "the request body is not a JSON object"}}, 400);
        return std::nullopt;
    }
    return j;
}

bool refusal_sent(httplib::Response& res, const std::optional<Refusal>& refused)
{
    if (refused)
        send(res, {{"error", refused->why}}, refused->status);
    return refused.has_value();
}

} // namespace

std::vector<std::string> calibrate_arguments(const json& body, std::vector<std::string>& files,
                                             std::optional<Refusal>& refused)
{
    std::vector<std::string> args;
    const json& given = body.contains("files") ? body["files"] : json(nullptr);
    if (!given.is_object()) {
        refused = Refusal{400, "files must name the record files: {\"tests\": \"rec.csv\", ...}"};
        return {};
    }
    for (const auto& [role, name] : given.items())
        if (std::none_of(tables().begin(), tables().end(), [&](const Table& t) { return role == t.name; })) {
            refused = Refusal{400, "files: no table " + role +
                                       " (tests, inseminations, calvings, pregnancy_checks, exits, cows)"};
            return {};
        }
    for (const Table& t : tables()) {
        const std::string name = given.contains(t.name) && given[t.name].is_string() ? given[t.name].get<std::string>() : "";
        if (name.empty() && t.required) {
            refused = Refusal{400, std::string("the ") + t.name + " file is needed"};
            return {};
        }
        if (name.empty())
            continue;
        if (!matches(name, CSV_NAME)) {
            refused = Refusal{400, std::string("files: the ") + t.name + " file must be a plain name ending in .csv"};
            return {};
        }
        args.insert(args.end(), {t.option, name});
        if (std::find(files.begin(), files.end(), name) == files.end())
            files.push_back(name);
    }
    for (const char* text_member : {"herd", "gestation"})
        if (body.contains(text_member) && !body[text_member].is_null() && !body[text_member].is_string()) {
            refused = Refusal{400, std::string(text_member) + " must be text"};
            return {};
        }
    const std::string herd = string_of(body, "herd");
    if (!herd.empty() && !matches(herd, HERD_ID)) {
        refused = Refusal{400, "the herd id must be 1-64 letters, digits or . _ -"};
        return {};
    }
    if (!herd.empty())
        args.insert(args.end(), {"--herd", herd});
    const std::string columns = column_list(body.value("columns", json(nullptr)), refused);
    if (refused)
        return {};
    if (!columns.empty())
        args.insert(args.end(), {"--columns", columns});
    const std::string reasons = reason_list(body.value("exit_reasons", json(nullptr)), refused);
    if (refused)
        return {};
    if (!reasons.empty())
        args.insert(args.end(), {"--exit-reasons", reasons});
    if (body.contains("involuntary_share") && !body["involuntary_share"].is_null()) {
        const json& share = body["involuntary_share"];
        if (!share.is_number() || !(share.get<double>() >= 0.0 && share.get<double>() <= 1.0)) {
            refused = Refusal{400, "involuntary_share must be a number from 0 to 1"};
            return {};
        }
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", share.get<double>());
        args.insert(args.end(), {"--involuntary-share", text});
    }
    const std::string gestation = string_of(body, "gestation");
    if (!gestation.empty()) {
        constexpr int SHORTEST = 200, LONGEST = 350; /* days the program takes */
        const bool form = matches(gestation, GESTATION);
        const int lo = form ? std::stoi(gestation.substr(0, 3)) : 0, hi = form ? std::stoi(gestation.substr(4, 3)) : 0;
        const bool ok = form && lo >= SHORTEST && hi <= LONGEST && lo <= hi;
        if (!ok) {
            refused = Refusal{400, "gestation must be MIN-MAX days within 200-350, such as 265-295"};
            return {};
        }
        args.insert(args.end(), {"--gestation", gestation});
    }
    return args;
}

void add_calibrate_routes(httplib::Server& server, Workbench& bench)
{
    server.Get("/api/records", [&bench](const httplib::Request&, httplib::Response& res) {
        send(res, list_sets(bench), 200);
    });
    server.Post(R"(/api/records/([^/]+)/files)", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = object_of(req, res);
        if (!body)
            return;
        std::optional<Refusal> refused;
        upload(bench, req.matches[1], *body, refused);
        if (!refusal_sent(res, refused))
            send(res, {{"saved", string_of(*body, "name")}}, 201);
    });
    server.Get(R"(/api/records/([^/]+)/files/([^/]+))", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        json head = file_head(bench, req.matches[1], req.matches[2],
                              req.has_param("column") ? req.get_param_value("column") : "", refused);
        if (!refusal_sent(res, refused))
            send(res, head, 200);
    });
    server.Delete(R"(/api/records/([^/]+))", [&bench](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        delete_set(bench, req.matches[1], refused);
        if (!refusal_sent(res, refused))
            send(res, {{"deleted", true}}, 200);
    });
    server.Post("/api/calibrations", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = object_of(req, res);
        if (!body)
            return;
        std::optional<Refusal> refused;
        const std::string id = start_calibration(bench, *body, refused);
        if (!refusal_sent(res, refused))
            send(res, {{"id", id}, {"report", REPORT_FILE}}, 202);
    });
    server.Post(R"(/api/calibrations/([^/]+)/save)", [&bench](const httplib::Request& req, httplib::Response& res) {
        auto body = object_of(req, res);
        if (!body)
            return;
        std::optional<Refusal> refused;
        save_calibrated(bench, req.matches[1], *body, refused);
        if (!refusal_sent(res, refused))
            send(res, {{"name", string_of(*body, "name")}}, 201);
    });
}

} // namespace serve
