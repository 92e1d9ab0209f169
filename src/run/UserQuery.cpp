#include "UserQuery.h"

#include <QHash>
#include <algorithm>
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

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isHexDigit(QChar c) {
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Where a number that starts at i ends, as the server reads it: 0x and hex
// digits; or digits, one '.', more digits and an exponent only when digits
// follow its e. A letter after it starts a word of its own ("1drop" is 1
// and drop to the server), which the check must see as the server does.
qsizetype numberEnd(const QString& sql, qsizetype i) {
    const auto digitsFrom = [&](qsizetype k) {
        while (k < sql.size() && isDigit(sql[k])) ++k;
        return k;
    };
    if (sql[i] == u'0' && i + 1 < sql.size() && (sql[i + 1] == u'x' || sql[i + 1] == u'X')) {
        qsizetype k = i + 2;
        while (k < sql.size() && isHexDigit(sql[k])) ++k;
        return k;
    }
    qsizetype k = digitsFrom(i);
    if (k < sql.size() && sql[k] == u'.') k = digitsFrom(k + 1);
    if (k < sql.size() && (sql[k] == u'e' || sql[k] == u'E')) {
        qsizetype e = k + 1;
        if (e < sql.size() && (sql[e] == u'+' || sql[e] == u'-')) ++e;
        if (e < sql.size() && isDigit(sql[e])) k = digitsFrom(e);
    }
    return k;
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
        } else if (isDigit(c) || (c == u'.' && isDigit(next))) {
            add(Token::Number, numberEnd(sql, i));
        } else if (c == u'{' || c == u'}') {
            // FreeTDS turns "{call p}" into "exec p" on the way, escape
            // processing off or not; T-SQL has no use for a brace.
            s.problem =
                QStringLiteral("it holds %1, which the driver would read as an escape").arg(c);
            return s;
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

// Words that a select inside a derived table may hold and that do more than
// read here. Statement words need no list: the whole query runs inside the
// parentheses of a derived table, which no statement can start within (the
// check keeps every parenthesis, quote and comment closed, no ";" and no
// brace, so the driver turns nothing into a call on the way).
// Column names such as Open or Close are then the server's to judge.
QString refusedWord(const QString& word) {
    static const QHash<QString, QString> reasons = [] {
        QHash<QString, QString> r;
        r.insert(QStringLiteral("INTO"),
                 QStringLiteral("it holds INTO: SELECT ... INTO would write a table"));
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

// The items of an ORDER BY (tokens from..to) for the select around the
// derived table, which orders by the derived table's columns: each item must
// name one of them, by name or by number, perhaps with COLLATE and ASC or
// DESC. An expression would be read there against other names (an alias
// reaches no expression, a table's columns do not reach the outer select),
// and so might order otherwise: such an order is refused, not guessed.
QString orderOutside(const QString& text, const std::vector<Token>& tokens, std::size_t from,
                     std::size_t to, QString& order) {
    const QString refused = QStringLiteral(
        "that ORDER BY may name only the query's own columns, by name or by number, each "
        "perhaps with ASC or DESC");
    QString item;
    std::size_t part = 0;  // 0: the column; 1: after it; 2: after COLLATE; 3: after ASC/DESC
    for (std::size_t k = from; k <= to; ++k) {
        if (k == to || isPunct(tokens[k], ',')) {
            if (part != 1 && part != 3) return refused;
            order += (order.isEmpty() ? QString() : QStringLiteral(", ")) + item;
            item.clear();
            part = 0;
            continue;
        }
        const Token& t = tokens[k];
        const QString written = shown(text, t);
        const bool column =
            (t.kind == Token::Word && !t.word.startsWith(u'@')) || t.kind == Token::Quoted ||
            (t.kind == Token::Number && std::all_of(written.begin(), written.end(), isDigit));
        if (part == 0 && column) {
            part = 1;
        } else if (part == 1 && isWord(t, "COLLATE")) {
            part = 2;
        } else if (part == 2 && t.kind == Token::Word) {
            part = 1;
        } else if (part == 1 && (isWord(t, "ASC") || isWord(t, "DESC"))) {
            part = 3;
        } else {
            return refused;
        }
        if (!item.isEmpty()) item += u' ';
        item += written;
    }
    return QString();
}

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
    std::size_t orderAt = tokens.size();   // its ORDER
    std::size_t orderEnd = tokens.size();  // past its last item: OFFSET or the end
    for (std::size_t k = main; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (t.depth != 0 || t.kind != Token::Word) continue;
        if (t.word == QLatin1String("ORDER") && k + 1 < tokens.size() &&
            isWord(tokens[k + 1], "BY") && orderAt == tokens.size()) {
            orderAt = k;
        }
        if (t.word == QLatin1String("OFFSET")) {
            q.limited_ = true;
            orderEnd = std::min(orderEnd, k);
        }
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
    q.ordered_ = orderAt < tokens.size();
    q.select_ = s.text.mid(tokens[main].start).trimmed();
    if (!q.ordered_) return q;
    q.orderProblem_ =
        orderOutside(s.text, tokens, orderAt + 2, std::max(orderEnd, orderAt + 2), q.order_);
    // Without TOP or OFFSET its ORDER BY picks no rows: a derived table may
    // not hold it then, and needs it nowhere. Only what reads as an ORDER BY
    // is left out; anything else stays for the server to judge, inside.
    if (!q.limited_ && q.orderProblem_.isEmpty()) {
        q.select_ =
            s.text.mid(tokens[main].start, tokens[orderAt].start - tokens[main].start).trimmed();
    } else if (!q.limited_) {
        q.select_ += QStringLiteral(" offset 0 rows");
    }
    return q;
}

QString UserQuery::InItsOrder() const {
    return Around(QStringLiteral("*"), QStringLiteral(" order by ") + order_);
}

QString UserQuery::Around(const QString& columns, const QString& tail) const {
    QString sql = with_.isEmpty() ? QString() : with_ + u' ';
    return sql + QStringLiteral("select ") + columns + QStringLiteral(" from (") + select_ +
           QStringLiteral(") as [q]") + tail;
}

}  // namespace compare
