#include "DatabaseComparison.h"

#include <QHash>
#include <algorithm>
#include <utility>

#include "DifferenceLines.h"
#include "ErrorReport.h"
#include "RecordKey.h"
#include "TableComparison.h"

namespace compare {

namespace {

// Counts what a run reports (a field only one table has apart: it is no
// record), and passes it on to the pair's details when they are kept.
class CountingSink final : public DifferenceSink {
public:
    void FieldChanged(const RecordName& r, const QString& f, const data::FieldValue& a,
                      const data::FieldValue& b) override {
        ++differences;
        if (also) also->FieldChanged(r, f, a, b);
    }
    void RecordDeleted(const RecordName& r) override {
        ++differences;
        if (also) also->RecordDeleted(r);
    }
    void RecordAdded(const RecordName& r) override {
        ++differences;
        if (also) also->RecordAdded(r);
    }
    void RecordNotUnique(const RecordName& r, bool inFirst) override {
        ++differences;
        if (also) also->RecordNotUnique(r, inFirst);
    }
    void FieldOnlyIn(const QString& f, bool inFirst) override {
        ++differences;
        ++columnsOnlyInOne;
        if (also) also->FieldOnlyIn(f, inFirst);
    }
    void RecordsDiffer(const RecordRow& first, const RecordRow& second) override {
        if (also) also->RecordsDiffer(first, second);
    }
    std::int64_t differences = 0;
    std::int64_t columnsOnlyInOne = 0;
    DifferenceSink* also = nullptr;
};

// A step of the comparison that fails ends the pair, with its failure.
class PairSteps final : public Steps {
protected:
    void failed(int, const std::exception_ptr& failure) override {
        std::rethrow_exception(failure);
    }
};

// The pair could not be compared, and why.
struct PairFailed {
    QString reason;
};
// By key, and the first table has no primary key: again by position.
struct WithoutKey {};

// A failure's text as one line: the driver's records, one a line, joined
// by blanks. The program's own refusals keep their names as they are (the
// report shows their line feeds as the lines do).
QString DriverLine(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text.trimmed();
}

// A stage of the pair's run: what it throws becomes the pair's reason,
// naming the tables as the lines do.
void Stage(const SideNames& names, const std::function<void()>& fn,
           const QString& prefix = QString()) {
    try {
        fn();
    } catch (const RunCancelled&) {
        throw;
    } catch (const NoPrimaryKey&) {
        throw WithoutKey{};
    } catch (const PairFailed&) {
        throw;
    } catch (const KeyProblem&) {
        throw PairFailed{RunFailureText(std::current_exception(), names, prefix).trimmed()};
    } catch (const KeyOrderBroken&) {
        throw PairFailed{RunFailureText(std::current_exception(), names, prefix).trimmed()};
    } catch (...) {
        throw PairFailed{DriverLine(RunFailureText(std::current_exception(), names, prefix))};
    }
}

// Tables pair by schema and name, exactly or else without case, as SQL
// Server compares names under a case-sensitive or -insensitive collation.
QString PairKey(const catalogue::TableName& t) {
    return (t.schema.isEmpty() ? QStringLiteral("dbo") : t.schema) + u'.' + t.name;
}

}  // namespace

std::optional<QRegularExpression> ShellPattern(const QString& pattern) {
    QString re;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'*') {
            re += QStringLiteral(".*");
        } else if (c == u'?') {
            re += u'.';
        } else if (c == u'[') {
            qsizetype j = i + 1;
            const bool negated = j < pattern.size() && (pattern[j] == u'!' || pattern[j] == u'^');
            if (negated) ++j;
            const qsizetype first = j;
            if (j < pattern.size() && pattern[j] == u']') ++j;  // a ] first is one of the set
            while (j < pattern.size() && pattern[j] != u']') ++j;
            if (j >= pattern.size()) return std::nullopt;
            QString set;
            for (const QChar m : pattern.mid(first, j - first)) {
                if (m == u'\\' || m == u'[' || m == u']' || m == u'^') set += u'\\';
                set += m;
            }
            re += u'[' + QString(negated ? QStringLiteral("^") : QString()) + set + u']';
            i = j;
        } else {
            re += QRegularExpression::escape(QString(c));
        }
    }
    // A name may hold a line break, and * or ? stand for any character.
    QRegularExpression out(
        QRegularExpression::anchoredPattern(re),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    if (!out.isValid()) return std::nullopt;  // a range backwards: [z-a]
    return out;
}

bool PatternsName(const std::vector<QRegularExpression>& patterns, const catalogue::TableName& t) {
    const QString both = (t.schema.isEmpty() ? QStringLiteral("dbo") : t.schema) + u'.' + t.name;
    return std::any_of(patterns.begin(), patterns.end(), [&](const QRegularExpression& p) {
        return p.match(t.listed()).hasMatch() || p.match(both).hasMatch();
    });
}

std::vector<TableEntry> PairTables(const std::vector<catalogue::TableName>& first,
                                   const std::vector<catalogue::TableName>& second,
                                   const std::function<bool(const catalogue::TableName&)>& chosen) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    QHash<QString, std::size_t> inSecond;
    for (std::size_t i = 0; i < second.size(); ++i) inSecond.insert(PairKey(second[i]), i);
    std::vector<bool> paired(second.size(), false);
    std::vector<std::size_t> partner(first.size(), kNone);
    for (std::size_t f = 0; f < first.size(); ++f) {
        if (!chosen(first[f])) continue;
        if (const auto it = inSecond.constFind(PairKey(first[f])); it != inSecond.constEnd()) {
            partner[f] = *it;
            paired[*it] = true;
        }
    }
    // Left unpaired, names pair without case where one table of each side
    // is left so: in a case-sensitive database "Orders" and "ORDERS" are two.
    QHash<QString, std::pair<std::vector<std::size_t>, std::vector<std::size_t>>> folded;
    for (std::size_t f = 0; f < first.size(); ++f) {
        if (partner[f] == kNone && chosen(first[f]))
            folded[PairKey(first[f]).toLower()].first.push_back(f);
    }
    for (std::size_t i = 0; i < second.size(); ++i) {
        if (!paired[i]) folded[PairKey(second[i]).toLower()].second.push_back(i);
    }
    for (const auto& [firsts, seconds] : std::as_const(folded)) {
        if (firsts.size() != 1 || seconds.size() != 1) continue;
        partner[firsts.front()] = seconds.front();
        paired[seconds.front()] = true;
    }
    std::vector<TableEntry> entries;
    for (std::size_t f = 0; f < first.size(); ++f) {
        const catalogue::TableName& t = first[f];
        if (!chosen(t)) continue;
        TableEntry e;
        e.first = t;
        if (partner[f] != kNone) e.second = second[partner[f]];
        entries.push_back(e);
    }
    for (std::size_t i = 0; i < second.size(); ++i) {
        if (paired[i] || !chosen(second[i])) continue;
        TableEntry e;
        e.second = second[i];
        entries.push_back(e);
    }
    return entries;
}

PairOutcome ComparePair(data::DataAccess& data, const SideTable& first, const SideTable& second,
                        RunOptions options, RunObserver& observer,
                        const std::function<void(ComparisonRun*)>& running, PairDetails* details) {
    PairOutcome outcome;
    outcome.table = first.table.listed();
    options.ignoreWhereFound = true;
    const SideNames names = NameSides(first, second);
    // The pair's reason is one line of the report: the tables named as the
    // lines name them. The differences themselves take the exact names.
    const SideNames shown{WithVisibleControls(names.first), WithVisibleControls(names.second)};
    for (;;) {
        outcome.byKey = options.key.pairsByKey();
        CountingSink counts;
        try {
            ComparisonRun run(data, options, observer);
            // The caller may cancel this run while it waits, never one that is gone.
            struct Running {
                const std::function<void(ComparisonRun*)>& tell;
                ~Running() {
                    if (tell) tell(nullptr);
                }
            } told{running};
            if (running) running(&run);
            const FirstRows rows =
                OpenRun(run, first, second, shown, false,
                        [&](const std::function<void()>& fn, const QString& prefix) {
                            Stage(shown, fn, prefix);
                        });
            const bool firstRows = rows.first, secondRows = rows.second;
            if (!firstRows || !secondRows) {
                const bool neither = !firstRows && !secondRows;
                outcome.kind = neither ? PairOutcome::Kind::Same : PairOutcome::Kind::NotCompared;
                const QString firstText = run.NoRowsText(Side::First, shown.first);
                const QString secondText = run.NoRowsText(Side::Second, shown.second);
                if (!neither) {
                    outcome.note = !firstRows ? firstText : secondText;
                } else if (run.condition(Side::First).isEmpty() &&
                           run.condition(Side::Second).isEmpty()) {
                    outcome.bothEmpty = true;
                } else {
                    // Tables that hold rows are not empty: no row met a condition.
                    outcome.note = firstText + u' ' + secondText;
                }
                return outcome;
            }
            if (details)
                Stage(
                    shown,
                    [&] {
                        counts.also = &details->begin(
                            names, RecordLayout(run.FieldPairs(run.PositionalFields()), run.Key()));
                    },
                    QString());
            PairSteps steps;
            Stage(shown, [&] {
                run.Compare(steps, counts, run.PositionalFields());
                if (details) details->finish(run.Summary());
            });
            outcome.summary = run.Summary();
            outcome.columnsOnlyInOne = counts.columnsOnlyInOne;
            outcome.kind = counts.differences == 0 && !outcome.summary.stoppedAtLimit
                               ? PairOutcome::Kind::Same
                               : PairOutcome::Kind::Differ;
        } catch (const WithoutKey&) {
            options.key = KeyChoice();
            continue;
        } catch (const PairFailed& failed) {
            outcome.kind = PairOutcome::Kind::NotCompared;
            outcome.note = failed.reason;
        }
        return outcome;
    }
}

PairOutcome Alone(const TableEntry& entry, const connection::LoginDetails& first,
                  const connection::LoginDetails& second) {
    PairOutcome outcome;
    outcome.kind = entry.first ? PairOutcome::Kind::OnlyInFirst : PairOutcome::Kind::OnlyInSecond;
    outcome.table = entry.listed();
    outcome.note =
        entry.first ? DatabaseLabel(first, Side::First) : DatabaseLabel(second, Side::Second);
    return outcome;
}

PairOutcome CompareEntry(data::DataAccess& data, const TableEntry& entry,
                         const connection::LoginDetails& first,
                         const connection::LoginDetails& second, const RunOptions& options,
                         RunObserver& observer, const std::function<void(ComparisonRun*)>& running,
                         PairDetails* details) {
    if (!entry.first || !entry.second) return Alone(entry, first, second);
    try {
        return ComparePair(data, {first, *entry.first}, {second, *entry.second}, options, observer,
                           running, details);
    } catch (const RunCancelled&) {
        throw;
    } catch (...) {
        // Whatever fails a pair ends only that pair.
        PairOutcome failed;
        failed.kind = PairOutcome::Kind::NotCompared;
        failed.table = entry.listed();
        failed.note = DriverLine(app::DescribeFailure(std::current_exception()));
        return failed;
    }
}

DatabaseComparison::DatabaseComparison(data::DataAccess& data, connection::LoginDetails first,
                                       connection::LoginDetails second, RunOptions options)
    : data_(data),
      first_(std::move(first)),
      second_(std::move(second)),
      options_(std::move(options)) {}

void DatabaseComparison::List(const std::function<bool(const catalogue::TableName&)>& chosen,
                              const CatalogueReader& read, bool withViews) {
    for (const Side side : {Side::First, Side::Second}) {
        if (cancelled_) throw RunCancelled{};
        const connection::LoginDetails& login = side == Side::First ? first_ : second_;
        catalogue::CatalogueRead& list = lists_[static_cast<std::size_t>(side)];
        try {
            list = read ? read(login) : catalogue::ReadTableCatalogue(login, data_, withViews);
        } catch (const RunCancelled&) {
            throw;
        } catch (...) {
            throw ListingFailed{side, std::current_exception()};
        }
        // A list read part-way would pass its missing tables off as alone.
        if (list.failure) throw ListingFailed{side, list.failure};
    }
    entries_ = PairTables(lists_[0].tables, lists_[1].tables,
                          [&](const catalogue::TableName& t) { return !chosen || chosen(t); });
}

const catalogue::CatalogueRead& DatabaseComparison::Listed(Side side) const {
    return lists_[static_cast<std::size_t>(side)];
}

DatabaseResult DatabaseComparison::Run(DatabaseObserver& observer) {
    DatabaseResult result;
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        const TableEntry& e = entries_[k];
        observer.PairStarting(e, k, entries_.size());
        if (cancelled_) throw RunCancelled{};
        PairDetails* details = e.first && e.second ? observer.Details() : nullptr;
        result.outcomes.push_back(CompareEntry(
            data_, e, first_, second_, options_, observer,
            [this](ComparisonRun* run) { running(run); }, details));
        result.totals.count(result.outcomes.back().kind);
        observer.PairDone(result.outcomes.back());
    }
    return result;
}

void DatabaseComparison::running(ComparisonRun* run) {
    const std::lock_guard<std::mutex> lock(runMutex_);
    current_ = run;
    // A Cancel between the check before the pair and this run reaches it too.
    if (current_ != nullptr && cancelled_) current_->Cancel();
}

void DatabaseComparison::Cancel() {
    cancelled_ = true;
    const std::lock_guard<std::mutex> lock(runMutex_);
    if (current_ != nullptr) current_->Cancel();
}

}  // namespace compare
