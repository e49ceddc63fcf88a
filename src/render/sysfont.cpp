// System fonts: start-up listing of the machine's font files through
// fontconfig into font records, the "cachefontnames" job that names, sorts
// and indexes them, the face table and system-font slots, and measuring and
// rendering text with FreeType. Contents: start and stop, listing, naming
// and sorting, faces, measuring, rendering.
#include "render/sysfont.h"

#include "render/fontcache.h"
#include "render/text.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

FT_Library sys_ftlibrary = nullptr;
int sys_ftready = 0;
sys_faceentry *sys_facetable = nullptr;
int32_t sys_fontslot[sys_maxfaces];
sys_fontrecord *sys_fontlist = nullptr;
int32_t sys_fontcount = 0;
int32_t *sys_fontorder = nullptr;
int32_t sys_fontletter[26];
int32_t sys_fontdefault = -1;
char *sys_fontfiles[sys_maxfontfiles];
int32_t sys_fontfilecount = 0;
char sys_fontfolder[1024];
int sys_fontmutex = -1;
int font_cachemutex = -1;

static int sysfont_slotcursor = 0; // changed only under the sysfont mutex
static int sysfont_facecursor = 0;

// No installed face carries the words the default rule looks for; these
// widely installed faces take its place, in this order.
static const char *const sysfont_fallbacks[] = {"Liberation Sans Regular", "DejaVu Sans Book"};

// ---------------------------------------------------------------- start and stop

int sys_initfreetype()
{
    if (FT_Init_FreeType(&sys_ftlibrary)) {
        sys_error("Failed to initialize Freetype library.");
        return 0;
    }
    sys_ftready = 1;
    sys_facetable = (sys_faceentry *)sys_calloc(sys_maxfaces, (int32_t)sizeof(sys_faceentry));
    if (!sys_facetable) {
        sys_error("Failed to allocate Freetype fonts buffer.");
        return 0;
    }
    for (int32_t &slot : sys_fontslot)
        slot = -1;
    return 1;
}

// Appends a record for every listed file with a font extension.
static void sysfont_addrecords(int kind)
{
    for (int i = 0; i < sys_fontfilecount && sys_fontcount < sys_maxfontfiles; i++) {
        if (!sys_isfontfile(sys_fontfiles[i]))
            continue;
        sys_fontrecord &r = sys_fontlist[sys_fontcount++];
        r = {nullptr, sys_strdup(sys_fontfiles[i]), kind, 0, 0};
    }
    sys_freefonts();
}

int sys_initfonts()
{
    for (int32_t &first : sys_fontletter)
        first = -1;
    sys_fontdefault = -1;
    font_initcache();
    sys_fontlist = (sys_fontrecord *)sys_calloc(sys_maxfontfiles, (int32_t)sizeof(sys_fontrecord));
    sys_fontorder = (int32_t *)sys_malloc(sys_maxfontfiles * (int32_t)sizeof(int32_t));
    if (!sys_fontlist || !sys_fontorder)
        return 0;
    for (int i = 0; i < sys_maxfontfiles; i++)
        sys_fontorder[i] = i;
    sys_fontcount = 0;
    if (sys_enumsystemfonts() < 0) {
        sys_error("failed to enumerate system fonts");
        return 0;
    }
    sysfont_addrecords(0);
    sys_log("enumerating user-installed fonts...");
    if (sys_enumuserfonts() >= 0)
        sysfont_addrecords(1);
    sys_log("enumerated %d total fonts", sys_fontcount);
    font_systemcount = sys_fontcount;
    if (!text_init())
        return 0;
    sys_fontmutex = sys_createmutex();
    font_cachemutex = sys_createmutex();
    return 1;
}

void sys_quitfonts()
{
    text_quit();
    font_quitcache();
    sys_freefonts();
    for (int i = 0; sys_fontlist && i < sys_fontcount; i++) {
        sys_free(sys_fontlist[i].name);
        sys_free(sys_fontlist[i].path);
    }
    sys_free(sys_fontlist);
    sys_free(sys_fontorder);
    sys_fontlist = nullptr;
    sys_fontorder = nullptr;
    sys_fontcount = 0;
    sys_destroymutex(sys_fontmutex);
    sys_destroymutex(font_cachemutex);
    sys_fontmutex = font_cachemutex = -1;
}

void sys_quitfreetype()
{
    // Faces nobody closed are closed here, before their library goes.
    for (int slot = 0; sys_facetable && slot < sys_maxfaces; slot++)
        sys_closefont(slot);
    sys_free(sys_facetable);
    sys_facetable = nullptr;
    if (sys_ftready)
        FT_Done_FreeType(sys_ftlibrary);
    sys_ftready = 0;
    sys_ftlibrary = nullptr;
}

// ---------------------------------------------------------------- listing

int sys_isfontfile(const char *name)
{
    const char *dot = strrchr(name, '.');
    return dot && (strcasecmp(dot, ".ttf") == 0 || strcasecmp(dot, ".otf") == 0);
}

// Every font file fontconfig knows of, sorted by path so that the records
// come out in the same order on every run; 0 when fontconfig cannot start.
static int sysfont_fclist(std::vector<std::string> &files)
{
    FcConfig *config = FcInitLoadConfigAndFonts();
    if (!config)
        return 0;
    FcPattern *pattern = FcPatternCreate();
    FcObjectSet *objects = FcObjectSetBuild(FC_FILE, nullptr);
    FcFontSet *set = pattern && objects ? FcFontList(config, pattern, objects) : nullptr;
    for (int i = 0; set && i < set->nfont; i++) {
        FcChar8 *file = nullptr;
        if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) == FcResultMatch)
            files.push_back((const char *)file);
    }
    int listed = set != nullptr;
    if (set)
        FcFontSetDestroy(set);
    if (objects)
        FcObjectSetDestroy(objects);
    if (pattern)
        FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return listed;
}

// Fonts in the user's own font folders (fontconfig's home) are the
// user-installed ones.
static bool sysfont_isuser(const std::string &path)
{
    const FcChar8 *home = FcConfigHome();
    if (!home || !*home)
        return false;
    std::string prefix = std::string((const char *)home) + "/";
    return path.compare(0, prefix.size(), prefix) == 0;
}

// The longest folder (ending in "/") that holds every one of the files.
static std::string sysfont_commonfolder(const std::vector<std::string> &files)
{
    if (files.empty())
        return "";
    std::string folder = files[0].substr(0, files[0].rfind('/') + 1);
    for (const std::string &f : files) {
        while (!folder.empty() && f.compare(0, folder.size(), folder) != 0) {
            size_t cut = folder.size() >= 2 ? folder.rfind('/', folder.size() - 2) : std::string::npos;
            folder = cut == std::string::npos ? "" : folder.substr(0, cut + 1);
        }
    }
    return folder;
}

static bool sysfont_addfile(const std::string &name)
{
    if (sys_fontfilecount >= sys_maxfontfiles)
        return false;
    sys_fontfiles[sys_fontfilecount++] = sys_strdup(name.c_str());
    return true;
}

int sys_enumsystemfonts()
{
    std::vector<std::string> all, system;
    if (!sysfont_fclist(all)) {
        sys_error("failed to list files in \"%s\"", "fontconfig font folders");
        return -1;
    }
    for (const std::string &f : all)
        if (!sysfont_isuser(f))
            system.push_back(f);
    snprintf(sys_fontfolder, sizeof(sys_fontfolder), "%s", sysfont_commonfolder(system).c_str());
    sys_log("enumerating system fonts (%s)...", sys_fontfolder);
    size_t skip = strlen(sys_fontfolder);
    for (const std::string &f : system) {
        if (!sysfont_addfile(f.substr(skip))) {
            sys_log("file enumeration overflow!");
            break;
        }
    }
    return sys_fontfilecount;
}

int sys_enumuserfonts()
{
    std::vector<std::string> all;
    if (!sysfont_fclist(all)) {
        sys_log("failed to list user-installed fonts");
        return -1;
    }
    for (const std::string &f : all) {
        if (sysfont_isuser(f) && !sysfont_addfile(f)) {
            sys_log("failed to enumerate all user-installed fonts");
            break;
        }
    }
    return sys_fontfilecount;
}

void sys_freefonts()
{
    for (int i = 0; i < sys_fontfilecount; i++) {
        sys_free(sys_fontfiles[i]);
        sys_fontfiles[i] = nullptr;
    }
    sys_fontfilecount = 0;
}

// ---------------------------------------------------------------- naming and sorting

// Opens the record's file once to make its name "<family> <style>"; 1 when
// named.
static int sysfont_name(sys_fontrecord &r, double *bytes)
{
    char path[sys_maxpath];
    snprintf(path, sizeof(path), "%s%s", r.kind == 0 ? sys_fontfolder : "", r.path);
    int32_t size = 0;
    uint8_t *data = (uint8_t *)file_load(path, &size, 0, sys_maxfontbytes);
    if (!data)
        return 0;
    *bytes += size;
    int named = 0;
    {
        sys_mutexguard guard(sys_fontmutex);
        int slot = sys_loadfontmem(data, size, sys_namepixels);
        if (slot < 0) {
            sys_log("!!! failed to parse font: %s", path);
        } else {
            char name[512];
            snprintf(name, sizeof(name), "%s %s", sys_fontname(slot), sys_fontstyle(slot));
            sys_closefont(slot);
            r.name = sys_strdup(name);
            named = r.name != nullptr;
        }
    }
    sys_free(data);
    return named;
}

void job_cachefontnames(void *arg)
{
    double start = sys_seconds();
    double bytes = 0.0;
    int named = 0, visited = 0;
    for (int i = 0; i < sys_fontcount; i++) {
        if (sys_fontlist[i].name)
            continue;
        visited++;
        named += sysfont_name(sys_fontlist[i], &bytes);
    }
    sys_log("...cached %d of %d font names %.2fmb (%.3fs)", named, visited, bytes * 9.536743e-07,
            sys_seconds() - start);
    start = sys_seconds();
    sys_sortfonts();
    sys_log("...sorted %d fonts alphabetically (%.3fs)", sys_fontcount, sys_seconds() - start);
    sys_indexfonts();
}

// Byte order of the names with ASCII letters folded to lower case.
static int sysfont_compare(const char *a, const char *b)
{
    for (;; a++, b++) {
        int ca = (unsigned char)*a, cb = (unsigned char)*b;
        ca = ca >= 'A' && ca <= 'Z' ? ca + 32 : ca;
        cb = cb >= 'A' && cb <= 'Z' ? cb + 32 : cb;
        if (ca != cb || !ca)
            return ca - cb;
    }
}

void sys_sortfonts()
{
    std::stable_sort(sys_fontorder, sys_fontorder + sys_fontcount, [](int32_t a, int32_t b) {
        const char *na = sys_fontlist[a].name, *nb = sys_fontlist[b].name;
        if (!na || !nb)
            return !na && nb;
        return sysfont_compare(na, nb) < 0;
    });
}

static bool sysfont_isdefault(const char *name)
{
    return strstr(name, "Arial") || strstr(name, "Verdana") || strstr(name, "Tahoma");
}

// The first alphabetical position whose name is exactly name, or -1.
static int sysfont_find(const char *name)
{
    for (int pos = 0; pos < sys_fontcount; pos++) {
        const char *n = sys_fontlist[sys_fontorder[pos]].name;
        if (n && strcmp(n, name) == 0)
            return pos;
    }
    return -1;
}

void sys_indexfonts()
{
    for (int32_t &first : sys_fontletter)
        first = -1;
    sys_fontdefault = -1;
    for (int pos = 0; pos < sys_fontcount; pos++) {
        const char *name = sys_fontlist[sys_fontorder[pos]].name;
        if (!name)
            continue;
        sys_log("font[%d] %s", pos, name);
        if (sys_fontdefault == -1 && sysfont_isdefault(name)) {
            sys_fontdefault = pos;
            sys_log("found default text-layer font: %s", name);
        }
        int letter = (unsigned char)name[0] | 32;
        if (letter >= 'a' && letter <= 'z' && sys_fontletter[letter - 'a'] == -1)
            sys_fontletter[letter - 'a'] = pos;
    }
    for (const char *fallback : sysfont_fallbacks) {
        if (sys_fontdefault != -1)
            break;
        sys_fontdefault = sysfont_find(fallback);
        if (sys_fontdefault != -1)
            sys_log("using fallback default text-layer font: %s", fallback);
    }
    if (sys_fontdefault == -1)
        sys_log("no default text-layer font found");
    sys_log("...indexed fonts alphabetically");
}

// ---------------------------------------------------------------- faces

static sys_faceentry *sysfont_entry(int slot)
{
    if (!sys_facetable || slot < 0 || slot >= sys_maxfaces)
        return nullptr;
    int entry = sys_fontslot[slot];
    if (entry < 0 || entry >= sys_maxfaces || !sys_facetable[entry].face)
        return nullptr;
    return &sys_facetable[entry];
}

int sys_loadfontmem(const uint8_t *data, int32_t size, int pixelsize)
{
    // Callers normally hold it already (it is recursive); a caller that
    // forgot still cannot race another thread over the face table.
    sys_mutexguard g(sys_fontmutex);
    if (!sys_facetable) {
        sys_error("sys_loadfontmem: FreeType not started");
        return -1;
    }
    int slot = -1;
    for (int i = 0; i < sys_maxfaces && slot < 0; i++) {
        int s = (sysfont_slotcursor + i) % sys_maxfaces;
        if (sys_fontslot[s] == -1) {
            slot = s;
            sysfont_slotcursor = i ? s : sysfont_slotcursor;
        }
    }
    if (slot < 0) {
        sys_error("sys_loadfontmem: system fonts overflow");
        return -1;
    }
    int entry = -1;
    for (int i = 0; i < sys_maxfaces && entry < 0; i++) {
        int e = (sysfont_facecursor + i) % sys_maxfaces;
        if (!sys_facetable[e].face) {
            entry = e;
            sysfont_facecursor = e + 1;
        }
    }
    if (entry < 0) {
        sys_error("ttf_openfont: allocation overflow!");
        return -1;
    }
    FT_Face face = nullptr;
    FT_Error error = FT_New_Memory_Face(sys_ftlibrary, data, size, 0, &face);
    if (error) {
        sys_error("ttf_openfont: failed to open font (error:%d)", error);
        return -1;
    }
    sys_faceentry &e = sys_facetable[entry];
    e.size = pixelsize > 0 ? pixelsize : 1;
    e.glyphcount = e.xoffset = e.yoffset = 0;
    e.face = face;
    FT_Set_Char_Size(face, 0, e.size * 64, 0, 0);
    sys_fontslot[slot] = entry;
    return slot;
}

void sys_closefont(int slot)
{
    sys_faceentry *e = sysfont_entry(slot);
    if (!e)
        return;
    FT_Done_Face(e->face);
    e->face = nullptr;
    sys_fontslot[slot] = -1;
}

const char *sys_fontname(int slot)
{
    sys_faceentry *e = sysfont_entry(slot);
    if (!e) {
        sys_error("sys_fontname: font(%d) not loaded", slot);
        return "";
    }
    return e->face->family_name ? e->face->family_name : "";
}

const char *sys_fontstyle(int slot)
{
    sys_faceentry *e = sysfont_entry(slot);
    if (!e) {
        sys_error("sys_fontstyle: font(%d) not loaded", slot);
        return "";
    }
    return e->face->style_name ? e->face->style_name : "";
}

// ---------------------------------------------------------------- measuring

// UTF-8 to code points, at most sys_maxglyphs of them; a malformed byte
// becomes U+FFFD and decoding goes on with the next byte.
static void sysfont_decode(const char *text, std::vector<uint32_t> &out)
{
    const uint8_t *p = (const uint8_t *)text;
    while (*p && out.size() < (size_t)sys_maxglyphs) {
        uint32_t c = *p;
        int extra = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : 0;
        if (c >= 0x80 && (extra == 0 || c >= 0xF5)) {
            out.push_back(0xFFFD);
            p++;
            continue;
        }
        uint32_t point = extra ? c & (0x3F >> extra) : c;
        int n = 1;
        for (; n <= extra && (p[n] & 0xC0) == 0x80; n++)
            point = point << 6 | (p[n] & 0x3F);
        const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
        bool valid = n == extra + 1 && point >= least[extra] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
        out.push_back(valid ? point : 0xFFFD);
        p += valid ? n : 1;
    }
    if (*p)
        sys_debuglog("ttf_textsize: text cut to %d characters", sys_maxglyphs);
}

void ttf_textsize(int slot, const char *text, float spacing, int *width, int *height)
{
    *width = *height = 0;
    sys_faceentry *e = sysfont_entry(slot);
    if (!e) {
        sys_log("ttf_textsize: font(%d) not loaded", slot);
        return;
    }
    FT_Face face = e->face;
    if (!FT_IS_SCALABLE(face))
        sys_error("FONT[%d] \"%s\" NOT SCALABLE!", slot, face->family_name ? face->family_name : "");
    FT_Fixed scale = face->size->metrics.y_scale;
    FT_Pos ascender = FT_MulFix(face->ascender, scale);
    FT_Pos line = FT_MulFix(face->ascender - face->descender, scale);
    FT_Pos extra = (FT_Pos)((double)face->size->metrics.max_advance * spacing * fabs(spacing));
    e->glyphcount = e->xoffset = e->yoffset = 0;
    std::vector<uint32_t> points;
    sysfont_decode(text, points);
    if (points.empty()) {
        *height = (int)(line >> 6);
        return;
    }
    FT_Pos penx = 0, peny = ascender, left = 0, right = 0, top = 0, bottom = line;
    FT_UInt previous = 0;
    for (uint32_t c : points) {
        sys_glyphpos &g = e->glyphs[e->glyphcount];
        if (c == '\n') {
            // A line feed has no glyph: the next line starts a line's spacing
            // further down, and the box takes in that line's full height.
            peny += face->size->metrics.height;
            penx = 0;
            bottom = std::max(bottom, peny + line - ascender);
            g = {0, (int32_t)peny, 0};
            e->glyphcount++;
            previous = 0;
            continue;
        }
        FT_UInt glyph = FT_Get_Char_Index(face, c);
        if (FT_Load_Glyph(face, glyph, FT_LOAD_DEFAULT)) {
            sys_log("ttf_textsize: failed to load glyph[%u] char=%u", glyph, c);
            break;
        }
        if (previous && glyph) {
            FT_Vector kerning = {0, 0};
            FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &kerning);
            penx += kerning.x;
        }
        const FT_Glyph_Metrics &m = face->glyph->metrics;
        FT_Pos x = m.horiBearingX + penx, y = peny - m.horiBearingY;
        g = {(int32_t)x, (int32_t)y, glyph};
        e->glyphcount++;
        left = std::min({left, penx, x});
        right = std::max(right, x + m.width);
        top = std::min(top, y);
        bottom = std::max(bottom, y + m.height);
        penx += extra + face->glyph->advance.x;
        right = std::max(right, penx);
        previous = glyph;
    }
    *width = (int)((right - left) >> 6);
    *height = (int)((bottom - top) >> 6);
    e->xoffset = (int32_t)-left;
    e->yoffset = (int32_t)-top;
}

int ttf_textwidthn(int textslot, int n, int extent[2], int charsize[2])
{
    extent[0] = extent[1] = charsize[0] = charsize[1] = 0;
    if (!text_objects || textslot < 0 || textslot >= text_maxobjects || text_objects[textslot].font < 0) {
        sys_log("ttf_textwidthn: no text object %d", textslot);
        return 0;
    }
    const text_object &t = text_objects[textslot];
    int length = (int)strnlen(t.text, text_maxchars - 1);
    n = std::clamp(n, 0, length);
    char head[text_maxchars], next[8] = " ";
    memcpy(head, t.text, (size_t)n);
    head[n] = 0;
    if (n < length) {
        // The whole UTF-8 sequence of the character after the cut.
        unsigned char lead = (unsigned char)t.text[n];
        int bytes = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        bytes = std::min(bytes, length - n);
        memcpy(next, t.text + n, (size_t)bytes);
        next[bytes] = 0;
    }
    sys_mutexguard g(sys_fontmutex);
    int e = font_entry(t.font);
    if (e < 0 || !(font_flags(e) & font_cached) || font_cacheslot[e].sysfont < 0) {
        sys_log("ttf_textwidthn: text[%d] font[%d] not cached", textslot, t.font);
        return 0;
    }
    int face = font_cacheslot[e].sysfont;
    ttf_textsize(face, head, t.spacing, &extent[0], &extent[1]);
    ttf_textsize(face, next, t.spacing, &charsize[0], &charsize[1]);
    return 1;
}

// ---------------------------------------------------------------- rendering

// ORs a rendered glyph's coverage into the buffer at (x, y), clipped.
static void sysfont_blit(uint8_t *buffer, int width, int height, const FT_Bitmap &b, int x, int y)
{
    for (int row = 0; row < (int)b.rows; row++) {
        int py = y + row;
        if (py < 0 || py >= height)
            continue;
        const uint8_t *src = b.buffer + (ptrdiff_t)row * b.pitch;
        for (int col = 0; col < (int)b.width; col++) {
            int px = x + col;
            if (px < 0 || px >= width)
                continue;
            uint8_t v = b.pixel_mode == FT_PIXEL_MODE_MONO ? (src[col >> 3] & (0x80 >> (col & 7)) ? 255 : 0)
                                                           : src[col];
            buffer[(size_t)py * width + px] |= v;
        }
    }
}

uint8_t *ttf_textdraw(int slot, const char *text, float spacing, int *width, int *height)
{
    ttf_textsize(slot, text, spacing, width, height);
    sys_faceentry *e = sysfont_entry(slot);
    int w = *width, h = *height;
    // The RGB form of sys_fontdraw must fit the allocator too.
    if (!e || w < 1 || h < 1 || (int64_t)w * h * 3 > INT32_MAX) {
        sys_log("ttf_textdraw: nothing to draw (%dx%d)", w, h);
        return nullptr;
    }
    uint8_t *buffer = (uint8_t *)sys_calloc(w, h);
    if (!buffer)
        return nullptr;
    sys_debuglog("ttf_textdraw: %dx%d \"%s\"", w, h, text);
    std::vector<uint32_t> points;
    sysfont_decode(text, points);
    for (int i = 0; i < e->glyphcount; i++) {
        const sys_glyphpos &g = e->glyphs[i];
        if (points[i] == '\n')
            continue;
        if (FT_Load_Glyph(e->face, g.glyph, FT_LOAD_RENDER)) {
            sys_log("ttf_textdraw: failed to load/render glyph[%u] char[%d]=%u", g.glyph, i, points[i]);
            return buffer;
        }
        const FT_Bitmap &b = e->face->glyph->bitmap;
        int x = (e->xoffset + g.x) >> 6, y = (e->yoffset + g.y) >> 6;
        sys_debuglog("blitting %dx%d to (%d,%d)(%d,%d)...", b.width, b.rows, x, y, x + (int)b.width, y + (int)b.rows);
        sysfont_blit(buffer, w, h, b, x, y);
        sys_debuglog("blitted glyph[%u] %dx%d@%d @(%d,%d)(%d,%d)", g.glyph, b.width, b.rows, b.pitch, x, y,
                     x + (int)b.width, y + (int)b.rows);
    }
    return buffer;
}

uint8_t *sys_fontdraw(int slot, const char *text, float spacing, int *width, int *height)
{
    *width = *height = 0;
    if (!sysfont_entry(slot))
        return nullptr;
    uint8_t *coverage = ttf_textdraw(slot, text, spacing, width, height);
    if (!coverage) {
        sys_log("sys_fontdraw failed font[%d]", slot);
        return nullptr;
    }
    int32_t bytes = *width * *height * 3;
    uint8_t *rgb = (uint8_t *)sys_malloc(bytes);
    if (!rgb) {
        sys_free(coverage);
        sys_error("sys_fontdraw: failed to allocate color buffer! (%d bytes)", bytes);
        return nullptr;
    }
    for (int i = 0; i < *width * *height; i++)
        rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = coverage[i];
    sys_free(coverage);
    sys_log("sys_fontdraw[%d] %dx%d (%d bytes)", slot, *width, *height, bytes);
    return rgb;
}
