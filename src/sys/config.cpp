// The configuration record and its accessors. Values are stored
// little-endian byte for byte, as the file holds them.
#include "sys/config.h"

#include <cstring>

uint8_t cfg[cfg_size];

int32_t cfg_geti(int offset)
{
    int32_t v;
    memcpy(&v, cfg + offset, sizeof(v));
    return v;
}

void cfg_seti(int offset, int32_t value)
{
    memcpy(cfg + offset, &value, sizeof(value));
}

float cfg_getf(int offset)
{
    float v;
    memcpy(&v, cfg + offset, sizeof(v));
    return v;
}

void cfg_setf(int offset, float value)
{
    memcpy(cfg + offset, &value, sizeof(value));
}

void config_init()
{
    memset(cfg, 0, sizeof(cfg));
    cfg_seti(cfg_magic, (int32_t)cfg_magicvalue);
    cfg_seti(cfg_windowx, 20);
    cfg_seti(cfg_windowy, 20);
    cfg_seti(cfg_windowwidth, 800);
    cfg_seti(cfg_windowheight, 600);
    cfg_seti(cfg_windowmaximised, 1);
}
