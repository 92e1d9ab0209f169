#include "OverviewModel.h"

#include <QColor>
#include <QFont>
#include <utility>

#include "DifferenceLines.h"

namespace windows {

namespace {

using Kind = compare::PairOutcome::Kind;

// A pair's counts are had once its records were read: a pair that could not
// be compared, or a table alone, has none (not zero).
bool hasCounts(const compare::PairOutcome& o) {
    return o.kind == Kind::Same || o.kind == Kind::Differ;
}

// The time is the run's, from connecting to the last difference: only a
// pair whose records were compared has one.
bool hasTime(const compare::PairOutcome& o) {
    return o.kind == Kind::Differ || (o.kind == Kind::Same && !o.bothEmpty && o.note.isEmpty());
}

std::optional<std::int64_t> count(const compare::PairOutcome& o, int column) {
    const compare::RunSummary& s = o.summary;
    if (column == OverviewModel::TimeColumn) {
        return hasTime(o) ? std::optional<std::int64_t>(s.elapsedMs) : std::nullopt;
    }
    if (!hasCounts(o)) return std::nullopt;
    switch (column) {
        case OverviewModel::ChangedColumn:
            return s.changedRecords;
        case OverviewModel::AddedColumn:
            return s.added;
        case OverviewModel::DeletedColumn:
            return s.deleted;
        case OverviewModel::ColumnsOnlyInOneColumn:
            return o.columnsOnlyInOne;
        default:
            return std::nullopt;
    }
}

bool isNumber(int column) {
    return column >= OverviewModel::ChangedColumn && column <= OverviewModel::TimeColumn;
}

}  // namespace

OverviewModel::OverviewModel(QObject* parent) : QAbstractTableModel(parent) {}

void OverviewModel::Reset(std::vector<compare::TableEntry> entries) {
    beginResetModel();
    rows_.clear();
    for (compare::TableEntry& e : entries) rows_.push_back({std::move(e), std::nullopt});
    underWay_.reset();
    endResetModel();
}

void OverviewModel::SetUnderWay(std::optional<int> row) {
    const std::optional<int> before = std::exchange(underWay_, row);
    if (before) rowChanged(*before);
    if (row) rowChanged(*row);
}

void OverviewModel::SetOutcome(int row, const compare::PairOutcome& outcome) {
    rows_.at(row).outcome = outcome;
    rowChanged(row);
}

compare::PairTotals OverviewModel::totals() const {
    compare::PairTotals totals;
    for (const Row& r : rows_) {
        if (r.outcome) totals.count(r.outcome->kind);
    }
    return totals;
}

int OverviewModel::doneCount() const {
    int done = 0;
    for (const Row& r : rows_) done += r.outcome ? 1 : 0;
    return done;
}

int OverviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int OverviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant OverviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const bool running = underWay_ == index.row();
    switch (role) {
        case Qt::DisplayRole:
            return display(row, index.column(), running);
        case Qt::ToolTipRole: {
            // A name or a reason may be longer than its column.
            if (isNumber(index.column())) return {};
            const QVariant text = display(row, index.column(), running);
            return text.toString().isEmpty() ? QVariant() : text;
        }
        case kSortRole:
            return sortValue(row, index.column());
        case Qt::TextAlignmentRole:
            return isNumber(index.column()) ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                            : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::FontRole:
            if (running) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case Qt::BackgroundRole:
            return running ? QVariant(QColor(255, 244, 190)) : QVariant();
        case Qt::ForegroundRole:
            // Tables that need a look stand out.
            if (row.outcome &&
                (row.outcome->kind == Kind::Differ || row.outcome->kind == Kind::NotCompared)) {
                return QColor(160, 0, 0);
            }
            return {};
        default:
            return {};
    }
}

QVariant OverviewModel::display(const Row& row, int column, bool running) const {
    if (column == TableColumn) return compare::WithVisibleControls(row.entry.listed());
    if (running && column == ResultColumn) return QStringLiteral("comparing\u2026");
    if (!row.outcome) return QString();
    const compare::PairOutcome& o = *row.outcome;
    switch (column) {
        case PairingColumn:
            return compare::PairingText(o);
        case ResultColumn:
            return compare::ResultText(o);
        case TimeColumn: {
            const std::optional<std::int64_t> ms = count(o, column);
            return ms ? QString::number(static_cast<double>(*ms) / 1000.0, 'f', 3) : QString();
        }
        default: {
            const std::optional<std::int64_t> n = count(o, column);
            return n ? QString::number(*n) : QString();
        }
    }
}

QVariant OverviewModel::sortValue(const Row& row, int column) const {
    if (isNumber(column)) {
        const std::optional<std::int64_t> n =
            row.outcome ? count(*row.outcome, column) : std::nullopt;
        return static_cast<qlonglong>(n.value_or(-1));
    }
    return display(row, column, false);
}

QVariant OverviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole) {
        return isNumber(section) ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) return {};
    switch (section) {
        case TableColumn:
            return QStringLiteral("Table");
        case PairingColumn:
            return QStringLiteral("Pairing");
        case ChangedColumn:
            return QStringLiteral("Changed");
        case AddedColumn:
            return QStringLiteral("Added");
        case DeletedColumn:
            return QStringLiteral("Deleted");
        case ColumnsOnlyInOneColumn:
            return QStringLiteral("Columns in one only");
        case TimeColumn:
            return QStringLiteral("Time (s)");
        case ResultColumn:
            return QStringLiteral("Result");
        default:
            return {};
    }
}

void OverviewModel::rowChanged(int row) {
    if (row < 0 || row >= rowCount()) return;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

}  // namespace windows
