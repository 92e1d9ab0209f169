#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringView>
#include <optional>
#include <utility>
#include <vector>

#include "ResultLines.h"

namespace windows {

// The lines of one results list as a Qt model: one column, one row a line,
// read-only, over the compact line store.
//
// Appending stores the line at once -- lineCount() and line(i) always see
// every appended line -- but tells attached views about new rows in batches,
// from the event loop or at publishPending(): one row insertion per line
// would make a view's bookkeeping the cost of the whole comparison. rowCount()
// is the number of rows views have been told about.
class ResultLinesModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit ResultLinesModel(QObject* parent = nullptr);
    ~ResultLinesModel() override;

    // The appends of compare::ResultLines, each line also queued for the views.
    void appendLine(QStringView line);
    void appendFieldChange(const compare::RecordName& record, const QString& fieldName,
                           std::optional<QStringView> before, std::optional<QStringView> after);
    void appendFieldChange(const compare::RecordName& record, const QString& fieldName,
                           const data::FieldValue& before, const data::FieldValue& after,
                           const compare::ValueFormatter& formatter);
    void appendFieldOnlyIn(const QString& fieldName, const QString& tableName, bool inFirstTable);
    void appendRecordDeleted(const compare::RecordName& record, const QString& tableName);
    void appendRecordAdded(const compare::RecordName& record, const QString& tableName);
    void appendRecordNotUnique(const compare::RecordName& record, const QString& tableName,
                               bool inFirstTable);
    void clear();

    // Every appended line, published or not.
    const compare::ResultLines& lines() const { return lines_; }
    qsizetype lineCount() const { return lines_.lineCount(); }
    QString line(qsizetype i) const { return lines_.line(i); }
    compare::Difference difference(qsizetype i) const { return lines_.difference(i); }
    QString shownLine(qsizetype i) const { return lines_.shownLine(i); }
    static constexpr std::size_t kShownChars = compare::ResultLines::kShownChars;
    std::size_t storedBytes() const { return lines_.storedBytes(); }
    QString joinedLines(std::vector<compare::LineRange> ranges) const {
        return lines_.joinedLines(std::move(ranges));
    }

    void setHeaderText(const QString& text);
    QString headerText() const { return header_; }

    // Tells attached views about every line appended so far, now.
    void publishPending();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void added();

    compare::ResultLines lines_;
    qsizetype published_ = 0;  // rows the views know of
    bool publishQueued_ = false;
    QString header_;
};

}  // namespace windows
