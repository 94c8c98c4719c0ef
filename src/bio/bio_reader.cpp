/*
** bio_reader.cpp -- reads the bio file and derives the per-state biology.
**
** The bio file is the single input of a run.  It is read by position,
** with the layout, the form and the range of every value taken from the
** item table (bio_items.cpp): READ_BIO_FILE loads the whole file into
** memory, walks the table over it and stores each value as it comes.
**
** After the last item the reader places the 24-month price and switch
** series on their calendar months and derives the tables that the dynamic
** program and the Markov chain read: monthly milk yield, revenue and income
** over feed cost, involuntary disposal, conception rates, body weight and
** sale value, dry-matter intake and labour time of every cow state.  The
** mean yields of the yield classes come from BIO_SMY (probability.cpp).
**
** A file that cannot be read to the end (a missing token, a token that is
** not a number, a keyword or range that would index outside the records)
** or a value outside its item's range (the item table) is reported with
** the file, the item and the token, followed by the STOP pause, and the
** run ends: the first fault only (`morvenda check --json` lists them all).
** Only a regular file of bio-file size is read at all.
*/
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bio/bio.h"
#include "bio/bio_items.h"
#include "core/input_file.h"
#include "core/numeric.h"
#include "core/records.h"
#include "core/runlog.h"

namespace {

constexpr double LB_PER_KG = 2.204624;

/* The reader's temporary tables, discarded when it returns. */
struct ReaderTables {
    double milkcurve[4][NMIM][NSEA]; /* daily yield of an open cow, lact 1..3 */
    double pindlact[NLACT];
    double pindmim[NMIM][NSEA];
    double conclact[NLACT];
    double lactfactor[NLACT];        /* lactations 4..12 */
    short serve[NSLOT];              /* the 24-month series in model-month order */
    short enter[NSLOT];
    double p_heifer[NSLOT];
    double p_milk[NSLOT];
    double p_bodyweight[NSLOT];
};

/* Switch keyword of the insemination and heifer-entry series:
** 1 forced, 0 forbidden, 8 left to the policy. */
short switch_code(const std::string& token)
{
    if (token == "YES" || token == "yes")
        return 1;
    if (token == "NO" || token == "no")
        return 0;
    return 8;
}

/* Takes the values of the item table's walk into the record and the
** temporary tables; the first fault ends the run with its message. */
class ReaderSink : public BioSink {
public:
    ReaderSink(const std::string& name, ReaderTables& tmp) : name_(name), tmp_(tmp) {}

    void value(const BioToken& at, const std::string& token, double v) override
    {
        const BioField& field = bio_fields()[at.field];
        store(field.item, item_index(at.field, at.row, at.col), token, v);
    }

    bool fault(const BioFault& f) override
    {
        if (f.warning) {
            if (f.field == 0)
                std::printf("\n READ_BIO_FILE: %s", f.reason.c_str());
            else if (f.field > 0)
                std::printf("\n READ_BIO_FILE: %s, item %d (%s): %s (\"%s\")", name_.c_str(),
                            bio_fields()[f.field].item, bio_fields()[f.field].what, f.reason.c_str(),
                            f.token.c_str());
            else
                std::printf("\n READ_BIO_FILE: %s: %s (\"%s\")", name_.c_str(), f.reason.c_str(),
                            f.token.c_str());
            return true;
        }
        const BioField& field = bio_fields()[f.field];
        const char* what = f.row < 0 ? heading_words(field) : field.what;
        if (field.rule == BioRule::month)
            std::printf("\n start_sea error");
        if (field.rule == BioRule::policy)
            std::printf("\n bio->policy error");
        if (field.kind == BioKind::name && !f.stops)
            FAIL_RUN("READ_BIO_FILE", "%s, item %d: %s", name_.c_str(), field.item, f.reason.c_str());
        FAIL_RUN("READ_BIO_FILE", "%s, item %d (%s): %s", name_.c_str(), field.item, what, f.reason.c_str());
    }

private:
    /* The heading of a field that shares its item with others. */
    static const char* heading_words(const BioField& field)
    {
        if (field.item == 26)
            return "prices";
        if (field.item == 27)
            return "write switches";
        return field.what;
    }

    void store(int item, int k, const std::string& token, double v);

    const std::string& name_;
    ReaderTables& tmp_;
};

/* Value k (from 0) of `item`. */
void ReaderSink::store(int item, int k, const std::string& token, double v)
{
    /* item 33 in file order */
    double* const costs[15] = {&bio->p_calf,     &bio->fixedcost1, &bio->fixedcost2, &bio->drycost,
                               &bio->lactcost,   &bio->p_lactfeed, &bio->p_dryfeed,  &bio->drydmi,
                               &bio->fat,        &bio->yield_sd,   &bio->yield_corr, &bio->wage,
                               &bio->freshtime,  &bio->lacttime,   &bio->drytime};
    double* const limits[5] = {&bio->minmilk, &bio->minrev, &bio->interest, &bio->cullcost,
                               &bio->sel_factor};
    std::string* const names[6] = {&runname, &rpofile, &delfile, &mkvfile, &resfile, &polfile};
    const int row = k / 12 + 1, month = k % 12 + 1; /* tables of 12 calendar months */
    const short whole = static_cast<short>(v);
    switch (item) {
    case 1:
        biofiletime = token;
        break;
    case 2:
        *names[k] = token;
        break;
    case 3:
        warmstart = whole;
        break;
    case 4:
        std::printf(" version: %.1f", v);
        break;
    case 5:
        bio->kg = token == "KG" ? UNITS_KG : UNITS_POUNDS;
        break;
    case 6:
        bio->analysis = whole;
        break;
    case 7:
        bio->milk_mpreg[k + 1] = v;
        break;
    case 8:
    case 9:
    case 10:
        tmp_.milkcurve[item - 7][row][month] = v;
        break;
    case 11:
        tmp_.pindlact[k + 1] = v;
        break;
    case 12:
        tmp_.pindmim[row][month] = v;
        break;
    case 13:
        bio->abort[k + 2] = v;
        break;
    case 14:
        bio->vwp[k + 1] = static_cast<short>(whole - 1);
        break;
    case 15:
        bio->lbm = static_cast<short>(whole - 1);
        break;
    case 16:
        (k == 0 ? bio->instime : bio->inscost) = v;
        break;
    case 17:
        bio->maxlact = whole;
        break;
    case 18:
        tmp_.conclact[k + 1] = v;
        break;
    case 19:
        bio->heatdetectionrate[row + 1][month] = v;
        break;
    case 20:
        bio->conceptionrate[0][row + 1][month] = v;
        break;
    case 21:
        bio->reprocost[row + 1][month] = v;
        break;
    case 22:
        bio->bodyweight[k % 2 + 1][k / 2 + 1][0] = v;
        break;
    case 23: {
        const int p = k % 9 + 1;
        bio->bodyweight_mpreg[k / 9 + 1][p] = v;
        if (k < 9)
            for (int m = 1; m <= 24; m++)
                bio->bodyweight[1][m][p] = v + bio->bodyweight[1][m][0];
        else
            for (int l = 2; l <= 12; l++)
                for (int m = 1; m <= 24; m++)
                    bio->bodyweight[l][m][p] = v + bio->bodyweight[2][m][0];
        break;
    }
    case 24:
        tmp_.serve[k + 1] = switch_code(token);
        break;
    case 25:
        tmp_.enter[k + 1] = switch_code(token);
        break;
    case 26: {
        double* const series[3] = {tmp_.p_heifer, tmp_.p_milk, tmp_.p_bodyweight};
        series[k / 24][k % 24 + 1] = v;
        break;
    }
    case 27:
        (k == 0 ? bio->writepol : bio->writerpo) = token == "YES" ? SWITCH_ON : SWITCH_OFF;
        break;
    case 28: {
        if (const int s = MONTH_OF_NAME(token))
            bio->start_sea = static_cast<short>(s);
        break;
    }
    case 29:
        bio->policy = token == "OPTIMAL"    ? POLICY_OPTIMAL
                      : token == "KEEPPREG" ? POLICY_KEEPPREG
                      : token == "KEEPALL"  ? POLICY_KEEPALL
                                            : POLICY_USE_POL;
        break;
    case 30:
        /* A cow may always reach the end of the breeding window. */
        bio->maxmim = whole <= bio->lbm ? static_cast<short>(MAXMIM) : whole;
        break;
    case 31:
        *limits[k] = v;
        break;
    case 32:
        bio->ci_adjust = token == "YES" ? SWITCH_ON : SWITCH_OFF;
        break;
    case 33:
        *costs[k] = v;
        break;
    case 34:
        bio->vetcost[k + 1] = v;
        break;
    case 35:
        break; /* notes */
    case 36:
        tmp_.lactfactor[k + 4] = v;
        break;
    default:
        assert(false);
    }
}

/* Places the 24 model months on month indices: the first year on 1..12,
** the second on 13..24, the first model month on the start month. */
void place_series(const ReaderTables& tmp)
{
    for (int f = 1; f <= 24; f++) {
        int m = f + bio->start_sea - 1;
        if (f <= 12)
            while (m > 12)
                m -= 12;
        else
            while (m > 24)
                m -= 12;
        bio->serve[m] = tmp.serve[f];
        bio->enter[m] = tmp.enter[f];
        bio->p_heifer[m] = tmp.p_heifer[f];
        bio->p_milk[m] = tmp.p_milk[f];
        bio->p_bodyweight[m] = tmp.p_bodyweight[f];
    }
}

/* Monthly milk yield, and milk sales as the first entry of revenue and
** income over feed cost. */
void derive_milk(const ReaderTables& tmp)
{
    for (int l = 1; l <= 12; l++)
        for (int m = 1; m <= 24; m++)
            for (int p = 0; p <= 9; p++)
                for (int s = 1; s <= 12; s++) {
                    double y = l <= 3 ? tmp.milkcurve[l][m][s]
                                      : tmp.milkcurve[3][m][s] * tmp.lactfactor[l];
                    y *= bio->milk_mpreg[p];
                    for (int c = 1; c <= 15; c++) {
                        double milk = bio->smy[c] / 100.0 * y * DAYS_PER_MONTH;
                        if (milk < 0.0)
                            milk = 0.0;
                        bio->milkyield[c][l][m][p][s] = milk;
                        bio->rev[c][l][m][p][s] = bio->p_milk[s] * milk;
                        bio->rev[c][l][m][p][s + 12] = bio->p_milk[s + 12] * milk;
                        bio->iofc[c][l][m][p][s] = bio->rev[c][l][m][p][s];
                        bio->iofc[c][l][m][p][s + 12] = bio->rev[c][l][m][p][s + 12];
                    }
                }
}

void derive_disposal_and_conception(const ReaderTables& tmp)
{
    for (int l = 1; l <= 12; l++)
        for (int m = 1; m <= 24; m++)
            for (int s = 1; s <= 12; s++) {
                double p = tmp.pindmim[m][s] * tmp.pindlact[l];
                bio->pind[l][m][s] = p > 1.0 ? 1.0 : p;
            }
    for (int l = 1; l <= 12; l++)
        for (int m = 2; m <= 15; m++)
            for (int s = 1; s <= 12; s++) {
                double p = tmp.conclact[l] * bio->conceptionrate[0][m][s];
                bio->conceptionrate[l][m][s] = p > 1.0 ? 1.0 : p;
            }
}

void derive_weight_and_sale_value()
{
    for (int l = 1; l <= 12; l++)
        for (int m = 1; m <= 24; m++)
            for (int s = 1; s <= 12; s++) {
                if (l >= 3)
                    for (int p = 0; p <= 9; p++)
                        bio->bodyweight[l][m][p] = bio->bodyweight[2][m][p];
                double w = bio->bodyweight[l][m][0];
                bio->sel[l][m][s] = w * bio->p_bodyweight[s];
                bio->sel[l][m][s + 12] = w * bio->p_bodyweight[s + 12];
            }
}

} // namespace

/* Lag of intake behind milk early in lactation, month in milk `mim`. */
double INTAKE_LAG(int mim)
{
    return 1.0 - std::exp(-0.192 * ((mim - 1) * 4.34 + 2.17 + 3.67));
}

/* Monthly dry-matter intake of a lactating cow giving `monthly_milk` in a
** month at body weight `weight` (both in the file's units); the intake is
** in the file's units too. */
double LACTATING_INTAKE(double monthly_milk, double weight, int mim, double fat, bool kg)
{
    double m = monthly_milk / DAYS_PER_MONTH;
    double fcm = 0.4 * m + 0.15 * fat * m;
    double lag = INTAKE_LAG(mim);
    if (kg)
        return (0.372 * fcm + 0.0968 * std::pow(weight, 0.75) * lag) * DAYS_PER_MONTH;
    double daily_kg = 0.372 * fcm / LB_PER_KG + 0.0968 * std::pow(weight / LB_PER_KG, 0.75) * lag;
    return daily_kg * LB_PER_KG * DAYS_PER_MONTH;
}

namespace {

/* Intake, feed and daily costs, labour and veterinary costs of every state. */
void derive_intake_and_costs()
{
    const double lactdaily = bio->lactcost * DAYS_PER_MONTH;
    const double drydaily = bio->drycost * DAYS_PER_MONTH;
    const double dryintake = bio->drydmi * DAYS_PER_MONTH;
    const bool kg = bio->kg == UNITS_KG;

    for (int c = 1; c <= 15; c++)
        for (int l = 1; l <= 12; l++)
            for (int m = 1; m <= 24; m++)
                for (int s = 1; s <= 12; s++)
                    for (int p = 0; p <= 9; p++) {
                        double milk = bio->milkyield[c][l][m][p][s];
                        double weight = bio->bodyweight[l][m][p];
                        double* rev = bio->rev[c][l][m][p];
                        double* iofc = bio->iofc[c][l][m][p];
                        double intake;
                        if (milk >= DRY_MILK) {
                            intake = LACTATING_INTAKE(milk, weight, m, bio->fat, kg);
                            double cost = intake * bio->p_lactfeed + lactdaily;
                            rev[s] -= cost;
                            rev[s + 12] -= cost;
                            iofc[s] -= cost;
                            iofc[s + 12] -= cost;
                        } else {
                            intake = dryintake;
                            double cost = intake * bio->p_dryfeed + drydaily;
                            rev[s] -= cost;
                            rev[s + 12] -= cost;
                            /* income over feed cost prices a dry cow's
                            ** intake as a lactating cow's */
                            double ioc = intake * bio->p_lactfeed + lactdaily;
                            iofc[s] -= ioc;
                            iofc[s + 12] -= ioc;
                        }
                        bio->dmi[c][l][m][p][s] = intake;
                    }

    for (int m = 5; m <= 24; m++)
        bio->vetcost[m] = bio->vetcost[4];

    for (int c = 1; c <= 15; c++)
        for (int l = 1; l <= 12; l++)
            for (int m = 1; m <= 24; m++)
                for (int s = 1; s <= 12; s++)
                    for (int p = 0; p <= 9; p++) {
                        double time = bio->milkyield[c][l][m][p][s] >= DRY_MILK ? bio->lacttime
                                                                           : bio->drytime;
                        if (m == 1)
                            time += bio->freshtime;
                        bio->labortime[c][l][m][p][s] = time;
                        double cost = time / 60.0 * bio->wage + bio->vetcost[m];
                        bio->rev[c][l][m][p][s] -= cost;
                        bio->rev[c][l][m][p][s + 12] -= cost;
                    }
}

/* True when every element of a table is a finite number. */
template <typename T>
bool all_finite(const T& table)
{
    const double* first = reinterpret_cast<const double*>(&table);
    const std::size_t n = sizeof(T) / sizeof(double);
    for (std::size_t i = 0; i < n; i++)
        if (!std::isfinite(first[i]))
            return false;
    return true;
}

/* The derived tables are the inputs of every later phase: a value that is
** not a number there would reach the files. */
void check_derived_tables(const std::string& name)
{
    if (all_finite(bio->milkyield) && all_finite(bio->dmi) && all_finite(bio->labortime) &&
        all_finite(bio->rev) && all_finite(bio->iofc) && all_finite(bio->sel) &&
        all_finite(bio->pind) && all_finite(bio->conceptionrate))
        return;
    FAIL_RUN("READ_BIO_FILE", "%s: the items give figures that are not numbers", name.c_str());
}

} // namespace

short READ_BIO_FILE()
{
    const std::string biofile = runname;
    std::printf("\n READ_BIO_FILE started ... %s", biofile.c_str());
    RESET_BIO_RECORD();
    WRITE_MSG_FILE(MSG_READ_BIO);
    auto tmp = std::make_unique<ReaderTables>(); /* value-initialised: all 0 */

    std::string text;
    std::string why;
    const InputRead got = READ_INPUT_FILE(biofile, LARGEST_BIO_FILE, text, why);
    if (got == InputRead::not_opened) {
        WRITE_MSG_FILE(MSG_BIO_OPEN_FAILURE);
        std::printf("\n READ_BIO_FILE: file open failure:%s (%s)", biofile.c_str(), why.c_str());
        STOP(1);
        return 1;
    }
    if (got == InputRead::refused) {
        FAIL_RUN("READ_BIO_FILE", "%s: %s", biofile.c_str(), why.c_str());
    }

    ReaderSink sink(biofile, *tmp);
    walk_bio_text(text, sink, true);

    place_series(*tmp);
    bio->milk_mpreg[0] = 1.0;
    BIO_SMY();
    for (int m = 1; m <= 24; m++)
        bio->p_milk[m] /= 100.0;
    derive_milk(*tmp);
    derive_disposal_and_conception(*tmp);
    derive_weight_and_sale_value();
    derive_intake_and_costs();
    check_derived_tables(biofile);

    std::printf("\n READ_BIO_FILE done ...");
    return 0;
}
