#include <gtest/gtest.h>

#include "DataAccess.h"
#include "OdbcFetch.h"

using namespace data;
using namespace data::odbc;

namespace {

TEST(OdbcText, ExactNumbersParseWithoutLoss) {
    auto e = parseExact("-12345678901234.5678");
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->unscaled == -123456789012345678);
    EXPECT_EQ(e->scale, 4);
    e = parseExact("99999999999999999999999999999999999999");
    ASSERT_TRUE(e);
    const __int128 e19 = static_cast<__int128>(10'000'000'000'000'000'000U);
    EXPECT_TRUE(e->unscaled == e19 * e19 - 1);
    e = parseExact(".5");
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->unscaled == 5);
    EXPECT_EQ(e->scale, 1);
    e = parseExact("0.0000");
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->unscaled == 0);
    EXPECT_EQ(e->scale, 4);
    EXPECT_FALSE(parseExact(""));
    EXPECT_FALSE(parseExact("-"));
    EXPECT_FALSE(parseExact("1e5"));
    EXPECT_FALSE(parseExact("1.2.3"));
    EXPECT_FALSE(parseExact("123456789012345678901234567890123456789"));  // 39 digits
}

TEST(OdbcText, TimesOfDayKeepTheirFraction) {
    EXPECT_EQ(parseTimeOfDay("23:59:59.1234560"), 863'991'234'560);
    EXPECT_EQ(parseTimeOfDay("00:00:00"), 0);
    EXPECT_EQ(parseTimeOfDay("12:00:00.5"), 432'005'000'000);
    EXPECT_FALSE(parseTimeOfDay("24:00:00"));
    EXPECT_FALSE(parseTimeOfDay("12:00"));
    EXPECT_FALSE(parseTimeOfDay("12:00:00.12345678"));
}

TEST(OdbcText, DaysCountFromYearOne) {
    EXPECT_EQ(daysSinceEpoch(1, 1, 1), 0);
    EXPECT_EQ(daysSinceEpoch(1900, 1, 1), 693'595);
    EXPECT_EQ(daysSinceEpoch(1970, 1, 1), 719'162);
    EXPECT_EQ(daysSinceEpoch(2024, 3, 1) - daysSinceEpoch(2024, 2, 28), 2);
    EXPECT_EQ(daysSinceEpoch(9999, 12, 31), 3'652'058);
}

// No server needed: the driver manager itself refuses a driver it cannot load
// (01000, not IM002), and its record must come through as the description.
TEST(OdbcLayer, UnknownDriverFailsWithTheDriverManagersRecord) {
    auto conn = OdbcDataAccess().CreateConnection();
    try {
        conn->Open("Driver={No Such Driver};Server=127.0.0.1,1;Uid=u;Pwd=p;");
        ADD_FAILURE() << "opened";
    } catch (const DataError& e) {
        EXPECT_EQ(e.sqlState(), "01000");
        EXPECT_EQ(e.description(),
                  "[unixODBC][Driver Manager]Can't open lib 'No Such Driver' : file not found");
    }
    EXPECT_EQ(conn->State(), adStateClosed);
    EXPECT_THROW(conn->FetchQuery("select 1"), DataError);
    conn->Close();  // closing a closed connection does nothing
}

}  // namespace
