// The expression evaluator behind every numeric text field: a text is
// compiled into a tree of nodes, constant subtrees are folded, and the tree
// is evaluated in double precision with angles in degrees. There are no user
// variables; names are the built-in functions and constants below.
#pragma once
#include <cstdint>

// Node type bits. A constant is exactly expr_constant; every other node is
// a function whose low three bits give its arity.
enum expr_flags : int32_t {
    expr_constant = 1,
    expr_aritymask = 7,
    expr_function = 8,
    expr_pure = 32,       // may be folded when its arguments are constants
    expr_degreesin = 64,  // the argument is in degrees
    expr_degreesout = 128, // the result is in degrees
};

constexpr int expr_maxdepth = 64;   // nested parentheses, calls and arguments
constexpr int expr_maxnodes = 4096; // nodes of one tree, which bounds its height

union expr_fn {
    double (*f0)();
    double (*f1)(double);
    double (*f2)(double, double);
};

// Allocated with room for exactly its arguments.
struct expr_node {
    int32_t type;
    union {
        double value;
        expr_fn function;
    };
    expr_node *args[];
};

struct expr_builtin {
    const char *name;
    expr_fn function;
    int32_t type;
};

constexpr int expr_builtincount = 24;
// Sorted by name: the lexer finds names by bisection.
extern const expr_builtin expr_builtins[expr_builtincount];

// The folded tree, or null with *error set to the number of characters
// consumed when compilation stopped (at least 1); *error is 0 on success.
expr_node *expr_compile(const char *text, int *error);
// A missing node evaluates to NaN.
double expr_eval(const expr_node *node);
void expr_free(expr_node *node);
// Frees only the argument subtrees of a function node.
void expr_freeparams(expr_node *node);
// Folds pure subtrees whose arguments are all constants into constants.
void expr_optimize(expr_node *node);
