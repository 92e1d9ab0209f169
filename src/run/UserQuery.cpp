#include "UserQuery.h"

#include <QHash>
#include <vector>

namespace compare {

namespace {

struct Token {
    enum Kind { Word, Quoted, Literal, Number, Punct };
    Kind kind;
    qsizetype start;  // in the text without comments
    qsizetype end;
    QString word;  // a word upper-cased; a punctuation mark as it is
    int depth;     // parentheses open around it
};

bool isWordStart(QChar c) { return c.isLetter() || c == u'_' || c == u'@' || c == u'#'; }
bool isWordPart(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'@' || c == u'#' || c == u'$';
}

// The query's tokens, and its text with each comment turned into a blank.
// Comments nest, as the server reads them.
struct Scan {
    QString text;
    std::vector<Token> tokens;
    QString problem;
};

// Where a quoted run that starts at i ends (past its closing mark, which
// doubled stands for itself), or -1 when it is not closed.
qsizetype quotedEnd(const QString& sql, qsizetype i, QChar close) {
    for (qsizetype k = i + 1; k < sql.size(); ++k) {
        if (sql[k] != close) continue;
        if (k + 1 < sql.size() && sql[k + 1] == close) {
            ++k;
            continue;
        }
        return k + 1;
    }
    return -1;
}

Scan scan(const QString& sql) {
    Scan s;
    int depth = 0;
    qsizetype i = 0;
    const auto add = [&](Token::Kind kind, qsizetype end) {
        const qsizetype start = s.text.size();
        s.text += sql.mid(i, end - i);
        Token t{kind, start, s.text.size(), QString(), depth};
        if (kind == Token::Word) t.word = sql.mid(i, end - i).toUpper();
        if (kind == Token::Punct) t.word = sql.mid(i, end - i);
        s.tokens.push_back(t);
        i = end;
    };
    while (i < sql.size()) {
        const QChar c = sql[i];
        const QChar next = i + 1 < sql.size() ? sql[i + 1] : QChar();
        if (c.isSpace()) {
            s.text += c;
            ++i;
        } else if (c == u'-' && next == u'-') {
            while (i < sql.size() && sql[i] != u'\n') ++i;
            s.text += u' ';
        } else if (c == u'/' && next == u'*') {
            int open = 0;
            for (; i < sql.size(); ++i) {
                if (sql[i] == u'/' && i + 1 < sql.size() && sql[i + 1] == u'*') {
                    ++open;
                    ++i;
                } else if (sql[i] == u'*' && i + 1 < sql.size() && sql[i + 1] == u'/') {
                    ++i;
                    if (--open == 0) {
                        ++i;
                        break;
                    }
                }
            }
            if (open > 0) {
                s.problem = QStringLiteral("a comment (/*) is not closed: it would hide the rest");
                return s;
            }
            s.text += u' ';
        } else if (c == u'\'' || c == u'[' || c == u'"') {
            const qsizetype end = quotedEnd(sql, i, c == u'[' ? QChar(u']') : c);
            if (end < 0) {
                s.problem = c == u'\'' ? QStringLiteral("a quoted text (') is not closed")
                                       : QStringLiteral("a quoted name (%1) is not closed").arg(c);
                return s;
            }
            add(c == u'\'' ? Token::Literal : Token::Quoted, end);
        } else if (isWordStart(c)) {
            qsizetype end = i + 1;
            while (end < sql.size() && isWordPart(sql[end])) ++end;
            add(Token::Word, end);
        } else if (c.isDigit() || (c == u'.' && next.isDigit())) {
            qsizetype end = i + 1;
            while (end < sql.size() && (sql[end].isLetterOrNumber() || sql[end] == u'.')) ++end;
            add(Token::Number, end);
        } else {
            if (c == u')') --depth;
            if (depth < 0) {
                s.problem = QStringLiteral("a parenthesis closes that was never opened");
                return s;
            }
            add(Token::Punct, i + 1);
            if (c == u'(') ++depth;
        }
    }
    if (depth > 0) s.problem = QStringLiteral("a parenthesis is opened and never closed");
    return s;
}

// Words that have no place in a select that only reads: each starts (or is)
// another statement, writes, or runs text of its own elsewhere.
QString refusedWord(const QString& word) {
    static const QHash<QString, QString> reasons = [] {
        QHash<QString, QString> r;
        r.insert(QStringLiteral("INTO"),
                 QStringLiteral("it holds INTO: SELECT ... INTO would write a table"));
        for (const char* statement :
             {"INSERT",     "UPDATE",  "DELETE",     "MERGE",     "TRUNCATE",  "DROP",
              "CREATE",     "ALTER",   "EXEC",       "EXECUTE",   "DECLARE",   "SET",
              "USE",        "GRANT",   "REVOKE",     "DENY",      "BEGIN",     "COMMIT",
              "ROLLBACK",   "SAVE",    "BACKUP",     "RESTORE",   "DBCC",      "KILL",
              "SHUTDOWN",   "WAITFOR", "PRINT",      "RAISERROR", "THROW",     "RECONFIGURE",
              "BULK",       "GO",      "GOTO",       "RETURN",    "IF",        "WHILE",
              "OPEN",       "CLOSE",   "DEALLOCATE", "READTEXT",  "WRITETEXT", "UPDATETEXT",
              "CHECKPOINT", "REVERT",  "SETUSER"}) {
            const QString w = QString::fromLatin1(statement);
            r.insert(w, QStringLiteral("it holds %1, which is no part of a select").arg(w));
        }
        for (const char* remote : {"OPENQUERY", "OPENROWSET", "OPENDATASOURCE"}) {
            const QString w = QString::fromLatin1(remote);
            r.insert(w, QStringLiteral("it holds %1, which sends a statement of its own to "
                                       "another server")
                            .arg(w));
        }
        return r;
    }();
    return reasons.value(word);
}

bool isWord(const Token& t, const char* word) {
    return t.kind == Token::Word && t.word == QLatin1String(word);
}
bool isPunct(const Token& t, char mark) {
    return t.kind == Token::Punct && t.word == QLatin1Char(mark);
}

// The token past the parenthesis that opens at `open`.
std::size_t pastParenthesis(const std::vector<Token>& tokens, std::size_t open) {
    const int depth = tokens[open].depth;
    for (std::size_t k = open + 1; k < tokens.size(); ++k) {
        if (isPunct(tokens[k], ')') && tokens[k].depth == depth) return k + 1;
    }
    return tokens.size();
}

QString shown(const QString& text, const Token& t) { return text.mid(t.start, t.end - t.start); }

}  // namespace

UserQuery UserQuery::Read(const QString& sql) {
    UserQuery q;
    Scan s = scan(sql);
    if (!s.problem.isEmpty()) {
        q.problem_ = s.problem;
        return q;
    }
    std::vector<Token>& tokens = s.tokens;
    // One statement: a ";" may end it, nothing may follow one.
    if (!tokens.empty() && isPunct(tokens.back(), ';')) {
        s.text.truncate(tokens.back().start);
        tokens.pop_back();
    }
    if (tokens.empty()) {
        q.problem_ = QStringLiteral("it is empty");
        return q;
    }
    for (const Token& t : tokens) {
        if (isPunct(t, ';')) {
            q.problem_ = QStringLiteral("it holds more than one statement (a ; before its end)");
            return q;
        }
        if (t.kind != Token::Word) continue;
        if (const QString reason = refusedWord(t.word); !reason.isEmpty()) {
            q.problem_ = reason;
            return q;
        }
    }
    std::size_t main = 0;
    if (isWord(tokens[0], "WITH")) {
        // Named queries, each "name [(columns)] as (select)", then the select.
        std::size_t k = 1;
        for (;;) {
            if (k >= tokens.size() ||
                (tokens[k].kind != Token::Word && tokens[k].kind != Token::Quoted)) {
                break;
            }
            ++k;
            if (k < tokens.size() && isPunct(tokens[k], '(')) k = pastParenthesis(tokens, k);
            if (k >= tokens.size() || !isWord(tokens[k], "AS")) break;
            ++k;
            if (k >= tokens.size() || !isPunct(tokens[k], '(')) break;
            k = pastParenthesis(tokens, k);
            if (k < tokens.size() && isPunct(tokens[k], ',')) {
                ++k;
                continue;
            }
            main = k;
            break;
        }
        if (main == 0) {
            q.problem_ = QStringLiteral(
                "its WITH is not a list of \"name as (select)\" followed by a select");
            return q;
        }
        q.with_ = s.text.left(tokens[main - 1].end).trimmed();
    }
    if (main >= tokens.size() || !isWord(tokens[main], "SELECT")) {
        q.problem_ = main >= tokens.size() ? QStringLiteral("no select follows its WITH")
                                           : QStringLiteral("it is not a select: it starts with %1")
                                                 .arg(shown(s.text, tokens[main]));
        return q;
    }
    q.select_ = s.text.mid(tokens[main].start).trimmed();
    for (std::size_t k = main; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (t.depth != 0 || t.kind != Token::Word) continue;
        if (t.word == QLatin1String("ORDER") && k + 1 < tokens.size() &&
            isWord(tokens[k + 1], "BY")) {
            q.ordered_ = true;
        }
        if (t.word == QLatin1String("OFFSET")) q.limited_ = true;
        if (t.word == QLatin1String("TOP") && k > 0 &&
            (isWord(tokens[k - 1], "SELECT") || isWord(tokens[k - 1], "DISTINCT") ||
             isWord(tokens[k - 1], "ALL"))) {
            q.limited_ = true;
        }
        if (t.word == QLatin1String("FOR") || t.word == QLatin1String("OPTION")) {
            q.problem_ = QStringLiteral("its %1 clause does not fit a query read as rows")
                             .arg(shown(s.text, t));
            return q;
        }
    }
    return q;
}

QString UserQuery::Alone() const { return with_.isEmpty() ? select_ : with_ + u' ' + select_; }

QString UserQuery::Around(const QString& columns, const QString& tail) const {
    QString sql = with_.isEmpty() ? QString() : with_ + u' ';
    sql += QStringLiteral("select ") + columns + QStringLiteral(" from (") + select_;
    if (ordered_ && !limited_) sql += QStringLiteral(" offset 0 rows");
    sql += QStringLiteral(") as [q]") + tail;
    return sql;
}

}  // namespace compare
