// Reading a project file into staging: the header blocks of the file's
// version, the body decoded, and every section read and checked into a
// pf_staged record before the open project is touched. What older versions
// stored differently is brought to today's meaning by projectmigrate.cpp;
// projectinstall.cpp hands the staged project over.
//
// Contents: header blocks, the body's sections, decoding the body.
#include "project/projectread.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/model.h"
#include "geom/path.h"
#include "img/chunk.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/projectfile.h"
#include "project/projectmigrate.h"
#include "render/fontcache.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/fse.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

pf_staged::~pf_staged()
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
    for (pf_font &f : fonts) {
        sys_free(f.record);
        sys_free(f.block);
    }
    for (toolpath &tp : slots)
        toolpath_release(tp);
}

bool pf_refuse(const char *what, int value)
{
    sys_log("project_load: %s %d refused", what, value);
    return false;
}

void pf_readfloats(msg_stream *m, float *v, int n)
{
    for (int i = 0; i < n; i++)
        v[i] = msg_readfloat(m);
}

int64_t pf_left(const msg_stream *m)
{
    return m->failed ? 0 : (int64_t)m->end - m->position;
}

namespace {

void pf_readname(msg_stream *m, char *out)
{
    msg_read(m, out, project_maxname);
    out[project_maxname - 1] = 0;
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
// grain.
void pf_readlooks(msg_stream *m, pf_staged &st, const int32_t at[projfile_blockcount])
{
    if (at[16] >= 0) {
        m->position = at[16];
        pf_readfloats(m, &st.canvascolor[0][0], 6);
        pf_readfloats(m, &st.simcolor[0][0], 6);
        pf_readfloats(m, st.colorcurve, 2);
        st.haslooks = 1;
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
    }
    pf_migratelooks(st, at[20] >= 0);
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
    pf_readlooks(m, st, at);
    if (st.layergroup >= project_maxgroups)
        return pf_refuse("current layer group", st.layergroup);
    pf_migrateheader(st);
    return !m->failed;
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
        if (!pf_readptsize(m, st.version, &t.ptsize))
            return false;
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
    pf_shifttoolpath(st, tp.verts);
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
    const bool zlib = pf_zlibversion(version);
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

} // namespace

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
