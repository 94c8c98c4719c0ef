// The one table of the yearly figures: the guide's list and the program's
// listing must both be the table (the golden reports pin its labels).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "stats/figures.h"
#include "support/support.h"

namespace {

// The guide holds the table between two marker lines; it must be exactly
// what `morvenda figures --markdown` prints today.
TEST(YearlyFigures, GuideListIsTheProgramsTable)
{
    ScratchDir dir;
    ASSERT_EQ(run_program("figures --markdown", "figures.md"), 0);
    const std::string table = read_text("figures.md");
    const std::string guide = read_text(source_path("docs/guide.md"));
    const std::string open = "<!-- yearly-figures: made by `morvenda figures --markdown` -->\n";
    const std::string close = "<!-- end of yearly-figures -->";
    const auto a = guide.find(open);
    const auto b = guide.find(close);
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    EXPECT_EQ(guide.substr(a + open.size(), b - a - open.size()), table)
        << "regenerate the guide's list with `morvenda figures --markdown`";
}

// Keys are unique and found again; every figure has its words; herd sums are
// only the figures per cow per year or rates per cow per year.
TEST(YearlyFigures, EntriesAreCompleteAndConsistent)
{
    std::set<std::string> keys;
    for (std::size_t i = 0; i < YEARLY_FIGURE_COUNT; i++) {
        const YearlyFigure& f = YEARLY_FIGURES[i];
        const std::string key = figure_key(f);
        EXPECT_TRUE(keys.insert(key).second) << key;
        EXPECT_EQ(find_yearly_figure(key), &f);
        EXPECT_GT(std::string(f.name).size(), 3u) << key;
        EXPECT_GT(std::string(f.help).size(), 20u) << key;
        EXPECT_TRUE(f.better >= -1 && f.better <= 1) << key;
        if (f.herd_sum) {
            EXPECT_TRUE(f.unit == FigureUnit::MONEY_PER_COW_YEAR || f.unit == FigureUnit::MILK_PER_COW_YEAR ||
                        f.unit == FigureUnit::RATE_PER_COW_YEAR)
                << key;
        }
    }
    EXPECT_EQ(find_yearly_figure("no_such_figure"), nullptr);
    EXPECT_EQ(unit_text(FigureUnit::MONEY_PER_100_MILK, true), "money per 100 kg of milk");
    EXPECT_EQ(unit_text(FigureUnit::MILK_PER_100_MILK, false), "lb per 100 lb of milk");
}

} // namespace
