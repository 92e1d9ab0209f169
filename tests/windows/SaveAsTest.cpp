// "Save As…" and the report sink the command line writes through must give
// the same bytes for the same comparison, its end (the limit, the summary)
// included.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include "EngineCalls.h"
#include "ReportWriter.h"
#include "ResultsWindowSink.h"
#include "WindowFixture.h"

namespace {

// Values are written in the user's regional settings, whichever way is saved.
class SaveAs : public testing_support::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    void TearDown() override {
        QLocale::setDefault(QLocale::system());
        WindowFixture::TearDown();
    }
};

}  // namespace

TEST_F(SaveAs, GivesTheBytesOfTheReportSink) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* name;
        void (*calls)(compare::DifferenceSink&);
    } runs[] = {{"by position", testing_support::CallsByPosition},
                {"by key", testing_support::CallsByKey}};
    const struct {
        const char* file;
        compare::ReportFormat format;
    } formats[] = {{"r.txt", compare::ReportFormat::Text},
                   {"r.csv", compare::ReportFormat::Csv},
                   {"r.json", compare::ReportFormat::Json}};
    compare::RunSummary summary;
    summary.firstRead = 7;
    summary.secondRead = 8;
    summary.compared = 6;
    summary.changedRecords = 2;
    summary.changedFields = 3;
    summary.added = 1;
    summary.limit = 3;
    summary.stoppedAtLimit = true;
    summary.elapsedMs = 1234;
    summary.options =
        QStringLiteral("columns left out: \"Note, \"quoted\"\"; at most 3 differing records");
    for (const auto& run : runs) {
        windows::ResultsWindowSink lists(
            registry(), [] { return QStringLiteral("dbo.B"); },
            [] { return QStringLiteral("dbo.A"); });
        run.calls(lists);
        windows::ResultsWindow& results = registry().resultsWindow();
        results.ShowRunEnd({summary, QStringLiteral("dbo.A"), QStringLiteral("dbo.B"), {}});
        for (const auto& format : formats) {
            SCOPED_TRACE(std::string(run.name) + ", " + format.file);
            shell.saveTo = dir.filePath(QString::fromLatin1(format.file));
            results.SaveResults();
            QFile saved(shell.saveTo);
            ASSERT_TRUE(saved.open(QIODevice::ReadOnly));

            QBuffer reported;
            reported.open(QIODevice::WriteOnly);
            compare::ReportSink sink(reported, format.format, QStringLiteral("dbo.A"),
                                     QStringLiteral("dbo.B"));
            run.calls(sink);
            sink.finish(summary, true);
            EXPECT_GT(reported.size(), 200);
            EXPECT_EQ(QString::fromUtf8(saved.readAll()), QString::fromUtf8(reported.data()));
        }
        results.fieldDifferences()->linesModel()->clear();
        results.recordDifferences()->linesModel()->clear();
    }
    EXPECT_TRUE(boxes.boxes.empty());
}
