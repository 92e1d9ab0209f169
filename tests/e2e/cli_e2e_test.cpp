// The command line against the TDS test server: the same lines as the
// results window, the exit statuses, the report formats, atomic output, and
// a password that never comes from an argument.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <thread>

#include "DataAccess.h"
#include "LoginWindow.h"
#include "QueryDialog.h"
#include "RecordingMessageBoxes.h"
#include "ResultsWindow.h"
#include "Settings.h"
#include "TableSelectionWindow.h"
#include "TdsTestServer.h"
#include "WindowRegistry.h"
#include "data_loopback.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

struct Outcome {
    int status = -1;
    QString out, err;
};

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    }

    static void exec(const QString& sql, int port = tdstest::tdsTestPort(),
                     const std::string& database = tdstest::kDatabase) {
        auto c = data::OdbcDataAccess().CreateConnection();
        c->Open(q(tdstest::tdsConnectionStringAt(port, database)));
        c->Execute(sql);
        c->Close();
    }
    static QString table(const char* prefix, const QString& columns, const QStringList& rows) {
        const QString name = q(tdstest::tdsUniqueName(prefix));
        exec(QStringLiteral("create table [%1] (%2)").arg(name, columns));
        for (const QString& row : rows) {
            exec(QStringLiteral("insert into [%1] values (%2)").arg(name, row));
        }
        return name;
    }

    // Runs the program with the fixture server's login and the arguments
    // given; the password goes in DORVANTIS_PASSWORD, a null one leaves it unset.
    // prepare may redirect the process's output or start it through a shell.
    using Prepare = std::function<void(QProcess&, QString& program, QStringList& args)>;
    Outcome run(QStringList args, int port = tdstest::tdsTestPort(),
                const QString& password = QStringLiteral("secret"), const Prepare& prepare = {}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (password.isNull()) {
            env.remove(QStringLiteral("DORVANTIS_PASSWORD"));
        } else {
            env.insert(QStringLiteral("DORVANTIS_PASSWORD"), password);
        }
        p.setProcessEnvironment(env);
        args << QStringLiteral("--server") << QStringLiteral("127.0.0.1")
             << QStringLiteral("--port") << QString::number(port) << QStringLiteral("--user")
             << QStringLiteral("tester") << QStringLiteral("--database")
             << QStringLiteral("testdb");
        QString program = QStringLiteral(DORVANTIS_PROGRAM);
        if (prepare) prepare(p, program, args);
        p.start(program, args);
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    // The lines the results window shows for the same two tables.
    // With byKey the records are paired by key; with saveTo the results are
    // then saved there by "Save As...".
    QStringList windowLines(const QString& left, const QString& right, bool byKey = false,
                            const QString& saveTo = QString()) {
        return linesFromWindows(saveTo, [&](windows::TableSelectionWindow& f2) {
            Choose(f2.firstTables(), left);
            Choose(f2.secondTables(), right);
            f2.pairRecordsByKeyBox()->setChecked(byKey);
        });
    }

    // The lines the results window shows for a table against a query in
    // place of the second table, given in its editor (key: its key columns,
    // records paired by key); saveTo as windowLines.
    QStringList windowQueryLines(const QString& left, const QString& sql, const QString& key,
                                 const QString& saveTo) {
        const QStringList lines = linesFromWindows(saveTo, [&](windows::TableSelectionWindow& f2) {
            Choose(f2.firstTables(), left);
            QTest::mouseClick(f2.secondQueryButton(), Qt::LeftButton);
            f2.queryDialog()->sqlEdit()->setPlainText(sql);
            f2.queryDialog()->keyEdit()->setText(key);
            QTest::mouseClick(f2.queryDialog()->okButton(), Qt::LeftButton);
            f2.pairRecordsByKeyBox()->setChecked(!key.isEmpty());
        });
        EXPECT_TRUE(said_.isEmpty()) << said_.join(u'|').toStdString();
        return lines;
    }

    // The results window's lines once `choose` has picked the two sides and
    // "Next >" was clicked; saved to saveTo first when given. said_ keeps
    // what the message boxes said.
    QStringList linesFromWindows(
        const QString& saveTo, const std::function<void(windows::TableSelectionWindow&)>& choose) {
        testing_support::RecordingMessageBoxes boxes;
        testing_support::RecordingShell shell;
        shell.saveTo = saveTo;
        windows::WindowRegistry registry(
            windows::Services{boxes, shell, data::OdbcDataAccess(), config_.path(), [] {}});
        LogIn(registry);
        choose(registry.tableSelectionWindow());
        QTest::mouseClick(registry.tableSelectionWindow().nextButton(), Qt::LeftButton);
        if (!saveTo.isEmpty()) registry.resultsWindow().SaveResults();
        said_ = boxes.texts();
        const QStringList lines = ResultLines(registry);
        QDir(config_.path()).removeRecursively();  // the windows stored the login
        QDir().mkpath(config_.path());
        return lines;
    }

    // Selects the table of that name in a list.
    static void Choose(windows::TableListView* list, const QString& name) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(0) == name) list->Select(i + 1);
        }
    }

    // The windows started and logged in to the fixture server's testdb.
    static void LogIn(windows::WindowRegistry& registry) {
        windows::Start(registry);
        windows::LoginWindow& f = registry.loginWindow();
        f.serverEdit()->setText(QStringLiteral("127.0.0.1"));
        f.portEdit()->setText(QString::number(tdstest::tdsTestPort()));
        f.userEdit()->setText(QStringLiteral("tester"));
        f.passwordEdit()->setText(QStringLiteral("secret"));
        f.databaseEdit()->setText(QStringLiteral("testdb"));
        QTest::mouseClick(f.nextButton(), Qt::LeftButton);
    }
    // The results window's two lists, one after the other.
    static QStringList ResultLines(windows::WindowRegistry& registry) {
        QStringList lines;
        for (windows::ResultListView* v : {registry.resultsWindow().fieldDifferences(),
                                           registry.resultsWindow().recordDifferences()}) {
            for (qsizetype i = 0; i < v->linesModel()->lineCount(); ++i)
                lines << v->linesModel()->line(i);
        }
        return lines;
    }

    QTemporaryDir config_;
    QStringList said_;
};

// Splits one CSV record (RFC 4180, no line breaks inside): quoted fields are
// texts, an empty unquoted field is NULL.
std::vector<std::optional<QString>> CsvFields(const QString& line) {
    std::vector<std::optional<QString>> out;
    qsizetype i = 0;
    while (i <= line.size()) {
        if (i < line.size() && line[i] == u'"') {
            QString v;
            for (++i; i < line.size(); ++i) {
                if (line[i] == u'"') {
                    if (i + 1 < line.size() && line[i + 1] == u'"') {
                        v += u'"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                v += line[i];
            }
            out.push_back(v);
        } else {
            const qsizetype comma = line.indexOf(u',', i);
            const QString v = line.mid(i, comma < 0 ? -1 : comma - i);
            out.push_back(v.isEmpty() ? std::nullopt : std::optional<QString>(v));
            i = comma < 0 ? line.size() : comma;
        }
        if (i >= line.size()) break;
        ++i;  // the comma
    }
    return out;
}

// The records of a CSV report, which may hold line breaks inside quotes.
QStringList CsvRecords(const QString& text) {
    QStringList out{QString()};
    bool quoted = false;
    for (const QChar c : text) {
        if (c == u'"') quoted = !quoted;
        if (c == u'\n' && !quoted) {
            out << QString();
        } else {
            out.back() += c;
        }
    }
    if (out.back().isEmpty()) out.removeLast();
    return out;
}

TEST_F(CommandLine, PrintsTheLinesTheResultsWindowShows) {
    const QString a = table(
        "CliA", QStringLiteral("Id int, Amount decimal(10,2), Note nvarchar(30), Day datetime"),
        {"1, 10.50, N'x', '2024-03-07 13:04:05'", "2, 3, N'a\"b', '2024-01-01'",
         "3, 1, NULL, NULL"});
    const QString b = table(
        "CliB", QStringLiteral("Id int, Amount decimal(10,2), Note nvarchar(30), Day datetime"),
        {"1, 10.5, N'y', '2024-03-07 13:04:06'", "2, 3.01, N'a\",b', '2024-01-01'",
         "3, 1, N'', NULL", "4, 1, NULL, NULL"});
    const QStringList expected = windowLines(a, b);
    ASSERT_EQ(expected.size(), 6) << expected.join(u'\n').toStdString();
    const Outcome r = run({QStringLiteral("compare"), a, b});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, expected.join(u'\n') + u'\n');
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();  // no progress line off a terminal
    EXPECT_FALSE(QFile::exists(config_.path() + QStringLiteral("/Veltrane/Dorvantis.conf")));

    // The same differences as CSV and as JSON lines, read back: record 2's
    // Note holds a quote and a comma, which both formats must escape.
    const Outcome csv =
        run({QStringLiteral("compare"), a, b, QStringLiteral("--format"), QStringLiteral("csv")});
    const Outcome json =
        run({QStringLiteral("compare"), a, b, QStringLiteral("--format"), QStringLiteral("json")});
    ASSERT_EQ(csv.status, 1);
    ASSERT_EQ(json.status, 1);
    QStringList csvLines = csv.out.split(u'\n', Qt::SkipEmptyParts);
    const QStringList jsonLines = json.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(csvLines.takeFirst(), QStringLiteral("kind,record,field,from,to"));
    ASSERT_EQ(csvLines.size(), jsonLines.size());
    ASSERT_EQ(csvLines.size(), expected.size());
    for (qsizetype i = 0; i < csvLines.size(); ++i) {
        const auto fields = CsvFields(csvLines[i]);
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(jsonLines[i].toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << jsonLines[i].toStdString();
        ASSERT_EQ(fields.size(), 5u) << csvLines[i].toStdString();
        EXPECT_EQ(fields[0], o.value(QStringLiteral("kind")).toString());
        EXPECT_EQ(fields[1], QString::number(o.value(QStringLiteral("record")).toInteger()));
        if (o.value(QStringLiteral("kind")).toString() == QStringLiteral("changed")) {
            EXPECT_EQ(fields[2], o.value(QStringLiteral("field")).toString());
            for (const auto& [index, key] : {std::pair{3, "from"}, std::pair{4, "to"}}) {
                const QJsonValue v = o.value(QLatin1String(key));
                EXPECT_EQ(fields[index],
                          v.isNull() ? std::nullopt : std::optional<QString>(v.toString()));
            }
        }
    }
    const QJsonObject first = QJsonDocument::fromJson(jsonLines[0].toUtf8()).object();
    EXPECT_EQ(first.value(QStringLiteral("field")).toString(), QStringLiteral("Note"));
    EXPECT_EQ(first.value(QStringLiteral("from")).toString(), QStringLiteral("x"));
}

// Values whose texts read the same but whose types differ say their types;
// where the texts differ the line stays as it was.
TEST_F(CommandLine, ValuesOfOtherTypesThatReadTheSameSayTheirTypes) {
    const QString a =
        table("CliTxt", QStringLiteral("Id int, c nvarchar(5)"), {"1, N'1'", "2, N'2'"});
    const QString b = table("CliInt", QStringLiteral("Id int, c int"), {"1, 1", "2, 3"});
    const Outcome text = run({QStringLiteral("compare"), a, b});
    EXPECT_EQ(text.status, 1) << text.err.toStdString();
    EXPECT_EQ(
        text.out,
        QStringLiteral("Record 1,Field \"c\" has changed from \"1\" (text) to \"1\" (integer)\n"
                       "Record 2,Field \"c\" has changed from \"2\" to \"3\"\n"));
    const Outcome csv = run({QStringLiteral("compare"), a, b, "--format", "csv"});
    EXPECT_TRUE(csv.out.contains(QStringLiteral("changed,1,\"c\",\"1 (text)\",\"1 (integer)\"\n")))
        << csv.out.toStdString();
}

TEST_F(CommandLine, ExitStatusTellsSameDifferentOrFailed) {
    const QString a = table("CliSame", QStringLiteral("Id int"), {"1", "2"});
    const QString b = table("CliSame2", QStringLiteral("Id int"), {"1", "2"});
    const QString c = table("CliOther", QStringLiteral("Id int"), {"1", "3"});
    const QString empty = table("CliEmpty", QStringLiteral("Id int"), {});
    const Outcome same = run({QStringLiteral("compare"), a, b});
    EXPECT_EQ(same.status, 0) << same.err.toStdString();
    EXPECT_TRUE(same.out.isEmpty());
    EXPECT_EQ(run({QStringLiteral("compare"), a, c}).status, 1);

    const Outcome missing = run({QStringLiteral("compare"), a, QStringLiteral("NoSuchTable")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.contains(QStringLiteral("NoSuchTable")));
    const Outcome noData = run({QStringLiteral("compare"), a, empty});
    EXPECT_EQ(noData.status, 2);
    EXPECT_EQ(noData.err, QStringLiteral("dorvantis: %1 does not contain any data.\n").arg(empty));
    const Outcome refused =
        run({QStringLiteral("compare"), a, b}, tdstest::tdsTestPort(), QStringLiteral("wrong"));
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("Login failed for user 'tester'")));
    EXPECT_EQ(refused.err.count(u'\n'), 1);  // one line
    const Outcome usage = run({QStringLiteral("compare"), a, QStringLiteral("--bogus")});
    EXPECT_EQ(usage.status, 2);
}

// Without arguments the program opens its windows: with no display for them,
// or one that cannot be opened, it says so in one line and fails, instead of
// aborting inside Qt. X11 alone wants DISPLAY, and a platform without a
// display server still starts.
TEST_F(CommandLine, WithoutADisplayTheWindowsAreRefusedInOneLine) {
    const auto start = [](QProcess& p, const QStringList& variables) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        for (const QString& v : variables) env.insert(v.section(u'=', 0, 0), v.section(u'=', 1));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(DORVANTIS_PROGRAM), QStringList());
    };
    for (const QStringList& variables :
         {QStringList(), QStringList{"QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY=wayland-0"}}) {
        QProcess p;
        start(p, variables);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << err.toStdString();
        EXPECT_EQ(p.exitCode(), 2) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("no display"))) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("dorvantis compare"))) << err.toStdString();
        EXPECT_EQ(err.count(u'\n'), 1) << err.toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    }
    // A display that leads nowhere: Qt would abort; the program says which
    // display in the same one line.
    int free = 999;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(free))) ++free;
    for (const QString& variable :
         {QStringLiteral("DISPLAY=:%1").arg(free), QStringLiteral("WAYLAND_DISPLAY=nowhere")}) {
        QProcess p;
        start(p, {variable});
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << err.toStdString();
        EXPECT_EQ(p.exitCode(), 2) << err.toStdString();
        EXPECT_TRUE(err.startsWith(QStringLiteral("dorvantis: no display"))) << err.toStdString();
        EXPECT_TRUE(err.contains(variable)) << err.toStdString();
        EXPECT_EQ(err.count(u'\n'), 1) << err.toStdString();
    }
    QProcess offscreen;
    start(offscreen, {QStringLiteral("QT_QPA_PLATFORM=offscreen")});
    ASSERT_TRUE(offscreen.waitForStarted());
    // Still showing its windows after a while: it was not refused.
    EXPECT_FALSE(offscreen.waitForFinished(3000)) << offscreen.readAllStandardError().toStdString();
    offscreen.kill();
    offscreen.waitForFinished();
}

// --output replaces the file only with a whole report: a failed run leaves
// the old one as it was.
TEST_F(CommandLine, OutputFileIsReplacedOnlyByAWholeReport) {
    const QString a = table("CliOutA", QStringLiteral("Id int"), {"1"});
    const QString b = table("CliOutB", QStringLiteral("Id int"), {"2"});
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/report.csv");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the old report\n");
    old.close();
    const Outcome failed =
        run({QStringLiteral("compare"), a, QStringLiteral("Missing"), QStringLiteral("--output"),
             path, QStringLiteral("--format"), QStringLiteral("csv")});
    EXPECT_EQ(failed.status, 2);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("the old report\n"));
    old.close();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"report.csv"});

    const Outcome done = run({QStringLiteral("compare"), a, b, QStringLiteral("--output"), path,
                              QStringLiteral("--format"), QStringLiteral("csv")});
    EXPECT_EQ(done.status, 1);
    EXPECT_TRUE(done.out.isEmpty());
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    // The differences, then the run's summary.
    const QByteArray report = old.readAll();
    EXPECT_TRUE(report.startsWith(
        "kind,record,field,from,to\nchanged,1,\"Id\",\"1\",\"2\"\nsummary,,first-table,,"))
        << report.toStdString();
}

// --output writes into what it names without replacing it (a device, a pipe,
// standard output); a standard output that is full or closed fails the
// command with one line instead of losing the report; a port that is no port
// is a usage error.
TEST_F(CommandLine, TheReportGoesIntoDevicesAndPipesAndIsNeverLostSilently) {
    const QString a = table("CliDevA", QStringLiteral("Id int"), {"1"});
    const QString b = table("CliDevB", QStringLiteral("Id int"), {"2"});
    const QString line = QStringLiteral("Record 1,Field \"Id\" has changed from \"1\" to \"2\"\n");
    const QStringList compareAB{QStringLiteral("compare"), a, b};
    const auto isCharacterDevice = [](const char* path) {
        struct stat st {};
        return ::lstat(path, &st) == 0 && S_ISCHR(st.st_mode);
    };

    // A null device of the test's own where it may make one (as root, a
    // program that replaced it would otherwise replace the machine's).
    QTemporaryDir dir;
    QByteArray null = QFile::encodeName(dir.filePath(QStringLiteral("null")));
    if (::mknod(null.constData(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) null = "/dev/null";
    const Outcome toNull = run(compareAB + QStringList{"--output", QFile::decodeName(null)});
    EXPECT_EQ(toNull.status, 1) << toNull.err.toStdString();
    EXPECT_TRUE(isCharacterDevice(null.constData()));

    const Outcome toStdout = run(compareAB + QStringList{"--output", "/dev/stdout"});
    EXPECT_EQ(toStdout.status, 1) << toStdout.err.toStdString();
    EXPECT_EQ(toStdout.out, line);

    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("pipe")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    QByteArray piped;
    std::thread reader([&] {
        QFile f(QFile::decodeName(fifo));
        if (f.open(QIODevice::ReadOnly)) piped = f.readAll();
    });
    const Outcome toFifo = run(compareAB + QStringList{"--output", QFile::decodeName(fifo)});
    reader.join();
    EXPECT_EQ(toFifo.status, 1) << toFifo.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(piped), line);
    struct stat st {};
    EXPECT_TRUE(::lstat(fifo.constData(), &st) == 0 && S_ISFIFO(st.st_mode));

    const Outcome full = run(compareAB, tdstest::tdsTestPort(), QStringLiteral("secret"),
                             [](QProcess& p, QString&, QStringList&) {
                                 p.setStandardOutputFile(QStringLiteral("/dev/full"));
                             });
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err,
              "dorvantis: Cannot write the report to standard output: No space left on device\n");
    const Outcome fullFile = run(compareAB + QStringList{"--output", "/dev/full"});
    EXPECT_EQ(fullFile.status, 2);
    EXPECT_EQ(fullFile.err.count(u'\n'), 1) << fullFile.err.toStdString();
    EXPECT_TRUE(fullFile.err.contains(QStringLiteral("No space left on device")));

    const Outcome closed = run(compareAB, tdstest::tdsTestPort(), QStringLiteral("secret"),
                               [](QProcess&, QString& program, QStringList& args) {
                                   args.prepend(program);
                                   args.prepend(QStringLiteral("exec \"$0\" \"$@\" >&-"));
                                   args.prepend(QStringLiteral("-c"));
                                   program = QStringLiteral("/bin/sh");
                               });
    EXPECT_EQ(closed.status, 2);
    EXPECT_TRUE(closed.err.startsWith(
        QStringLiteral("dorvantis: Cannot write the report to standard output: ")))
        << closed.err.toStdString();

    for (const char* port : {"abc", "-1", "70000"}) {
        // The fixture's own --port comes last and would win: this one is given alone.
        QProcess p;
        p.start(QStringLiteral(DORVANTIS_PROGRAM),
                {QStringLiteral("compare"), a, b, QStringLiteral("--server"),
                 QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QLatin1String(port)});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 2) << port;
        EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError())
                        .startsWith(QStringLiteral("dorvantis: --port takes a number from 1 to "
                                                   "65535, not '%1'")
                                        .arg(QLatin1String(port))))
            << port;
    }
}

// Ctrl+C or SIGTERM while the server sits on a query: the command stops at
// once (130 for SIGINT, 2 for SIGTERM), leaves no report, and the file
// --output names keeps what it held.
TEST_F(CommandLine, ASignalStopsACommandTheServerKeepsWaiting) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.txt"));
    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string log =
            dir.filePath(QStringLiteral("server%1.log").arg(signal)).toStdString();
        tdstest::PrivateServer server({"--stall-query", "from [dbo].[held]"}, log);
        exec(QStringLiteral("create table held (Id int)"), server.port());
        exec(QStringLiteral("insert into held values (1)"), server.port());
        exec(QStringLiteral("create table other (Id int)"), server.port());
        exec(QStringLiteral("insert into other values (1)"), server.port());
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the last report\n");
        old.close();

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DORVANTIS_PASSWORD"), QStringLiteral("secret"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(DORVANTIS_PROGRAM),
                {QStringLiteral("compare"), QStringLiteral("other"), QStringLiteral("held"),
                 QStringLiteral("--output"), path, QStringLiteral("--server"),
                 QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                 QString::number(server.port()), QStringLiteral("--user"), QStringLiteral("tester"),
                 QStringLiteral("--database"), QStringLiteral("testdb")});
        ASSERT_TRUE(p.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        while (!server.heldARequest() && waited.elapsed() < 20000) QTest::qWait(10);
        ASSERT_TRUE(server.heldARequest()) << "the server never held the query";
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        ::kill(static_cast<pid_t>(p.processId()), signal);
        // Without a cancel that reaches the query, the server holds it for good.
        ASSERT_TRUE(p.waitForFinished(10000));
        const qint64 stoppedMs = sinceSignal.elapsed();
        std::printf("signal %d: stopped in %lld ms\n", signal, static_cast<long long>(stoppedMs));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), signal == SIGINT ? 130 : 2);
        EXPECT_LT(stoppedMs, 5000);
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        EXPECT_EQ(old.readAll(), QByteArray("the last report\n"));
        old.close();
        EXPECT_EQ(
            QDir(dir.path()).entryList({QStringLiteral("report*")}, QDir::Files | QDir::Hidden),
            QStringList{"report.txt"});
    }
}

// "Save As..." and --output give the same file for the same comparison,
// whatever the format; by key, where changes, additions and deletions come
// mixed in key order, too.
// A report with its summary's time blanked out: two runs never take the same.
QByteArray withoutSeconds(const QByteArray& report) {
    static const QRegularExpression seconds(
        QStringLiteral("(; |summary,,seconds,,|\"seconds\":)\\d+\\.\\d+"));
    return QString::fromUtf8(report).replace(seconds, QStringLiteral("\\1*")).toUtf8();
}

TEST_F(CommandLine, SaveAsAndOutputWriteTheSameFile) {
    const QString cols = QStringLiteral("Id int primary key, Note nvarchar(20)");
    const QString a =
        table("SameA", cols, {"1, 'a'", "2, 'b'", "3, 'c'", "5, 'e'", "6, 'f'", "7, 'g'"});
    const QString b = table("SameB", cols, {"1, 'a'", "2, 'B'", "4, 'd'", "5, 'e'", "6, 'F'"});
    QTemporaryDir dir;
    for (const bool byKey : {false, true}) {
        for (const char* format : {"txt", "csv", "json"}) {
            const QString saved = dir.filePath(QStringLiteral("saved.%1").arg(format));
            const QString output = dir.filePath(QStringLiteral("output.%1").arg(format));
            windowLines(a, b, byKey, saved);
            QStringList args{QStringLiteral("compare"),
                             a,
                             b,
                             QStringLiteral("--output"),
                             output,
                             QStringLiteral("--format"),
                             QLatin1String(format) == "txt" ? QStringLiteral("text")
                                                            : QString::fromLatin1(format)};
            if (byKey) args << QStringLiteral("--key") << QStringLiteral("auto");
            const Outcome run_ = run(args);
            EXPECT_EQ(run_.status, 1) << run_.err.toStdString();
            QFile s(saved), o(output);
            ASSERT_TRUE(s.open(QIODevice::ReadOnly)) << format;
            ASSERT_TRUE(o.open(QIODevice::ReadOnly)) << format;
            const QByteArray bytes = withoutSeconds(o.readAll());
            EXPECT_EQ(QString::fromUtf8(withoutSeconds(s.readAll())), QString::fromUtf8(bytes))
                << format << (byKey ? " by key" : " by position");
            EXPECT_TRUE(bytes.contains("ummary")) << format << ": no summary";
            EXPECT_GE(bytes.count('\n'), 4) << bytes.toStdString();
        }
    }
}

// A query in place of the second table: the results window lists what
// the command prints for the same table and query, by position in the
// query's own order and by its key columns, and saves it as the command
// writes it.
TEST_F(CommandLine, AQueryThroughTheWindowsListsWhatTheCommandPrints) {
    const QString cols = QStringLiteral("Id int primary key, Name nvarchar(20), Qty int");
    const QString a = table("CliQryA", cols, {"1, N'a', 5", "2, N'b', 6", "3, N'c', 7"});
    const QString b =
        table("CliQryB", cols, {"1, N'a', 5", "3, N'C', 7", "4, N'd', 8", "5, N'e', 9"});
    const QString sql =
        QStringLiteral("select Id, Name, Qty * 2 as Qty from [%1]\norder by Id desc").arg(b);
    QTemporaryDir dir;
    for (const QString& key : {QString(), QStringLiteral("Id")}) {
        const QString saved = dir.filePath(QStringLiteral("saved%1.csv").arg(key));
        const QString output = dir.filePath(QStringLiteral("output%1.csv").arg(key));
        const QStringList lines = windowQueryLines(a, sql, key, saved);
        ASSERT_FALSE(lines.isEmpty());
        QStringList args{QStringLiteral("compare"), a, QStringLiteral("--right-query"), sql};
        if (!key.isEmpty()) args << QStringLiteral("--key") << key;
        const Outcome printed = run(args);
        EXPECT_EQ(printed.status, 1) << printed.err.toStdString();
        EXPECT_EQ(printed.out, lines.join(u'\n') + u'\n');
        EXPECT_TRUE(printed.out.contains(QStringLiteral("the second query")))
            << printed.out.toStdString();
        EXPECT_EQ(run(args << QStringLiteral("--output") << output << QStringLiteral("--format")
                           << QStringLiteral("csv"))
                      .status,
                  1);
        QFile s(saved), o(output);
        ASSERT_TRUE(s.open(QIODevice::ReadOnly));
        ASSERT_TRUE(o.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(withoutSeconds(s.readAll())),
                  QString::fromUtf8(withoutSeconds(o.readAll())));
    }
}

// After a run by key, "Save As…" with a .sql name writes the script the
// command writes for the same tables, but for the time it was made.
TEST_F(CommandLine, SaveAsAndOutputWriteTheSameScript) {
    const QString cols = QStringLiteral("Id int primary key, Note nvarchar(20)");
    const QString a = table("ScriptA", cols, {"1, 'a'", "2, 'b'", "3, 'c'"});
    const QString b = table("ScriptB", cols, {"1, 'a'", "2, 'B'", "4, 'd'"});
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("saved.sql"));
    const QString output = dir.filePath(QStringLiteral("output.sql"));
    EXPECT_EQ(windowLines(a, b, true, saved).size(), 3);
    const Outcome o = run({QStringLiteral("compare"), a, b, QStringLiteral("--key"),
                           QStringLiteral("auto"), QStringLiteral("--format"),
                           QStringLiteral("sql"), QStringLiteral("--output"), output});
    EXPECT_EQ(o.status, 1) << o.err.toStdString();
    static const QRegularExpression madeAt(QStringLiteral("^(-- Made by .* on )\\S+( from )"),
                                           QRegularExpression::MultilineOption);
    const auto text = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(f.readAll()).replace(madeAt, QStringLiteral("\\1*\\2"))
                   : QString();
    };
    const QString script = text(output);
    EXPECT_EQ(text(saved), script);
    for (const char* statement : {"\nUPDATE ", "\nINSERT ", "\nDELETE ", "\n-- Made by "}) {
        EXPECT_TRUE(script.contains(QLatin1String(statement))) << script.toStdString();
    }
}

// A table against its namesake in another database of the server, and on
// another server with a login of its own: the differences are those of the
// same two tables within one database, the second table named so that the
// sides can be told apart; a second side that cannot be reached says which.
TEST_F(CommandLine, ComparesWithATableOfAnotherDatabaseOrServer) {
    const QString cols = QStringLiteral("Id int primary key, Note nvarchar(20)");
    const QStringList firstRows{"1, 'a'", "2, 'b'", "3, 'c'"};
    const QStringList secondRows{"1, 'a'", "2, 'B'", "4, 'd'"};
    const QString name = table("Across", cols, firstRows);
    const QString copy = table("AcrossCopy", cols, secondRows);
    exec(QStringLiteral("create table [%1] (%2)").arg(name, cols), tdstest::tdsTestPort(),
         "otherdb");
    for (const QString& row : secondRows) {
        exec(QStringLiteral("insert into [%1] values (%2)").arg(name, row), tdstest::tdsTestPort(),
             "otherdb");
    }
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};
    const Outcome within = run(QStringList{"compare", name, copy} + byKey);
    ASSERT_EQ(within.status, 1) << within.err.toStdString();
    const Outcome acrossDatabases =
        run(QStringList{"compare", name, name, "--right-database", "otherdb"} + byKey);
    EXPECT_EQ(acrossDatabases.status, 1) << acrossDatabases.err.toStdString();
    QString expected = within.out;
    expected.replace(copy, QStringLiteral("otherdb.dbo.") + name);
    EXPECT_EQ(acrossDatabases.out, expected);
    EXPECT_TRUE(acrossDatabases.out.contains(QStringLiteral("added from otherdb.dbo.")));

    // Another server, whose login has a password that needs braces.
    QTemporaryDir dir;
    const QString passwordFile = dir.filePath(QStringLiteral("password"));
    QFile f(passwordFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("pa;ss}w=rd\n");
    f.close();
    tdstest::PrivateServer other({"--user", "second:pa;ss}w=rd"});
    auto c = data::OdbcDataAccess().CreateConnection();
    c->Open(q(tdstest::tdsConnectionStringAt(other.port(), "testdb", "second", "pa;ss}w=rd")));
    c->Execute(QStringLiteral("create table [%1] (%2)").arg(name, cols));
    for (const QString& row : secondRows) {
        c->Execute(QStringLiteral("insert into [%1] values (%2)").arg(name, row));
    }
    c->Close();
    const QStringList secondServer{"--right-server", "127.0.0.1",
                                   "--right-port",   QString::number(other.port()),
                                   "--right-user",   "second"};
    const Outcome acrossServers =
        run(QStringList{"compare", name, name, "--right-password-file", passwordFile} +
            secondServer + byKey);
    EXPECT_EQ(acrossServers.status, 1) << acrossServers.err.toStdString();
    expected = within.out;
    expected.replace(copy,
                     QStringLiteral("[127.0.0.1,%1].testdb.dbo.%2").arg(other.port()).arg(name));
    EXPECT_EQ(acrossServers.out, expected);

    // The second side refused, unknown, unreachable, or without the table.
    const QString secondSide =
        QStringLiteral("dorvantis: Second table, database %1 on server 127.0.0.1,%2: ");
    const Outcome refused =
        run(QStringList{"compare", name, name} + secondServer);  // no password of its own
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.err.startsWith(secondSide.arg("testdb").arg(other.port())))
        << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("Login failed for user 'second'")));
    const Outcome unknown = run(QStringList{"compare", name, name, "--right-database", "nosuchdb"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.startsWith(secondSide.arg("nosuchdb").arg(tdstest::tdsTestPort())))
        << unknown.err.toStdString();
    const Outcome unreachable = run(QStringList{"compare", name, name, "--right-port", "1"});
    EXPECT_EQ(unreachable.status, 2);
    EXPECT_TRUE(unreachable.err.startsWith(secondSide.arg("testdb").arg(1)))
        << unreachable.err.toStdString();
    const Outcome missing = run(QStringList{"compare", name, name, "--right-database", "emptydb"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err,
              QStringLiteral("dorvantis: There is no table %1 in the table list of the database "
                             "emptydb on server 127.0.0.1,%2.\n")
                  .arg(name)
                  .arg(tdstest::tdsTestPort()));
    EXPECT_EQ(run({"compare", name, name}).err,
              "dorvantis: Please select 2 different tables to compare.\n");
}

// --encrypt: the rows cross the link only inside TLS, whether the server
// offers it or requires it (unasked, only a server that requires it hides
// them); a server without TLS stops the run in one line.
TEST_F(CommandLine, EncryptKeepsTheRowsOffTheLinkOrStopsInOneLine) {
    tdstest::PrivateServer required({"--require-encryption"});
    tdstest::PrivateServer offered({});
    tdstest::PrivateServer none({"--no-encryption"});
    const QString planted = QStringLiteral("planted-7f3a-in-the-rows");
    for (const tdstest::PrivateServer* server : {&required, &offered, &none}) {
        exec(QStringLiteral("create table P (Id int primary key, V nvarchar(40)); "
                            "insert into P values (1, N'%1'); "
                            "create table Q (Id int primary key, V nvarchar(40)); "
                            "insert into Q values (1, N'other')")
                 .arg(planted),
             server->port());
    }
    const QStringList compare{"compare", "P", "Q", "--key", "auto"};
    const auto inClear = [&](const data_e2e::Relay& relay) {
        const std::string seen = relay.seen();
        const QByteArray utf16(reinterpret_cast<const char*>(planted.utf16()), planted.size() * 2);
        return seen.find(utf16.toStdString()) != std::string::npos;
    };
    const auto readsPlanted = [&](const Outcome& o) {
        EXPECT_EQ(o.status, 1) << o.err.toStdString();
        EXPECT_TRUE(o.out.contains(planted)) << o.out.toStdString();
    };

    const data_e2e::Relay unasked(offered.port());
    readsPlanted(run(compare, unasked.port()));
    EXPECT_TRUE(inClear(unasked));
    // The login alone was encrypted: its password, as LOGIN7 scrambles it, is not seen.
    std::string scrambled;
    for (const char c : std::string("secret")) {
        for (const unsigned char b : {static_cast<unsigned char>(c), static_cast<unsigned char>(0)})
            scrambled += static_cast<char>(((b << 4) | (b >> 4)) ^ 0xA5);
    }
    EXPECT_EQ(unasked.seen().find(scrambled), std::string::npos);
    const data_e2e::Relay asked(offered.port());
    readsPlanted(run(compare + QStringList{"--encrypt"}, asked.port()));
    EXPECT_FALSE(inClear(asked));
    const data_e2e::Relay demanded(required.port());
    readsPlanted(run(compare + QStringList{"--encrypt"}, demanded.port()));
    readsPlanted(run(compare, demanded.port()));
    EXPECT_FALSE(inClear(demanded));

    const QString stop = QStringLiteral("No encrypted connection could be set up");
    const Outcome noTls = run(compare + QStringList{"--encrypt"}, none.port());
    EXPECT_EQ(noTls.status, 2);
    EXPECT_TRUE(noTls.err.startsWith(QStringLiteral("dorvantis: ") + stop))
        << noTls.err.toStdString();
    EXPECT_EQ(noTls.err.count(u'\n'), 1);
}

// --key: records paired by key, as a user of keyed tools expects -- a row
// inserted in the middle is one added line, not a cascade of false changes.
TEST_F(CommandLine, RecordsByKeyFindInsertedDeletedAndChangedRows) {
    const QString cols = QStringLiteral("Id int primary key, Amount int");
    const QString a = table("KeyA", cols, {"10, 1", "20, 2", "30, 3", "40, 4", "50, 5"});
    const QString inserted =
        table("KeyIns", cols, {"10, 1", "20, 2", "25, 9", "30, 3", "40, 4", "50, 5"});
    const QString rekeyed = table("KeyDel", cols, {"10, 1", "20, 7", "40, 4", "55, 5"});
    const QStringList auto_{QStringLiteral("--key"), QStringLiteral("auto")};

    const Outcome positional = run({QStringLiteral("compare"), a, inserted});
    // Both fields of records 3 to 5 differ, and record 6 is taken for an addition.
    EXPECT_EQ(positional.out.count(u'\n'), 7);
    Outcome r = run(QStringList{QStringLiteral("compare"), a, inserted} + auto_);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Record Id=25 added from %1\n").arg(inserted));

    // Deleted records and a changed key, in key order, among the changes.
    r = run(QStringList{QStringLiteral("compare"), a, rekeyed} + auto_);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out,
              QStringLiteral("Record Id=20,Field \"Amount\" has changed from \"2\" to \"7\"\n"
                             "Record Id=30 deleted from %1\n"
                             "Record Id=50 deleted from %1\n"
                             "Record Id=55 added from %1\n")
                  .arg(rekeyed));

    // The same key by name; CSV and JSON carry the key as the record.
    r = run({QStringLiteral("compare"), a, inserted, QStringLiteral("--key"), QStringLiteral("id"),
             QStringLiteral("--format"), QStringLiteral("csv")});
    EXPECT_EQ(r.out, QStringLiteral("kind,record,field,from,to\nadded,\"Id=25\",,,\n"));
    r = run({QStringLiteral("compare"), a, inserted, QStringLiteral("--key"), QStringLiteral("Id"),
             QStringLiteral("--format"), QStringLiteral("json")});
    EXPECT_EQ(QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("record")),
              QJsonValue(QStringLiteral("Id=25")));
}

// A key of several columns, a key two records share, and a key that cannot be had.
TEST_F(CommandLine, RecordsByKeyNameCompositeAndRepeatedKeysAndRefuseAMissingKey) {
    const QString cols = QStringLiteral(
        "CustomerID int, OrderID int, Note nvarchar(10), primary key (CustomerID, OrderID)");
    const QString a = table("KeyComp", cols, {"5, 1006, N'x'", "5, 1007, N'y'", "6, 1, N'z'"});
    const QString b = table("KeyComp2", cols, {"5, 1006, N'x'", "5, 1007, N'w'", "6, 1, N'z'"});
    Outcome r =
        run({QStringLiteral("compare"), a, b, QStringLiteral("--key"), QStringLiteral("auto")});
    EXPECT_EQ(r.out,
              QStringLiteral("Record (CustomerID=5,OrderID=1007),Field \"Note\" has changed from "
                             "\"y\" to \"w\"\n"));

    const QString twiceA = table("KeyTwice", QStringLiteral("Id int, V nvarchar(5)"),
                                 {"7, N'x'", "7, N'x'", "8, N'z'"});
    const QString twiceB = table("KeyTwice2", QStringLiteral("Id int, V nvarchar(5)"),
                                 {"7, N'x'", "8, N'z'", "8, N'z'"});
    r = run(
        {QStringLiteral("compare"), twiceA, twiceB, QStringLiteral("--key"), QStringLiteral("Id")});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Record Id=7 is not unique in %1\n"
                                    "Record Id=7 deleted from %2\n"
                                    "Record Id=8 is not unique in %2\n"
                                    "Record Id=8 added from %2\n")
                         .arg(twiceA, twiceB));

    // No primary key to take, or a key column the second table lacks: a
    // failure before any line.
    r = run(
        {QStringLiteral("compare"), twiceA, a, QStringLiteral("--key"), QStringLiteral("auto")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, QStringLiteral("dorvantis: The records cannot be paired by key: %1 has no "
                                    "primary key.\n")
                         .arg(twiceA));
    r = run(
        {QStringLiteral("compare"), a, twiceA, QStringLiteral("--key"), QStringLiteral("auto")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(twiceA + QStringLiteral(" has no column \"CustomerID\"")))
        << r.err.toStdString();
    r = run({QStringLiteral("compare"), a, b, QStringLiteral("--key"), QStringLiteral("Id,")});
    EXPECT_EQ(r.status, 2);
}

// A key that holds numbers in one table and texts in the other would pair no
// record (1 is not "1"): refused before any line. Numbers of two types pair
// by value.
TEST_F(CommandLine, RecordsByAKeyOfNumbersAgainstTextsAreRefused) {
    const QString numbers = table("KeyInt", QStringLiteral("id int, V int"), {"1, 10", "2, 20"});
    const QString texts =
        table("KeyText", QStringLiteral("id nvarchar(10), V int"), {"N'1', 10", "N'2', 20"});
    const QString wide = table("KeyBig", QStringLiteral("id bigint, V int"), {"1, 10", "2, 21"});
    Outcome r = run(QStringList{"compare", numbers, texts, "--key", "id"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_EQ(r.err, QStringLiteral("dorvantis: The records cannot be paired by key: the key "
                                    "column \"id\" is a number in %1 and a text in %2.\n")
                         .arg(numbers, texts));
    r = run(QStringList{"compare", numbers, wide, "--key", "id"});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Record id=2,Field \"V\" has changed from \"20\" to \"21\"\n"));
}

// A text key in a database whose texts compare without case: the server's
// own order (a, B, c) is not the code-unit order the keys compare by (B, a,
// c), yet every record finds its pair.
TEST_F(CommandLine, RecordsByATextKeyPairUnderACaseInsensitiveCollation) {
    tdstest::PrivateServer server({"--collation", "ci"});
    const QString cols = QStringLiteral("Name nvarchar(10) primary key, V int");
    for (const auto& [name, rows] :
         {std::pair{"T1", QStringList{"N'a', 1", "N'B', 2", "N'c', 3"}},
          std::pair{"T2", QStringList{"N'a', 1", "N'B', 20", "N'c', 3", "N'D', 4"}}}) {
        exec(QStringLiteral("create table %1 (%2)").arg(QLatin1String(name), cols), server.port());
        for (const QString& row : rows) {
            exec(QStringLiteral("insert into %1 values (%2)").arg(QLatin1String(name), row),
                 server.port());
        }
    }
    const Outcome r = run({QStringLiteral("compare"), QStringLiteral("T1"), QStringLiteral("T2"),
                           QStringLiteral("--key"), QStringLiteral("auto")},
                          server.port());
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out,
              QStringLiteral("Record Name=\"B\",Field \"V\" has changed from \"2\" to \"20\"\n"
                             "Record Name=\"D\" added from T2\n"));
}

// Text keys arrive in the server's binary order: UTF-16 code units (U+1D538
// before U+FF21, unlike code point order), the shorter text padded with
// blanks ('a' + a tab before 'a'). The keys compare in that order, so the
// changed records are all there is to tell.
TEST_F(CommandLine, RecordsByATextKeyComeInTheServersBinaryOrder) {
    const QString cols = QStringLiteral("Name nvarchar(10) primary key, V int");
    const QString a = table("KeyAstral", cols,
                            {QStringLiteral("N'\uFF21', 1"), QStringLiteral("N'\U0001D538x', 2"),
                             QStringLiteral("N'b', 3"), QStringLiteral("N'a', 4"),
                             QStringLiteral("N'a' + nchar(9), 5")});
    const QString b = table("KeyAstral2", cols,
                            {QStringLiteral("N'\uFF21', 10"), QStringLiteral("N'\U0001D538x', 2"),
                             QStringLiteral("N'b', 3"), QStringLiteral("N'a', 40"),
                             QStringLiteral("N'a' + nchar(9), 5")});
    const Outcome r =
        run({QStringLiteral("compare"), a, b, QStringLiteral("--key"), QStringLiteral("auto")});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral(
                         "Record Name=\"a\",Field \"V\" has changed from \"4\" to \"40\"\n"
                         "Record Name=\"\uFF21\",Field \"V\" has changed from \"1\" to \"10\"\n"));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
}

// The password comes from a file or the environment, never from an argument
// (which anyone could read in the process list): --password-file logs in
// without the environment variable, and --password is refused as bad usage.
TEST_F(CommandLine, ThePasswordComesFromAFileAndIsRefusedAsAnArgument) {
    const QString a = table("CliPwA", QStringLiteral("Id int"), {"1"});
    const QString b = table("CliPwB", QStringLiteral("Id int"), {"1"});
    QTemporaryDir dir;
    QFile secret(dir.path() + QStringLiteral("/pw"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("secret\n");
    secret.close();
    const Outcome fromFile =
        run({QStringLiteral("compare"), a, b, QStringLiteral("--password-file"), secret.fileName()},
            tdstest::tdsTestPort(), QString());
    EXPECT_EQ(fromFile.status, 0) << fromFile.err.toStdString();
    // The environment holds the right password, so only the refusal fails this run.
    const Outcome asArgument = run(
        {QStringLiteral("compare"), a, b, QStringLiteral("--password"), QStringLiteral("secret")});
    EXPECT_EQ(asArgument.status, 2);
    EXPECT_TRUE(asArgument.out.isEmpty()) << asArgument.out.toStdString();
}

// --fields by-name: a table and its copy with the columns in another order hold the same data.
TEST_F(CommandLine, FieldsByNameFindTheSameDataInAnotherColumnOrder) {
    const QString a =
        table("CliOrd", QStringLiteral("OrderID int, CustomerID int, Note nvarchar(10)"),
              {"1, 5, N'x'", "2, 6, NULL"});
    const QString b =
        table("CliByCust", QStringLiteral("CustomerID int, OrderID int, Note nvarchar(10)"),
              {"5, 1, N'x'", "6, 2, NULL"});
    const Outcome positional = run({QStringLiteral("compare"), a, b});
    EXPECT_EQ(positional.status, 1);
    const Outcome byName = run(
        {QStringLiteral("compare"), a, b, QStringLiteral("--fields"), QStringLiteral("by-name")});
    EXPECT_EQ(byName.status, 0) << byName.out.toStdString() << byName.err.toStdString();
    EXPECT_TRUE(byName.out.isEmpty());
}

// A typed pair of tables whose every difference one comparison option
// explains: char(n) against varchar (--trim), case (--ignore-case), float
// against decimal (--tolerance), NULL against '' (--null-equals-empty), a
// changed date (--ignore). Id 5 only the second has, Id 6 only the first.
// A column only one table has is a difference whatever pairs the fields: a
// table that gained a NOT NULL column is never the same as before.
TEST_F(CommandLine, AColumnOnlyOneTableHasIsADifferenceInEveryPairing) {
    const QString name = q(tdstest::tdsUniqueName("Wider"));
    exec(QStringLiteral("create table [%1] (Id int primary key, V int)").arg(name));
    exec(QStringLiteral("insert into [%1] values (1, 1)").arg(name));
    exec(QStringLiteral("create table [%1] (Id int primary key, V int, W int not null)").arg(name),
         tdstest::tdsTestPort(), "otherdb");
    exec(QStringLiteral("insert into [%1] values (1, 1, 7)").arg(name), tdstest::tdsTestPort(),
         "otherdb");
    const QStringList other{QStringLiteral("--right-database"), QStringLiteral("otherdb")};
    for (const QStringList& pairing :
         {QStringList{}, QStringList{QStringLiteral("--key"), QStringLiteral("auto")},
          QStringList{QStringLiteral("--fields"), QStringLiteral("by-name")}}) {
        const Outcome r = run(QStringList{QStringLiteral("compare"), name, name} + other + pairing);
        EXPECT_EQ(r.status, 1) << pairing.join(u' ').toStdString() << r.err.toStdString();
        EXPECT_EQ(r.out, QStringLiteral("Field \"W\" only in otherdb.dbo.%1\n").arg(name));
    }
    const Outcome all = run(
        QStringList{QStringLiteral("compare-databases"), QStringLiteral("--tables"), name} + other);
    EXPECT_EQ(all.status, 1) << all.err.toStdString();
    EXPECT_TRUE(all.out.contains(QStringLiteral("1 column only in one table")))
        << all.out.toStdString();
    QTemporaryDir dir;
    const Outcome fix =
        run(QStringList{QStringLiteral("compare"), name, name, QStringLiteral("--key"),
                        QStringLiteral("auto"), QStringLiteral("--format"), QStringLiteral("sql"),
                        QStringLiteral("--output"), dir.filePath(QStringLiteral("fix.sql"))} +
            other);
    EXPECT_EQ(fix.status, 2) << fix.err.toStdString();
    EXPECT_TRUE(fix.err.contains(QStringLiteral("\"W\" is only in"))) << fix.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("fix.sql"))));
}

// --map pairs a column of the first table with one of the second whatever
// their names; the other columns pair as --fields says.
class ColumnMap : public CommandLine {
protected:
    void SetUp() override {
        CommandLine::SetUp();
        first = table("MapA", QStringLiteral("Id int primary key, cust_id int, Name nvarchar(20)"),
                      {"1, 5, N'Ann'", "2, 6, N'Bob'", "3, 7, N'Cy'"});
        second = table("MapB", QStringLiteral("CustomerID int, Id int, FullName nvarchar(20)"),
                       {"5, 1, N'ANN'", "8, 2, N'Bob'", "7, 3, N'Cy'"});
    }
    Outcome compareWith(const QStringList& options) {
        return run(QStringList{QStringLiteral("compare"), first, second} + options);
    }
    QString first, second;
};

TEST_F(ColumnMap, AMappedColumnPairsByPositionOrByNameAndTheLinesUseTheFirstName) {
    const QString both = QStringLiteral(
        "Record 1,Field \"Name\" has changed from \"Ann\" to \"ANN\"\n"
        "Record 2,Field \"cust_id\" has changed from \"6\" to \"8\"\n");
    // By position the columns the map leaves pair in their order: Id with Id,
    // Name with FullName.
    for (const QStringList& options :
         {QStringList{"--map", "cust_id=CustomerID"},
          QStringList{"--map", "cust_id=CustomerID", "--map", "[Name] = FullName"},
          QStringList{"--map", "CUST_ID=customerid", "--map", "Name=FullName", "--fields",
                      "by-name"}}) {
        const Outcome r = compareWith(options);
        EXPECT_EQ(r.status, 1) << options.join(u' ').toStdString() << r.err.toStdString();
        EXPECT_EQ(r.out, both) << options.join(u' ').toStdString();
    }
    // By name the others still pair by name only.
    Outcome r = compareWith({"--map", "cust_id=CustomerID", "--fields", "by-name"});
    EXPECT_EQ(r.out, QStringLiteral("Field \"Name\" only in %1\nField \"FullName\" only in %2\n"
                                    "Record 2,Field \"cust_id\" has changed from \"6\" to \"8\"\n")
                         .arg(first, second));
    // A value option judges a mapped pair as any other; the summary says the map was on.
    r = compareWith({"--map", "cust_id=CustomerID", "--ignore-case", "--summary"});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out, both.section(u'\n', 1));
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("options: columns mapped: cust_id=CustomerID; case "
                                      "ignored.")))
        << r.err.toStdString();
}

// The key names the first table's columns; the second's key column is the
// one mapped to it, and its rows come in the order of that column.
TEST_F(ColumnMap, AMappedKeyColumnPairsTheRecords) {
    const QString a = table("MapKA", QStringLiteral("cust_id int primary key, Name nvarchar(20)"),
                            {"1, N'Ann'", "2, N'Bob'", "3, N'Cy'"});
    const QString b = table("MapKB", QStringLiteral("Name nvarchar(20), CustomerID int"),
                            {"N'Di', 4", "N'Cyd', 3", "N'Bob', 2"});
    const QString expected = QStringLiteral(
                                 "Record cust_id=3,Field \"Name\" has changed from \"Cy\" to "
                                 "\"Cyd\"\nRecord cust_id=1 deleted from %1\n"
                                 "Record cust_id=4 added from %1\n")
                                 .arg(b);
    for (const QStringList& options :
         {QStringList{"--key", "cust_id"}, QStringList{"--key", "auto"},
          QStringList{"--key", "CUST_ID", "--fields", "by-name"}}) {
        const Outcome r =
            run(QStringList{"compare", a, b, "--map", "cust_id=CustomerID"} + options);
        EXPECT_EQ(r.status, 1) << options.join(u' ').toStdString() << r.err.toStdString();
        EXPECT_EQ(r.out, expected) << options.join(u' ').toStdString();
    }
    // A script names the second table's own columns; by position, where a
    // mapped column moves the others, none is written.
    const QStringList script{"compare", a,         b,          "--map", "cust_id=CustomerID",
                             "--key",   "cust_id", "--format", "sql"};
    Outcome r = run(script + QStringList{"--fields", "by-name"});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("SET [Name] = N'Cy' WHERE [CustomerID] = 3 AND ")))
        << r.out.toStdString();
    r = run(script);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("No script is written when columns are mapped")))
        << r.err.toStdString();
}

// A map that cannot be had is refused before any row is compared, in one line.
TEST_F(ColumnMap, AMapThatCannotBeHadIsRefused) {
    const QString noColumn =
        QStringLiteral("The columns cannot be mapped: %1 has no column \"nope\".\n");
    const std::pair<QStringList, QString> cases[] = {
        {{"compare", first, second, "--map", "nope=CustomerID"}, noColumn.arg(first)},
        {{"compare", first, second, "--map", "cust_id=nope"}, noColumn.arg(second)},
        {{"compare", first, second, "--map", "cust_id=CustomerID", "--map", "CUST_ID=Id"},
         "--map: the first table's column \"CUST_ID\" is mapped twice\n"},
        {{"compare", first, second, "--map", "cust_id=CustomerID", "--map", "Name=customerid"},
         "--map: the second table's column \"customerid\" is mapped twice\n"},
        {{"compare", first, second, "--map", "cust_id=CustomerID", "--ignore", "Id,CustomerID"},
         "--map: the column \"CustomerID\" is mapped: it cannot be left out\n"},
        {{"compare", first, second, "--map", "[cust_id=CustomerID"}, "--map takes FIRST=SECOND"},
        {{"compare", first, second, "--map", "cust_id="}, "--map takes FIRST=SECOND"},
        {{"compare-databases", "--right-database", "otherdb", "--map", "a=b"},
         "compare-databases takes no --map"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("dorvantis: ") + message))
            << r.err.toStdString();
    }
}

class ComparisonOptions : public CommandLine {
protected:
    void SetUp() override {
        CommandLine::SetUp();
        first = table("OptA",
                      QStringLiteral("Id int primary key, Code char(6), Name nvarchar(20), "
                                     "Amount float, Note nvarchar(20), Stamp datetime"),
                      {"1, 'ab', N'Alice', 1.0, N'', '2024-01-01'",
                       "2, 'cd', N'Bob', 2.5, NULL, '2024-01-02'",
                       "3, 'ef', N'Carol', 3.0, N'x', '2024-01-03'",
                       "4, 'gh', N'Dan', 4.0, N'y', '2024-01-04'",
                       "6, 'kl', N'Fay', 6.0, N'z', '2024-01-06'"});
        second = table("OptB",
                       QStringLiteral("Id int primary key, Code varchar(6), Name nvarchar(20), "
                                      "Amount decimal(10,3), Note nvarchar(20), Stamp datetime"),
                       {"1, 'ab', N'alice', 1.004, NULL, '2024-01-01'",
                        "2, 'cd', N'Bob', 2.6, N'', '2024-02-02'",
                        "3, 'ef', N'Carol', 3.0, N'x', '2024-01-03'",
                        "4, 'gh', N'DAN', 4.0, N'y', '2024-01-04'",
                        "5, 'ij', N'Eve', 5.0, N'w', '2024-01-05'"});
    }

    Outcome compareWith(const QStringList& options) {
        return run(QStringList{QStringLiteral("compare"), first, second, QStringLiteral("--key"),
                               QStringLiteral("auto")} +
                   options);
    }

    // "Id=1 Code" for each changed field, "Id=5 added" / "Id=6 deleted" for
    // records: what a run found, whatever the values' texts.
    static QStringList found(const QString& report) {
        static const QRegularExpression changed(
            QStringLiteral("^Record (\\S+),Field \"([^\"]+)\" has changed"));
        static const QRegularExpression record(QStringLiteral("^Record (\\S+) (added|deleted) "));
        QStringList out;
        for (const QString& line : report.split(u'\n', Qt::SkipEmptyParts)) {
            if (const auto m = changed.match(line); m.hasMatch()) {
                out << m.captured(1) + u' ' + m.captured(2);
            } else if (const auto r = record.match(line); r.hasMatch()) {
                out << r.captured(1) + u' ' + r.captured(2);
            } else {
                out << QStringLiteral("unexpected: ") + line;
            }
        }
        return out;
    }

    static QStringList without(QStringList lines, const QStringList& gone) {
        for (const QString& g : gone) EXPECT_TRUE(lines.removeAll(g) == 1) << g.toStdString();
        return lines;
    }

    QString first, second;
};

// Each option takes away exactly the differences it is about, and nothing else.
TEST_F(ComparisonOptions, EachOptionRemovesTheDifferencesItIsAbout) {
    const Outcome plain = compareWith({});
    ASSERT_EQ(plain.status, 1) << plain.err.toStdString();
    const QStringList all = found(plain.out);
    const QStringList codes{"Id=1 Code", "Id=2 Code", "Id=3 Code", "Id=4 Code"};
    ASSERT_EQ(all, QStringList({"Id=1 Code", "Id=1 Name", "Id=1 Amount", "Id=1 Note", "Id=2 Code",
                                "Id=2 Amount", "Id=2 Note", "Id=2 Stamp", "Id=3 Code", "Id=4 Code",
                                "Id=4 Name", "Id=5 added", "Id=6 deleted"}))
        << plain.out.toStdString();

    const std::pair<QStringList, QStringList> cases[] = {
        {{"--trim"}, codes},
        {{"--ignore-case"}, {"Id=1 Name", "Id=4 Name"}},
        {{"--tolerance", "0.01"}, {"Id=1 Amount"}},  // 2.5 against 2.6 stays
        {{"--null-equals-empty"}, {"Id=1 Note", "Id=2 Note"}},
        {{"--ignore", "stamp", "--ignore", "CODE,Name"},
         codes + QStringList{"Id=1 Name", "Id=2 Stamp", "Id=4 Name"}},
        {{"--where", "Id >= 3"},
         {"Id=1 Code", "Id=1 Name", "Id=1 Amount", "Id=1 Note", "Id=2 Code", "Id=2 Amount",
          "Id=2 Note", "Id=2 Stamp"}},
    };
    for (const auto& [options, gone] : cases) {
        const Outcome r = compareWith(options);
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
        EXPECT_EQ(found(r.out), without(all, gone)) << options.join(u' ').toStdString();
    }

    // All of them at once leave the one real change; the second table's own
    // condition leaves Id 5 out of it and Id 6 in.
    Outcome r = compareWith({"--trim", "--ignore-case", "--tolerance", "0.01",
                             "--null-equals-empty", "--ignore", "Stamp"});
    EXPECT_EQ(found(r.out), QStringList({"Id=2 Amount", "Id=5 added", "Id=6 deleted"}));
    r = compareWith({"--where", "Id <= 3", "--right-where", "Id in (1, 2, 3, 5)", "--trim",
                     "--ignore", "Name,Amount,Note,Stamp"});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(found(r.out), QStringList({"Id=5 added"}));
    r = compareWith({"--where", "Id = 3", "--trim"});
    EXPECT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

// --limit 1 stops after the first differing record, with all of its lines,
// and says so in the report; the exit status says differences were found.
TEST_F(ComparisonOptions, ALimitStopsTheRunAndTheReportSaysSo) {
    const Outcome r = compareWith({"--limit", "1", "--summary"});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.takeLast(), QStringLiteral("The comparison stopped after 1 differing record; "
                                               "there may be more."));
    EXPECT_EQ(found(lines.join(u'\n')),
              QStringList({"Id=1 Code", "Id=1 Name", "Id=1 Amount", "Id=1 Note"}));
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("Summary: "))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("at most 1 differing record")))
        << r.err.toStdString();
}

// A condition that would end the statement or comment out the rest of the
// query is refused before anything is sent: the table is still there and
// compares as before.
TEST_F(ComparisonOptions, AConditionThatWouldBreakOutOfTheQueryIsRefused) {
    const Outcome before = compareWith({});
    ASSERT_EQ(before.status, 1) << before.err.toStdString();
    for (const QString& condition : {QStringLiteral("1=1; drop table %1").arg(second),
                                     QStringLiteral("1=1) or (1=1"), QStringLiteral("x = 1 --")}) {
        for (const char* option : {"--where", "--right-where"}) {
            const Outcome r = compareWith({QLatin1String(option), condition});
            EXPECT_EQ(r.status, 2) << condition.toStdString();
            EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
            EXPECT_TRUE(r.err.startsWith(QStringLiteral("dorvantis: %1: ").arg(option)))
                << r.err.toStdString();
        }
    }
    const Outcome after = compareWith({});
    EXPECT_EQ(after.status, 1) << after.err.toStdString();
    EXPECT_EQ(after.out, before.out);
    // A condition no row meets says so: the table itself is not empty.
    const Outcome none = compareWith({QStringLiteral("--right-where"), QStringLiteral("1 = 0")});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(
        none.err,
        QStringLiteral("dorvantis: No record of %1 meets the condition 1 = 0.\n").arg(second));
}

// A report written to a file ends with the run's summary, which CSV and JSON
// readers take back as numbers; standard output carries none.
TEST_F(ComparisonOptions, AReportFileEndsWithASummaryReadersTakeBack) {
    QTemporaryDir dir;
    const QString csvPath = dir.filePath(QStringLiteral("x.csv"));
    const QString jsonPath = dir.filePath(QStringLiteral("x.json"));
    const Outcome csv = compareWith({"--trim", "--output", csvPath, "--format", "csv"});
    const Outcome json = compareWith({"--trim", "--output", jsonPath, "--format", "json"});
    ASSERT_EQ(csv.status, 1) << csv.err.toStdString();
    ASSERT_EQ(json.status, 1) << json.err.toStdString();
    EXPECT_TRUE(csv.out.isEmpty() && json.out.isEmpty());
    const auto read = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };

    // What both formats must say: 5 records read on each side, 4 paired,
    // 3 of them with 7 changed fields once trailing blanks are ignored.
    const std::map<QString, qint64> counts{
        {"first-read", 5},     {"second-read", 5}, {"compared", 4}, {"changed-records", 3},
        {"changed-fields", 7}, {"added", 1},       {"deleted", 1},  {"not-unique", 0}};

    std::map<QString, QString> summary;
    qsizetype differences = 0;
    for (const QString& line : read(csvPath).split(u'\n', Qt::SkipEmptyParts)) {
        const auto fields = CsvFields(line);
        ASSERT_EQ(fields.size(), 5u) << line.toStdString();
        if (fields[0] == QStringLiteral("summary")) {
            ASSERT_TRUE(fields[2] && fields[4]) << line.toStdString();
            summary[*fields[2]] = *fields[4];
        } else if (fields[0] != QStringLiteral("kind")) {
            ++differences;
        }
    }
    EXPECT_EQ(differences, 7 + 2);
    for (const auto& [measure, value] : counts) {
        EXPECT_EQ(summary[measure], QString::number(value)) << measure.toStdString();
    }
    EXPECT_EQ(summary["first-table"], first);
    EXPECT_EQ(summary["second-table"], second);
    EXPECT_EQ(summary["stopped-at-limit"], QStringLiteral("false"));
    EXPECT_EQ(summary["options"], QStringLiteral("trailing blanks ignored"));

    const QStringList jsonLines = read(jsonPath).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(jsonLines.size(), 7 + 2 + 1);
    QJsonParseError error;
    const QJsonObject end = QJsonDocument::fromJson(jsonLines.last().toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << jsonLines.last().toStdString();
    EXPECT_EQ(end.value(QStringLiteral("kind")).toString(), QStringLiteral("summary"));
    for (const auto& [measure, value] : counts) {
        // first-read in CSV is firstRead in JSON.
        QString key;
        for (const QString& word : measure.split(u'-')) {
            key += key.isEmpty() ? word : word.left(1).toUpper() + word.mid(1);
        }
        const QJsonValue v = end.value(key);
        EXPECT_TRUE(v.isDouble()) << key.toStdString();
        EXPECT_EQ(v.toInteger(-1), value) << key.toStdString();
    }
    EXPECT_FALSE(end.value(QStringLiteral("stoppedAtLimit")).toBool(true));
    EXPECT_GE(end.value(QStringLiteral("seconds")).toDouble(-1), 0);
}

// The script that mends the second table, proved by a round trip: compare,
// run the script on the second table through FreeTDS's tsql as the README
// shows, compare again.
class FixScript : public CommandLine {
protected:
    // A table of that name (brackets doubled), its columns and rows.
    static void create(const QString& name, const QString& columns, const QStringList& rows) {
        const QString quoted =
            u'[' + QString(name).replace(QStringLiteral("]"), QStringLiteral("]]")) + u']';
        exec(QStringLiteral("create table %1 (%2)").arg(quoted, columns));
        for (const QString& row : rows) {
            exec(QStringLiteral("insert into %1 values (%2)").arg(quoted, row));
        }
    }

    Outcome script(const QString& a, const QString& b, const QStringList& options = {},
                   int port = tdstest::tdsTestPort()) {
        return run(QStringList{QStringLiteral("compare"), a, b, QStringLiteral("--format"),
                               QStringLiteral("sql"), QStringLiteral("--output"), path()} +
                       options,
                   port);
    }

    // Runs the script file as a user would; what tsql printed.
    QString apply(int port = tdstest::tdsTestPort()) { return applyFile(path(), port); }

    // Runs the script as sqlcmd without -x reads it: $(NAME) anywhere is the
    // environment's value, and a name not defined stops it before it runs.
    QString applyAsSqlcmd() {
        static const QRegularExpression variable(QStringLiteral(R"(\$\(([A-Za-z_][\w-]*)\))"));
        QString text = scriptText();
        for (auto m = variable.match(text); m.hasMatch();
             m = variable.match(text, m.capturedStart())) {
            const QString name = m.captured(1);
            if (!qEnvironmentVariableIsSet(name.toLocal8Bit().constData())) {
                return QStringLiteral("'%1' scripting variable not defined.").arg(name);
            }
            text.replace(m.capturedStart(), m.capturedLength(),
                         qEnvironmentVariable(name.toLocal8Bit().constData()));
        }
        const QString substituted = dir_.filePath(QStringLiteral("sqlcmd.sql"));
        QFile f(substituted);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0);
        f.close();
        return applyFile(substituted, tdstest::tdsTestPort());
    }

    QString applyFile(const QString& file, int port) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        p.setProcessEnvironment(env);
        p.setStandardInputFile(file);
        p.start(QStringLiteral("tsql"),
                {QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                 QString::number(port), QStringLiteral("-U"), QStringLiteral("tester"),
                 QStringLiteral("-P"), QStringLiteral("secret"), QStringLiteral("-D"),
                 QStringLiteral("testdb")});
        EXPECT_TRUE(p.waitForFinished(60000));
        return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    }

    QString path() const { return dir_.filePath(QStringLiteral("fix.sql")); }
    QString scriptText() const {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QTemporaryDir dir_;
};

// Every type the comparison reads, names that need their brackets and
// values at the edges of their types: after the script, no difference.
TEST_F(FixScript, MakesTheSecondTableHoldTheFirstsRecordsExactly) {
    const QString columns = QStringLiteral(
        "[K]]1] int, [K'2] nvarchar(20), [Note; x] nvarchar(max), [\u00c4b c] varchar(20), "
        "Amount decimal(38,10), Cash money, F float, B bit, D date, T time, DT datetime, "
        "DT2 datetime2, Bin varbinary(max), G uniqueidentifier, Big bigint, "
        "primary key ([K]]1], [K'2])");
    const QString a = q(tdstest::tdsUniqueName("FixA")) + QStringLiteral("]'; T\u00e4 b");
    const QString b = q(tdstest::tdsUniqueName("FixB")) + QStringLiteral("]'; T\u00e4 b");
    create(a, columns,
           {QStringLiteral("1, N'a', N'it''s' + NCHAR(10) + N'GO' + NCHAR(13) + NCHAR(10) + "
                           "N'x' + NCHAR(0) + N'\U0001F600', 'plain', "
                           "1234567890.12345, -922337203685.4775, "
                           "1.7976931348623157e308, 1, '0001-01-01', '23:59:59.9999999', "
                           "'1753-01-01 00:00:00.000', '9999-12-31 23:59:59.9999999', 0x, "
                           "'6F9619FF-8B86-D011-B42D-00C04FC964FF', -9223372036854775808"),
            QStringLiteral("1, N'b', N'', '', -0.0000000001, 0, -2.2250738585072014e-308, 0, "
                           "'2024-02-29', '00:00:00', '2024-02-29 13:45:30.997', "
                           "'2024-02-29 13:45:30.1234567', 0x00FF, NULL, 9223372036854775807"),
            QStringLiteral("2, N'x''y', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                           "NULL, NULL, NULL, NULL"),
            QStringLiteral("3, N'only in the first', N'[GO]', 'z', 1, 1, 0.1, 1, '2000-01-01', "
                           "'12:00:00', '2000-01-01 12:00:00', '2000-01-01 12:00:00', 0x01, "
                           "NULL, 3")});
    create(b, columns,
           {QStringLiteral("1, N'a', N'other', 'Plain', 1, 1, 1, 0, '0001-01-02', "
                           "'23:59:59.9999998', '1753-01-01 00:00:00.003', "
                           "'9999-12-31 23:59:59.9999998', NULL, "
                           "'6F9619FF-8B86-D011-B42D-00C04FC964FE', 0"),
            QStringLiteral("1, N'b', NULL, NULL, 0, 0, 0, 1, '2024-02-28', '00:00:01', "
                           "'2024-02-29 13:45:30.993', '2024-02-29 13:45:30.1234568', 0x, "
                           "'6F9619FF-8B86-D011-B42D-00C04FC964FF', 1"),
            QStringLiteral("2, N'x''y', N'', '', 0, 0, 0, 0, '2000-01-01', '00:00:00', "
                           "'2000-01-01 00:00:00', '2000-01-01 00:00:00', 0x, "
                           "'6F9619FF-8B86-D011-B42D-00C04FC964FF', 0"),
            QStringLiteral("4, N'only in the second', NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                           "NULL, NULL, NULL, NULL, NULL, NULL")});
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};

    const Outcome before = run(QStringList{QStringLiteral("compare"), a, b} + byKey);
    ASSERT_EQ(before.status, 1) << before.err.toStdString();
    const Outcome made = script(a, b, byKey);
    ASSERT_EQ(made.status, 1) << made.err.toStdString();
    const QString text = scriptText();
    EXPECT_EQ(text.count(QStringLiteral("\nUPDATE ")), 3) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("\nINSERT ")), 1) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("\nDELETE ")), 1) << text.toStdString();
    // No line of a value can pass for the end of a batch: the session's
    // options, the statements and the end are all.
    EXPECT_EQ(
        text.count(QRegularExpression(QStringLiteral("^GO$"), QRegularExpression::MultilineOption)),
        3)
        << text.toStdString();

    const QString applied = apply();
    EXPECT_FALSE(applied.contains(QStringLiteral("Msg "))) << applied.toStdString();
    const Outcome after = run(QStringList{QStringLiteral("compare"), a, b} + byKey);
    EXPECT_EQ(after.status, 0) << after.out.toStdString() << after.err.toStdString();
    EXPECT_EQ(after.out, QString());
}

// Identity, computed and rowversion columns, keys of several columns, and the
// scripts no table could be mended by.
TEST_F(FixScript, WritesWhatTheServerLetsItAndRefusesWhatWouldNotMend) {
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};
    // An identity key takes its values under IDENTITY_INSERT; a computed
    // column is left to the server.
    const QString identity = QStringLiteral(
        "Id int identity(1,1) primary key, Qty int, Price int, "
        "[Total] AS ([Qty] * [Price])");
    const QString a = q(tdstest::tdsUniqueName("FixIdA"));
    const QString b = q(tdstest::tdsUniqueName("FixIdB"));
    create(a, identity, {"1, 2, 3", "2, 4, 5", "3, 6, 7"});  // Id given: the server takes it
    create(b, identity, {"1, 2, 3", "2, 9, 5", "7, 1, 1"});
    Outcome r = script(a, b, byKey);
    ASSERT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_TRUE(scriptText().contains(QStringLiteral("SET IDENTITY_INSERT")));
    EXPECT_FALSE(scriptText().contains(QStringLiteral("[Total] =")));
    EXPECT_FALSE(apply().contains(QStringLiteral("Msg ")));
    EXPECT_EQ(run(QStringList{QStringLiteral("compare"), a, b} + byKey).status, 0);

    // Refused, exit 2 and no file: by position; a key two records share; an
    // identity value that differs; a rowversion compared.
    const auto refused = [&](const QString& first, const QString& second,
                             const QStringList& options, const QString& why) {
        QFile::remove(path());
        const Outcome o = script(first, second, options);
        EXPECT_EQ(o.status, 2) << why.toStdString() << ": " << o.err.toStdString();
        EXPECT_TRUE(o.err.contains(why)) << o.err.toStdString();
        EXPECT_FALSE(QFile::exists(path())) << why.toStdString();
    };
    refused(a, b, {}, QStringLiteral("--key"));
    const QString cols = QStringLiteral("Grp int, Seq int identity(1,1), V int");
    const QString c = q(tdstest::tdsUniqueName("FixDupA"));
    const QString d = q(tdstest::tdsUniqueName("FixDupB"));
    create(c, cols, {"1, 1, 10", "1, 2, 11", "2, 3, 20"});
    create(d, cols, {"1, 7, 10", "2, 5, 21"});
    refused(c, d,
            {QStringLiteral("--key"), QStringLiteral("Grp"), QStringLiteral("--ignore"),
             QStringLiteral("Seq")},
            QStringLiteral("not unique"));
    refused(c, d, {QStringLiteral("--key"), QStringLiteral("V")}, QStringLiteral("identity"));
    const QString rv = QStringLiteral("Id int primary key, V int, RV rowversion");
    const QString e = q(tdstest::tdsUniqueName("FixRvA"));
    const QString f = q(tdstest::tdsUniqueName("FixRvB"));
    create(e, rv, {"1, 1, 0x01", "2, 2, 0x02"});
    create(f, rv, {"1, 5, 0x03"});
    refused(e, f, byKey, QStringLiteral("rowversion"));
    // Computed by other rules: no column written would change it.
    const QString g = q(tdstest::tdsUniqueName("FixCompA"));
    const QString h = q(tdstest::tdsUniqueName("FixCompB"));
    create(g, QStringLiteral("Id int primary key, Qty int, [Total] AS ([Qty] * 2)"), {"1, 5"});
    create(h, QStringLiteral("Id int primary key, Qty int, [Total] AS ([Qty] * 3)"), {"1, 5"});
    refused(g, h, byKey, QStringLiteral("computed"));
    // Left out, it no longer stands in the way.
    r = script(e, f, byKey + QStringList{QStringLiteral("--ignore"), QStringLiteral("RV")});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_FALSE(apply().contains(QStringLiteral("Msg ")));
    EXPECT_EQ(run(QStringList{QStringLiteral("compare"), e, f, QStringLiteral("--ignore"),
                              QStringLiteral("RV")} +
                  byKey)
                  .status,
              0);
}

// Under a collation without case (and SQL Server's rule that trailing blanks
// do not count), keys the comparison keeps apart are one key to a WHERE: the
// script names each row exactly, and inserts only once what it deletes is gone.
TEST_F(FixScript, KeysTheServerTakesForOneAreEachNamedExactly) {
    tdstest::PrivateServer server({"--collation", "ci"});
    const auto tables = [&](const char* a, const char* b, const QString& columns,
                            const QStringList& first, const QStringList& second) {
        for (const auto& [name, rows] : {std::pair{a, first}, std::pair{b, second}}) {
            exec(QStringLiteral("create table %1 (%2)").arg(QLatin1String(name), columns),
                 server.port());
            for (const QString& row : rows) {
                exec(QStringLiteral("insert into %1 values (%2)").arg(QLatin1String(name), row),
                     server.port());
            }
        }
    };
    const auto mends = [&](const QString& a, const QString& b, const QStringList& options) {
        const Outcome made = script(a, b, options, server.port());
        ASSERT_EQ(made.status, 1) << made.err.toStdString();
        const QString applied = apply(server.port());
        EXPECT_FALSE(applied.contains(QStringLiteral("Msg "))) << applied.toStdString();
        const Outcome after =
            run(QStringList{QStringLiteral("compare"), a, b} + options, server.port());
        EXPECT_EQ(after.status, 0)
            << scriptText().toStdString() << after.out.toStdString() << after.err.toStdString();
    };
    // No unique key: deleting 'A' must not take 'a', nor 'x ' take 'x'.
    tables("Ci1", "Ci2", QStringLiteral("K nvarchar(10), V int"), {"N'a', 1", "N'x', 5"},
           {"N'A', 1", "N'a', 2", "N'x ', 5", "N'x', 6"});
    mends(QStringLiteral("Ci1"), QStringLiteral("Ci2"),
          {QStringLiteral("--key"), QStringLiteral("K")});
    // A primary key whose case alone changed: the old row goes before the new comes.
    tables("Pk1", "Pk2", QStringLiteral("K varchar(10) primary key, V int"), {"'A', 1", "'b', 2"},
           {"'a', 1", "'b', 2"});
    mends(QStringLiteral("Pk1"), QStringLiteral("Pk2"),
          {QStringLiteral("--key"), QStringLiteral("auto")});
}

// Varchar bytes the driver's code-page tables leave unmapped (0x81, 0x8D,
// 0x90 in CP1252) would all come as '?': read converted by the server, they
// differ by stream and by checksum, and a script writes each byte back.
TEST_F(FixScript, BytesTheDriverCannotConvertAreComparedAndWrittenBack) {
    const QString columns = QStringLiteral("K varchar(10) primary key, V varchar(20), T text");
    const QString a = table(
        "BytesA", columns,
        {"'k' + NCHAR(129), 'x' + NCHAR(129), 'a' + NCHAR(144)", "'same', 'y?', 't' + NCHAR(129)"});
    const QString b =
        table("BytesB", columns, {"'k' + NCHAR(141), 'x', 'a'", "'same', 'y' + NCHAR(144), 't?'"});
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};
    const QStringList compare{QStringLiteral("compare"), a, b};
    const Outcome streamed = run(compare + byKey);
    EXPECT_EQ(streamed.status, 1) << streamed.err.toStdString();
    EXPECT_EQ(streamed.out.count(u'\n'), 4) << streamed.out.toStdString();
    const Outcome summed =
        run(compare + byKey + QStringList{QStringLiteral("--method"), QStringLiteral("checksum")});
    EXPECT_EQ(summed.out, streamed.out) << summed.err.toStdString();
    // By position too: the key changed as well.
    EXPECT_EQ(run(compare).out.count(u'\n'), 5);

    ASSERT_EQ(script(a, b, byKey).status, 1);
    const QString applied = apply();
    EXPECT_FALSE(applied.contains(QStringLiteral("Msg "))) << applied.toStdString();
    const Outcome after = run(compare + byKey);
    EXPECT_EQ(after.status, 0) << scriptText().toStdString() << after.out.toStdString();
}

// A comparison under a row condition does not see the whole table: a record
// it missed could be inserted twice, or one outside the condition deleted.
// Another table's key that cascades: deleting a record of the second table
// deletes its records there too, and no INSERT brings them back. Refused
// unless allowed; named in the script; applied as the server applies it.
TEST_F(FixScript, DeletesThatCascadeAreRefusedUnlessAllowed) {
    const QString cols = QStringLiteral("Id int primary key, V int");
    const QString a = table("FixCascA", cols, {"1, 1", "2, 2"});
    const QString b = table("FixCascB", cols, {"1, 1", "2, 5", "3, 3"});
    const QString child = table(
        "FixCascChild",
        QStringLiteral("Id int primary key, P int references [%1](Id) on delete cascade").arg(b),
        {"10, 3", "11, 2"});
    const QString left =
        table("FixCascLeft", QStringLiteral("Id int primary key, P int"), {"11, 2"});
    const QString trigger = q(tdstest::tdsUniqueName("FixCascNoted"));
    exec(QStringLiteral("create trigger [%1] after update on [%2] begin select 1; end")
             .arg(trigger, b));
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};

    const Outcome refused = script(a, b, byKey);
    EXPECT_EQ(refused.status, 2) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(child) && refused.err.contains(QStringLiteral("cascade")))
        << refused.err.toStdString();
    EXPECT_FALSE(QFile::exists(path()));

    const Outcome allowed = script(a, b, byKey + QStringList{QStringLiteral("--allow-cascades")});
    ASSERT_EQ(allowed.status, 1) << allowed.err.toStdString();
    const QString text = scriptText();
    EXPECT_TRUE(text.contains(QStringLiteral("of dbo.%1 references").arg(child)) &&
                text.contains(QStringLiteral("on delete cascade")) &&
                text.contains(QStringLiteral("fire on its statements: %1.").arg(trigger)))
        << text.toStdString();
    const QString applied = apply();
    EXPECT_FALSE(applied.contains(QStringLiteral("Msg "))) << applied.toStdString();
    EXPECT_EQ(run(QStringList{QStringLiteral("compare"), a, b} + byKey).status, 0);
    const Outcome children = run(QStringList{QStringLiteral("compare"), child, left} + byKey);
    EXPECT_EQ(children.status, 0) << children.out.toStdString();
}

// A temporal table's period columns are the server's: they differ in every
// record and take no value, so a comparison by key and its script leave them
// out and mend the rest.
TEST_F(FixScript, PeriodColumnsAreLeftToTheServer) {
    const QString a =
        table("FixTempA",
              QStringLiteral("Id int primary key, V int, ValidFrom datetime2, "
                             "ValidTo datetime2"),
              {"1, 1, '2020-01-01', '2021-01-01'", "2, 2, '2020-01-01', NULL", "3, 3, NULL, NULL"});
    const QString b = table(
        "FixTempB",
        QStringLiteral("Id int primary key, V int, ValidFrom datetime2 GENERATED ALWAYS AS ROW "
                       "START, ValidTo datetime2 GENERATED ALWAYS AS ROW END, PERIOD FOR "
                       "SYSTEM_TIME (ValidFrom, ValidTo)"),
        {});
    exec(QStringLiteral("insert into [%1] (Id, V) values (1, 1)").arg(b));
    exec(QStringLiteral("insert into [%1] (Id, V) values (2, 5)").arg(b));
    exec(QStringLiteral("insert into [%1] (Id, V) values (4, 4)").arg(b));
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};

    const Outcome made = script(a, b, byKey);
    ASSERT_EQ(made.status, 1) << made.err.toStdString();
    EXPECT_TRUE(
        scriptText().contains(QStringLiteral("neither compared nor written: ValidFrom, "
                                             "ValidTo\n")))
        << scriptText().toStdString();
    const QString applied = apply();
    EXPECT_FALSE(applied.contains(QStringLiteral("Msg "))) << applied.toStdString();
    // By key, the period columns are left out of any comparison.
    const Outcome after = run(QStringList{QStringLiteral("compare"), a, b} + byKey);
    EXPECT_EQ(after.status, 0) << after.out.toStdString() << after.err.toStdString();

    // A memory-optimized table takes none of the script's statements.
    const QString memory = table("FixMemory", QStringLiteral("Id int primary key, V int"), {});
    exec(QStringLiteral("drop table [%1]").arg(memory));
    exec(QStringLiteral("create table [%1] (Id int primary key, V int, ValidFrom datetime2, "
                        "ValidTo datetime2) with (memory_optimized = on)")
             .arg(memory));
    exec(QStringLiteral("insert into [%1] values (9, 9, NULL, NULL)").arg(memory));
    QFile::remove(path());
    const Outcome refused = script(a, memory, byKey);
    EXPECT_EQ(refused.status, 2) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("memory-optimized")))
        << refused.err.toStdString();
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(FixScript, AComparisonUnderARowConditionWritesNoScript) {
    const QString cols = QStringLiteral("Id int primary key, V int");
    const QString a = table("FixWhereA", cols, {"1, 1", "2, 2"});
    const QString b = table("FixWhereB", cols, {"1, 1", "2, 2", "3, 3"});
    for (const QString& where : {QStringLiteral("--where"), QStringLiteral("--right-where")}) {
        const Outcome o = script(
            a, b,
            {QStringLiteral("--key"), QStringLiteral("auto"), where, QStringLiteral("Id = 1")});
        EXPECT_EQ(o.status, 2) << where.toStdString() << o.err.toStdString();
        EXPECT_TRUE(o.err.contains(QStringLiteral("row condition"))) << o.err.toStdString();
        EXPECT_FALSE(QFile::exists(path()));
    }
}

// A batch that fails to compile (a column dropped after the comparison) is
// skipped by the server with the transaction still open: the batch after it
// must roll back, so that nothing of the script is committed.
TEST_F(FixScript, ABatchThatFailsLeavesNothingCommitted) {
    // 2500 updates: three batches, the second of which sets only W.
    const QString fill = QStringLiteral(
        "with recursive c(x) as (select 1 union all select x + 1 from c where x < 2500) "
        "insert into [%1] select x, %2, %3 from c");
    const QString cols = QStringLiteral("Id int primary key, V int, W int");
    const QString a = table("FixBatchA", cols, {});
    const QString b = table("FixBatchB", cols, {});
    exec(fill.arg(a, QStringLiteral("x"), QStringLiteral("x")));
    exec(fill.arg(b, QStringLiteral("case when x > 1000 and x <= 2000 then x else -x end"),
                  QStringLiteral("case when x > 1000 and x <= 2000 then -x else x end")));
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};
    ASSERT_EQ(script(a, b, byKey).status, 1);
    ASSERT_EQ(scriptText().count(QStringLiteral("\nGO\n")), 5)
        << "the session's options, three batches and the end";
    exec(QStringLiteral("alter table [%1] drop column W").arg(b));
    const QString applied = apply();
    EXPECT_TRUE(applied.contains(QStringLiteral("Msg 207"))) << applied.toStdString();
    const Outcome after = run(QStringList{QStringLiteral("compare"), a, b,
                                          QStringLiteral("--ignore"), QStringLiteral("W")} +
                              byKey);
    EXPECT_EQ(after.out.count(u'\n'), 1500) << "every V the first and third batches set, undone";
}

// sqlcmd without -I runs a script with QUOTED_IDENTIFIER off, under which
// SQL Server refuses every write to a table with a filtered index: the
// script's own first batch sets what its statements need.
TEST_F(FixScript, RunsInASessionThatStartsWithQuotedIdentifierOff) {
    tdstest::PrivateServer server({"--quoted-identifier", "off"});
    for (const auto& [name, rows] : {std::pair{"QiA", QStringList{"1, 10", "2, 20", "3, 30"}},
                                     std::pair{"QiB", QStringList{"1, 11", "2, 20", "4, 40"}}}) {
        exec(QStringLiteral("create table %1 (Id int primary key, V int)").arg(QLatin1String(name)),
             server.port());
        for (const QString& row : rows) {
            exec(QStringLiteral("insert into %1 values (%2)").arg(QLatin1String(name), row),
                 server.port());
        }
    }
    exec(QStringLiteral("create index QiB_V on QiB (V) where V > 0"), server.port());
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};
    ASSERT_EQ(script(QStringLiteral("QiA"), QStringLiteral("QiB"), byKey, server.port()).status, 1);
    const QString applied = apply(server.port());
    EXPECT_FALSE(applied.contains(QStringLiteral("Msg "))) << applied.toStdString();
    const Outcome after =
        run(QStringList{QStringLiteral("compare"), QStringLiteral("QiA"), QStringLiteral("QiB")} +
                byKey,
            server.port());
    EXPECT_EQ(after.status, 0) << after.out.toStdString();
}

// A value finer than the second table's column can hold (a datetime2's
// ten-millionths into a datetime) is never rounded silently into another:
// the script is refused, naming it; one the column holds is not named.
TEST_F(FixScript, AValueTheColumnCannotHoldIsNamedNotRounded) {
    const QString a = table("FixFineA", QStringLiteral("Id int primary key, D datetime2(7)"),
                            {"1, '2024-01-01T10:00:00.1234567'", "2, '2024-01-01T10:00:00.5'"});
    const QString b = table("FixFineB", QStringLiteral("Id int primary key, D datetime"),
                            {"1, '2024-01-01T10:00:00.123'", "2, '2024-01-01T10:00:00'"});
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};
    const Outcome r = script(a, b, byKey);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Record Id=1: the field \"D\" holds")))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("Record Id=2:"))) << r.err.toStdString();
}

// A script checks its own work: each statement must touch its one row as
// compared, so a script run twice, or after the row changed, undoes itself
// and names the record.
TEST_F(FixScript, AStatementThatDoesNotTouchItsRowAsComparedUndoesTheScript) {
    const QString cols = QStringLiteral("Id int primary key, V int, W int");
    const QString a = table("FixOnceA", cols, {"1, 10, 1", "2, 20, 2", "3, 30, 3"});
    const QString b = table("FixOnceB", cols, {"1, 11, 1", "2, 20, 2", "4, 40, 4"});
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};
    ASSERT_EQ(script(a, b, byKey).status, 1);
    exec(QStringLiteral("update [%1] set W = 5 where Id = 4").arg(b));
    QString applied = apply();
    EXPECT_TRUE(applied.contains(QStringLiteral("Record Id=4 is no longer as it was compared")))
        << applied.toStdString();
    EXPECT_EQ(run(QStringList{QStringLiteral("compare"), a, b} + byKey).out.count(u'\n'), 3)
        << "nothing of the script is left";

    ASSERT_EQ(script(a, b, byKey).status, 1);
    EXPECT_FALSE(apply().contains(QStringLiteral("Msg ")));
    EXPECT_EQ(run(QStringList{QStringLiteral("compare"), a, b} + byKey).status, 0);
    applied = apply();
    EXPECT_TRUE(applied.contains(QStringLiteral("Record Id=1 is no longer as it was compared")))
        << applied.toStdString();
    EXPECT_EQ(run(QStringList{QStringLiteral("compare"), a, b} + byKey).status, 0);
}

// sqlcmd reads $(NAME) wherever it stands: no value, name or comment of a
// script holds one, so the script writes the values compared whatever runs it.
TEST_F(FixScript, ValuesHoldingScriptingVariablesAreWrittenAsTheyAre) {
    const QString cols = QStringLiteral("Id int primary key, V nvarchar(40)");
    const QString a = table(
        "FixVarA", cols,
        {QStringLiteral("1, N'price $(HOME) ok'"), QStringLiteral("2, N'$(NO_SUCH_NAME) x $$(('")});
    const QString b = table("FixVarB", cols, {QStringLiteral("1, N'old'")});
    const QStringList byKey{QStringLiteral("--key"), QStringLiteral("auto")};
    ASSERT_EQ(script(a, b, byKey).status, 1);
    EXPECT_FALSE(scriptText().contains(QStringLiteral("$("))) << scriptText().toStdString();
    const QString applied = applyAsSqlcmd();
    EXPECT_FALSE(applied.contains(QStringLiteral("not defined"))) << applied.toStdString();
    const Outcome again = run(QStringList{QStringLiteral("compare"), a, b} + byKey);
    EXPECT_EQ(again.status, 0) << again.out.toStdString() << applied.toStdString();

    const QString named = table("FixVar$(HOME)", cols, {QStringLiteral("1, N'old'")});
    const Outcome refused = script(a, named, byKey);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("which sqlcmd would replace")))
        << refused.err.toStdString();
}

// A view is named and compared as a table is; what it lacks (a primary key,
// being a table to mend) is refused in words that say so.
TEST_F(CommandLine, AViewIsComparedWhereverATableIs) {
    const QString keyed = QStringLiteral("Id int primary key, V nvarchar(10)");
    const QString first = table("ViewA", keyed, {"1, N'a'", "2, N'b'", "3, N'c'"});
    const QString under = table("ViewB", keyed, {"1, N'a'", "2, N'B'", "4, N'd'"});
    const QString view = q(tdstest::tdsUniqueName("ViewV"));
    exec(QStringLiteral("create view [%1] as select Id, V from [%2]").arg(view, under));

    for (const QStringList& pairing :
         {QStringList{}, QStringList{"--key", "Id"}, QStringList{"--key", "auto"}}) {
        const Outcome fromTable = run(QStringList{"compare", first, under} + pairing);
        const Outcome fromView = run(QStringList{"compare", first, view} + pairing);
        EXPECT_EQ(fromView.status, 1) << fromView.err.toStdString();
        EXPECT_FALSE(fromView.out.isEmpty());
        EXPECT_EQ(fromView.out, QString(fromTable.out).replace(under, view))
            << pairing.join(u' ').toStdString();
    }

    const Outcome autoKey = run(QStringList{"compare", view, first, "--key", "auto"});
    EXPECT_EQ(autoKey.status, 2);
    EXPECT_EQ(
        autoKey.err,
        QStringLiteral("dorvantis: The records cannot be paired by key: %1 is a view, which has no "
                       "primary key. Name the key's columns with --key COLS.\n")
            .arg(view));
    const Outcome byKey = run(QStringList{"compare", view, first, "--key", "Id"});
    EXPECT_EQ(byKey.status, 1) << byKey.err.toStdString();

    const Outcome script =
        run(QStringList{"compare", first, view, "--key", "Id", "--format", "sql"});
    EXPECT_EQ(script.status, 2);
    EXPECT_TRUE(script.err.contains(
        QStringLiteral("No script can mend %1: it is a view, not a table.").arg(view)))
        << script.err.toStdString();
}

// A query takes a table's place on either side, and the lines are those of
// the tables it reads, the side named as the query: by key, by position in
// its own order, against a table, from a file, and on two databases.
TEST_F(CommandLine, QueriesAreComparedAsTablesAre) {
    const QString cols = QStringLiteral("Id int primary key, Name nvarchar(20), Extra int");
    const QString a = table("QueryA", cols, {"1, N'a', 0", "2, N'b', 0", "3, N'c', 0"});
    const QString b = table("QueryB", cols, {"1, N'a', 0", "2, N'B', 0", "4, N'd', 0"});
    const auto select = [](const QString& t, const char* tail = "") {
        return QStringLiteral("select Id, Name from [%1] %2").arg(t, QLatin1String(tail));
    };
    const QStringList key{"--key", "Id"};
    const Outcome tables = run(QStringList{"compare", a, b, "--ignore", "Extra"} + key);
    ASSERT_EQ(tables.status, 1) << tables.err.toStdString();
    const auto named = [&](const QString& first, const QString& second) {
        return QString(tables.out).replace(a, first).replace(b, second);
    };
    const Outcome both =
        run(QStringList{"compare", "--query", select(a), "--right-query", select(b)} + key);
    EXPECT_EQ(both.status, 1) << both.err.toStdString();
    EXPECT_EQ(both.out,
              named(QStringLiteral("the first query"), QStringLiteral("the second query")));
    const Outcome mixed = run(
        QStringList{"compare", a, "--right-query", select(b, "-- all of it"), "--ignore", "Extra"} +
        key);
    EXPECT_EQ(mixed.out, named(a, QStringLiteral("the second query")));

    // By position, in the query's own order; a condition would lose it.
    const Outcome ordered = run({"compare", "--query", select(a, "order by Id desc"),
                                 "--right-query", select(b, "order by Id desc")});
    EXPECT_EQ(ordered.out,
              QStringLiteral("Record 1,Field \"Id\" has changed from \"3\" to \"4\"\n"
                             "Record 1,Field \"Name\" has changed from \"c\" to \"d\"\n"
                             "Record 2,Field \"Name\" has changed from \"b\" to \"B\"\n"));
    EXPECT_EQ(ordered.err, QString());
    const Outcome unordered = run({"compare", "--query", select(a), b});
    EXPECT_TRUE(unordered.err.contains(QStringLiteral(
        "The first query has no ORDER BY: its records are paired by position in the order the "
        "server chooses")))
        << unordered.err.toStdString();
    const Outcome narrowed =
        run({"compare", "--query", select(a, "order by Id desc"), b, "--where", "Id > 1"});
    EXPECT_EQ(narrowed.status, 2);
    EXPECT_TRUE(narrowed.err.contains(QStringLiteral("keeps only when it is run as it is")));

    // From files: named by the file; standard input too.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("before.sql"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(select(a).toUtf8() + "\n;\n");
    f.close();
    const QString piped = dir.filePath(QStringLiteral("piped"));
    QFile p(piped);
    ASSERT_TRUE(p.open(QIODevice::WriteOnly));
    p.write(select(b).toUtf8());
    p.close();
    const Outcome files = run(
        QStringList{"compare", "--query-file", file, "--right-query-file", "-"} + key,
        tdstest::tdsTestPort(), QStringLiteral("secret"),
        [&](QProcess& process, QString&, QStringList&) { process.setStandardInputFile(piped); });
    EXPECT_EQ(files.out, named(QStringLiteral("before.sql"), QStringLiteral("the second query")));

    // One query asked of two databases.
    exec(QStringLiteral("create table [%1] (%2)").arg(a, cols), tdstest::tdsTestPort(), "otherdb");
    for (const char* row : {"1, N'a', 0", "2, N'B', 0", "4, N'd', 0"}) {
        exec(QStringLiteral("insert into [%1] values (%2)").arg(a, QLatin1String(row)),
             tdstest::tdsTestPort(), "otherdb");
    }
    const Outcome across =
        run(QStringList{"compare", "--query", select(a), "--right-database", "otherdb"} + key);
    EXPECT_EQ(across.status, 1) << across.err.toStdString();
    EXPECT_EQ(across.out, named(QStringLiteral("the first query on testdb"),
                                QStringLiteral("the second query on otherdb")));
}

// Nothing but one select reaches the server: each refusal says why, before
// any row is read, and leaves every table as it was.
TEST_F(CommandLine, AQueryThatIsNotASingleSelectIsRefusedAndChangesNothing) {
    const QString cols = QStringLiteral("Id int primary key, Name nvarchar(20)");
    const QString a = table("Guarded", cols, {"1, N'a'", "2, N'b'"});
    const QString copy = table("GuardedCopy", cols, {"1, N'a'", "2, N'b'"});
    const QString into = q(tdstest::tdsUniqueName("Into"));
    const std::vector<std::pair<QStringList, QString>> refused{
        {{"--query", QStringLiteral("select * from [%1]; delete from [%1]").arg(a)},
         "more than one statement"},
        {{"--query", QStringLiteral("select * into [%1] from [%2]").arg(into, a)}, "INTO"},
        {{"--query", QStringLiteral("update [%1] set Name = N'x'").arg(a)}, "starts with update"},
        // Inside the derived table the server reads no second statement.
        {{"--query", QStringLiteral("select * from [%1] /* */ delete from [%1]").arg(a)},
         "Incorrect syntax"},
        {{"--query", QStringLiteral("select 1 as Id) as q; drop table [%1]; select * from (select "
                                    "1 as Id")
                         .arg(a)},
         "never opened"},
        {{"--query", QStringLiteral("select * from [%1]").arg(a), "--map", "nope=Id", "--key",
          "Id"},
         "has no column \"nope\""},
        {{"--query", QStringLiteral("select * from [%1]").arg(a), "--key", "auto"},
         "which has no primary key"},
        {{"--query", QStringLiteral("select * from [%1]").arg(a), "--key", "Id", "--format", "sql"},
         "No script is written from a query"},
    };
    for (const auto& [options, reason] : refused) {
        const Outcome r = run(QStringList{"compare"} + options + QStringList{copy});
        EXPECT_EQ(r.status, 2) << options.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(reason)) << r.err.toStdString();
        EXPECT_EQ(r.out, QString());
    }
    const Outcome after = run({"compare", a, copy});
    EXPECT_EQ(after.status, 0) << after.err.toStdString();
    EXPECT_TRUE(run({"compare", into, copy}).err.contains(QStringLiteral("There is no table")));
}

// What a query or condition hides behind a driver's escape or a number
// glued to a word never reaches the server as a statement of its own: every
// batch that names the table, as a recording relay sees it leave the
// program, is the query inside one derived table, without an exec, and the
// table is still there.
TEST_F(CommandLine, AQueryLeavesTheProgramAsOneSelectOnly) {
    const QString cols = QStringLiteral("Id int primary key");
    const QString victim = table("Victim", cols, {"1", "2"});
    const QString copy = table("VictimCopy", cols, {"1", "2"});
    const QString select = QStringLiteral("select Id from [%1] ").arg(victim);
    const QString call = QStringLiteral("{call sp_rename('%1', 'Gone')}").arg(victim);
    // The options and the exit status: refused before anything is sent, or
    // sent inside the derived table, where the server refuses it.
    const std::vector<std::pair<QStringList, int>> hidden{
        {{"--query", select + QStringLiteral("order by 1 ") + call}, 2},
        {{"--where", QStringLiteral("Id > 0 or %1 is null").arg(call)}, 2},
        {{"--query", select + QStringLiteral("order by 1drop table [%1]").arg(victim)}, 2},
        {{"--query", select + QStringLiteral("order by 1e0delete from [%1]").arg(victim)}, 2},
        {{"--query", select + QStringLiteral("order by 1waitfor delay '00:00:01'")}, 2},
        {{"--query", select + QStringLiteral("order by 1shutdown")}, 2},
        {{"--query", select + QStringLiteral("order by 1drop table [%1]").arg(victim), "--key",
          "Id"},
         2},
    };
    const data_e2e::Relay relay(tdstest::tdsTestPort());
    for (const auto& [options, status] : hidden) {
        const QStringList sides =
            options[0] == QLatin1String("--where") ? QStringList{victim, copy} : QStringList{copy};
        const Outcome r = run(QStringList{"compare"} + options + sides, relay.port());
        EXPECT_EQ(r.status, status) << options.join(u' ').toStdString() << r.err.toStdString();
    }
    const QRegularExpression oneSelect(
        QStringLiteral("^select \\* from \\(select Id from \\[%1\\][^;]*\\) as \\[q\\]")
            .arg(victim));
    int sent = 0;
    std::vector<std::u16string> batches;
    for (const std::string& sent : relay.fromClients()) {
        for (std::u16string& text : data_e2e::SqlBatches(sent)) batches.push_back(std::move(text));
    }
    for (const std::u16string& text : batches) {
        const QString batch = QString::fromStdU16String(text);
        if (!batch.contains(victim)) continue;
        ++sent;
        EXPECT_TRUE(oneSelect.match(batch).hasMatch()) << batch.toStdString();
        EXPECT_FALSE(batch.contains(QStringLiteral("exec"), Qt::CaseInsensitive))
            << batch.toStdString();
    }
    EXPECT_GT(sent, 0);  // the relay saw what the run by key sent
    const Outcome after = run({"compare", victim, copy});
    EXPECT_EQ(after.status, 0) << after.err.toStdString();
}

// Column names that are statement words elsewhere are names in a select;
// a column without a name or with another's cannot be a derived table's,
// and is refused in one line asking for AS names, which then compare.
TEST_F(CommandLine, AQuerysColumnsAreNamedOnceEach) {
    const QString words =
        table("Words", QStringLiteral("Id int, Go int, Throw int"), {"1, 1, 1", "2, 2, 2"});
    const QString wordsB =
        table("WordsB", QStringLiteral("Id int, Go int, Throw int"), {"1, 1, 1", "2, 2, 3"});
    const Outcome named =
        run({"compare", "--query",
             QStringLiteral("select Id, Go, Throw from [%1] order by Id").arg(words), wordsB});
    EXPECT_EQ(named.status, 1) << named.err.toStdString();
    EXPECT_EQ(named.out,
              QStringLiteral("Record 2,Field \"Throw\" has changed from \"2\" to \"3\"\n"));

    // Each refused query, its aliased version and the table that holds what that reads.
    const QString count = table("Counted", QStringLiteral("n int"), {"2"});
    const QString joined = table("Joined", QStringLiteral("Id int, Go int, BId int, BGo int"),
                                 {"1, 1, 1, 1", "2, 2, 2, 2"});
    const QString join = QStringLiteral("from [%1] A join [%2] B on A.Id = B.Id order by 1");
    const std::vector<std::array<QString, 4>> queries{
        {QStringLiteral("select count(*) from [%1] order by 1").arg(words),
         QStringLiteral("select count(*) AS n from [%1] order by 1").arg(words), count,
         "a column of it has no name. Name each such column with AS"},
        {QStringLiteral("select * ") + join.arg(words, wordsB),
         QStringLiteral("select A.Id, A.Go, B.Id AS BId, B.Go AS BGo ") + join.arg(words, wordsB),
         joined, "two of its columns have the same name. Give each its own name with AS"},
    };
    for (const auto& [refused, aliased, against, said] : queries) {
        const Outcome r = run({"compare", "--query", refused, against});
        EXPECT_EQ(r.status, 2) << refused.toStdString();
        EXPECT_TRUE(r.err.startsWith(
            QStringLiteral("dorvantis: The first query cannot be compared: ") + said))
            << r.err.toStdString();
        EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
        const Outcome a = run({"compare", "--query", aliased, against});
        EXPECT_EQ(a.status, 0) << aliased.toStdString() << a.err.toStdString();
    }
}

// "Show views" lists the database's views in both lists, and "Next >" on a
// view shows the lines the command prints.
TEST_F(CommandLine, ShowViewsListsViewsTheWindowCompares) {
    const QString first = table("WinViewA", QStringLiteral("Id int, V int"), {"1, 1", "2, 2"});
    const QString under = table("WinViewB", QStringLiteral("Id int, V int"), {"1, 1", "2, 3"});
    const QString view = q(tdstest::tdsUniqueName("WinViewV"));
    exec(QStringLiteral("create view [%1] as select Id, V from [%2]").arg(view, under));
    const Outcome command = run(QStringList{"compare", first, view});
    ASSERT_EQ(command.status, 1) << command.err.toStdString();

    testing_support::RecordingMessageBoxes boxes;
    testing_support::RecordingShell shell;
    windows::WindowRegistry registry(
        windows::Services{boxes, shell, data::OdbcDataAccess(), config_.path(), [] {}});
    LogIn(registry);
    windows::TableSelectionWindow& f2 = registry.tableSelectionWindow();
    const auto indexOf = [](windows::TableListView* list, const QString& name) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(0) == name) return i + 1;
        }
        return 0;
    };
    ASSERT_FALSE(f2.showViewsBox()->isChecked());
    EXPECT_GT(indexOf(f2.firstTables(), first), 0);
    EXPECT_EQ(indexOf(f2.secondTables(), view), 0) << "views stay out by default";

    f2.showViewsBox()->click();
    ASSERT_TRUE(f2.showViewsBox()->isChecked());
    EXPECT_GT(indexOf(f2.firstTables(), view), 0);
    ASSERT_GT(indexOf(f2.secondTables(), view), 0);
    EXPECT_EQ(connection::SettingsStore().read(connection::kShowViewsSetting), QStringLiteral("1"));

    f2.firstTables()->Select(indexOf(f2.firstTables(), first));
    f2.secondTables()->Select(indexOf(f2.secondTables(), view));
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    EXPECT_EQ(ResultLines(registry), command.out.split(u'\n', Qt::SkipEmptyParts));
    EXPECT_TRUE(boxes.boxes.empty());

    // By key a view first needs its key named: the box says where.
    QTest::mouseClick(registry.resultsWindow().backButton(), Qt::LeftButton);
    f2.firstTables()->Select(indexOf(f2.firstTables(), view));
    f2.secondTables()->Select(indexOf(f2.secondTables(), first));
    f2.pairRecordsByKeyBox()->setChecked(true);
    QTest::mouseClick(f2.nextButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 1U);
    EXPECT_TRUE(boxes.boxes[0].text.contains(
        QStringLiteral("%1 is a view, which has no primary key. Tick its key's columns").arg(view)))
        << boxes.boxes[0].text.toStdString();
}

// Two whole databases: tables of one test's own (a name prefix no other test
// uses), chosen by --tables, so that tests running beside it add nothing.
class DatabaseComparison : public CommandLine {
protected:
    void SetUp() override {
        CommandLine::SetUp();
        prefix = q(tdstest::tdsUniqueName("Dbs"));
    }

    // The table prefix_name in testdb (first) or otherdb (second).
    void create(const std::string& database, const QString& name, const QString& columns,
                const QStringList& rows, int port = tdstest::tdsTestPort()) {
        const QString table = prefix + u'_' + name;
        exec(QStringLiteral("create table [%1] (%2)").arg(table, columns), port, database);
        for (const QString& row : rows) {
            exec(QStringLiteral("insert into [%1] values (%2)").arg(table, row), port, database);
        }
    }

    Outcome compareDatabases(const QStringList& options) {
        return run(QStringList{QStringLiteral("compare-databases"), QStringLiteral("--tables"),
                               prefix + QStringLiteral("_*")} +
                   options);
    }

    // What the text report says of each table, by its name without the prefix.
    std::map<QString, QString> results(const QString& report) const {
        std::map<QString, QString> out;
        for (const QString& line : report.split(u'\n', Qt::SkipEmptyParts)) {
            if (!line.startsWith(prefix)) continue;
            const QStringList parts = line.split(QStringLiteral("  "), Qt::SkipEmptyParts);
            if (parts.size() < 3) continue;
            out[parts[0].trimmed().mid(prefix.size() + 1)] =
                parts[1].trimmed() + u'|' + parts.mid(2).join(QStringLiteral("  ")).trimmed();
        }
        return out;
    }

    QString prefix;
};

// Each kind of pair once, the tables one database has alone, the pattern
// options, and the three formats read back by their parsers.
TEST_F(DatabaseComparison, ReportsEveryPairAndTableAloneAndTheWorstInTheStatus) {
    const QString keyed = QStringLiteral("Id int primary key, V nvarchar(10)");
    for (const std::string db : {"testdb", "otherdb"}) {
        const bool first = db == "testdb";
        create(db, QStringLiteral("Same"), keyed, {"1, 'a'", "2, 'b'"});
        create(db, QStringLiteral("Differ"), keyed,
               first ? QStringList{"1, 'a'", "2, 'b'", "3, 'c'"}
                     : QStringList{"1, 'a'", "2, 'B'", "4, 'd'"});
        create(db, QStringLiteral("Empty"), keyed, {});
        create(db, QStringLiteral("NoKey"), QStringLiteral("Id int, V int"), {"1, 1", "2, 2"});
        create(db, QStringLiteral("Columns"),
               first ? QStringLiteral("Id int primary key, A int")
                     : QStringLiteral("Id int primary key, A int, B int"),
               first ? QStringList{"1, 1"} : QStringList{"1, 1, 9"});
        create(db, first ? QStringLiteral("OnlyFirst") : QStringLiteral("OnlySecond"), keyed,
               {"1, 'a'"});
        create(db, QStringLiteral("Skipped"), keyed, {first ? "1, 'a'" : "1, 'z'"});
    }
    const QStringList options{QStringLiteral("--right-database"),
                              QStringLiteral("otherdb"),
                              QStringLiteral("--key"),
                              QStringLiteral("auto"),
                              QStringLiteral("--fields"),
                              QStringLiteral("by-name"),
                              QStringLiteral("--exclude"),
                              QStringLiteral("*skipped")};
    const Outcome text = compareDatabases(options);
    EXPECT_EQ(text.status, 1) << text.out.toStdString() << text.err.toStdString();
    const std::map<QString, QString> expected{
        {"Same", "by key|same"},
        {"Differ", "by key|differ: 1 changed (1 field), 1 added, 1 deleted"},
        {"Empty", "by key|same (both empty)"},
        {"NoKey", "by position|same"},
        {"Columns",
         "by key|differ: 0 changed (0 fields), 0 added, 0 deleted, 1 column only in "
         "one table"},
        {"OnlyFirst", "-|only in testdb"},
        {"OnlySecond", "-|only in otherdb"}};
    EXPECT_EQ(results(text.out), expected) << text.out.toStdString();
    EXPECT_TRUE(text.out.trimmed().endsWith(
        QStringLiteral("7 tables: 3 the same, 2 differ, 0 not compared, 1 only in testdb, 1 only "
                       "in otherdb.")))
        << text.out.toStdString();

    // CSV and JSON say the same, with the counts in fields of their own.
    const Outcome csv = compareDatabases(options + QStringList{"--format", "csv"});
    std::map<QString, QString> kinds;
    for (const QString& line : csv.out.split(u'\n', Qt::SkipEmptyParts).mid(1)) {
        const auto fields = CsvFields(line);
        ASSERT_EQ(fields.size(), 14u) << line.toStdString();
        if (fields[0] == QStringLiteral("total")) continue;
        kinds[fields[1]->mid(prefix.size() + 1)] =
            *fields[0] + (fields[5] ? u'/' + *fields[5] : QString());
    }
    EXPECT_EQ(kinds, (std::map<QString, QString>{{"Same", "same"},
                                                 {"Differ", "differ/1"},
                                                 {"Empty", "same"},
                                                 {"NoKey", "same"},
                                                 {"Columns", "differ/0"},
                                                 {"OnlyFirst", "only-in-first"},
                                                 {"OnlySecond", "only-in-second"}}));
    const Outcome json = compareDatabases(options + QStringList{"--format", "json", "--details"});
    int differences = 0;
    for (const QString& line : json.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        ASSERT_FALSE(o.isEmpty()) << line.toStdString();
        if (o.value(QStringLiteral("kind")) == QStringLiteral("differ") &&
            o.value(QStringLiteral("table")).toString() == prefix + QStringLiteral("_Differ")) {
            EXPECT_EQ(o.value(QStringLiteral("added")).toInt(), 1);
            EXPECT_EQ(o.value(QStringLiteral("pairing")).toString(), QStringLiteral("key"));
        } else if (o.value(QStringLiteral("pair")).toString() ==
                   prefix + QStringLiteral("_Differ")) {
            ++differences;  // its own lines, each naming its pair
        }
    }
    EXPECT_EQ(differences, 3) << json.out.toStdString();
}

// What could make a report lie: table names with a line feed or a
// right-to-left override (one pair must stay one line, read in its order),
// patterns over them, text keys NULL, 'NULL' and one with a quote, a column
// named with a comma, and a condition no row meets.
TEST_F(DatabaseComparison, NamesKeysAndConditionsCannotForgeTheReport) {
    const QString lf = QStringLiteral("odd\nname"), rtl = QStringLiteral("rtl\u202Etxt");
    for (const std::string db : {"testdb", "otherdb"}) {
        const bool first = db == "testdb";
        const QString v = first ? QStringLiteral("1") : QStringLiteral("2");
        create(db, lf, QStringLiteral("Id int primary key, V int"), {"1, " + v});
        create(db, rtl, QStringLiteral("Id int primary key, V int"), {"1, " + v});
        create(db, QStringLiteral("Keys"), QStringLiteral("K nvarchar(9) primary key, V int"),
               {"NULL, " + v, "N'NULL', " + v, "N'a\"b', " + v});
        create(db, QStringLiteral("Comma"), QStringLiteral("Id int, [a,b] int, V int"),
               {"1, " + v + ", 9"});
    }
    const QStringList options{"--right-database", "otherdb", "--key", "auto", "--details"};
    const QString shownLf = QStringLiteral("odd\u240Aname"),
                  shownRtl = QStringLiteral("rtl<U+202E>txt");
    const QString one = QStringLiteral("by key|differ: 1 changed (1 field), 0 added, 0 deleted");
    const Outcome text = compareDatabases(options);
    EXPECT_EQ(text.status, 1) << text.err.toStdString();
    EXPECT_FALSE(text.out.contains(u'\u202E'));
    EXPECT_EQ(results(text.out),
              (std::map<QString, QString>{
                  {shownLf, one},
                  {shownRtl, one},
                  {"Keys", "by key|differ: 3 changed (3 fields), 0 added, 0 deleted"},
                  {"Comma", "by position|differ: 1 changed (1 field), 0 added, 0 deleted"}}))
        << text.out.toStdString();
    for (const QString key : {"K=NULL,", "K=\"NULL\",", "K=\"a\"\"b\","}) {
        EXPECT_TRUE(text.out.contains(QStringLiteral("_Keys: Record ") + key)) << key.toStdString();
    }
    EXPECT_TRUE(text.out.contains(prefix + u'_' + shownLf + QStringLiteral(": Record Id=1,")));

    // CSV and JSON keep the exact names and keys, quoted and escaped: each
    // pair's kind and each difference's record, by table.
    QStringList csv, json;
    const Outcome c = compareDatabases(options + QStringList{"--format", "csv"});
    for (const QString& record : CsvRecords(c.out).mid(1)) {
        const auto f = CsvFields(record);
        ASSERT_EQ(f.size(), 14u) << record.toStdString();
        if (f[1]) csv << f[1]->mid(prefix.size() + 1) + u'|' + f[10].value_or(*f[0]);
    }
    const Outcome j = compareDatabases(options + QStringList{"--format", "json"});
    for (const QString& line : j.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QVariantMap o = QJsonDocument::fromJson(line.toUtf8()).toVariant().toMap();
        ASSERT_FALSE(o.isEmpty()) << line.toStdString();
        const QString table = o.value("pair", o.value("table")).toString();
        if (!table.isEmpty())
            json << table.mid(prefix.size() + 1) + u'|' +
                        o.value(o.contains("pair") ? "record" : "kind").toString();
    }
    QStringList exact{lf + "|differ",      rtl + "|differ", "Keys|differ", "Comma|differ",
                      lf + "|Id=1",        rtl + "|Id=1",   "Keys|K=NULL", "Keys|K=\"NULL\"",
                      "Keys|K=\"a\"\"b\"", "Comma|1"};
    exact.sort();
    csv.sort();
    json.sort();
    EXPECT_EQ(csv, exact) << c.out.toStdString();
    EXPECT_EQ(json, exact) << j.out.toStdString();

    // Patterns match a line feed like any character.
    const Outcome excluded = compareDatabases(
        {"--right-database", "otherdb", "--exclude", "*odd?name", "--exclude", "*_keys"});
    EXPECT_EQ(results(excluded.out),
              (std::map<QString, QString>{
                  {shownRtl, "by position|differ: 1 changed (1 field), 0 added, 0 deleted"},
                  {"Comma", "by position|differ: 1 changed (1 field), 0 added, 0 deleted"}}))
        << excluded.out.toStdString();

    // A condition no row meets says so, as compare does; a bracketed name
    // with a comma is one column.
    const Outcome narrowed =
        compareDatabases({"--right-database", "otherdb", "--where", "V > 5", "--ignore", "[a,b]"});
    EXPECT_EQ(narrowed.status, 0) << narrowed.out.toStdString() << narrowed.err.toStdString();
    const std::map<QString, QString> found = results(narrowed.out);
    EXPECT_EQ(found.at("Comma"), "by position|same");
    EXPECT_TRUE(
        found.at("Keys").startsWith(QStringLiteral("by position|same: No record of testdb.dbo.") +
                                    prefix + QStringLiteral("_Keys meets the condition V > 5.")))
        << found.at("Keys").toStdString();
}

// The summary counts every kind of difference its lines hold, a column only
// one table has among them; two tables without rows hold the same data, for
// compare as for compare-databases.
TEST_F(DatabaseComparison, CountsAddUpAndTwoEmptyTablesAreTheSame) {
    create("testdb", QStringLiteral("Wide"), QStringLiteral("Id int"), {"1"});
    create("otherdb", QStringLiteral("Wide"), QStringLiteral("Id int, w int"), {"1, 2"});
    const QString wide = prefix + QStringLiteral("_Wide");
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("wide.csv"));
    const Outcome counted = run({"compare", wide, wide, "--right-database", "otherdb", "--summary",
                                 "--format", "csv", "--output", csv});
    EXPECT_EQ(counted.status, 1) << counted.err.toStdString();
    EXPECT_TRUE(counted.err.contains(
        QStringLiteral("0 added, 0 deleted, 0 not unique, 1 column only in one table; ")))
        << counted.err.toStdString();
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(report.contains(QStringLiteral("field-only,,\"w\",,")));
    EXPECT_TRUE(report.contains(QStringLiteral("\nsummary,,columns-only-in-one,,1\n")))
        << report.toStdString();

    create("testdb", QStringLiteral("None"), QStringLiteral("Id int"), {});
    create("otherdb", QStringLiteral("None"), QStringLiteral("Id int"), {});
    const QString none = prefix + QStringLiteral("_None");
    const Outcome empty = run({"compare", none, none, "--right-database", "otherdb"});
    EXPECT_EQ(empty.status, 0) << empty.err.toStdString();
    EXPECT_EQ(empty.out, QString());
    EXPECT_EQ(empty.err, QStringLiteral("dorvantis: same (both empty)\n"));
    const Outcome databases =
        run({"compare-databases", "--tables", none, "--right-database", "otherdb"});
    EXPECT_EQ(databases.status, 0) << databases.err.toStdString();
    EXPECT_EQ(results(databases.out),
              (std::map<QString, QString>{{"None", "by position|same (both empty)"}}));
}

// A line break, a quote or a comma in a column name or a value stays inside
// its field of the details: every row of the same width, the values whole.
TEST_F(DatabaseComparison, CsvDetailsKeepLineBreaksInsideTheirFields) {
    const QString column = QStringLiteral("co\"l\n,x");
    const QString from = QStringLiteral("a\nb,\"c\""), to = QStringLiteral("d\r\ne");
    const auto literal = [](QString v) {
        return "N'" + v.replace(u'\'', QStringLiteral("''")) + u'\'';
    };
    create("testdb", QStringLiteral("Br"),
           QStringLiteral("Id int primary key, [%1] nvarchar(20)").arg(column),
           {"1, " + literal(from)});
    create("otherdb", QStringLiteral("Br"),
           QStringLiteral("Id int primary key, [%1] nvarchar(20)").arg(column),
           {"1, " + literal(to)});
    const Outcome c = compareDatabases(
        {"--right-database", "otherdb", "--key", "auto", "--details", "--format", "csv"});
    EXPECT_EQ(c.status, 1) << c.err.toStdString();
    int changed = 0;
    for (const QString& record : CsvRecords(c.out)) {
        const auto f = CsvFields(record);
        ASSERT_EQ(f.size(), 14u) << record.toStdString();
        if (f[0] != QStringLiteral("changed")) continue;
        ++changed;
        EXPECT_EQ(f[1], prefix + QStringLiteral("_Br"));
        EXPECT_EQ(f[10], QStringLiteral("Id=1"));
        EXPECT_EQ(f[11], column);
        EXPECT_EQ(f[12], from);
        EXPECT_EQ(f[13], to);
    }
    EXPECT_EQ(changed, 1) << c.out.toStdString();
}

// A pair that cannot be compared ends only itself; the others are compared
// and the status says 2. The second database may be on another server.
// Views take part only with --views, paired by name as tables are; having
// no primary key, they are paired by position under --key auto.
TEST_F(DatabaseComparison, ViewsArePairedByNameWithTheViewsOption) {
    for (const std::string db : {"testdb", "otherdb"}) {
        const bool first = db == "testdb";
        create(db, QStringLiteral("Base"), QStringLiteral("Id int primary key, V int"),
               first ? QStringList{"1, 1", "2, 2"} : QStringList{"1, 1", "2, 5"});
        exec(QStringLiteral("create view [%1_View] as select Id, V from [%1_Base] where Id > 1")
                 .arg(prefix),
             tdstest::tdsTestPort(), db);
        if (first) {
            exec(QStringLiteral("create view [%1_Alone] as select Id from [%1_Base]").arg(prefix));
        }
    }
    const QStringList options{"--right-database", "otherdb", "--key", "auto"};
    const Outcome tables = compareDatabases(options);
    EXPECT_EQ(results(tables.out),
              (std::map<QString, QString>{{"Base",
                                           "by key|differ: 1 changed (1 field), 0 added, "
                                           "0 deleted"}}))
        << tables.out.toStdString();

    const Outcome views = compareDatabases(options + QStringList{"--views"});
    EXPECT_EQ(views.status, 1) << views.err.toStdString();
    EXPECT_EQ(results(views.out),
              (std::map<QString, QString>{
                  {"Base", "by key|differ: 1 changed (1 field), 0 added, 0 deleted"},
                  {"View", "by position|differ: 1 changed (1 field), 0 added, 0 deleted"},
                  {"Alone", "-|only in testdb"}}))
        << views.out.toStdString();
    EXPECT_EQ(run({"compare", "--views", "a", "b"}).status, 2) << "compare-databases alone";
}

TEST_F(DatabaseComparison, APairThatCannotBeComparedEndsOnlyItself) {
    tdstest::PrivateServer other({});
    const int port = other.port();
    for (const int at : {tdstest::tdsTestPort(), port}) {
        const bool first = at == tdstest::tdsTestPort();
        create("testdb", QStringLiteral("A"), QStringLiteral("Id int primary key, V int"),
               {first ? "1, 1" : "1, 2"}, at);
        // Keys of numbers against keys of texts cannot pair.
        create("testdb", QStringLiteral("B"),
               first ? QStringLiteral("Id int primary key")
                     : QStringLiteral("Id nvarchar(5) primary key"),
               {"1"}, at);
        create("testdb", QStringLiteral("C"), QStringLiteral("Id int primary key"),
               first ? QStringList{"1"} : QStringList{}, at);
    }
    const Outcome r =
        compareDatabases({QStringLiteral("--right-server"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("--right-port"), QString::number(port),
                          QStringLiteral("--key"), QStringLiteral("auto")});
    EXPECT_EQ(r.status, 2) << r.out.toStdString() << r.err.toStdString();
    const std::map<QString, QString> found = results(r.out);
    EXPECT_EQ(found.at(QStringLiteral("A")),
              QStringLiteral("by key|differ: 1 changed (1 field), 0 added, 0 deleted"));
    EXPECT_TRUE(found.at(QStringLiteral("B")).startsWith(QStringLiteral("by key|not compared: ")))
        << found.at(QStringLiteral("B")).toStdString();
    EXPECT_TRUE(found.at(QStringLiteral("C")).contains(QStringLiteral("does not contain any data")))
        << found.at(QStringLiteral("C")).toStdString();

    // The same database twice is refused before anything is read.
    const Outcome same = compareDatabases({});
    EXPECT_EQ(same.status, 2);
    EXPECT_TRUE(same.err.contains(QStringLiteral("--right-database"))) << same.err.toStdString();
}

}  // namespace

// The checksum method: both servers hash ranges of keys, only ranges that
// differ are read; what it writes must be exactly what streaming writes.
class Checksums : public CommandLine {
protected:
    // n records of every hashed type, keyed by Id; changed(i) gives record
    // i's values in the second table (an empty text: record i is not there).
    QString filled(const char* prefix, int n, const std::function<QString(int)>& values,
                   int port = tdstest::tdsTestPort()) {
        const QString name = q(tdstest::tdsUniqueName(prefix));
        exec(QStringLiteral("create table [%1] (Id int primary key, Small smallint, Amount "
                            "decimal(12,3), F float, Note nvarchar(max), Code varchar(20), "
                            "Bin varbinary(max), DT datetime2, D date, G uniqueidentifier, B bit)")
                 .arg(name),
             port);
        QStringList rows;
        for (int i = 1; i <= n; ++i) {
            const QString v = values(i);
            if (!v.isEmpty()) rows << QStringLiteral("(%1, %2)").arg(i).arg(v);
            if (rows.size() == 500 || (i == n && !rows.isEmpty())) {
                exec(QStringLiteral("insert into [%1] values %2").arg(name, rows.join(u',')), port);
                rows.clear();
            }
        }
        return name;
    }
    static QString plain(int i) {
        return QStringLiteral(
                   "%1, %2.125, %3.5, N'note %1', 'c%1', 0x%4, '2024-01-02 03:04:05.1234567', "
                   "'2024-01-02', '6F9619FF-8B86-D011-B42D-00C04FC9%5', %6")
            .arg(i % 300)
            .arg(i)
            .arg(-i)
            .arg(QString::number(i, 16).rightJustified(4, u'0'))
            .arg(QString::number(i % 65536, 16).rightJustified(4, u'0'))
            .arg(i % 2);
    }
};

TEST_F(Checksums, WriteExactlyTheLinesOfAStreamingRun) {
    const int n = 3000;
    const QString a = filled("SumA", n, [](int i) {
        if (i == 10) return QStringLiteral("1, 1, 1, N'a|b', 'c', 0x, NULL, NULL, NULL, 0");
        if (i == 20) return QStringLiteral("1, 1, 1, N'x', 'x', 0x00, NULL, NULL, NULL, 0");
        if (i == 30) return QStringLiteral("1, 1, 1, NULL, 'a', NULL, NULL, NULL, NULL, 0");
        // Beyond 8,000 bytes, differing only at its end.
        if (i == 40)
            return QStringLiteral("1, 0, 0, N'%1a', 'A', NULL, NULL, NULL, NULL, 0")
                .arg(QStringLiteral("long").repeated(3000));
        return plain(i);
    });
    const QString b = filled("SumB", n + 3, [](int i) {
        if (i == 10) return QStringLiteral("1, 1, 1, N'a', 'b|c', 0x, NULL, NULL, NULL, 0");
        if (i == 20) return QStringLiteral("1, 1, 1, N'x ', 'x', 0x0000, NULL, NULL, NULL, 0");
        if (i == 30) return QStringLiteral("1, 1, 1, N'', 'a', NULL, NULL, NULL, NULL, 0");
        if (i == 40)
            return QStringLiteral("1, 0, -0.0, N'%1b', 'a', NULL, NULL, NULL, NULL, 0")
                .arg(QStringLiteral("long").repeated(3000));
        if (i == 700) return QString();  // deleted
        if (i == 1500)
            return plain(i).replace(QStringLiteral("'c1500'"), QStringLiteral("'C1500'"));
        if (i == 2222)
            return plain(i).replace(QStringLiteral("03:04:05.1234567"),
                                    QStringLiteral("03:04:05.1234568"));
        return plain(i);
    });
    for (const QStringList& options :
         {QStringList{}, QStringList{"--ignore-case", "--trim"}, QStringList{"--ignore", "Note"},
          QStringList{"--limit", "3"}}) {
        const QStringList run_{"compare", a, b, "--key", "Id", "--summary"};
        const Outcome streamed = run(run_ + options);
        const Outcome summed =
            run(run_ + options + QStringList{"--method", "checksum", "--segment-rows", "128"});
        ASSERT_EQ(streamed.status, 1) << streamed.err.toStdString();
        EXPECT_EQ(summed.status, streamed.status) << summed.err.toStdString();
        EXPECT_EQ(summed.out, streamed.out) << options.join(u' ').toStdString();
        // The counts add up: every record of the first table was either
        // verified by checksum or read.
        const QRegularExpression counts(QStringLiteral(
            "Summary: (\\d+) records? read from .*checksums: (\\d+) records? verified by checksum "
            "in (\\d+) ranges"));
        const QRegularExpressionMatch m = counts.match(summed.err);
        ASSERT_TRUE(m.hasMatch()) << summed.err.toStdString();
        if (!options.contains(QStringLiteral("--limit"))) {
            EXPECT_EQ(m.captured(1).toLongLong() + m.captured(2).toLongLong(), n);
            EXPECT_LT(m.captured(1).toLongLong(), n / 4) << "most records were not read";
        }
    }
    // A key of two columns, a text among them: ranges bounded by both.
    const auto pairs = [&](const char* prefix, int changed) {
        const QString name = q(tdstest::tdsUniqueName(prefix));
        exec(QStringLiteral("create table [%1] (A int, B nvarchar(10), V int, primary key (A, B))")
                 .arg(name));
        QStringList rows;
        for (int i = 0; i < 600; ++i) {
            rows << QStringLiteral("(%1, N'k%2', %3)").arg(i / 7).arg(i % 7).arg(i == changed);
        }
        exec(QStringLiteral("insert into [%1] values %2").arg(name, rows.join(u',')));
        return name;
    };
    const QString pa = pairs("SumPairA", -1);
    const QString pb = pairs("SumPairB", 333);
    const QStringList byPair{"compare", pa, pb, "--key", "A,B"};
    const Outcome pairStreamed = run(byPair);
    EXPECT_EQ(pairStreamed.out, QStringLiteral("Record (A=47,B=\"k4\"),Field \"V\" has changed "
                                               "from \"0\" to \"1\"\n"));
    EXPECT_EQ(run(byPair + QStringList{"--method", "checksum", "--segment-rows", "32"}).out,
              pairStreamed.out);

    // Most of it differs but its first range: hashing stops, the range
    // verified stays unread, the rest is read.
    const QString e = filled("SumE", n, plain);
    const QString d = filled("SumD", n, [](int i) { return i <= 128 ? plain(i) : plain(i + 1); });
    const QStringList mostly{"compare", e, d, "--key", "Id", "--summary"};
    const Outcome stopped =
        run(mostly + QStringList{"--method", "checksum", "--segment-rows", "128"});
    EXPECT_EQ(stopped.out, run(mostly).out);
    EXPECT_TRUE(stopped.err.contains(QStringLiteral("hashing stopped there")))
        << stopped.err.toStdString();
    EXPECT_TRUE(stopped.err.contains(QStringLiteral("Summary: 2872 records read")))
        << stopped.err.toStdString();

    // Hardly anything alike: the tables are read whole, and the summary says so.
    const QString c = filled("SumC", n, [](int i) { return plain(i + 1); });
    const Outcome whole = run({"compare", a, c, "--key", "Id", "--summary", "--method", "checksum",
                               "--segment-rows", "128"});
    EXPECT_EQ(whole.out, run({"compare", a, c, "--key", "Id"}).out);
    EXPECT_TRUE(whole.err.contains(QStringLiteral("the tables were read whole")))
        << whole.err.toStdString();

    // A block of records the second table lacks: its ranges hold none on one
    // side, and are read as they are rather than split.
    const QString holed =
        filled("SumH", n, [](int i) { return i > 1000 && i <= 1500 ? QString() : plain(i); });
    const QStringList gap{"compare", e, holed, "--key", "Id"};
    const Outcome gapSummed =
        run(gap + QStringList{"--method", "checksum", "--segment-rows", "128"});
    EXPECT_EQ(gapSummed.status, 1) << gapSummed.err.toStdString();
    EXPECT_EQ(gapSummed.out, run(gap).out);
}

// Where a checksum cannot be sound or fast, the run is refused with why.
TEST_F(Checksums, RefuseWhatTheyCannotDoSoundly) {
    const QString keyed = table("SumK", QStringLiteral("Id int primary key, V int"), {"1, 1"});
    const QString loose = table("SumL", QStringLiteral("Id int, V int"), {"1, 1"});
    const QString ci = table("SumCi",
                             QStringLiteral("T nvarchar(10) collate Latin1_General_CI_AS "
                                            "primary key, V int"),
                             {"N'a', 1"});
    const QString cs = table("SumCs",
                             QStringLiteral("T nvarchar(10) collate Latin1_General_CS_AS "
                                            "primary key, V int"),
                             {"N'a', 1"});
    const QStringList method{"--method", "checksum"};
    const std::vector<std::pair<QStringList, QString>> refused{
        {{keyed, loose, "--key", "Id"}, "no index of it leads with the key column \"Id\""},
        {{ci, cs, "--key", "T"}, "its collation is Latin1_General_CI_AS in"},
        {{"--query", QStringLiteral("select * from [%1]").arg(keyed), keyed, "--key", "Id"},
         "is a query"},
    };
    for (const auto& [args, reason] : refused) {
        const Outcome r = run(QStringList{"compare"} + args + method);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.contains(reason)) << r.err.toStdString();
    }
    const Outcome byPosition = run(QStringList{"compare", keyed, loose} + method);
    EXPECT_EQ(byPosition.status, 2);
    EXPECT_TRUE(byPosition.err.contains(QStringLiteral("--method checksum pairs records by key")));
}

// One table on two servers: each hashes its own records alike, so all are
// verified and none is read.
TEST_F(Checksums, TheSameRecordsOnTwoServersAreVerifiedUnread) {
    tdstest::PrivateServer other({});
    const QString a = filled("SumTwinA", 1000, plain);
    const QString b = filled("SumTwinB", 1000, plain, other.port());
    const Outcome r =
        run({"compare", a, b, "--key", "Id", "--summary", "--method", "checksum", "--segment-rows",
             "128", "--right-server", "127.0.0.1", "--right-port", QString::number(other.port())});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Summary: 0 records read")) &&
                r.err.contains(QStringLiteral("1000 records verified by checksum")))
        << r.err.toStdString();
}

// A datetime holds 1/300 s and is read at milliseconds; its checksum must
// say what its reading says, against a datetime2 of the exact 1/300 s too.
TEST_F(Checksums, ADatetimeIsHashedAsItIsRead) {
    const QString a = table("SumDtA", QStringLiteral("Id int primary key, D datetime"),
                            {"1, '2024-01-01 00:00:00.003'"});
    const QString b = table("SumDtB", QStringLiteral("Id int primary key, D datetime2(7)"),
                            {"1, '2024-01-01 00:00:00.0033333'"});
    const QStringList compare{"compare", a, b, "--key", "Id"};
    const Outcome streamed = run(compare);
    EXPECT_EQ(streamed.status, 1) << streamed.err.toStdString();
    EXPECT_EQ(streamed.out.count(u'\n'), 1) << streamed.out.toStdString();
    EXPECT_EQ(run(compare + QStringList{"--method", "checksum"}).out, streamed.out);
}

// A varchar key under a SQL_ collation: ranges and the rows read by them
// seek its index, so a checksum run reads about each table once, not once a
// range.
TEST_F(Checksums, AVarcharKeyIsSoughtNotScanned) {
    tdstest::PrivateServer server({});
    const int n = 100'000;
    const QString fill = QStringLiteral(
        "with recursive c(x) as (select 1 union all select x + 1 from c where x < %1) "
        "insert into [%2] select 'k' || substr('00000' || x, -6, 6), %3 from c");
    for (const auto& [name, value] :
         {std::pair{"SeekA", "x"}, {"SeekB", "case when x % 30011 = 0 then -x else x end"}}) {
        exec(QStringLiteral("create table %1 (K varchar(20) collate SQL_Latin1_General_CP1_CI_AS "
                            "primary key, V int)")
                 .arg(QLatin1String(name)),
             server.port());
        exec(fill.arg(n).arg(QLatin1String(name), QLatin1String(value)), server.port());
    }
    const auto scanned = [&] {
        auto c = data::OdbcDataAccess().CreateConnection();
        c->Open(q(tdstest::tdsConnectionStringAt(server.port(), tdstest::kDatabase)));
        const std::int64_t rows =
            c->FetchQuery(QStringLiteral("select @@ROWS_SCANNED")).value(0, 0).asInteger();
        c->Close();
        return rows;
    };
    const std::int64_t before = scanned();
    const Outcome r = run({"compare", "SeekA", "SeekB", "--key", "K", "--method", "checksum",
                           "--segment-rows", "10000"},
                          server.port());
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out.count(u'\n'), 3) << r.out.toStdString();
    const std::int64_t read = scanned() - before;
    // At most a scan of each table for the ranges read at the end; a range
    // that scans costs a whole table each time.
    EXPECT_LE(read, 2 * n) << "rows scanned: " << read;
    std::printf("rows scanned by the checksum run: %lld\n", static_cast<long long>(read));
}

// Ctrl+C while a server sits on a range's checksum: the command stops at once.
TEST_F(Checksums, ASignalStopsThemWhileAServerHashes) {
    QTemporaryDir dir;
    tdstest::PrivateServer server({"--stall-query", "hashbytes"},
                                  dir.filePath(QStringLiteral("server.log")).toStdString());
    for (const char* t : {"SumHeldA", "SumHeldB"}) {
        exec(QStringLiteral("create table %1 (Id int primary key, V int)").arg(QLatin1String(t)),
             server.port());
        exec(QStringLiteral("insert into %1 values (1, 1)").arg(QLatin1String(t)), server.port());
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DORVANTIS_PASSWORD"), QStringLiteral("secret"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(DORVANTIS_PROGRAM),
            {"compare", "SumHeldA", "SumHeldB", "--key", "Id", "--method", "checksum", "--server",
             "127.0.0.1", "--port", QString::number(server.port()), "--user", "tester",
             "--database", "testdb"});
    QElapsedTimer waited;
    waited.start();
    while (!server.heldARequest() && waited.elapsed() < 20000) QTest::qWait(10);
    ASSERT_TRUE(server.heldARequest()) << "the server never held the checksum";
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 130) << p.readAllStandardError().toStdString();
}

namespace {

// Every session states its own options: a server that starts them otherwise
// (a "text size" line in freetds.conf, QUOTED_IDENTIFIER off) changes
// nothing, and snapshot isolation is had where the database allows it.
class PinnedSessions : public CommandLine {};

// Two nvarchar(max) values of 5,000 characters that differ only in the
// last: a server cutting at 4,096 bytes would hide the difference from the
// reading and cut the value the script writes.
TEST_F(PinnedSessions, ATextSizeTheServerStartsWithCutsNoValue) {
    tdstest::PrivateServer server({"--textsize", "4096", "--quoted-identifier", "off"});
    const QString same(4999, u'a');
    for (const auto& [name, last] : {std::pair{"LongA", u'a'}, std::pair{"LongB", u'b'}}) {
        exec(QStringLiteral("create table %1 (Id int primary key, V nvarchar(max))")
                 .arg(QLatin1String(name)),
             server.port());
        exec(QStringLiteral("insert into %1 values (1, N'%2')")
                 .arg(QLatin1String(name), same + QChar(last)),
             server.port());
    }
    const QStringList compare{"compare", "LongA", "LongB", "--key", "Id"};
    for (const char* method : {"stream", "checksum"}) {
        const Outcome r = run(compare + QStringList{"--method", method}, server.port());
        EXPECT_EQ(r.status, 1) << method << r.err.toStdString();
        EXPECT_EQ(r.out.count(u'\n'), 1) << method;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Record Id=1,Field \"V\" has changed")))
            << method << r.out.left(200).toStdString();
    }
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("fix.sql"));
    const Outcome r =
        run(compare + QStringList{"--format", "sql", "--output", script}, server.port());
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(f.readAll())
                    .contains(QStringLiteral("N'") + same + QStringLiteral("a'")));

    // What any connection of the program finds its session to be.
    auto c = data::OdbcDataAccess().CreateConnection();
    c->Open(q(server.connectionString()));
    const data::ResultTable settings = c->FetchQuery(QStringLiteral(
        "select @@TEXTSIZE, SESSIONPROPERTY('QUOTED_IDENTIFIER'), SESSIONPROPERTY('ARITHABORT'), "
        "@@LOCK_TIMEOUT"));
    ASSERT_EQ(settings.rowCount(), 1u);
    EXPECT_EQ(settings.value(0, 0).asInteger(), 2147483647);
    EXPECT_EQ(settings.value(1, 0).asInteger(), 1);
    EXPECT_EQ(settings.value(2, 0).asInteger(), 1);
    EXPECT_EQ(settings.value(3, 0).asInteger(), data::kLockTimeoutMs);
}

// A table another session holds locked: the run fails when the session's
// lock time-out runs out (not the command's, 5000 s), in words that say so.
TEST_F(PinnedSessions, ATableLockedByAnotherSessionFailsTheRunAfterTheLockTimeout) {
    tdstest::PrivateServer server({"--stall-query", "from [dbo].[held]"});
    exec(QStringLiteral("create table Held (Id int primary key, V int); create table Free (Id "
                        "int primary key, V int)"),
         server.port());
    QElapsedTimer waited;
    waited.start();
    const Outcome r = run({"compare", "Held", "Free"}, server.port());
    EXPECT_EQ(r.status, 2) << r.err.toStdString();
    EXPECT_GE(waited.elapsed(), data::kLockTimeoutMs);
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("A table of the database \"testdb\" stayed locked by another session for "
                       "30 s (Lock request time out period exceeded.)")))
        << r.err.toStdString();
}

// --snapshot: a database that does not allow it stops the run with the
// statement that would; one that does compares as ever.
TEST_F(PinnedSessions, SnapshotIsolationRunsWhereAllowedAndSaysHowToAllowIt) {
    tdstest::PrivateServer refusing({"--database", "otherdb"});
    tdstest::PrivateServer allowing({"--snapshot-isolation", "testdb"});
    for (const tdstest::PrivateServer* server : {&refusing, &allowing}) {
        for (const char* row : {"1, 1", "1, 2"}) {
            const QString name = row[3] == '1' ? QStringLiteral("SnapA") : QStringLiteral("SnapB");
            exec(QStringLiteral("create table %1 (Id int primary key, V int); insert into %1 "
                                "values (%2)")
                     .arg(name, QLatin1String(row)),
                 server->port());
        }
    }
    const QStringList compare{"compare", "SnapA", "SnapB", "--key", "Id", "--snapshot"};
    const Outcome refused = run(compare, refusing.port());
    EXPECT_EQ(refused.status, 2) << refused.err.toStdString();
    EXPECT_TRUE(refused.out.isEmpty()) << refused.out.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral(
        "The database \"testdb\" does not allow snapshot isolation. Allow it with ALTER DATABASE "
        "[testdb] SET ALLOW_SNAPSHOT_ISOLATION ON")))
        << refused.err.toStdString();
    const Outcome allowed = run(compare, allowing.port());
    EXPECT_EQ(allowed.status, 1) << allowed.err.toStdString();
    EXPECT_EQ(allowed.out,
              QStringLiteral("Record Id=1,Field \"V\" has changed from \"1\" to \"2\"\n"));
    // Without it the refusing database compares as ever.
    EXPECT_EQ(run(compare.mid(0, 5), refusing.port()).out, allowed.out);
    // A whole database: each pair says why it was not compared.
    exec(QStringLiteral("create table SnapA (Id int primary key, V int)"), refusing.port(),
         tdstest::kOtherDatabase);
    const Outcome databases =
        run({"compare-databases", "--right-database", "otherdb", "--tables", "SnapA", "--snapshot"},
            refusing.port());
    EXPECT_EQ(databases.status, 2) << databases.err.toStdString();
    EXPECT_EQ(databases.out.count(QStringLiteral("does not allow snapshot isolation")), 1)
        << databases.out.toStdString() << databases.err.toStdString();
}

}  // namespace
