// The tokenizer: words, quoted strings, hexadecimal and decimal numbers,
// vectors between apostrophes, @addresses with an optional port, "//"
// comments and punctuation. Every token is cut to the state's fixed sizes, so
// no input length writes past token_text or token_values.
#include "sys/token.h"

#include "sys/log.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

int32_t token_kind = 0;
int32_t token_count = 0;
char token_text[token_textmax];
float token_values[token_vectormax];
int32_t token_int = 0;
int32_t token_isfloat = 0;
int32_t token_line = 0;
int32_t token_comments = 1;
const char token_punctuation[] = "!@#$%^&*()-_=+[{]}|\\;:'\",<.>?/~`";

static bool token_isletter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

static bool token_isdigit(char c)
{
    return c >= '0' && c <= '9';
}

static int token_hexvalue(char c)
{
    if (token_isdigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal number starts with a digit, or with "-" or "." before a digit.
static bool token_startsnumber(const char *p)
{
    return token_isdigit(p[0]) || ((p[0] == '-' || p[0] == '.') && token_isdigit(p[1]));
}

void token_error(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(token_text, sizeof(token_text), format, args);
    va_end(args);
}

// Passes one line end at p (CR, LF, CR LF or LF CR) and counts it.
static const char *token_lineend(const char *p)
{
    char first = *p++;
    if ((*p == '\r' || *p == '\n') && *p != first)
        p++;
    token_line++;
    return p;
}

const char *token_skipblank(const char *p)
{
    for (;;) {
        if (*p == ' ' || *p == '\t')
            p++;
        else if (*p == '\r' || *p == '\n')
            p = token_lineend(p);
        else
            return p;
    }
}

// Copies one character into token_text unless it is full; returns the new
// length. Long words and strings are cut rather than refused so the scan
// still ends where the token ends.
static int token_put(int n, char c)
{
    if (n < token_textmax - 1)
        token_text[n++] = c;
    return n;
}

static void token_endtext(int n, const char *start, const char *end, const char *what)
{
    token_text[n] = 0;
    token_count = n;
    if (end - start > n)
        sys_log("token_next: %s of %d characters cut to %d (line:%d)", what, (int)(end - start), n,
                token_line);
}

static const char *token_word(const char *p)
{
    const char *start = p;
    int n = 0;
    while (token_isletter(*p) || token_isdigit(*p) || *p == '+' || *p == '-' || *p == '.' || *p == '_')
        n = token_put(n, *p++);
    token_kind = token_kindword;
    token_endtext(n, start, p, "word");
    return p;
}

// A string runs to the next double quote, line ends included; it has no
// escapes. An unterminated string leaves the whole error message in
// token_text so the script's error box can show it.
static const char *token_string(const char *p)
{
    const char *open = p++;
    const char *start = p;
    int n = 0;
    while (*p && *p != '"')
        n = token_put(n, *p++);
    if (!*p) {
        token_error("Expected double-quote ending string: \"%s\"", open);
        token_count = -1;
        token_kind = token_kinderror;
        return p;
    }
    token_kind = token_kindword;
    token_endtext(n, start, p, "string");
    return p + 1;
}

// After "0x": the value accumulates in 32 bits, so more than eight digits
// keep the low bits.
static const char *token_hex(const char *p)
{
    uint32_t v = 0;
    for (p += 2; token_hexvalue(*p) >= 0; p++)
        v = v * 16 + (uint32_t)token_hexvalue(*p);
    token_kind = token_kindnumber;
    token_count = 1;
    token_int = (int32_t)v;
    token_values[0] = (float)v;
    return p;
}

static const char *token_vector(const char *p)
{
    token_kind = token_kindnumber;
    for (;;) {
        const char *bad = nullptr;
        if (!token_startsnumber(p))
            bad = "Bad vector format.";
        else if (token_count == token_vectormax)
            bad = "Vector holds more than 4 values.";
        if (bad) {
            token_error("%s", bad);
            token_count = -1;
            token_kind = token_kinderror;
            return p;
        }
        p = token_number(p, &token_values[token_count++]);
        p = token_skipblank(p);
        if (*p == '\'')
            return p + 1;
    }
}

// The optional ":port" after a complete address; the port goes into the
// 16-bit field after the octets and counts as a fifth component.
static const char *token_port(const char *p)
{
    if (*p != ':') {
        token_count = 4;
        return p;
    }
    p++;
    if (!token_isdigit(*p)) {
        token_error("Numeric port number expected, encountered: '%c'", *p);
        token_count = -1;
        token_kind = token_kinderror;
        return p;
    }
    int port = 0;
    for (; token_isdigit(*p); p++)
        port = port > 65535 ? port : port * 10 + (*p - '0');
    if (port > 65535) {
        token_error("Port number exceeds 65535.");
        token_count = -1;
        token_kind = token_kinderror;
        return p;
    }
    uint16_t field = (uint16_t)port;
    memcpy(token_text + 4, &field, sizeof(field));
    token_count = 5;
    return p;
}

// "@" and four dotted octets. An octet above 255 makes the address invalid
// instead of wrapping into a different host.
static const char *token_address(const char *p)
{
    const char *at = p++;
    int octets[4] = {0, 0, 0, 0};
    int dots = 0;
    token_kind = token_kindaddress;
    for (;; p++) {
        if (token_isdigit(*p)) {
            int &o = octets[dots];
            o = o > 255 ? o : o * 10 + (*p - '0');
        } else if (*p == '.') {
            token_count = ++dots;
            if (dots == 4) {
                token_error("Address has too many octets.");
                token_count = 0;
                return p + 1;
            }
        } else {
            break;
        }
    }
    bool inrange = octets[0] < 256 && octets[1] < 256 && octets[2] < 256 && octets[3] < 256;
    if (dots != 3 || octets[3] == 0 || !inrange) {
        token_error("Invalid address format: \"%s\"", at);
        token_count = 0;
        return p;
    }
    for (int i = 0; i < 4; i++)
        token_text[i] = (char)octets[i];
    memset(token_text + 4, 0, 2);
    return token_port(p);
}

static const char *token_comment(const char *p)
{
    while (*p && *p != '\r' && *p != '\n')
        p++;
    return *p ? token_lineend(p) : p;
}

const char *token_next(const char *p)
{
    for (;;) {
        p = token_skipblank(p);
        token_kind = token_kindend;
        token_count = 0;
        char c = *p;
        if (token_isletter(c))
            return token_word(p);
        if (c == '"')
            return token_string(p);
        if (c == '0' && p[1] == 'x' && token_hexvalue(p[2]) >= 0)
            return token_hex(p);
        if (token_startsnumber(p)) {
            token_kind = token_kindnumber;
            token_count = 1;
            return token_number(p, &token_values[0]);
        }
        if (c == '\'' && token_startsnumber(p + 1))
            return token_vector(p + 1);
        if (c == '@' && token_isdigit(p[1]))
            return token_address(p);
        if (c == '/' && p[1] == '/' && token_comments) {
            p = token_comment(p);
            continue;
        }
        if (!c)
            return p;
        if (strchr(token_punctuation, c)) {
            token_kind = token_kindpunct;
            token_count = 1;
            token_text[0] = c;
            token_text[1] = 0;
            return p + 1;
        }
        // The message also goes into token_text so a caller's report names
        // the character.
        token_kind = token_kinderror;
        token_error("unknown token char \"%c\" (line:%d)", c, token_line);
        sys_log("%s", token_text);
        return p;
    }
}

// Applies an exponent written e+N or e-N (either case of e); an "e" without
// a sign is not part of the number.
static const char *token_exponent(const char *p, float *v)
{
    if (!((*p == 'e' || *p == 'E') && (p[1] == '+' || p[1] == '-') && token_isdigit(p[2])))
        return p;
    bool negative = p[1] == '-';
    int n = 0;
    for (p += 2; token_isdigit(*p); p++)
        n = n > 100000 ? n : n * 10 + (*p - '0');
    float scale = (float)(negative ? pow((double)0.1f, n) : pow(10.0, n));
    // Zero stays zero even when the scale overflowed to infinity.
    if (*v != 0)
        *v *= scale;
    return p;
}

const char *token_number(const char *p, float *dest)
{
    float sign = 1;
    if (*p == '-') {
        sign = -1;
        p++;
    }
    double whole = 0; // kept apart from token_int so long numbers keep their value
    float v = 0;
    float f = 0.1f;
    bool dot = false;
    for (;; p++) {
        if (token_isdigit(*p) && !dot) {
            whole = whole * 10 + (*p - '0');
            v = (float)whole;
        } else if (token_isdigit(*p)) {
            v += (float)(*p - '0') * f;
            f = (float)(f * 0.1);
        } else if (*p == '.') {
            dot = true;
        } else {
            break;
        }
    }
    p = token_exponent(p, &v);
    token_int = (int32_t)(whole > 2147483647.0 ? 2147483647.0 : whole) * (int32_t)sign;
    token_isfloat = dot;
    *dest = v * sign;
    return p;
}
