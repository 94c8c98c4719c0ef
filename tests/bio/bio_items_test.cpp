// The item table: named changes to a bio file, the faults a check lists,
// and the reader's rules that came with the table (waiting period, last
// breeding month, highest month in milk, decimal numbers, byte-order
// mark, data after the last item).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>

#include <nlohmann/json.hpp>

#include "bio/bio_edit.h"
#include "bio/bio_items.h"
#include "support/bio_text.h"
#include "support/support.h"

namespace {

class Items : public testing::Test {
protected:
    void SetUp() override { allocate_records(); }
    ScratchDir dir;
};

using Cell = std::tuple<int, int, int>;

/* Every value of a text by field, row and column. */
std::map<Cell, std::string> values_of(const std::string& text)
{
    std::map<Cell, std::string> out;
    for (const BioToken& t : bio_layout(text).tokens)
        out[{t.field, t.row, t.col}] = text.substr(t.offset, t.length);
    return out;
}

/* The text with every value taken out: headings, spacing and line ends. */
std::string skeleton(const std::string& text)
{
    std::string out;
    std::size_t at = 0;
    for (const BioToken& t : bio_layout(text).tokens) {
        out += text.substr(at, t.offset - at) + "|";
        at = t.offset + t.length;
    }
    return out + text.substr(at);
}

std::string crlf_example()
{
    std::string out;
    for (char c : example_text()) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::string change(std::string text, const std::vector<std::string>& words, std::string* fault = nullptr)
{
    std::vector<BioChange> changes;
    for (const std::string& w : words) {
        BioChange c;
        const std::string why = parse_bio_change(w, c);
        if (!why.empty()) {
            if (fault)
                *fault = why;
            return text;
        }
        changes.push_back(c);
    }
    const std::string why = apply_bio_changes(text, changes);
    if (fault)
        *fault = why;
    return text;
}

TEST_F(Items, SetRewritesOnlyTheNamedValuesByTheirLabels)
{
    const std::string before = crlf_example();
    std::string fault;
    const std::string after = change(before,
                                     {"conception.5.jul=0.3", "heat_detection.5*=1.1", "milk_price*=0.85",
                                      "interest=0.04", "lactation_factor.4=0.97", "notes.2=a new note"},
                                     &fault);
    ASSERT_EQ(fault, "");
    EXPECT_EQ(skeleton(after), skeleton(before)); /* headings, spacing, CR LF */
    const auto old = values_of(before), now = values_of(after);
    const int conception = find_bio_field("conception"), heat = find_bio_field("heat_detection");
    const int milk = find_bio_field("milk_price"), heifer = find_bio_field("heifer_price");
    int changed = 0;
    for (const auto& [cell, value] : now) {
        const auto [f, r, c] = cell;
        if (value == old.at(cell))
            continue;
        changed++;
        if (f == conception) {
            EXPECT_EQ(r, 3); /* month in milk 5 */
            EXPECT_EQ(c, 6); /* July */
            EXPECT_EQ(value, "0.3");
        } else if (f == heat) {
            EXPECT_EQ(r, 3);
            EXPECT_NEAR(std::atof(value.c_str()), 1.1 * std::atof(old.at(cell).c_str()), 1e-12);
            EXPECT_EQ(value.find('e'), std::string::npos) << value;
            EXPECT_LE(value.size(), 6u) << value; /* 0.572, not 0.5720000000000001 */
        } else if (f == milk) {
            EXPECT_NEAR(std::atof(value.c_str()), 0.85 * std::atof(old.at(cell).c_str()), 1e-9);
        } else {
            EXPECT_NE(f, heifer);
            EXPECT_TRUE(bio_fields()[f].item == 31 || bio_fields()[f].item == 35 || bio_fields()[f].item == 36)
                << bio_cell_name(f, r, c);
        }
    }
    EXPECT_EQ(changed, 1 + 12 + 24 + 1 + 1 + 1);
    EXPECT_EQ(now.at({find_bio_field("lactation_factor"), 0, 0}), "0.97");

    /* The variant reads as a herd. */
    EXPECT_EQ(read_bio_text(after).status, 0);
    EXPECT_DOUBLE_EQ(bio->interest, 0.04);
    EXPECT_DOUBLE_EQ(bio->conceptionrate[0][5][7], 0.3);
}

TEST_F(Items, SetRefusesWhatTheReaderWouldAndLeavesTheTextAlone)
{
    const std::string ex = example_text();
    const struct {
        const char* change;
        const char* fault;
    } cases[] = {
        {"interest=1.5", "item 31 (interest rate), interest: \"1.5\" is outside 0..1"},
        {"interest*=100", "item 31 (interest rate), interest: \"5\" is outside 0..1"},
        {"interest=0x1", "a number expected, found \"0x1\""},
        {"vwp1=2", "item 14 (waiting period of lactation 1), vwp1: 2 is outside 3..24"},
        {"maxmim=0", "0 is outside 1..24"},
        {"policy=optimal", "is not OPTIMAL"},
        {"start_month=JANUARY", "is not JAN..DEC"},
        {"milk_price.25=1", "no column 25 (model month 1..24)"},
        {"conception.1.JUL=0.3", "no row 1 (month in milk 2..15)"},
        {"conception.5.JULY=0.3", "no column JULY (calendar month JAN..DEC)"},
        {"interest.1=0", "interest is a single value"},
        {"nothing=1", "no item value called \"nothing\""},
        {"policy*=2", "only numbers can be scaled"},
        {"milk_price*=x", "the factor must be a decimal number"},
        {"serve.3=two words", "one value without spaces"},
        {"stamp=a time stamp longer than twenty-four", "at most 24 characters"},
        {"interest", "expected NAME=VALUE"},
    };
    for (const auto& c : cases) {
        std::string fault;
        EXPECT_EQ(change(ex, {c.change}, &fault), ex) << c.change;
        EXPECT_NE(fault.find(c.fault), std::string::npos) << c.change << ": " << fault;
    }
    std::string fault;
    change(ex.substr(0, ex.size() / 2), {"interest=0"}, &fault);
    EXPECT_NE(fault.find("the file ends before the values of item"), std::string::npos) << fault;
}

TEST_F(Items, PlainDecimalsReadBackExactly)
{
    for (double v : {0.0, 1.0, -0.5, 0.1 + 0.2, 1e7, 1e-7, 18.6 * 0.85, 123456.789, -1e-300}) {
        const std::string s = plain_decimal(v);
        EXPECT_TRUE(is_decimal_number(s)) << s;
        EXPECT_EQ(s.find_first_of("eE"), std::string::npos) << s;
        EXPECT_EQ(std::strtod(s.c_str(), nullptr), v) << s;
    }
    EXPECT_EQ(plain_decimal(1e-7), "0.0000001");
    EXPECT_EQ(plain_decimal(1e7), "10000000");
    for (const char* bad : {"0x10", "1e", ".", "+", "1.5.2", "inf", "nan", "1,5", ""})
        EXPECT_FALSE(is_decimal_number(bad)) << bad;
    for (const char* good : {"1", "-2.", ".5", "+0.25", "1e5", "2.5E-3"})
        EXPECT_TRUE(is_decimal_number(good)) << good;
}

TEST_F(Items, CheckListsEveryRangeFaultAndStopsWhereAValueIsMissing)
{
    /* Three values out of range in items 12, 26 and 33: all three listed. */
    std::string t = change(example_text(), {"disposal.3.JUL=0.5"});
    t = edit(t, "Involuntary disposal per", 3, "1.5 " + repeat("0.01", 11));
    t = edit(t, H_PRICES, 3, "-19 " + repeat("19", 11));
    t = edit(t, H_WRITE, AT_FEED, "0.12 0.09 28 3.9 11 1.5");
    std::vector<BioFault> faults = bio_faults(t);
    ASSERT_EQ(faults.size(), 3u);
    EXPECT_EQ(bio_fields()[faults[0].field].item, 12);
    EXPECT_EQ(faults[0].row, 2); /* month in milk 3 */
    EXPECT_EQ(faults[0].col, 0); /* January */
    EXPECT_EQ(faults[0].reason, "\"1.5\" is outside 0..1");
    EXPECT_EQ(std::string(bio_fields()[faults[1].field].name), "milk_price");
    EXPECT_EQ(faults[1].token, "-19");
    EXPECT_EQ(std::string(bio_fields()[faults[2].field].name), "yield_corr");
    for (const BioFault& f : faults)
        EXPECT_FALSE(f.stops);
    /* The reader stops at the first, with its message. */
    ReadResult r = read_bio_text(t);
    EXPECT_EQ(r.ended, 1);
    EXPECT_NE(r.console.find("item 12 (involuntary disposal by month in milk): \"1.5\" is outside 0..1\a@"),
              std::string::npos);

    /* A value missing from a row of item 19: the heading of item 20 is
    ** read as its last value, and nothing after it is judged. */
    const std::string missing = edit(t, H_HEAT, 2, repeat("0.5", 11));
    faults = bio_faults(missing);
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(bio_fields()[faults[1].field].item, 19);
    EXPECT_EQ(faults[1].row, 13);
    EXPECT_EQ(faults[1].col, 11);
    EXPECT_TRUE(faults[1].stops);
    EXPECT_EQ(faults[1].token, "Conception");

    /* A file that ends early: the item whose values are missing. */
    faults = bio_faults(example_text().substr(0, example_text().find("Heifer entry")));
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(bio_fields()[faults[0].field].item, 25);
    EXPECT_TRUE(faults[0].stops);
}

TEST_F(Items, AHeadingTooLongToTakeWholeIsWarnedOf)
{
    /* A heading of 50 characters: its last is read as the first heat
    ** detection rate, and every value after it moves. */
    const std::string t = edit(example_text(), H_HEAT, 0, std::string(50, 'h') + " 0.5");
    ReadResult r = read_bio_text(t);
    EXPECT_NE(r.console.find("item 19 (heat detection rate): the heading is longer than 49 characters, "
                             "the rest of its line is read as values (\"h\")"),
              std::string::npos)
        << r.console;
    const std::vector<BioFault> faults = bio_faults(t);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_TRUE(faults[0].warning);
    EXPECT_TRUE(faults[0].stops);
    EXPECT_EQ(faults[0].row, -1);
    /* The longest heading and trailing blanks after it are no fault. */
    EXPECT_TRUE(bio_faults(edit(example_text(), H_HEAT, 0, std::string(49, 'h') + "   ")).empty());
}

TEST_F(Items, BreedingWindowAndHighestMonthInMilkAreCheckedByTheReader)
{
    const std::string ex = example_text();
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {edit(ex, H_ABORT, AT_VWP, "1 3 3"), "item 14 (waiting period of lactation 1): 1 is outside 3..24"},
        {edit(ex, H_ABORT, AT_VWP, "3 3 2"), "item 14 (waiting period of later lactations): 2 is outside 3..24"},
        {edit(ex, H_ABORT, AT_LBM, "17"), "item 15 (last breeding month): 17 is outside 1..16"},
        {edit(ex, H_ABORT, AT_LBM, "24"), "item 15 (last breeding month): 24 is outside 1..16"},
        {edit(ex, H_WRITE, AT_MAXMIM, "0"), "item 30 (highest month in milk): 0 is outside 1..24"},
        {edit(ex, H_WRITE, AT_MAXMIM, "-5"), "item 30 (highest month in milk): -5 is outside 1..24"},
        {edit(ex, H_WRITE, AT_MAXMIM, "-32768"), "item 30 (highest month in milk): -32768 is outside 1..24"},
        {edit(ex, H_WRITE, AT_FEED, "0.12 0.09 28 3.9 11 0x10"),
         "item 33 (yield correlation): a number expected, found \"0x10\""},
        {edit(ex, H_WRITE, AT_FEED, "0.12 0.09 28 3.9 0x1p3 0.6"),
         "item 33 (yield standard deviation): a number expected, found \"0x1p3\""},
    };
    for (const auto& c : cases) {
        ReadResult r = read_bio_text(c.text);
        EXPECT_EQ(r.ended, 1) << c.message;
        EXPECT_NE(r.console.find("test.bio, " + std::string(c.message) + "\a@"), std::string::npos)
            << c.message << " in\n" << r.console;
    }
    /* The bounds themselves are taken; a highest month in milk not above
    ** the stored last breeding month still becomes 24. */
    std::string t = edit(ex, H_ABORT, AT_VWP, "3 3 3");
    ReadResult r = read_bio_text(edit(edit(t, H_ABORT, AT_LBM, "16"), H_WRITE, AT_MAXMIM, "1"));
    ASSERT_EQ(r.status, 0) << r.console;
    EXPECT_EQ(bio->vwp[1], 2);
    EXPECT_EQ(bio->lbm, 15);
    EXPECT_EQ(bio->maxmim, 24);
}

TEST_F(Items, ByteOrderMarkAndDataAfterTheLastItem)
{
    ReadResult plain = read_bio_text(example_text());
    ASSERT_EQ(plain.status, 0);
    const std::string stamp = biofiletime;
    const double rev = bio->rev[8][2][3][0][4];

    ReadResult marked = read_bio_text("\xEF\xBB\xBF" + example_text());
    ASSERT_EQ(marked.status, 0) << marked.console;
    EXPECT_EQ(biofiletime, stamp);
    EXPECT_EQ(bio->rev[8][2][3][0][4], rev);
    EXPECT_EQ(marked.console, plain.console);

    ReadResult trailing = read_bio_text(example_text() + "0.85 0.84\n");
    ASSERT_EQ(trailing.status, 0) << trailing.console;
    EXPECT_NE(trailing.console.find("test.bio: data after item 36 is ignored (\"0.85\")"), std::string::npos)
        << trailing.console;
    EXPECT_EQ(bio->rev[8][2][3][0][4], rev);
}

TEST_F(Items, CommandsSetItemsAndCheck)
{
    write_text("herd.bio", example_text());
    /* To standard output, or whole to -o; the input stays as it was. */
    ASSERT_EQ(run_program("set herd.bio interest=0.04 'serve.7=NO'", "out.txt"), 0);
    const std::string variant = read_text("out.txt");
    EXPECT_EQ(variant, set_items(example_text(), "interest=0.04 serve[7]=NO"));
    ASSERT_EQ(run_program("set herd.bio interest=0.04 serve.7=NO -o variant.bio"), 0);
    EXPECT_EQ(read_text("variant.bio"), variant);
    EXPECT_EQ(read_text("herd.bio"), example_text());
    /* A refused value writes nothing; a usage error is status 2. */
    EXPECT_EQ(run_program("set herd.bio interest=2 -o refused.bio"), 1);
    EXPECT_FALSE(file_exists("refused.bio"));
    EXPECT_NE(read_text("console.txt").find("item 31 (interest rate), interest: \"2\" is outside 0..1"),
              std::string::npos);
    EXPECT_EQ(run_program("set herd.bio"), 2);
    EXPECT_EQ(run_program("set herd.bio nothing=1"), 2);
    /* Over the input only when -o names it. */
    ASSERT_EQ(run_program("set herd.bio maxlact=4 -o herd.bio"), 0);
    EXPECT_EQ(read_text("herd.bio"), set_items(example_text(), "maxlact=4"));

    ASSERT_EQ(run_program("items --json", "items.json"), 0);
    const nlohmann::json items = nlohmann::json::parse(read_text("items.json"));
    EXPECT_EQ(items["items"].size(), 36u);
    EXPECT_EQ(items["fields"].size(), bio_fields().size());
    EXPECT_EQ(items["fields"][find_bio_field("conception")]["row_labels"][0], "2");
    EXPECT_EQ(items["fields"][find_bio_field("conception")]["col_labels"][6], "JUL");

    write_text("bad.bio", set_items(example_text(), "interest=0.04") + "\n");
    write_text("bad.bio", edit(edit(read_text("bad.bio"), H_CURVE1, 2, "-5 " + repeat("60", 11)), H_WRITE,
                               AT_LIMITS, "15 -2 1.5 50 0.6"));
    EXPECT_EQ(run_program("check --json bad.bio", "check.json"), 1);
    const nlohmann::json check = nlohmann::json::parse(read_text("check.json"));
    ASSERT_EQ(check["faults"].size(), 2u) << check.dump(1);
    EXPECT_EQ(check["faults"][0]["month_in_milk"], 2);
    EXPECT_EQ(check["faults"][0]["calendar_month"], "JAN");
    EXPECT_EQ(check["faults"][1]["name"], "interest");
    EXPECT_EQ(check["faults"][1]["token"], "1.5");
    EXPECT_EQ(run_program("check --json missing.bio", "check.json"), 1);
    EXPECT_NE(read_text("check.json").find("file open failure"), std::string::npos);
}

} // namespace
