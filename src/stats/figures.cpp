/*
** figures.cpp -- the yearly figures: labels, plain names, units and help.
**
** The labels keep the report's own padding: the report prints them as they
** stand here, so this table is also the yearly block's layout.  Money and
** milk figures "per 100" are per 100 units of milk sold (a hundredweight in
** a herd kept in pounds, 100 kg in one kept in kilograms).  Year figures
** are sums over a statistic year of one herd place; with interest, the
** money flows are discounted to the start of their year.
*/
#include "stats/figures.h"

#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

#define SLOTS(field) [](const MkvStats& s) -> const double* { return s.field; }

using U = FigureUnit;
using G = FigureGroup;

} // namespace

const YearlyFigure YEARLY_FIGURES[] = {
    {"herdlife         ", SLOTS(herdlife), "Herd life", U::DAYS, G::HERD, 0, false,
     "How long a cow stays in the herd on average at this year's culling rate."},
    {"eaa_cyr          ", SLOTS(eaa_cyr), "Net return per cow", U::MONEY_PER_COW_YEAR, G::MONEY, +1, true,
     "Milk, calf and cull-cow sales less feed, heifer, breeding, labour, vet, other and fixed costs and losses, as a yearly annuity."},
    {"eaa_cwt          ", SLOTS(eaa_cwt), "Net return per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, +1, false,
     "The net return per 100 units of milk sold."},
    {"cash_cyr         ", SLOTS(cash_cyr), "Cash flow per cow", U::MONEY_PER_COW_YEAR, G::MONEY, +1, true,
     "All money in less all money out of one herd place in the year, undiscounted."},
    {"milkyield_cyr    ", SLOTS(milkyield_cyr), "Milk per cow", U::MILK_PER_COW_YEAR, G::MILK, +1, true,
     "Milk produced by one herd place in the year, dry months and empty places included."},
    {"milkyield_cwt    ", SLOTS(milkyield_cwt), "Milk per 100 of milk", U::MILK_PER_100_MILK, G::MILK, 0, false,
     "Always 100: kept so that every money figure has its per-100 partner."},
    {"milksales_cyr    ", SLOTS(milksales_cyr), "Milk sales per cow", U::MONEY_PER_COW_YEAR, G::MONEY, +1, true,
     "What the milk of one herd place sells for in the year."},
    {"milksales_cwt    ", SLOTS(milksales_cwt), "Milk price received", U::MONEY_PER_100_MILK, G::MONEY, +1, false,
     "Milk sales per 100 units of milk: the average price the herd gets."},
    {"feedcost_cyr     ", SLOTS(feedcost_cyr), "Feed cost per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "Feed of lactating and dry cows of one herd place in the year."},
    {"feedcost_cwt     ", SLOTS(feedcost_cwt), "Feed cost per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Feed cost per 100 units of milk sold."},
    {"heifercost_cyr   ", SLOTS(heifercost_cyr), "Heifer cost per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "The heifers that enter the herd place in the year, at the month's heifer price."},
    {"heifercost_cwt   ", SLOTS(heifercost_cwt), "Heifer cost per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Heifer cost per 100 units of milk sold."},
    {"cowsales_cyr     ", SLOTS(cowsales_cyr), "Cull cow sales per cow", U::MONEY_PER_COW_YEAR, G::MONEY, +1, true,
     "What the cows that leave the herd place sell for in the year."},
    {"cowsales_cwt     ", SLOTS(cowsales_cwt), "Cull cow sales per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, +1, false,
     "Cull cow sales per 100 units of milk sold."},
    {"calfsales_cyr    ", SLOTS(calfsales_cyr), "Calf sales per cow", U::MONEY_PER_COW_YEAR, G::MONEY, +1, true,
     "What the calves born in the herd place sell for in the year."},
    {"calfsales_cwt    ", SLOTS(calfsales_cwt), "Calf sales per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, +1, false,
     "Calf sales per 100 units of milk sold."},
    {"livestockcost_cyr", SLOTS(livestockcost_cyr), "Net replacement cost per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "Heifer cost less cull cow sales: what replacing cows costs in the year."},
    {"livestockcost_cwt", SLOTS(livestockcost_cwt), "Net replacement cost per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Net replacement cost per 100 units of milk sold."},
    {"clvinterval      ", SLOTS(clvinterval), "Calving interval", U::MONTHS, G::REPRODUCTION, -1, false,
     "Months from one calving to the next, over the cows that calve in the year."},
    {"daystoconc       ", SLOTS(daystoconc_yr), "Days to conception", U::DAYS, G::REPRODUCTION, -1, false,
     "Days from calving to the service that got the cow in calf, over the cows that conceive."},
    {"cullrateall      ", SLOTS(cullrateall), "Culling rate", U::RATE_PER_COW_YEAR, G::HERD, 0, true,
     "Cows leaving the herd per cow per year, for any reason."},
    {"cullratevol      ", SLOTS(cullratevol), "Voluntary culling rate", U::RATE_PER_COW_YEAR, G::HERD, 0, true,
     "Cows replaced by choice (the policy's decision) per cow per year."},
    {"cullrateinv      ", SLOTS(cullrateinv), "Involuntary culling rate", U::RATE_PER_COW_YEAR, G::HERD, -1, true,
     "Cows lost to death, disease or injury per cow per year."},
    {"laborcost_cyr    ", SLOTS(laborcost_cyr), "Labour cost per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "Labour of milking, breeding and care of one herd place in the year."},
    {"laborcost_cwt    ", SLOTS(laborcost_cwt), "Labour cost per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Labour cost per 100 units of milk sold."},
    {"vetcost_cyr      ", SLOTS(vetcost_cyr), "Vet cost per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "Veterinary cost of one herd place in the year."},
    {"vetcost_cwt      ", SLOTS(vetcost_cwt), "Vet cost per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Veterinary cost per 100 units of milk sold."},
    {"breedingsupplycost_cyr ", SLOTS(breedingsupplycost_cyr), "Breeding supplies per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "Semen and other breeding supplies of one herd place in the year."},
    {"breedingsupplycost_cwt ", SLOTS(breedingsupplycost_cwt), "Breeding supplies per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Breeding supplies per 100 units of milk sold."},
    {"loss_cyr         ", SLOTS(loss_cyr), "Loss on involuntary culls per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "The cost of cows that die or must leave, in the year."},
    {"loss_cwt         ", SLOTS(loss_cwt), "Loss on involuntary culls per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "The loss on involuntary culls per 100 units of milk sold."},
    {"othercost_cyr    ", SLOTS(othercost_cyr), "Other costs per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "The daily other costs of lactating and dry cows, over the year."},
    {"othercost_cwt    ", SLOTS(othercost_cwt), "Other costs per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Other costs per 100 units of milk sold."},
    {"pregnancyrate0   ", SLOTS(pregnancyrate0[0]), "Pregnancy rate of cows bred", U::SHARE, G::REPRODUCTION, +1, false,
     "Conceptions per 21-day heat opportunity of the cows the policy breeds."},
    {"pregnancyrate1   ", SLOTS(pregnancyrate1[0]), "Pregnancy rate of cows in the breeding window", U::SHARE, G::REPRODUCTION, +1, false,
     "Conceptions per 21-day heat opportunity of all cows in the breeding window, those the policy waits with included."},
    {"daysopen         ", SLOTS(daysopen), "Days in milk of open cows", U::DAYS, G::REPRODUCTION, -1, false,
     "The average days in milk of the cows not yet in calf, month by month."},
    {"fixedcost_labor_cyr ", SLOTS(fixedcost_labor_cyr), "Fixed labour cost per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "Labour paid whatever the herd does, per herd place per year."},
    {"fixedcost_labor_cwt ", SLOTS(fixedcost_labor_cwt), "Fixed labour cost per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Fixed labour cost per 100 units of milk sold."},
    {"fixedcost_other_cyr ", SLOTS(fixedcost_other_cyr), "Other fixed costs per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "Buildings, machinery and other costs paid whatever the herd does, per herd place per year."},
    {"fixedcost_other_cwt ", SLOTS(fixedcost_other_cwt), "Other fixed costs per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Other fixed costs per 100 units of milk sold."},
    {"preglaborcost     ", SLOTS(preglaborcost), "Breeding labour per pregnancy", U::MONEY_PER_PREGNANCY, G::REPRODUCTION, -1, false,
     "The labour of inseminations spent for each cow that gets in calf."},
    {"pregsupplycost    ", SLOTS(pregsupplycost), "Breeding supplies per pregnancy", U::MONEY_PER_PREGNANCY, G::REPRODUCTION, -1, false,
     "Semen and supplies spent for each cow that gets in calf."},
    {"breedingcost_cyr  ", SLOTS(breedingcost_cyr), "Breeding cost per cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, true,
     "Breeding labour and supplies of one herd place in the year."},
    {"breedingcost_cwt  ", SLOTS(breedingcost_cwt), "Breeding cost per 100 of milk", U::MONEY_PER_100_MILK, G::MONEY, -1, false,
     "Breeding cost per 100 units of milk sold."},
    {"pv_open           ", SLOTS(pv_open), "Value of a pregnancy to an open cow", U::MONEY_PER_COW, G::REPRODUCTION, 0, false,
     "What getting an open cow in the breeding window in calf would be worth, on average."},
    {"inseminationvalue ", SLOTS(inseminationvalue[0][0]), "Value of inseminating now", U::MONEY_PER_COW, G::REPRODUCTION, 0, false,
     "What inseminating a cow in the breeding window this month is worth over waiting, on average."},
    {"opendays          ", SLOTS(opendays_yr), "Days open per herd place", U::DAYS_PER_YEAR, G::REPRODUCTION, -1, false,
     "The days of the year the herd place holds a cow that is not in calf."},
    {"abortrisk         ", SLOTS(abortrisk), "Abortion risk", U::SHARE, G::REPRODUCTION, -1, false,
     "The chance that a pregnancy is lost before calving."},
    {"pv_preg           ", SLOTS(pv_preg), "Value of the pregnancy of a pregnant cow", U::MONEY_PER_COW, G::REPRODUCTION, 0, false,
     "What being in calf is worth to the pregnant cows kept, on average."},
    {"feedcostdry_cyr   ", SLOTS(feedcostdry_cyr), "Feed cost per dry cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, false,
     "Feed cost of a dry cow over a year of dry months."},
    {"feedcostlac_cyr   ", SLOTS(feedcostlac_cyr), "Feed cost per milking cow", U::MONEY_PER_COW_YEAR, G::MONEY, -1, false,
     "Feed cost of a lactating cow over a year of milking months."},
    {"cowvalue          ", SLOTS(cowvalue), "Value of a cow", U::MONEY_PER_COW, G::HERD, +1, false,
     "Her sale value plus what keeping her is worth over a heifer, averaged over the herd."},
    {"dim               ", SLOTS(dim_yr), "Days in milk", U::DAYS, G::MILK, 0, false,
     "The average days in milk of the milking cows."},
    {"daysfs            ", SLOTS(daysfs), "Days to first service", U::DAYS, G::REPRODUCTION, -1, false,
     "Days from calving to the first insemination."},
    {"cullprice y       ", SLOTS(cullprice_yr), "Price per cull cow", U::MONEY_PER_CULL, G::HERD, +1, false,
     "What a cow that leaves the herd sells for on average."},
    {"replopen_mlk      ", SLOTS(replopen_mlk_avg[0][0]), "Milk of open cows culled by choice", U::MILK_PER_DAY, G::HERD, 0, false,
     "The daily milk of the open cows the policy replaces, when they go."},
    {"replopen_cur      ", SLOTS(replopen_cur_avg[0][0]), "Yield class of open cows culled by choice", U::YIELD_CLASS, G::HERD, 0, false,
     "The yield class (1 lowest, 15 highest) of the open cows the policy replaces."},
    {"replopen_rev      ", SLOTS(replopen_rev_avg[0][0]), "Revenue of open cows culled by choice", U::MONEY_PER_DAY, G::HERD, 0, false,
     "The daily revenue of the open cows the policy replaces, when they go."},
    {"replopen_iof      ", SLOTS(replopen_iof_avg[0][0]), "Income over feed of open cows culled by choice", U::MONEY_PER_DAY, G::HERD, 0, false,
     "The daily income over feed cost of the open cows the policy replaces, when they go."},
    {"replopen_rpo      ", SLOTS(replopen_rpo_avg[0][0]), "Retention pay-off of open cows culled by choice", U::MONEY_PER_COW, G::HERD, 0, false,
     "What keeping the open cows the policy replaces would have been worth (below zero: nothing)."},
    {"replopen_dim      ", SLOTS(replopen_dim_avg[0][0]), "Days in milk of open cows culled by choice", U::DAYS, G::HERD, 0, false,
     "The days in milk at which the policy replaces open cows."},
    {"dvwp              ", SLOTS(dvwp_yr), "Days to the end of the waiting period", U::DAYS, G::REPRODUCTION, 0, false,
     "Days from calving to the end of the voluntary waiting period, as the policy sets it."},
    {"dlbm              ", SLOTS(dlbm_yr), "Days to last breeding", U::DAYS, G::REPRODUCTION, 0, false,
     "Days from calving to the last month in which the policy still breeds an open cow."},
    {"daysopen_cost     ", SLOTS(daysopen_cost), "Cost of a further day open", U::MONEY_PER_DAY, G::REPRODUCTION, -1, false,
     "What one more day without conception costs, on average over the open cows."},
    {"dayspreg_cost     ", SLOTS(dayspreg_cost), "Cost of delaying conception a day", U::MONEY_PER_DAY, G::REPRODUCTION, -1, false,
     "What putting a pregnancy off by a day costs, on average over the pregnant cows."},
};

const std::size_t YEARLY_FIGURE_COUNT = std::size(YEARLY_FIGURES);
static_assert(std::size(YEARLY_FIGURES) == 65, "the report's yearly block has 65 figures");

std::string figure_key(const YearlyFigure& f)
{
    std::string key = f.label;
    while (!key.empty() && key.back() == ' ')
        key.pop_back();
    return key;
}

const YearlyFigure* find_yearly_figure(const std::string& key)
{
    for (const YearlyFigure& f : YEARLY_FIGURES)
        if (figure_key(f) == key)
            return &f;
    return nullptr;
}

namespace {

struct UnitWords {
    FigureUnit unit;
    const char* code;
    const char* text; /* {m} stands for the milk unit */
};

const UnitWords UNIT_WORDS[] = {
    {U::MONEY_PER_COW_YEAR, "money/cow/year", "money per cow per year"},
    {U::MONEY_PER_100_MILK, "money/100 milk", "money per 100 {m} of milk"},
    {U::MILK_PER_COW_YEAR, "milk/cow/year", "{m} per cow per year"},
    {U::MILK_PER_100_MILK, "milk/100 milk", "{m} per 100 {m} of milk"},
    {U::MONEY_PER_COW, "money/cow", "money per cow"},
    {U::MONEY_PER_CULL, "money/cull", "money per cow culled"},
    {U::MONEY_PER_PREGNANCY, "money/pregnancy", "money per pregnancy"},
    {U::MONEY_PER_DAY, "money/day", "money per cow per day"},
    {U::MILK_PER_DAY, "milk/day", "{m} per cow per day"},
    {U::RATE_PER_COW_YEAR, "%/year", "% of cows per year"},
    {U::SHARE, "%", "%"},
    {U::DAYS, "days", "days"},
    {U::DAYS_PER_YEAR, "days/year", "days per year"},
    {U::MONTHS, "months", "months"},
    {U::YIELD_CLASS, "class", "yield class"},
};

const UnitWords& words(FigureUnit u)
{
    for (const UnitWords& w : UNIT_WORDS)
        if (w.unit == u)
            return w;
    return UNIT_WORDS[0];
}

} // namespace

const char* unit_code(FigureUnit u)
{
    return words(u).code;
}

const char* group_code(FigureGroup g)
{
    switch (g) {
    case G::MONEY: return "money";
    case G::MILK: return "milk";
    case G::HERD: return "herd and culling";
    case G::REPRODUCTION: return "reproduction";
    }
    return "";
}

std::string unit_text(FigureUnit u, bool kg)
{
    std::string out;
    for (const char* p = words(u).text; *p; p++) {
        if (std::strncmp(p, "{m}", 3) == 0) {
            out += kg ? "kg" : "lb";
            p += 2;
        } else {
            out += *p;
        }
    }
    return out;
}
