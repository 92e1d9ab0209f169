#include "ResultLines.h"

#include <algorithm>
#include <cstring>

namespace compare {
namespace {

// Characters a shared block holds: large enough that blocks are few, small
// enough that the unused tail of the last one does not matter.
constexpr qsizetype kBlockChars = qsizetype{1} << 20;

}  // namespace

ResultLinesModel::ResultLinesModel(QObject* parent) : QAbstractListModel(parent) {}

ResultLinesModel::~ResultLinesModel() = default;

char16_t* ResultLinesModel::reserveSpace(qsizetype length, std::uint32_t& block,
                                         std::uint32_t& offset) {
    if (length > kBlockChars / 4) {
        // A long line gets a block of its own, leaving the shared one as it is.
        blocks_.push_back(std::make_unique<char16_t[]>(static_cast<std::size_t>(length)));
        block = static_cast<std::uint32_t>(blocks_.size() - 1);
        offset = 0;
        return blocks_.back().get();
    }
    if (blocks_.empty() || currentUsed_ + length > kBlockChars) {
        blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(kBlockChars));
        current_ = static_cast<std::uint32_t>(blocks_.size() - 1);
        currentUsed_ = 0;
    }
    block = current_;
    offset = static_cast<std::uint32_t>(currentUsed_);
    currentUsed_ += length;
    return blocks_[current_].get() + offset;
}

void ResultLinesModel::appendLine(const QString& line) { appendLine(QStringView(line)); }

void ResultLinesModel::appendLine(QStringView line) {
    Entry e{};
    e.length = static_cast<std::uint32_t>(line.size());
    if (!line.isEmpty()) {
        char16_t* dest = reserveSpace(line.size(), e.block, e.offset);
        std::memcpy(dest, line.utf16(), static_cast<std::size_t>(line.size()) * sizeof(char16_t));
    }
    entries_.push_back(e);
    if (!publishQueued_) {
        publishQueued_ = true;
        QMetaObject::invokeMethod(this, &ResultLinesModel::publishPending, Qt::QueuedConnection);
    }
}

void ResultLinesModel::clear() {
    beginResetModel();
    blocks_.clear();
    current_ = 0;
    currentUsed_ = 0;
    entries_.clear();
    entries_.shrink_to_fit();
    published_ = 0;
    endResetModel();
}

QStringView ResultLinesModel::lineView(qsizetype i) const {
    if (i < 0 || i >= lineCount()) return {};
    const Entry& e = entries_[static_cast<std::size_t>(i)];
    if (e.length == 0) return QStringView(u"");
    return QStringView(blocks_[e.block].get() + e.offset, static_cast<qsizetype>(e.length));
}

QString ResultLinesModel::joinedLines(std::vector<LineRange> ranges) const {
    // Clip to the lines there are, then sort and merge so each line goes once.
    std::erase_if(ranges, [&](LineRange& r) {
        r.first = std::max<qsizetype>(r.first, 0);
        r.last = std::min(r.last, lineCount() - 1);
        return r.first > r.last;
    });
    std::sort(ranges.begin(), ranges.end(),
              [](const LineRange& a, const LineRange& b) { return a.first < b.first; });
    std::vector<LineRange> merged;
    for (const LineRange& r : ranges) {
        if (!merged.empty() && r.first <= merged.back().last + 1) {
            merged.back().last = std::max(merged.back().last, r.last);
        } else {
            merged.push_back(r);
        }
    }

    qsizetype total = 0;
    for (const LineRange& r : merged) {
        for (qsizetype i = r.first; i <= r.last; ++i) {
            total += entries_[static_cast<std::size_t>(i)].length + 1;
        }
    }
    if (total == 0) return QString();

    QString out(total - 1, Qt::Uninitialized);
    auto* dest = reinterpret_cast<char16_t*>(out.data());
    bool first = true;
    for (const LineRange& r : merged) {
        for (qsizetype i = r.first; i <= r.last; ++i) {
            if (!first) *dest++ = u'\n';
            first = false;
            const Entry& e = entries_[static_cast<std::size_t>(i)];
            if (e.length != 0) {
                std::memcpy(dest, blocks_[e.block].get() + e.offset, e.length * sizeof(char16_t));
                dest += e.length;
            }
        }
    }
    return out;
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
    // The hint is the whole line, since the column cuts a long one at its edge.
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
        index.column() != 0 || index.row() >= published_) {
        return {};
    }
    return line(index.row());
}

QVariant ResultLinesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) return header_;
    return {};
}

Qt::ItemFlags ResultLinesModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

// ---------------------------------------------------------------------------

}  // namespace compare
