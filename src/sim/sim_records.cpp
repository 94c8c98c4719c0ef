/*
** sim_records.cpp -- rows of the simulated herd's records and their files.
*/
#include "sim/sim_records.h"

#include <cstdio>
#include <filesystem>

#include "run/output_file.h"
#include "sim/sim_calendar.h"

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

SimRecords::SimRecords(const std::string& herd)
    : herd_(csv_field(herd)),
      tests_("herd,cow,date,lact,calving,milk\n"),
      inseminations_("herd,cow,date\n"),
      calvings_("herd,cow,date,lact\n"),
      checks_("herd,cow,date,result\n"),
      exits_("herd,cow,entry,entry_reason,date,reason\n"),
      cows_("cow,birth\n")
{
}

void SimRecords::lead(std::string& out, int cow)
{
    out += herd_;
    out += ',';
    out += std::to_string(cow);
    out += ',';
}

void SimRecords::test_day(int cow, int day, int lact, int calving, double milk)
{
    /* Three decimals: a test-day weighing is read to the tenth at best. */
    constexpr int MILK_DECIMALS = 3;
    lead(tests_, cow);
    add_date(tests_, day);
    tests_ += ',' + std::to_string(lact) + ',';
    add_date(tests_, calving);
    char text[64];
    std::snprintf(text, sizeof text, ",%.*f\n", MILK_DECIMALS, milk);
    tests_ += text;
}

void SimRecords::insemination(int cow, int day)
{
    lead(inseminations_, cow);
    add_date(inseminations_, day);
    inseminations_ += '\n';
}

void SimRecords::calving(int cow, int day, int lact)
{
    lead(calvings_, cow);
    add_date(calvings_, day);
    calvings_ += ',' + std::to_string(lact) + '\n';
}

void SimRecords::pregnancy_check(int cow, int day, bool pregnant)
{
    lead(checks_, cow);
    add_date(checks_, day);
    checks_ += pregnant ? ",pregnant\n" : ",open\n";
}

void SimRecords::stay(int cow, int entry, bool bought, int exit_day, ExitReason reason)
{
    lead(exits_, cow);
    add_date(exits_, entry);
    exits_ += bought ? ",bought," : ",born,";
    if (exit_day >= 0) {
        add_date(exits_, exit_day);
        exits_ += ',';
        exits_ += reason_text(reason);
    } else {
        exits_ += ',';
    }
    exits_ += '\n';
}

void SimRecords::cow(int cow, int birth)
{
    cows_ += std::to_string(cow) + ',';
    add_date(cows_, birth);
    cows_ += '\n';
}

bool SimRecords::write(const std::string& folder, std::string& error) const
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot make the records folder " + folder + ": " + ec.message();
        return false;
    }
    const std::string* texts[6] = {&tests_, &inseminations_, &calvings_, &checks_, &exits_, &cows_};
    for (int i = 0; i < 6; i++) {
        const std::string name = (std::filesystem::path(folder) / FILE_NAMES[i]).string();
        OutputFile out(name);
        if (!out.ok() || std::fwrite(texts[i]->data(), 1, texts[i]->size(), out.fp()) != texts[i]->size() ||
            !out.commit()) {
            error = name + ": " + out.error();
            return false;
        }
    }
    return true;
}
