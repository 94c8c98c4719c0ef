// Clearing the herd projection record by mode.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "markov/markov.h"
#include "core/records.h"
#include "support/support.h"

namespace {

/* Marks one cell of each slot and a few accumulators with non-zero values. */
void MARK_CELLS()
{
    for (int s = 0; s < NDIST; s++) {
        mkv->pstate[3][2][5][1][s] = 0.1 + s;
        mkv->pstate[15][12][24][9][s] = 0.2 + s;
        mkv->pfs[3][2][5][s] = 0.3 + s;
        mkv->pdelay[3][2][5][s] = 0.4 + s;
        mkv->pheifer[30][9][s] = 0.5 + s;
    }
    mkv->keep[3][10] = 1.0;
    mkv->keep[15][36] = 1.0;
    mkv->total_cash[10] = 2.0;
    mkv->conceptions[36][1][1][1] = 3.0;
    mkv->conceptions[37][1][1][1] = 4.0;
    mkv->rpo_vwp[1][1][1][1] = 3.0;
    mkv->rpo_vwp_t[36][10] = 3.0;
    mkv->replopen_rpo[15][24][0] = 5.0;
    mkv->hz_open[2][1] = 6.0;
    mkv->stats.pv_t[3][2] = 7.0;
    mkv->sea_next = 4;
}

std::string RESET(unsigned short mode, unsigned short count)
{
    capture_console();
    RESET_MKV_RECORD(mode, count);
    return captured_console();
}

class MkvReset : public testing::Test {
protected:
    void SetUp() override { allocate_records(); }
    ScratchDir dir;
};

} // namespace

TEST_F(MkvReset, SlotModesClearTheirSlotsAndKeepOnly)
{
    for (unsigned short mode : {RESET_SLOT_0, RESET_SLOT_1, RESET_ALL_SLOTS}) {
        MARK_CELLS();
        EXPECT_EQ(RESET(mode, 36), "");
        for (int s = 0; s < NDIST; s++) {
            const bool cleared = s == mode || mode == RESET_ALL_SLOTS;
            EXPECT_EQ(mkv->pstate[3][2][5][1][s] == 0.0, cleared) << "slot " << s;
            EXPECT_EQ(mkv->pstate[15][12][24][9][s] == 0.0, cleared);
            EXPECT_EQ(mkv->pfs[3][2][5][s] == 0.0, cleared);
            EXPECT_EQ(mkv->pdelay[3][2][5][s] == 0.0, cleared);
            EXPECT_EQ(mkv->pheifer[30][9][s] == 0.0, cleared);
        }
        EXPECT_EQ(mkv->keep[3][10], 0.0);
        EXPECT_EQ(mkv->keep[15][36], 0.0);
        EXPECT_EQ(mkv->total_cash[10], 2.0);
        EXPECT_EQ(mkv->hz_open[2][1], 6.0);
        EXPECT_EQ(mkv->stats.pv_t[3][2], 7.0);
        EXPECT_EQ(mkv->sea_next, 4);
    }
}

TEST_F(MkvReset, CollectingModeClearsTheRunsMonthsWithProgress)
{
    MARK_CELLS();
    const std::string log = RESET(RESET_COLLECTING, 36);
    EXPECT_EQ(log, "\n RESET_MKV_RECORD started (3) ... 0% 8% 17% 25% 33% 40%"
                   " 50% 51% 60% 69% 79% 89% 99% 100%\n RESET_MKV_RECORD done ...");
    EXPECT_EQ(read_text("msg.txt"), "26 - Reset mkv-record: 100% completed");
    EXPECT_EQ(mkv->pstate[3][2][5][1][0], 0.0);
    EXPECT_EQ(mkv->pstate[3][2][5][1][1], 0.0);
    EXPECT_EQ(mkv->pstate[3][2][5][1][2], 2.1); /* the stored herd stays */
    EXPECT_EQ(mkv->total_cash[10], 0.0);
    EXPECT_EQ(mkv->conceptions[36][1][1][1], 0.0);
    EXPECT_EQ(mkv->conceptions[37][1][1][1], 4.0); /* beyond the run's months */
    EXPECT_EQ(mkv->rpo_vwp[1][1][1][1], 0.0);
    EXPECT_EQ(mkv->rpo_vwp_t[36][10], 0.0);
    EXPECT_EQ(mkv->replopen_rpo[15][24][0], 0.0);
    EXPECT_EQ(mkv->hz_open[2][1], 0.0);
    EXPECT_EQ(mkv->stats.pv_t[3][2], 0.0);
    EXPECT_EQ(mkv->sea_next, 0);
}

TEST_F(MkvReset, CollectingModeOverAllMonthsLeavesOnlyTheStoredHerd)
{
    /* Every byte set, then the longest reset: only slot 2 of the
    ** distributions and the driver's copy may keep anything. */
    std::memset(static_cast<void*>(mkv), 0x11, sizeof *mkv);
    RESET(RESET_COLLECTING, 300);
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                for (int p = 0; p < NMPREG; p++)
                    mkv->pstate[c][l][m][p][2] = 0.0;
                mkv->pfs[c][l][m][2] = 0.0;
                mkv->pdelay[c][l][m][2] = 0.0;
            }
    for (int a = 0; a < NAGE; a++)
        for (int p = 0; p < NMPREG; p++)
            mkv->pheifer[a][p][2] = 0.0;
    std::memset(mkv->pstate_prev, 0, sizeof mkv->pstate_prev);
    /* padding between the 16-bit fields and the first accumulator */
    const std::size_t gap_from = offsetof(MkvRecord, mkv_enter) + sizeof mkv->mkv_enter;
    std::memset(reinterpret_cast<unsigned char*>(mkv) + gap_from, 0,
                offsetof(MkvRecord, total_cash) - gap_from);

    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(mkv);
    std::size_t first_left = sizeof *mkv;
    for (std::size_t i = 0; i < sizeof *mkv; i++)
        if (bytes[i] != 0) {
            first_left = i;
            break;
        }
    EXPECT_EQ(first_left, sizeof *mkv) << "byte left at offset " << first_left;
}

TEST_F(MkvReset, InvalidModesPauseAndClearNothing)
{
    for (unsigned short mode : {2, 5, 99}) {
        MARK_CELLS();
        const std::string log = RESET(mode, 36);
        EXPECT_NE(log.find("@"), std::string::npos);
        EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");
        for (int s = 0; s < NDIST; s++)
            EXPECT_NE(mkv->pstate[3][2][5][1][s], 0.0);
        EXPECT_EQ(mkv->keep[3][10], 1.0);
        EXPECT_EQ(mkv->total_cash[10], 2.0);
    }
}
