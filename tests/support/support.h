/*
** support.h -- helpers shared by the test binaries.
**
** The program writes msg.txt, warm.txt and its output files in the working
** directory, so every case that runs it works in a fresh temporary
** directory (ScratchDir).  The records are allocated once per test binary
** (allocate_records) and reset between cases by the routines under test.
*/
#ifndef MORVENDA_TEST_SUPPORT_H
#define MORVENDA_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

/* A fresh temporary directory that becomes the working directory for the
** lifetime of the object; the previous one is restored and the directory
** removed afterwards. */
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};

/* Starts taking what the program prints on standard output; the text so far
** comes back (and the capture ends) with captured_console. */
void capture_console();
std::string captured_console();

/* Whole file as text ("" when it cannot be read). */
std::string read_text(const std::string& name);
void write_text(const std::string& name, const std::string& text);
bool file_exists(const std::string& name);

/* Path of a file in the source tree, e.g. source_path("examples/holstein_lb.bio"). */
std::string source_path(const std::string& relative);

/* Allocates all seven records once per process (console output hidden). */
void allocate_records();

/* A rule policy: inseminate in the breeding window, keep every other cow
** (she is sold at the last month in milk), heifers enter every month. */
void rule_policy();

/* Runs the morvenda program in the working directory with standard input
** closed; console output goes to `console_file`.  Returns the exit status. */
int run_program(const std::string& args, const std::string& console_file = "console.txt");

/* Compares every file the program wrote in the working directory (all but
** the bio files and the console captures) byte for byte with the golden
** copies under tests/golden/NAME/ (xz-compressed), and the set of files with
** the set of golden copies.  The golden copies are the proof that a change
** of shape or speed changed no output.  With MORVENDA_UPDATE_GOLDEN=1 in
** the environment the golden copies are written instead; do that only for
** a change that is meant to change the outputs, and say so in its commit. */
testing::AssertionResult golden_files_match(const std::string& name);
/* A macro over the assertion result, so that a failure points at the test
** that made the run rather than at this helper. */
#define EXPECT_GOLDEN(name) EXPECT_TRUE(golden_files_match(name))

#endif
