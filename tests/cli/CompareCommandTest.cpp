#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <tuple>
#include <utility>

#include "CommandLine.h"
#include "ComparisonRun.h"
#include "MemoryDataAccess.h"
#include "Tables.h"

namespace {

using testing_support::SchemaRowset;
using testing_support::TextTable;

// `dorvantis compare` over the in-memory data layer: what it prints, what it
// exits with, and what it asks of the connections.
class Command : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid());
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        data.addTable(QStringLiteral("A"), TextTable({"Id", "Name"}, {{"1", "x"}, {"2", "y"}}));
        data.addTable(QStringLiteral("B"),
                      TextTable({"Id", "Name"}, {{"1", "x"}, {"2", "z"}, {"3", "w"}}));
        data.setSchemaTables(SchemaRowset({{"A", "TABLE"}, {"B", "TABLE"}}));
    }

    int run(QStringList arguments) {
        arguments.prepend(QStringLiteral("dorvantis"));
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = cli::RunCommand(arguments, data, out, err);
        output = readAll(out);
        errors = readAll(err);
        return status;
    }

    static QString readAll(std::FILE* f) {
        std::rewind(f);
        QByteArray bytes;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
            bytes.append(buffer, static_cast<qsizetype>(n));
        }
        std::fclose(f);
        return QString::fromUtf8(bytes);
    }

    QTemporaryDir config;
    data::MemoryDataAccess data;
    QString output, errors;
};

// The command runs the comparison the windows run: the same connection
// options (the command once set no time-outs nor cursor location), the same
// lines, exit 1 for differences.
TEST_F(Command, ComparesWithTheWindowsConnectionOptions) {
    EXPECT_EQ(run({"compare", "A", "B", "--server", "db.example"}), 1) << errors.toStdString();
    EXPECT_EQ(output,
              "Record 2,Field \"Name\" has changed from \"y\" to \"z\"\n"
              "Record 3 added from B\n");
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    // The catalogue's connection, then one for each table, set as a run sets
    // its connections for the windows: opened here through the same stages.
    ASSERT_EQ(data.opens().size(), 3u);
    compare::RunObserver quiet;
    compare::ComparisonRun run(data, {}, quiet);
    compare::FirstRows rows;
    const compare::SideTable a{{}, {QString(), QStringLiteral("A")}};
    compare::OpenRun(run, a, a, false, rows,
                     [](compare::OpenStage, const std::function<void()>& fn) {
                         fn();
                         return true;
                     });
    ASSERT_EQ(data.opens().size(), 5u);
    for (std::size_t i = 1; i < 3; ++i) {
        const data::MemoryDataAccess::OpenCall& command = data.opens()[i];
        const data::MemoryDataAccess::OpenCall& windows = data.opens()[i + 2];
        EXPECT_EQ(std::tie(command.mode, command.commandTimeout, command.connectionTimeout,
                           command.cursorLocation),
                  std::tie(windows.mode, windows.commandTimeout, windows.connectionTimeout,
                           windows.cursorLocation));
    }
}

// A failure anywhere in the run ends it with one line in the program's own
// words (no window's procedure tag), exit 2, and no report: an existing
// --output file keeps what it held.
TEST_F(Command, AFailedRunLeavesOneLineAndNoReport) {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("report.txt"));
    QFile old(report);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the last report\n");
    old.close();
    const auto readReport = [&] {
        QFile f(report);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    };

    data.failOn(data::Operation::ReadBlock,
                QStringLiteral("[FreeTDS][SQL Server]Read from the server failed"), 1,
                QStringLiteral("select * from [dbo].[B]"));
    EXPECT_EQ(run({"compare", "A", "B", "--server", "db.example", "--output", report}), 2);
    EXPECT_EQ(errors,
              "dorvantis: B could not be read: [FreeTDS][SQL Server]Read from the server failed\n");
    EXPECT_EQ(readReport(), "the last report\n");

    // A table's connection refused (the catalogue's is the first).
    data.failOn(data::Operation::Open,
                QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'u'."), 2);
    EXPECT_EQ(run({"compare", "A", "B", "--server", "db.example", "--output", report}), 2);
    EXPECT_EQ(errors, "dorvantis: [FreeTDS][SQL Server]Login failed for user 'u'.\n");
    EXPECT_EQ(readReport(), "the last report\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"report.txt"});
}

// A port that is no port is the user's mistake, said before any connection
// is tried (the driver would call it an unknown host).
TEST_F(Command, ABadPortIsAUsageError) {
    for (const char* port : {"abc", "-1", "70000", "0", ""}) {
        EXPECT_EQ(run({"compare", "A", "B", "--server", "db.example", "--port", port}), 2) << port;
        EXPECT_TRUE(errors.startsWith(
            QStringLiteral("dorvantis: --port takes a number from 1 to 65535, not '%1'")
                .arg(QLatin1String(port))))
            << errors.toStdString();
    }
    EXPECT_TRUE(data.opens().empty());
    EXPECT_EQ(run({"compare", "A", "B", "--server", "db.example", "--port", "1433"}), 1);
}

// The comparison options' mistakes are usage errors said before anything
// reaches a server: above all a row condition that would become a second
// statement or comment out the rest of the query.
TEST_F(Command, BadComparisonOptionsAreUsageErrorsBeforeAnyConnection) {
    const QString kIgnoreTakes = QStringLiteral(
        "--ignore takes column names separated by commas (a name with a comma in brackets: "
        "[a,b])");
    const std::pair<QStringList, QString> cases[] = {
        {{"--where", "1=1; drop table A"}, "--where: \";\" would end the statement"},
        {{"--where", "1=1) or (1=1"}, "--where: a \")\" closes more than was opened"},
        {{"--right-where", "Id = 1 --"}, "--right-where: \"--\" would start a comment"},
        {{"--where", "Name = 'x"}, "--where: a quoted text or name is not closed"},
        {{"--where", "  "}, "--where: the condition is empty"},
        {{"--where", "Id = 1", "--where", "Id = 2"}, "--where may be given once"},
        {{"--tolerance", "-0.5"}, "--tolerance takes a number of at least 0, not '-0.5'"},
        {{"--tolerance", "nan"}, "--tolerance takes a number of at least 0, not 'nan'"},
        {{"--limit", "0"}, "--limit takes a whole number from 1, not '0'"},
        {{"--limit", "2.5"}, "--limit takes a whole number from 1, not '2.5'"},
        {{"--ignore", "Name,"}, kIgnoreTakes},
        {{"--ignore", "Name", "--ignore", ""}, kIgnoreTakes},
        {{"--ignore", "[a,b"}, kIgnoreTakes},
        {{"--ignore", "[a]b"}, kIgnoreTakes},
        {{"--map", "Name"},
         "--map takes FIRST=SECOND, two column names (a name with = or , in brackets: [a=b]), "
         "not 'Name'"},
    };
    for (const auto& [options, message] : cases) {
        EXPECT_EQ(run(QStringList{"compare", "A", "B", "--server", "db.example"} + options), 2)
            << message.toStdString();
        EXPECT_EQ(errors, QStringLiteral("dorvantis: %1\nTry 'dorvantis --help'.\n").arg(message));
        EXPECT_TRUE(output.isEmpty()) << output.toStdString();
    }
    EXPECT_TRUE(data.opens().empty());
    EXPECT_TRUE(data.queries().isEmpty()) << data.queries().join(u'\n').toStdString();
}

// Each command parses only its own options: one of the other command's is
// unknown to it, and its help lists its own; the program's help lists every
// command's. Options may come before the command's word.
TEST_F(Command, EachCommandTakesAndListsOnlyItsOwnOptions) {
    EXPECT_EQ(run({"compare", "A", "B", "--server", "db.example", "--tables", "A*"}), 2);
    EXPECT_EQ(errors, "dorvantis: Unknown option 'tables'.\nTry 'dorvantis --help'.\n");
    EXPECT_TRUE(data.opens().empty());

    EXPECT_EQ(run({"compare", "--help"}), 0);
    EXPECT_TRUE(output.contains("--ignore-case") && !output.contains("--details"))
        << output.toStdString();
    EXPECT_EQ(run({"compare-databases", "--help"}), 0);
    EXPECT_TRUE(output.contains("--ignore-case") && output.contains("--details"));
    EXPECT_FALSE(output.contains("--map")) << "compare-databases refuses it";
    EXPECT_EQ(run({"compare", "--help"}), 0);
    EXPECT_TRUE(output.contains("--map <FIRST=SECOND>")) << output.toStdString();
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_TRUE(output.contains("compare-databases") && output.contains("--details"));

    EXPECT_EQ(run({"--server", "db.example", "compare", "A", "B"}), 1) << errors.toStdString();
    EXPECT_EQ(output,
              "Record 2,Field \"Name\" has changed from \"y\" to \"z\"\nRecord 3 added from B\n");
}

// --summary: the run's counts in one line on standard error, standard output
// keeping the difference lines alone; a report written with --output ends
// with the same counts.
TEST_F(Command, TheSummaryGoesToStandardErrorAndEndsAnOutputFile) {
    const QString counts = QStringLiteral(
        "Summary: 2 records read from A and 3 from B; 2 compared, 1 with changed fields "
        "(1 field); 1 added, 0 deleted, 0 not unique; ");
    EXPECT_EQ(run({"compare", "A", "B", "--server", "db.example", "--summary"}), 1);
    EXPECT_EQ(output,
              "Record 2,Field \"Name\" has changed from \"y\" to \"z\"\n"
              "Record 3 added from B\n");
    EXPECT_TRUE(errors.startsWith(counts)) << errors.toStdString();
    EXPECT_TRUE(errors.endsWith(QStringLiteral(" s.\n"))) << errors.toStdString();
    EXPECT_EQ(errors.count(u'\n'), 1);

    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("report.txt"));
    EXPECT_EQ(run({"compare", "A", "B", "--server", "db.example", "--output", report}), 1);
    EXPECT_TRUE(output.isEmpty()) << output.toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    QFile f(report);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines[1], "Record 3 added from B");
    EXPECT_TRUE(lines[2].startsWith(counts)) << lines[2].toStdString();
}

// A table the list names that is gone by the time it is read ends only its
// own pair: the others are compared, and the status says one could not be.
TEST_F(Command, ATableGoneBetweenListingAndReadingEndsOnlyItsPair) {
    data.setSchemaTables(SchemaRowset({{"A", "TABLE"}, {"B", "TABLE"}, {"Gone", "TABLE"}}));
    EXPECT_EQ(run({"compare-databases", "--right-database", "Copy"}), 2) << errors.toStdString();
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << output.toStdString();
    EXPECT_TRUE(lines[1].startsWith("A ") && lines[1].endsWith(" same")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("B ") && lines[2].endsWith(" same")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith("Gone ") && lines[3].contains("not compared: "))
        << lines[3].toStdString();
    EXPECT_EQ(lines[4],
              "Total: 3 tables: 2 the same, 0 differ, 1 not compared, 0 only in the "
              "first database, 0 "
              "only in Copy.");
}

// Patterns that could only make a run over nothing pass for databases
// that hold the same data are refused.
TEST_F(Command, ATablesPatternThatIsNoneOrNamesNothingIsRefused) {
    EXPECT_EQ(run({"compare-databases", "--right-database", "Copy", "--tables", "[AB"}), 2);
    EXPECT_TRUE(errors.contains("'[AB' is no shell pattern")) << errors.toStdString();
    EXPECT_TRUE(data.opens().empty());
    EXPECT_EQ(run({"compare-databases", "--right-database", "Copy", "--tables", "Nope*"}), 2);
    EXPECT_TRUE(errors.contains("--tables Nope* names no table")) << errors.toStdString();
    // ?, a set and the schema-qualified name choose as a shell would.
    EXPECT_EQ(run({"compare-databases", "--right-database", "Copy", "--tables", "?", "--exclude",
                   "dbo.[!a]"}),
              0)
        << errors.toStdString();
    EXPECT_TRUE(output.contains("\nA  ") && !output.contains("\nB ")) << output.toStdString();
}

}  // namespace
