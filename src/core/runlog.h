/*
** runlog.h -- progress codes, the error pause and the run clock.
**
** A run reports itself in two places.  The console gets a running log:
** every line is written newline first, and every phase prints a
** " started ..." and a " done ..." line.  The progress file msg.txt holds
** exactly one message, the latest, so that another program can poll it.
**
** STOP is the common pause after an error.  It does not end the run; where
** going on is impossible, the caller ends the run with END_RUN, which
** unwinds to the run driver and sets the exit status.  Routines report
** through FAIL_RUN (line, pause, end) and WARN_RUN (line, pause, go on)
** rather than calling the two by hand.
*/
#ifndef MORVENDA_RUNLOG_H
#define MORVENDA_RUNLOG_H

#include <string>

/* Progress codes of WRITE_MSG_FILE.  Each code is the number its message
** shows in msg.txt, so that the code in the program and the number another
** program reads are one.  Two messages show 25: reading the MKV file takes
** 25, and "MKV file not found" 125.  The error pause shows no number and has
** code 99.  The texts never change: other programs poll them. */
constexpr unsigned MSG_NO_BIO_FILE                =   2; /* "2 - No BIO file found" */
constexpr unsigned MSG_INIT_STARTED               =   3; /* "3 - Initialization started" */
constexpr unsigned MSG_RESET_BIO                  =   4; /* "4 - Reset bio-record" */
constexpr unsigned MSG_READ_BIO                   =   5; /* "5 - Read BIO file" */
constexpr unsigned MSG_BIO_OPEN_FAILURE           =   6; /* "6 - BIO file open failure" */
constexpr unsigned MSG_BIO_PROBABILITIES          =   7; /* "7 - Calculate bio probabilities" */
constexpr unsigned MSG_BIO_PROBABILITIES_PROGRESS =   8; /* "8 - Calculate bio probabilities: %.0f%% completed" */
constexpr unsigned MSG_RESET_FUT                  =   9; /* "9 - Reset fut-record" */
constexpr unsigned MSG_RESET_POL                  =  10; /* "10 - Reset pol-record" */
constexpr unsigned MSG_RESET_RPO                  =  11; /* "11 - Reset rpo-record" */
constexpr unsigned MSG_RESET_INS                  =  12; /* "12 - Reset ins-record" */
constexpr unsigned MSG_RESET_DEL                  =  13; /* "13 - Reset del-record" */
constexpr unsigned MSG_RESET_MKV                  =  14; /* "14 - Reset mkv-record" */
constexpr unsigned MSG_RESET_COW                  =  15; /* "15 - Reset cow-record" */
constexpr unsigned MSG_READING_POL                =  16; /* "16 - Read POL file: %.0f%% completed" */
constexpr unsigned MSG_DP_STARTED                 =  17; /* "17 - Dynamic programming (DP) started" */
constexpr unsigned MSG_DP_CONVERGENCE             =  18; /* "18 - DP convergence: %.7f" */
constexpr unsigned MSG_DP_FAILED                  =  19; /* "19 - DP convergence failed" */
constexpr unsigned MSG_DP_CONVERGED               =  20; /* "20 - DP converged, profit:%.2f" */
constexpr unsigned MSG_WRITING_POL                =  21; /* "21 - Writing POL file: %.0f%% completed" */
constexpr unsigned MSG_WRITING_RPO                =  22; /* "22 - Writing RPO file: %.0f%% completed" */
constexpr unsigned MSG_WRITING_DEL                =  23; /* "23 - Writing DEL file: %.0f%% completed" */
constexpr unsigned MSG_CHAIN_STARTED              =  24; /* "24 - Markov chain started" */
constexpr unsigned MSG_READING_MKV                =  25; /* "25 - Reading MKV file" */
constexpr unsigned MSG_NO_MKV_FILE                = 125; /* "25 - MKV file not found, creating new file" */
constexpr unsigned MSG_RESET_MKV_PROGRESS         =  26; /* "26 - Reset mkv-record: %.0f%% completed" */
constexpr unsigned MSG_CHAIN_COLLECTING           =  27; /* "27 - Markov chain collecting data: %.0f%% completed" */
constexpr unsigned MSG_CHAIN_CONVERGENCE          =  28; /* "28 - Markov chain convergence: %.7f" */
constexpr unsigned MSG_CHAIN_FAILED               =  29; /* "29 - Markov chain convergence failed: %f" */
constexpr unsigned MSG_CHAIN_STATISTICS           =  30; /* "30 - Markov chain statistics" */
constexpr unsigned MSG_WRITING_RES                =  31; /* "31 - Writing RES file" */
constexpr unsigned MSG_COMPLETED                  =  32; /* "32 - EXE completed" */
constexpr unsigned MSG_STOP                       =  99; /* " STOP(): check Morvenda.EXE" */

/* The messages of the progress file in the order of a run: each code with
** its text (a printf format where the message shows a value).  The
** workbench reads a run's stage from this table. */
struct ProgressMessage {
    unsigned code;
    const char* format;
};
extern const ProgressMessage PROGRESS_MESSAGES[];
extern const unsigned PROGRESS_MESSAGE_COUNT;

/* Rewrites msg.txt with the message of `code` (value formatted where the
** message shows a number). */
void WRITE_MSG_FILE(unsigned code, double value = 0.0);

/* The text WRITE_MSG_FILE writes for a code. */
std::string MSG_TEXT(unsigned code, double value);

/* Error pause: progress code MSG_STOP, `count` bells, "@", then waits for one
** character from standard input (returns at once at end of input). */
void STOP(unsigned short count);

/* The pause after an error that can repeat for many states.  The caller
** prints its line with the state first; the first occurrence of `error`
** pauses, and at the REPEATED_LIMIT-th the run ends with the count, so a
** bad input gives a few lines and one pause, never a flood. */
constexpr unsigned REPEATED_LIMIT = 5;
void REPEATED_STOP(const char* error);
/* Forgets the counts (a new run). */
void RESET_REPEATED_STOPS();

/* Run clock: start, end with the elapsed-time report, lap start, lap
** end.  Returns elapsed seconds at the end and a lap's end, else 0. */
constexpr short CLOCK_START = 1;
constexpr short CLOCK_END = 2;
constexpr short CLOCK_LAP_START = 3;
constexpr short CLOCK_LAP_END = 4;
double TIMETAKEN(short type);

/* Splits elapsed seconds into whole hours, minutes and seconds. */
struct ElapsedTime {
    int hours;
    int minutes;
    int seconds;
};
ElapsedTime SPLIT_ELAPSED(double elapsed_seconds);

/* Thrown by END_RUN and caught by the run driver: the run cannot go on. */
struct RunEnded {
    int status;
};

[[noreturn]] void END_RUN(int status);

/* The one way a routine gives up: prints its error line, pauses (STOP) and
** ends the run with status 1.  The line is "\n ROUTINE: " and the message
** when `routine` is given; with a null routine the format is the whole
** line, its leading newline included (for the few lines that have always
** begun otherwise). */
[[noreturn]] void FAIL_RUN(const char* routine, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

/* The one way a routine reports an error and goes on: the same line and
** pause as FAIL_RUN, then it returns. */
void WARN_RUN(const char* routine, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif
