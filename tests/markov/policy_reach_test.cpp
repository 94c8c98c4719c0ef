// Whether a policy read from a pol file decides every state the chain can
// visit: the hand-made herd's policy, and the same with holes where the
// chain goes and where it never goes.
#include <gtest/gtest.h>

#include <string>

#include "markov/herd_fixture.h"
#include "markov/markov.h"
#include "core/records.h"
#include "support/support.h"

namespace {

class PolicyReach : public testing::Test {
protected:
    void SetUp() override
    {
        allocate_records();
        BUILD_HAND_HERD(); /* 3 lactations, breeding months 2..8, sold at 20 */
    }
    bool decides(std::string& missing) { return POLICY_DECIDES_HERD(missing); }
    ScratchDir dir;
};

} // namespace

TEST_F(PolicyReach, HolesWhereTheChainNeverGoesDoNotMatter)
{
    std::string missing;
    ASSERT_TRUE(decides(missing)) << missing;
    ASSERT_EQ(bio->maxlact, 3);
    pol->decision[5][4][10][0][7] = DEC_NONE;  /* a lactation the herd does not have */
    pol->decision[5][2][bio->maxmim + 1][0][7] = DEC_NONE; /* past the last month in milk */
    pol->decision[5][1][1][0][7] = DEC_NONE;   /* a heifer's first month, passed through */
    pol->decision[5][2][10][9][7] = DEC_NONE;  /* 9 months pregnant at month 10: conceived at 1 */
    EXPECT_TRUE(decides(missing)) << missing;
}

TEST_F(PolicyReach, HolesAndWrongDecisionsWhereTheChainGoesAreNamed)
{
    std::string missing;
    pol->decision[6][2][15][0][10] = DEC_NONE;
    EXPECT_FALSE(decides(missing));
    EXPECT_EQ(missing, "t=10 curr:6 lact:2 mim:15 mpreg:0 has decision 8");
    pol->decision[6][2][15][0][10] = DEC_KEEP;

    pol->decision[6][2][12][0][3] = DEC_INSEMINATE; /* outside the breeding months */
    EXPECT_FALSE(decides(missing));
    EXPECT_EQ(missing, "t=3 curr:6 lact:2 mim:12 mpreg:0 has decision 2");
    pol->decision[6][2][12][0][3] = DEC_KEEP;

    pol->decision[6][3][9][2][24] = DEC_INSEMINATE; /* a pregnant cow */
    EXPECT_FALSE(decides(missing));
    EXPECT_EQ(missing, "t=24 curr:6 lact:3 mim:9 mpreg:2 has decision 2");
    pol->decision[6][3][9][2][24] = DEC_KEEP;

    pol->enter[5] = DEC_NONE;
    EXPECT_FALSE(decides(missing));
    EXPECT_EQ(missing, "t=5 heifer entry decision 8 (0 or 1)");
}
