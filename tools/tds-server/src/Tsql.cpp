#include "Tsql.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "Bytes.h"

namespace tds {

namespace {

enum class T { Blank, Word, QuotedId, String, NString, Number, Punct };

struct Tok {
    T kind;
    std::string_view text;
    std::string value;  // identifiers without quotes
};

bool wordStart(char c) {
    return std::isalpha(uint8_t(c)) || c == '_' || c == '@' || c == '#' || uint8_t(c) >= 0x80;
}
bool wordChar(char c) { return wordStart(c) || std::isdigit(uint8_t(c)) || c == '$'; }

size_t scanQuoted(std::string_view s, size_t i, char close) {
    // i is at the opening quote; a doubled closing quote is an escaped one.
    ++i;
    while (i < s.size()) {
        if (s[i] == close) {
            if (i + 1 < s.size() && s[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return s.size();
}

std::string unquote(std::string_view t, char close) {
    std::string out;
    for (size_t i = 1; i + 1 <= t.size(); ++i) {
        if (t[i] == close) {
            if (i + 1 < t.size() && t[i + 1] == close) {
                out += close;
                ++i;
                continue;
            }
            break;
        }
        out += t[i];
    }
    return out;
}

// One token starting at i; i moves past it.
Tok nextToken(std::string_view s, size_t& i) {
    size_t start = i;
    char c = s[i];
    T kind;
    std::string value;
    if (std::isspace(uint8_t(c))) {
        while (i < s.size() && std::isspace(uint8_t(s[i]))) ++i;
        kind = T::Blank;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
        while (i < s.size() && s[i] != '\n') ++i;
        kind = T::Blank;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
        size_t end = s.find("*/", i + 2);
        i = end == std::string_view::npos ? s.size() : end + 2;
        kind = T::Blank;
    } else if (c == '\'') {
        i = scanQuoted(s, i, '\'');
        kind = T::String;
    } else if ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'') {
        i = scanQuoted(s, i + 1, '\'');
        kind = T::NString;
    } else if (c == '[') {
        i = scanQuoted(s, i, ']');
        kind = T::QuotedId;
        value = unquote(s.substr(start, i - start), ']');
    } else if (c == '"') {
        i = scanQuoted(s, i, '"');
        kind = T::QuotedId;
        value = unquote(s.substr(start, i - start), '"');
    } else if (std::isdigit(uint8_t(c)) ||
               (c == '.' && i + 1 < s.size() && std::isdigit(uint8_t(s[i + 1])))) {
        // As SQL Server reads a number: 0x and hex digits; or digits, one
        // '.', digits, and an exponent only when digits follow its e. A
        // letter after it starts the next word ("1drop" is 1, then drop).
        auto digits = [&] {
            while (i < s.size() && std::isdigit(uint8_t(s[i]))) ++i;
        };
        if (c == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
            i += 2;
            while (i < s.size() && std::isxdigit(uint8_t(s[i]))) ++i;
        } else {
            digits();
            if (i < s.size() && s[i] == '.') {
                ++i;
                digits();
            }
            if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
                size_t e = i + 1;
                if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
                if (e < s.size() && std::isdigit(uint8_t(s[e]))) {
                    i = e;
                    digits();
                }
            }
        }
        kind = T::Number;
    } else if (wordStart(c)) {
        while (i < s.size() && wordChar(s[i])) ++i;
        kind = T::Word;
        value = std::string(s.substr(start, i - start));
    } else {
        ++i;
        kind = T::Punct;
    }
    return {kind, s.substr(start, i - start), std::move(value)};
}

std::vector<Tok> tokenize(std::string_view s) {
    std::vector<Tok> out;
    for (size_t i = 0; i < s.size();) out.push_back(nextToken(s, i));
    return out;
}

bool isIdent(const Tok& t) { return t.kind == T::Word || t.kind == T::QuotedId; }
bool isDot(const Tok& t) { return t.kind == T::Punct && t.text == "."; }

std::string quoteId(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

const std::set<std::string> kTableContext = {"from",  "join", "into",  "update",
                                             "table", "view", "exists"};

const std::set<std::string> kTextTypes = {"char", "varchar", "nchar",  "nvarchar",
                                          "text", "ntext",   "sysname"};
const std::set<std::string> kDateTimeTypes = {"date", "time", "datetime", "datetime2",
                                              "smalldatetime"};
const std::set<std::string> kTableConstraints = {"constraint", "primary", "unique",
                                                 "check",      "foreign", "index"};

// A collation after the type of every column of a CREATE TABLE that names
// none of its own: the case-insensitive one for text in a case-insensitive
// database, and the
// date/time value collation for date and time columns, so that
// '2024-02-29T13:45:30.997' finds '2024-02-29 13:45:30.9970000'. On the
// column, SQLite applies it to every comparison, ORDER BY, GROUP BY and
// index on that column, as SQL Server applies a column's type and collation.
std::string withColumnCollations(std::string_view sql, bool caseInsensitive) {
    if (toLower(sql).find("create") == std::string::npos) return std::string(sql);
    std::vector<Tok> toks = tokenize(sql);
    auto next = [&](size_t i) {
        for (++i; i < toks.size() && toks[i].kind == T::Blank; ++i) {
        }
        return i;
    };
    auto punct = [&](size_t i, std::string_view p) {
        return i < toks.size() && toks[i].kind == T::Punct && toks[i].text == p;
    };
    auto offsetAfter = [&](size_t i) {
        return size_t(toks[i].text.data() - sql.data()) + toks[i].text.size();
    };
    std::vector<std::pair<size_t, const char*>> inserts;
    for (size_t i = 0; i < toks.size(); ++i) {
        if (toks[i].kind != T::Word || !equalsIgnoreCase(toks[i].text, "create")) continue;
        size_t k = next(i);
        if (k == toks.size() || toks[k].kind != T::Word || !equalsIgnoreCase(toks[k].text, "table"))
            continue;
        // The table's name (a.b.c), then its column list.
        k = next(k);
        while (k < toks.size() && isIdent(toks[k]) && punct(next(k), ".")) k = next(next(k));
        if (k == toks.size() || !isIdent(toks[k]) || !punct(next(k), "(")) continue;
        k = next(k);
        int depth = 1;
        size_t item = 0;  // tokens of this column definition so far
        bool constraint = false, collated = false;
        const char* collation = nullptr;  // the one the column's type asks for
        size_t typeEnd = 0;
        for (k = next(k); k < toks.size() && depth > 0; k = next(k)) {
            const Tok& t = toks[k];
            if (t.kind == T::Word && equalsIgnoreCase(t.text, "collate")) collated = true;
            bool itemEnds = depth == 1 && (punct(k, ",") || punct(k, ")"));
            if (punct(k, "(")) {
                ++depth;
            } else if (punct(k, ")")) {
                --depth;
            } else if (depth == 1 && !itemEnds) {
                ++item;
                if (item == 1)
                    constraint = t.kind == T::Word && kTableConstraints.count(toLower(t.text));
                const std::string type = isIdent(t) ? toLower(t.value) : std::string();
                if (item == 2 && !constraint) {
                    if (caseInsensitive && kTextTypes.count(type))
                        collation = kCaseInsensitiveCollation;
                    else if (kDateTimeTypes.count(type))
                        collation = kDateTimeValueCollation;
                }
                if (item == 2 && collation) {
                    typeEnd = offsetAfter(k);
                    // The length or scale: (n) or (max).
                    size_t open = next(k);
                    if (punct(open, "(")) {
                        size_t close = open;
                        while (close < toks.size() && !punct(close, ")")) ++close;
                        if (close == toks.size()) break;
                        typeEnd = offsetAfter(close);
                        k = close;
                    }
                }
            }
            if (itemEnds) {
                if (collation && !collated) inserts.emplace_back(typeEnd, collation);
                item = 0;
                constraint = collated = false;
                collation = nullptr;
            }
        }
        i = k - 1;  // the loop reads the token after the list next
    }
    std::string out;
    size_t from = 0;
    for (const auto& [at, collation] : inserts) {
        out.append(sql.substr(from, at - from));
        out += std::string(" COLLATE ") + collation;
        from = at;
    }
    out.append(sql.substr(from));
    return out;
}

// The non-blank token before i, or after it; toks.size() when there is none.
size_t solidBefore(const std::vector<Tok>& toks, size_t i) {
    while (i-- > 0)
        if (toks[i].kind != T::Blank) return i;
    return toks.size();
}
size_t solidAfter(const std::vector<Tok>& toks, size_t i) {
    for (++i; i < toks.size(); ++i)
        if (toks[i].kind != T::Blank) return i;
    return toks.size();
}

bool isPunct(const std::vector<Tok>& toks, size_t i, std::string_view p) {
    return i < toks.size() && toks[i].kind == T::Punct && toks[i].text == p;
}

// The parenthesis that closes the one at `open`, or opens the one at
// `close`; toks.size() when unbalanced.
size_t closingParen(const std::vector<Tok>& toks, size_t open) {
    int depth = 0;
    for (size_t i = open; i < toks.size(); ++i) {
        if (isPunct(toks, i, "(")) ++depth;
        if (isPunct(toks, i, ")") && --depth == 0) return i;
    }
    return toks.size();
}
size_t openingParen(const std::vector<Tok>& toks, size_t close) {
    int depth = 0;
    for (size_t i = close + 1; i-- > 0;) {
        if (isPunct(toks, i, ")")) ++depth;
        if (isPunct(toks, i, "(") && --depth == 0) return i;
    }
    return toks.size();
}

bool isTextType(const std::vector<Tok>& toks, size_t i) {
    return i < toks.size() && isIdent(toks[i]) && kTextTypes.count(toLower(toks[i].value));
}

// Whether the call word(...) spanning open..close gives text: NCHAR(n),
// CAST(x AS nvarchar(n)), CONVERT(nvarchar(n), x) and the like.
bool textCall(const std::vector<Tok>& toks, size_t word, size_t open, size_t close) {
    if (word >= toks.size() || toks[word].kind != T::Word) return false;
    const std::string name = toLower(toks[word].text);
    if (name == "nchar") return true;
    if (name == "convert") return isTextType(toks, solidAfter(toks, open));
    if (name != "cast") return false;
    int depth = 0;
    for (size_t i = open + 1; i < close; ++i) {
        if (isPunct(toks, i, "(")) ++depth;
        if (isPunct(toks, i, ")")) --depth;
        if (depth == 0 && toks[i].kind == T::Word && equalsIgnoreCase(toks[i].text, "as"))
            return isTextType(toks, solidAfter(toks, i));
    }
    return false;
}

bool isTextLiteral(const Tok& t) { return t.kind == T::String || t.kind == T::NString; }

// T-SQL joins texts with +, SQLite with ||: the + at `plus` joins when a
// text literal or a call that gives text stands on either side of it.
bool joinsText(const std::vector<Tok>& toks, size_t plus) {
    const size_t left = solidBefore(toks, plus);
    if (left < toks.size()) {
        if (isTextLiteral(toks[left])) return true;
        if (isPunct(toks, left, ")")) {
            const size_t open = openingParen(toks, left);
            if (open < toks.size() && textCall(toks, solidBefore(toks, open), open, left))
                return true;
        }
    }
    const size_t right = solidAfter(toks, plus);
    if (right < toks.size()) {
        if (isTextLiteral(toks[right])) return true;
        const size_t open = solidAfter(toks, right);
        if (isPunct(toks, open, "(")) {
            const size_t close = closingParen(toks, open);
            if (close < toks.size() && textCall(toks, right, open, close)) return true;
        }
    }
    return false;
}

// What replaces tokens, by the index of the first: the last token replaced
// and the new text.
using Replacements = std::map<size_t, std::pair<size_t, std::string>>;
// Text that goes before a token, by its index (toks.size(): at the end):
// the closing parentheses of calls that end there, then the names of calls
// that start there.
struct Insertions {
    std::map<size_t, std::string> closes, opens;
};

bool isWord(const std::vector<Tok>& toks, size_t i, std::string_view w) {
    return i < toks.size() && toks[i].kind == T::Word && equalsIgnoreCase(toks[i].text, w);
}

// Words that are operators or clauses, never a function's name before '('.
const std::set<std::string> kOperatorWords = {
    "all",    "and",    "any",  "as",   "between", "by",     "case", "distinct", "else", "end",
    "escape", "exists", "from", "in",   "is",      "like",   "not",  "on",       "or",   "return",
    "select", "set",    "some", "then", "top",     "values", "when", "where"};

bool isCall(const std::vector<Tok>& toks, size_t word) {
    return word < toks.size() && toks[word].kind == T::Word &&
           !kOperatorWords.count(toLower(toks[word].text)) &&
           isPunct(toks, solidAfter(toks, word), "(");
}

// CAST(x AS type) or CONVERT(type, x [, style]) at `word`: where its parts are.
struct Conversion {
    bool convert = false;
    size_t open = 0, close = 0;
    size_t type = 0;                    // the type's name
    std::vector<std::string> typeArgs;  // (n), (p, s); "-1" for max
    size_t sourceFirst = 0, sourceLast = 0;
    size_t as = 0;     // CAST: the word AS
    size_t comma = 0;  // CONVERT: the comma after the type
};

std::optional<Conversion> readConversion(const std::vector<Tok>& toks, size_t word) {
    Conversion c;
    if (isWord(toks, word, "convert"))
        c.convert = true;
    else if (!isWord(toks, word, "cast"))
        return std::nullopt;
    c.open = solidAfter(toks, word);
    if (!isPunct(toks, c.open, "(")) return std::nullopt;
    c.close = closingParen(toks, c.open);
    if (c.close >= toks.size()) return std::nullopt;
    // The type and its arguments, from `at`; gives the token after them.
    auto readType = [&](size_t at) -> size_t {
        if (at >= c.close || !isIdent(toks[at])) return toks.size();
        c.type = at;
        size_t next = solidAfter(toks, at);
        if (!isPunct(toks, next, "(")) return next;
        for (size_t k = solidAfter(toks, next);; k = solidAfter(toks, k)) {
            if (k >= c.close) return toks.size();
            if (toks[k].kind == T::Number)
                c.typeArgs.emplace_back(toks[k].text);
            else if (isWord(toks, k, "max"))
                c.typeArgs.emplace_back("-1");
            else
                return toks.size();
            k = solidAfter(toks, k);
            if (isPunct(toks, k, ")")) return solidAfter(toks, k);
            if (!isPunct(toks, k, ",")) return toks.size();
        }
    };
    if (c.convert) {
        c.comma = readType(solidAfter(toks, c.open));
        if (!isPunct(toks, c.comma, ",")) return std::nullopt;
        c.sourceFirst = solidAfter(toks, c.comma);
        // The source ends at the style's comma or the closing parenthesis.
        size_t k = c.sourceFirst;
        for (int depth = 0; k < c.close; ++k) {
            if (isPunct(toks, k, "(")) ++depth;
            if (isPunct(toks, k, ")")) --depth;
            if (depth == 0 && isPunct(toks, k, ",")) break;
        }
        c.sourceLast = solidBefore(toks, k);
    } else {
        c.as = toks.size();
        int depth = 0;
        for (size_t k = c.open + 1; k < c.close && c.as == toks.size(); ++k) {
            if (isPunct(toks, k, "(")) ++depth;
            if (isPunct(toks, k, ")")) --depth;
            if (depth == 0 && isWord(toks, k, "as")) c.as = k;
        }
        if (c.as >= c.close || readType(solidAfter(toks, c.as)) != c.close) return std::nullopt;
        c.sourceFirst = solidAfter(toks, c.open);
        c.sourceLast = solidBefore(toks, c.as);
    }
    if (c.sourceFirst > c.sourceLast || c.sourceLast >= c.close) return std::nullopt;
    return c;
}

std::string typeName(const std::vector<Tok>& toks, const Conversion& c) {
    return toLower(toks[c.type].value);
}

// The conversion that is exactly the tokens first..last, if any.
std::optional<Conversion> wholeConversion(const std::vector<Tok>& toks, size_t first, size_t last) {
    std::optional<Conversion> c = readConversion(toks, first);
    if (!c || c->close != last) return std::nullopt;
    return c;
}

// What the spelling of the expression first..last tells of its SQL Server
// type, for the conversions that depend on it (see Tsql.h).
std::string sourceHint(const std::vector<Tok>& toks, size_t first, size_t last) {
    if (first == last) {
        const Tok& t = toks[first];
        if (t.kind == T::String) return "varchar";
        if (t.kind == T::NString) return "nvarchar";
        if (isIdent(t)) return "column";
        return "";
    }
    if (std::optional<Conversion> c = wholeConversion(toks, first, last)) {
        static const std::map<std::string, std::string> kHints = {
            {"tinyint", "int1"},   {"bit", "int1"},         {"smallint", "int2"},
            {"int", "int4"},       {"bigint", "int8"},      {"real", "real"},
            {"float", "float"},    {"char", "varchar"},     {"varchar", "varchar"},
            {"nchar", "nvarchar"}, {"nvarchar", "nvarchar"}};
        auto it = kHints.find(typeName(toks, *c));
        return it == kHints.end() ? "" : it->second;
    }
    // a.b.c: a column too.
    for (size_t k = first; k <= last; k = solidAfter(toks, k)) {
        const bool part = (k - first) % 2 == 0 ? isIdent(toks[k]) : isDot(toks[k]);
        if (!part) return "";
    }
    return "column";
}

// A CAST whose source is SUBSTRING(x, start, length), start and length
// numbers of at least 1: the parenthesis that opens the SUBSTRING.
std::optional<size_t> positiveSlice(const std::vector<Tok>& toks, const Conversion& c) {
    const size_t open = solidAfter(toks, c.sourceFirst);
    if (c.convert ||
        !(isWord(toks, c.sourceFirst, "substring") || isWord(toks, c.sourceFirst, "substr")) ||
        !isPunct(toks, open, "(") || closingParen(toks, open) != c.sourceLast)
        return std::nullopt;
    const size_t length = solidBefore(toks, c.sourceLast), second = solidBefore(toks, length);
    const size_t start = solidBefore(toks, second), first = solidBefore(toks, start);
    auto positive = [&](size_t k) {
        const std::string_view t = toks[k].text;
        return toks[k].kind == T::Number && !t.empty() && t.size() <= 9 &&
               t.find_first_not_of("0123456789") == std::string_view::npos &&
               t.find_first_not_of('0') != std::string_view::npos;
    };
    if (!positive(length) || !positive(start) || !isPunct(toks, second, ",") ||
        !isPunct(toks, first, ",") || first <= open + 1)
        return std::nullopt;
    // The comma before the start must be the SUBSTRING's own.
    int depth = 0;
    for (size_t k = open + 1; k < first; ++k) {
        depth += isPunct(toks, k, "(") - isPunct(toks, k, ")");
        if (depth == 0 && isPunct(toks, k, ",")) return std::nullopt;
    }
    return open;
}

// The columns of the tables a batch names (a name, or schema.name), by
// lower-case name; a name two of them type differently is left out.
TableColumns namedColumns(const std::vector<Tok>& toks, const RewriteContext& context) {
    TableColumns columns;
    if (!context.tableColumns) return columns;
    std::set<std::string> tables, clashes;
    for (size_t i = 0; i < toks.size(); ++i) {
        if (!isIdent(toks[i])) continue;
        std::string name = toLower(toks[i].value);
        const size_t dot = solidAfter(toks, i), part = solidAfter(toks, dot);
        if (dot < toks.size() && isDot(toks[dot]) && part < toks.size() && isIdent(toks[part]) &&
            name != "dbo")
            tables.insert(name + "." + toLower(toks[part].value));
        tables.insert(name);
    }
    for (const std::string& table : tables) {
        const TableColumns* found = context.tableColumns(table);
        if (!found) continue;
        for (const auto& [name, fact] : *found) {
            auto [at, added] = columns.emplace(name, fact);
            if (!added && (at->second.type != fact.type || at->second.collation != fact.collation))
                clashes.insert(name);
        }
    }
    for (const std::string& name : clashes) columns.erase(name);
    return columns;
}

// The length of a char(n) or nchar(n) column, which SQL Server pads with
// blanks; 0 for any other column.
size_t paddedLength(const TableColumns& columns, const std::string& name) {
    const auto it = columns.find(toLower(name));
    if (it == columns.end()) return 0;
    const std::string& type = it->second.type;
    const size_t open = type.find('(');
    const std::string base = type.substr(0, type.find_first_of(" ("));
    if ((base != "char" && base != "nchar") || open == std::string::npos) return 0;
    size_t n = 0;
    for (size_t k = open + 1; k < type.size() && std::isdigit(uint8_t(type[k])); ++k)
        n = n * 10 + size_t(type[k] - '0');
    return n;
}

// CAST and CONVERT to the types whose conversions SQLite does not know
// (Tsql.h names the functions they become). A char(n) column cast to text
// keeps its blanks, as it is sent.
Replacements conversions(const std::vector<Tok>& toks, const TableColumns& columns) {
    Replacements out;
    std::set<size_t> spelt;  // decimal and datetime2 casts that a text conversion spells
    for (size_t i = 0; i < toks.size(); ++i) {
        std::optional<Conversion> c = readConversion(toks, i);
        if (!c) continue;
        const std::string type = typeName(toks, *c);
        auto arg = [&](size_t k, const char* absent) {
            return k < c->typeArgs.size() ? c->typeArgs[k] : std::string(absent);
        };
        std::string call;
        if (type == "binary" || type == "varbinary") {
            call = std::string(kBinaryCastFunction) + "(" + arg(0, "30") + ", " +
                   (type == "binary" ? "1" : "0") + ", '" +
                   sourceHint(toks, c->sourceFirst, c->sourceLast) + "', ";
        } else if (type == "tinyint" || type == "smallint" || type == "int" || type == "bigint") {
            // Widening what is already an integer of fewer bytes changes
            // nothing: SQLite's own CAST does it.
            static const std::vector<std::string> kWidths = {"tinyint", "smallint", "int",
                                                             "bigint"};
            const std::optional<Conversion> inner =
                wholeConversion(toks, c->sourceFirst, c->sourceLast);
            const auto width = [&](const std::string& name) {
                return std::find(kWidths.begin(), kWidths.end(), name) - kWidths.begin();
            };
            if (inner && width(typeName(toks, *inner)) <= width(type)) continue;
            const char* bytes = type == "tinyint"    ? "1"
                                : type == "smallint" ? "2"
                                : type == "int"      ? "4"
                                                     : "8";
            if (const std::optional<size_t> open = positiveSlice(toks, *c)) {
                out[i] = {*open, std::string(kIntegerSliceFunction) + "(" + bytes + ", "};
                out[c->sourceLast] = {c->close, ")"};
                continue;
            }
            call = std::string(kIntegerCastFunction) + "(" + bytes + ", ";
        } else if (kTextTypes.count(type)) {
            if (wholeConversion(toks, c->sourceFirst, c->sourceLast)) spelt.insert(c->sourceFirst);
            if (const Tok& source = toks[c->sourceFirst];
                c->sourceFirst == c->sourceLast && isIdent(source)) {
                if (const size_t n = paddedLength(columns, source.value)) {
                    const std::string q = quoteId(source.value), width = std::to_string(n);
                    out[c->sourceFirst] = {c->sourceFirst, "(" + q + " || substr(printf('%*s', " +
                                                               width + ", ''), 1, max(0, " + width +
                                                               " - length(" + q + "))))"};
                }
            }
            if (!c->convert) continue;  // SQLite's own CAST to text
            call = std::string(kTextConvertFunction) + "(" + arg(0, "30") + ", ";
        } else if ((type == "decimal" || type == "numeric") && spelt.count(i)) {
            call =
                std::string(kDecimalTextFunction) + "(" + arg(0, "18") + ", " + arg(1, "0") + ", ";
        } else if (type == "datetime2" && spelt.count(i)) {
            call = std::string(kDateTimeTextFunction) + "(" + arg(0, "7") + ", ";
        } else {
            continue;
        }
        if (c->convert) {
            call.pop_back();  // the blank after the comma stays
            out[i] = {c->comma, call};
        } else {
            out[i] = {c->open, call};
            out[solidBefore(toks, c->as) + 1] = {c->close, ")"};
        }
    }
    return out;
}

// Operands of + and the like, as far as the rewriting needs them: a
// literal, a (dotted) name, a call, a parenthesis, CASE ... END, each
// perhaps with COLLATE, joined by * / %. The last token of the operand that
// starts at `first`, or the first of the one that ends at `last`;
// toks.size() when there is none.
size_t primaryEnd(const std::vector<Tok>& toks, size_t i) {
    if (i >= toks.size()) return toks.size();
    if (isPunct(toks, i, "-") || isPunct(toks, i, "+") || isPunct(toks, i, "~"))
        return primaryEnd(toks, solidAfter(toks, i));
    if (isPunct(toks, i, "(")) return closingParen(toks, i);
    if (isWord(toks, i, "case")) {
        int depth = 0;
        for (size_t k = i; k < toks.size(); ++k) {
            if (isWord(toks, k, "case")) ++depth;
            if (isWord(toks, k, "end") && --depth == 0) return k;
        }
        return toks.size();
    }
    if (isCall(toks, i)) return closingParen(toks, solidAfter(toks, i));
    if (isIdent(toks[i])) {
        size_t k = i;
        for (;;) {
            const size_t dot = solidAfter(toks, k);
            if (dot >= toks.size() || !isDot(toks[dot])) break;
            const size_t part = solidAfter(toks, dot);
            if (part >= toks.size() || !isIdent(toks[part])) break;
            k = part;
        }
        return k;
    }
    if (toks[i].kind == T::Number || isTextLiteral(toks[i])) return i;
    return toks.size();
}

bool multiplies(const std::vector<Tok>& toks, size_t i) {
    return isPunct(toks, i, "*") || isPunct(toks, i, "/") || isPunct(toks, i, "%");
}

size_t operandEnd(const std::vector<Tok>& toks, size_t first) {
    size_t k = primaryEnd(toks, first);
    while (k < toks.size()) {
        const size_t next = solidAfter(toks, k);
        if (isWord(toks, next, "collate"))
            k = solidAfter(toks, next);
        else if (multiplies(toks, next))
            k = primaryEnd(toks, solidAfter(toks, next));
        else
            break;
    }
    return k;
}

size_t primaryStart(const std::vector<Tok>& toks, size_t k) {
    if (k >= toks.size()) return toks.size();
    if (isWord(toks, solidBefore(toks, k), "collate")) k = solidBefore(toks, solidBefore(toks, k));
    if (k >= toks.size()) return toks.size();
    if (isPunct(toks, k, ")")) {
        const size_t open = openingParen(toks, k);
        if (open >= toks.size()) return toks.size();
        const size_t word = solidBefore(toks, open);
        return isCall(toks, word) ? word : open;
    }
    if (isWord(toks, k, "end")) {
        int depth = 0;
        for (size_t i = k + 1; i-- > 0;) {
            if (isWord(toks, i, "end")) ++depth;
            if (isWord(toks, i, "case") && --depth == 0) return i;
        }
        return toks.size();
    }
    if (isIdent(toks[k])) {
        for (;;) {
            const size_t dot = solidBefore(toks, k);
            if (dot >= toks.size() || !isDot(toks[dot])) break;
            const size_t part = solidBefore(toks, dot);
            if (part >= toks.size() || !isIdent(toks[part])) break;
            k = part;
        }
        return k;
    }
    if (toks[k].kind == T::Number || isTextLiteral(toks[k])) return k;
    return toks.size();
}

size_t operandStart(const std::vector<Tok>& toks, size_t last) {
    size_t k = primaryStart(toks, last);
    while (k < toks.size() && multiplies(toks, solidBefore(toks, k)))
        k = primaryStart(toks, solidBefore(toks, solidBefore(toks, k)));
    return k;
}

// Whether the operand first..last is binary by its spelling: 0x..., a
// conversion to binary, HASHBYTES, or a CASE whose results are.
bool binaryOperand(const std::vector<Tok>& toks, size_t first, size_t last) {
    if (first == last) {
        const std::string_view t = toks[first].text;
        return toks[first].kind == T::Number && t.size() >= 2 && (t[1] == 'x' || t[1] == 'X');
    }
    if (std::optional<Conversion> c = wholeConversion(toks, first, last)) {
        const std::string type = typeName(toks, *c);
        return type == "binary" || type == "varbinary";
    }
    if (isWord(toks, first, "hashbytes"))
        return closingParen(toks, solidAfter(toks, first)) == last;
    if (isPunct(toks, first, "(") && closingParen(toks, first) == last)
        return binaryOperand(toks, solidAfter(toks, first), solidBefore(toks, last));
    if (isWord(toks, first, "case") && isWord(toks, last, "end")) {
        int cases = 0, parens = 0;
        for (size_t k = first; k < last; ++k) {
            cases += isWord(toks, k, "case") - isWord(toks, k, "end");
            parens += isPunct(toks, k, "(") - isPunct(toks, k, ")");
            if (cases == 1 && parens == 0 && (isWord(toks, k, "then") || isWord(toks, k, "else"))) {
                const size_t a = solidAfter(toks, k), e = operandEnd(toks, a);
                if (e < last && binaryOperand(toks, a, e)) return true;
            }
        }
    }
    return false;
}

// a + b + ... where an operand is binary joins bytes: tds_concat(a, b, ...),
// since SQLite's + adds numbers and its || turns blobs into text.
void binaryConcatenations(const std::vector<Tok>& toks, Replacements& replaced,
                          Insertions& inserted) {
    std::set<size_t> seen;
    for (size_t i = 0; i < toks.size(); ++i) {
        if (!isPunct(toks, i, "+") || seen.count(i)) continue;
        const size_t start = operandStart(toks, solidBefore(toks, i));
        if (start >= toks.size()) continue;
        std::vector<std::pair<size_t, size_t>> operands = {{start, solidBefore(toks, i)}};
        std::vector<size_t> pluses;
        for (size_t plus = i; isPunct(toks, plus, "+");) {
            seen.insert(plus);
            pluses.push_back(plus);
            const size_t first = solidAfter(toks, plus), last = operandEnd(toks, first);
            if (last >= toks.size()) break;
            operands.emplace_back(first, last);
            plus = solidAfter(toks, last);
        }
        if (operands.size() != pluses.size() + 1) continue;
        bool binary = false;
        for (const auto& [first, last] : operands)
            binary = binary || binaryOperand(toks, first, last);
        if (!binary) continue;
        for (size_t plus : pluses) replaced[plus] = {plus, ","};
        // The whole value of HASHBYTES: its parts are hashed in turn, never
        // joined.
        const size_t comma = solidBefore(toks, start);
        const size_t close = solidAfter(toks, operands.back().second);
        const size_t open = isPunct(toks, close, ")") ? openingParen(toks, close) : toks.size();
        if (open < toks.size() && isWord(toks, solidBefore(toks, open), "hashbytes") &&
            isPunct(toks, comma, ",") && solidAfter(toks, solidAfter(toks, open)) == comma)
            continue;
        inserted.opens[start] += kBinaryConcatFunction + std::string("(");
        inserted.closes[operands.back().second + 1] += ")";
    }
}

// The solid tokens first..last, without blanks and in lower case.
std::string shapeOf(const std::vector<Tok>& toks, size_t first, size_t last) {
    std::string shape;
    for (size_t k = first; k <= last && k < toks.size(); k = solidAfter(toks, k))
        shape += toLower(toks[k].text);
    return shape;
}

// The checksum method's field of one column (Tsql.h), recognised token by
// token: the last token of its CASE, its kind ("d4": a decimal at scale 4)
// and its column as SQLite reads it.
struct ChecksumField {
    size_t end = 0;
    std::string kind, column;
};
// By the index of the CASE.
using ChecksumFields = std::map<size_t, ChecksumField>;

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// A datetime column (not datetime2): it holds 1/300 s.
bool holdsDatetime(const TableColumns& columns, const std::string& name) {
    const auto it = columns.find(toLower(name));
    return it != columns.end() && it->second.type == "datetime";
}

// A char, varchar or text column under one of SQL Server's SQL_ collations.
bool narrowUnderSqlCollation(const TableColumns& columns, const std::string& name) {
    const auto it = columns.find(toLower(name));
    if (it == columns.end()) return false;
    const std::string& type = it->second.type;
    return (startsWith(type, "char") || startsWith(type, "varchar") || type == "text") &&
           startsWith(toLower(it->second.collation), "sql_");
}

// An identifier compared with an N'...' literal: `[c] = N'x'`, `[c] <= N'x'`;
// not one given a value (`SET [c] = N'x', [d] = N'y'`).
bool comparedWithNationalText(const std::vector<Tok>& toks, size_t ident) {
    const size_t before = solidBefore(toks, ident);
    if (before < toks.size() && (isWord(toks, before, "set") || isPunct(toks, before, ",")))
        return false;
    size_t k = solidAfter(toks, ident);
    int signs = 0;
    for (; k < toks.size() && toks[k].kind == T::Punct && toks[k].text.size() == 1 &&
           std::string_view("=<>!").find(toks[k].text[0]) != std::string_view::npos;
         k = solidAfter(toks, k))
        ++signs;
    return signs >= 1 && signs <= 2 && k < toks.size() && toks[k].kind == T::NString;
}

ChecksumFields checksumFields(const std::vector<Tok>& toks, const TableColumns& columns) {
    ChecksumFields fields;
    for (size_t i = 0; i < toks.size(); ++i) {
        if (!isWord(toks, i, "case")) continue;
        const size_t end = primaryEnd(toks, i);
        if (end >= toks.size()) continue;
        std::vector<size_t> solid;
        for (size_t k = i; k <= end; k = solidAfter(toks, k)) solid.push_back(k);
        // case when C is null then 0x00 else 0x01 + ... end
        if (solid.size() < 12) continue;
        const Tok& column = toks[solid[2]];
        auto text = [&](size_t n) { return toLower(toks[solid[n]].text); };
        if (text(1) != "when" || !isIdent(column) || text(3) != "is" || text(4) != "null" ||
            text(5) != "then" || text(6) != "0x00" || text(7) != "else" || text(8) != "0x01" ||
            text(9) != "+")
            continue;
        // The encoding, without blanks, lower case, the column as '?'.
        std::string shape;
        for (size_t n = 10; n + 1 < solid.size(); ++n) {
            const Tok& t = toks[solid[n]];
            shape += isIdent(t) && t.kind == column.kind && t.value == column.value
                         ? std::string("?")
                         : toLower(t.text);
        }
        static const std::map<std::string, std::string> kKinds = {
            {"cast(cast(?asbigint)asbinary(8))", "i"},
            {"cast(cast(?asfloat)asbinary(8))", "f"},
            {"cast(convert(varchar(27),cast(?asdatetime2(7)),121)asvarbinary(27))+0x00", "t"},
            {"cast(convert(varchar(27),cast(cast(?asdatetime2(3))asdatetime2(7)),121)as"
             "varbinary(27))+0x00",
             "m"},
            {"cast(datalength(cast(?asnvarchar(max)))asbinary(4))+cast(cast(?asnvarchar(max))"
             "asvarbinary(max))",
             "s"},
            {"cast(datalength(?)asbinary(4))+cast(?asvarbinary(max))", "b"},
            {"cast(?asbinary(16))", "g"}};
        std::string kind;
        if (auto it = kKinds.find(shape); it != kKinds.end()) {
            kind = it->second;
        } else {
            const std::string head = "cast(convert(varchar(41),cast(?asdecimal(38,";
            const std::string tail = ")))asvarbinary(41))+0x00";
            if (shape.size() <= head.size() + tail.size() || shape.compare(0, head.size(), head) ||
                shape.compare(shape.size() - tail.size(), tail.size(), tail))
                continue;
            const std::string scale =
                shape.substr(head.size(), shape.size() - head.size() - tail.size());
            if (scale.size() > 2 || scale.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(scale) > 38)
                continue;
            kind = "d" + scale;
        }
        if ((kind == "t" || kind == "m") && holdsDatetime(columns, column.value))
            kind = kind == "t" ? "u" : "n";
        fields[i] = {end, kind, quoteId(column.value)};
        i = end;
    }
    return fields;
}

// HASHBYTES('algorithm', CAST(0x AS varbinary(max)) + <field> + ...), every
// part after the empty start a checksum field: one tds_row_hash call
// (Tsql.h). The fields it takes leave `fields`.
void rowHashes(const std::vector<Tok>& toks, ChecksumFields& fields, Replacements& replaced) {
    for (size_t i = 0; i < toks.size(); ++i) {
        if (!isWord(toks, i, "hashbytes") || !isCall(toks, i)) continue;
        const size_t open = solidAfter(toks, i), close = closingParen(toks, open);
        const size_t algorithm = solidAfter(toks, open), comma = solidAfter(toks, algorithm);
        const size_t start = solidAfter(toks, comma);
        if (close >= toks.size() || !isTextLiteral(toks[algorithm]) || !isPunct(toks, comma, ",") ||
            !isWord(toks, start, "cast"))
            continue;
        const size_t startEnd = closingParen(toks, solidAfter(toks, start));
        if (startEnd >= close || shapeOf(toks, start, startEnd) != "cast(0xasvarbinary(max))")
            continue;
        std::vector<ChecksumFields::iterator> row;
        size_t k = solidAfter(toks, startEnd);
        for (; k < close && isPunct(toks, k, "+"); k = solidAfter(toks, row.back()->second.end)) {
            auto field = fields.find(solidAfter(toks, k));
            if (field == fields.end()) break;
            row.push_back(field);
        }
        if (k != close || row.empty()) continue;
        std::string kinds, columns;
        for (auto field : row) {
            if (!kinds.empty()) kinds += ' ';
            kinds += field->second.kind;
            columns += ", " + field->second.column;
            fields.erase(field);
        }
        const Tok& name = toks[algorithm];
        replaced[i] = {close, std::string(kRowHashFunction) + "(" +
                                  std::string(name.text.substr(name.kind == T::NString)) + ", '" +
                                  kinds + "'" + columns + ")"};
        i = close;
    }
}

// Each field left: one tds_field call (Tsql.h).
void fieldCalls(const ChecksumFields& fields, Replacements& replaced) {
    for (const auto& [i, field] : fields) {
        std::string call = std::string(kChecksumFieldFunction) + "('";
        call += field.kind[0];
        call += "', " + field.column;
        if (field.kind.size() > 1) call.append(", ").append(field.kind, 1);
        replaced[i] = {field.end, call + ")"};
    }
}

// HASHBYTES of a varchar hashes its single-byte characters: the text goes
// in as those bytes (a text otherwise counts as nvarchar).
void varcharHashes(const std::vector<Tok>& toks, Insertions& inserted) {
    for (size_t i = 0; i < toks.size(); ++i) {
        if (!isWord(toks, i, "hashbytes") || !isCall(toks, i)) continue;
        const size_t open = solidAfter(toks, i), close = closingParen(toks, open);
        size_t comma = open + 1;
        for (int depth = 0; comma < close; ++comma) {
            depth += isPunct(toks, comma, "(") - isPunct(toks, comma, ")");
            if (depth == 0 && isPunct(toks, comma, ",")) break;
        }
        if (close >= toks.size() || comma >= close) continue;
        const size_t first = solidAfter(toks, comma), last = solidBefore(toks, close);
        if (first > last || sourceHint(toks, first, last) != "varchar") continue;
        inserted.opens[first] += std::string(kBinaryCastFunction) + "(-1, 0, 'varchar', ";
        inserted.closes[close] += ")";
    }
}

// Words that cannot be a derived table's alias: what may follow its closing
// parenthesis when the alias is missing.
const std::set<std::string> kNotAnAlias = {
    "alter",    "and",    "begin",  "commit", "create",    "cross", "declare", "delete", "drop",
    "else",     "end",    "except", "exec",   "execute",   "for",   "from",    "full",   "group",
    "having",   "if",     "inner",  "insert", "intersect", "into",  "join",    "left",   "merge",
    "on",       "option", "or",     "order",  "outer",     "pivot", "print",   "return", "right",
    "rollback", "select", "set",    "then",   "truncate",  "union", "unpivot", "update", "use",
    "when",     "where",  "while",  "with"};

// Words after which a comma goes on with a FROM clause's list of tables.
const std::set<std::string> kFromClauses = {"from", "on"};

// Words that start a clause of a query, for telling which clause a comma is in.
const std::set<std::string> kClauseWords = {"select", "from",   "where", "group",  "having",
                                            "order",  "on",     "set",   "values", "insert",
                                            "update", "delete", "into"};

// How an item of a select list (solid tokens first..last) names its column
// in SQL Server: a name or "name = expr", an alias with or without AS, or
// none (an expression); "*" gives the names of what it reads.
enum class ItemName { Named, Unnamed, Star };
ItemName itemName(const std::vector<Tok>& toks, size_t first, size_t last) {
    std::vector<size_t> solid;
    for (size_t k = first; k <= last && k < toks.size(); ++k)
        if (toks[k].kind != T::Blank) solid.push_back(k);
    if (solid.empty()) return ItemName::Unnamed;
    const Tok& end = toks[solid.back()];
    if (end.kind == T::Punct && end.text == "*") return ItemName::Star;
    if (solid.size() >= 3 && isPunct(toks, solid[1], "=") &&
        (isIdent(toks[solid[0]]) || toks[solid[0]].kind == T::String))
        return ItemName::Named;
    bool chain = true;  // a.b.c
    for (size_t k = 0; k < solid.size(); ++k)
        chain = chain && (k % 2 == 0 ? isIdent(toks[solid[k]]) : isDot(toks[solid[k]]));
    if (chain && solid.size() % 2 == 1) return ItemName::Named;
    if (solid.size() < 2) return ItemName::Unnamed;
    const Tok& before = toks[solid[solid.size() - 2]];
    const std::string lastWord = end.kind == T::Word ? toLower(end.text) : std::string();
    const bool aliasToken = end.kind == T::QuotedId || end.kind == T::String ||
                            (end.kind == T::Word && lastWord != "end" && lastWord != "null");
    if (!aliasToken) return ItemName::Unnamed;
    if (before.kind == T::Word && equalsIgnoreCase(before.text, "as")) return ItemName::Named;
    if (before.kind == T::Word && equalsIgnoreCase(before.text, "collate"))
        return ItemName::Unnamed;
    if (before.kind == T::Punct && before.text != ")") return ItemName::Unnamed;
    return ItemName::Named;
}

// SQL Server's row limits in SQLite's words, and what SQL Server refuses
// around them. TOP n after SELECT [ALL|DISTINCT] leaves, and LIMIT n closes
// that query (before its closing parenthesis, its ';' or the end of the
// batch); ORDER BY ... OFFSET n ROWS [FETCH NEXT m ROWS ONLY] becomes
// LIMIT m OFFSET n (-1: no limit). The replacements join `replaced` (token
// index -> last token replaced, new text); `tail` is added at the end.
void rowLimits(const std::vector<Tok>& toks, Replacements& replaced, std::string& tail,
               std::optional<Refusal>& refusal, std::vector<DerivedTable>& derived,
               const std::string& with) {
    constexpr size_t kNone = size_t(-1);
    auto word = [&](size_t i, std::string_view w) {
        return i < toks.size() && toks[i].kind == T::Word && equalsIgnoreCase(toks[i].text, w);
    };
    auto refuse = [&](int number, uint8_t severity, std::string text) {
        if (!refusal) refusal = Refusal{number, severity, std::move(text)};
    };
    // The text of tokens a..b, as written.
    auto span = [&](size_t a, size_t b) {
        return std::string(toks[a].text.data(),
                           size_t(toks[b].text.data() + toks[b].text.size() - toks[a].text.data()));
    };
    // The first ROW or ROWS at this depth after `from`; toks.size() for none.
    auto rowsWord = [&](size_t from) {
        for (size_t k = solidAfter(toks, from); k < toks.size(); k = solidAfter(toks, k)) {
            if (word(k, "row") || word(k, "rows")) return k;
            if (isPunct(toks, k, ")") || isPunct(toks, k, ";")) break;
            if (isPunct(toks, k, "(")) k = closingParen(toks, k);
        }
        return toks.size();
    };
    auto insertBefore = [&](size_t at, const std::string& text) {
        if (at >= toks.size()) {
            tail += text;
            return;
        }
        auto it = replaced.try_emplace(at, at, std::string(toks[at].text)).first;
        it->second.second.insert(0, text);
    };
    // A query in parentheses, or a statement.
    struct Scope {
        bool query = false;    // in parentheses and starting with SELECT or WITH, or a view's
        bool derived = false;  // a table of a FROM clause
        std::string clause;    // the clause it is in, lower case
        size_t top = kNone;    // the TOP word
        std::string count;     // TOP's count
        bool orderBy = false, offset = false, compound = false, forXml = false;
        bool hashes = false;       // HASHBYTES in its select list
        size_t open = kNone;       // its parenthesis
        size_t listStart = kNone;  // its first select's list: first token
        size_t listEnd = kNone;    // and its FROM
    };
    std::vector<Scope> scopes(1);
    // A derived table's select as written, with what its select list names.
    auto recordDerived = [&](const Scope& s, size_t close) {
        if (s.listStart == kNone) return;
        DerivedTable d;
        d.select = with + span(solidAfter(toks, s.open), solidBefore(toks, close));
        size_t next = solidAfter(toks, close);
        if (word(next, "as")) next = solidAfter(toks, next);
        if (next < toks.size())
            d.alias =
                toks[next].kind == T::QuotedId ? toks[next].value : std::string(toks[next].text);
        const size_t end = s.listEnd == kNone ? close : s.listEnd;
        size_t itemStart = s.listStart;
        for (size_t k = s.listStart; k <= end; ++k) {
            if (k < end && isPunct(toks, k, "(")) {
                k = closingParen(toks, k);
                continue;
            }
            if (k < end && !isPunct(toks, k, ",")) continue;
            const ItemName name = itemName(toks, itemStart, k - 1);
            if (name == ItemName::Unnamed && d.unnamed == size_t(-1)) d.unnamed = d.items;
            if (name == ItemName::Star) {
                if (d.unnamed == size_t(-1))
                    ++d.starsBefore;
                else
                    d.starAfter = true;
            }
            ++d.items;
            itemStart = k + 1;
        }
        derived.push_back(std::move(d));
    };
    auto finish = [&](const Scope& s, size_t end) {
        if (s.orderBy && s.query && s.top == kNone && !s.offset && !s.forXml)
            refuse(1033, 15,
                   "The ORDER BY clause is invalid in views, inline functions, derived tables, "
                   "subqueries, and common table expressions, unless TOP, OFFSET or FOR XML is "
                   "also specified.");
        // A derived table that hashes runs on its own, row by row: flattened
        // into an outer aggregate, every use of its column would hash the
        // row again.
        if (s.derived && s.hashes && s.top == kNone && !s.offset && !s.compound)
            insertBefore(end, " LIMIT -1");
        if (s.top == kNone) return;
        if (s.offset)
            refuse(10741, 15, "A TOP can not be used in the same query or sub-query as a OFFSET.");
        else if (s.compound)
            refuse(50000, 16,
                   "TOP in one query of a UNION, EXCEPT or INTERSECT is not supported by this "
                   "server.");
        else
            insertBefore(end, " LIMIT " + s.count);
    };
    // SQL Server names the token where the alias should have been.
    auto checkAlias = [&](size_t close) {
        const size_t next = solidAfter(toks, close);
        if (next < toks.size() &&
            (toks[next].kind == T::QuotedId ||
             (toks[next].kind == T::Word && !kNotAnAlias.count(toLower(toks[next].text)))))
            return;
        if (next >= toks.size())
            refuse(102, 15, "Incorrect syntax near ')'.");
        else if (toks[next].kind == T::Word)
            refuse(102, 15,
                   "Incorrect syntax near the keyword '" + std::string(toks[next].text) + "'.");
        else
            refuse(102, 15, "Incorrect syntax near '" + std::string(toks[next].text) + "'.");
    };
    for (size_t i = 0; i < toks.size(); ++i) {
        const Tok& t = toks[i];
        if (t.kind == T::Blank) continue;
        if (isPunct(toks, i, "(")) {
            Scope inner;
            inner.query = word(solidAfter(toks, i), "select") || word(solidAfter(toks, i), "with");
            const size_t before = solidBefore(toks, i);
            inner.derived =
                inner.query &&
                (word(before, "from") || word(before, "join") || word(before, "apply") ||
                 (isPunct(toks, before, ",") && kFromClauses.count(scopes.back().clause)));
            inner.open = i;
            scopes.push_back(std::move(inner));
            continue;
        }
        if (isPunct(toks, i, ")") && scopes.size() > 1) {
            const Scope inner = std::move(scopes.back());
            scopes.pop_back();
            finish(inner, i);
            if (inner.derived) {
                checkAlias(i);
                recordDerived(inner, i);
            }
            continue;
        }
        if (isPunct(toks, i, ";") && scopes.size() == 1) {
            finish(scopes[0], i);
            scopes[0] = Scope{};
            continue;
        }
        if (t.kind != T::Word) continue;
        Scope& s = scopes.back();
        const std::string w = toLower(t.text);
        if (w == "select") {
            s.clause = w;
            size_t k = solidAfter(toks, i);
            if (word(k, "all") || word(k, "distinct")) k = solidAfter(toks, k);
            const bool firstSelect = s.listStart == kNone;
            if (firstSelect) s.listStart = k;
            if (!word(k, "top")) continue;
            const size_t first = solidAfter(toks, k);
            const size_t last = isPunct(toks, first, "(") ? closingParen(toks, first) : first;
            if (last >= toks.size()) continue;  // SQLite tells what is wrong
            const size_t after = solidAfter(toks, last);
            if (word(after, "percent"))
                refuse(50000, 16, "TOP ... PERCENT is not supported by this server.");
            if (word(after, "with") && word(solidAfter(toks, after), "ties"))
                refuse(50000, 16, "TOP ... WITH TIES is not supported by this server.");
            if (s.top != kNone) s.compound = true;
            s.top = k;
            s.count = span(first, last);
            if (firstSelect) s.listStart = last + 1;
            replaced[k] = {last, ""};
            i = last;
        } else if (w == "hashbytes" && s.clause == "select") {
            s.hashes = true;
        } else if (w == "union" || w == "except" || w == "intersect") {
            s.compound = true;
        } else if (w == "order" && word(solidAfter(toks, i), "by")) {
            s.orderBy = true;
            s.clause = w;
        } else if (w == "for" && word(solidAfter(toks, i), "xml")) {
            s.forXml = true;
        } else if (w == "offset" && s.orderBy && !s.offset) {
            const size_t rows = rowsWord(i);
            if (rows >= toks.size() || solidAfter(toks, i) == rows) continue;
            std::string limit = "-1";
            size_t end = rows;
            const size_t fetch = solidAfter(toks, rows);
            const size_t next = solidAfter(toks, fetch);
            if (word(fetch, "fetch") && (word(next, "next") || word(next, "first"))) {
                const size_t fetchRows = rowsWord(next);
                if (fetchRows < toks.size() && solidAfter(toks, next) != fetchRows &&
                    word(solidAfter(toks, fetchRows), "only")) {
                    limit = span(solidAfter(toks, next), solidBefore(toks, fetchRows));
                    end = solidAfter(toks, fetchRows);
                }
            }
            replaced[i] = {end, "LIMIT " + limit + " OFFSET " +
                                    span(solidAfter(toks, i), solidBefore(toks, rows))};
            s.offset = true;
            i = end;
        } else if (w == "into" && s.clause == "select") {
            refuse(50000, 16, "SELECT ... INTO is not supported by this server.");
        } else if (w == "view" && scopes.size() == 1 &&
                   (word(solidBefore(toks, i), "create") || word(solidBefore(toks, i), "alter"))) {
            s.query = true;  // a view's query takes no ORDER BY of its own either
        } else if (kClauseWords.count(w)) {
            if (w == "from" && s.listStart != kNone && s.listEnd == kNone) s.listEnd = i;
            s.clause = w;
        }
    }
    finish(scopes[0], toks.size());
}

// Period columns (GENERATED ALWAYS AS ROW START/END [HIDDEN]) become plain
// columns with the values SQL Server gives a current row, and two triggers
// each refuse an explicit value as SQL Server does (13536); PERIOD FOR
// SYSTEM_TIME and a WITH (...) after the column list go. A memory-optimized
// table's flag stays as a comment in the list (SQLite keeps it in the schema).
std::string withPeriodColumns(std::string_view sql) {
    const std::string lower = toLower(sql);
    if (lower.find("generated") == std::string::npos && lower.find("with") == std::string::npos)
        return std::string(sql);
    std::vector<Tok> toks = tokenize(sql);
    auto next = [&](size_t i) {
        for (++i; i < toks.size() && toks[i].kind == T::Blank; ++i) {
        }
        return i;
    };
    auto word = [&](size_t i, std::string_view w) {
        return i < toks.size() && isIdent(toks[i]) && equalsIgnoreCase(toks[i].value, w);
    };
    auto punct = [&](size_t i, std::string_view p) { return isPunct(toks, i, p); };
    auto at = [&](size_t i) {
        return i < toks.size() ? size_t(toks[i].text.data() - sql.data()) : sql.size();
    };
    auto after = [&](size_t i) { return at(i) + toks[i].text.size(); };
    // [start, end) -> replacement
    std::vector<std::tuple<size_t, size_t, std::string>> edits;
    for (size_t i = 0; i < toks.size(); ++i) {
        if (!word(i, "create")) continue;
        size_t k = next(i);
        if (!word(k, "table")) continue;
        k = next(k);
        const size_t nameStart = k;
        size_t nameEnd = k;
        while (k < toks.size() && isIdent(toks[k]) && punct(next(k), ".")) k = next(next(k));
        if (k == toks.size() || !isIdent(toks[k]) || !punct(next(k), "(")) continue;
        nameEnd = k;
        const std::string table(sql.substr(at(nameStart), after(nameEnd) - at(nameStart)));
        const std::string bare = toks[nameEnd].value;
        std::vector<std::pair<std::string, bool>> periods;  // column, start
        size_t itemStart = next(next(k)), lastComma = 0;
        std::string column;
        int depth = 1;
        for (k = itemStart; k < toks.size() && depth > 0; k = next(k)) {
            if (punct(k, "(")) ++depth;
            if (punct(k, ")")) --depth;
            if (depth == 1 && k == itemStart && isIdent(toks[k])) column = toks[k].value;
            if (depth == 1 && word(k, "period") && k == itemStart) {
                size_t e = k;
                while (e < toks.size() && !punct(e, ")")) ++e;
                edits.emplace_back(lastComma ? at(lastComma) : at(k), after(e), "");
            }
            if (depth == 1 && word(k, "generated") && word(next(k), "always") &&
                word(next(next(k)), "as") && word(next(next(next(k))), "row")) {
                size_t e = next(next(next(next(k))));
                const bool start = word(e, "start");
                if (word(next(e), "hidden")) e = next(e);
                edits.emplace_back(at(k), after(e),
                                   start ? "DEFAULT ('2000-01-01 00:00:00.0000000')"
                                         : "DEFAULT ('9999-12-31 23:59:59.9999999')");
                periods.emplace_back(column, start);
            }
            if (depth == 1 && punct(k, ",")) {
                lastComma = k;
                itemStart = next(k);
            }
            if (depth == 0) break;
        }
        if (k == toks.size()) continue;
        const size_t close = k;
        size_t end = after(close);
        bool memory = false;
        if (size_t w = next(close); word(w, "with") && punct(next(w), "(")) {
            size_t e = next(w);
            for (; e < toks.size() && !punct(e, ")"); e = next(e)) {
                if (word(e, "memory_optimized") && word(next(next(e)), "on")) memory = true;
            }
            if (e < toks.size()) {
                edits.emplace_back(after(close), after(e), "");
                end = after(e);
            }
        }
        if (memory) edits.emplace_back(at(close), at(close), " /*MEMORY_OPTIMIZED*/");
        std::string triggers;
        for (const auto& [name, start] : periods) {
            const std::string value =
                start ? "'2000-01-01 00:00:00.0000000'" : "'9999-12-31 23:59:59.9999999'";
            const std::string id = "[tds_period$" + bare + "$" + name + "]";
            triggers += "; CREATE TRIGGER " + id + " BEFORE UPDATE OF [" + name + "] ON " + table +
                        " BEGIN SELECT RAISE(ABORT, 'tds error 13536: Cannot update " +
                        "GENERATED ALWAYS columns in table " + bare + ".'); END";
            triggers += "; CREATE TRIGGER [tds_insert$" + bare + "$" + name +
                        "] BEFORE INSERT ON " + table + " WHEN NEW.[" + name + "] IS NOT " + value +
                        " BEGIN SELECT RAISE(ABORT, 'tds error 13536: Cannot insert an " +
                        "explicit value into a GENERATED ALWAYS column in table " + bare +
                        ".'); END";
        }
        if (!triggers.empty()) edits.emplace_back(end, end, triggers);
        i = close;
    }
    if (edits.empty()) return std::string(sql);
    std::sort(edits.begin(), edits.end(),
              [](const auto& x, const auto& y) { return std::get<0>(x) < std::get<0>(y); });
    std::string out;
    size_t from = 0;
    for (const auto& [start, stop, text] : edits) {
        if (start < from) continue;
        out.append(sql.substr(from, start - from));
        out += text;
        from = stop;
    }
    out.append(sql.substr(from));
    return out;
}

}  // namespace

// The columns named by a cast to a Unicode text of a given length.
std::map<std::string, std::string> castTypes(const std::vector<Tok>& toks) {
    std::map<std::string, std::string> out;
    for (size_t i = 0; i < toks.size(); ++i) {
        const std::optional<Conversion> c = readConversion(toks, i);
        if (!c || c->convert || c->typeArgs.size() != 1 || c->typeArgs[0] == "-1") continue;
        const std::string type = typeName(toks, *c);
        if (type != "nvarchar" && type != "nchar") continue;
        const size_t as = solidAfter(toks, c->close);
        const size_t alias = solidAfter(toks, as);
        if (!isWord(toks, as, "as") || alias >= toks.size() || !isIdent(toks[alias])) continue;
        out[toLower(toks[alias].value)] = type + "(" + c->typeArgs[0] + ")";
    }
    return out;
}

Rewritten rewriteTsql(std::string_view sql, const RewriteContext& context) {
    const std::string periods = withPeriodColumns(sql);
    const std::string collated = withColumnCollations(periods, context.caseInsensitive);
    sql = collated;
    std::vector<Tok> toks = tokenize(sql);
    const TableColumns columns = namedColumns(toks, context);
    Replacements replaced = conversions(toks, columns);
    Insertions inserted;
    binaryConcatenations(toks, replaced, inserted);
    varcharHashes(toks, inserted);
    ChecksumFields fields = checksumFields(toks, columns);
    rowHashes(toks, fields, replaced);
    fieldCalls(fields, replaced);
    Rewritten r;
    r.castTypes = castTypes(toks);
    std::string tail;
    // A statement's WITH, which a derived table's select may read from.
    std::string with;
    if (size_t first = solidAfter(toks, size_t(-1)); first < toks.size() &&
                                                     toks[first].kind == T::Word &&
                                                     equalsIgnoreCase(toks[first].text, "with")) {
        int depth = 0;
        for (size_t k = first; k < toks.size(); ++k) {
            if (isPunct(toks, k, "(")) ++depth;
            if (isPunct(toks, k, ")")) --depth;
            if (depth == 0 && toks[k].kind == T::Word && equalsIgnoreCase(toks[k].text, "select")) {
                with =
                    std::string(sql.substr(size_t(toks[first].text.data() - sql.data()),
                                           size_t(toks[k].text.data() - toks[first].text.data())));
                break;
            }
        }
    }
    rowLimits(toks, replaced, tail, r.refusal, r.derived, with);
    std::string lastWord;   // previous keyword-like word, lower case
    std::string lastWord2;  // the one before it
    auto next = [&](size_t i) {
        for (++i; i < toks.size() && toks[i].kind == T::Blank; ++i) {
        }
        return i;
    };
    for (size_t i = 0; i < toks.size(); ++i) {
        const Tok& t = toks[i];
        if (auto it = inserted.closes.find(i); it != inserted.closes.end()) r.sql += it->second;
        if (auto it = inserted.opens.find(i); it != inserted.opens.end()) r.sql += it->second;
        if (auto it = replaced.find(i); it != replaced.end()) {
            r.sql += it->second.second;
            i = it->second.first;
            lastWord.clear();
            continue;
        }
        if (t.kind == T::NString) {
            r.sql.append(t.text.substr(1));
            continue;
        }
        if (isPunct(toks, i, "+") && joinsText(toks, i)) {
            r.sql += "||";
            continue;
        }
        // 0x alone is an empty binary value.
        if (t.kind == T::Number && t.text.size() >= 2 && t.text[0] == '0' &&
            (t.text[1] == 'x' || t.text[1] == 'X')) {
            std::string hex(t.text.substr(2));
            if (hex.size() % 2) hex.insert(hex.begin(), '0');
            r.sql += "X'" + hex + "'";
            continue;
        }
        if (!isIdent(t)) {
            r.sql.append(t.text);
            // SQLite would read "1drop" as one bad token.
            if (t.kind == T::Number && i + 1 < toks.size() && toks[i + 1].kind != T::Blank &&
                toks[i + 1].kind != T::Punct)
                r.sql += ' ';
            continue;
        }
        std::string lower = toLower(t.value);
        if (t.kind == T::Word && lower == "@@trancount") {
            r.sql += std::string(kTranCountFunction) + "()";
            continue;
        }
        if (t.kind == T::Word && lower == "@@rowcount") {
            r.sql += std::string(kRowCountFunction) + "()";
            continue;
        }
        if (t.kind == T::Word && (lower == "@@textsize" || lower == "@@lock_timeout")) {
            r.sql += std::string(lower == "@@textsize" ? kTextSizeFunction : kLockTimeoutFunction) +
                     "()";
            continue;
        }
        if (t.kind == T::Word && lower == "@@rows_scanned") {
            r.sql += std::string(kRowsScannedFunction) + "()";
            continue;
        }
        // An explicit transaction takes the write lock at once: begun deferred,
        // a read inside it (the statements' own look-ups) would hold a snapshot
        // that another session's commit makes stale, and its first write would
        // fail at once instead of waiting its turn, as SQL Server's would.
        if (t.kind == T::Word && lower == "begin" && next(i) < toks.size() &&
            toks[next(i)].kind == T::Word &&
            (equalsIgnoreCase(toks[next(i)].text, "transaction") ||
             equalsIgnoreCase(toks[next(i)].text, "tran"))) {
            r.sql += "BEGIN IMMEDIATE";
            lastWord = lower;
            continue;
        }
        // CREATE [UNIQUE] [NON]CLUSTERED INDEX, PRIMARY KEY CLUSTERED: SQLite
        // has one kind of index.
        if (t.kind == T::Word && (lower == "clustered" || lower == "nonclustered") &&
            (lastWord == "create" || lastWord == "unique" || lastWord == "key")) {
            if (!r.sql.empty() && r.sql.back() == ' ' && next(i) < toks.size()) r.sql.pop_back();
            continue;
        }
        // COUNT_BIG is SQLite's count, whose integers are 64 bits already.
        if (t.kind == T::Word && lower == "count_big" && isPunct(toks, next(i), "(")) {
            r.sql += "count";
            continue;
        }
        // ISNULL is an operator to SQLite; its IFNULL is T-SQL's ISNULL.
        if (t.kind == T::Word && lower == "isnull" && isPunct(toks, next(i), "(")) {
            r.sql += "ifnull";
            continue;
        }
        // varchar(max) and friends: SQLite accepts only numbers there.
        if (t.kind == T::Word &&
            (lower == "varchar" || lower == "nvarchar" || lower == "varbinary")) {
            size_t a = next(i), b = next(a), c = next(b);
            if (c < toks.size() && toks[a].text == "(" && toks[b].kind == T::Word &&
                equalsIgnoreCase(toks[b].text, "max") && toks[c].text == ")") {
                r.sql.append(t.text);
                r.sql += "(-1)";
                i = c;
                lastWord = lower;
                continue;
            }
        }
        // SQL Server's collation names: the CI ones compare without case and
        // trailing blanks, the BIN2 ones by UTF-16 code unit, the others (CS,
        // BIN) as BINARY; SQLite's own names and this server's stay.
        if (t.kind == T::Word && lastWord == "collate") {
            const std::string marked = "_" + lower + "_";
            if (lower == "binary" || lower == "nocase" || lower == "rtrim" ||
                equalsIgnoreCase(lower, kDateTimeValueCollation) ||
                equalsIgnoreCase(lower, kUtf16CodeUnitCollation) ||
                equalsIgnoreCase(lower, kCaseInsensitiveCollation)) {
                r.sql.append(t.text);
            } else {
                if (marked.find("_ci_") != std::string::npos)
                    r.sql += kCaseInsensitiveCollation;
                else if (marked.size() >= 6 && marked.compare(marked.size() - 6, 6, "_bin2_") == 0)
                    r.sql += kUtf16CodeUnitCollation;
                else
                    r.sql += "BINARY";
                // The name as written, for sys.columns (a table's SQL keeps it).
                r.sql += " /*" + t.value + "*/";
            }
            lastWord2 = lastWord;
            lastWord = lower;
            continue;
        }
        if (t.kind == T::Word && lower == "tran" &&
            (lastWord == "begin" || lastWord == "commit" || lastWord == "rollback")) {
            r.sql += "TRANSACTION";
            lastWord = "transaction";
            continue;
        }
        // A dotted name chain: a.b, a.b.c, db..name; parts may be empty.
        bool afterDot = i > 0 && isDot(toks[i - 1]);
        std::vector<const Tok*> parts{&t};
        size_t j = i;
        while (!afterDot && j + 1 < toks.size() && isDot(toks[j + 1])) {
            if (j + 2 < toks.size() && isIdent(toks[j + 2])) {
                parts.push_back(&toks[j + 2]);
                j += 2;
            } else if (j + 2 < toks.size() && isDot(toks[j + 2])) {
                parts.push_back(nullptr);  // db..name
                j += 1;
            } else {
                break;
            }
        }
        if (parts.size() == 1 || afterDot || (parts.back() == nullptr)) {
            if (parts.size() == 1 && !afterDot && comparedWithNationalText(toks, i) &&
                narrowUnderSqlCollation(columns, t.value))
                r.sql += '+';
            // SQLite reads [name] but not the doubled "]]" inside it: requote.
            if (t.kind == T::QuotedId && t.text.front() == '[') {
                r.sql += quoteId(t.value);
            } else {
                r.sql.append(t.text);
            }
            if (t.kind == T::Word) {
                lastWord2 = lastWord;
                lastWord = lower;
            }
            continue;
        }
        auto value = [](const Tok* p) { return p ? p->value : std::string(); };
        std::vector<std::string> names;
        for (const Tok* p : parts) names.push_back(value(p));
        bool tableContext = kTableContext.count(lastWord) > 0;
        if (names.size() >= 3 &&
            (names[0].empty() || equalsIgnoreCase(names[0], context.database))) {
            names.erase(names.begin());
            if (names[0].empty()) names[0] = "dbo";
        }
        std::string written;
        for (size_t k = 0; k < names.size(); ++k) written += (k ? "." : "") + names[k];
        std::string out;
        std::string schema = toLower(names[0]);
        if (schema == "dbo" && names.size() >= 2) {
            out = quoteId(names[1]);
            r.writtenNames[toLower(names[1])] = names[0] + "." + names[1];
            for (size_t k = 2; k < names.size(); ++k) out += "." + quoteId(names[k]);
        } else if (names.size() >= 2 && !names[0].empty() &&
                   (context.schemas.count(schema) || (tableContext && names.size() == 2))) {
            std::string stored = names[0] + "." + names[1];
            out = quoteId(stored);
            r.writtenNames[toLower(stored)] = stored;
            for (size_t k = 2; k < names.size(); ++k) out += "." + quoteId(names[k]);
        } else {
            out = std::string(
                sql.substr(size_t(t.text.data() - sql.data()),
                           size_t(toks[j].text.data() + toks[j].text.size() - t.text.data())));
        }
        r.sql += out;
        i = j;
        lastWord = "";
    }
    if (auto it = inserted.closes.find(toks.size()); it != inserted.closes.end())
        r.sql += it->second;
    r.sql += tail;
    return r;
}

namespace {

// The non-blank tokens of a statement, one at a time; a failed match leaves
// the position where it was.
struct Cursor {
    std::string_view s;
    size_t i;

    Tok next() {
        while (i < s.size()) {
            Tok t = nextToken(s, i);
            if (t.kind != T::Blank) return t;
        }
        return {T::Blank, s.substr(s.size()), {}};
    }
    bool word(std::string_view w) {
        size_t at = i;
        Tok t = next();
        if (isIdent(t) && equalsIgnoreCase(t.value, w)) return true;
        i = at;
        return false;
    }
    bool punct(std::string_view p) {
        size_t at = i;
        Tok t = next();
        if (t.kind == T::Punct && t.text == p) return true;
        i = at;
        return false;
    }
};

// Words that would carry the statement on past its WHERE clause.
const std::set<std::string> kContinuations = {"and",   "or",     "group",     "order", "having",
                                              "union", "except", "intersect", "option"};

// Where a recognised statement ends, the cursor being after its last word:
// after its ';', at the end of the batch, or before the next statement's
// first word. Nothing when what follows would carry the statement on.
std::optional<size_t> statementEnd(Cursor c, bool whereContinues = false) {
    const size_t at = c.i;
    Tok after = c.next();
    if (after.kind == T::Punct && after.text == ";") return c.i;
    if (after.kind == T::Blank) return c.s.size();
    const std::string word = toLower(after.text);
    if (after.kind == T::Word && !kContinuations.count(word) &&
        !(whereContinues && word == "where"))
        return at;
    return std::nullopt;
}

// sys.<name>, also as the rewriting leaves it: "sys.<name>".
bool sysView(Cursor& c, std::string_view name) {
    const size_t at = c.i;
    if (c.word("sys." + std::string(name))) return true;
    c.i = at;
    if (c.word("sys") && c.punct(".") && c.word(name)) return true;
    c.i = at;
    return false;
}

// object_id(N'name') or object_id('name'): the name inside the string.
std::optional<std::string> objectIdCall(Cursor& c) {
    if (!(c.word("object_id") && c.punct("("))) return std::nullopt;
    Tok name = c.next();
    if (name.kind != T::String && name.kind != T::NString) return std::nullopt;
    std::string object = unquote(name.kind == T::NString ? name.text.substr(1) : name.text, '\'');
    if (!c.punct(")")) return std::nullopt;
    return object;
}

}  // namespace

std::optional<RowCountQuery> matchRowCountQuery(std::string_view sql, size_t from) {
    Cursor c{sql, from};
    if (!(c.word("select") && c.word("sum") && c.punct("(") && c.word("rows") && c.punct(")") &&
          c.word("from") && sysView(c, "partitions") && c.word("where")))
        return std::nullopt;
    std::optional<std::string> object;
    bool indexes = false;
    for (int condition = 0; condition < 2; ++condition) {
        if (condition == 1 && !c.word("and")) return std::nullopt;
        if (!object && c.word("object_id")) {
            if (!c.punct("=") || !(object = objectIdCall(c))) return std::nullopt;
        } else if (!indexes && c.word("index_id")) {
            // index_id in (0, 1): the heap or the clustered index, in either order.
            if (!(c.word("in") && c.punct("("))) return std::nullopt;
            std::set<std::string> ids;
            do {
                Tok id = c.next();
                if (id.kind != T::Number) return std::nullopt;
                ids.insert(std::string(id.text));
            } while (c.punct(","));
            if (!c.punct(")") || ids != std::set<std::string>{"0", "1"}) return std::nullopt;
            indexes = true;
        } else {
            return std::nullopt;
        }
    }
    std::optional<size_t> end = statementEnd(c);
    if (!end) return std::nullopt;
    return RowCountQuery{*object, *end};
}

std::optional<size_t> matchDatabaseListQuery(std::string_view sql, size_t from) {
    Cursor c{sql, from};
    if (!(c.word("select") && c.word("name") && c.word("from") && sysView(c, "databases")))
        return std::nullopt;
    return statementEnd(c, true);
}

namespace {

// select <columns> from sys.columns where object_id = object_id(N'...')
// order by column_id, with exactly these columns in this order.
std::optional<ColumnPropertiesQuery> matchSysColumnsQuery(
    std::string_view sql, size_t from, std::initializer_list<const char*> columns) {
    Cursor c{sql, from};
    if (!c.word("select")) return std::nullopt;
    bool first = true;
    for (const char* column : columns) {
        if (!(first || c.punct(",")) || !c.word(column)) return std::nullopt;
        first = false;
    }
    if (!(c.word("from") && sysView(c, "columns") && c.word("where") && c.word("object_id") &&
          c.punct("=")))
        return std::nullopt;
    std::optional<std::string> object = objectIdCall(c);
    if (!object || !(c.word("order") && c.word("by") && c.word("column_id"))) return std::nullopt;
    std::optional<size_t> end = statementEnd(c);
    if (!end) return std::nullopt;
    return ColumnPropertiesQuery{*object, *end};
}

}  // namespace

std::optional<ColumnPropertiesQuery> matchColumnPropertiesQuery(std::string_view sql, size_t from) {
    return matchSysColumnsQuery(
        sql, from, {"name", "is_identity", "is_computed", "system_type_id", "collation_name"});
}

std::optional<ColumnPropertiesQuery> matchColumnCollationsQuery(std::string_view sql, size_t from) {
    return matchSysColumnsQuery(sql, from, {"name", "collation_name", "scale"});
}

std::optional<ColumnPropertiesQuery> matchIndexColumnsQuery(std::string_view sql, size_t from) {
    Cursor c{sql, from};
    if (!c.word("select")) return std::nullopt;
    // The aliases, read where they are used first and checked where they are given.
    const size_t at = c.i;
    const Tok index = c.next();
    if (!isIdent(index) || !c.punct(".") || !c.word("is_unique") || !c.punct(",")) {
        return std::nullopt;
    }
    const Tok column = c.next();
    if (!isIdent(column)) return std::nullopt;
    c.i = at;
    auto of = [&](const Tok& alias, std::string_view name) {
        return c.word(alias.value) && c.punct(".") && c.word(name);
    };
    if (!(of(index, "is_unique") && c.punct(",") && of(column, "key_ordinal") && c.punct(",") &&
          c.word("col_name") && c.punct("(") && of(column, "object_id") && c.punct(",") &&
          of(column, "column_id") && c.punct(")") && c.word("from") && sysView(c, "indexes")))
        return std::nullopt;
    c.word("as");
    if (!(c.word(index.value) && c.word("join") && sysView(c, "index_columns"))) {
        return std::nullopt;
    }
    c.word("as");
    if (!(c.word(column.value) && c.word("on") && of(column, "object_id") && c.punct("=") &&
          of(index, "object_id") && c.word("and") && of(column, "index_id") && c.punct("=") &&
          of(index, "index_id") && c.word("where") && of(index, "object_id") && c.punct("=")))
        return std::nullopt;
    std::optional<std::string> object = objectIdCall(c);
    if (!object || !(c.word("and") && of(column, "key_ordinal") && c.punct(">"))) {
        return std::nullopt;
    }
    const Tok zero = c.next();
    if (zero.kind != T::Number || zero.text != "0") return std::nullopt;
    if (!(c.word("order") && c.word("by") && of(index, "index_id") && c.punct(",") &&
          of(column, "key_ordinal")))
        return std::nullopt;
    std::optional<size_t> end = statementEnd(c);
    if (!end) return std::nullopt;
    return ColumnPropertiesQuery{*object, *end};
}

namespace {

// A catalogue query of one fixed shape, its words, names and signs apart by
// blanks in `shape`: "@" stands for object_id(N'...'), "sys.X" for the view.
std::optional<ColumnPropertiesQuery> matchShape(std::string_view sql, size_t from,
                                                std::string_view shape) {
    Cursor c{sql, from};
    std::optional<std::string> object;
    size_t at = 0;
    while (at < shape.size()) {
        size_t end = shape.find(' ', at);
        if (end == std::string_view::npos) end = shape.size();
        const std::string_view part = shape.substr(at, end - at);
        at = end + 1;
        bool ok = false;
        if (part == "@") {
            object = objectIdCall(c);
            ok = object.has_value();
        } else if (part.substr(0, 4) == "sys.") {
            ok = sysView(c, part.substr(4));
        } else if (std::isalpha(uint8_t(part[0])) || part[0] == '_') {
            ok = c.word(part);
        } else if (std::isdigit(uint8_t(part[0]))) {
            const Tok t = c.next();
            ok = t.kind == T::Number && t.text == part;
        } else {
            ok = c.punct(part);
        }
        if (!ok) return std::nullopt;
    }
    std::optional<size_t> end = statementEnd(c);
    if (!object || !end) return std::nullopt;
    return ColumnPropertiesQuery{*object, *end};
}

}  // namespace

std::optional<CatalogueQuery> matchCatalogueQuery(std::string_view sql, size_t from) {
    static const std::pair<CatalogueQuery::Kind, const char*> kShapes[] = {
        {CatalogueQuery::Triggers,
         "select name from sys.triggers where parent_id = @ and is_disabled = 0 order by name"},
        {CatalogueQuery::ForeignKeys,
         "select name , object_schema_name ( parent_object_id ) , object_name ( "
         "parent_object_id ) , delete_referential_action , update_referential_action from "
         "sys.foreign_keys where referenced_object_id = @ order by name"},
        {CatalogueQuery::PeriodColumns,
         "select name from sys.columns where object_id = @ and generated_always_type < > 0 "
         "order by column_id"},
        {CatalogueQuery::MemoryOptimized,
         "select is_memory_optimized from sys.tables where object_id = @"},
    };
    for (const auto& [kind, shape] : kShapes) {
        if (std::optional<ColumnPropertiesQuery> q = matchShape(sql, from, shape))
            return CatalogueQuery{kind, q->objectName, q->end};
    }
    return std::nullopt;
}

std::map<std::string, std::string> columnCollations(std::string_view createTable) {
    std::map<std::string, std::string> out;
    const std::vector<Tok> toks = tokenize(createTable);
    size_t open = 0;
    while (open < toks.size() && !isPunct(toks, open, "(")) ++open;
    std::string column;  // the definition's column, empty for a constraint
    size_t item = 0;
    int depth = 0;
    for (size_t k = open + 1; k < toks.size(); ++k) {
        const Tok& t = toks[k];
        if (t.kind == T::Blank) continue;
        if (isPunct(toks, k, "(")) ++depth;
        if (isPunct(toks, k, ")") && depth-- == 0) break;
        if (depth > 0) continue;
        if (isPunct(toks, k, ",")) {
            item = 0;
            continue;
        }
        if (item++ == 0)
            column =
                isIdent(t) && !kTableConstraints.count(toLower(t.text)) ? toLower(t.value) : "";
        if (column.empty() || !isWord(toks, k, "collate")) continue;
        const size_t name = solidAfter(toks, k);
        if (name >= toks.size()) break;
        out[column] = toks[name].value.empty() ? std::string(toks[name].text) : toks[name].value;
        // The name as written, kept in a comment where the rewriting replaced it.
        for (size_t b = name + 1; b < toks.size() && toks[b].kind == T::Blank; ++b) {
            const std::string_view text = toks[b].text;
            if (text.substr(0, 2) == "/*" && text.size() >= 4)
                out[column] = std::string(text.substr(2, text.size() - 4));
        }
        k = name;
    }
    return out;
}

// Words that start a statement, which a condition cannot hold outside
// parentheses (ELSE can, in CASE).
const std::set<std::string> kStatementStarts = {
    "alter",     "begin",  "break",    "commit", "continue", "create", "declare", "delete",
    "drop",      "exec",   "execute",  "goto",   "if",       "insert", "merge",   "print",
    "raiserror", "return", "rollback", "save",   "select",   "set",    "throw",   "truncate",
    "update",    "use",    "waitfor",  "while",  "with"};

bool startsStatement(std::string_view sql, size_t at) {
    size_t end = at;
    while (end < sql.size() && std::isalpha(uint8_t(sql[end]))) ++end;
    return end > at && (kStatementStarts.count(toLower(sql.substr(at, end - at))) > 0);
}

std::optional<IfStatement> matchIf(std::string_view sql, size_t from) {
    Cursor c{sql, from};
    if (!c.word("if")) return std::nullopt;
    IfStatement r;
    r.conditionBegin = skipBlank(sql, c.i);
    int depth = 0;
    for (;;) {
        const size_t at = c.i;
        const Tok t = c.next();
        if (t.kind == T::Blank) return std::nullopt;  // the batch ends first
        if (t.kind == T::Punct && t.text == "(") {
            ++depth;
        } else if (t.kind == T::Punct && t.text == ")") {
            if (--depth < 0) return std::nullopt;
        } else if (depth == 0 && t.kind == T::Punct && t.text == ";") {
            return std::nullopt;
        } else if (depth == 0 && t.kind == T::Word && kStatementStarts.count(toLower(t.text))) {
            r.conditionEnd = at;
            r.statementBegin = size_t(t.text.data() - sql.data());
            if (r.conditionBegin >= r.statementBegin) return std::nullopt;  // no condition
            return r;
        }
    }
}

std::optional<size_t> matchNoRowsFilter(std::string_view sql) {
    std::vector<Tok> toks = tokenize(sql);
    size_t i = solidBefore(toks, toks.size());
    if (isPunct(toks, i, ";")) i = solidBefore(toks, i);
    for (const char* expected : {"0", "=", "1"}) {
        if (i >= toks.size() || toks[i].text != expected) return std::nullopt;
        i = solidBefore(toks, i);
    }
    if (i >= toks.size() || toks[i].kind != T::Word || !equalsIgnoreCase(toks[i].text, "where"))
        return std::nullopt;
    int depth = 0;
    for (size_t k = 0; k < i; ++k) depth += isPunct(toks, k, "(") - isPunct(toks, k, ")");
    if (depth != 0) return std::nullopt;
    return size_t(toks[i].text.data() - sql.data());
}

std::optional<std::string> storedNameOfObject(std::string_view name,
                                              const RewriteContext& context) {
    // Parts separated by dots, each [bracketed] (]] inside is ]), "quoted" or bare.
    std::vector<std::string> parts;
    size_t i = 0;
    auto blanks = [&] {
        while (i < name.size() && std::isspace(uint8_t(name[i]))) ++i;
    };
    for (;;) {
        blanks();
        std::string part;
        if (i < name.size() && (name[i] == '[' || name[i] == '"')) {
            char close = name[i] == '[' ? ']' : '"';
            bool closed = false;
            for (++i; i < name.size() && !closed; ++i) {
                if (name[i] != close) {
                    part += name[i];
                } else if (i + 1 < name.size() && name[i + 1] == close) {
                    part += close;
                    ++i;
                } else {
                    closed = true;
                }
            }
            if (!closed) return std::nullopt;
        } else {
            while (i < name.size() && name[i] != '.') part += name[i++];
            while (!part.empty() && std::isspace(uint8_t(part.back()))) part.pop_back();
        }
        parts.push_back(part);
        blanks();
        if (i == name.size()) break;
        if (name[i] != '.') return std::nullopt;
        ++i;
    }
    if (parts.size() > 3 || parts.back().empty()) return std::nullopt;
    if (parts.size() == 3) {
        if (!parts[0].empty() && !equalsIgnoreCase(parts[0], context.database)) return std::nullopt;
        parts.erase(parts.begin());
    }
    if (parts.size() == 1 || parts[0].empty() || equalsIgnoreCase(parts[0], "dbo"))
        return parts.back();
    return parts[0] + "." + parts[1];
}

std::pair<std::string, std::string> splitStoredName(std::string_view stored) {
    size_t dot = stored.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == stored.size())
        return {"dbo", std::string(stored)};
    return {std::string(stored.substr(0, dot)), std::string(stored.substr(dot + 1))};
}

size_t skipBlank(std::string_view sql, size_t from) {
    size_t i = from;
    while (i < sql.size()) {
        size_t at = i;
        if (nextToken(sql, i).kind != T::Blank) return at;
    }
    return sql.size();
}

std::vector<std::string> leadingWords(std::string_view sql, size_t from, size_t count) {
    std::vector<std::string> words;
    for (size_t i = from; i < sql.size() && words.size() < count;) {
        Tok t = nextToken(sql, i);
        if (t.kind == T::Blank) continue;
        if (t.kind != T::Word) break;
        words.push_back(toLower(t.text));
    }
    return words;
}

size_t lineStatementEnd(std::string_view sql, size_t from) {
    bool seenWord = false;
    for (size_t i = from; i < sql.size();) {
        size_t at = i;
        Tok t = nextToken(sql, i);
        if (t.kind == T::Punct && t.text == ";") return i;
        if (t.kind == T::Blank && seenWord && t.text.find('\n') != std::string_view::npos) {
            return at + t.text.find('\n') + 1;
        }
        if (t.kind != T::Blank) seenWord = true;
    }
    return sql.size();
}

bool likeMatch(std::string_view p, std::string_view s) {
    // Iterative matcher with backtracking to the last %.
    size_t pi = 0, si = 0, starP = std::string_view::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == '%') {
            starP = pi++;
            starS = si;
        } else if (pi < p.size() &&
                   (p[pi] == '_' || std::tolower(uint8_t(p[pi])) == std::tolower(uint8_t(s[si])))) {
            ++pi;
            ++si;
        } else if (starP != std::string_view::npos) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%') ++pi;
    return pi == p.size();
}

}  // namespace tds
