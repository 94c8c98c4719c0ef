/*
** runlog.cpp -- msg.txt, the STOP pause and the run clock.
**
** msg.txt is emptied and written anew on every call, so a program that
** polls it sees either the previous message, an empty file or the new one.
** The file stays open from call to call: opened with truncation and closed
** each time, it made the file system start writing it to disk on every
** close, some 0.17 ms a message and 40 ms a run.  It is opened again
** whenever its name no longer leads to the open file (a new working
** folder, the file removed or replaced), and never waits on a pipe with
** no reader.  The run clock reads the processor clock in milliseconds for
** elapsed times and the calendar clock for the start and end stamps.
*/
#include "core/runlog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>

namespace {

const char* const MSG_FILE = "msg.txt";

/* The open msg.txt and the file it is, or -1. */
int msg_fd = -1;
dev_t msg_device = 0;
ino_t msg_inode = 0;

/* True when msg.txt is open and its name still leads to the open file. */
bool msg_file_current()
{
    struct stat st {};
    return msg_fd >= 0 && stat(MSG_FILE, &st) == 0 && st.st_dev == msg_device && st.st_ino == msg_inode;
}

/* Opens msg.txt afresh; false when it cannot be. */
bool open_msg_file()
{
    if (msg_fd >= 0)
        close(msg_fd);
    msg_fd = open(MSG_FILE, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    struct stat st {};
    if (msg_fd >= 0 && fstat(msg_fd, &st) != 0) {
        close(msg_fd);
        msg_fd = -1;
    }
    msg_device = st.st_dev;
    msg_inode = st.st_ino;
    return msg_fd >= 0;
}

std::clock_t clock_start = 0;
std::clock_t clock_end = 0;
std::clock_t clock_lap = 0;
std::string starttime;

/* Occurrences of each repeated error in this run. */
std::map<std::string, unsigned> repeated;

/* Processor clock in milliseconds. */
double clock_ms(std::clock_t ticks)
{
    return static_cast<double>(ticks) * 1000.0 / CLOCKS_PER_SEC;
}

std::string format_value(const char* fmt, double value)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

std::string local_asctime()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[64];
    /* asctime form: "Www Mmm dd hh:mm:ss yyyy\n" */
    std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y\n", &local);
    return buf;
}

} // namespace

const ProgressMessage PROGRESS_MESSAGES[] = {
    {MSG_NO_BIO_FILE, "2 - No BIO file found"},
    {MSG_INIT_STARTED, "3 - Initialization started"},
    {MSG_RESET_BIO, "4 - Reset bio-record"},
    {MSG_READ_BIO, "5 - Read BIO file"},
    {MSG_BIO_OPEN_FAILURE, "6 - BIO file open failure"},
    {MSG_BIO_PROBABILITIES, "7 - Calculate bio probabilities"},
    {MSG_BIO_PROBABILITIES_PROGRESS, "8 - Calculate bio probabilities: %.0f%% completed"},
    {MSG_RESET_FUT, "9 - Reset fut-record"},
    {MSG_RESET_POL, "10 - Reset pol-record"},
    {MSG_RESET_RPO, "11 - Reset rpo-record"},
    {MSG_RESET_INS, "12 - Reset ins-record"},
    {MSG_RESET_DEL, "13 - Reset del-record"},
    {MSG_RESET_MKV, "14 - Reset mkv-record"},
    {MSG_RESET_COW, "15 - Reset cow-record"},
    {MSG_READING_POL, "16 - Read POL file: %.0f%% completed"},
    {MSG_DP_STARTED, "17 - Dynamic programming (DP) started"},
    {MSG_DP_CONVERGENCE, "18 - DP convergence: %.7f"},
    {MSG_DP_FAILED, "19 - DP convergence failed"},
    {MSG_DP_CONVERGED, "20 - DP converged, profit:%.2f"},
    {MSG_WRITING_POL, "21 - Writing POL file: %.0f%% completed"},
    {MSG_WRITING_RPO, "22 - Writing RPO file: %.0f%% completed"},
    {MSG_WRITING_DEL, "23 - Writing DEL file: %.0f%% completed"},
    {MSG_CHAIN_STARTED, "24 - Markov chain started"},
    {MSG_READING_MKV, "25 - Reading MKV file"},
    {MSG_NO_MKV_FILE, "25 - MKV file not found, creating new file"},
    {MSG_RESET_MKV_PROGRESS, "26 - Reset mkv-record: %.0f%% completed"},
    {MSG_CHAIN_COLLECTING, "27 - Markov chain collecting data: %.0f%% completed"},
    {MSG_CHAIN_CONVERGENCE, "28 - Markov chain convergence: %.7f"},
    {MSG_CHAIN_FAILED, "29 - Markov chain convergence failed: %f"},
    {MSG_CHAIN_STATISTICS, "30 - Markov chain statistics"},
    {MSG_WRITING_RES, "31 - Writing RES file"},
    {MSG_COMPLETED, "32 - EXE completed"},
    {MSG_STOP, " STOP(): check Morvenda.EXE"},
};
const unsigned PROGRESS_MESSAGE_COUNT = sizeof PROGRESS_MESSAGES / sizeof PROGRESS_MESSAGES[0];

std::string MSG_TEXT(unsigned code, double value)
{
    for (const ProgressMessage& m : PROGRESS_MESSAGES)
        if (m.code == code)
            return std::strchr(m.format, '%') != nullptr ? format_value(m.format, value) : m.format;
    return "Unknown message";
}

void WRITE_MSG_FILE(unsigned code, double value)
{
    if (!msg_file_current() && !open_msg_file()) {
        std::printf("\n WRITE_MSG_FILE open failure");
        return;
    }
    const std::string text = MSG_TEXT(code, value);
    /* a pipe or a device can be neither emptied nor rewound: it just gets
    ** the message */
    (void)ftruncate(msg_fd, 0);
    (void)lseek(msg_fd, 0, SEEK_SET);
    (void)write(msg_fd, text.data(), text.size());
}

void STOP(unsigned short count)
{
    WRITE_MSG_FILE(MSG_STOP);
    for (unsigned short i = 0; i < count; i++)
        std::putchar('\a');
    std::putchar('@');
    std::fflush(stdout);
    /* Wait for the operator; at end of input (no terminal, closed or empty
    ** standard input) there is nobody to wait for, so return at once. */
    (void)std::getchar();
}

void REPEATED_STOP(const char* error)
{
    const unsigned count = ++repeated[error];
    if (count == 1)
        STOP(1);
    if (count >= REPEATED_LIMIT) {
        FAIL_RUN(error, "%u times, the run ends", count);
    }
}

void RESET_REPEATED_STOPS()
{
    repeated.clear();
}

ElapsedTime SPLIT_ELAPSED(double elapsed_seconds)
{
    long s = static_cast<long>(elapsed_seconds); /* truncated toward zero */
    long r = s % 3600;
    ElapsedTime e{};
    e.hours = static_cast<int>((s - r) / 3600);
    e.seconds = static_cast<int>(r % 60);
    e.minutes = static_cast<int>((r - e.seconds) / 60);
    return e;
}

double TIMETAKEN(short type)
{
    switch (type) {
    case CLOCK_START: {
        clock_start = std::clock();
        std::string now = local_asctime();
        std::printf("\n Morvenda1.1 started: %.19s\n", now.c_str());
        if (now.size() > 29)
            std::printf(" starttime error.");
        starttime = now;
        return 0;
    }
    case CLOCK_END: {
        clock_end = std::clock();
        std::string now = local_asctime();
        std::printf("\n Morvenda1.0 started    : %.19s", starttime.c_str());
        std::printf("\n Morvenda1.0 finished   : %.19s", now.c_str());
        double e = (clock_ms(clock_end) - clock_ms(clock_start)) / 1000.0;
        ElapsedTime split = SPLIT_ELAPSED(e);
        std::printf("\n Hours                  : %d", split.hours);
        std::printf("\n Minutes                : %d", split.minutes);
        std::printf("\n Seconds                : %d", split.seconds);
        return e;
    }
    case CLOCK_LAP_START:
        clock_lap = std::clock();
        return 0;
    case CLOCK_LAP_END:
        return (clock_ms(std::clock()) - clock_ms(clock_lap)) / 1000.0;
    default:
        WARN_RUN(nullptr, "\n TIMETAKEN error");
        return 0;
    }
}

void END_RUN(int status)
{
    std::fflush(stdout);
    throw RunEnded{status};
}

namespace {

void print_error_line(const char* routine, const char* format, va_list args)
{
    if (routine != nullptr)
        std::printf("\n %s: ", routine);
    std::vprintf(format, args);
}

} // namespace

void FAIL_RUN(const char* routine, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    print_error_line(routine, format, args);
    va_end(args);
    STOP(1);
    END_RUN(1);
}

void WARN_RUN(const char* routine, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    print_error_line(routine, format, args);
    va_end(args);
    STOP(1);
}
