#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <vector>

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

}  // namespace compare
