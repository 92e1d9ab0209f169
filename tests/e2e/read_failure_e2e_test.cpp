// A read the server fails part-way, through the real driver: the rows before
// the error arrive with "success with info" and the error only as a
// diagnostic record. The command must fail with the server's words, never
// take the rows it got for the whole table.

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "DataAccess.h"
#include "TdsTestServer.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

constexpr int kRows = 1000;
constexpr int kFailingRow = 900;  // inside the driver's first block of rows
const QString kOverflow = QStringLiteral(
    "could not be read: [FreeTDS][SQL Server]Arithmetic overflow error converting expression "
    "to data type int.");

struct Outcome {
    int status = -1;
    QString out, err;
};

class ReadFailure : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        prefix_ = q(tdstest::tdsUniqueName("Fail"));
    }

    static void exec(const QString& sql, const std::string& database = tdstest::kDatabase) {
        auto c = data::OdbcDataAccess().CreateConnection();
        c->Open(q(tdstest::tdsConnectionStringAt(tdstest::tdsTestPort(), database)));
        c->Execute(sql);
        c->Close();
    }

    // prefix_name (id int primary key, v `type`): v = id, except row 5, which
    // is `fifth`, and the failing row, which is `failing`.
    QString table(const QString& name, const char* type, const QString& fifth,
                  const QString& failing, const std::string& database = tdstest::kDatabase) {
        const QString t = prefix_ + u'_' + name;
        exec(QStringLiteral("create table [%1] (id int primary key, v %2)")
                 .arg(t, QLatin1String(type)),
             database);
        QStringList rows;
        for (int i = 1; i <= kRows; ++i) {
            const QString v = i == 5 ? fifth : i == kFailingRow ? failing : QString::number(i);
            rows << QStringLiteral("(%1, %2)").arg(i).arg(v);
            if (rows.size() == 500) {
                exec(QStringLiteral("insert into [%1] values %2").arg(t, rows.join(u',')),
                     database);
                rows.clear();
            }
        }
        return t;
    }

    // A view whose row kFailingRow cannot be converted: the server sends the
    // rows before it, then error 8115, as SQL Server does.
    QString failingView(const QString& name, const std::string& database = tdstest::kDatabase) {
        const QString base = table(name + QStringLiteral("Base"), "bigint", QStringLiteral("5"),
                                   QStringLiteral("3000000000"), database);
        const QString view = prefix_ + u'_' + name;
        exec(QStringLiteral("create view [%1] as select id, cast(v as int) as v from [%2]")
                 .arg(view, base),
             database);
        return view;
    }

    Outcome run(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DORVANTIS_PASSWORD"), QStringLiteral("secret"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(DORVANTIS_PROGRAM),
                args + QStringList{"--server", "127.0.0.1", "--port",
                                   QString::number(tdstest::tdsTestPort()), "--user", "tester",
                                   "--database", "testdb"});
        p.waitForFinished(60000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    // The run failed with the server's error and printed no line: the
    // differences found before the error (row 5) are not a result either.
    static void expectFailed(const Outcome& o, const QString& what) {
        EXPECT_EQ(o.status, 2) << what.toStdString();
        EXPECT_TRUE(o.err.contains(kOverflow)) << what.toStdString() << ": " << o.err.toStdString();
        EXPECT_EQ(o.out, QString()) << what.toStdString();
    }

    QTemporaryDir config_;
    QString prefix_;
};

// A view, a query and two views failing at the same row; by key and by
// position. Before, the rows after the error came out as added from the
// other side, and two failing views compared as the same.
TEST_F(ReadFailure, AnErrorPartWayThroughAReadFailsTheRun) {
    const QString view = failingView(QStringLiteral("V"));
    const QString twin = failingView(QStringLiteral("W"));
    const QString good =
        table(QStringLiteral("Good"), "int", QStringLiteral("-5"), QStringLiteral("0"));
    const QString query = QStringLiteral("select id, v from [%1] order by id").arg(view);
    for (const QStringList& pairing : {QStringList{"--key", "id"}, QStringList{}}) {
        const QString how = pairing.isEmpty() ? QStringLiteral("by position") : pairing.join(u' ');
        expectFailed(run(QStringList{"compare", view, good} + pairing), how + " from a view");
        expectFailed(run(QStringList{"compare", good, "--right-query", query} + pairing),
                     how + " from a query");
        expectFailed(run(QStringList{"compare", view, twin} + pairing), how + " two views");
    }
}

// The checksum method streams the ranges that differ through the same
// reads. A table cannot hold a value that fails on a real server (a deadlock
// or a killed session does it there): the test server's int column holding
// a bigint fails at that row as the view does.
TEST_F(ReadFailure, AChecksumRunFailsOnTheRangeItReads) {
    const QString broken =
        table(QStringLiteral("Broken"), "int", QStringLiteral("5"), QStringLiteral("3000000000"));
    const QString good =
        table(QStringLiteral("Good"), "int", QStringLiteral("-5"), QStringLiteral("0"));
    expectFailed(run({"compare", broken, good, "--key", "id", "--method", "checksum"}),
                 QStringLiteral("checksum"));
}

// A fix script of a failed read would delete the rows never read: none is
// written, and nothing is left where it would have gone.
TEST_F(ReadFailure, NoScriptIsWrittenFromAFailedRead) {
    const QString view = failingView(QStringLiteral("V"));
    const QString target =
        table(QStringLiteral("Target"), "int", QStringLiteral("-5"), QStringLiteral("0"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fix.sql"));
    expectFailed(run({"compare", view, target, "--key", "id", "--format", "sql", "--output", path}),
                 QStringLiteral("script"));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// In a comparison of databases the pair fails alone, not as the same.
TEST_F(ReadFailure, ADatabaseComparisonReportsThePairNotCompared) {
    failingView(QStringLiteral("V"));
    failingView(QStringLiteral("V"), "otherdb");
    const Outcome o = run({"compare-databases", "--tables", prefix_ + QStringLiteral("_V"),
                           "--views", "--right-database", "otherdb"});
    EXPECT_EQ(o.status, 2) << o.out.toStdString() << o.err.toStdString();
    const QStringList line = o.out.split(u'\n').filter(prefix_ + QStringLiteral("_V "));
    ASSERT_EQ(line.size(), 1) << o.out.toStdString();
    EXPECT_TRUE(line[0].contains(QStringLiteral("not compared: ")) && line[0].contains(kOverflow))
        << line[0].toStdString();
}

}  // namespace
