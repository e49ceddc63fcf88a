// The project start's GLSL programs: the canvas and simulation surfaces
// ("canvas_slices", "canvas_mesh", "simulation"), the toolpath lines
// ("toolpath"), the brush outline ("rasterbrush") and the path-overlap
// marking ("pathoverlap"). Each program's slot and uniform locations are
// kept here for the viewport that draws with them; -1 while not loaded.
#pragma once

// The canvas relief as a stack of textured slices.
struct project_slicesprogram {
    int slot = -1;
    int texdepth = -1, texselect = -1; // samplers: heights (red) and selection (red, 1 selected)
    int isize = -1;    // vec4: 1 / width, 1 / height, z scale (negative: a depth map), shading weight
    int light = -1;    // vec3 unit direction toward the light
    int specular = -1; // vec3 exponent, intensity, roughness
    int rgb1 = -1, rgb2 = -1, camvec = -1;
    int stepsize = -1, bendcolor = -1;
    int psize = -1; // vec3 canvas size in inches, for the wood grain
    int grain_scale = -1, grain_vector = -1; // float; vec3[3] grain axes
    int grain_offset = -1, grain_freq = -1, grain_amp = -1, grain_rad = -1, grain_tubes = -1;
};

// The canvas as a lit mesh, normals from the depth texture.
struct project_meshprogram {
    int slot = -1;
    int texdepth = -1, light = -1, specular = -1, rgb1 = -1, rgb2 = -1, isize = -1, camvec = -1;
};

// Toolpath lines: "progress" (float) and "stipple" (int).
struct project_toolpathprogram {
    int slot = -1;
    int stipple = -1, progress = -1;
};

// The simulation depth-map ray-marched from the stock's box.
struct project_simulationprogram {
    int slot = -1;
    int depth = -1, proxy = -1;    // samplers: cut depth 0..1 and its block minimum
    int scale = -1, offs = -1;     // vec3: box vertex x scale + offs = map position
    int proxysize = -1, step = -1; // depth-map pixels per proxy pixel; march step
    int rgb1 = -1, rgb2 = -1, light = -1, specular = -1, cam_vec = -1, isize = -1, bendcolor = -1;
};

struct project_rasterbrushprogram {
    int slot = -1;
    int alpha = -1;
};

struct project_pathoverlapprogram {
    int slot = -1;
};

extern project_slicesprogram project_slices;
extern project_meshprogram project_mesh;
extern project_toolpathprogram project_toolpath;
extern project_simulationprogram project_simulation;
extern project_rasterbrushprogram project_rasterbrush;
extern project_pathoverlapprogram project_pathoverlap;

// Loads the six programs and looks up every uniform. A program that fails
// is reported by the shader table and keeps slot -1 (its drawing is
// skipped). 1 when all six linked, else 0.
int project_loadshaders();
// Frees the six programs and forgets their slots and locations.
void project_freeshaders();
