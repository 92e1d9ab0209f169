#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <initializer_list>

#include "ErrorReport.h"
#include "Layout.h"
#include "OverviewWindow.h"
#include "Pointer.h"
#include "TableQuery.h"
#include "Tables.h"
#include "WindowFixture.h"

namespace {

using data::FieldValue;
using data::ValueKind;
using testing_support::SchemaRowset;
using testing_support::WindowFixture;

struct ColumnSpec {
    const char* name;
    ValueKind kind;
};

// A table of typed columns; each row gives one value per column.
data::ResultTable Table(std::initializer_list<ColumnSpec> columns,
                        std::initializer_list<std::initializer_list<FieldValue>> rows) {
    data::ResultTable t;
    for (const ColumnSpec& c : columns) t.addColumn(QString::fromLatin1(c.name), c.kind);
    for (const auto& row : rows) {
        int f = 0;
        for (const FieldValue& v : row) t.column(f++).append(v);
    }
    return t;
}

FieldValue I(std::int64_t v) { return FieldValue::integer(v); }
FieldValue T(const char16_t* v) { return FieldValue::text(QStringView(v)); }

// "Next >" on the table selection window over tables the test puts in the
// in-memory database, the catalogue listing them in the order given.
class Comparison : public WindowFixture {
protected:
    void addTables(std::initializer_list<std::pair<const char*, const data::ResultTable*>> tables) {
        std::vector<std::pair<QString, QString>> rows;
        for (const auto& [name, table] : tables) {
            data.addTable(QString::fromUtf8(name), *table);
            rows.emplace_back(QString::fromUtf8(name), QStringLiteral("TABLE"));
        }
        data.setSchemaTables(SchemaRowset(rows));
    }

    // Logs in, selects the two positions (1-based) and presses "Next >".
    void compare(int left, int right) {
        windows::Start(registry());
        registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
        QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
        windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
        if (f2.firstTables()->Count() >= left && left > 0) f2.firstTables()->Select(left);
        if (f2.secondTables()->Count() >= right && right > 0) f2.secondTables()->Select(right);
        opensBefore_ = data.opens().size();
        QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    }

    // Logs in to the database Sales of a server that also holds Sales_Restore.
    windows::TableSelectionWindow& logInToSales() {
        data.setQuery(QStringLiteral("select name from sys.databases"),
                      testing_support::TextTable({"name"}, {{"Sales"}, {"Sales_Restore"}}));
        windows::Start(registry());
        windows::LoginWindow& login = registry().loginWindow();
        login.serverEdit()->setText(QStringLiteral("db.example"));
        login.databaseEdit()->setText(QStringLiteral("Sales"));
        QTest::mouseClick(login.nextButton(), Qt::LeftButton);
        return registry().tableSelectionWindow();
    }

    QStringList fieldLines() { return lines(registry().existingResultsWindow(), 1); }
    QStringList recordLines() { return lines(registry().existingResultsWindow(), 2); }

    static QStringList lines(windows::ResultsWindow* f3, int list) {
        QStringList out;
        if (f3 == nullptr) return out;
        const windows::ResultLinesModel* m =
            (list == 1 ? f3->fieldDifferences() : f3->recordDifferences())->linesModel();
        for (qsizetype i = 0; i < m->lineCount(); ++i) out << m->line(i);
        return out;
    }

    // The step numbers of the error reports shown, in order.
    QList<int> reportedLines() const {
        QList<int> out;
        static const QRegularExpression at(
            QStringLiteral("Form2\\.PushButton3_Click at line (\\d+)\r\r"));
        for (const auto& b : boxes.boxes) {
            const auto m = at.match(b.text);
            if (m.hasMatch()) out << m.captured(1).toInt();
        }
        return out;
    }

    // The queries that read tables, sorted: both tables' readers send theirs
    // at once (the row-count estimates left out).
    QStringList tableQueries() const {
        QStringList out;
        for (const QString& q : data.queries()) {
            // Not the columns' description ("... where 1 = 0") that comes first.
            if (q.startsWith(QStringLiteral("select * from ")) &&
                !q.endsWith(QStringLiteral(" where 1 = 0")))
                out << q;
        }
        out.sort();
        return out;
    }

    std::size_t opensBefore_ = 0;
};

TEST_F(Comparison, RefusesEmptyListsAndEqualPositionsWithoutTouchingTheDatabase) {
    data.setSchemaTables(SchemaRowset({}));
    compare(0, 0);
    EXPECT_EQ(boxes.texts(), QStringList{"Please select a table from each."});
    EXPECT_EQ(boxes.boxes.back().icon, ui::Icon::None);

    const data::ResultTable t = Table({{"Id", ValueKind::Integer}}, {{I(1)}});
    boxes.boxes.clear();
    QTest::mouseClick(registry().tableSelectionWindow().backButton(), Qt::LeftButton);
    addTables({{"Orders", &t}, {"Orders2", &t}});
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    const std::size_t opens = data.opens().size();
    QTest::mouseClick(registry().tableSelectionWindow().nextButton(),
                      Qt::LeftButton);  // both on the first item
    EXPECT_EQ(boxes.texts(), QStringList{"Please select 2 different tables to compare."});
    EXPECT_EQ(data.opens().size(), opens);
    EXPECT_TRUE(data.queries().isEmpty());
    EXPECT_EQ(registry().tableSelectionWindow().MousePointer(), windows::kPointerNormal);
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_EQ(registry().existingResultsWindow(), nullptr);
}

// Either list alone empty is refused as well: the test needs both lists filled.
TEST_F(Comparison, OneEmptyListIsRefused) {
    const data::ResultTable t = Table({{"Id", ValueKind::Integer}}, {{I(1)}});
    addTables({{"Orders", &t}, {"Orders2", &t}});
    // The login window's "Next >" reads the catalogue for the first list and
    // keeps a whole read for the second; a failed read is tried again for the
    // second list. So a first read that fails leaves the first list empty and
    // the second filled.
    data.failOn(data::Operation::OpenSchema, QStringLiteral("no catalogue"));
    compare(1, 2);
    ASSERT_EQ(boxes.boxes.size(), 2u) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(registry().tableSelectionWindow().firstTables()->Count(), 0);
    EXPECT_EQ(registry().tableSelectionWindow().secondTables()->Count(), 2);
    EXPECT_EQ(boxes.texts().back(), QStringLiteral("Please select a table from each."));
    EXPECT_TRUE(data.queries().isEmpty());
    EXPECT_EQ(registry().existingResultsWindow(), nullptr);
}

TEST_F(Comparison, FirstTableWithoutRecordsShowsItsMessageAfterReadingBoth) {
    const data::ResultTable empty = Table({{"Id", ValueKind::Integer}}, {});
    addTables({{"Empty", &empty}, {"AlsoEmpty", &empty}});
    compare(1, 2);
    EXPECT_EQ(boxes.texts(), QStringList{"Empty does not contain any data."});
    EXPECT_EQ(boxes.boxes.back().icon, ui::Icon::Exclamation);
    EXPECT_EQ(tableQueries(),
              (QStringList{"select * from [dbo].[AlsoEmpty]", "select * from [dbo].[Empty]"}));
    EXPECT_EQ(registry().existingResultsWindow(), nullptr);
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_EQ(registry().tableSelectionWindow().MousePointer(), windows::kPointerNormal);
    EXPECT_EQ(data.openConnections(), 0);
}

TEST_F(Comparison, SecondTableWithoutRecordsShowsItsMessage) {
    const data::ResultTable one = Table({{"Id", ValueKind::Integer}}, {{I(1)}});
    const data::ResultTable empty = Table({{"Id", ValueKind::Integer}}, {});
    addTables({{"One", &one}, {"Empty", &empty}});
    compare(1, 2);
    EXPECT_EQ(boxes.texts(), QStringList{"Empty does not contain any data."});
    EXPECT_EQ(registry().existingResultsWindow(), nullptr);
}

// The tables are read at the same time, one connection each, both with the
// same options; each is first asked for the server's estimate of its rows.
TEST_F(Comparison, OpensOneConnectionPerTableWithTheFixedOptions) {
    const data::ResultTable t = Table({{"Id", ValueKind::Integer}}, {{I(1)}});
    addTables({{"A", &t}, {"B", &t}});
    compare(1, 2);
    ASSERT_EQ(data.opens().size(), opensBefore_ + 2);
    for (std::size_t i = opensBefore_; i < data.opens().size(); ++i) {
        const auto& open = data.opens()[i];
        EXPECT_EQ(open.mode, 3);
        EXPECT_EQ(open.commandTimeout, 5000);
        EXPECT_EQ(open.connectionTimeout, 5000);
        EXPECT_EQ(open.cursorLocation, 3);
        EXPECT_EQ(open.connectionString,
                  QStringLiteral(
                      "Driver={SQL "
                      "Server};Server=db.example,1433;Database=;Uid=;Pwd=;Encryption=require;"));
    }
    EXPECT_TRUE(data.queries().contains(QStringLiteral(
        "select sum(rows) from sys.partitions where object_id = object_id(N'[dbo].[A]') and "
        "index_id in (0, 1)")));
    EXPECT_EQ(data.openConnections(), 0);
    // Identical tables: the results window with both lists empty, under their headers.
    windows::ResultsWindow& f3 = registry().resultsWindow();
    EXPECT_TRUE(f3.isVisible());
    EXPECT_FALSE(registry().tableSelectionWindow().isVisible());
    EXPECT_EQ(f3.fieldDifferences()->linesModel()->lineCount(), 0);
    EXPECT_EQ(f3.fieldDifferences()->model()->headerData(0, Qt::Horizontal).toString(),
              QStringLiteral("Field differences"));
    EXPECT_EQ(f3.recordDifferences()->model()->headerData(0, Qt::Horizontal).toString(),
              QStringLiteral("Added / deleted records"));
    EXPECT_EQ(registry().tableSelectionWindow().MousePointer(), windows::kPointerNormal);
    EXPECT_EQ(registry().tableSelectionWindow().progressBar()->value(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(Comparison, PairsRecordsAndFieldsByPositionUnderTheFirstTablesNames) {
    const data::ResultTable first =
        Table({{"Id", ValueKind::Integer}, {"Name", ValueKind::Text}, {"Qty", ValueKind::Integer}},
              {{I(1), T(u"Ann"), I(5)}, {I(2), T(u"Bob"), FieldValue()}, {I(3), T(u"Cy"), I(7)}});
    const data::ResultTable second =
        Table({{"Key", ValueKind::Integer}, {"Label", ValueKind::Text}}, {{I(1), T(u"ann")},
                                                                          {I(2), T(u"Bob")},
                                                                          {I(4), T(u"Cy ")},
                                                                          {I(5), T(u"Dee")},
                                                                          {I(6), T(u"Eve")}});
    addTables({{"Orders", &first}, {"Orders2", &second}});
    compare(1, 2);
    EXPECT_EQ(fieldLines(),
              (QStringList{"Field \"Qty\" only in Orders",
                           "Record 1,Field \"Name\" has changed from \"Ann\" to \"ann\"",
                           "Record 3,Field \"Id\" has changed from \"3\" to \"4\"",
                           "Record 3,Field \"Name\" has changed from \"Cy\" to \"Cy \""}));
    EXPECT_EQ(recordLines(),
              (QStringList{"Record 4 added from Orders2", "Record 5 added from Orders2"}));
}

TEST_F(Comparison, RecordsBeyondTheSecondTableAreDeletedFromIt) {
    const data::ResultTable five =
        Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(2)}, {I(3)}, {I(4)}, {I(5)}});
    const data::ResultTable three = Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(9)}, {I(3)}});
    addTables({{"Five", &five}, {"Three", &three}});
    compare(1, 2);
    EXPECT_EQ(fieldLines(), QStringList{"Record 2,Field \"Id\" has changed from \"2\" to \"9\""});
    EXPECT_EQ(recordLines(),
              (QStringList{"Record 4 deleted from Three", "Record 5 deleted from Three"}));
}

TEST_F(Comparison, NullAgainstAValueIsADifferenceWrittenAsNull) {
    const data::ResultTable first =
        Table({{"Price", ValueKind::Integer}}, {{FieldValue()}, {I(12)}, {FieldValue()}});
    const data::ResultTable second =
        Table({{"Price", ValueKind::Integer}}, {{I(12)}, {FieldValue()}, {FieldValue()}});
    addTables({{"P1", &first}, {"P2", &second}});
    compare(1, 2);
    EXPECT_EQ(fieldLines(),
              (QStringList{"Record 1,Field \"Price\" has changed from NULL to \"12\"",
                           "Record 2,Field \"Price\" has changed from \"12\" to NULL"}));
}

TEST_F(Comparison, BackEmptiesTheResultsAndANewRunHoldsOnlyItsOwnLines) {
    const data::ResultTable a = Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(2)}});
    const data::ResultTable b = Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(3)}});
    addTables({{"A", &a}, {"B", &b}});
    compare(1, 2);
    windows::ResultsWindow& f3 = registry().resultsWindow();
    ASSERT_EQ(fieldLines().size(), 1);
    f3.fieldDifferences()->setLineColumnWidth(windows::Twips(6000));  // the user widens the column
    QTest::mouseClick(f3.backButton(), Qt::LeftButton);
    EXPECT_FALSE(f3.isVisible());
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_EQ(registry().tableSelectionWindow().secondTables()->SelectedIndex(),
              2);  // the choice is kept
    EXPECT_EQ(f3.fieldDifferences()->linesModel()->lineCount(), 0);
    QTest::mouseClick(registry().tableSelectionWindow().nextButton(), Qt::LeftButton);
    EXPECT_EQ(fieldLines(), QStringList{"Record 2,Field \"Id\" has changed from \"2\" to \"3\""});
    // The load did not run again: the headers are not added anew, the widened column stays.
    EXPECT_EQ(f3.fieldDifferences()->model()->headerData(0, Qt::Horizontal).toString(),
              QStringLiteral("Field differences"));
    EXPECT_EQ(f3.recordDifferences()->model()->headerData(0, Qt::Horizontal).toString(),
              QStringLiteral("Added / deleted records"));
    EXPECT_EQ(f3.fieldDifferences()->lineColumnWidth(), windows::Twips(6000));
    EXPECT_EQ(&registry().resultsWindow(), &f3);
    QTest::mouseClick(f3.exitButton(), Qt::LeftButton);  // "Exit"
    EXPECT_EQ(endCalls, 1);
}

TEST_F(Comparison, CraftedOrBlankNamesAreQuotedInTheQuery) {
    const data::ResultTable t = Table({{"Id", ValueKind::Integer}}, {{I(1)}});
    addTables({{"Order Lines", &t}, {"x]; drop table y; --", &t}});
    compare(1, 2);
    EXPECT_EQ(tableQueries(), (QStringList{"select * from [dbo].[Order Lines]",
                                           "select * from [dbo].[x]]; drop table y; --]"}));
}

// The failure rule: a failing step is reported with its number and the run
// goes on; a failing test enters what it guards.
// A connection that cannot be opened, or a table that cannot be queried or
// read, is reported once at its own step and ends the run the way a table
// without data does: no results window, no line, the choice still on screen.
TEST_F(Comparison, UnreadableTablesEndTheRunAfterTheirReport) {
    // Read two rows a block: the second table's second block fails after a
    // difference of its first block was already found.
    const data::ResultTable a =
        Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(2)}, {I(3)}, {I(4)}});
    const data::ResultTable b =
        Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(9)}, {I(3)}, {I(4)}});
    addTables({{"A", &a}, {"B", &b}});
    struct Case {
        const char* what;
        std::function<void()> script;
        bool local;
        int line;
    };
    const std::vector<Case> cases{
        {"wrong password",
         [&] {
             data.failOn(data::Operation::Open, QStringLiteral("Login failed for user 'tester'."));
         },
         false, 124},
        {"local server refused",
         [&] { data.failOn(data::Operation::Open, QStringLiteral("refused")); }, true, 122},
        {"first query refused",
         [&] {
             data.failOn(data::Operation::Query, QStringLiteral("Invalid object name 'A'."), 1,
                         QStringLiteral("select * from [dbo].[A]"));
         },
         false, 130},
        {"second query refused",
         [&] {
             data.failOn(data::Operation::Query, QStringLiteral("Invalid object name 'B'."), 1,
                         QStringLiteral("select * from [dbo].[B]"));
         },
         false, 132},
        {"first read fails",
         [&] {
             data.failOn(data::Operation::ReadBlock, QStringLiteral("Communication link failure"),
                         1, QStringLiteral("select * from [dbo].[A]"));
         },
         false, 148},
        {"second read fails part-way",
         [&] {
             data.failOn(data::Operation::ReadBlock, QStringLiteral("Communication link failure"),
                         2, QStringLiteral("select * from [dbo].[B]"));
         },
         false, 160},
    };
    // Each failure is scripted after the login, so that it counts from there.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WindowFixture::TearDown();  // a fresh program for each case
        boxes.boxes.clear();
        windows::Start(registry());
        registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
        registry().loginWindow().localConnectionBox()->setChecked(c.local);
        QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
        windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
        f2.secondTables()->Select(2);
        c.script();
        QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
        EXPECT_EQ(reportedLines(), QList<int>{c.line}) << data.log().join(u'|').toStdString();
        EXPECT_FALSE(registry().existingResultsWindow() &&
                     registry().existingResultsWindow()->isVisible());
        EXPECT_TRUE(fieldLines().isEmpty());
        EXPECT_TRUE(recordLines().isEmpty());
        EXPECT_TRUE(f2.isVisible());
        EXPECT_EQ(f2.MousePointer(), windows::kPointerNormal);
        EXPECT_EQ(f2.progressBar()->value(), 0);
        EXPECT_EQ(data.openConnections(), 0);
    }
}

// Any other failing step is reported and the run goes on with the next one:
// a connection option that cannot be set leaves the run to finish.
TEST_F(Comparison, AFailingStepIsReportedAndTheRunGoesOn) {
    const data::ResultTable a = Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(2)}});
    const data::ResultTable b = Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(3)}});
    addTables({{"A", &a}, {"B", &b}});
    data.failOn(data::Operation::SetOption, QStringLiteral("Not supported"), 1,
                QStringLiteral("CommandTimeout"));
    windows::Start(registry());
    registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    registry().tableSelectionWindow().secondTables()->Select(2);
    QTest::mouseClick(registry().tableSelectionWindow().nextButton(), Qt::LeftButton);
    EXPECT_EQ(reportedLines(), QList<int>{114});
    EXPECT_TRUE(registry().resultsWindow().isVisible());
    EXPECT_EQ(fieldLines(), QStringList{"Record 2,Field \"Id\" has changed from \"2\" to \"3\""});
}

TEST_F(Comparison, BusyPointerDuringTheRunIsNotUndoneByMouseMoves) {
    const data::ResultTable t = Table({{"Id", ValueKind::Integer}}, {{I(1)}});
    addTables({{"A", &t}, {"B", &t}});
    windows::Start(registry());
    registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    f2.secondTables()->Select(2);
    QList<int> seen;
    data.failOn(data::Operation::ReadBlock, QStringLiteral("x"));
    boxes.onShow = [&] {
        QTest::mouseMove(f2.windowHandle(), f2.nextButton()->geometry().center());
        seen << f2.MousePointer();
    };
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.front(), windows::kPointerBusy);
    EXPECT_EQ(f2.MousePointer(), windows::kPointerNormal);
}

// The results lists: one 4000-twip column; a longer line is not elided (no
// "...") but runs on past its edge, and is whole in the item's hint.
TEST_F(Comparison, ResultColumnsAre4000TwipsAndCutLongLinesAtTheirEdge) {
    const QString longText(300, QLatin1Char('W'));
    const data::ResultTable a = Table({{"Note", ValueKind::Text}}, {{T(u"short")}});
    data::ResultTable b = Table({{"Note", ValueKind::Text}}, {});
    b.column(0).append(FieldValue::text(longText));
    addTables({{"A", &a}, {"B", &b}});
    compare(1, 2);
    windows::ResultsWindow& f3 = registry().resultsWindow();
    for (windows::ResultListView* list : {f3.fieldDifferences(), f3.recordDifferences()}) {
        EXPECT_EQ(list->lineColumnWidth(), windows::Twips(4000));
        EXPECT_EQ(list->textElideMode(), Qt::ElideNone);
    }
    QCoreApplication::processEvents();  // the views hear of the lines
    QAbstractItemModel* model = f3.fieldDifferences()->model();
    const QString line =
        QStringLiteral("Record 1,Field \"Note\" has changed from \"short\" to \"") + longText +
        QLatin1Char('"');
    // The line is wider than its column, so only the hint shows it whole.
    ASSERT_GT(f3.fieldDifferences()->fontMetrics().horizontalAdvance(line), windows::Twips(4000));
    EXPECT_EQ(model->data(model->index(0, 0), Qt::ToolTipRole).toString(), line);
}

// Closing the results window by its title bar ends the program, and nothing
// is written to the settings on the way out.
TEST_F(Comparison, TheResultsWindowsCloseBoxEndsTheProgramWithoutStoring) {
    storeLogin();
    const data::ResultTable t = Table({{"Id", ValueKind::Integer}}, {{I(1)}});
    addTables({{"A", &t}, {"B", &t}});
    compare(1, 2);
    ASSERT_TRUE(registry().resultsWindow().isVisible());
    const QString file = connection::SettingsStore().fileName();
    QFile before(file);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray stored = before.readAll();
    const QDateTime modified = QFileInfo(file).lastModified();
    registry().resultsWindow().close();
    EXPECT_EQ(endCalls, 1);
    EXPECT_TRUE(registry().ended());
    QFile after(file);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), stored);
    EXPECT_EQ(QFileInfo(file).lastModified(), modified);
}

// While a run waits for rows the windows paint and the bar follows the rows
// read against the server's estimates; a second "Next >" or a "< Back" does
// nothing, and Esc ends the run like a failed read, without a report.
TEST_F(Comparison, ARunThatWaitsShowsProgressIgnoresClicksAndStopsOnEsc) {
    const data::ResultTable a =
        Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(2)}, {I(3)}, {I(4)}});
    const data::ResultTable b =
        Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(9)}, {I(3)}, {I(4)}});
    addTables({{"A", &a}, {"B", &b}});
    const data::ResultTable four = Table({{"", ValueKind::Integer}}, {{I(4)}});
    for (const char* t : {"A", "B"}) {
        data.setQuery(QStringLiteral("select sum(rows) from sys.partitions where object_id = "
                                     "object_id(N'[dbo].[%1]') and index_id in (0, 1)")
                          .arg(QLatin1String(t)),
                      four);
    }
    windows::Start(registry());
    registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    f2.secondTables()->Select(2);
    const std::size_t opens = data.opens().size();

    // One block of two rows gets through; then the reads wait.
    data.setReadGate(false);
    data.passBlocks(1);
    int maximum = -1, value = -1;
    // Once both reads wait at the gate and the bar has caught up (or after
    // 10 s, when something is wrong): look, click, and press Esc.
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if ((data.waitingReads() < 2 || f2.progressBar()->value() == 0) &&
            waited.elapsed() < 10000) {
            return;
        }
        poll.stop();
        maximum = f2.progressBar()->maximum();
        value = f2.progressBar()->value();
        QTest::mouseClick(f2.nextButton(), Qt::LeftButton);  // dropped
        QTest::mouseClick(f2.backButton(), Qt::LeftButton);  // dropped
        QTest::keyClick(&f2, Qt::Key_Escape);
    });
    poll.start(20);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_EQ(maximum, 1000);
    EXPECT_EQ(value, 250);  // 2 of the 8 rows the server expects
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(data.opens().size(), opens + 2);  // one run
    EXPECT_TRUE(f2.isVisible());
    EXPECT_FALSE(registry().loginWindow().isVisible());
    EXPECT_FALSE(registry().existingResultsWindow() &&
                 registry().existingResultsWindow()->isVisible());
    EXPECT_TRUE(fieldLines().isEmpty());
    EXPECT_EQ(f2.MousePointer(), windows::kPointerNormal);
    EXPECT_EQ(f2.progressBar()->value(), 0);
    EXPECT_EQ(data.openConnections(), 0);

    // The next run reads everything.
    data.setReadGate(true);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_EQ(fieldLines(), QStringList{"Record 2,Field \"Id\" has changed from \"2\" to \"9\""});
}

// "Save As…" (or Ctrl+S) writes both lists in the format the file's name
// asks for; a file that cannot be written is a message, and the results stay.
TEST_F(Comparison, SaveAsWritesBothListsInTheChosenFormat) {
    const data::ResultTable a =
        Table({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}}, {{I(1), T(u"x")}});
    data::ResultTable b = Table({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}},
                                {{I(1), FieldValue()}, {I(2), T(u"y")}});
    addTables({{"A", &a}, {"B", &b}});
    compare(1, 2);
    windows::ResultsWindow& f3 = registry().resultsWindow();
    ASSERT_TRUE(f3.isVisible());
    QTemporaryDir dir;
    // Saved by Ctrl+S, or by the list's context menu entry when asked.
    const auto saved = [&](const QString& name, bool byMenu = false) {
        shell.saveTo = dir.path() + QLatin1Char('/') + name;
        if (byMenu) {
            f3.fieldDifferences()->saveAsAction()->trigger();
        } else {
            QTest::keyClick(&f3, Qt::Key_S, Qt::ControlModifier);
        }
        QFile f(shell.saveTo);
        const QString text =
            f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        // The lines, without the summary the report ends with (its format is the writer's).
        QStringList lines = text.split(u'\n');
        const qsizetype all = lines.size();
        lines.removeIf([](const QString& l) {
            return l.startsWith(u"Summary: ") || l.startsWith(u"summary,") ||
                   l.startsWith(u"{\"kind\":\"summary\"");
        });
        EXPECT_LT(lines.size(), all) << name.toStdString() << " ends without the summary";
        return lines.join(u'\n');
    };
    EXPECT_EQ(saved(QStringLiteral("r.txt")),
              QStringLiteral("Record 1,Field \"Note\" has changed from \"x\" to NULL\n"
                             "Record 2 added from B\n"));
    EXPECT_EQ(saved(QStringLiteral("r.csv")),
              QStringLiteral("kind,record,field,from,to\nchanged,1,\"Note\",\"x\",\nadded,2,,,\n"));
    EXPECT_EQ(saved(QStringLiteral("r.json"), true),
              QStringLiteral("{\"kind\":\"changed\",\"record\":1,\"field\":\"Note\",\"from\":\"x\","
                             "\"to\":null}\n{\"kind\":\"added\",\"record\":2,\"table\":\"B\"}\n"));
    EXPECT_TRUE(boxes.boxes.empty());

    shell.saveTo = dir.path() + QStringLiteral("/no such folder/r.txt");
    QTest::keyClick(&f3, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(
        boxes.boxes[0].text.startsWith(QStringLiteral("The results could not be saved to ")));
    EXPECT_TRUE(f3.isVisible());
    EXPECT_EQ(fieldLines().size(), 1);
}

// "Save As…" with a name ending in .sql writes the script that makes the
// second table hold what the first holds, which a run by key wrote as it
// went; by position, or with a key that is not unique, no script would do
// that: a message says why, and nothing is written.
TEST_F(Comparison, SaveAsSqlWritesTheScriptOfARunByKeyOnly) {
    const data::ResultTable a = Table({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}},
                                      {{I(1), T(u"x")}, {I(2), T(u"y")}, {I(3), T(u"z")}});
    const data::ResultTable b = Table({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}},
                                      {{I(1), T(u"x")}, {I(2), T(u"Y")}, {I(4), T(u"w")}});
    const data::ResultTable twice = Table({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}},
                                          {{I(1), T(u"x")}, {I(2), T(u"y")}, {I(2), T(u"v")}});
    addTables({{"A", &a}, {"B", &b}, {"Twice", &twice}});
    data.setPrimaryKey(QStringLiteral("A"), {QStringLiteral("Id")});
    // By key each table is read in the key's order, which these rows are in.
    for (const auto& [name, table] : {std::pair{"A", &a}, {"B", &b}, {"Twice", &twice}}) {
        data.setQuery(QStringLiteral("select * from [dbo].[%1] order by [Id]").arg(name), *table);
    }
    QTemporaryDir dir;
    windows::ResultsWindow* f3 = nullptr;
    const auto save = [&](const QString& name) {
        shell.saveTo = dir.filePath(name);
        QTest::keyClick(f3, Qt::Key_S, Qt::ControlModifier);
        QFile f(shell.saveTo);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    const auto again = [&](bool byKey, int second) {
        QTest::mouseClick(f3->backButton(), Qt::LeftButton);
        windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
        f2.pairRecordsByKeyBox()->setChecked(byKey);
        f2.secondTables()->Select(second);
        QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    };

    compare(1, 2);
    f3 = &registry().resultsWindow();
    ASSERT_TRUE(f3->isVisible());
    EXPECT_EQ(save(QStringLiteral("position.sql")), QString());
    EXPECT_FALSE(QFile::exists(shell.saveTo));
    EXPECT_FALSE(shell.saveFilter.contains(QStringLiteral("*.sql")));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("Pair records by key")))
        << boxes.boxes[0].text.toStdString();

    again(true, 2);
    ASSERT_TRUE(f3->isVisible()) << boxes.texts().join(u"|").toStdString();
    EXPECT_EQ(fieldLines(),
              QStringList{"Record Id=2,Field \"Note\" has changed from \"y\" to \"Y\""});
    const QString script = save(QStringLiteral("mend.SQL"));
    EXPECT_TRUE(shell.saveFilter.contains(QStringLiteral("T-SQL script (*.sql)")));
    EXPECT_EQ(boxes.boxes.size(), 1u);
    QStringList statements = script.split(u'\n');
    statements.removeIf([](const QString& l) {
        return !l.startsWith(u"UPDATE ") && !l.startsWith(u"INSERT ") &&
               !l.startsWith(u"DELETE ") &&
               !(l.endsWith(u" TRANSACTION;") && !l.startsWith(u"IF "));
    });
    EXPECT_EQ(statements,
              (QStringList{
                  "BEGIN TRANSACTION;",
                  "UPDATE [dbo].[B] SET [Note] = N'y' WHERE [Id] = 2 AND CAST([Note] AS "
                  "nvarchar(max)) = N'Y';",
                  "DELETE FROM [dbo].[B] WHERE [Id] = 4 AND CAST([Note] AS nvarchar(max)) = N'w';",
                  "INSERT INTO [dbo].[B] ([Id], [Note]) SELECT 3, N'z' WHERE NOT EXISTS (SELECT 1 "
                  "FROM [dbo].[B] WHERE [Id] = 3);",
                  "COMMIT TRANSACTION;"}))
        << script.toStdString();
    // The text report is still the lists'.
    EXPECT_TRUE(save(QStringLiteral("lines.txt")).startsWith(QStringLiteral("Record Id=2,")));

    again(true, 3);
    ASSERT_TRUE(f3->isVisible());
    EXPECT_FALSE(recordLines().isEmpty());
    EXPECT_EQ(save(QStringLiteral("twice.sql")), QString());
    EXPECT_FALSE(QFile::exists(shell.saveTo));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_TRUE(boxes.boxes[1].text.startsWith(
        QStringLiteral("The script would not make Twice hold what A holds: The key Id=2 is not "
                       "unique in Twice")))
        << boxes.boxes[1].text.toStdString();
}

// A script whose DELETEs another table's foreign key cascades is kept only
// when the user says so at "Save As…"; the script names the key.
TEST_F(Comparison, SaveAsSqlAsksBeforeKeepingDeletesThatCascade) {
    const data::ResultTable a =
        Table({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}}, {{I(1), T(u"x")}});
    const data::ResultTable b = Table({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}},
                                      {{I(1), T(u"x")}, {I(4), T(u"w")}});
    addTables({{"A", &a}, {"B", &b}});
    data.setPrimaryKey(QStringLiteral("A"), {QStringLiteral("Id")});
    for (const auto& [name, table] : {std::pair{"A", &a}, {"B", &b}}) {
        data.setQuery(QStringLiteral("select * from [dbo].[%1] order by [Id]").arg(name), *table);
    }
    data::ResultTable keys;
    for (const char* column : {"name", "schema", "table"})
        keys.addColumn(QString::fromLatin1(column), ValueKind::Text);
    keys.addColumn(QStringLiteral("delete"), ValueKind::Integer);
    keys.addColumn(QStringLiteral("update"), ValueKind::Integer);
    keys.column(0).append(T(u"FK_Lines_B"));
    keys.column(1).append(T(u"dbo"));
    keys.column(2).append(T(u"Lines"));
    keys.column(3).append(I(1));
    keys.column(4).append(I(0));
    data.setQuery(compare::GuardQueriesFor({QStringLiteral("dbo"), QStringLiteral("B")}).references,
                  keys);
    QTemporaryDir dir;
    compare(1, 2);
    windows::ResultsWindow& f3 = registry().resultsWindow();
    QTest::mouseClick(f3.backButton(), Qt::LeftButton);
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    f2.pairRecordsByKeyBox()->setChecked(true);
    f2.secondTables()->Select(2);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_TRUE(f3.isVisible()) << boxes.texts().join(u"|").toStdString();
    shell.saveTo = dir.filePath(QStringLiteral("mend.sql"));
    QTest::keyClick(&f3, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(
        QStringLiteral("The script deletes a record of B, and each DELETE acts on dbo.Lines "
                       "(cascade) too")))
        << boxes.boxes[0].text.toStdString();
    EXPECT_FALSE(QFile::exists(shell.saveTo));

    boxes.answers.push_back(ui::Answer::Yes);
    QTest::keyClick(&f3, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    QFile f(shell.saveTo);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString script = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(
        script.contains(QStringLiteral("-- The foreign key FK_Lines_B of dbo.Lines "
                                       "references B: on delete cascade")))
        << script.toStdString();
    EXPECT_TRUE(script.contains(QStringLiteral("\nCOMMIT TRANSACTION;\n")));
}

// "Pair fields by name" (stored as it changes): the same columns in another
// order give no field lines; a column only one table has gets one line each,
// before the records' lines.
TEST_F(Comparison, FieldsPairedByNameWhenTheBoxIsTicked) {
    const data::ResultTable a = Table({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}},
                                      {{I(1), T(u"x")}, {I(2), T(u"y")}});
    const data::ResultTable b =
        Table({{"Note", ValueKind::Text}, {"ID", ValueKind::Integer}, {"Region", ValueKind::Text}},
              {{T(u"x"), I(1), T(u"N")}, {T(u"z"), I(2), T(u"S")}});
    addTables({{"A", &a}, {"B", &b}});
    windows::Start(registry());
    registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    EXPECT_FALSE(f2.pairFieldsByNameBox()->isChecked());  // off unless the user asks
    f2.pairFieldsByNameBox()->setChecked(true);
    EXPECT_EQ(connection::SettingsStore().read(connection::kPairFieldsByNameSetting), "1");
    f2.secondTables()->Select(2);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_EQ(fieldLines(),
              (QStringList{"Field \"Region\" only in B",
                           "Record 2,Field \"Note\" has changed from \"y\" to \"z\""}));
    EXPECT_TRUE(boxes.boxes.empty());
}

// The second table in another database, then on another server: the run
// connects each side with its own login, two databases may hold tables at
// the same place of their lists, and the lines and messages name the tables
// with their database (and server).
TEST_F(Comparison, TheSecondSideIsReachedWithItsOwnLoginAndNamedByIt) {
    const data::ResultTable one = Table({{"Id", ValueKind::Integer}}, {{I(1)}});
    const data::ResultTable two = Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(2)}});
    const data::ResultTable empty = Table({{"Id", ValueKind::Integer}}, {});
    addTables({{"Orders", &one}, {"Orders2", &two}, {"Empty", &empty}});
    windows::TableSelectionWindow& f2 = logInToSales();
    QComboBox& origin = *f2.secondOriginBox();
    origin.showPopup();
    origin.hidePopup();
    ASSERT_EQ(origin.itemText(1), QStringLiteral("Sales_Restore"));
    emit origin.activated(1);

    const auto run = [&](int left, int right) {
        if (registry().existingResultsWindow() && registry().resultsWindow().isVisible()) {
            QTest::mouseClick(registry().resultsWindow().backButton(), Qt::LeftButton);
        }
        f2.firstTables()->Select(left);
        f2.secondTables()->Select(right);
        opensBefore_ = data.opens().size();
        QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
        QStringList strings;
        for (std::size_t i = opensBefore_; i < data.opens().size(); ++i) {
            strings << data.opens()[i].connectionString;
        }
        strings.sort();
        return strings;
    };
    const QString sales = QStringLiteral(
        "Driver={SQL Server};Server=db.example,1433;Database=Sales;Uid=;Pwd=;Encryption=require;");
    EXPECT_EQ(run(1, 1),
              (QStringList{
                  sales, QStringLiteral("Driver={SQL Server};Server=db.example,1433;"
                                        "Database=Sales_Restore;Uid=;Pwd=;Encryption=require;")}));
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_TRUE(registry().resultsWindow().isVisible());
    run(1, 2);
    EXPECT_EQ(recordLines(), QStringList{"Record 2 added from Sales_Restore.dbo.Orders2"});
    run(1, 3);
    EXPECT_EQ(boxes.texts(), QStringList{"Sales_Restore.dbo.Empty does not contain any data."});
    boxes.boxes.clear();

    emit origin.activated(origin.count() - 1);  // "Another server…"
    windows::LoginWindow& second = registry().secondLoginWindow();
    second.serverEdit()->setText(QStringLiteral("db2.example"));
    second.portEdit()->setText(QStringLiteral("14330"));
    second.userEdit()->setText(QStringLiteral("auditor"));
    second.passwordEdit()->setText(QStringLiteral("pw2"));
    second.databaseEdit()->setText(QStringLiteral("Sales"));
    QTest::mouseClick(second.nextButton(), Qt::LeftButton);
    ASSERT_TRUE(f2.isVisible());
    EXPECT_EQ(run(1, 2),
              (QStringList{sales, QStringLiteral(
                                      "Driver={SQL Server};Server=db2.example,14330;"
                                      "Database=Sales;Uid=auditor;Pwd=pw2;Encryption=require;")}));
    EXPECT_EQ(recordLines(),
              QStringList{"Record 2 added from [db2.example,14330].Sales.dbo.Orders2"});
    // The same table of a database of the same name, on another server, is another table.
    run(1, 1);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
}

}  // namespace

namespace {

// The overview's rows as they are shown, each its cells joined by "|", in
// the view's order.
QStringList overviewRows(const windows::OverviewWindow& overview) {
    const QAbstractItemModel& m = *overview.pairsView()->model();
    QStringList rows;
    for (int r = 0; r < m.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < m.columnCount(); ++c) {
            // The time is the machine's.
            cells << (c == windows::OverviewModel::TimeColumn &&
                              !m.index(r, c).data().toString().isEmpty()
                          ? QStringLiteral("t")
                          : m.index(r, c).data().toString());
        }
        rows << cells.join(u'|');
    }
    return rows;
}

// "Compare all tables": refused within one database; across two, the
// overview shows every entry at once and Esc stops the whole run, saying so,
// with no row passed off as compared; a full run fills a row a pair as the
// command reports it (a pair that cannot be read says why and ends only
// itself), the tables only one database has, and the totals.
TEST_F(Comparison, AllTablesFillsTheOverviewARowAPairAndStopsOnEsc) {
    const data::ResultTable one = Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(2)}});
    const data::ResultTable other = Table({{"Id", ValueKind::Integer}}, {{I(1)}, {I(3)}});
    for (const char* db : {"Sales", "Sales_Restore"}) {
        data.addTable(QStringLiteral("Customers"), one, QString::fromLatin1(db));
    }
    data.addTable(QStringLiteral("Broken"), one,
                  QStringLiteral("Sales"));  // unreadable in the other
    data.addTable(QStringLiteral("Orders"), one, QStringLiteral("Sales"));
    data.addTable(QStringLiteral("Orders"), other, QStringLiteral("Sales_Restore"));
    const auto listed = [](std::initializer_list<const char*> names) {
        std::vector<std::pair<QString, QString>> rows;
        for (const char* n : names)
            rows.emplace_back(QString::fromLatin1(n), QStringLiteral("TABLE"));
        return SchemaRowset(rows);
    };
    data.setSchemaTables(listed({"Customers", "Notes", "Broken", "Orders"}),
                         QStringLiteral("Sales"));
    data.setSchemaTables(listed({"orders", "Archive", "Broken", "Customers"}),
                         QStringLiteral("Sales_Restore"));
    windows::TableSelectionWindow& f2 = logInToSales();

    std::size_t opens = data.opens().size();
    QTest::mouseClick(f2.allTablesButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.texts(),
              QStringList{"Both sides are the same database. Choose another database under "
                          "\"Second table from:\" to compare all its tables with this one's."});
    EXPECT_EQ(data.opens().size(), opens);
    boxes.boxes.clear();

    QComboBox& origin = *f2.secondOriginBox();
    origin.showPopup();
    origin.hidePopup();
    ASSERT_EQ(origin.itemText(1), QStringLiteral("Sales_Restore"));
    emit origin.activated(1);

    // The first pair's reads wait: Esc there ends every pair to come.
    data.setReadGate(false);
    opens = data.opens().size();
    QString shown;
    QStringList rowsWhileWaiting;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (data.waitingReads() < 1 && waited.elapsed() < 10000) return;
        poll.stop();
        windows::OverviewWindow& overview = registry().overviewWindow();
        shown = overview.progressBar()->text();
        rowsWhileWaiting = overviewRows(overview);
        QTest::keyClick(&overview, Qt::Key_Escape);
    });
    poll.start(20);
    QTest::mouseClick(f2.allTablesButton(), Qt::LeftButton);
    windows::OverviewWindow& overview = registry().overviewWindow();
    EXPECT_EQ(shown, QStringLiteral("Customers (1 of 5)"));
    EXPECT_EQ(rowsWhileWaiting, (QStringList{"Customers|||||||comparing\u2026", "Notes|||||||",
                                             "Broken|||||||", "Orders|||||||", "Archive|||||||"}));
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(data.opens().size(), opens + 4);  // both lists, and the first pair alone
    EXPECT_TRUE(overview.isVisible());
    EXPECT_FALSE(f2.isVisible());
    EXPECT_FALSE(registry().existingResultsWindow() &&
                 registry().existingResultsWindow()->isVisible());
    EXPECT_EQ(overview.pairsModel()->doneCount(), 0);
    EXPECT_TRUE(overview.statusLabel()->text().startsWith(
        QStringLiteral("The run was stopped: 0 of 5 tables were compared")))
        << overview.statusLabel()->text().toStdString();
    EXPECT_TRUE(overview.totalsLabel()->text().startsWith(QStringLiteral("So far: 0 tables")))
        << overview.totalsLabel()->text().toStdString();
    EXPECT_EQ(overview.MousePointer(), windows::kPointerNormal);
    EXPECT_EQ(data.openConnections(), 0);

    QTest::mouseClick(overview.backButton(), Qt::LeftButton);
    ASSERT_TRUE(f2.isVisible());
    EXPECT_FALSE(overview.isVisible());
    data.setReadGate(true);
    QTest::mouseClick(f2.allTablesButton(), Qt::LeftButton);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    ASSERT_TRUE(overview.isVisible());
    EXPECT_FALSE(f2.isVisible());
    const QStringList rows = overviewRows(overview);
    ASSERT_EQ(rows.size(), 5) << rows.join(u'\n').toStdString();
    EXPECT_EQ(rows[0], QStringLiteral("Customers|by position|0|0|0|0|t|same"));
    EXPECT_EQ(rows[1], QStringLiteral("Notes|||||||only in Sales"));
    EXPECT_TRUE(rows[2].startsWith(QStringLiteral("Broken|by position||||||not compared: ")) &&
                rows[2].contains(QStringLiteral("Invalid object name")))
        << rows[2].toStdString();
    EXPECT_EQ(rows[3], QStringLiteral("Orders|by position|1|0|0|0|t|differ: 1 changed (1 field), "
                                      "0 added, 0 deleted"));
    EXPECT_EQ(rows[4], QStringLiteral("Archive|||||||only in Sales_Restore"));
    EXPECT_EQ(overview.totalsLabel()->text(),
              QStringLiteral("Total: 5 tables: 1 the same, 1 differs, 1 not compared, 1 only in "
                             "Sales, 1 only in Sales_Restore."));
    EXPECT_FALSE(overview.statusLabel()->text().contains(QStringLiteral("stopped")));
    EXPECT_EQ(overview.currentRow(), 0);  // Enter opens a pair at once
    // The columns are as wide as their texts, each whole in its hint too.
    const QTableView& view = *overview.pairsView();
    const QModelIndex reason = view.model()->index(2, windows::OverviewModel::ResultColumn);
    EXPECT_GE(view.columnWidth(windows::OverviewModel::ResultColumn),
              view.fontMetrics().horizontalAdvance(reason.data().toString()));
    EXPECT_EQ(reason.data(Qt::ToolTipRole), reason.data());
    EXPECT_EQ(view.model()->index(2, windows::OverviewModel::TableColumn).data(Qt::ToolTipRole),
              QStringLiteral("Broken"));
}

// The overview sorts a count column as numbers; a pair's row opens its
// differences in the results window (by Enter or a double-click) with one
// run of that pair alone, whose "< Back" returns to the overview; "Compare
// again" brings the row and the totals up to date.
TEST_F(Comparison, OverviewSortsOpensAPairAndComparesItAgain) {
    // n records, whose V is v.
    const auto records = [](int n, std::int64_t v) {
        data::ResultTable t = Table({{"Id", ValueKind::Integer}, {"V", ValueKind::Integer}}, {});
        for (int k = 1; k <= n; ++k) {
            t.column(0).append(I(k));
            t.column(1).append(I(v));
        }
        return t;
    };
    // 12 and 9 changed records: as text "12" would sort before "9".
    for (const auto& [name, n] : {std::pair{"Big", 12}, {"Same", 1}, {"Small", 9}}) {
        data.addTable(QString::fromLatin1(name), records(n, 0), QStringLiteral("Sales"));
        data.addTable(QString::fromLatin1(name), records(n, name == std::string("Same") ? 0 : 1),
                      QStringLiteral("Sales_Restore"));
    }
    data.addTable(QStringLiteral("Lone"), records(1, 0), QStringLiteral("Sales"));
    const auto listed = [](std::initializer_list<const char*> names) {
        std::vector<std::pair<QString, QString>> rows;
        for (const char* n : names)
            rows.emplace_back(QString::fromLatin1(n), QStringLiteral("TABLE"));
        return SchemaRowset(rows);
    };
    data.setSchemaTables(listed({"Big", "Same", "Small", "Lone"}), QStringLiteral("Sales"));
    data.setSchemaTables(listed({"Big", "Same", "Small"}), QStringLiteral("Sales_Restore"));
    windows::TableSelectionWindow& f2 = logInToSales();
    QComboBox& origin = *f2.secondOriginBox();
    origin.showPopup();
    origin.hidePopup();
    emit origin.activated(1);  // Sales_Restore
    QTest::mouseClick(f2.allTablesButton(), Qt::LeftButton);
    windows::OverviewWindow& overview = registry().overviewWindow();
    ASSERT_TRUE(overview.isVisible());
    QTableView& view = *overview.pairsView();
    const auto tableOrder = [&] {
        QStringList names;
        for (const QString& row : overviewRows(overview)) names << row.section(u'|', 0, 0);
        return names;
    };
    ASSERT_EQ(tableOrder(), (QStringList{"Big", "Same", "Small", "Lone"}));

    // A click on the header sorts by that column; a second click turns the order.
    QHeaderView& header = *view.horizontalHeader();
    const int changed = windows::OverviewModel::ChangedColumn;
    const QPoint changedHeader(
        header.sectionViewportPosition(changed) + header.sectionSize(changed) / 2,
        header.height() / 2);
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, changedHeader);
    if (header.sortIndicatorOrder() == Qt::DescendingOrder)
        QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, changedHeader);
    EXPECT_EQ(tableOrder(), (QStringList{"Lone", "Same", "Small", "Big"}));
    QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, changedHeader);
    EXPECT_EQ(tableOrder(), (QStringList{"Big", "Small", "Same", "Lone"}));

    // Enter on a table alone says there is nothing to compare it with.
    view.setCurrentIndex(view.model()->index(3, 0));
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(boxes.texts(),
              QStringList{"Lone is only in Sales: there is no table to compare it with."});
    boxes.boxes.clear();

    // Esc while Small's reads wait: no line is left, and the overview stays.
    data.setReadGate(false);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (data.waitingReads() < 1) return;
        poll.stop();
        QTest::keyClick(&overview, Qt::Key_Escape);
    });
    poll.start(20);
    view.setCurrentIndex(view.model()->index(1, 0));
    QTest::keyClick(&view, Qt::Key_Return);
    data.setReadGate(true);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_TRUE(overview.isVisible());
    EXPECT_FALSE(registry().resultsWindow().isVisible());
    EXPECT_TRUE(fieldLines().isEmpty());
    EXPECT_EQ(overviewRows(overview).value(1),
              QStringLiteral("Small|by position|9|0|0|0|t|differ: "
                             "9 changed (9 fields), 0 added, 0 deleted"));

    // A double-click on Small: its lines, its summary, one pair's connections.
    std::size_t opens = data.opens().size();
    const QRect small = view.visualRect(view.model()->index(1, 0));
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, small.center());
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, small.center());
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    windows::ResultsWindow& results = registry().resultsWindow();
    ASSERT_TRUE(results.isVisible());
    EXPECT_FALSE(overview.isVisible());
    EXPECT_EQ(data.opens().size(), opens + 2);
    EXPECT_EQ(fieldLines().size(), 9);
    EXPECT_EQ(fieldLines().value(0),
              QStringLiteral("Record 1,Field \"V\" has changed from \"0\" to \"1\""));
    EXPECT_TRUE(results.summaryLabel()->isVisible());
    // No script stands behind these lines: a .sql name says so and writes nothing.
    QTemporaryDir dir;
    shell.saveTo = dir.filePath(QStringLiteral("small.sql"));
    results.SaveResults();
    EXPECT_FALSE(QFile::exists(shell.saveTo));
    EXPECT_EQ(boxes.boxes.size(), 1u);
    boxes.boxes.clear();

    // "< Back" returns to the overview, running nothing.
    opens = data.opens().size();
    QTest::mouseClick(results.backButton(), Qt::LeftButton);
    EXPECT_TRUE(overview.isVisible());
    EXPECT_FALSE(results.isVisible());
    EXPECT_FALSE(f2.isVisible());
    EXPECT_EQ(data.opens().size(), opens);
    EXPECT_EQ(overview.pairsModel()->doneCount(), 4);

    // Big made the same: "Compare again" updates its row and the totals.
    data.addTable(QStringLiteral("Big"), records(12, 0), QStringLiteral("Sales_Restore"));
    view.setCurrentIndex(view.model()->index(0, 0));
    QTest::mouseClick(overview.compareAgainButton(), Qt::LeftButton);
    EXPECT_EQ(data.opens().size(), opens + 2);
    // The view still sorts by the changed records, Big now among the least.
    EXPECT_EQ(tableOrder().value(0), QStringLiteral("Small"));
    EXPECT_TRUE(overviewRows(overview).contains(QStringLiteral("Big|by position|0|0|0|0|t|same")))
        << overviewRows(overview).join(u'\n').toStdString();
    EXPECT_EQ(overview.totalsLabel()->text(),
              QStringLiteral("Total: 4 tables: 2 the same, 1 differs, 0 not compared, 1 only in "
                             "Sales, 0 only in Sales_Restore."));

    // The overview's "< Back" returns to the table selection.
    QTest::mouseClick(overview.backButton(), Qt::LeftButton);
    EXPECT_TRUE(f2.isVisible());
    EXPECT_FALSE(overview.isVisible());
}

}  // namespace
