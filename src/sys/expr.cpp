// The expression evaluator: lexer, recursive-descent parser, folding,
// evaluation and the built-in table. Nodes come from the general heap, not
// the accounted allocator: a tree lives only from the end of an edit to its
// evaluation.
#include "sys/expr.h"

#include "sys/log.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

static double expr_add(double a, double b) { return a + b; }
static double expr_sub(double a, double b) { return a - b; }
static double expr_mul(double a, double b) { return a * b; }
static double expr_div(double a, double b) { return a / b; }
static double expr_mod(double a, double b) { return fmod(a, b); }
static double expr_pow(double a, double b) { return pow(a, b); }
static double expr_negate(double a) { return -a; }
static double expr_comma(double, double b) { return b; }
static double expr_e() { return 2.718281828459045; }
static double expr_pi() { return 3.141592653589793; }

// The combinatorial functions work on whole numbers in 32-bit unsigned
// range: a result that would pass 4294967295 is infinity.
constexpr double expr_u32max = 4294967295.0;

static double expr_fac(double a)
{
    if (!(a >= 0))
        return NAN;
    if (a > expr_u32max)
        return INFINITY;
    uint32_t n = (uint32_t)a;
    uint64_t product = 1;
    for (uint32_t i = 2; i <= n; i++) {
        product *= i;
        if (product > (uint64_t)expr_u32max)
            return INFINITY;
    }
    return (double)product;
}

static double expr_ncr(double n, double r)
{
    if (!(n >= 0) || !(r >= 0) || r > n)
        return NAN;
    if (n > expr_u32max || r > expr_u32max)
        return INFINITY;
    uint64_t whole = (uint32_t)n;
    uint64_t pick = (uint32_t)r;
    if (pick > whole / 2)
        pick = whole - pick;
    uint64_t result = 1;
    for (uint64_t i = 1; i <= pick; i++) {
        uint64_t next = result * (whole - pick + i); // both factors fit 32 bits
        if (next > (uint64_t)expr_u32max)
            return INFINITY;
        result = next / i;
    }
    return (double)result;
}

static double expr_npr(double n, double r)
{
    return expr_ncr(n, r) * expr_fac(r);
}

constexpr int32_t expr_f0 = expr_function | expr_pure;
constexpr int32_t expr_f1 = expr_function | expr_pure | 1;
constexpr int32_t expr_f2 = expr_function | expr_pure | 2;
constexpr int32_t expr_trig = expr_f1 | expr_degreesin;
constexpr int32_t expr_arctrig = expr_f1 | expr_degreesout;

constexpr expr_builtin expr_builtins[expr_builtincount] = {
    {"abs", {.f1 = [](double a) { return fabs(a); }}, expr_f1},
    {"acos", {.f1 = [](double a) { return acos(a); }}, expr_arctrig},
    {"asin", {.f1 = [](double a) { return asin(a); }}, expr_arctrig},
    {"atan", {.f1 = [](double a) { return atan(a); }}, expr_arctrig},
    {"atan2", {.f2 = [](double y, double x) { return atan2(y, x); }}, expr_f2 | expr_degreesout},
    {"ceil", {.f1 = [](double a) { return ceil(a); }}, expr_f1},
    {"cos", {.f1 = [](double a) { return cos(a); }}, expr_trig},
    {"cosh", {.f1 = [](double a) { return cosh(a); }}, expr_trig},
    {"e", {.f0 = expr_e}, expr_f0},
    {"exp", {.f1 = [](double a) { return exp(a); }}, expr_f1},
    {"fac", {.f1 = expr_fac}, expr_f1},
    {"floor", {.f1 = [](double a) { return floor(a); }}, expr_f1},
    {"ln", {.f1 = [](double a) { return log(a); }}, expr_f1},
    {"log", {.f1 = [](double a) { return log10(a); }}, expr_f1},
    {"log10", {.f1 = [](double a) { return log10(a); }}, expr_f1},
    {"ncr", {.f2 = expr_ncr}, expr_f2},
    {"npr", {.f2 = expr_npr}, expr_f2},
    {"pi", {.f0 = expr_pi}, expr_f0},
    {"pow", {.f2 = expr_pow}, expr_f2},
    {"sin", {.f1 = [](double a) { return sin(a); }}, expr_trig},
    {"sinh", {.f1 = [](double a) { return sinh(a); }}, expr_trig},
    {"sqrt", {.f1 = [](double a) { return sqrt(a); }}, expr_f1},
    {"tan", {.f1 = [](double a) { return tan(a); }}, expr_trig},
    {"tanh", {.f1 = [](double a) { return tanh(a); }}, expr_trig},
};

static constexpr bool expr_sorted()
{
    for (int i = 1; i < expr_builtincount; i++)
        if (std::string_view(expr_builtins[i - 1].name) >= std::string_view(expr_builtins[i].name))
            return false;
    return true;
}
static_assert(expr_sorted(), "the lexer bisects the built-in names");

// Token kinds of the lexer.
enum expr_tokens {
    expr_tokend,
    expr_tokerror,
    expr_toksep,
    expr_tokopen,
    expr_tokclose,
    expr_toknumber,
    expr_tokinfix,
    expr_tokfunction,
};

// One compilation's parser state.
struct expr_state {
    const char *start;
    const char *next;
    int token;
    double value;     // number token
    char op;          // infix token
    expr_fn function; // function token
    int32_t type;     // function token's node type
    int depth;
    int nodes;
};

static bool expr_isletter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static bool expr_isdigit(char c)
{
    return c >= '0' && c <= '9';
}

static const expr_builtin *expr_lookup(std::string_view name)
{
    int lo = 0, hi = expr_builtincount - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = name.compare(expr_builtins[mid].name);
        if (c == 0)
            return &expr_builtins[mid];
        if (c < 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    return nullptr;
}

static void expr_identifier(expr_state &s)
{
    const char *begin = s.next;
    while (expr_isletter(*s.next) || expr_isdigit(*s.next) || *s.next == '_')
        s.next++;
    const expr_builtin *b = expr_lookup(std::string_view(begin, s.next - begin));
    if (!b) {
        s.token = expr_tokerror;
        return;
    }
    s.token = expr_tokfunction;
    s.function = b->function;
    s.type = b->type;
}

// Reads the next token. After an error the state no longer moves, so the
// position tells where compilation stopped.
static void expr_nexttoken(expr_state &s)
{
    if (s.token == expr_tokerror)
        return;
    for (;;) {
        char c = *s.next;
        if (!c) {
            s.token = expr_tokend;
            return;
        }
        if (expr_isdigit(c) || c == '.') {
            char *after;
            s.value = strtod(s.next, &after);
            // A lone "." is no number; it is consumed so the error points at it.
            s.token = after == s.next ? expr_tokerror : expr_toknumber;
            s.next = after == s.next ? s.next + 1 : after;
            return;
        }
        if (expr_isletter(c)) {
            expr_identifier(s);
            return;
        }
        s.next++;
        switch (c) {
        case '+': case '-': case '*': case '/': case '%': case '^':
            s.token = expr_tokinfix;
            s.op = c;
            return;
        case '(': s.token = expr_tokopen; return;
        case ')': s.token = expr_tokclose; return;
        case ',': s.token = expr_toksep; return;
        case ' ': case '\t': case '\n': case '\r': continue;
        default: s.token = expr_tokerror; return;
        }
    }
}

static expr_fn expr_infix(char op)
{
    switch (op) {
    case '+': return {.f2 = expr_add};
    case '-': return {.f2 = expr_sub};
    case '*': return {.f2 = expr_mul};
    case '/': return {.f2 = expr_div};
    case '%': return {.f2 = expr_mod};
    default: return {.f2 = expr_pow};
    }
}

// A node with its arguments (arity from type). On failure the arguments are
// freed, the compilation fails and null is returned.
static expr_node *expr_make(expr_state &s, int32_t type, expr_fn function, expr_node *const *args)
{
    int arity = type & expr_aritymask;
    expr_node *n = nullptr;
    if (++s.nodes <= expr_maxnodes)
        n = (expr_node *)malloc(sizeof(expr_node) + arity * sizeof(expr_node *));
    else if (s.nodes == expr_maxnodes + 1)
        sys_log("expr_compile: expression has more than %d terms", expr_maxnodes);
    if (!n) {
        for (int i = 0; i < arity; i++)
            expr_free(args[i]);
        s.token = expr_tokerror;
        return nullptr;
    }
    n->type = type;
    n->function = function;
    for (int i = 0; i < arity; i++)
        n->args[i] = args[i];
    return n;
}

static expr_node *expr_constnode(expr_state &s, double value)
{
    expr_node *n = expr_make(s, expr_function, {}, nullptr);
    if (n) {
        n->type = expr_constant;
        n->value = value;
    }
    return n;
}

static expr_node *expr_binary(expr_state &s, expr_fn function, expr_node *left, expr_node *right)
{
    expr_node *args[2] = {left, right};
    return expr_make(s, expr_f2, function, args);
}

// The parser. Grammar, loosest first; every binary level is left-associative:
//   list       = expression { "," expression }
//   expression = term { ("+" | "-") term }
//   term       = factor { ("*" | "/" | "%") factor }
//   factor     = power { "^" power }
//   power      = { "+" | "-" } base      signs bind tighter than "^"
//   base       = number | name [ "(" ")" ] | name power | name "(" args ")"
//              | "(" list ")"
// The depth limit counts every base that recurses, and the node limit bounds
// the height of the left-leaning chains that loops build, so neither the
// parser nor the recursive walks over a tree can exhaust the stack.
static expr_node *expr_list(expr_state &s);
static expr_node *expr_expression(expr_state &s);
static expr_node *expr_power(expr_state &s);

// Arguments of a function of two or more: "(", exactly arity expressions
// separated by ",", ")".
static expr_node *expr_arguments(expr_state &s, int32_t type, expr_fn function)
{
    int arity = type & expr_aritymask;
    expr_node *args[expr_aritymask] = {};
    int got = 0;
    if (s.token == expr_tokopen) {
        do {
            expr_nexttoken(s);
            args[got++] = expr_expression(s);
        } while (got < arity && s.token == expr_toksep);
    }
    if (got == arity && s.token == expr_tokclose)
        expr_nexttoken(s);
    else
        s.token = expr_tokerror;
    return expr_make(s, type, function, args);
}

static expr_node *expr_call(expr_state &s)
{
    int32_t type = s.type;
    expr_fn function = s.function;
    expr_nexttoken(s);
    switch (type & expr_aritymask) {
    case 0:
        // e and pi may be written with an empty pair of parentheses.
        if (s.token == expr_tokopen) {
            expr_nexttoken(s);
            if (s.token == expr_tokclose)
                expr_nexttoken(s);
            else
                s.token = expr_tokerror;
        }
        return expr_make(s, type, function, nullptr);
    case 1: {
        // The argument is a power, so "sin 30^2" is (sin 30)^2.
        expr_node *arg = expr_power(s);
        return expr_make(s, type, function, &arg);
    }
    default:
        return expr_arguments(s, type, function);
    }
}

static expr_node *expr_base(expr_state &s)
{
    if (s.depth >= expr_maxdepth) {
        sys_log("expr_compile: expression nested deeper than %d levels", expr_maxdepth);
        s.token = expr_tokerror;
        return nullptr;
    }
    s.depth++;
    expr_node *n;
    switch (s.token) {
    case expr_toknumber:
        n = expr_constnode(s, s.value);
        expr_nexttoken(s);
        break;
    case expr_tokfunction:
        n = expr_call(s);
        break;
    case expr_tokopen:
        expr_nexttoken(s);
        n = expr_list(s);
        if (s.token == expr_tokclose)
            expr_nexttoken(s);
        else
            s.token = expr_tokerror;
        break;
    default:
        n = expr_constnode(s, NAN);
        s.token = expr_tokerror;
        break;
    }
    s.depth--;
    return n;
}

static expr_node *expr_power(expr_state &s)
{
    bool negative = false;
    while (s.token == expr_tokinfix && (s.op == '+' || s.op == '-')) {
        negative ^= s.op == '-';
        expr_nexttoken(s);
    }
    expr_node *base = expr_base(s);
    if (!negative)
        return base;
    return expr_make(s, expr_f1, {.f1 = expr_negate}, &base);
}

static expr_node *expr_factor(expr_state &s)
{
    expr_node *left = expr_power(s);
    while (s.token == expr_tokinfix && s.op == '^') {
        expr_nexttoken(s);
        left = expr_binary(s, expr_infix('^'), left, expr_power(s));
    }
    return left;
}

static expr_node *expr_term(expr_state &s)
{
    expr_node *left = expr_factor(s);
    while (s.token == expr_tokinfix && (s.op == '*' || s.op == '/' || s.op == '%')) {
        char op = s.op;
        expr_nexttoken(s);
        left = expr_binary(s, expr_infix(op), left, expr_factor(s));
    }
    return left;
}

static expr_node *expr_expression(expr_state &s)
{
    expr_node *left = expr_term(s);
    while (s.token == expr_tokinfix && (s.op == '+' || s.op == '-')) {
        char op = s.op;
        expr_nexttoken(s);
        left = expr_binary(s, expr_infix(op), left, expr_term(s));
    }
    return left;
}

static expr_node *expr_list(expr_state &s)
{
    expr_node *left = expr_expression(s);
    while (s.token == expr_toksep) {
        expr_nexttoken(s);
        left = expr_binary(s, {.f2 = expr_comma}, left, expr_expression(s));
    }
    return left;
}

expr_node *expr_compile(const char *text, int *error)
{
    expr_state s = {};
    s.start = s.next = text ? text : "";
    s.token = expr_tokend;
    expr_nexttoken(s);
    expr_node *root = expr_list(s);
    if (s.token != expr_tokend) {
        expr_free(root);
        if (error) {
            int consumed = (int)(s.next - s.start);
            *error = consumed < 1 ? 1 : consumed;
        }
        return nullptr;
    }
    expr_optimize(root);
    if (error)
        *error = 0;
    return root;
}

double expr_eval(const expr_node *n)
{
    if (!n)
        return NAN;
    if (n->type == expr_constant)
        return n->value;
    if (!(n->type & expr_function))
        return NAN;
    double argscale = n->type & expr_degreesin ? 0.017453292519943295 : 1.0;
    double resultscale = n->type & expr_degreesout ? 57.29577951308232 : 1.0;
    switch (n->type & expr_aritymask) {
    case 0:
        return n->function.f0();
    case 1:
        return n->function.f1(expr_eval(n->args[0]) * argscale) * resultscale;
    case 2: {
        double second = expr_eval(n->args[1]);
        double first = expr_eval(n->args[0]);
        return n->function.f2(first, second) * resultscale;
    }
    default:
        return NAN; // no built-in takes more than two arguments
    }
}

void expr_freeparams(expr_node *n)
{
    if (!n || n->type == expr_constant || !(n->type & expr_function))
        return;
    for (int i = 0; i < (n->type & expr_aritymask); i++) {
        expr_free(n->args[i]);
        n->args[i] = nullptr;
    }
}

void expr_free(expr_node *n)
{
    if (!n)
        return;
    expr_freeparams(n);
    free(n);
}

void expr_optimize(expr_node *n)
{
    if (!n || n->type == expr_constant || !(n->type & expr_pure))
        return;
    bool known = true;
    for (int i = 0; i < (n->type & expr_aritymask); i++) {
        expr_optimize(n->args[i]);
        known = known && n->args[i] && n->args[i]->type == expr_constant;
    }
    if (!known)
        return;
    double value = expr_eval(n);
    expr_freeparams(n);
    n->type = expr_constant;
    n->value = value;
}
