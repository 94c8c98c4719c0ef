// The ranked file goes through the program's one file writer: whole or not
// at all, and never through a name the user did not give.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cows/ranked_list.h"
#include "support/support.h"

namespace {

TEST(RankedFile, WrittenThroughItsOwnTemporaryFileOnly)
{
    ScratchDir dir;
    const RankedHerd none;
    std::string error;

    // A link left where a fixed temporary name would be is never followed.
    write_text("precious.txt", "keep me\n");
    std::filesystem::create_symlink("precious.txt", "ranked.csv.part");
    ASSERT_TRUE(WRITE_RANKED_FILE("ranked.csv", none, error)) << error;
    EXPECT_EQ(read_text("precious.txt"), "keep me\n");
    EXPECT_EQ(read_text("ranked.csv"), std::string(RANKED_HEADER()) + "\n");

    // A name that is a folder is refused and named; nothing else is left.
    std::filesystem::create_directory("folder.csv");
    EXPECT_FALSE(WRITE_RANKED_FILE("folder.csv", none, error));
    EXPECT_NE(error.find("folder.csv: cannot be written: not a regular file"), std::string::npos) << error;
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        entries += entry.path().filename().string().rfind(".morvenda-", 0) == 0 ? 100 : 1;
    EXPECT_EQ(entries, 4); // precious.txt, the link, ranked.csv, folder.csv
}

TEST(RankedFile, TextThatASpreadsheetWouldRunIsWrittenAsText)
{
    ScratchDir dir;
    // Rejected rows: the file then holds their id, note and days in milk as given.
    const std::vector<std::pair<std::string, std::string>> cells = {
        {"=HYPERLINK(\"http://x\",\"y\")", "'=HYPERLINK(\"http://x\",\"y\")"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"+1+1", "'+1+1"},
        {"-2+3", "'-2+3"},
        {"\tcmd", "'\tcmd"},
        {"-2.5", "-2.5"},
        {"+7", "+7"},
        {"-1e3", "-1e3"},
        {"1042", "1042"},
        {"A-7", "A-7"},
        {"-", "'-"},
    };
    std::vector<CowRow> rows(cells.size());
    RankedHerd herd;
    for (std::size_t i = 0; i < cells.size(); i++) {
        rows[i].line = static_cast<int>(i) + 2;
        rows[i].id = cells[i].first;
        rows[i].dim_text = cells[i].first;
        RankedCow cow;
        cow.row = &rows[i];
        herd.cows.push_back(cow);
        herd.order.push_back(i);
    }
    std::string error;
    ASSERT_TRUE(WRITE_RANKED_FILE("ranked.csv", herd, error)) << error;
    const std::string text = read_text("ranked.csv");
    std::size_t at = text.find('\n') + 1;
    for (const auto& [given, written] : cells) {
        const std::size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        // a field with a quote or a comma comes quoted, its quotes doubled
        std::string field = written;
        if (field.find_first_of(",\"") != std::string::npos) {
            std::string quoted = "\"";
            for (char ch : field)
                quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
            field = quoted + "\"";
        }
        EXPECT_EQ(line.rfind(field + ",", 0), 0u) << given << " -> " << line;
        EXPECT_NE(line.find("," + field + ","), std::string::npos) << given << " (dim) -> " << line;
    }
}

} // namespace
