#include "ChecksumPass.h"

#include <QHash>
#include <algorithm>

#include "RecordKey.h"
#include "SqlLiteral.h"
#include "TableComparison.h"
#include "TableQuery.h"
#include "TableShapes.h"

namespace compare {

namespace {

// First ranges when the table's size is not known.
constexpr std::int64_t kDefaultSegmentRows = 250'000;
// A differing range is split into about this many, with fresh bounds.
constexpr std::int64_t kSplitInto = 24;
// Past this many ranges to read, one condition naming them all would cost
// the server more than reading the tables whole.
constexpr std::size_t kMostRangesToRead = 2000;

// What one side's server said of a range.
struct Checksum {
    std::int64_t count = 0;
    std::int64_t first = 0;
    std::int64_t second = 0;
    bool operator==(const Checksum&) const = default;
};

// A number as a server gives it, bit, digits or text; 0 for NULL (the sums
// of no rows).
std::int64_t integerAt(const data::ResultTable& rows, int column, std::size_t row) {
    const data::FieldValue v = rows.value(column, row);
    if (v.kind() == data::ValueKind::Bit) return v.asBit() ? 1 : 0;
    if (v.kind() == data::ValueKind::Text) return v.asText().toString().toLongLong();
    return v.kind() == data::ValueKind::Integer ? v.asInteger() : 0;
}

Checksum checksumOf(const data::ResultTable& rows) {
    if (rows.rowCount() == 0) return {};
    return {integerAt(rows, 0, 0), integerAt(rows, 1, 0), integerAt(rows, 2, 0)};
}

// The bounds the answer to a SegmentBoundsQuery gives, as literals of the
// key columns' own types (KeyLiteral), so that each range seeks.
std::vector<QStringList> boundsOf(const data::ResultTable& rows, const ChecksumSide& side) {
    std::vector<QStringList> bounds;
    for (std::size_t r = 0; r < rows.rowCount(); ++r) {
        QStringList literals;
        for (int c = 0; c < rows.fieldCount(); ++c) {
            const std::size_t k = static_cast<std::size_t>(c);
            literals << KeyLiteral(rows.value(c, r),
                                   k < side.keyTexts.size() ? side.keyTexts[k] : KeyText{});
        }
        bounds.push_back(literals);
    }
    return bounds;
}

// The ranges between a range's own ends and the bounds inside it.
std::vector<KeyRange> between(const KeyRange& whole, const std::vector<QStringList>& bounds) {
    std::vector<KeyRange> ranges;
    QStringList after = whole.after;
    for (const QStringList& b : bounds) {
        ranges.push_back({after, b, false});
        after = b;
    }
    ranges.push_back({after, whole.upTo, false});
    return ranges;
}

// 0, n/2, n/4, 3n/4, ... : each range once, those far apart first (the
// order of the bit-reversed indexes).
std::vector<std::size_t> spreadOrder(std::size_t n) {
    int bits = 0;
    while ((std::size_t{1} << bits) < n) ++bits;
    std::vector<std::size_t> order;
    for (std::size_t k = 0; k < (std::size_t{1} << bits); ++k) {
        std::size_t reversed = 0;
        for (int b = 0; b < bits; ++b) reversed |= ((k >> b) & 1U) << (bits - 1 - b);
        if (reversed < n) order.push_back(reversed);
    }
    return order;
}

}  // namespace

QString RangesCondition(const QStringList& keyColumns, const std::vector<KeyRange>& ranges) {
    if (ranges.empty()) return QStringLiteral("1 = 0");
    QStringList parts;
    for (const KeyRange& r : ranges) parts << u'(' + RangeCondition(keyColumns, r) + u')';
    return parts.join(QStringLiteral(" or "));
}

ChecksumOutcome RunChecksumPass(const SideStatements& run, const std::array<ChecksumSide, 2>& sides,
                                std::int64_t segmentRows) {
    const auto onFirstSide = [&](const QString& sql) {
        return std::move(run({QStringList{sql}, QStringList{}})[0].front());
    };
    if (segmentRows <= 0) {
        // About sixteen first ranges: enough to stop early on a table that
        // differs throughout, few enough for each to be worth a statement.
        const data::ResultTable estimate = onFirstSide(RowCountEstimateQuery(sides[0].table));
        const std::int64_t rows = estimate.rowCount() > 0 ? integerAt(estimate, 0, 0) : 0;
        segmentRows = rows > 0 ? std::clamp<std::int64_t>(rows / 16, 100'000, 1'000'000)
                               : kDefaultSegmentRows;
    }
    const std::int64_t leafRows = std::max<std::int64_t>(1, segmentRows / 16);
    ChecksumOutcome out;
    const auto hashAll = [&](const std::vector<KeyRange>& ranges) {
        std::array<QStringList, 2> statements;
        for (std::size_t s = 0; s < 2; ++s) {
            for (const KeyRange& r : ranges) {
                statements[s] << SegmentHashQuery(sides[s].table, sides[s].columns, sides[s].key, r,
                                                  sides[s].condition);
            }
        }
        out.count.segments += static_cast<std::int64_t>(ranges.size());
        return run(statements);
    };

    std::vector<std::pair<KeyRange, std::array<Checksum, 2>>> differing;
    // Whether both sides hold the range alike.
    const auto hashOne = [&](const KeyRange& range) {
        const std::array<std::vector<data::ResultTable>, 2> sums = hashAll({range});
        const std::array<Checksum, 2> c{checksumOf(sums[0][0]), checksumOf(sums[1][0])};
        out.records[0] += c[0].count;
        out.records[1] += c[1].count;
        if (c[0] == c[1]) {
            out.count.verified += c[0].count;
            return true;
        }
        differing.emplace_back(range, c);
        return false;
    };
    // Ranges that differ though they hold as many records each side: records
    // changed, which a table changed throughout shows from end to end. A
    // count that differs at the end is rather the mark of records added or
    // missing there (a copy behind its source), which says nothing of the
    // ranges between.
    const auto sameCounts = [&] {
        return std::all_of(differing.begin(), differing.end(),
                           [](const auto& d) { return d.second[0].count == d.second[1].count; });
    };
    // The first range, from the table's start, by a short read of its
    // index; when it differs, the last, from its end. A table changed
    // throughout is told by these two before the bounds between them are
    // read, which scans every key.
    KeyRange middle;
    std::vector<KeyRange> head, tail;
    const auto edge = [&](bool fromEnd) {
        return boundsOf(
            onFirstSide(EdgeBoundQuery(sides[0].table, sides[0].key, middle, sides[0].condition,
                                       fromEnd ? segmentRows + 1 : segmentRows, fromEnd)),
            sides[0]);
    };
    if (const std::vector<QStringList> first = edge(false); !first.empty()) {
        head.push_back({{}, first.front(), false});
        middle.after = first.front();
        if (!hashOne(head.back())) {
            if (const std::vector<QStringList> last = edge(true); !last.empty()) {
                tail.push_back({last.front(), {}, false});
                middle.upTo = last.front();
                if (!hashOne(tail.back()) && sameCounts()) {
                    out.count.differingSegments = 2;
                    out.count.stoppedEarly = true;
                    out.readWhole = true;
                    return out;
                }
            }
        }
    }
    // The first level: bounds every segmentRows keys of the first table
    // between those two, and the records with a NULL in their key, which no
    // range holds.
    std::vector<KeyRange> level = head;
    const std::vector<KeyRange> inside = between(
        middle, boundsOf(onFirstSide(SegmentBoundsQuery(sides[0].table, sides[0].key, middle,
                                                        sides[0].condition, segmentRows)),
                         sides[0]));
    level.insert(level.end(), inside.begin(), inside.end());
    level.insert(level.end(), tail.begin(), tail.end());
    level.push_back({{}, {}, true});
    out.count.firstSegments = static_cast<std::int64_t>(level.size());
    std::vector<bool> hashed(level.size(), false);
    if (!head.empty()) hashed.front() = true;
    if (!tail.empty()) hashed[level.size() - 2] = true;
    // The rest one range at a time, spread over the table (its middle, its
    // quarters ...): once more than a quarter of all differ, or the first
    // two hashed both do, hashing the rest would only add to reading it.
    for (const std::size_t i : spreadOrder(level.size())) {
        if (hashed[i]) continue;
        hashed[i] = true;
        hashOne(level[i]);
        const bool throughout = out.count.segments == 2 && differing.size() == 2 && sameCounts();
        if (differing.size() * 4 <= level.size() && !throughout) continue;
        out.count.differingSegments = static_cast<std::int64_t>(differing.size());
        out.count.stoppedEarly = true;
        // Nothing verified yet: the plain queries read it all at less cost
        // than a condition naming every range.
        if (out.count.verified == 0) {
            out.readWhole = true;
            return out;
        }
        for (const auto& d : differing) out.toRead.push_back(d.first);
        for (std::size_t k = 0; k < level.size(); ++k) {
            if (!hashed[k]) out.toRead.push_back(level[k]);
        }
        return out;
    }
    out.count.differingSegments = static_cast<std::int64_t>(differing.size());
    level.clear();
    while (!differing.empty()) {
        // Small enough to read; the others split by the side that holds more.
        std::array<QStringList, 2> splits;
        std::vector<std::pair<KeyRange, std::size_t>> splitting;
        for (const auto& [range, c] : differing) {
            const std::size_t side = c[1].count > c[0].count ? 1 : 0;
            const std::int64_t most = c[side].count;
            // A side with none of the range's records: no part of it can be
            // verified, every record is added or deleted.
            const bool oneSided = c[0].count == 0 || c[1].count == 0;
            if (most <= leafRows || range.nullKeys || oneSided) {
                out.toRead.push_back(range);
                continue;
            }
            const std::int64_t step = (most + kSplitInto - 1) / kSplitInto;
            splits[side] << SegmentBoundsQuery(sides[side].table, sides[side].key, range,
                                               sides[side].condition, step);
            splitting.emplace_back(range, side);
        }
        if (out.toRead.size() > kMostRangesToRead) {
            out.readWhole = true;
            out.count.stoppedEarly = true;
            out.toRead.clear();
            out.count.verified = 0;
            return out;
        }
        differing.clear();
        if (splitting.empty()) break;
        const std::array<std::vector<data::ResultTable>, 2> bounds = run(splits);
        std::array<std::size_t, 2> next{};
        for (const auto& [range, side] : splitting) {
            const std::vector<KeyRange> parts =
                between(range, boundsOf(bounds[side][next[side]++], sides[side]));
            // No bound inside (the table changed under the pass): read it
            // rather than hash it again without end.
            if (parts.size() == 1) {
                out.toRead.push_back(range);
                continue;
            }
            level.insert(level.end(), parts.begin(), parts.end());
        }
        const std::array<std::vector<data::ResultTable>, 2> sums = hashAll(level);
        for (std::size_t k = 0; k < level.size(); ++k) {
            const std::array<Checksum, 2> c{checksumOf(sums[0][k]), checksumOf(sums[1][k])};
            if (c[0] == c[1]) {
                out.count.verified += c[0].count;
            } else {
                differing.emplace_back(level[k], c);
            }
        }
        level.clear();
    }
    return out;
}

}  // namespace compare

namespace compare {

namespace {

QStringList keptNames(const data::ResultTable& columns, const QStringList& ignore) {
    const QStringList all = data::ColumnNames(columns);
    QStringList names;
    for (qsizetype k = 0; k < all.size(); ++k) {
        if (!IsLeftOut(ignore, all, k)) names << all[k];
    }
    return names;
}

const data::Column* columnNamed(const data::ResultTable& columns, const QString& name) {
    const int k = columns.indexOf(name);
    return k < 0 ? nullptr : &columns.column(k);
}

QString textAt(const data::ResultTable& rows, int column, std::size_t row) {
    const data::FieldValue v = rows.value(column, row);
    return v.kind() == data::ValueKind::Text ? v.asText().toString() : QString();
}

// An index leads with the key's first column, so that a range is a seek;
// and a unique index holds only key columns, so that no key repeats (a
// repeated key in two equal ranges would never be read, nor reported).
void RefuseUnindexedKey(const QStringList& key, const data::ResultTable& indexes,
                        const QString& name) {
    bool leads = false;
    bool unique = false;
    for (std::size_t r = 0; r < indexes.rowCount();) {
        const std::int64_t isUnique = integerAt(indexes, 0, r);
        bool allInKey = true;
        // One index's columns, in key order.
        const std::size_t start = r;
        for (; r < indexes.rowCount() && (r == start || integerAt(indexes, 1, r) > 1); ++r) {
            const QString column = textAt(indexes, 2, r);
            // Both names are the server's own spelling.
            if (integerAt(indexes, 1, r) == 1 && column == key.front()) leads = true;
            if (!key.contains(column)) allInKey = false;
        }
        if (isUnique != 0 && allInKey) unique = true;
    }
    if (!leads) {
        throw OptionProblem(
            QStringLiteral("Checksums would read %1 whole for every range: no index of it leads "
                           "with the key column \"%2\". Compare with --method stream.")
                .arg(name, key.front()));
    }
    if (!unique) {
        throw OptionProblem(
            QStringLiteral("Checksums need a key no two records of %1 share, and no unique index "
                           "of it says so: a repeated key would pass unseen. Compare with "
                           "--method stream.")
                .arg(name));
    }
}

}  // namespace

std::array<ChecksumSide, 2> ChecksumSidesFor(const RunOptions& options,
                                             const std::array<catalogue::TableName, 2>& tables,
                                             const std::array<QString, 2>& names,
                                             const TableShapes& shapes, const RecordKey& key,
                                             const ChecksumCatalogue& catalogue) {
    for (std::size_t s = 0; s < 2; ++s) {
        if (tables[s].view || tables[s].isQuery()) {
            throw OptionProblem(
                QStringLiteral("Checksums are computed on tables, with their indexes: %1 is a %2. "
                               "Compare with --method stream.")
                    .arg(names[s],
                         tables[s].view ? QStringLiteral("view") : QStringLiteral("query")));
        }
    }
    const std::array<const data::ResultTable*, 2> described{&shapes.first.columns,
                                                            &shapes.second.columns};
    const std::array<QStringList, 2> kept{keptNames(*described[0], options.ignore),
                                          keptNames(*described[1], options.ignore)};
    std::array<ChecksumSide, 2> sides;
    for (std::size_t s = 0; s < 2; ++s) {
        sides[s].table = tables[s];
        sides[s].condition = s == 0 ? options.where : options.secondWhere();
        for (const int f : s == 0 ? key.first : key.second) sides[s].key << kept[s][f];
        RefuseUnindexedKey(sides[s].key, catalogue.indexes[s], names[s]);
    }
    // Each side's collation and scale by column name.
    struct Facts {
        QStringList names;
        std::vector<std::pair<QString, int>> facts;
        std::pair<QString, int> value(const QString& name) const {
            const int k = data::FindName(names, name);
            return k >= 0 ? facts[static_cast<std::size_t>(k)] : std::pair<QString, int>{};
        }
    };
    std::array<Facts, 2> facts;
    for (std::size_t s = 0; s < 2; ++s) {
        const data::ResultTable& rows = catalogue.columns[s];
        for (std::size_t r = 0; r < rows.rowCount(); ++r) {
            facts[s].names << textAt(rows, 0, r);
            facts[s].facts.emplace_back(textAt(rows, 1, r),
                                        static_cast<int>(integerAt(rows, 2, r)));
        }
        for (const QString& name : sides[s].key) {
            const data::Column* c = columnNamed(*described[s], name);
            sides[s].keyTexts.push_back(
                {c != nullptr && ReadThroughUnicode(*c), facts[s].value(name.toLower()).first});
        }
    }
    // Rows fall into ranges by each server's own order of texts: two
    // collations could put one record in two different ranges.
    for (qsizetype k = 0; k < sides[0].key.size(); ++k) {
        const QString a = facts[0].value(sides[0].key[k]).first;
        const QString b = facts[1].value(sides[1].key[k]).first;
        if (a.compare(b, Qt::CaseInsensitive) != 0) {
            throw OptionProblem(
                QStringLiteral("Checksums cannot range over the key column \"%1\": its collation "
                               "is %2 in %3 and %4 in %5, which order texts differently. Compare "
                               "with --method stream.")
                    .arg(sides[0].key[k], a, names[0], b, names[1]));
        }
    }
    // The compared pairs, in the first table's order on both sides.
    const std::vector<int> partners =
        PairColumns(kept[0], kept[1], options.map, options.fieldsByName);
    for (std::size_t i = 0; i < partners.size(); ++i) {
        if (partners[i] < 0) continue;
        const std::array<QString, 2> pair{kept[0][static_cast<qsizetype>(i)], kept[1][partners[i]]};
        const int scale = std::max(facts[0].value(pair[0]).second, facts[1].value(pair[1]).second);
        for (std::size_t s = 0; s < 2; ++s) {
            const data::Column* c = columnNamed(*described[s], pair[s]);
            if (c == nullptr) continue;
            HashedColumn h{pair[s], c->kind(), c->sqlType(), scale, c->declaredSize()};
            if (const QString problem = UnhashableColumnProblem(h); !problem.isEmpty()) {
                throw OptionProblem(QStringLiteral("Checksums cannot be computed over %1: %2. "
                                                   "Leave it out, or compare with --method stream.")
                                        .arg(names[s], problem));
            }
            sides[s].columns.push_back(h);
        }
    }
    return sides;
}

}  // namespace compare
