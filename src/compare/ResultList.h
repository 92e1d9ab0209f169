#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringView>
#include <QTreeView>
#include <cstdint>
#include <memory>
#include <vector>

class QAction;

namespace compare {

// A run of lines, first to last inclusive, counted from 0.
struct LineRange {
    qsizetype first = 0;
    qsizetype last = 0;
};

// The lines of one results list: one column, one row a line, read-only.
//
// Lines are packed into large shared blocks (about 12 bytes of bookkeeping a
// line besides its characters), so millions of them cost little memory.
// appendLine stores the line at once -- lineCount() and line(i) always see
// every appended line -- but tells attached views about new rows in batches,
// from the event loop or at publishPending(): one row insertion per line
// would make a view's bookkeeping the cost of the whole comparison. rowCount()
// is the number of rows views have been told about.
class ResultLinesModel : public QAbstractListModel {
    Q_OBJECT

  public:
    explicit ResultLinesModel(QObject* parent = nullptr);
    ~ResultLinesModel() override;

    void appendLine(const QString& line);
    void appendLine(QStringView line);
    void clear();

    qsizetype lineCount() const { return static_cast<qsizetype>(entries_.size()); }
    QString line(qsizetype i) const { return lineView(i).toString(); }
    // Valid until the next clear().
    QStringView lineView(qsizetype i) const;

    // The lines of the given ranges (in any order, overlaps allowed), each
    // once, in list order, joined by line feeds, with no line feed at the end.
    QString joinedLines(std::vector<LineRange> ranges) const;

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
    struct Entry {
        std::uint32_t block;
        std::uint32_t offset;
        std::uint32_t length;
    };

    char16_t* reserveSpace(qsizetype length, std::uint32_t& block, std::uint32_t& offset);

    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    std::uint32_t current_ = 0;  // the block that short lines go into
    qsizetype currentUsed_ = 0;  // characters used in it
    std::vector<Entry> entries_;
    qsizetype published_ = 0;  // rows the views know of
    bool publishQueued_ = false;
    QString header_;
};

// A details list of result lines: one column with a header the user can
// widen by dragging its edge, horizontal scrolling, rows selected several at
// a time (click, Shift/Ctrl+click, Shift+arrows), Ctrl+A to select all and
// Ctrl+C or the context menu ("Copy", "Copy All") to put lines on the
// clipboard as plain text, one a line. The view shows the model it owns.
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

  private:
    ResultLinesModel* lines_;
    QAction* copyAction_;
    QAction* copyAllAction_;
};

}  // namespace compare
