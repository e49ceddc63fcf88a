// Font cache: the 256 entries, the claim rule shared by every claimer, the
// jobs that fill a claimed entry (system fonts from their file, data fonts
// from the project's bytes), the icon upload, the release of data fonts,
// rendering a formatted text with a cached font, and the character map job.
// Lock order: the sysfont mutex is never held while the render locks or the
// font-cache mutex are taken.
#include "render/fontcache.h"

#include "img/gpuop.h"
#include "img/image.h"
#include "render/sysfont.h"
#include "render/texture.h"
#include "sys/file.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

font_cacherecord font_cacheslot[font_cacheentries];
int32_t font_cachecursor = 0;
int32_t font_systemcount = 0;
font_charmaprequest font_charmap;

// Fields that change on one thread while another tests them.
static std::atomic_ref<int32_t> fontcache_shared(int32_t &field)
{
    return std::atomic_ref<int32_t>(field);
}

static std::atomic_ref<uint32_t> fontcache_flagsof(font_cacherecord &c)
{
    return std::atomic_ref<uint32_t>(c.flags);
}

static bool fontcache_validfont(int font)
{
    return sys_fontlist && font >= 0 && font < sys_fontcount;
}

// ---------------------------------------------------------------- start and stop

void font_initcache()
{
    for (font_cacherecord &c : font_cacheslot)
        c = {-1, -1, 0, -1, -1, 0, 0, nullptr, nullptr, 0, font_claimsize, -1};
    font_cachecursor = 0;
    font_charmap.font = -1;
    font_charmap.generating = 0;
    for (int i = 0; i < font_charmapcount; i++) {
        font_charmap.textures[i] = -1;
        font_charmap.aspects[i] = 0.0f;
    }
}

// Closes the entry's face before its bytes go: FreeType reads the face from
// them. Caller holds the sysfont mutex (or no other thread runs).
static void fontcache_freeface(font_cacherecord &c)
{
    if (c.sysfont >= 0)
        sys_closefont(c.sysfont);
    c.sysfont = -1;
    sys_free(c.data);
    c.data = nullptr;
    c.size = 0;
}

void font_quitcache()
{
    for (font_cacherecord &c : font_cacheslot) {
        fontcache_freeface(c);
        if (c.icon >= 0)
            r_freetexture(c.icon);
        c.icon = -1;
        c.name = nullptr;
    }
}

// ---------------------------------------------------------------- claiming

static bool fontcache_claimable(font_cacherecord &c)
{
    if (c.lastframe == (int64_t)sys_framecount)
        return false;
    if (fontcache_flagsof(c).load() & (font_busy | font_datafont))
        return false;
    int owner = c.font;
    return !fontcache_validfont(owner) || fontcache_shared(sys_fontlist[owner].uses).load() == 0;
}

int font_claimentry(int font, uint8_t *data, int32_t size)
{
    if (!fontcache_validfont(font)) {
        sys_log("font_claimentry: no font record %d", font);
        return -1;
    }
    int entry = -1;
    {
        sys_mutexguard g(font_cachemutex);
        for (int n = 0; n < font_cacheentries && entry < 0; n++) {
            int32_t id = font_cachecursor;
            // Ids grow without bound; past the largest they start again at 0,
            // a multiple of 256, so every id still names the same entry.
            font_cachecursor = (int32_t)(((uint32_t)id + 1u) & 0x7fffffffu);
            font_cacherecord &c = font_cacheslot[id % font_cacheentries];
            if (!fontcache_claimable(c))
                continue;
            // Busy first: whoever sees the new id also sees that the entry
            // is no longer cached.
            fontcache_flagsof(c).store(data ? font_busy | font_datafont : font_busy);
            fontcache_shared(c.id).store(id);
            fontcache_shared(c.font).store(font);
            c.drawsize = font_claimsize;
            fontcache_shared(sys_fontlist[font].cacheid).store(id);
            entry = id % font_cacheentries;
        }
    }
    if (entry >= 0 && data) {
        // The stale face and bytes are released where every reader of them
        // holds the lock.
        sys_mutexguard g(sys_fontmutex);
        font_cacherecord &c = font_cacheslot[entry];
        fontcache_freeface(c);
        c.data = data;
        c.size = size;
    }
    return entry;
}

int font_entry(int font)
{
    if (!fontcache_validfont(font))
        return -1;
    int32_t id = fontcache_shared(sys_fontlist[font].cacheid).load();
    if (id < 0)
        return -1;
    font_cacherecord &c = font_cacheslot[id % font_cacheentries];
    // A record that was never cached carries id 0 too: the owner must match.
    if (fontcache_shared(c.id).load() != id || fontcache_shared(c.font).load() != font)
        return -1;
    return id % font_cacheentries;
}

uint32_t font_flags(int entry)
{
    if (entry < 0 || entry >= font_cacheentries)
        return 0;
    return fontcache_flagsof(font_cacheslot[entry]).load();
}

int font_iscached(int font)
{
    return (font_flags(font_entry(font)) & font_cached) != 0;
}

// The busy flag goes in the same store that sets the cached flag, so a
// reader never sees an entry that is neither (the mark of a failed font).
static void fontcache_setflags(font_cacherecord &c, uint32_t set)
{
    std::atomic_ref<uint32_t> flags = fontcache_flagsof(c);
    uint32_t old = flags.load();
    while (!flags.compare_exchange_weak(old, (old & ~font_busy) | set)) {
    }
}

// ---------------------------------------------------------------- filling

static void fontcache_path(const sys_fontrecord &r, char *out, int cap)
{
    snprintf(out, (size_t)cap, "%s%s", r.kind == 0 ? sys_fontfolder : "", r.path ? r.path : "");
}

// "<family> <style>" of an open slot, as the record's display name.
static void fontcache_name(sys_fontrecord &r, int slot)
{
    const char *style = sys_fontstyle(slot);
    char name[512];
    snprintf(name, sizeof(name), "%s %s", sys_fontname(slot), style);
    sys_free(r.name);
    r.name = sys_strdup(name);
}

// What an entry's finish makes under the sysfont mutex for the upload that
// follows without it.
struct fontcache_icon {
    uint8_t *rgb = nullptr;
    int width = 0, height = 0;
    int32_t id = -1;
    int slot = -1;
    std::string name; // the record may be dropped once the lock goes
};

// Names the record and renders the "Aa" icon with the entry's open face.
// Caller holds the sysfont mutex.
static void fontcache_drawicon(int font, int e, fontcache_icon &icon)
{
    font_cacherecord &c = font_cacheslot[e];
    sys_fontrecord &r = sys_fontlist[font];
    icon.id = c.id;
    icon.slot = c.sysfont;
    sys_log("caching font[%d].cache[%d] id:%d sys[%d]... (%s)", font, e, icon.id, c.sysfont, r.path ? r.path : "");
    if (!r.name)
        fontcache_name(r, c.sysfont);
    c.name = r.name;
    icon.name = r.name ? r.name : "";
    icon.rgb = sys_fontdraw(c.sysfont, "Aa", 0.0f, &icon.width, &icon.height);
    if (!icon.rgb)
        sys_log("...failed rasterizing font[%d].cache[%d] id:%d sys[%d] !!!", font, e, icon.id, c.sysfont);
    else
        sys_log("...rasterized font[%d].cache[%d] id:%d sys[%d] icon:%dx%d", font, e, icon.id, c.sysfont,
                icon.width, icon.height);
}

// Replaces the entry's icon by the rendered one (or by none); GL work.
static void fontcache_seticon(font_cacherecord &c, int font, int e, uint8_t *icon, int width, int height)
{
    if (c.icon >= 0) {
        sys_log("removing stale icon font[%d].cache[%d] id:%d (tex:%d)...", font, e, c.id, c.icon);
        r_freetexture(c.icon);
        c.icon = -1;
    }
    if (!icon)
        return;
    sys_log("creating icon texture... font[%d].cache[%d] id:%d...", font, e, c.id);
    c.icon = r_texture(width, height, icon);
    c.iconwidth = width;
    c.iconheight = height;
}

// Uploads the icon and marks the entry cached. Runs without the sysfont
// mutex: a worker waits here for the render locks, and must not make the
// main thread wait for fonts meanwhile.
static void fontcache_finish(int font, int e, fontcache_icon &icon)
{
    font_cacherecord &c = font_cacheslot[e];
    bool worker = img_onworker();
    if (worker) {
        sys_log("locking render mutex... font[%d].cache[%d] id:%d", font, e, icon.id);
        sys_makecurrent(1);
        sys_log("...locked render mutex font[%d]", font);
    }
    fontcache_seticon(c, font, e, icon.rgb, icon.width, icon.height);
    if (worker) {
        sys_log("unlocking render mutex... font[%d]", font);
        sys_makecurrent(0);
        sys_log("...unlocked render mutex font[%d]", font);
    }
    sys_free(icon.rgb);
    icon.rgb = nullptr;
    sys_log("...cached font[%d].cache[%d] id:%d sys[%d] tex:%d \"%s\"", font, e, icon.id, icon.slot, c.icon,
            icon.name.c_str());
    fontcache_setflags(c, font_cached);
}

// Opens the entry's face from the file's bytes (null: the file could not be
// read) and renders the icon. Caller holds the sysfont mutex. 0 when the
// entry ends without a face, neither busy nor cached.
static int fontcache_opensystem(int font, int e, uint8_t *data, int32_t size, const char *path,
                                fontcache_icon &icon)
{
    font_cacherecord &c = font_cacheslot[e];
    int32_t id = c.id;
    if (c.sysfont >= 0)
        sys_log("freeing stale cache[%d] sysfont[%d]...", e, c.sysfont);
    if (c.data)
        sys_log("freeing stale cache[%d] data...", e);
    fontcache_freeface(c);
    if (!data) {
        fontcache_setflags(c, 0);
        return 0;
    }
    c.data = data;
    c.size = size;
    sys_log("parsing font[%d].cache[%d] id:%d...", font, e, id);
    int slot = sys_loadfontmem(data, size, c.drawsize);
    if (slot < 0) {
        sys_log("...failed parsing font[%d].cache[%d] id:%d (%s)", font, e, id, path);
        fontcache_freeface(c);
        fontcache_setflags(c, 0);
        return 0;
    }
    sys_log("...parsed font[%d].cache[%d] id:%d = sys[%d]", font, e, id, slot);
    c.sysfont = slot;
    fontcache_drawicon(font, e, icon);
    return 1;
}

void job_cachesystemfont(void *arg)
{
    int font = (int)(intptr_t)arg;
    int e = font_entry(font);
    if (e < 0) {
        sys_log("job_cachesystemfont: font[%d] holds no cache entry", font);
        return;
    }
    char path[sys_maxpath];
    fontcache_path(sys_fontlist[font], path, sizeof(path));
    sys_log("loading font[%d].cache[%d] id:%d... (%s)", font, e, font_cacheslot[e].id, path);
    int32_t size = 0;
    uint8_t *data = (uint8_t *)file_load(path, &size, 0, sys_maxfontbytes);
    fontcache_icon icon;
    int opened;
    {
        sys_mutexguard g(sys_fontmutex);
        opened = fontcache_opensystem(font, e, data, size, path, icon);
    }
    if (opened)
        fontcache_finish(font, e, icon);
}

// Opens the data font's face from the bytes the project gave the entry and
// renders the icon. Caller holds the sysfont mutex. 0 when it cannot.
static int fontcache_opendata(int font, int e, fontcache_icon &icon)
{
    font_cacherecord &c = font_cacheslot[e];
    sys_fontrecord &r = sys_fontlist[font];
    sys_log("caching data font[%03d] (%s)...", font, r.name ? r.name : r.path ? r.path : "");
    if (c.sysfont >= 0) {
        sys_log("freeing font[%d] sys[%d] %s...", font, c.sysfont, r.name ? r.name : "");
        sys_closefont(c.sysfont);
        c.sysfont = -1;
    }
    int slot = c.data ? sys_loadfontmem(c.data, c.size, c.drawsize) : -1;
    if (slot < 0) {
        fontcache_setflags(c, 0);
        return 0;
    }
    c.sysfont = slot;
    fontcache_name(r, slot);
    fontcache_drawicon(font, e, icon);
    return 1;
}

void job_cachedatafont(void *arg)
{
    int font = (int)(intptr_t)arg;
    int e = font_entry(font);
    if (e < 0) {
        sys_log("job_cachedatafont: font[%d] holds no cache entry", font);
        return;
    }
    fontcache_icon icon;
    int opened;
    {
        sys_mutexguard g(sys_fontmutex);
        opened = fontcache_opendata(font, e, icon);
    }
    if (!opened) {
        const sys_fontrecord &r = sys_fontlist[font];
        sys_log("failed to load data font [%d] \"%s\"", font, r.path ? r.path : "");
        return;
    }
    fontcache_finish(font, e, icon);
}

void font_cacheentry(int font)
{
    fontcache_icon icon;
    int e;
    {
        sys_mutexguard g(sys_fontmutex);
        e = font_entry(font);
        if (e < 0 || font_cacheslot[e].sysfont < 0) {
            sys_log("font_cacheentry: font[%d] holds no open cache entry", font);
            return;
        }
        fontcache_drawicon(font, e, icon);
    }
    fontcache_finish(font, e, icon);
}

// ---------------------------------------------------------------- data fonts

void font_freedata()
{
    for (int font = font_systemcount; sys_fontlist && font < sys_fontcount; font++) {
        sys_log("freeing data font[%d]...", font);
        sys_fontrecord &r = sys_fontlist[font];
        int e = font_entry(font);
        {
            // Faces, bytes and names are only used under this lock, so a
            // job still filling the entry finds them gone, not freed under it.
            sys_mutexguard g(sys_fontmutex);
            if (e >= 0) {
                font_cacherecord &c = font_cacheslot[e];
                fontcache_flagsof(c).store(0);
                fontcache_shared(c.font).store(-1);
                fontcache_freeface(c);
                c.name = nullptr;
            }
            sys_free(r.name);
            sys_free(r.path);
            r.name = r.path = nullptr;
            fontcache_shared(r.uses).store(0);
        }
        if (e < 0)
            sys_error("data font[%d] has bad cacheid:%d", font, r.cacheid);
    }
    if (sys_fontcount > font_systemcount)
        sys_fontcount = font_systemcount;
}

// ---------------------------------------------------------------- rendering

image *font_framedimage(const uint8_t *rgb, int width, int height)
{
    image *img = img_alloc("txtimg", width + 2, height + 2, 3);
    if (!img || !rgb)
        return img;
    size_t row = (size_t)width * 3, stride = (size_t)(width + 2) * 3;
    for (int y = 0; y < height; y++)
        memcpy(img->pixels + (size_t)(y + 1) * stride + 3, rgb + (size_t)y * row, row);
    return img;
}

static void fontcache_logentry(const char *what, int font, const char *tail)
{
    const sys_fontrecord &r = sys_fontlist[font];
    int32_t id = fontcache_shared(sys_fontlist[font].cacheid).load();
    const font_cacherecord &c = font_cacheslot[(id < 0 ? 0 : id) % font_cacheentries];
    sys_log("%s[%d] cacheid=%08X id=%08X flags=%04X data=%08X %s", what, font, (unsigned)r.cacheid, (unsigned)c.id,
            font_flags((id < 0 ? 0 : id) % font_cacheentries), (unsigned)(uintptr_t)c.data, tail);
}

image *fontdraw_cache(int position, int size, float spacing, const char *format, ...)
{
    if (!sys_fontorder || position < 0 || position >= sys_fontcount) {
        sys_log("fontdraw_cache: no font at position %d", position);
        return nullptr;
    }
    int font = sys_fontorder[position];
    char tail[128];
    int e = font_entry(font);
    snprintf(tail, sizeof(tail), "sz_data=%d (size:%d space:%.3f)", e >= 0 ? font_cacheslot[e].size : 0, size,
             spacing);
    fontcache_logentry("fontdraw", font, tail);
    if (!font_iscached(font))
        return nullptr;
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    float half = 0.5f * (float)size;
    int pixels = (int)(half * half);
    int width = 0, height = 0;
    uint8_t *rgb = nullptr;
    bool cached = false;
    {
        sys_mutexguard g(sys_fontmutex);
        sys_debuglog("fontdraw[%d] ...locked sysfont mutex", font);
        // Tested again under the lock: only now can the bytes not go away.
        cached = font_iscached(font) && font_entry(font) == e;
        int slot = cached ? sys_loadfontmem(font_cacheslot[e].data, font_cacheslot[e].size, pixels) : -1;
        if (slot >= 0) {
            rgb = sys_fontdraw(slot, text, spacing, &width, &height);
            sys_closefont(slot);
        }
        sys_debuglog("fontdraw[%d] ...unlocked sysfont mutex", font);
    }
    if (!cached)
        return nullptr;
    image *img = font_framedimage(rgb, width, height);
    sys_free(rgb);
    return img;
}

// ---------------------------------------------------------------- character map

// Waits until the requested font is cached and copies its bytes, since the
// entry may be reclaimed while the glyphs are made. An uncached font is
// claimed and cached on this thread. 0 when the font cannot be cached or
// the program quits.
static int charmap_fetchfont(std::vector<uint8_t> &bytes)
{
    for (;;) {
        if (sys_quit) {
            sys_log("charmap: program quitting");
            return 0;
        }
        int position = font_charmap.font;
        if (!sys_fontorder || position < 0 || position >= sys_fontcount) {
            sys_log("charmap: no font at position %d", position);
            return 0;
        }
        int font = sys_fontorder[position];
        int e = font_entry(font);
        char tail[32];
        snprintf(tail, sizeof(tail), "size=%d", e >= 0 ? font_cacheslot[e].size : 0);
        fontcache_logentry("fontload", font, tail);
        uint32_t flags = font_flags(e);
        if (e < 0) {
            if (font_claimentry(font) >= 0) {
                job_cachesystemfont((void *)(intptr_t)font);
                continue;
            }
        } else if (flags & font_cached) {
            sys_mutexguard g(sys_fontmutex);
            sys_debuglog("fontload[%d] ...locked sysfont mutex", font);
            if (font_iscached(font) && font_entry(font) == e) {
                const font_cacherecord &c = font_cacheslot[e];
                bytes.assign(c.data, c.data + c.size);
                sys_debuglog("fontload[%d] ...unlocked sysfont mutex", font);
                return 1;
            }
        } else if (!(flags & font_busy)) {
            sys_log("charmap: font[%d] could not be cached", font);
            return 0;
        }
        sys_log("charmap: stalling...");
        SDL_Delay(50);
    }
}

static bool charmap_inked(const uint8_t *rgb, int width, int height)
{
    for (size_t i = 0, n = (size_t)width * height * 3; i < n; i++)
        if (rgb[i])
            return true;
    return false;
}

struct charmap_glyph {
    uint8_t *rgb;
    int width, height;
};

// Renders the 96 characters with the open slot and closes it. A character
// without pixels keeps no buffer.
static void charmap_render(int slot, std::vector<charmap_glyph> &glyphs)
{
    sys_mutexguard g(sys_fontmutex);
    for (int i = 0; i < font_charmapcount; i++) {
        char text[2] = {(char)(font_charmapfirst + i), 0};
        charmap_glyph &glyph = glyphs[i];
        glyph.rgb = sys_fontdraw(slot, text, 0.0f, &glyph.width, &glyph.height);
        if (glyph.rgb && (glyph.width < 1 || glyph.height < 1 || !charmap_inked(glyph.rgb, glyph.width, glyph.height))) {
            sys_free(glyph.rgb);
            glyph.rgb = nullptr;
        }
    }
    sys_closefont(slot);
}

// One render-lock section makes every texture: the lock waits for the gap
// between two frames, once rather than per character.
static void charmap_upload(std::vector<charmap_glyph> &glyphs)
{
    bool worker = img_onworker();
    if (worker)
        sys_makecurrent(1);
    for (int i = 0; i < font_charmapcount; i++) {
        const charmap_glyph &glyph = glyphs[i];
        if (!glyph.rgb)
            continue;
        int texture = r_texture(glyph.width, glyph.height, glyph.rgb);
        font_charmap.textures[i] = texture >= 0 ? texture : font_noglyph;
        font_charmap.aspects[i] = (float)glyph.height / (float)glyph.width;
    }
    if (worker)
        sys_makecurrent(0);
}

void job_gencharmap(void *)
{
    double start = sys_seconds();
    for (int i = 0; i < font_charmapcount; i++) {
        font_charmap.textures[i] = font_noglyph;
        font_charmap.aspects[i] = 0.0f;
    }
    std::vector<uint8_t> bytes;
    if (charmap_fetchfont(bytes)) {
        int slot;
        {
            sys_mutexguard g(sys_fontmutex);
            slot = sys_loadfontmem(bytes.data(), (int32_t)bytes.size(), (int)font_charmap.size);
        }
        if (slot >= 0) {
            std::vector<charmap_glyph> glyphs(font_charmapcount, {nullptr, 0, 0});
            charmap_render(slot, glyphs);
            if (!sys_quit)
                charmap_upload(glyphs);
            for (charmap_glyph &glyph : glyphs)
                sys_free(glyph.rgb);
        }
    }
    font_charmap.generating = 0;
    sys_log("...generated charmap (%.3fs)", sys_seconds() - start);
}
