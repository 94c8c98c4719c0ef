/*
** sweep_api.cpp -- reads sweep databases for the workbench, read-only.
**
** A sweep database has a `scenarios` table (id, run, one column per varied
** item, named as given to --vary) and a `results` table (id, exit_status,
** message, then FIGURE_y1, FIGURE_y2, ... for every yearly figure).  Names
** of columns asked for by a page are never put into SQL as they come: they
** must be columns the file itself lists, and are then quoted.  The file is
** opened through SQLite's read-only URI mode, so nothing here can change it,
** and a query that runs too long is stopped.
*/
#include "serve/regex_alarm.h" /* first: see there */
#include "serve/sweep_api.h"

#include <httplib.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <vector>

#include "stats/figures.h"

namespace serve {

namespace fs = std::filesystem;

namespace {

/* A varied item with more values than this is shown by its range only (a
** sampled design); a second item gives at most this many series; a chart
** takes at most this many points; no query runs longer than this. */
constexpr int MOST_LISTED_VALUES = 50;
constexpr int MOST_SERIES = 12;
constexpr int MOST_POINTS = 20000;
constexpr auto LONGEST_QUERY = std::chrono::seconds(10);
/* SQLite looks at the clock every this many of its steps. */
constexpr int STEPS_BETWEEN_LOOKS = 10000;
constexpr int BUSY_WAIT_MS = 1000;
constexpr const char* SWEEP_TOOL = "tools/morvenda-sweep";

const std::regex SWEEP_NAME("[A-Za-z0-9_][A-Za-z0-9_.-]{0,200}\\.db");
/* FIGURE_yN: a figure of year N. */
const std::regex FIGURE_YEAR_COLUMN("(.+)_y([1-9])");

/* The path as a URI's path: anything but plain characters percent-encoded,
** so that a '?' or '#' in a folder's name stays part of the name. */
std::string uri_path(const std::string& path)
{
    static const char* HEX = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += HEX[c >> 4];
            out += HEX[c & 0xF];
        }
    }
    return out;
}

std::string quote_name(const std::string& name)
{
    std::string out = "\"";
    for (char c : name)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

/* One open database, closed when it goes out of scope. */
class Database {
public:
    explicit Database(const std::string& path)
    {
        std::string uri = "file:" + uri_path(path) + "?mode=ro";
        if (sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
            error_ = db_ ? sqlite3_errmsg(db_) : "out of memory";
            return;
        }
        sqlite3_busy_timeout(db_, BUSY_WAIT_MS);
        deadline_ = std::chrono::steady_clock::now() + LONGEST_QUERY;
        sqlite3_progress_handler(db_, STEPS_BETWEEN_LOOKS, &Database::too_long, this);
    }
    ~Database() { sqlite3_close(db_); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const std::string& error() const { return error_; }

    /* Runs `sql` with `text` bound to its ?s in order; `row` is called for
    ** each row.  False (with error()) when SQLite refuses it. */
    template <typename Row>
    bool query(const std::string& sql, Row row)
    {
        if (!error_.empty())
            return false;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            error_ = sqlite3_errmsg(db_);
            sqlite3_finalize(statement);
            return false;
        }
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW)
            row(statement);
        if (step != SQLITE_DONE)
            error_ = step == SQLITE_INTERRUPT ? "the query took too long" : sqlite3_errmsg(db_);
        sqlite3_finalize(statement);
        return error_.empty();
    }

    std::vector<std::string> columns(const std::string& table)
    {
        std::vector<std::string> out;
        query("PRAGMA table_info(" + quote_name(table) + ")", [&](sqlite3_stmt* s) {
            const unsigned char* name = sqlite3_column_text(s, 1);
            out.push_back(name ? reinterpret_cast<const char*>(name) : "");
        });
        return out;
    }

private:
    static int too_long(void* self)
    {
        return std::chrono::steady_clock::now() > static_cast<Database*>(self)->deadline_ ? 1 : 0;
    }

    sqlite3* db_ = nullptr;
    std::string error_;
    std::chrono::steady_clock::time_point deadline_;
};

nlohmann::json cell(sqlite3_stmt* s, int column)
{
    int type = sqlite3_column_type(s, column);
    if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        double v = sqlite3_column_double(s, column);
        return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr);
    }
    return nullptr;
}

/* What a sweep database holds, read from its tables' columns. */
struct Shape {
    std::vector<std::string> varied;
    std::map<std::string, std::vector<int>> figures; /* figure -> years held, in the file's order */
    std::vector<std::string> figure_order;
};

bool has(const std::vector<std::string>& list, const std::string& name)
{
    return std::find(list.begin(), list.end(), name) != list.end();
}

/* The shape of the file, or why it is not a sweep database. */
std::optional<Shape> read_shape(Database& db, std::string& why)
{
    std::vector<std::string> scenarios = db.columns("scenarios");
    std::vector<std::string> results = db.columns("results");
    if (!db.error().empty()) {
        why = "not a database SQLite can read (" + db.error() + ")";
        return std::nullopt;
    }
    if (!has(scenarios, "id") || !has(results, "id") || !has(results, "exit_status")) {
        why = std::string("not a sweep database: it lacks the scenarios and results tables that ") + SWEEP_TOOL +
              " writes";
        return std::nullopt;
    }
    Shape shape;
    for (const std::string& c : scenarios)
        if (c != "id" && c != "run")
            shape.varied.push_back(c);
    for (const std::string& c : results) {
        std::smatch m;
        if (!std::regex_match(c, m, FIGURE_YEAR_COLUMN))
            continue;
        std::string name = m[1];
        if (!shape.figures.count(name))
            shape.figure_order.push_back(name);
        shape.figures[name].push_back(std::stoi(m[2]));
    }
    if (shape.varied.empty() || shape.figures.empty()) {
        why = "not a sweep database: it has no varied item or no yearly figure";
        return std::nullopt;
    }
    return shape;
}

/* The database's path, or a refusal: a plain *.db name of the folder, a
** regular file and not a link. */
std::string sweep_path(const std::string& dir, const std::string& name, std::optional<Refusal>& refused)
{
    if (!is_sweep_name(name)) {
        refused = Refusal{400, "not a sweep database name: a plain name ending in .db is needed"};
        return "";
    }
    std::string path = dir + "/" + name;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        refused = Refusal{404, "no sweep database " + name};
        return "";
    }
    if (!S_ISREG(info.st_mode)) {
        refused = Refusal{409, name + " is not a regular file (a link or a folder is not opened)"};
        return "";
    }
    return path;
}

std::string plain_unit(FigureUnit unit)
{
    /* The database does not say whether the herd's milk is in kg or lb. */
    std::string kg = unit_text(unit, true);
    if (kg == unit_text(unit, false))
        return kg;
    std::size_t at = kg.find("kg");
    return kg.substr(0, at) + "kg or lb" + kg.substr(at + 2);
}

/* Opens the sweep database NAME of DIR into `db` (read-only) and reads its
** shape; nullopt, with the refusal, when it is no such file or no sweep. */
std::optional<Shape> open_sweep(const std::string& dir, const std::string& name, std::optional<Database>& db,
                                std::optional<Refusal>& refused)
{
    std::string path = sweep_path(dir, name, refused);
    if (refused)
        return std::nullopt;
    db.emplace(path);
    std::string why;
    auto shape = read_shape(*db, why);
    if (!shape)
        refused = Refusal{422, name + ": " + why};
    return shape;
}

} // namespace

bool is_sweep_name(const std::string& name)
{
    return std::regex_match(name, SWEEP_NAME) && name.find("..") == std::string::npos;
}

nlohmann::json list_sweeps(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && !entry.is_symlink() && is_sweep_name(name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    nlohmann::json out = nlohmann::json::array();
    for (const std::string& name : names) {
        std::string path = dir + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        nlohmann::json one = {{"name", name},
                              {"size", static_cast<long long>(info.st_size)},
                              {"modified", static_cast<long long>(info.st_mtime)}};
        Database db(path);
        std::string why;
        if (auto shape = read_shape(db, why)) {
            long long count = 0;
            db.query("SELECT count(*) FROM scenarios", [&](sqlite3_stmt* s) { count = sqlite3_column_int64(s, 0); });
            one["scenarios"] = count;
            one["varied"] = shape->varied;
        } else {
            one["error"] = why;
        }
        out.push_back(one);
    }
    return out;
}

nlohmann::json describe_sweep(const std::string& dir, const std::string& name, std::optional<Refusal>& refused)
{
    std::optional<Database> db;
    auto shape = open_sweep(dir, name, db, refused);
    if (!shape)
        return nullptr;
    nlohmann::json out = {{"name", name}};
    db->query("SELECT count(*), sum(r.exit_status = 0) FROM scenarios s LEFT JOIN results r USING (id)",
             [&](sqlite3_stmt* s) {
                 out["scenarios"] = sqlite3_column_int64(s, 0);
                 out["finished"] = sqlite3_column_int64(s, 1);
             });
    nlohmann::json varied = nlohmann::json::array();
    for (const std::string& item : shape->varied) {
        std::string column = quote_name(item);
        nlohmann::json values = nlohmann::json::array();
        db->query("SELECT DISTINCT " + column + " FROM scenarios WHERE " + column + " IS NOT NULL ORDER BY 1 LIMIT " +
                     std::to_string(MOST_LISTED_VALUES + 1),
                 [&](sqlite3_stmt* s) { values.push_back(cell(s, 0)); });
        nlohmann::json one = {{"name", item}};
        long long distinct = 0;
        db->query("SELECT count(DISTINCT " + column + "), min(" + column + "), max(" + column + ") FROM scenarios",
                 [&](sqlite3_stmt* s) {
                     distinct = sqlite3_column_int64(s, 0);
                     one["min"] = cell(s, 1);
                     one["max"] = cell(s, 2);
                 });
        one["count"] = distinct;
        if (static_cast<int>(values.size()) <= MOST_LISTED_VALUES)
            one["values"] = values;
        varied.push_back(one);
    }
    out["varied"] = varied;
    nlohmann::json figures = nlohmann::json::array();
    for (const std::string& figure : shape->figure_order) {
        nlohmann::json one = {{"name", figure}, {"years", shape->figures[figure]}};
        if (const YearlyFigure* f = find_yearly_figure(figure)) {
            one["plain"] = f->name;
            one["unit"] = plain_unit(f->unit);
            one["unit_code"] = unit_code(f->unit);
            one["group"] = group_code(f->group);
            one["better"] = f->better;
            one["help"] = f->help;
        } else {
            one["plain"] = figure;
            one["unit"] = "";
        }
        figures.push_back(one);
    }
    out["figures"] = figures;
    out["most_series"] = MOST_SERIES;
    if (!db->error().empty()) {
        refused = Refusal{422, name + ": " + db->error()};
        return nullptr;
    }
    return out;
}

nlohmann::json sweep_points(const std::string& dir, const std::string& name, const std::string& figure, int year,
                            const std::string& x, const std::string& by, std::optional<Refusal>& refused)
{
    std::optional<Database> db;
    auto shape = open_sweep(dir, name, db, refused);
    if (!shape)
        return nullptr;
    auto figure_at = shape->figures.find(figure);
    if (figure_at == shape->figures.end()) {
        refused = Refusal{400, name + " has no figure " + figure};
        return nullptr;
    }
    if (std::find(figure_at->second.begin(), figure_at->second.end(), year) == figure_at->second.end()) {
        refused = Refusal{400, name + " has no year " + std::to_string(year) + " of " + figure};
        return nullptr;
    }
    if (!has(shape->varied, x)) {
        refused = Refusal{400, name + " has no varied item " + x};
        return nullptr;
    }
    if (!by.empty() && (!has(shape->varied, by) || by == x)) {
        refused = Refusal{400, by == x ? "the series must be another item than the x axis's"
                                       : name + " has no varied item " + by};
        return nullptr;
    }
    std::string value = "r." + quote_name(figure + "_y" + std::to_string(year));
    std::string x_column = "s." + quote_name(x);
    std::string by_column = by.empty() ? "NULL" : "s." + quote_name(by);
    if (!by.empty()) {
        long long series = 0;
        db->query("SELECT count(DISTINCT " + by_column + ") FROM scenarios s",
                 [&](sqlite3_stmt* s) { series = sqlite3_column_int64(s, 0); });
        if (series > MOST_SERIES) {
            refused = Refusal{400, by + " takes " + std::to_string(series) + " values: at most " +
                                       std::to_string(MOST_SERIES) + " series can be told apart"};
            return nullptr;
        }
    }
    nlohmann::json points = nlohmann::json::array();
    db->query("SELECT " + x_column + ", " + by_column + ", avg(" + value + "), count(" + value + ")" +
                 " FROM scenarios s JOIN results r USING (id) WHERE r.exit_status = 0 AND " + value +
                 " IS NOT NULL GROUP BY 1, 2 ORDER BY 2, 1 LIMIT " + std::to_string(MOST_POINTS + 1),
             [&](sqlite3_stmt* s) {
                 points.push_back({cell(s, 0), cell(s, 1), cell(s, 2), sqlite3_column_int64(s, 3)});
             });
    long long left_out = 0;
    db->query("SELECT count(*) FROM scenarios s LEFT JOIN results r USING (id) WHERE r.exit_status IS NOT 0 OR " +
                 value + " IS NULL",
             [&](sqlite3_stmt* s) { left_out = sqlite3_column_int64(s, 0); });
    if (!db->error().empty()) {
        refused = Refusal{422, name + ": " + db->error()};
        return nullptr;
    }
    bool truncated = static_cast<int>(points.size()) > MOST_POINTS;
    if (truncated)
        points.erase(points.end() - 1);
    return {{"figure", figure}, {"year", year}, {"x", x}, {"by", by.empty() ? nlohmann::json(nullptr) : nlohmann::json(by)},
            {"points", points}, {"left_out", left_out}, {"truncated", truncated}};
}

} // namespace serve

/* ---- the routes --------------------------------------------------------- */

namespace serve {

namespace {

constexpr const char* SWEEP_JSON_TYPE = "application/json; charset=utf-8";

void send(httplib::Response& res, const nlohmann::json& body, int status = 200)
{
    res.status = status;
    res.set_content(body.dump(), SWEEP_JSON_TYPE);
}

bool refused_sent(httplib::Response& res, const std::optional<Refusal>& refused)
{
    if (!refused)
        return false;
    send(res, {{"error", refused->why}}, refused->status);
    return true;
}

} // namespace

void add_sweep_routes(httplib::Server& server, const std::string& dir)
{
    server.Get("/api/sweeps", [dir](const httplib::Request&, httplib::Response& res) { send(res, list_sweeps(dir)); });
    server.Get(R"(/api/sweeps/([^/]+))", [dir](const httplib::Request& req, httplib::Response& res) {
        std::optional<Refusal> refused;
        nlohmann::json out = describe_sweep(dir, req.matches[1], refused);
        if (!refused_sent(res, refused))
            send(res, out);
    });
    server.Get(R"(/api/sweeps/([^/]+)/points)", [dir](const httplib::Request& req, httplib::Response& res) {
        constexpr int NO_YEAR = 0;
        std::string year_text = req.get_param_value("year");
        int year = year_text.size() == 1 && year_text[0] >= '1' && year_text[0] <= '9' ? year_text[0] - '0' : NO_YEAR;
        std::optional<Refusal> refused;
        nlohmann::json out = sweep_points(dir, req.matches[1], req.get_param_value("figure"), year,
                                          req.get_param_value("x"), req.get_param_value("by"), refused);
        if (!refused_sent(res, refused))
            send(res, out);
    });
}

} // namespace serve
