// A query read in place of a table: the table selection window's query
// editor, the list that shows the query, the key a run by key takes from it,
// and the choice kept with the settings.

#include <QTest>

#include "QueryDialog.h"
#include "Tables.h"
#include "WindowFixture.h"

namespace {

using testing_support::SchemaRowset;

class QueryEditor : public testing_support::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        data.setSchemaTables(SchemaRowset({{"Orders", "TABLE"}, {"Customers", "TABLE"}}));
        logIn();
    }
    void logIn() {
        windows::Start(registry());
        registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
        QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    }
    windows::TableSelectionWindow& f2() { return registry().tableSelectionWindow(); }

    // Opens the side's editor, fills it in and presses OK; the editor, if
    // it stayed open.
    windows::QueryDialog* giveQuery(QPushButton* button, const QString& sql,
                                    const QString& key = QString(),
                                    const QString& name = QString()) {
        QTest::mouseClick(button, Qt::LeftButton);
        windows::QueryDialog* d = f2().queryDialog();
        EXPECT_NE(d, nullptr);
        if (d == nullptr) return nullptr;
        d->sqlEdit()->setPlainText(sql);
        d->keyEdit()->setText(key);
        d->nameEdit()->setText(name);
        QTest::mouseClick(d->okButton(), Qt::LeftButton);
        return d->isVisible() ? d : nullptr;
    }
};

// The editor refuses what is not one SELECT and stays open; an accepted
// query heads the list, chosen, and comes back with the window, chosen or
// not as the user left it; Esc leaves it as it was, "Remove Query" takes it away.
TEST_F(QueryEditor, AQueryHeadsItsListAndComesBackAsTheUserLeftIt) {
    windows::QueryDialog* refused = giveQuery(
        f2().firstQueryButton(), QStringLiteral("select * from Orders; delete from Orders"));
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(refused->problemLabel()->text().startsWith(
        QStringLiteral("The first query cannot be run: it holds more than one statement")))
        << refused->problemLabel()->text().toStdString();
    QTest::keyClick(refused, Qt::Key_Escape);
    EXPECT_EQ(items(*f2().firstTables()), (QStringList{"Orders", "Customers"}));

    const QString sql = QStringLiteral("select Id, Total from Orders\norder by Id");
    EXPECT_EQ(giveQuery(f2().firstQueryButton(), sql, QStringLiteral("Id"),
                        QStringLiteral("open orders")),
              nullptr);
    EXPECT_EQ(items(*f2().firstTables()),
              (QStringList{"Query: open orders", "Orders", "Customers"}));
    EXPECT_EQ(f2().firstTables()->SelectedTable().query, sql);
    EXPECT_EQ(f2().ChosenPair().first, QStringLiteral("open orders"));
    EXPECT_EQ(items(*f2().secondTables()), (QStringList{"Orders", "Customers"}));

    endProgram();
    logIn();
    EXPECT_EQ(f2().firstTables()->SelectedText(), QStringLiteral("Query: open orders"));
    QTest::mouseClick(f2().firstQueryButton(), Qt::LeftButton);
    ASSERT_NE(f2().queryDialog(), nullptr);
    EXPECT_EQ(f2().queryDialog()->query(),
              (windows::QueryChoice{sql, QStringLiteral("Id"), QStringLiteral("open orders")}));
    f2().queryDialog()->sqlEdit()->setPlainText(QStringLiteral("select 1"));
    QTest::keyClick(f2().queryDialog(), Qt::Key_Escape);
    EXPECT_EQ(f2().firstTables()->SelectedTable().query, sql);

    f2().firstTables()->Select(3);  // Customers: the table again
    endProgram();
    logIn();
    EXPECT_EQ(items(*f2().firstTables()),
              (QStringList{"Query: open orders", "Orders", "Customers"}));
    EXPECT_EQ(f2().firstTables()->SelectedText(), QStringLiteral("Orders"));

    f2().firstTables()->Select(1);
    QTest::mouseClick(f2().firstQueryButton(), Qt::LeftButton);
    QTest::mouseClick(f2().queryDialog()->removeButton(), Qt::LeftButton);
    EXPECT_EQ(items(*f2().firstTables()), (QStringList{"Orders", "Customers"}));
    EXPECT_EQ(f2().firstTables()->SelectedText(), QStringLiteral("Orders"));
    endProgram();
    logIn();
    EXPECT_EQ(items(*f2().firstTables()), (QStringList{"Orders", "Customers"}));
}

// By key, a query's key is the columns its editor names: a query without
// them, two queries naming different ones, and the same query on both
// sides are refused before anything is read.
TEST_F(QueryEditor, RunsThatCannotBeHadAreRefusedBeforeAnyRead) {
    f2().pairRecordsByKeyBox()->setChecked(true);
    giveQuery(f2().firstQueryButton(), QStringLiteral("select Id from Orders"));
    giveQuery(f2().secondQueryButton(), QStringLiteral("select Id from Orders"),
              QStringLiteral("Id"));
    QTest::mouseClick(f2().nextButton(), Qt::LeftButton);
    giveQuery(f2().firstQueryButton(), QStringLiteral("select Id from Orders"),
              QStringLiteral("Ref"));
    QTest::mouseClick(f2().nextButton(), Qt::LeftButton);
    f2().pairRecordsByKeyBox()->setChecked(false);
    QTest::mouseClick(f2().nextButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.texts(),
              (QStringList{
                  "The records cannot be paired by key: the first query is a query, which has no "
                  "primary key. Name its key columns under \"Query\u2026\".",
                  "The records cannot be paired by key: the first query names the key columns "
                  "Ref, the second query names Id. Name the same columns for both under "
                  "\"Query\u2026\".",
                  "Both sides run the same query on the same database: there is nothing to "
                  "compare."}));
    EXPECT_TRUE(data.queries().isEmpty()) << data.queries().join(u'\n').toStdString();
    EXPECT_TRUE(f2().isVisible());
}

}  // namespace
