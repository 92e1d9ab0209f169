// The whole comparison behind "Next >" on two tables of a million records
// each, over the in-memory data layer: reading (a copy of each table, as a
// fetch would produce), pairing, value tests and the difference lines.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>

#include "LoginWindow.h"
#include "MemoryDataAccess.h"
#include "RecordingMessageBoxes.h"
#include "ResultsWindow.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"

namespace {

constexpr int kRecords = 1'000'000;

// Six typical columns; the second table differs in one field of every
// hundredth record and has ten records more.
data::ResultTable Orders(bool second) {
    using data::FieldValue;
    using data::ValueKind;
    data::ResultTable t;
    t.addColumn(QStringLiteral("Id"), ValueKind::Integer);
    t.addColumn(QStringLiteral("Amount"), ValueKind::Decimal);
    t.addColumn(QStringLiteral("Customer"), ValueKind::Text);
    t.addColumn(QStringLiteral("OrderDate"), ValueKind::DateTime);
    t.addColumn(QStringLiteral("Shipped"), ValueKind::Bit);
    t.addColumn(QStringLiteral("Note"), ValueKind::Text);
    const int records = second ? kRecords + 10 : kRecords;
    for (int i = 0; i < records; ++i) {
        const bool changed = second && i % 100 == 0;
        const QString customer = QStringLiteral("Customer %1").arg(i % 5000);
        t.column(0).append(FieldValue::integer(i + 1));
        t.column(1).append(FieldValue::decimal(i * 125 + (changed ? 1 : 0), 2));
        t.column(2).append(FieldValue::text(customer));
        t.column(3).append(FieldValue::dateTime({738000 + i % 365, 36'000'000'000LL, 3}));
        t.column(4).append(FieldValue::bit(i % 2 == 0));
        t.column(5).append(i % 7 == 0 ? FieldValue() : FieldValue::text(QStringView(u"ok")));
    }
    return t;
}

void BM_CompareMillionRecords(benchmark::State& state) {
    // Answers every box at once; a benchmark run shows none.
    testing_support::RecordingMessageBoxes boxes;
    testing_support::RecordingShell shell;
    data::MemoryDataAccess layer;
    layer.addTable(QStringLiteral("Orders"), Orders(false));
    layer.addTable(QStringLiteral("Orders2"), Orders(true));
    {
        data::ResultTable schema;
        for (const char* c : {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE", "REMARKS"}) {
            schema.addColumn(QString::fromLatin1(c), data::ValueKind::Text);
        }
        for (const char16_t* name : {u"Orders", u"Orders2"}) {
            schema.column(0).append(data::FieldValue::text(u"bench"));
            schema.column(1).append(data::FieldValue::text(u"dbo"));
            schema.column(2).append(data::FieldValue::text(QStringView(name)));
            schema.column(3).append(data::FieldValue::text(u"TABLE"));
            schema.column(4).append(data::FieldValue());
        }
        layer.setSchemaTables(schema);
    }
    windows::WindowRegistry registry(windows::Services{boxes, shell, layer, QString(), [] {}});
    windows::Start(registry);
    registry.loginWindow().serverEdit()->setText(QStringLiteral("bench"));
    registry.loginWindow().nextButton()->click();
    registry.tableSelectionWindow().secondTables()->Select(2);

    qsizetype lines = 0;
    for (auto _ : state) {
        registry.tableSelectionWindow().nextButton()->click();
        state.PauseTiming();
        lines = registry.resultsWindow().fieldDifferences()->linesModel()->lineCount() +
                registry.resultsWindow().recordDifferences()->linesModel()->lineCount();
        registry.resultsWindow().backButton()->click();
        state.ResumeTiming();
    }
    if (!boxes.boxes.empty() || lines != kRecords / 100 + 10)
        state.SkipWithError("unexpected result");
    state.counters["lines"] = static_cast<double>(lines);
    state.counters["records/s"] =
        benchmark::Counter(2.0 * kRecords, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CompareMillionRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
