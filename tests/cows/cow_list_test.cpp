// Reading the cow list: CSV forms that herd software writes, column names
// and mapping, and every kind of bad cell kept with its line and column.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "cows/cow_list.h"
#include "support/support.h"

namespace {

constexpr int MARCH = 3;

CowList parse(const std::string& text, const ColumnMap& columns = {})
{
    CowList list;
    std::string error;
    EXPECT_TRUE(PARSE_COW_LIST(text, "cows.csv", columns, MARCH, list, error)) << error;
    return list;
}

std::string parse_error(const std::string& text, const ColumnMap& columns = {})
{
    CowList list;
    std::string error;
    EXPECT_FALSE(PARSE_COW_LIST(text, "cows.csv", columns, MARCH, list, error));
    return error;
}

TEST(CowList, QuotedFieldsByteOrderMarkAndCrlf)
{
    const CowList list = parse("\xEF\xBB\xBFid,lact,dim,dcc,milk\r\n"
                               "\"Bella, 12\",2,100,40,35.5\r\n"
                               "\"Kl\xC3\xA4rchen \"\"7\"\"\",1,10,,28\r\n"
                               "\r\n"
                               ",,,,\r\n"
                               "\"multi\nline\",3,200,0,31\r\n"
                               "last,4,300,150,22"); // no line end at the end
    ASSERT_EQ(list.rows.size(), 4u);
    EXPECT_EQ(list.rows[0].id, "Bella, 12");
    EXPECT_EQ(list.rows[0].facts.lact, 2);
    EXPECT_DOUBLE_EQ(list.rows[0].facts.dcc, 40.0);
    EXPECT_DOUBLE_EQ(list.rows[0].facts.milk, 35.5);
    EXPECT_EQ(list.rows[1].id, "Kl\xC3\xA4rchen \"7\"");
    EXPECT_DOUBLE_EQ(list.rows[1].facts.dcc, 0.0);
    EXPECT_EQ(list.rows[2].id, "multi\nline");
    EXPECT_EQ(list.rows[3].id, "last");
    // Lines of the file, blank rows and the quoted line end counted.
    EXPECT_EQ(list.rows[0].line, 2);
    EXPECT_EQ(list.rows[1].line, 3);
    EXPECT_EQ(list.rows[2].line, 6);
    EXPECT_EQ(list.rows[3].line, 8);
    for (const CowRow& row : list.rows)
        EXPECT_EQ(row.error, "") << row.id;
}

TEST(CowList, ColumnsByNameAnyCaseAnyOrderOrMapped)
{
    CowList list = parse("DCC,Milk,DIM,extra,LACT,Id\n0,30,61,x,2,c1\n");
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0].id, "c1");
    EXPECT_DOUBLE_EQ(list.rows[0].facts.dim, 61.0);
    EXPECT_EQ(list.rows[0].facts.sea, MARCH);

    ColumnMap map;
    std::string error;
    ASSERT_TRUE(PARSE_COLUMN_MAP("id=Cow No,lact=LN,dim=Days,dcc=DCC,rel_yield=Index", map, error)) << error;
    list = parse("Cow No,LN,Days,DCC,Index\n77,3,10,,104\n", map);
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0].id, "77");
    EXPECT_TRUE(list.rows[0].facts.has_rel_yield);
    EXPECT_DOUBLE_EQ(list.rows[0].facts.rel_yield, 104.0);

    EXPECT_FALSE(PARSE_COLUMN_MAP("cow=ID", map, error));
    EXPECT_NE(error.find("unknown column name 'cow'"), std::string::npos) << error;
    EXPECT_FALSE(PARSE_COLUMN_MAP("id", map, error));
}

TEST(CowList, RelativeYieldWhereGivenElseMilk)
{
    const CowList list = parse("id,lact,dim,dcc,rel_yield,milk\na,1,10,,110,40\nb,1,10,,,40\nc,1,10,,,\n");
    ASSERT_EQ(list.rows.size(), 3u);
    EXPECT_TRUE(list.rows[0].facts.has_rel_yield);
    EXPECT_FALSE(list.rows[0].facts.has_milk);
    EXPECT_FALSE(list.rows[1].facts.has_rel_yield);
    EXPECT_TRUE(list.rows[1].facts.has_milk);
    // No figure at all: left to the mapping, which knows whether she milks.
    EXPECT_EQ(list.rows[2].error, "");
    EXPECT_FALSE(list.rows[2].facts.has_milk);
}

TEST(CowList, DateColumnSetsTheMonthOfItsRow)
{
    const CowList list = parse("id,lact,dim,dcc,milk,date\na,1,10,,30,2026-07-15\nb,1,10,,30,\n"
                               "c,1,10,,30,2026-02-30\n");
    ASSERT_EQ(list.rows.size(), 3u);
    EXPECT_TRUE(list.has_date);
    EXPECT_EQ(list.rows[0].facts.sea, 7);
    EXPECT_EQ(list.rows[1].facts.sea, MARCH);
    EXPECT_STREQ(list.rows[2].error_column, "date");
    EXPECT_EQ(DATE_MONTH("2024-02-29"), 2);
    EXPECT_EQ(DATE_MONTH("2025-02-29"), 0);
    EXPECT_EQ(DATE_MONTH("2025-13-01"), 0);
    EXPECT_EQ(DATE_MONTH("15.07.2025"), 0);
}

TEST(CowList, EveryKindOfBadCellIsKeptWithItsColumn)
{
    struct Case {
        const char* row;
        const char* column;
        const char* reason;
    };
    const Case cases[] = {
        {",2,100,0,30", "id", "missing value"},
        {"a,,100,0,30", "lact", "missing value"},
        {"a,two,100,0,30", "lact", "not a number"},
        {"a,0,100,0,30", "lact", "lactation 0"},
        {"a,1.5,100,0,30", "lact", "not a lactation number"},
        {"a,2,,0,30", "dim", "missing value"},
        {"a,2,-5,0,30", "dim", "negative"},
        {"a,2,1e300,0,30", "dim", "more days in milk"},
        {"a,2,100,-1,30", "dcc", "negative"},
        {"a,2,100,x,30", "dcc", "not a number"},
        {"a,2,400,305,30", "dcc", "pregnant longer"},
        {"a,2,100,120,30", "dcc", "longer than she has been in milk"},
        {"a,2,100,0,-3", "milk", "negative"},
        {"a,2,100,0,nan", "milk", "not a number"},
        {"a,2,100,0,3O", "milk", "not a number"},
        {"a,2", "dim", "missing value"}, // a short row
        {"a,2,100,0,1e308", "milk", "more milk a day than a cow gives"},
        {"a,2,100,0,99999", "milk", "more milk a day"},
        {"a,2,100,0,500.5", "milk", "more milk a day"},
    };
    std::string text = "id,lact,dim,dcc,milk\n";
    for (const Case& c : cases)
        text += std::string(c.row) + "\n";
    text += "good,2,100,0,30\n";
    const CowList list = parse(text);
    ASSERT_EQ(list.rows.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); i++) {
        const CowRow& row = list.rows[i];
        EXPECT_EQ(row.line, static_cast<int>(i) + 2);
        EXPECT_STREQ(row.error_column, cases[i].column) << cases[i].row;
        EXPECT_NE(row.error.find(cases[i].reason), std::string::npos) << cases[i].row << ": " << row.error;
    }
    EXPECT_EQ(list.rows.back().error, "");
}

TEST(CowList, WholeListErrorsComeBeforeAnyRow)
{
    EXPECT_NE(parse_error("").find("no header row"), std::string::npos);
    EXPECT_NE(parse_error("id,lact,dim,milk\na,1,1,1\n").find("no column 'dcc'"), std::string::npos);
    EXPECT_NE(parse_error("id,lact,dim,dcc\n").find("no column 'rel_yield' nor column 'milk'"),
              std::string::npos);
    EXPECT_NE(parse_error("id,lact,dim,dcc,milk,MILK\n").find("appears twice"), std::string::npos);
    ColumnMap map{{"dcc", "Days Carried"}};
    EXPECT_NE(parse_error("id,lact,dim,dcc,milk\n", map).find("no column 'dcc' (header 'days carried')"),
              std::string::npos);

    ScratchDir dir;
    CowList list;
    std::string error;
    EXPECT_FALSE(READ_COW_LIST("absent.csv", {}, MARCH, list, error));
    EXPECT_NE(error.find("absent.csv: cannot be read"), std::string::npos) << error;
    EXPECT_FALSE(READ_COW_LIST(".", {}, MARCH, list, error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

TEST(CowList, YieldsBeyondAnyCowAreBadRows)
{
    const CowList list = parse("id,lact,dim,dcc,rel_yield,milk\n"
                               "a,2,100,0,1e300,\n"
                               "b,2,100,0,1000.5,\n"
                               "c,2,100,0,1000,\n"
                               "d,2,100,0,,500\n");
    ASSERT_EQ(list.rows.size(), 4u);
    EXPECT_STREQ(list.rows[0].error_column, "rel_yield");
    EXPECT_NE(list.rows[0].error.find("relative yield above 1000 %"), std::string::npos) << list.rows[0].error;
    EXPECT_STREQ(list.rows[1].error_column, "rel_yield");
    EXPECT_EQ(list.rows[2].error, "");
    EXPECT_EQ(list.rows[3].error, "");
}

TEST(CowList, DevicesPipesAndHugeListsOrRowsAreRefused)
{
    ScratchDir dir;
    CowList list;
    std::string error;
    /* /dev/zero grew the list without end; a pipe hung the read */
    EXPECT_FALSE(READ_COW_LIST("/dev/zero", {}, MARCH, list, error));
    EXPECT_NE(error.find("/dev/zero: cannot be read: not a regular file"), std::string::npos) << error;
    ASSERT_EQ(mkfifo("cows.csv", 0600), 0);
    EXPECT_FALSE(READ_COW_LIST("cows.csv", {}, MARCH, list, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    std::remove("cows.csv");

    std::string big = "id,lact,dim,dcc,milk\n";
    while (big.size() <= (16u << 20))
        big += "cow-with-a-long-name-0000000000000000000000000000000000,2,100,0,30\n";
    write_text("cows.csv", big);
    EXPECT_FALSE(READ_COW_LIST("cows.csv", {}, MARCH, list, error));
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
    std::string rows = "id,lact,dim,dcc,milk\n";
    for (int i = 0; i < 200001; i++)
        rows += "\n";
    EXPECT_NE(parse_error(rows).find("more than 200000 rows"), std::string::npos);

    /* a field of megabytes, on one line or quoted over many */
    EXPECT_NE(parse_error("id,lact,dim,dcc,milk\n" + std::string(5u << 20, 'x') + ",2,100,0,30\n")
                  .find("line 2: a row longer than 65536 characters"),
              std::string::npos);
    std::string quoted = "id,lact,dim,dcc,milk\n\"";
    for (int i = 0; i < 10000; i++)
        quoted += "0123456789\n";
    EXPECT_NE(parse_error(quoted + "\",2,100,0,30\n").find("line 2: a row longer than"), std::string::npos);
}

} // namespace
