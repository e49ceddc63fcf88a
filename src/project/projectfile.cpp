// The project file: the writer (header blocks field by field, then the body
// of fonts, text objects, layer data, toolpaths and simulation images,
// FSE-coded or stored raw when it does not code) and the reader of the
// current version. The reader stages everything the file holds and checks
// it before the open project is reset, so a bad file changes nothing.
//
// Contents: header blocks, writing, staging a file, installing it.
#include "project/projectfile.h"

#include "cam/cam.h"
#include "cam/compile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/model.h"
#include "img/adjust.h"
#include "geom/path.h"
#include "img/chunk.h"
#include "img/image.h"
#include "project/canvas.h"
#include "project/layer.h"
#include "project/project.h"
#include "render/draw.h"
#include "render/fontcache.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/frame.h"
#include "sys/file.h"
#include "sys/fse.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "sys/thread.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

const projfile_block projfile_blocks[projfile_blockcount] = {
    {1, 2180}, {2, 4},   {3, 4},     {4, 8},     {5, 40},  {6, 40},   {7, 40},
    {8, 40},   {10, 44}, {11, 40},   {12, 7944}, {13, 1024}, {15, 4}, {18, 40},
    {22, 256}, {29, 296}, {31, 56},  {33, 2},    {39, 80}, {41, 40},  {43, 24},
};

namespace {

constexpr int32_t pf_opentry = 128;
constexpr int32_t pf_startbuffer = 8 * 1048576;
constexpr double pf_fontwait = 10.0; // seconds a font may take to be cached for a save

void pf_writename(msg_stream *m, const char *name)
{
    char field[project_maxname] = {};
    strncpy(field, name, project_maxname - 1);
    msg_write(m, field, project_maxname);
}

void pf_writefloats(msg_stream *m, const float *v, int n)
{
    for (int i = 0; i < n; i++)
        msg_writefloat(m, v[i]);
}

// The operation record behind entry i, or null when it has none.
const camop *pf_oprecord(int i)
{
    int32_t r = project.ops[i].camop;
    return r >= 0 && r < cam_maxops ? &cam_ops[r] : nullptr;
}

// ---------------------------------------------------------------- writing: header

void pf_writeblock1(msg_stream *m)
{
    msg_writeint(m, (int32_t)projfile_magic);
    msg_writeint(m, projfile_version);
    pf_writefloats(m, project.size, 3);
    pf_writefloats(m, project.originfrac, 3);
    for (uint32_t w : project.viewwords)
        msg_writeint(m, (int32_t)w);
    msg_writeint(m, (int32_t)project.cfgword);
    for (int t = 0; t < project_maxtools; t++) {
        const tool &c = cam_tools[t];
        pf_writename(m, project.tools[t].name);
        const uint8_t type[4] = {(uint8_t)c.type, 0, 0, 0};
        msg_write(m, type, 4);
        const float dims[4] = {c.length, c.flutelength, c.flutediameter, c.aux};
        pf_writefloats(m, dims, 4);
    }
    for (int i = 0; i < project_maxops; i++) {
        const camop *r = pf_oprecord(i);
        pf_writename(m, project.ops[i].name);
        if (!r) {
            msg_writeint(m, -1);
            const uint8_t zeros[pf_opentry - project_maxname - 4] = {};
            msg_write(m, zeros, sizeof(zeros));
            continue;
        }
        for (int32_t v : {r->type, r->tool, r->feed, r->speed, r->dir})
            msg_writeint(m, v);
        for (float v : {r->step, r->z_doc, r->z_max, r->z_min, r->z_safe, r->aux[0], r->aux[1], r->aux[2]})
            msg_writefloat(m, v);
        msg_writeint(m, r->toolpath);
        msg_writeint(m, (int32_t)project.ops[i].include);
        msg_writeint(m, (int32_t)project.ops[i].show);
    }
}

// Blocks 5 to 9: the operation records' remaining values, 0 without one.
void pf_writeopblocks(msg_stream *m)
{
    for (int i = 0; i < project_maxops; i++)
        msg_writeint(m, pf_oprecord(i) ? pf_oprecord(i)->engagefeed : 0);
    for (int i = 0; i < project_maxops; i++)
        msg_writefloat(m, pf_oprecord(i) ? pf_oprecord(i)->stock : 0.0f);
    for (int i = 0; i < project_maxops; i++)
        msg_writeint(m, pf_oprecord(i) ? pf_oprecord(i)->entry : 0);
    for (int i = 0; i < project_maxops; i++)
        msg_writeint(m, pf_oprecord(i) ? pf_oprecord(i)->coolant : 0);
    for (int i = 0; i < project_maxops; i++)
        msg_writeint(m, pf_oprecord(i) ? (int32_t)pf_oprecord(i)->flags : 0);
    msg_writeint(m, 0);
}

void pf_writelayertable(msg_stream *m)
{
    msg_writeint(m, project.ppi);
    msg_writeint(m, project_maxlayers);
    for (int i = 0; i < project_maxlayers; i++) {
        const project_layer &l = project.layers[i];
        if (l.type != layer_free)
            sys_log("layer[%d] size=%f %f %f uid=%08X", i, l.size[0], l.size[1], l.size[2], l.uid);
        pf_writename(m, l.name);
        for (int32_t v : {l.type, (int32_t)l.flags, l.smooth, l.blend})
            msg_writeint(m, v);
        msg_writefloat(m, l.zfill);
        msg_writefloat(m, l.aspect);
        pf_writefloats(m, l.pos, 3);
        pf_writefloats(m, l.size, 3);
        pf_writefloats(m, l.tilt, 2);
        msg_writefloat(m, l.rotation);
    }
}

void pf_writeheader(msg_stream *m)
{
    pf_writeblock1(m);
    msg_writeint(m, (int32_t)project.units);
    msg_writeint(m, 0);
    msg_writeint(m, 0);
    msg_writeint(m, 0);
    pf_writeopblocks(m);
    for (const tool &t : cam_tools)
        msg_writefloat(m, t.rampangle);
    pf_writelayertable(m);
    for (const project_layer &l : project.layers)
        pf_writefloats(m, l.crop, 4);
    msg_writefloat(m, project.zfill);
    for (const tool &t : cam_tools)
        msg_writeint(m, t.units);
    for (const project_layer &l : project.layers)
        msg_writeint(m, (int32_t)l.uid);
    for (const project_layer &l : project.layers)
        msg_writeint(m, (int32_t)l.groups);
    for (const projop &o : project.ops)
        msg_writeint(m, o.group);
    pf_writefloats(m, &project.canvascolor[0][0], 6);
    pf_writefloats(m, &project.simcolor[0][0], 6);
    pf_writefloats(m, project.colorcurve, 2);
    msg_writeshort(m, (int16_t)project_layergroup);
    msg_writeint(m, (int32_t)project.renderstyle);
    pf_writefloats(m, project.rendersettings, 19);
    for (const tool &t : cam_tools)
        msg_writeint(m, t.flutes);
    pf_writefloats(m, &project.woodcolor[0][0], 6);
}

// ---------------------------------------------------------------- writing: body

// Copies a font's file bytes out of the font cache, caching the font first
// when its entry does not hold them (which also names the record). Gives up
// (0, logged) when the program quits, the font cannot be cached, or no
// entry is had within pf_fontwait seconds.
int pf_fetchfont(int font, std::string &name, std::vector<uint8_t> &bytes)
{
    double start = sys_seconds();
    for (;;) {
        if (sys_quit) {
            sys_log("project_write: quitting while font[%d] was being cached", font);
            return 0;
        }
        int e = font_entry(font);
        uint32_t flags = font_flags(e);
        if (e >= 0 && (flags & font_cached)) {
            sys_mutexguard g(sys_fontmutex);
            if (font_entry(font) == e && font_iscached(font)) {
                const font_cacherecord &c = font_cacheslot[e];
                bytes.assign(c.data, c.data + c.size);
                name = sys_fontlist[font].name ? sys_fontlist[font].name : "";
                return 1;
            }
        } else if (e < 0) {
            sys_log("font[%d].cacheid:%d != id:%d", font, sys_fontlist[font].cacheid,
                    e >= 0 ? font_cacheslot[e].id : -1);
            int claimed = font_claimentry(font);
            if (claimed >= 0) {
                sys_log("font[%d].cacheid = %d", font, sys_fontlist[font].cacheid);
                // Cached on this thread: a queued job could wait behind this very save.
                job_cachesystemfont((void *)(intptr_t)font);
                continue;
            }
            sys_log("!!! cachesystemfont: overflow! font[%d]", font);
        } else if (!(flags & font_busy)) {
            sys_log("project_write: font[%d] could not be cached", font);
            return 0;
        }
        if (sys_seconds() - start > pf_fontwait) {
            sys_log("project_write: font[%d] not cached after %.0fs", font, pf_fontwait);
            return 0;
        }
        sys_log("...waiting for font cache...");
        SDL_Delay(50);
    }
}

// Sections 1 and 2: the distinct fonts of the text objects in use, in order
// of first use, and each object with its index into that list.
int pf_writetext(msg_stream *m)
{
    std::vector<int> fonts;
    std::vector<std::pair<int, int>> objects; // slot, font-list index
    for (int t = 0; text_objects && t < text_maxobjects; t++) {
        int font = text_objects[t].font;
        if (font < 0 || font >= sys_fontcount)
            continue;
        size_t k = 0;
        while (k < fonts.size() && fonts[k] != font)
            k++;
        if (k == fonts.size()) {
            fonts.push_back(font);
            sys_debuglog("list[%d] = font[%d]", (int)k, font);
        }
        objects.push_back({t, (int)k});
    }
    sys_debuglog("...organized %d fonts and %d text objects", (int)fonts.size(), (int)objects.size());
    msg_writeint(m, (int32_t)fonts.size());
    std::vector<uint8_t> bytes;
    std::string name;
    for (int font : fonts) {
        if (!pf_fetchfont(font, name, bytes))
            return 0;
        msg_printf(m, "%s", name.c_str());
        msg_writeint(m, (int32_t)bytes.size());
        msg_write(m, bytes.data(), (int32_t)bytes.size());
    }
    sys_debuglog("...wrote %d fonts", (int)fonts.size());
    msg_writeint(m, (int32_t)objects.size());
    for (auto [slot, index] : objects) {
        const text_object &o = text_objects[slot];
        msg_writeint(m, slot);
        msg_writeint(m, index);
        msg_writefloat(m, o.ptsize);
        msg_writefloat(m, o.spacing);
        msg_printf(m, "%s", o.text);
    }
    sys_debuglog("...wrote %d text objects", (int)objects.size());
    return !m->failed;
}

void pf_writelayers(msg_stream *m)
{
    for (const project_layer &l : project.layers) {
        switch (l.type) {
        case layer_raster: img_write(m, l.data.img); break;
        case layer_paths: msg_writepathq(m, l.data.pth, path_formq2); break;
        case layer_model: model_write(m, l.data.mesh, 1); break;
        case layer_text: msg_writeint(m, l.data.text); break;
        default: msg_writeint(m, (int32_t)projfile_magic); break;
        }
    }
}

void pf_writetoolpaths(msg_stream *m)
{
    msg_printf(m, "[toolpaths]");
    msg_writeint(m, toolpath_count);
    for (int s = 0; s < toolpath_maxslots; s++) {
        const toolpath &tp = toolpaths[s];
        if (!tp.verts)
            continue;
        msg_writeint(m, s);
        msg_writeint(m, (int32_t)tp.num_sorted);
        msg_write(m, tp.sorted, (int32_t)(tp.num_sorted * sizeof(toolpath_sorted)));
        msg_writeint(m, (int32_t)tp.num_paths);
        msg_write(m, tp.paths, (int32_t)(tp.num_paths * sizeof(toolpath_path)));
        msg_writeint(m, (int32_t)tp.num_verts);
        msg_write(m, tp.verts, (int32_t)((int64_t)tp.num_verts * 12));
    }
}

void pf_writesimimages(msg_stream *m)
{
    for (int i = 0, k = 0; i < project_maxops; i++) {
        if (!pf_oprecord(i))
            continue;
        msg_printf(m, "[simimage%d]", k++);
        img_writepack10(m, project.ops[i].simulation);
    }
}

// Replaces the body at bodystart by its size word and its FSE code, or by
// the size word with projfile_rawbody and the bytes themselves when FSE
// will not code them (a run of one value, or bytes too even to gain).
int pf_codebody(msg_stream *m, int32_t bodystart)
{
    int64_t n = (int64_t)m->position - bodystart;
    sys_log("compressing %.1fkb... (%08X)", n / 1024.0, bodystart);
    if (2 * n + 16 > INT32_MAX) {
        sys_log("...compression failed! (body of %.1fkb too large)", n / 1024.0);
        return 0;
    }
    std::unique_ptr<uint8_t, decltype(&sys_free)> code((uint8_t *)sys_malloc((int32_t)(2 * n + 16)), sys_free);
    if (!code) {
        sys_log("...compression failed! (no buffer of %.1fkb)", 2 * n / 1024.0);
        return 0;
    }
    size_t r = FSE_compress(code.get(), (size_t)(2 * n), m->buffer + bodystart, (size_t)n);
    if (FSE_isError(r)) {
        sys_log("...compression failed! (%s)", FSE_getErrorName(r));
        return 0;
    }
    uint32_t word = (uint32_t)n;
    if (r <= 1) {
        sys_log(r ? "...compression failed! (use RLE), storing %.1fk raw" : "...compression failed!, storing %.1fk raw",
                n / 1024.0);
        memcpy(code.get(), m->buffer + bodystart, (size_t)n);
        word |= projfile_rawbody;
        r = (size_t)n;
    } else {
        sys_log("...compressed %.1fk to %.1fk", n / 1024.0, r / 1024.0);
    }
    m->position = bodystart;
    msg_writeint(m, (int32_t)word);
    msg_write(m, code.get(), (int32_t)r);
    return !m->failed;
}

// The path with ".kfm" appended when it carries ".kfm" nowhere, in any case
// (a folder named so counts): plan.Kfm stays plan.Kfm.
std::string pf_savepath(const char *path)
{
    std::string p = path, lower = path;
    for (char &c : lower)
        c = (char)tolower((unsigned char)c);
    if (lower.find(".kfm") == std::string::npos)
        p += ".kfm";
    return p;
}

int32_t pf_build(msg_stream *m)
{
    sys_log("writing project file headers...");
    pf_writeheader(m);
    int32_t bodystart = m->position;
    sys_log("writing text objects... (%08X)", bodystart);
    if (!pf_writetext(m))
        return 0;
    sys_log("writing layer data... (%08X)", m->position);
    pf_writelayers(m);
    sys_log("writing toolpaths... (%08X)", m->position);
    pf_writetoolpaths(m);
    sys_log("writing simimages... (%08X)", m->position);
    pf_writesimimages(m);
    if (m->failed) {
        sys_log("project_write: the project does not fit the message buffer (%.1fkb written)", m->position / 1024.0);
        return 0;
    }
    return pf_codebody(m, bodystart);
}

} // namespace

int32_t project_write(const char *path, double *elapsed)
{
    double start = sys_seconds();
    if (elapsed)
        *elapsed = 0.0;
    std::string target = pf_savepath(path);
    msg_stream m;
    if (!msg_alloc(&m, pf_startbuffer)) {
        sys_log("project_write: no message buffer");
        return 0;
    }
    int32_t written = 0;
    // Through "<path>.tmp" and a rename: a failed write leaves the
    // previous file whole.
    if (pf_build(&m))
        written = file_writeall(target.c_str(), m.buffer, m.position);
    sys_free(m.buffer);
    if (elapsed)
        *elapsed = sys_seconds() - start;
    return written;
}

// ---------------------------------------------------------------- staging a file

namespace {

struct pf_tool {
    char name[project_maxname];
    int32_t type, units, flutes;
    float length, flutelength, flutediameter, aux, rampangle;
};

struct pf_op {
    char name[project_maxname];
    int32_t type; // -1: the entry has no operation
    int32_t tool, feed, speed, dir, toolpath, engagefeed, entry, coolant, group;
    float step, z_doc, z_max, z_min, z_safe, aux[3], stock;
    uint32_t include, show, flags;
    image *simulation;
};

struct pf_font {
    std::string name;
    std::vector<uint8_t> bytes;
};

struct pf_text {
    int32_t slot, font;
    float ptsize, spacing;
    std::string text;
};

struct pf_toolpath {
    int32_t slot;
    std::vector<toolpath_sorted> sorted;
    std::vector<toolpath_path> paths;
    std::vector<float> verts;
};

// Everything a file holds, read and checked before the open project is
// touched. Owned images, paths and mesh slots are released unless handed
// to the project (their pointers cleared as they go).
struct pf_staged {
    int32_t version = 0;
    float size[3], originfrac[3];
    uint32_t viewwords[6], cfgword, units;
    int32_t ppi;
    float zfill;
    float canvascolor[2][3], simcolor[2][3], woodcolor[2][3], colorcurve[2];
    int32_t layergroup;
    uint32_t renderstyle;
    float rendersettings[19];
    uint32_t haslooks = 0, haswood = 0, simdefault = 0; // blocks 17 and 21, or their stand-ins
    int32_t invert = 0, autolevel = 0, detail = 0;     // the single raster of versions 1 to 11
    uint32_t single = 0;
    pf_tool tools[project_maxtools];
    pf_op ops[project_maxops];
    project_layer layers[project_maxlayers];
    std::vector<pf_font> fonts;
    std::vector<pf_text> texts;
    std::vector<pf_toolpath> toolpaths;

    pf_staged()
    {
        memset(layers, 0, sizeof(layers));
        memset(ops, 0, sizeof(ops));
    }
    ~pf_staged()
    {
        for (project_layer &l : layers) {
            if (l.type == layer_raster)
                img_free(l.data.img);
            else if (l.type == layer_paths)
                path_free(l.data.pth);
            else if (l.type == layer_model)
                mdl_free(l.data.mesh);
        }
        for (pf_op &o : ops)
            img_free(o.simulation);
    }
};

bool pf_refuse(const char *what, int value)
{
    sys_log("project_load: %s %d refused", what, value);
    return false;
}

void pf_readname(msg_stream *m, char *out)
{
    msg_read(m, out, project_maxname);
    out[project_maxname - 1] = 0;
}

void pf_readfloats(msg_stream *m, float *v, int n)
{
    for (int i = 0; i < n; i++)
        v[i] = msg_readfloat(m);
}

// Where each header block of the version lies; -1 for one it predates.
// The offset past the last block.
int32_t pf_walkblocks(int32_t version, int32_t at[projfile_blockcount])
{
    int32_t pos = 0;
    for (int b = 0; b < projfile_blockcount; b++) {
        at[b] = version >= projfile_blocks[b].from ? pos : -1;
        if (at[b] >= 0)
            pos += projfile_blocks[b].size;
    }
    return pos;
}

bool pf_readblock1(msg_stream *m, pf_staged &st)
{
    m->position = 8;
    pf_readfloats(m, st.size, 3);
    pf_readfloats(m, st.originfrac, 3);
    // The single-raster resolution and every layer fit divide by the size.
    if (!(std::isfinite(st.size[0]) && st.size[0] > 0.0f && std::isfinite(st.size[1]) && st.size[1] > 0.0f &&
          std::isfinite(st.size[2])))
        return pf_refuse("canvas size (x, in thousandths)", (int)(st.size[0] * 1000.0f));
    for (uint32_t &w : st.viewwords)
        w = (uint32_t)msg_readint(m);
    st.cfgword = (uint32_t)msg_readint(m);
    for (pf_tool &t : st.tools) {
        pf_readname(m, t.name);
        uint8_t type[4];
        msg_read(m, type, 4);
        t.type = type[0];
        if (t.type > tool_taperball)
            return pf_refuse("tool type", t.type);
        t.length = msg_readfloat(m);
        t.flutelength = msg_readfloat(m);
        t.flutediameter = msg_readfloat(m);
        t.aux = msg_readfloat(m);
    }
    for (pf_op &o : st.ops) {
        pf_readname(m, o.name);
        int32_t *ints[] = {&o.type, &o.tool, &o.feed, &o.speed, &o.dir};
        for (int32_t *v : ints)
            *v = msg_readint(m);
        float *floats[] = {&o.step, &o.z_doc, &o.z_max, &o.z_min, &o.z_safe, &o.aux[0], &o.aux[1], &o.aux[2]};
        for (float *v : floats)
            *v = msg_readfloat(m);
        o.toolpath = msg_readint(m);
        o.include = (uint32_t)msg_readint(m);
        o.show = (uint32_t)msg_readint(m);
        if (o.type == -1)
            continue;
        if (o.type < 0 || o.type >= camop_types)
            return pf_refuse("operation type", o.type);
        if (o.tool < 0 || o.tool > project_maxtools)
            return pf_refuse("operation tool", o.tool);
        if (o.toolpath < -1 || o.toolpath >= toolpath_maxslots)
            return pf_refuse("operation toolpath slot", o.toolpath);
    }
    return !m->failed;
}

bool pf_readlayertable(msg_stream *m, pf_staged &st)
{
    st.ppi = msg_readint(m);
    int32_t count = msg_readint(m);
    if (count != project_maxlayers)
        return pf_refuse("layer count", count);
    for (project_layer &l : st.layers) {
        pf_readname(m, l.name);
        l.type = msg_readint(m);
        l.flags = (uint32_t)msg_readint(m);
        l.smooth = msg_readint(m);
        l.blend = msg_readint(m);
        l.zfill = msg_readfloat(m);
        l.aspect = msg_readfloat(m);
        pf_readfloats(m, l.pos, 3);
        pf_readfloats(m, l.size, 3);
        pf_readfloats(m, l.tilt, 2);
        l.rotation = msg_readfloat(m);
        if (l.type < layer_free || l.type >= layer_types) {
            int type = l.type;
            l.type = layer_free; // owns nothing yet
            return pf_refuse("layer type", type);
        }
    }
    return !m->failed;
}

// The blocks an older version lacks take the values the program used then.
void pf_defaultheader(pf_staged &st)
{
    st.units = 1;
    for (pf_op &o : st.ops) {
        o.engagefeed = o.feed;
        o.stock = 0.0f;
        o.entry = 0;
        o.coolant = 2;
        o.flags = 0;
        o.group = 0;
    }
    for (pf_tool &t : st.tools) {
        t.rampangle = 15.0f;
        t.units = 0; // the project's, below
        t.flutes = 2;
    }
    for (project_layer &l : st.layers) {
        const float crop[4] = {0, 0, 1, 1};
        memcpy(l.crop, crop, sizeof(crop));
        l.groups = 1;
        l.uid = 0xFFFFFFFFu;
    }
    st.zfill = 0.0f;
    st.layergroup = 0;
    st.renderstyle = 0;
    for (int i = 0; i < 19; i++)
        st.rendersettings[i] = i == 0 || (i >= 7 && i <= 17) ? 0.5f : 0.0f;
}

// Blocks 5 to 10: the operation records' remaining values and the ramp angles.
void pf_readopblocks(msg_stream *m, pf_staged &st, const int32_t at[projfile_blockcount])
{
    auto block = [&](int b) { return at[b] >= 0 ? (m->position = at[b], true) : false; };
    if (block(4))
        for (pf_op &o : st.ops)
            o.engagefeed = msg_readint(m);
    if (block(5))
        for (pf_op &o : st.ops)
            o.stock = msg_readfloat(m);
    if (block(6))
        for (pf_op &o : st.ops)
            o.entry = msg_readint(m);
    if (block(7))
        for (pf_op &o : st.ops)
            o.coolant = msg_readint(m);
    if (block(8)) {
        for (pf_op &o : st.ops)
            o.flags = (uint32_t)msg_readint(m);
        st.detail = msg_readint(m);
    }
    if (block(9))
        for (pf_tool &t : st.tools)
            t.rampangle = msg_readfloat(m);
    for (pf_op &o : st.ops) {
        if (o.type == -1)
            o.engagefeed = 0;
        else if (at[4] < 0)
            o.engagefeed = o.feed;
    }
}

// Block 17 to 21: colours, the current group, the render style and wood
// grain. Version 31 stored the two simulation colours the other way round;
// before 43 a wood-grain project kept its grain colours in the simulation
// colours.
void pf_readlooks(msg_stream *m, pf_staged &st, const int32_t at[projfile_blockcount])
{
    if (at[16] >= 0) {
        m->position = at[16];
        pf_readfloats(m, &st.canvascolor[0][0], 6);
        pf_readfloats(m, &st.simcolor[0][0], 6);
        pf_readfloats(m, st.colorcurve, 2);
        st.haslooks = 1;
        if (st.version == 31)
            for (int k = 0; k < 3; k++)
                std::swap(st.simcolor[0][k], st.simcolor[1][k]);
    }
    if (at[17] >= 0) {
        m->position = at[17];
        st.layergroup = (uint16_t)msg_readshort(m);
    }
    if (at[18] >= 0) {
        m->position = at[18];
        st.renderstyle = (uint32_t)msg_readint(m);
        pf_readfloats(m, st.rendersettings, 19);
    }
    if (at[19] >= 0) {
        m->position = at[19];
        for (pf_tool &t : st.tools)
            t.flutes = msg_readint(m);
    }
    if (at[20] >= 0) {
        m->position = at[20];
        pf_readfloats(m, &st.woodcolor[0][0], 6);
        st.haswood = 1;
    } else if (st.renderstyle != 0 && st.haslooks) {
        for (int k = 0; k < 3; k++) {
            st.woodcolor[0][k] = st.simcolor[1][k];
            st.woodcolor[1][k] = st.simcolor[0][k];
        }
        st.haswood = 1;
        st.simdefault = 1;
    }
}

uint32_t pf_halves(uint32_t low, uint32_t high)
{
    return (low & 0xFFFFu) | (high & 0xFFFFu) << 16;
}

float pf_bitsfloat(uint32_t bits)
{
    float f;
    memcpy(&f, &bits, 4);
    return f;
}

// An operation record as an older version stored it, brought to today's
// meaning of its values. The rows run in order on the type as it stands, so
// a type 5 of version 18 becomes type 11 and is not rescaled as a type 5.
void pf_migrateop(pf_op &o, const pf_staged &st)
{
    const int32_t v = st.version;
    const pf_tool *tool = o.tool >= 1 && o.tool <= project_maxtools ? &st.tools[o.tool - 1] : nullptr;
    const float dia = tool ? tool->flutediameter : 0.0f;
    if (v < 11 && o.entry > 127) {
        o.flags |= 4;
        o.entry &= 127;
    }
    if (o.type == 6 && v < 12)
        o.aux[1] = 0.0f;
    if (o.type == 6 && v < 27)
        o.aux[2] = -1.0f;
    if (o.type == 3 && v < 18)
        o.aux[2] = 0.0f;
    if (o.type == 10 && v <= 16)
        o.aux[1] -= 0.5f * dia;
    if ((o.type == 6 || o.type == 8 || o.type == 10) && v <= 17)
        o.aux[0] *= st.size[2];
    if (o.type == 6 && v < 21)
        o.stock = 0.0f;
    if (o.type == 8 && v < 21) {
        if (o.stock != 0.0f)
            o.flags |= o.stock < 0.0f ? 16u | 32u : 16u;
        float scale = st.units == 2 ? 0.03937008f : 1.0f;
        uint32_t high = (uint32_t)(o.aux[1] / (24.0f * scale) * 65535.0f + 0.5f);
        o.stock = o.step;
        o.step = 0.0f;
        o.aux[1] = pf_bitsfloat(pf_halves(0, high));
    }
    if (o.type == 10 && v < 21) {
        o.stock = o.aux[1];
        o.aux[1] = 0.0f;
    }
    if ((o.type == 7 || o.type == 10) && v < 25)
        o.aux[1] = 0.0f;
    if (o.type == 13 && v < 23) {
        int shape = (int)o.aux[0], cuts = (int)lroundf(o.step);
        o.aux[0] = pf_bitsfloat(pf_halves((uint32_t)shape, (uint32_t)cuts));
        o.step = 0.0f;
        sys_log("reformatted tessellate op: shape=%d cuts=%d", shape, cuts);
    }
    if (o.type == 5 && v == 18)
        o.type = 11;
    if (o.type == 5 && v < 30) {
        float d = dia;
        if (v >= 18 && tool && (uint32_t)tool->units != st.units)
            d = st.units == 1 ? d / 25.4f : d * 25.4f;
        float aux2 = o.aux[1];
        o.aux[1] = aux2 * d;
        o.aux[2] = std::min(d, (o.aux[2] + aux2) * d);
    }
    if ((o.type == 1 || o.type == 2 || o.type == 9) && o.aux[0] >= 180.0f)
        o.aux[0] -= 180.0f;
}

// Blocks 2 to 21 as the version has them, defaults for those it predates.
// The caller has checked that the file holds them all.
bool pf_readheader(msg_stream *m, pf_staged &st)
{
    int32_t at[projfile_blockcount];
    pf_walkblocks(st.version, at);
    if (!pf_readblock1(m, st))
        return false;
    pf_defaultheader(st);
    if (at[1] >= 0) {
        m->position = at[1];
        st.units = (uint32_t)msg_readint(m);
    }
    if (at[2] >= 0) {
        m->position = at[2];
        st.invert = msg_readint(m);
    }
    if (at[3] >= 0) {
        m->position = at[3];
        st.autolevel = msg_readint(m);
    }
    pf_readopblocks(m, st, at);
    if (at[10] >= 0) {
        m->position = at[10];
        if (!pf_readlayertable(m, st))
            return false;
    }
    if (at[11] >= 0) {
        m->position = at[11];
        for (project_layer &l : st.layers)
            pf_readfloats(m, l.crop, 4);
    }
    if (at[12] >= 0) {
        m->position = at[12];
        st.zfill = msg_readfloat(m);
    }
    for (pf_tool &t : st.tools)
        t.units = (int32_t)st.units;
    if (at[13] >= 0) {
        m->position = at[13];
        for (pf_tool &t : st.tools)
            t.units = msg_readint(m);
    }
    if (at[14] >= 0) {
        m->position = at[14];
        for (project_layer &l : st.layers)
            l.uid = (uint32_t)msg_readint(m);
    }
    if (at[15] >= 0) {
        m->position = at[15];
        for (project_layer &l : st.layers)
            l.groups = (uint32_t)msg_readint(m);
        for (pf_op &o : st.ops)
            o.group = msg_readint(m);
    }
    // Paths-layers belonged to every group until groups could be chosen per layer.
    if (st.version < 34)
        for (project_layer &l : st.layers)
            if (l.type == layer_paths)
                l.groups = 0x3FFu;
    pf_readlooks(m, st, at);
    if (st.layergroup >= project_maxgroups)
        return pf_refuse("current layer group", st.layergroup);
    for (pf_op &o : st.ops)
        if (o.type != -1)
            pf_migrateop(o, st);
    return !m->failed;
}

// The image chunk of rasters in a version's body: PNG while the body was
// stored as it stood, 16-bit samples once it was coded.
int pf_rasterkind(int32_t version)
{
    return version < 6 ? img_raw : version < 19 ? img_png : img_pack16;
}

int pf_pathform(int32_t version)
{
    return version < 37 ? path_formraw : version < 44 ? path_formq1 : path_formq2;
}

int64_t pf_left(const msg_stream *m)
{
    return m->failed ? 0 : (int64_t)m->end - m->position;
}

// Sections 1 and 2.
bool pf_readtext(msg_stream *m, pf_staged &st)
{
    int32_t fonts = msg_readint(m);
    sys_log("reading %d fonts...", fonts);
    // A font takes at least its name's terminator and its byte count.
    if (fonts < 0 || fonts > pf_left(m) / 5 || fonts > sys_maxfontfiles)
        return pf_refuse("font count", fonts);
    for (int i = 0; i < fonts; i++) {
        pf_font f;
        char name[msg_textmax];
        if (!msg_readtext(m, name, sizeof(name)))
            return pf_refuse("font name of font", i);
        f.name = name;
        int32_t n = msg_readint(m);
        if (n < 0 || n > pf_left(m) || n > sys_maxfontbytes)
            return pf_refuse("font byte count", n);
        f.bytes.resize((size_t)n);
        msg_read(m, f.bytes.data(), n);
        st.fonts.push_back(std::move(f));
    }
    int32_t texts = msg_readint(m);
    sys_debuglog("reading %d text objects...", texts);
    if (texts < 0 || texts > text_maxobjects)
        return pf_refuse("text-object count", texts);
    for (int i = 0; i < texts; i++) {
        pf_text t;
        t.slot = msg_readint(m);
        t.font = msg_readint(m);
        if (st.version < 35) {
            // An integer size step then: q stood for 2 x sqrt(q + 0.5) points.
            int32_t q = msg_readint(m);
            if (q < 0 || q > 1000000)
                return pf_refuse("point size step", q);
            t.ptsize = 2.0f * sqrtf((float)q + 0.5f);
        } else {
            t.ptsize = msg_readfloat(m);
        }
        t.spacing = st.version >= 25 ? msg_readfloat(m) : 0.0f;
        char text[text_maxchars];
        if (!msg_readtext(m, text, sizeof(text)))
            return pf_refuse("text of text object", i);
        t.text = text;
        if (t.slot < 0 || t.slot >= text_maxobjects)
            return pf_refuse("text-object slot", t.slot);
        if (t.font < 0 || t.font >= fonts)
            return pf_refuse("font index", t.font);
        for (const pf_text &o : st.texts)
            if (o.slot == t.slot)
                return pf_refuse("second record of text-object slot", t.slot);
        st.texts.push_back(std::move(t));
    }
    return !m->failed;
}

// Section 3: each layer's data by its type; a free slot is the magic word.
bool pf_readlayers(msg_stream *m, pf_staged &st)
{
    sys_log("@%08X: reading layers...", m->position);
    for (int i = 0; i < project_maxlayers; i++) {
        project_layer &l = st.layers[i];
        int type = l.type;
        l.type = layer_free; // owns nothing until its data is read
        int32_t start = m->position;
        if ((uint32_t)msg_readint(m) == projfile_magic) {
            if (type != layer_free)
                sys_log("@%08X !!!! layer[%d].type:%02X has no data !!!!", start, i, type);
            continue;
        }
        m->position = start;
        if (st.version < 22)
            l.uid = project_layeruid((uint32_t)(start + i));
        sys_log("layer[%02d].name: \"%s\"", i, l.name);
        sys_log("layer[%02d].uid:%08X type:%02X", i, l.uid, type);
        sys_log("@%08X reading layer data...", start);
        switch (type) {
        case layer_raster: {
            image *img = img_read(m, pf_rasterkind(st.version));
            if (!img)
                return pf_refuse("raster data of layer", i);
            l.data.img = img;
            break;
        }
        case layer_paths:
            if (!(l.data.pth = path_read(m, st.version < 17, pf_pathform(st.version))))
                return pf_refuse("path data of layer", i);
            break;
        case layer_model:
            if ((l.data.mesh = model_read(m, st.version >= 20)) < 0)
                return pf_refuse("model data of layer", i);
            break;
        case layer_text:
            l.data.text = msg_readint(m);
            if (l.data.text < 0 || l.data.text >= text_maxobjects)
                return pf_refuse("text-object slot", l.data.text);
            // Each text-layer owns its object: a shared one would be released twice.
            for (int k = 0; k < i; k++)
                if (st.layers[k].type == layer_text && st.layers[k].data.text == l.data.text)
                    return pf_refuse("text-object slot of a second layer", l.data.text);
            break;
        default:
            return pf_refuse("data without a type for layer", i);
        }
        l.type = type;
        sys_log("...read %d bytes", m->position - start);
        if (m->failed)
            return false;
    }
    return !m->failed;
}

bool pf_readsection(msg_stream *m, const char *expect)
{
    char name[64];
    if (!msg_readtext(m, name, sizeof(name)) || strcmp(name, expect) != 0) {
        sys_log("project_load: section \"%s\" missing", expect);
        return false;
    }
    sys_log("%08X: %s", m->position, name);
    return true;
}

// The sorted-order entries as the version stored them, made 5-byte entries:
// versions 10 to 15 kept a 16-bit index and the direction in the third
// byte, 16 to 23 a 24-bit index and the direction in the fifth of 8 bytes.
bool pf_readsorted(msg_stream *m, int32_t version, int32_t count, std::vector<toolpath_sorted> &out)
{
    int stride = version < 16 ? 4 : version < 24 ? 8 : 5;
    if (count < 0 || (uint32_t)count > toolpath_maxpaths || count > pf_left(m) / stride)
        return pf_refuse("sorted count", count);
    out.assign((size_t)count, toolpath_sorted{});
    for (toolpath_sorted &e : out) {
        uint8_t b[8] = {};
        msg_read(m, b, stride);
        if (stride == 4) {
            const uint8_t five[5] = {b[0], b[1], 0, 0, b[2]};
            memcpy(e.bytes, five, 5);
        } else {
            memcpy(e.bytes, b, 5);
        }
    }
    return !m->failed;
}

// Cut paths: 24-byte entries before version 24 (first vertex, count, the
// flags in the low byte of the third word, 12 bytes unused).
bool pf_readpaths(msg_stream *m, int32_t version, int32_t count, std::vector<toolpath_path> &out)
{
    int stride = version < 24 ? 24 : 9;
    if (count < 0 || (uint32_t)count > toolpath_maxpaths || count > pf_left(m) / stride)
        return pf_refuse("path count", count);
    out.resize((size_t)count);
    if (stride == 9) {
        msg_read(m, out.data(), count * 9);
        return !m->failed;
    }
    for (toolpath_path &p : out) {
        p.first = (uint32_t)msg_readint(m);
        p.count = (uint32_t)msg_readint(m);
        p.flags = (uint8_t)msg_readint(m);
        uint8_t unused[12];
        msg_read(m, unused, 12);
    }
    return !m->failed;
}

bool pf_readtoolpath(msg_stream *m, const pf_staged &st, pf_toolpath &tp)
{
    tp.slot = msg_readint(m);
    if (tp.slot < 0 || tp.slot >= toolpath_maxslots)
        return pf_refuse("toolpath slot", tp.slot);
    int32_t sorted = st.version >= 10 ? msg_readint(m) : 0;
    if (!pf_readsorted(m, st.version, sorted, tp.sorted))
        return false;
    int32_t paths = msg_readint(m);
    if (!pf_readpaths(m, st.version, paths, tp.paths))
        return false;
    int32_t verts = msg_readint(m);
    if (verts < 0 || verts > pf_left(m) / 12)
        return pf_refuse("vertex count", verts);
    tp.verts.resize((size_t)verts * 3);
    msg_read(m, tp.verts.data(), verts * 12);
    for (const toolpath_path &p : tp.paths)
        if ((uint64_t)p.first + p.count > (uint64_t)verts)
            return pf_refuse("cut path past the vertices of toolpath", tp.slot);
    for (const toolpath_sorted &e : tp.sorted)
        if (toolpath_sortedpath(e) >= (uint32_t)paths)
            return pf_refuse("sorted entry past the cut paths of toolpath", tp.slot);
    // Toolpaths were kept from the canvas corner before version 42.
    if (st.version < 42) {
        float shift[3];
        for (int k = 0; k < 3; k++)
            shift[k] = st.originfrac[k] * st.size[k];
        sys_log("offsetting pre-v42 project toolpaths... (%.3f,%.3f,%.3f)", shift[0], shift[1], shift[2]);
        for (size_t v = 0; v < tp.verts.size(); v++)
            tp.verts[v] += shift[v % 3];
    }
    sys_log("...read toolpath%d (sorted:%d paths:%d verts:%d)", tp.slot, sorted, paths, verts);
    return !m->failed;
}

// Sections 4 and 5.
bool pf_readcam(msg_stream *m, pf_staged &st)
{
    if (!pf_readsection(m, "[toolpaths]"))
        return false;
    int32_t count = msg_readint(m);
    sys_log("reading %d toolpaths... (sorted:%d version:%d)", count, st.version >= 10, st.version);
    if (count < 0 || count > toolpath_maxslots)
        return pf_refuse("toolpath count", count);
    for (int i = 0; i < count; i++) {
        pf_toolpath tp;
        if (!pf_readtoolpath(m, st, tp))
            return false;
        st.toolpaths.push_back(std::move(tp));
    }
    for (int i = 0, k = 0; i < project_maxops; i++) {
        pf_op &o = st.ops[i];
        if (o.type == -1)
            continue;
        char name[32];
        snprintf(name, sizeof(name), "[simimage%d]", k++);
        if (!pf_readsection(m, name))
            return false;
        o.simulation = img_read(m, st.version >= 40 ? img_pack10 : pf_rasterkind(st.version));
        if (m->failed)
            return pf_refuse("simulation image of operation", i);
    }
    return !m->failed;
}

using pf_block = std::unique_ptr<uint8_t, decltype(&sys_free)>;

// The body after the header: its size word, then FSE code, or with
// projfile_rawbody the bytes themselves. The decoded body, or null.
// Versions 19, 36 and 37 coded the body with zlib. It must inflate to
// exactly the size word: short or long, the body is not the one written.
bool pf_inflate(uint8_t *out, int32_t n, const uint8_t *code, int32_t codesize)
{
    uLongf got = (uLongf)n;
    int r = uncompress(out, &got, code, (uLong)codesize);
    if (r != Z_OK || got != (uLongf)n) {
        sys_log("project_load: zlib body does not inflate to %d bytes (%s, %lu)", n,
                r == Z_OK ? "short" : r == Z_BUF_ERROR ? "long or cut" : "damaged", (unsigned long)got);
        return false;
    }
    return true;
}

pf_block pf_decodebody(const uint8_t *file, int32_t size, int32_t at, int32_t version, int32_t *bodysize)
{
    pf_block body(nullptr, sys_free);
    if (size - at < 4) {
        pf_refuse("file without a body, size", size);
        return body;
    }
    uint32_t word = (uint32_t)file[at] | (uint32_t)file[at + 1] << 8 | (uint32_t)file[at + 2] << 16 |
                    (uint32_t)file[at + 3] << 24;
    const uint8_t *code = file + at + 4;
    int32_t codesize = size - at - 4;
    int32_t n = (int32_t)(word & ~projfile_rawbody);
    sys_log("@%08X decompressing %db to %db...", at, codesize, n);
    const bool zlib = version == 19 || version == 36 || version == 37;
    if (version < projfile_version && (word & projfile_rawbody)) {
        pf_refuse("body size word", (int)(word >> 1));
        return body;
    }
    // zlib codes at most about 1032 bytes in one.
    if (zlib && (int64_t)n > (int64_t)codesize * 1032 + 1024) {
        pf_refuse("zlib body size", n);
        return body;
    }
    if ((word & projfile_rawbody) && n != codesize) {
        pf_refuse("raw body size", n);
        return body;
    }
    body.reset((uint8_t *)sys_malloc(n > 0 ? n : 1));
    if (!body) {
        pf_refuse("body size", n);
        return body;
    }
    *bodysize = n;
    if (word & projfile_rawbody) {
        memcpy(body.get(), code, (size_t)n);
        return body;
    }
    if (zlib) {
        if (!pf_inflate(body.get(), n, code, codesize))
            body.reset();
        else
            sys_log("...decompressed %db to %db", codesize, n);
        return body;
    }
    size_t r = FSE_decompress(body.get(), (size_t)n, code, (size_t)codesize);
    if (FSE_isError(r)) {
        sys_log("project_load: body does not decode (%s)", FSE_getErrorName(r));
        body.reset();
    } else if (r != (size_t)n) {
        // A cut body decodes short without an error of its own.
        pf_refuse("decoded body size", (int)r);
        body.reset();
    } else {
        sys_log("...decompressed %db to %db", codesize, n);
    }
    return body;
}

// Versions 1 to 11 held one raster: a string, then the image, which
// becomes the only layer; the resolution follows from its width.
bool pf_readsingle(msg_stream *m, pf_staged &st)
{
    sys_log("creating raster-layer project's image...");
    char text[msg_textmax];
    int32_t at = m->position;
    if (!msg_readtext(m, text, sizeof(text)))
        return pf_refuse("image string at", at);
    sys_log("%08X: %s", at, text);
    image *img = img_read(m, pf_rasterkind(st.version));
    if (!img || m->failed) {
        img_free(img);
        return pf_refuse("image of the single-raster project, version", st.version);
    }
    if (st.version >= 4 && st.autolevel) {
        image *levelled = img_scalarautolevel(img);
        if (levelled) {
            img_free(img);
            img = levelled;
        }
    }
    project_layer &l = st.layers[0];
    snprintf(l.name, sizeof(l.name), "RasterLayer");
    l.type = layer_raster;
    l.data.img = img;
    l.aspect = (float)img->height / (float)img->width;
    l.flags = st.version >= 3 && st.invert ? 16u : 0u;
    l.smooth = st.version >= 10 ? std::clamp(st.detail, 0, 32) : 0;
    l.blend = 3;
    l.groups = 1;
    const float centre[3] = {0.5f * st.size[0], 0.5f * st.size[1], 0.0f};
    memcpy(l.pos, centre, sizeof(centre));
    memcpy(l.size, st.size, sizeof(l.size));
    double t = std::floor(100.0 * sys_time.load());
    l.uid = project_layeruid((t >= 0.0 && t < 1.8e19 ? (uint32_t)(uint64_t)t : 0u) + layer_raster);
    float scale = st.units == 2 ? 0.03937008f : 1.0f;
    double ppi = (double)img->width / ((double)st.size[0] * scale);
    if (!(ppi < 1e6))
        return pf_refuse("image resolution of the single-raster project, width", img->width);
    st.ppi = ((int32_t)ppi + 9) / 10 * 10;
    st.single = 1;
    return true;
}

bool pf_stage(const uint8_t *file, int32_t size, pf_staged &st)
{
    msg_stream m;
    int32_t at[projfile_blockcount];
    int32_t headerend = pf_walkblocks(st.version, at);
    if (size < headerend)
        return pf_refuse("file shorter than its header, size", size);
    msg_readfrom(&m, file, headerend);
    if (!pf_readheader(&m, st)) {
        sys_log("project_load: header damaged");
        return false;
    }
    int32_t n = 0;
    pf_block body(nullptr, sys_free);
    if (st.version < 19) {
        // The body stood uncoded after the header, without a size word.
        msg_readfrom(&m, file, size);
        m.position = headerend;
        n = size;
    } else {
        body = pf_decodebody(file, size, headerend, st.version, &n);
        if (!body)
            return false;
        msg_readfrom(&m, body.get(), n);
    }
    bool ok = st.version < 12 ? pf_readsingle(&m, st)
                              : (st.version < 14 || pf_readtext(&m, st)) && pf_readlayers(&m, st);
    if (ok && pf_readcam(&m, st))
        return true;
    sys_log("project_load: body damaged or cut (at %08X of %08X)", m.position, n);
    return false;
}

// ---------------------------------------------------------------- installing it

void pf_installheader(const pf_staged &st)
{
    memcpy(project.size, st.size, sizeof(st.size));
    memcpy(project.originfrac, st.originfrac, sizeof(st.originfrac));
    for (int i = 0; i < 3; i++)
        project.originoffset[i] = -(st.originfrac[i] * st.size[i]);
    project.aspect = st.size[0] != 0.0f ? st.size[1] / st.size[0] : 1.0f;
    memcpy(project.viewwords, st.viewwords, sizeof(st.viewwords));
    project.cfgword = st.cfgword;
    project.units = st.units;
    project.scale = st.units == 2 ? 0.03937008f : 1.0f;
    project.ppi = st.ppi;
    project.zfill = st.zfill;
    // What a file lacks keeps the reset's values.
    if (st.haslooks) {
        memcpy(project.canvascolor, st.canvascolor, sizeof(st.canvascolor));
        if (!st.simdefault)
            memcpy(project.simcolor, st.simcolor, sizeof(st.simcolor));
        memcpy(project.colorcurve, st.colorcurve, sizeof(st.colorcurve));
    }
    if (st.haswood)
        memcpy(project.woodcolor, st.woodcolor, sizeof(st.woodcolor));
    project_layergroup = st.layergroup;
    project.renderstyle = st.renderstyle;
    memcpy(project.rendersettings, st.rendersettings, sizeof(st.rendersettings));
}

// Each stored font becomes a data font record with a claimed cache entry
// that a job fills; text objects name the records.
bool pf_installtext(const pf_staged &st)
{
    if (!sys_fontlist || !text_objects) {
        sys_log("project_load: no font table for %d fonts", (int)st.fonts.size());
        return st.fonts.empty() && st.texts.empty();
    }
    int first = sys_fontcount;
    if ((size_t)first + st.fonts.size() > (size_t)sys_maxfontfiles)
        return pf_refuse("data fonts beyond the font table, count", (int)st.fonts.size());
    for (const pf_font &f : st.fonts) {
        int font = sys_fontcount++;
        sys_fontlist[font] = {sys_strdup(f.name.c_str()), nullptr, 1, -1, 0};
        uint8_t *bytes = (uint8_t *)sys_malloc((int32_t)std::max<size_t>(f.bytes.size(), 1));
        if (!bytes)
            return false;
        memcpy(bytes, f.bytes.data(), f.bytes.size());
        int e = font_claimentry(font, bytes, (int32_t)f.bytes.size());
        if (e < 0) {
            sys_log("!! cachedatafont: overflow! font[%d]", font);
            sys_free(bytes);
        } else {
            sys_log("data font[%d] cache[%d]", font, e);
            sys_threadjob("cachedatafont", job_cachedatafont, (void *)(intptr_t)font);
        }
        sys_log("...read data font[%d] \"%s\" (%d bytes)", font, f.name.c_str(), (int)f.bytes.size());
    }
    for (const pf_text &t : st.texts) {
        text_object &o = text_objects[t.slot];
        snprintf(o.text, sizeof(o.text), "%s", t.text.c_str());
        o.hash = text_hash(o.text);
        o.font = first + t.font;
        std::atomic_ref<int32_t>(sys_fontlist[o.font].uses).fetch_add(1);
        o.ptsize = t.ptsize;
        o.drawsize = text_drawsize(t.ptsize, (float)st.ppi);
        o.spacing = t.spacing;
        o.busy = 0;
        o.updated = 0;
        sys_log("...read textobject[%d]: font:%d ptsize:%.2f str:\"%s\"", t.slot, o.font, o.ptsize, o.text);
    }
    return true;
}

// Hands the staged layers over; a model-layer gets its shaded render model.
void pf_installlayers(pf_staged &st)
{
    for (int i = 0; i < project_maxlayers; i++) {
        project_layer &src = st.layers[i];
        project_layer &l = project.layers[i];
        memcpy(l.name, src.name, sizeof(l.name));
        l.type = src.type;
        if (src.type == layer_free) {
            l.uid = src.uid;
            continue;
        }
        l.flags = src.flags;
        l.smooth = src.smooth;
        l.blend = src.blend;
        l.zfill = src.zfill;
        l.aspect = src.aspect;
        memcpy(l.pos, src.pos, sizeof(l.pos));
        memcpy(l.size, src.size, sizeof(l.size));
        memcpy(l.tilt, src.tilt, sizeof(l.tilt));
        l.rotation = src.rotation;
        memcpy(l.crop, src.crop, sizeof(l.crop));
        l.uid = src.uid;
        l.groups = src.groups;
        l.data = src.data;
        l.depth = nullptr;
        l.stale = 1;
        l.rendermodel = -1;
        if (l.type == layer_model) {
            project_meshuses[l.data.mesh]++;
            l.rendermodel = r_modelnew();
            if (l.rendermodel >= 0) {
                mesh_drawtris(&models[l.data.mesh]);
                r_modelend();
            }
        }
        src.type = layer_free; // the project owns the data now
        numlayertypes[l.type]++;
        numlayers++;
        sys_log("layer[%02d].size = %.4f %.4f %.4f", i, l.size[0], l.size[1], l.size[2]);
    }
}

bool pf_installtoolpaths(const pf_staged &st)
{
    for (const pf_toolpath &src : st.toolpaths) {
        if (toolpaths[src.slot].verts)
            toolpath_free(src.slot); // a second record of a slot replaces the first
        if (toolpath_newat(src.slot) != src.slot)
            return false;
        toolpath &tp = toolpaths[src.slot];
        uint32_t verts = (uint32_t)(src.verts.size() / 3);
        if (verts >= tp.sz_verts) {
            float *grown = (float *)sys_malloc((int32_t)((verts + 1) * 12));
            if (!grown)
                return false;
            sys_free(tp.verts);
            tp.verts = grown;
            tp.sz_verts = verts + 1;
        }
        // Files before version 10 have no sorted list: an empty vector has no data.
        std::copy(src.verts.begin(), src.verts.end(), tp.verts);
        std::copy(src.paths.begin(), src.paths.end(), tp.paths);
        std::copy(src.sorted.begin(), src.sorted.end(), tp.sorted);
        tp.num_verts = verts;
        tp.num_paths = (uint32_t)src.paths.size();
        tp.num_sorted = (uint32_t)src.sorted.size();
    }
    return true;
}

void pf_installops(pf_staged &st)
{
    for (int i = 0; i < project_maxops; i++) {
        pf_op &o = st.ops[i];
        if (o.type == -1)
            continue;
        projop &e = project.ops[i];
        memcpy(e.name, o.name, sizeof(e.name));
        e.camop = i;
        e.tool = o.tool;
        e.include = o.include;
        e.show = o.show;
        e.group = o.group;
        e.created = (float)sys_seconds();
        e.simulation = o.simulation;
        o.simulation = nullptr;
        if (o.tool >= 1) {
            int32_t *list = project.tools[o.tool - 1].ops, *place = nullptr;
            bool listed = false;
            for (int k = 0; k < project_maxops; k++) {
                listed = listed || list[k] == i;
                if (!place && list[k] == -1)
                    place = &list[k];
            }
            if (!listed && place) {
                *place = i;
                sys_log("tool%2d += op%d", o.tool, i);
            }
        }
        camop &r = cam_ops[i];
        r.type = o.type;
        r.coolant = o.coolant;
        r.tool = o.tool;
        r.engagefeed = o.engagefeed;
        r.feed = o.feed;
        r.speed = o.speed;
        r.dir = o.dir;
        r.entry = o.entry;
        r.stock = o.stock;
        r.step = o.step;
        r.z_doc = o.z_doc;
        r.z_max = o.z_max;
        r.z_min = o.z_min;
        r.z_safe = o.z_safe;
        memcpy(r.aux, o.aux, sizeof(r.aux));
        r.flags = o.flags;
        r.model = -1;
        r.toolpath = o.toolpath >= 0 && toolpaths[o.toolpath].verts ? o.toolpath : -1;
        r.progress = r.toolpath >= 0 ? 1.0f : 0.0f;
        r.eta = 0.0f;
        if (r.toolpath < 0 || !toolpath_compile(r.toolpath, r.z_safe + project.size[2])) {
            char text[160];
            snprintf(text, sizeof(text), "Project operation #%02d \"%s\" has no cutpaths!", i + 1, e.name);
            sys_log("%s", text);
            sys_messagebox("Load Project", text, 0, 4, 0);
            continue;
        }
        r.eta = (float)toolpath_eta(r.toolpath, (float)r.feed, cfg_getf(cfg_rapidfeed), cfg_getf(cfg_rapidaccel));
    }
}

bool pf_install(pf_staged &st)
{
    pf_installheader(st);
    if (!pf_installtext(st))
        return false;
    pf_installlayers(st);
    if (st.single) {
        project_layerfitsize(0);
        sys_log("...created layer[%d]:%.4fx%.4fx%.4f from project's image (ppi:%d)", 0, project.layers[0].size[0],
                project.layers[0].size[1], project.layers[0].size[2], project.ppi);
    }
    for (int n = 1; n <= project_maxtools; n++) {
        const pf_tool &t = st.tools[n - 1];
        cam_settool(n, t.name, t.type, t.units, t.flutes, t.flutediameter, t.flutelength, t.aux, t.length,
                    t.rampangle);
    }
    if (!pf_installtoolpaths(st))
        return false;
    pf_installops(st);
    return true;
}

// Waits for the work that reads the project: a composition or a save.
void pf_waitidle()
{
    while (project_canvasjob.updating || project.updatingcanvas || project_savebusy || project.generating[0] ||
           project.generating[1]) {
        sys_log("project_load: waiting for background work...");
        SDL_Delay(200);
    }
    if (image *pending = project_canvasjob.pendingcanvas.exchange(nullptr))
        img_free(pending);
}

const char *pf_filename(const char *path)
{
    const char *name = path;
    for (const char *c = path; *c; c++)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    return name;
}

} // namespace

int project_load(const char *path, int named)
{
    double start = sys_seconds();
    const char *name = pf_filename(path);
    snprintf(project_filename, sizeof(project_filename), "%s", name);
    sys_log("loading project file '%s'...", name);
    auto refused = [&] {
        sys_log("project_load: \"%s\" not loaded, the open project is unchanged", path);
        sys_status("...failed to load project");
        return 0;
    };
    int32_t size = 0;
    std::unique_ptr<uint8_t, decltype(&sys_free)> file((uint8_t *)file_load(path, &size, 0, projfile_maxbytes),
                                                        sys_free);
    if (!file)
        return refused();
    auto word = [&](int at) {
        return size >= at + 4 ? (uint32_t)file.get()[at] | (uint32_t)file.get()[at + 1] << 8 |
                                    (uint32_t)file.get()[at + 2] << 16 | (uint32_t)file.get()[at + 3] << 24
                              : 0u;
    };
    auto st = std::make_unique<pf_staged>();
    st->version = (int32_t)word(4);
    sys_log("...project file version: %d", st->version);
    if (word(0) != projfile_magic) {
        sys_error("Unable to recognized the project file '%s'. The file is either corrupted or not a valid Kerfmill "
                  "project file.",
                  name);
        return refused();
    }
    if (st->version > projfile_version) {
        sys_error("The project file '%s' is from a newer version of Kerfmill and will require updating to the latest "
                  "version.",
                  name);
        return refused();
    }
    if (st->version < 1) {
        sys_log("project_load: version %d refused", st->version);
        return refused();
    }
    if (!pf_stage(file.get(), size, *st))
        return refused();
    const int32_t version = st->version;
    pf_waitidle();
    project_reset();
    if (!pf_install(*st)) {
        // Never a half-loaded project: what was installed goes again.
        st.reset();
        project_reset();
        sys_log("project_load: \"%s\" could not be installed, a default project instead", path);
        sys_status("...failed to load project");
        return 0;
    }
    st.reset();
    sys_status("...loaded '%s' (%.2fmb, v%02d, %.3fs)", name, size / 1048576.0, version,
               sys_seconds() - start);
    project_updatecanvas(1, 1, (uint32_t)project_layergroup);
    project_frameview();
    const char *units = project_unitnames[project.units <= 2 ? project.units : 0];
    if (named) {
        sys_settitle("%s - %s (%s)", SYS_TITLE, name, units);
        snprintf(project.path, sizeof(project.path), "%s", path);
        cfg_settext(cfg_projectpath, path);
        project_hasfile = 1;
        project_changetime = 0.0f;
    } else {
        sys_settitle("%s (%s)", SYS_TITLE, units);
        project_hasfile = 0;
        project_changetime = (float)sys_seconds();
    }
    project_saved = 1;
    return 1;
}
