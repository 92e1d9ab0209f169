#include "ResultLines.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "DifferenceLines.h"
#include "ValueText.h"

namespace compare {
namespace {

// Bytes a shared block holds: large enough that blocks are few, small enough
// that the unused tail of the last one does not matter.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

enum Kind : std::uint8_t {
    kPlain = 0,
    kFieldChange = 1,
    kDeleted = 2,
    kAdded = 3,
    kFieldOnly = 4,  // kBeforeNull set: only in the second table
    kNotUnique = 5,  // kBeforeNull set: in the second table
    kKindMask = 0x07,
    kTypesApart = 0x08,  // a field change: the two values' kinds follow the name
    kBeforeNull = 0x10,
    kAfterNull = 0x20,
    kBeforeBytes = 0x40,  // raw bytes, written 0x and hex digits when shown
    kAfterBytes = 0x80,
};

// The most bytes a text takes in UTF-8, its length in front included.
std::size_t maxTextBytes(QStringView text) {
    return 10 + 3 * static_cast<std::size_t>(text.size());
}

std::size_t utf8Length(QStringView text) {
    std::size_t n = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            n += 1;
        } else if (c < 0x800) {
            n += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < size &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            n += 4;
            ++i;
        } else {
            n += 3;  // a lone surrogate too, as its own three bytes
        }
    }
    return n;
}

class Reader {
public:
    explicit Reader(const char* p) : p_(reinterpret_cast<const unsigned char*>(p)) {}
    std::uint8_t byte() { return *p_++; }
    std::uint64_t varint() {
        std::uint64_t v = 0;
        for (int shift = 0;; shift += 7) {
            const unsigned char b = *p_++;
            v |= std::uint64_t{b & 0x7Fu} << shift;
            if ((b & 0x80) == 0) return v;
        }
    }
    // The writer's UTF-8, in which a lone surrogate is kept as its own three
    // bytes (so that any text reads back exactly as it went in). At most cap
    // UTF-16 units are decoded; full gets the text's whole length in units.
    QString text(std::size_t cap = SIZE_MAX, std::size_t* full = nullptr) {
        const auto n = static_cast<std::size_t>(varint());
        const unsigned char* end = p_ + n;
        QString out(static_cast<qsizetype>(std::min(n, cap)), Qt::Uninitialized);
        auto* d = reinterpret_cast<char16_t*>(out.data());
        auto* const start = d;
        std::size_t units = 0;
        while (p_ < end) {
            const unsigned char b = *p_;
            const std::size_t width = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            const std::size_t needs = width == 4 ? 2 : 1;
            if (units + needs > cap) {
                // Past the cap only the length is wanted: count, do not decode.
                for (; p_ < end; ++p_) {
                    if ((*p_ & 0xC0) != 0x80) units += (*p_ >= 0xF0) ? 2 : 1;
                }
                break;
            }
            if (width == 1) {
                *d++ = b;
            } else if (width == 2) {
                *d++ = static_cast<char16_t>(((b & 0x1F) << 6) | (p_[1] & 0x3F));
            } else if (width == 3) {
                *d++ = static_cast<char16_t>(((b & 0x0F) << 12) | ((p_[1] & 0x3F) << 6) |
                                             (p_[2] & 0x3F));
            } else {
                const char32_t u = (char32_t{b & 0x07u} << 18) | (char32_t{p_[1] & 0x3Fu} << 12) |
                                   (char32_t{p_[2] & 0x3Fu} << 6) | (p_[3] & 0x3Fu);
                *d++ = QChar::highSurrogate(u);
                *d++ = QChar::lowSurrogate(u);
            }
            p_ += width;
            units += needs;
        }
        out.truncate(d - start);
        if (full != nullptr) *full = units;
        return out;
    }

    // A record's number, or 0 and then its key.
    RecordName record() {
        const auto number = static_cast<std::int64_t>(varint());
        return number != 0 ? RecordName(number) : RecordName::Keyed(text());
    }

    // Raw bytes as 0x and upper-case hex digits, at most cap characters;
    // full gets the whole text's length.
    QString hex(std::size_t cap, std::size_t* full) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        const auto n = static_cast<std::size_t>(varint());
        const std::size_t shownBytes = std::min(n, cap > 2 ? (cap - 2) / 2 : 0);
        QString out(static_cast<qsizetype>(2 + 2 * shownBytes), Qt::Uninitialized);
        QChar* d = out.data();
        *d++ = u'0';
        *d++ = u'x';
        for (std::size_t i = 0; i < shownBytes; ++i) {
            *d++ = QLatin1Char(kHex[p_[i] >> 4]);
            *d++ = QLatin1Char(kHex[p_[i] & 0xF]);
        }
        p_ += n;
        if (full != nullptr) *full = 2 + 2 * n;
        return out;
    }

private:
    const unsigned char* p_;
};

// Record numbers count from 1; checked here, where the caller can be told.
void checkRecord(const RecordName& record) {
    if (record.byKey() ? record.key.isEmpty() : record.number < 1) {
        throw std::invalid_argument("record numbers start at 1");
    }
}

// The most bytes a record's name takes: its number, or 0 and its key.
std::size_t maxRecordBytes(const RecordName& record) {
    return 10 + (record.byKey() ? maxTextBytes(record.key) : 0);
}

}  // namespace

class ResultLines::Writer {
public:
    explicit Writer(char* p) : start_(reinterpret_cast<unsigned char*>(p)), p_(start_) {}
    void byte(std::uint8_t b) { *p_++ = b; }
    void varint(std::uint64_t v) {
        while (v >= 0x80) {
            *p_++ = static_cast<unsigned char>(v | 0x80);
            v >>= 7;
        }
        *p_++ = static_cast<unsigned char>(v);
    }
    void text(QStringView t) {
        varint(utf8Length(t));
        const qsizetype size = t.size();
        for (qsizetype i = 0; i < size; ++i) {
            const char32_t c = t[i].unicode();
            if (c < 0x80) {
                *p_++ = static_cast<unsigned char>(c);
            } else if (c < 0x800) {
                *p_++ = static_cast<unsigned char>(0xC0 | (c >> 6));
                *p_++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
            } else if (QChar::isHighSurrogate(c) && i + 1 < size &&
                       QChar::isLowSurrogate(t[i + 1].unicode())) {
                const char32_t u =
                    QChar::surrogateToUcs4(static_cast<char16_t>(c), t[++i].unicode());
                *p_++ = static_cast<unsigned char>(0xF0 | (u >> 18));
                *p_++ = static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F));
                *p_++ = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
                *p_++ = static_cast<unsigned char>(0x80 | (u & 0x3F));
            } else {
                *p_++ = static_cast<unsigned char>(0xE0 | (c >> 12));
                *p_++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
                *p_++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
            }
        }
    }
    void record(const RecordName& r) {
        if (r.byKey()) {
            varint(0);
            text(r.key);
        } else {
            varint(static_cast<std::uint64_t>(r.number));
        }
    }
    void bytes(QByteArrayView b) {
        varint(static_cast<std::uint64_t>(b.size()));
        if (!b.isEmpty()) std::memcpy(p_, b.data(), static_cast<std::size_t>(b.size()));
        p_ += b.size();
    }
    std::size_t used() const { return static_cast<std::size_t>(p_ - start_); }

private:
    unsigned char* start_;
    unsigned char* p_;
};

ResultLines::ResultLines() = default;
ResultLines::~ResultLines() = default;

char* ResultLines::reserve(std::size_t bytes) {
    if (bytes > kBlockBytes / 4) {
        // A long line gets a block of its own, leaving the shared one as it is.
        bigBlocks_.push_back(std::make_unique_for_overwrite<char[]>(bytes));
        bigBytes_ += bytes;
        return bigBlocks_.back().get();
    }
    if (blocks_.empty() || blockUsed_ + bytes > kBlockBytes) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
        blockUsed_ = 0;
    }
    return blocks_.back().get() + blockUsed_;
}

std::uint32_t ResultLines::nameIndex(const QString& name) {
    const auto it = nameIndex_.constFind(name);
    if (it != nameIndex_.constEnd()) return *it;
    const auto index = static_cast<std::uint32_t>(names_.size());
    names_.push_back(name);
    nameIndex_.insert(name, index);
    return index;
}

void ResultLines::appendLine(QStringView line) {
    const std::size_t most = 1 + maxTextBytes(line);
    char* p = reserve(most);
    Writer w(p);
    w.byte(kPlain);
    w.text(line);
    commit(p, w.used(), most);
}

void ResultLines::appendFieldChange(const RecordName& record, const QString& fieldName,
                                    std::optional<QStringView> before,
                                    std::optional<QStringView> after) {
    checkRecord(record);
    const std::uint32_t name = nameIndex(fieldName);
    const std::size_t most = 1 + maxRecordBytes(record) + 10 +
                             (before ? maxTextBytes(*before) : 0) +
                             (after ? maxTextBytes(*after) : 0);
    char* p = reserve(most);
    Writer w(p);
    w.byte(static_cast<std::uint8_t>(kFieldChange | (before ? 0 : kBeforeNull) |
                                     (after ? 0 : kAfterNull)));
    w.record(record);
    w.varint(name);
    if (before) w.text(*before);
    if (after) w.text(*after);
    commit(p, w.used(), most);
}

void ResultLines::appendFieldChange(const RecordName& record, const QString& fieldName,
                                    const data::FieldValue& before, const data::FieldValue& after,
                                    const ValueFormatter& formatter) {
    checkRecord(record);
    // Bytes stay bytes: their text would take four times their size.
    const auto text = [&](const data::FieldValue& v) {
        return v.isNull() || v.kind() == data::ValueKind::Bytes ? QString() : formatter.text(v);
    };
    const QString beforeText = text(before), afterText = text(after);
    // Values of two kinds that read the same keep their kinds, for the line
    // to name them (bytes are compared as the text they are shown as).
    bool typesApart = false;
    if (!before.isNull() && !after.isNull() && before.kind() != after.kind()) {
        const auto shown = [&](const data::FieldValue& v, const QString& t) {
            return std::optional<QString>(v.kind() == data::ValueKind::Bytes ? formatter.text(v)
                                                                             : t);
        };
        typesApart = !TypesApart(before, after, shown(before, beforeText), shown(after, afterText))
                          .first.isEmpty();
    }
    const auto size = [&](const data::FieldValue& v, const QString& t) -> std::size_t {
        if (v.isNull()) return 0;
        if (v.kind() == data::ValueKind::Bytes)
            return 10 + static_cast<std::size_t>(v.asBytes().size());
        return maxTextBytes(t);
    };
    const std::uint32_t name = nameIndex(fieldName);
    const std::size_t most =
        3 + maxRecordBytes(record) + 10 + size(before, beforeText) + size(after, afterText);
    char* p = reserve(most);
    Writer w(p);
    const auto flags = [](const data::FieldValue& v, std::uint8_t null, std::uint8_t bytes) {
        return v.isNull() ? null : v.kind() == data::ValueKind::Bytes ? bytes : std::uint8_t{0};
    };
    w.byte(static_cast<std::uint8_t>(kFieldChange | flags(before, kBeforeNull, kBeforeBytes) |
                                     flags(after, kAfterNull, kAfterBytes) |
                                     (typesApart ? kTypesApart : 0)));
    w.record(record);
    w.varint(name);
    if (typesApart) {
        w.byte(static_cast<std::uint8_t>(before.kind()));
        w.byte(static_cast<std::uint8_t>(after.kind()));
    }
    for (const auto& [v, t] : {std::pair{&before, &beforeText}, std::pair{&after, &afterText}}) {
        if (v->isNull()) continue;
        if (v->kind() == data::ValueKind::Bytes) {
            w.bytes(v->asBytes());
        } else {
            w.text(*t);
        }
    }
    commit(p, w.used(), most);
}

void ResultLines::appendFieldOnlyIn(const QString& fieldName, const QString& tableName,
                                    bool inFirstTable) {
    const std::uint32_t field = nameIndex(fieldName);
    const std::uint32_t table = nameIndex(tableName);
    char* p = reserve(21);
    Writer w(p);
    w.byte(static_cast<std::uint8_t>(kFieldOnly | (inFirstTable ? 0 : kBeforeNull)));
    w.varint(field);
    w.varint(table);
    commit(p, w.used(), 21);
}

void ResultLines::appendRecordDeleted(const RecordName& record, const QString& tableName) {
    appendRecordLine(kDeleted, record, tableName);
}

void ResultLines::appendRecordAdded(const RecordName& record, const QString& tableName) {
    appendRecordLine(kAdded, record, tableName);
}

void ResultLines::appendRecordNotUnique(const RecordName& record, const QString& tableName,
                                        bool inFirstTable) {
    appendRecordLine(static_cast<std::uint8_t>(kNotUnique | (inFirstTable ? 0 : kBeforeNull)),
                     record, tableName);
}

void ResultLines::appendRecordLine(std::uint8_t kind, const RecordName& record,
                                   const QString& tableName) {
    checkRecord(record);
    const std::uint32_t name = nameIndex(tableName);
    const std::size_t most = 1 + maxRecordBytes(record) + 10;
    char* p = reserve(most);
    Writer w(p);
    w.byte(kind);
    w.record(record);
    w.varint(name);
    commit(p, w.used(), most);
}

// A line written at p: its bytes count in the shared block unless it took a
// block of its own.
void ResultLines::commit(const char* p, std::size_t used, std::size_t reserved) {
    if (reserved <= kBlockBytes / 4) blockUsed_ += used;
    offsets_.push_back(p);
}

void ResultLines::clear() {
    blocks_.clear();
    blockUsed_ = 0;
    bigBlocks_.clear();
    bigBytes_ = 0;
    offsets_.clear();
    offsets_.shrink_to_fit();
    names_.clear();
    nameIndex_.clear();
}

QString ResultLines::compose(qsizetype i, std::size_t cap, std::size_t* full) const {
    Reader r(offsets_[static_cast<std::size_t>(i)]);
    const std::uint8_t head = r.byte();
    switch (head & kKindMask) {
        case kFieldChange: {
            const RecordName record = r.record();
            const QString& name = names_[r.varint()];
            QString beforeType, afterType;
            if ((head & kTypesApart) != 0) {
                beforeType = TypeWord(static_cast<data::ValueKind>(r.byte()));
                afterType = TypeWord(static_cast<data::ValueKind>(r.byte()));
            }
            std::optional<QString> before, after;
            std::size_t beforeFull = 0, afterFull = 0;
            if ((head & kBeforeBytes) != 0) {
                before = r.hex(cap, &beforeFull);
            } else if ((head & kBeforeNull) == 0) {
                before = r.text(cap, &beforeFull);
            }
            if ((head & kAfterBytes) != 0) {
                after = r.hex(cap, &afterFull);
            } else if ((head & kAfterNull) == 0) {
                after = r.text(cap, &afterFull);
            }
            QString out = FieldChangedLine(record, name, before, after, beforeType, afterType);
            if (full != nullptr) {
                *full = static_cast<std::size_t>(out.size()) +
                        (before ? beforeFull - static_cast<std::size_t>(before->size()) : 0) +
                        (after ? afterFull - static_cast<std::size_t>(after->size()) : 0);
            }
            return out;
        }
        case kFieldOnly: {
            const QString& field = names_[r.varint()];
            QString out = FieldOnlyInLine(field, names_[r.varint()]);
            if (full != nullptr) *full = static_cast<std::size_t>(out.size());
            return out;
        }
        case kDeleted:
        case kAdded:
        case kNotUnique: {
            const RecordName record = r.record();
            const QString& table = names_[r.varint()];
            QString out = (head & kKindMask) == kDeleted ? RecordDeletedLine(record, table)
                          : (head & kKindMask) == kAdded ? RecordAddedLine(record, table)
                                                         : RecordNotUniqueLine(record, table);
            if (full != nullptr) *full = static_cast<std::size_t>(out.size());
            return out;
        }
        default:
            return r.text(cap, full);
    }
}

Difference ResultLines::difference(qsizetype i) const {
    Difference d;
    if (i < 0 || i >= lineCount()) return d;
    Reader r(offsets_[static_cast<std::size_t>(i)]);
    const std::uint8_t head = r.byte();
    switch (head & kKindMask) {
        case kFieldChange:
            d.kind = Difference::Kind::Changed;
            d.record = r.record();
            d.field = names_[r.varint()];
            if ((head & kTypesApart) != 0) {
                d.fromType = TypeWord(static_cast<data::ValueKind>(r.byte()));
                d.toType = TypeWord(static_cast<data::ValueKind>(r.byte()));
            }
            if ((head & kBeforeBytes) != 0) {
                d.from = r.hex(SIZE_MAX, nullptr);
            } else if ((head & kBeforeNull) == 0) {
                d.from = r.text();
            }
            if ((head & kAfterBytes) != 0) {
                d.to = r.hex(SIZE_MAX, nullptr);
            } else if ((head & kAfterNull) == 0) {
                d.to = r.text();
            }
            break;
        case kFieldOnly:
            d.kind = Difference::Kind::FieldOnly;
            d.field = names_[r.varint()];
            d.table = names_[r.varint()];
            d.inFirstTable = (head & kBeforeNull) == 0;
            break;
        case kDeleted:
        case kAdded:
            d.kind = (head & kKindMask) == kDeleted ? Difference::Kind::Deleted
                                                    : Difference::Kind::Added;
            d.record = r.record();
            d.table = names_[r.varint()];
            break;
        case kNotUnique:
            d.kind = Difference::Kind::NotUnique;
            d.record = r.record();
            d.table = names_[r.varint()];
            d.inFirstTable = (head & kBeforeNull) == 0;
            break;
        default:
            d.kind = Difference::Kind::Line;
            d.line = r.text();
    }
    return d;
}

QString ResultLines::line(qsizetype i) const {
    if (i < 0 || i >= lineCount()) return {};
    return compose(i, SIZE_MAX, nullptr);
}

QString ResultLines::shownLine(qsizetype i) const {
    if (i < 0 || i >= lineCount()) return {};
    std::size_t full = 0;
    QString out = compose(i, kShownChars, &full);
    if (full <= kShownChars) return out;
    out.truncate(kShownChars);
    out += QStringLiteral("\u2026 (%1 more characters)").arg(full - kShownChars);
    return out;
}

std::size_t ResultLines::storedBytes() const {
    return blocks_.size() * kBlockBytes + bigBytes_ + offsets_.capacity() * sizeof(const char*) +
           names_.size() * sizeof(QString);
}

QString ResultLines::joinedLines(std::vector<LineRange> ranges) const {
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

    QString out;
    bool first = true;
    for (const LineRange& r : merged) {
        for (qsizetype i = r.first; i <= r.last; ++i) {
            if (!first) out += u'\n';
            first = false;
            out += line(i);
        }
    }
    return out;
}

}  // namespace compare
