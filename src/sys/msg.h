// The message buffer: the one global serialisation buffer. Writers append
// little-endian fields to a growing block; readers take them back in the same
// order from a blob of known length. Every read is bounded: a read past the
// blob's end yields zeros and sets msg_failed, which a deserialiser checks
// before it trusts what it read. One serialisation at a time, no lock.
#pragma once
#include <cstdint>

constexpr int32_t msg_defaultsize = 1048576;
constexpr int msg_textmax = 1024; // formatted text, terminator included

extern uint8_t *msg_buffer;    // block being written or blob being read
extern int32_t msg_position;   // offset of the next byte
extern int32_t msg_capacity;   // block size while writing; 0 while reading
extern int32_t msg_end;        // blob length while reading; 0 while writing
extern int msg_failed;         // set by a refused write or an overrun read

// Writing. msg_alloc starts a new block (1, or 0 with msg_buffer null); the
// owner takes msg_buffer/msg_position as the blob and frees it with sys_free.
// Writers return 1, or 0 (setting msg_failed) when the bytes cannot be stored.
int msg_alloc(int32_t size = msg_defaultsize);
int msg_realloc(int32_t n);
int msg_write(const void *bytes, int32_t count);
int msg_writeint(int32_t value);
int msg_writeshort(int16_t value);
int msg_writefloat(float value);
int msg_writevec(const float v[3]);
int msg_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int msg_print(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Reading. msg_readfrom points the buffer at a blob (which stays its
// owner's) and clears msg_failed.
void msg_readfrom(const void *blob, int32_t size);
int msg_read(void *out, int32_t count);
int32_t msg_readint();
int16_t msg_readshort();
float msg_readfloat();
void msg_readvec(float out[3]);
// Reads a text written by msg_printf into out (capacity cap); a text without
// a terminator inside the blob, or one longer than cap - 1, fails and leaves
// out empty.
int msg_readtext(char *out, int32_t cap);
