#include "transport/Expression.h"

#include <algorithm>
#include <cctype>

namespace norvane {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string folded(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = fold(c);
    return r;
}

bool startsNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (fold(s[i]) != fold(prefix[i]))
            return false;
    return true;
}

// Where a word keyword may end: where a term would end, or at a quote, so that
// like"*x*" still reads as a comparison.
bool endsWord(std::string_view rest, size_t len) {
    if (rest.size() == len)
        return true;
    const char c = rest[len];
    return isBlank(c) || c == '(' || c == ')' || c == '"';
}

struct Keyword {
    std::string_view text;
    TokType type;
    bool word;
};

// Tried in this order, so that "<=" wins over "<" and "!=" over "!".
constexpr Keyword kKeywords[] = {
    {"like", TokType::Like, true},  {"contains", TokType::Contains, true},
    {"not", TokType::Negate, true}, {"or", TokType::Or, true},
    {"||", TokType::Or, false},     {"and", TokType::And, true},
    {"&&", TokType::And, false},    {"<=", TokType::Lte, false},
    {">=", TokType::Gte, false},    {"!=", TokType::Ne, false},
    {"!", TokType::Negate, false},  {"<>", TokType::Ne, false},
    {"=", TokType::Equals, false},  {">", TokType::Gt, false},
    {"<", TokType::Lt, false},
};

// Reads a literal or a term from s[i]; a backslash takes the next character as it is.
size_t scanText(std::string_view s, size_t i, bool literal, std::string& out) {
    while (i < s.size()) {
        const char c = s[i];
        if (literal ? c == '"' : (isBlank(c) || c == '(' || c == ')'))
            return literal ? i + 1 : i;
        if (c == '\\' && ++i == s.size())
            break;
        out.push_back(s[i++]);
    }
    return i;
}

// A decimal integer at the start (leading white space and a sign allowed): whether one is
// there, and whether it is non-zero. Reading digits rather than converting keeps a value too
// large for an int from wrapping to zero.
bool leadingInteger(std::string_view v, bool& nonZero) {
    size_t i = 0;
    while (i < v.size() && std::isspace(static_cast<unsigned char>(v[i])))
        ++i;
    if (i < v.size() && (v[i] == '+' || v[i] == '-'))
        ++i;
    const size_t digits = i;
    nonZero = false;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        nonZero = nonZero || v[i] != '0';
    return i > digits;
}

bool isValue(TokType t) {
    return t == TokType::Literal || t == TokType::Term;
}
bool isBool(TokType t) {
    return t == TokType::True || t == TokType::False;
}
bool isLogical(TokType t) {
    return t == TokType::And || t == TokType::Or;
}
bool isComparison(TokType t) {
    switch (t) {
    case TokType::Like:
    case TokType::Equals:
    case TokType::Gt:
    case TokType::Lt:
    case TokType::Lte:
    case TokType::Gte:
    case TokType::Ne:
    case TokType::Contains:
        return true;
    default:
        return false;
    }
}

TokType boolType(bool b) {
    return b ? TokType::True : TokType::False;
}

std::string valueOf(const ExpressionToken& t, const ExpressionTermSource& src) {
    if (t.type != TokType::Term)
        return t.text;
    StringBuffer v;
    src.getTermValue(t.text, v);
    return std::move(v.str());
}

bool truthOf(const ExpressionToken& t, const ExpressionTermSource& src) {
    if (t.type == TokType::True)
        return true;
    if (t.type != TokType::Term)
        return false;
    const std::string v = valueOf(t, src);
    if (v.empty())
        return false;
    // An integer at the start decides; any other text is true.
    bool nonZero = false;
    return !leadingInteger(v, nonZero) || nonZero;
}

bool compare(const ExpressionToken& a, TokType op, const ExpressionToken& c,
             const ExpressionTermSource& src) {
    const std::string left = folded(valueOf(a, src));
    const std::string right = folded(valueOf(c, src));
    switch (op) {
    case TokType::Equals:
        return left == right;
    case TokType::Ne:
        return left != right;
    case TokType::Gt:
        return left > right;
    case TokType::Lt:
        return left < right;
    case TokType::Gte:
        return left >= right;
    case TokType::Lte:
        return left <= right;
    case TokType::Contains:
        return !left.empty() && !right.empty() && left.find(right) != std::string::npos;
    default: // Like
        if (c.type == TokType::Term || right.find_first_of("*?") == std::string::npos)
            return left == right;
        return Expression::wildcardMatch(left, right);
    }
}

// One reduction at the top of the stack; false when no further one is to be tried.
bool reduceOnce(std::vector<ExpressionToken>& st, const ExpressionTermSource& src) {
    const size_t n = st.size();
    if (n < 2)
        return false;
    ExpressionToken& c = st[n - 1];
    ExpressionToken& b = st[n - 2];
    if (n >= 3) {
        ExpressionToken& a = st[n - 3];
        if (a.type == TokType::LParen && c.type == TokType::RParen &&
            (isValue(b.type) || isBool(b.type))) {
            a = std::move(b);
            st.resize(n - 2);
            return true;
        }
        if (isBool(c.type) && isLogical(b.type) && isBool(a.type)) {
            const bool x = a.type == TokType::True;
            const bool y = c.type == TokType::True;
            a.type = boolType(b.type == TokType::And ? (x && y) : (x || y));
            st.resize(n - 2);
            return true;
        }
        if (isValue(c.type) && isComparison(b.type) && isValue(a.type)) {
            const bool r = compare(a, b.type, c, src);
            a.type = boolType(r);
            a.text.clear();
            st.resize(n - 2);
            return true;
        }
    }
    if (b.type == TokType::Negate && (isValue(c.type) || isBool(c.type))) {
        b.type = boolType(!truthOf(c, src));
        st.pop_back();
        return true;
    }
    if (b.type == TokType::LParen && c.type == TokType::RParen)
        st.resize(n - 2);
    return false;
}

} // namespace

void Expression::balanceParens(StringBuffer& text) {
    // Parentheses inside a quoted literal are text, not grouping: counting them would put a
    // stray "(" in front of Subject contains ":)" and make it false for every e-mail.
    long open = 0;
    long close = 0;
    const std::string_view s = text.view();
    bool inLiteral = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (inLiteral) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inLiteral = false;
        } else if (c == '"') {
            inLiteral = true;
        } else if (c == '\\') {
            ++i;
        } else if (c == '(') {
            ++open;
        } else if (c == ')') {
            ++close;
        }
    }
    if (open > close)
        text.append(std::string(static_cast<size_t>(open - close), ')'));
    else if (close > open)
        text.prepend(std::string(static_cast<size_t>(close - open), '('));
}

std::vector<ExpressionToken> Expression::tokenize(std::string_view s) {
    std::vector<ExpressionToken> out;
    size_t i = 0;
    while (i < s.size()) {
        if (isBlank(s[i])) {
            ++i;
            continue;
        }
        const std::string_view rest = s.substr(i);
        if (rest[0] == '(' || rest[0] == ')') {
            out.push_back({rest[0] == '(' ? TokType::LParen : TokType::RParen, {}});
            ++i;
            continue;
        }
        const auto kw =
            std::find_if(std::begin(kKeywords), std::end(kKeywords), [&](const Keyword& k) {
                return startsNoCase(rest, k.text) && (!k.word || endsWord(rest, k.text.size()));
            });
        if (kw != std::end(kKeywords)) {
            out.push_back({kw->type, {}});
            i += kw->text.size();
            continue;
        }
        ExpressionToken t;
        const bool literal = rest[0] == '"';
        t.type = literal ? TokType::Literal : TokType::Term;
        i = scanText(s, literal ? i + 1 : i, literal, t.text);
        out.push_back(std::move(t));
    }
    return out;
}

bool Expression::wildcardMatch(std::string_view text, std::string_view pattern) {
    const std::string t = folded(text);
    const std::string p = folded(pattern);
    size_t star = p.find('*');
    if (star == std::string::npos)
        return t == p;
    if (t.empty())
        return p.find_first_not_of('*') == std::string::npos;
    if (t.size() < star || t.compare(0, star, p, 0, star) != 0)
        return false;
    size_t pos = star;
    for (;;) {
        const size_t from = star + 1;
        const size_t next = p.find('*', from);
        const std::string_view piece = std::string_view(p).substr(from, next - from);
        if (next == std::string::npos) {
            // The piece after the last star must end what is left of the text.
            return piece.size() <= t.size() - pos &&
                   t.compare(t.size() - piece.size(), piece.size(), piece) == 0;
        }
        const size_t at = t.find(piece, pos);
        if (at == std::string::npos)
            return false;
        pos = at + piece.size();
        star = next;
    }
}

bool Expression::evaluate(const ExpressionTermSource& source) {
    balanceParens(text_);
    std::vector<ExpressionToken> stack;
    for (ExpressionToken& t : tokenize(text_.view())) {
        stack.push_back(std::move(t));
        while (reduceOnce(stack, source)) {
        }
    }
    return !stack.empty() && truthOf(stack.front(), source);
}

} // namespace norvane
