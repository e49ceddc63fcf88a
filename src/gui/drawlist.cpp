// Draw lists and their flush. Lines and triangles of one window merge into
// shared draws; outlines never merge. Every list has a fixed capacity and an
// item that does not fit is dropped whole with a line that names the list.
#include "gui/drawlist.h"

#include "gui/calls.h"
#include "gui/gui.h"
#include "img/levels.h"
#include "render/gl.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

gui_vertex gui_verts[gui_maxverts];
gui_draw gui_draws[gui_maxdraws];
gui_imageitem gui_images[gui_maximages];
gui_textitem gui_texts[gui_maxtexts];
char gui_chars[gui_maxchars];
gui_listcounts gui_counts;
float gui_zbase = 0.01f;
gui_rect gui_attentionrect;
gui_rect gui_highlightrect;
float gui_highlightcentre[3];
gui_stats gui_framestats;
float gui_linewidth = 1.0f;

constexpr int gui_glline = 1, gui_glloop = 2, gui_glstrip = 3, gui_gltris = 4, gui_glfan = 6;

float gui_itemz()
{
    return (float)gui_depth * 0.0625f + gui_zbase;
}

void gui_resetlists()
{
    gui_counts = {};
    gui_sectorcount = 0;
    gui_linewidth = 1.0f;
}

// The list counts the current window began with; all zero outside windows.
static gui_listcounts drawlist_windowbegin()
{
    if (gui_depth <= 0)
        return {};
    const gui_windowrecord &w = gui_window[gui_depth - 1];
    return {w.verts, w.draws, w.images, w.texts, w.chars};
}

gui_textitem *gui_addtext(int x, int y, int font, float angle, float r, float g, float b, const char *text,
                          const gui_rect &clip)
{
    if (!text)
        return nullptr;
    if (gui_counts.texts >= gui_maxtexts) {
        sys_debuglog("gui_addtext: g_texts[] overflow! (%s)", text);
        return nullptr;
    }
    size_t length = strlen(text);
    if ((size_t)gui_counts.chars + length > (size_t)gui_maxchars - 1) {
        sys_debuglog("gui_addtext: g_textchars[] overflow! (texts:%d chars:%d)", gui_counts.texts, gui_counts.chars);
        return nullptr;
    }
    char *pooled = gui_chars + gui_counts.chars;
    memcpy(pooled, text, length + 1);
    gui_counts.chars += (int32_t)length + 1;
    gui_textitem *t = &gui_texts[gui_counts.texts++];
    *t = {font, x, y, gui_itemz(), angle, r, g, b, 1.0f, pooled, clip};
    return t;
}

// A call whose vertices would not all fit is refused whole: a shape drawn
// with some of its points would connect the wrong ones.
void gui_addverts(int primitive, int n, const gui_vertex *verts, int nomerge)
{
    if (n <= 0)
        return;
    if (gui_counts.verts + n > gui_maxverts - 1)
        printf("!!! gui verts overflow (%d) !!!\n", gui_counts.verts);
    if (gui_counts.verts + n > gui_maxverts)
        return;
    memcpy(gui_verts + gui_counts.verts, verts, sizeof(gui_vertex) * (size_t)n);
    gui_counts.verts += n;
    if (!nomerge && gui_counts.draws > drawlist_windowbegin().draws &&
        gui_draws[gui_counts.draws - 1].primitive == primitive) {
        gui_draws[gui_counts.draws - 1].count += n;
        return;
    }
    if (gui_counts.draws >= gui_maxdraws) {
        sys_debuglog("!!! gui draws overflow (%d/%d) !!!", gui_counts.draws, gui_maxdraws);
        return;
    }
    gui_draws[gui_counts.draws++] = {primitive, n};
}

void gui_addline(const float a[2], const float b[2], float r, float g, float bl, float al)
{
    float z = gui_itemz();
    gui_vertex v[2] = {{a[0], a[1], z, r, g, bl, al}, {b[0], b[1], z, r, g, bl, al}};
    gui_addverts(gui_glline, 2, v, 0);
}

// The inverse length by the bit trick and one Newton step; for a zero-length
// vector the largest float, so the direction becomes 0 instead of NaN.
static float drawlist_invlength(float dx, float dy)
{
    float l2 = dx * dx + dy * dy;
    if (l2 <= 0.0f)
        return FLT_MAX;
    uint32_t bits;
    memcpy(&bits, &l2, 4);
    bits = 0x5f3759dfu - (bits >> 1);
    float y;
    memcpy(&y, &bits, 4);
    return y * (1.5f - 0.5f * l2 * y * y);
}

void gui_addarrow(const float a[2], const float b[2], float r, float g, float bl, float al)
{
    float dx = b[0] - a[0], dy = b[1] - a[1];
    float s = drawlist_invlength(dx, dy);
    float ux = dx == 0.0f ? 0.0f : dx * s, uy = dy == 0.0f ? 0.0f : dy * s;
    float px = -uy, py = ux;
    float h1[2] = {a[0] + 7.5f * ux + 3.75f * px, a[1] + 7.5f * uy + 3.75f * py};
    float h2[2] = {a[0] + 7.5f * ux - 3.75f * px, a[1] + 7.5f * uy - 3.75f * py};
    gui_addline(a, h1, r, g, bl, al);
    gui_addline(a, h2, r, g, bl, al);
    gui_addline(a, b, r, g, bl, al);
}

static float drawlist_clamp(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

static gui_vertex drawlist_clipped(float x, float y, const gui_rect &clip, float r, float g, float b, float a)
{
    return {drawlist_clamp(x, clip.x, clip.x + clip.w), drawlist_clamp(y, clip.y, clip.y + clip.h), gui_itemz(),
            r, g, b, a};
}

void gui_addcircle(float cx, float cy, float radius, float step, float r, float g, float b, float a,
                   const gui_rect &clip)
{
    if (!(step > 0.0f))
        return;
    gui_vertex pts[gui_maxshapepoints];
    int n = 0;
    for (float angle = 0.0f; angle <= 360.0f && n < gui_maxshapepoints; angle += step) {
        float t = angle * (float)M_PI / 180.0f;
        pts[n++] = drawlist_clipped(cx + radius * cosf(t), cy - radius * sinf(t), clip, r, g, b, a);
    }
    gui_addverts(gui_glloop, n, pts, 1);
}

void gui_drawshape(float cx, float cy, float radius, float start, float end, float r, float g, float b, float a,
                   const gui_rect &clip)
{
    gui_vertex pts[gui_maxshapepoints];
    int n = 0;
    for (float angle = start; angle < end && n < gui_maxshapepoints - 1; angle += 10.0f) {
        float t = angle * (float)M_PI / 180.0f;
        pts[n++] = drawlist_clipped(cx + radius * cosf(t), cy + radius * sinf(t), clip, r, g, b, a);
    }
    float t = end * (float)M_PI / 180.0f;
    pts[n++] = drawlist_clipped(cx + radius * cosf(t), cy + radius * sinf(t), clip, r, g, b, a);
    gui_addverts(gui_glstrip, n, pts, 1);
}

static void drawlist_quad(gui_vertex *v, float x, float y, float w, float h, float z, float r, float g, float b,
                          float a)
{
    v[0] = {x, y, z, r, g, b, a};
    v[1] = {x + w, y, z, r, g, b, a};
    v[2] = {x + w, y + h, z, r, g, b, a};
    v[3] = {x, y, z, r, g, b, a};
    v[4] = {x + w, y + h, z, r, g, b, a};
    v[5] = {x, y + h, z, r, g, b, a};
}

// A framed box is its face and, just behind it, the full rectangle a shade
// lighter: the rim shows where the face is inset.
void gui_addbox(const gui_rect &rect, float r, float g, float b, float opacity, int framed)
{
    gui_vertex v[12];
    float z = gui_itemz();
    if (!framed) {
        drawlist_quad(v, rect.x, rect.y, rect.w, rect.h, z, r, g, b, opacity);
        gui_addverts(gui_gltris, 6, v, 0);
        return;
    }
    float bw = (float)gui_borderwidth, t = gui_shadestep;
    drawlist_quad(v, rect.x + bw, rect.y + bw, rect.w - 2.0f * bw, rect.h - 2.0f * bw, z, r, g, b, opacity);
    drawlist_quad(v + 6, rect.x, rect.y, rect.w, rect.h, z - 0.005f, r + t, g + t, b + t, opacity);
    gui_addverts(gui_gltris, 12, v, 0);
}

gui_imageitem *gui_addimage(int texture, float r, float g, float b, float a, const gui_rect &rect)
{
    if (gui_counts.images >= gui_maximages) {
        sys_log("gui_addimage overflow!");
        return nullptr;
    }
    gui_imageitem *item = &gui_images[gui_counts.images++];
    *item = {texture, r, g, b, a, {truncf(rect.x), truncf(rect.y), truncf(rect.w), truncf(rect.h)}};
    return item;
}

static uint8_t drawlist_byte(float c)
{
    return (uint8_t)(drawlist_clamp(c, 0.0f, 1.0f) * 255.0f);
}

static void drawlist_primitives(const gui_listcounts &begin)
{
    r_errorinfo = "gui_end:drawprimitives";
    gui_calls->blend(gui_blendalpha);
    gui_calls->depth(1, 1);
    static gui_drawvertex out[gui_maxverts];
    int first = begin.verts;
    for (int d = begin.draws; d < gui_counts.draws; d++) {
        int n = gui_draws[d].count;
        if (first + n > gui_counts.verts)
            break;
        for (int i = 0; i < n; i++) {
            const gui_vertex &v = gui_verts[first + i];
            out[i] = {v.x, v.y, v.z, drawlist_byte(v.r), drawlist_byte(v.g), drawlist_byte(v.b), drawlist_byte(v.a)};
        }
        gui_calls->primitive(gui_draws[d].primitive, out, n, gui_linewidth);
        first += n;
    }
}

static void drawlist_images(const gui_listcounts &begin, float z)
{
    r_errorinfo = "gui_end:teximg_draw";
    for (int i = begin.images; i < gui_counts.images; i++) {
        const gui_imageitem &im = gui_images[i];
        uint8_t colour[4] = {0, 0, 0, 255};
        if (im.texture != -1) {
            colour[0] = drawlist_byte(im.r);
            colour[1] = drawlist_byte(im.g);
            colour[2] = drawlist_byte(im.b);
            colour[3] = drawlist_byte(im.a);
        }
        float rect[4] = {im.rect.x, im.rect.y, im.rect.w, im.rect.h};
        gui_calls->image(im.texture, colour, rect, z);
    }
}

// A clip of 2 px or less leaves no box to draw in: the text is skipped.
static void drawlist_texts(const gui_listcounts &begin)
{
    r_errorinfo = "gui_end:font_draw";
    gui_calls->depth(1, 0);
    for (int i = begin.texts; i < gui_counts.texts; i++) {
        const gui_textitem &t = gui_texts[i];
        int w = (int)(t.clip.w - 2.0f), h = (int)(t.clip.h - 2.0f);
        if (w <= 0 || h <= 0)
            continue;
        int sx = (int)(t.clip.x + 1.0f);
        int sy = sys_drawable[1] - (int)(t.clip.y + 1.0f) - h;
        gui_calls->scissor(1, sx, sy, w, h);
        float colour[4] = {t.r, t.g, t.b, t.a};
        gui_calls->text(t.font, t.x, t.y, t.depth, t.angle, colour, t.text);
    }
    gui_calls->scissor(0, 0, 0, 0, 0);
}

static float drawlist_triangle(float t, float rate)
{
    return fabsf(fmodf(rate * t + 1.0f, 2.0f) - 1.0f);
}

static void drawlist_attention(float z)
{
    gui_rect a = gui_attentionrect;
    gui_attentionrect = {};
    uint8_t p = drawlist_byte(drawlist_triangle((float)sys_time, 2.0f));
    const float outer[5][2] = {{a.x - 1, a.y - 1}, {a.x + a.w + 1, a.y - 1}, {a.x + a.w + 1, a.y + a.h + 1},
                               {a.x - 1, a.y + a.h + 1}, {a.x - 1, a.y - 1}};
    const float inner[5][2] = {{a.x + 1, a.y + 1}, {a.x + a.w - 1, a.y + 1}, {a.x + a.w - 1, a.y + a.h - 1},
                               {a.x + 1, a.y + a.h - 1}, {a.x + 1, a.y + 1}};
    gui_drawvertex v[10];
    for (int i = 0; i < 5; i++) {
        v[2 * i] = {outer[i][0], outer[i][1], z, 0, 255, 0, p};
        v[2 * i + 1] = {inner[i][0], inner[i][1], z, 0, 255, 0, 0};
    }
    gui_calls->blend(gui_blendalpha);
    gui_calls->depth(1, 0);
    gui_calls->primitive(5, v, 10, 1.0f);
}

// Grey 0.5 under the multiplying blend leaves the picture as it is; the tint
// pulses between that and the step colour.
static void drawlist_highlight(float z)
{
    gui_rect h = gui_highlightrect;
    float hsv[3], rgb[3];
    img_rgbtohsv(hsv, gui_hitextcolour);
    hsv[2] = 0.75f;
    img_hsvtorgb(rgb, hsv);
    float q = drawlist_triangle((float)sys_time, 3.0f);
    float k = fminf(2.0f * q * q, 1.0f);
    uint8_t c[3];
    for (int i = 0; i < 3; i++)
        c[i] = drawlist_byte(rgb[i] * k + 0.5f * (1.0f - k));
    gui_drawvertex v[4] = {{h.x, h.y, z, c[0], c[1], c[2], 255},
                           {h.x + h.w, h.y, z, c[0], c[1], c[2], 255},
                           {h.x + h.w, h.y + h.h, z, c[0], c[1], c[2], 255},
                           {h.x, h.y + h.h, z, c[0], c[1], c[2], 255}};
    gui_calls->blend(gui_blendmultiply);
    gui_calls->depth(1, 0);
    gui_calls->primitive(gui_glfan, v, 4, 1.0f);
    gui_calls->blend(gui_blendalpha);
    gui_highlightcentre[0] = h.x + h.w / 2.0f;
    gui_highlightcentre[1] = h.y + h.h / 2.0f;
    gui_highlightcentre[2] = z;
    gui_highlightrect = {};
}

void gui_end()
{
    if (gui_refusedwindows > 0) {
        gui_refusedwindows--;
        return;
    }
    if (gui_depth <= 0)
        return;
    const gui_windowrecord &w = gui_window[gui_depth - 1];
    const gui_listcounts begin = drawlist_windowbegin();
    float z = gui_itemz();
    gui_framestats.draws += gui_counts.draws - begin.draws;
    gui_framestats.verts += gui_counts.verts - begin.verts;
    gui_framestats.texts += gui_counts.texts - begin.texts;
    drawlist_primitives(begin);
    drawlist_images(begin, z);
    drawlist_texts(begin);
    if (gui_attentionrect.w != 0.0f)
        drawlist_attention(z);
    if (gui_highlightrect.w != 0.0f)
        drawlist_highlight(z);
    gui_curwindow = w.previouswindow;
    gui_sectorcount = w.sectors;
    gui_counts = begin;
    gui_depth--;
    r_errorinfo = nullptr;
}
