// The message buffer: serialisation streams. Writers append little-endian
// fields to a growing block; readers take them back in the same order from a
// blob of known length. Every read is bounded: a read past the blob's end
// yields zeros and sets the failed flag, which a deserialiser checks before
// it trusts what it read. A stream has no lock: one user at a time, so work
// on another thread uses an instance of its own.
#pragma once
#include <cstdint>

constexpr int32_t msg_defaultsize = 1048576;
constexpr int msg_textmax = 1024; // formatted text, terminator included

// One serialisation in progress: a block being written or a blob being
// read. Jobs that serialise off the main thread keep an instance of their
// own; the global interface below works on msg_main.
struct msg_stream {
    uint8_t *buffer = nullptr; // block being written or blob being read
    int32_t position = 0;      // offset of the next byte
    int32_t capacity = 0;      // block size while writing; 0 while reading
    int32_t end = 0;           // blob length while reading; 0 while writing
    int failed = 0;            // set by a refused write or an overrun read
};

extern msg_stream msg_main;
inline uint8_t *&msg_buffer = msg_main.buffer;
inline int32_t &msg_position = msg_main.position;
inline int32_t &msg_capacity = msg_main.capacity;
inline int32_t &msg_end = msg_main.end;
inline int &msg_failed = msg_main.failed;

// Writing. msg_alloc starts a new block (1, or 0 with the buffer null); the
// owner takes buffer/position as the blob and frees it with sys_free.
// Writers return 1, or 0 (setting failed) when the bytes cannot be stored.
int msg_alloc(msg_stream *m, int32_t size = msg_defaultsize);
int msg_realloc(msg_stream *m, int32_t n);
int msg_write(msg_stream *m, const void *bytes, int32_t count);
int msg_writeint(msg_stream *m, int32_t value);
int msg_writeshort(msg_stream *m, int16_t value);
int msg_writefloat(msg_stream *m, float value);
int msg_writevec(msg_stream *m, const float v[3]);
int msg_printf(msg_stream *m, const char *format, ...) __attribute__((format(printf, 2, 3)));
int msg_print(msg_stream *m, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Reading. msg_readfrom points the stream at a blob (which stays its
// owner's) and clears failed.
void msg_readfrom(msg_stream *m, const void *blob, int32_t size);
int msg_read(msg_stream *m, void *out, int32_t count);
int32_t msg_readint(msg_stream *m);
int16_t msg_readshort(msg_stream *m);
float msg_readfloat(msg_stream *m);
void msg_readvec(msg_stream *m, float out[3]);
// Reads a text written by msg_printf into out (capacity cap); a text without
// a terminator inside the blob, or one longer than cap - 1, fails and leaves
// out empty.
int msg_readtext(msg_stream *m, char *out, int32_t cap);

// The same on the global stream msg_main, for the main thread's
// serialisations.
int msg_alloc(int32_t size = msg_defaultsize);
int msg_realloc(int32_t n);
int msg_write(const void *bytes, int32_t count);
int msg_writeint(int32_t value);
int msg_writeshort(int16_t value);
int msg_writefloat(float value);
int msg_writevec(const float v[3]);
int msg_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int msg_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
void msg_readfrom(const void *blob, int32_t size);
int msg_read(void *out, int32_t count);
int32_t msg_readint();
int16_t msg_readshort();
float msg_readfloat();
void msg_readvec(float out[3]);
int msg_readtext(char *out, int32_t cap);
