// Building a project file's bytes: the header blocks field by field, then
// the body of fonts, text objects, layer data, toolpaths and simulation
// images, FSE-coded or stored raw when it does not code. projectfile.cpp
// writes the result to disk; the reading side is projectread.cpp.
//
// Contents: header blocks, the body, coding the body.
#include "project/projectwrite.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/model.h"
#include "geom/path.h"
#include "img/chunk.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "render/fontcache.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/fse.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "sys/thread.h"

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int32_t pf_opentry = 128;
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

// Each toolpath block's byte count is a 32-bit word of the file, and the
// reader refuses a count larger than the bytes that follow: a slot whose
// vertices (12 bytes each, so above 178,956,970), cut paths or sorted
// entries do not fit would make a file that never loads. Such a slot
// refuses the save.
int pf_checktoolpaths()
{
    for (int s = 0; s < toolpath_maxslots; s++) {
        const toolpath &tp = toolpaths[s];
        if (!tp.verts)
            continue;
        const int64_t blocks[3] = {(int64_t)tp.num_sorted * (int64_t)sizeof(toolpath_sorted),
                                   (int64_t)tp.num_paths * (int64_t)sizeof(toolpath_path), (int64_t)tp.num_verts * 12};
        if (std::max({blocks[0], blocks[1], blocks[2]}) > INT32_MAX) {
            sys_log("project_write: toolpath %d is too large for a project file (%u vertices, %u paths, %u sorted)",
                    s, tp.num_verts, tp.num_paths, tp.num_sorted);
            return 0;
        }
    }
    return 1;
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

} // namespace

int32_t pf_build(msg_stream *m)
{
    if (!pf_checktoolpaths())
        return 0;
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
