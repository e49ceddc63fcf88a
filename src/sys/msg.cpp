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

uint8_t *msg_buffer = nullptr;
int32_t msg_position = 0;
int32_t msg_capacity = 0;
int32_t msg_end = 0;
int msg_failed = 0;

int msg_alloc(int32_t size)
{
    msg_position = 0;
    msg_end = 0;
    msg_failed = 0;
    msg_capacity = 0;
    msg_buffer = size > 0 ? (uint8_t *)sys_malloc(size) : nullptr;
    if (!msg_buffer) {
        if (size <= 0)
            sys_log("msg_alloc: invalid size %d", size);
        return 0;
    }
    msg_capacity = size;
    return 1;
}

// The capacity that holds need bytes: the current one doubled at least once,
// or 0 when even the largest block could not hold them.
static int32_t msg_grownsize(int64_t need)
{
    int64_t cap = msg_capacity;
    do
        cap *= 2;
    while (cap < need);
    if (cap > INT32_MAX)
        cap = INT32_MAX;
    return need < cap ? (int32_t)cap : 0;
}

int msg_realloc(int32_t n)
{
    int64_t need = (int64_t)msg_position + n;
    if (need < msg_capacity)
        return 1;
    // A capacity of 0 is the reading state: there is no block of ours to grow.
    if (msg_capacity <= 0 || !msg_buffer) {
        sys_log("msg_realloc: no buffer is being written");
        return 0;
    }
    int32_t cap = msg_grownsize(need);
    uint8_t *block = cap ? (uint8_t *)sys_malloc(cap) : nullptr;
    if (!block) {
        sys_error("msg_realloc: failed to reallocate msg_buffer (%3.2fkb)", (cap ? cap : need) / 1024.0);
        return 0;
    }
    memcpy(block, msg_buffer, (size_t)msg_position);
    sys_free(msg_buffer);
    msg_buffer = block;
    msg_capacity = cap;
    sys_debuglog("msg_realloc: reallocated to %3.1fkb buffer", cap / 1024.0);
    return 1;
}

// Room for n bytes at the position, which moves past them; null when they
// cannot be stored. After a refused write nothing more is written, so the
// blob never holds a gap.
static uint8_t *msg_reserve(int32_t n)
{
    if (msg_failed || n < 0 || !msg_realloc(n)) {
        msg_failed = 1;
        return nullptr;
    }
    uint8_t *at = msg_buffer + msg_position;
    msg_position += n;
    return at;
}

int msg_write(const void *bytes, int32_t count)
{
    uint8_t *at = msg_reserve(count);
    if (!at)
        return 0;
    memcpy(at, bytes, (size_t)count);
    return 1;
}

int msg_writeint(int32_t value)
{
    uint8_t *at = msg_reserve(4);
    if (!at)
        return 0;
    for (int i = 0; i < 4; i++)
        at[i] = (uint8_t)((uint32_t)value >> (8 * i));
    return 1;
}

int msg_writeshort(int16_t value)
{
    uint8_t *at = msg_reserve(2);
    if (!at)
        return 0;
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)((uint16_t)value >> 8);
    return 1;
}

int msg_writefloat(float value)
{
    return msg_writeint(std::bit_cast<int32_t>(value));
}

int msg_writevec(const float v[3])
{
    return msg_writefloat(v[0]) && msg_writefloat(v[1]) && msg_writefloat(v[2]);
}

// Formats into a bounded buffer and appends the text, with its terminator
// when nul is set. Text that does not fit the buffer is refused whole.
static int msg_format(const char *caller, int nul, const char *format, va_list args)
{
    char text[msg_textmax];
    int len = vsnprintf(text, sizeof(text), format, args);
    if (len < 0 || len >= msg_textmax) {
        sys_log("%s: formatted text too long (%d characters)", caller, len);
        msg_failed = 1;
        return 0;
    }
    return msg_write(text, len + nul);
}

int msg_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int ok = msg_format("msg_printf", 1, format, args);
    va_end(args);
    return ok;
}

int msg_print(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int ok = msg_format("msg_print", 0, format, args);
    va_end(args);
    return ok;
}

void msg_readfrom(const void *blob, int32_t size)
{
    // The blob is only read: writers refuse to touch it while capacity is 0.
    msg_buffer = (uint8_t *)blob;
    msg_position = 0;
    msg_capacity = 0;
    msg_end = blob && size > 0 ? size : 0;
    msg_failed = 0;
}

// The next n bytes of the blob, or null once a read would pass its end;
// from then on every read fails, so a reader that goes on gets only zeros.
static const uint8_t *msg_take(int32_t n)
{
    if (!msg_failed && n >= 0 && (int64_t)msg_position + n <= msg_end) {
        const uint8_t *at = msg_buffer + msg_position;
        msg_position += n;
        return at;
    }
    if (!msg_failed)
        sys_log("msg_read: %d bytes at %d pass the end of a %d-byte blob", n, msg_position, msg_end);
    msg_failed = 1;
    msg_position = msg_end;
    return nullptr;
}

int msg_read(void *out, int32_t count)
{
    const uint8_t *at = msg_take(count);
    if (!at) {
        if (count > 0)
            memset(out, 0, (size_t)count);
        return 0;
    }
    memcpy(out, at, (size_t)count);
    return 1;
}

int32_t msg_readint()
{
    const uint8_t *at = msg_take(4);
    if (!at)
        return 0;
    return (int32_t)((uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24);
}

int16_t msg_readshort()
{
    const uint8_t *at = msg_take(2);
    if (!at)
        return 0;
    return (int16_t)(at[0] | at[1] << 8);
}

float msg_readfloat()
{
    return std::bit_cast<float>(msg_readint());
}

void msg_readvec(float out[3])
{
    for (int i = 0; i < 3; i++)
        out[i] = msg_readfloat();
}

int msg_readtext(char *out, int32_t cap)
{
    if (cap > 0)
        out[0] = 0;
    int32_t left = msg_failed ? 0 : msg_end - msg_position;
    const void *nul = left > 0 ? memchr(msg_buffer + msg_position, 0, (size_t)left) : nullptr;
    int32_t len = nul ? (int32_t)((const uint8_t *)nul - (msg_buffer + msg_position)) : left;
    if (!nul || len >= cap) {
        if (!msg_failed)
            sys_log("msg_readtext: no text of at most %d characters at %d", cap - 1, msg_position);
        msg_failed = 1;
        msg_position = msg_end;
        return 0;
    }
    memcpy(out, msg_take(len + 1), (size_t)len + 1);
    return 1;
}
