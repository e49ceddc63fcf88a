// The tool library: export, import and clear of the 23,552-byte block of
// the configuration that holds the 256 library tools, and dialog 16 that
// loads a slot into a project tool or saves one into a slot. The block has
// no header, so an import checks what it can (length, tool types, finite
// lengths and angles) before anything is copied. The File and Config menus
// and the tools panel all call these; there is no other copy.
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

// One library slot as its fields; type negative for a metric tool, 0 empty.
struct toollib_slot {
    char name[cfg_toolnamesize];
    int32_t type, flutes;
    float length, flutediameter, flutelength, value, rampangle;
};
toollib_slot toollib_read(int slot);
void toollib_write(int slot, const toollib_slot &s);

// Dialog 16: loads a library slot into a project tool, or saves one there.
enum toollib_mode { toollib_loadmode = 1, toollib_savemode = 2 };
struct toollib_dialogstate {
    int32_t mode;   // toollib_mode
    int32_t column; // sort column: 1 slot, 2 type, 3 diameter, 4 flute length
    int32_t sign;   // +1, or -1 reversed
    float scroll;   // 0..1 over the positions 0..247 of the first row
    int32_t target; // project tool 1..10
};
extern toollib_dialogstate toollib_state;
// Element ids: the members at toollib_id plus their place; a row's slot
// button at toollib_rowid + 3 x its position, its moves up and down after it.
constexpr int32_t toollib_id = 12100;
constexpr int32_t toollib_rowid = 12120;
enum { toollib_info, toollib_column, toollib_scroll = toollib_column + 4, toollib_pgup, toollib_pgdown, toollib_cancel };
constexpr int toollib_rows = 10;
// Opens dialog 16 in the mode for project tool target.
void toollib_open(int mode, int target);
// The dialog's actions; each returns 1 when it changed something.
int toollib_sort(int column);
int toollib_loadslot(int slot);
int toollib_saveslot(int slot);
// The first library position shown, int(247 x scroll + 0.5).
int toollib_firstrow();
// Scrolls nine rows up (-1) or down (+1), within 0..1.
void toollib_page(int direction);
const char *toollib_title();
void toollib_dialog();
