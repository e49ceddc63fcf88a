// The shader table: 64 slots, each a name and a linked GLSL program. Start-up
// loads the program's shaders; drawing code binds them by slot and sets their
// uniforms by location. Shader work needs GL 2.0 and its entry points.
#pragma once
#include <cstdint>
#include <span>

constexpr int r_maxshaders = 64;

struct r_shader {
    char name[32];    // empty marks the slot free
    uint32_t program; // GL program name
};

extern r_shader r_shaders[r_maxshaders];
// glUseProgram calls issued by r_bindshader since start; lets a caller see
// that a bind was skipped.
extern int r_shaderbinds;

// Empties every slot and forgets the bound shader (start-up).
void r_clearshaders();
// Forgets which shader and texture are bound, so the next r_bindshader
// issues its call and r_texcoord stops clamping until a texture is bound.
// Called whenever a GL context is made current on, or released from, a
// thread: the program in use and the bindings belong to each context.
void r_resetbindings();

// Compiles and links a program into the first free slot; the slot or -1.
int r_loadshader(const char *name, const char *vertexsource, const char *fragmentsource);
// A uniform a loader looks up once: where its location goes, and its name.
struct r_uniformref {
    int *location;
    const char *name;
};
// r_loadshader, then the location of every listed uniform; the slot, or -1
// with every listed location set to -1.
int r_loadshaderuniforms(const char *name, const char *vertexsource, const char *fragmentsource,
                         std::span<const r_uniformref> uniforms);
// One stage (GL_VERTEX_SHADER or GL_FRAGMENT_SHADER); its GL name or 0.
uint32_t shader_compile(const char *label, const char *source, uint32_t stage);
// 0 when the shader compiled, 1 when it did not; logs the compiler's text.
int shader_checkcompile(const char *label, uint32_t shader);
// Makes the slot's program current (-1: none); a bind of the bound slot
// does nothing.
void r_bindshader(int slot);
void r_freeshader(int slot);
int r_shaderuniformlocation(int slot, const char *name);
// Set a uniform of the bound program.
void r_shaderuniformint(int location, int value);
void r_shaderuniformfloat(int location, float value);
void r_shaderuniformvec3(int location, int count, const float *values);
