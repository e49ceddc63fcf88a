// The tool library as a file: export, import and clear of the 23,552-byte
// block of the configuration that holds the 256 library tools. The block
// has no header, so an import checks what it can (length, tool types,
// finite lengths and angles) before anything is copied. The File and Config
// menus and the tools panel all call these; there is no other copy.
#pragma once
#include "sys/config.h"

#include <cstdint>

constexpr int32_t toollib_bytes = cfg_toollibend - cfg_toollib;
static_assert(toollib_bytes == 23552, "a tool-library file is the block byte for byte");
// Larger files are no tool library of ours; they are refused unread.
constexpr int32_t toollib_maxfile = 16 * 1048576;

// Asks for a ".ktl" path and writes the block there through a temporary
// file. 1 when written; 0 when cancelled or the write failed (logged).
int toollib_export();
// Asks for a file and whether to overwrite the library, then takes the
// file. 1 when the library was replaced.
int toollib_import();
// Checks a file's bytes and copies the first 23,552 over the library, each
// name ended at its 64th byte. 0 with the reason in the status line and the
// library unchanged.
int toollib_take(const uint8_t *bytes, int32_t size, const char *path);
// Asks, then copies the built-in library over the configured one and saves
// the configuration. 1 when cleared.
int toollib_clear();
