#pragma once

// Filter expressions over an e-mail: comparisons of header fields or the body with quoted
// literals, combined with and/or/not and parentheses, for example
//     Subject like "*invoice*" and not (From contains "spam")
// Evaluation is a tokenizer and a shift/reduce loop over a token stack. There is no operator
// precedence: and/or combine strictly left to right, and "not" binds to the single value or
// result that follows it. Nothing is ever reported: a malformed expression yields the truth
// value of the bottom stack entry (false for an empty one). Alphabetic keywords (like,
// contains, not, or, and) are keywords only as whole words, so "Organization" and "notes"
// stay field names. Time is linear in the text; there is no recursion.

#include "common/StringBuffer.h"
#include "email/ExpressionTermSource.h"

#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// Token type codes.
enum class TokType : int {
    False = 0,
    True = 1,
    Negate = 3,
    And = 4,
    Or = 5,
    Like = 6,
    Equals = 7,
    Gt = 8,
    Lt = 9,
    Lte = 10,
    Gte = 11,
    Ne = 12,
    Literal = 13,
    Term = 14,
    LParen = 15,
    RParen = 16,
    Contains = 17,
};

struct ExpressionToken {
    TokType type = TokType::False;
    // The literal's text or the term's name; empty for operators and for results.
    std::string text;
};

class Expression {
public:
    explicit Expression(std::string_view text) : text_(text) {}

    // True when the e-mail (or any other term source) satisfies the expression. Rewrites the
    // text with balanced parentheses first.
    [[nodiscard]] bool evaluate(const ExpressionTermSource& source);

    [[nodiscard]] const StringBuffer& text() const { return text_; }

    // Exposed for tests: the balancing step and the token list of a text.
    static void balanceParens(StringBuffer& text);
    [[nodiscard]] static std::vector<ExpressionToken> tokenize(std::string_view text);

    // Case-insensitive wildcard match in which only "*" is special; the first occurrence of
    // each piece between stars is taken (no backtracking).
    [[nodiscard]] static bool wildcardMatch(std::string_view text, std::string_view pattern);

private:
    StringBuffer text_;
};

} // namespace norvane
