#include "CompareCommand.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryFile>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "ApplicationTitle.h"
#include "DataAccess.h"
#include "ErrorReport.h"
#include "ErrorTrap.h"
#include "LoginDetails.h"
#include "RecordKey.h"
#include "ReportFormat.h"
#include "Settings.h"
#include "TableCatalogue.h"
#include "TableComparison.h"
#include "TableQuery.h"
#include "TableReader.h"
#include "ValueText.h"

namespace cli {

namespace {

using compare::TableReader;

// A failure that ends the command: its message goes to standard error.
struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message) { throw Failure{message}; }

QString describe(const std::exception_ptr& e) { return app::DescribeFailure(e); }

// Steps that fail inside the comparison: the windows would report them and
// go on; a command must not present a result it could not fully work out.
class RecordingBoxes : public ui::MessageBoxes {
public:
    ui::Answer show(const QString& text, const QString&, ui::Buttons, ui::Icon,
                    const QString&) override {
        if (first.isEmpty()) first = text.section(QStringLiteral("\r\n"), 0, 0);
        return ui::Answer::Ok;
    }
    QString first;
};

// A progress line on a terminal's standard error, a few times a second.
class Progress {
public:
    Progress() : shown_(::isatty(STDERR_FILENO) == 1) { timer_.start(); }
    void update(std::int64_t read, std::optional<std::int64_t> expected) {
        if (!shown_ || timer_.elapsed() - last_ < 500) return;
        last_ = timer_.elapsed();
        const double seconds = std::max<double>(timer_.elapsed() / 1000.0, 0.001);
        const double rate = read / seconds;
        QString line = QStringLiteral("\r%1 records read, %2 records/s")
                           .arg(read)
                           .arg(static_cast<qint64>(rate));
        if (expected && *expected > read && rate > 0) {
            line += QStringLiteral(", about %1 s left")
                        .arg(static_cast<qint64>((*expected - read) / rate) + 1);
        }
        std::fputs(line.leftJustified(width_).toLocal8Bit().constData(), stderr);
        width_ = std::max<qsizetype>(width_, line.size());
    }
    void clear() {
        if (shown_ && width_ > 0) {
            std::fputs(("\r" + QString(width_, u' ') + "\r").toLocal8Bit().constData(), stderr);
        }
    }

private:
    bool shown_;
    QElapsedTimer timer_;
    qint64 last_ = -1000;
    qsizetype width_ = 0;
};

// The differences as the command writes them, counted.
class Writer : public compare::DifferenceSink {
public:
    Writer(QIODevice& out, compare::ReportFormat format, QString firstTable, QString secondTable)
        : out_(out),
          format_(format),
          firstTable_(std::move(firstTable)),
          secondTable_(std::move(secondTable)) {
        if (const auto header = compare::ReportHeader(format)) put(*header);
    }
    void FieldChanged(const compare::RecordName& record, const QString& field,
                      const data::FieldValue& first, const data::FieldValue& second) override {
        compare::Difference d;
        d.kind = compare::Difference::Kind::Changed;
        d.record = record;
        d.field = field;
        if (!first.isNull()) d.from = formatter_.text(first);
        if (!second.isNull()) d.to = formatter_.text(second);
        write(d);
    }
    void RecordDeleted(const compare::RecordName& record) override {
        write(about(compare::Difference::Kind::Deleted, record, false));
    }
    void RecordAdded(const compare::RecordName& record) override {
        write(about(compare::Difference::Kind::Added, record, false));
    }
    void FieldOnlyIn(const QString& field, bool inFirstTable) override {
        compare::Difference d = about(compare::Difference::Kind::FieldOnly, {}, inFirstTable);
        d.field = field;
        write(d);
    }
    void RecordNotUnique(const compare::RecordName& record, bool inFirstTable) override {
        write(about(compare::Difference::Kind::NotUnique, record, inFirstTable));
    }
    std::int64_t count() const { return count_; }

private:
    // A difference about a record or a field of one table (added and deleted
    // records name the second).
    compare::Difference about(compare::Difference::Kind kind, const compare::RecordName& record,
                              bool inFirstTable) const {
        compare::Difference d;
        d.kind = kind;
        d.record = record;
        d.table = inFirstTable ? firstTable_ : secondTable_;
        d.inFirstTable = inFirstTable;
        return d;
    }
    void write(const compare::Difference& d) {
        ++count_;
        put(compare::FormatDifference(d, format_));
    }
    void put(const QString& line) {
        const QByteArray bytes = line.toUtf8() + '\n';
        if (out_.write(bytes) != bytes.size()) {
            throw std::runtime_error(
                ("Cannot write the report: " + out_.errorString()).toStdString());
        }
    }

    QIODevice& out_;
    compare::ReportFormat format_;
    QString firstTable_;
    QString secondTable_;
    const compare::ValueFormatter formatter_;
    std::int64_t count_ = 0;
};

void waitPast(TableReader& reader, TableReader::Stage stage, const QString& what) {
    for (;;) {
        const TableReader::Stage now = reader.WaitPast(stage, 200);
        if (now == TableReader::Stage::Failed) {
            if (reader.failedStage() == stage) fail(what + describe(reader.failure()));
            return;
        }
        if (static_cast<int>(now) > static_cast<int>(stage)) return;
    }
}

QString readPassword(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("Cannot read the password file %1: %2").arg(path, file.errorString()));
    }
    QString text = QString::fromUtf8(file.readAll());
    // The first line: editors end files with a line feed that is no part of it.
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    if (end >= 0) text.truncate(end > 0 && text[end - 1] == u'\r' ? end - 1 : end);
    return text;
}

catalogue::TableName findTable(const catalogue::CatalogueRead& read, const QString& listed) {
    for (const catalogue::TableName& t : read.tables) {
        if (t.listed() == listed) return t;
    }
    fail(QStringLiteral("There is no table %1 in the database's table list.").arg(listed));
}

// The comparison; returns the number of differences written to out.
std::int64_t compareTables(const connection::LoginDetails& details, const QString& left,
                           const QString& right, QIODevice& out, compare::ReportFormat format,
                           bool fieldsByName, const compare::KeyChoice& key) {
    data::DataAccess& data = data::OdbcDataAccess();
    catalogue::CatalogueRead catalogue;
    try {
        catalogue = catalogue::ReadTableCatalogue(details, data);
    } catch (...) {
        fail(describe(std::current_exception()));
    }
    if (catalogue.failure) fail(describe(catalogue.failure));
    const catalogue::TableName first = findTable(catalogue, left);
    const catalogue::TableName second = findTable(catalogue, right);
    if (first == second) fail(QStringLiteral("Please select 2 different tables to compare."));

    const QString connectionString = connection::BuildConnectionString(details);
    const auto reader = [&] {
        std::unique_ptr<data::Connection> c = data.CreateConnection();
        c->Mode = data::adModeReadWrite;
        c->CommandTimeout = 5000;
        return std::make_unique<TableReader>(std::move(c), connectionString);
    };
    std::unique_ptr<TableReader> a = reader(), b = reader();
    a->Start();
    b->Start();
    waitPast(*a, TableReader::Stage::Connecting, QString());
    waitPast(*b, TableReader::Stage::Connecting, QString());
    std::optional<compare::KeyedQueries> keyed;
    if (key.pairsByKey()) {
        try {
            keyed = compare::PlanKeyedQueries(*a, *b, first, second, key, [] {});
        } catch (const compare::KeyProblem& problem) {
            fail(problem.message());
        } catch (...) {
            fail(describe(std::current_exception()));
        }
    }
    a->Query(keyed ? keyed->first : compare::SelectAllFrom(first),
             compare::RowCountEstimateQuery(first));
    b->Query(keyed ? keyed->second : compare::SelectAllFrom(second),
             compare::RowCountEstimateQuery(second));
    waitPast(*a, TableReader::Stage::Querying, left + QStringLiteral(" could not be read: "));
    waitPast(*b, TableReader::Stage::Querying, right + QStringLiteral(" could not be read: "));

    Progress progress;
    const std::optional<std::int64_t> ea = a->EstimatedRows(), eb = b->EstimatedRows();
    const std::optional<std::int64_t> expected =
        ea && eb ? std::optional<std::int64_t>(*ea + *eb) : std::nullopt;
    const auto tick = [&] { progress.update(a->RowsRead() + b->RowsRead(), expected); };
    const auto blocks = [&](TableReader& reader, const QString& table) {
        compare::ReaderBlocks::Hooks hooks;
        hooks.waiting = tick;
        hooks.failed = [&reader, table] {
            fail(QStringLiteral("%1 could not be read: %2").arg(table, describe(reader.failure())));
        };
        hooks.cancelled = [table] { fail(table + QStringLiteral(" could not be read.")); };
        return compare::ReaderBlocks(reader, std::move(hooks));
    };
    compare::ReaderBlocks firstBlocks = blocks(*a, left), secondBlocks = blocks(*b, right);
    if (firstBlocks.TakeFirst() == nullptr)
        fail(left + QStringLiteral(" does not contain any data."));
    if (secondBlocks.TakeFirst() == nullptr) {
        fail(right + QStringLiteral(" does not contain any data."));
    }
    const data::ResultTable& columns = a->Columns();
    std::vector<QString> names;
    for (int k = 0; k < columns.fieldCount(); ++k) names.push_back(columns.column(k).name());
    names.emplace_back();
    const int lastField = std::min(columns.fieldCount(), b->Columns().fieldCount()) - 1;

    RecordingBoxes boxes;
    app::ErrorTrap trap(boxes, app::kForm2NextTag);
    Writer writer(out, format, left, right);
    compare::TableComparison comparison =
        fieldsByName ? compare::TableComparison::ByName(columns, b->Columns())
                     : compare::TableComparison(lastField, names);
    if (keyed) comparison.PairRecordsBy(keyed->key);
    try {
        comparison.Run(trap, firstBlocks, secondBlocks, writer);
    } catch (const compare::KeyOrderBroken& broken) {
        fail(broken.message(broken.inFirstTable() ? left : right));
    }
    progress.clear();
    if (!boxes.first.isEmpty()) fail(boxes.first);
    return writer.count();
}

void writeAll(FILE* to, QIODevice& from) {
    from.seek(0);
    char buffer[65536];
    for (qint64 n; (n = from.read(buffer, sizeof buffer)) > 0;) {
        if (std::fwrite(buffer, 1, static_cast<std::size_t>(n), to) !=
            static_cast<std::size_t>(n)) {
            fail(QStringLiteral("Cannot write to standard output."));
        }
    }
    std::fflush(to);
}

// One line on standard error: the driver's several records joined.
void printFailure(QString message) {
    message.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    message.replace(QLatin1Char('\n'), QLatin1Char(' '));
    message.replace(QLatin1Char('\r'), QLatin1Char(' '));
    std::fprintf(stderr, "dorvantis: %s\n", message.trimmed().toLocal8Bit().constData());
}

}  // namespace

bool IsCommandLine(int argc, char** /*argv*/) { return argc > 1; }

int RunCommandLine(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(app::kProductName).toLower());
    QCoreApplication::setApplicationVersion(QStringLiteral(DORVANTIS_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Compares two tables of a SQL Server database record by record and field by field.\n"
        "Without arguments the program opens its windows. The login details are the stored\n"
        "ones of the login window unless given here; the password comes from --password-file,\n"
        "else from the environment variable DORVANTIS_PASSWORD, else from the stored ones.\n"
        "Exit status: 0 the tables hold the same data, 1 differences found, 2 failure."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("compare"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("LEFT"),
                                 QStringLiteral("The first table, as the table lists show it."));
    parser.addPositionalArgument(QStringLiteral("RIGHT"),
                                 QStringLiteral("The second table, as the table lists show it."));
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("Server name."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption database(QStringLiteral("database"), QStringLiteral("Database."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("User name."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption local(QStringLiteral("local"),
                                   QStringLiteral("Local connection: the server name alone."));
    const QCommandLineOption noLocal(QStringLiteral("no-local"),
                                     QStringLiteral("Connect to server,port."));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"),
                                          QStringLiteral("Read the password from FILE."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("text (default), csv or json."),
                                    QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption output(
        QStringLiteral("output"), QStringLiteral("Write the report to FILE, not standard output."),
        QStringLiteral("FILE"));
    const QCommandLineOption fields(
        QStringLiteral("fields"),
        QStringLiteral("Pair fields by-position (default) or by-name (without case)."),
        QStringLiteral("PAIRING"), QStringLiteral("by-position"));
    const QCommandLineOption key(
        QStringLiteral("key"),
        QStringLiteral("Pair records by key, not by position: auto (the first table's primary "
                       "key) or the key's columns, separated by commas."),
        QStringLiteral("COLUMNS"));
    parser.addOptions(
        {server, port, database, user, local, noLocal, passwordFile, format, output, fields, key});

    const auto usageError = [&](const QString& message) {
        std::fprintf(stderr, "dorvantis: %s\nTry 'dorvantis --help'.\n",
                     message.toLocal8Bit().constData());
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments())) return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("dorvantis %s\n", DORVANTIS_VERSION);
        return 0;
    }
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty() || args[0] != QStringLiteral("compare")) {
        return usageError(args.isEmpty() ? QStringLiteral("no command given")
                                         : QStringLiteral("unknown command '%1'").arg(args[0]));
    }
    if (args.size() != 3) return usageError(QStringLiteral("compare needs two table names"));
    if (parser.isSet(local) && parser.isSet(noLocal)) {
        return usageError(QStringLiteral("--local and --no-local exclude each other"));
    }
    const std::optional<compare::ReportFormat> chosen =
        compare::ReportFormatNamed(parser.value(format));
    if (!chosen) return usageError(QStringLiteral("unknown format '%1'").arg(parser.value(format)));
    const QString pairing = parser.value(fields);
    if (pairing != QStringLiteral("by-position") && pairing != QStringLiteral("by-name")) {
        return usageError(QStringLiteral("--fields takes by-position or by-name"));
    }
    const bool byName = pairing == QStringLiteral("by-name");
    compare::KeyChoice keyChoice;
    if (parser.isSet(key)) {
        const std::optional<compare::KeyChoice> chosenKey =
            compare::KeyChoice::FromOption(parser.value(key));
        if (!chosenKey) {
            return usageError(
                QStringLiteral("--key takes auto or column names separated by commas"));
        }
        keyChoice = *chosenKey;
    }

    try {
        // The stored details, read only: the command writes nothing to the settings.
        const connection::SettingsStore store;
        connection::LoginDetails details{
            store.read(connection::kServerSetting),
            store.read(connection::kUserSetting),
            store.read(connection::kPasswordSetting),
            store.read(connection::kDatabaseSetting),
            store.read(connection::kPortSetting),
            connection::IsTicked(store.read(connection::kLocalConnectionSetting))};
        if (parser.isSet(server)) details.server = parser.value(server);
        if (parser.isSet(port)) details.port = parser.value(port);
        if (parser.isSet(database)) details.database = parser.value(database);
        if (parser.isSet(user)) details.userName = parser.value(user);
        if (parser.isSet(local)) details.localConnection = true;
        if (parser.isSet(noLocal)) details.localConnection = false;
        if (parser.isSet(passwordFile)) {
            details.password = readPassword(parser.value(passwordFile));
        } else if (qEnvironmentVariableIsSet("DORVANTIS_PASSWORD")) {
            details.password = qEnvironmentVariable("DORVANTIS_PASSWORD");
        }

        // The report goes to a file that replaces the target only when complete,
        // so a failed run never leaves half a report nor shows half of one.
        std::int64_t differences = 0;
        if (parser.isSet(output)) {
            QSaveFile file(parser.value(output));
            if (!file.open(QIODevice::WriteOnly)) {
                fail(QStringLiteral("Cannot write %1: %2")
                         .arg(parser.value(output), file.errorString()));
            }
            differences =
                compareTables(details, args[1], args[2], file, *chosen, byName, keyChoice);
            if (!file.commit()) {
                fail(QStringLiteral("Cannot write %1: %2")
                         .arg(parser.value(output), file.errorString()));
            }
        } else {
            QTemporaryFile file;
            if (!file.open()) fail(QStringLiteral("Cannot make a temporary file for the report."));
            differences =
                compareTables(details, args[1], args[2], file, *chosen, byName, keyChoice);
            writeAll(stdout, file);
        }
        return differences == 0 ? 0 : 1;
    } catch (const Failure& f) {
        printFailure(f.message);
    } catch (...) {
        printFailure(describe(std::current_exception()));
    }
    return 2;
}

}  // namespace cli
