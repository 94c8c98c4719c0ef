/*
** support.cpp -- temporary directories, file helpers and the program
** runner for the tests.
*/
#include "support/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/records.h"

ScratchDir::ScratchDir()
{
    previous_ = std::filesystem::current_path().string();
    char tmpl[] = "/tmp/morvenda-test-XXXXXX";
    char* made = mkdtemp(tmpl);
    if (made == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    path_ = made;
    std::filesystem::current_path(path_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string read_text(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_text(const std::string& name, const std::string& text)
{
    std::ofstream out(name, std::ios::binary);
    out << text;
}

bool file_exists(const std::string& name)
{
    return std::filesystem::exists(name);
}

std::string source_path(const std::string& relative)
{
    return std::string(MORVENDA_SOURCE_DIR) + "/" + relative;
}

void allocate_records()
{
    if (bio != nullptr && fut != nullptr && pol != nullptr && rpo != nullptr &&
        ins != nullptr && del != nullptr && mkv != nullptr)
        return;
    ScratchDir dir; /* the resets may write msg.txt */
    capture_console();
    INIT_BIO_RECORD();
    INIT_FUT_RECORD();
    INIT_POL_RECORD();
    INIT_RPO_RECORD();
    INIT_INS_RECORD();
    INIT_DEL_RECORD();
    INIT_MKV_RECORD();
    captured_console();
}

void rule_policy()
{
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++) {
            const int vwp = bio->vwp[std::min(l, 3)];
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    for (int t = 0; t < NSLOT; t++)
                        pol->decision[c][l][m][p][t] =
                            (p == 0 && m >= vwp && m <= bio->lbm && m < bio->maxmim) ? DEC_INSEMINATE
                                                                                    : DEC_KEEP;
        }
    for (int t = 0; t < NSLOT; t++)
        pol->enter[t] = 1;
}

int run_program(const std::string& args, const std::string& console_file)
{
    std::string cmd = std::string(MORVENDA_BINARY) + " " + args + " </dev/null >" + console_file + " 2>&1";
    int rc = std::system(cmd.c_str());
    if (rc == -1 || !WIFEXITED(rc))
        return -1;
    return WEXITSTATUS(rc);
}

namespace {

bool is_output_file(const std::filesystem::directory_entry& e)
{
    if (!e.is_regular_file())
        return false;
    std::string f = e.path().filename().string();
    bool bio = f.size() > 4 && f.compare(f.size() - 4, 4, ".bio") == 0;
    return !bio && f.rfind("console", 0) != 0;
}

/* Output of a command as text; the command's exit status must be 0. */
bool command_output(const std::string& cmd, std::string& out)
{
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return false;
    char buf[1 << 16];
    size_t n;
    out.clear();
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    return pclose(p) == 0;
}

/* Index of the first byte where two texts differ, with its line number. */
std::string first_difference(const std::string& a, const std::string& b)
{
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        i++;
    size_t line = 1 + std::count(a.begin(), a.begin() + static_cast<long>(i), '\n');
    return "first difference at byte " + std::to_string(i) + ", line " + std::to_string(line) +
           " (sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ")";
}

} // namespace

testing::AssertionResult golden_files_match(const std::string& name)
{
    namespace fs = std::filesystem;
    const fs::path golden = source_path("tests/golden/" + name);
    const char* update = std::getenv("MORVENDA_UPDATE_GOLDEN");

    std::set<std::string> written;
    for (const auto& e : fs::directory_iterator("."))
        if (is_output_file(e))
            written.insert(e.path().filename().string());

    if (update != nullptr && std::string(update) == "1") {
        fs::remove_all(golden);
        fs::create_directories(golden);
        for (const auto& f : written) {
            std::string cmd = "xz -6 -T1 -c '" + f + "' > '" + (golden / (f + ".xz")).string() + "'";
            if (std::system(cmd.c_str()) != 0)
                return testing::AssertionFailure() << cmd << " failed";
        }
        return testing::AssertionSuccess() << "golden copies of " << name << " written";
    }

    std::set<std::string> kept;
    if (fs::is_directory(golden))
        for (const auto& e : fs::directory_iterator(golden)) {
            std::string f = e.path().filename().string();
            if (f.size() > 3 && f.compare(f.size() - 3, 3, ".xz") == 0)
                kept.insert(f.substr(0, f.size() - 3));
        }
    if (kept.empty())
        return testing::AssertionFailure() << "no golden copies in " << golden;

    bool ok = true;
    std::string faults;
    if (written != kept) {
        ok = false;
        faults += "\n  the run wrote other files than the golden run " + name + ":";
        for (const auto& f : written)
            if (kept.count(f) == 0)
                faults += " +" + f;
        for (const auto& f : kept)
            if (written.count(f) == 0)
                faults += " -" + f;
    }
    for (const auto& f : written) {
        if (kept.count(f) == 0)
            continue;
        std::string expected;
        if (!command_output("xz -dc '" + (golden / (f + ".xz")).string() + "'", expected)) {
            ok = false;
            faults += "\n  " + f + ": its golden copy cannot be read";
            continue;
        }
        const std::string actual = read_text(f);
        if (actual != expected) {
            ok = false;
            faults += "\n  " + name + "/" + f + " differs from its golden copy: " + first_difference(actual, expected);
        }
    }
    if (ok)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "golden files of " << name << ":" << faults;
}
