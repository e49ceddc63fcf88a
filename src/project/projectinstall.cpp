// Installing a staged project file: what can still fail (data fonts' bytes,
// toolpath slots) is made ready before the open project is reset, so that
// once the reset has run the install cannot fail; then the header, text
// objects, layers, tools, toolpaths and operations are handed over.
#include "project/projectinstall.h"

#include "cam/cam.h"
#include "cam/compile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/model.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/projectread.h"
#include "render/draw.h"
#include "render/fontcache.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

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
// that a job fills; text objects name the records. The reset has dropped
// the open project's data fonts, so the records start after the system's.
void pf_installtext(pf_staged &st)
{
    int first = sys_fontcount;
    for (pf_font &f : st.fonts) {
        int font = sys_fontcount++;
        sys_fontlist[font] = {f.record, nullptr, 1, -1, 0};
        f.record = nullptr;
        int e = font_claimentry(font, f.block, (int32_t)f.bytes.size());
        if (e < 0) {
            sys_log("!! cachedatafont: overflow! font[%d]", font);
        } else {
            f.block = nullptr; // the cache entry owns the bytes now
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
        layer_copystate(l, src);
        l.uid = src.uid;
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

void pf_installtoolpaths(pf_staged &st)
{
    for (int slot = 0; slot < toolpath_maxslots; slot++)
        if (st.slots[slot].verts)
            toolpath_adopt(slot, st.slots[slot]); // the reset has freed every slot
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

// The data fonts' records and bytes: the reset drops the open project's
// data fonts, leaving the system's.
bool pf_preparefonts(pf_staged &st)
{
    if (!sys_fontlist || !text_objects) {
        if (st.fonts.empty() && st.texts.empty())
            return true;
        sys_log("project_load: no font table for %d fonts", (int)st.fonts.size());
        return false;
    }
    if ((size_t)std::min(sys_fontcount, font_systemcount) + st.fonts.size() > (size_t)sys_maxfontfiles)
        return pf_refuse("data fonts beyond the font table, count", (int)st.fonts.size());
    for (pf_font &f : st.fonts) {
        f.record = sys_strdup(f.name.c_str());
        f.block = (uint8_t *)sys_malloc((int32_t)std::max<size_t>(f.bytes.size(), 1));
        if (!f.record || !f.block)
            return pf_refuse("memory for the bytes of a data font, size", (int)f.bytes.size());
        memcpy(f.block, f.bytes.data(), f.bytes.size());
    }
    return true;
}

// Each slot's record, built whole; a second record of a slot replaces the
// first, as it did when slots were filled in file order.
bool pf_preparetoolpaths(pf_staged &st)
{
    for (const pf_toolpath &src : st.toolpaths) {
        toolpath &tp = st.slots[src.slot];
        toolpath_release(tp);
        uint32_t verts = (uint32_t)(src.verts.size() / 3);
        if (!toolpath_alloc(tp, verts))
            return pf_refuse("memory for the vertices of toolpath", src.slot);
        // Files before version 10 have no sorted list: an empty vector has no data.
        std::copy(src.verts.begin(), src.verts.end(), tp.verts);
        std::copy(src.paths.begin(), src.paths.end(), tp.paths);
        std::copy(src.sorted.begin(), src.sorted.end(), tp.sorted);
        tp.num_verts = verts;
        tp.num_paths = (uint32_t)src.paths.size();
        tp.num_sorted = (uint32_t)src.sorted.size();
    }
    st.toolpaths.clear();
    return true;
}

} // namespace

bool pf_prepare(pf_staged &st)
{
    return pf_preparefonts(st) && pf_preparetoolpaths(st);
}

void pf_install(pf_staged &st)
{
    pf_installheader(st);
    pf_installtext(st);
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
    pf_installtoolpaths(st);
    pf_installops(st);
}
