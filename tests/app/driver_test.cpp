// The run driver: the missing-argument path and the steady-state loop.
#include <gtest/gtest.h>

#include <cmath>

#include "app/driver.h"
#include "core/records.h"
#include "support/support.h"

TEST(RunDriver, NoArgumentReportsAndExitsOne)
{
    ScratchDir dir;
    EXPECT_EQ(run_program(""), 1);
    EXPECT_EQ(read_text("msg.txt"), "2 - No BIO file found");
    std::string console = read_text("console.txt");
    EXPECT_NE(console.find(" no biofile found!\a@"), std::string::npos);
    EXPECT_NE(console.find("\n Morvenda1.1 started: "), std::string::npos);
}

TEST(RunDriver, NoArgumentPausesAfterTheMessage)
{
    ScratchDir dir;
    capture_console();
    char prog[] = "morvenda";
    char* argv[] = {prog, nullptr};
    int status = MORVENDA_RUN(1, argv);
    std::string console = captured_console();
    EXPECT_EQ(status, 1);
    EXPECT_NE(console.find(" no biofile found!\a@"), std::string::npos);
}
