#include "Session.h"

#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "Conversions.h"
#include "Login.h"

namespace tds {

namespace {

ServerMessage message(int number, uint8_t severity, std::string text, uint8_t state = 1) {
    ServerMessage m;
    m.number = number;
    m.severity = severity;
    m.state = state;
    m.text = std::move(text);
    return m;
}

// SET's words, lower case, without the SET itself and its punctuation.
std::vector<std::string> setWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (std::isspace(uint8_t(c)) || c == ',' || c == ';') {
            if (!word.empty()) words.push_back(toLower(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(toLower(word));
    if (!words.empty() && words[0] == "set") words.erase(words.begin());
    return words;
}

// Whether a statement reads or writes the database's objects (a FROM, an
// INSERT, ...): under snapshot isolation a database that does not allow it
// refuses those, and only those.
bool touchesDatabase(std::string_view statement) {
    static const char* const kWords[] = {"from",  "into",     "update", "delete",
                                         "merge", "truncate", "table"};
    const std::string text = toLower(statement);
    auto isWordChar = [](char c) { return std::isalnum(uint8_t(c)) || c == '_' || c == '@'; };
    for (const char* w : kWords) {
        const size_t n = std::strlen(w);
        for (size_t at = text.find(w); at != std::string::npos; at = text.find(w, at + 1)) {
            if ((at == 0 || !isWordChar(text[at - 1])) &&
                (at + n == text.size() || !isWordChar(text[at + n])))
                return true;
        }
    }
    return false;
}

// The bytes of a max value that TEXTSIZE lets through, counted as they
// travel: two per UTF-16 unit for nvarchar, one per character for varchar
// (its code page has one byte a character), the bytes of a varbinary.
size_t textSizeCut(const ColumnType& type, std::string_view utf8OrBytes, long textSize) {
    const size_t limit = size_t(textSize);
    if (!type.max || utf8OrBytes.size() <= limit / 2) return utf8OrBytes.size();
    if (type.kind != Kind::NVarChar && type.kind != Kind::VarChar)
        return std::min(utf8OrBytes.size(), limit);
    size_t wire = 0;
    for (size_t i = 0; i < utf8OrBytes.size();) {
        const auto lead = uint8_t(utf8OrBytes[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const size_t bytes = type.kind == Kind::VarChar ? 1 : length == 4 ? 4 : 2;
        if (wire + bytes > limit) return i;
        wire += bytes;
        i += length;
    }
    return utf8OrBytes.size();
}

}  // namespace

SessionOptions SessionOptions::AtLogin(bool odbc, const ServerConfig& config) {
    SessionOptions o;
    o.textSize = config.textSize ? *config.textSize : odbc ? kUnlimitedTextSize : kDefaultTextSize;
    for (const char* name : {"ansi_nulls", "ansi_null_dflt_on", "ansi_padding", "ansi_warnings",
                             "concat_null_yields_null", "quoted_identifier"})
        o.flags[name] = odbc;
    for (const char* name : {"arithabort", "numeric_roundabort", "implicit_transactions"})
        o.flags[name] = false;
    if (config.quotedIdentifier) o.flags["quoted_identifier"] = *config.quotedIdentifier;
    return o;
}

void SessionOptions::apply(std::string_view set) {
    const std::vector<std::string> w = setWords(set);
    if (w.size() < 2) return;
    long n = 0;
    const auto number = [&](const std::string& text) {
        auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        return ec == std::errc() && p == text.data() + text.size();
    };
    if (w[0] == "textsize") {
        if (number(w[1])) textSize = n == 0 ? kDefaultTextSize : n < 0 ? kUnlimitedTextSize : n;
    } else if (w[0] == "lock_timeout") {
        if (number(w[1])) lockTimeout = n;
    } else if (w[0] == "dateformat") {
        dateFormat = w[1];
    } else if (w[0] == "transaction" && w.size() >= 4 && w[1] == "isolation") {
        snapshot = w[3] == "snapshot";
    } else if (w.back() == "on" || w.back() == "off") {
        const bool on = w.back() == "on";
        for (size_t i = 0; i + 1 < w.size(); ++i) {
            if (w[i] == "ansi_defaults") {
                for (const char* name :
                     {"ansi_nulls", "ansi_null_dflt_on", "ansi_padding", "ansi_warnings",
                      "quoted_identifier", "implicit_transactions"})
                    flags[name] = on;
            } else if (flags.count(w[i])) {
                flags[w[i]] = on;
            }
        }
    }
}

std::optional<int> SessionOptions::property(std::string_view name) const {
    const std::string key = toLower(name);
    if (key == "ansi_null_dflt_on" || key == "implicit_transactions") return std::nullopt;
    auto it = flags.find(key);
    if (it == flags.end()) return std::nullopt;
    return it->second ? 1 : 0;
}

namespace {

// @@ROWS_SCANNED, over every session.
std::atomic<uint64_t> rowsScanned{0};

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string stripMain(std::string name) {
    if (startsWith(name, "main.")) name.erase(0, 5);
    return name;
}

// SQLite's complaint -> the error SQL Server gives in the same situation.
ServerMessage mapError(sqlite3* db, const Rewritten& rw, const std::string& verb,
                       const std::string& database) {
    std::string msg = sqlite3_errmsg(db);
    int code = sqlite3_errcode(db) & 0xFF;
    auto written = [&](const std::string& stored) {
        auto it = rw.writtenNames.find(toLower(stored));
        return it != rw.writtenNames.end() ? it->second : stored;
    };
    auto after = [&](std::string_view prefix) { return stripMain(msg.substr(prefix.size())); };
    if (startsWith(msg, "no such table: ") || startsWith(msg, "no such view: ")) {
        bool view = startsWith(msg, "no such view: ");
        std::string name = written(after(view ? "no such view: " : "no such table: "));
        if (verb == "drop") {
            return message(3701, 11,
                           std::string("Cannot drop the ") + (view ? "view" : "table") + " '" +
                               name + "', because it does not exist or you do not have permission.",
                           5);
        }
        return message(208, 16, "Invalid object name '" + name + "'.");
    }
    // Only the memory-optimized tables' authorizer denies.
    if (code == SQLITE_AUTH || msg.find(" is prohibited") != std::string::npos) {
        return message(41368, 16,
                       "Accessing memory optimized tables using the READ COMMITTED isolation "
                       "level is supported only for autocommit transactions. It is not "
                       "supported for explicit or implicit transactions. Provide a supported "
                       "isolation level for the memory optimized table using a table hint, "
                       "such as WITH (SNAPSHOT).");
    }
    if (startsWith(msg, "unknown database ")) {
        return message(208, 16, "Invalid object name '" + msg.substr(17) + "'.");
    }
    if (startsWith(msg, "near \"")) {
        size_t end = msg.find("\": syntax error");
        if (end != std::string::npos)
            return message(102, 15, "Incorrect syntax near '" + msg.substr(6, end - 6) + "'.");
    }
    if (startsWith(msg, "cannot commit - no transaction is active"))
        return message(3902, 16,
                       "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
    if (startsWith(msg, "cannot rollback - no transaction is active"))
        return message(3903, 16,
                       "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
    if (msg == "incomplete input")
        return message(102, 15, "Incorrect syntax near the end of the batch.");
    if (startsWith(msg, "no such column: ")) {
        std::string name = msg.substr(16);
        if (name.find('.') != std::string::npos)
            return message(4104, 16,
                           "The multi-part identifier \"" + name + "\" could not be bound.");
        return message(207, 16, "Invalid column name '" + name + "'.");
    }
    // An INSERT's column list.
    if (size_t at = msg.find(" has no column named ");
        startsWith(msg, "table ") && at != std::string::npos)
        return message(207, 16, "Invalid column name '" + msg.substr(at + 21) + "'.");
    for (const char* kind : {"table ", "view ", "index "}) {
        size_t pos = msg.find(" already exists");
        if (startsWith(msg, kind) && pos != std::string::npos) {
            std::string name = stripMain(msg.substr(strlen(kind), pos - strlen(kind)));
            return message(
                2714, 16,
                "There is already an object named '" + written(name) + "' in the database.", 6);
        }
    }
    if (startsWith(msg, "UNIQUE constraint failed: ")) {
        std::string target = msg.substr(26);
        std::string table = target.substr(0, target.find('.'));
        auto [owner, name] = splitStoredName(table);
        return message(2627, 14,
                       "Violation of PRIMARY KEY constraint 'PK_" + name +
                           "'. Cannot insert duplicate key in object '" + owner + "." + name +
                           "'.");
    }
    if (startsWith(msg, "NOT NULL constraint failed: ")) {
        std::string target = msg.substr(28);
        size_t dot = target.rfind('.');
        auto [owner, name] = splitStoredName(target.substr(0, dot));
        return message(515, 16,
                       "Cannot insert the value NULL into column '" + target.substr(dot + 1) +
                           "', table '" + database + "." + owner + "." + name +
                           "'; column does not allow nulls. INSERT fails.",
                       2);
    }
    // The conversions' own errors carry SQL Server's numbers; a sum beyond
    // 64 bits fails as a bigint SUM does there.
    if (int number = 0; readNumberedError(msg, number, msg)) return message(number, 16, msg);
    if (msg == "integer overflow")
        return message(8115, 16,
                       "Arithmetic overflow error converting expression to data type bigint.");
    if (startsWith(msg, "no such function: ")) {
        return message(195, 15,
                       "'" + msg.substr(18) + "' is not a recognized built-in function name.");
    }
    if (msg.find("values were supplied") != std::string::npos ||
        msg.find(" values for ") != std::string::npos) {
        return message(213, 16,
                       "Column name or number of supplied values does not match table definition.");
    }
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        return message(1222, 16, "Lock request time out period exceeded.", 56);
    if (code == SQLITE_CONSTRAINT)
        return message(547, 16, "The statement conflicted with a constraint: " + msg);
    return message(50000, 16, msg);
}

// THROW's three arguments; none when it is not of that shape.
std::optional<ServerMessage> parseThrow(const std::string& text) {
    size_t i = text.find_first_of(" \t\r\n");
    const auto blanks = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    };
    const auto number = [&](long& out) {
        blanks();
        const size_t start = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (i == start || i - start > 9) return false;
        out = std::stol(text.substr(start, i - start));
        blanks();
        return true;
    };
    long code = 0, state = 0;
    if (i == std::string::npos || !number(code) || i >= text.size() || text[i++] != ',') return {};
    blanks();
    if (i < text.size() && (text[i] == 'N' || text[i] == 'n')) ++i;
    if (i >= text.size() || text[i++] != '\'') return {};
    std::string said;
    for (;; ++i) {
        if (i >= text.size()) return {};
        if (text[i] == '\'') {
            if (i + 1 < text.size() && text[i + 1] == '\'') {
                said += '\'';
                ++i;
                continue;
            }
            ++i;
            break;
        }
        said += text[i];
    }
    blanks();
    if (i >= text.size() || text[i++] != ',' || !number(state) || code < 50000) return {};
    return message(int(code), 16, said, uint8_t(state));
}

// Whether a table has an index with a WHERE (SQLite's partial index).
bool hasFilteredIndex(sqlite3* db, const std::string& table) {
    sqlite3_stmt* stmt = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_index_list(?1) WHERE partial = 1", -1, &stmt,
                           nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        found = sqlite3_step(stmt) == SQLITE_ROW;
    }
    sqlite3_finalize(stmt);
    return found;
}

std::string trimText(std::string s) {
    size_t a = s.find_first_not_of(" \t\r\n;");
    size_t b = s.find_last_not_of(" \t\r\n;");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string unbracket(std::string s) {
    s = trimText(s);
    if (s.size() >= 2 &&
        ((s.front() == '[' && s.back() == ']') || (s.front() == '"' && s.back() == '"')))
        s = s.substr(1, s.size() - 2);
    return s;
}

// "@P1 int,@P2 nvarchar(4000)" -> {"@P1", "@P2"}
std::vector<std::string> declaredNames(const std::string& decls) {
    std::vector<std::string> names;
    int depth = 0;
    std::string current;
    auto flush = [&] {
        std::string t = trimText(current);
        if (!t.empty()) names.push_back(t.substr(0, t.find_first_of(" \t\r\n")));
        current.clear();
    };
    for (char c : decls) {
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (c == ',' && depth == 0) {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return names;
}

uint16_t commandFor(const std::string& verb) {
    if (verb == "select" || verb == "with" || verb == "values") return 0xC1;
    if (verb == "insert" || verb == "replace") return 0xC3;
    if (verb == "delete") return 0xC4;
    if (verb == "update") return 0xC5;
    return 0;
}

}  // namespace

Session::Session(int fd, uint16_t spid, const ServerConfig& config, const Catalog& catalog)
    : fd_(fd),
      spid_(spid),
      config_(config),
      catalog_(catalog),
      reader_(fd, config.limits),
      writer_(fd, spid) {
    writer_.setSendLimit(config.sendLimit.get());
}

Session::~Session() { sqlite3_close(db_); }

void Session::delay() {
    if (config_.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(config_.delayMs));
}

void Session::run() {
    Message m;
    bool loggedIn = false;
    for (;;) {
        ReadResult rr = reader_.read(m);
        if (rr != ReadResult::Ok) {
            if (rr != ReadResult::Eof)
                std::fprintf(
                    stderr, "tds-server: spid %u: malformed or oversized packet, closing\n", spid_);
            return;
        }
        Outcome outcome = Outcome::Continue;
        try {
            if (!loggedIn) {
                if (m.type == kPrelogin) {
                    checkPrelogin(m.payload);
                    delay();
                    writer_.bytes(preloginReply());
                    writer_.endMessage();
                } else if (m.type == kLogin7) {
                    if (!login(m)) return;
                    loggedIn = true;
                } else {
                    std::fprintf(stderr,
                                 "tds-server: spid %u: packet type 0x%02X before login, closing\n",
                                 spid_, m.type);
                    return;
                }
            } else if (m.type == kSqlBatch) {
                outcome = batch(m);
            } else if (m.type == kRpc) {
                outcome = rpc(m);
            } else if (m.type == kAttention) {
                delay();
                writeDone(writer_, kDone, kDoneAttn, 0, 0);
                writer_.endMessage();
            } else if (m.type == kTransactionManager) {
                delay();
                writeMessage(
                    writer_,
                    message(8004, 16,
                            "Transaction manager requests are not supported by this server."));
                writeDone(writer_, kDone, kDoneError, 0, 0);
                writer_.endMessage();
            } else {
                std::fprintf(stderr,
                             "tds-server: spid %u: unexpected packet type 0x%02X, closing\n", spid_,
                             m.type);
                return;
            }
        } catch (const ProtocolError& e) {
            std::fprintf(stderr, "tds-server: spid %u: %s, closing\n", spid_, e.what());
            return;
        }
        if (outcome == Outcome::Attention) {
            // The ATTENTION is waiting in the socket: take it, then confirm.
            Message attention;
            reader_.read(attention);
            writer_.clearAttention();
            writeDone(writer_, kDone, kDoneAttn, 0, 0);
            writer_.endMessage();
        }
        if (outcome == Outcome::Close || writer_.failed()) {
            ::shutdown(fd_, SHUT_RDWR);
            return;
        }
    }
}

bool Session::login(const Message& m) {
    Login7 login = parseLogin7(m.payload);
    delay();
    auto refuse = [&](std::vector<ServerMessage> messages) {
        for (const ServerMessage& msg : messages) writeMessage(writer_, msg);
        writeDone(writer_, kDone, kDoneError, 0, 0);
        writer_.endMessage();
        std::fprintf(stderr, "tds-server: spid %u: login refused for '%s'\n", spid_,
                     login.userName.c_str());
        return false;
    };
    const ServerMessage loginFailed =
        message(18456, 14, "Login failed for user '" + login.userName + "'.");
    if (login.tdsVersion < 0x730A0003) {
        return refuse({message(18452, 14, "This server speaks TDS 7.3 and 7.4 only.")});
    }
    auto user = config_.users.find(toLower(login.userName));
    if (login.wantsSspi || user == config_.users.end() || user->second != login.password) {
        return refuse({loginFailed});
    }
    Database* database = login.database.empty() ? catalog_.first() : catalog_.find(login.database);
    std::string error;
    if (database) setConnection(database->open(error));
    if (!database || !db_) {
        std::string name = login.database.empty() ? std::string("default") : login.database;
        return refuse({message(4060, 11,
                               "Cannot open database \"" + name +
                                   "\" requested by the login. The login failed."),
                       loginFailed});
    }
    database_ = database;
    user_ = login.userName;
    options_ = SessionOptions::AtLogin(login.odbc, config_);

    uint32_t version = login.tdsVersion >= kTds74 ? kTds74 : login.tdsVersion;
    size_t packetSize = login.packetSize == 0
                            ? 4096
                            : std::min<size_t>(std::max<size_t>(login.packetSize, 512), 32767);
    writeEnvChange(writer_, 1, database_->name(), "master");
    ServerMessage info =
        message(5701, 0, "Changed database context to '" + database_->name() + "'.", 2);
    writeMessage(writer_, info);
    writeCollationChange(writer_);
    writeEnvChange(writer_, 2, "us_english", "");
    writeMessage(writer_, message(5703, 0, "Changed language setting to us_english."));
    writeLoginAck(writer_, version);
    writeEnvChange(writer_, 4, std::to_string(packetSize), std::to_string(packetSize));
    writeDone(writer_, kDone, kDoneFinal, 0, 0);
    writer_.endMessage();
    writer_.setPacketSize(packetSize);
    return !writer_.failed();
}

void Session::setPending(uint16_t status, uint16_t command, uint64_t count) {
    flushPending(true);
    rowCount_ = count;
    pending_ = true;
    pendingStatus_ = status;
    pendingCommand_ = command;
    pendingCount_ = count;
}

void Session::flushPending(bool more) {
    if (!pending_) return;
    writeDone(writer_, doneToken_, uint16_t(pendingStatus_ | (more ? kDoneMore : 0)),
              pendingCommand_, pendingCount_);
    pending_ = false;
}

bool Session::stalls(const std::string& text) const {
    if (config_.stallTexts.empty()) return false;
    const std::string lower = toLower(text);
    for (const std::string& t : config_.stallTexts)
        if (lower.find(t) != std::string::npos) return true;
    return false;
}

Session::Outcome Session::stall(bool inProc) {
    std::fprintf(stderr, "tds-server: spid %u: holding a request until the client cancels it\n",
                 spid_);
    // A finite LOCK_TIMEOUT ends the wait for the lock with error 1222.
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(std::max(options_.lockTimeout, 0L));
    for (;;) {
        int waitMs = -1;
        if (options_.lockTimeout >= 0) {
            waitMs = int(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(
                                                  until - std::chrono::steady_clock::now())
                                                  .count()));
        }
        // Still reading the socket, so that the ATTENTION is seen.
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Outcome::Close;
        }
        if (ready == 0) {
            const ServerMessage timedOut =
                message(1222, 16, "Lock request time out period exceeded.", 51);
            if (inProc) {
                procError(timedOut);
            } else {
                writeMessage(writer_, timedOut);
                writeDone(writer_, kDone, kDoneError, 0, 0);
                writer_.endMessage();
            }
            return Outcome::Continue;
        }
        uint8_t type = 0;
        const ssize_t n = ::recv(fd_, &type, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) return Outcome::Close;  // the client left, or the server stops
        if (type == kAttention) return Outcome::Attention;
        // A client waits for its reply before it sends another request.
        std::fprintf(stderr,
                     "tds-server: spid %u: packet type 0x%02X while a request is held, closing\n",
                     spid_, type);
        return Outcome::Close;
    }
}

Session::Outcome Session::batch(const Message& m) {
    size_t offset = skipAllHeaders(m.payload);
    std::string sql =
        utf16leToUtf8(m.payload.data() + offset, (m.payload.size() - offset) & ~size_t(1));
    if (stalls(sql)) return stall(false);
    delay();
    bool failed = false;
    Outcome outcome = runSql(sql, false, {}, failed);
    if (outcome == Outcome::Continue) writer_.endMessage();
    return outcome;
}

Session::Outcome Session::runSql(const std::string& tsql, bool inProc,
                                 const std::vector<Binding>& bindings, bool& failed) {
    doneToken_ = inProc ? kDoneInProc : kDone;
    pending_ = false;
    failed = false;
    const RewriteContext context{database_->name(), database_->schemas(db_),
                                 database_->caseInsensitive(),
                                 [this](const std::string& table) { return tableColumns(table); }};
    Rewritten rw = rewriteTsql(tsql, context);
    // QUOTED_IDENTIFIER holds as the batch is compiled: a SET in the batch
    // counts from the next one.
    const bool quotedIdentifier = options_.property("quoted_identifier").value_or(1) != 0;
    const std::string& sql = rw.sql;
    memoryTables_.clear();
    sqlite3_stmt* memory = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "SELECT lower(name) FROM sqlite_schema WHERE type = 'table' AND "
                           "instr(sql, '/*MEMORY_OPTIMIZED*/') > 0",
                           -1, &memory, nullptr) == SQLITE_OK) {
        while (sqlite3_step(memory) == SQLITE_ROW)
            memoryTables_.insert(reinterpret_cast<const char*>(sqlite3_column_text(memory, 0)));
    }
    sqlite3_finalize(memory);
    // Under XACT_ABORT a run-time error takes the whole transaction with it.
    // A compile error (a statement SQLite cannot prepare: bad syntax, an
    // unknown column) ends the batch but leaves the transaction open, as in
    // SQL Server, where the batch is compiled before it runs.
    auto fail = [&](const ServerMessage& error, bool compileError = false) {
        if (xactAbort_ && !compileError && inTransaction())
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        flushPending(true);
        writeMessage(writer_, error);
        if (!inProc) writeDone(writer_, kDone, kDoneError, 0, 0);
        failed = true;
        return Outcome::Continue;
    };
    // SQLite's own reading errors, not a busy or locked database.
    auto compileFailed = [&] { return (sqlite3_errcode(db_) & 0xFF) == SQLITE_ERROR; };
    if (rw.refusal)
        return fail(message(rw.refusal->number, rw.refusal->severity, rw.refusal->text), true);
    if (std::optional<ServerMessage> error = derivedTableColumns(rw, context))
        return fail(*error, true);
    // Under NOEXEC each statement is read to its end and skipped, as SQL
    // Server compiles but does not run it; only SET NOEXEC OFF takes effect.
    for (size_t pos = skipBlank(sql, 0); pos < sql.size(); pos = skipBlank(sql, pos)) {
        std::vector<std::string> words = leadingWords(sql, pos, 3);
        std::string verb = words.empty() ? std::string() : words[0];
        if (verb == "set" || verb == "use" ||
            (words.size() >= 2 && verb == "create" && words[1] == "schema")) {
            size_t end = lineStatementEnd(sql, pos);
            std::string text = sql.substr(pos, end - pos);
            pos = end;
            const std::string option = words.size() >= 2 ? words[1] : std::string();
            const bool on = words.size() >= 3 && words[2] == "on";
            if (verb == "set" && option == "noexec") {
                noexec_ = on;
            } else if (noexec_) {
                continue;
            } else if (verb == "set" && option == "xact_abort") {
                xactAbort_ = on;
            } else if (verb == "set" && option == "context_info") {
                ServerMessage error;
                bool compileError = false;
                const size_t value = toLower(text).find("context_info") + 12;
                if (!setContextInfo(trimText(text.substr(value)), error, compileError))
                    return fail(error, compileError);
            } else if (verb == "set") {
                options_.apply(text);
            } else if (verb == "use") {
                ServerMessage error;
                flushPending(true);
                if (!useDatabase(unbracket(trimText(text).substr(3)), error)) return fail(error);
            } else if (verb == "create" && words.size() >= 3) {
                database_->addSchema(unbracket(words[2]));
            }
            setPending(0, 0, 0);
            continue;
        }
        // Snapshot isolation is refused at the first statement that reaches
        // the database, not at the SET.
        if (options_.snapshot && !database_->allowsSnapshot() && !noexec_) {
            const std::optional<size_t> end = statementEnd(sql, pos);
            if (touchesDatabase(std::string_view(sql).substr(pos, end ? *end - pos : sql.size())))
                return fail(snapshotRefused());
        }
        // THROW number, 'message', state: a run-time error of severity 16.
        if (verb == "throw") {
            const size_t end = lineStatementEnd(sql, pos);
            const std::optional<ServerMessage> thrown = parseThrow(sql.substr(pos, end - pos));
            pos = end;
            if (noexec_) continue;
            if (!thrown) return fail(message(102, 15, "Incorrect syntax near 'THROW'."), true);
            return fail(*thrown);
        }
        // IF <condition> <statement>: SQLite tells whether the condition
        // holds (NULL does not, as in T-SQL); then the statement runs as the
        // next of the batch, or is read and passed over. Under NOEXEC both
        // are passed over.
        if (verb == "if") {
            if (std::optional<IfStatement> branch = matchIf(sql, pos)) {
                bool holds = false;
                if (!noexec_) {
                    const std::string test =
                        "SELECT CASE WHEN (" +
                        sql.substr(branch->conditionBegin,
                                   branch->conditionEnd - branch->conditionBegin) +
                        ") THEN 1 ELSE 0 END";
                    sqlite3_stmt* stmt = nullptr;
                    ServerMessage error;
                    if (sqlite3_prepare_v2(db_, test.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
                        error = mapError(db_, rw, verb, database_->name());
                        const bool compileError = compileFailed();
                        sqlite3_finalize(stmt);
                        return fail(error, compileError);
                    }
                    if (!bindParameters(stmt, bindings, error)) {
                        sqlite3_finalize(stmt);
                        return fail(error, true);
                    }
                    const int rc = sqlite3_step(stmt);
                    if (rc != SQLITE_ROW) error = mapError(db_, rw, verb, database_->name());
                    holds = rc == SQLITE_ROW && sqlite3_column_int(stmt, 0) == 1;
                    sqlite3_finalize(stmt);
                    if (rc != SQLITE_ROW) return fail(error);
                }
                if (holds) {
                    pos = branch->statementBegin;
                } else if (std::optional<size_t> end = statementEnd(sql, branch->statementBegin)) {
                    pos = *end;
                } else {
                    return fail(mapError(db_, rw, verb, database_->name()), compileFailed());
                }
                continue;
            }
        }
        // The row-count estimate: SQLite has no sys.partitions, so the
        // answer is the table's count(*), or NULL for no such table.
        if (words.size() >= 2 && verb == "select" && words[1] == "sum") {
            if (std::optional<RowCountQuery> q = matchRowCountQuery(sql, pos)) {
                pos = q->end;
                if (noexec_) continue;
                std::optional<int64_t> count;
                std::optional<std::string> stored = storedNameOfObject(q->objectName, context);
                if (stored && !countRows(db_, *stored, count))
                    return fail(mapError(db_, rw, verb, database_->name()));
                sendRowCount(count);
                continue;
            }
        }
        if (words.size() >= 2 && verb == "select" && words[1] == "name") {
            // sys.databases: one row per database, every login sees them all.
            if (std::optional<size_t> end = matchDatabaseListQuery(sql, pos)) {
                pos = *end;
                if (!noexec_) sendDatabaseNames();
                continue;
            }
            // sys.columns: what SQLite knows of the table's columns.
            if (std::optional<ColumnPropertiesQuery> q = matchColumnPropertiesQuery(sql, pos)) {
                pos = q->end;
                if (!noexec_) sendColumnProperties(storedNameOfObject(q->objectName, context));
                continue;
            }
            if (std::optional<ColumnPropertiesQuery> q = matchColumnCollationsQuery(sql, pos)) {
                pos = q->end;
                if (!noexec_) sendColumnCollations(storedNameOfObject(q->objectName, context));
                continue;
            }
        }
        if (words.size() >= 2 && verb == "select") {
            if (std::optional<ColumnPropertiesQuery> q = matchIndexColumnsQuery(sql, pos)) {
                pos = q->end;
                if (!noexec_) sendIndexColumns(storedNameOfObject(q->objectName, context));
                continue;
            }
            // sys.triggers and sys.foreign_keys: what SQLite's schema holds.
            if (std::optional<CatalogueQuery> q = matchCatalogueQuery(sql, pos)) {
                pos = q->end;
                if (!noexec_) sendCatalogue(q->kind, storedNameOfObject(q->objectName, context));
                continue;
            }
        }
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        // The tables a statement writes, as SQLite's authorizer names them.
        std::vector<std::string> written;
        const bool writes = verb == "insert" || verb == "update" || verb == "delete";
        if (writes && !quotedIdentifier) writtenTables_ = &written;
        int rc = sqlite3_prepare_v2(db_, sql.c_str() + pos, -1, &stmt, &tail);
        writtenTables_ = nullptr;
        // SQL Server needs no ';' between statements: where SQLite stumbles
        // on a word that starts one, the statement before it is run alone.
        if (const int at = sqlite3_error_offset(db_);
            rc != SQLITE_OK && at > 0 && startsStatement(sql, pos + size_t(at))) {
            const std::string first = sql.substr(pos, size_t(at));
            sqlite3_finalize(stmt);
            stmt = nullptr;
            rc = sqlite3_prepare_v2(db_, first.c_str(), -1, &stmt, nullptr);
            tail = sql.c_str() + pos + at;
        }
        if (rc != SQLITE_OK) {
            ServerMessage error = mapError(db_, rw, verb, database_->name());
            const bool compileError = compileFailed();
            sqlite3_finalize(stmt);
            return fail(error, compileError);
        }
        // A filtered index needs QUOTED_IDENTIFIER on for any write to its table.
        for (const std::string& table : written) {
            if (noexec_ || !hasFilteredIndex(db_, table)) continue;
            sqlite3_finalize(stmt);
            std::string upper = verb;
            for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
            return fail(message(1934, 16,
                                upper +
                                    " failed because the following SET options have incorrect "
                                    "settings: 'QUOTED_IDENTIFIER'. Verify that SET options are "
                                    "correct for use with indexed views and/or indexes on "
                                    "computed columns and/or filtered indexes and/or query "
                                    "notifications and/or XML data type methods and/or spatial "
                                    "index operations."));
        }
        pos = tail ? size_t(tail - sql.c_str()) : sql.size();
        if (!stmt || noexec_) {  // only a comment, or not to be run
            sqlite3_finalize(stmt);
            continue;
        }
        if (ServerMessage error; !bindParameters(stmt, bindings, error)) {
            sqlite3_finalize(stmt);
            return fail(error, true);
        }
        bool statementFailed = false;
        ServerMessage error;
        castTypes_ = &rw.castTypes;
        Outcome outcome = runStatement(stmt, verb, statementFailed, error);
        castTypes_ = nullptr;
        rowsScanned.fetch_add(
            uint64_t(sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_FULLSCAN_STEP, 0)));
        if (statementFailed && outcome == Outcome::Continue) {
            if (error.number == 0) error = mapError(db_, rw, verb, database_->name());
            sqlite3_finalize(stmt);
            return fail(error);
        }
        sqlite3_finalize(stmt);
        if (outcome != Outcome::Continue) return outcome;
    }
    if (pending_) {
        flushPending(inProc);
    } else if (!inProc) {
        writeDone(writer_, kDone, kDoneFinal, 0, 0);
    }
    return Outcome::Continue;
}

std::optional<ServerMessage> Session::derivedTableColumns(const Rewritten& rw,
                                                          const RewriteContext& context) {
    for (const DerivedTable& d : rw.derived) {
        // Its columns as SQLite names them; a select SQLite cannot read is
        // left to the statement's own error.
        sqlite3_stmt* stmt = nullptr;
        const std::string select = rewriteTsql(d.select, context).sql;
        if (sqlite3_prepare_v2(db_, select.c_str(), -1, &stmt, nullptr) != SQLITE_OK || !stmt) {
            sqlite3_finalize(stmt);
            continue;
        }
        std::vector<std::string> names;
        for (int k = 0; k < sqlite3_column_count(stmt); ++k)
            names.push_back(sqlite3_column_name(stmt, k));
        sqlite3_finalize(stmt);
        if (d.unnamed != size_t(-1)) {
            // "*" items before it count their columns.
            size_t column = d.unnamed + 1;
            if (d.starsBefore > 0 && !d.starAfter && names.size() >= d.items)
                column += names.size() - d.items;
            return message(
                8155, 16,
                "Column " + std::to_string(column) + " of '" + d.alias + "' has no column name.",
                2);
        }
        for (size_t k = 0; k < names.size(); ++k) {
            for (size_t j = 0; j < k; ++j) {
                if (!equalsIgnoreCase(names[j], names[k])) continue;
                return message(
                    8156, 16,
                    "The column '" + names[k] + "' is named more than once in '" + d.alias + "'.");
            }
        }
    }
    return std::nullopt;
}

bool Session::bindParameters(sqlite3_stmt* stmt, const std::vector<Binding>& bindings,
                             ServerMessage& error) {
    for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i) {
        const char* name = sqlite3_bind_parameter_name(stmt, i);
        const RpcParam* value = nullptr;
        for (const Binding& b : bindings)
            if (name && equalsIgnoreCase(b.name, name)) value = b.value;
        if (!value) {
            error = message(
                137, 15,
                std::string("Must declare the scalar variable \"") + (name ? name : "?") + "\".");
            return false;
        }
        switch (value->storage) {
            case Storage::Null:
                sqlite3_bind_null(stmt, i);
                break;
            case Storage::Integer:
                sqlite3_bind_int64(stmt, i, value->integer);
                break;
            case Storage::Real:
                sqlite3_bind_double(stmt, i, value->real);
                break;
            case Storage::Text:
                sqlite3_bind_text(stmt, i, value->bytes.data(), int(value->bytes.size()),
                                  SQLITE_STATIC);
                break;
            case Storage::Blob:
                sqlite3_bind_blob(stmt, i, value->bytes.data(), int(value->bytes.size()),
                                  SQLITE_STATIC);
                break;
        }
    }
    return true;
}

std::optional<size_t> Session::statementEnd(const std::string& sql, size_t pos) {
    const std::vector<std::string> words = leadingWords(sql, pos, 2);
    const std::string verb = words.empty() ? std::string() : words[0];
    if (verb == "set" || verb == "use" || verb == "throw" ||
        (verb == "create" && words.size() >= 2 && words[1] == "schema"))
        return lineStatementEnd(sql, pos);
    if (verb == "if") {
        if (std::optional<IfStatement> branch = matchIf(sql, pos))
            return statementEnd(sql, branch->statementBegin);
    }
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str() + pos, -1, &stmt, &tail);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_OK) return std::nullopt;
    return tail ? size_t(tail - sql.c_str()) : sql.size();
}

bool Session::setContextInfo(const std::string& value, ServerMessage& error, bool& compileError) {
    // SQLite reads the value: a binary literal, as the rewriting leaves it.
    sqlite3_stmt* stmt = nullptr;
    const std::string select = "SELECT " + value;
    compileError = true;
    if (sqlite3_prepare_v2(db_, select.c_str(), -1, &stmt, nullptr) != SQLITE_OK || !stmt) {
        error = message(102, 15, "Incorrect syntax near '" + value + "'.");
        sqlite3_finalize(stmt);
        return false;
    }
    const int rc = sqlite3_step(stmt);
    const bool binary = rc == SQLITE_ROW && sqlite3_column_type(stmt, 0) == SQLITE_BLOB;
    if (binary) {
        std::string bytes(static_cast<const char*>(sqlite3_column_blob(stmt, 0)),
                          size_t(sqlite3_column_bytes(stmt, 0)));
        bytes.resize(128, '\0');  // cut or padded, as SQL Server keeps it
        contextInfo_ = std::move(bytes);
    }
    sqlite3_finalize(stmt);
    if (!binary)
        error = message(257, 16,
                        "Implicit conversion to varbinary(128) is not allowed. Use the CONVERT "
                        "function to run this query.",
                        3);
    return binary;
}

void Session::setConnection(sqlite3* db) {
    db_ = db;
    if (!db_) return;
    auto contextInfo = [](sqlite3_context* ctx, int, sqlite3_value**) {
        const auto* self = static_cast<const Session*>(sqlite3_user_data(ctx));
        if (!self->contextInfo_) {
            sqlite3_result_null(ctx);
            return;
        }
        sqlite3_result_blob(ctx, self->contextInfo_->data(), int(self->contextInfo_->size()),
                            SQLITE_TRANSIENT);
    };
    sqlite3_create_function(db_, "context_info", 0, SQLITE_UTF8, this, contextInfo, nullptr,
                            nullptr);
    auto rowCount = [](sqlite3_context* ctx, int, sqlite3_value**) {
        const auto* self = static_cast<const Session*>(sqlite3_user_data(ctx));
        sqlite3_result_int64(ctx, int64_t(self->rowCount_));
    };
    sqlite3_create_function(db_, kRowCountFunction, 0, SQLITE_UTF8, this, rowCount, nullptr,
                            nullptr);
    auto textSize = [](sqlite3_context* ctx, int, sqlite3_value**) {
        const auto* self = static_cast<const Session*>(sqlite3_user_data(ctx));
        sqlite3_result_int64(ctx, self->options_.textSize);
    };
    sqlite3_create_function(db_, kTextSizeFunction, 0, SQLITE_UTF8, this, textSize, nullptr,
                            nullptr);
    auto lockTimeout = [](sqlite3_context* ctx, int, sqlite3_value**) {
        const auto* self = static_cast<const Session*>(sqlite3_user_data(ctx));
        sqlite3_result_int64(ctx, self->options_.lockTimeout);
    };
    sqlite3_create_function(db_, kLockTimeoutFunction, 0, SQLITE_UTF8, this, lockTimeout, nullptr,
                            nullptr);
    auto sessionProperty = [](sqlite3_context* ctx, int, sqlite3_value** args) {
        const auto* self = static_cast<const Session*>(sqlite3_user_data(ctx));
        const auto* name = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
        const std::optional<int> value = name ? self->options_.property(name) : std::nullopt;
        if (value) {
            sqlite3_result_int(ctx, *value);
        } else {
            sqlite3_result_null(ctx);
        }
    };
    sqlite3_create_function(db_, "sessionproperty", 1, SQLITE_UTF8, this, sessionProperty, nullptr,
                            nullptr);
    auto scanned = [](sqlite3_context* ctx, int, sqlite3_value**) {
        sqlite3_result_int64(ctx, int64_t(rowsScanned.load()));
    };
    sqlite3_create_function(db_, kRowsScannedFunction, 0, SQLITE_UTF8, nullptr, scanned, nullptr,
                            nullptr);
    // SQLite's own schema is read at every prepare: only the tables' names
    // are checked.
    auto memoryOptimized = [](void* user, int action, const char* table, const char*, const char*,
                              const char*) {
        const auto* self = static_cast<const Session*>(user);
        // The tables a statement writes, while runSql asks for them.
        if ((action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE) &&
            table && self->writtenTables_)
            self->writtenTables_->push_back(table);
        if (self->memoryTables_.empty() || !table || !self->inTransaction()) return SQLITE_OK;
        if (action != SQLITE_INSERT && action != SQLITE_UPDATE && action != SQLITE_DELETE &&
            action != SQLITE_READ)
            return SQLITE_OK;
        return self->memoryTables_.count(toLower(table)) ? SQLITE_DENY : SQLITE_OK;
    };
    sqlite3_set_authorizer(db_, memoryOptimized, this);
}

Session::Outcome Session::runStatement(sqlite3_stmt* stmt, const std::string& verb, bool& failed,
                                       ServerMessage& error) {
    int rc = sqlite3_step(stmt);
    const int columns = sqlite3_column_count(stmt);
    if (columns == 0) {
        while (rc == SQLITE_ROW) rc = sqlite3_step(stmt);
        if (rc != SQLITE_DONE) {
            failed = true;
            return Outcome::Continue;
        }
        uint16_t command = commandFor(verb);
        if (command) {
            setPending(kDoneCount, command, uint64_t(sqlite3_changes64(db_)));
        } else {
            setPending(0, 0, 0);
        }
        return Outcome::Continue;
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        failed = true;
        return Outcome::Continue;
    }
    // Columns: declared SQL Server type, else the first row's storage class
    // (without rows, that of the first row the probe finds).
    std::vector<Column> cols(static_cast<size_t>(columns));
    std::optional<std::vector<int>> probed;
    for (int i = 0; i < columns; ++i) {
        Column& c = cols[size_t(i)];
        const char* name = sqlite3_column_name(stmt, i);
        c.name = name ? name : "";
        const char* decl = sqlite3_column_decltype(stmt, i);
        std::optional<ColumnType> type = decl ? parseDeclaredType(decl) : std::nullopt;
        if (!type && castTypes_) {
            const auto cast = castTypes_->find(toLower(c.name));
            if (cast != castTypes_->end()) type = parseDeclaredType(cast->second);
        }
        if (!type) {
            if (rc != SQLITE_ROW && !probed) probed = firstRowTypesUnfiltered(stmt);
            const int storage = rc == SQLITE_ROW             ? sqlite3_column_type(stmt, i)
                                : size_t(i) < probed->size() ? (*probed)[size_t(i)]
                                                             : SQLITE_NULL;
            Storage s = Storage::Null;
            {
                switch (storage) {
                    case SQLITE_INTEGER:
                        s = Storage::Integer;
                        break;
                    case SQLITE_FLOAT:
                        s = Storage::Real;
                        break;
                    case SQLITE_BLOB:
                        s = Storage::Blob;
                        break;
                    case SQLITE_TEXT:
                        s = Storage::Text;
                        break;
                    default:
                        break;
                }
            }
            type = typeForStorage(s);
        }
        c.type = *type;
        const char* table = sqlite3_column_table_name(stmt, i);
        const char* origin = sqlite3_column_origin_name(stmt, i);
        const char* dbName = sqlite3_column_database_name(stmt, i);
        int notNull = 0;
        if (table && origin &&
            sqlite3_table_column_metadata(db_, dbName, table, origin, nullptr, nullptr, &notNull,
                                          nullptr, nullptr) == SQLITE_OK)
            c.nullable = !notNull;
    }
    flushPending(true);
    writeColMetadata(writer_, cols);
    // Numbers in text columns travel as SQLite spells them.
    std::vector<char> textTarget(cols.size());
    for (size_t i = 0; i < cols.size(); ++i) {
        Kind k = cols[i].type.kind;
        textTarget[i] =
            k == Kind::Char || k == Kind::VarChar || k == Kind::NChar || k == Kind::NVarChar;
    }
    // Each row goes straight into the packet buffer: a value that cannot be
    // converted takes its row back before anything of it has left.
    GrowBuffer& out = writer_.buffer();
    uint64_t rows = 0;
    while (rc == SQLITE_ROW) {
        const size_t rowStart = out.size();
        out.u8(kRow);
        for (int i = 0; i < columns; ++i) {
            // One column call, then the value's own accessors: each
            // sqlite3_column_* call would enter and leave the statement anew.
            // The value is "unprotected", which is fine on a connection that
            // only this thread uses.
            sqlite3_value* value = sqlite3_column_value(stmt, i);
            SqlValue v;
            const int storage = sqlite3_value_type(value);
            switch (storage) {
                case SQLITE_NULL:
                    break;
                case SQLITE_INTEGER:
                case SQLITE_FLOAT:
                    if (textTarget[size_t(i)]) {
                        v.storage = Storage::Text;
                        v.bytes = {reinterpret_cast<const char*>(sqlite3_value_text(value)),
                                   size_t(sqlite3_value_bytes(value))};
                    } else if (storage == SQLITE_INTEGER) {
                        v.storage = Storage::Integer;
                        v.integer = sqlite3_value_int64(value);
                    } else {
                        v.storage = Storage::Real;
                        v.real = sqlite3_value_double(value);
                    }
                    break;
                case SQLITE_TEXT:
                    v.storage = Storage::Text;
                    v.bytes = {reinterpret_cast<const char*>(sqlite3_value_text(value)),
                               size_t(sqlite3_value_bytes(value))};
                    break;
                case SQLITE_BLOB: {
                    const void* blob = sqlite3_value_blob(value);
                    v.storage = textTarget[size_t(i)] ? Storage::Text : Storage::Blob;
                    v.bytes = {static_cast<const char*>(blob), size_t(sqlite3_value_bytes(value))};
                    break;
                }
            }
            // TEXTSIZE cuts max values, without a word, as SQL Server does.
            if (cols[size_t(i)].type.max && !v.bytes.empty())
                v.bytes = v.bytes.substr(
                    0, textSizeCut(cols[size_t(i)].type, v.bytes, options_.textSize));
            if (auto conversion = encodeValue(out, cols[size_t(i)].type, v)) {
                out.truncate(rowStart);
                failed = true;
                error = message(conversion->number, 16, conversion->message);
                return Outcome::Continue;
            }
        }
        ++rows;
        if (config_.dropAfterRows >= 0 && rows >= uint64_t(config_.dropAfterRows)) {
            writer_.flushPartial();
            std::fprintf(stderr, "tds-server: spid %u: dropping the connection after %llu rows\n",
                         spid_, (unsigned long long)rows);
            return Outcome::Close;
        }
        writer_.flushIfFull();
        if (writer_.failed()) return Outcome::Close;
        if (writer_.attentionPending()) return Outcome::Attention;
        rc = sqlite3_step(stmt);
    }
    if (rc != SQLITE_DONE) {
        failed = true;
        return Outcome::Continue;
    }
    setPending(kDoneCount, 0xC1, rows);
    return Outcome::Continue;
}

std::vector<int> Session::firstRowTypesUnfiltered(sqlite3_stmt* stmt) {
    const char* text = sqlite3_sql(stmt);
    const std::string sql = text ? text : "";
    const std::optional<size_t> where = matchNoRowsFilter(sql);
    if (!where) return {};
    const std::string probe = sql.substr(0, *where) + " LIMIT 1";
    std::vector<int> types;
    sqlite3_stmt* first = nullptr;
    if (sqlite3_prepare_v2(db_, probe.c_str(), -1, &first, nullptr) == SQLITE_OK && first &&
        sqlite3_column_count(first) == sqlite3_column_count(stmt) &&
        sqlite3_step(first) == SQLITE_ROW) {
        for (int i = 0; i < sqlite3_column_count(first); ++i)
            types.push_back(sqlite3_column_type(first, i));
    }
    sqlite3_finalize(first);
    return types;
}

void Session::sendDatabaseNames() {
    flushPending(true);
    const std::vector<Column> cols = {{"name", *parseDeclaredType("nvarchar(128)"), false}};
    writeColMetadata(writer_, cols);
    const std::vector<std::string> names = catalog_.names();
    for (const std::string& name : names) {
        SqlValue v;
        v.storage = Storage::Text;
        v.bytes = name;
        ByteBuffer row;
        row.u8(kRow);
        encodeValue(row, cols[0].type, v);
        writer_.bytes(row.data());
    }
    setPending(kDoneCount, 0xC1, names.size());
}

void Session::sendColumnProperties(const std::optional<std::string>& stored) {
    flushPending(true);
    const std::vector<Column> cols = {
        {"name", *parseDeclaredType("nvarchar(128)"), false},
        {"is_identity", *parseDeclaredType("bit"), true},
        {"is_computed", *parseDeclaredType("bit"), true},
        {"system_type_id", *parseDeclaredType("tinyint"), false},
        {"collation_name", *parseDeclaredType("nvarchar(128)"), true}};
    std::map<std::string, std::optional<std::string>> collations;
    if (stored) {
        for (StoredColumn& c : storedColumns(*stored))
            collations.emplace(toLower(c.name), std::move(c.collation));
    }
    writeColMetadata(writer_, cols);
    uint64_t rows = 0;
    sqlite3_stmt* stmt = nullptr;
    // hidden: 2 and 3 are generated columns (virtual and stored).
    if (stored && sqlite3_prepare_v2(db_, "SELECT name, type, hidden FROM pragma_table_xinfo(?)",
                                     -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, stored->data(), int(stored->size()), SQLITE_TRANSIENT);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            const char* declared = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            const std::string type = declared ? declared : "";
            SqlValue values[5];
            values[0].storage = Storage::Text;
            values[0].bytes = name;
            values[1].storage = values[2].storage = values[3].storage = Storage::Integer;
            values[1].integer = declaresIdentity(type);
            values[2].integer = sqlite3_column_int(stmt, 2) >= 2;
            values[3].integer = systemTypeId(type);
            if (const auto it = collations.find(toLower(name));
                it != collations.end() && it->second) {
                values[4].storage = Storage::Text;
                values[4].bytes = *it->second;
            }
            ByteBuffer row;
            row.u8(kRow);
            for (size_t i = 0; i < 5; ++i) encodeValue(row, cols[i].type, values[i]);
            writer_.bytes(row.data());
            ++rows;
        }
    }
    sqlite3_finalize(stmt);
    setPending(kDoneCount, 0xC1, rows);
}

void Session::sendCatalogue(CatalogueQuery::Kind kind, const std::optional<std::string>& stored) {
    flushPending(true);
    using K = CatalogueQuery;
    const bool keys = kind == K::ForeignKeys;
    std::vector<Column> cols;
    if (kind == K::MemoryOptimized) {
        cols.push_back({"is_memory_optimized", *parseDeclaredType("bit"), true});
    } else {
        cols.push_back({"name", *parseDeclaredType("nvarchar(128)"), false});
    }
    if (keys) {
        cols.push_back({"", *parseDeclaredType("nvarchar(128)"), true});
        cols.push_back({"", *parseDeclaredType("nvarchar(128)"), true});
        cols.push_back({"delete_referential_action", *parseDeclaredType("tinyint"), true});
        cols.push_back({"update_referential_action", *parseDeclaredType("tinyint"), true});
    }
    writeColMetadata(writer_, cols);
    // SQLite keeps no name for a foreign key: each is named by its table and
    // number. Period columns are known by the triggers that guard them
    // (withPeriodColumns), which are no triggers of the user's.
    const char* query = nullptr;
    switch (kind) {
        case K::ForeignKeys:
            query =
                "SELECT 'FK_' || replace(m.name, '.', '_') || '_' || f.id, m.name, f.on_delete, "
                "f.on_update FROM sqlite_schema AS m, pragma_foreign_key_list(m.name) AS f "
                "WHERE m.type = 'table' AND f.\"table\" = ?1 COLLATE NOCASE AND f.seq = 0 "
                "ORDER BY 1";
            break;
        case K::Triggers:
            query =
                "SELECT name FROM sqlite_schema WHERE type = 'trigger' AND tbl_name = ?1 "
                "COLLATE NOCASE AND name NOT LIKE 'tds!_%' ESCAPE '!' ORDER BY name";
            break;
        case K::PeriodColumns:
            query =
                "SELECT substr(name, length('tds_period$' || ?2 || '$') + 1) FROM sqlite_schema "
                "WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE AND "
                "substr(name, 1, length('tds_period$' || ?2 || '$')) = "
                "'tds_period$' || ?2 || '$' ORDER BY rowid";
            break;
        case K::MemoryOptimized:
            query =
                "SELECT instr(sql, '/*MEMORY_OPTIMIZED*/') > 0 FROM sqlite_schema "
                "WHERE type = 'table' AND name = ?1 COLLATE NOCASE";
            break;
    }
    const auto action = [](const std::string& a) {
        if (a == "CASCADE") return 1;
        if (a == "SET NULL") return 2;
        if (a == "SET DEFAULT") return 3;
        return 0;
    };
    uint64_t rows = 0;
    sqlite3_stmt* stmt = nullptr;
    if (stored && sqlite3_prepare_v2(db_, query, -1, &stmt, nullptr) == SQLITE_OK) {
        const std::string bare = splitStoredName(*stored).second;
        sqlite3_bind_text(stmt, 1, stored->data(), int(stored->size()), SQLITE_TRANSIENT);
        if (kind == K::PeriodColumns)
            sqlite3_bind_text(stmt, 2, bare.data(), int(bare.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const auto text = [&](int column) {
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
                return std::string(p ? p : "");
            };
            std::vector<SqlValue> values(cols.size());
            for (SqlValue& v : values) v.storage = Storage::Text;
            const std::string name = text(0);
            values[0].bytes = name;
            if (kind == K::MemoryOptimized) {
                values[0].storage = Storage::Integer;
                values[0].integer = sqlite3_column_int(stmt, 0);
            }
            const auto [schema, table] = splitStoredName(keys ? text(1) : std::string());
            if (keys) {
                values[1].bytes = schema;
                values[2].bytes = table;
                values[3].storage = values[4].storage = Storage::Integer;
                values[3].integer = action(text(2));
                values[4].integer = action(text(3));
            }
            ByteBuffer row;
            row.u8(kRow);
            for (size_t i = 0; i < cols.size(); ++i) encodeValue(row, cols[i].type, values[i]);
            writer_.bytes(row.data());
            ++rows;
        }
    }
    sqlite3_finalize(stmt);
    setPending(kDoneCount, 0xC1, rows);
}

void Session::sendTextRows(const std::vector<std::string>& names,
                           const std::vector<std::vector<std::optional<std::string>>>& rows) {
    flushPending(true);
    std::vector<Column> cols;
    for (const std::string& name : names)
        cols.push_back({name, *parseDeclaredType("nvarchar(128)"), true});
    writeColMetadata(writer_, cols);
    for (const auto& row : rows) {
        ByteBuffer out;
        out.u8(kRow);
        for (size_t i = 0; i < cols.size(); ++i) {
            SqlValue v;
            if (i < row.size() && row[i]) {
                v.storage = Storage::Text;
                v.bytes = *row[i];
            }
            encodeValue(out, cols[i].type, v);
        }
        writer_.bytes(out.data());
    }
    setPending(kDoneCount, 0xC1, rows.size());
}

void Session::sendColumnCollations(const std::optional<std::string>& stored) {
    std::vector<std::vector<std::optional<std::string>>> rows;
    if (stored) {
        for (const StoredColumn& c : storedColumns(*stored)) {
            const std::optional<ColumnType> type = parseDeclaredType(c.type);
            // A decimal's scale; 0 for any other type, as sys.columns gives
            // (times' fractional digits aside).
            const int scale = type && type->kind == Kind::Decimal ? type->scale : 0;
            rows.push_back({c.name, c.collation, std::to_string(scale)});
        }
    }
    sendTextRows({"name", "collation_name", "scale"}, rows);
}

const TableColumns* Session::tableColumns(const std::string& lowerName) {
    sqlite3_stmt* stmt = nullptr;
    int schema = 0;
    if (sqlite3_prepare_v2(db_, "PRAGMA schema_version", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        schema = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    if (schema != tableColumnsSchema_) {
        tableColumns_.clear();
        tableColumnsSchema_ = schema;
    }
    auto [at, added] = tableColumns_.emplace(lowerName, std::nullopt);
    if (added) {
        std::vector<StoredColumn> columns = storedColumns(lowerName);
        if (!columns.empty()) {
            at->second.emplace();
            for (StoredColumn& c : columns)
                at->second->emplace(toLower(c.name),
                                    ColumnFact{toLower(c.type), c.collation.value_or("")});
        }
    }
    return at->second ? &*at->second : nullptr;
}

std::vector<Session::StoredColumn> Session::storedColumns(const std::string& stored) {
    std::vector<StoredColumn> columns;
    std::map<std::string, std::string> written;
    sqlite3_stmt* stmt = nullptr;
    auto text = [&](int column) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        return std::string(p ? p : "");
    };
    if (sqlite3_prepare_v2(db_,
                           "SELECT sql FROM sqlite_schema WHERE type = 'table' AND "
                           "name = ?1 COLLATE NOCASE",
                           -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, stored.data(), int(stored.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) == SQLITE_ROW) written = columnCollations(text(0));
    }
    sqlite3_finalize(stmt);
    stmt = nullptr;
    // SQLite's names, where the rewriting chose the collation.
    const std::map<std::string, std::string> sqlServerNames = {
        {toLower(kCaseInsensitiveCollation), "SQL_Latin1_General_CP1_CI_AS"},
        {toLower(kUtf16CodeUnitCollation), "Latin1_General_BIN2"},
        {"binary", "Latin1_General_BIN"}};
    if (sqlite3_prepare_v2(db_, "SELECT name, type FROM pragma_table_xinfo(?)", -1, &stmt,
                           nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, stored.data(), int(stored.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const std::string name = text(0);
            const std::optional<ColumnType> type = parseDeclaredType(text(1));
            const bool isText = type && (type->kind == Kind::Char || type->kind == Kind::VarChar ||
                                         type->kind == Kind::NChar || type->kind == Kind::NVarChar);
            std::optional<std::string> collation;
            if (isText) {
                auto it = written.find(toLower(name));
                collation = it == written.end() ? database_->caseInsensitive()
                                                      ? "SQL_Latin1_General_CP1_CI_AS"
                                                      : "Latin1_General_CS_AS"
                            : sqlServerNames.count(toLower(it->second))
                                ? sqlServerNames.at(toLower(it->second))
                                : it->second;
            }
            columns.push_back({name, text(1), collation});
        }
    }
    sqlite3_finalize(stmt);
    return columns;
}

void Session::sendIndexColumns(const std::optional<std::string>& stored) {
    std::vector<std::vector<std::optional<std::string>>> rows;
    // The primary key of a rowid table has no index of its own: it is the
    // first, unique; the others follow in SQLite's order of its indexes.
    const char* sql =
        "SELECT 1, pk, name, 0 AS ix FROM pragma_table_info(?1) WHERE pk > 0 AND NOT EXISTS "
        "(SELECT 1 FROM pragma_index_list(?1) WHERE origin = 'pk') UNION ALL SELECT "
        "il.\"unique\", ii.seqno + 1, ii.name, il.seq + 1 FROM pragma_index_list(?1) AS il, "
        "pragma_index_info(il.name) AS ii WHERE ii.name IS NOT NULL ORDER BY 4, 2";
    sqlite3_stmt* stmt = nullptr;
    if (stored && sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, stored->data(), int(stored->size()), SQLITE_TRANSIENT);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::optional<std::string>> row;
            for (int k = 0; k < 3; ++k) {
                row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, k)));
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(stmt);
    sendTextRows({"is_unique", "key_ordinal", ""}, rows);
}

ServerMessage Session::snapshotRefused() const {
    return message(3952, 16,
                   "Snapshot isolation transaction failed accessing database '" +
                       database_->name() +
                       "' because snapshot isolation is not allowed in this database. Use ALTER "
                       "DATABASE to allow snapshot isolation.");
}

bool Session::inTransaction() const { return db_ && !sqlite3_get_autocommit(db_); }

void Session::sendRowCount(std::optional<int64_t> count) {
    flushPending(true);
    const std::vector<Column> cols = {{"", *parseDeclaredType("bigint"), true}};
    writeColMetadata(writer_, cols);
    SqlValue v;
    if (count) {
        v.storage = Storage::Integer;
        v.integer = *count;
    }
    ByteBuffer row;
    row.u8(kRow);
    encodeValue(row, cols[0].type, v);
    writer_.bytes(row.data());
    setPending(kDoneCount, 0xC1, 1);
}

bool Session::useDatabase(const std::string& name, ServerMessage& error) {
    Database* target = catalog_.find(name);
    // Each database is a connection of its own here: leaving one would end
    // its open transaction unseen.
    if (target && target != database_ && inTransaction()) {
        error = message(226, 16, "USE statement not allowed within multi-statement transaction.");
        return false;
    }
    std::string openError;
    sqlite3* db = !target ? nullptr : target == database_ ? db_ : target->open(openError);
    if (!db) {
        error = message(911, 16,
                        "Database '" + name +
                            "' does not exist. Make sure that the name is entered correctly.");
        return false;
    }
    if (db != db_) {
        sqlite3_close(db_);
        setConnection(db);
    }
    std::string old = database_->name();
    database_ = target;
    writeEnvChange(writer_, 1, database_->name(), old);
    writeMessage(writer_,
                 message(5701, 0, "Changed database context to '" + database_->name() + "'.", 2));
    return true;
}

void Session::procError(const ServerMessage& m) {
    writeMessage(writer_, m);
    writeDone(writer_, kDoneProc, kDoneError, 0, 0);
    writer_.endMessage();
}

Session::Outcome Session::rpc(const Message& m) {
    size_t offset = skipAllHeaders(m.payload);
    RpcRequest req;
    try {
        req = parseRpc(m.payload.data() + offset, m.payload.size() - offset);
    } catch (const UnsupportedParameter& e) {
        delay();
        procError(message(
            8016, 16,
            std::string(
                "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol "
                "stream is incorrect: ") +
                e.what() + " is not supported by this server."));
        return Outcome::Continue;
    }
    // A procedure's text: its name and its text parameters (the statement of
    // sp_executesql or sp_prepexec, the table of sp_pkeys).
    std::string callText = req.name;
    for (const RpcParam& p : req.params)
        if (p.storage == Storage::Text) callText += " " + p.bytes;
    if (stalls(callText)) return stall(true);
    delay();
    // "[demo]..sp_tables" -> database "demo", procedure "sp_tables".
    std::vector<std::string> parts;
    {
        std::string current;
        bool bracket = false;
        for (char c : req.name) {
            if (c == '[')
                bracket = true;
            else if (c == ']')
                bracket = false;
            else if (c == '.' && !bracket) {
                parts.push_back(current);
                current.clear();
            } else
                current += c;
        }
        parts.push_back(current);
    }
    std::string proc = toLower(parts.back());
    std::string dbPart = parts.size() >= 3 ? parts[0] : std::string();

    if ((proc == "sp_tables" || proc == "sp_pkeys") && options_.snapshot &&
        !database_->allowsSnapshot()) {
        procError(snapshotRefused());
        return Outcome::Continue;
    }
    if (proc == "sp_tables") {
        Database* target = dbPart.empty() ? database_ : catalog_.find(dbPart);
        if (!target) {
            procError(
                message(911, 16,
                        "Database '" + dbPart +
                            "' does not exist. Make sure that the name is entered correctly."));
            return Outcome::Continue;
        }
        return spTables(req, *target);
    }
    if (proc == "sp_pkeys") return spPkeys(req);
    auto text = [&](size_t i) -> std::string {
        return i < req.params.size() && req.params[i].storage == Storage::Text ? req.params[i].bytes
                                                                               : std::string();
    };
    auto integer = [&](size_t i) -> int64_t {
        return i < req.params.size() && req.params[i].storage == Storage::Integer
                   ? req.params[i].integer
                   : -1;
    };
    bool failed = false;
    Outcome outcome = Outcome::Continue;
    if (proc == "sp_prepexec") {
        int32_t handle = nextHandle_++;
        prepared_[handle] = {text(2), text(1)};
        outcome = runPrepared(text(2), text(1), req.params, 3, failed);
        if (outcome != Outcome::Continue) return outcome;
        if (failed) {
            writeDone(writer_, kDoneProc, kDoneError, 0, 0);
        } else {
            writeReturnStatus(writer_, 0);
            writeReturnInt(writer_, 0, req.params.empty() ? "" : req.params[0].name, handle);
            writeDone(writer_, kDoneProc, kDoneFinal, 0, 0);
        }
    } else if (proc == "sp_execute") {
        auto it = prepared_.find(int32_t(integer(0)));
        if (it == prepared_.end()) {
            procError(message(8179, 16,
                              "Could not find prepared statement with handle " +
                                  std::to_string(integer(0)) + "."));
            return Outcome::Continue;
        }
        outcome = runPrepared(it->second.sql, it->second.decls, req.params, 1, failed);
        if (outcome != Outcome::Continue) return outcome;
        if (!failed) writeReturnStatus(writer_, 0);
        writeDone(writer_, kDoneProc, failed ? kDoneError : kDoneFinal, 0, 0);
    } else if (proc == "sp_executesql") {
        outcome = runPrepared(text(0), text(1), req.params, 2, failed);
        if (outcome != Outcome::Continue) return outcome;
        if (!failed) writeReturnStatus(writer_, 0);
        writeDone(writer_, kDoneProc, failed ? kDoneError : kDoneFinal, 0, 0);
    } else if (proc == "sp_unprepare") {
        prepared_.erase(int32_t(integer(0)));
        writeReturnStatus(writer_, 0);
        writeDone(writer_, kDoneProc, kDoneFinal, 0, 0);
    } else {
        procError(message(2812, 16, "Could not find stored procedure '" + parts.back() + "'.", 62));
        return Outcome::Continue;
    }
    writer_.endMessage();
    return Outcome::Continue;
}

Session::Outcome Session::runPrepared(const std::string& sql, const std::string& decls,
                                      const std::vector<RpcParam>& params, size_t firstValue,
                                      bool& failed) {
    std::vector<std::string> names = declaredNames(decls);
    std::vector<Binding> bindings;
    for (size_t i = firstValue; i < params.size(); ++i) {
        size_t k = i - firstValue;
        std::string name = !params[i].name.empty() ? params[i].name
                           : k < names.size()      ? names[k]
                                                   : std::string();
        bindings.push_back({name, &params[i]});
    }
    return runSql(sql, true, bindings, failed);
}

Session::Outcome Session::spTables(const RpcRequest& req, Database& target) {
    std::string filters[4];  // name, owner, qualifier, type
    static const char* const kNames[4] = {"@table_name", "@table_owner", "@table_qualifier",
                                          "@table_type"};
    for (size_t i = 0; i < req.params.size(); ++i) {
        const RpcParam& p = req.params[i];
        if (p.storage != Storage::Text) continue;
        for (size_t k = 0; k < 4; ++k) {
            if (p.name.empty() ? i == k : equalsIgnoreCase(p.name, kNames[k])) filters[k] = p.bytes;
        }
    }
    // "'TABLE','VIEW'" (or Qt's "'TABLE") -> {"TABLE", "VIEW"}
    std::vector<std::string> types;
    {
        std::string current;
        for (char c : filters[3] + ",") {
            if (c == ',') {
                std::string t = trimText(current);
                std::string clean;
                for (char ch : t)
                    if (ch != '\'' && ch != '"') clean += char(std::toupper(uint8_t(ch)));
                clean = trimText(clean);
                if (!clean.empty()) types.push_back(clean);
                current.clear();
            } else {
                current += c;
            }
        }
    }
    std::vector<TableEntry> entries;
    bool qualifierMatches = filters[2].empty() || likeMatch(filters[2], target.name());
    if (qualifierMatches) {
        if (&target == database_) {
            entries = target.tables(db_);
        } else {
            std::string error;
            sqlite3* other = target.open(error);
            if (other) entries = target.tables(other);
            sqlite3_close(other);
        }
    }
    std::vector<Column> cols = {
        {"TABLE_QUALIFIER", *parseDeclaredType("nvarchar(128)"), true},
        {"TABLE_OWNER", *parseDeclaredType("nvarchar(128)"), true},
        {"TABLE_NAME", *parseDeclaredType("nvarchar(128)"), true},
        {"TABLE_TYPE", *parseDeclaredType("varchar(32)"), true},
        {"REMARKS", *parseDeclaredType("varchar(254)"), true},
    };
    writeColMetadata(writer_, cols);
    uint64_t count = 0;
    for (const TableEntry& e : entries) {
        if (!filters[0].empty() && !likeMatch(filters[0], e.name)) continue;
        if (!filters[1].empty() && !likeMatch(filters[1], e.owner)) continue;
        if (!types.empty() && std::find(types.begin(), types.end(), e.type) == types.end())
            continue;
        ByteBuffer row;
        row.u8(kRow);
        for (const std::string* value : {&target.name(), &e.owner, &e.name, &e.type}) {
            SqlValue v;
            v.storage = Storage::Text;
            v.bytes = *value;
            size_t index = size_t(value == &target.name() ? 0
                                  : value == &e.owner     ? 1
                                  : value == &e.name      ? 2
                                                          : 3);
            encodeValue(row, cols[index].type, v);
        }
        encodeValue(row, cols[4].type, SqlValue{});
        writer_.bytes(row.data());
        ++count;
    }
    writeDone(writer_, kDoneInProc, kDoneMore | kDoneCount, 0, count);
    writeReturnStatus(writer_, 0);
    writeDone(writer_, kDoneProc, kDoneFinal, 0, 0);
    writer_.endMessage();
    return Outcome::Continue;
}

// The primary key columns of a table of the session's database, in key
// order, as SQL Server's sp_pkeys gives them (the driver's SQLPrimaryKeys).
Session::Outcome Session::spPkeys(const RpcRequest& req) {
    std::string params[2];  // name, owner
    static const char* const kNames[2] = {"@table_name", "@table_owner"};
    for (size_t i = 0; i < req.params.size(); ++i) {
        const RpcParam& p = req.params[i];
        if (p.storage != Storage::Text) continue;
        for (size_t k = 0; k < 2; ++k) {
            if (p.name.empty() ? i == k : equalsIgnoreCase(p.name, kNames[k])) params[k] = p.bytes;
        }
    }
    const std::string owner = params[1].empty() ? std::string("dbo") : params[1];
    const std::string stored = toLower(owner) == "dbo" ? params[0] : owner + "." + params[0];
    std::vector<std::pair<std::string, int64_t>> keys;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "SELECT name, pk FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk", -1,
                           &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, stored.data(), int(stored.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            keys.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                              sqlite3_column_int64(stmt, 1));
        }
    }
    sqlite3_finalize(stmt);
    std::vector<Column> cols = {
        {"TABLE_QUALIFIER", *parseDeclaredType("nvarchar(128)"), true},
        {"TABLE_OWNER", *parseDeclaredType("nvarchar(128)"), true},
        {"TABLE_NAME", *parseDeclaredType("nvarchar(128)"), true},
        {"COLUMN_NAME", *parseDeclaredType("nvarchar(128)"), true},
        {"KEY_SEQ", *parseDeclaredType("smallint"), true},
        {"PK_NAME", *parseDeclaredType("nvarchar(128)"), true},
    };
    writeColMetadata(writer_, cols);
    const std::string pkName = "PK_" + params[0];
    for (const auto& [column, seq] : keys) {
        ByteBuffer row;
        row.u8(kRow);
        const std::string* texts[] = {&database_->name(), &owner, &params[0], &column};
        for (size_t i = 0; i < 4; ++i) {
            SqlValue v;
            v.storage = Storage::Text;
            v.bytes = *texts[i];
            encodeValue(row, cols[i].type, v);
        }
        SqlValue n;
        n.storage = Storage::Integer;
        n.integer = seq;
        encodeValue(row, cols[4].type, n);
        SqlValue name;
        name.storage = Storage::Text;
        name.bytes = pkName;
        encodeValue(row, cols[5].type, name);
        writer_.bytes(row.data());
    }
    writeDone(writer_, kDoneInProc, kDoneMore | kDoneCount, 0, keys.size());
    writeReturnStatus(writer_, 0);
    writeDone(writer_, kDoneProc, kDoneFinal, 0, 0);
    writer_.endMessage();
    return Outcome::Continue;
}

}  // namespace tds
