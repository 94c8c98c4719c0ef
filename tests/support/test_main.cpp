/*
** test_main.cpp -- the tests run with standard input closed, as in CI, so
** that the STOP pause never waits for a key.
*/
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (std::freopen("/dev/null", "r", stdin) == nullptr)
        std::fclose(stdin);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
