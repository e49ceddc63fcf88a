// The message buffer: growth by doubling, the field writers and the bounded
// readers. Fields are stored little-endian byte by byte, so blobs read the
// same on any host.
#include "sys/msg.h"

#include "sys/log.h"
#include "sys/mem.h"

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>

msg_stream msg_main;

int msg_alloc(msg_stream *m, int32_t size)
{
    m->position = 0;
    m->end = 0;
    m->failed = 0;
    m->capacity = 0;
    m->buffer = size > 0 ? (uint8_t *)sys_malloc(size) : nullptr;
    if (!m->buffer) {
        if (size <= 0)
            sys_log("msg_alloc: invalid size %d", size);
        return 0;
    }
    m->capacity = size;
    return 1;
}

// The capacity that holds need bytes: the current one doubled at least once,
// or 0 when even the largest block could not hold them.
static int32_t msg_grownsize(const msg_stream *m, int64_t need)
{
    int64_t cap = m->capacity;
    do
        cap *= 2;
    while (cap < need);
    if (cap > INT32_MAX)
        cap = INT32_MAX;
    return need < cap ? (int32_t)cap : 0;
}

int msg_realloc(msg_stream *m, int32_t n)
{
    int64_t need = (int64_t)m->position + n;
    if (need < m->capacity)
        return 1;
    // A capacity of 0 is the reading state: there is no block of ours to grow.
    if (m->capacity <= 0 || !m->buffer) {
        sys_log("msg_realloc: no buffer is being written");
        return 0;
    }
    int32_t cap = msg_grownsize(m, need);
    uint8_t *block = cap ? (uint8_t *)sys_malloc(cap) : nullptr;
    if (!block) {
        sys_error("msg_realloc: failed to reallocate msg_buffer (%3.2fkb)", (cap ? cap : need) / 1024.0);
        return 0;
    }
    memcpy(block, m->buffer, (size_t)m->position);
    sys_free(m->buffer);
    m->buffer = block;
    m->capacity = cap;
    sys_debuglog("msg_realloc: reallocated to %3.1fkb buffer", cap / 1024.0);
    return 1;
}

// Room for n bytes at the position, which moves past them; null when they
// cannot be stored. After a refused write nothing more is written, so the
// blob never holds a gap.
static uint8_t *msg_reserve(msg_stream *m, int32_t n)
{
    if (m->failed || n < 0 || !msg_realloc(m, n)) {
        m->failed = 1;
        return nullptr;
    }
    uint8_t *at = m->buffer + m->position;
    m->position += n;
    return at;
}

int msg_write(msg_stream *m, const void *bytes, int32_t count)
{
    uint8_t *at = msg_reserve(m, count);
    if (!at)
        return 0;
    memcpy(at, bytes, (size_t)count);
    return 1;
}

int msg_writeint(msg_stream *m, int32_t value)
{
    uint8_t *at = msg_reserve(m, 4);
    if (!at)
        return 0;
    for (int i = 0; i < 4; i++)
        at[i] = (uint8_t)((uint32_t)value >> (8 * i));
    return 1;
}

int msg_writeshort(msg_stream *m, int16_t value)
{
    uint8_t *at = msg_reserve(m, 2);
    if (!at)
        return 0;
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)((uint16_t)value >> 8);
    return 1;
}

int msg_writefloat(msg_stream *m, float value)
{
    return msg_writeint(m, std::bit_cast<int32_t>(value));
}

int msg_writevec(msg_stream *m, const float v[3])
{
    return msg_writefloat(m, v[0]) && msg_writefloat(m, v[1]) && msg_writefloat(m, v[2]);
}

// Formats into a bounded buffer and appends the text, with its terminator
// when nul is set. Text that does not fit the buffer is refused whole.
static int msg_format(msg_stream *m, const char *caller, int nul, const char *format, va_list args)
{
    char text[msg_textmax];
    int len = vsnprintf(text, sizeof(text), format, args);
    if (len < 0 || len >= msg_textmax) {
        sys_log("%s: formatted text too long (%d characters)", caller, len);
        m->failed = 1;
        return 0;
    }
    return msg_write(m, text, len + nul);
}

int msg_printf(msg_stream *m, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int ok = msg_format(m, "msg_printf", 1, format, args);
    va_end(args);
    return ok;
}

int msg_print(msg_stream *m, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int ok = msg_format(m, "msg_print", 0, format, args);
    va_end(args);
    return ok;
}

void msg_readfrom(msg_stream *m, const void *blob, int32_t size)
{
    // The blob is only read: writers refuse to touch it while capacity is 0.
    m->buffer = (uint8_t *)blob;
    m->position = 0;
    m->capacity = 0;
    m->end = blob && size > 0 ? size : 0;
    m->failed = 0;
}

// The next n bytes of the blob, or null once a read would pass its end;
// from then on every read fails, so a reader that goes on gets only zeros.
static const uint8_t *msg_take(msg_stream *m, int32_t n)
{
    if (!m->failed && n >= 0 && (int64_t)m->position + n <= m->end) {
        const uint8_t *at = m->buffer + m->position;
        m->position += n;
        return at;
    }
    if (!m->failed)
        sys_log("msg_read: %d bytes at %d pass the end of a %d-byte blob", n, m->position, m->end);
    m->failed = 1;
    m->position = m->end;
    return nullptr;
}

int msg_read(msg_stream *m, void *out, int32_t count)
{
    const uint8_t *at = msg_take(m, count);
    if (!at) {
        if (count > 0)
            memset(out, 0, (size_t)count);
        return 0;
    }
    memcpy(out, at, (size_t)count);
    return 1;
}

int32_t msg_readint(msg_stream *m)
{
    const uint8_t *at = msg_take(m, 4);
    if (!at)
        return 0;
    return (int32_t)((uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24);
}

int16_t msg_readshort(msg_stream *m)
{
    const uint8_t *at = msg_take(m, 2);
    if (!at)
        return 0;
    return (int16_t)(at[0] | at[1] << 8);
}

float msg_readfloat(msg_stream *m)
{
    return std::bit_cast<float>(msg_readint(m));
}

void msg_readvec(msg_stream *m, float out[3])
{
    for (int i = 0; i < 3; i++)
        out[i] = msg_readfloat(m);
}

int msg_readtext(msg_stream *m, char *out, int32_t cap)
{
    if (cap > 0)
        out[0] = 0;
    int32_t left = m->failed ? 0 : m->end - m->position;
    const void *nul = left > 0 ? memchr(m->buffer + m->position, 0, (size_t)left) : nullptr;
    int32_t len = nul ? (int32_t)((const uint8_t *)nul - (m->buffer + m->position)) : left;
    if (!nul || len >= cap) {
        if (!m->failed)
            sys_log("msg_readtext: no text of at most %d characters at %d", cap - 1, m->position);
        m->failed = 1;
        m->position = m->end;
        return 0;
    }
    memcpy(out, msg_take(m, len + 1), (size_t)len + 1);
    return 1;
}

// The global interface: the same calls on msg_main.
int msg_alloc(int32_t size) { return msg_alloc(&msg_main, size); }
int msg_realloc(int32_t n) { return msg_realloc(&msg_main, n); }
int msg_write(const void *bytes, int32_t count) { return msg_write(&msg_main, bytes, count); }
int msg_writeint(int32_t value) { return msg_writeint(&msg_main, value); }
int msg_writeshort(int16_t value) { return msg_writeshort(&msg_main, value); }
int msg_writefloat(float value) { return msg_writefloat(&msg_main, value); }
int msg_writevec(const float v[3]) { return msg_writevec(&msg_main, v); }
void msg_readfrom(const void *blob, int32_t size) { msg_readfrom(&msg_main, blob, size); }
int msg_read(void *out, int32_t count) { return msg_read(&msg_main, out, count); }
int32_t msg_readint() { return msg_readint(&msg_main); }
int16_t msg_readshort() { return msg_readshort(&msg_main); }
float msg_readfloat() { return msg_readfloat(&msg_main); }
void msg_readvec(float out[3]) { msg_readvec(&msg_main, out); }
int msg_readtext(char *out, int32_t cap) { return msg_readtext(&msg_main, out, cap); }

int msg_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int ok = msg_format(&msg_main, "msg_printf", 1, format, args);
    va_end(args);
    return ok;
}

int msg_print(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int ok = msg_format(&msg_main, "msg_print", 0, format, args);
    va_end(args);
    return ok;
}
