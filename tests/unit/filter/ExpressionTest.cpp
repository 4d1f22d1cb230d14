#include "transport/Expression.h"

#include "common/LogBase.h"
#include "email/Email2.h"

#include <gtest/gtest.h>

#include <map>

using namespace norvane;

namespace {

// Header values by name, compared without case as the e-mail does.
class Fields : public ExpressionTermSource {
public:
    explicit Fields(std::map<std::string, std::string> m) : m_(std::move(m)) {}
    void getTermValue(std::string_view name, StringBuffer& out) const override {
        for (const auto& [k, v] : m_)
            if (sb::equalsNoCase(k, name))
                out.append(v);
    }

private:
    std::map<std::string, std::string> m_;
};

const Fields kMail({{"Subject", "Monthly REPORT"},
                    {"From", "ann@example.test :)"},
                    {"Odd", "REP?RT"},
                    {"X-Priority", "10"},
                    {"Organization", "Acme"},
                    {"Notes", "yes"},
                    {"Pattern", "*report*"},
                    {"Quote", "say \"hi\""},
                    {"Zero", " 0"},
                    {"Hex", "0x10"},
                    {"Word", "abc"},
                    {"Neg", "-5"},
                    {"Big", "4294967296"}});

} // namespace

TEST(ExpressionTest, EvaluatesAsTheGrammarSays) {
    const struct {
        const char* expr;
        bool want;
    } cases[] = {
        {R"(Subject like "*report*")", true},
        {R"(Subject like "monthly*")", true},
        {R"(Subject like "*monthly")", false},
        {R"(Subject like "m*ly*rep*t")", true},
        {R"(Subject like "*rt*rt")", false},
        {R"(Subject like "rep?rt")", false},
        {R"(Odd like "rep?rt")", true},
        {R"(Subject like Pattern)", false}, // a term on the right compares for equality
        {R"(Subject like"*report*")", true},
        {R"(Cc = "")", true},
        {"Cc", false},
        {"not Cc", true},
        {R"(Cc contains "")", false},
        {R"(Subject contains "")", false},
        {R"(X-Priority > "2")", false},
        {R"(X-Priority < "2")", true},
        {R"(X-Priority >= "10")", true},
        {R"(X-Priority <= "1")", false},
        {R"(Subject <> "x")", true},
        {R"(Quote = "SAY \"HI\"")", true},
        {"From contains \":)\"", true}, // a parenthesis inside a literal is not grouping
        {R"((Subject contains "report")", true},
        {R"(Subject contains "report"))", true},
        {R"(subject LIKE "*REPORT*" AND NOT (from CONTAINS "spam"))", true},
        {R"(Subject != "a" && !(From = "b") || Zero)", true},
        // No precedence: (true or false) and false.
        {R"(Subject contains "report" or From contains "zz" and From contains "yy")", false},
        // not binds to the value alone; the comparison after it cannot reduce.
        {R"(not Subject = "x")", false},
        {R"(not (Subject = "x"))", true},
        {R"(Subject contains "report" and)", true},
        {R"(Subject="monthly report")", false}, // one term, naming no field
        {"", false},
        {" \t\r\n", false},
        {"()", false},
        {R"(Organization = "acme")", true},
        {"Notes", true},
        {"Zero", false},
        {"Hex", false},
        {"Word", true},
        {"Neg", true},
        {"Big", true},
    };
    for (const auto& c : cases) {
        Expression e(c.expr);
        EXPECT_EQ(e.evaluate(kMail), c.want) << c.expr;
    }
}

TEST(ExpressionTest, WordKeywordsNeedABoundary) {
    using T = TokType;
    const struct {
        const char* text;
        std::vector<TokType> want;
    } cases[] = {
        {"Organization notes android likes containsx",
         {T::Term, T::Term, T::Term, T::Term, T::Term}},
        {"not(x)", {T::Negate, T::LParen, T::Term, T::RParen}},
        {"a or\tb AND\"c\"", {T::Term, T::Or, T::Term, T::And, T::Literal}},
        {"a||b ||b !x == <>",
         {T::Term, T::Or, T::Term, T::Negate, T::Term, T::Equals, T::Equals, T::Ne}},
        {"\"unterminated (x", {T::Literal}},
    };
    for (const auto& c : cases) {
        std::vector<TokType> got;
        for (const auto& t : Expression::tokenize(c.text))
            got.push_back(t.type);
        EXPECT_EQ(got, c.want) << c.text;
    }
    EXPECT_EQ(Expression::tokenize(R"(a\ b "x\"y)")[0].text, "a b");
    EXPECT_EQ(Expression::tokenize(R"(a\ b "x\"y)")[1].text, "x\"y");
}

TEST(ExpressionTest, BalancesParenthesesOutsideLiterals) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"((a", "((a))"},
        {"a))", "((a))"},
        {"a = \")(\"", "a = \")(\""},
    };
    for (const auto& c : cases) {
        StringBuffer t(c.in);
        Expression::balanceParens(t);
        EXPECT_EQ(t.str(), c.out) << c.in;
    }
}

TEST(ExpressionTest, EmailGivesHeaderFieldsAndTheFirstLeafBody) {
    const char* mime = "From: ann@example.test\r\n"
                       "Subject: Quarterly figures\r\n"
                       "MIME-Version: 1.0\r\n"
                       "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
                       "--outer\r\n"
                       "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n"
                       "--inner\r\nContent-Type: text/plain\r\n\r\nplain words\r\n"
                       "--inner\r\nContent-Type: text/html\r\n\r\n<p>html words</p>\r\n"
                       "--inner--\r\n"
                       "--outer\r\nContent-Type: text/plain; name=\"a.txt\"\r\n"
                       "Content-Disposition: attachment; filename=\"a.txt\"\r\n\r\n"
                       "attached words\r\n"
                       "--outer--\r\n";
    LogNull log;
    const auto email = Email2::fromMime(mime, log);
    const struct {
        const char* expr;
        bool want;
    } cases[] = {
        {R"(BODY contains "plain words")", true},
        {R"(body contains "html words")", false},
        {R"(body contains "attached words")", false},
        {R"(subject like "quarterly*" and FROM = "ANN@example.test")", true},
        {R"(X-Missing = "")", true},
    };
    for (const auto& c : cases) {
        Expression e(c.expr);
        EXPECT_EQ(e.evaluate(*email), c.want) << c.expr;
    }
}
