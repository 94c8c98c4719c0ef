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
** unwinds to the run driver and sets the exit status.
*/
#ifndef MORVENDA_RUNLOG_H
#define MORVENDA_RUNLOG_H

#include <string>

/* Rewrites msg.txt with the message of `code` (value formatted where the
** message shows a number). */
void WRITE_MSG_FILE(unsigned code, double value = 0.0);

/* The text WRITE_MSG_FILE writes for a code. */
std::string MSG_TEXT(unsigned code, double value);

/* Error pause: progress code 99, `count` bells, "@", then waits for one
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

/* Run clock: 1 start, 2 end with elapsed-time report, 3 lap start,
** 4 lap end.  Returns elapsed seconds for 2 and 4, else 0. */
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

#endif
