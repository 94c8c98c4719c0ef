// Start values of the records after allocation.
#include <gtest/gtest.h>

#include "core/records.h"
#include "support/support.h"

TEST(Records, StartValuesAfterInit)
{
    allocate_records();
    ScratchDir dir;
    capture_console();
    INIT_BIO_RECORD();
    INIT_POL_RECORD();
    INIT_RPO_RECORD();
    INIT_INS_RECORD();
    INIT_DEL_RECORD();
    std::string log = captured_console();
    EXPECT_EQ(log,
              "\n INIT_BIO_RECORD started ...\n RESET_BIO_RECORD started ..."
              "\n RESET_BIO_RECORD done ...\n INIT_BIO_RECORD done ..."
              "\n INIT_POL_RECORD started ...\n INIT_POL_RECORD done ..."
              "\n INIT_RPO_RECORD started ...\n RESET_RPO_RECORD started ..."
              "\n RESET_RPO_RECORD done ...\n INIT_RPO_RECORD done ..."
              "\n INIT_INS_RECORD started ...\n RESET_INS_RECORD started ..."
              "\n RESET_INS_RECORD done ...\n INIT_INS_RECORD done ..."
              "\n INIT_DEL_RECORD started ...\n RESET_DEL_RECORD started ..."
              "\n RESET_DEL_RECORD done ...\n INIT_DEL_RECORD done ...");
    EXPECT_EQ(read_text("msg.txt"), "4 - Reset bio-record");

    EXPECT_EQ(bio->kg, 1);
    EXPECT_EQ(bio->maxlact, 0);
    EXPECT_EQ(bio->pnext[0][0][0][0][0], 0.0);
    EXPECT_EQ(bio->rev[15][12][24][9][24], 0.0);

    for (int t = 0; t < NSLOT; t++)
        EXPECT_EQ(pol->enter[t], 8);
    EXPECT_EQ(pol->decision[0][0][0][0][0], 8);
    EXPECT_EQ(pol->decision[15][12][24][9][24], 8);
    EXPECT_EQ(pol->decision[7][3][5][0][13], 8);

    EXPECT_EQ(rpo->rpo[0][0][0][0][0], -9999.0);
    EXPECT_EQ(rpo->prg[0][5][3][2][1], -9999.0);
    EXPECT_EQ(rpo->rpo[15][12][24][9][24], -9999.0);
    EXPECT_EQ(rpo->life[15][12][24][9][24], 0.0);
    EXPECT_EQ(ins->ins[15][12][24][24], 0.0);
    EXPECT_EQ(del->open[15][12][24][24][24], 0.0);
    EXPECT_EQ(del->preg[1][1][1][1][1], 0.0);
}

TEST(Records, FutResetClearsValuesWithoutWarmStart)
{
    allocate_records();
    ScratchDir dir;
    warmstart = 0;
    fut->value[3][2][5][0][0] = 17.0;
    fut->cash[4] = 2.0;
    capture_console();
    INIT_FUT_RECORD();
    EXPECT_EQ(captured_console(),
              "\n INIT_FUT_RECORD started ...\n RESET_FUT_RECORD started ... "
              "\n RESET_FUT_RECORD done ...\n INIT_FUT_RECORD done ...");
    EXPECT_EQ(fut->value[3][2][5][0][0], 0.0);
    EXPECT_EQ(fut->cash[4], 0.0);
}

/* Clearing hands whole pages back and writes zeros only at the unaligned
** edges: every byte inside reads zero, every byte outside keeps its value,
** and a cleared record can be written again. */
TEST(Records, ClearBlockZeroesExactlyItsBytes)
{
    allocate_records();
    double* cells = &del->open[0][0][0][0][0];
    const std::size_t n = sizeof del->open / sizeof(double);
    for (std::size_t i = 0; i < n; i++)
        cells[i] = 1.5;
    const std::size_t first = 3, count = n / 2 + 5; /* neither end on a page */
    CLEAR_BLOCK(cells + first, count * sizeof(double));
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < n; i++)
        wrong += cells[i] != (i >= first && i < first + count ? 0.0 : 1.5);
    EXPECT_EQ(wrong, 0u);
    cells[first + 1000] = 2.0;
    EXPECT_EQ(cells[first + 1000], 2.0);

    CLEAR_BLOCK(cells + 1, 2 * sizeof(double)); /* smaller than a page */
    EXPECT_EQ(cells[0], 1.5);
    EXPECT_EQ(cells[1], 0.0);
    EXPECT_EQ(cells[2], 0.0);
    capture_console();
    RESET_DEL_RECORD();
    captured_console();
    EXPECT_EQ(cells[0], 0.0);
    EXPECT_EQ(cells[n - 1], 0.0);
}
