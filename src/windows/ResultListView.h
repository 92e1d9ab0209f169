#pragma once

#include <QTreeView>

#include "ResultLinesModel.h"

class QAction;

namespace windows {

// A details list of result lines: one column with a header the user can
// widen by dragging its edge, a line longer than the column drawn on past
// its edge and reached by scrolling sideways, rows selected several at
// a time (click, Shift/Ctrl+click, Shift+arrows), Ctrl+A to select all and
// Ctrl+C or the context menu ("Copy", "Copy All") to put lines on the
// clipboard as plain text, one a line; a double-click, Enter or Ctrl+D asks
// for the records side by side. The view shows the model it owns.
class ResultListView : public QTreeView {
    Q_OBJECT

public:
    explicit ResultListView(QWidget* parent = nullptr);

    ResultLinesModel* linesModel() const { return lines_; }

    void setLineColumnWidth(int pixels);
    int lineColumnWidth() const;

    // The selected lines, in list order, joined by line feeds.
    QString selectedLinesText() const;

    QAction* copyAction() const { return copyAction_; }
    QAction* copyAllAction() const { return copyAllAction_; }
    QAction* saveAsAction() const { return saveAsAction_; }
    QAction* recordsAction() const { return recordsAction_; }

signals:
    // "Save As…" of the context menu: the window saves both lists.
    void saveRequested();
    // Double-click, Enter or "Show Records Side by Side": the window opens
    // the current line's record.
    void recordsRequested();

public slots:
    void selectAll() override;
    // Puts the selected lines on the clipboard; with nothing selected, leaves it alone.
    void copySelection();
    // Puts every line on the clipboard; with no lines, leaves it alone.
    void copyAll();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;

private:
    friend class WholeLineDelegate;
    // Widens the lines' width to the widest row in view, and the sideways
    // scrolling with it.
    void measureShownRows();
    void extendScrolling();

    ResultLinesModel* lines_;
    QAction* copyAction_;
    QAction* copyAllAction_;
    QAction* saveAsAction_;
    QAction* recordsAction_;
    int linesWidth_ = 0;  // the widest line seen since the list was filled
    bool extending_ = false;
};

}  // namespace windows
