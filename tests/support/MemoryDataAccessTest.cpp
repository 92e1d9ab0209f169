#include <gtest/gtest.h>

#include "MemoryDataAccess.h"

using namespace data;

namespace {

ResultTable numbers(int n) {
    ResultTable t;
    Column& c = t.addColumn("n", ValueKind::Integer);
    for (int i = 0; i < n; ++i) c.append(FieldValue::integer(i));
    return t;
}

QString failureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const DataError& e) {
        return e.description();
    }
    return QStringLiteral("(no failure)");
}

TEST(MemoryDataAccess, FailsTheNthStepOnly) {
    MemoryDataAccess db;
    db.failOn(Operation::Open, "no server", 2);
    auto a = db.CreateConnection();
    auto b = db.CreateConnection();
    auto c = db.CreateConnection();
    EXPECT_EQ(failureOf([&] { a->Open("s"); }), "(no failure)");
    EXPECT_EQ(failureOf([&] { b->Open("s"); }), "no server");
    EXPECT_EQ(b->State(), adStateClosed);
    EXPECT_EQ(failureOf([&] { c->Open("s"); }), "(no failure)");
    EXPECT_EQ(db.openConnections(), 2);
}

TEST(MemoryDataAccess, FailsAlwaysOnlyForTheGivenQuery) {
    MemoryDataAccess db;
    db.addTable("a", numbers(1));
    db.addTable("b", numbers(2));
    db.failAlways(Operation::Query, "bad table", "select * from b");
    auto conn = db.CreateConnection();
    conn->Open("s");
    for (int i = 0; i < 2; ++i) {
        Recordset ra, rb;
        EXPECT_EQ(failureOf([&] { ra.Open("select * from a", *conn); }), "(no failure)");
        EXPECT_EQ(failureOf([&] { rb.Open("select * from b", *conn); }), "bad table");
        EXPECT_EQ(rb.State(), adStateClosed);
    }
}

TEST(MemoryDataAccess, RecordsOptionsAsTheyWereAtOpen) {
    MemoryDataAccess db;
    auto conn = db.CreateConnection();
    conn->Mode = adModeReadWrite;
    conn->CommandTimeout = 5000;
    conn->ConnectionTimeout = 5000;
    conn->CursorLocation = adUseClient;
    conn->Open("Driver={SQL Server};Server=h,1433;");
    conn->CommandTimeout = 1;  // after Open: not part of the record
    ASSERT_EQ(db.opens().size(), 1u);
    const auto& o = db.opens()[0];
    EXPECT_EQ(o.connectionString, "Driver={SQL Server};Server=h,1433;");
    EXPECT_EQ(o.mode, 3);
    EXPECT_EQ(o.commandTimeout, 5000);
    EXPECT_EQ(o.connectionTimeout, 5000);
    EXPECT_EQ(o.cursorLocation, 3);
    EXPECT_EQ(
        db.log().mid(1, 5),
        (QStringList{"SetOption Mode", "SetOption CommandTimeout", "SetOption ConnectionTimeout",
                     "SetOption CursorLocation", "Open Driver={SQL Server};Server=h,1433;"}));
}

TEST(MemoryDataAccess, FailsSettingAnOptionAndKeepsTheOldValue) {
    MemoryDataAccess db;
    db.failOn(Operation::SetOption, "not allowed", 1, "CommandTimeout");
    auto conn = db.CreateConnection();
    conn->Mode = 3;
    EXPECT_EQ(failureOf([&] { conn->CommandTimeout = 5000; }), "not allowed");
    EXPECT_EQ(conn->CommandTimeout, 30);
    auto rs = db.CreateRecordset();
    db.failOn(Operation::SetOption, "no cursor", 1, "CursorLocation");
    EXPECT_EQ(failureOf([&] { rs->CursorLocation = adUseClient; }), "no cursor");
    EXPECT_EQ(rs->CursorLocation, adUseServer);
}

TEST(MemoryDataAccess, FailsRecordsetSteps) {
    MemoryDataAccess db;
    db.addTable("t", numbers(3));
    db.failOn(Operation::MoveNext, "move", 2);
    db.failOn(Operation::FieldValue, "value", 1, "n");
    db.failOn(Operation::FieldName, "name", 1, "n");
    db.failOn(Operation::GetRows, "rows");
    db.failOn(Operation::Eof, "eof", 3);
    db.failOn(Operation::RecordsetClose, "close");
    auto conn = db.CreateConnection();
    conn->Open("s");
    auto rs = db.CreateRecordset();
    rs->Open("select * from t", *conn);
    EXPECT_EQ(failureOf([&] { rs->GetFields().Item("n").Value(); }), "value");
    EXPECT_EQ(rs->GetFields().Item("n").Value().asInteger(), 0);
    EXPECT_EQ(failureOf([&] { rs->GetFields().Item(0).Name(); }), "name");
    EXPECT_EQ(rs->GetFields().Item(0).Name(), "n");
    rs->MoveNext();
    EXPECT_EQ(failureOf([&] { rs->MoveNext(); }), "move");
    EXPECT_EQ(rs->GetFields().Item(0).Value().asInteger(), 1);  // the failed move did not move
    EXPECT_FALSE(rs->Eof());
    EXPECT_FALSE(rs->Eof());
    EXPECT_EQ(failureOf([&] { rs->Eof(); }), "eof");
    EXPECT_EQ(failureOf([&] { rs->GetRows(); }), "rows");
    EXPECT_EQ(rs->GetRows().rowCount(), 2u);
    EXPECT_EQ(failureOf([&] { rs->Close(); }), "close");
    EXPECT_EQ(rs->State(), adStateOpen);
}

TEST(MemoryDataAccess, FailsCreatingObjectsSchemaAndStatements) {
    MemoryDataAccess db;
    db.failOn(Operation::CreateConnection, "no layer");
    db.failOn(Operation::CreateRecordset, "no recordset");
    db.failOn(Operation::OpenSchema, "no schema");
    db.failOn(Operation::Execute, "no execute");
    db.failOn(Operation::Close, "no close");
    EXPECT_EQ(failureOf([&] { db.CreateConnection(); }), "no layer");
    EXPECT_EQ(failureOf([&] { db.CreateRecordset(); }), "no recordset");
    auto conn = db.CreateConnection();
    conn->Open("s");
    EXPECT_EQ(failureOf([&] { conn->OpenSchemaTables(); }), "no schema");
    EXPECT_EQ(failureOf([&] { conn->Execute("create table x (a int)"); }), "no execute");
    EXPECT_EQ(db.executed(), QStringList{"create table x (a int)"});
    EXPECT_EQ(failureOf([&] { conn->Close(); }), "no close");
    conn->Close();
    EXPECT_EQ(db.openConnections(), 0);
}

TEST(MemoryDataAccess, AnswersLikeTheServerForUnknownTablesAndClosedConnections) {
    MemoryDataAccess db;
    db.addTable("Known", numbers(2));
    auto conn = db.CreateConnection();
    Recordset rs;
    EXPECT_EQ(failureOf([&] { rs.Open("select * from Known", *conn); }), messages::kObjectClosed);
    conn->Open("s");
    EXPECT_EQ(MemoryDataAccess::copyOf(conn->FetchQuery("SELECT * FROM [known]")).rowCount(), 2u);
    try {
        conn->FetchQuery("select * from Nosuch");
        ADD_FAILURE();
    } catch (const DataError& e) {
        EXPECT_EQ(e.description(), "[FreeTDS][SQL Server]Invalid object name 'Nosuch'.");
        EXPECT_EQ(e.sqlState(), "42S02");
        EXPECT_EQ(e.nativeCode(), 208);
    }
}

TEST(MemoryDataAccess, HandsOutCopiesSoTablesCanBeReadAgain) {
    MemoryDataAccess db;
    db.addTable("t", numbers(3));
    auto conn = db.CreateConnection();
    conn->Open("s");
    for (int i = 0; i < 2; ++i) {
        Recordset rs;
        rs.Open("select * from t", *conn);
        EXPECT_EQ(rs.GetRows().rowCount(), 3u);
    }
    auto dropped = db.CreateConnection();
    dropped->Open("s");
    dropped.reset();  // released while open: closed by its release
    EXPECT_EQ(db.openConnections(), 1);
}

}  // namespace
