/*
** output_check.h -- can a file be written under this name?
**
** A run writes its files one after another; a name that cannot take a
** file (a folder that does not exist, a name too long for the file
** system, a device) would otherwise be found out only after the files
** before it had been replaced, leaving a failed run that changed half of
** its outputs.  The run asks this of every output before it writes any.
**
** Names under /dev and /proc are refused however they are reached (the
** name itself or a symbolic link on the way): /dev/stdout and
** /proc/self/fd/1 lead to whatever the console is redirected to, and a
** file written through them would replace the user's log.
*/
#ifndef MORVENDA_RUN_OUTPUT_CHECK_H
#define MORVENDA_RUN_OUTPUT_CHECK_H

#include <string>

/* Why a file cannot be written under `name`; "" when it can. */
std::string OUTPUT_REFUSAL(const std::string& name);

/* True when `name`, or a symbolic link it passes through, lies under
** /dev or /proc. */
bool UNDER_SYSTEM_FOLDER(const std::string& name);

#endif
