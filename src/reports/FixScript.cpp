#include "FixScript.h"

#include <QLocale>
#include <algorithm>
#include <utility>

#include "RecordName.h"
#include "SideNames.h"
#include "SqlLiteral.h"
#include "SqlNames.h"
#include "Summary.h"

namespace compare {

namespace {

// A batch ends after this many statements or characters (UTF-16 units, as the
// server counts a batch), whichever comes first:
// far below what a server takes in one batch, and few enough round trips.
constexpr int kBatchStatements = 1000;
constexpr qint64 kBatchCharacters = 1 << 20;
// The reasons a script gives for undoing itself, at most.
constexpr qsizetype kProblemsNamed = 10;

// Text that stays inside a line comment: a line break in a name would end
// the comment and let the rest of the name run as SQL.
QString CommentText(QString text) {
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.unicode() == 0x85 ||
            c.unicode() == 0x2028 || c.unicode() == 0x2029) {
            c = u' ';
        }
    }
    // sqlcmd reads $(NAME) in comments too.
    return text.replace(QStringLiteral("$("), QStringLiteral("$ ("));
}

bool HoldsLineBreak(const QString& name) {
    for (const QChar c : name) {
        if (c == u'\n' || c == u'\r') return true;
    }
    return false;
}

// A foreign key's delete_referential_action or update_referential_action.
QString ReferentialAction(int action) {
    switch (action) {
        case 1:
            return QStringLiteral("cascade");
        case 2:
            return QStringLiteral("set null");
        case 3:
            return QStringLiteral("set default");
        default:
            return QStringLiteral("no action");
    }
}

// sqlcmd replaces $(NAME) wherever it stands, bracketed names included.
bool HoldsSqlcmdVariable(const QString& name) { return name.contains(QStringLiteral("$(")); }

QString Quoted(const QStringList& names) {
    QStringList out;
    for (const QString& n : names) out << QuotedIdentifier(n);
    return out.join(QStringLiteral(", "));
}

}  // namespace

ScriptPlan ScriptPlan::For(const ScriptSource& source, const catalogue::TableName& secondTable,
                           const QString& database, const QString& firstName,
                           const QString& secondName) {
    const auto refuse = [&](const QString& why) {
        return OptionProblem(QStringLiteral("No script can make %1 hold what %2 holds: %3")
                                 .arg(secondName, firstName, why));
    };
    if (source.key == nullptr) {
        throw refuse(
            QStringLiteral("a script names each record by its key, and these records "
                           "are paired by position. Pair them by key."));
    }
    if (source.filtered) {
        throw refuse(QStringLiteral(
            "a comparison under a row condition sees only some of the records: one the "
            "condition hid could be inserted twice, or one outside it deleted. Compare "
            "without row conditions."));
    }
    // What a login is not shown, a script would take for what is there: a
    // record hidden from the first login is deleted, a masked value written.
    for (const auto& [guards, table] : {std::pair{&source.firstGuards, &firstName},
                                        std::pair{&source.secondGuards, &secondName}}) {
        if (guards->rowFilter) {
            throw refuse(QStringLiteral("a security policy shows the login only some of the "
                                        "records of %1, as a row condition would: one hidden "
                                        "could be inserted twice, or deleted. Compare with a "
                                        "login the policy does not filter.")
                             .arg(*table));
        }
        if (!guards->masked.isEmpty()) {
            throw refuse(QStringLiteral("%1 masks %2 from the login: the script would write the "
                                        "masks. Compare with a login that may UNMASK.")
                             .arg(*table, guards->masked.join(QStringLiteral(", "))));
        }
    }
    // It takes no statement inside an explicit transaction without a table
    // hint on each, and the script's checks read it too.
    if (source.secondGuards.memoryOptimized) {
        throw refuse(
            QStringLiteral("it is a memory-optimized table, which takes no statement "
                           "in the script's transaction (41368)."));
    }
    const data::ResultTable& first = source.firstColumns;
    const data::ResultTable& second = source.secondColumns;
    const RecordKey& key = *source.key;
    QStringList fillNames;
    for (const ColumnFill& f : source.secondFills) fillNames << f.name;

    ScriptPlan plan;
    plan.table = secondTable;
    plan.database = database;
    for (const QString& part : {secondTable.schema, secondTable.name, database}) {
        if (HoldsLineBreak(part)) {
            throw refuse(QStringLiteral("a name holding a line break could end a batch."));
        }
        if (HoldsSqlcmdVariable(part)) {
            throw refuse(QStringLiteral("the name \"%1\" holds \"$(\", which sqlcmd would "
                                        "replace with a variable.")
                             .arg(CommentText(part)));
        }
    }
    std::vector<bool> firstPaired(static_cast<std::size_t>(first.fieldCount()), false);
    std::vector<bool> secondPaired(static_cast<std::size_t>(second.fieldCount()), false);
    const auto column = [&](const QString& field, int f, int g) {
        ScriptColumn c;
        c.field = field;
        c.first = f;
        c.second = g;
        c.name = second.column(g).name();
        if (HoldsSqlcmdVariable(c.name)) {
            throw refuse(QStringLiteral("the column \"%1\" holds \"$(\", which sqlcmd would "
                                        "replace with a variable.")
                             .arg(CommentText(c.name)));
        }
        if (HoldsLineBreak(c.name)) {
            throw refuse(QStringLiteral("the column \"%1\" holds a line break, which could end a "
                                        "batch.")
                             .arg(CommentText(c.name)));
        }
        const int k = data::FindName(fillNames, c.name);
        const ColumnFill fill =
            k >= 0 ? source.secondFills[static_cast<std::size_t>(k)] : ColumnFill{};
        c.identity = fill.identity;
        c.computed = fill.computed;
        c.rowVersion = fill.rowVersion;
        // What a date and time column holds, by its type and described size
        // (datetime2(n): 19 characters, or 20 + n).
        constexpr std::int64_t kDay = 864'000'000'000, kMinute = 600'000'000, kMs = 10'000;
        const std::int64_t size = second.column(g).declaredSize();
        switch (fill.typeId) {
            case 40:  // date
                c.timeUnit = kDay;
                break;
            case 58:  // smalldatetime
                c.timeUnit = kMinute;
                break;
            case 61:  // datetime
                c.timeUnit = kMs;
                c.threeHundredths = true;
                break;
            case 42:  // datetime2
                if (size >= 19 && size <= 27) {
                    c.timeUnit = 1;
                    for (std::int64_t n = size == 19 ? 0 : size - 20; n < 7; ++n) c.timeUnit *= 10;
                }
                break;
            default:
                break;
        }
        c.variant = fill.variant;
        secondPaired[static_cast<std::size_t>(g)] = true;
        return c;
    };
    for (const FieldPairing& p : source.pairs) {
        ScriptColumn c = column(p.name, p.first, p.second);
        firstPaired[static_cast<std::size_t>(p.first)] = true;
        if (c.rowVersion) {
            throw refuse(QStringLiteral("the column \"%1\" is a rowversion, which the server "
                                        "sets. Leave it out of the comparison.")
                             .arg(c.name));
        }
        if (c.variant) {
            throw refuse(QStringLiteral("the column \"%1\" is a sql_variant, which is read as "
                                        "the text of its value: the script would write every "
                                        "value as text. Leave it out of the comparison.")
                             .arg(c.name));
        }
        if (c.computed) plan.computed << c.name;
        plan.columns.push_back(std::move(c));
    }
    // A script can add no column: the tables must have the same ones.
    for (int f = 0; f < first.fieldCount(); ++f) {
        if (!firstPaired[static_cast<std::size_t>(f)]) {
            throw refuse(QStringLiteral("the column \"%1\" is only in %2.")
                             .arg(first.column(f).name(), firstName));
        }
    }
    for (std::size_t k = 0; k < key.second.size(); ++k) {
        const int g = key.second[k];
        plan.key.push_back(g);
        plan.keyNames << second.column(g).name();
        plan.keyKinds.push_back(second.column(g).kind());
        const int f = data::FindName(fillNames, second.column(g).name());
        const ColumnFill keyFill =
            f >= 0 ? source.secondFills[static_cast<std::size_t>(f)] : ColumnFill{};
        plan.keyTexts.push_back({keyFill.narrowText, keyFill.collation});
        if (secondPaired[static_cast<std::size_t>(g)]) continue;
        // A key column the comparison does not pair as a field still goes
        // into the rows inserted, from the first table's key.
        ScriptColumn c = column(QString(), -1, g);
        c.firstKey = key.first[k];
        plan.columns.push_back(std::move(c));
    }
    for (const ScriptColumn& c : plan.columns) {
        if (c.identity && !c.computed) plan.identityInserts = true;
    }
    // The second table's columns nothing is written to: from the server's
    // list (columns left out are not read), else from those read.
    QStringList all;
    for (const ColumnFill& f : source.secondFills) all << f.name;
    if (all.isEmpty()) {
        for (int g = 0; g < second.fieldCount(); ++g) all << second.column(g).name();
    }
    for (const QString& name : all) {
        const int g = second.indexOf(name);
        if (g >= 0 && secondPaired[static_cast<std::size_t>(g)]) continue;
        if (g >= 0) {
            // A column read that no field pairs with is one only the second
            // table has (those left out are not read).
            throw refuse(QStringLiteral("the column \"%1\" is only in %2.").arg(name, secondName));
        }
        if (source.secondGuards.periodColumns.contains(name, Qt::CaseInsensitive)) {
            plan.periodColumns << name;
        } else {
            plan.notWritten << name;
        }
    }
    plan.triggers = source.secondGuards.triggers;
    plan.references = source.secondGuards.references;
    plan.allowCascades = source.allowCascades;
    return plan;
}

ScriptOrigin ScriptOrigin::Now(const RunOptions& options, const QString& firstName,
                               const QString& secondName,
                               const connection::LoginDetails& secondLogin, const QString& madeBy) {
    return {.firstName = firstName,
            .secondName = secondName,
            .secondPlace = QStringLiteral("database %1 on server %2")
                               .arg(secondLogin.database, ServerName(secondLogin)),
            .madeBy = madeBy,
            .madeAt = QDateTime::currentDateTimeUtc(),
            .options = OptionsText(options)};
}

FixScriptSink::FixScriptSink(QIODevice& out, ScriptPlan plan, const ScriptOrigin& origin)
    : writer_(out, ReportFormat::Text),
      plan_(std::move(plan)),
      target_(QualifiedName(plan_.table)),
      firstName_(origin.firstName),
      secondName_(origin.secondName) {
    QStringList written;
    for (std::size_t c = 0; c < plan_.columns.size(); ++c) {
        const ScriptColumn& column = plan_.columns[c];
        if (!column.field.isEmpty()) columnOfField_.insert(column.field, static_cast<int>(c));
        if (!column.computed) written << column.name;
    }
    insertHead_ = QStringLiteral("INSERT INTO %1 (%2) SELECT ").arg(target_, Quoted(written));
    for (const int g : plan_.key) {
        for (const ScriptColumn& column : plan_.columns) {
            if (column.second == g)
                firstKey_.push_back(column.first >= 0 ? column.first : column.firstKey);
        }
    }

    const auto comment = [&](const QString& text) {
        line(QStringLiteral("-- ") + CommentText(text));
    };
    comment(QStringLiteral("Makes %1 hold what %2 holds.").arg(secondName_, firstName_));
    if (!origin.secondPlace.isEmpty()) {
        comment(QStringLiteral("Run it where %1 is: %2.").arg(secondName_, origin.secondPlace));
    }
    comment(QStringLiteral("Made by %1 on %2 from a comparison by key (%3).")
                .arg(origin.madeBy, origin.madeAt.toUTC().toString(Qt::ISODate),
                     plan_.keyNames.join(QStringLiteral(", "))));
    if (!origin.options.isEmpty()) comment(QStringLiteral("Options: ") + origin.options);
    if (!plan_.notWritten.isEmpty()) {
        comment(QStringLiteral("Not compared, so not written (records inserted take their "
                               "defaults there): ") +
                plan_.notWritten.join(QStringLiteral(", ")));
    }
    if (!plan_.computed.isEmpty()) {
        comment(QStringLiteral("Computed by the server, so not written: ") +
                plan_.computed.join(QStringLiteral(", ")));
    }
    if (!plan_.periodColumns.isEmpty()) {
        comment(QStringLiteral("Set by the server (GENERATED ALWAYS), so neither compared nor "
                               "written: ") +
                plan_.periodColumns.join(QStringLiteral(", ")));
    }
    if (!plan_.triggers.isEmpty()) {
        comment(QStringLiteral("Triggers on %1 fire on its statements: %2.")
                    .arg(secondName_, plan_.triggers.join(QStringLiteral(", "))));
    }
    QStringList cascades;
    for (const Reference& r : plan_.references) {
        const QString onDelete = ReferentialAction(r.onDelete);
        comment(QStringLiteral("The foreign key %1 of %2 references %3: on delete %4, on "
                               "update %5.%6")
                    .arg(r.name, r.table, secondName_, onDelete, ReferentialAction(r.onUpdate),
                         r.onDelete == 0 ? QStringLiteral(" A DELETE of a record it names fails, "
                                                          "and the script undoes itself.")
                                         : QString()));
        if (r.onDelete != 0) cascades << QStringLiteral("%1 (%2)").arg(r.table, onDelete);
    }
    cascades_ = cascades.join(QStringLiteral(", "));
    if (!cascades_.isEmpty()) {
        comment(plan_.allowCascades
                    ? QStringLiteral("Its DELETEs act on %1, as allowed.").arg(cascades_)
                    : QStringLiteral("A DELETE would act on %1: the script undoes itself if it "
                                     "holds one.")
                          .arg(cascades_));
    }
    comment(
        QStringLiteral("One transaction: an error rolls it all back, and the batches "
                       "after it do not run. Each batch marks its end in CONTEXT_INFO, and "
                       "the next runs only after that mark."));
    comment(QStringLiteral("With sqlcmd, run it with -x (no scripting variables) -b -f 65001."));
    // A batch of its own, as QUOTED_IDENTIFIER takes effect when a batch is
    // compiled: whatever session options the runner starts with (sqlcmd
    // without -I has QUOTED_IDENTIFIER off, which fails every write to a
    // table with a filtered index or an indexed view), the statements run
    // under the ones they were written for.
    for (const char* option : {"QUOTED_IDENTIFIER ON", "ANSI_NULLS ON", "ANSI_PADDING ON",
                               "ANSI_WARNINGS ON", "ARITHABORT ON", "CONCAT_NULL_YIELDS_NULL ON",
                               "NUMERIC_ROUNDABORT OFF", "DATEFORMAT ymd"}) {
        line(QStringLiteral("SET %1;").arg(QLatin1String(option)));
    }
    line(QStringLiteral("GO"));
    line(QStringLiteral("SET XACT_ABORT ON;"));
    line(QStringLiteral("SET NOCOUNT ON;"));
    if (!plan_.database.isEmpty()) {
        line(QStringLiteral("USE %1;").arg(QuotedIdentifier(plan_.database)));
    }
    line(QStringLiteral("SET CONTEXT_INFO 0x00000000;"));
    line(QStringLiteral("BEGIN TRANSACTION;"));
    if (plan_.identityInserts) line(QStringLiteral("SET IDENTITY_INSERT %1 ON;").arg(target_));
}

void FixScriptSink::problem(const QString& text) {
    // A few name the kind of fault; a million would only cost memory.
    if (problems_.size() < kProblemsNamed) {
        problems_ << text;
    } else {
        ++problemsUnnamed_;
    }
}

void FixScriptSink::line(const QString& text) {
    writer_.writeLine(text);
    batchCharacters_ += text.size() + 1;
}

void FixScriptSink::statement(const QString& text) {
    line(text);
    if (++batchStatements_ < kBatchStatements && batchCharacters_ < kBatchCharacters) return;
    endBatch();
}

// XACT_ABORT rolls back on an error at run time, but a batch that does not
// compile is skipped whole with the transaction still open: so each batch
// writes its number as its last act, and the next rolls back and stops
// unless it finds that number.
void FixScriptSink::endBatch() {
    const auto mark = [](std::uint32_t n) {
        return QStringLiteral("0x") +
               QStringLiteral("%1").arg(n, 8, 16, QLatin1Char('0')).toUpper();
    };
    line(QStringLiteral("SET CONTEXT_INFO %1;").arg(mark(batch_)));
    line(QStringLiteral("GO"));
    line(QStringLiteral("IF @@TRANCOUNT > 0 AND ISNULL(SUBSTRING(CONTEXT_INFO(), 1, 4), 0x) <> "
                        "%1 ROLLBACK TRANSACTION;")
             .arg(mark(batch_)));
    line(QStringLiteral("IF @@TRANCOUNT = 0 SET NOEXEC ON;"));
    ++batch_;
    batchStatements_ = 0;
    batchCharacters_ = 0;
}

// The key's columns equal to the record's key exactly: texts by their
// UTF-16 code units and length, since `=` follows the column's collation
// ('a' = 'A' without case) and ignores trailing blanks ('x' = 'x '); bytes
// with their length, since `=` pads the shorter with zeros. The plain `=`
// stays first, with a literal of the column's own type, for the key's index.
QString FixScriptSink::whereKey(const RecordRow& row, bool fromFirst) const {
    QString where;
    for (std::size_t k = 0; k < plan_.key.size(); ++k) {
        where += k == 0 ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ");
        const QString column = QuotedIdentifier(plan_.keyNames[static_cast<qsizetype>(k)]);
        const data::FieldValue v = row.value(fromFirst ? firstKey_[k] : plan_.key[k]);
        if (v.isNull()) {
            where += column + QStringLiteral(" IS NULL");
            continue;
        }
        const KeyText type = k < plan_.keyTexts.size() ? plan_.keyTexts[k] : KeyText{};
        where += column + QStringLiteral(" = ") + KeyLiteral(v, type);
        if (v.kind() == data::ValueKind::Text) {
            const QStringView text = v.asText();
            const QString unicode = QStringLiteral("CAST(%1 AS nvarchar(max))").arg(column);
            QByteArray bytes;  // UTF-16LE, as the server holds an nvarchar
            bytes.reserve(text.size() * 2);
            for (const QChar c : text)
                bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
            where += QStringLiteral(" AND DATALENGTH(%1) = %2 AND CAST(%1 AS varbinary(max)) = %3")
                         .arg(unicode)
                         .arg(bytes.size())
                         .arg(SqlLiteral(data::FieldValue::bytes(bytes)));
        } else if (v.kind() == data::ValueKind::Bytes) {
            where += QStringLiteral(" AND DATALENGTH(%1) = %2").arg(column).arg(v.asBytes().size());
        }
    }
    return where;
}

// The row's other columns as the comparison saw them in the second table, so
// that a statement reaches nothing that changed since. Texts and bytes are
// cast, so that every kind (ntext, image, xml, uniqueidentifier) compares;
// long ones by their length only, to keep the script near its data's size.
QString FixScriptSink::asCompared(const RecordRow& second) const {
    constexpr qsizetype kLongestCompared = 4000;
    QString where;
    for (const ScriptColumn& column : plan_.columns) {
        // What the server computes follows from the rest.
        if (column.second < 0 || column.computed ||
            std::find(plan_.key.begin(), plan_.key.end(), column.second) != plan_.key.end()) {
            continue;
        }
        const QString name = QuotedIdentifier(column.name);
        const data::FieldValue v = second.value(column.second);
        where += QStringLiteral(" AND ");
        if (v.isNull()) {
            where += name + QStringLiteral(" IS NULL");
        } else if (v.kind() == data::ValueKind::Text) {
            const QString unicode = QStringLiteral("CAST(%1 AS nvarchar(max))").arg(name);
            where +=
                v.asText().size() <= kLongestCompared
                    ? unicode + QStringLiteral(" = ") + SqlLiteral(v)
                    : QStringLiteral("DATALENGTH(%1) = %2").arg(unicode).arg(v.asText().size() * 2);
        } else if (v.kind() == data::ValueKind::Bytes) {
            const QString bytes = QStringLiteral("CAST(%1 AS varbinary(max))").arg(name);
            where += v.asBytes().size() <= kLongestCompared * 2
                         ? bytes + QStringLiteral(" = ") + SqlLiteral(v)
                         : QStringLiteral("DATALENGTH(%1) = %2").arg(bytes).arg(v.asBytes().size());
        } else {
            where += name + QStringLiteral(" = ") + SqlLiteral(v);
        }
    }
    return where;
}

// A statement that did not touch exactly its one row rolls the whole script
// back (XACT_ABORT makes THROW end the transaction) and says which record.
QString FixScriptSink::recordText(const RecordRow& row, bool fromFirst) const {
    const ValueFormatter formatter(QLocale::c());
    QStringList parts;
    for (std::size_t k = 0; k < plan_.key.size(); ++k) {
        parts << plan_.keyNames[static_cast<qsizetype>(k)] + u'=' +
                     KeyValueText(row.value(fromFirst ? firstKey_[k] : plan_.key[k]), formatter);
    }
    return parts.size() == 1 ? parts.front() : u'(' + parts.join(u',') + u')';
}

QString FixScriptSink::touchedOnce(const RecordRow& row, bool fromFirst,
                                   const QString& otherwise) const {
    QString text = QStringLiteral("Record %1 %2: the script changes nothing.")
                       .arg(recordText(row, fromFirst), otherwise);
    // THROW takes one literal of at most 2,048 characters.
    text = CommentText(text.left(1900)).replace(u'\'', QStringLiteral("''"));
    return QStringLiteral("IF @@ROWCOUNT <> 1 THROW 50000, N'%1', 1;").arg(text);
}

// A value as the second table's column can hold it. A date and time finer
// than the column's unit is written cut to it, so that the statement runs,
// and the script undoes itself at its end, saying where: never rounded
// silently into another value.
QString FixScriptSink::written(const ScriptColumn& column, const data::FieldValue& v,
                               const RecordRow& first) {
    if (column.timeUnit == 0 || v.kind() != data::ValueKind::DateTime) return SqlLiteral(v);
    data::DateTimeValue d = v.asDateTime();
    if ((d.parts & data::DateTimeValue::HasDate) == 0) return SqlLiteral(v);
    const std::int64_t within = d.ticks % column.timeUnit;
    const std::int64_t lastMsDigit = d.ticks / 10'000 % 10;
    const bool exact = within == 0 && (!column.threeHundredths || lastMsDigit == 0 ||
                                       lastMsDigit == 3 || lastMsDigit == 7);
    d.ticks -= within;
    if (d.ticks == 0 && column.timeUnit == 864'000'000'000) d.parts = data::DateTimeValue::HasDate;
    if (!exact) {
        problem(QStringLiteral("Record %1: the field \"%2\" holds %3, finer than the column "
                               "\"%4\" can store, which would keep another value.")
                    .arg(recordText(first, true),
                         column.field.isEmpty() ? column.name : column.field,
                         ValueFormatter(QLocale::c()).text(v), column.name));
    }
    return SqlLiteral(data::FieldValue::dateTime(d));
}

void FixScriptSink::FieldChanged(const RecordName& record, const QString& fieldName,
                                 const data::FieldValue&, const data::FieldValue&) {
    ++differences_;
    const int c = columnOfField_.value(fieldName, -1);
    if (c < 0) return;
    const ScriptColumn& column = plan_.columns[static_cast<std::size_t>(c)];
    if (column.identity) {
        problem(QStringLiteral("The identity column \"%1\" differs in record %2, and no "
                               "statement can change an identity value.")
                    .arg(column.name, record.text()));
        return;
    }
    if (column.computed) {
        computedChanged_ = c;
        computedRecord_ = record;
    } else {
        changed_.push_back(c);
    }
}

void FixScriptSink::RecordDeleted(const RecordName&) { ++differences_; }

void FixScriptSink::RecordAdded(const RecordName&) { ++differences_; }

void FixScriptSink::RecordNotUnique(const RecordName& record, bool inFirstTable) {
    ++differences_;
    problem(QStringLiteral("The key %1 is not unique in %2: a statement naming it could "
                           "change several records.")
                .arg(record.text(), inFirstTable ? firstName_ : secondName_));
}

void FixScriptSink::FieldOnlyIn(const QString&, bool) { ++differences_; }

void FixScriptSink::RecordsDiffer(const RecordRow& first, const RecordRow& second) {
    if (first && second) {
        const int computed = std::exchange(computedChanged_, -1);
        if (changed_.empty()) {
            // Only what the server computes differs: nothing written would
            // change it.
            if (computed >= 0) {
                problem(QStringLiteral("The computed column \"%1\" differs in record %2, and no "
                                       "column the script writes does.")
                            .arg(plan_.columns[static_cast<std::size_t>(computed)].name,
                                 computedRecord_.text()));
            }
            return;
        }
        QString sql = QStringLiteral("UPDATE %1 SET ").arg(target_);
        for (std::size_t k = 0; k < changed_.size(); ++k) {
            const ScriptColumn& column = plan_.columns[static_cast<std::size_t>(changed_[k])];
            if (k > 0) sql += QStringLiteral(", ");
            sql += QuotedIdentifier(column.name) + QStringLiteral(" = ") +
                   written(column, first.value(column.first), first);
        }
        changed_.clear();
        statement(sql + whereKey(second) + asCompared(second) + QStringLiteral(";\n") +
                  touchedOnce(second, false, QStringLiteral("is no longer as it was compared")));
        ++updates_;
    } else if (first) {
        QString sql = insertHead_;
        bool any = false;
        for (const ScriptColumn& column : plan_.columns) {
            if (column.computed) continue;
            if (any) sql += QStringLiteral(", ");
            any = true;
            sql += written(column, first.value(column.first >= 0 ? column.first : column.firstKey),
                           first);
        }
        // The key must be absent: a script run twice adds nothing twice.
        sql += QStringLiteral(" WHERE NOT EXISTS (SELECT 1 FROM %1%2);\n")
                   .arg(target_, whereKey(first, true)) +
               touchedOnce(first, true, QStringLiteral("is already there"));
        if (!insertsLater_.isOpen() && !insertsLater_.open()) {
            throw ReportWriteError(QStringLiteral("Cannot make a temporary file: ") +
                                   insertsLater_.errorString());
        }
        if (insertsLater_.write(sql.toUtf8() + '\n') < 0) {
            throw ReportWriteError(QStringLiteral("Cannot write a temporary file: ") +
                                   insertsLater_.errorString());
        }
        ++inserts_;
    } else if (second) {
        statement(QStringLiteral("DELETE FROM %1").arg(target_) + whereKey(second) +
                  asCompared(second) + QStringLiteral(";\n") +
                  touchedOnce(second, false, QStringLiteral("is no longer as it was compared")));
        ++deletes_;
        if (!cascades_.isEmpty()) {
            // Named once: every other DELETE does the same.
            if (cascadingDeletes_++ == 0 && !plan_.allowCascades) {
                problem(QStringLiteral("It deletes records of %1, and a DELETE acts on %2 too. "
                                       "Allow cascades (--allow-cascades) to keep them.")
                            .arg(secondName_, cascades_));
            }
        }
    }
}

void FixScriptSink::finish(const RunSummary& summary) {
    if (insertsLater_.isOpen()) {
        insertsLater_.seek(0);
        // Two lines a statement: the INSERT and its check, in one batch.
        while (!insertsLater_.atEnd()) {
            const QString insert = QString::fromUtf8(insertsLater_.readLine());
            statement(insert + QString::fromUtf8(insertsLater_.readLine()).chopped(1));
        }
        if (insertsLater_.error() != QFileDevice::NoError) {
            throw ReportWriteError(QStringLiteral("Cannot read a temporary file: ") +
                                   insertsLater_.errorString());
        }
        insertsLater_.close();
    }
    line(QStringLiteral("-- %1 updated, %2 inserted, %3 deleted.")
             .arg(updates_)
             .arg(inserts_)
             .arg(deletes_));
    if (summary.stoppedAtLimit) {
        line(QStringLiteral("-- ") + StoppedAtLimitText(summary.limit) +
             QStringLiteral(" This script mends what was found."));
    }
    endBatch();
    if (plan_.identityInserts) line(QStringLiteral("SET IDENTITY_INSERT %1 OFF;").arg(target_));
    if (problems_.isEmpty()) {
        line(QStringLiteral("COMMIT TRANSACTION;"));
    } else {
        line(QStringLiteral("-- It would not make the tables equal, so it undoes what it did:"));
        for (const QString& problem : problems_) line(QStringLiteral("-- ") + CommentText(problem));
        if (problemsUnnamed_ > 0) line(QStringLiteral("-- And %1 more.").arg(problemsUnnamed_));
        line(QStringLiteral("ROLLBACK TRANSACTION;"));
    }
    line(QStringLiteral("GO"));
    line(QStringLiteral("SET NOEXEC OFF;"));
}

}  // namespace compare
