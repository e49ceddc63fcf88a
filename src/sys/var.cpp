// The variable table, assignment from tokens, formatted text values, and the
// writer that turns a value back into text. Expansion of "[Name]" references
// walks a chain of the variables being expanded, so a value that names itself
// (directly or through others) is reported instead of recursing, and every
// byte goes through one bounded writer that never passes the caller's buffer.
#include "sys/var.h"

#include "sys/log.h"
#include "sys/token.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

var_variable var_variables[var_max];
int32_t var_count = 0;
char var_errortext[var_errormax];
void (*var_expandhook)(int index) = nullptr;

int var_find(const char *name)
{
    for (int i = 0; i < var_count; i++)
        if (strcmp(var_variables[i].name, name) == 0)
            return i;
    return -1;
}

// A bracketed name is not terminated in its text, so it is compared with its
// length; a name longer than any variable's simply matches none.
static int var_findn(const char *name, int len)
{
    if (len >= var_namemax)
        return -1;
    // The terminator at len is checked first: a name of another length fails
    // on one byte, which keeps template expansion (a search per reference)
    // from measuring every name in the table.
    for (int i = 0; i < var_count; i++) {
        const char *v = var_variables[i].name;
        if (v[len] == 0 && v[0] == name[0] && memcmp(v, name, len) == 0)
            return i;
    }
    return -1;
}

int var_new(const char *name)
{
    if (strlen(name) > var_namemax - 1) {
        sys_error("var_new: \"%s\" must not exceed %d characters", name, var_namemax - 1);
        return -1;
    }
    if (var_count >= var_max) {
        sys_error("var_new: overflow creating \"%s\"", name);
        return -1;
    }
    token_next(name);
    if (token_kind != token_kindword || token_count == 0) {
        sys_error("var_new: \"%s\" is not a variable name", name);
        return -1;
    }
    int index = var_find(token_text);
    if (index < 0) {
        index = var_count++;
        snprintf(var_variables[index].name, var_namemax, "%.31s", token_text);
    }
    token_next("null");
    var_parsetoken(index);
    return index;
}

// len is the text's full length; text holds at least its first 511 bytes.
static void var_settext(var_variable &v, const char *text, int len, const char *caller)
{
    if (len > var_valuemax - 1) {
        sys_log("%s: value of \"%s\" cut from %d to %d characters", caller, v.name, len, var_valuemax - 1);
        len = var_valuemax - 1;
    }
    memcpy(v.text, text, len);
    v.text[len] = 0;
    v.type = var_text;
    v.count = len;
}

// A malformed address keeps no components, as the tokenizer left it, but
// the reason is logged rather than lost.
static void var_setaddress(var_variable &v)
{
    v.type = var_address;
    if (v.count < 4) {
        sys_log("var_parsetoken: \"%s\" has no address: %s", v.name, token_text);
        v.count = 0;
        memset(&v.address, 0, sizeof(v.address));
        return;
    }
    memcpy(v.address.octets, token_text, 4);
    memcpy(&v.address.port, token_text + 4, sizeof(v.address.port));
}

int var_parsetoken(int index)
{
    if (index == -1) {
        sys_error("var_parsetoken: null variable!");
        return 0;
    }
    if (index < 0 || index >= var_count) {
        sys_error("var_parsetoken: invalid variable index %d", index);
        return 0;
    }
    var_variable &v = var_variables[index];
    v.type = var_none;
    v.count = 0;
    v.text[0] = 0;
    if (token_count == -1) {
        sys_error("var_parsetoken: token parse error!");
        return 0;
    }
    v.count = token_count;
    char shown[1024];
    switch (token_kind) {
    case token_kindword:
    case token_kindpunct:
        var_settext(v, token_text, token_count, "var_parsetoken");
        sys_log("%s is \"%s\"", v.name, v.text);
        return 1;
    case token_kindnumber:
        v.type = var_numbers;
        v.count = v.count > token_vectormax ? token_vectormax : v.count;
        memcpy(v.numbers, token_values, sizeof(float) * v.count);
        var_writevalue(index, 3, shown, sizeof(shown));
        sys_log(v.count <= 1 ? "%s is %s" : "%s is '%s'", v.name, shown);
        return 1;
    case token_kindaddress:
        var_setaddress(v);
        var_writevalue(index, 0, shown, sizeof(shown));
        sys_log("%s is %s", v.name, shown);
        return 1;
    default:
        v.count = 0;
        sys_log("unrecognized value for variable \"%s\" (%s)", v.name, token_text);
        return 0;
    }
}

void var_setf(int index, const char *format, ...)
{
    if (index < 0 || index >= var_count) {
        sys_log("var_setf: invalid variable index %d", index);
        return;
    }
    // Formatted apart first: the arguments may name this variable's own text.
    char text[var_valuemax];
    va_list args;
    va_start(args, format);
    int len = vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    var_settext(var_variables[index], text, len < 0 ? 0 : len, "var_setf");
}

// The output of one var_writevalue call and the chain of variables whose
// text is being expanded, outermost first.
struct var_writer {
    char *out;
    int cap;
    int len;
    int chain[var_maxdepth];
    int depth;
};

static int var_fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
static int var_fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(var_errortext, sizeof(var_errortext), format, args);
    va_end(args);
    sys_log("var_writevalue: %s", var_errortext);
    return 0;
}

// Appends n bytes and keeps the output terminated; refuses a write that
// would not fit with its terminator.
static int var_put(var_writer &w, const char *s, int n)
{
    if (w.len + n >= w.cap)
        return var_fail("Expanded text exceeds %d characters.", w.cap - 1);
    memcpy(w.out + w.len, s, n);
    w.len += n;
    w.out[w.len] = 0;
    return 1;
}

// Decimals 0 round half up to an integer. More decimals snap the value to
// that step and print it in fixed point: an exponent ("1e-05", "1e+06") is
// something no machine controller reads, and six significant digits would
// cut the decimals of large coordinates. Without trailing zeroes the zeroes
// after the last significant decimal and a bare point are dropped; a value
// that rounds to zero never shows a minus sign.
void var_formatnumber(double value, int decimals, int trailingzeroes, char *field, int cap)
{
    if (cap < 1)
        return;
    if (decimals <= 0 || !std::isfinite(value)) {
        double r = std::isfinite(value) ? trunc(value + 0.5) : 0.0;
        if (fabs(r) < 2147483648.0)
            snprintf(field, cap, "%d", (int)r);
        else
            snprintf(field, cap, "%.0f", r);
        return;
    }
    if (decimals > var_maxdecimals)
        decimals = var_maxdecimals;
    double scale = pow(10.0, decimals);
    double steps = floor(value * scale + 0.5);
    if (steps == 0)
        steps = 0; // drops the sign of -0
    int len = snprintf(field, cap, "%.*f", decimals, steps / scale);
    if (trailingzeroes || len <= 0 || len >= cap)
        return;
    char *point = strchr(field, '.');
    if (!point)
        return;
    char *end = field + len;
    while (end > point + 1 && end[-1] == '0')
        end--;
    if (end == point + 1)
        end = point;
    *end = 0;
}

static int var_writenumbers(var_writer &w, const var_variable &v, int decimals)
{
    int count = v.count < var_valuemax / 4 ? v.count : var_valuemax / 4;
    for (int i = 0; i < count; i++) {
        char field[64];
        var_formatnumber(v.numbers[i], decimals, 0, field, sizeof(field));
        if ((i > 0 && !var_put(w, " ", 1)) || !var_put(w, field, (int)strlen(field)))
            return 0;
    }
    return 1;
}

static int var_writeaddress(var_writer &w, const var_variable &v)
{
    const uint8_t *o = v.address.octets;
    char field[32];
    if (v.count == 4)
        snprintf(field, sizeof(field), "%d.%d.%d.%d", o[0], o[1], o[2], o[3]);
    else if (v.count == 5)
        snprintf(field, sizeof(field), "%d.%d.%d.%d:%d", o[0], o[1], o[2], o[3], v.address.port);
    else
        return 1;
    return var_put(w, field, (int)strlen(field));
}

static int var_expand(var_writer &w, int index, int decimals);

// "[Name]" writes that variable's value and then calls the hook; returns the
// position after the "]", or null on failure.
static const char *var_writereference(var_writer &w, const char *p, const char *end, int decimals)
{
    const char *name = p + 1;
    const char *close = (const char *)memchr(name, ']', end - name);
    if (!close) {
        var_fail("Closing bracket ']' expected after variable name.");
        return nullptr;
    }
    int index = var_findn(name, (int)(close - name));
    if (index < 0) {
        var_fail("Unknown variable name \"%.*s\".", (int)(close - name), name);
        return nullptr;
    }
    if (!var_expand(w, index, decimals))
        return nullptr;
    if (var_expandhook)
        var_expandhook(index);
    return close + 1;
}

static int var_writetext(var_writer &w, const var_variable &v, int decimals)
{
    const char *p = v.text;
    const char *end = v.text + strnlen(v.text, var_valuemax);
    while (p < end) {
        if (*p == '[') {
            p = var_writereference(w, p, end, decimals);
            if (!p)
                return 0;
            continue;
        }
        if (*p != '\\') {
            if (!var_put(w, p++, 1))
                return 0;
            continue;
        }
        char next = p + 1 < end ? p[1] : 0;
        char c = next == '[' || next == ']' ? next : next == 'n' || next == 'N' ? '\n' : 0;
        if (!c)
            return var_fail("Unknown escape sequence \"\\%c\"", next);
        if (!var_put(w, &c, 1))
            return 0;
        p += 2;
    }
    return 1;
}

static int var_expand(var_writer &w, int index, int decimals)
{
    const var_variable &v = var_variables[index];
    for (int i = 0; i < w.depth; i++)
        if (w.chain[i] == index)
            return var_fail("Variable \"%s\" refers to itself.", v.name);
    if (w.depth == var_maxdepth)
        return var_fail("References nested deeper than %d levels at \"%s\".", var_maxdepth, v.name);
    w.chain[w.depth++] = index;
    int ok = 1;
    switch (v.type) {
    case var_numbers: ok = var_writenumbers(w, v, decimals); break;
    case var_address: ok = var_writeaddress(w, v); break;
    case var_text: ok = var_writetext(w, v, decimals); break;
    default: break;
    }
    w.depth--;
    return ok;
}

int var_writevalue(int index, int decimals, char *out, int cap)
{
    if (index == -1) {
        snprintf(var_errortext, sizeof(var_errortext), "var_writevalue: null var index!");
        sys_log("%s", var_errortext);
        return 0;
    }
    if (index < 0 || index >= var_count || !out || cap < 1)
        return var_fail("invalid variable index %d or output", index);
    var_writer w;
    w.out = out;
    w.cap = cap;
    w.len = 0;
    w.depth = 0;
    out[0] = 0;
    return var_expand(w, index, decimals);
}
