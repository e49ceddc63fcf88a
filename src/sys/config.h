// The configuration record: one fixed 30,432-byte little-endian record that
// every subsystem reads and writes through typed accessors at fixed offsets.
// The file "config.dat" is the raw record.
#pragma once
#include <cstdint>

constexpr int cfg_size = 30432;
constexpr uint32_t cfg_magicvalue = 0x5A17C3E9;

// Field offsets.
enum cfg_field : int {
    cfg_magic = 0,
    cfg_windowx = 8,
    cfg_windowy = 12,
    cfg_windowwidth = 16,
    cfg_windowheight = 20,
    cfg_windowmaximised = 24,
    cfg_debuginfo = 752,
};

extern uint8_t cfg[cfg_size];

int32_t cfg_geti(int offset);
void cfg_seti(int offset, int32_t value);
float cfg_getf(int offset);
void cfg_setf(int offset, float value);

// Builds cfg from the built-in defaults.
void config_init();
