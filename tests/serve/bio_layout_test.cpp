/*
** bio_layout_test.cpp -- the walk over a bio file and in-place edits,
** the progress bar's reading of msg.txt and the check's faults.
*/
#include <gtest/gtest.h>

#include "serve/bio_layout.h"
#include "serve/runs.h"
#include "serve/workbench.h"
#include "support/support.h"

namespace {

using serve::apply_changes;
using serve::walk_bio;

std::string example()
{
    return read_text(source_path("examples/holstein_lb.bio"));
}

TEST(BioLayout, WalkFindsEveryValueOfTheExampleWhereTheReaderDoes)
{
    std::string text = example();
    serve::BioWalk walk = walk_bio(text);
    ASSERT_TRUE(walk.complete);
    std::size_t expected = 0;
    for (const serve::BioItem& item : serve::bio_items())
        expected += static_cast<std::size_t>(item.rows * item.cols);
    EXPECT_EQ(walk.tokens.size(), expected);
    /* Tokens are in file order and hold no white space. */
    for (std::size_t i = 1; i < walk.tokens.size(); i++) {
        EXPECT_LT(walk.tokens[i - 1].offset, walk.tokens[i].offset);
        std::string t = serve::token_text(text, walk.tokens[i]);
        if (walk.tokens[i].item != 35) {
            EXPECT_EQ(t.find_first_of(" \t\r\n"), std::string::npos) << t;
        }
    }
    EXPECT_EQ(serve::token_text(text, walk.tokens.back()), "0.86");
}

TEST(BioLayout, EditsKeepLineEndsAndSpacingAndUnchangedValuesGiveTheSameBytes)
{
    std::string text = example();
    std::string crlf;
    for (char c : text) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    /* Every value rewritten as itself: the same bytes. */
    serve::BioWalk walk = walk_bio(crlf);
    ASSERT_TRUE(walk.complete);
    std::map<std::string, std::string> same;
    for (const serve::BioToken& t : walk.tokens)
        same[std::to_string(t.item) + "." + std::to_string(t.index)] = serve::token_text(crlf, t);
    std::string copy = crlf;
    EXPECT_EQ(apply_changes(copy, same), "");
    EXPECT_EQ(copy, crlf);

    /* A longer value shifts the rest but keeps it whole. */
    EXPECT_EQ(apply_changes(copy, {{"8.0", "52.7000001"}, {"36.8", "0.9"}, {"35.0", "a note"}}), "");
    serve::BioWalk after = walk_bio(copy);
    ASSERT_TRUE(after.complete);
    EXPECT_EQ(serve::token_text(copy, after.tokens[walk.tokens.size() - 1]), "0.9");
    EXPECT_NE(copy.find("52.7000001 53.3"), std::string::npos);
    EXPECT_EQ(std::count(copy.begin(), copy.end(), '\r'), std::count(crlf.begin(), crlf.end(), '\r'));

    std::string before = copy;
    EXPECT_NE(apply_changes(copy, {{"8.0", "1"}, {"8.1", "2 3"}}), "");
    EXPECT_EQ(copy, before) << "a refused change leaves the text whole";
}

TEST(BioLayout, ShortFileNamesTheFirstMissingItem)
{
    std::string text = example();
    std::size_t prices = text.find("Heifer price;");
    ASSERT_NE(prices, std::string::npos);
    serve::BioWalk walk = walk_bio(text.substr(0, prices));
    EXPECT_FALSE(walk.complete);
    EXPECT_EQ(walk.missing_item, 26);
    EXPECT_EQ(walk_bio("").missing_item, 2);
}

TEST(RunProgress, TheBarOnlyMovesForwardThroughARun)
{
    const char* messages[] = {"3 - Initialization started", "5 - Read BIO file",
                              "18 - DP convergence: 0.5000000", "18 - DP convergence: 0.0000100",
                              "20 - DP converged, profit:99.63", "22 - Writing RPO file: 50% completed",
                              "23 - Writing DEL file: 100% completed", "28 - Markov chain convergence: 0.0010000",
                              "27 - Markov chain collecting data: 64% completed", "30 - Markov chain statistics",
                              "32 - EXE completed"};
    double last = 0.0;
    for (const char* m : messages) {
        double p = serve::progress_of(m);
        EXPECT_GE(p, last) << m;
        last = p;
    }
    EXPECT_EQ(last, 1.0);
    EXPECT_EQ(serve::progress_of(" STOP(): check Morvenda.EXE"), 0.0);
}

TEST(CheckMessages, EveryRangeFaultIsAtItsValueAndAWrongTokenEndsTheCheck)
{
    std::string edited = example();
    /* month in milk 3, July; the interest rate; a weight of 0 */
    ASSERT_EQ(apply_changes(edited, {{"12.30", "1.5"}, {"31.2", "-1"}, {"22.4", "0"}}), "");
    nlohmann::json check = serve::bio_check(edited, "mine.bio");
    EXPECT_FALSE(check["ok"].get<bool>());
    nlohmann::json m = check["messages"];
    ASSERT_EQ(m.size(), 3u) << m.dump(1);
    EXPECT_EQ(m[0]["item"], 12);
    EXPECT_EQ(m[0]["index"], 30);
    EXPECT_EQ(m[0]["month_in_milk"], 3);
    EXPECT_EQ(m[0]["calendar_month"], "JUL");
    EXPECT_EQ(m[0]["token"], "1.5");
    EXPECT_EQ(m[0]["text"], "READ_BIO_FILE: mine.bio, item 12 (involuntary disposal by month in milk): "
                            "\"1.5\" is outside 0..1");
    EXPECT_EQ(m[1]["item"], 22);
    EXPECT_EQ(m[1]["index"], 4);
    EXPECT_EQ(m[1]["reason"], "a weight must be above 0");
    EXPECT_EQ(m[2]["name"], "interest");
    EXPECT_EQ(m[2]["index"], 2);

    /* A word where a number is due: the values after it may have moved,
    ** so the range faults behind it are not reported. */
    ASSERT_EQ(apply_changes(edited, {{"19.13", "abc"}}), "");
    m = serve::bio_check(edited, "mine.bio")["messages"];
    ASSERT_EQ(m.size(), 2u) << m.dump(1);
    EXPECT_EQ(m[1]["item"], 19);
    EXPECT_EQ(m[1]["month_in_milk"], 3);
    EXPECT_EQ(m[1]["calendar_month"], "FEB");
    EXPECT_TRUE(m[1]["stops"].get<bool>());
    EXPECT_NE(m[1]["text"].get<std::string>().find("the check stops here"), std::string::npos);

    /* Warnings alone leave the file good. */
    nlohmann::json warned = serve::bio_check(example() + "left over\n", "mine.bio");
    EXPECT_TRUE(warned["ok"].get<bool>());
    ASSERT_EQ(warned["messages"].size(), 1u);
    EXPECT_EQ(warned["messages"][0]["severity"], "warning");
    EXPECT_EQ(warned["messages"][0]["token"], "left");
}

} // namespace
