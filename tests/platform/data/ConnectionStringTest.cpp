#include <gtest/gtest.h>

#include "ConnectionString.h"
#include "DataError.h"

using namespace data;

namespace {

// Values a user may type that the driver's grammar treats specially.
TEST(ConnectionStringGrammar, EveryPassableValueReadsBackUnchanged) {
    const QString values[] = {
        "",           "plain",        "pa;ss}word", "}",
        "}}",         "a}}b",         "ab}",        "{",
        "{open",      "{a}",          "{{",         "}{",
        " sp ",       "a=b",          ";",          "a;b}}",
        "x;Pwd=evil", "{x;Uid=evil}", "Driver={x}", QString::fromUtf8("pä;ß}€"),
    };
    for (const QString& v : values) {
        const QString cs = "Driver={SQL Server};Server=h,1;Uid=" + QuoteConnectionValue(v) +
                           ";Pwd=" + QuoteConnectionValue(v) + ";Database=db;";
        EXPECT_EQ(connectionStringValue(cs, u"Uid"), v) << cs.toStdString();
        EXPECT_EQ(connectionStringValue(cs, u"Pwd"), v) << cs.toStdString();
        EXPECT_EQ(connectionStringValue(cs, u"Database"), QString("db")) << cs.toStdString();
        EXPECT_EQ(connectionStringValue(cs, u"Server"), QString("h,1")) << cs.toStdString();
    }
}

TEST(ConnectionStringGrammar, ValueTheDriverWouldEndEarlyIsRefused) {
    for (QStringView v : {QStringView(u"a};b"), QStringView(u"};"), QStringView(u"x};Uid=sa;"),
                          QStringView(u"a\0b", 3)}) {
        EXPECT_THROW(QuoteConnectionValue(v), DataError) << v.toString().toStdString();
    }
}

// What FreeTDS 1.3.17 made of these strings (user names and passwords seen at
// the test server): "}}" stays, a braced value ends at the first "};".
TEST(ConnectionStringGrammar, ReadsValuesTheWayTheDriverDoes) {
    const QString cs = "Driver={SQL Server};Server=h,1;Database=db;Uid=u;Pwd={pa;ss}}word};";
    EXPECT_EQ(connectionStringValue(cs, u"pwd"), QString("pa;ss}}word"));
    EXPECT_EQ(connectionStringValue(cs, u"DRIVER"), QString("SQL Server"));
    EXPECT_EQ(connectionStringValue(cs, u"Database"), QString("db"));
    EXPECT_EQ(connectionStringValue(cs, u"Port"), std::nullopt);
    EXPECT_EQ(connectionStringValue(u"Uid={u};v};", u"uid"), QString("u"));
    EXPECT_EQ(connectionStringValue(u"Uid={uv}", u"uid"), QString("uv}"));
    EXPECT_EQ(connectionStringValue(u"Uid= u ;Pwd=a=b", u"pwd"), QString("a=b"));
    EXPECT_EQ(connectionStringValue(u"Uid= u ;Pwd=a=b", u"uid"), QString(" u "));
    EXPECT_EQ(connectionStringValue(u"Pwd=x; Uid =u;", u"uid"), std::nullopt);
    EXPECT_EQ(connectionStringValue(u"uid=u; UID=w", u"uid"), QString("w"));
    EXPECT_EQ(connectionStringValue(u"Server=a; Server=b", u"server"), QString("a"));
    EXPECT_EQ(connectionStringValue(u"Uid=;Pwd=x", u"uid"), QString(""));
    EXPECT_EQ(connectionStringValue(u"Pwd={open;Uid=u", u"uid"), std::nullopt);
}

TEST(ConnectionStringGrammar, PlainHostNeedsTheDefaultPort) {
    EXPECT_TRUE(needsDefaultPort(u"Driver={SQL Server};Server=db.example;Database=d;Uid=u;Pwd=p;"));
    EXPECT_TRUE(needsDefaultPort(u"Driver={SQL Server};Server={127.0.0.1};Pwd={a,b\\c};"));
    EXPECT_TRUE(needsDefaultPort(u"Driver={SQL Server};Server=h;Pwd={x;Port=1}};"));
}

TEST(ConnectionStringGrammar, PortInstanceOrConfiguredServerKeepTheirOwn) {
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=h,1444;Uid=u;"));
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=localhost\\SQLEXPRESS;Uid=u;"));
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=h;Port=1500;"));
    EXPECT_FALSE(needsDefaultPort(u"DSN=mine;Uid=u;"));
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=h,;Database=d;"));
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Database=d;"));
    // The braced password ends at the second brace of "}}": Port=1 is a key.
    EXPECT_FALSE(needsDefaultPort(u"Driver={SQL Server};Server=h;Pwd={a}};Port=1;}"));
}

}  // namespace
