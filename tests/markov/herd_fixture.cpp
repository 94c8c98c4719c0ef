// A small hand-made herd and policy shared by the projection tests.
#include "markov/herd_fixture.h"

#include <gtest/gtest.h>

#include "markov/markov.h"
#include "core/records.h"
#include "support/support.h"

void BUILD_HAND_HERD(double pind)
{
    capture_console();
    RESET_BIO_RECORD();
    RESET_RPO_RECORD();
    RESET_INS_RECORD();
    RESET_DEL_RECORD();
    RESET_MKV_RECORD(RESET_ALL_SLOTS, MAXT);
    captured_console();

    bio->maxlact = 3;
    bio->vwp[1] = bio->vwp[2] = bio->vwp[3] = 2;
    bio->lbm = 8;
    bio->maxmim = 20;
    bio->start_sea = 1;
    bio->sel_factor = 0.9;
    bio->cullcost = 50.0;
    bio->p_calf = 100.0;
    bio->instime = 15.0;
    bio->inscost = 20.0;
    bio->wage = 12.0;
    bio->p_lactfeed = 0.2;
    bio->p_dryfeed = 0.1;
    bio->lactcost = 1.0;
    bio->drycost = 0.5;
    bio->fixedcost1 = 0.4;
    bio->fixedcost2 = 0.6;
    for (int p = 1; p <= 8; p++)
        bio->abort[p] = 0.01;
    for (int m = 0; m < NMIM; m++) {
        bio->vetcost[m] = 3.0 + m;
        for (int s = 0; s < NSEA; s++) {
            bio->heatdetectionrate[m][s] = 0.5;
            bio->reprocost[m][s] = 2.0;
            for (int l = 0; l < NLACT; l++) {
                bio->conceptionrate[l][m][s] = 0.4;
                bio->pind[l][m][s] = pind;
            }
        }
    }
    for (int t = 0; t < NSLOT; t++) {
        bio->p_milk[t] = t <= 12 ? 0.30 : 0.40;
        bio->p_heifer[t] = 1500.0;
    }
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                for (int p = 0; p < NMPREG; p++) {
                    /* dry from the eighth month of pregnancy */
                    const double yield = p >= 8 ? 0.0 : (700.0 - 20.0 * m) * (0.8 + 0.03 * c);
                    for (int s = 0; s < NSEA; s++) {
                        bio->milkyield[c][l][m][p][s] = yield;
                        bio->dmi[c][l][m][p][s] = 500.0 + 10.0 * s;
                        bio->labortime[c][l][m][p][s] = 300.0;
                    }
                    for (int t = 0; t < NSLOT; t++) {
                        bio->rev[c][l][m][p][t] = yield * 0.3 - 60.0;
                        bio->iofc[c][l][m][p][t] = yield * 0.3 - 100.0;
                        rpo->rpo[c][l][m][p][t] = 100.0 - m - p;
                        rpo->prg[c][l][m][p][t] = 10.0 * p + 1.0;
                    }
                }
                for (int t = 0; t < NSLOT; t++) {
                    bio->sel[l][m][t] = 800.0 + t;
                    ins->ins[c][l][m][t] = 5.0;
                }
                for (int row = 0; row < NSEA; row++) {
                    bio->pnext[c][l][m][row][c] = 1.0;
                    bio->lo[c][l][m][row] = static_cast<short>(c);
                    bio->hi[c][l][m][row] = static_cast<short>(c);
                }
            }
    bio->pnext[0][0][0][0][0] = 0.0;
    bio->pnext[0][0][0][0][8] = 1.0;

    /* Inseminate in the window, keep otherwise; heifers always enter. */
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    for (int t = 0; t < NSLOT; t++)
                        pol->decision[c][l][m][p][t] =
                            (p == 0 && m >= 2 && m <= 8) ? DEC_INSEMINATE : DEC_KEEP;
    for (int t = 0; t < NSLOT; t++)
        pol->enter[t] = 1;
}

double HERD_MASS(int slot)
{
    double sum = 0.0;
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    sum += mkv->pstate[c][l][m][p][slot];
    return sum;
}

void RUN_PASSES(int passes)
{
    capture_console();
    for (int i = 0; i < passes; i++)
        MARKOV_CHAIN(1, 12, 0);
    captured_console();
}

int POLICY_MONTH(int t)
{
    const int sea = (t - 1) % 12 + 1;
    return t < 13 ? sea : sea + 12;
}
