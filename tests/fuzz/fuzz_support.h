/*
** fuzz_support.h -- common set-up of the reader fuzz targets.
**
** Each target writes the input to a file in a private working directory
** and runs one reader on it.  Standard input is closed (the STOP pause
** returns at once), console output goes to /dev/null, and a run that the
** reader ends (END_RUN) is an accepted outcome: what must never happen is
** a crash, an access outside the records or a hang.
*/
#ifndef MORVENDA_FUZZ_SUPPORT_H
#define MORVENDA_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

/* Makes and enters a private working directory, closes standard input and
** silences the console.  Idempotent. */
void FUZZ_SETUP();

/* Writes the fuzz input to `name` in the working directory. */
void FUZZ_WRITE_INPUT(const std::string& name, const uint8_t* data, size_t size);

#endif
