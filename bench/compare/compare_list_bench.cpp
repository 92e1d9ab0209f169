#include <benchmark/benchmark.h>

#include <QAbstractListModel>
#include <QApplication>
#include <QClipboard>
#include <QTreeView>
#include <memory>
#include <vector>

#include "ResultListView.h"

namespace {

constexpr int kLines = 1'000'000;

const std::vector<QString>& Lines() {
    static const std::vector<QString> lines = [] {
        std::vector<QString> v;
        v.reserve(kLines);
        for (int i = 1; i <= kLines; ++i) {
            v.push_back(
                QStringLiteral("Record %1,Field \"Amount\" has changed from \"%2\" to \"%3\"")
                    .arg(i)
                    .arg(i * 3)
                    .arg(i * 3 + 1));
        }
        return v;
    }();
    return lines;
}

// The hot path of a comparison: every difference appended to a list whose
// view exists but is not shown yet; the view hears of the rows at the end.
void BM_AppendMillionLinesHiddenView(benchmark::State& state) {
    const auto& lines = Lines();
    for (auto _ : state) {
        state.PauseTiming();
        auto view = std::make_unique<windows::ResultListView>();
        state.ResumeTiming();
        windows::ResultLinesModel& model = *view->linesModel();
        for (const QString& line : lines) model.appendLine(line);
        model.publishPending();
        benchmark::DoNotOptimize(model.rowCount());
        state.PauseTiming();
        view.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_AppendMillionLinesHiddenView)->Unit(benchmark::kMillisecond);

// For comparison: the plain design, one row insertion per line, per line cost
// measured over fewer lines.
class RowPerLineModel : public QAbstractListModel {
public:
    void append(const QString& line) {
        const int row = static_cast<int>(lines_.size());
        beginInsertRows(QModelIndex(), row, row);
        lines_.push_back(line);
        endInsertRows();
    }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(lines_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole) return {};
        return lines_[static_cast<std::size_t>(index.row())];
    }

private:
    std::vector<QString> lines_;
};

void BM_AppendRowPerLineHiddenView(benchmark::State& state) {
    const auto& lines = Lines();
    const auto count = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto view = std::make_unique<QTreeView>();
        view->setUniformRowHeights(true);
        view->setRootIsDecorated(false);
        auto model = std::make_unique<RowPerLineModel>();
        view->setModel(model.get());
        state.ResumeTiming();
        for (std::size_t i = 0; i < count; ++i) model->append(lines[i]);
        state.PauseTiming();
        view.reset();
        model.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AppendRowPerLineHiddenView)->Arg(100'000)->Arg(kLines)->Unit(benchmark::kMillisecond);

// Ctrl+A then Ctrl+C on a shown list of a million lines.
void BM_SelectAllCopyMillionLines(benchmark::State& state) {
    windows::ResultListView view;
    for (const QString& line : Lines()) view.linesModel()->appendLine(line);
    view.resize(800, 600);
    view.show();
    QCoreApplication::processEvents();
    qsizetype copied = 0;
    for (auto _ : state) {
        state.PauseTiming();
        view.clearSelection();
        QGuiApplication::clipboard()->clear();
        state.ResumeTiming();
        view.selectAll();
        view.copySelection();
        state.PauseTiming();
        copied = QGuiApplication::clipboard()->text().size();
        state.ResumeTiming();
    }
    state.counters["chars"] = static_cast<double>(copied);
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_SelectAllCopyMillionLines)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// What the user waits for when the results window appears: the view laying
// out a million rows it has just been told of.
void BM_ShowMillionLines(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto view = std::make_unique<windows::ResultListView>();
        for (const QString& line : Lines()) view->linesModel()->appendLine(line);
        view->resize(800, 600);
        state.ResumeTiming();
        view->show();
        QCoreApplication::processEvents();
        state.PauseTiming();
        view.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ShowMillionLines)->Unit(benchmark::kMillisecond);

}  // namespace
