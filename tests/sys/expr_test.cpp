// The expression evaluator: precedence and associativity, every built-in,
// degree trigonometry, the combinatorial limits, folding, error positions and
// the limits on nesting and size.
#include "sys/expr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// Compiles, evaluates and frees; NaN with *error set when it does not compile.
double expr_run(const std::string &text, int *error)
{
    expr_node *root = expr_compile(text.c_str(), error);
    double value = expr_eval(root);
    expr_free(root);
    return value;
}

} // namespace

TEST(Expr, EvaluatesOperatorsAndEveryBuiltin)
{
    struct Case {
        const char *text;
        double value; // NaN and infinity are matched by kind
    };
    const Case cases[] = {
        {"2+3*4", 14},
        {"(2+3)*4", 20},
        {"2^3^2", 64},
        {"7%3", 1},
        {"10-4-3", 3},
        {"8/4/2", 1},
        {"-2^2", 4},
        {"--3", 3},
        {"+-+3", -3},
        {"2^-1", 0.5},
        {"1,2", 2},
        {" 1.5e3 \t+\r\n.5", 1500.5},
        {"1/0", INFINITY},
        {"0/0", NAN},
        {"abs(-3)", 3},
        {"acos(0)", 90},
        {"asin(1)", 90},
        {"atan(1)", 45},
        {"atan2(1,1)", 45},
        {"atan2(1,-1)", 135},
        {"ceil(1.2)", 2},
        {"cos(60)", 0.5},
        {"cosh(0)", 1},
        {"cosh(57.29577951308232)", 1.5430806348152437},
        {"e", 2.718281828459045},
        {"exp(1)", 2.718281828459045},
        {"fac(5)", 120},
        {"fac(12)", 479001600},
        {"fac(13)", INFINITY},
        {"fac(-1)", NAN},
        {"floor(-1.5)", -2},
        {"ln(e)", 1},
        {"log(1000)", 3},
        {"log10(100)", 2},
        {"ncr(5,2)", 10},
        {"ncr(5,3)", 10},
        {"ncr(2,5)", NAN},
        {"ncr(40,20)", INFINITY},
        {"npr(5,2)", 20},
        {"pi", 3.141592653589793},
        {"pi()", 3.141592653589793},
        {"pow(2,10)", 1024},
        {"sin(30)", 0.5},
        {"sin 30", 0.5},
        {"sin 30^2", 0.25},
        {"sinh(57.29577951308232)", 1.1752011936438014},
        {"sqrt(16)", 4},
        {"tan(45)", 1},
        {"tanh(57.29577951308232)", 0.7615941559557649},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        int error = -1;
        double v = expr_run(c.text, &error);
        EXPECT_EQ(error, 0);
        if (std::isnan(c.value))
            EXPECT_TRUE(std::isnan(v)) << v;
        else if (std::isinf(c.value))
            EXPECT_EQ(v, c.value);
        else
            EXPECT_DOUBLE_EQ(v, c.value);
    }
}

TEST(Expr, ErrorsReportTheCharactersConsumed)
{
    struct Case {
        const char *text;
        int position;
    };
    const Case cases[] = {
        {"", 1},
        {"$", 1},
        {"1+$", 3},
        {"2*", 2},
        {".", 1},
        {"1 2", 3},
        {"(1+2", 4},
        {"foo(1)", 3},
        {"Sin(30)", 3},
        {"pi(1)", 4},
        {"pow(2)", 6},
        {"pow(2,3,4)", 8},
        {"pow 2,3", 5},
        {"atan2(1;2)", 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        int error = 0;
        EXPECT_EQ(expr_compile(c.text, &error), nullptr);
        EXPECT_EQ(error, c.position);
    }
}

TEST(Expr, ConstantSubtreesFoldIntoOneNode)
{
    int error = -1;
    expr_node *root = expr_compile("2*(3+sin 90)", &error);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->type, expr_constant);
    EXPECT_DOUBLE_EQ(root->value, 8);
    expr_free(root);
    EXPECT_TRUE(std::isnan(expr_eval(nullptr)));
}

TEST(Expr, DeepOrHugeInputFailsInsteadOfOverflowing)
{
    struct Case {
        std::string text;
        bool compiles;
    };
    auto nested = [](int levels) { return std::string(levels, '(') + "1" + std::string(levels, ')'); };
    auto calls = [](int levels) {
        std::string t;
        for (int i = 0; i < levels; i++)
            t += "abs ";
        return t + "1";
    };
    auto sum = [](int terms) {
        std::string t = "1";
        for (int i = 1; i < terms; i++)
            t += "+1";
        return t;
    };
    const Case cases[] = {
        {nested(expr_maxdepth - 1), true},
        {nested(200000), false},
        {calls(expr_maxdepth - 1), true},
        {calls(expr_maxdepth + 1), false},
        {std::string(100000, '-') + "1", true},
        {sum(1000), true},
        {sum(100000), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.size());
        int error = -1;
        double v = expr_run(c.text, &error);
        EXPECT_EQ(error == 0, c.compiles);
        EXPECT_EQ(std::isnan(v), !c.compiles);
    }
}
