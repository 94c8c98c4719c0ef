/*
** temp_files.h -- the temporary files of the output writer, and what is
** left of them when a process dies.
**
** An output is written under ".morvenda-<host>-<pid>-<n>.tmp" beside its
** target and renamed over it when whole (core/output_file.h).  A run
** stopped by Ctrl-C, a hang-up or a kill request (SIGINT, SIGHUP, SIGTERM)
** removes the temporary files it has open before it dies.  A run that is
** killed outright (SIGKILL, a power cut) cannot: the next run that writes
** in the folder sweeps the temporary files of processes of its own host
** that no longer live.  The host name in the temporary name keeps a sweep
** from removing the live file of a run on another computer that shares
** the folder, where the process number means nothing.
*/
#ifndef MORVENDA_RUN_TEMP_FILES_H
#define MORVENDA_RUN_TEMP_FILES_H

#include <string>

/* ".morvenda-<host>-<pid>-": the start of this process's temporary names. */
const std::string& TEMP_NAME_START();
constexpr const char* TEMP_NAME_END = ".tmp";

/* A temporary file is about to be made under `path`: from now on it is
** removed if the process is stopped by SIGINT, SIGHUP or SIGTERM before
** TEMP_FILE_GONE.  Called before the file is made, so that no moment is
** left in which it exists untracked (a stop signal may be taken by any
** thread).  False when too many are open to keep track of (the file is
** then left to the next sweep). */
bool TEMP_FILE_MADE(const std::string& path);
/* The temporary file `path` has been renamed or removed. */
void TEMP_FILE_GONE(const std::string& path);

/* Removes the temporary files in `folder` of processes of this host that
** no longer live; returns how many. */
int SWEEP_STALE_TEMP_FILES(const std::string& folder);

#endif
