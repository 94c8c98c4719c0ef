/*
** regex_alarm.h -- quiets g++ 12's false alarm inside <regex>.
**
** g++ 12 warns of an uninitialised std::function inside <regex>'s own
** automaton when it inlines it into a file that compiles a pattern
** (-Wmaybe-uninitialized, a known false alarm of that release); the warning
** belongs to the library, not to our code.  A file that compiles patterns
** includes this before anything else, so that the library's headers are
** read with the alarm off.
*/
#ifndef MORVENDA_SERVE_REGEX_ALARM_H
#define MORVENDA_SERVE_REGEX_ALARM_H

#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#endif
