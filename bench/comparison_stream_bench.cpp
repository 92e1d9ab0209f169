// The comparison behind the table selection window's "Next >", measured
// against its floor, through unixODBC and FreeTDS against a private TDS test
// server on loopback:
//
//   comparison_stream_bench [--sizes 100k,1M,10M] [--repeat K] [--catalogue TABLES]
//                           [--server PATH] [--key auto] [--ignore COLS] [--trim]
//                           [--script] [--query]
//
// For each N it seeds bench_a (N rows) and bench_b (N + 100 rows, 1 % of
// `amount` changed) inside the server, and at N = 1 000 000 also bench_c
// (every record differs in `amount`). Then, alternating K times:
//   - the floor: both tables read once, one after the other, on one
//     connection, with plain bound-column block fetches and nothing else;
//   - the comparison as the program runs it: the real windows and data layer
//     on the offscreen platform, "Next >" clicked until the results show.
// Each measurement gives wall time, the process's CPU time (reader threads
// included) and the growth of peak resident memory. Then the catalogue of a
// database of many tables: the login window's "Next >" against two plain
// SQLTables fetches. The last line is `ratio R cpu C memory M` at N = 1 M.
//
// With --key auto, id is each table's primary key and "Pair records by key"
// is ticked; the floor then reads both tables ordered by id, as a comparison
// by key must read them.
//
// With --ignore (columns separated by commas) and --trim, the comparison of
// bench_a with bench_b runs with those options, stored for the pair as the
// options dialog stores them; the floor still reads every column.
//
// With --query, the command compares bench_a with bench_b as tables and as
// two queries that select them whole, K times alternating, by position (or
// by id with --key auto): a query side must stream as a table does.

#include <malloc.h>
#include <spawn.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QHashSeed>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DataAccess.h"
#include "LoginWindow.h"
#include "MessageBoxes.h"
#include "PairOptions.h"
#include "RecordingMessageBoxes.h"
#include "RecordsWindow.h"
#include "ResultsWindow.h"
#include "TableSelectionWindow.h"
#include "WindowRegistry.h"
#include "tds_bench.h"

namespace {

using namespace tdsbench;

constexpr long kDifferingPairRows = 1'000'000;
constexpr long kExtraRows = 100;  // bench_b's rows beyond bench_a's
constexpr SQLULEN kBlockRows = 1000;
constexpr double kMB = 1024.0 * 1024.0;

// --- what the machine and the process are doing -------------------------------------

double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; }

// User + system CPU of this process, all threads.
double processCpu() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

// CPU seconds (user + system) another process has used so far; 0 when unknown.
double processCpu(pid_t pid) { return processCpuSeconds(pid); }

// CPU seconds all cores of the machine have been busy so far.
double machineBusy() {
    std::ifstream in("/proc/stat");
    std::string cpu;
    unsigned long long v[8] = {};
    in >> cpu;
    for (auto& x : v) in >> x;
    const unsigned long long busy = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];  // not idle, iowait
    return double(busy) / double(sysconf(_SC_CLK_TCK));
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

double loadAverage1() {
    std::ifstream in("/proc/loadavg");
    double a = 0;
    in >> a;
    return a;
}

long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
    }
    return -1;
}

// Sets the peak resident size (VmHWM) back to the current one.
bool resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return bool(out);
}

// Whether resetPeak works here: a peak of 64 MB, given back, must not survive it.
bool peakResetWorks() {
    {
        std::vector<char> big(64u << 20);
        for (size_t i = 0; i < big.size(); i += 4096) big[i] = 1;
        volatile char touched = big[4096];
        (void)touched;
    }
    malloc_trim(0);
    if (!resetPeak()) return false;
    return statusKb("VmHWM") - statusKb("VmRSS") < 16 * 1024;
}

struct Usage {
    double wall = 0;
    double cpu = 0;     // this process, all threads
    double memMB = 0;   // peak resident during the run minus resident before it
    double others = 0;  // cores kept busy by other processes meanwhile, on average
    double serverCpu = 0;
};

// Measures from construction to stop().
class Meter {
public:
    explicit Meter(pid_t server) : server_(server) {
        malloc_trim(0);  // memory freed by earlier runs must not hide this run's growth
        resetPeak();
        rssKb_ = statusKb("VmRSS");
        serverCpu_ = processCpu(server_);
        busy_ = machineBusy();
        cpu_ = processCpu();
        start_ = Clock::now();
    }
    // Peak resident growth since the start, up to now.
    double peakGrowthMB() const { return double(statusKb("VmHWM") - rssKb_) * 1024.0 / kMB; }
    // Resident growth since the start, once what is free has gone back.
    double residentGrowthMB() const {
        malloc_trim(0);
        return double(statusKb("VmRSS") - rssKb_) * 1024.0 / kMB;
    }
    Usage stop() const {
        Usage u;
        u.wall = secondsSince(start_);
        u.cpu = processCpu() - cpu_;
        u.memMB = peakGrowthMB();
        u.serverCpu = processCpu(server_) - serverCpu_;
        u.others = std::max(0.0, (machineBusy() - busy_ - u.cpu - u.serverCpu) / u.wall);
        return u;
    }

private:
    pid_t server_;
    long rssKb_ = 0;
    double serverCpu_ = 0, busy_ = 0, cpu_ = 0;
    Clock::time_point start_;
};

// Profiles one kind of measurement alone: with DORVANTIS_BENCH_PERF_CTL set to
// "CTL-FIFO,ACK-FIFO" of `perf record -D -1 --control fifo:CTL-FIFO,ACK-FIFO`,
// perf samples only while the measurements named by DORVANTIS_BENCH_PROFILE
// (floor, comparison, differing: the comparison of bench_c; sqltables,
// catalogue: the login window's "Next >") run.
class Profiler {
public:
    Profiler() {
        const char* fifos = std::getenv("DORVANTIS_BENCH_PERF_CTL");
        const char* what = std::getenv("DORVANTIS_BENCH_PROFILE");
        if (!fifos || !what) return;
        const std::string f = fifos;
        const size_t comma = f.find(',');
        if (comma == std::string::npos) return;
        ctl_.open(f.substr(0, comma));
        ack_.open(f.substr(comma + 1));
        std::stringstream list(what);
        for (std::string w; std::getline(list, w, ',');) profiled_.push_back(w);
    }
    // Samples while it lives, if `what` is profiled.
    class Scope {
    public:
        Scope(Profiler& p, const std::string& what)
            : p_(std::find(p.profiled_.begin(), p.profiled_.end(), what) != p.profiled_.end()
                     ? &p
                     : nullptr) {
            if (p_) p_->command("enable");
        }
        ~Scope() {
            if (p_) p_->command("disable");
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Profiler* p_;
    };

private:
    void command(const char* c) {
        ctl_ << c << std::endl;
        std::string answer;
        std::getline(ack_, answer);  // perf answers "ack" once it has switched
    }
    std::ofstream ctl_;
    std::ifstream ack_;
    std::vector<std::string> profiled_;
};

Profiler& profiler() {
    static Profiler p;
    return p;
}

// --- the floor: plain bound-column block fetches ---------------------------------------

struct TableRead {
    long rows = 0;
    long nulls = 0;
    double valueBytes = 0;  // sum of the indicators of the non-NULL values
};

// select * in row arrays of kBlockRows, each column bound as its SQL type's
// default C type: int SLONG, bigint SBIGINT, decimal CHAR, float DOUBLE,
// datetime TIMESTAMP, nvarchar WCHAR, varchar CHAR, bit BIT.
TableRead readPlain(SQLHDBC dbc, const std::string& table, bool orderedById) {
    struct Bound {
        SQLSMALLINT cType;
        SQLLEN width;
        std::vector<char> data;
        std::vector<SQLLEN> ind;
    };
    std::vector<Bound> cols = {
        {SQL_C_SLONG, 4, {}, {}},
        {SQL_C_SBIGINT, 8, {}, {}},
        {SQL_C_CHAR, 24, {}, {}},
        {SQL_C_DOUBLE, 8, {}, {}},
        {SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT), {}, {}},
        {SQL_C_WCHAR, 41 * 2, {}, {}},
        {SQL_C_CHAR, 201, {}, {}},
        {SQL_C_BIT, 1, {}, {}},
    };
    SQLHSTMT st = SQL_NULL_HSTMT;
    check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st), SQL_HANDLE_DBC, dbc, "SQLAllocHandle(STMT)");
    TableRead r;
    try {
        SQLULEN fetched = 0;
        auto attr = [&](SQLINTEGER a, SQLPOINTER v, const char* what) {
            check(SQLSetStmtAttr(st, a, v, 0), SQL_HANDLE_STMT, st, what);
        };
        attr(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
             "SQL_ATTR_ROW_BIND_TYPE");
        attr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlockRows),
             "SQL_ATTR_ROW_ARRAY_SIZE");
        attr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched, "SQL_ATTR_ROWS_FETCHED_PTR");
        for (size_t i = 0; i < cols.size(); ++i) {
            Bound& b = cols[i];
            b.data.resize(size_t(b.width) * kBlockRows);
            b.ind.resize(kBlockRows);
            check(
                SQLBindCol(st, SQLUSMALLINT(i + 1), b.cType, b.data.data(), b.width, b.ind.data()),
                SQL_HANDLE_STMT, st, "SQLBindCol");
        }
        const std::string sql =
            "select * from [" + table + "]" + (orderedById ? " order by [id]" : "");
        check(
            SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS),
            SQL_HANDLE_STMT, st, "SQLExecDirect");
        SQLRETURN rc;
        long bytes = 0;
        while (SQL_SUCCEEDED(rc = SQLFetch(st))) {
            for (const Bound& b : cols) {
                for (SQLULEN k = 0; k < fetched; ++k) {
                    if (b.ind[k] == SQL_NULL_DATA)
                        ++r.nulls;
                    else
                        bytes += b.ind[k];
                }
            }
            r.rows += long(fetched);
        }
        if (rc != SQL_NO_DATA) check(rc, SQL_HANDLE_STMT, st, "SQLFetch");
        r.valueBytes = double(bytes);
    } catch (...) {
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        throw;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return r;
}

void expect(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

struct Floor {
    Usage usage;
    double valueBytes = 0;
    long rows = 0;
};

// Both tables, one after the other, on one connection (connecting included).
Floor measureFloor(int port, pid_t server, const std::string& first, const std::string& second,
                   long firstRows, long secondRows, long firstNulls, long secondNulls,
                   bool orderedById) {
    TableRead a, b;
    Usage usage;
    {
        const Profiler::Scope profile(profiler(), "floor");
        Meter meter(server);
        {
            Connection c(port);
            a = readPlain(c.dbc(), first, orderedById);
            b = readPlain(c.dbc(), second, orderedById);
        }
        usage = meter.stop();
    }
    Floor f{usage, a.valueBytes + b.valueBytes, a.rows + b.rows};
    expect(a.rows == firstRows && b.rows == secondRows,
           "the floor read " + std::to_string(a.rows) + " and " + std::to_string(b.rows) +
               " rows, not " + std::to_string(firstRows) + " and " + std::to_string(secondRows));
    expect(a.nulls == firstNulls && b.nulls == secondNulls,
           "the floor read " + std::to_string(a.nulls) + " and " + std::to_string(b.nulls) +
               " NULLs, not " + std::to_string(firstNulls) + " and " + std::to_string(secondNulls));
    return f;
}

// --- the program's windows --------------------------------------------------------------

// The wizard with the real data layer, logged in to one database of the server.
class Wizard {
public:
    Wizard(int port, const QString& database)
        : port_(port),
          database_(database),
          registry_(windows::Services{boxes_, shell_, data::OdbcDataAccess(), folder_.path(),
                                      [this] { ++ended_; }}) {}

    windows::WindowRegistry& registry() { return registry_; }

    // Starts the wizard and types the login, without pressing anything. (A
    // login stored by an earlier wizard of the run moves on at once: back.)
    void start() {
        windows::Start(registry_);
        backToLogin();
        windows::LoginWindow& login = registry_.loginWindow();
        login.serverEdit()->setText(QStringLiteral("127.0.0.1"));
        login.portEdit()->setText(QString::number(port_));
        login.userEdit()->setText(QStringLiteral("tester"));
        login.passwordEdit()->setText(QStringLiteral("secret"));
        login.databaseEdit()->setText(database_);
        // As the floor reads: the comparison is measured, not TLS.
        login.encryptBox()->setChecked(false);
        expectQuiet("the login");
    }

    // Back to the login window from wherever the wizard is.
    void backToLogin() {
        if (windows::ResultsWindow* r = registry_.existingResultsWindow(); r && r->isVisible())
            r->backButton()->click();
        if (windows::TableSelectionWindow* t = registry_.existingTableSelectionWindow();
            t && t->isVisible())
            t->backButton()->click();
        expect(registry_.loginWindow().isVisible(), "the login window is not shown");
    }

    // The login window's "Next >": both lists filled, the table selection shown.
    void loginNext() {
        registry_.loginWindow().nextButton()->click();
        expectQuiet("the login window's Next >");
        expect(registry_.tableSelectionWindow().isVisible(),
               "the table selection window is not shown after the login");
    }

    // Selects the two tables by name in the lists.
    void select(const QString& first, const QString& second) {
        windows::TableSelectionWindow& t = registry_.tableSelectionWindow();
        t.firstTables()->Select(indexOf(*t.firstTables(), first));
        t.secondTables()->Select(indexOf(*t.secondTables(), second));
    }

    void expectQuiet(const std::string& where) {
        if (!boxes_.boxes.empty())
            throw std::runtime_error(
                where + " showed a message box: " + boxes_.boxes.front().text.toStdString());
        expect(ended_ == 0 && shell_.opened.isEmpty(),
               where + " ended the program or opened a file");
    }

private:
    static int indexOf(const windows::TableListView& list, const QString& name) {
        for (int i = 0; i < list.topLevelItemCount(); ++i) {
            if (list.topLevelItem(i)->text(0) == name) return i + 1;
        }
        throw std::runtime_error("the list holds no table " + name.toStdString());
    }

    int port_;
    QString database_;
    // Every box recorded and answered at once: no real dialog may open.
    testing_support::RecordingMessageBoxes boxes_;
    testing_support::RecordingShell shell_;
    int ended_ = 0;
    QTemporaryDir folder_;  // the program folder: no optional files
    windows::WindowRegistry registry_;
};

struct Comparison {
    Usage usage;
    qsizetype fieldLines = 0;
    qsizetype recordLines = 0;
    double bytesPerLine = 0;
    std::optional<double> shownAfter;  // run's end to the last line painted in view
    double shownMemMB = 0;             // peak growth from the run's start until then
    double keptMB = 0;                 // resident growth still there after "< Back"
    double gridOpen = 0;               // the records side by side: asked for to painted
    double gridJumpMax = 0;            // the slowest of the jumps to far rows, each painted
    double gridMemMB = 0;              // resident growth from before the grid to after the jumps
};

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
    int paints = 0;
};

// From the run's end until the results window has painted its field
// differences scrolled to the last line.
double showLastLine(windows::ResultsWindow& results, Clock::time_point runEnd) {
    windows::ResultListView* list = results.fieldDifferences();
    PaintCounter counter;
    list->viewport()->installEventFilter(&counter);
    for (;;) {
        const int before = counter.paints;
        list->scrollToBottom();
        QCoreApplication::processEvents();
        const windows::ResultLinesModel* m = list->linesModel();
        const bool all = m->rowCount() == m->lineCount();
        const QRect last = list->visualRect(m->index(m->rowCount() - 1));
        const bool inView = last.isValid() && list->viewport()->rect().contains(last.center());
        if (all && inView && counter.paints > before && results.isVisible()) break;
        if (secondsSince(runEnd) > 120)
            throw std::runtime_error("the results window did not show its last line in 120 s");
    }
    list->viewport()->removeEventFilter(&counter);
    return secondsSince(runEnd);
}

// Until a view has painted once more.
void untilPainted(PaintCounter& counter, int before) {
    const Clock::time_point start = Clock::now();
    while (counter.paints == before) {
        QCoreApplication::processEvents();
        if (secondsSince(start) > 60) throw std::runtime_error("the grid did not paint in 60 s");
    }
}

// The records side by side of the run's last field difference: opened
// until its grid has painted, then moved to rows far apart, each until
// painted; and what it costs in memory.
void measureGrid(windows::ResultsWindow& results, Comparison& c) {
    const long rssBefore = statusKb("VmRSS");
    windows::ResultListView* list = results.fieldDifferences();
    list->setCurrentIndex(list->linesModel()->index(list->linesModel()->rowCount() - 1));
    PaintCounter counter;
    auto start = Clock::now();
    results.ShowRecords(list);
    windows::RecordsWindow* grid = results.recordsWindow();
    expect(grid != nullptr, "the records side by side did not open");
    QWidget& viewport = *grid->grid()->viewport();
    viewport.installEventFilter(&counter);
    untilPainted(counter, 0);
    c.gridOpen = secondsSince(start);
    const std::int64_t records = grid->model()->total();
    expect(grid->currentRecord() == records - 1, "the grid did not open at the line's record");
    for (int k = 1; k <= 20; ++k) {
        const int before = counter.paints;
        start = Clock::now();
        grid->showRecord(records * ((k * 7) % 20) / 20);
        untilPainted(counter, before);
        c.gridJumpMax = std::max(c.gridJumpMax, secondsSince(start));
    }
    c.gridMemMB = double(statusKb("VmRSS") - rssBefore) / 1024.0;
    viewport.removeEventFilter(&counter);
}

// "Next >" on the table selection window until the results window shows;
// then "< Back" to clear it for the next run.
Comparison measureComparison(Wizard& w, pid_t server, const QString& first, const QString& second,
                             bool showLast) {
    const std::string profiled = showLast ? "differing" : "comparison";
    w.select(first, second);
    windows::TableSelectionWindow& t = w.registry().tableSelectionWindow();
    Comparison c;
    std::optional<Meter> meter;
    {
        const Profiler::Scope profile(profiler(), profiled);
        meter.emplace(server);
        t.nextButton()->click();
        c.usage = meter->stop();
    }
    const Clock::time_point runEnd = Clock::now();
    w.expectQuiet("the comparison");
    windows::ResultsWindow* results = w.registry().existingResultsWindow();
    expect(results && results->isVisible() && !t.isVisible(), "the results window is not shown");
    if (showLast) {
        c.shownAfter = showLastLine(*results, runEnd);
        c.shownMemMB = meter->peakGrowthMB();
        measureGrid(*results, c);
    }
    const windows::ResultLinesModel* fields = results->fieldDifferences()->linesModel();
    const windows::ResultLinesModel* records = results->recordDifferences()->linesModel();
    c.fieldLines = fields->lineCount();
    c.recordLines = records->lineCount();
    const qsizetype lines = c.fieldLines + c.recordLines;
    if (lines > 0)
        c.bytesPerLine = double(fields->storedBytes() + records->storedBytes()) / double(lines);
    results->backButton()->click();
    expect(t.isVisible() && fields->lineCount() == 0, "< Back did not clear the results");
    c.keptMB = meter->residentGrowthMB();
    return c;
}

// --- the catalogue --------------------------------------------------------------------

std::string catalogueTable(int k) {
    char name[16];
    std::snprintf(name, sizeof name, "t%05d", k);
    return name;
}

void seedCatalogue(int port, int tables) {
    Connection c(port, "catdb");
    for (int from = 1; from <= tables; from += 1000) {
        std::string batch;
        for (int k = from; k < from + 1000 && k <= tables; ++k)
            batch += "create table [" + catalogueTable(k) + "] (id int);\n";
        c.execute(batch);
    }
}

// SQLTables on a connection of its own, every row fetched in row arrays;
// returns the rows of type TABLE.
long plainTables(int port) {
    Connection c(port, "catdb");
    SQLHSTMT st = SQL_NULL_HSTMT;
    check(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &st), SQL_HANDLE_DBC, c.dbc(),
          "SQLAllocHandle(STMT)");
    long tables = 0;
    try {
        constexpr SQLLEN kWidth = 129 * 2;
        SQLULEN fetched = 0;
        std::vector<char> schema(kWidth * kBlockRows), name(kWidth * kBlockRows),
            type(kWidth * kBlockRows);
        std::vector<SQLLEN> ind[3];
        for (auto& i : ind) i.resize(kBlockRows);
        check(SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlockRows),
                             0),
              SQL_HANDLE_STMT, st, "SQL_ATTR_ROW_ARRAY_SIZE");
        check(SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, st,
              "SQL_ATTR_ROWS_FETCHED_PTR");
        check(SQLTables(st, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_HANDLE_STMT, st,
              "SQLTables");
        check(SQLBindCol(st, 2, SQL_C_WCHAR, schema.data(), kWidth, ind[0].data()), SQL_HANDLE_STMT,
              st, "SQLBindCol");
        check(SQLBindCol(st, 3, SQL_C_WCHAR, name.data(), kWidth, ind[1].data()), SQL_HANDLE_STMT,
              st, "SQLBindCol");
        check(SQLBindCol(st, 4, SQL_C_WCHAR, type.data(), kWidth, ind[2].data()), SQL_HANDLE_STMT,
              st, "SQLBindCol");
        SQLRETURN rc;
        const std::u16string table = u"TABLE";
        while (SQL_SUCCEEDED(rc = SQLFetch(st))) {
            for (SQLULEN k = 0; k < fetched; ++k) {
                const auto* t = reinterpret_cast<const char16_t*>(type.data() + kWidth * k);
                tables += ind[2][k] == SQLLEN(table.size() * 2) &&
                          std::memcmp(t, table.data(), table.size() * 2) == 0;
            }
        }
        if (rc != SQL_NO_DATA) check(rc, SQL_HANDLE_STMT, st, "SQLFetch");
    } catch (...) {
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        throw;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return tables;
}

// --- the report --------------------------------------------------------------------------

// Medians of the runs of one pair at one N.
struct Runs {
    std::vector<Floor> floors;
    std::vector<Comparison> comparisons;
    std::vector<double> loads;  // 1-minute load average before each run

    template <class F>
    double floorMedian(F f) const {
        std::vector<double> v;
        for (const Floor& x : floors) v.push_back(f(x));
        return median(v);
    }
    template <class F>
    double comparisonMedian(F f) const {
        std::vector<double> v;
        for (const Comparison& x : comparisons) v.push_back(f(x));
        return median(v);
    }
};

// busy: cores this process and the server kept busy; others: cores other
// processes of the machine took meanwhile.
void printRun(const char* what, int run, const Usage& u, const std::string& extra) {
    std::printf(
        "  run %d %-18s wall %7.3f s  cpu %7.3f s  mem %6.1f MB  server cpu %6.3f s  "
        "busy %.2f others %.2f cores%s\n",
        run, what, u.wall, u.cpu, u.memMB, u.serverCpu, (u.cpu + u.serverCpu) / u.wall, u.others,
        extra.c_str());
    std::fflush(stdout);
}

// The offscreen platform's complaints about raising windows and a missing
// runtime folder say nothing about the run; anything else is printed.
void quietOffscreen(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtWarningMsg && (text.contains(QLatin1String("does not support raise()")) ||
                                 text.contains(QLatin1String("XDG_RUNTIME_DIR"))))
        return;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// --- the command's fix script -----------------------------------------------------------

CommandRun runCompare(int port, const std::vector<std::string>& sides) {
    return runDorvantis(DORVANTIS_PROGRAM, port, sides);
}

CommandRun runCommand(int port, const std::string& second, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"bench_a", second, "--key", "auto"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runCompare(port, args);
}

// bench_a with bench_b from the command line, as tables and as queries that
// select them whole, K times alternating; the text report thrown away.
void measureQuery(int port, long n, int repeat, bool byKey) {
    const std::vector<std::string> tail =
        byKey ? std::vector<std::string>{"--key", "id", "--output", "/dev/null"}
              : std::vector<std::string>{"--output", "/dev/null"};
    // Without an ORDER BY of their own, as the tables are read: the server's
    // order, which is the tables' own here.
    std::vector<std::string> tables = {"bench_a", "bench_b"};
    std::vector<std::string> queries = {"--query", "select * from bench_a", "--right-query",
                                        "select * from bench_b"};
    tables.insert(tables.end(), tail.begin(), tail.end());
    queries.insert(queries.end(), tail.begin(), tail.end());
    std::vector<double> tableWall, queryWall, tablePeak, queryPeak;
    for (int run = 1; run <= repeat; ++run) {
        const CommandRun t = runCompare(port, tables);
        const CommandRun q = runCompare(port, queries);
        expect(t.status == 1 && q.status == 1,
               "the command ended with " + std::to_string(t.status) + " and " +
                   std::to_string(q.status) + ", not 1 (differences)");
        std::printf(
            "  run %d command, tables   wall %7.3f s  cpu %7.3f s  peak %6.1f MB\n"
            "  run %d command, queries  wall %7.3f s  cpu %7.3f s  peak %6.1f MB\n",
            run, t.wall, t.cpu, t.peakMB, run, q.wall, q.cpu, q.peakMB);
        std::fflush(stdout);
        tableWall.push_back(t.wall);
        queryWall.push_back(q.wall);
        tablePeak.push_back(t.peakMB);
        queryPeak.push_back(q.peakMB);
    }
    std::printf(
        "queries of a,b at %s %s (medians): tables %.3f s, peak %.1f MB; queries %.3f s, "
        "peak %.1f MB; queries / tables %.3f\n",
        sizeName(n).c_str(), byKey ? "by key" : "by position", median(tableWall), median(tablePeak),
        median(queryWall), median(queryPeak), median(queryWall) / median(tableWall));
}

// The script's statements: its lines that start one.
long scriptStatements(const std::string& path) {
    std::ifstream in(path);
    long n = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("UPDATE ", 0) == 0 || line.rfind("INSERT ", 0) == 0 ||
            line.rfind("DELETE ", 0) == 0)
            ++n;
    }
    return n;
}

// The same comparison by key from the command line, as a text report thrown
// away and as the script that mends the second table, K times alternating.
void measureScript(int port, const std::string& second, long n, int repeat,
                   const std::string& folder) {
    const std::string path = folder + "/fix.sql";
    std::vector<double> textWall, textCpu, textPeak, sqlWall, sqlCpu, sqlPeak;
    long statements = 0;
    double bytes = 0;
    for (int run = 1; run <= repeat; ++run) {
        const CommandRun t = runCommand(port, second, {"--output", "/dev/null"});
        const CommandRun s = runCommand(port, second, {"--format", "sql", "--output", path});
        expect(t.status == 1 && s.status == 1,
               "the command ended with " + std::to_string(t.status) + " and " +
                   std::to_string(s.status) + ", not 1 (differences)");
        statements = scriptStatements(path);
        std::ifstream f(path, std::ios::binary | std::ios::ate);
        bytes = double(f.tellg());
        std::printf(
            "  run %d command, text report   wall %7.3f s  cpu %7.3f s  peak %6.1f MB\n"
            "  run %d command, fix script    wall %7.3f s  cpu %7.3f s  peak %6.1f MB  "
            "%ld statements, %.1f MB\n",
            run, t.wall, t.cpu, t.peakMB, run, s.wall, s.cpu, s.peakMB, statements, bytes / kMB);
        std::fflush(stdout);
        textWall.push_back(t.wall);
        textCpu.push_back(t.cpu);
        textPeak.push_back(t.peakMB);
        sqlWall.push_back(s.wall);
        sqlCpu.push_back(s.cpu);
        sqlPeak.push_back(s.peakMB);
    }
    std::printf(
        "script of a,%s at %s (medians): text report %.3f s, cpu %.3f s, peak %.1f MB; fix script "
        "%.3f s, cpu %.3f s, peak %.1f MB; %ld statements (%.0f statements/s, %.0f records "
        "compared/s), %.1f MB\n",
        second.substr(6).c_str(), sizeName(n).c_str(), median(textWall), median(textCpu),
        median(textPeak), median(sqlWall), median(sqlCpu), median(sqlPeak), statements,
        double(statements) / median(sqlWall), double(n) / median(sqlWall), bytes / kMB);
}

void usage() {
    std::fprintf(
        stderr,
        "usage: comparison_stream_bench [--sizes N,N,...] [--repeat K] [--catalogue "
        "TABLES] [--server PATH] [--key auto] [--ignore COLS] [--trim] [--script] [--query]\n"
        "  sizes take k and M: 100k,1M,10M (the default); --catalogue 0 skips the "
        "catalogue\n");
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything reads them: the private driver registration, the
    // offscreen platform, and settings in a folder of the run's own.
    ::setenv("ODBCSYSINI", DORVANTIS_BENCH_ODBCSYSINI, 0);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir config;
    if (!config.isValid()) return 1;
    ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    // The string hash the program's main() chooses (Qt's AES one slows all
    // string work on its thread after it).
    QHashSeed::setDeterministicGlobalSeed();

    std::vector<long> sizes = {100'000, 1'000'000, 10'000'000};
    int repeat = 3;
    int catalogueTables = 10'000;
    std::string serverBinary = DORVANTIS_TDS_SERVER;
    bool byKey = false;
    bool script = false;
    bool query = false;
    compare::OptionChoices options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        try {
            if (a == "--sizes") {
                sizes.clear();
                std::stringstream list(value());
                for (std::string s; std::getline(list, s, ',');) sizes.push_back(parseSize(s));
            } else if (a == "--repeat") {
                repeat = std::stoi(value());
            } else if (a == "--catalogue") {
                catalogueTables = std::stoi(value());
            } else if (a == "--server") {
                serverBinary = value();
            } else if (a == "--key") {
                if (value() != "auto") {
                    usage();
                    return 2;
                }
                byKey = true;
            } else if (a == "--ignore") {
                options.leaveOut = QString::fromStdString(value()).split(u',', Qt::SkipEmptyParts);
            } else if (a == "--trim") {
                options.trim = true;
            } else if (a == "--script") {
                script = true;
            } else if (a == "--query") {
                query = true;
            } else {
                usage();
                return 2;
            }
        } catch (const std::logic_error&) {
            usage();
            return 2;
        }
    }
    if (sizes.empty() || repeat < 1 || catalogueTables < 0 || (script && !byKey)) {
        usage();
        return 2;
    }

    const std::string loadAtStart = loadAverage();
    qInstallMessageHandler(quietOffscreen);
    QApplication app(argc, argv);
    try {
        std::printf("comparison_stream_bench: sizes");
        for (long n : sizes) std::printf(" %s", sizeName(n).c_str());
        std::printf(", %d runs each, catalogue of %d tables%s\n", repeat, catalogueTables,
                    byKey ? ", records paired by key (the floor reads ordered by it)" : "");
        const bool peakResets = peakResetWorks();
        std::printf(
            "peak memory reset through /proc/self/clear_refs: %s\n",
            peakResets ? "works" : "DOES NOT WORK here: memory figures are peaks since the start");
        Server server(serverBinary, {"benchdb", "catdb"});
        const pid_t serverPid = server.pid();
        std::printf("server: %s, pid %d, port %d\n", serverBinary.c_str(), int(serverPid),
                    server.port());
        std::fflush(stdout);

        // --- the catalogue: login "Next >" against two plain SQLTables fetches
        std::optional<std::pair<double, double>> catalogue;  // window, plain (medians)
        if (catalogueTables > 0) {
            auto start = Clock::now();
            seedCatalogue(server.port(), catalogueTables);
            std::printf("catalogue: %d tables created in %.1f s\n", catalogueTables,
                        secondsSince(start));
            Wizard w(server.port(), QStringLiteral("catdb"));
            w.start();
            std::vector<double> window, plain;
            for (int run = 1; run <= repeat; ++run) {
                {
                    const Profiler::Scope profile(profiler(), "sqltables");
                    Meter meter(serverPid);
                    const long first = plainTables(server.port());
                    const long second = plainTables(server.port());
                    const Usage u = meter.stop();
                    expect(first == catalogueTables && second == catalogueTables,
                           "SQLTables listed " + std::to_string(first) + " tables");
                    plain.push_back(u.wall);
                    printRun("two SQLTables", run, u, "");
                }
                {
                    const Profiler::Scope profile(profiler(), "catalogue");
                    Meter meter(serverPid);
                    w.loginNext();
                    const Usage u = meter.stop();
                    windows::TableSelectionWindow& t = w.registry().tableSelectionWindow();
                    expect(
                        t.firstTables()->Count() == catalogueTables &&
                            t.secondTables()->Count() == catalogueTables,
                        "the lists hold " + std::to_string(t.firstTables()->Count()) + " tables");
                    window.push_back(u.wall);
                    printRun("login Next >", run, u, "");
                    w.backToLogin();
                }
            }
            catalogue = std::pair{median(window), median(plain)};
            // The stored login is the next wizard's start: not this database.
            w.registry().loginWindow().databaseEdit()->setText(QStringLiteral("benchdb"));
        }

        // --- the comparisons
        Wizard w(server.port(), QStringLiteral("benchdb"));
        w.start();
        std::map<long, Runs> results;   // bench_a against bench_b
        std::optional<Runs> differing;  // bench_a against bench_c at 1 M
        for (const long n : sizes) {
            {
                Connection c(server.port());
                c.execute(
                    "drop table if exists [bench_a]; drop table if exists [bench_b]; "
                    "drop table if exists [bench_c]");
                struct Seed {
                    const char* table;
                    long rows;
                    Amount amount;
                };
                std::vector<Seed> seeds = {{"bench_a", n, Amount::Same},
                                           {"bench_b", n + kExtraRows, Amount::OnePercent}};
                if (n == kDifferingPairRows) seeds.push_back({"bench_c", n, Amount::EveryRow});
                for (const Seed& s : seeds) {
                    auto start = Clock::now();
                    c.execute(seedSql(s.table, s.rows, s.amount, byKey));
                    std::printf("N = %s: seeded %s (%ld rows) in %.1f s\n", sizeName(n).c_str(),
                                s.table, s.rows, secondsSince(start));
                    std::fflush(stdout);
                }
            }
            // The lists must show this N's tables.
            w.backToLogin();
            w.loginNext();
            w.registry().tableSelectionWindow().pairRecordsByKeyBox()->setChecked(byKey);
            if (options != compare::OptionChoices()) {
                w.select(QStringLiteral("bench_a"), QStringLiteral("bench_b"));
                expect(windows::StorePairOptions(w.registry().tableSelectionWindow().ChosenPair(),
                                                 options),
                       "the options could not be stored");
            }

            Runs& runs = results[n];
            const bool withDiffering = n == kDifferingPairRows;
            if (withDiffering) differing.emplace();
            const long changed = n / 100 + (n % 100 >= 37 ? 1 : 0);  // x % 100 = 37
            for (int run = 1; run <= repeat; ++run) {
                const double load = loadAverage1();
                runs.loads.push_back(load);
                Floor f =
                    measureFloor(server.port(), serverPid, "bench_a", "bench_b", n, n + kExtraRows,
                                 expectedNulls(n), expectedNulls(n + kExtraRows), byKey);
                runs.floors.push_back(f);
                printRun("floor", run, f.usage,
                         "  " + std::to_string(long(double(f.rows) / f.usage.wall)) + " rows/s");
                Comparison c = measureComparison(w, serverPid, QStringLiteral("bench_a"),
                                                 QStringLiteral("bench_b"), false);
                expect(c.fieldLines == changed && c.recordLines == kExtraRows,
                       "the comparison listed " + std::to_string(c.fieldLines) + " + " +
                           std::to_string(c.recordLines) + " lines, not " +
                           std::to_string(changed) + " + " + std::to_string(kExtraRows));
                runs.comparisons.push_back(c);
                printRun("comparison", run, c.usage, "");
                if (!withDiffering) continue;

                differing->loads.push_back(loadAverage1());
                Floor fd = measureFloor(server.port(), serverPid, "bench_a", "bench_c", n, n,
                                        expectedNulls(n), expectedNulls(n, {2}), byKey);
                differing->floors.push_back(fd);
                printRun("floor (a, c)", run, fd.usage, "");
                Comparison cd = measureComparison(w, serverPid, QStringLiteral("bench_a"),
                                                  QStringLiteral("bench_c"), true);
                expect(cd.fieldLines == n && cd.recordLines == 0,
                       "the comparison of bench_c listed " + std::to_string(cd.fieldLines) + " + " +
                           std::to_string(cd.recordLines) + " lines, not " + std::to_string(n) +
                           " + 0");
                differing->comparisons.push_back(cd);
                char extra[320];
                std::snprintf(
                    extra, sizeof extra,
                    "\n        %lld lines, %.1f bytes a line, last line shown %.3f s "
                    "after the run, peak growth by then %.1f MB, %.1f MB kept after < Back"
                    "\n        records side by side: painted %.3f s after asked, slowest of 20 "
                    "jumps %.3f s, resident growth %.1f MB",
                    static_cast<long long>(cd.fieldLines), cd.bytesPerLine, *cd.shownAfter,
                    cd.shownMemMB, cd.keptMB, cd.gridOpen, cd.gridJumpMax, cd.gridMemMB);
                printRun("comparison (a, c)", run, cd.usage, extra);
            }
            if (query) measureQuery(server.port(), n, repeat, byKey);
            if (script) {
                measureScript(server.port(), "bench_b", n, repeat, config.path().toStdString());
                if (withDiffering) {
                    measureScript(server.port(), "bench_c", n, repeat, config.path().toStdString());
                }
            }
        }

        // --- the report
        std::printf(
            "\nmedians of %d runs; wall and CPU in s, mem = peak resident growth in MB "
            "(2^20 bytes); CPU = this process, reader threads included;\n"
            "R = comparison wall / floor wall, C = comparison CPU / floor CPU; others = "
            "cores busy with other processes during the runs\n",
            repeat);
        std::printf(
            "%-4s %-5s | %-8s %-7s %-6s %-7s %-10s | %-8s %-7s %-6s | %-5s %-5s | %-6s "
            "%-6s\n",
            "N", "pair", "floor", "cpu", "mem", "MB read", "server r/s", "compare", "cpu", "mem",
            "R", "C", "others", "load");
        auto row = [&](long n, const char* pair, const Runs& r) {
            const double fw = r.floorMedian([](const Floor& f) { return f.usage.wall; });
            const double fc = r.floorMedian([](const Floor& f) { return f.usage.cpu; });
            const double cw = r.comparisonMedian([](const Comparison& c) { return c.usage.wall; });
            const double cc = r.comparisonMedian([](const Comparison& c) { return c.usage.cpu; });
            const double others =
                std::max(r.floorMedian([](const Floor& f) { return f.usage.others; }),
                         r.comparisonMedian([](const Comparison& c) { return c.usage.others; }));
            std::printf(
                "%-4s %-5s | %8.3f %7.3f %6.1f %7.1f %10.0f | %8.3f %7.3f %6.1f | %5.2f "
                "%5.2f | %6.2f %6.2f\n",
                sizeName(n).c_str(), pair, fw, fc,
                r.floorMedian([](const Floor& f) { return f.usage.memMB; }),
                r.floorMedian([](const Floor& f) { return f.valueBytes; }) / kMB,
                r.floorMedian([](const Floor& f) { return double(f.rows) / f.usage.wall; }), cw, cc,
                r.comparisonMedian([](const Comparison& c) { return c.usage.memMB; }), cw / fw,
                cc / fc, others, median(r.loads));
        };
        for (const auto& [n, r] : results) row(n, "a,b", r);
        if (differing) {
            row(kDifferingPairRows, "a,c", *differing);
            std::printf(
                "a,c at 1M: %lld result lines, %.1f bytes a line, results window shows "
                "its last line %.3f s after the run's end, peak growth by then %.1f MB (first run "
                "%.1f MB: memory kept after < Back is already resident in later runs)\n",
                static_cast<long long>(differing->comparisons.front().fieldLines),
                differing->comparisonMedian([](const Comparison& c) { return c.bytesPerLine; }),
                differing->comparisonMedian([](const Comparison& c) { return *c.shownAfter; }),
                differing->comparisonMedian([](const Comparison& c) { return c.shownMemMB; }),
                differing->comparisons.front().shownMemMB);
            std::printf(
                "a,c at 1M: records side by side painted %.3f s after asked, slowest jump %.3f "
                "s, resident growth %.1f MB (medians)\n",
                differing->comparisonMedian([](const Comparison& c) { return c.gridOpen; }),
                differing->comparisonMedian([](const Comparison& c) { return c.gridJumpMax; }),
                differing->comparisonMedian([](const Comparison& c) { return c.gridMemMB; }));
        }
        if (catalogue) {
            std::printf(
                "catalogue of %d tables: login Next > %.3f s, two plain SQLTables %.3f s, "
                "ratio %.2f\n",
                catalogueTables, catalogue->first, catalogue->second,
                catalogue->first / catalogue->second);
        }
        std::printf("driver entry [SQL Server] in %s/odbcinst.ini: Threading = %s\n",
                    std::getenv("ODBCSYSINI"), threadingLevel().c_str());
        std::printf("machine: %u cores, load average at start %s\n",
                    std::thread::hardware_concurrency(), loadAtStart.c_str());
        if (auto it = results.find(1'000'000); it != results.end()) {
            const Runs& r = it->second;
            std::printf("ratio %.2f cpu %.2f memory %.2f\n",
                        r.comparisonMedian([](const Comparison& c) { return c.usage.wall; }) /
                            r.floorMedian([](const Floor& f) { return f.usage.wall; }),
                        r.comparisonMedian([](const Comparison& c) { return c.usage.cpu; }) /
                            r.floorMedian([](const Floor& f) { return f.usage.cpu; }),
                        r.comparisonMedian([](const Comparison& c) { return c.usage.memMB; }));
        }
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "comparison_stream_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
