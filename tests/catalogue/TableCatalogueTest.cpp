// The catalogue's rules without a window: what it lists, in which order, and
// what a failure leaves behind.

#include <gtest/gtest.h>

#include "MemoryDataAccess.h"
#include "TableCatalogue.h"
#include "Tables.h"

namespace {

using testing_support::SchemaRowset;

class RecordingList : public catalogue::TableListItems {
public:
    void Clear() override {
        items.clear();
        ++clears;
    }
    void Add(const catalogue::TableName& table) override {
        items << table.listed();
        tables.push_back(table);
    }

    QStringList items{QStringLiteral("old")};
    std::vector<catalogue::TableName> tables;
    int clears = 0;
};

connection::LoginDetails Login() {
    return {QStringLiteral("db.example"), QStringLiteral("sa"),   QStringLiteral("pw"),
            QStringLiteral("Sales"),      QStringLiteral("1433"), false};
}

TEST(TableCatalogue, ListsTablesOfTypeTableWithoutSysInTheirNamesInRowsetOrder) {
    data::MemoryDataAccess layer;
    layer.setSchemaTables(SchemaRowset({{"Orders", "TABLE"},
                                        {"Analysis", "TABLE"},  // ANALYSIS holds no "SYS"
                                        {"ANALYSYS", "TABLE"},
                                        {"mysystem", "TABLE"},
                                        {"SysLog", "TABLE"},
                                        {"Lower", "table"},  // the type must match exactly
                                        {"OrderView", "VIEW"},
                                        {"sysobjects", "SYSTEM TABLE"},
                                        {"Customers", "TABLE"},
                                        {"Customers", "TABLE"},
                                        {"ärger", "TABLE"}}));
    RecordingList list;
    catalogue::FillTableList(list, catalogue::ReadTableCatalogue(Login(), layer));
    EXPECT_EQ(list.items, (QStringList{"Orders", "Analysis", "Customers", "Customers", "ärger"}));
    EXPECT_EQ(list.clears, 1);
    EXPECT_EQ(layer.openConnections(), 0);
}

// A table of another schema than dbo is listed with its schema, so that equal
// names of two schemas differ; the "SYS" rule looks at the table's own name.
TEST(TableCatalogue, TablesOfOtherSchemasAreListedWithTheirSchema) {
    data::MemoryDataAccess layer;
    layer.setSchemaTables(testing_support::QualifiedSchemaRowset({{"dbo", "Orders", "TABLE"},
                                                                  {"sales", "Orders", "TABLE"},
                                                                  {"system", "Orders", "TABLE"},
                                                                  {"sales", "sysdiagrams", "TABLE"},
                                                                  {"", "Loose", "TABLE"}}));
    RecordingList list;
    catalogue::FillTableList(list, catalogue::ReadTableCatalogue(Login(), layer));
    EXPECT_EQ(list.items, (QStringList{"Orders", "sales.Orders", "system.Orders", "Loose"}));
    EXPECT_EQ(list.tables[1], (catalogue::TableName{"sales", "Orders"}));
}

// Asked for, views are listed among the tables in rowset order and marked
// as views; the type and "SYS" rules hold for them as for tables, and the
// server's own catalogue views (sys, INFORMATION_SCHEMA) are left out.
TEST(TableCatalogue, ViewsAreListedOnlyWhenAskedFor) {
    data::MemoryDataAccess layer;
    layer.setSchemaTables(
        testing_support::QualifiedSchemaRowset({{"dbo", "Orders", "TABLE"},
                                                {"sales", "OrderView", "VIEW"},
                                                {"dbo", "SysView", "VIEW"},
                                                {"dbo", "Lower", "view"},
                                                {"INFORMATION_SCHEMA", "COLUMNS", "VIEW"},
                                                {"sys", "objects", "VIEW"},
                                                {"Sys", "Tables", "VIEW"},
                                                {"sys", "Keep", "TABLE"},
                                                {"sys", "sysobjects", "SYSTEM TABLE"},
                                                {"dbo", "Customers", "TABLE"}}));
    RecordingList tablesOnly;
    catalogue::FillTableList(tablesOnly, catalogue::ReadTableCatalogue(Login(), layer));
    EXPECT_EQ(tablesOnly.items, (QStringList{"Orders", "sys.Keep", "Customers"}));
    RecordingList withViews;
    catalogue::FillTableList(withViews, catalogue::ReadTableCatalogue(Login(), layer, true));
    EXPECT_EQ(withViews.items, (QStringList{"Orders", "sales.OrderView", "sys.Keep", "Customers"}));
    EXPECT_FALSE(withViews.tables[0].view);
    EXPECT_EQ(withViews.tables[1], (catalogue::TableName{"sales", "OrderView", true}));
}

TEST(TableCatalogue, AFailureBeforeTheRowsetIsOpenLeavesTheListAsItWas) {
    data::MemoryDataAccess layer;
    layer.setSchemaTables(SchemaRowset({{"Orders", "TABLE"}}));
    for (const data::Operation op : {data::Operation::Open, data::Operation::OpenSchema}) {
        layer.failOn(op, QStringLiteral("refused"));
        RecordingList list;
        EXPECT_THROW(catalogue::FillTableList(list, catalogue::ReadTableCatalogue(Login(), layer)),
                     data::DataError);
        EXPECT_EQ(list.items, QStringList{"old"});
        EXPECT_EQ(list.clears, 0);
        EXPECT_EQ(layer.openConnections(), 0);
    }
}

// A read that fails part-way keeps what it read: the list shows those names
// and the failure is thrown after them.
TEST(TableCatalogue, AFailurePartWayKeepsTheNamesReadBeforeIt) {
    data::MemoryDataAccess layer;
    layer.setSchemaTables(SchemaRowset({{"A", "TABLE"}, {"B", "TABLE"}, {"C", "TABLE"}}));
    layer.failOn(data::Operation::MoveNext, QStringLiteral("Communication link failure"), 2);
    const catalogue::CatalogueRead read = catalogue::ReadTableCatalogue(Login(), layer);
    RecordingList list;
    EXPECT_THROW(catalogue::FillTableList(list, read), data::DataError);
    EXPECT_EQ(list.items, (QStringList{"A", "B"}));
    EXPECT_EQ(layer.openConnections(), 0);
}

}  // namespace
