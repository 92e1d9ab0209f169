// The comparison's options: set in the table selection window's dialog for
// the chosen pair of tables, kept per pair with the settings, handed to the
// run, and said under the results.

#include <QElapsedTimer>
#include <QPointer>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>

#include "ComparisonOptionsDialog.h"
#include "Pointer.h"
#include "Settings.h"
#include "TableQuery.h"
#include "Tables.h"
#include "WindowFixture.h"

namespace {

using testing_support::SchemaRowset;
using testing_support::TextTable;
using windows::ComparisonOptionsDialog;

// Awkward names: a comma, quotes and a line break, and letters beyond ASCII.
const QString kOddColumn = QStringLiteral("Note, \"quoted\"\nline");
const QString kGroesse = QStringLiteral("Gr\u00f6\u00dfe");

class ComparisonOptions : public testing_support::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        const data::ResultTable a =
            TextTable({"Id", kOddColumn, kGroesse, "Stamp"}, {{"1", "a ", "x", "t1"}});
        const data::ResultTable b =
            TextTable({"Id", kOddColumn, kGroesse, "Stamp"}, {{"1", "a", "x", "t2"}});
        // Two columns named otherwise.
        const data::ResultTable d =
            TextTable({"Id", "Remark", "Size", "Stamp"}, {{"1", "a ", "x", "t1"}});
        std::vector<std::pair<QString, QString>> rows;
        for (const auto& [name, table] : {std::pair{"A", &a}, {"B", &b}, {"C", &b}, {"D", &d}}) {
            data.addTable(QString::fromLatin1(name), *table);
            rows.emplace_back(QString::fromLatin1(name), QStringLiteral("TABLE"));
        }
        data.setSchemaTables(SchemaRowset(rows));
        windows::Start(registry());
        registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
        QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    }

    windows::TableSelectionWindow& f2() { return registry().tableSelectionWindow(); }

    // Picks the pair (1-based positions) and opens the dialog.
    ComparisonOptionsDialog* openOptions(int left, int right) {
        f2().firstTables()->Select(left);
        f2().secondTables()->Select(right);
        QTest::mouseClick(f2().optionsButton(), Qt::LeftButton);
        return f2().optionsDialog();
    }

    // What each row of the list is paired with, as shown.
    static QStringList paired(const ComparisonOptionsDialog& d) {
        QStringList out;
        for (int i = 0; i < d.columnList()->topLevelItemCount(); ++i) {
            out << d.pairedBox(i)->currentText();
        }
        return out;
    }
    static void pick(ComparisonOptionsDialog& d, int row, const QString& second) {
        d.pairedBox(row)->setCurrentIndex(d.pairedBox(row)->findText(second));
    }

    static QTreeWidgetItem* columnItem(ComparisonOptionsDialog& d, const QString& name) {
        for (int i = 0; i < d.columnList()->topLevelItemCount(); ++i) {
            if (d.columnList()->topLevelItem(i)->text(0) == name)
                return d.columnList()->topLevelItem(i);
        }
        return nullptr;
    }
};

// What the dialog sets is kept for the pair it was set for, in the settings
// file (awkward names and texts intact), comes back for that pair only, and
// is what the run is given, which the results window then says.
TEST_F(ComparisonOptions, AreKeptPerPairAndHandedToTheRun) {
    f2().pairRecordsByKeyBox()->setChecked(true);
    QPointer<ComparisonOptionsDialog> d = openOptions(1, 2);
    ASSERT_TRUE(d);
    ASSERT_TRUE(d->isVisible());
    ASSERT_EQ(d->columnList()->topLevelItemCount(), 4);
    for (const QString& name : {kOddColumn, kGroesse, QStringLiteral("Stamp")}) {
        ASSERT_NE(columnItem(*d, name), nullptr) << name.toStdString();
    }
    columnItem(*d, kOddColumn)->setCheckState(ComparisonOptionsDialog::LeaveOutColumn, Qt::Checked);
    columnItem(*d, QStringLiteral("Stamp"))
        ->setCheckState(ComparisonOptionsDialog::LeaveOutColumn, Qt::Checked);
    columnItem(*d, QStringLiteral("Id"))
        ->setCheckState(ComparisonOptionsDialog::KeyColumn, Qt::Checked);
    d->firstWhereEdit()->setText(QStringLiteral("Region = N'S\u00fcd, \"Ost\"'"));
    d->sameWhereBox()->setChecked(false);
    d->secondWhereEdit()->setText(QStringLiteral("[Gr\u00f6\u00dfe] > 2"));
    d->trimBox()->setChecked(true);
    QTest::keyClicks(d->toleranceEdit(), QStringLiteral("0.005"));
    QTest::keyClicks(d->limitEdit(), QStringLiteral("25"));
    d->checksumsBox()->setChecked(true);
    const windows::OptionChoices chosen = d->options();
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    EXPECT_FALSE(d && d->isVisible());

    // In the settings file, for this pair only: read back by a fresh store.
    const windows::OptionChoices stored = windows::StoredPairOptions({"A", "B"});
    EXPECT_EQ(stored, chosen);
    EXPECT_EQ(stored.leaveOut, (QStringList{kOddColumn, QStringLiteral("Stamp")}));
    EXPECT_EQ(stored.firstWhere, QStringLiteral("Region = N'S\u00fcd, \"Ost\"'"));
    EXPECT_EQ(stored.limit, QStringLiteral("25"));
    EXPECT_TRUE(stored.checksums);
    EXPECT_EQ(windows::StoredPairOptions({"A", "C"}), compare::OptionChoices());
    EXPECT_EQ(windows::StoredPairOptions({"B", "A"}), compare::OptionChoices());

    // Another pair opens with nothing set, and takes its own; the first
    // pair's choices come back.
    d = openOptions(1, 3);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->options(), compare::OptionChoices());
    d->trimBox()->setChecked(true);
    d->toleranceEdit()->setText(QStringLiteral("0.005"));
    d->limitEdit()->setText(QStringLiteral("25"));
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    d = openOptions(1, 2);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->options(), chosen);
    EXPECT_EQ(columnItem(*d, kOddColumn)->checkState(ComparisonOptionsDialog::LeaveOutColumn),
              Qt::Checked);
    EXPECT_FALSE(d->secondWhereEdit()->text().isEmpty());
    QTest::keyClick(d, Qt::Key_Escape);
    EXPECT_EQ(windows::StoredPairOptions({"A", "B"}), chosen);

    // The run is given the pair's options, and the results say so under the lists.
    f2().pairRecordsByKeyBox()->setChecked(false);
    f2().secondTables()->Select(3);
    QTest::mouseClick(f2().nextButton(), Qt::LeftButton);
    windows::ResultsWindow* f3 = registry().existingResultsWindow();
    ASSERT_TRUE(f3 && f3->isVisible()) << boxes.texts().join(u'|').toStdString();
    EXPECT_TRUE(f3->noticeLabel()->isVisible());
    EXPECT_EQ(f3->noticeLabel()->text(),
              QStringLiteral("Options were on: trailing blanks ignored; numbers within 0.005 "
                             "equal; at most 25 differing records."));
    EXPECT_TRUE(f3->summaryLabel()->text().startsWith(QStringLiteral("Summary: ")));
    EXPECT_TRUE(f3->summaryLabel()->text().contains(QStringLiteral(" from A and ")));
    // Both lines below the buttons, inside the window that grew for them.
    EXPECT_GE(f3->summaryLabel()->y(), f3->backButton()->geometry().bottom());
    EXPECT_GE(f3->noticeLabel()->y(), f3->summaryLabel()->geometry().bottom());
    EXPECT_LE(f3->noticeLabel()->geometry().bottom(), f3->height());

    // A pair without options: a summary, no notice, and the window shorter.
    const int grown = f3->height();
    QTest::mouseClick(f3->backButton(), Qt::LeftButton);
    f2().firstTables()->Select(2);
    QTest::mouseClick(f2().nextButton(), Qt::LeftButton);
    ASSERT_TRUE(f3->isVisible()) << boxes.texts().join(u'|').toStdString();
    EXPECT_TRUE(f3->summaryLabel()->isVisible());
    EXPECT_FALSE(f3->noticeLabel()->isVisible());
    EXPECT_LT(f3->height(), grown);
    EXPECT_LE(f3->summaryLabel()->geometry().bottom(), f3->height());
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
}

// Ticked, snapshot isolation is kept with the pair and both tables' reading
// connections are opened asking for it; unticked, none is.
TEST_F(ComparisonOptions, SnapshotIsolationReachesBothReadingConnections) {
    const auto snapshots = [&] {
        int n = 0;
        for (const data::MemoryDataAccess::OpenCall& open : data.opens())
            n += open.isolationLevel == data::adXactSnapshot;
        return n;
    };
    QPointer<ComparisonOptionsDialog> d = openOptions(1, 2);
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->snapshotBox()->isChecked());
    d->snapshotBox()->setChecked(true);
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    EXPECT_TRUE(windows::StoredPairOptions({"A", "B"}).snapshot);
    QTest::mouseClick(f2().nextButton(), Qt::LeftButton);
    ASSERT_TRUE(registry().existingResultsWindow()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(snapshots(), 2);
    QTest::mouseClick(registry().existingResultsWindow()->backButton(), Qt::LeftButton);
    f2().secondTables()->Select(3);  // a pair without it
    QTest::mouseClick(f2().nextButton(), Qt::LeftButton);
    EXPECT_EQ(snapshots(), 2);
    EXPECT_GT(data.opens().size(), 4u);
}

// Each column shows its partner as the run would pair it, by position or by
// name; a column picked otherwise becomes a pair of the map (only then), the
// others moving as the run would move them; a column mapped twice or mapped
// and left out is refused; the map is kept for the pair and comes back.
TEST_F(ComparisonOptions, ColumnsArePairedAsPicked) {
    const QString none = QStringLiteral("(none)");
    QPointer<ComparisonOptionsDialog> d = openOptions(1, 4);
    ASSERT_TRUE(d);
    EXPECT_EQ(paired(*d), (QStringList{"Id", "Remark", "Size", "Stamp"}));
    pick(*d, 1, QStringLiteral("Size"));
    EXPECT_EQ(paired(*d), (QStringList{"Id", "Size", "Remark", "Stamp"}));
    EXPECT_EQ(d->options().map, (std::vector<compare::ColumnMapping>{{kOddColumn, "Size"}}));
    pick(*d, 1, QStringLiteral("Remark"));
    EXPECT_TRUE(d->options().map.empty());
    QTest::keyClick(d, Qt::Key_Escape);

    f2().pairFieldsByNameBox()->setChecked(true);
    d = openOptions(1, 4);
    ASSERT_TRUE(d);
    EXPECT_EQ(paired(*d), (QStringList{"Id", none, none, "Stamp"}));
    // "(none)" only where nothing pairs: no pair of the map says "nothing".
    const auto noneEnabled = [&](int row) {
        return static_cast<QStandardItemModel*>(d->pairedBox(row)->model())->item(0)->isEnabled();
    };
    EXPECT_FALSE(noneEnabled(0));
    EXPECT_TRUE(noneEnabled(1));
    pick(*d, 1, QStringLiteral("Remark"));
    pick(*d, 2, QStringLiteral("Size"));
    // Id takes Stamp's partner, which is left with none; Stamp then picked
    // too is mapped twice.
    pick(*d, 0, QStringLiteral("Stamp"));
    EXPECT_EQ(paired(*d), (QStringList{"Stamp", "Remark", "Size", none}));
    pick(*d, 3, QStringLiteral("Stamp"));
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    ASSERT_TRUE(d && d->isVisible());
    EXPECT_EQ(d->problemLabel()->text(),
              QStringLiteral("The second table's column \"Stamp\" is mapped twice."));
    EXPECT_EQ(d->focusWidget(), d->columnList());
    pick(*d, 0, QStringLiteral("Id"));
    columnItem(*d, kGroesse)->setCheckState(ComparisonOptionsDialog::LeaveOutColumn, Qt::Checked);
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    ASSERT_TRUE(d && d->isVisible());
    EXPECT_TRUE(d->problemLabel()->text().contains(QStringLiteral("cannot be left out")));
    columnItem(*d, kGroesse)->setCheckState(ComparisonOptionsDialog::LeaveOutColumn, Qt::Unchecked);
    const std::vector<compare::ColumnMapping> map{{kOddColumn, "Remark"}, {kGroesse, "Size"}};
    EXPECT_EQ(d->options().map, map);
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    EXPECT_FALSE(d && d->isVisible());
    EXPECT_EQ(windows::StoredPairOptions({"A", "D"}).map, map);

    d = openOptions(1, 4);
    ASSERT_TRUE(d);
    EXPECT_EQ(paired(*d), (QStringList{"Id", "Remark", "Size", "Stamp"}));
    EXPECT_EQ(d->options().map, map);
    QTest::keyClick(d, Qt::Key_Escape);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
}

// OK refuses what cannot be used and says why in the dialog, which stays
// open; nothing is stored until OK succeeds, and Esc keeps nothing.
TEST_F(ComparisonOptions, OkRefusesWhatCannotBeUsed) {
    QPointer<ComparisonOptionsDialog> d = openOptions(1, 2);
    ASSERT_TRUE(d);
    const auto refused = [&](QLineEdit* edit, const QString& text, const QString& said) {
        edit->setText(text);
        QTest::mouseClick(d->okButton(), Qt::LeftButton);
        EXPECT_TRUE(d && d->isVisible()) << text.toStdString();
        if (!d) return;
        EXPECT_TRUE(d->problemLabel()->text().contains(said))
            << d->problemLabel()->text().toStdString();
        edit->clear();
    };
    refused(d->firstWhereEdit(), QStringLiteral("1 = 1; drop table A"), QStringLiteral("\";\""));
    refused(d->firstWhereEdit(), QStringLiteral("Id = 1 --"), QStringLiteral("comment"));
    refused(d->firstWhereEdit(), QStringLiteral("Note = 'x"), QStringLiteral("not closed"));
    d->sameWhereBox()->setChecked(false);
    refused(d->secondWhereEdit(), QStringLiteral("Id in (1, 2"), QStringLiteral("second table"));
    d->sameWhereBox()->setChecked(true);
    refused(d->toleranceEdit(), QStringLiteral("-1"), QStringLiteral("\"-1\""));
    refused(d->toleranceEdit(), QStringLiteral("abc"), QStringLiteral("\"abc\""));
    refused(d->limitEdit(), QStringLiteral("-3"), QStringLiteral("\"-3\""));
    refused(d->limitEdit(), QStringLiteral("ten"), QStringLiteral("\"ten\""));
    ASSERT_TRUE(d);
    for (int i = 0; i < d->columnList()->topLevelItemCount(); ++i) {
        d->columnList()->topLevelItem(i)->setCheckState(ComparisonOptionsDialog::LeaveOutColumn,
                                                        Qt::Checked);
    }
    QTest::mouseClick(d->okButton(), Qt::LeftButton);
    EXPECT_TRUE(d && d->isVisible());
    EXPECT_EQ(windows::StoredPairOptions({"A", "B"}), compare::OptionChoices());

    // Esc: the dialog goes and keeps nothing.
    QTest::keyClick(d, Qt::Key_Escape);
    EXPECT_FALSE(d && d->isVisible());
    EXPECT_EQ(windows::StoredPairOptions({"A", "B"}), compare::OptionChoices());
    d = openOptions(1, 2);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->options(), compare::OptionChoices());
    QTest::keyClick(d, Qt::Key_Escape);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
}

// A stored choice that cannot be had (the settings file edited by hand) is
// refused with a word when the run starts, never dropped: a tolerance that
// vanished would turn a loosened comparison into a strict one unseen.
TEST_F(ComparisonOptions, AStoredChoiceThatCannotBeHadIsRefusedWhenTheRunStarts) {
    // A pair of the map edited by hand into one naming no column: kept, not dropped.
    connection::SettingsStore().write(
        connection::kPairOptionsSetting,
        QStringLiteral(R"([{"first":"A","second":"C","map":[{"first":"Id"}]}])"));
    compare::OptionChoices edited;
    edited.tolerance = QStringLiteral("abc");
    ASSERT_TRUE(windows::StorePairOptions({"A", "B"}, edited));
    EXPECT_EQ(windows::StoredPairOptions({"A", "C"}).map,
              (std::vector<compare::ColumnMapping>{{"Id", ""}}));
    for (const auto& [second, said] : {std::pair{2, QStringLiteral("cannot be used: \"abc\"")},
                                       {3, QStringLiteral("C has no column \"\"")}}) {
        boxes.boxes.clear();
        f2().firstTables()->Select(1);
        f2().secondTables()->Select(second);
        QTest::mouseClick(f2().nextButton(), Qt::LeftButton);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_TRUE(boxes.boxes[0].text.contains(said)) << boxes.boxes[0].text.toStdString();
        windows::ResultsWindow* f3 = registry().existingResultsWindow();
        EXPECT_FALSE(f3 && f3->isVisible());
    }
}

// The dialog needs a chosen pair and the first table's columns: without a
// table, or when the columns cannot be read, it says so instead of opening;
// a server that sits on the question is given up with Esc.
TEST_F(ComparisonOptions, OpenOnlyWithAPairAndItsColumns) {
    data.failOn(data::Operation::Query,
                QStringLiteral("[FreeTDS][SQL Server]Invalid object name 'A'."), 1,
                compare::SelectAllFrom({QStringLiteral("dbo"), QStringLiteral("A")}) +
                    QStringLiteral(" where 1 = 0"));
    EXPECT_EQ(openOptions(1, 2), nullptr);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(
        boxes.boxes[0].text.startsWith(QStringLiteral("The columns of A could not be read")));
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("Invalid object name 'A'.")));
    EXPECT_EQ(f2().MousePointer(), windows::kPointerNormal);
    boxes.boxes.clear();
    // The second table's too, on its own side's connection.
    data.failOn(data::Operation::Query, QStringLiteral("[FreeTDS][SQL Server]Timeout expired"), 1,
                compare::SelectAllFrom({QStringLiteral("dbo"), QStringLiteral("B")}) +
                    QStringLiteral(" where 1 = 0"));
    EXPECT_EQ(openOptions(1, 2), nullptr);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(
        QStringLiteral("The columns of B could not be read:\r\r[FreeTDS][SQL Server]Timeout")));
    EXPECT_EQ(f2().MousePointer(), windows::kPointerNormal);
    boxes.boxes.clear();

    data.holdQueries(QStringLiteral("where 1 = 0"));
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (data.heldQueries() == 0 && waited.elapsed() < 10000) return;
        poll.stop();
        QTest::keyClick(&f2(), Qt::Key_Escape);
    });
    poll.start(20);
    EXPECT_EQ(openOptions(1, 2), nullptr);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(f2().MousePointer(), windows::kPointerNormal);
    data.releaseQueries();

    // A connect that nothing interrupts: Esc still answers, and the question
    // ends alone once the server lets it.
    data.holdOpens();
    waited.restart();
    poll.start(20);
    EXPECT_EQ(openOptions(1, 2), nullptr);
    EXPECT_EQ(data.heldQueries(), 1);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.texts().join(u'|').toStdString();
    data.releaseQueries();

    // No tables to pick from.
    data.setSchemaTables(SchemaRowset({}));
    registry().tableSelectionWindow().Hide();
    registry().loginWindow().Show();
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    const std::size_t opens = data.opens().size();
    QTest::mouseClick(f2().optionsButton(), Qt::LeftButton);
    EXPECT_EQ(f2().optionsDialog(), nullptr);
    EXPECT_EQ(boxes.texts(), QStringList{"Please select a table from each."});
    EXPECT_EQ(data.opens().size(), opens);
}

}  // namespace
