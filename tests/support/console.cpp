/*
** console.cpp -- the console output of a stretch of a test.
**
** The model prints its log on standard output; tests read it back through
** these two helpers, the one place that touches GoogleTest's capture.
*/
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

void capture_console()
{
    testing::internal::CaptureStdout();
}

std::string captured_console()
{
    return testing::internal::GetCapturedStdout();
}
