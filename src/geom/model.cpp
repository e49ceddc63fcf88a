// Mesh models: the 32-slot table, vertex and face appends with the vertex
// hash, and the raw and quantised byte forms. Stored models come from files
// and blobs: the reader checks counts, capacities and face indexes against
// the blob before it allocates or trusts them.
#include "geom/model.h"

#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <climits>
#include <cmath>
#include <cstring>

model models[mdl_maxmodels];
int mdl_cursor = 0;
int mdl_count = 0;
int mdl_current = -1;
vbucket *vbuckets = nullptr;
int mdl_lastbucket = -1;

// A slot taken by mdl_alloc has no capacity until its caller gives it
// arrays; this mark keeps it from being handed out again meanwhile.
static bool mdl_taken[mdl_maxmodels];

constexpr float mdl_emptymin = 9999999.0f;
constexpr int mdl_headerbytes = 40;

int mdl_alloc()
{
    for (int n = 0; n < mdl_maxmodels; n++) {
        int slot = (mdl_cursor + n) % mdl_maxmodels;
        if (models[slot].sz_verts || mdl_taken[slot])
            continue;
        mdl_cursor = slot;
        model &m = models[slot];
        m = model{};
        for (int i = 0; i < 3; i++) {
            m.min[i] = mdl_emptymin;
            m.max[i] = -mdl_emptymin;
        }
        mdl_current = slot;
        mdl_taken[slot] = true;
        mdl_count++;
        return slot;
    }
    mdl_cursor = (mdl_cursor + mdl_maxmodels) % mdl_maxmodels;
    sys_error("mdl_alloc: overflow");
    return -1;
}

void mdl_free(int slot)
{
    if (slot < 0 || slot >= mdl_maxmodels)
        return;
    model &m = models[slot];
    sys_free(m.verts);
    sys_free(m.faces);
    m = model{};
    if (mdl_taken[slot] && mdl_count > 0)
        mdl_count--;
    mdl_taken[slot] = false;
    if (mdl_current == slot)
        mdl_current = -1;
}

// Allocates n elements of size bytes, with the product checked in 64 bits.
static void *mdl_allocarray(uint32_t n, uint32_t size)
{
    uint64_t bytes = (uint64_t)n * size;
    if (bytes == 0 || bytes > INT32_MAX)
        return nullptr;
    return sys_malloc((int32_t)bytes);
}

int mdl_reserve(uint32_t verts, uint32_t faces)
{
    if (mdl_current < 0) {
        sys_log("mdl_reserve: no current model");
        return 0;
    }
    model &m = models[mdl_current];
    float *v = (float *)mdl_allocarray(verts, 12);
    model_face *f = (model_face *)mdl_allocarray(faces, sizeof(model_face));
    if (!v || !f) {
        sys_free(v);
        sys_free(f);
        sys_log("mdl_reserve: failed to allocate %u vertices and %u faces", verts, faces);
        return 0;
    }
    sys_free(m.verts);
    sys_free(m.faces);
    m.verts = v;
    m.faces = f;
    m.sz_verts = verts;
    m.sz_faces = faces;
    m.num_verts = m.num_faces = 0;
    return 1;
}

int mdl_trim(int slot)
{
    if (slot < 0 || slot >= mdl_maxmodels || !models[slot].sz_verts) {
        sys_log("mdl_trim: no model in slot %d", slot);
        return 0;
    }
    model &m = models[slot];
    uint32_t nv = m.num_verts ? m.num_verts : 1, nf = m.num_faces ? m.num_faces : 1;
    // A refused allocation only keeps the larger arrays.
    if (nv < m.sz_verts) {
        if (float *v = (float *)sys_realloc(m.verts, (int32_t)(nv * 12u))) {
            m.verts = v;
            m.sz_verts = nv;
        }
    }
    if (nf < m.sz_faces) {
        if (model_face *f = (model_face *)sys_realloc(m.faces, (int32_t)(nf * sizeof(model_face)))) {
            m.faces = f;
            m.sz_faces = nf;
        }
    }
    return m.sz_verts == nv && m.sz_faces == nf;
}

// Doubles an array of n elements of the given size; null when it cannot.
static void *mdl_growarray(void *block, uint32_t n, uint32_t size)
{
    uint64_t bytes = 2 * (uint64_t)(n ? n : 1) * size;
    if (bytes > INT32_MAX)
        return nullptr;
    return sys_realloc(block, (int32_t)bytes);
}

// One axis of the bucket hash: the product in double precision, reduced
// modulo 2^64 when it is larger, so the integer conversion is defined.
static uint64_t mdl_hashaxis(float v, double k)
{
    double d = ((double)std::fabs(v) + 1.0) * k;
    constexpr double two64 = 18446744073709551616.0;
    if (d >= two64)
        d = std::fmod(d, two64);
    return (uint64_t)d;
}

int mdl_hash(const float p[3])
{
    uint64_t h = mdl_hashaxis(p[0], 11111117.0) ^ mdl_hashaxis(p[1], 55555553.0) ^ mdl_hashaxis(p[2], 71111111.0);
    return (int)(h & 0xFFFFF);
}

// Looks the point up in its bucket: an existing vertex, the index the new
// vertex will take (entered in the bucket), or -1 when the bucket is full.
static int mdl_hashlookup(const model &m, const float p[3], int *found)
{
    int h = mdl_hash(p);
    vbucket &b = vbuckets[h];
    *found = -1;
    for (int i = 0; i < b.count; i++) {
        int v = b.index[i];
        const float *q = m.verts + 3 * v;
        float d = (q[0] - p[0]) * (q[0] - p[0]) + (q[1] - p[1]) * (q[1] - p[1]) + (q[2] - p[2]) * (q[2] - p[2]);
        if (d < 1e-6f) {
            if (memcmp(q, p, 12) != 0)
                sys_log(" hash[%8X] %f %f %f = %f %f %f", h, p[0], p[1], p[2], q[0], q[1], q[2]);
            *found = v;
            return 1;
        }
    }
    if (b.count >= vbucket_entries) {
        mdl_lastbucket = h;
        return 0;
    }
    b.index[b.count++] = (int32_t)m.num_verts;
    return 1;
}

int mdl_vert(const float p[3])
{
    if (mdl_current < 0 || !models[mdl_current].verts) {
        sys_log("mdl_vert: no current model");
        return -1;
    }
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
        sys_log("mdl_vert: refused a non-finite point");
        return -1;
    }
    model &m = models[mdl_current];
    if (vbuckets) {
        int found;
        if (!mdl_hashlookup(m, p, &found))
            return -1;
        if (found >= 0)
            return found;
    }
    if (m.num_verts == m.sz_verts) {
        float *v = (float *)mdl_growarray(m.verts, m.sz_verts, 12);
        if (!v) {
            sys_error("mdl_vert: failed to reallocate verts buffer");
            return -1;
        }
        m.verts = v;
        m.sz_verts = 2 * (m.sz_verts ? m.sz_verts : 1);
    }
    memcpy(m.verts + 3 * m.num_verts, p, 12);
    for (int i = 0; i < 3; i++) {
        m.min[i] = p[i] < m.min[i] ? p[i] : m.min[i];
        m.max[i] = p[i] > m.max[i] ? p[i] : m.max[i];
    }
    return (int)m.num_verts++;
}

int mdl_face(uint32_t a, uint32_t b, uint32_t c)
{
    if (mdl_current < 0 || !models[mdl_current].faces) {
        sys_log("mdl_face: no current model");
        return -1;
    }
    model &m = models[mdl_current];
    if (m.num_faces == m.sz_faces) {
        model_face *f = (model_face *)mdl_growarray(m.faces, m.sz_faces, sizeof(model_face));
        if (!f) {
            sys_error("mdl_face: failed to reallocate faces buffer");
            return -1;
        }
        m.faces = f;
        m.sz_faces = 2 * (m.sz_faces ? m.sz_faces : 1);
        sys_debuglog("realloc faces %db", (int)m.sz_faces);
    }
    m.faces[m.num_faces] = model_face{a, b, c, {0, 0, 0}};
    return (int)m.num_faces++;
}

// ---------------------------------------------------------------- byte forms

static uint16_t mdl_quantize(double scaled)
{
    double d = scaled + 0.5;
    if (!(d >= 0.0))
        return 0;
    return d >= 65535.0 ? 65535 : (uint16_t)(uint32_t)d;
}

static uint16_t mdl_quantvert(float v, float lo, float hi)
{
    if (hi == lo)
        return 0;
    float q = (v - lo) / (hi - lo) * 65535.0f;
    return mdl_quantize((double)q);
}

static uint16_t mdl_quantnormal(float n)
{
    return mdl_quantize((double)((n + 1.0f) * 0.5f * 65535.0f));
}

static void mdl_logline(const char *who, const model &m)
{
    sys_log("%s: verts%d faces%d (%3.2f %3.2f %3.2f)-(%3.2f %3.2f %3.2f)", who, (int)m.num_verts, (int)m.num_faces,
            m.min[0], m.min[1], m.min[2], m.max[0], m.max[1], m.max[2]);
}

int model_write(msg_stream *s, int slot, int quantised)
{
    if (slot < 0 || slot >= mdl_maxmodels) {
        sys_log("model_write: invalid slot %d", slot);
        return 0;
    }
    const model &m = models[slot];
    for (uint32_t w : {m.sz_verts, m.sz_faces, m.num_verts, m.num_faces})
        msg_writeint(s, (int32_t)w);
    msg_writevec(s, m.min);
    msg_writevec(s, m.max);
    sys_debuglog("writing vertices...");
    if (quantised) {
        for (uint32_t v = 0; v < m.num_verts; v++)
            for (int i = 0; i < 3; i++)
                msg_writeshort(s, (int16_t)mdl_quantvert(m.verts[3 * v + i], m.min[i], m.max[i]));
    } else if (m.num_verts) {
        msg_write(s, m.verts, (int32_t)(m.num_verts * 12));
    }
    sys_debuglog("writing faces...");
    if (quantised) {
        for (uint32_t f = 0; f < m.num_faces; f++) {
            const model_face &face = m.faces[f];
            msg_writeshort(s, (int16_t)mdl_quantnormal(face.normal[0]));
            msg_writeshort(s, (int16_t)mdl_quantnormal(face.normal[1]));
            for (uint32_t i : {face.a, face.b, face.c})
                msg_writeint(s, (int32_t)i);
        }
    } else if (m.num_faces) {
        msg_write(s, m.faces, (int32_t)(m.num_faces * sizeof(model_face)));
    }
    mdl_logline("model_write", m);
    return !s->failed;
}

int model_write(int slot, int quantised)
{
    return model_write(&msg_main, slot, quantised);
}

// Checks the stored counts against the blob and bounds the capacities: a
// capacity is only an allocation size, so one far beyond the count is cut
// back to the count rather than allocated from a damaged file.
static int mdl_checksizes(msg_stream *s, model &m, int quantised)
{
    if (s->failed || m.num_verts > m.sz_verts || m.num_faces > m.sz_faces) {
        sys_log("model_read: bad counts (verts %u of %u, faces %u of %u)", m.num_verts, m.sz_verts, m.num_faces,
                m.sz_faces);
        return 0;
    }
    uint64_t need = (uint64_t)m.num_verts * (quantised ? 6 : 12) + (uint64_t)m.num_faces * (quantised ? 16 : 24);
    if (need > (uint64_t)(s->end - s->position)) {
        sys_log("model_read: %llu bytes of vertices and faces pass the end of the blob", (unsigned long long)need);
        return 0;
    }
    auto bound = [](uint32_t &sz, uint32_t num) {
        uint64_t most = (uint64_t)num * 8 > 65536 ? (uint64_t)num * 8 : 65536;
        if (sz > most) {
            sys_log("model_read: capacity %u cut back to %u", sz, num ? num : 1);
            sz = num ? num : 1;
        }
        if (sz == 0)
            sz = 1;
    };
    bound(m.sz_verts, m.num_verts);
    bound(m.sz_faces, m.num_faces);
    return 1;
}

static void mdl_readblocks(msg_stream *s, model &m, int quantised)
{
    if (quantised) {
        for (uint32_t v = 0; v < m.num_verts; v++)
            for (int i = 0; i < 3; i++) {
                uint16_t q = (uint16_t)msg_readshort(s);
                m.verts[3 * v + i] = (float)q / 65535.0f * (m.max[i] - m.min[i]) + m.min[i];
            }
        for (uint32_t f = 0; f < m.num_faces; f++) {
            model_face &face = m.faces[f];
            float nx = 2.0f * (uint16_t)msg_readshort(s) / 65535.0f - 1.0f;
            float ny = 2.0f * (uint16_t)msg_readshort(s) / 65535.0f - 1.0f;
            float zz = 1.0f - nx * nx - ny * ny;
            face.normal[0] = nx;
            face.normal[1] = ny;
            face.normal[2] = zz > 0 ? std::sqrt(zz) : 0.0f;
            face.a = (uint32_t)msg_readint(s);
            face.b = (uint32_t)msg_readint(s);
            face.c = (uint32_t)msg_readint(s);
        }
    } else {
        msg_read(s, m.verts, (int32_t)(m.num_verts * 12));
        msg_read(s, m.faces, (int32_t)(m.num_faces * sizeof(model_face)));
    }
}

static int mdl_checkfaces(const model &m)
{
    for (uint32_t f = 0; f < m.num_faces; f++) {
        const model_face &face = m.faces[f];
        if (face.a >= m.num_verts || face.b >= m.num_verts || face.c >= m.num_verts) {
            sys_log("model_read: face %u names a vertex past %u", f, m.num_verts);
            return 0;
        }
    }
    return 1;
}

int model_read(msg_stream *s, int quantised)
{
    int slot = mdl_alloc();
    if (slot < 0) {
        sys_error("mdl_read: models array overflow!");
        return -1;
    }
    model &m = models[slot];
    m.sz_verts = (uint32_t)msg_readint(s);
    m.sz_faces = (uint32_t)msg_readint(s);
    m.num_verts = (uint32_t)msg_readint(s);
    m.num_faces = (uint32_t)msg_readint(s);
    msg_readvec(s, m.min);
    msg_readvec(s, m.max);
    bool ok = mdl_checksizes(s, m, quantised);
    if (ok) {
        uint32_t nv = m.num_verts, nf = m.num_faces;
        ok = mdl_reserve(m.sz_verts, m.sz_faces);
        m.num_verts = nv;
        m.num_faces = nf;
    }
    if (ok) {
        mdl_readblocks(s, m, quantised);
        ok = !s->failed && mdl_checkfaces(m);
    }
    if (!ok) {
        mdl_free(slot);
        return -1;
    }
    mdl_logline("model_read", m);
    return slot;
}

int model_read(int quantised)
{
    return model_read(&msg_main, quantised);
}
