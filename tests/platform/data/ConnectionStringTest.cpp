#include <gtest/gtest.h>


#include "ConnectionString.h"

using namespace data;

namespace {

TEST(ConnectionString, ReadsValuesTheWayTheDriverDoes) {
    const QString cs = "Driver={SQL Server};Server=h,1;Database=db;Uid=u;Pwd={pa;ss}}word};";
    EXPECT_EQ(connectionStringValue(cs, u"pwd"), QString("pa;ss}word"));
    EXPECT_EQ(connectionStringValue(cs, u"DRIVER"), QString("SQL Server"));
    EXPECT_EQ(connectionStringValue(cs, u"Database"), QString("db"));
    EXPECT_EQ(connectionStringValue(cs, u"Port"), std::nullopt);
    EXPECT_EQ(connectionStringValue(u"Server=a; Server=b", u"server"), QString("b"));
    EXPECT_EQ(connectionStringValue(u"Uid=;Pwd=x", u"uid"), QString(""));
    EXPECT_EQ(connectionStringValue(u"Pwd={open;Uid=u", u"uid"), std::nullopt);
}

TEST(ConnectionString, PlainHostNeedsTheDefaultPort) {
    EXPECT_TRUE(needsDefaultPort(u"Driver={SQL Server};Server=db.example;Database=d;Uid=u;Pwd=p;"));
    EXPECT_TRUE(needsDefaultPort(u"Driver={SQL Server};Server={127.0.0.1};Pwd={a,b\\c};"));
}

TEST(ConnectionString, PortInstanceOrConfiguredServerKeepTheirOwn) {
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=h,1444;Uid=u;"));
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=localhost\\SQLEXPRESS;Uid=u;"));
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=h;Port=1500;"));
    EXPECT_FALSE(needsDefaultPort(u"DSN=mine;Uid=u;"));
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=h,;Database=d;"));
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Database=d;"));
}

}  // namespace
