// The one scanner behind every plain-text format the program reads: scripts,
// variable names, tutorials and imported text files. token_next reads one
// token from a position in a NUL-terminated text and leaves what it found in
// the global state below. The state is shared and unlocked: one thread scans
// at a time, and a caller reads a token before it scans the next.
#pragma once
#include <cstdint>

constexpr int token_textmax = 4096; // bytes of token_text, terminator included
constexpr int token_vectormax = 4;  // values of one vector

// token_kind values.
enum token_kinds : int {
    token_kinderror = -1,
    token_kindend = 0,
    token_kindword = 1,   // word or quoted string
    token_kindnumber = 2, // number or vector
    token_kindaddress = 3,
    token_kindpunct = 5,
};

// Word or string: its length; number: 1; vector: its values; address: the
// components read (4 complete, 5 with a port); punctuation: 1; -1 after most
// errors.
extern int32_t token_kind;
extern int32_t token_count;
// Word or string text; the punctuation character; an address as four octets
// and a 16-bit port; after an error, the error message.
extern char token_text[token_textmax];
extern float token_values[token_vectormax];
extern int32_t token_int;     // integer part of the last decimal number, or a hex value
extern int32_t token_isfloat; // 1 when the last decimal number had a decimal point
extern int32_t token_line;    // raised by every line end the scanner passes
extern int32_t token_comments; // nonzero: "//" starts a comment (the default)
extern const char token_punctuation[];

// Skips blank space and comments, reads one token and returns the position
// after it. At an unknown character the kind is -1 and the position returned
// is that character's, so the caller must stop rather than call again.
const char *token_next(const char *pos);
// Reads one decimal number (optional "-", digits, ".", digits, an exponent
// written e+N or e-N) into *dest and returns the position after it.
const char *token_number(const char *pos, float *dest);
// Passes spaces, tabs and line ends (CR, LF, CR LF or LF CR, each counted
// once in token_line) and returns the first other position.
const char *token_skipblank(const char *pos);
// Formats an error message into token_text.
void token_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
