/*
** records_test.cpp -- reading a herd's records: mapped columns and codes,
** and rows that cannot be used set aside with file, line and column.
*/
#include <gtest/gtest.h>

#include <string>

#include "calib/calib_records.h"
#include "support/support.h"

namespace {

const char* const TESTS = "herd,cow,date,lact,calving,milk\n"
                          "A,1,2020-02-10,1,2020-01-05,25.5\n"
                          "A,1,2020-03-10,1,2020-01-05,28.0\n"
                          "B,9,2020-03-10,1,2020-01-05,20.0\n";
const char* const INS = "herd,cow,date\nA,1,2020-03-01\n";
const char* const EXITS = "herd,cow,entry,entry_reason,date,reason\nA,1,2019-12-01,born,,\n";

RecordSources sources()
{
    RecordSources s;
    s.tests = "tests.csv";
    s.inseminations = "inseminations.csv";
    s.exits = "exits.csv";
    s.herd = "A";
    return s;
}

void write_good()
{
    write_text("tests.csv", TESTS);
    write_text("inseminations.csv", INS);
    write_text("exits.csv", EXITS);
}

} // namespace

TEST(CalibRecords, ReadsOneHerdOfSeveral)
{
    ScratchDir dir;
    write_good();
    HerdRecords rec;
    std::string error;
    ASSERT_TRUE(READ_HERD_RECORDS(sources(), rec, error)) << error;
    EXPECT_EQ(rec.tests.size(), 2u);
    EXPECT_EQ(rec.inseminations.size(), 1u);
    EXPECT_EQ(rec.stays.size(), 1u);
    EXPECT_LT(rec.stays[0].exit, 0);
    EXPECT_TRUE(rec.set_aside.empty());

    RecordSources none = sources();
    none.herd.clear();
    EXPECT_FALSE(READ_HERD_RECORDS(none, rec, error));
    EXPECT_NE(error.find("--herd"), std::string::npos) << error;
    none.herd = "Z";
    EXPECT_FALSE(READ_HERD_RECORDS(none, rec, error));
    EXPECT_NE(error.find("no herd Z"), std::string::npos) << error;
}

TEST(CalibRecords, BadRowsAreSetAsideWithFileLineAndColumn)
{
    ScratchDir dir;
    write_text("tests.csv", std::string(TESTS) +
                                "A,2,2020-13-01,1,2020-01-05,20\n"   /* line 5: not a date */
                                "A,1,2020-02-10,1,2020-01-05,26\n"   /* line 6: duplicate */
                                "A,3,2020-01-01,1,2020-01-05,20\n"   /* line 7: before its calving */
                                "A,4,2020-02-01,1,2017-01-05,20\n"); /* line 8: calving before birth */
    write_text("cows.csv", "cow,birth\n4,2018-01-01\n");
    write_text("inseminations.csv", INS);
    write_text("exits.csv", EXITS);
    RecordSources s = sources();
    s.cows = "cows.csv";
    HerdRecords rec;
    std::string error;
    ASSERT_TRUE(READ_HERD_RECORDS(s, rec, error)) << error;
    EXPECT_EQ(rec.tests.size(), 2u);
    ASSERT_EQ(rec.set_aside.size(), 4u);
    EXPECT_EQ(rec.set_aside[0].rfind("tests.csv:5: column 3: '2020-13-01' is not a date", 0), 0u) << rec.set_aside[0];
    EXPECT_EQ(rec.set_aside[1].rfind("tests.csv:6:", 0), 0u) << rec.set_aside[1];
    EXPECT_NE(rec.set_aside[1].find("second test day"), std::string::npos);
    EXPECT_EQ(rec.set_aside[2].rfind("tests.csv:7: column 3: test day before the calving", 0), 0u) << rec.set_aside[2];
    EXPECT_EQ(rec.set_aside[3].rfind("tests.csv:8: column 5: calving before the cow's birth", 0), 0u) << rec.set_aside[3];
}

TEST(CalibRecords, ColumnsAndExitCodesAreMapped)
{
    ScratchDir dir;
    write_text("rec.csv", "herd_id,ctrl_date,anim_id,parity,calv_date,milk\nA,2020-02-10,7,2,2020-01-05,30\n");
    write_text("ai.csv", "herd_id,cow_id,ai_date\nA,7,2020-03-01\n");
    write_text("mvt.csv", "anim_id,herd_id,date_in,cause_in,date_out,caus_out\n"
                          "7,A,2018-01-01,N,2020-05-01,B\n7,A,2020-06-01,P,2020-07-01,X\n");
    RecordSources s;
    s.tests = "rec.csv";
    s.inseminations = "ai.csv";
    s.exits = "mvt.csv";
    ASSERT_EQ(parse_column_map("tests.herd=herd_id,tests.cow=anim_id,tests.date=ctrl_date,tests.lact=parity,"
                               "tests.calving=calv_date,inseminations.herd=herd_id,inseminations.cow=cow_id,"
                               "inseminations.date=ai_date,exits.herd=herd_id,exits.cow=anim_id,exits.entry=date_in,"
                               "exits.entry_reason=cause_in,exits.date=date_out,exits.reason=caus_out",
                               s.columns),
              "");
    ASSERT_EQ(parse_exit_reasons("B=culled", s.exit_reasons), "");
    HerdRecords rec;
    std::string error;
    /* an exit code without a kind is an error naming it */
    EXPECT_FALSE(READ_HERD_RECORDS(s, rec, error));
    EXPECT_NE(error.find("'X'"), std::string::npos) << error;
    ASSERT_EQ(parse_exit_reasons("X=moved", s.exit_reasons), "");
    ASSERT_TRUE(READ_HERD_RECORDS(s, rec, error)) << error;
    ASSERT_EQ(rec.stays.size(), 2u);
    EXPECT_EQ(rec.stays[0].kind, ExitKind::culled);
    EXPECT_EQ(rec.stays[1].kind, ExitKind::moved);
    EXPECT_EQ(rec.tests[0].lact, 2);

    /* a header without a field names it and the option that maps it */
    s.columns.erase("tests.milk");
    s.columns["tests.milk"] = "kg";
    EXPECT_FALSE(READ_HERD_RECORDS(s, rec, error));
    EXPECT_NE(error.find("no column kg"), std::string::npos) << error;
    EXPECT_NE(parse_exit_reasons("B=slaughtered", s.exit_reasons), "");
    EXPECT_NE(parse_column_map("milk=kg", s.columns), "");
}

TEST(CalibRecords, DatesAreCalendarDates)
{
    int d = 0;
    EXPECT_TRUE(parse_day("2020-02-29", d));
    EXPECT_FALSE(parse_day("2021-02-29", d));
    EXPECT_FALSE(parse_day("2021-04-31", d));
    EXPECT_FALSE(parse_day("2021-4-30", d));
    EXPECT_FALSE(parse_day("2021-04-3x", d));
    EXPECT_FALSE(parse_day("", d));
    ASSERT_TRUE(parse_day("1970-01-01", d));
    EXPECT_EQ(d, 0);
    ASSERT_TRUE(parse_day("2020-03-01", d));
    EXPECT_EQ(month_index(d), 2020 * 12 + 2);
}

/* The real herds shipped in examples/: each calibrates, passes the check
** and runs; a herd that is not in the files is an error before anything
** is written. */
TEST(CalibRealHerds, ExampleHerdsCalibrateCheckAndRun)
{
    ScratchDir dir;
    const std::string d = source_path("examples/herd-records") + "/";
    const std::string mapped =
        "calibrate " + source_path("examples/holstein_kg.bio") + " --tests " + d + "rec.csv --inseminations " + d +
        "ai.csv --exits " + d + "mvt.csv --cows " + d +
        "anim.csv --columns tests.herd=herd_id,tests.cow=anim_id,tests.date=ctrl_date,tests.lact=parity,"
        "tests.calving=calv_date,inseminations.herd=herd_id,inseminations.cow=cow_id,inseminations.date=ai_date,"
        "exits.herd=herd_id,exits.cow=anim_id,exits.entry=date_in,exits.entry_reason=cause_in,exits.date=date_out,"
        "exits.reason=caus_out,cows.cow=anim_id,cows.birth=birth_date ";
    const std::string common = mapped + "--exit-reasons B=culled,M=died,E=sold,H=moved,C=ignore";
    for (const char* herd : {"FR000001", "FR000019", "FR000045"}) {
        SCOPED_TRACE(herd);
        const std::string h = herd;
        ASSERT_EQ(run_program(common + " --herd " + h + " -o " + h + ".bio --report " + h), 0)
            << read_text("console.txt");
        EXPECT_EQ(run_program("check " + h + ".bio"), 0) << read_text("console.txt");
        const std::string json = read_text(h + "/calibration.json");
        for (const char* key : {"\"estimates\"", "\"observed\"", "\"model\"", "\"cull_rate\"", "\"milk_305d_1\""})
            EXPECT_NE(json.find(key), std::string::npos) << key;
        /* the report's model object comes from a run of the calibrated herd */
        EXPECT_NE(json.find("\"calving_interval_days\""), std::string::npos);
    }
    EXPECT_EQ(run_program(common + " --herd FR999999 -o none.bio --report none"), 1);
    EXPECT_NE(read_text("console.txt").find("no herd FR999999"), std::string::npos) << read_text("console.txt");
    EXPECT_FALSE(file_exists("none.bio"));
    EXPECT_FALSE(file_exists("none"));
    /* an exit code without a kind */
    EXPECT_EQ(run_program(mapped + "--exit-reasons B=culled,M=died,E=sold,H=moved --herd FR000001 -o x.bio"), 1);
    EXPECT_NE(read_text("console.txt").find("exit code 'C' has no kind"), std::string::npos) << read_text("console.txt");
    EXPECT_FALSE(file_exists("x.bio"));
    /* usage errors */
    EXPECT_EQ(run_program(common + " --herd FR000001"), 2);
    EXPECT_EQ(run_program(common + " --herd FR000001 --gestation 300-200 -o y.bio"), 2);
    EXPECT_EQ(run_program(common + " --herd FR000001 --involuntary-share 1.5 -o y.bio"), 2);
}
