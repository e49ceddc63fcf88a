// Data fonts: the 32-slot table, loading of glyph sheets and metrics, text
// measuring and cursor hit-testing, glyph quads and text drawing through the
// immediate-mode renderer, and the tooltip placement measured with them.
// Drawing runs on the thread that holds the GL context; measuring anywhere.
#include "render/font.h"

#include "img/image.h"
#include "img/imagefile.h"
#include "render/draw.h"
#include "render/drawstate.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/file.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

font_slot font_slots[font_maxslots];
int font_loaded = 0;
int font_textfonts = 0;

constexpr int font_textmax = 4096; // bytes a formatted text is cut to

// The start-up fonts; a font's index is its position here.
static const char *const font_names[font_count] = {
    "System",      "Fixedsys",        "Source Code", "Courier",    "Latha",      "Tahoma",
    "Verdana",     "Ocr A",           "IBM",         "KaiTi",      "Comfort",    "Cafe",
    "BlackSans",   "Thaiseri",        "CallingCode", "Latha Big",  "Tahoma Big", "Verdana Big",
    "OCR A Big",   "Electrolize Big", "Aldrich Big", "Icons",      "Icons Big",  "Icons Huge",
    "Icons2",      "Icons2 Big",      "Icons2 Huge", "Icons3",     "Icons3 Big", "Icons3 Huge",
};
constexpr int font_firstbig = 15; // "Latha Big": the fonts before it are text fonts

void font_defaultdat(font_dat *dat)
{
    dat->sheetwidth = 256;
    dat->sheetheight = 128;
    dat->cellwidth = 16;
    dat->cellheight = 16;
    dat->first = 32;
    memset(dat->advance, 8, sizeof(dat->advance));
}

// Cells must be positive and fit the sheet at least once each way, or the
// column, row and texture-coordinate divisions have nothing to divide by.
static bool font_usable(const font_dat *dat)
{
    return dat->cellwidth > 0 && dat->cellheight > 0 && dat->sheetwidth >= dat->cellwidth &&
           dat->sheetheight >= dat->cellheight;
}

static int32_t font_readint(const uint8_t *p)
{
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
}

int font_readdat(const char *name, font_dat *dat)
{
    char path[sys_maxpath];
    snprintf(path, sizeof(path), "fonts/%s.dat", name);
    font_defaultdat(dat);
    int32_t size = 0;
    uint8_t *data = (uint8_t *)file_load(path, &size, 0, font_maxdatbytes);
    if (!data) {
        sys_log("failed to load \"%s\" font data, using default...", name);
        return 0;
    }
    if (size < font_datsize) {
        sys_log("font_readdat: \"%s\" holds %d of %d bytes, using default...", path, size, font_datsize);
        sys_free(data);
        return 0;
    }
    font_dat read;
    read.sheetwidth = font_readint(data);
    read.sheetheight = font_readint(data + 4);
    read.cellwidth = font_readint(data + 8);
    read.cellheight = font_readint(data + 12);
    read.first = data[16];
    memcpy(read.advance, data + 17, sizeof(read.advance));
    sys_free(data);
    if (!font_usable(&read)) {
        sys_log("font_readdat: \"%s\" has %dx%d cells on a %dx%d sheet, using default...", path, read.cellwidth,
                read.cellheight, read.sheetwidth, read.sheetheight);
        return 0;
    }
    *dat = read;
    return 1;
}

int font_addslot(const char *name, const font_dat *dat, int texture, int blend)
{
    if (font_loaded >= font_maxslots) {
        sys_error("font_addslot: data fonts overflow! (\"%s\")", name);
        return -1;
    }
    font_slot &f = font_slots[font_loaded];
    snprintf(f.name, sizeof(f.name), "%s", name);
    f.metrics = *dat;
    if (!font_usable(dat))
        font_defaultdat(&f.metrics);
    f.texture = texture;
    f.blend = blend;
    f.columns = f.metrics.sheetwidth / f.metrics.cellwidth;
    f.rows = f.metrics.sheetheight / f.metrics.cellheight;
    f.cells = f.columns * f.rows;
    f.tabwidth = 9 * f.metrics.advance['a'];
    return font_loaded++;
}

// The first of the sheet files that loads, as a new image (its name written
// to path); null when none does.
static image *font_loadsheet(const char *name, char *path, int pathsize)
{
    const char *kinds[] = {"png", "bmp", "tga"};
    for (const char *kind : kinds) {
        snprintf(path, pathsize, "fonts/%s.%s", name, kind);
        if (image *sheet = img_load(path, 0))
            return sheet;
    }
    return nullptr;
}

int font_load(const char *name)
{
    // Refused before anything is made, so nothing is left behind.
    if (font_loaded >= font_maxslots) {
        sys_error("font_load: data fonts overflow! (\"%s\")", name);
        return -1;
    }
    char path[sys_maxpath];
    image *sheet = font_loadsheet(name, path, sizeof(path));
    if (!sheet) {
        snprintf(path, sizeof(path), "fonts/%s.png", name);
        sys_error("Failed to load font PNG/BMP/TGA image: \"%s\"", path);
        return -1;
    }
    int blend = sheet->bytesperpixel == 4 ? 2 : 4;
    int texture = img_texture(path, sheet, 0, 0, 1);
    img_free(sheet);
    sys_log("...font texid[%d]", texture);
    font_dat dat;
    font_readdat(name, &dat);
    return font_addslot(name, &dat, texture, blend);
}

int font_init()
{
    for (int i = 0; i < font_count; i++) {
        if (i == font_firstbig)
            font_textfonts = font_loaded;
        if (font_load(font_names[i]) < 0)
            return 0;
    }
    return 1;
}

static const font_slot *font_get(int font, const char *caller)
{
    if (font < 0 || font >= font_loaded) {
        sys_log("%s: no data font %d", caller, font);
        return nullptr;
    }
    return &font_slots[font];
}

static bool font_insheet(const font_slot &f, uint8_t c)
{
    return c >= f.metrics.first && c - f.metrics.first < f.cells;
}

// A tab while measuring: one tab width further, in single precision.
static int font_tabmeasure(int w, int tab)
{
    if (tab <= 0)
        return w;
    return (int)(((float)w / (float)tab + 1.0f) * (float)tab);
}

static void font_format(char *text, const char *format, va_list args)
{
    vsnprintf(text, font_textmax, format, args);
}

uint64_t font_textsize(int font, const char *format, ...)
{
    const font_slot *f = font_get(font, "font_textsize");
    if (!f)
        return 0;
    char text[font_textmax];
    va_list args;
    va_start(args, format);
    font_format(text, format, args);
    va_end(args);
    if (!text[0])
        return 0;
    const font_dat &m = f->metrics;
    int w = 0, widest = 0, height = m.cellheight;
    for (const uint8_t *p = (const uint8_t *)text; *p; p++) {
        if (*p == '\t') {
            w = font_tabmeasure(w, f->tabwidth);
        } else if (*p == '\n') {
            height += m.cellheight;
            widest = w > widest ? w : widest;
            w = 0;
        } else {
            w += font_insheet(*f, *p) ? m.advance[*p] : m.advance[127];
        }
    }
    return (uint64_t)(uint32_t)height << 32 | (uint32_t)(w > widest ? w : widest);
}

int font_charatx(int font, float x, const char *format, ...)
{
    const font_slot *f = font_get(font, "font_charatx");
    if (!f)
        return 0;
    char text[font_textmax];
    va_list args;
    va_start(args, format);
    font_format(text, format, args);
    va_end(args);
    int w = 0, i = 0;
    for (; text[i]; i++) {
        uint8_t c = (uint8_t)text[i];
        if (c == '\t')
            w = font_tabmeasure(w, f->tabwidth);
        else if (c != '\n')
            w += f->metrics.advance[c];
        if ((float)w > x)
            return i;
    }
    return i;
}

void font_glyph(int font, float x, float y, uint8_t c)
{
    const font_slot *f = font_get(font, "font_glyph");
    if (!f || !font_insheet(*f, c))
        return;
    const font_dat &m = f->metrics;
    int k = c - m.first;
    float columns = (float)f->columns, rows = (float)f->rows;
    float s0 = (float)(k % f->columns) / columns, t0 = (float)(k / f->columns) / rows;
    float s1, t1 = t0 + 1.0f / rows;
    float corner[4][2]; // top-left, top-right, bottom-right, bottom-left
    const gui_textdrawstate &ts = gui_textstate;
    if (fabsf(ts.angle) <= 0.0001f) {
        s1 = s0 + 1.0f / columns;
        float x1 = x + (float)m.cellwidth, y1 = y + (float)m.cellheight;
        float quad[4][2] = {{x, y}, {x1, y}, {x1, y1}, {x, y1}};
        memcpy(corner, quad, sizeof(corner));
    } else {
        // The advance-wide part of the cell, turned about its centre.
        float advance = m.advance[c];
        s1 = s0 + advance / (float)m.cellwidth / columns;
        float cx = truncf(x + advance / 2.0f), cy = truncf(y + (float)m.cellheight / 2.0f);
        float a = advance / 2.0f, b = (float)m.cellheight / 2.0f, s = ts.sine, co = ts.cosine;
        float quad[4][2] = {{cx - (co * a - s * b), cy - (s * a + co * b)},
                            {cx - (-co * a - s * b), cy - (-s * a + co * b)},
                            {cx + (co * a - s * b), cy + (s * a + co * b)},
                            {cx + (-co * a - s * b), cy + (-s * a + co * b)}};
        memcpy(corner, quad, sizeof(corner));
    }
    const float st[4][2] = {{s0, t0}, {s1, t0}, {s1, t1}, {s0, t1}};
    const int order[6] = {0, 1, 2, 0, 2, 3};
    for (int i : order) {
        r_texcoord(st[i][0], st[i][1]);
        r_vertex(corner[i][0], corner[i][1], ts.depth);
    }
}

// Bytes of the UTF-8 sequence a byte starts, from its high four bits; a
// continuation byte met on its own counts as one byte.
static int font_sequencelength(uint8_t c)
{
    static const uint8_t lengths[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 4};
    return lengths[c >> 4];
}

// One pass of font_draw with the pen starting at (x, y). Text fonts show a
// multi-byte UTF-8 character as one "?"; only its continuation bytes are
// skipped, so a broken sequence does not swallow the character after it.
static void font_drawpass(int font, const font_slot &f, float x, float y, const uint8_t *text, int length)
{
    const font_dat &m = f.metrics;
    float pen = x;
    for (int i = 0; i < length; i++) {
        uint8_t c = text[i];
        int sequence = font < font_firsticon ? font_sequencelength(c) : 1;
        if (sequence > 1) {
            font_glyph(font, pen, y, '?');
            pen += m.advance['?'];
            for (int n = 1; n < sequence && i + 1 < length && (text[i + 1] & 0xC0) == 0x80; n++)
                i++;
        } else if (c == '\t') {
            if (f.tabwidth > 0)
                pen = x + (float)f.tabwidth * truncf((pen - x) / (float)f.tabwidth + 1.0f);
        } else if (c == '\n') {
            y += (float)m.cellheight;
            pen = x;
        } else if (font_insheet(f, c)) {
            font_glyph(font, pen, y, c);
            pen += m.advance[c];
        }
    }
}

void font_draw(float x, float y, int shadow, int font, const char *format, ...)
{
    const font_slot *f = font_get(font, "font_draw");
    if (!f)
        return;
    if (r_primitive != -1) {
        r_begin(r_triangles); // reports the open primitive
        return;
    }
    char text[font_textmax];
    va_list args;
    va_start(args, format);
    font_format(text, format, args);
    va_end(args);
    int length = (int)strnlen(text, font_maxdraw);
    r_bindshader(-1);
    r_bindtexture(f->texture, 0);
    r_blendmode(gui_textstate.blend ? gui_textstate.blend : f->blend);
    r_begin(r_triangles);
    const float *color = gui_textstate.color;
    for (int k = shadow; k >= 0; k--) {
        if (k > 0)
            r_color(0.0f, 0.0f, 0.0f, 0.9f * color[3]);
        else
            r_color(color[0], color[1], color[2], color[3]);
        font_drawpass(font, *f, x + (float)k, y + (float)k, (const uint8_t *)text, length);
    }
    r_end();
    r_checkerror("font_draw:r_end");
    r_unbindtexture(0);
}

void gui_showtooltip(const char *text)
{
    gui_tooltiprecord &t = gui_tooltipstate;
    snprintf(t.text, sizeof(t.text), "%s", text);
    uint64_t size = font_textsize(gui_interfacefont, "%s", t.text);
    int w = (int)(uint32_t)size, h = (int)(size >> 32);
    int mx = input_mouse[0], my = input_mouse[1];
    t.position[0] = sys_drawable[0] - w - 16 > mx ? mx + 16 : mx - w;
    t.position[1] = my > h + 8 ? my - h - 8 : my + 8;
    t.box[0] = (float)t.position[0] - 3.0f;
    t.box[1] = (float)t.position[1] - 3.0f;
    t.box[2] = (float)(t.position[0] + w) + 3.0f;
    t.box[3] = (float)(t.position[1] + h) + 3.0f;
}
