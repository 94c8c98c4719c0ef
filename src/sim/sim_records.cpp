/*
** sim_records.cpp -- rows of the simulated herd's records and their files.
*/
#include "sim/sim_records.h"

#include <cstdio>
#include <filesystem>

#include "core/output_file.h"
#include "core/calendar.h"

const char* const SimRecords::FILE_NAMES[6] = {"tests.csv", "inseminations.csv", "calvings.csv",
                                                "pregnancy_checks.csv", "exits.csv", "cows.csv"};

namespace {

/* A CSV field: quoted (quotes doubled) when it holds a comma, a quote or a
** line end. */
std::string csv_field(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char ch : text) {
        if (ch == '"')
            out += '"';
        out += ch;
    }
    return out + "\"";
}

void add_date(std::string& out, int day)
{
    char text[11];
    format_date(day, text);
    out += text;
}

const char* reason_text(ExitReason reason)
{
    switch (reason) {
    case ExitReason::DIED:
        return "died";
    case ExitReason::CULLED_INVOLUNTARY:
        return "culled-involuntary";
    case ExitReason::CULLED_VOLUNTARY:
        break;
    }
    return "culled-voluntary";
}

} // namespace

SimRecords::SimRecords(const std::string& herd) : herd_(csv_field(herd))
{
    text_[TESTS] = "herd,cow,date,lact,calving,milk\n";
    text_[INSEMINATIONS] = "herd,cow,date\n";
    text_[CALVINGS] = "herd,cow,date,lact\n";
    text_[CHECKS] = "herd,cow,date,result\n";
    text_[EXITS] = "herd,cow,entry,entry_reason,date,reason\n";
    text_[COWS] = "cow,birth\n";
}

void SimRecords::lead(std::string& out, int cow)
{
    out += herd_;
    out += ',';
    out += std::to_string(cow);
    out += ',';
}

void SimRecords::spill(int file, bool all)
{
    /* Rows wait in memory up to this many bytes a file. */
    constexpr std::size_t SPILL_BYTES = 1 << 20;
    std::string& text = text_[file];
    if (!out_[file] || failed_ || (!all && text.size() < SPILL_BYTES))
        return;
    if (std::fwrite(text.data(), 1, text.size(), out_[file]->fp()) != text.size()) {
        failed_ = true;
        error_ = std::string(FILE_NAMES[file]) + ": write error";
    }
    text.clear();
}

void SimRecords::test_day(int cow, int day, int lact, int calving, double milk)
{
    /* Three decimals: a test-day weighing is read to the tenth at best. */
    constexpr int MILK_DECIMALS = 3;
    std::string& t = text_[TESTS];
    lead(t, cow);
    add_date(t, day);
    t += ',' + std::to_string(lact) + ',';
    add_date(t, calving);
    char text[64];
    std::snprintf(text, sizeof text, ",%.*f\n", MILK_DECIMALS, milk);
    t += text;
    spill(TESTS, false);
}

void SimRecords::insemination(int cow, int day)
{
    std::string& t = text_[INSEMINATIONS];
    lead(t, cow);
    add_date(t, day);
    t += '\n';
    spill(INSEMINATIONS, false);
}

void SimRecords::calving(int cow, int day, int lact)
{
    std::string& t = text_[CALVINGS];
    lead(t, cow);
    add_date(t, day);
    t += ',' + std::to_string(lact) + '\n';
    spill(CALVINGS, false);
}

void SimRecords::pregnancy_check(int cow, int day, bool pregnant)
{
    std::string& t = text_[CHECKS];
    lead(t, cow);
    add_date(t, day);
    t += pregnant ? ",pregnant\n" : ",open\n";
    spill(CHECKS, false);
}

void SimRecords::stay(int cow, int entry, bool bought, int exit_day, ExitReason reason)
{
    std::string& t = text_[EXITS];
    lead(t, cow);
    add_date(t, entry);
    t += bought ? ",bought," : ",born,";
    if (exit_day >= 0) {
        add_date(t, exit_day);
        t += ',';
        t += reason_text(reason);
    } else {
        t += ',';
    }
    t += '\n';
    spill(EXITS, false);
}

void SimRecords::cow(int cow, int birth)
{
    std::string& t = text_[COWS];
    t += std::to_string(cow) + ',';
    add_date(t, birth);
    t += '\n';
    spill(COWS, false);
}

bool SimRecords::open(const std::string& folder, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot make the records folder " + folder + ": " + ec.message();
        return false;
    }
    for (int i = 0; i < FILES; i++) {
        const std::string name = (std::filesystem::path(folder) / FILE_NAMES[i]).string();
        out_[i] = std::make_unique<OutputFile>(name);
        if (!out_[i]->ok()) {
            error = name + ": " + out_[i]->error();
            for (auto& f : out_)
                f.reset();
            return false;
        }
    }
    return true;
}

bool SimRecords::commit(std::string& error)
{
    for (int i = 0; i < FILES; i++)
        spill(i, true);
    if (failed_) {
        error = error_;
        for (auto& f : out_)
            f.reset(); /* each left as it was */
        return false;
    }
    for (int i = 0; i < FILES; i++)
        if (!out_[i] || !out_[i]->commit()) {
            error = std::string(FILE_NAMES[i]) + ": " + (out_[i] ? out_[i]->error() : "not open");
            return false;
        }
    return true;
}
