// Immediate-mode drawing and render models. A primitive is begun, given
// vertices with the current colour and texture coordinate, and ended: it is
// drawn at once from client arrays or, while a render model records, added
// to that model, which is later uploaded to GL buffers and redrawn whole.
#pragma once
#include <cstdint>

struct model;

// One vertex as the renderer keeps it: texture coordinates are 4096 times
// the value given (the texture matrix scales them back).
struct r_vertexdata {
    float x, y, z;
    uint8_t r, g, b, a;
    int16_t u, v;
};
static_assert(sizeof(r_vertexdata) == 20, "vertices travel as 20 bytes");

// Primitive numbers, the GL's own.
enum r_primitivekind {
    r_points,
    r_lines,
    r_lineloop,
    r_linestrip,
    r_triangles,
    r_trianglestrip,
    r_trianglefan,
    r_primitivekinds
};

constexpr int r_immediateverts = 65536; // immediate capacity it shrinks back to
constexpr int r_maxmodels = 256;

struct r_drawcall {
    uint32_t primitive; // GL mode
    uint32_t count;     // vertices
};

// A render model: recording while its CPU arrays exist, uploaded once its
// GL buffers hold them.
struct r_model {
    r_drawcall *calls;
    float *positions;    // 3 per vertex; null after upload
    uint8_t *colors;     // 4 per vertex; null after upload
    int16_t *texcoords;  // 2 per vertex; null after upload
    uint32_t numcalls;
    uint32_t maxcalls;   // nonzero marks the slot in use
    uint32_t numverts;
    uint32_t maxverts;   // 0 after upload
    uint32_t buffers[4]; // positions, unused, colours, texture coordinates
};

extern r_vertexdata r_currentvertex;
extern int r_primitive;       // the open primitive, -1 none
extern int r_immcapacity;     // vertices the immediate arrays hold
extern r_model r_models[r_maxmodels];
extern int r_currentmodel;    // the recording model, -1 none
extern uint32_t r_vertsdrawn; // vertices drawn this frame; the frame loop zeroes it

// Logs the vertex size, empties the model table and sizes the immediate
// arrays (start-up).
void r_initdraw();
// Frees the immediate arrays (shutdown).
void r_quitdraw();

void r_begin(int primitive);
void r_color(float r, float g, float b, float a);
void r_texcoord(float u, float v);
// 1 when the vertex was stored, 0 when its arrays could not grow.
int r_vertex(float x, float y, float z);
void r_end();
// One primitive of kind from count vertices of any record with x, y, z and
// r, g, b, a: the callers keep vertex lists of their own layouts.
template <class V> void r_emitcoloured(int kind, const V *verts, int count)
{
    r_begin(kind);
    for (int i = 0; i < count; i++) {
        const V &v = verts[i];
        r_currentvertex.r = v.r;
        r_currentvertex.g = v.g;
        r_currentvertex.b = v.b;
        r_currentvertex.a = v.a;
        r_vertex(v.x, v.y, v.z);
    }
    r_end();
}
void r_scale(float x, float y, float z);
void r_translate(float x, float y, float z);

// Starts recording a model, which becomes the current one; slot or -1.
int r_modelnew();
// Uploads the current model and stops recording.
void r_modelend();
void r_modeldraw(int slot);
// Frees a recording or uploaded model; -1 does nothing.
void r_modelfree(int slot);

// Enables blending with the pair of a blend mode 1..7; 0 disables it.
void r_blendmode(int mode);
// The GUI's default 2D draw state (texture, blend) and an open triangles
// primitive.
void r_begintriangles();
// A mesh model's faces as triangles coloured by their normals; null does
// nothing. Faces naming a vertex beyond the mesh are skipped.
void mesh_drawtris(const model *mesh);
