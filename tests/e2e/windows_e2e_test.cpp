// The whole road through the windows, the real data-access layer, unixODBC
// and FreeTDS against the TDS test server: login, catalogue, comparison.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <functional>

#include "ComparisonOptionsDialog.h"
#include "DataAccess.h"
#include "ErrorReport.h"
#include "LoginWindow.h"
#include "Pointer.h"
#include "QueryDialog.h"
#include "RecordingMessageBoxes.h"
#include "RecordsWindow.h"
#include "ResultsWindow.h"
#include "Settings.h"
#include "SqlNames.h"
#include "TableQuery.h"
#include "TableSelectionWindow.h"
#include "TdsTestServer.h"
#include "WindowRegistry.h"
#include "data_loopback.h"

namespace {

using compare::QuotedIdentifier;

QString q(const std::string& s) { return QString::fromStdString(s); }

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        registry_ = std::make_unique<windows::WindowRegistry>(windows::Services{
            boxes, shell, data::OdbcDataAccess(), config_.path(), [this] { ++endCalls; }});
    }
    void TearDown() override {
        registry_.reset();
        QLocale::setDefault(QLocale::system());
    }

    windows::WindowRegistry& registry() { return *registry_; }

    // Runs statements on a connection of the test's own.
    static void exec(const QString& sql, const std::string& database = tdstest::kDatabase) {
        auto c = data::OdbcDataAccess().CreateConnection();
        c->Open(q(tdstest::tdsConnectionString(database)));
        c->Execute(sql);
        c->Close();
    }

    // A uniquely named table made from a column list and rows of values.
    static QString table(const std::string& prefix, const QString& columns,
                         const QStringList& rows) {
        const QString name = q(tdstest::tdsUniqueName(prefix));
        exec(QStringLiteral("create table %1 (%2)").arg(QuotedIdentifier(name), columns));
        for (const QString& row : rows) {
            exec(QStringLiteral("insert into %1 values (%2)").arg(QuotedIdentifier(name), row));
        }
        return name;
    }

    connection::LoginDetails details(const QString& database = QStringLiteral("testdb"),
                                     const QString& user = QStringLiteral("tester"),
                                     const QString& password = QStringLiteral("secret")) const {
        return connection::LoginDetails{QStringLiteral("127.0.0.1"),
                                        user,
                                        password,
                                        database,
                                        QString::number(tdstest::tdsTestPort()),
                                        false};
    }

    // Types the login into the login window and presses "Next >".
    void login(const QString& database = QStringLiteral("testdb")) {
        windows::Start(registry());
        windows::LoginWindow& f = registry().loginWindow();
        const connection::LoginDetails d = details(database);
        f.serverEdit()->setText(d.server);
        f.portEdit()->setText(d.port);
        f.userEdit()->setText(d.userName);
        f.passwordEdit()->setText(d.password);
        f.databaseEdit()->setText(d.database);
        QTest::mouseClick(f.nextButton(), Qt::LeftButton);
    }

    static int indexOf(const windows::TableListView& list, const QString& name) {
        for (int i = 0; i < list.topLevelItemCount(); ++i) {
            if (list.topLevelItem(i)->text(0) == name) return i + 1;
        }
        return 0;
    }

    // Logs in, picks the two tables by name and presses "Next >" on the table selection.
    void compare(const QString& first, const QString& second) {
        login();
        windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
        ASSERT_TRUE(f2.isVisible());
        const int left = indexOf(*f2.firstTables(), first),
                  right = indexOf(*f2.secondTables(), second);
        ASSERT_GT(left, 0) << first.toStdString();
        ASSERT_GT(right, 0) << second.toStdString();
        f2.firstTables()->Select(left);
        f2.secondTables()->Select(right);
        QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    }

    QStringList lines(int list) {
        QStringList out;
        windows::ResultsWindow* f3 = registry().existingResultsWindow();
        if (!f3) return out;
        const windows::ResultLinesModel* m =
            (list == 1 ? f3->fieldDifferences() : f3->recordDifferences())->linesModel();
        for (qsizetype i = 0; i < m->lineCount(); ++i) out << m->line(i);
        return out;
    }
    QStringList fieldLines() { return lines(1); }
    QStringList recordLines() { return lines(2); }

    testing_support::RecordingMessageBoxes boxes;
    testing_support::RecordingShell shell;
    int endCalls = 0;

private:
    QTemporaryDir config_;
    std::unique_ptr<windows::WindowRegistry> registry_;
};

TEST_F(EndToEnd, StoredLoginLandsOnTheTableSelectionWithBothListsFilled) {
    const QString name = table("Landing", QStringLiteral("Id int"), {QStringLiteral("1")});
    exec(QStringLiteral("create view [%1_view] as select * from [%1]").arg(name));
    const QString sys = table("MySysTable", QStringLiteral("Id int"), {});
    {
        connection::SettingsStore store;
        const connection::LoginDetails d = details();
        store.write(connection::kServerSetting, d.server);
        store.write(connection::kPortSetting, d.port);
        store.write(connection::kUserSetting, d.userName);
        store.write(connection::kPasswordSetting, d.password);
        store.write(connection::kDatabaseSetting, d.database);
    }
    windows::Start(registry());
    ASSERT_NE(registry().existingTableSelectionWindow(), nullptr);
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_FALSE(registry().loginWindow().isVisible());
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    EXPECT_GT(indexOf(*f2.firstTables(), name), 0);
    EXPECT_GT(indexOf(*f2.secondTables(), name), 0);
    EXPECT_EQ(indexOf(*f2.firstTables(), name + QStringLiteral("_view")),
              0);                                                            // views are not tables
    EXPECT_EQ(indexOf(*f2.firstTables(), sys), 0);                           // "SYS" in the name
    EXPECT_EQ(indexOf(*f2.firstTables(), QStringLiteral("sysobjects")), 0);  // system tables
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(EndToEnd, DatabaseWithoutTablesGivesEmptyListsAndTheSelectionMessage) {
    login(QStringLiteral("emptydb"));
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    EXPECT_TRUE(f2.isVisible());
    EXPECT_EQ(f2.firstTables()->topLevelItemCount(), 0);
    EXPECT_EQ(f2.secondTables()->topLevelItemCount(), 0);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.texts(), QStringList{"Please select a table from each."});
}

TEST_F(EndToEnd, TestConnectionTellsSuccessAndFailure) {
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    const connection::LoginDetails d = details();
    f.serverEdit()->setText(d.server);
    f.portEdit()->setText(d.port);
    f.userEdit()->setText(d.userName);
    f.passwordEdit()->setText(d.password);
    f.databaseEdit()->setText(d.database);
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    f.passwordEdit()->setText(QStringLiteral("wrong"));
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    f.passwordEdit()->setText(d.password);
    f.databaseEdit()->setText(QStringLiteral("nosuchdb"));
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    f.databaseEdit()->setText(d.database);
    f.portEdit()->setText(QString::number(data_e2e::closedPort()));
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    const QString refused =
        QStringLiteral("Could not connect. Please check with your administrator.");
    EXPECT_EQ(boxes.texts(), (QStringList{"Connection successful.", refused, refused, refused}));
    // The main text is the same; the driver's reason behind it tells the three apart.
    ASSERT_EQ(boxes.boxes.size(), 4u);
    EXPECT_EQ(boxes.boxes[0].details, QString());
    EXPECT_TRUE(boxes.boxes[1].details.contains(QStringLiteral("Login failed for user 'tester'")))
        << boxes.boxes[1].details.toStdString();
    EXPECT_TRUE(boxes.boxes[2].details.contains(QStringLiteral("nosuchdb")))
        << boxes.boxes[2].details.toStdString();
    EXPECT_FALSE(boxes.boxes[3].details.isEmpty());
    EXPECT_NE(boxes.boxes[3].details, boxes.boxes[1].details);
}

TEST_F(EndToEnd, SamePositionAndFirstTableWithoutData) {
    const QString empty = table("EmptyFirst", QStringLiteral("Id int"), {});
    const QString other = table("OtherEmpty", QStringLiteral("Id int"), {});
    compare(empty, other);
    EXPECT_EQ(boxes.texts(), QStringList{empty + QStringLiteral(" does not contain any data.")});
    EXPECT_EQ(registry().existingResultsWindow(), nullptr);
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_EQ(registry().tableSelectionWindow().MousePointer(), windows::kPointerNormal);
    boxes.boxes.clear();
    registry().tableSelectionWindow().secondTables()->Select(
        registry().tableSelectionWindow().firstTables()->SelectedIndex());
    QTest::mouseClick(registry().tableSelectionWindow().nextButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.texts(), QStringList{"Please select 2 different tables to compare."});
}

TEST_F(EndToEnd, AddedAndDeletedRecordsNameTheSecondTable) {
    const QString three = table("Three", QStringLiteral("Id int, Name nvarchar(20)"),
                                {"1, N'a'", "2, N'b'", "3, N'c'"});
    const QString five = table("Five", QStringLiteral("Id int, Name nvarchar(20)"),
                               {"1, N'a'", "2, N'b'", "3, N'c'", "4, N'd'", "5, N'e'"});
    compare(three, five);
    EXPECT_TRUE(fieldLines().isEmpty());
    EXPECT_EQ(recordLines(),
              (QStringList{"Record 4 added from " + five, "Record 5 added from " + five}));
    EXPECT_TRUE(registry().resultsWindow().isVisible());
    EXPECT_FALSE(registry().tableSelectionWindow().isVisible());

    QTest::mouseClick(registry().resultsWindow().backButton(), Qt::LeftButton);  // "< Back"
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    f2.firstTables()->Select(indexOf(*f2.firstTables(), five));
    f2.secondTables()->Select(indexOf(*f2.secondTables(), three));
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_TRUE(fieldLines().isEmpty());
    EXPECT_EQ(recordLines(),
              (QStringList{"Record 4 deleted from " + three, "Record 5 deleted from " + three}));
    EXPECT_EQ(registry().resultsWindow().recordDifferences()->model()->columnCount(), 1);
}

TEST_F(EndToEnd, FieldsArePairedByPositionUpToTheSmallerCountAndTheRestAreOnlyInOne) {
    const QString four =
        table("Four", QStringLiteral("A int, B int, C int, D int"), {"1, 2, 3, 4"});
    const QString six = table("Six", QStringLiteral("A int, C int, B int, D int, E int, F int"),
                              {"1, 3, 2, 4, 5, 6"});
    compare(four, six);
    EXPECT_EQ(fieldLines(), (QStringList{"Field \"E\" only in " + six, "Field \"F\" only in " + six,
                                         "Record 1,Field \"B\" has changed from \"2\" to \"3\"",
                                         "Record 1,Field \"C\" has changed from \"3\" to \"2\""}));
    EXPECT_TRUE(recordLines().isEmpty());
}

TEST_F(EndToEnd, NumbersCompareByValueAcrossTypes) {
    const QString first =
        table("NumA", QStringLiteral("I int, D decimal(10,2), M money, B bit, F float"),
              {"5, 12.50, 3.1, 1, 0.5", "7, 1.00, 2, 0, 2"});
    const QString second = table(
        "NumB", QStringLiteral("I decimal(10,2), D money, M decimal(12,4), B bit, F decimal(5,1)"),
        {"5.00, 12.5, 3.1000, 1, 0.5", "7.01, 1, 2.5, 1, 2.0"});
    compare(first, second);
    EXPECT_EQ(fieldLines(),
              (QStringList{"Record 2,Field \"I\" has changed from \"7\" to \"7.01\"",
                           "Record 2,Field \"M\" has changed from \"2\" to \"2.5\"",
                           "Record 2,Field \"B\" has changed from \"False\" to \"True\""}));
}

TEST_F(EndToEnd, TextsDatesBytesAndNulls) {
    const QString first =
        table("MixA",
              QStringLiteral("T varchar(20), U nvarchar(20), N int, W datetime, R varbinary(8), Z "
                             "int, Q nvarchar(20)"),
              {"'Abc', N'x', 5, '2024-03-07 13:04:05', 0x0102, NULL, N'say \"hi\"'",
               "'same', N'ä€', 1, '2024-03-07 00:00:00', 0x0A, NULL, NULL"});
    const QString second =
        table("MixB",
              QStringLiteral("T varchar(20), U nvarchar(20), N varchar(5), W datetime, R "
                             "varbinary(8), Z int, Q nvarchar(20)"),
              {"'abc', N'x ', '5', '2024-03-07 13:04:06', 0x0103, 9, N'say \"ho\"'",
               "'same', N'ä€', '1', '2024-03-07 00:00:00', 0x0A, NULL, N''"});
    compare(first, second);
    EXPECT_EQ(fieldLines(),
              (QStringList{"Record 1,Field \"T\" has changed from \"Abc\" to \"abc\"",
                           "Record 1,Field \"U\" has changed from \"x\" to \"x \"",
                           "Record 1,Field \"N\" has changed from \"5\" (integer) to \"5\" (text)",
                           "Record 1,Field \"W\" has changed from \"3/7/2024 1:04:05 PM\" to "
                           "\"3/7/2024 1:04:06 PM\"",
                           "Record 1,Field \"R\" has changed from \"0x0102\" to \"0x0103\"",
                           "Record 1,Field \"Z\" has changed from NULL to \"9\"",
                           "Record 1,Field \"Q\" has changed from \"say \"hi\"\" to \"say \"ho\"\"",
                           "Record 2,Field \"N\" has changed from \"1\" (integer) to \"1\" (text)",
                           "Record 2,Field \"Q\" has changed from NULL to \"\""}));
}

TEST_F(EndToEnd, IdenticalTablesShowTheResultsWindowWithEmptyLists) {
    const QString a =
        table("SameA", QStringLiteral("Id int, Name nvarchar(10)"), {"1, N'x'", "2, NULL"});
    const QString b =
        table("SameB", QStringLiteral("Id int, Name nvarchar(10)"), {"1, N'x'", "2, NULL"});
    compare(a, b);
    ASSERT_NE(registry().existingResultsWindow(), nullptr);
    EXPECT_TRUE(registry().resultsWindow().isVisible());
    EXPECT_TRUE(fieldLines().isEmpty());
    EXPECT_TRUE(recordLines().isEmpty());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(EndToEnd, NamesWithBlanksAndClosingBracketsAreRead) {
    const QString blank = table("Order Lines", QStringLiteral("Id int"), {"1"});
    const QString bracket = table("Odd]Name", QStringLiteral("Id int"), {"2"});
    compare(blank, bracket);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(QStringLiteral("\n---\n")).toStdString();
    EXPECT_EQ(fieldLines(), QStringList{"Record 1,Field \"Id\" has changed from \"1\" to \"2\""});
}

// A login the server refuses, or a table gone between the catalogue and the
// comparison: one report at its step, then the run ends with no results
// window, instead of a results window that reads as "no differences".
TEST_F(EndToEnd, ARunThatCannotReadItsTablesEndsAfterItsReport) {
    const QString a = table("PwA", QStringLiteral("Id int"), {"1"});
    const QString b = table("PwB", QStringLiteral("Id int"), {"2"});
    login();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    f2.firstTables()->Select(indexOf(*f2.firstTables(), a));
    f2.secondTables()->Select(indexOf(*f2.secondTables(), b));
    registry().loginWindow().passwordEdit()->setText(QStringLiteral("wrong"));
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 1u) << boxes.texts().join(u'|').toStdString();
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("Login failed for user 'tester'.")));
    EXPECT_TRUE(
        boxes.boxes[0].text.contains(QStringLiteral("Form2.PushButton3_Click at line 124\r\r")));
    EXPECT_EQ(registry().existingResultsWindow(), nullptr);
    EXPECT_TRUE(f2.isVisible());
    EXPECT_EQ(f2.MousePointer(), windows::kPointerNormal);

    boxes.boxes.clear();
    registry().loginWindow().passwordEdit()->setText(QStringLiteral("secret"));
    exec(QStringLiteral("drop table %1")
             .arg(QuotedIdentifier(b)));  // by another client, after the catalogue
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 1u) << boxes.texts().join(u'|').toStdString();
    EXPECT_TRUE(
        boxes.boxes[0].text.contains(QStringLiteral("Form2.PushButton3_Click at line 132\r\r")));
    EXPECT_EQ(registry().existingResultsWindow(), nullptr);
    EXPECT_TRUE(f2.isVisible());
}

// "Pair records by key" (kept in the settings): a row inserted in the middle
// is one added line; a first table without a primary key is said so, and no
// results window opens.
TEST_F(EndToEnd, RecordsPairedByKeyWhenTheBoxIsTicked) {
    const QString cols = QStringLiteral("Id int primary key, Name nvarchar(20)");
    const QString a = table("KeyWinA", cols, {"1, N'a'", "2, N'b'", "3, N'c'"});
    const QString b = table("KeyWinB", cols, {"1, N'a'", "2, N'b'", "25, N'x'", "3, N'C'"});
    const QString noKey =
        table("KeyWinNone", QStringLiteral("Id int, Name nvarchar(20)"), {"1, N'a'"});
    login();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    EXPECT_FALSE(f2.pairRecordsByKeyBox()->isChecked());  // off unless the user asks
    f2.pairRecordsByKeyBox()->setChecked(true);
    EXPECT_EQ(connection::SettingsStore().read(connection::kPairRecordsByKeySetting), "1");
    f2.firstTables()->Select(indexOf(*f2.firstTables(), a));
    f2.secondTables()->Select(indexOf(*f2.secondTables(), b));
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(
        fieldLines(),
        QStringList{QStringLiteral("Record Id=3,Field \"Name\" has changed from \"c\" to \"C\"")});
    EXPECT_EQ(recordLines(), QStringList{"Record Id=25 added from " + b});

    // Checksums ticked in the options: the same lines, and the summary says
    // what the checksums did.
    const QStringList streamedLines = fieldLines() + recordLines();
    QTest::mouseClick(registry().resultsWindow().backButton(), Qt::LeftButton);
    QTest::mouseClick(f2.optionsButton(), Qt::LeftButton);
    ASSERT_NE(f2.optionsDialog(), nullptr) << boxes.texts().join(u'|').toStdString();
    ASSERT_TRUE(f2.optionsDialog()->checksumsBox()->isEnabled());
    f2.optionsDialog()->checksumsBox()->setChecked(true);
    QTest::mouseClick(f2.optionsDialog()->okButton(), Qt::LeftButton);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(fieldLines() + recordLines(), streamedLines);
    const QString summary = registry().resultsWindow().summaryLabel()->text();
    EXPECT_TRUE(summary.contains(QStringLiteral("; checksums: "))) << summary.toStdString();

    QTest::mouseClick(registry().resultsWindow().backButton(), Qt::LeftButton);
    f2.firstTables()->Select(indexOf(*f2.firstTables(), noKey));
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "The records cannot be paired by key: " + noKey + " has no primary key.");
    EXPECT_TRUE(fieldLines().isEmpty());
    EXPECT_TRUE(recordLines().isEmpty());
    EXPECT_TRUE(f2.isVisible());
    EXPECT_EQ(f2.MousePointer(), windows::kPointerNormal);
}

// A query in place of the first table: one that names a table the server
// does not have is said naming the query, and leaves no line; by key with
// its key columns the lines name it as it is called, and no script is made
// from it.
TEST_F(EndToEnd, AQueryInPlaceOfTheFirstTable) {
    const QString cols = QStringLiteral("Id int primary key, Name nvarchar(20)");
    const QString a = table("QryWinA", cols, {"1, N'a'", "2, N'b'", "3, N'c'"});
    const QString b = table("QryWinB", cols, {"1, N'a'", "3, N'C'", "4, N'd'"});
    login();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    const auto giveQuery = [&](const QString& sql) {
        QTest::mouseClick(f2.firstQueryButton(), Qt::LeftButton);
        ASSERT_NE(f2.queryDialog(), nullptr);
        f2.queryDialog()->sqlEdit()->setPlainText(sql);
        f2.queryDialog()->keyEdit()->setText(QStringLiteral("Id"));
        f2.queryDialog()->nameEdit()->setText(QStringLiteral("recent names"));
        QTest::mouseClick(f2.queryDialog()->okButton(), Qt::LeftButton);
    };
    giveQuery(QStringLiteral("select Id, Name from NoSuchTable where Id > 1"));
    f2.secondTables()->Select(indexOf(*f2.secondTables(), b));
    // By position it fails as it is sent, by key as its columns are asked for.
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    f2.pairRecordsByKeyBox()->setChecked(true);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    for (const auto& box : boxes.boxes) {
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("recent names could not be run: ")))
            << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QStringLiteral("NoSuchTable")));
    }
    EXPECT_TRUE(f2.isVisible());
    EXPECT_TRUE(fieldLines().isEmpty());
    EXPECT_EQ(f2.MousePointer(), windows::kPointerNormal);

    giveQuery(QStringLiteral("select Id, Name from %1 where Id > 1").arg(QuotedIdentifier(a)));
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 2u) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(fieldLines(),
              QStringList{"Record Id=3,Field \"Name\" has changed from \"c\" to \"C\""});
    EXPECT_EQ(recordLines(),
              (QStringList{"Record Id=1 added from " + b, "Record Id=2 deleted from " + b,
                           "Record Id=4 added from " + b}));
    EXPECT_TRUE(registry().resultsWindow().summaryLabel()->text().contains(
        QStringLiteral("2 records read from recent names and 3 from ") + b))
        << registry().resultsWindow().summaryLabel()->text().toStdString();
    QTemporaryDir temp;
    shell.saveTo = temp.filePath(QStringLiteral("mend.sql"));
    registry().resultsWindow().SaveResults();
    EXPECT_EQ(boxes.texts().last(),
              QStringLiteral("No script is written from a query: recent names is a query, and a "
                             "script mends a table from a table."));
    EXPECT_FALSE(QFile::exists(shell.saveTo));
}

// The options dialog over real typed tables: the first table's columns come
// from the server, a column left out is not compared (its changes are not
// listed), texts that differ only by trailing blanks are equal, and the
// results say which options were on.
TEST_F(EndToEnd, OptionsFromTheDialogShapeTheRun) {
    const QString cols = QStringLiteral(
        "Id int primary key, Name nvarchar(20), Price decimal(10,2), Stamp datetime");
    const QString a = table(
        "OptA", cols,
        {"1, N'Anna', 10.00, '2024-01-01T10:00:00'", "2, N'Bert', 20.00, '2024-01-01T10:00:00'",
         "3, N'Cleo  ', 30.00, '2024-01-01T10:00:00'"});
    const QString b = table(
        "OptB", cols,
        {"1, N'Anna', 10.00, '2024-06-01T08:00:00'", "2, N'Bert', 25.00, '2024-06-01T08:00:00'",
         "3, N'Cleo', 30.00, '2024-06-01T08:00:00'"});
    login();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    f2.firstTables()->Select(indexOf(*f2.firstTables(), a));
    f2.secondTables()->Select(indexOf(*f2.secondTables(), b));
    QTest::mouseClick(f2.optionsButton(), Qt::LeftButton);
    windows::ComparisonOptionsDialog* d = f2.optionsDialog();
    ASSERT_NE(d, nullptr) << boxes.texts().join(u'|').toStdString();
    QStringList columns;
    for (int i = 0; i < d->columnList()->topLevelItemCount(); ++i) {
        columns << d->columnList()->topLevelItem(i)->text(0);
    }
    ASSERT_EQ(columns, (QStringList{"Id", "Name", "Price", "Stamp"}));
    d->columnList()->topLevelItem(3)->setCheckState(
        windows::ComparisonOptionsDialog::LeaveOutColumn, Qt::Checked);
    d->trimBox()->setChecked(true);
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    ASSERT_FALSE(f2.optionsDialog() && f2.optionsDialog()->isVisible());

    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(fieldLines(),
              QStringList{"Record 2,Field \"Price\" has changed from \"20\" to \"25\""});
    EXPECT_TRUE(recordLines().isEmpty());
    windows::ResultsWindow& f3 = registry().resultsWindow();
    EXPECT_EQ(f3.noticeLabel()->text(),
              QStringLiteral("Options were on: columns left out: Stamp; trailing blanks ignored."));
    EXPECT_TRUE(f3.summaryLabel()->text().contains(QStringLiteral("; 3 compared, 1 with changed")))
        << f3.summaryLabel()->text().toStdString();
}

// Columns paired in the dialog whatever their names: the run pairs them, by
// key too, and lists a difference under the first table's name.
TEST_F(EndToEnd, ColumnsPairedInTheDialogArePairedByTheRun) {
    const QString a =
        table("MapA", QStringLiteral("Id int primary key, Name nvarchar(20), Price decimal(10,2)"),
              {"1, N'Anna', 10", "2, N'Bert', 20"});
    const QString b = table(
        "MapB", QStringLiteral("Nr int primary key, Cost decimal(10,2), FullName nvarchar(20)"),
        {"2, 25, N'Bert'", "1, 10, N'Anna'"});
    login();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    f2.pairFieldsByNameBox()->setChecked(true);
    f2.pairRecordsByKeyBox()->setChecked(true);
    f2.firstTables()->Select(indexOf(*f2.firstTables(), a));
    f2.secondTables()->Select(indexOf(*f2.secondTables(), b));
    QTest::mouseClick(f2.optionsButton(), Qt::LeftButton);
    windows::ComparisonOptionsDialog* d = f2.optionsDialog();
    ASSERT_NE(d, nullptr) << boxes.texts().join(u'|').toStdString();
    const QStringList picks{"Nr", "FullName", "Cost"};
    for (int row = 0; row < picks.size(); ++row) {
        QComboBox* box = d->pairedBox(row);
        ASSERT_EQ(box->currentText(), QStringLiteral("(none)"));
        box->setCurrentIndex(box->findText(picks[row]));
    }
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    ASSERT_FALSE(f2.optionsDialog() && f2.optionsDialog()->isVisible());

    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(fieldLines(),
              QStringList{"Record Id=2,Field \"Price\" has changed from \"20\" to \"25\""});
    EXPECT_TRUE(recordLines().isEmpty());
    EXPECT_EQ(registry().resultsWindow().noticeLabel()->text(),
              QStringLiteral("Options were on: columns mapped: Id=Nr, Name=FullName, Price=Cost."));
}

// The records side by side over real typed tables paired by key: Enter on
// a line opens them at that line's record and field; the key is pinned, a
// left-out column is not shown, a cell within the tolerance is not shaded;
// filters, hidden columns, F8 and copying; the records' folder goes with
// the results.
TEST_F(EndToEnd, RecordsSideBySide) {
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    const QString cols = QStringLiteral(
        "Id int primary key, Name nvarchar(20), Price decimal(10,2), Stamp datetime, Note "
        "nvarchar(10)");
    const QString a =
        table("GridA", cols,
              {"1, N'Anna', 10.00, '2024-01-01', N'n'", "2, N'Bert  ', 20.00, '2024-01-01', N'n'",
               "3, NULL, 30.00, '2024-01-01', N'n'", "4, N'Dora', 40.00, '2024-01-01', N'n'"});
    const QString b =
        table("GridB", cols,
              {"1, N'Anna', 10.00, '2024-06-01', N'n'", "2, N'Bert', 25.00, '2024-06-01', N'n'",
               "3, N'NULL', 30.00, '2024-06-01', N'n'", "5, N'Emil', 50.00, '2024-06-01', N'n'"});
    login();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    f2.pairRecordsByKeyBox()->setChecked(true);
    f2.firstTables()->Select(indexOf(*f2.firstTables(), a));
    f2.secondTables()->Select(indexOf(*f2.secondTables(), b));
    QTest::mouseClick(f2.optionsButton(), Qt::LeftButton);
    windows::ComparisonOptionsDialog* d = f2.optionsDialog();
    ASSERT_NE(d, nullptr);
    d->columnList()->topLevelItem(3)->setCheckState(
        windows::ComparisonOptionsDialog::LeaveOutColumn, Qt::Checked);
    d->trimBox()->setChecked(true);
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_EQ(fieldLines().size(), 2) << fieldLines().join(u'|').toStdString();

    windows::ResultsWindow& f3 = registry().resultsWindow();
    windows::ResultListView& list = *f3.fieldDifferences();
    list.setCurrentIndex(list.linesModel()->index(1));  // Record Id=3, Field "Name"
    QTest::keyClick(&list, Qt::Key_Return);
    windows::RecordsWindow* w = f3.recordsWindow();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(w->isVisible());
    const windows::DifferingRecordsModel& m = *w->model();
    const auto shown = [&](const QTableView& view) {
        QStringList heads;
        for (int c = 0; c < m.columnCount(); ++c) {
            if (!view.isColumnHidden(c)) {
                heads << m.headerData(c, Qt::Horizontal, Qt::DisplayRole)
                             .toString()
                             .section(u'\n', 0, 0);
            }
        }
        return heads;
    };
    EXPECT_EQ(shown(*w->keyGrid()), QStringList{"Id"});
    EXPECT_EQ(shown(*w->grid()), (QStringList{"Name (1 changed)", "Name", "Price (1 changed)",
                                              "Price", "Note", "Note"}));
    const QModelIndex current = w->grid()->currentIndex();
    EXPECT_EQ(current.row(), 1);
    EXPECT_EQ(m.headerData(current.column(), Qt::Horizontal, Qt::DisplayRole).toString(),
              "Name (1 changed)\n" + a);
    // A NULL against the text 'NULL', shaded; 'Bert  ' against 'Bert' is within the tolerance.
    EXPECT_EQ(m.data(current, Qt::DisplayRole).toString(), "NULL");
    EXPECT_TRUE(m.data(current, Qt::FontRole).value<QFont>().italic());
    EXPECT_TRUE(m.data(current, Qt::BackgroundRole).isValid());
    EXPECT_FALSE(m.data(m.index(0, m.columnOf(1, true)), Qt::BackgroundRole).isValid());
    EXPECT_TRUE(m.data(m.index(0, m.columnOf(2, false)), Qt::BackgroundRole).isValid());
    EXPECT_EQ(w->filterButton(compare::RecordFilter::Changed)->text(), "Changed (2)");
    EXPECT_EQ(w->filterButton(compare::RecordFilter::OnlyInSecond)->text(),
              "Only in " + b + " (1)");

    // From Id=3's Name: F8 to the record only the first table has, then back.
    QTest::keyClick(w->grid(), Qt::Key_F8);
    EXPECT_EQ(w->grid()->currentIndex().row(), 2);
    EXPECT_EQ(m.cellText(m.index(2, 0)), "4");
    EXPECT_EQ(m.cellText(m.index(2, m.columnOf(2, false))), "");
    QTest::keyClick(w->grid(), Qt::Key_F8, Qt::ShiftModifier);
    EXPECT_EQ(w->grid()->currentIndex(), current);

    w->setFilter(compare::RecordFilter::OnlyInSecond);
    ASSERT_EQ(m.rowCount(), 1);
    EXPECT_EQ(m.cellText(m.index(0, 0)), "5");
    w->setFilter(compare::RecordFilter::All);
    w->setHideUnchanged(true);
    EXPECT_EQ(shown(*w->grid()),
              (QStringList{"Name (1 changed)", "Name", "Price (1 changed)", "Price"}));
    w->grid()->selectAll();
    EXPECT_EQ(w->selectedText(),
              "2\tBert  \tBert\t20\t25\n"
              "3\tNULL\tNULL\t30\t30\n"
              "4\tDora\t\t40\t\n"
              "5\t\tEmil\t\t50")
        << w->selectedText().toStdString();

    // The page saved from the same run counts and marks what the grid shows.
    shell.saveTo = temp.filePath(QStringLiteral("results.html"));
    f3.SaveResults();
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    QFile page(shell.saveTo);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    EXPECT_TRUE(html.contains(QStringLiteral("All 4 differing records are shown.")));
    const auto marked =
        html.count(QRegularExpression(QStringLiteral("<td class=\"[^\"]*\\bdiff\\b")));
    EXPECT_EQ(marked, 2 * (m.store().changedCount(1) + m.store().changedCount(2)));
    EXPECT_EQ(marked, 4);

    const QStringList folders =
        QDir(temp.path()).entryList({QStringLiteral("dorvantis-records-*")}, QDir::Dirs);
    EXPECT_EQ(folders.size(), 1);
    // Closed, the grid opens again on the same records; the program's end
    // (which runs no destructor) takes them, and their window, first.
    QTest::keyClick(w, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::keyClick(&list, Qt::Key_Return);
    ASSERT_NE(f3.recordsWindow(), nullptr);
    registry().EndProgram();
    EXPECT_EQ(endCalls, 1);
    EXPECT_EQ(f3.recordsWindow(), nullptr);
    EXPECT_TRUE(
        QDir(temp.path()).entryList({QStringLiteral("dorvantis-records-*")}, QDir::Dirs).isEmpty());
    qunsetenv("TMPDIR");
}

// The same table name in two schemas: both are listed, the other schema's
// with its schema, and each choice reads its own table.
TEST_F(EndToEnd, TablesOfTwoSchemasWithOneNameAreToldApart) {
    const QString name = q(tdstest::tdsUniqueName("Twin"));
    exec(QStringLiteral("create table [dbo].%1 (Id int, Region nvarchar(10))")
             .arg(QuotedIdentifier(name)));
    exec(QStringLiteral("insert into [dbo].%1 values (1, N'North')").arg(QuotedIdentifier(name)));
    exec(QStringLiteral("create table [sales].%1 (Id int, Region nvarchar(10))")
             .arg(QuotedIdentifier(name)));
    exec(QStringLiteral("insert into [sales].%1 values (1, N'South')").arg(QuotedIdentifier(name)));
    exec(QStringLiteral("insert into [sales].%1 values (2, N'East')").arg(QuotedIdentifier(name)));
    compare(name, QStringLiteral("sales.") + name);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(fieldLines(),
              QStringList{"Record 1,Field \"Region\" has changed from \"North\" to \"South\""});
    EXPECT_EQ(recordLines(), QStringList{QStringLiteral("Record 2 added from sales.") + name});
}

// The second table in another database of the server, then on another
// server: chosen through the window, read with each side's own login, and
// named in the lines with its database (and server).
class EndToEndSecondSide : public EndToEnd {
protected:
    // A table of the same name on both sides, the second with a changed and
    // an added record, and its second column named otherwise (paired by position).
    QString twinTables(const std::function<void(const QString&)>& onSecondSide) {
        const QString name = q(tdstest::tdsUniqueName("Twin"));
        exec(QStringLiteral("create table %1 (Id int, Note nvarchar(10))").arg(name));
        exec(QStringLiteral("insert into %1 values (1, N'a'), (2, N'b')").arg(name));
        onSecondSide(QStringLiteral("create table %1 (Id int, Remark nvarchar(10))").arg(name));
        onSecondSide(
            QStringLiteral("insert into %1 values (1, N'a'), (2, N'B'), (3, N'c')").arg(name));
        return name;
    }

    // Picks the table on both sides and presses "Next >".
    void compareTwins(const QString& name) {
        windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
        ASSERT_TRUE(f2.isVisible()) << boxes.texts().join(u'|').toStdString();
        const int left = indexOf(*f2.firstTables(), name),
                  right = indexOf(*f2.secondTables(), name);
        ASSERT_GT(left, 0);
        ASSERT_GT(right, 0);
        f2.firstTables()->Select(left);
        f2.secondTables()->Select(right);
        // The options pair each column with the second side's own.
        QTest::mouseClick(f2.optionsButton(), Qt::LeftButton);
        ASSERT_NE(f2.optionsDialog(), nullptr) << boxes.texts().join(u'|').toStdString();
        EXPECT_EQ(f2.optionsDialog()->pairedBox(1)->currentText(), QStringLiteral("Remark"));
        QTest::keyClick(f2.optionsDialog(), Qt::Key_Escape);
        QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
        EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
        EXPECT_EQ(fieldLines(),
                  QStringList{"Record 2,Field \"Note\" has changed from \"b\" to \"B\""});
        // The records side by side of the other side's table, the added one's side only.
        windows::ResultsWindow& f3 = registry().resultsWindow();
        f3.ShowRecords(f3.recordDifferences());
        ASSERT_NE(f3.recordsWindow(), nullptr) << boxes.texts().join(u'|').toStdString();
        const windows::DifferingRecordsModel& m = *f3.recordsWindow()->model();
        ASSERT_EQ(m.rowCount(), 2);
        EXPECT_EQ(m.cellText(m.index(1, m.columnOf(1, false))), "c");
        EXPECT_EQ(m.cellText(m.index(1, m.columnOf(1, true))), "");
    }
};

TEST_F(EndToEndSecondSide, AnotherDatabaseOfTheServer) {
    const QString name = twinTables([](const QString& sql) { exec(sql, tdstest::kOtherDatabase); });
    login();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    QComboBox& origin = *f2.secondOriginBox();
    origin.showPopup();
    origin.hidePopup();
    // The server's databases but the login's own, between the two fixed choices.
    QStringList choices;
    for (int i = 0; i < origin.count(); ++i) choices << origin.itemText(i);
    EXPECT_EQ(choices,
              (QStringList{"This database", "emptydb", "otherdb", "Another server\u2026"}));
    emit origin.activated(static_cast<int>(choices.indexOf(QStringLiteral("otherdb"))));
    compareTwins(name);
    EXPECT_EQ(recordLines(),
              QStringList{QStringLiteral("Record 3 added from otherdb.dbo.") + name});
}

TEST_F(EndToEndSecondSide, AnotherServer) {
    tdstest::PrivateServer other({});
    const QString name = twinTables([&](const QString& sql) {
        auto c = data::OdbcDataAccess().CreateConnection();
        c->Open(q(other.connectionString()));
        c->Execute(sql);
        c->Close();
    });
    login();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    emit f2.secondOriginBox()->activated(f2.secondOriginBox()->count() - 1);
    windows::LoginWindow& second = registry().secondLoginWindow();
    ASSERT_TRUE(second.isVisible());
    second.serverEdit()->setText(QStringLiteral("127.0.0.1"));
    second.portEdit()->setText(QString::number(other.port()));
    second.userEdit()->setText(QStringLiteral("tester"));
    second.passwordEdit()->setText(QStringLiteral("secret"));
    second.databaseEdit()->setText(QStringLiteral("testdb"));
    QTest::mouseClick(second.nextButton(), Qt::LeftButton);
    compareTwins(name);
    EXPECT_EQ(
        recordLines(),
        QStringList{
            QStringLiteral("Record 3 added from [127.0.0.1,%1].testdb.dbo.").arg(other.port()) +
            name});
}

// The reading faults of a server of the test's own: tables of 3000 rows on a
// server that drops a connection after 1500 rows of a result, and one that
// answers slowly, where Esc stops the run.
class EndToEndPrivateServer : public EndToEnd {
protected:
    // Seeds two tables of `rows` rows on the server (inside it: one statement each).
    // Big1 and Big2, alike unless secondNote says how Big2's notes begin.
    static void seed(int port, int rows, const QString& secondNote = QStringLiteral("row ")) {
        auto c = data::OdbcDataAccess().CreateConnection();
        c->Open(q(tdstest::tdsConnectionStringAt(port)));
        for (const char* name : {"Big1", "Big2"}) {
            c->Execute(QStringLiteral("create table %1 (Id int, Note nvarchar(20))").arg(name));
            c->Execute(
                QStringLiteral("with recursive n(x) as (select 1 union all select x + 1 from "
                               "n where x < %1) insert into %2 select x, '%3' || x from n")
                    .arg(rows)
                    .arg(name,
                         name == QLatin1String("Big1") ? QStringLiteral("row ") : secondNote));
        }
        c->Close();
    }

    // Logs in to the server on that port and starts the comparison of Big1 and
    // Big2; beforeRun runs just before "Next >" is pressed.
    void compareAt(int port, const std::function<void()>& beforeRun = {}) {
        windows::Start(registry());
        windows::LoginWindow& f = registry().loginWindow();
        f.serverEdit()->setText(QStringLiteral("127.0.0.1"));
        f.portEdit()->setText(QString::number(port));
        f.userEdit()->setText(QStringLiteral("tester"));
        f.passwordEdit()->setText(QStringLiteral("secret"));
        f.databaseEdit()->setText(QStringLiteral("testdb"));
        QTest::mouseClick(f.nextButton(), Qt::LeftButton);
        windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
        ASSERT_TRUE(f2.isVisible()) << boxes.texts().join(u'|').toStdString();
        f2.firstTables()->Select(indexOf(*f2.firstTables(), QStringLiteral("Big1")));
        f2.secondTables()->Select(indexOf(*f2.secondTables(), QStringLiteral("Big2")));
        if (beforeRun) beforeRun();
        QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    }

    // Runs act once, as soon as the table selection shows a run under way
    // (busy pointer), from a short repeating timer: no fixed delay to guess.
    // Acts once the run shows busy -- and has been busy for busyMs, so that
    // it waits on the server by then -- and only while it still runs.
    void whileRunning(std::function<void()> act, int busyMs = 0) {
        QObject::connect(&watch_, &QTimer::timeout, [this, busyMs, act = std::move(act)] {
            if (registry().tableSelectionWindow().MousePointer() != windows::kPointerBusy) return;
            if (!busySince_.isValid()) busySince_.start();
            if (busySince_.elapsed() < busyMs) return;
            watch_.stop();
            actedWhileRunning = true;
            act();
        });
        watch_.start(10);
    }
    bool actedWhileRunning = false;

    void expectEndedWithoutResults() {
        windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
        EXPECT_TRUE(f2.isVisible());
        EXPECT_FALSE(registry().existingResultsWindow() &&
                     registry().existingResultsWindow()->isVisible());
        EXPECT_TRUE(fieldLines().isEmpty());
        EXPECT_TRUE(recordLines().isEmpty());
        EXPECT_EQ(f2.MousePointer(), windows::kPointerNormal);
    }

private:
    QTimer watch_;
    QElapsedTimer busySince_;
};

// ... and leaves no differing records behind on disk.
TEST_F(EndToEndPrivateServer, AConnectionDroppedMidStreamEndsTheRunAtItsReadingStep) {
    tdstest::PrivateServer server({"--drop-after-rows", "1500"});
    seed(server.port(), 3000, QStringLiteral("Row "));
    QTemporaryDir temp;
    qputenv("TMPDIR", temp.path().toUtf8());
    compareAt(server.port());
    qunsetenv("TMPDIR");
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    ASSERT_EQ(boxes.boxes.size(), 1u) << boxes.texts().join(u'|').toStdString();
    EXPECT_TRUE(boxes.boxes[0].text.contains(
        QRegularExpression(QStringLiteral("Form2\\.PushButton3_Click at line (148|160)\r\r"))))
        << boxes.boxes[0].text.toStdString();
    expectEndedWithoutResults();
}

TEST_F(EndToEndPrivateServer, EscStopsARunThatWaitsForTheServer) {
    tdstest::PrivateServer server({"--delay-ms", "400"});
    seed(server.port(), 10);
    compareAt(server.port(), [&] {
        // Past the logins, while the queries wait on the server.
        whileRunning([&] { QTest::keyClick(&registry().tableSelectionWindow(), Qt::Key_Escape); },
                     500);
    });
    EXPECT_TRUE(actedWhileRunning);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    expectEndedWithoutResults();
}

// A second "Next >" and a "< Back" while a run waits for a slow server do
// nothing: the run's lines come once, and the windows stay where the run
// leaves them.
TEST_F(EndToEndPrivateServer, ClicksDuringARunAreDroppedNotReplayed) {
    tdstest::PrivateServer server({"--delay-ms", "150"});
    seed(server.port(), 10);
    auto c = data::OdbcDataAccess().CreateConnection();
    c->Open(q(server.connectionString()));
    c->Execute(QStringLiteral("update Big2 set Note = 'changed' where Id = 3"));
    c->Close();
    compareAt(server.port(), [&] {
        whileRunning([&] {
            windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
            QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
            QTest::mouseClick(f2.backButton(), Qt::LeftButton);
        });
    });
    EXPECT_TRUE(actedWhileRunning);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(fieldLines(),
              QStringList{"Record 3,Field \"Note\" has changed from \"row 3\" to \"changed\""});
    EXPECT_TRUE(registry().resultsWindow().isVisible());
    EXPECT_FALSE(registry().loginWindow().isVisible());
    EXPECT_FALSE(registry().tableSelectionWindow().isVisible());
}

// A server that stops answering after the catalogue (its process stopped):
// the run waits without freezing, and Esc is a way out.
TEST_F(EndToEndPrivateServer, AStoppedServerCanBeLeftWithEsc) {
    tdstest::PrivateServer server({});
    seed(server.port(), 10);
    compareAt(server.port(), [&] {
        ::kill(server.pid(), SIGSTOP);
        whileRunning([&] { QTest::keyClick(&registry().tableSelectionWindow(), Qt::Key_Escape); });
    });
    ::kill(server.pid(), SIGCONT);
    EXPECT_TRUE(actedWhileRunning);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    expectEndedWithoutResults();
}

// A server that sits on a query, as one whose table another session has
// locked does: Esc answers at once -- the run ends, the windows are back and
// take clicks -- however long the server would have kept the run waiting.
TEST_F(EndToEndPrivateServer, EscAnswersWhileTheServerSitsOnAQuery) {
    QTemporaryDir dir;
    tdstest::PrivateServer server({"--stall-query", "from [dbo].[Big2]"},
                                  dir.filePath(QStringLiteral("server.log")).toStdString());
    seed(server.port(), 10);
    QElapsedTimer sinceEsc;
    QTimer look;
    compareAt(server.port(), [&] {
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (!server.heldARequest()) return;
            look.stop();
            sinceEsc.start();
            QTest::keyClick(&registry().tableSelectionWindow(), Qt::Key_Escape);
        });
        look.start(10);
    });
    ASSERT_TRUE(sinceEsc.isValid()) << "the server never held the query";
    const qint64 answeredMs = sinceEsc.elapsed();
    RecordProperty("esc_answered_ms", static_cast<int>(answeredMs));
    std::printf("Esc answered in %lld ms\n", static_cast<long long>(answeredMs));
    // Without a cancel that reaches the query, the server holds it for good.
    EXPECT_LT(answeredMs, 5000);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    expectEndedWithoutResults();
    EXPECT_EQ(registry().tableSelectionWindow().progressBar()->value(), 0);
    QTest::mouseClick(registry().tableSelectionWindow().backButton(), Qt::LeftButton);
    EXPECT_TRUE(registry().loginWindow().isVisible());
}

// A stored login tried at start against a slow server: the login window shows
// itself, busy, while it waits, instead of nothing on screen.
TEST_F(EndToEndPrivateServer, AStoredLoginTriedAtStartShowsTheWindowWhileItWaits) {
    tdstest::PrivateServer server({"--delay-ms", "300"});
    connection::SettingsStore store;
    store.write(connection::kServerSetting, QStringLiteral("127.0.0.1"));
    store.write(connection::kPortSetting, QString::number(server.port()));
    store.write(connection::kUserSetting, QStringLiteral("tester"));
    store.write(connection::kPasswordSetting, QStringLiteral("secret"));
    store.write(connection::kDatabaseSetting, QStringLiteral("testdb"));
    // Looked at every 10 ms while the login is tried: seen busy at least once.
    bool shownBusy = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        windows::LoginWindow* login = registry().existingLoginWindow();
        shownBusy = shownBusy ||
                    (login && login->isVisible() && login->MousePointer() == windows::kPointerBusy);
    });
    look.start(10);
    windows::Start(registry());
    look.stop();
    EXPECT_TRUE(shownBusy);
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_FALSE(registry().loginWindow().isVisible());
}

// Values with line feeds, tabs and carriage returns stay on one line; dates
// keep their century in a locale with two-digit years.
TEST_F(EndToEnd, ValuesThatWouldBreakALineOrHideTheirCentury) {
    const QString first = table("OddA", QStringLiteral("Note nvarchar(40), D date"),
                                {"N'a' || char(10) || N'Record 99 added from Evil', '0001-01-01'",
                                 "N't' || char(9) || N'c' || char(13), '2024-03-07'"});
    const QString second = table("OddB", QStringLiteral("Note nvarchar(40), D date"),
                                 {"N'a', '2001-01-01'", "N't c', '2024-03-07'"});
    compare(first, second);
    EXPECT_EQ(
        fieldLines(),
        (QStringList{"Record 1,Field \"Note\" has changed from \"a\u240ARecord 99 added from "
                     "Evil\" to \"a\"",
                     "Record 1,Field \"D\" has changed from \"1/1/0001\" to \"1/1/2001\"",
                     "Record 2,Field \"Note\" has changed from \"t\u2409c\u240D\" to \"t c\""}));
}

// A 1 MB text and a 10 MB binary that differ: their lines are kept whole,
// shown shortened, and copied whole.
TEST_F(EndToEnd, HugeValuesAreShownShortenedAndCopiedWhole) {
    const QString first = table("HugeA", QStringLiteral("T nvarchar(max), B varbinary(max)"),
                                {"printf('%.*c', 1048576, 'x'), zeroblob(10485760)"});
    const QString second = table("HugeB", QStringLiteral("T nvarchar(max), B varbinary(max)"),
                                 {"printf('%.*c', 1048576, 'y'), randomblob(10485760)"});
    compare(first, second);
    ASSERT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    windows::ResultsWindow& f3 = registry().resultsWindow();
    ASSERT_TRUE(f3.isVisible());
    const windows::ResultLinesModel& lines = *f3.fieldDifferences()->linesModel();
    ASSERT_EQ(lines.lineCount(), 2);
    EXPECT_EQ(lines.line(0).size(), 44 + 2 * 1048576);  // Record 1,Field "T" ... "x..." to "y..."
    EXPECT_EQ(lines.line(1).size(), 44 + 2 * (2 + 2 * 10485760));  // 0x and two hex digits a byte
    EXPECT_TRUE(lines.shownLine(1).endsWith(QStringLiteral(" more characters)")));
    EXPECT_LE(lines.shownLine(1).size(), 2100);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(f3.fieldDifferences(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(f3.fieldDifferences(), Qt::Key_C, Qt::ControlModifier);
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_EQ(copied.size(), lines.line(0).size() + 1 + lines.line(1).size());
    EXPECT_TRUE(copied == lines.line(0) + u'\n' + lines.line(1));  // no 44 MB of output on failure
}

// SIGINT, SIGTERM and SIGHUP while a run copies its differing records to disk
// end the windows' process as the signal would, and the records' private
// folder goes with it. The windows run in a process of their own.
TEST_F(EndToEnd, AStopSignalDuringARunLeavesNoRecordsBehind) {
    const QString first = q(tdstest::tdsUniqueName("Sig1")),
                  second = q(tdstest::tdsUniqueName("Sig2"));
    for (const QString& name : {first, second}) {
        exec(QStringLiteral("create table %1 (Id int, Note nvarchar(20))").arg(name));
        exec(QStringLiteral("with recursive n(x) as (select 1 union all select x + 1 from n where "
                            "x < 400000) insert into %1 select x, '%2' || x from n")
                 .arg(name, name == first ? QStringLiteral("row ") : QStringLiteral("Row ")));
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        QTemporaryDir temp, config;
        ASSERT_TRUE(temp.isValid() && config.isValid());
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string v = *e;
            if (v.rfind("TMPDIR=", 0) != 0 && v.rfind("XDG_", 0) != 0) env.push_back(v);
        }
        env.push_back("TMPDIR=" + temp.path().toStdString());
        env.push_back("XDG_CONFIG_HOME=" + config.path().toStdString());
        env.push_back("XDG_RUNTIME_DIR=" + config.path().toStdString());
        env.push_back("QT_QPA_PLATFORM=offscreen");
        std::vector<char*> envp;
        for (std::string& v : env) envp.push_back(v.data());
        envp.push_back(nullptr);
        std::string port = std::to_string(tdstest::tdsTestPort()), a = first.toStdString(),
                    b = second.toStdString();
        std::string program = DORVANTIS_WINDOWS_CHILD;
        char* argv[] = {program.data(), port.data(), a.data(), b.data(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, envp.data()), 0);
        // Once the run keeps records on disk, the signal.
        const auto kept = [&] {
            const QStringList folders =
                QDir(temp.path()).entryList({"dorvantis-records-*"}, QDir::Dirs);
            return !folders.isEmpty() &&
                   QFileInfo(temp.filePath(folders[0]) + QStringLiteral("/records.db")).size() > 0;
        };
        QElapsedTimer waited;
        waited.start();
        int status = 0;
        bool ended = false;
        while (!kept() && waited.elapsed() < 60000) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                ended = true;
                break;
            }
            QTest::qWait(20);
        }
        ASSERT_FALSE(ended) << "the run ended before the signal: " << status;
        ASSERT_TRUE(kept()) << "no records kept after 60 s";
        ::kill(pid, signal);
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
            << "signal " << signal << ", status " << status;
        EXPECT_EQ(QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList())
            << "signal " << signal;
    }
}

}  // namespace
