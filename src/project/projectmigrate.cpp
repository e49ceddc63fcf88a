// What older versions of the project file stored differently, brought to
// today's meaning while a file is staged: the defaults of header blocks a
// version predates, operation values that changed their sense, older entry
// strides, the zlib bodies of three versions and the single raster of the
// first eleven.
#include "project/projectmigrate.h"

#include "cam/cam.h"
#include "cam/toolpath.h"
#include "geom/path.h"
#include "img/adjust.h"
#include "img/chunk.h"
#include "img/image.h"
#include "project/layer.h"
#include "project/projectread.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/msg.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <zlib.h>

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

namespace {

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

} // namespace

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

void pf_migratelooks(pf_staged &st, bool hadwood)
{
    if (st.haslooks && st.version == 31)
        for (int k = 0; k < 3; k++)
            std::swap(st.simcolor[0][k], st.simcolor[1][k]);
    // Before 43 a wood-grain project kept its grain colours in the
    // simulation colours, and the simulation took the defaults.
    if (!hadwood && st.renderstyle != 0 && st.haslooks) {
        for (int k = 0; k < 3; k++) {
            st.woodcolor[0][k] = st.simcolor[1][k];
            st.woodcolor[1][k] = st.simcolor[0][k];
        }
        st.haswood = 1;
        st.simdefault = 1;
    }
}

void pf_migrateheader(pf_staged &st)
{
    // Paths-layers belonged to every group until groups could be chosen per layer.
    if (st.version < 34)
        for (project_layer &l : st.layers)
            if (l.type == layer_paths)
                l.groups = 0x3FFu;
    for (pf_op &o : st.ops)
        if (o.type != -1)
            pf_migrateop(o, st);
}

// PNG while the body was stored as it stood, 16-bit samples once it was
// coded.
int pf_rasterkind(int32_t version)
{
    return version < 6 ? img_raw : version < 19 ? img_png : img_pack16;
}

int pf_pathform(int32_t version)
{
    return version < 37 ? path_formraw : version < 44 ? path_formq1 : path_formq2;
}

// The sorted-order entries as the version stored them, made 5-byte entries:
// versions 10 to 15 kept a 16-bit index and the direction in the third
// byte, 16 to 23 a 24-bit index and the direction in the fifth of 8 bytes.
bool pf_readptsize(msg_stream *m, int32_t version, float *ptsize)
{
    if (version >= 35) {
        *ptsize = msg_readfloat(m);
        return true;
    }
    // An integer size step then: q stood for 2 x sqrt(q + 0.5) points.
    int32_t q = msg_readint(m);
    if (q < 0 || q > 1000000)
        return pf_refuse("point size step", q);
    *ptsize = 2.0f * sqrtf((float)q + 0.5f);
    return true;
}

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

void pf_shifttoolpath(const pf_staged &st, std::vector<float> &verts)
{
    if (st.version >= 42)
        return;
    float shift[3];
    for (int k = 0; k < 3; k++)
        shift[k] = st.originfrac[k] * st.size[k];
    sys_log("offsetting pre-v42 project toolpaths... (%.3f,%.3f,%.3f)", shift[0], shift[1], shift[2]);
    for (size_t v = 0; v < verts.size(); v++)
        verts[v] += shift[v % 3];
}

bool pf_zlibversion(int32_t version)
{
    return version == 19 || version == 36 || version == 37;
}

// Short or long, the body is not the one written.
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
