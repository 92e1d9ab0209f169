#include "DifferingRecordsModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QLocale>
#include <algorithm>

#include "DifferenceLines.h"

namespace windows {

namespace {

constexpr int kPageRows = 256;
constexpr int kPagesKept = 16;
constexpr qsizetype kShownChars = 500;  // a cell; copying gives the whole value
// A value's hint: broken into lines a screen can show, and only so long that
// the hint stays on the screen; "Copy value" gives any value whole.
constexpr qsizetype kHintLineChars = 100;
constexpr qsizetype kHintChars = 20'000;

const QColor kChanged(255, 205, 205);
const QColor kOnlyHere(220, 240, 255);
const QColor kMissing(232, 232, 232);
const QColor kNullText(128, 128, 128);

QString HintOf(const QString& value) {
    const QString shown = compare::WithVisibleControls(QStringView(value).left(kHintChars));
    QStringList lines;
    for (qsizetype at = 0; at < shown.size(); at += kHintLineChars) {
        lines << shown.mid(at, kHintLineChars);
    }
    if (value.size() > kHintChars) {
        lines << QStringLiteral("\u2026 (%1 characters)").arg(GroupedNumber(value.size()));
    }
    return lines.join(u'\n');
}

}  // namespace

QString GroupedNumber(std::int64_t n) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(static_cast<qlonglong>(n));
}

DifferingRecordsModel::DifferingRecordsModel(std::shared_ptr<const compare::RecordStore> store,
                                             QString firstTable, QString secondTable,
                                             QObject* parent)
    : QAbstractTableModel(parent),
      store_(std::move(store)),
      firstTable_(std::move(firstTable)),
      secondTable_(std::move(secondTable)),
      pages_(kPagesKept) {
    keyColumns_ = store_->layout().byKey() ? static_cast<int>(store_->layout().keyNames.size()) : 1;
    setFilter(compare::RecordFilter::All);
}

void DifferingRecordsModel::setFilter(compare::RecordFilter filter) {
    beginResetModel();
    filter_ = filter;
    pages_.clear();
    total_ = store_->count(filter);
    offset_ = 0;
    rows_ = static_cast<int>(std::min<std::int64_t>(total_, kWindowRows));
    endResetModel();
}

void DifferingRecordsModel::setOffset(std::int64_t record) {
    const std::int64_t offset = std::clamp<std::int64_t>(record, 0, total_ - rows_);
    if (offset == offset_) return;
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const std::int64_t row = offset_ + index.row() - offset;
        after << (row >= 0 && row < rows_ ? createIndex(static_cast<int>(row), index.column())
                                          : QModelIndex());
    }
    changePersistentIndexList(before, after);
    offset_ = offset;
    emit layoutChanged();
}

int DifferingRecordsModel::fieldOf(int column) const {
    return column < keyColumns_ ? -1 : (column - keyColumns_) / 2;
}

bool DifferingRecordsModel::keyField(int field) const {
    const compare::RecordLayout& layout = store_->layout();
    const int first = layout.fields.at(static_cast<std::size_t>(field)).first;
    return std::find(layout.keyFirst.begin(), layout.keyFirst.end(), first) !=
           layout.keyFirst.end();
}

const compare::DifferingRecord* DifferingRecordsModel::recordAt(std::int64_t row) const {
    if (row < 0 || row >= total_) return nullptr;
    const qint64 page = row / kPageRows;
    Page* records = pages_.object(page);
    if (records == nullptr) {
        records = new Page(store_->records(filter_, page * kPageRows, kPageRows));
        pages_.insert(page, records);
    }
    const auto at = static_cast<std::size_t>(row % kPageRows);
    return at < records->size() ? &(*records)[at] : nullptr;
}

std::optional<compare::ValueCell> DifferingRecordsModel::value(const compare::DifferingRecord& r,
                                                               int column) const {
    if (column < keyColumns_) {
        if (!store_->layout().byKey()) return compare::ValueCell(r.name);
        return r.key.at(static_cast<std::size_t>(column));
    }
    const bool firstSide = firstSideColumn(column);
    const auto& side = firstSide ? r.first : r.second;
    if (side.empty()) return std::nullopt;
    return side.at(static_cast<std::size_t>(fieldOf(column)));
}

QString DifferingRecordsModel::cellText(const QModelIndex& index) const {
    const compare::DifferingRecord* r = record(index.row());
    if (r == nullptr) return {};
    const auto v = value(*r, index.column());
    if (!v) return {};
    return v->value_or(QStringLiteral("NULL"));
}

int DifferingRecordsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int DifferingRecordsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : keyColumns_ + 2 * store_->layout().fieldCount();
}

QVariant DifferingRecordsModel::data(const QModelIndex& index, int role) const {
    const compare::DifferingRecord* r = record(index.row());
    if (r == nullptr) return {};
    return cellData(*r, index.column(), role);
}

QVariant DifferingRecordsModel::cellData(const compare::DifferingRecord& record, int column,
                                         int role) const {
    const compare::DifferingRecord* r = &record;
    const auto v = value(*r, column);
    const int field = fieldOf(column);
    const bool changed = field >= 0 && r->differs.at(static_cast<std::size_t>(field));
    switch (role) {
        case Qt::DisplayRole:
            if (!v) return {};
            if (!*v) return QStringLiteral("NULL");
            return compare::WithVisibleControls(QStringView(**v).left(kShownChars));
        case Qt::ToolTipRole: {
            // The whole value, which the cell may elide.
            if (!v) {
                if (field < 0) return compare::KindWord(r->kind);
                return QStringLiteral("No such record in %1")
                    .arg(firstSideColumn(column) ? firstTable_ : secondTable_);
            }
            const QString shown = *v ? HintOf(**v) : QStringLiteral("NULL");
            if (field < 0) return compare::KindWord(r->kind) + u'\n' + shown;
            return changed ? QStringLiteral("Changed\n") + shown : shown;
        }
        case Qt::BackgroundRole:
            if (field < 0) return {};
            if (!v) return QBrush(kMissing);
            if (changed) return QBrush(kChanged);
            if (r->kind != compare::DifferingRecord::Kind::Changed) return QBrush(kOnlyHere);
            return {};
        case Qt::ForegroundRole:
            if (v && !*v) return QBrush(kNullText);
            return {};
        case Qt::FontRole: {
            if (!changed && !(v && !*v)) return {};
            QFont font;
            font.setBold(changed);
            font.setItalic(v && !*v);
            return font;
        }
        default:
            return {};
    }
}

QVariant DifferingRecordsModel::headerData(int section, Qt::Orientation orientation,
                                           int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    const compare::RecordLayout& layout = store_->layout();
    if (section < keyColumns_) {
        return layout.byKey() ? layout.keyNames.at(static_cast<std::size_t>(section))
                              : QStringLiteral("Record");
    }
    const int field = fieldOf(section);
    if (field >= layout.fieldCount()) return {};
    const bool firstSide = firstSideColumn(section);
    QString head =
        compare::WithVisibleControls(layout.fields[static_cast<std::size_t>(field)].name);
    const std::int64_t changed = store_->changedCount(field);
    if (firstSide && changed > 0) {
        head += QStringLiteral(" (%1 changed)").arg(GroupedNumber(changed));
    }
    return head + u'\n' + compare::WithVisibleControls(firstSide ? firstTable_ : secondTable_);
}

}  // namespace windows
