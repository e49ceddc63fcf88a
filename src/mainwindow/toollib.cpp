// Tool-library export, import and clear. The file is the configuration's
// block as it is; the checks of an import are the only guard against a
// foreign file, so every field that later code divides by, indexes with or
// draws is looked at before the block is copied.
#include "mainwindow/toollib.h"

#include "gui/calls.h"
#include "sys/dialog.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cmath>
#include <cstring>

static const char toollib_filter[] = "Kerfmill Tool Library\0*.ktl\0";

// Offsets inside the block, after the 256 names.
constexpr int32_t toollib_types = cfg_toolvalues - cfg_toollib;
constexpr int32_t toollib_floats = toollib_types + 2 * 4 * cfg_toolcount; // lengths and angles
constexpr int32_t toollib_floatarrays = 5;
static_assert(toollib_floats + toollib_floatarrays * 4 * cfg_toolcount == toollib_bytes);

static void toollib_keeppath(const char *path)
{
    if (!cfg_settext(cfg_toollibpath, path))
        sys_log("toollib_keeppath: path too long to keep (%s)", path);
}

int toollib_export()
{
    if (!file_savedialog("Export Tool Library", cfg_gettext(cfg_toollibpath), toollib_filter, "ktl"))
        return 0;
    const char *path = file_lastsavepath;
    if (!file_writeall(path, cfg + cfg_toollib, toollib_bytes)) {
        sys_status("...tool library not exported: could not write \"%s\"", path);
        return 0;
    }
    toollib_keeppath(path);
    sys_status("...exported tool library");
    return 1;
}

static int32_t toollib_word(const uint8_t *block, int32_t offset)
{
    int32_t v;
    memcpy(&v, block + offset, 4);
    return v;
}

static float toollib_float(const uint8_t *block, int32_t offset)
{
    float v;
    memcpy(&v, block + offset, 4);
    return v;
}

// Why the block cannot be a tool library, or null when it can.
static const char *toollib_fault(const uint8_t *block, int32_t *slot)
{
    for (int32_t i = 0; i < cfg_toolcount; i++) {
        *slot = i + 1;
        int32_t type = toollib_word(block, toollib_types + 4 * i);
        if (type < -4 || type > 4)
            return "a tool type outside -4..4";
        for (int32_t a = 0; a < toollib_floatarrays; a++)
            if (!std::isfinite(toollib_float(block, toollib_floats + a * 4 * cfg_toolcount + 4 * i)))
                return "a length or angle that is not a number";
    }
    return nullptr;
}

int toollib_take(const uint8_t *bytes, int32_t size, const char *path)
{
    if (!bytes || size < toollib_bytes) {
        sys_log("toollib_take: \"%s\" has %d bytes, a library has %d", path, size, toollib_bytes);
        sys_status("...tool library not imported: the file is too short (%d of %d bytes)", size, toollib_bytes);
        return 0;
    }
    int32_t slot = 0;
    if (const char *fault = toollib_fault(bytes, &slot)) {
        sys_log("toollib_take: \"%s\" slot %d has %s", path, slot, fault);
        sys_status("...tool library not imported: slot %d has %s", slot, fault);
        return 0;
    }
    memcpy(cfg + cfg_toollib, bytes, toollib_bytes);
    for (int32_t i = 0; i < cfg_toolcount; i++)
        cfg[cfg_toolnames + cfg_toolnamesize * i + cfg_toolnamesize - 1] = 0;
    if (size > toollib_bytes)
        sys_log("toollib_take: \"%s\" is %d bytes, the first %d taken", path, size, toollib_bytes);
    return 1;
}

int toollib_import()
{
    if (!file_opendialog("Import Tool Library", cfg_gettext(cfg_toollibpath), toollib_filter)) {
        sys_log("failed to get fileopen path");
        return 0;
    }
    char path[sys_dialogpathmax];
    snprintf(path, sizeof(path), "%s", file_lastopenpath);
    if (!gui_calls->messagebox("Overwrite Tool Library",
                               "This will overwrite any existing tool definitions in the current tool library with "
                               "those that are contained in this file. This will not affect the current project's "
                               "tool definitions or operations.\n\nAre you sure you want to continue?",
                               2, 5, 0))
        return 0;
    int32_t size = 0;
    uint8_t *bytes = (uint8_t *)file_load(path, &size, 0, toollib_maxfile);
    if (!bytes) {
        sys_status("...tool library not imported: \"%s\" could not be read", path);
        return 0;
    }
    int taken = toollib_take(bytes, size, path);
    sys_free(bytes);
    if (!taken)
        return 0;
    toollib_keeppath(path);
    sys_status("...imported tool library");
    return 1;
}

int toollib_clear()
{
    if (!gui_calls->messagebox("Kerfmill", "Are you sure you want to clear all tools from the tool library?", 2, 4,
                               0))
        return 0;
    memcpy(cfg + cfg_toollib, cfg_defaults + cfg_toollib, toollib_bytes);
    sys_log("...cleared tool library");
    config_save();
    return 1;
}
