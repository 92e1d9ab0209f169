#include "ComparisonRun.h"

#include <QRegularExpression>
#include <algorithm>
#include <stdexcept>
#include <thread>

#include "DataError.h"
#include "ErrorReport.h"
#include "QueryPlan.h"
#include "SideNames.h"
#include "Summary.h"
#include "TableComparison.h"
#include "TableQuery.h"
#include "TableReader.h"
#include "TableShapes.h"

namespace compare {

namespace {

// How long one wait on a reader lasts before the observer gets a turn.
constexpr int kWaitSliceMs = 20;
// How often the observer hears of the rows read while the tables are read.
constexpr qint64 kProgressEveryMs = 100;

std::size_t at(Side side) { return static_cast<std::size_t>(side); }

// The server's words for a refused snapshot or a lock wait that ran out say
// what failed, not what to do about it: these do, naming the database.
std::exception_ptr explained(std::exception_ptr e, const QString& database) {
    try {
        std::rethrow_exception(e);
    } catch (const data::DataError& error) {
        // The server names the database it refused; the login's is a fallback.
        const QRegularExpressionMatch named =
            QRegularExpression(QStringLiteral("database '([^']*)'")).match(error.description());
        const QString name = named.hasMatch() ? named.captured(1) : database;
        if (error.nativeCode() == 3952) {
            return std::make_exception_ptr(std::runtime_error(
                QStringLiteral("The database \"%1\" does not allow snapshot isolation. Allow it "
                               "with ALTER DATABASE [%2] SET ALLOW_SNAPSHOT_ISOLATION ON, or "
                               "compare without snapshot isolation.")
                    .arg(name, QString(name).replace(u']', QStringLiteral("]]")))
                    .toStdString()));
        }
        if (error.nativeCode() == 1222) {
            return std::make_exception_ptr(std::runtime_error(
                QStringLiteral("A table of the database \"%1\" stayed locked by another session "
                               "for %2 s (Lock request time out period exceeded.). Compare again "
                               "when it is free, or read under snapshot isolation.")
                    .arg(name)
                    .arg(data::kLockTimeoutMs / 1000)
                    .toStdString()));
        }
    } catch (...) {
    }
    return e;
}

// Whether a description's failure is the server refusing the statement
// itself (no such table or column, a query it will not run), which the read
// meets again at once: a lock, a deadlock or a lost link might pass, and the
// read must then not go on without the description.
bool RecursWhereRead(const std::exception_ptr& e) {
    try {
        std::rethrow_exception(e);
    } catch (const KeyProblem&) {
        return true;
    } catch (const data::DataError& error) {
        return error.sqlState().startsWith(QStringLiteral("42"));
    } catch (...) {
        return false;
    }
}

}  // namespace

ComparisonRun::ComparisonRun(data::DataAccess& data, RunOptions options, RunObserver& observer)
    : data_(data), options_(std::move(options)), observer_(observer) {}

ComparisonRun::~ComparisonRun() { Close(); }

std::unique_ptr<data::Connection>& ComparisonRun::connection(Side side) {
    std::unique_ptr<data::Connection>& c = connections_[at(side)];
    // A connection whose creation failed fails each stage that needs it.
    if (!c) throw std::runtime_error("Object variable not set");
    return c;
}

TableReader& ComparisonRun::reader(Side side) {
    if (!readers_[at(side)]) throw std::runtime_error("Object variable not set");
    return *readers_[at(side)];
}

ReaderBlocks& ComparisonRun::blocks(Side side) {
    if (!blocks_[at(side)]) throw std::runtime_error("Object variable not set");
    return *blocks_[at(side)];
}

template <class Fn>
void ComparisonRun::onBoth(Fn fn) {
    connection(Side::First);
    connection(Side::Second);
    fn(*connections_[0]);
    fn(*connections_[1]);
}

void ComparisonRun::CreateConnections() {
    connections_[0] = data_.CreateConnection();
    connections_[1] = data_.CreateConnection();
}

void ComparisonRun::SetMode() {
    onBoth([](data::Connection& c) { c.Mode = data::adModeReadWrite; });
}

void ComparisonRun::SetCommandTimeout() {
    onBoth([](data::Connection& c) { c.CommandTimeout = 5000; });
}

void ComparisonRun::SetConnectionTimeout() {
    onBoth([](data::Connection& c) { c.ConnectionTimeout = 5000; });
}

void ComparisonRun::SetCursorLocation() {
    onBoth([](data::Connection& c) { c.CursorLocation = data::adUseClient; });
}

void ComparisonRun::waiting() {
    if (cancelled_) throw RunCancelled{};
    observer_.Waiting();
    if (cancelled_) throw RunCancelled{};
}

// Waits until the side's reader is past the stage. Throws what failed it at
// that stage; a later stage's failure is left to that stage.
void ComparisonRun::waitPast(Side side, int stage) {
    const auto past = static_cast<TableReader::Stage>(stage);
    TableReader& r = reader(side);
    for (;;) {
        if (cancelled_) throw RunCancelled{};
        const TableReader::Stage now = r.WaitPast(past, kWaitSliceMs);
        if (now == TableReader::Stage::Cancelled) throw RunCancelled{};
        if (now == TableReader::Stage::Failed) {
            if (r.failedStage() == past) std::rethrow_exception(r.failure());
            return;
        }
        if (static_cast<int>(now) > stage) return;
        waiting();
    }
}

void ComparisonRun::Connect(const connection::LoginDetails& first,
                            const connection::LoginDetails& second) {
    connection(Side::First);
    connection(Side::Second);
    sinceConnect_.start();
    const std::array<QString, 2> strings{connection::BuildConnectionString(first),
                                         connection::BuildConnectionString(second)};
    {
        const std::lock_guard lock(readersMutex_);
        for (std::size_t i = 0; i < 2; ++i) {
            if (options_.snapshot) connections_[i]->IsolationLevel = data::adXactSnapshot;
            const QString database = (i == 0 ? first : second).database;
            readers_[i] = std::make_unique<TableReader>(
                std::move(connections_[i]), strings[i],
                [database](std::exception_ptr e) { return explained(std::move(e), database); });
        }
    }
    for (const std::unique_ptr<TableReader>& r : readers_) r->Start();
    for (const Side side : {Side::First, Side::Second}) {
        try {
            waitPast(side, static_cast<int>(TableReader::Stage::Connecting));
        } catch (const RunCancelled&) {
            throw;
        } catch (...) {
            // With two databases or servers, the driver's reason alone would
            // not say which side could not be reached.
            if (SameDatabase(first, second)) throw;
            const connection::LoginDetails& login = side == Side::First ? first : second;
            const QString where = SideLocation(side, login);
            throw std::runtime_error(
                (where + QStringLiteral(": ") + app::DescribeFailure(std::current_exception()))
                    .toStdString());
        }
    }
}

const QString& ComparisonRun::condition(Side side) const {
    return side == Side::First ? options_.where : options_.secondWhere();
}

QString ComparisonRun::NoRowsText(Side side, const QString& tableName) const {
    // An empty answer to a condition says nothing of the table itself.
    if (!condition(side).isEmpty()) {
        return QStringLiteral("No record of %1 meets the condition %2.")
            .arg(tableName, condition(side));
    }
    return AtSentenceStart(tableName) + QStringLiteral(" does not contain any data.");
}

// A condition goes into a query only as one condition of it: checked
// whatever the caller checked, before any query is sent.
void ComparisonRun::checkConditions() const {
    for (const Side side : {Side::First, Side::Second}) {
        const QString& c = condition(side);
        if (c.isEmpty()) continue;
        QString problem = RowConditionProblem(c);
        if (problem.isEmpty() && c.trimmed().isEmpty()) problem = QStringLiteral("it is blank");
        if (problem.isEmpty()) continue;
        const bool onlySecond = side == Side::Second && options_.rightWhere.has_value();
        if (side == Side::Second && !onlySecond) continue;  // the first's, told once
        throw OptionProblem(QStringLiteral("The %1 \"%2\" cannot go into the query: %3.")
                                .arg(onlySecond ? QStringLiteral("second table's row condition")
                                                : QStringLiteral("row condition"),
                                     c, problem));
    }
}

// Always: the columns are described first, so that a column of a code
// page's bytes is read as the server converts it.
bool ComparisonRun::plansQueries() const { return true; }

void ComparisonRun::PlanQueries(const catalogue::TableName& first,
                                const catalogue::TableName& second) {
    checkConditions();
    RefuseNamedKeyLeftOut(options_);
    // Described always: a column of a code page's bytes is read converted
    // by the server (ReadThroughUnicode).
    const bool needsShapes =
        pairsByKey() || learnFills_ || !options_.ignore.isEmpty() || !options_.map.empty();
    TableShapes shapes;
    try {
        shapes = DescribeTables(reader(Side::First), reader(Side::Second), first, second,
                                {options_.key.automatic, learnFills_}, {false, learnFills_},
                                [this] { waiting(); });
    } catch (const RunCancelled&) {
        throw;
    } catch (...) {
        if (needsShapes || !RecursWhereRead(std::current_exception())) throw;
        // By position the description only converts texts: a table it
        // cannot describe fails where it is read, as it always did.
        queries_ = PlanQueryText(options_, first, second, nullptr).queries;
        return;
    }
    secondFills_ = shapes.second.fills;
    guards_ = {shapes.first.guards, shapes.second.guards};
    for (const TableGuards& g : guards_) {
        for (const QString& period : g.periodColumns) {
            if (!options_.ignore.contains(period, Qt::CaseInsensitive)) options_.ignore << period;
        }
    }
    QueryPlan plan;
    try {
        plan = PlanQueryText(options_, first, second, &shapes);
    } catch (const NoPrimaryKey&) {
        // A view never has one: what would pair its records is the user's to say.
        if (!first.view) throw;
        throw NoPrimaryKey(QStringLiteral("The records cannot be paired by key: %1 is a view, "
                                          "which has no primary key. Tick its key's columns "
                                          "under \"Options\u2026\".")
                               .arg(AtSentenceStart(first.listed())));
    }
    queries_ = plan.queries;
    if (options_.checksums && plan.key) checksumPass(first, second, shapes, plan);
    key_ = std::move(plan.key);
}

std::array<std::vector<data::ResultTable>, 2> ComparisonRun::onBothServers(
    const std::array<QStringList, 2>& statements) {
    // Shared with the readers' threads: a wait that throws (Esc) leaves the
    // work to end alone.
    std::array<std::shared_ptr<std::vector<data::ResultTable>>, 2> answers;
    for (const Side side : {Side::First, Side::Second}) {
        const std::size_t s = at(side);
        answers[s] = std::make_shared<std::vector<data::ResultTable>>();
        if (statements[s].isEmpty()) continue;
        reader(side).Ask([answer = answers[s], sql = statements[s]](data::Connection& c) {
            for (const QString& q : sql) answer->push_back(c.FetchQuery(q));
        });
    }
    for (const Side side : {Side::First, Side::Second}) {
        if (statements[at(side)].isEmpty()) continue;
        for (;;) {
            try {
                if (reader(side).Answered(kWaitSliceMs)) break;
            } catch (const data::DataError& e) {
                if (cancelled_ || reader(side).stage() == TableReader::Stage::Cancelled) {
                    throw RunCancelled{};
                }
                throw ChecksumFailed(e, side);
            } catch (...) {
                if (cancelled_ || reader(side).stage() == TableReader::Stage::Cancelled) {
                    throw RunCancelled{};
                }
                throw;
            }
            waiting();
        }
    }
    return {std::move(*answers[0]), std::move(*answers[1])};
}

// Both servers hash their tables range by range; only the ranges whose
// checksums differ are then read, by conditions on the key added to the
// queries planned.
void ComparisonRun::checksumPass(const catalogue::TableName& first,
                                 const catalogue::TableName& second, const TableShapes& shapes,
                                 const QueryPlan& plan) {
    const std::array<catalogue::TableName, 2> tables{first, second};
    const std::array<QString, 2> names{first.listed(), second.listed()};
    ChecksumCatalogue catalogue;
    if (!first.isQuery() && !second.isQuery() && !first.view && !second.view) {
        std::array<std::vector<data::ResultTable>, 2> facts =
            onBothServers({QStringList{IndexColumnsQuery(first), ColumnCollationsQuery(first)},
                           QStringList{IndexColumnsQuery(second), ColumnCollationsQuery(second)}});
        for (std::size_t s = 0; s < 2; ++s) {
            catalogue.indexes[s] = std::move(facts[s][0]);
            catalogue.columns[s] = std::move(facts[s][1]);
        }
    }
    const std::array<ChecksumSide, 2> sides =
        ChecksumSidesFor(options_, tables, names, shapes, *plan.key, catalogue);
    checksums_ = RunChecksumPass(
        [this](const std::array<QStringList, 2>& statements) { return onBothServers(statements); },
        sides, options_.segmentRows);
    if (checksums_->readWhole) return;
    const auto narrowed = [](const QString& condition, const QString& ranges) {
        return condition.isEmpty() ? ranges
                                   : QStringLiteral("(%1) and (%2)").arg(condition, ranges);
    };
    RunOptions reading = options_;
    reading.where = narrowed(options_.where, RangesCondition(sides[0].key, checksums_->toRead));
    reading.rightWhere =
        narrowed(options_.secondWhere(), RangesCondition(sides[1].key, checksums_->toRead));
    queries_ = PlanQueryText(reading, first, second, &shapes).queries;
}

void ComparisonRun::SendQuery(Side side, const catalogue::TableName& table) {
    const QString& planned = queries_[at(side)];
    // Read whole, a table would lose its options without a word.
    if (planned.isEmpty() && plansQueries()) {
        throw std::logic_error("the run's queries were not planned before they were sent");
    }
    // The estimate counts the whole table: with a condition, or only the
    // ranges the checksums left, it would promise rows that never come.
    const bool whole = condition(side).isEmpty() && (!checksums_ || checksums_->readWhole);
    reader(side).Query(planned.isEmpty() ? SelectAllFrom(table) : planned,
                       whole ? RowCountEstimateQuery(table) : QString());
}

void ComparisonRun::WaitQueried(Side side) {
    waitPast(side, static_cast<int>(TableReader::Stage::Querying));
    TableReader& r = reader(side);
    ReaderBlocks::Hooks hooks;
    hooks.waiting = [this] { reading(); };
    hooks.failed = [&r, side] { throw ReadFailed{side, r.failure()}; };
    hooks.cancelled = [] { throw RunCancelled{}; };
    blocks_[at(side)] = std::make_unique<ReaderBlocks>(r, std::move(hooks));
    if (!blocks_[0] || !blocks_[1]) return;
    // Both queried: the reading starts.
    const std::optional<std::int64_t> a = readers_[0]->EstimatedRows();
    const std::optional<std::int64_t> b = readers_[1]->EstimatedRows();
    if (a && b) expected_ = std::max<std::int64_t>(*a + *b, 1);
    observer_.Progress(0, expected_);
    sinceProgress_.start();
}

// While the tables are read: the rows read a few times a second, and the
// observer's turn (a block is taken every few milliseconds, a turn each
// time would cost more than the comparison).
void ComparisonRun::reading() {
    if (cancelled_) throw RunCancelled{};
    if (sinceProgress_.isValid() && sinceProgress_.elapsed() < kProgressEveryMs) return;
    observer_.Progress(readers_[0]->RowsRead() + readers_[1]->RowsRead(), expected_);
    waiting();
    sinceProgress_.restart();
}

bool ComparisonRun::HasRows(Side side) {
    const bool read = blocks(side).TakeFirst() != nullptr;
    // Only the ranges left are read: the checksums counted the others.
    return read || (checksums_ && checksums_->records[at(side)] > 0);
}

const data::ResultTable& ComparisonRun::Columns(Side side) const {
    if (!readers_[at(side)]) throw std::runtime_error("Object variable not set");
    return readers_[at(side)]->Columns();
}

FieldPlan ComparisonRun::PositionalFields() const {
    const data::ResultTable& first = Columns(Side::First);
    FieldPlan plan;
    plan.lastField = std::min(first.fieldCount(), Columns(Side::Second).fieldCount()) - 1;
    for (int k = 0; k < first.fieldCount(); ++k) plan.names.push_back(first.column(k).name());
    plan.names.emplace_back();
    return plan;
}

TableComparison ComparisonRun::comparison(const FieldPlan& fields) const {
    if (!options_.map.empty()) {
        return TableComparison::Mapped(Columns(Side::First), Columns(Side::Second), options_.map,
                                       options_.fieldsByName);
    }
    return options_.fieldsByName
               ? TableComparison::ByName(Columns(Side::First), Columns(Side::Second))
               : TableComparison(fields.lastField, fields.names, Columns(Side::First),
                                 Columns(Side::Second));
}

std::vector<FieldPairing> ComparisonRun::FieldPairs(const FieldPlan& fields) const {
    return comparison(fields).Pairs();
}

void ComparisonRun::Compare(Steps& steps, DifferenceSink& sink, const FieldPlan& fields) {
    TableComparison comparison = this->comparison(fields);
    if (key_) comparison.PairRecordsBy(*key_);
    comparison.CompareValuesUnder(options_.values);
    comparison.StopAfter(options_.limit);
    summary_ = comparison.Run(steps, blocks(Side::First), blocks(Side::Second), sink);
    summary_.options = OptionsText(options_);
    summary_.firstRowsFiltered = guards_[0].rowFilter;
    summary_.secondRowsFiltered = guards_[1].rowFilter;
    summary_.firstMasked = guards_[0].masked;
    summary_.secondMasked = guards_[1].masked;
    if (checksums_) {
        summary_.checksums = checksums_->count;
        summary_.checksums->readWhole = checksums_->readWhole;
    }
    summary_.elapsedMs = sinceConnect_.isValid() ? sinceConnect_.elapsed() : 0;
}

void ComparisonRun::Close() {
    for (std::unique_ptr<ReaderBlocks>& b : blocks_) b.reset();
    std::array<std::unique_ptr<TableReader>, 2> ending;
    {
        const std::lock_guard lock(readersMutex_);
        ending.swap(readers_);
    }
    // Both cancelled, then released side by side: a reader that does not end
    // at once gets a short grace before it is let go, and two graces one
    // after the other would be felt.
    for (const std::unique_ptr<TableReader>& r : ending) {
        if (r) r->Cancel();
    }
    if (ending[0] && ending[1]) {
        std::thread second([r = std::move(ending[1])]() mutable { r.reset(); });
        ending[0].reset();
        second.join();
    }
}

void ComparisonRun::Cancel() {
    cancelled_ = true;
    const std::lock_guard lock(readersMutex_);
    for (const std::unique_ptr<TableReader>& r : readers_) {
        if (r) r->Cancel();
    }
}

QString RunFailureText(const std::exception_ptr& failure, const SideNames& names,
                       const QString& prefix) {
    try {
        std::rethrow_exception(failure);
    } catch (const KeyProblem& problem) {
        return problem.message();
    } catch (const KeyOrderBroken& broken) {
        return broken.message(broken.inFirstTable() ? names.first : names.second);
    } catch (const ChecksumFailed& failed) {
        return QStringLiteral("The checksums of %1 (the %2 table) could not be computed: %3")
            .arg(failed.side == Side::First ? names.first : names.second, SideWord(failed.side),
                 failed.description());
    } catch (const ReadFailed& failed) {
        return QStringLiteral("%1 could not be read: %2")
            .arg(AtSentenceStart(failed.side == Side::First ? names.first : names.second),
                 app::DescribeFailure(failed.cause));
    } catch (...) {
        return prefix + app::DescribeFailure(std::current_exception());
    }
}

bool OpenRun(ComparisonRun& run, const SideTable& first, const SideTable& second, bool learnFills,
             FirstRows& rows, const StageRunner& stage) {
    using S = OpenStage;
    const bool opened = stage(S::CreateConnections, [&] { run.CreateConnections(); }) &&
                        stage(S::SetMode, [&] { run.SetMode(); }) &&
                        stage(S::SetCommandTimeout, [&] { run.SetCommandTimeout(); }) &&
                        stage(S::SetConnectionTimeout, [&] { run.SetConnectionTimeout(); }) &&
                        stage(S::SetCursorLocation, [&] { run.SetCursorLocation(); }) &&
                        stage(S::Connect, [&] { run.Connect(first.login, second.login); });
    if (!opened) return false;
    if (learnFills) run.LearnColumnFills();
    if (run.plansQueries() &&
        !stage(S::PlanQueries, [&] { run.PlanQueries(first.table, second.table); })) {
        return false;
    }
    // Both queries go out before either is waited for: by key the servers
    // may sort both at once.
    return stage(S::SendFirst, [&] { run.SendQuery(Side::First, first.table); }) &&
           stage(S::SendSecond, [&] { run.SendQuery(Side::Second, second.table); }) &&
           stage(S::WaitFirst, [&] { run.WaitQueried(Side::First); }) &&
           stage(S::WaitSecond, [&] { run.WaitQueried(Side::Second); }) &&
           stage(S::FirstRows, [&] { rows.first = run.HasRows(Side::First); }) &&
           stage(S::SecondRows, [&] { rows.second = run.HasRows(Side::Second); });
}

FirstRows OpenRun(ComparisonRun& run, const SideTable& first, const SideTable& second,
                  const SideNames& names, bool learnFills, const RunStage& stage) {
    FirstRows rows;
    OpenRun(
        run, first, second, learnFills, rows, [&](OpenStage s, const std::function<void()>& fn) {
            if (s != OpenStage::WaitFirst && s != OpenStage::WaitSecond) {
                stage(fn, QString());
                return true;
            }
            const QString& name = s == OpenStage::WaitFirst ? names.first : names.second;
            stage(
                [&] {
                    try {
                        fn();
                    } catch (const data::DataError&) {
                        // A query's columns the server would not name.
                        const QString unnamed = UnnamedColumnsText(name, std::current_exception());
                        if (unnamed.isEmpty()) throw;
                        throw KeyProblem(unnamed);
                    }
                },
                AtSentenceStart(name) + QStringLiteral(" could not be read: "));
            return true;
        });
    return rows;
}

}  // namespace compare
