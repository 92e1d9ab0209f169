#include "SharedOptions.h"

#include <QFile>
#include <initializer_list>

#include "Failure.h"
#include "RecordKey.h"
#include "Settings.h"
#include "TableQuery.h"

namespace cli {

namespace {

QCommandLineOption Option(const QString& name, const QString& text,
                          const QString& value = QString(), const QString& byDefault = QString()) {
    return QCommandLineOption(name, text, value, byDefault);
}

// The login options of one side: --server, --port, ... for the first table,
// --right-server, --right-port, ... for the second, whose values default to
// the first side's.
void AddLoginOptions(QCommandLineParser& parser, const QString& prefix, const QString& whose) {
    parser.addOptions({
        Option(prefix + "server", whose + "server name.", "NAME"),
        Option(prefix + "port", whose + "port.", "PORT"),
        Option(prefix + "database", whose + "database.", "NAME"),
        Option(prefix + "user", whose + "user name.", "NAME"),
        Option(prefix + "local", whose + "local connection: the server name alone."),
        Option("no-" + prefix + "local", whose + "connection to server,port."),
        Option(prefix + "encrypt",
               whose + "connection encrypted whole (TLS), or refused (the driver does not "
                       "check the server's certificate)."),
        Option("no-" + prefix + "encrypt",
               whose + "connection as the driver settles it: the login encrypted, the rest "
                       "only if the server requires it."),
        Option(prefix + "password-file", whose + "password, from the first line of FILE.", "FILE"),
    });
}

// The options that narrow or loosen a comparison: columns left out, the rows
// taken, what counts as equal, and where the run stops.
void AddComparisonOptions(QCommandLineParser& parser, bool mapShown) {
    QCommandLineOption map(
        "map",
        "compare: pair column FIRST of the first table with SECOND of the second, whatever their "
        "names ([a=b] for a name with = or ,; may be repeated).",
        "FIRST=SECOND");
    // Taken but not listed where it is refused, so that the refusal can say why.
    if (!mapShown) map.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({
        Option("ignore",
               "Leave the columns out of both tables (names without case, separated by commas, "
               "[a,b] for a name with a comma; may be repeated).",
               "COLUMNS"),
        map,
        Option("where", "Compare only the rows of both tables for which the SQL condition holds.",
               "CONDITION"),
        Option("right-where",
               "The second table's condition, when it differs from the first's (1=1 for all its "
               "rows).",
               "CONDITION"),
        Option("trim", "Ignore trailing blanks of texts."),
        Option("ignore-case", "Compare texts without regard to case."),
        Option("null-equals-empty", "Take NULL and an empty text as equal."),
        Option("tolerance", "Take numbers that differ by at most X as equal.", "X"),
        Option("limit", "Stop after N differing records; the report then says so.", "N"),
        Option("summary", "After the report, the run's counts in one line on standard error."),
        Option("method",
               "stream (default): read both tables whole; checksum (by key): each server hashes "
               "ranges of keys and only the ranges that differ are read.",
               "METHOD", "stream"),
        Option("snapshot",
               "Read both tables under snapshot isolation: no shared locks on a busy database "
               "(the database must allow it: ALLOW_SNAPSHOT_ISOLATION ON)."),
        Option("segment-rows",
               "--method checksum: the records of a first range of keys, at least 16 "
               "(default: a sixteenth of the first table, from 100000 to 1000000); a range "
               "that differs is split until it holds a sixteenth of that.",
               "N"),
    });
}

// A TCP port: digits only, 1 to 65535.
bool IsPortNumber(const QString& text) {
    bool number = false;
    const uint value = text.toUInt(&number, 10);
    return number && !text.startsWith(u'+') && value >= 1 && value <= 65535;
}

void CheckLoginOptions(const QCommandLineParser& parser, const QString& prefix) {
    for (const char* name : {"local", "encrypt"}) {
        const QString option = prefix + QLatin1String(name);
        if (parser.isSet(option) && parser.isSet("no-" + option)) {
            usageError(QStringLiteral("--%1 and --no-%1 exclude each other").arg(option));
        }
    }
    if (parser.isSet(prefix + "port") && !IsPortNumber(parser.value(prefix + "port"))) {
        usageError(QStringLiteral("--%1port takes a number from 1 to 65535, not '%2'")
                       .arg(prefix, parser.value(prefix + "port")));
    }
}

// The first line of the file (a password).
QString ReadPassword(const QString& path) {
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

// The side's options given, over details.
void ApplyLoginOptions(const QCommandLineParser& parser, const QString& prefix,
                       const char* passwordVariable, connection::LoginDetails& details) {
    const auto set = [&](const char* name, QString& field) {
        if (parser.isSet(prefix + name)) field = parser.value(prefix + name);
    };
    set("server", details.server);
    set("port", details.port);
    set("database", details.database);
    set("user", details.userName);
    if (parser.isSet(prefix + "local")) details.localConnection = true;
    if (parser.isSet("no-" + prefix + "local")) details.localConnection = false;
    if (parser.isSet(prefix + "encrypt")) details.encrypt = true;
    if (parser.isSet("no-" + prefix + "encrypt")) details.encrypt = false;
    if (parser.isSet(prefix + "password-file")) {
        details.password = ReadPassword(parser.value(prefix + "password-file"));
    } else if (qEnvironmentVariableIsSet(passwordVariable)) {
        details.password = qEnvironmentVariable(passwordVariable);
    }
}

// The login details the login window stored (read only), for a command to override.
connection::LoginDetails StoredLoginDetails() {
    const connection::SettingsStore store;
    // Encrypted only where the window stored that choice: a command with no
    // stored login connects as it did before the option existed.
    return {store.read(connection::kServerSetting),
            store.read(connection::kUserSetting),
            store.read(connection::kPasswordSetting),
            store.read(connection::kDatabaseSetting),
            store.read(connection::kPortSetting),
            connection::IsTicked(store.read(connection::kLocalConnectionSetting)),
            store.read(connection::kEncryptSetting) == QStringLiteral("1")};
}

void ReadFormatAndPairing(const QCommandLineParser& parser, SharedRequest& request) {
    const QString format = parser.value("format");
    if (format != QStringLiteral("sql")) {
        request.format = compare::ReportFormatNamed(format);
        if (!request.format) usageError(QStringLiteral("unknown format '%1'").arg(format));
    }
    if (parser.isSet("output")) request.output = parser.value("output");
    const QString pairing = parser.value("fields");
    if (pairing != QStringLiteral("by-position") && pairing != QStringLiteral("by-name")) {
        usageError(QStringLiteral("--fields takes by-position or by-name"));
    }
    request.options.fieldsByName = pairing == QStringLiteral("by-name");
    const QString method = parser.value("method");
    if (method != QStringLiteral("stream") && method != QStringLiteral("checksum")) {
        usageError(QStringLiteral("--method takes stream or checksum, not '%1'").arg(method));
    }
    if (parser.isSet("segment-rows")) {
        const std::optional<std::int64_t> rows =
            compare::RecordCountFromText(parser.value("segment-rows"));
        if (!rows || *rows < 16) {
            usageError(QStringLiteral("--segment-rows takes a whole number from 16, not '%1'")
                           .arg(parser.value("segment-rows")));
        }
        request.options.segmentRows = *rows;
    }
    if (parser.isSet("key")) {
        const std::optional<compare::KeyChoice> key =
            compare::KeyChoice::FromOption(parser.value("key"));
        if (!key)
            usageError(QStringLiteral("--key takes auto or column names separated by commas"));
        request.options.key = *key;
    }
    if (method == QStringLiteral("checksum") && !request.options.key.pairsByKey()) {
        usageError(QStringLiteral(
            "--method checksum pairs records by key (--key): the servers hash ranges of keys"));
    }
}

// The comparison's options as given, into the one type the options dialog
// and the stored settings use too, so that one check and one translator
// serve every entry point; the messages name the option as typed.
compare::OptionChoices ReadChoices(const QCommandLineParser& parser) {
    compare::OptionChoices choices;
    for (const QString& list : parser.values("ignore")) {
        const std::optional<QStringList> names = compare::ColumnNamesFromText(list);
        if (!names) {
            usageError(QStringLiteral(
                "--ignore takes column names separated by commas (a name with a comma in "
                "brackets: [a,b])"));
        }
        for (const QString& name : *names) {
            if (!choices.leaveOut.contains(name, Qt::CaseInsensitive)) choices.leaveOut << name;
        }
    }
    for (const QString& pair : parser.values("map")) {
        const std::optional<compare::ColumnMapping> mapping =
            compare::ColumnMapping::FromText(pair);
        if (!mapping) {
            usageError(QStringLiteral("--map takes FIRST=SECOND, two column names (a name with = "
                                      "or , in brackets: [a=b]), not '%1'")
                           .arg(pair));
        }
        choices.map.push_back(*mapping);
    }
    for (const char* condition : {"where", "right-where"}) {
        // An empty condition is most likely an unset shell variable: a run
        // over all rows would pass for a filtered one.
        if (parser.isSet(condition) && parser.value(condition).trimmed().isEmpty()) {
            usageError(
                QStringLiteral("--%1: the condition is empty").arg(QLatin1String(condition)));
        }
    }
    choices.firstWhere = parser.value("where").trimmed();
    choices.sameWhere = !parser.isSet("right-where");
    choices.secondWhere = parser.value("right-where").trimmed();
    choices.trim = parser.isSet("trim");
    choices.ignoreCase = parser.isSet("ignore-case");
    choices.nullEqualsEmpty = parser.isSet("null-equals-empty");
    choices.tolerance = parser.value("tolerance");
    if (parser.isSet("tolerance") && choices.tolerance.isEmpty()) choices.tolerance = u' ';
    choices.checksums = parser.value("method") == QStringLiteral("checksum");
    choices.snapshot = parser.isSet("snapshot");
    choices.limit = parser.value("limit");
    if (parser.isSet("limit") && choices.limit.isEmpty()) choices.limit = u' ';
    return choices;
}

void ReadComparisonOptions(const QCommandLineParser& parser, compare::RunOptions& options) {
    // Given twice, one of the two would be dropped without a word.
    for (const char* once : {"where", "right-where", "tolerance", "limit"}) {
        if (parser.values(once).size() > 1) {
            usageError(QStringLiteral("--%1 may be given once").arg(QLatin1String(once)));
        }
    }
    const compare::OptionChoices choices = ReadChoices(parser);
    using Choice = compare::OptionChoices::Choice;
    if (const std::optional<compare::OptionChoices::Problem> p =
            choices.Check(options.key.pairsByKey())) {
        switch (p->choice) {
            case Choice::FirstWhere:
                usageError(QStringLiteral("--where: %1").arg(p->reason));
            case Choice::SecondWhere:
                usageError(QStringLiteral("--right-where: %1").arg(p->reason));
            case Choice::Tolerance:
                usageError(QStringLiteral("--tolerance takes a number of at least 0, not '%1'")
                               .arg(parser.value("tolerance")));
            case Choice::Map:
                usageError(QStringLiteral("--map: %1").arg(p->reason));
            case Choice::Limit:
            case Choice::LeaveOut:  // the key is not among the choices here
                break;
        }
    }
    // A limit of 0 would be none: on a command line, most likely a mistake.
    if (!choices.limit.isEmpty() && compare::RecordCountFromText(choices.limit).value_or(0) < 1) {
        usageError(QStringLiteral("--limit takes a whole number from 1, not '%1'")
                       .arg(parser.value("limit")));
    }
    choices.ApplyTo(options);
}

}  // namespace

void AddSharedOptions(QCommandLineParser& parser, bool mapShown) {
    parser.addHelpOption();
    parser.addVersionOption();
    AddLoginOptions(parser, QString(), QStringLiteral("The first table's "));
    AddLoginOptions(parser, QStringLiteral("right-"),
                    QStringLiteral("The second table's (default: the first's) "));
    parser.addOptions({
        Option("format",
               "text (default), csv, json, html (one page for a browser, each table's differing "
               "records side by side), or sql: a script that makes the second table hold what "
               "the first holds (with --key).",
               "FORMAT", "text"),
        Option("output", "Write the report to FILE, not standard output.", "FILE"),
        Option("fields", "Pair fields by-position (default) or by-name (without case).", "PAIRING",
               "by-position"),
        Option("key",
               "Pair records by key, not by position: auto (the first table's primary key) or the "
               "key's columns, separated by commas.",
               "COLUMNS"),
    });
    AddComparisonOptions(parser, mapShown);
}

bool ParseArguments(QCommandLineParser& parser, const QStringList& arguments, std::FILE* out) {
    if (!parser.parse(arguments)) usageError(parser.errorText());
    return !AnswerHelpOrVersion(parser, out);
}

bool AnswerHelpOrVersion(const QCommandLineParser& parser, std::FILE* out) {
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), out);
        return true;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::fprintf(out, "dorvantis %s\n", DORVANTIS_VERSION);
        return true;
    }
    return false;
}

void ReadSharedOptions(const QCommandLineParser& parser, SharedRequest& request) {
    CheckLoginOptions(parser, QString());
    CheckLoginOptions(parser, QStringLiteral("right-"));
    ReadFormatAndPairing(parser, request);
    ReadComparisonOptions(parser, request.options);
    request.summary = parser.isSet("summary");
    request.first = StoredLoginDetails();
    ApplyLoginOptions(parser, QString(), "DORVANTIS_PASSWORD", request.first);
    request.second = request.first;
    ApplyLoginOptions(parser, QStringLiteral("right-"), "DORVANTIS_RIGHT_PASSWORD", request.second);
}

}  // namespace cli
