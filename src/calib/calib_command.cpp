/*
** calib_command.cpp -- `morvenda calibrate BASE.bio ... -o HERD.bio`.
**
** Reads one herd's records, estimates the items they can tell, and
** writes HERD.bio as BASE.bio with only those values changed (through the
** same edits as `morvenda set`, so every other byte stays).  With
** --report DIR it also writes DIR/calibration.json: every estimate with
** its count, interval and whether it was used, and the herd's observed
** figures.  Nothing is written when the records cannot be read or the
** herd is not in them.
*/
#include "calib/calib_command.h"

#include <cmath>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "bio/bio_edit.h"
#include "bio/bio_items.h"
#include "calib/calib_charts.h"
#include "calib/calib_fit.h"
#include "calib/calib_records.h"
#include "core/input_file.h"
#include "core/output_file.h"

namespace {

constexpr int FAULT = 1;
constexpr int USAGE = 2;
/* set-aside rows printed in full; the rest are counted */
constexpr int SHOWN_SET_ASIDE = 20;

const char* const USAGE_TEXT =
    "usage: morvenda calibrate BASE.bio [--records DIR] [--tests F] [--inseminations F] [--calvings F]\n"
    "                 [--pregnancy-checks F] [--exits F] [--cows F] [--herd ID]\n"
    "                 [--columns TABLE.FIELD=HEADER,...] [--exit-reasons CODE=KIND,...]\n"
    "                 [--involuntary-share X] [--gestation MIN-MAX] -o HERD.bio [--report DIR]\n";

int usage(const std::string& why)
{
    std::fprintf(stderr, "morvenda calibrate: %s\n%s", why.c_str(), USAGE_TEXT);
    return USAGE;
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

/* The calibrated herd's own figures under its optimal policy: a run of
** HERD.bio's text as a child `morvenda` in a scratch folder, its yearly
** block read from the report (first year).  Empty when the run fails. */
std::map<std::string, double> run_model(const std::string& herd_text, std::string& why)
{
    std::map<std::string, double> fig;
    char tmpl[] = "/tmp/morvenda-calibrate-XXXXXX";
    const char* dir = mkdtemp(tmpl);
    if (!dir) {
        why = "no scratch folder";
        return fig;
    }
    const std::filesystem::path folder(dir);
    {
        std::ofstream f(folder / "herd.bio", std::ios::binary);
        f << herd_text;
    }
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const pid_t pid = n > 0 ? fork() : -1;
    if (pid == 0) {
        self[n] = '\0';
        if (chdir(dir) == 0 && freopen("/dev/null", "w", stdout) && freopen("/dev/null", "w", stderr))
            execl(self, self, "herd.bio", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 1;
    if (pid > 0)
        waitpid(pid, &status, 0);
    if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().extension() == ".res") {
                std::ifstream in(entry.path());
                std::string line;
                while (std::getline(in, line)) {
                    std::istringstream ls(line);
                    double a, b, c;
                    std::string label, extra;
                    if (ls >> a >> b >> c >> label && !(ls >> extra))
                        fig.emplace(label, a);
                }
            }
    } else {
        why = "the model's run of the calibrated herd failed";
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return fig;
}

nlohmann::json number_or_null(double v)
{
    return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr);
}

} // namespace

int calibrate_command(int argc, char** argv)
{
    std::string base_file, out_file, report_dir, records;
    RecordSources src;
    CalibOptions opt;
    std::string tests, ins, calv, checks, exits, cows;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        auto next = [&](std::string& v) {
            if (i + 1 >= argc)
                return false;
            v = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-o") {
            if (!next(out_file))
                return usage("-o needs a file");
        } else if (a == "--report") {
            if (!next(report_dir))
                return usage("--report needs a folder");
        } else if (a == "--records") {
            if (!next(records))
                return usage("--records needs a folder");
        } else if (a == "--tests" || a == "--inseminations" || a == "--calvings" || a == "--pregnancy-checks" ||
                   a == "--exits" || a == "--cows") {
            if (!next(v))
                return usage(a + " needs a file");
            (a == "--tests" ? tests : a == "--inseminations" ? ins : a == "--calvings" ? calv
             : a == "--pregnancy-checks" ? checks : a == "--exits" ? exits : cows) = v;
        } else if (a == "--herd") {
            if (!next(src.herd) || src.herd.empty())
                return usage("--herd needs a herd id");
        } else if (a == "--columns") {
            if (!next(v))
                return usage("--columns needs TABLE.FIELD=HEADER,...");
            const std::string why = parse_column_map(v, src.columns);
            if (!why.empty())
                return usage(why);
        } else if (a == "--exit-reasons") {
            if (!next(v))
                return usage("--exit-reasons needs CODE=KIND,...");
            const std::string why = parse_exit_reasons(v, src.exit_reasons);
            if (!why.empty())
                return usage(why);
        } else if (a == "--involuntary-share") {
            char* end = nullptr;
            if (!next(v) || (opt.involuntary_share = std::strtod(v.c_str(), &end), *end != '\0') ||
                !(opt.involuntary_share >= 0 && opt.involuntary_share <= 1))
                return usage("--involuntary-share must be a number in 0..1");
        } else if (a == "--gestation") {
            int lo = 0, hi = 0;
            char rest;
            if (!next(v) || std::sscanf(v.c_str(), "%d-%d%c", &lo, &hi, &rest) != 2 || lo < 200 || hi > 350 || lo > hi)
                return usage("--gestation must be MIN-MAX days within 200-350");
            opt.gestation_min = lo;
            opt.gestation_max = hi;
        } else if (!a.empty() && a[0] == '-') {
            return usage("unknown option " + a);
        } else if (base_file.empty()) {
            base_file = a;
        } else {
            return usage("one base file only: " + a);
        }
    }
    if (base_file.empty())
        return usage("no base bio file");
    if (out_file.empty())
        return usage("-o HERD.bio is needed");
    if (out_file == base_file)
        return usage("-o may not replace the base file");
    auto pick = [&](const std::string& given, const char* name, bool required) {
        if (!given.empty())
            return given;
        if (records.empty())
            return std::string();
        const std::string p = records + "/" + name;
        return required || exists(p) ? p : std::string();
    };
    src.tests = pick(tests, "tests.csv", true);
    src.inseminations = pick(ins, "inseminations.csv", true);
    src.calvings = pick(calv, "calvings.csv", false);
    src.checks = pick(checks, "pregnancy_checks.csv", false);
    src.exits = pick(exits, "exits.csv", true);
    src.cows = pick(cows, "cows.csv", false);
    if (src.tests.empty() || src.inseminations.empty() || src.exits.empty())
        return usage("the test days, inseminations and exits are needed (--records DIR, or --tests, "
                     "--inseminations and --exits)");

    std::string text, why;
    if (READ_INPUT_FILE(base_file, LARGEST_BIO_FILE, text, why) != InputRead::read) {
        std::fprintf(stderr, "morvenda calibrate: %s: %s\n", base_file.c_str(), why.c_str());
        return FAULT;
    }
    for (const BioFault& f : bio_faults(text))
        if (!f.warning) {
            std::fprintf(stderr, "morvenda calibrate: %s: the base file has faults (morvenda check lists them)\n",
                         base_file.c_str());
            return FAULT;
        }
    const BaseValues base_values = bio_values(text);

    HerdRecords rec;
    if (!READ_HERD_RECORDS(src, rec, why)) {
        std::fprintf(stderr, "morvenda calibrate: %s\n", why.c_str());
        return FAULT;
    }
    for (std::size_t k = 0; k < rec.set_aside.size() && k < static_cast<std::size_t>(SHOWN_SET_ASIDE); k++)
        std::fprintf(stderr, "morvenda calibrate: set aside: %s\n", rec.set_aside[k].c_str());
    if (!rec.set_aside.empty())
        std::fprintf(stderr, "morvenda calibrate: %zu of %ld rows set aside\n", rec.set_aside.size(), rec.rows_read);

    const CalibResult res = CALIBRATE_HERD(rec, base_values, opt);
    if (!res.missing.empty()) {
        std::fprintf(stderr, "morvenda calibrate: herd %s: %s\n", rec.herd.c_str(), res.missing.c_str());
        return FAULT;
    }
    std::vector<BioChange> changes;
    int used = 0;
    for (const Estimate& e : res.estimates) {
        if (!e.used)
            continue;
        used++;
        BioChange c;
        const std::string name = e.index.empty() ? e.name : e.name + "." + e.index;
        const BioField& f = bio_fields()[find_bio_field(e.name)];
        char buf[64];
        if (f.kind == BioKind::integer)
            std::snprintf(buf, sizeof buf, "%d", static_cast<int>(std::lround(e.value)));
        else
            std::snprintf(buf, sizeof buf, "%.4g", e.value);
        const std::string w = parse_bio_change(name + "=" + buf, c);
        if (!w.empty()) {
            std::fprintf(stderr, "morvenda calibrate: %s\n", w.c_str());
            return FAULT;
        }
        changes.push_back(c);
    }
    why = apply_bio_changes(text, changes);
    if (!why.empty()) {
        std::fprintf(stderr, "morvenda calibrate: %s: %s\n", base_file.c_str(), why.c_str());
        return FAULT;
    }
    if (!report_dir.empty()) {
        if (!exists(report_dir) && mkdir(report_dir.c_str(), 0777) != 0) {
            std::fprintf(stderr, "morvenda calibrate: %s: cannot be made\n", report_dir.c_str());
            return FAULT;
        }
        nlohmann::json est = nlohmann::json::array();
        for (const Estimate& e : res.estimates)
            est.push_back({{"item", e.item}, {"name", e.name}, {"index", e.index}, {"value", e.value},
                           {"n", e.n}, {"lo", e.lo}, {"hi", e.hi}, {"used", e.used}, {"why", e.why}});
        nlohmann::json observed = nlohmann::json::object(), summary = nlohmann::json::object();
        for (const auto& [k, v] : res.observed)
            observed[k] = number_or_null(v);
        for (const auto& [k, v] : res.summary) {
            auto se = res.summary_se.find(k);
            summary[k] = {{"value", number_or_null(v)},
                          {"se", se == res.summary_se.end() ? nlohmann::json(nullptr) : number_or_null(se->second)}};
        }
        /* the model's figures that pair with the observed ones */
        std::string model_why;
        const std::map<std::string, double> fig = run_model(text, model_why);
        nlohmann::json model = nlohmann::json::object();
        constexpr double DAYS_PER_MODEL_MONTH = 30.4, HALF_MONTH_DAYS = 15.2;
        /* a herd whose optimal policy keeps no cow in milk (it loses money at
        ** the base file's prices) has no calvings and no culls to compare */
        auto calvings = fig.find("clvinterval");
        const bool kept = calvings != fig.end() && calvings->second > 0;
        if (!fig.empty() && !kept)
            std::fprintf(stderr, "morvenda calibrate: the optimal policy of the calibrated herd keeps no cows at "
                                 "the base file's prices: the model's herd figures are left out\n");
        auto put = [&](const char* key, const char* label, double scale, double shift) {
            auto it = fig.find(label);
            if (it != fig.end() && (kept || std::strcmp(label, "cash_cyr") == 0))
                model[key] = it->second * scale + shift;
        };
        put("calving_interval_days", "clvinterval", DAYS_PER_MODEL_MONTH, 0);
        put("days_open", "daystoconc", 1, -HALF_MONTH_DAYS);
        put("cull_rate", "cullrateall", 1, 0);
        put("involuntary_cull_rate", "cullrateinv", 1, 0);
        put("pregnancy_rate_21d", "pregnancyrate1", 1, 0);
        put("milk_per_cow_year", "milkyield_cyr", 1, 0);
        put("cash_per_cow_year", "cash_cyr", 1, 0);
        if (!model_why.empty())
            std::fprintf(stderr, "morvenda calibrate: %s\n", model_why.c_str());
        nlohmann::json doc = {{"herd", rec.herd},
                              {"base", base_file},
                              {"involuntary_share", opt.involuntary_share},
                              {"gestation_days", {opt.gestation_min, opt.gestation_max}},
                              {"rows_read", rec.rows_read},
                              {"rows_set_aside", rec.set_aside.size()},
                              {"set_aside", rec.set_aside},
                              {"estimates", est},
                              {"summary", summary},
                              {"observed", observed},
                              {"model", model}};
        /* the records beside the calibrated herd, for the report's charts */
        const double model_cull = model.contains("cull_rate") ? model["cull_rate"].get<double>() : NAN;
        doc["charts"] = CALIB_CHARTS(rec, calibrated_values(base_values, res.estimates), opt, model_cull);
        const std::string path = report_dir + "/calibration.json";
        const std::string body = doc.dump(1) + "\n";
        OutputFile f(path);
        if (!f.ok() || std::fwrite(body.data(), 1, body.size(), f.fp()) != body.size() || !f.commit()) {
            std::fprintf(stderr, "morvenda calibrate: %s: could not be written\n", path.c_str());
            return FAULT;
        }
    }
    OutputFile file(out_file);
    if (!file.ok() || std::fwrite(text.data(), 1, text.size(), file.fp()) != text.size() || !file.commit()) {
        std::fprintf(stderr, "morvenda calibrate: %s: %s\n", out_file.c_str(),
                     file.error().empty() ? "could not be written" : file.error().c_str());
        return FAULT;
    }
    std::printf("morvenda calibrate: herd %s: %zu test days, %zu inseminations; %d of %zu values calibrated -> %s\n",
                rec.herd.c_str(), rec.tests.size(), rec.inseminations.size(), used, res.estimates.size(),
                out_file.c_str());
    return 0;
}
