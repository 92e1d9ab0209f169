#include <gtest/gtest.h>

#include "DataAccess.h"
#include "MemoryDataAccess.h"

using namespace data;

namespace {

// id, name: (1, "one"), (2, NULL), (3, "")
ResultTable threeRows() {
    ResultTable t;
    Column& id = t.addColumn("Id", ValueKind::Integer);
    Column& name = t.addColumn("Name", ValueKind::Text);
    for (int i = 1; i <= 3; ++i) id.append(FieldValue::integer(i));
    name.append(FieldValue::text(u"one"));
    name.append(FieldValue());
    name.append(FieldValue::text(u""));
    return t;
}

void expectFails(const std::function<void()>& f, const char* message) {
    try {
        f();
        ADD_FAILURE() << "no DataError, expected: " << message;
    } catch (const DataError& e) {
        EXPECT_EQ(e.description(), QString::fromLatin1(message));
    }
}

TEST(Recordset, WalksEveryRecordThenStopsAtEof) {
    Recordset rs;
    rs.OpenResult(threeRows());
    std::vector<std::int64_t> ids;
    while (!rs.Eof()) {
        ids.push_back(rs.GetFields().Item(0).Value().asInteger());
        rs.MoveNext();
    }
    EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3}));
    expectFails([&] { rs.MoveNext(); }, messages::kNoCurrentRecord);
    expectFails([&] { rs.GetFields().Item("Id").Value(); }, messages::kNoCurrentRecord);
    EXPECT_EQ(rs.GetFields().Item(1).Name(), "Name");  // names stay readable at EOF
}

TEST(Recordset, FindsFieldsByOrdinalAndByNameIgnoringCase) {
    Recordset rs;
    rs.OpenResult(threeRows());
    rs.MoveNext();
    const Fields f = rs.GetFields();
    EXPECT_EQ(f.Count(), 2);
    EXPECT_EQ(f.Item("NAME").Name(), "Name");
    EXPECT_TRUE(f.Item("name").Value().isNull());
    EXPECT_EQ(f.Item("id").Value().asInteger(), 2);
    expectFails([&] { f.Item("Missing"); }, messages::kItemNotFound);
    expectFails([&] { f.Item(2); }, messages::kItemNotFound);
    expectFails([&] { f.Item(-1); }, messages::kItemNotFound);
}

TEST(Recordset, AFieldKeptAcrossMovesReadsTheCurrentRecordUntilTheSetCloses) {
    Recordset rs;
    rs.OpenResult(threeRows());
    const Field id = rs.GetFields().Item("id");
    const Field name = rs.GetFields().Item(1);
    rs.MoveNext();
    rs.MoveNext();
    EXPECT_EQ(id.Value().asInteger(), 3);
    EXPECT_EQ(name.Value().asText(), QStringView(u""));
    rs.MoveNext();
    expectFails([&] { id.Value(); }, messages::kNoCurrentRecord);
    rs.Close();
    expectFails([&] { id.Value(); }, messages::kObjectClosed);
    expectFails([&] { name.Name(); }, messages::kObjectClosed);
    ResultTable narrower;
    narrower.addColumn("Id", ValueKind::Integer).append(FieldValue::integer(7));
    rs.OpenResult(std::move(narrower));
    EXPECT_EQ(id.Value().asInteger(), 7);
    expectFails([&] { name.Value(); }, messages::kItemNotFound);
}

TEST(Recordset, GetRowsHandsOverTheStorageWithoutCopying) {
    Recordset rs;
    rs.OpenResult(threeRows());
    const char16_t* stored = rs.GetFields().Item(1).Value().asText().utf16();
    ResultTable rows = rs.GetRows();
    ASSERT_EQ(rows.rowCount(), 3u);
    EXPECT_EQ(rows.value(1, 0).asText().utf16(), stored);
    EXPECT_TRUE(rows.value(1, 1).isNull());
    EXPECT_FALSE(rows.value(1, 2).isNull());
    EXPECT_TRUE(rs.Eof());
    EXPECT_EQ(rs.GetFields().Count(), 2);
    expectFails([&] { rs.GetRows(); }, messages::kNoCurrentRecord);
}

TEST(Recordset, GetRowsFromTheMiddleHandsOverTheRest) {
    ResultTable t;
    Column& c = t.addColumn("s", ValueKind::Text);
    for (int i = 0; i < 200; ++i) {
        c.append(i % 7 == 0 ? FieldValue() : FieldValue::text(QString::number(i)));
    }
    Recordset rs;
    rs.OpenResult(std::move(t));
    for (int i = 0; i < 70; ++i) rs.MoveNext();
    const ResultTable rest = rs.GetRows();
    ASSERT_EQ(rest.rowCount(), 130u);
    for (std::size_t r = 0; r < rest.rowCount(); ++r) {
        const int i = static_cast<int>(r) + 70;
        if (i % 7 == 0) {
            EXPECT_TRUE(rest.value(0, r).isNull()) << i;
        } else {
            EXPECT_EQ(rest.value(0, r).asText(), QString::number(i)) << i;
        }
    }
}

TEST(Recordset, ClosedAndOpenStatesRefuseWhatTheyCannotDo) {
    Recordset rs;
    EXPECT_EQ(rs.State(), adStateClosed);
    expectFails([&] { rs.Eof(); }, messages::kObjectClosed);
    expectFails([&] { rs.MoveNext(); }, messages::kObjectClosed);
    expectFails([&] { rs.GetFields(); }, messages::kObjectClosed);
    expectFails([&] { rs.GetRows(); }, messages::kObjectClosed);
    expectFails([&] { rs.Close(); }, messages::kObjectClosed);

    rs.OpenResult(threeRows());
    EXPECT_EQ(rs.State(), adStateOpen);
    expectFails([&] { rs.OpenResult(threeRows()); }, messages::kObjectOpen);
    rs.Close();
    EXPECT_EQ(rs.State(), adStateClosed);
    expectFails([&] { rs.Close(); }, messages::kObjectClosed);
}

TEST(Recordset, EmptyResultIsAtEofAtOnce) {
    ResultTable t;
    t.addColumn("x", ValueKind::Integer);
    Recordset rs;
    rs.OpenResult(std::move(t));
    EXPECT_TRUE(rs.Eof());
    EXPECT_EQ(rs.GetFields().Count(), 1);
    expectFails([&] { rs.GetRows(); }, messages::kNoCurrentRecord);
}

TEST(Recordset, OpenRunsTheSourceOnTheConnection) {
    MemoryDataAccess db;
    db.addTable("People", threeRows());
    auto conn = db.CreateConnection();
    conn->Open("Driver={SQL Server};Server=h;");
    auto rs = db.CreateRecordset();
    rs->Open("select * from people", *conn, adOpenStatic, adLockReadOnly);
    EXPECT_EQ(rs->GetFields().Item("Name").Value().asText(), QStringView(u"one"));
    EXPECT_EQ(db.queries(), QStringList{"select * from people"});
    expectFails([&] { rs->Open("select * from people", *conn); }, messages::kObjectOpen);
}

TEST(Recordset, SchemaRowsetOpensOnItsFirstRow) {
    MemoryDataAccess db;
    ResultTable schema;
    schema.addColumn("TABLE_NAME", ValueKind::Text).append(FieldValue::text(u"Customers"));
    schema.addColumn("TABLE_TYPE", ValueKind::Text).append(FieldValue::text(u"TABLE"));
    db.setSchemaTables(schema);
    auto conn = db.CreateConnection();
    conn->Open("x");
    auto rs = conn->OpenSchemaTables();
    ASSERT_EQ(rs->State(), adStateOpen);
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->GetFields().Item("TABLE_TYPE").Value().asText(), QStringView(u"TABLE"));
}

}  // namespace
