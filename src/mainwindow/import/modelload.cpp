// Mesh import: STL (binary or ASCII, told apart by the size the binary
// header announces) and Wavefront OBJ into a new model slot. STL repeats
// every shared corner, so its vertices merge through the vertex hash; OBJ
// faces name vertices by their place in the file, so OBJ vertices are kept
// as listed. A face that would name a vertex the model does not hold is
// dropped and counted, never stored. Every face then gets a colour from its
// normal for the layer preview.
#include "mainwindow/import/modelload.h"

#include "geom/model.h"
#include "mainwindow/meshimport.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "sys/token.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

enum model_kinds { model_kindnone, model_kindstl, model_kindobj };

constexpr int32_t model_stlheader = 84; // 80 bytes of header and a u32 count
constexpr int32_t model_stlrecord = 50;

// The name must end in a dot and three characters.
static bool model_hasextension(const char *file)
{
    const char *dot = strrchr(file, '.');
    return dot && strlen(dot) == 4;
}

static int model_kind(const char *file)
{
    const char *dot = strrchr(file, '.');
    if (!dot)
        return model_kindnone;
    if (!strcasecmp(dot, ".stl"))
        return model_kindstl;
    if (!strcasecmp(dot, ".obj"))
        return model_kindobj;
    return model_kindnone;
}

// ------------------------------------------------------------ binary STL

static void mdl_loadSTL(const char *text, int32_t size, uint32_t count)
{
    sys_log("parsing binary STL model...");
    msg_stream s;
    msg_readfrom(&s, text, size);
    uint8_t header[model_stlheader];
    msg_read(&s, header, model_stlheader);
    int dropped = 0;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t rec[model_stlrecord];
        if (!msg_read(&s, rec, model_stlrecord))
            break;
        float v[3][3];
        memcpy(v, rec + 12, sizeof(v));
        // Third corner first: this order fixes the numbering of new vertices.
        int c = mdl_vert(v[2]);
        int b = mdl_vert(v[1]);
        int a = mdl_vert(v[0]);
        if (a < 0 || b < 0 || c < 0) {
            dropped++;
            continue;
        }
        if (mdl_face((uint32_t)a, (uint32_t)b, (uint32_t)c) < 0)
            break;
    }
    if (s.failed)
        sys_log("mdl_loadSTL: file ends inside a triangle");
    if (dropped)
        sys_log("mdl_loadSTL: dropped %d triangles with a refused vertex", dropped);
    const model &m = models[mdl_current];
    sys_log("...loaded binary STL model (%d verts, %d faces)", (int)m.num_verts, (int)m.num_faces);
}

// ------------------------------------------------------------- ASCII STL

static const char *model_kindname(int kind)
{
    switch (kind) {
    case token_kindword: return "string";
    case token_kindnumber: return "values";
    case token_kindaddress: return "address";
    case 4: return "remark";
    case token_kindpunct: return "punctuation";
    default: return "none";
    }
}

static void stl_unexpected()
{
    sys_log("mdl_loadSTL_ASCII: unexpected token! (token:%s line:%d)", model_kindname(token_kind), token_line);
    if (token_kind == token_kindnumber) {
        for (int i = 0; i < token_count && i < token_vectormax; i++)
            sys_log("> %f", token_values[i]);
    } else if (token_kind == token_kindpunct) {
        sys_log("> '%c' 0x%0X", token_text[0], (unsigned)(uint8_t)token_text[0]);
    } else if (token_kind != token_kindend) {
        sys_log("> %s", token_text);
    }
}

// Reads three numbers; null (reported) when a token is anything else.
static const char *stl_coords(const char *p, float out[3])
{
    for (int i = 0; i < 3; i++) {
        p = token_next(p);
        if (token_kind == token_kinderror) {
            sys_log("mdl_loadSTL_ASCII: parsing error! (line:%d)", token_line);
            return nullptr;
        }
        if (token_kind != token_kindnumber) {
            stl_unexpected();
            return nullptr;
        }
        out[i] = token_values[0];
    }
    return p;
}

// Adds the triangle of three points read in file order.
static int stl_addfacet(const float v[3][3], int *dropped)
{
    int a = mdl_vert(v[0]);
    int b = mdl_vert(v[1]);
    int c = mdl_vert(v[2]);
    if (a < 0 || b < 0 || c < 0) {
        (*dropped)++;
        return 1;
    }
    return mdl_face((uint32_t)a, (uint32_t)b, (uint32_t)c) >= 0;
}

static void mdl_loadSTL_ASCII(const char *text)
{
    sys_log("parsing ASCII STL model...");
    token_comments = 0;
    // The first line is the solid line with its name, which may hold
    // anything.
    const char *p = text;
    while (*p && *p != '\r' && *p != '\n')
        p++;
    token_line = 1;
    p = token_skipblank(p);
    float v[3][3];
    int corners = 0;
    int dropped = 0;
    for (;;) {
        p = token_next(p);
        if (token_kind == token_kindend) {
            const model &m = models[mdl_current];
            sys_log("...loaded ASCII STL model (%d verts, %d faces)", (int)m.num_verts, (int)m.num_faces);
            break;
        }
        if (token_kind == token_kinderror) {
            sys_log("mdl_loadSTL_ASCII: parsing error! (line:%d)", token_line);
            break;
        }
        if (token_kind != token_kindword) {
            stl_unexpected();
            break;
        }
        if (!strcmp(token_text, "normal")) {
            float n[3];
            p = stl_coords(p, n);
        } else if (!strcmp(token_text, "vertex")) {
            p = stl_coords(p, v[corners]);
            if (p && ++corners == 3) {
                corners = 0;
                if (!stl_addfacet(v, &dropped))
                    break;
            }
        }
        if (!p)
            break;
    }
    if (corners)
        sys_log("mdl_loadSTL_ASCII: last facet cut after %d vertices", corners);
    if (dropped)
        sys_log("mdl_loadSTL_ASCII: dropped %d facets with a refused vertex", dropped);
}

// Binary when the size is exactly what the count at byte 80 announces; the
// product is taken in 64 bits so a huge count cannot wrap onto the size.
static bool stl_isbinary(const char *text, int32_t size, uint32_t *count)
{
    if (size < model_stlheader)
        return false;
    uint32_t n;
    memcpy(&n, text + 80, 4);
    *count = n;
    return (int64_t)model_stlheader + (int64_t)model_stlrecord * n == (int64_t)size;
}

static void model_reporthash()
{
    if (mdl_lastbucket >= 0) {
        sys_error("mdl_loadSTL: vertex hash bucket overflow!");
        return;
    }
    // Every filled bucket holds a vertex of the model that hashes to it, so
    // the model's vertices find them all without a walk over the table's
    // 257 MiB.
    std::vector<bool> used(vbucket_count);
    int filled = 0;
    const model &m = models[mdl_current];
    for (uint32_t i = 0; i < m.num_verts; i++) {
        int h = mdl_hash(m.verts + 3 * i);
        if (!used[(size_t)h] && vbuckets[h].count) {
            used[(size_t)h] = true;
            filled++;
        }
    }
    int empty = vbucket_count - filled;
    sys_log("empty hashes: %d = %3.1f%%", empty, 100.0 * empty / vbucket_count);
}

static int model_readstl(const char *text, int32_t size)
{
    if (!vbucket_alloc()) {
        sys_error("model_load: failed to load STL model");
        return 0;
    }
    mdl_lastbucket = -1;
    uint32_t count = 0;
    if (stl_isbinary(text, size, &count))
        mdl_loadSTL(text, size, count);
    else
        mdl_loadSTL_ASCII(text);
    model_reporthash();
    vbucket_free();
    return 1;
}

// ------------------------------------------------------------------- OBJ

// One OBJ polygon as it is read: the fan's first and previous vertices, and
// whether a reference was bad (then the whole polygon is taken back).
struct obj_polygon {
    int64_t first = -1, prev = -1;
    int refs = 0;
    bool bad = false;
    uint32_t startfaces = 0;
};

// A reference above 0 counts from the first vertex, one of 0 or below from
// after the last vertex read so far (-1 is the last). -1 when it names no
// vertex the model holds.
static int64_t obj_resolve(int64_t ref, const std::vector<int32_t> &verts)
{
    int64_t n = (int64_t)verts.size();
    int64_t i = ref > 0 ? ref - 1 : n + ref;
    if (i < 0 || i >= n)
        return -1;
    return verts[(size_t)i];
}

static int obj_addref(obj_polygon &poly, int64_t v)
{
    if (v < 0)
        poly.bad = true;
    poly.refs++;
    if (poly.refs == 1) {
        poly.first = v;
        return 1;
    }
    if (poly.refs >= 3 && !poly.bad && mdl_face((uint32_t)poly.first, (uint32_t)poly.prev, (uint32_t)v) < 0)
        return 0;
    poly.prev = v;
    return 1;
}

// Reads the references of an 'f' statement and fans them into faces; the
// token after the last reference is left current for the statement loop.
static const char *obj_face(const char *p, const std::vector<int32_t> &verts, int *dropped, int *firstbad, int *ok)
{
    obj_polygon poly;
    poly.startfaces = models[mdl_current].num_faces;
    int line = token_line;
    p = token_next(p);
    while (token_kind == token_kindnumber || token_kind == token_kindpunct) {
        if (token_kind == token_kindpunct) {
            // "/" and the texture or normal index after it.
            p = token_next(p);
            if (token_kind == token_kindnumber)
                p = token_next(p);
            continue;
        }
        int64_t ref = token_int;
        if (!obj_addref(poly, obj_resolve(ref, verts))) {
            *ok = 0;
            return p;
        }
        p = token_next(p);
    }
    if (poly.bad) {
        models[mdl_current].num_faces = poly.startfaces;
        if (!(*dropped)++)
            *firstbad = line;
    }
    return p;
}

// Passes the rest of the line after p and the blank space that follows.
static const char *obj_skipline(const char *p)
{
    while (*p && *p != '\r' && *p != '\n')
        p++;
    return token_skipblank(p);
}

static void mdl_loadOBJ(const char *text)
{
    sys_log("parsing OBJ model...");
    token_line = 1;
    token_comments = 0;
    std::vector<int32_t> verts; // model vertex of each file vertex, -1 when refused
    int dropped = 0, firstbad = 0, refused = 0, ok = 1;
    const char *p = token_next(text);
    for (;;) {
        if (token_kind == token_kindend) {
            const model &m = models[mdl_current];
            sys_log("...loaded OBJ model (%d verts, %d faces)", (int)m.num_verts, (int)m.num_faces);
            break;
        }
        if (token_kind == token_kinderror) {
            sys_log("mdl_loadOBJ parsing error! (line:%d)", token_line);
            break;
        }
        if (token_kind == token_kindword && token_text[0] == 'f') {
            p = obj_face(p, verts, &dropped, &firstbad, &ok);
            if (!ok)
                break;
            continue;
        }
        if (token_kind == token_kindword && !strcmp(token_text, "v")) {
            float v[3];
            int i = 0;
            for (; i < 3; i++) {
                p = token_next(p);
                if (token_kind != token_kindnumber)
                    break;
                v[i] = token_values[0];
            }
            if (i < 3) {
                sys_log("mdl_loadOBJ parsing error! (line:%d)", token_line);
                break;
            }
            int index = mdl_vert(v);
            refused += index < 0;
            verts.push_back(index);
        } else {
            p = obj_skipline(p);
        }
        p = token_next(p);
    }
    if (refused)
        sys_log("mdl_loadOBJ: %d vertices refused", refused);
    if (dropped)
        sys_log("mdl_loadOBJ: dropped %d faces naming a vertex not read (first at line %d)", dropped, firstbad);
}

// -------------------------------------------------------------- colours

// The preview colour of a face from its unit normal; a face without area
// takes the colour of an upward normal, and the third channel never takes
// the root of a negative number.
static void model_colourface(const model &m, model_face &f)
{
    const float *a = m.verts + 3 * f.a, *b = m.verts + 3 * f.b, *c = m.verts + 3 * f.c;
    double u[3] = {(double)b[0] - a[0], (double)b[1] - a[1], (double)b[2] - a[2]};
    double w[3] = {(double)c[0] - a[0], (double)c[1] - a[1], (double)c[2] - a[2]};
    double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
    double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(len > 0) || !std::isfinite(len)) {
        n[0] = n[1] = 0;
        n[2] = len = 1;
    }
    float first = (float)(n[0] / len * 0.5 + 0.5);
    float second = (float)(n[1] / len * 0.5 + 0.5);
    float r = 1.0f - first * first - second * second;
    f.normal[0] = first;
    f.normal[1] = second;
    f.normal[2] = r > 0 ? std::sqrt(r) : 0.0f;
}

static void model_finish(int slot)
{
    model &m = models[slot];
    sys_log("model min/max = %f,%f,%f -> %f,%f,%f", m.min[0], m.min[1], m.min[2], m.max[0], m.max[1], m.max[2]);
    for (uint32_t i = 0; i < m.num_faces; i++)
        model_colourface(m, m.faces[i]);
}

// ----------------------------------------------------------------- load

// Gives the slot back and leaves the table's cursor and current model as
// they were before the load took it.
static void model_release(int slot, int cursor, int current)
{
    mdl_free(slot);
    mdl_cursor = cursor;
    mdl_current = current;
}

int model_loadbuffer(const char *name, const char *text, int32_t size)
{
    int kind = model_kind(name);
    if (kind == model_kindnone)
        return -1;
    int cursor = mdl_cursor, current = mdl_current;
    int slot = mdl_alloc();
    if (slot < 0) {
        sys_error("model_load: models overflow");
        return -1;
    }
    if (!mdl_reserve(model_loadcapacity, model_loadcapacity)) {
        sys_error("mdl_alloc: failed to allocate verts buffer");
        sys_error("model_load: models overflow");
        model_release(slot, cursor, current);
        return -1;
    }
    if (kind == model_kindstl) {
        if (!model_readstl(text, size)) {
            model_release(slot, cursor, current);
            return -1;
        }
    } else {
        mdl_loadOBJ(text);
    }
    if (models[slot].num_faces == 0) {
        sys_error("model_load: no faces in %s", name);
        model_release(slot, cursor, current);
        return -1;
    }
    model_finish(slot);
    return slot;
}

int model_load(const char *file)
{
    if (!model_hasextension(file)) {
        sys_error("model_load: file has no extension");
        return -1;
    }
    int32_t size = 0;
    char *text = (char *)file_load(file, &size, 1, INT32_MAX - 1);
    if (!text) {
        sys_error("model_load: failed to read model file");
        return -1;
    }
    int slot = model_loadbuffer(file, text, size - 1);
    sys_free(text);
    return slot;
}
