// Immediate-mode drawing and render models. The immediate arrays grow while a
// large primitive is given and shrink back once it ends; a recording model
// grows its draw calls threefold and its vertex capacity to the power 1.1.
// Runs on the thread that holds a GL context; nothing here is locked.
#include "render/draw.h"

#include "geom/model.h"
#include "render/drawstate.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <cmath>
#include <cstdint>
#include <cstring>

r_vertexdata r_currentvertex = {0.0f, 0.0f, 0.0f, 255, 255, 255, 255, 0, 0};
int r_primitive = -1;
int r_immcapacity = 0;
r_model r_models[r_maxmodels];
int r_currentmodel = -1;
uint32_t r_vertsdrawn = 0;

static float *draw_positions = nullptr;
static uint8_t *draw_colors = nullptr;
static int16_t *draw_texcoords = nullptr;
static int draw_count = 0;       // vertices of the open primitive
static int draw_modelcursor = 0; // kept below r_maxmodels

// Per-vertex bytes of the three arrays.
constexpr int draw_positionbytes = 12;
constexpr int draw_colorbytes = 4;
constexpr int draw_texcoordbytes = 4;

static double draw_mib(uint64_t bytes)
{
    return (double)bytes / (1024.0 * 1024.0);
}

// The allocator takes 32-bit sizes: larger requests fail like a refused one.
static void *draw_realloc(void *block, uint64_t bytes)
{
    return bytes <= INT32_MAX ? sys_realloc(block, (int32_t)bytes) : nullptr;
}

// The immediate arrays at their resting size; all three or none.
static void draw_allocimmediate()
{
    r_quitdraw();
    draw_positions = (float *)sys_malloc(r_immediateverts * draw_positionbytes);
    draw_colors = (uint8_t *)sys_malloc(r_immediateverts * draw_colorbytes);
    draw_texcoords = (int16_t *)sys_malloc(r_immediateverts * draw_texcoordbytes);
    if (!draw_positions)
        sys_error("r_end: failed to allocate vertex position buffer");
    if (!draw_colors)
        sys_error("r_end: failed to allocate vertex color buffer");
    if (!draw_texcoords)
        sys_error("r_end: failed to allocate vertex texcoord buffer");
    r_immcapacity = r_immediateverts;
    if (!draw_positions || !draw_colors || !draw_texcoords)
        r_quitdraw();
}

void r_initdraw()
{
    sys_log("vertex size: %d", (int)sizeof(r_vertexdata));
    memset(r_models, 0, sizeof(r_models));
    draw_modelcursor = 0;
    r_currentmodel = -1;
    draw_allocimmediate();
}

void r_quitdraw()
{
    sys_free(draw_positions);
    sys_free(draw_colors);
    sys_free(draw_texcoords);
    draw_positions = nullptr;
    draw_colors = nullptr;
    draw_texcoords = nullptr;
    r_immcapacity = 0;
}

void r_begin(int primitive)
{
    if (r_primitive != -1) {
        sys_error("r_begin: already drawing primitives!");
        return;
    }
    if (primitive < 0 || primitive >= r_primitivekinds) {
        sys_log("r_begin: no primitive %d", primitive);
        return;
    }
    r_primitive = primitive;
    draw_count = 0;
}

// 0..1 to a byte; NaN counts as 0.
static uint8_t draw_channel(float c)
{
    if (!(c > 0.0f))
        return 0;
    if (c >= 1.0f)
        return 255;
    return (uint8_t)(c * 255.0f);
}

void r_color(float r, float g, float b, float a)
{
    r_currentvertex.r = draw_channel(r);
    r_currentvertex.g = draw_channel(g);
    r_currentvertex.b = draw_channel(b);
    r_currentvertex.a = draw_channel(a);
}

// A coordinate times 4096. A clamping texture needs nothing beyond a tenth
// past its edges; any other value is held to the 16-bit range rather than
// wrapped, so a far coordinate stays far. NaN counts as 0.
static int16_t draw_coordinate(float t, bool clamp)
{
    if (std::isnan(t))
        return 0;
    if (clamp) {
        if (t <= -0.1f)
            return -409;
        if (t >= 1.1f)
            return 4505;
        return (int16_t)(t * 4096.0f);
    }
    float s = t * 4096.0f;
    if (s <= (float)INT16_MIN)
        return INT16_MIN;
    if (s >= (float)INT16_MAX)
        return INT16_MAX;
    return (int16_t)s;
}

void r_texcoord(float u, float v)
{
    bool clamp = r_boundtexture >= 0 && r_boundtexture < r_maxtextures && r_textures[r_boundtexture].clamp;
    r_currentvertex.u = draw_coordinate(u, clamp);
    r_currentvertex.v = draw_coordinate(v, clamp);
}

// Doubles the immediate arrays; the capacity changes only when all three
// have grown.
static void draw_growimmediate()
{
    uint64_t capacity = r_immcapacity ? (uint64_t)r_immcapacity * 2 : r_immediateverts;
    void *p = draw_realloc(draw_positions, capacity * draw_positionbytes);
    if (p)
        draw_positions = (float *)p;
    else
        sys_error("r_vertex: failed to reallocate vertex position buffer");
    void *c = draw_realloc(draw_colors, capacity * draw_colorbytes);
    if (c)
        draw_colors = (uint8_t *)c;
    else
        sys_error("r_vertex: failed to reallocate vertex color buffer");
    void *t = draw_realloc(draw_texcoords, capacity * draw_texcoordbytes);
    if (t)
        draw_texcoords = (int16_t *)t;
    else
        sys_error("r_vertex: failed to reallocate vertex texcoord buffer");
    if (p && c && t)
        r_immcapacity = (int)capacity;
}

int r_vertex(float x, float y, float z)
{
    r_currentvertex.x = x;
    r_currentvertex.y = y;
    r_currentvertex.z = z;
    if (draw_count + 1 >= r_immcapacity)
        draw_growimmediate();
    // A vertex the arrays cannot take is dropped.
    if (draw_count >= r_immcapacity)
        return 0;
    const r_vertexdata &v = r_currentvertex;
    float *pos = draw_positions + (size_t)draw_count * 3;
    pos[0] = v.x;
    pos[1] = v.y;
    pos[2] = v.z;
    uint8_t *col = draw_colors + (size_t)draw_count * 4;
    col[0] = v.r;
    col[1] = v.g;
    col[2] = v.b;
    col[3] = v.a;
    int16_t *uv = draw_texcoords + (size_t)draw_count * 2;
    uv[0] = v.u;
    uv[1] = v.v;
    draw_count++;
    return 1;
}

static void draw_immediate()
{
    glVertexPointer(3, GL_FLOAT, 0, draw_positions);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, draw_colors);
    glTexCoordPointer(2, GL_SHORT, 0, draw_texcoords);
    glDrawArrays((GLenum)r_primitive, 0, draw_count);
    r_checkerror("r_end.drawarrays (primitive:%d num_verts:%d)", r_primitive, draw_count);
    r_vertsdrawn += (uint32_t)draw_count;
}

// Room for one more draw call; 0 when the array cannot grow.
static int draw_modelcalls(r_model &m)
{
    if (m.numcalls + 1 < m.maxcalls)
        return 1;
    uint64_t maxcalls = (uint64_t)m.maxcalls * 3;
    void *calls = draw_realloc(m.calls, maxcalls * sizeof(r_drawcall));
    if (!calls) {
        sys_error("r_end: failed to reallocate %3.1fmb model drawcall buffer",
                  draw_mib(maxcalls * sizeof(r_drawcall)));
        return 0;
    }
    m.calls = (r_drawcall *)calls;
    m.maxcalls = (uint32_t)maxcalls;
    return 1;
}

// Room for count more vertices: the capacity is raised to the power 1.1 (in
// single precision) until it exceeds what is needed. 0 when an array cannot
// grow; the capacity then stays and the arrays that grew are only larger.
static int draw_modelverts(r_model &m, uint32_t count)
{
    uint64_t need = (uint64_t)m.numverts + count;
    if (need < m.maxverts)
        return 1;
    uint64_t maxverts = m.maxverts;
    while (maxverts <= need) {
        uint64_t next = (uint64_t)powf((float)maxverts, 1.1f);
        maxverts = next > maxverts ? next : maxverts + 1;
    }
    void *p = draw_realloc(m.positions, maxverts * draw_positionbytes);
    if (p)
        m.positions = (float *)p;
    else
        sys_error("r_end: failed to reallocate %3.1fmb model vertex position buffer",
                  draw_mib(maxverts * draw_positionbytes));
    void *c = p ? draw_realloc(m.colors, maxverts * draw_colorbytes) : nullptr;
    if (c)
        m.colors = (uint8_t *)c;
    else if (p)
        sys_error("r_end: failed to reallocate %3.1fmb model vertex color buffer",
                  draw_mib(maxverts * draw_colorbytes));
    void *t = c ? draw_realloc(m.texcoords, maxverts * draw_texcoordbytes) : nullptr;
    if (t)
        m.texcoords = (int16_t *)t;
    else if (c)
        sys_error("r_end: failed to reallocate %3.1fmb model vertex texcoord buffer",
                  draw_mib(maxverts * draw_texcoordbytes));
    if (!t)
        return 0;
    m.maxverts = (uint32_t)maxverts;
    sys_debuglog("r_end: reallocated %3.1fmb model vertex buffer", draw_mib(maxverts * sizeof(r_vertexdata)));
    return 1;
}

// Appends the open primitive to the recording model as one draw call; a
// primitive the model has no room for is dropped.
static void draw_record(r_model &m)
{
    uint32_t count = (uint32_t)draw_count;
    if (!draw_modelcalls(m) || !draw_modelverts(m, count))
        return;
    m.calls[m.numcalls++] = {(uint32_t)r_primitive, count};
    memcpy(m.positions + (size_t)m.numverts * 3, draw_positions, (size_t)count * draw_positionbytes);
    memcpy(m.colors + (size_t)m.numverts * 4, draw_colors, (size_t)count * draw_colorbytes);
    memcpy(m.texcoords + (size_t)m.numverts * 2, draw_texcoords, (size_t)count * draw_texcoordbytes);
    m.numverts += count;
}

void r_end()
{
    if (r_primitive < 0) {
        sys_log("r_end: no primitive open");
        return;
    }
    if (r_currentmodel < 0)
        draw_immediate();
    else
        draw_record(r_models[r_currentmodel]);
    if (r_immcapacity != r_immediateverts)
        draw_allocimmediate();
    r_primitive = -1;
}

void r_scale(float x, float y, float z)
{
    glScalef(x, y, z);
}

void r_translate(float x, float y, float z)
{
    glTranslatef(x, y, z);
}

// The first free slot from the cursor, which moves to it unless it was the
// first one looked at; -1 when all are taken.
static int draw_findmodel()
{
    for (int i = 0; i < r_maxmodels; i++) {
        int slot = (draw_modelcursor + i) % r_maxmodels;
        if (r_models[slot].maxcalls)
            continue;
        if (i)
            draw_modelcursor = slot;
        return slot;
    }
    return -1;
}

static void draw_freearrays(r_model &m)
{
    sys_free(m.calls);
    sys_free(m.positions);
    sys_free(m.colors);
    sys_free(m.texcoords);
    m.calls = nullptr;
    m.positions = nullptr;
    m.colors = nullptr;
    m.texcoords = nullptr;
}

int r_modelnew()
{
    int slot = draw_findmodel();
    if (slot < 0) {
        sys_error("r_modelnew: overflow!");
        return -1;
    }
    r_model &m = r_models[slot];
    memset(&m, 0, sizeof(m));
    m.maxcalls = 256;
    m.maxverts = r_immediateverts;
    m.calls = (r_drawcall *)sys_malloc((int32_t)(m.maxcalls * sizeof(r_drawcall)));
    m.positions = m.calls ? (float *)sys_malloc((int32_t)m.maxverts * draw_positionbytes) : nullptr;
    m.colors = m.positions ? (uint8_t *)sys_malloc((int32_t)m.maxverts * draw_colorbytes) : nullptr;
    m.texcoords = m.colors ? (int16_t *)sys_malloc((int32_t)m.maxverts * draw_texcoordbytes) : nullptr;
    if (!m.texcoords) {
        if (!m.calls)
            sys_error("r_modelnew: failed to allocate %3.1fmb draw call buffer",
                      draw_mib(m.maxcalls * sizeof(r_drawcall)));
        else if (!m.positions)
            sys_error("r_modelnew: failed to allocate %3.1fmb vertex position buffer",
                      draw_mib((uint64_t)m.maxverts * draw_positionbytes));
        else if (!m.colors)
            sys_error("r_modelnew: failed to allocate %3.1fmb vertex color buffer",
                      draw_mib((uint64_t)m.maxverts * draw_colorbytes));
        else
            sys_error("r_modelnew: failed to allocate %3.1fmb vertex texcoord buffer",
                      draw_mib((uint64_t)m.maxverts * draw_texcoordbytes));
        // The slot goes back to the table rather than staying marked in use.
        draw_freearrays(m);
        memset(&m, 0, sizeof(m));
        return -1;
    }
    r_currentmodel = slot;
    sys_debuglog("r_modelnew = %d", slot);
    return slot;
}

void r_modelend()
{
    if (r_currentmodel < 0) {
        sys_log("r_modelend: no model recording");
        return;
    }
    r_model &m = r_models[r_currentmodel];
    glGenBuffers(4, m.buffers);
    r_checkerror("r_modelend.genbuffers");
    struct upload {
        int buffer;
        const void *data;
        int bytes;
        const char *what;
    };
    const upload uploads[] = {
        {0, m.positions, draw_positionbytes, "xyz"},
        {2, m.colors, draw_colorbytes, "rgba"},
        {3, m.texcoords, draw_texcoordbytes, "uv"},
    };
    for (const upload &u : uploads) {
        GLsizeiptr bytes = (GLsizeiptr)m.numverts * u.bytes;
        glBindBuffer(GL_ARRAY_BUFFER, m.buffers[u.buffer]);
        glBufferData(GL_ARRAY_BUFFER, bytes, u.data, GL_STATIC_DRAW);
        r_checkerror("r_modelend.bufferdata(%s) %db", u.what, (int)bytes);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    sys_free(m.positions);
    sys_free(m.colors);
    sys_free(m.texcoords);
    m.positions = nullptr;
    m.colors = nullptr;
    m.texcoords = nullptr;
    m.maxverts = 0;
    r_currentmodel = -1;
}

void r_modeldraw(int slot)
{
    if (slot < 0 || slot >= r_maxmodels)
        return;
    r_model &m = r_models[slot];
    // Only an uploaded model has buffers to point the arrays at.
    if (!m.maxcalls || m.maxverts) {
        sys_log("r_modeldraw: model %d is not uploaded", slot);
        return;
    }
    glBindBuffer(GL_ARRAY_BUFFER, m.buffers[0]);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, m.buffers[2]);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, nullptr);
    glBindBuffer(GL_ARRAY_BUFFER, m.buffers[3]);
    glTexCoordPointer(2, GL_SHORT, 0, nullptr);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < m.numcalls; i++) {
        const r_drawcall &call = m.calls[i];
        glDrawArrays(call.primitive, (GLint)offset, (GLsizei)call.count);
        r_checkerror("r_modeldraw.drawarrays (primitive:%d offset:%d num_verts:%d)", (int)call.primitive,
                     (int)offset, (int)call.count);
        r_vertsdrawn += call.count;
        offset += call.count;
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void r_modelfree(int slot)
{
    if (slot < 0 || slot >= r_maxmodels || !r_models[slot].maxcalls)
        return;
    r_model &m = r_models[slot];
    // A model freed while recording still holds its vertex arrays.
    draw_freearrays(m);
    if (m.buffers[0])
        glDeleteBuffers(4, m.buffers);
    memset(&m, 0, sizeof(m));
    if (r_currentmodel == slot)
        r_currentmodel = -1;
}

void r_blendmode(int mode)
{
    struct blendpair {
        GLenum source, destination;
    };
    static const blendpair pairs[] = {
        {GL_ZERO, GL_ZERO}, // mode 0 disables blending
        {GL_ONE, GL_ONE},
        {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA},
        {GL_DST_COLOR, GL_SRC_COLOR},
        {GL_ONE, GL_ONE_MINUS_SRC_COLOR},
        {GL_SRC_COLOR, GL_DST_COLOR},
        {GL_SRC_ALPHA, GL_ONE},
        {GL_SRC_ALPHA, GL_SRC_COLOR},
    };
    if (mode <= 0 || mode >= (int)(sizeof(pairs) / sizeof(pairs[0]))) {
        glDisable(GL_BLEND);
        return;
    }
    glEnable(GL_BLEND);
    glBlendFunc(pairs[mode].source, pairs[mode].destination);
}

void r_begintriangles()
{
    gui_currentdrawstate = &gui_defaultdrawstate;
    r_bindshader(-1);
    r_bindtexture(gui_currentdrawstate->texture, 0);
    r_blendmode(gui_currentdrawstate->blend);
    r_begin(r_triangles);
}

void mesh_drawtris(const model *mesh)
{
    if (!mesh)
        return;
    r_begin(r_triangles);
    uint32_t faces = mesh->faces && mesh->verts ? mesh->num_faces : 0;
    uint32_t skipped = 0;
    for (uint32_t i = 0; i < faces; i++) {
        const model_face &f = mesh->faces[i];
        if (f.a >= mesh->num_verts || f.b >= mesh->num_verts || f.c >= mesh->num_verts) {
            skipped++;
            continue;
        }
        r_color(f.normal[0], f.normal[1], f.normal[2], 0.0f);
        for (uint32_t index : {f.a, f.b, f.c}) {
            const float *p = mesh->verts + (size_t)index * 3;
            r_vertex(p[0], p[1], p[2]);
        }
    }
    r_end();
    r_bindshader(-1);
    if (skipped)
        sys_log("mesh_drawtris: skipped %u faces naming vertices beyond %u", skipped, mesh->num_verts);
}
