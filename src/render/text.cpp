// Text objects: the 64-slot table with its rotating cursor, the string hash
// and draw size, allocation and release, the owner's requests (image, point
// size) and the "updatetext" job that caches the font when needed and
// renders the string into a bordered RGB image.
#include "render/text.h"

#include "img/gpuop.h"
#include "img/image.h"
#include "render/fontcache.h"
#include "render/sysfont.h"
#include "render/texture.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <atomic>
#include <cmath>
#include <cstdio>

text_object *text_objects = nullptr;
static int32_t text_cursor = 0;

static std::atomic_ref<uint32_t> text_busy(text_object &t)
{
    return std::atomic_ref<uint32_t>(t.busy);
}

static std::atomic_ref<int32_t> text_uses(int font)
{
    return std::atomic_ref<int32_t>(sys_fontlist[font].uses);
}

int text_init()
{
    text_objects = (text_object *)sys_calloc(text_maxobjects, (int32_t)sizeof(text_object));
    if (!text_objects)
        return 0;
    for (int i = 0; i < text_maxobjects; i++) {
        text_objects[i].font = -1;
        text_objects[i].texture = -1;
    }
    text_cursor = 0;
    return 1;
}

void text_quit()
{
    for (int i = 0; text_objects && i < text_maxobjects; i++)
        img_free(text_objects[i].img);
    sys_free(text_objects);
    text_objects = nullptr;
}

uint32_t text_hash(const char *text)
{
    uint32_t h = 16777619u;
    for (const char *p = text; *p; p++)
        h = (h * 16777619u) ^ (uint32_t)(int32_t)(int8_t)*p;
    return h;
}

int32_t text_drawsize(float ptsize, float resolution)
{
    float half = 0.5f * ptsize;
    float size = half * half * resolution * 0.01f;
    return (int32_t)size;
}

// A point size and resolution whose draw size is a number the renderer can
// take; otherwise reported under the caller's name.
static bool text_validsize(const char *caller, float ptsize, float resolution)
{
    float half = 0.5f * ptsize;
    float size = half * half * resolution * 0.01f;
    if (std::isfinite(ptsize) && ptsize >= 0.0f && size >= 0.0f && size < 2147483648.0f)
        return true;
    sys_error("%s: point size %.2f at resolution %.2f out of range", caller, ptsize, resolution);
    return false;
}

static bool text_inuse(int slot, const char *caller)
{
    if (text_objects && slot >= 0 && slot < text_maxobjects && text_objects[slot].font >= 0)
        return true;
    sys_log("%s: no text object %d", caller, slot);
    return false;
}

// One 50 ms step of a wait for a render. The main thread holds the frame
// mutex through its frame, and the render may need it to upload its font's
// icon, so the main thread lets it go while it sleeps.
static void text_waitstep()
{
    bool worker = img_onworker();
    if (!worker)
        sys_unlockmutex(sys_framemutex);
    SDL_Delay(50);
    if (!worker)
        sys_lockmutex(sys_framemutex);
}

// ---------------------------------------------------------------- the owner's side

int text_alloc(int position, float ptsize, float spacing, float resolution, const char *text)
{
    if (!text_objects || !sys_fontorder || position < 0 || position >= sys_fontcount) {
        sys_error("text_alloc: no font at position %d", position);
        return -1;
    }
    if (!text_validsize("text_alloc", ptsize, resolution))
        return -1;
    int slot = -1;
    for (int n = 0; n < text_maxobjects && slot < 0; n++) {
        int s = text_cursor % text_maxobjects;
        text_cursor = (s + 1) % text_maxobjects;
        if (text_objects[s].font < 0)
            slot = s;
    }
    if (slot < 0) {
        sys_error("text_alloc: overflow!");
        return -1;
    }
    text_object &t = text_objects[slot];
    img_free(t.img);
    t.img = nullptr;
    t.busy = t.updated = 0;
    t.texture = -1;
    snprintf(t.text, sizeof(t.text), "%s", text ? text : "");
    t.hash = text_hash(t.text);
    t.ptsize = ptsize;
    t.spacing = spacing;
    t.font = sys_fontorder[position];
    t.drawsize = text_drawsize(ptsize, resolution);
    text_uses(t.font).fetch_add(1);
    const char *name = sys_fontlist[t.font].name;
    sys_log("...created text[%d] = font[%d] size:%.2f draw:%d spacing:%.2f \"%s\"", slot, t.font, ptsize, t.drawsize,
            spacing, name ? name : "");
    text_queueupdate(slot);
    return slot;
}

void text_queueupdate(int slot)
{
    if (!text_inuse(slot, "text_queueupdate"))
        return;
    text_object &t = text_objects[slot];
    std::atomic_ref<uint32_t>(t.updated).store(0);
    text_busy(t).store(1);
    if (sys_threadjob("updatetext", job_updatetext, (void *)(intptr_t)slot) < 0) {
        // Nobody would clear the flag, and every wait for it would hang.
        sys_log("text_queueupdate: text[%d] not queued", slot);
        text_busy(t).store(0);
    }
}

image *text_getimage(int slot, int wait)
{
    if (!text_inuse(slot, "text_getimage"))
        return nullptr;
    const char *mode = wait ? "wait" : "nowait";
    sys_log("text_getimage(%d,%s)...", slot, mode);
    text_object &t = text_objects[slot];
    if (!text_busy(t).load() && !t.img) {
        sys_log("text_getimage: job_updatetext text[%d] font[%d]", slot, t.font);
        text_queueupdate(slot);
    }
    if (wait && text_busy(t).load()) {
        sys_log("text_getimage: text[%d] waiting...", slot);
        while (text_busy(t).load() && !sys_quit)
            text_waitstep();
    }
    image *img = text_busy(t).load() ? nullptr : t.img;
    sys_log("...text_getimage(%d,%s) return:%0X", slot, mode, (unsigned)(uintptr_t)img);
    return img;
}

int text_setptsize(int slot, float ptsize, float resolution)
{
    if (!text_inuse(slot, "text_setptsize") || !text_validsize("text_setptsize", ptsize, resolution))
        return 0;
    text_object &t = text_objects[slot];
    int32_t drawsize = text_drawsize(ptsize, resolution);
    if (ptsize == t.ptsize && drawsize == t.drawsize)
        return 0;
    while (text_busy(t).load()) {
        if (sys_quit)
            return 0;
        sys_log("setptsize: text[%d] generating...", slot);
        text_waitstep();
    }
    t.ptsize = ptsize;
    t.drawsize = drawsize;
    img_free(t.img);
    t.img = nullptr;
    sys_log("text_setptsize: job_updatetext text[%d] font[%d]", slot, t.font);
    text_queueupdate(slot);
    return 1;
}

void text_release(int slot)
{
    if (!text_inuse(slot, "text_release"))
        return;
    text_object &t = text_objects[slot];
    while (text_busy(t).load() && !sys_quit) {
        sys_log("text_release: text[%d] generating...", slot);
        text_waitstep();
    }
    r_freetexture(t.texture);
    t.texture = -1;
    // A render still running (the program quits) stores its image itself;
    // the shutdown frees it.
    if (!text_busy(t).load()) {
        img_free(t.img);
        t.img = nullptr;
    }
    if (t.font < sys_fontcount)
        text_uses(t.font).fetch_sub(1);
    t.font = -1;
}

// ---------------------------------------------------------------- the job

// Logs the whole cache when no entry can be claimed.
static void text_listcache()
{
    for (int e = 0; e < font_cacheentries; e++) {
        const font_cacherecord &c = font_cacheslot[e];
        int font = c.font;
        int cacheid = font >= 0 && font < sys_fontcount ? sys_fontlist[font].cacheid : -1;
        sys_log("cache[%d] = id:%d flags:%04X\n font[%d] cache:%d", e, c.id, font_flags(e), font, cacheid);
    }
    sys_log("...listed cached fonts");
}

// The cache entry serving the font, claimed and filled on this thread when
// the font holds none, once no job fills it any more. -1 when the program
// quits first.
static int text_holdentry(int slot, int font)
{
    for (;;) {
        if (sys_quit) {
            sys_log("job_updatetext: text[%d] stopped, program quitting", slot);
            return -1;
        }
        int e = font_entry(font);
        if (e < 0) {
            e = font_claimentry(font);
            if (e < 0) {
                sys_log("job_updatetext: cache overflow font[%d], idling...", font);
                text_listcache();
                SDL_Delay(500);
                continue;
            }
            sys_log("job_updatetext: text[%d] caching font[%d] cache[%d]...", slot, font, e);
            job_cachesystemfont((void *)(intptr_t)font);
        }
        while (font_flags(e) & font_busy) {
            if (sys_quit)
                break;
            sys_log("text[%d] font[%d] busy caching...", slot, font);
            SDL_Delay(50);
        }
        if (!sys_quit)
            return e;
    }
}

// Renders the string with the entry's face, reopened first at the object's
// draw size. An empty string is point size square and blank, and so is any
// string in a font that failed to cache. 0 when the entry was reclaimed
// before the lock was taken (the caller holds a fresh one and tries again).
static int text_render(text_object &t, int slot, int font, int e, uint8_t **rgb, int *width, int *height)
{
    font_cacherecord &c = font_cacheslot[e];
    *rgb = nullptr;
    *width = *height = 0;
    sys_log("locking sysfont mutex... text[%d] font[%d]", slot, font);
    sys_lockmutex(sys_fontmutex);
    if (font_entry(font) != e) {
        sys_unlockmutex(sys_fontmutex);
        return 0;
    }
    bool cached = (font_flags(e) & font_cached) != 0;
    if (cached && c.drawsize != t.drawsize) {
        sys_log("reloading text[%d] font[%d] size:%.2f draw:%d...", slot, font, t.ptsize, t.drawsize);
        c.drawsize = t.drawsize;
        if (c.sysfont >= 0)
            sys_closefont(c.sysfont);
        c.sysfont = sys_loadfontmem(c.data, c.size, c.drawsize);
    }
    sys_log("rendering text[%d] font[%d] cache:%d sysfont:%d...", slot, font, e, c.sysfont);
    if (!t.text[0])
        *width = *height = (int)t.ptsize;
    else if (cached)
        *rgb = sys_fontdraw(c.sysfont, t.text, t.spacing, width, height);
    sys_unlockmutex(sys_fontmutex);
    sys_log("...unlocked sysfont mutex text[%d] font[%d]", slot, font);
    return 1;
}

void job_updatetext(void *arg)
{
    int slot = (int)(intptr_t)arg;
    if (!text_inuse(slot, "job_updatetext"))
        return;
    text_object &t = text_objects[slot];
    int font = t.font;
    if (font >= sys_fontcount) {
        sys_log("job_updatetext: text[%d] has no font record %d", slot, font);
        text_busy(t).store(0);
        return;
    }
    int32_t cacheid = sys_fontlist[font].cacheid;
    const font_cacherecord &c = font_cacheslot[(cacheid < 0 ? 0 : cacheid) % font_cacheentries];
    sys_log("job_updatetext: text[%d] font[%d] cache:%d = (id:%d font:%d)", slot, font, cacheid, c.id, c.font);
    uint8_t *rgb = nullptr;
    int width = 0, height = 0;
    for (;;) {
        int e = text_holdentry(slot, font);
        if (e < 0) {
            text_busy(t).store(0);
            return;
        }
        if (text_render(t, slot, font, e, &rgb, &width, &height))
            break;
    }
    image *img = font_framedimage(rgb, width, height);
    sys_free(rgb);
    img_free(t.img);
    t.img = img;
    sys_log("...updated text[%d]", slot);
    std::atomic_ref<uint32_t>(t.updated).store(1);
    text_busy(t).store(0);
}
