#include "Options.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace tds {

const char* const kUsage =
    "usage: tds-server --user NAME:PASSWORD... --database NAME[=SEED.sql[,SEED.sql...]]...\n"
    "       [options]\n"
    "  --port N            listen on 127.0.0.1:N (0, the default: a free port)\n"
    "  --user NAME:PASSWORD   a login (repeatable; the password may hold ':')\n"
    "  --database NAME[=SEED.sql[,SEED.sql...]]  a database, empty or created\n"
    "                      from the scripts, run in turn (repeatable; the first\n"
    "                      is the default database)\n"
    "  --delay-ms N        wait N ms before every reply\n"
    "  --drop-after-rows N close the connection after N rows of a result\n"
    "  --stall-query TEXT  no reply to a batch or procedure call whose text holds\n"
    "                      TEXT (any case) until the client cancels it (repeatable)\n"
    "  --bandwidth N       send no more than N bytes a second, over all connections\n"
    "                      together, as over a slow link (default: unlimited)\n"
    "  --collation ci|binary  text columns compare and sort without case and\n"
    "                      trailing blanks (ci) or by code point (binary, the default)\n"
    "  --require-encryption  answer the PRELOGIN with ENCRYPT_REQ: the whole connection\n"
    "                      in TLS, a client that does not encrypt is refused\n"
    "  --no-encryption     no TLS at all (ENCRYPT_NOT_SUP), as a server without a\n"
    "                      certificate; by default the login is always encrypted\n"
    "                      and the whole connection when the client asks\n"
    "  --textsize N        the TEXTSIZE a session starts with, as a client's\n"
    "                      'set textsize N' at login would set it (default: unlimited\n"
    "                      for an ODBC login, 4096 for others)\n"
    "  --quoted-identifier on|off  QUOTED_IDENTIFIER at the start of a session\n"
    "                      (default: on for an ODBC login, off for others)\n"
    "  --snapshot-isolation NAME  the database allows snapshot isolation\n"
    "                      (ALLOW_SNAPSHOT_ISOLATION ON; repeatable)\n"
    "  --config FILE       read options from FILE, one per line: 'user tester:secret'\n"
    "The first line on standard output is 'PORT <number>'.\n";

namespace {

bool number(const std::string& text, long min, long max, long& out) {
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && p == text.data() + text.size() && out >= min && out <= max;
}

bool apply(const std::string& key, const std::string& value, const std::string& baseDir,
           Options& out, std::string& error, int depth);

bool readConfig(const std::string& path, Options& out, std::string& error, int depth) {
    if (depth > 4) {
        error = "--config nested too deeply";
        return false;
    }
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string dir =
        path.find('/') == std::string::npos ? "" : path.substr(0, path.rfind('/') + 1);
    for (std::string line; std::getline(in, line);) {
        size_t a = line.find_first_not_of(" \t\r");
        if (a == std::string::npos || line[a] == '#') continue;
        size_t b = line.find_last_not_of(" \t\r");
        line = line.substr(a, b - a + 1);
        size_t space = line.find_first_of(" \t=");
        std::string key = line.substr(0, space);
        std::string value;
        if (space != std::string::npos) {
            size_t v = line.find_first_not_of(" \t", space + (line[space] == '=' ? 1 : 0));
            if (v != std::string::npos) value = line.substr(v);
        }
        if (key.rfind("--", 0) == 0) key = key.substr(2);
        if (!apply(key, value, dir, out, error, depth + 1)) return false;
    }
    return true;
}

bool apply(const std::string& key, const std::string& value, const std::string& baseDir,
           Options& out, std::string& error, int depth) {
    long n = 0;
    if (key == "port") {
        if (!number(value, 0, 65535, n)) return error = "bad --port " + value, false;
        out.port = uint16_t(n);
    } else if (key == "user") {
        size_t colon = value.find(':');
        if (colon == std::string::npos || colon == 0)
            return error = "--user needs NAME:PASSWORD", false;
        out.config.users[toLower(value.substr(0, colon))] = value.substr(colon + 1);
    } else if (key == "database") {
        size_t eq = value.find('=');
        DatabaseSource source{value.substr(0, eq), {}};
        if (source.name.empty()) return error = "--database needs a name", false;
        // Several seeds, comma-separated, run in turn: a variant of a
        // database is its script plus a short one of changes.
        for (size_t from = eq; from != std::string::npos;) {
            size_t comma = value.find(',', from + 1);
            std::string file = value.substr(from + 1, comma - from - 1);
            if (file.empty()) return error = "--database " + value + ": an empty seed name", false;
            source.seedFiles.push_back(file[0] == '/' ? file : baseDir + file);
            from = comma;
        }
        out.databases.push_back(source);
    } else if (key == "delay-ms") {
        if (!number(value, 0, 600000, n)) return error = "bad --delay-ms " + value, false;
        out.config.delayMs = int(n);
    } else if (key == "drop-after-rows") {
        if (!number(value, 0, 1L << 40, n)) return error = "bad --drop-after-rows " + value, false;
        out.config.dropAfterRows = n;
    } else if (key == "stall-query") {
        if (value.empty()) return error = "--stall-query needs a text", false;
        out.config.stallTexts.push_back(toLower(value));
    } else if (key == "bandwidth") {
        if (!number(value, 1, 1L << 40, n)) return error = "bad --bandwidth " + value, false;
        out.config.sendLimit = std::make_shared<SendLimit>(uint64_t(n));
    } else if (key == "collation") {
        if (value != "ci" && value != "binary")
            return error = "bad --collation " + value + " (ci or binary)", false;
        out.caseInsensitive = value == "ci";
    } else if (key == "require-encryption" || key == "no-encryption") {
        if (!value.empty()) return error = "--" + key + " takes no value", false;
        out.encryption = key == "no-encryption" ? EncryptionMode::None : EncryptionMode::Required;
    } else if (key == "textsize") {
        if (!number(value, 0, 2147483647, n)) return error = "bad --textsize " + value, false;
        out.config.textSize = n == 0 ? kDefaultTextSize : n;
    } else if (key == "quoted-identifier") {
        if (value != "on" && value != "off")
            return error = "bad --quoted-identifier " + value + " (on or off)", false;
        out.config.quotedIdentifier = value == "on";
    } else if (key == "snapshot-isolation") {
        if (value.empty()) return error = "--snapshot-isolation needs a database name", false;
        out.snapshotDatabases.push_back(value);
    } else if (key == "config") {
        return readConfig(value, out, error, depth);
    } else {
        return error = "unknown option --" + key, false;
    }
    return true;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.rfind("--", 0) != 0) return error = "unexpected argument " + arg, false;
        std::string key = arg.substr(2), value;
        size_t eq = key.find('=');
        if (eq != std::string::npos && key.substr(0, eq) != "database") {
            value = key.substr(eq + 1);
            key = key.substr(0, eq);
        } else if (eq != std::string::npos && key.rfind("database=", 0) == 0) {
            value = key.substr(9);
            key = "database";
        } else if (key == "require-encryption" || key == "no-encryption") {
            // switches, without a value
        } else {
            static const char* const known[] = {"port",
                                                "user",
                                                "database",
                                                "delay-ms",
                                                "collation",
                                                "drop-after-rows",
                                                "stall-query",
                                                "config",
                                                "bandwidth",
                                                "textsize",
                                                "quoted-identifier",
                                                "snapshot-isolation"};
            if (std::find(std::begin(known), std::end(known), key) == std::end(known))
                return error = "unknown option " + arg, false;
            if (i + 1 >= args.size()) return error = arg + " needs a value", false;
            value = args[++i];
        }
        if (!apply(key, value, "", out, error, 0)) return false;
    }
    if (out.config.users.empty()) return error = "at least one --user is needed", false;
    if (out.databases.empty()) return error = "at least one --database is needed", false;
    for (DatabaseSource& d : out.databases) d.caseInsensitive = out.caseInsensitive;
    for (const std::string& name : out.snapshotDatabases) {
        auto d =
            std::find_if(out.databases.begin(), out.databases.end(),
                         [&](const DatabaseSource& s) { return equalsIgnoreCase(s.name, name); });
        if (d == out.databases.end())
            return error = "--snapshot-isolation " + name + ": no such --database", false;
        d->allowsSnapshot = true;
    }
    return true;
}

}  // namespace tds
