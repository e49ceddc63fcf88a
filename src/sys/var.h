// Named variables: a flat table of 256 slots that scripts set from tokens and
// the G-code output reads back as text. A text value may name other variables
// in square brackets; var_writevalue expands them, bounded by the caller's
// output capacity and a nesting limit. Nothing here is locked: registration,
// scripts and expansion run on one thread at a time.
#pragma once
#include <cstdint>

constexpr int var_max = 256;
constexpr int var_namemax = 32;   // bytes of a name, terminator included
constexpr int var_valuemax = 512; // bytes of a value
constexpr int var_errormax = 1024;
constexpr int var_maxdepth = 16;  // nested references one expansion may follow
constexpr int var_maxdecimals = 9; // decimals a formatted number shows at most

enum var_types : int32_t {
    var_none = 0, // cleared: an assignment failed
    var_text = 1,
    var_numbers = 2,
    var_address = 3,
};

struct var_variable {
    char name[var_namemax];
    int32_t type;
    // Text: length in bytes; numbers: values; address: components (4, or 5
    // with a port).
    int32_t count;
    union {
        char text[var_valuemax];
        float numbers[var_valuemax / 4];
        struct {
            uint8_t octets[4];
            uint16_t port;
        } address;
    };
};
static_assert(sizeof(var_variable) == var_namemax + 8 + var_valuemax);

extern var_variable var_variables[var_max];
extern int32_t var_count;               // slots in use, filled from slot 0
extern char var_errortext[var_errormax]; // the last expansion or script error
// Called after each bracketed reference has been written; null for none.
extern void (*var_expandhook)(int index);

// Creates the variable or finds the one of that name; either way its value
// becomes the text "null". -1 for a bad name or a full table.
int var_new(const char *name);
// Sets the variable from the tokenizer's current token; 1 on success, 0 with
// the variable cleared.
int var_parsetoken(int index);
// Formats a text value (cut to 511 characters).
void var_setf(int index, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Writes the value as text into out (capacity cap, always terminated when
// cap > 0), numbers rounded to decimals, references in text expanded.
// 1 on success; 0 with the reason in var_errortext.
int var_writevalue(int index, int decimals, char *out, int cap);
// Formats value into field (capacity cap) in the C locale's fixed point:
// decimals <= 0 rounds half up to an integer, more decimals round to that
// step (at most var_maxdecimals); trailing zeroes are dropped unless
// trailingzeroes is set. Never an exponent, never "-0".
void var_formatnumber(double value, int decimals, int trailingzeroes, char *field, int cap);
// Index of the variable with that name, or -1.
int var_find(const char *name);
