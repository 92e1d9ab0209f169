#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>

#include "DifferingRecordsModel.h"

class QAction;
class QCheckBox;
class QKeyEvent;
class QHBoxLayout;
class QLabel;
class QRadioButton;
class QScrollBar;
class QTableView;

namespace windows {

// A run's differing records side by side: the key's columns (or the record
// number) pinned on the left, each field's two values in adjacent columns,
// changed cells shaded; filtered by kind (each with its count), unchanged
// columns hidden on request, F8 / Shift+F8 to the next / previous
// difference, Ctrl+C copies the selected cells as tab-separated text,
// Ctrl+Shift+C the current cell's whole value, Esc closes. It shares the records' store with the
// results window.
class RecordsWindow : public QWidget {
    Q_OBJECT

public:
    RecordsWindow(std::shared_ptr<const compare::RecordStore> store, QString firstTable,
                  QString secondTable, QWidget* parent = nullptr);

    // Selects the record behind a line of the results' field list
    // (fieldList) or record list, and its field when named, under the filter
    // shown, switching to all records when the filter hides it. False when
    // the line names no record (a field only one table has, a key not unique).
    bool selectLine(bool fieldList, std::int64_t line, const QString& field = {});

    void setFilter(compare::RecordFilter filter);
    void setHideUnchanged(bool hide);
    // The current record, from 0 among the filter's (-1: none), and a move
    // to one.
    std::int64_t currentRecord() const;
    void showRecord(std::int64_t record);
    // Moves the current cell to the next (or previous) changed cell, or
    // record one table lacks; false at the end.
    bool nextDifference(bool forward = true);
    // The selected cells, a line per row and a tab between columns, as
    // shown (hidden columns left out), whole values.
    QString selectedText() const;
    void copySelection() const;
    // The current cell's whole value ("Copy value", Ctrl+Shift+C).
    void copyValue() const;
    QAction* copyValueAction() const { return copyValue_; }

    DifferingRecordsModel* model() const { return model_; }
    QTableView* grid() const { return fields_; }
    QTableView* keyGrid() const { return keys_; }
    QRadioButton* filterButton(compare::RecordFilter filter) const;
    QCheckBox* hideUnchangedBox() const { return hideUnchanged_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QHBoxLayout* filterBar(const QString& firstTable, const QString& secondTable);
    void setUpGrids();
    void sizeColumns();
    bool moveByKey(const QKeyEvent& key);
    void showColumns();
    void setCurrent(std::int64_t record, int column);
    int visibleRows() const;
    void updateScroll();
    void showTop(std::int64_t top, bool recentre = false);
    void followGrid();
    void revealCurrent(bool fromStart = false);
    int firstShownColumn() const;

    DifferingRecordsModel* model_;
    QTableView* keys_;
    QTableView* fields_;
    std::array<QRadioButton*, 4> filters_{};
    QCheckBox* hideUnchanged_;
    QAction* copyValue_;
    QScrollBar* scroll_;    // over all the filter's records
    bool syncing_ = false;  // the bar and the grids being set to agree
};

}  // namespace windows
