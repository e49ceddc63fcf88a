// DXF import. Contents:
//   1. the drawing record and its growable arrays
//   2. reading group-code/value pairs line by line (dxf_parse)
//   3. sampling: bulges, arcs and ellipses, splines
//   4. pathing a layer: polyline chains, arcs, splines, auto-join
//   5. combining layers and the entry points
// Everything runs on the main thread in the frame the file was picked; the
// record lives for one import. Counts are 32-bit and every array grows from
// a non-zero capacity, so no count from the file can wrap an allocation.
#include "mainwindow/import/dxf.h"

#include "geom/path.h"
#include "geom/pathedit.h"
#include "project/layer.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/token.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

int (*dxf_addcurve)(path *p, int n, const float *verts, int closed, float tolerance) = addcurvepoly;

// ---------------------------------------------------------------- 1. record

constexpr int dxf_namemax = 64;
constexpr int dxf_linemax = 4096;  // bytes of a line kept for tokenizing
constexpr int dxf_maxchain = 2048; // polys joined into one point list
constexpr int dxf_maxdegree = 31;  // higher spline degrees are refused
constexpr int dxf_maxbulgepoints = 2048; // of one bulged segment
constexpr int32_t dxf_maxlistpoints = 1 << 22; // bulge points of one chain
constexpr double dxf_minbulge = 1e-6;
constexpr int32_t dxf_maxsplinepoints = 1 << 20;
constexpr int dxf_maxundeclared = 64; // undeclared layer names remembered
constexpr double dxf_minsize = 1e-6;  // floor of the drawing size

struct dxf_layer {
    char name[dxf_namemax];
    int32_t entities;
};

// A layer index >= 0 names a declared layer; -(1 + k) names undeclared
// layer name k; -(1 + dxf_maxundeclared) any further undeclared name.
struct dxf_arc {
    int32_t layer;
    float centre[3];
    float axis[3]; // radius in x for ARC and CIRCLE; ELLIPSE major-axis end
    float ratio;
    float ang1, ang2; // degrees
    int32_t ellipse;
};

struct dxf_polyvert {
    float bulge, x, y, z;
};

struct dxf_poly {
    int32_t layer;
    int32_t count, capacity;
    dxf_polyvert *verts;
    uint8_t flags; // bit 0 closed
};

struct dxf_spline {
    int32_t layer;
    int32_t degree;
    int32_t declaredknots; // -1 when the file gave no usable count
    int32_t knotcount, knotcap;
    float *knots;
    int32_t pointcount, pointcap;
    float *points; // x, y, z
    int32_t weightcount, weightcap;
    float *weights; // paired with points by position
    uint8_t flags;  // bit 0 closed
};

enum dxf_kinds { dxf_none, dxf_kindarc, dxf_kindpoly, dxf_kindspline };

struct dxf_drawing {
    const char *name; // file name for the log
    int32_t lines;    // line count of the file, the bound of declared counts
    int32_t layercount;
    dxf_layer layers[dxf_maxlayers];
    char undeclared[dxf_maxundeclared][dxf_namemax];
    int32_t undeclaredcount;
    dxf_arc *arcs;
    int32_t arccount, arccap;
    dxf_poly *polys;
    int32_t polycount, polycap;
    dxf_spline *splines;
    int32_t splinecount, splinecap;
    float bounds[4]; // min x, min y, max x, max y
    // The entity being read: its kind and index, the keyword that began it
    // (a VERTEX continues its POLYLINE), and the last layer matched.
    int kind, index, keyword, polyline, firstvertex, lastlayer;
    int badvalues;
};

// Grows *block of *cap elements to hold at least need, doubling from at
// least 16; sizes in 64 bits. 0 when it cannot.
static int dxf_reserve(void **block, int32_t *cap, int64_t need, int32_t size)
{
    if (need <= *cap)
        return 1;
    int64_t n = *cap > 16 ? *cap : 16;
    while (n < need)
        n *= 2;
    int64_t bytes = n * size;
    if (n > INT32_MAX || bytes > INT32_MAX)
        return 0;
    void *b = sys_realloc(*block, (int32_t)bytes);
    if (!b)
        return 0;
    *block = b;
    *cap = (int32_t)n;
    return 1;
}

template <typename T> static int dxf_grow(T **block, int32_t *cap, int64_t need)
{
    void *b = *block;
    int ok = dxf_reserve(&b, cap, need, (int32_t)sizeof(T));
    *block = (T *)b;
    return ok;
}

static void dxf_free(dxf_drawing *d)
{
    for (int i = 0; i < d->polycount; i++)
        sys_free(d->polys[i].verts);
    for (int i = 0; i < d->splinecount; i++) {
        sys_free(d->splines[i].knots);
        sys_free(d->splines[i].points);
        sys_free(d->splines[i].weights);
    }
    sys_free(d->arcs);
    sys_free(d->polys);
    sys_free(d->splines);
    sys_free(d);
}

static void dxf_widen(dxf_drawing *d, int axis, float v)
{
    d->bounds[axis] = v < d->bounds[axis] ? v : d->bounds[axis];
    d->bounds[axis + 2] = v > d->bounds[axis + 2] ? v : d->bounds[axis + 2];
}

// ------------------------------------------------------------ 2. reading

static const char *const dxf_keywords[] = {
    "null", "SECTION", "ENDSEC", "HEADER", "CLASSES", "TABLES", "BLOCKS", "ENTITIES", "OBJECTS", "TABLE",
    "ENDTAB", "LAYER", "STYLE", "VIEW", "UCS", "APPID", "DIMSTYLE", "BLOCK", "ENDBLK", "VERTEX",
    "LINE", "POLYLINE", "LWPOLYLINE", "ARC", "CIRCLE", "ELLIPSE", "SPLINE", "EOF"};
enum dxf_keyword {
    kw_null, kw_section, kw_endsec, kw_header, kw_classes, kw_tables, kw_blocks, kw_entities, kw_objects,
    kw_table, kw_endtab, kw_layer, kw_style, kw_view, kw_ucs, kw_appid, kw_dimstyle, kw_block, kw_endblk,
    kw_vertex, kw_line, kw_polyline, kw_lwpolyline, kw_arc, kw_circle, kw_ellipse, kw_spline, kw_eof,
    kw_count
};

// One line of the file, cut to dxf_linemax - 1 bytes, and the reader's place.
struct dxf_reader {
    const char *pos, *end;
    int32_t line;
    char text[dxf_linemax];
};

// Copies the next line into r->text; 0 at the end of the text. CR LF and
// LF CR are one line end.
static int dxf_nextline(dxf_reader *r)
{
    if (r->pos >= r->end)
        return 0;
    const char *p = r->pos;
    int n = 0;
    while (p < r->end && *p != '\r' && *p != '\n') {
        if (n < dxf_linemax - 1)
            r->text[n++] = *p;
        p++;
    }
    r->text[n] = 0;
    if (p < r->end) {
        char first = *p++;
        if (p < r->end && (*p == '\r' || *p == '\n') && *p != first)
            p++;
    }
    r->pos = p;
    r->line++;
    return 1;
}

static int32_t dxf_countlines(const char *text, int32_t size)
{
    dxf_reader r{text, text + size, 0, {}};
    while (dxf_nextline(&r)) {
    }
    return r.line;
}

// The value of a pair: its first token, and the text a name takes from it.
struct dxf_value {
    int kind; // token kind; anything but word or number is an ignored pair
    float number;
    int32_t integer;
    int keyword; // kw_count when the word is no keyword
    char name[dxf_namemax];
};

static void dxf_readvalue(const char *text, dxf_value *v)
{
    token_next(text);
    v->kind = token_kind;
    v->keyword = kw_count;
    v->name[0] = 0;
    if (token_kind == token_kindword) {
        snprintf(v->name, sizeof(v->name), "%.63s", token_text);
        for (int k = 0; k < kw_count; k++)
            if (!strcmp(token_text, dxf_keywords[k]))
                v->keyword = k;
    } else if (token_kind == token_kindnumber) {
        v->number = token_values[0];
        v->integer = token_int;
        if (token_isfloat)
            snprintf(v->name, sizeof(v->name), "%f", (double)v->number);
        else
            snprintf(v->name, sizeof(v->name), "%d", v->integer);
    }
}

// The layer index for a name: declared layers first (without case), then
// the remembered undeclared names.
static int32_t dxf_findlayer(dxf_drawing *d, const char *name)
{
    if (d->lastlayer >= 0 && d->lastlayer < d->layercount && !strcasecmp(d->layers[d->lastlayer].name, name))
        return d->lastlayer;
    for (int i = 0; i < d->layercount; i++)
        if (!strcasecmp(d->layers[i].name, name))
            return d->lastlayer = i;
    for (int i = 0; i < d->undeclaredcount; i++)
        if (!strcasecmp(d->undeclared[i], name))
            return -(1 + i);
    if (d->undeclaredcount == dxf_maxundeclared)
        return -(1 + dxf_maxundeclared);
    snprintf(d->undeclared[d->undeclaredcount], dxf_namemax, "%s", name);
    return -(1 + d->undeclaredcount++);
}

static int32_t *dxf_entitylayer(dxf_drawing *d)
{
    switch (d->kind) {
    case dxf_kindarc: return &d->arcs[d->index].layer;
    case dxf_kindpoly: return &d->polys[d->index].layer;
    case dxf_kindspline: return &d->splines[d->index].layer;
    default: return nullptr;
    }
}

// An entity starts on layer 0, counted there when layer 0 is declared; its
// code 8 moves it.
static void dxf_setlayer(dxf_drawing *d, int32_t layer)
{
    int32_t *at = dxf_entitylayer(d);
    if (!at)
        return;
    if (*at >= 0 && *at < d->layercount)
        d->layers[*at].entities--;
    *at = layer;
    if (layer >= 0 && layer < d->layercount)
        d->layers[layer].entities++;
}

static int dxf_newentity(dxf_drawing *d, int keyword, int32_t line)
{
    int kind = keyword == kw_arc || keyword == kw_circle || keyword == kw_ellipse ? dxf_kindarc
               : keyword == kw_spline                                            ? dxf_kindspline
                                                                                 : dxf_kindpoly;
    int ok = 1;
    if (kind == dxf_kindarc && (ok = dxf_grow(&d->arcs, &d->arccap, d->arccount + 1))) {
        dxf_arc &a = d->arcs[d->index = d->arccount++];
        a = dxf_arc{};
        a.ratio = 1;
        a.ang2 = 360;
        a.ellipse = keyword == kw_ellipse;
        sys_debuglog("new arc[%d] (line:%d)", d->index, line);
    } else if (kind == dxf_kindpoly && (ok = dxf_grow(&d->polys, &d->polycap, d->polycount + 1))) {
        d->polys[d->index = d->polycount++] = dxf_poly{};
        sys_debuglog("new poly[%d] (line:%d)", d->index, line);
    } else if (kind == dxf_kindspline && (ok = dxf_grow(&d->splines, &d->splinecap, d->splinecount + 1))) {
        dxf_spline &s = d->splines[d->index = d->splinecount++];
        s = dxf_spline{};
        s.degree = 1;
        s.declaredknots = -1;
        sys_debuglog("new spline[%d] (line:%d)", d->index, line);
    }
    if (!ok) {
        sys_log("dxf_parse: out of memory for entities (line:%d)", line);
        d->kind = dxf_none;
        return 0;
    }
    d->kind = kind;
    d->keyword = keyword;
    d->polyline = keyword == kw_polyline ? d->index : -1;
    d->firstvertex = 1;
    int32_t *at = dxf_entitylayer(d);
    *at = d->layercount > 0 ? 0 : -1;
    if (*at == 0)
        d->layers[0].entities++;
    else
        *at = dxf_findlayer(d, "0");
    return 1;
}

static int dxf_polyappend(dxf_drawing *d, dxf_poly &p, float x)
{
    if (!dxf_grow(&p.verts, &p.capacity, (int64_t)p.count + 1))
        return 0;
    p.verts[p.count++] = dxf_polyvert{0, x, 0, 0};
    dxf_widen(d, 0, x);
    return 1;
}

static int dxf_polyproperty(dxf_drawing *d, int code, const dxf_value &v)
{
    dxf_poly &p = d->polys[d->index];
    dxf_polyvert *last = p.count ? &p.verts[p.count - 1] : nullptr;
    switch (code) {
    case 10:
    case 11: return dxf_polyappend(d, p, v.number);
    case 20:
    case 21:
        if (last) {
            last->y = v.number;
            dxf_widen(d, 1, v.number);
        }
        break;
    case 30:
    case 31:
        if (last)
            last->z = v.number;
        break;
    case 42:
        if (last) {
            last->bulge = v.number;
            sys_debuglog(" poly vert[%d].bulge = %f", p.count - 1, (double)v.number);
        }
        break;
    case 70:
        // A VERTEX's code 70 holds vertex flags, not the closed flag.
        if (d->keyword == kw_polyline || d->keyword == kw_lwpolyline) {
            p.flags = (uint8_t)(v.integer & 1);
            sys_debuglog(" poly closed = %d", p.flags);
        }
        break;
    }
    return 1;
}

static void dxf_arcproperty(dxf_drawing *d, int code, const dxf_value &v)
{
    dxf_arc &a = d->arcs[d->index];
    float x = v.number;
    switch (code) {
    case 10: a.centre[0] = x; dxf_widen(d, 0, x); break;
    case 20: a.centre[1] = x; dxf_widen(d, 1, x); break;
    case 30: a.centre[2] = x; break;
    case 11:
        a.axis[0] = x;
        dxf_widen(d, 0, a.centre[0] - std::fabs(x));
        dxf_widen(d, 0, a.centre[0] + std::fabs(x));
        break;
    case 21:
        a.axis[1] = x;
        dxf_widen(d, 1, a.centre[1] - std::fabs(x));
        dxf_widen(d, 1, a.centre[1] + std::fabs(x));
        break;
    case 31: a.axis[2] = x; break;
    case 40:
        if (a.ellipse) {
            a.ratio = x;
            sys_debuglog(" ellipse minor/major ratio = %f", (double)x);
        } else {
            a.axis[0] = x;
            for (int axis = 0; axis < 2; axis++) {
                dxf_widen(d, axis, a.centre[axis] - std::fabs(x));
                dxf_widen(d, axis, a.centre[axis] + std::fabs(x));
            }
            sys_debuglog(" arc radius = %f", (double)x);
        }
        break;
    case 41:
    case 42:
        (code == 41 ? a.ang1 : a.ang2) = (float)(x * 180.0 / M_PI);
        sys_debuglog(" ellipse ang2 = %f", (double)(code == 41 ? a.ang1 : a.ang2));
        break;
    case 50: a.ang1 = x; sys_debuglog(" arc ang1 = %f", (double)x); break;
    case 51: a.ang2 = x; sys_debuglog(" arc ang2 = %f", (double)x); break;
    }
}

// A declared count is believed only when the file has room for it: each
// element needs at least one pair of lines.
static bool dxf_plausible(const dxf_drawing *d, int32_t count)
{
    return count >= 0 && count <= d->lines / 2;
}

static int dxf_splineproperty(dxf_drawing *d, int code, const dxf_value &v, int32_t line)
{
    dxf_spline &s = d->splines[d->index];
    float *last = s.pointcount ? &s.points[3 * (s.pointcount - 1)] : nullptr;
    switch (code) {
    case 70:
        s.flags = (uint8_t)(v.integer & 1);
        sys_debuglog(" spline closed = %d", s.flags);
        break;
    case 71:
        s.degree = v.integer;
        sys_debuglog(" spline degree = %d", s.degree);
        break;
    case 72:
    case 73:
        if (!dxf_plausible(d, v.integer)) {
            sys_log("dxf_parse: spline[%d] count %d is more than the file holds (line:%d)", d->index, v.integer, line);
            break;
        }
        if (code == 72) {
            s.declaredknots = v.integer;
            sys_debuglog(" spline knots = %d", v.integer);
            return dxf_grow(&s.knots, &s.knotcap, v.integer);
        }
        sys_debuglog(" spline verts = %d", v.integer);
        return dxf_grow(&s.points, &s.pointcap, 3 * (int64_t)v.integer);
    case 40:
        if (s.declaredknots >= 0 && s.knotcount >= s.declaredknots) {
            sys_log(" !!!! knots overflow for spline[%d] (line:%d)", d->index, line);
            break;
        }
        if (!dxf_grow(&s.knots, &s.knotcap, (int64_t)s.knotcount + 1))
            return 0;
        s.knots[s.knotcount++] = v.number;
        break;
    case 41:
        if (!dxf_grow(&s.weights, &s.weightcap, (int64_t)s.weightcount + 1))
            return 0;
        s.weights[s.weightcount++] = v.number;
        break;
    case 10:
        if (!dxf_grow(&s.points, &s.pointcap, 3 * ((int64_t)s.pointcount + 1)))
            return 0;
        s.points[3 * s.pointcount] = v.number;
        s.points[3 * s.pointcount + 1] = s.points[3 * s.pointcount + 2] = 0;
        s.pointcount++;
        dxf_widen(d, 0, v.number);
        break;
    case 20:
        if (last) {
            last[1] = v.number;
            dxf_widen(d, 1, v.number);
        }
        break;
    }
    return 1;
}

enum dxf_states { dxf_top, dxf_section, dxf_tables, dxf_entities };
enum dxf_tablestates { dxf_outside, dxf_tableheader, dxf_layertable, dxf_othertable };

struct dxf_parser {
    dxf_drawing *d;
    dxf_reader r;
    int state, table;
};

// Declares a layer; 0 (reported) when the table is full.
static int dxf_newlayer(dxf_drawing *d)
{
    if (d->layercount == dxf_maxlayers) {
        sys_error("DXF layers overflow! (max allowed = %d)", dxf_maxlayers);
        return 0;
    }
    d->layers[d->layercount] = dxf_layer{};
    sys_debuglog("new layer[%d]", d->layercount);
    d->layercount++;
    return 1;
}

static int dxf_tablepair(dxf_parser *ps, int code, const dxf_value &v)
{
    dxf_drawing *d = ps->d;
    if (code == 0 && v.keyword == kw_endsec) {
        ps->state = dxf_top;
    } else if (code == 0 && v.keyword == kw_table) {
        ps->table = dxf_tableheader;
    } else if (code == 0 && v.keyword == kw_endtab) {
        ps->table = dxf_outside;
    } else if (ps->table == dxf_tableheader && code == 2) {
        ps->table = v.keyword == kw_layer ? dxf_layertable : dxf_othertable;
    } else if (ps->table == dxf_layertable && code == 0 && v.keyword == kw_layer) {
        return dxf_newlayer(d);
    } else if (ps->table == dxf_layertable && code == 2 && d->layercount > 0 && v.name[0]) {
        dxf_layer &l = d->layers[d->layercount - 1];
        snprintf(l.name, sizeof(l.name), "%s", v.name);
        sys_debuglog(" layer name = \"%s\"", l.name);
    }
    return 1;
}

static int dxf_entitypair(dxf_parser *ps, int code, const dxf_value &v)
{
    dxf_drawing *d = ps->d;
    if (code == 0) {
        if (v.keyword == kw_endsec) {
            ps->state = dxf_top;
            d->kind = dxf_none;
        } else if (v.keyword == kw_vertex && d->polyline >= 0) {
            // The POLYLINE header's own point is not a vertex.
            d->kind = dxf_kindpoly;
            d->index = d->polyline;
            d->keyword = kw_vertex;
            if (d->firstvertex)
                d->polys[d->index].count = 0;
            d->firstvertex = 0;
        } else if (v.keyword >= kw_line && v.keyword <= kw_spline) {
            return dxf_newentity(d, v.keyword, ps->r.line - 1);
        } else {
            d->kind = dxf_none;
            d->polyline = -1;
        }
        return 1;
    }
    if (d->kind == dxf_none || code == 5)
        return 1;
    if (code == 8) {
        if (v.name[0] && d->keyword != kw_vertex)
            dxf_setlayer(d, dxf_findlayer(d, v.name));
        return 1;
    }
    if (v.kind != token_kindnumber)
        return 1;
    if (d->kind == dxf_kindpoly)
        return dxf_polyproperty(d, code, v);
    if (d->kind == dxf_kindarc)
        dxf_arcproperty(d, code, v);
    else
        return dxf_splineproperty(d, code, v, ps->r.line - 1);
    return 1;
}

// One pair; 0 ends the parse.
static int dxf_pair(dxf_parser *ps, int code, const dxf_value &v)
{
    switch (ps->state) {
    case dxf_top:
        if (code != 0) {
            sys_error("dxf_parse: expected zero groupcode (%s:%d)", ps->d->name, ps->r.line - 1);
            return 0;
        }
        if (v.keyword == kw_eof)
            return 0;
        if (v.keyword != kw_section) {
            sys_error("dxf_parse: expected SECTION or EOF (%s:%d)", ps->d->name, ps->r.line - 1);
            return 0;
        }
        ps->state = dxf_section;
        return 1;
    case dxf_section:
        if (code == 2 && v.keyword == kw_tables) {
            ps->state = dxf_tables;
            ps->table = dxf_outside;
        } else if (code == 2 && v.keyword == kw_entities) {
            ps->state = dxf_entities;
            ps->d->kind = dxf_none;
            ps->d->polyline = -1;
        } else if (code == 0 && v.keyword == kw_endsec) {
            ps->state = dxf_top;
        }
        return 1;
    case dxf_tables: return dxf_tablepair(ps, code, v);
    default: return dxf_entitypair(ps, code, v);
    }
}

// Reads pairs until the end of the text, EOF or an error; what was read
// stays in the drawing either way.
static void dxf_parse(dxf_drawing *d, const char *text, int32_t size)
{
    sys_log("sys_loadDXF: loaded DXF file %s, parsing...", d->name);
    token_comments = 0;
    dxf_parser ps{d, {text, text + size, 0, {}}, dxf_top, dxf_outside};
    dxf_value v;
    while (dxf_nextline(&ps.r)) {
        token_line = ps.r.line;
        token_next(ps.r.text);
        if (token_kind != token_kindnumber || token_isfloat) {
            sys_error("dxf_parse: token not a group code (%s:%d)\n\t%.200s", d->name, ps.r.line, ps.r.text);
            break;
        }
        int code = token_int;
        if (!dxf_nextline(&ps.r))
            break;
        if (code == 999) {
            sys_log("dxf comment: %.200s", ps.r.text);
            continue;
        }
        dxf_readvalue(ps.r.text, &v);
        if (v.kind == token_kindnumber && !std::isfinite(v.number)) {
            if (!d->badvalues++)
                sys_log("dxf_parse: number out of range ignored (%s:%d)", d->name, ps.r.line);
            continue;
        }
        if (!dxf_pair(&ps, code, v))
            break;
    }
    sys_log("parsed dxf: %d layers, %d arcs, %d polys, %d splines", d->layercount, d->arccount, d->polycount,
            d->splinecount);
    sys_log(" dxf min/max = (%f,%f)(%f,%f)", (double)d->bounds[0], (double)d->bounds[1], (double)d->bounds[2],
            (double)d->bounds[3]);
}

// Entities whose layer the LAYER table never declared are left out; say how
// many and on which layer names.
static void dxf_reportundeclared(const dxf_drawing *d)
{
    int counts[dxf_maxundeclared + 1] = {};
    int total = 0;
    auto tally = [&](int32_t layer) {
        if (layer >= 0)
            return;
        counts[-layer - 1]++;
        total++;
    };
    for (int i = 0; i < d->arccount; i++)
        tally(d->arcs[i].layer);
    for (int i = 0; i < d->polycount; i++)
        tally(d->polys[i].layer);
    for (int i = 0; i < d->splinecount; i++)
        tally(d->splines[i].layer);
    if (!total)
        return;
    char names[512] = "";
    size_t used = 0;
    for (int i = 0; i <= dxf_maxundeclared && used < sizeof(names); i++) {
        if (!counts[i])
            continue;
        const char *name = i < d->undeclaredcount ? d->undeclared[i] : "(others)";
        used += (size_t)snprintf(names + used, sizeof(names) - used, "%s\"%s\" (%d)", used ? ", " : "", name,
                                 counts[i]);
    }
    sys_log("sys_loadDXF: dropped %d entities on layers the LAYER table does not declare: %s", total, names);
}

// ------------------------------------------------------------ 3. sampling

// The sizes every layer is sampled with, from the drawing's extent and the
// two settings.
struct dxf_geometry {
    double size;     // larger side of the drawing, floored
    float tolerance; // for addcurvepoly and for merging joined ends
    double join2;    // squared join distance
    double arcstep;  // degrees
    double t;        // tolerance setting squared
};

static float dxf_setting(int offset)
{
    float v = cfg_getf(offset);
    return v > 0 ? (v < 1 ? v : 1.0f) : 0.0f;
}

static dxf_geometry dxf_sizes(const dxf_drawing *d)
{
    dxf_geometry g;
    double w = (double)d->bounds[2] - d->bounds[0];
    double h = (double)d->bounds[3] - d->bounds[1];
    g.size = w > h ? w : h;
    // A drawing of one point has no extent, and every count below divides
    // by it.
    if (!(g.size > dxf_minsize))
        g.size = dxf_minsize;
    g.t = (double)dxf_setting(cfg_dxftolerance) * dxf_setting(cfg_dxftolerance);
    g.tolerance = (float)(g.size * (0.0002 * g.t + 0.00005 * (1 - g.t)));
    double join = dxf_setting(cfg_dxfautojoin) * g.size * 0.001;
    g.join2 = join * join;
    g.arcstep = 5 * g.t + 0.5 * (1 - g.t);
    return g;
}

static void dxf_push(std::vector<float> &pts, double x, double y)
{
    pts.push_back((float)x);
    pts.push_back((float)y);
    pts.push_back(0.0f);
}

// The points strictly between a and b on the circular arc of a's bulge
// (4 atan(bulge) included angle, counter-clockwise when positive).
static void dxf_bulgepoints(std::vector<float> &pts, const dxf_polyvert &a, const dxf_polyvert &b, double size)
{
    // Bulges too small to leave the chord in float precision count as 0:
    // their centre lies so far off that its points would lose every digit.
    double bulge = a.bulge;
    if (std::fabs(bulge) < dxf_minbulge || !std::isfinite(bulge))
        return;
    if (pts.size() / 3 >= (size_t)dxf_maxlistpoints)
        return;
    double dx = (double)b.x - a.x, dy = (double)b.y - a.y;
    double half = 0.5 * std::sqrt(dx * dx + dy * dy);
    if (!(half > 0))
        return;
    double want = std::ceil(2048 * half * std::fabs(bulge) / size);
    int n = want < dxf_maxbulgepoints ? (int)want : dxf_maxbulgepoints;
    // The centre lies off the chord's midpoint along its left normal.
    double off = half * (1 - bulge * bulge) / (2 * bulge);
    double cx = 0.5 * ((double)a.x + b.x) - dy / (2 * half) * off;
    double cy = 0.5 * ((double)a.y + b.y) + dx / (2 * half) * off;
    double r = std::sqrt(((double)a.x - cx) * ((double)a.x - cx) + ((double)a.y - cy) * ((double)a.y - cy));
    double a0 = std::atan2((double)a.y - cy, (double)a.x - cx);
    double sweep = 4 * std::atan(bulge);
    for (int k = 1; k <= n; k++) {
        double ang = a0 + sweep * k / (n + 1);
        dxf_push(pts, cx + r * std::cos(ang), cy + r * std::sin(ang));
    }
}

// Angles in degrees; an ARC or CIRCLE has its radius as the major axis.
static void dxf_arcpoint(const dxf_arc &a, double deg, double out[2])
{
    double ax = a.axis[0], ay = a.ellipse ? a.axis[1] : 0.0;
    double bx = -ay * a.ratio, by = ax * a.ratio;
    double rad = deg * M_PI / 180.0;
    out[0] = a.centre[0] + ax * std::cos(rad) + bx * std::sin(rad);
    out[1] = a.centre[1] + ay * std::cos(rad) + by * std::sin(rad);
}

// Which knot span holds u: kn[k] <= u < kn[k+1] with k in degree..count-1
// and a span of non-zero length; the last such span at the end of the
// range, where the half-open spans leave every basis function at zero.
static int dxf_knotspan(const std::vector<double> &kn, int degree, int count, double u)
{
    auto first = kn.begin() + degree, last = kn.begin() + count;
    if (u < *last) {
        // kn[k] <= u < kn[k + 1], a span of non-zero length by its nature.
        auto above = std::upper_bound(first, last, u);
        return above == first ? degree : (int)(above - kn.begin()) - 1;
    }
    for (int k = count - 1; k >= degree; k--)
        if (kn[(size_t)k] < kn[(size_t)k + 1])
            return k;
    return -1;
}

// One point of the rational B-spline: the degree + 1 basis functions of
// the span by the Cox-de Boor recursion, weighted. 0 when the weights
// cancel.
static int dxf_splinepoint(const dxf_spline &s, const std::vector<double> &kn, double u, double out[2])
{
    int p = s.degree, k = dxf_knotspan(kn, p, s.pointcount, u);
    if (k < 0)
        return 0;
    double basis[dxf_maxdegree + 1], left[dxf_maxdegree + 1], right[dxf_maxdegree + 1];
    basis[0] = 1;
    for (int j = 1; j <= p; j++) {
        left[j] = u - kn[(size_t)(k + 1 - j)];
        right[j] = kn[(size_t)(k + j)] - u;
        double saved = 0;
        for (int r = 0; r < j; r++) {
            double temp = basis[r] / (right[r + 1] + left[j - r]);
            basis[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        basis[j] = saved;
    }
    double x = 0, y = 0, w = 0;
    for (int r = 0; r <= p; r++) {
        int i = k - p + r;
        double wi = i < s.weightcount ? s.weights[i] : 1.0;
        x += basis[r] * wi * s.points[3 * i];
        y += basis[r] * wi * s.points[3 * i + 1];
        w += basis[r] * wi;
    }
    if (w == 0 || !std::isfinite(x / w) || !std::isfinite(y / w))
        return 0;
    out[0] = x / w;
    out[1] = y / w;
    return 1;
}

// Why a spline cannot be evaluated, or null.
static const char *dxf_splinefault(const dxf_spline &s, const std::vector<double> &kn)
{
    if (s.pointcount == 0)
        return "no control points";
    if (s.degree < 1 || s.degree > dxf_maxdegree)
        return "degree out of range";
    if (s.pointcount < s.degree + 1)
        return "fewer control points than degree + 1";
    if ((int64_t)s.knotcount != (int64_t)s.pointcount + s.degree + 1)
        return "knot count is not control points + degree + 1";
    for (size_t i = 1; i < kn.size(); i++)
        if (!(kn[i] >= kn[i - 1]))
            return "knots out of order";
    if (!(kn.back() > kn.front()) || !(kn[(size_t)s.pointcount] > kn[(size_t)s.degree]))
        return "zero knot range";
    return nullptr;
}

// ------------------------------------------------------ 4. pathing a layer

static void dxf_emitchain(const dxf_drawing *d, const dxf_geometry &g, path *p, const std::vector<int32_t> &chain,
                          std::vector<float> &pts)
{
    // A point equal to the last one taken is left out, also where one poly
    // continues another exactly: a repeated point would become a knot
    // without a segment.
    pts.clear();
    double lastx = 0, lasty = 0;
    for (int32_t index : chain) {
        const dxf_poly &q = d->polys[index];
        for (int j = 0; j < q.count; j++) {
            const dxf_polyvert &v = q.verts[j];
            if (pts.empty() || std::fabs(v.x - lastx) + std::fabs(v.y - lasty) > 0) {
                dxf_push(pts, v.x, v.y);
                lastx = v.x;
                lasty = v.y;
            }
            if (j + 1 < q.count)
                dxf_bulgepoints(pts, v, q.verts[j + 1], g.size);
        }
    }
    const dxf_poly &first = d->polys[chain[0]];
    if (chain.size() == 1 && (first.flags & 1)) {
        // A closed polyline's last bulge shapes its closing segment.
        const dxf_polyvert &last = first.verts[first.count - 1];
        if (first.count > 1)
            dxf_bulgepoints(pts, last, first.verts[0], g.size);
        size_t n = pts.size();
        if (pts[n - 3] != pts[0] || pts[n - 2] != pts[1])
            dxf_push(pts, pts[0], pts[1]);
    }
    int n = (int)(pts.size() / 3);
    if (n >= dxf_maxlistpoints)
        sys_log("dxf: bulges of a polyline past %d points were drawn straight", dxf_maxlistpoints);
    if (n < 2)
        return;
    bool closed = pts[0] == pts[3 * (size_t)n - 3] && pts[1] == pts[3 * (size_t)n - 2];
    int c = dxf_addcurve(p, n, pts.data(), closed, g.tolerance);
    sys_log("...added path[%d] for %d lines/polys (verts:%d)", c, (int)chain.size(), n);
}

// Polys of the layer in file order; an open poly that starts where the
// previous open one ended continues its chain.
static void dxf_pathpolys(const dxf_drawing *d, const dxf_geometry &g, path *p, int layer)
{
    std::vector<int32_t> chain;
    std::vector<float> pts;
    for (int32_t i = 0; i < d->polycount; i++) {
        const dxf_poly &q = d->polys[i];
        if (q.layer != layer || q.count == 0)
            continue;
        bool joins = false;
        if (!chain.empty()) {
            const dxf_poly &prev = d->polys[chain.back()];
            if (!(prev.flags & 1) && !(q.flags & 1)) {
                double dx = (double)prev.verts[prev.count - 1].x - q.verts[0].x;
                double dy = (double)prev.verts[prev.count - 1].y - q.verts[0].y;
                joins = dx * dx + dy * dy <= g.join2;
            }
        }
        if (joins && chain.size() == dxf_maxchain) {
            // The chain is full: the rest of the layer goes on in a new one.
            sys_log("polyline chain overflow!!!");
            joins = false;
        }
        if (!joins && !chain.empty()) {
            dxf_emitchain(d, g, p, chain, pts);
            chain.clear();
        }
        sys_debuglog("...chain[%d] = poly[%d] (+%d verts)", (int)chain.size(), i, q.count);
        chain.push_back(i);
    }
    if (!chain.empty())
        dxf_emitchain(d, g, p, chain, pts);
}

// A straight two-knot curve for an arc too small for more points.
static void dxf_straightcurve(path *p, const double a[2], const double b[2])
{
    int c = path_newcurve(p);
    if (c < 0)
        return;
    const float pa[3] = {(float)a[0], (float)a[1], 0}, pb[3] = {(float)b[0], (float)b[1], 0};
    path_prependknot(p, c, pa);
    path_prependknot(p, c, pb);
}

static void dxf_patharc(const dxf_drawing *d, const dxf_geometry &g, path *p, int index)
{
    const dxf_arc &a = d->arcs[index];
    // Spans fall in (0, 360]: an end at or below the start wraps once.
    double span = std::fmod((double)a.ang2 - a.ang1, 360.0);
    if (span <= 0)
        span += 360.0;
    double start = a.ang2 > a.ang1 ? a.ang1 : a.ang1 - 360.0;
    if (!std::isfinite(span) || !std::isfinite(start)) {
        sys_log("dxf: skipping arc[%d]: angles out of range", index);
        return;
    }
    int n = (int)(span / g.arcstep + 0.5);
    sys_log("arc numsegs = %d (scale:%f)", n, g.arcstep);
    if (n <= 1) {
        double s[2], e[2];
        dxf_arcpoint(a, start, s);
        dxf_arcpoint(a, start + span, e);
        dxf_straightcurve(p, s, e);
        return;
    }
    std::vector<float> pts;
    pts.reserve(3 * (size_t)n);
    for (int i = 0; i < n; i++) {
        double q[2];
        dxf_arcpoint(a, start + span * i / (n - 1), q);
        dxf_push(pts, q[0], q[1]);
    }
    int c = dxf_addcurve(p, n, pts.data(), std::fabs(360.0 - span) < 0.1, g.tolerance);
    sys_log("...added path[%d] for arc[%d] (verts:%d)", c, index, n);
}

static void dxf_pathspline(const dxf_drawing *d, const dxf_geometry &g, path *p, int index)
{
    const dxf_spline &s = d->splines[index];
    std::vector<double> kn(s.knots, s.knots + s.knotcount);
    const char *fault = dxf_splinefault(s, kn);
    if (fault) {
        sys_log("dxf: skipping spline[%d]: %s (degree:%d points:%d knots:%d)", index, fault, s.degree, s.pointcount,
                s.knotcount);
        return;
    }
    if (s.weightcount > s.pointcount)
        sys_log(" !!! weights overflow for spline[%d] (%d weights for %d points)", index, s.weightcount,
                s.pointcount);
    double t0 = sys_seconds();
    double first = kn.front(), range = kn.back() - first;
    for (double &k : kn)
        k = (k - first) / range;
    float box[4] = {path_emptymin, path_emptymin, -path_emptymin, -path_emptymin};
    for (int i = 0; i < s.pointcount; i++)
        for (int axis = 0; axis < 2; axis++) {
            float v = s.points[3 * i + axis];
            box[axis] = v < box[axis] ? v : box[axis];
            box[axis + 2] = v > box[axis + 2] ? v : box[axis + 2];
        }
    double diag = std::hypot((double)box[2] - box[0], (double)box[3] - box[1]);
    double want = s.pointcount * (6 + 50 * (1 - g.t) * diag / g.size);
    int32_t n = want < dxf_maxsplinepoints ? (int32_t)want : dxf_maxsplinepoints;
    // A clamped knot vector runs 0..1 over its valid span; an unclamped one
    // (closed splines) is evaluated only where degree + 1 basis functions
    // cover it.
    double u0 = kn[(size_t)s.degree], u1 = kn[(size_t)s.pointcount];
    double step = 1.0 / (n - 1);
    std::vector<float> pts;
    pts.reserve(3 * (size_t)n);
    for (int32_t i = 0; i < n; i++) {
        double f = i * step < 1 ? i * step : 1.0;
        double q[2];
        if (dxf_splinepoint(s, kn, u0 + (u1 - u0) * f, q))
            dxf_push(pts, q[0], q[1]);
    }
    sys_debuglog("...generating %d poly verts from %d spline verts (step:%f elapsed:%.2fs)", n, s.pointcount, step,
                 sys_seconds() - t0);
    int count = (int)(pts.size() / 3);
    if (count < 2)
        return;
    int c = dxf_addcurve(p, count, pts.data(), s.flags & 1, g.tolerance);
    sys_log("...added path[%d] for spline[%d] (verts:%d closed:%d)", c, index, count, s.flags & 1);
}

static double dxf_dist2(const path *p, int ka, int kb)
{
    double dx = (double)p->knots[ka].pos[0] - p->knots[kb].pos[0];
    double dy = (double)p->knots[ka].pos[1] - p->knots[kb].pos[1];
    return dx * dx + dy * dy;
}

// The open curve whose end lies nearest one of c's ends, within the join
// distance; *mode says which ends meet, as path_appendcurves takes it.
static int dxf_nearestend(const path *p, int c, double join2, int *mode)
{
    const curve &cc = p->curves[c];
    int best = -1;
    double bestd = INFINITY;
    for (int o = p->ctail; o != -1; o = p->curves[o].next) {
        const curve &oc = p->curves[o];
        if (o == c || oc.closed || oc.head < 0)
            continue;
        // Source end, destination end, mode.
        const int cases[4][3] = {{oc.tail, cc.head, 0}, {oc.head, cc.head, 1}, {oc.tail, cc.tail, 2},
                                 {oc.head, cc.tail, 3}};
        for (const auto &k : cases) {
            double d2 = dxf_dist2(p, k[0], k[1]);
            if (d2 <= join2 && d2 < bestd) {
                bestd = d2;
                best = o;
                *mode = k[2];
            }
        }
    }
    return best;
}

// Closes the curve when its own ends lie within the join distance, both
// moved (with their handles) to their midpoint.
static void dxf_closeends(path *p, int c, double join2)
{
    curve &cc = p->curves[c];
    if (cc.head == cc.tail || dxf_dist2(p, cc.head, cc.tail) > join2)
        return;
    knot &h = p->knots[cc.head], &t = p->knots[cc.tail];
    for (int i = 0; i < 2; i++) {
        float mid = 0.5f * (h.pos[i] + t.pos[i]);
        float dh = mid - h.pos[i], dt = mid - t.pos[i];
        h.pos[i] += dh;
        h.h1[i] += dh;
        h.h2[i] += dh;
        t.pos[i] += dt;
        t.h1[i] += dt;
        t.h2[i] += dt;
    }
    cc.closed = 1;
    sys_log("...closed path[%d] head[%d].prev:%d tail[%d].next:%d", c, cc.head, h.prev, cc.tail, t.next);
}

static void dxf_autojoin(path *p, const dxf_geometry &g, float setting)
{
    sys_log("auto-joining separate paths... (dist:%f)", (double)setting);
    for (int c = p->ctail; c != -1; c = p->curves[c].next) {
        if (p->curves[c].head < 0)
            continue;
        while (!p->curves[c].closed) {
            int mode = 0;
            int other = dxf_nearestend(p, c, g.join2, &mode);
            if (other < 0) {
                dxf_closeends(p, c, g.join2);
                break;
            }
            if (!path_appendcurves(p, other, c, mode, g.tolerance))
                break;
            path_removecurve(p, other);
        }
    }
}

static path *dxf_pathlayer(const dxf_drawing *d, const dxf_geometry &g, int layer)
{
    sys_log("pathing dxf layer[%d] (%d entities)...", layer, d->layers[layer].entities);
    path *p = path_new();
    if (!p)
        return nullptr;
    dxf_pathpolys(d, g, p, layer);
    for (int i = 0; i < d->arccount; i++)
        if (d->arcs[i].layer == layer)
            dxf_patharc(d, g, p, i);
    for (int i = 0; i < d->splinecount; i++)
        if (d->splines[i].layer == layer)
            dxf_pathspline(d, g, p, i);
    float join = dxf_setting(cfg_dxfautojoin);
    if (join > 0)
        dxf_autojoin(p, g, join);
    return p;
}

// ------------------------------------------------ 5. combining, entry points

static void dxf_copycurve(path *dst, const path *src, int c)
{
    int nc = path_newcurve(dst);
    if (nc < 0)
        return;
    int32_t k = src->curves[c].tail;
    for (int32_t n = 0; k != -1 && n < src->ksz; n++) {
        const knot &s = src->knots[k];
        int nk = path_prependknot(dst, nc, s.pos);
        if (nk < 0)
            break;
        memcpy(dst->knots[nk].h1, s.h1, sizeof(s.h1));
        memcpy(dst->knots[nk].h2, s.h2, sizeof(s.h2));
        k = s.next;
    }
    dst->curves[nc].closed = src->curves[c].closed;
}

// One path with a copy of every curve, the layer paths freed; when no path
// can be made the layer paths are kept as they are.
static int dxf_combine(path **paths, int count, int layers)
{
    sys_log("combining %d DXF layers...", layers);
    path *all = path_new();
    if (!all)
        return count;
    for (int i = 0; i < count; i++) {
        for (int c = paths[i]->ctail; c != -1; c = paths[i]->curves[c].next)
            dxf_copycurve(all, paths[i], c);
        path_free(paths[i]);
    }
    paths[0] = all;
    return 1;
}

// Combining is asked when the drawing has several layers, and forced when
// its layers would not fit beside the project's.
static bool dxf_askcombine(int layers)
{
    if (layers <= 1)
        return false;
    char text[512];
    if (numlayers + layers > 63) {
        snprintf(text, sizeof(text),
                 "This DXF file contains %d separate geometry layers. Kerfmill will combine these geometry layers "
                 "into a single paths-layer to prevent going over the %d layer limit for the project's canvas.",
                 layers, 64);
        sys_messagebox("Combining DXF Geometry", text, 0, 4, 0);
        return true;
    }
    snprintf(text, sizeof(text),
             "This DXF file contains %d separate geometry layers. Would you like to combine them into a single "
             "paths-layer?",
             layers);
    return sys_messagebox("Combine DXF Geometry", text, 2, 5, 0) == 1;
}

// The part of a path after its last '/' or '\\'.
static const char *dxf_basename(const char *file)
{
    const char *name = file;
    for (const char *p = file; *p; p++)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    return name;
}

int dxf_loadtext(const char *name, const char *text, int32_t size, path **paths)
{
    double t0 = sys_seconds();
    dxf_drawing *d = (dxf_drawing *)sys_calloc(1, (int32_t)sizeof(dxf_drawing));
    if (!d) {
        sys_error("sys_loadDXF: failed to parse DXF file %s", dxf_basename(name));
        return 0;
    }
    d->name = dxf_basename(name);
    d->bounds[0] = d->bounds[1] = path_emptymin;
    d->bounds[2] = d->bounds[3] = -path_emptymin;
    d->polyline = d->lastlayer = -1;
    d->lines = dxf_countlines(text, size);
    dxf_parse(d, text, size);
    dxf_reportundeclared(d);
    dxf_geometry g = dxf_sizes(d);
    bool combine = dxf_askcombine(d->layercount);
    int count = 0;
    for (int l = 0; l < d->layercount; l++) {
        if (!d->layers[l].entities) {
            sys_log("skipping empty DXF layer[%d]...", l);
            continue;
        }
        path *p = dxf_pathlayer(d, g, l);
        if (p)
            paths[count++] = p;
    }
    if (combine)
        count = dxf_combine(paths, count, d->layercount);
    sys_log("...generated %d paths from %d DXF layers (%.2fs)", count, d->layercount, sys_seconds() - t0);
    dxf_free(d);
    return count;
}

int sys_loadDXF(const char *file, path **paths)
{
    int32_t size = 0;
    char *text = (char *)file_load(file, &size, 1, INT32_MAX - 1);
    if (!text) {
        sys_error("sys_loadDXF: failed to load DXF file");
        return 0;
    }
    int count = dxf_loadtext(file, text, size - 1, paths);
    sys_free(text);
    return count;
}
