/*
** records.h -- the state space and the seven model records of a run.
**
** Every quantity of a run lives in one of seven flat records, each a single
** block of fixed-size arrays reached through one process-wide pointer:
**
**   bio  inputs from the bio file and the per-state biology derived from them
**   fut  future values of the dynamic program (two working buffers + warm)
**   pol  the policy: a decision per cow state and calendar slot
**   rpo  retention pay-offs, pregnancy values, expected months in herd
**   ins  value of inseminating over not inseminating
**   del  losses from putting conception off until a later month
**   mkv  the herd projection: distributions, young stock, accumulators and
**        the herd statistics derived from them
**
** Arrays are indexed directly by state.  Every 1-based index keeps its slot
** 0, so an index running 1..N has N+1 slots:
**
**   curr   yield class            1..15   (16 slots)
**   lact   lactation number       1..12   (13 slots)
**   mim    month in milk          1..24   (25 slots)
**   mpreg  month of pregnancy     0..9    (10 slots, 0 = open)
**   sea    calendar month         1..12   (13 slots)
**   month index / slot t          1..24   (25 slots, two calendar years)
**   t      month of a projection  1..300  (301 slots)
**
** Quantities are doubles; indices, flags and codes are 16-bit integers.
** The value -9999.0 (NOT_APPLICABLE) marks a value or a state that does not
** apply; sums and averages skip it.
**
** The records are allocated once by the INIT_<REC>_RECORD routines and live
** until the process ends.  A second INIT call in the same process (as a test
** binary makes) keeps the block and only resets it.
*/
#ifndef MORVENDA_RECORDS_H
#define MORVENDA_RECORDS_H

#include <algorithm>
#include <cstdint>
#include <string>

/* ---- state space ------------------------------------------------------ */

constexpr int NCURR = 16;   /* yield classes 1..15 */
constexpr int NLACT = 13;   /* lactations 1..12 */
constexpr int NMIM = 25;    /* months in milk 1..24 */
constexpr int NMPREG = 10;  /* 0 open, 1..9 months pregnant */
constexpr int NSEA = 13;    /* calendar months 1..12 */
constexpr int NSLOT = 25;   /* month index / calendar slot 1..24 */
constexpr int NT = 301;     /* projection months 1..300 */
constexpr int NAGE = 31;    /* young-stock age 0..30 months */
constexpr int NBUF = 3;     /* fut buffers: 0 and 1 working, 2 warm start */
constexpr int NDIST = 3;    /* mkv distribution slots: 0,1 working, 2 stored */
constexpr int NYR = 5;      /* statistic-year slots 1..4 */

constexpr int MAXCURR = 15;
constexpr int MAXLACT = 12;
constexpr int MAXMIM = 24;
constexpr int MAXMPREG = 9;
constexpr int MAXT = 300;

constexpr double NOT_APPLICABLE = -9999.0;

/* ---- the model month ---------------------------------------------------- */

/* Days in a model month: monthly quantities are daily ones times this. */
constexpr double DAYS_PER_MONTH = 30.4;

/* Heats come every 21 days.  A cow whose heat falls in the first 9.4 days
** of a month has a second heat before the month ends, so a 9.4/21 share of
** the cows that stay open after a first heat get a second one that month. */
constexpr double SECOND_HEAT = 9.4 / 21.0;

/* Monthly milk at or below which a cow counts as dry. */
constexpr double DRY_MILK = 0.01;

/* Decision codes of pol->decision and pol->enter. */
constexpr short DEC_REPLACE = 0;
constexpr short DEC_KEEP = 1;
constexpr short DEC_INSEMINATE = 2;
constexpr short DEC_NONE = 8;

/* Policy modes of bio->policy. */
constexpr short POLICY_USE_POL = 0;
constexpr short POLICY_OPTIMAL = 1;
constexpr short POLICY_KEEPPREG = 2;
constexpr short POLICY_KEEPALL = 3;

/* The yes/no switches of the bio file as the records hold them
** (bio->writepol, bio->writerpo, bio->ci_adjust, warmstart). */
constexpr short SWITCH_OFF = 0;
constexpr short SWITCH_ON = 1;

/* Units of bio->kg. */
constexpr short UNITS_POUNDS = 0;
constexpr short UNITS_KG = 1;

/* Analyses of bio->analysis: what the run projects after the policy. */
constexpr short ANALYSIS_STEADY_STATE = 1;  /* steady herd, then 36 months */
constexpr short ANALYSIS_STORED_HERD = 2;   /* 300 months from the stored herd, heifers refill */
constexpr short ANALYSIS_STORED_START = 3;  /* 300 months, heifers only into an empty start */
constexpr short ANALYSIS_POLICY_ONLY = 71;  /* the policy and its files, no projection */

/* True for the analyses that project the herd. */
inline bool projects_herd(short analysis)
{
    return analysis >= ANALYSIS_STEADY_STATE && analysis <= ANALYSIS_STORED_START;
}

/* ---- bio: inputs and derived biology ---------------------------------- */

struct BioRecord {
    short analysis;
    short kg;                                 /* 1 kilograms, 0 pounds */
    double milk_mpreg[NMPREG];
    double abort[NMPREG];
    short vwp[4];                             /* stored as file value - 1 */
    short lbm;                                /* stored as file value - 1 */
    double instime;
    double inscost;
    short maxlact;
    double heatdetectionrate[NMIM][NSEA];
    double conceptionrate[NLACT][NMIM][NSEA]; /* row 0: the file's base rate */
    double reprocost[NMIM][NSEA];
    double bodyweight[NLACT][NMIM][NMPREG];
    double bodyweight_mpreg[3][NMPREG];
    short serve[NSLOT];                       /* 1 forced, 0 forbidden, 8 free */
    short enter[NSLOT];
    double p_heifer[NSLOT];
    double p_milk[NSLOT];
    double p_bodyweight[NSLOT];
    short writepol;
    short writerpo;
    short start_sea;
    short policy;
    short maxmim;
    double minmilk;
    double minrev;
    double interest;
    double cullcost;
    double sel_factor;
    short ci_adjust;
    double p_calf;
    double fixedcost1, fixedcost2;
    double drycost, lactcost;
    double p_lactfeed, p_dryfeed;
    double drydmi;
    double fat;
    double yield_sd, yield_corr;
    double wage;
    double freshtime, lacttime, drytime;
    double vetcost[NMIM];

    /* derived per-state tables, per cow per model month */
    double milkyield[NCURR][NLACT][NMIM][NMPREG][NSEA];
    double dmi[NCURR][NLACT][NMIM][NMPREG][NSEA];
    double labortime[NCURR][NLACT][NMIM][NMPREG][NSEA];
    double rev[NCURR][NLACT][NMIM][NMPREG][NSLOT];
    double iofc[NCURR][NLACT][NMIM][NMPREG][NSLOT];
    double sel[NLACT][NMIM][NSLOT];
    double pind[NLACT][NMIM][NSEA];

    /* yield classes and their transitions */
    double smy[NCURR];
    double m305[NCURR][NLACT][NSEA];
    double pnext[NCURR][NLACT][NMIM][NSEA][NCURR]; /* 4th index 0: within lactation, 1..12: calving month */
    short lo[NCURR][NLACT][NMIM][NSEA];
    short hi[NCURR][NLACT][NMIM][NSEA];
};

/* ---- fut: future values of the value iteration ------------------------ */

struct FutRecord {
    double value[NCURR][NLACT][NMIM][NMPREG][NBUF];
    double delay_open[NCURR][NLACT][NMIM][NMIM][NBUF];
    double delay_preg[NCURR][NLACT][NMIM][NMIM][NBUF];
    double cash[NSLOT];
    double heifer[NBUF];
    double heifer_now;
};

/* ---- pol: the policy --------------------------------------------------- */

struct PolRecord {
    short decision[NCURR][NLACT][NMIM][NMPREG][NSLOT];
    short enter[NSLOT];
};

/* ---- rpo: retention pay-offs ------------------------------------------ */

struct RpoRecord {
    double rpo[NCURR][NLACT][NMIM][NMPREG][NSLOT];
    double prg[NCURR][NLACT][NMIM][NMPREG][NSLOT];
    double life[NCURR][NLACT][NMIM][NMPREG][NSLOT];
};

/* ---- ins: insemination values ----------------------------------------- */

struct InsRecord {
    double ins[NCURR][NLACT][NMIM][NSLOT];
};

/* ---- del: losses from delayed conception ------------------------------ */

struct DelRecord {
    double open[NCURR][NLACT][NMIM][NMIM][NSLOT];
    double preg[NCURR][NLACT][NMIM][NMIM][NSLOT];
};

/* ---- mkv: the herd projection ----------------------------------------- */

/* Summary statistics derived from the accumulators by the herd statistics.
** Yearly figures are [NYR], slots 1..4 (months 1-12, 13-24, 25-36, 37..). */
struct MkvStats {
    double cash_maxm;

    /* monthly results */
    double cullprice[NT];
    double dim[NT];
    double smy_ave[NT];
    double calvinginterval[NT];
    double daystoconc[NT];
    double dvwp[NT];
    double dfs[NT];
    double dlbm[NT];

    /* yearly figures */
    double herdlife[NYR];
    double eaa_cyr[NYR], eaa_cwt[NYR];
    double cash_cyr[NYR], cash_cwt[NYR];
    double milkyield_cyr[NYR], milkyield_cwt[NYR];
    double milksales_cyr[NYR], milksales_cwt[NYR];
    double feedcost_cyr[NYR], feedcost_cwt[NYR];
    double heifercost_cyr[NYR], heifercost_cwt[NYR];
    double cowsales_cyr[NYR], cowsales_cwt[NYR];
    double calfsales_cyr[NYR], calfsales_cwt[NYR];
    double livestockcost_cyr[NYR], livestockcost_cwt[NYR];
    double clvinterval[NYR];
    double daystoconc_yr[NYR];
    double cullrateall[NYR], cullratevol[NYR], cullrateinv[NYR];
    double laborcost_cyr[NYR], laborcost_cwt[NYR];
    double vetcost_cyr[NYR], vetcost_cwt[NYR];
    double breedingsupplycost_cyr[NYR], breedingsupplycost_cwt[NYR];
    double loss_cyr[NYR], loss_cwt[NYR];
    double othercost_cyr[NYR], othercost_cwt[NYR];
    double pregnancyrate0[NSEA][NYR];
    double pregnancyrate1[NSEA][NYR];
    double daysopen[NYR];
    double fixedcost_labor_cyr[NYR], fixedcost_labor_cwt[NYR];
    double fixedcost_other_cyr[NYR], fixedcost_other_cwt[NYR];
    double preglaborcost[NYR], pregsupplycost[NYR];
    double breedingcost_cyr[NYR], breedingcost_cwt[NYR];
    double pv_open[NYR], pv_preg[NYR];
    double opendays_yr[NYR];
    double abortrisk[NYR];
    double feedcostdry_cyr[NYR], feedcostlac_cyr[NYR];
    double cowvalue[NYR];
    double dim_yr[NYR];
    double daysfs[NYR];
    double cullprice_yr[NYR];
    double dvwp_yr[NYR], dlbm_yr[NYR];
    double daysopen_cost[NYR], dayspreg_cost[NYR];

    /* [mim][t][yr]: whole run by month in milk, by month, and by year */
    double inseminationvalue[NMIM][NT][NYR];
    double replopen_count[NMIM][NT][NYR];
    double replopen_dim_avg[NMIM][NT][NYR];
    double replopen_cur_avg[NMIM][NT][NYR];
    double replopen_mlk_avg[NMIM][NT][NYR];
    double replopen_iof_avg[NMIM][NT][NYR];
    double replopen_rev_avg[NMIM][NT][NYR];
    double replopen_rpo_avg[NMIM][NT][NYR];

    /* calving-season tables: [lact][0] by lactation, [0][cm] by calving month */
    double calvinginterval_clv[NLACT][NSEA];
    double daystoconception_clv[NLACT][NSEA];
    double daysvwp_clv[NLACT][NSEA];
    double daysfs_clv[NLACT][NSEA];
    double dayslbm_clv[NLACT][NSEA];
    double pind_clv[NSEA][NYR];
    double repl_clv[NSEA][NYR];

    /* culling by month in milk */
    double hz_cull_mim[NMIM];
    double pctcull_mim[NMIM];

    /* state values: cell 0..9 by month of pregnancy, 10 all pregnant */
    double pv_curr[NCURR][11];
    double pv_lact[NLACT][11];
    double pv_mim[NMIM][11];
    double pv_mpreg[11];
    double pv_t[NT][11];
    double pv_curr_lact[NCURR][NLACT][11];
};

/* The accumulators of a collecting run of the chain.  The record declares
** them from these lists and RESET_MKV_RECORD clears them from the same
** lists, so an accumulator cannot be added to the record and left out of
** the reset.  Each entry is X(type, name, the dimensions before the month).
**
** Per-month accumulators keep the month last ([..][t]), so that months
** 0..count of one row are one stretch.  Notes on single entries:
**   mkv_enter   the heifer-entry decision of month t (copied from the policy)
**   milkyield   milk by month in milk and month.  After the statistics,
**               [m][0] no longer holds the run total of month in milk m but
**               the average daily milk of a cow at m (and cows_mim[m][0]
**               her share of all cow-months): the statistics overwrite
**               those total cells in place.  [0][t] is the herd's milk of
**               month t, [0][0] the running total of the statistic year,
**               cleared at each year end. */
#define MKV_MONTH_ACCUMULATORS(X)                         \
    X(short, mkv_enter, )                                 \
    X(double, total_cash, )                               \
    X(double, operating_cash, )                           \
    X(double, milkyield, [NMIM])                          \
    X(double, cwt, )                                      \
    X(double, milksales, )                                \
    X(double, milking, )                                  \
    X(double, cows_mim, [NMIM])                           \
    X(double, milkingcows_mim, [NMIM])                    \
    X(double, dmi_mim, [NMIM])                            \
    X(double, cows_lact, [NLACT])                         \
    X(double, feedcostdry, )                              \
    X(double, feedcostlac, )                              \
    X(double, keep, [NCURR])                              \
    X(double, repl, [NCURR])                              \
    X(double, repl_mim, [NMIM])                           \
    X(double, pind, [NCURR])                              \
    X(double, pind_mim, [NMIM])                           \
    X(double, open, [NCURR])                              \
    X(double, preg, [NCURR])                              \
    X(double, present, [NCURR])                           \
    X(double, calved, )                                   \
    X(double, calvings, [NLACT][NMIM])                    \
    X(double, lactation1, )                               \
    X(double, lactation2, )                               \
    X(double, calves_born, )                              \
    X(double, calfsales, )                                \
    X(double, cowsales, )                                 \
    X(double, loss, )                                     \
    X(double, heiferpool, )                               \
    X(double, heifers_raised, )                           \
    X(double, heifers_purchased, )                        \
    X(double, heifers_sold, )                             \
    X(double, heiferpurchasecost, )                       \
    X(double, heiferraisecost, )                          \
    X(double, breedingsupplycost, )                       \
    X(double, breedinglaborcost, )                        \
    X(double, laborcost, )                                \
    X(double, labortime, )                                \
    X(double, vetcost, )                                  \
    X(double, othercost, )                                \
    X(double, fixedcost_labor, )                          \
    X(double, fixedcost_other, )                          \
    X(double, totrevenue, )                               \
    X(double, totcost, )                                  \
    X(double, dim_sum, )                                  \
    X(double, openmim_sum, )                              \
    X(double, rpo_sum, )                                  \
    X(double, rpo_n, )                                    \
    X(double, cowvalue_sum, )                             \
    X(double, cowvalue_n, )                               \
    X(double, serv_n, )                                   \
    X(double, serv_preg, )                                \
    X(double, delayed_n, )                                \
    X(double, at_vwp, )                                   \
    X(double, breedable_mim, [NMIM])                      \
    X(double, insval, [NMIM])                             \
    X(double, newpreg, [NCURR][NLACT])                    \
    X(double, delval, [NCURR][NMIM])                      \
    X(double, delval_n, [NCURR][NMIM])                    \
    X(double, delval2, [NCURR][NMIM])                     \
    X(double, delval2_n, [NCURR][NMIM])                   \
    X(double, abortions, )                                \
    X(double, abortrisk_n, )                              \
    X(double, dryoffyield, )                              \
    X(double, dryoff_n, )                                 \
    X(double, replopen_n, [NCURR][NMIM])                  \
    X(double, replopen_iof, [NCURR][NMIM])                \
    X(double, replopen_mlk, [NCURR][NMIM])                \
    X(double, replopen_rev, [NCURR][NMIM])                \
    X(double, replopen_rpo, [NCURR][NMIM])

/* The event tables keep the month first ([t][curr][lact][mim], 12 MB
** each): a 36-month run touches only its own months.  Totals:
** [0][c][0][0] by class, [t][0][0][0] by month, [0][0][0][0] the
** statistic year. */
#define MKV_EVENT_TABLES(X) \
    X(double, conceptions, )  \
    X(double, firstserv, )    \
    X(double, bred, )         \
    X(double, delayserv, )

/* Run totals, cleared whole.  rpo_vwp and rpo_vwp_n are the pregnancy
** values of kept cows, mass x value and mass, by state over the run;
** rpo_vwp_t and rpo_vwp_t_n the same by month over the states ([t][0..9]
** by month of pregnancy, [t][10] every pregnant state). */
#define MKV_RUN_TOTALS(X)                          \
    X(double, hz_open, [NMIM][4])                  \
    X(double, hz_preg, [NMIM][4])                  \
    X(double, open_dim, [NMIM])                    \
    X(double, preg_dim, [NMIM])                    \
    X(double, pind_rpo, [NCURR][NLACT][NMIM][NMPREG])   \
    X(double, pind_rpo_n, [NCURR][NLACT][NMIM][NMPREG]) \
    X(double, rpo_vwp, [NCURR][NLACT][NMIM][NMPREG])    \
    X(double, rpo_vwp_n, [NCURR][NLACT][NMIM][NMPREG])  \
    X(double, rpo_vwp_t, [NT][11])                 \
    X(double, rpo_vwp_t_n, [NT][11])

#define MKV_DECLARE_MONTH_LAST(type, name, dims) type name dims[NT];
#define MKV_DECLARE_MONTH_FIRST(type, name, dims) type name[NT][NCURR][NLACT][NMIM] dims;
#define MKV_DECLARE_TOTAL(type, name, dims) type name dims;

struct MkvRecord {
    /* distributions over cow states, slots 0/1 working, 2 stored */
    double pstate[NCURR][NLACT][NMIM][NMPREG][NDIST];
    double pfs[NCURR][NLACT][NMIM][NDIST];
    double pdelay[NCURR][NLACT][NMIM][NDIST];
    double pheifer[NAGE][NMPREG][NDIST];
    double pstate_prev[NCURR][NLACT][NMIM][NMPREG];

    /* run bookkeeping */
    short sea_next;
    short header1, header_sea, header3;

    MKV_MONTH_ACCUMULATORS(MKV_DECLARE_MONTH_LAST)
    MKV_EVENT_TABLES(MKV_DECLARE_MONTH_FIRST)
    MKV_RUN_TOTALS(MKV_DECLARE_TOTAL)

    MkvStats stats;
};

/* ---- the records and the run-wide values ------------------------------ */

extern BioRecord* bio;
extern FutRecord* fut;
extern PolRecord* pol;
extern RpoRecord* rpo;
extern InsRecord* ins;
extern DelRecord* del;
extern MkvRecord* mkv;

/* ---- the breeding window ---------------------------------------------- */

/* Last month in milk of the voluntary waiting period (bio->vwp, stored as
** the file value - 1) of lactation lact: lactations 1, 2, and 3 and later
** have one each. */
inline int waiting_period_end(int lact)
{
    return bio->vwp[lact < 3 ? lact : 3];
}

/* The months of pregnancy first..last a cow can be in at month in milk
** mim: she conceived after the waiting period and by the last breeding
** month bio->lbm (first > last when there are none). */
inline void pregnancy_window(int lact, int mim, int& first, int& last)
{
    first = mim - bio->lbm > 1 ? mim - bio->lbm : 1;
    last = mim - waiting_period_end(lact) < MAXMPREG ? mim - waiting_period_end(lact) : MAXMPREG;
}

/* The services of an open cow inseminated this month, as the solver, the
** projection and the herd simulation all count them.  Her first heat is detected
** with the heat detection rate hd and a service conceives with the
** conception rate; a cow still open after it has a second heat within the
** month with the share SECOND_HEAT.  pr = hd x conception rate. */
struct ServiceChances {
    double hd;      /* heat detection rate */
    double cr;      /* conception rate of a service */
    double Ps;      /* services charged: the expected number, at most one */
    double Pc;      /* conception within the month */
    double E;       /* expected number of heats (service opportunities) */
};

inline ServiceChances SERVICE_CHANCES(int lact, int mim, int sea)
{
    ServiceChances s;
    s.hd = bio->heatdetectionrate[mim][sea];
    s.cr = bio->conceptionrate[lact][mim][sea];
    const double pr = s.hd * s.cr;
    s.Ps = std::min(1.0, s.hd + (1.0 - pr) * s.hd * SECOND_HEAT);
    s.Pc = pr + (1.0 - pr) * pr * SECOND_HEAT;
    s.E = 1.0 + (1.0 - pr) * SECOND_HEAT;
    return s;
}

/* True when a cow in month of pregnancy mpreg (0 = open) at month in milk
** mim is one month further pregnant next month: a cow in her 9th month
** calves instead, and none is pregnant beyond the last month in milk. */
inline bool pregnant_next_month(int mim, int mpreg)
{
    return mpreg >= 1 && mpreg < MAXMPREG && mim < MAXMIM;
}

/* Longest name (run name, file names, bio file argument) a run accepts. */
constexpr std::size_t MAX_NAME_LENGTH = 4095;

extern std::string biofiletime;  /* first line of the bio file */
extern std::string runname;      /* bio file name, then the run name */
extern std::string rpofile, delfile, mkvfile, resfile, polfile;
extern short warmstart;

extern double heifer_rpo[NSLOT]; /* advantage of heifer entry by slot */
extern double DPcash12;          /* yearly cash value of a herd place */

void INIT_BIO_RECORD();
void INIT_FUT_RECORD();
void INIT_POL_RECORD();
void INIT_RPO_RECORD();
void INIT_INS_RECORD();
void INIT_DEL_RECORD();
void INIT_MKV_RECORD();

/* Allocates or resets the records a policy is solved or read into (pol,
** rpo, ins, del), each step announced in msg.txt. */
void INIT_POLICY_RECORDS();

void RESET_BIO_RECORD();
void RESET_FUT_RECORD();
void RESET_POL_RECORD();
void RESET_RPO_RECORD();
void RESET_INS_RECORD();
void RESET_DEL_RECORD();

/* Sets the run-wide values to what they hold before any bio file is read. */
void RESET_RUN_VALUES();

/* Sets `bytes` bytes of a record to zero; the whole pages among them go
** back to the kernel rather than being written. */
void CLEAR_BLOCK(void* block, std::size_t bytes);

/* The warm start of RESET_FUT_RECORD: when warmstart is 1 the reset calls
** `reader`, which loads buffer 2 of fut and returns 1, or returns 0 when it
** loaded nothing.  The dynamic program owns the file; the run driver
** connects the two. */
void SET_WARM_START_READER(short (*reader)());

#endif
