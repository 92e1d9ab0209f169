// The HTML report end to end: the program compares two tables of two
// databases holding hostile values through FreeTDS, by itself and as a run
// over both databases; a real HTML parser reads the pages, and a real
// browser engine renders them.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "DataAccess.h"
#include "TdsTestServer.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

struct Ran {
    int status = -1;
    QByteArray out, err;
};

Ran Start(const QString& program, const QStringList& args,
          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000)) p.kill();
    p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

void Exec(const QString& sql, const std::string& database) {
    auto c = data::OdbcDataAccess().CreateConnection();
    c->Open(q(tdstest::tdsConnectionString(database)));
    c->Execute(sql);
    c->Close();
}

// What the parser found in a page (tests/e2e/html_check.py).
QJsonObject Parsed(const QString& path) {
    const Ran r =
        Start(QStringLiteral(DORVANTIS_PYTHON), {QStringLiteral(DORVANTIS_HTML_CHECK), path});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out).object();
}

// A row's cells as "text[classes]", joined by " | ".
QString Row(const QJsonValue& row) {
    QStringList out;
    for (const QJsonValue& c : row[QLatin1String("cells")].toArray()) {
        const QJsonArray cell = c.toArray();
        QStringList classes;
        for (const QJsonValue& k : cell[1].toArray()) classes << k.toString();
        out << cell[0].toString() + u'[' + classes.join(u' ') + u']';
    }
    return out.join(QStringLiteral(" | "));
}

QString WithoutTime(QString summary) {
    return summary.remove(QRegularExpression(QStringLiteral("; [0-9.]+ s")));
}

// One table in testdb and otherdb, its pages from both commands and the
// text reports of the same runs, made once for the suite.
class HtmlPages : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        config = new QTemporaryDir;
        table = q(tdstest::tdsUniqueName("Html"));
        const QString columns =
            QStringLiteral("Id int primary key, Name nvarchar(60), Note nvarchar(60)");
        const std::pair<std::string, QStringList> sides[] = {
            {tdstest::kDatabase,
             {"1, N'<script>alert(1)</script>', N'&amp;'", "2, N'it''s \"quoted\"', NULL",
              "3, N'same', N'gone'"}},
            {tdstest::kOtherDatabase,
             {"1, N'x', N'&amp;'", "2, N'it''s \"quoted\"', N'NULL'", "4, N'new', N'line\nfeed'"}}};
        for (const auto& [database, rows] : sides) {
            Exec(QStringLiteral("create table [%1] (%2)").arg(table, columns), database);
            for (const QString& row : rows) {
                Exec(QStringLiteral("insert into [%1] values (%2)").arg(table, row), database);
            }
        }
        const QStringList both{QStringLiteral("--right-database"), QStringLiteral("otherdb"),
                               QStringLiteral("--key"), QStringLiteral("auto")};
        one = Dorvantis(QStringList{"compare", table, table, "--format", "html", "--output",
                                    dir->filePath("one.html")} +
                        both);
        oneText = Dorvantis(QStringList{"compare", table, table, "--summary"} + both);
        databases = Dorvantis(QStringList{"compare-databases", "--tables", table, "--format",
                                          "html", "--output", dir->filePath("databases.html")} +
                              both);
        databasesText =
            Dorvantis(QStringList{"compare-databases", "--tables", table, "--summary"} + both);
    }
    static void TearDownTestSuite() {
        delete dir;
        delete config;
    }

    static Ran Dorvantis(QStringList args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DORVANTIS_PASSWORD"), QStringLiteral("secret"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config->path());
        args << "--server"
             << "127.0.0.1"
             << "--port" << QString::number(tdstest::tdsTestPort()) << "--user"
             << "tester"
             << "--database"
             << "testdb";
        return Start(QStringLiteral(DORVANTIS_PROGRAM), args, env);
    }

    static inline QTemporaryDir* dir = nullptr;
    static inline QTemporaryDir* config = nullptr;
    static inline QString table;
    static inline Ran one, oneText, databases, databasesText;
};

// Rows expected of the records table (cells as "text[classes]").
const QStringList kRows = {
    "1[key] | Changed[kind] | 1[] | 1[] | <script>alert(1)</script>[diff] | x[diff] | &amp;[] | "
    "&amp;[]",
    "2[key] | Changed[kind] | 2[] | 2[] | it's \"quoted\"[] | it's \"quoted\"[] | NULL[diff null] "
    "| "
    "NULL[diff]",
    "3[key] | Only in the first table[kind] | 3[] | [absent] | same[] | [absent] | gone[] | "
    "[absent]",
    "4[key] | Only in the second table[kind] | [absent] | 4[] | [absent] | new[] | [absent] | "
    "line\u240Afeed[]",
};

}  // namespace

// The parser reads every hostile value back as it was (escaped, not markup),
// the differing cells and NULLs marked, the counts and the summary those of
// the text report of the same comparison; the page of both databases holds
// the same records under its overview.
TEST_F(HtmlPages, ParserReadsTheValuesTheMarksAndTheRunsCounts) {
    ASSERT_EQ(one.status, 1) << one.err.toStdString();
    ASSERT_EQ(oneText.status, 1) << oneText.err.toStdString();
    const QJsonObject page = Parsed(dir->filePath("one.html"));
    EXPECT_EQ(page["scripts"].toInt(), 0);
    EXPECT_TRUE(page["fetches"].toArray().isEmpty());
    EXPECT_EQ(page["charset"].toArray().first().toString(), "utf-8");
    const QJsonArray parts = page["parts"].toArray();
    ASSERT_EQ(parts.size(), 1);
    const QJsonObject part = parts[0].toObject();
    const QJsonArray header = part["header"].toArray();
    ASSERT_EQ(header.size(), 2);
    EXPECT_EQ(header[0].toArray()[3].toString(), "Name");
    EXPECT_EQ(header[1].toArray()[0].toString(), "testdb.dbo." + table);
    EXPECT_EQ(header[1].toArray()[1].toString(), "otherdb.dbo." + table);
    QStringList rows;
    for (const QJsonValue& r : part["rows"].toArray()) rows << Row(r);
    EXPECT_EQ(rows, kRows);
    EXPECT_EQ(part["counts"].toArray().first().toString(), "All 4 differing records are shown.");

    const QString textSummary = QString::fromUtf8(oneText.err).trimmed();
    ASSERT_TRUE(textSummary.startsWith("Summary: 3 records read")) << textSummary.toStdString();
    EXPECT_EQ(WithoutTime(part["summary"].toArray().first().toString()), WithoutTime(textSummary));
    const QJsonObject measures = part["measures"].toObject();
    EXPECT_EQ(measures["With changed fields"].toString(), "2");
    EXPECT_EQ(measures["Changed fields"].toString(), "2");
    EXPECT_EQ(measures["Added"].toString(), "1");
    EXPECT_EQ(measures["Deleted"].toString(), "1");

    ASSERT_EQ(databases.status, 1) << databases.err.toStdString();
    const QJsonObject all = Parsed(dir->filePath("databases.html"));
    EXPECT_EQ(all["scripts"].toInt(), 0);
    const QJsonArray overview = all["overview"].toArray();
    ASSERT_EQ(overview.size(), 3);  // the header, the pair, the totals
    const QStringList pair = overview[1]["cells"].toVariant().toStringList();
    // The text report's line: the table, its pairing, its result.
    const QString textLine = QString::fromUtf8(databasesText.out).split(u'\n')[1].simplified();
    EXPECT_EQ(pair.mid(0, 3).join(u' '), textLine);
    EXPECT_EQ(pair.mid(3, 4), (QStringList{"2", "1", "1", "0"}));
    EXPECT_EQ(overview[1]["links"].toArray().first().toString(), "#pair-1");
    EXPECT_EQ("Total: " + overview[2]["cells"].toVariant().toStringList()[2],
              QString::fromUtf8(databasesText.err).trimmed());
    const QJsonArray pairs = all["pairs"].toArray();
    ASSERT_EQ(pairs.size(), 1);
    EXPECT_EQ(pairs[0]["id"].toString(), "pair-1");
    EXPECT_EQ(pairs[0]["heading"].toString(), table);
    rows.clear();
    for (const QJsonValue& r : all["parts"][0]["rows"].toArray()) rows << Row(r);
    EXPECT_EQ(rows, kRows);
}

// A browser engine renders both pages: the document it built holds the
// records and the overview (nothing ran to change them), and it paints them.
TEST_F(HtmlPages, BrowserRendersThePagesWithTheirTables) {
    ASSERT_EQ(databases.status, 1) << databases.err.toStdString();
    QTemporaryDir profile;
    const QStringList browser{"--headless", "--no-sandbox", "--disable-gpu",
                              "--user-data-dir=" + profile.path(), "--window-size=1280,900"};
    for (const char* name : {"one", "databases"}) {
        const QString page = dir->filePath(QString::fromLatin1(name) + ".html");
        const Ran dom = Start("chromium", browser + QStringList{"--dump-dom", "file://" + page});
        ASSERT_EQ(dom.status, 0) << dom.err.toStdString();
        const QString rendered = dir->filePath(QString::fromLatin1(name) + ".rendered.html");
        QFile out(rendered);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(dom.out);
        out.close();
        const QJsonObject parsed = Parsed(rendered);
        QStringList rows;
        for (const QJsonValue& r : parsed["parts"][0]["rows"].toArray()) rows << Row(r);
        EXPECT_EQ(rows, kRows) << name;
        EXPECT_EQ(parsed["overview"].toArray().size(), QString(name) == "one" ? 0 : 3);

        const QString shot = dir->filePath(QString::fromLatin1(name) + ".png");
        const Ran painted =
            Start("chromium", browser + QStringList{"--screenshot=" + shot, "file://" + page});
        ASSERT_EQ(painted.status, 0) << painted.err.toStdString();
        QFile png(shot);
        ASSERT_TRUE(png.open(QIODevice::ReadOnly));
        EXPECT_TRUE(png.read(8).startsWith("\x89PNG")) << name;
        EXPECT_GT(png.size(), 10000) << name;  // a blank page is a few hundred bytes
    }
}
