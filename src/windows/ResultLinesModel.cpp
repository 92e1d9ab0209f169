#include "ResultLinesModel.h"

namespace windows {

ResultLinesModel::ResultLinesModel(QObject* parent) : QAbstractListModel(parent) {}

ResultLinesModel::~ResultLinesModel() = default;

// Each append reaches the store first: a line it refuses (it throws) is never
// announced to the views.
void ResultLinesModel::appendLine(QStringView line) {
    lines_.appendLine(line);
    added();
}

void ResultLinesModel::appendFieldChange(const compare::RecordName& record,
                                         const QString& fieldName,
                                         std::optional<QStringView> before,
                                         std::optional<QStringView> after) {
    lines_.appendFieldChange(record, fieldName, before, after);
    added();
}

void ResultLinesModel::appendFieldChange(const compare::RecordName& record,
                                         const QString& fieldName, const data::FieldValue& before,
                                         const data::FieldValue& after,
                                         const compare::ValueFormatter& formatter) {
    lines_.appendFieldChange(record, fieldName, before, after, formatter);
    added();
}

void ResultLinesModel::appendFieldOnlyIn(const QString& fieldName, const QString& tableName,
                                         bool inFirstTable) {
    lines_.appendFieldOnlyIn(fieldName, tableName, inFirstTable);
    added();
}

void ResultLinesModel::appendRecordDeleted(const compare::RecordName& record,
                                           const QString& tableName) {
    lines_.appendRecordDeleted(record, tableName);
    added();
}

void ResultLinesModel::appendRecordAdded(const compare::RecordName& record,
                                         const QString& tableName) {
    lines_.appendRecordAdded(record, tableName);
    added();
}

void ResultLinesModel::appendRecordNotUnique(const compare::RecordName& record,
                                             const QString& tableName, bool inFirstTable) {
    lines_.appendRecordNotUnique(record, tableName, inFirstTable);
    added();
}

void ResultLinesModel::added() {
    if (!publishQueued_) {
        publishQueued_ = true;
        QMetaObject::invokeMethod(this, &ResultLinesModel::publishPending, Qt::QueuedConnection);
    }
}

void ResultLinesModel::clear() {
    beginResetModel();
    lines_.clear();
    published_ = 0;
    endResetModel();
}

void ResultLinesModel::setHeaderText(const QString& text) {
    header_ = text;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void ResultLinesModel::publishPending() {
    publishQueued_ = false;
    if (published_ >= lineCount()) return;
    beginInsertRows(QModelIndex(), static_cast<int>(published_), static_cast<int>(lineCount() - 1));
    published_ = lineCount();
    endInsertRows();
}

int ResultLinesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(published_);
}

QVariant ResultLinesModel::data(const QModelIndex& index, int role) const {
    // The hint is the line as the list shows it, since a long one runs past
    // its column's edge; a huge line is shown shortened (laying out millions of
    // characters would take the list tens of seconds at every paint).
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        index.column() != 0 || index.row() >= published_) {
        return {};
    }
    return shownLine(index.row());
}

QVariant ResultLinesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) return header_;
    return {};
}

Qt::ItemFlags ResultLinesModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

}  // namespace windows
