// The ranked file goes through the program's one file writer: whole or not
// at all, and never through a name the user did not give.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cows/ranked_list.h"
#include "support/support.h"

namespace {

TEST(RankedFile, WrittenThroughItsOwnTemporaryFileOnly)
{
    ScratchDir dir;
    const RankedHerd none;
    std::string error;

    // A link left where a fixed temporary name would be is never followed.
    WRITE_TEXT("precious.txt", "keep me\n");
    std::filesystem::create_symlink("precious.txt", "ranked.csv.part");
    ASSERT_TRUE(WRITE_RANKED_FILE("ranked.csv", none, error)) << error;
    EXPECT_EQ(READ_TEXT("precious.txt"), "keep me\n");
    EXPECT_EQ(READ_TEXT("ranked.csv"), std::string(RANKED_HEADER()) + "\n");

    // A name that is a folder is refused and named; nothing else is left.
    std::filesystem::create_directory("folder.csv");
    EXPECT_FALSE(WRITE_RANKED_FILE("folder.csv", none, error));
    EXPECT_NE(error.find("folder.csv: cannot be written: not a regular file"), std::string::npos) << error;
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        entries += entry.path().filename().string().rfind(".morvenda-", 0) == 0 ? 100 : 1;
    EXPECT_EQ(entries, 4); // precious.txt, the link, ranked.csv, folder.csv
}

} // namespace
