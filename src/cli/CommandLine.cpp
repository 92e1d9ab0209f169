#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "ApplicationTitle.h"
#include "CompareCommand.h"
#include "CompareDatabases.h"
#include "Failure.h"
#include "QuerySides.h"
#include "SharedOptions.h"
#include "Terminal.h"

namespace cli {

namespace {

// The program's help: every command and every option.
void DescribeProgram(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Compares two SQL Server tables record by record and field by field.\n"
        "Without arguments the program opens its windows. The login details are the stored\n"
        "ones of the login window unless given here; the password comes from --password-file,\n"
        "else from the environment variable DORVANTIS_PASSWORD, else from the stored ones.\n"
        "The second table is in the same database unless the second table's options say\n"
        "where: each defaults to the first side's value (--right-database Sales_Restore alone\n"
        "compares across two databases of one server); its password comes from\n"
        "--right-password-file, else DORVANTIS_RIGHT_PASSWORD, else the first side's.\n"
        "Standard output carries the difference lines only (and, with --limit, the line that\n"
        "says the run stopped there); a report written with --output ends with the run's\n"
        "summary, which --summary also writes on standard error.\n"
        "Exit status: 0 the tables hold the same data, 1 differences found, 2 failure,\n"
        "130 stopped by SIGINT.\n"
        "compare-databases compares every table of the first database with the table of the\n"
        "same schema and name in the second (--right-database or --right-server says which),\n"
        "one line a pair, totals last; exit status 0 all the same, 1 anything differs or a\n"
        "table is in one database only, 2 a pair could not be compared."));
    parser.addPositionalArgument(QStringLiteral("compare"),
                                 QStringLiteral("The command: compare, or compare-databases "
                                                "(no tables named)."));
    parser.addPositionalArgument(QStringLiteral("LEFT"),
                                 QStringLiteral("The first table, as the table lists show it."));
    parser.addPositionalArgument(QStringLiteral("RIGHT"),
                                 QStringLiteral("The second table, as the table lists show it."));
    AddSharedOptions(parser);
    AddQueryOptions(parser);
    AddScriptOptions(parser);
    AddDatabasesOptions(parser);
}

// The command the first word names; each parses its own options, so that an
// option of the other command is an unknown option. Options may come before
// the word: the parser that knows every option finds it.
int Dispatch(const QStringList& arguments, data::DataAccess& data, std::FILE* out, std::FILE* err) {
    QCommandLineParser parser;
    DescribeProgram(parser);
    if (!parser.parse(arguments)) usageError(parser.errorText());
    const QString word = parser.positionalArguments().value(0);
    // A command answers --help with its own options.
    if (word == QStringLiteral("compare")) return RunCompare(arguments, data, out, err);
    if (word == QStringLiteral("compare-databases")) {
        return RunCompareDatabases(arguments, data, out, err);
    }
    if (AnswerHelpOrVersion(parser, out)) return 0;
    if (word.isEmpty()) usageError(QStringLiteral("no command given"));
    usageError(QStringLiteral("unknown command '%1'").arg(word));
}

}  // namespace

bool IsCommandLine(int argc, char** /*argv*/) { return argc > 1; }

int RunCommandLine(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(app::kProductName).toLower());
    QCoreApplication::setApplicationVersion(QStringLiteral(DORVANTIS_VERSION));
    watchStopSignals();
    return RunCommand(QCoreApplication::arguments(), data::OdbcDataAccess(), stdout, stderr);
}

int RunCommand(const QStringList& arguments, data::DataAccess& data, std::FILE* out,
               std::FILE* err) {
    return RunGuarded(err, [&] { return Dispatch(arguments, data, out, err); });
}

}  // namespace cli
