// The configuration record: the built-in default record (built at compile
// time), the typed accessors, loading "config.dat" with its version upgrade
// chain, saving it whole through a temporary file, and the reset to defaults.
#include "sys/config.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "cfg is stored in host byte order");

uint8_t cfg[cfg_size];
int cfg_updated = 0;

// Text fields, so that loading can terminate every one and cfg_settext knows
// each field's capacity.
struct cfg_textfield {
    int offset;
    int size;
    int count;
};
static constexpr cfg_textfield cfg_texts[] = {
    {cfg_postpath, 512, 1},
    {cfg_projectpath, 512, 1},
    {cfg_toollibpath, 512, 1},
    {cfg_openpath, cfg_toollib - cfg_openpath, 1},
    {cfg_toolnames, cfg_toolnamesize, cfg_toolcount},
};
static_assert(cfg_postpath + 512 <= cfg_projectpath);
static_assert(cfg_projectpath + 512 <= cfg_toollibpath);
static_assert(cfg_toollibpath + 512 <= cfg_backupinterval);
static_assert(cfg_toolnames + cfg_toolnamesize * cfg_toolcount == cfg_toolvalues);
static_assert(cfg_toolvalues + 7 * 4 * cfg_toolcount == cfg_toollibend);
static_assert(cfg_toollibend - cfg_toollib == 23552);
static_assert(cfg_opvalues + 3 * 4 * cfg_opcount <= cfg_size);
static_assert(cfg_oldtoolvalues + 6 * 128 <= cfg_leftpanelwidth);
static_assert(cfg_oppercent + 4 <= cfg_oldopvalues);

using cfg_record = std::array<uint8_t, cfg_size>;

static constexpr void rec_puti(cfg_record &r, int offset, int32_t value)
{
    uint32_t u = (uint32_t)value;
    for (int i = 0; i < 4; i++)
        r[offset + i] = (uint8_t)(u >> (8 * i));
}

static constexpr void rec_putf(cfg_record &r, int offset, float value)
{
    rec_puti(r, offset, std::bit_cast<int32_t>(value));
}

static constexpr void rec_putcolor(cfg_record &r, int offset, float red, float green, float blue)
{
    rec_putf(r, offset, red);
    rec_putf(r, offset + 4, green);
    rec_putf(r, offset + 8, blue);
}

static constexpr void rec_puttext(cfg_record &r, int offset, const char *text)
{
    for (int i = 0; text[i]; i++)
        r[offset + i] = (uint8_t)text[i];
}

static constexpr void config_defaultview(cfg_record &r)
{
    rec_putf(r, cfg_fov, 45.0f);
    rec_putf(r, cfg_nearfactor, 0.05f);
    rec_putf(r, cfg_farfactor, 24.0f);
    rec_putcolor(r, cfg_backgroundcolor2, 0.921569f, 0.921569f, 0.921569f);
    rec_putcolor(r, cfg_backgroundcolor1, 0.533333f, 0.686275f, 0.941176f);
    rec_putcolor(r, cfg_viewcolor1, 0.784314f, 0.627451f, 0.470588f);
    rec_putcolor(r, cfg_viewcolor2, 0.392157f, 0.313726f, 0.235294f);
    rec_putcolor(r, cfg_viewcolor3, 0.862745f, 0.862745f, 0.862745f);
    rec_putcolor(r, cfg_viewcolor4, 0.470588f, 0.470588f, 0.470588f);
    rec_putcolor(r, cfg_viewcolor5, 1.0f, 0.0f, 0.0f);
    rec_putcolor(r, cfg_viewcolor6, 0.0f, 0.0f, 1.0f);
    rec_putcolor(r, cfg_viewcolor7, 0.0f, 0.588235f, 0.0f);
    rec_putcolor(r, cfg_viewcolor8, 0.196078f, 0.196078f, 0.196078f);
    rec_putcolor(r, cfg_appearcolor1, 0.980392f, 0.980392f, 0.784314f);
    rec_putcolor(r, cfg_appearcolor2, 0.588235f, 0.470588f, 0.196078f);
    rec_puti(r, cfg_antialiasing, 1);
    rec_puti(r, cfg_gpuviewbuffering, 1);
    rec_puti(r, cfg_showgrid, 1);
    rec_putf(r, cfg_canvascurve, 0.5f);
    rec_putf(r, cfg_simcurve, 0.5f);
    rec_putf(r, cfg_selectopacity, 1.0f);
    rec_puti(r, cfg_selectsolid, 1);
    rec_putf(r, cfg_lightyaw, -60.0f);
    rec_putf(r, cfg_lightpitch, 30.0f);
    rec_putf(r, cfg_gloss, 0.5f);
    rec_putf(r, cfg_shadecontrast, 1.0f);
    rec_putf(r, cfg_boundarythickness, 1.5f);
    rec_putf(r, cfg_pathsthickness, 1.5f);
    rec_putf(r, cfg_gridthickness, 1.5f);
}

static constexpr void config_defaultgui(cfg_record &r)
{
    rec_puti(r, cfg_windowx, 20);
    rec_puti(r, cfg_windowy, 20);
    rec_puti(r, cfg_windowwidth, 800);
    rec_puti(r, cfg_windowheight, 600);
    rec_puti(r, cfg_windowmaximised, 1);
    rec_putcolor(r, cfg_guitextcolour, 0.313726f, 0.392157f, 0.54902f);
    rec_putcolor(r, cfg_guihitextcolour, 0.392157f, 0.54902f, 0.862745f);
    rec_putcolor(r, cfg_guiwidgetcolour, 0.901961f, 0.921569f, 0.960784f);
    rec_putcolor(r, cfg_guipanelcolour, 0.960784f, 0.972549f, 0.980392f);
    rec_putf(r, cfg_guipanelalpha, 0.985f);
    rec_putf(r, cfg_guishadestep, 0.05f);
    rec_puti(r, cfg_guispacing, 1);
    rec_puti(r, cfg_guipadding, 2);
    rec_puti(r, cfg_guifont, 6);
    rec_puti(r, cfg_leftpanelwidth, 280);
    rec_puti(r, cfg_rightpanelwidth, 360);
    rec_putf(r, cfg_cpubudget, 0.5f);
    rec_puti(r, cfg_framerate, 60);
}

static constexpr void config_defaultproject(cfg_record &r)
{
    rec_putf(r, cfg_gridmajoralpha, 1.0f);
    rec_putf(r, cfg_gridminoralpha, 0.25f);
    rec_putf(r, cfg_gridsubdiv, 0.25f);
    rec_putf(r, cfg_value276, 0.1f);
    rec_putf(r, cfg_pathminlength, 0.001f);
    rec_putf(r, cfg_pathmaxlength, 0.25f);
    rec_putcolor(r, cfg_canvassize, 12.0f, 12.0f, 0.5f);
    rec_puti(r, cfg_value348, 1024);
    rec_putf(r, cfg_value352, 0.5f);
    rec_puti(r, cfg_units, 1);
    rec_putf(r, cfg_canvasquality, 1.0f);
    rec_putf(r, cfg_canvasgeometry, 0.5f);
    rec_putf(r, cfg_backupinterval, 100.0f);
    rec_puti(r, cfg_autobackup, 1);
    rec_puti(r, cfg_ppi, 120);
    rec_puti(r, cfg_undomemory, 256);
    rec_puti(r, cfg_projunits, 1);
    rec_puti(r, cfg_svgdpi, 128);
    rec_putf(r, cfg_traceerror, 0.5f);
    // Loaded media fill the canvas; SVG files are read in canvas pixels
    // (cfg_physicalsvgunits 0) and the open dialogs start without a file.
    rec_puti(r, cfg_fittocanvas, 1);
}

static constexpr void config_defaultcam(cfg_record &r)
{
    rec_puttext(r, cfg_postpath, "posts\\GRBL (Inches).txt");
    rec_putf(r, cfg_rapidfeed, 100.0f);
    rec_putf(r, cfg_rapidaccel, 25.0f);
    rec_putf(r, cfg_trochoidstep, 10.0f);
    rec_puti(r, cfg_exportmode, 1);
    rec_puti(r, cfg_exportrepeatx, 1);
    rec_puti(r, cfg_exportrepeaty, 1);
    // A new user's first operation must generate in either unit: a feed of
    // 0 is refused by every generator, and a stepover of 25 percent of the
    // tool's diameter fits any tool. The maximum depth is cut to the canvas
    // depth when an operation is made.
    rec_puti(r, cfg_opfeed, 40);
    rec_puti(r, cfg_opengagefeed, 20);
    rec_puti(r, cfg_opspeed, 12000);
    rec_putf(r, cfg_opdoc, 0.125f);
    rec_putf(r, cfg_opstep, 25.0f);
    rec_puti(r, cfg_oppercent, 1);
    rec_putf(r, cfg_opsafe, 0.1f);
    rec_putf(r, cfg_opmaxdepth, 1000.0f);
    // Every library entry is named "None"; the second value array starts at
    // 2, the others at 0.
    for (int i = 0; i < cfg_toolcount; i++) {
        rec_puttext(r, cfg_toolnames + i * cfg_toolnamesize, "None");
        rec_puti(r, cfg_toolvalues + 1024 + 4 * i, 2);
    }
}

static constexpr cfg_record config_build()
{
    cfg_record r{};
    rec_puti(r, cfg_magic, (int32_t)cfg_magicvalue);
    rec_puti(r, cfg_declinedmajor, cfg_version / 100);
    rec_puti(r, cfg_declinedminor, cfg_version % 100);
    rec_puti(r, cfg_gpuconvo, 1);
    rec_puti(r, cfg_versionmajor, cfg_version / 100);
    rec_puti(r, cfg_versionminor, cfg_version % 100);
    config_defaultgui(r);
    config_defaultview(r);
    config_defaultproject(r);
    config_defaultcam(r);
    return r;
}

static constexpr cfg_record config_builtin = config_build();
const uint8_t *const cfg_defaults = config_builtin.data();

static int32_t rec_geti(const uint8_t *rec, int offset)
{
    int32_t v;
    memcpy(&v, rec + offset, sizeof(v));
    return v;
}

static float rec_getf(const uint8_t *rec, int offset)
{
    float v;
    memcpy(&v, rec + offset, sizeof(v));
    return v;
}

int32_t cfg_geti(int offset)
{
    return rec_geti(cfg, offset);
}

void cfg_seti(int offset, int32_t value)
{
    memcpy(cfg + offset, &value, sizeof(value));
}

float cfg_getf(int offset)
{
    return rec_getf(cfg, offset);
}

void cfg_setf(int offset, float value)
{
    memcpy(cfg + offset, &value, sizeof(value));
}

const char *cfg_gettext(int offset)
{
    return (const char *)cfg + offset;
}

// The capacity of the text field starting at offset, or 0 when no text
// field starts there.
static int config_textsize(int offset)
{
    for (const cfg_textfield &t : cfg_texts) {
        int rel = offset - t.offset;
        if (rel >= 0 && rel < t.size * t.count && rel % t.size == 0)
            return t.size;
    }
    return 0;
}

int cfg_settext(int offset, const char *text)
{
    int size = config_textsize(offset);
    if (!size) {
        sys_log("cfg_settext: no text field at %d", offset);
        return 0;
    }
    size_t len = strlen(text);
    if (len >= (size_t)size) {
        sys_log("cfg_settext: %d characters do not fit field %d", (int)len, offset);
        return 0;
    }
    memset(cfg + offset, 0, (size_t)size);
    memcpy(cfg + offset, text, len);
    return 1;
}

// A file may hold texts without a terminator: cut each at its field's end.
static void config_terminatetexts()
{
    for (const cfg_textfield &t : cfg_texts)
        for (int i = 0; i < t.count; i++)
            cfg[t.offset + (i + 1) * t.size - 1] = 0;
}

static void config_resetbytes(int from, int to)
{
    memcpy(cfg + from, cfg_defaults + from, (size_t)(to - from + 1));
}

// Up to 1.50: interface and canvas values return to their defaults and the
// path length limits are held in project units.
static void config_upgrade150()
{
    const int ranges[][2] = {{76, 95}, {5316, 5319}, {5268, 5275}, {348, 355}, {232, 247},
                             {248, 251}, {276, 279}, {5360, 5363}, {724, 731}};
    for (const auto &r : ranges)
        config_resetbytes(r[0], r[1]);
    if (cfg_geti(cfg_guifont) == 1)
        cfg_seti(cfg_guifont, 6);
    float scale = cfg_geti(cfg_projunits) == 2 ? 25.4f : 1.0f;
    cfg_setf(cfg_pathminlength, rec_getf(cfg_defaults, cfg_pathminlength) * scale);
    cfg_setf(cfg_pathmaxlength, rec_getf(cfg_defaults, cfg_pathmaxlength) * scale);
}

// Up to 1.79 the tool library had 32 entries in a different place.
static void config_upgradetoollib()
{
    sys_log("v1.80 reformatting tool lib...");
    const int targets[6] = {22464, 24512, 25536, 26560, 27584, 28608};
    for (int i = 0; i < 32; i++) {
        memcpy(cfg + cfg_toolnames + cfg_toolnamesize * i, cfg + cfg_oldtoolnames + 64 * i, 64);
        for (int k = 0; k < 6; k++)
            memcpy(cfg + targets[k] + 4 * i, cfg + cfg_oldtoolvalues + 128 * k + 4 * i, 4);
    }
}

// Up to 1.83 each operation-value array held 16 entries.
static void config_upgradeopvalues()
{
    sys_log("updating config op aux values...");
    for (int k = 0; k < 3; k++)
        memcpy(cfg + cfg_opvalues + 4 * cfg_opcount * k, cfg + cfg_oldopvalues + 64 * k, 64);
}

// Brings a record of version loaded (below cfg_version) up to date; each
// step applies to every version up to its bound.
static void config_upgrade(int loaded)
{
    sys_log("configuring for v%s...", "1.86b");
    cfg_seti(cfg_value2428, 0);
    config_resetbytes(cfg_backupinterval, cfg_backupinterval + 3);
    cfg_seti(cfg_versionmajor, cfg_version / 100);
    cfg_seti(cfg_versionminor, cfg_version % 100);
    if (loaded <= 150)
        config_upgrade150();
    if (loaded <= 153)
        cfg_setf(cfg_rapidfeed, (float)cfg_geti(cfg_rapidfeed));
    if (loaded <= 161)
        config_resetbytes(cfg_nearfactor, cfg_farfactor + 3);
    if (loaded <= 163)
        config_resetbytes(cfg_guipanelalpha, cfg_guipanelalpha + 3);
    if (loaded <= 168) {
        uint8_t colour[12];
        memcpy(colour, cfg + cfg_viewcolor3, 12);
        memcpy(cfg + cfg_viewcolor3, cfg + cfg_viewcolor4, 12);
        memcpy(cfg + cfg_viewcolor4, colour, 12);
    }
    if (loaded <= 178)
        cfg_seti(cfg_value2432, 0);
    if (loaded <= 179)
        config_upgradetoollib();
    if (loaded <= 183)
        config_upgradeopvalues();
    cfg_updated = 1;
}

// Logs what the file holds and takes it over cfg when its magic is right.
// The file is laid over the defaults first, so a short file reads as the
// defaults beyond its end and no field is read past the buffer.
static void config_take(const uint8_t *file, int32_t size)
{
    uint8_t rec[cfg_size];
    int32_t used = size < cfg_size ? size : cfg_size;
    memcpy(rec, cfg_defaults, cfg_size);
    memcpy(rec, file, (size_t)used);
    sys_log(" magic: %08X / version: %02d.%02d", (uint32_t)rec_geti(rec, cfg_magic),
            rec_geti(rec, cfg_versionmajor), rec_geti(rec, cfg_versionminor));
    sys_log(" size: %.3f %.3f %.3f / origin: %.3f %.3f %.3f", rec_getf(rec, cfg_canvassize),
            rec_getf(rec, cfg_canvassize + 4), rec_getf(rec, cfg_canvassize + 8),
            rec_getf(rec, cfg_canvasorigin), rec_getf(rec, cfg_canvasorigin + 4),
            rec_getf(rec, cfg_canvasorigin + 8));
    sys_log(" units:%d / ppi: %d / quality: %.3f", rec_geti(rec, cfg_units), rec_geti(rec, cfg_ppi),
            rec_getf(rec, cfg_canvasquality));
    sys_log(" path minlen:%f maxlen:%f", rec_getf(rec, cfg_pathminlength), rec_getf(rec, cfg_pathmaxlength));
    // Fewer than four bytes hold no magic at all.
    if (used < 4 || (uint32_t)rec_geti(rec, cfg_magic) != cfg_magicvalue) {
        sys_error("invalid user configuration version, using defaults");
        return;
    }
    memcpy(cfg, rec, cfg_size);
}

// The record's version as one number; a corrupt file's huge fields clamp
// instead of overflowing.
static int config_loadedversion()
{
    int64_t v = (int64_t)cfg_geti(cfg_versionmajor) * 100 + cfg_geti(cfg_versionminor);
    return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : (int)v;
}

void config_init()
{
    sys_log("config_init: default version #%d", cfg_version);
    memcpy(cfg, cfg_defaults, cfg_size);
    cfg_updated = 0;
    int32_t size = 0;
    uint8_t *file = (uint8_t *)file_load(sys_configpath, &size, 0, cfg_maxfilebytes);
    if (file) {
        config_take(file, size);
        sys_free(file);
        int loaded = config_loadedversion();
        sys_log("...loaded config version #%d", loaded);
        if (loaded < cfg_version)
            config_upgrade(loaded);
        config_terminatetexts();
        // A loaded file turns the debug log on so start-up is logged in
        // detail; start-up turns it off again when it is done.
        cfg_seti(cfg_debuginfo, 1);
    }
    sys_log("");
}

// Writes the record to a temporary file beside the configuration file and
// renames it into place, so a failed write leaves the old file intact.
int config_save()
{
    const double kb = cfg_size / 1024.0;
    char temp[sys_maxpath];
    FILE *f = nullptr;
    if (snprintf(temp, sizeof(temp), "%s.tmp", sys_configpath) < (int)sizeof(temp))
        f = sys_fopen(temp, "wb");
    if (!f) {
        sys_log("...unable to open \"%s\"", sys_configpath);
        sys_error("failed writing configuration to \"%s\"", sys_configpath);
        return 0;
    }
    bool ok = fwrite(cfg, 1, cfg_size, f) == (size_t)cfg_size;
    ok = fclose(f) == 0 && ok;
    ok = ok && rename(temp, sys_configpath) == 0;
    if (!ok) {
        remove(temp);
        sys_log("...failed writing %.2fkb (%s)", kb, sys_configpath);
        sys_error("failed writing configuration to \"%s\"", sys_configpath);
        return 0;
    }
    sys_log("...wrote %.2fkb (%s)", kb, sys_configpath);
    sys_log("...saved configuration (%.2fkb)", kb);
    return 1;
}

void config_default()
{
    int32_t terms = cfg_geti(cfg_termsaccepted);
    int32_t units = cfg_geti(cfg_units);
    float gridsubdiv = cfg_getf(cfg_gridsubdiv);
    int32_t projunits = cfg_geti(cfg_projunits);
    uint8_t toollib[cfg_toollibend - cfg_toollib];
    memcpy(toollib, cfg + cfg_toollib, sizeof(toollib));
    sys_log("GRIDSUBDIV:%f PROJUNITS:%d UNITS:%d", gridsubdiv, projunits, units);
    memcpy(cfg, cfg_defaults, cfg_size);
    cfg_seti(cfg_termsaccepted, terms);
    cfg_seti(cfg_units, units);
    cfg_setf(cfg_gridsubdiv, gridsubdiv);
    cfg_seti(cfg_projunits, projunits);
    memcpy(cfg + cfg_toollib, toollib, sizeof(toollib));
    sys_status("...defaulted configuration");
    config_save();
}
