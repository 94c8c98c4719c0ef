/*
** driver.cpp -- the run driver.
**
** A run reads the bio file, derives the biology, obtains a policy (solved
** by the dynamic program or read from a pol file), writes the policy files
** the bio file asks for, projects the herd under the policy as the chosen
** analysis says, and writes the statistics.  Analysis 1 first searches
** the steady state of the herd by repeated 12-month projections.
**
** A phase that cannot go on ends the run through END_RUN; the exit status
** is 1 for a run that did not complete and 0 for one that did.
**
** Before anything is written the run makes sure it writes over nothing it
** needs: no output file may be the bio file or another output file, and no
** other run may be writing in the same folders (core/run_lock.h).  It also
** makes sure that every output can be written (its folder exists, its name
** is not too long, it is no device: run/output_check.h) and that a policy
** read from a pol file decides every state the herd can be in, so that a
** run that cannot finish fails before it has replaced any file.
*/
#include "app/driver.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bio/bio.h"
#include "dp/dp.h"
#include "markov/markov.h"
#include "core/output_check.h"
#include "core/output_file.h"
#include "core/records.h"
#include "core/run_lock.h"
#include "core/runlog.h"
#include "core/temp_files.h"
#include "stats/stats.h"

namespace {

void print_banner()
{
    std::printf("\n");
    std::printf("   Morvenda herd model: dairy cow keep, inseminate and replace decisions\n");
    std::printf("   and herd economics by dynamic programming and Markov chain projection.\n");
    std::printf("   Written by the Morvenda developers for farm advisers and researchers.\n");
}

void project_and_report(unsigned short entry_mode, unsigned short months)
{
    MARKOV_CHAIN(entry_mode, months, CHAIN_COLLECT);
    WRITE_MSG_FILE(MSG_CHAIN_STATISTICS);
    MARKOV_CHAIN_STATS(months);
    WRITE_MKV_STATS(months);
}

/* A file the run will write, with the words that name it in a message. */
struct Output {
    const std::string* name;
    const char* item;
};

/* The files this run will write, as the bio file asks. */
std::vector<Output> planned_outputs()
{
    static const std::string msg_file = "msg.txt";
    static const std::string warm_file = "warm.txt";
    std::vector<Output> out;
    out.push_back({&msg_file, "progress file msg.txt"}); /* first, always */
    if (warmstart == SWITCH_ON && bio->policy >= POLICY_OPTIMAL)
        out.push_back({&warm_file, "warm-start file warm.txt"});
    if (bio->writepol == SWITCH_ON)
        out.push_back({&polfile, "pol file name (item 2)"});
    if (bio->writerpo == SWITCH_ON) {
        out.push_back({&rpofile, "rpo file name (item 2)"});
        out.push_back({&delfile, "del file name (item 2)"});
    }
    if (projects_herd(bio->analysis)) {
        out.push_back({&mkvfile, "mkv file name (item 2)"});
        out.push_back({&resfile, "res file name (item 2)"});
    }
    return out;
}

std::string folder_of(const std::string& file)
{
    const std::string folder = std::filesystem::path(file).parent_path().string();
    return folder.empty() ? "." : folder;
}

/* False (after the message) when an output would overwrite the bio file or
** another output, cannot be written, or another run writes in one of
** their folders. */
bool outputs_are_safe(const std::string& biofile, RunLock& lock)
{
    const std::vector<Output> outputs = planned_outputs();
    for (std::size_t i = 0; i < outputs.size(); i++) {
        /* msg.txt is rewritten in place and may be a pipe or a device on
        ** purpose (core/runlog.h); every other output replaces a file */
        const std::string refusal = i == 0 ? std::string() : OUTPUT_REFUSAL(*outputs[i].name);
        if (!refusal.empty()) {
            std::printf("\n MAIN: the %s \"%s\" cannot be written: %s: nothing written", outputs[i].item,
                        outputs[i].name->c_str(), refusal.c_str());
            return false;
        }
        if (SAME_FILE(*outputs[i].name, biofile)) {
            std::printf("\n MAIN: the %s \"%s\" is the bio file \"%s\": nothing written",
                        outputs[i].item, outputs[i].name->c_str(), biofile.c_str());
            return false;
        }
        for (std::size_t j = 0; j < i; j++)
            if (SAME_FILE(*outputs[i].name, *outputs[j].name)) {
                std::printf("\n MAIN: the %s \"%s\" and the %s \"%s\" are one file: nothing written",
                            outputs[j].item, outputs[j].name->c_str(), outputs[i].item,
                            outputs[i].name->c_str());
                return false;
            }
        if (!lock.lock_folder_of(*outputs[i].name)) {
            std::printf("\n MAIN: another run is writing in the folder of %s: nothing written",
                        outputs[i].name->c_str());
            return false;
        }
        /* the folder is ours now: what a killed run left in it goes */
        (void)SWEEP_STALE_TEMP_FILES(folder_of(*outputs[i].name));
    }
    return true;
}

/* Runs the phases after the start stamp; returns the exit status. */
int run_phases(int argc, char** argv)
{
    print_banner();
    RunLock lock;
    if (!lock.lock_working_folder()) {
        /* msg.txt belongs to the other run: leave it alone. */
        std::printf("\n MAIN: another run is writing in this folder: nothing written");
        return 1;
    }
    if (argc < 2 || argv[1] == nullptr) {
        WRITE_MSG_FILE(MSG_NO_BIO_FILE);
        std::printf(" no biofile found!");
        STOP(1);
        /* The run ends here: leave the reason, not the pause, as the last
        ** word for a program that polls msg.txt. */
        WRITE_MSG_FILE(MSG_NO_BIO_FILE);
        return 1;
    }
    runname = argv[1];
    if (runname.size() > MAX_NAME_LENGTH) {
        std::printf("\n MAIN: bio file name longer than %zu characters", MAX_NAME_LENGTH);
        STOP(1);
        return 1;
    }
    if (SAME_FILE(runname, "msg.txt")) {
        /* The first progress message would overwrite it; no pause, which
        ** writes msg.txt too. */
        std::printf("\n MAIN: the bio file \"%s\" is the progress file msg.txt: nothing written",
                    runname.c_str());
        return 1;
    }
    WRITE_MSG_FILE(MSG_INIT_STARTED);

    INIT_BIO_RECORD();
    const std::string biofile = runname; /* the reader replaces it with the run name */
    if (READ_BIO_FILE() == 1)
        return 1;
    if (!outputs_are_safe(biofile, lock)) {
        STOP(1);
        return 1;
    }
    BIO_PROBABILITY();

    WRITE_MSG_FILE(MSG_RESET_FUT);
    SET_WARM_START_READER(READ_WARM_FILE);
    INIT_FUT_RECORD();
    INIT_POLICY_RECORDS();
    WRITE_MSG_FILE(MSG_RESET_MKV);
    INIT_MKV_RECORD();
    /* A damaged stored herd fails the run before a policy is solved or
    ** a file written: the reader says what is wrong and ends the run. */
    if (projects_herd(bio->analysis) && !MKV_FILE_IS_WHOLE())
        READ_MKV_FILE();

    if (bio->policy >= 1) {
        if (DP_POLICY(bio->policy) == 0)
            return 1;
    } else if (bio->policy == 0) {
        READ_POL_FILE();
        std::string missing;
        if (projects_herd(bio->analysis) && !POLICY_DECIDES_HERD(missing)) {
            std::printf("\n MAIN: the pol file %s does not fit this herd (%s): nothing written",
                        polfile.c_str(), missing.c_str());
            STOP(1);
            return 1;
        }
    }

    if (bio->writepol == SWITCH_ON)
        WRITE_POL_FILE();
    if (bio->writerpo == SWITCH_ON) {
        WRITE_RPO_FILE();
        WRITE_DEL_FILE();
    }

    int status = 0;
    switch (bio->analysis) {
    case ANALYSIS_STEADY_STATE:
        READ_MKV_FILE();
        WRITE_MSG_FILE(MSG_CHAIN_STARTED);
        STEADY_STATE_LOOP([] { MARKOV_CHAIN(ENTRY_REFILL, STEADY_STATE_PASS_MONTHS, CHAIN_PROJECT_ONLY); });
        WRITE_MKV_FILE();
        project_and_report(ENTRY_REFILL, STEADY_HERD_MONTHS);
        break;
    case ANALYSIS_STORED_HERD:
        WRITE_MSG_FILE(MSG_CHAIN_STARTED);
        READ_MKV_FILE();
        project_and_report(ENTRY_REFILL, STORED_HERD_MONTHS);
        break;
    case ANALYSIS_STORED_START:
        WRITE_MSG_FILE(MSG_CHAIN_STARTED);
        READ_MKV_FILE();
        project_and_report(ENTRY_FULL_HERD_AT_START, STORED_HERD_MONTHS);
        break;
    case ANALYSIS_POLICY_ONLY:
        break;
    default:
        std::printf("\n MAIN bio->analysis error");
        STOP(1);
        status = 1; /* nothing was projected: not a completed run */
        break;
    }

    /* the policy files have been saving while the herd was projected */
    if (!FINISH_POLICY_FILES())
        status = 1;

    TIMETAKEN(CLOCK_END);
    std::printf("\n Morvenda done ...");
    if (status == 0) /* the last word agrees with the exit status */
        WRITE_MSG_FILE(MSG_COMPLETED);
    return status;
}

} // namespace

int MORVENDA_RUN(int argc, char** argv)
{
    TIMETAKEN(CLOCK_START);
    RESET_REPEATED_STOPS();
    int status;
    try {
        status = run_phases(argc, argv);
    } catch (const RunEnded& ended) {
        status = ended.status;
    }
    /* a run that ended early still leaves its policy files saved or not
    ** at all */
    if (!FINISH_POLICY_FILES())
        status = 1;
    std::fflush(stdout);
    return status;
}
