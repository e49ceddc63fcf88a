// The GLSL of the six programs of the project start, their load with every
// uniform location, and their release. The three surface programs share
// their lighting (normal from the depth texture, diffuse shade, specular
// highlight, bent colour gradient).
#include "project/surfaceshaders.h"

#include "render/shader.h"

#include <span>
#include <string>

project_slicesprogram project_slices;
project_meshprogram project_mesh;
project_toolpathprogram project_toolpath;
project_simulationprogram project_simulation;
project_rasterbrushprogram project_rasterbrush;
project_pathoverlapprogram project_pathoverlap;

// The lighting the surface programs share. a is +1 for a heightfield and
// -1 for a depth map; beyond the texture's edge the field is taken at its
// floor (height 0, depth 1).
static const char surface_lighting[] = R"(
vec3 surface_normal(sampler2D tex, vec2 tc, vec3 isz, float a)
{
    float edge = 0.5 - a * 0.5;
    vec2 dx = vec2(2.0 * isz.x, 0.0);
    vec2 dy = vec2(0.0, 2.0 * isz.y);
    float sl = texture2D(tex, tc - dx).r;
    float sr = texture2D(tex, tc + dx).r;
    float sb = texture2D(tex, tc - dy).r;
    float st = texture2D(tex, tc + dy).r;
    if (tc.x < isz.x)
        sl = edge;
    else if (tc.x > 1.0 - isz.x)
        sr = edge;
    if (tc.y < isz.y)
        sb = edge;
    else if (tc.y > 1.0 - isz.y)
        st = edge;
    vec2 g = vec2(sl - sr, st - sb) * 0.5;
    return normalize(vec3(g, sqrt(1.0 - clamp(dot(g, g), 0.0, 1.0)) * isz.z)) * a;
}
float surface_shade(vec3 n, vec3 light, float weight)
{
    return mix(1.0, dot(n, light) * 0.75 + 0.3, weight * 0.5);
}
// specular: exponent, intensity, roughness; the roughness sets a
// Schlick-style geometry term that fades the highlight at grazing views.
float surface_specular(vec3 n, vec3 view, vec3 light, vec3 specular)
{
    vec3 v = normalize(view);
    float ndv = max(dot(n, -v), 0.0);
    float k = (1.0 - specular.z) * (1.0 - specular.z) * 0.5;
    float g = ndv / max(ndv * (1.0 - k) + k, 1e-6);
    return pow(max(dot(n, normalize(light - v)), 0.0), specular.x) * specular.y * g;
}
// Bends the 0..1 gradient parameter toward one end; v = 0.5 leaves it.
float surface_superbend(float x, float v)
{
    if (v < 0.5)
        return 1.0 - pow(1.0 - x, 1.0 / ((2.0 * v) * (2.0 * v)));
    return pow(x, 1.0 / ((2.0 * (1.0 - v)) * (2.0 * (1.0 - v))));
}
)";

// ---------------------------------------------------------------- canvas_slices

// A slice's height rides in its vertex colour, red the fine and green the
// coarse byte. The view direction is camvec in orthographic views; in
// perspective the eye-to-vertex direction turned back into model axes.
static const char slices_vertex[] = R"(#version 120
uniform vec3 camvec;
varying vec3 texcoord;
varying vec3 viewdir;
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
    texcoord.xy = (gl_TextureMatrix[0] * gl_MultiTexCoord0).xy;
    texcoord.z = (gl_Color.r + gl_Color.g * 255.0) / 256.0;
    vec3 eye = (gl_ModelViewMatrix * gl_Vertex).xyz;
    viewdir = dot(camvec, camvec) > 0.0 ? camvec : eye * mat3(gl_ModelViewMatrix);
}
)";

static const std::string slices_fragment = std::string("#version 120\n") + surface_lighting + R"(
uniform sampler2D texdepth;
uniform sampler2D texselect;
uniform vec4 isize;
uniform vec3 light;
uniform vec3 specular;
uniform vec3 rgb1;
uniform vec3 rgb2;
uniform float stepsize;
uniform float bendcolor;
uniform vec3 psize;
uniform float grain_scale;
uniform vec3 grain_vector[3];
uniform vec3 grain_offset;
uniform vec3 grain_freq;
uniform vec3 grain_amp;
uniform vec3 grain_rad;
uniform vec3 grain_tubes;
varying vec3 texcoord;
varying vec3 viewdir;

const float PI = 3.14159265;

float D(vec2 p)
{
    return texture2D(texdepth, p).r;
}

// Value noise: hashes on the integer lattice, blended with smoothstep
// weights; the p variants wrap the lattice at a period.
float hash(float n)
{
    return fract(0.5 + sin(n * 123.0) * 123.321);
}
float hash2(vec2 p)
{
    return hash(p.x + hash(p.y) * 97.37131);
}
vec3 hash3d(vec3 p)
{
    return vec3(hash(p.x + hash(p.y + hash(p.z))), hash(p.y + hash(p.z + hash(p.x))),
                hash(p.z + hash(p.x + hash(p.y))));
}
float noise(float x)
{
    float i = floor(x);
    float f = fract(x);
    return mix(hash(i), hash(i + 1.0), f * f * (3.0 - 2.0 * f));
}
float pnoise2(vec2 p, vec2 period)
{
    vec2 i = floor(p);
    vec2 f = fract(p);
    vec2 w = f * f * (3.0 - 2.0 * f);
    float a = hash2(mod(i, period));
    float b = hash2(mod(i + vec2(1.0, 0.0), period));
    float c = hash2(mod(i + vec2(0.0, 1.0), period));
    float d = hash2(mod(i + vec2(1.0, 1.0), period));
    return mix(mix(a, b, w.x), mix(c, d, w.x), w.y);
}
// Five octaves, each at twice the frequency and half the weight.
float fractal(float x)
{
    return noise(x) * 0.5164 + noise(x * 2.0) * 0.2582 + noise(x * 4.0) * 0.1291 + noise(x * 8.0) * 0.0645 +
           noise(x * 16.0) * 0.0322;
}
float pfractal2(vec2 p, vec2 period)
{
    return pnoise2(p, period) * 0.5164 + pnoise2(p * 2.0, period * 2.0) * 0.2582 +
           pnoise2(p * 4.0, period * 4.0) * 0.1291 + pnoise2(p * 8.0, period * 8.0) * 0.0645 +
           pnoise2(p * 16.0, period * 16.0) * 0.0322;
}
// Squared distance to the nearest of one jittered point per lattice cell.
float voronoi(vec3 x)
{
    vec3 i = floor(x);
    vec3 f = fract(x);
    float best = 999.0;
    for (int z = -1; z <= 1; z++)
        for (int y = -1; y <= 1; y++)
            for (int k = -1; k <= 1; k++) {
                vec3 b = vec3(float(k), float(y), float(z));
                vec3 r = b + hash3d(i + b) * 0.99 - f;
                best = min(best, dot(r, r));
            }
    return best;
}

// Walks back along the view ray from the slice toward the surface, then
// closes in on it by halving the step.
vec3 slices_refine(vec3 tc, float a)
{
    vec3 d = normalize(viewdir * isize.xyz * vec3(1.0, -1.0, 1.0)) * stepsize * 0.3;
    for (int i = 0; i < 6; i++) {
        tc -= d;
        if (tc.x <= 0.0 || tc.x >= 1.0 || tc.y <= 0.0 || tc.y >= 1.0)
            break;
        float alpha = (D(tc.xy) - tc.z) * a;
        if (alpha < 0.0) {
            d *= 0.5;
            tc += d;
            for (int j = 0; j < 4; j++) {
                alpha = (D(tc.xy) - tc.z) * a;
                d *= 0.5;
                if (alpha < 0.0)
                    tc += d;
                else if (alpha > 0.0001)
                    tc -= d;
                else
                    break;
            }
            break;
        }
    }
    return tc;
}

// Growth rings around the grain axis, wobbled along and around it, with
// the pores of the wood; returns the gradient parameter and darkens shade.
// grain_rad.x scales the ring radius (0.5 leaves it as it is).
float slices_grain(vec3 tc, float a, inout float shade)
{
    if (a < 0.0)
        tc.z = 1.0 - tc.z;
    vec3 delta = ((tc - 0.5) * psize - grain_offset * max(psize.x, max(psize.y, psize.z)) * 2.0) * grain_scale;
    vec3 pos = vec3(dot(delta, grain_vector[0]), dot(delta, grain_vector[1]), dot(delta, grain_vector[2]));
    float seed = (noise(psize.x * 17.0) + noise(psize.y * 21.0) + noise(psize.z * 23.0)) * 13.371;
    float r = length(pos.xz) * (0.5 + grain_rad.x);
    float angle = mod(seed + (0.5 + atan(pos.z, pos.x) / PI) * 0.5 + 0.5, 1.0);
    float rv = r + noise(seed + r * grain_freq.x * 2.0) * grain_amp.x * (sqrt(1.0 + r / 2.0) - 1.0) * 0.1;
    float along = fractal(seed + pos.y * grain_freq.y * grain_freq.y * 0.1) * 2.0 - 1.0;
    rv *= 1.0 + along * grain_amp.y * grain_amp.y * 0.1;
    float pa = floor(1.0 + grain_freq.z * 40.0);
    float pb = floor(1.731 + grain_freq.z * 60.0);
    float av = (pfractal2(vec2(seed + pos.y * grain_freq.y * 0.1, angle * pa), vec2(2048.0, pa)) * 2.0 - 1.0) +
               (pfractal2(vec2(seed + pos.y * grain_freq.y * 0.2 + 17.1173, angle * pb), vec2(2048.0, pb)) * 4.0 - 2.0);
    rv *= 1.0 + av * grain_amp.z * grain_amp.z * 0.1;
    vec2 across = pos.xz * rv / (1.0 + r) * (grain_tubes.x * 25.0 + 5.0);
    float tubes = sin(voronoi(vec3(across, pos.y * (1.0 - grain_tubes.y))));
    tubes = 1.0 - (1.0 - tubes) * (1.0 - tubes);
    rv += tubes * 0.04;
    float gx = mod(rv * 2.0 + 1.0, 2.0) - 1.0;
    float f = pow(gx * gx, 32.0);
    float color = gx * (1.0 - f) * 0.5 + 0.5;
    color = 1.0 - color * color;
    shade *= mix(0.75 + 0.35 * tubes, 0.90 + 0.15 * tubes, color);
    return color;
}

float lstep(float x0, float x1, float v)
{
    return clamp((v - x0) / (x1 - x0), 0.0, 1.0);
}

void main()
{
    vec3 tc = texcoord;
    float a = sign(isize.z);
    // A slice above the surface shows nothing; the bottom slice of a
    // heightfield and the top slice of a depth map always show.
    if ((a > 0.0 && tc.z > 0.0) || (a < 0.0 && tc.z < 0.9999)) {
        if ((D(tc.xy) - tc.z) * a < 0.0)
            discard;
    }
    if (stepsize > 0.0)
        tc = slices_refine(tc, a);
    vec3 n = surface_normal(texdepth, tc.xy, isize.xyz, a);
    float shade = surface_shade(n, light, isize.w);
    float spec = surface_specular(n, viewdir, light, specular);
    float color;
    if (grain_scale != 0.0)
        color = slices_grain(tc, a, shade);
    else
        color = surface_superbend(clamp(a > 0.0 ? tc.z : 1.0 - tc.z, 0.0, 1.0), bendcolor);
    vec3 rgb = mix(rgb1, rgb2, color);
    // Where the selection falls off, an 8-pixel red diamond pattern shows
    // through; a full selection (1) leaves the surface as it is.
    float k = texture2D(texselect, tc.xy).r;
    vec2 cell = abs(0.5 - fract(gl_FragCoord.xy / 8.0));
    float w = lstep(k - 0.25, k + 0.25, abs(1.0 - 2.0 * (cell.x + cell.y)));
    gl_FragColor = vec4(mix(rgb * shade * (1.0 - spec) + spec, vec3(shade * 0.6 + 0.4, 0.0, 0.0), w), 1.0);
}
)";

// ---------------------------------------------------------------- canvas_mesh

static const char mesh_vertex[] = R"(#version 120
uniform vec3 camvec;
varying vec2 texcoord;
varying vec3 viewdir;
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
    texcoord = (gl_TextureMatrix[0] * gl_MultiTexCoord0).xy;
    vec3 eye = (gl_ModelViewMatrix * gl_Vertex).xyz;
    viewdir = dot(camvec, camvec) > 0.0 ? camvec : eye * mat3(gl_ModelViewMatrix);
}
)";

// The mesh carries the heights; the texture gives the fine normals and
// the gradient parameter.
static const std::string mesh_fragment = std::string("#version 120\n") + surface_lighting + R"(
uniform sampler2D texdepth;
uniform vec3 light;
uniform vec3 specular;
uniform vec3 rgb1;
uniform vec3 rgb2;
uniform vec4 isize;
varying vec2 texcoord;
varying vec3 viewdir;
void main()
{
    vec3 n = surface_normal(texdepth, texcoord, isize.xyz, 1.0);
    float shade = surface_shade(n, light, isize.w);
    float spec = surface_specular(n, viewdir, light, specular);
    vec3 rgb = mix(rgb1, rgb2, clamp(texture2D(texdepth, texcoord).r, 0.0, 1.0));
    gl_FragColor = vec4(rgb * shade * (1.0 - spec) + spec, 1.0);
}
)";

// ---------------------------------------------------------------- toolpath

// A vertex's place along its toolpath (0..1) travels in the raw texture
// coordinates: the coarse part in s (x 4096), the fine part in t.
static const char toolpath_vertex[] = R"(#version 120
varying float pos;
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
    gl_FrontColor = gl_Color;
    pos = gl_MultiTexCoord0.s / 4096.0 + gl_MultiTexCoord0.t / (4096.0 * 4096.0);
}
)";

// The part already cut (before progress) turns to the inverted colour,
// faint; stipple marks lines hidden behind the surface with a 2-pixel
// checker of two faint alphas.
static const char toolpath_fragment[] = R"(#version 120
uniform int stipple;
uniform float progress;
varying float pos;
void main()
{
    vec4 c = gl_Color;
    if (pos < progress)
        c = vec4(1.0 - c.g, 1.0 - c.b, 1.0 - c.r, c.a * 0.15);
    if (stipple != 0) {
        vec2 q = floor(gl_FragCoord.xy / 2.0) + vec2(0.0, 1.0);
        c.a *= mod(q.x + q.y, 2.0) > 0.5 ? 0.3 : 0.1;
        c.rgb = c.rgb * 0.8 + 0.1;
    }
    gl_FragColor = c;
}
)";

// ---------------------------------------------------------------- simulation

// The stock's box is drawn; each fragment starts a ray where the box is
// entered, in map space: x, y over the depth-map 0..1, z from the bottom
// of the stock (0) to its top (1).
static const char simulation_vertex[] = R"(#version 120
uniform vec3 scale;
uniform vec3 offs;
uniform vec3 cam_vec;
varying vec3 mappos;
varying vec3 mapview;
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
    mappos = gl_Vertex.xyz * scale + offs;
    vec3 eye = (gl_ModelViewMatrix * gl_Vertex).xyz;
    vec3 view = dot(cam_vec, cam_vec) > 0.0 ? cam_vec : eye * mat3(gl_ModelViewMatrix);
    mapview = view * scale;
}
)";

// The proxy holds the smallest depth of each block of proxysize x proxysize
// depth-map pixels, so the ray may skip down to that block's highest
// surface without leaving the block. Then 16 / step steps of step / 16
// along the ray's longest axis, and five halvings onto the surface.
static const std::string simulation_fragment = std::string("#version 120\n") + surface_lighting + R"(
uniform sampler2D depth;
uniform sampler2D proxy;
uniform vec3 scale;
uniform vec3 offs;
uniform float proxysize;
uniform float step;
uniform vec3 rgb1;
uniform vec3 rgb2;
uniform vec3 light;
uniform vec3 specular;
uniform vec4 isize;
uniform float bendcolor;
varying vec3 mappos;
varying vec3 mapview;

float sim_height(vec2 p)
{
    return 1.0 - texture2D(depth, p).r;
}

bool sim_inside(vec3 p)
{
    return all(greaterThanEqual(p, vec3(-0.0001))) && all(lessThanEqual(p, vec3(1.0001)));
}

// Advances p to the top of the highest surface in its proxy block, or to
// the block's side, whichever the ray meets first.
vec3 sim_start(vec3 p, vec3 dir)
{
    float top = 1.0 - texture2D(proxy, p.xy).r;
    if (dir.z >= 0.0 || p.z <= top)
        return p;
    float t = (top - p.z) / dir.z;
    vec2 block = proxysize * isize.xy;
    vec2 lo = floor(p.xy / block) * block;
    vec2 hi = lo + block;
    if (dir.x > 0.0)
        t = min(t, (hi.x - p.x) / dir.x);
    else if (dir.x < 0.0)
        t = min(t, (lo.x - p.x) / dir.x);
    if (dir.y > 0.0)
        t = min(t, (hi.y - p.y) / dir.y);
    else if (dir.y < 0.0)
        t = min(t, (lo.y - p.y) / dir.y);
    return p + dir * max(t, 0.0);
}

void main()
{
    vec3 dir = normalize(mapview);
    dir /= max(abs(dir.x), max(abs(dir.y), abs(dir.z)));
    vec3 d = dir * step / 16.0;
    float steps = min(16.0 / step, 1024.0);
    vec3 p = sim_start(mappos, dir);
    bool hit = false;
    int taken = 0;
    for (int i = 0; i < 1024; i++) {
        if (float(i) > steps || !sim_inside(p))
            break;
        if (p.z <= sim_height(p.xy)) {
            hit = true;
            break;
        }
        p += d;
        taken++;
    }
    if (!hit)
        discard;
    if (taken > 0) {
        vec3 above = p - d;
        for (int j = 0; j < 5; j++) {
            vec3 mid = (above + p) * 0.5;
            if (mid.z <= sim_height(mid.xy))
                p = mid;
            else
                above = mid;
        }
    }
    vec4 clip = gl_ModelViewProjectionMatrix * vec4((p - offs) / scale, 1.0);
    gl_FragDepth = (gl_DepthRange.diff * clip.z / clip.w + gl_DepthRange.near + gl_DepthRange.far) * 0.5;

    vec3 n = surface_normal(depth, p.xy, vec3(isize.xy, -abs(isize.z)), -1.0);
    float shade = surface_shade(n, light, isize.w);
    float spec = surface_specular(n, mapview, light, specular);
    vec3 rgb = mix(rgb1, rgb2, surface_superbend(clamp(1.0 - p.z, 0.0, 1.0), bendcolor));
    gl_FragColor = vec4(rgb * shade * (1.0 - spec) + spec, 1.0);
}
)";

// ---------------------------------------------------------------- rasterbrush, pathoverlap

static const char rasterbrush_vertex[] = R"(#version 120
uniform float alpha;
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
    gl_FrontColor = vec4(gl_Color.rgb, gl_Color.a * alpha);
}
)";

static const char rasterbrush_fragment[] = R"(#version 120
void main()
{
    gl_FragColor = gl_Color;
}
)";

static const char pathoverlap_vertex[] = R"(#version 120
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
    gl_FrontColor = gl_Color;
}
)";

// Overlapping path strokes are marked with 8-pixel diamonds: inside each
// diamond the colour shows, between them it is transparent.
static const char pathoverlap_fragment[] = R"(#version 120
void main()
{
    vec2 cell = abs(0.5 - fract(gl_FragCoord.xy / 8.0));
    gl_FragColor = vec4(gl_Color.rgb, cell.x + cell.y < 0.5 ? gl_Color.a : 0.0);
}
)";

// ---------------------------------------------------------------- loading

struct surface_uniform {
    const char *name;
    int *location;
};

struct surface_program {
    const char *name;
    const char *vertex;
    const char *fragment;
    int *slot;
    std::span<const surface_uniform> uniforms;
};

static const surface_uniform slices_uniforms[] = {
    {"texdepth", &project_slices.texdepth},       {"texselect", &project_slices.texselect},
    {"isize", &project_slices.isize},             {"light", &project_slices.light},
    {"specular", &project_slices.specular},       {"rgb1", &project_slices.rgb1},
    {"rgb2", &project_slices.rgb2},               {"camvec", &project_slices.camvec},
    {"stepsize", &project_slices.stepsize},       {"bendcolor", &project_slices.bendcolor},
    {"psize", &project_slices.psize},             {"grain_scale", &project_slices.grain_scale},
    {"grain_vector", &project_slices.grain_vector}, {"grain_offset", &project_slices.grain_offset},
    {"grain_freq", &project_slices.grain_freq},   {"grain_amp", &project_slices.grain_amp},
    {"grain_rad", &project_slices.grain_rad},     {"grain_tubes", &project_slices.grain_tubes},
};

static const surface_uniform mesh_uniforms[] = {
    {"texdepth", &project_mesh.texdepth}, {"light", &project_mesh.light}, {"specular", &project_mesh.specular},
    {"rgb1", &project_mesh.rgb1},         {"rgb2", &project_mesh.rgb2},   {"isize", &project_mesh.isize},
    {"camvec", &project_mesh.camvec},
};

static const surface_uniform toolpath_uniforms[] = {
    {"stipple", &project_toolpath.stipple},
    {"progress", &project_toolpath.progress},
};

static const surface_uniform simulation_uniforms[] = {
    {"depth", &project_simulation.depth},         {"proxy", &project_simulation.proxy},
    {"scale", &project_simulation.scale},         {"offs", &project_simulation.offs},
    {"proxysize", &project_simulation.proxysize}, {"step", &project_simulation.step},
    {"rgb1", &project_simulation.rgb1},           {"rgb2", &project_simulation.rgb2},
    {"light", &project_simulation.light},         {"specular", &project_simulation.specular},
    {"cam_vec", &project_simulation.cam_vec},     {"isize", &project_simulation.isize},
    {"bendcolor", &project_simulation.bendcolor},
};

static const surface_uniform rasterbrush_uniforms[] = {
    {"alpha", &project_rasterbrush.alpha},
};

// In the order of the project start.
static const surface_program surface_programs[] = {
    {"canvas_slices", slices_vertex, slices_fragment.c_str(), &project_slices.slot, slices_uniforms},
    {"canvas_mesh", mesh_vertex, mesh_fragment.c_str(), &project_mesh.slot, mesh_uniforms},
    {"toolpath", toolpath_vertex, toolpath_fragment, &project_toolpath.slot, toolpath_uniforms},
    {"simulation", simulation_vertex, simulation_fragment.c_str(), &project_simulation.slot, simulation_uniforms},
    {"rasterbrush", rasterbrush_vertex, rasterbrush_fragment, &project_rasterbrush.slot, rasterbrush_uniforms},
    {"pathoverlap", pathoverlap_vertex, pathoverlap_fragment, &project_pathoverlap.slot, {}},
};

static void surface_forget()
{
    for (const surface_program &p : surface_programs) {
        *p.slot = -1;
        for (const surface_uniform &u : p.uniforms)
            *u.location = -1;
    }
}

int project_loadshaders()
{
    int linked = 1;
    for (const surface_program &p : surface_programs) {
        *p.slot = r_loadshader(p.name, p.vertex, p.fragment);
        for (const surface_uniform &u : p.uniforms)
            *u.location = r_shaderuniformlocation(*p.slot, u.name);
        linked &= *p.slot >= 0;
    }
    return linked;
}

void project_freeshaders()
{
    for (const surface_program &p : surface_programs)
        r_freeshader(*p.slot);
    surface_forget();
}
