// The image start's GLSL programs: the two image shaders that live here
// (img_rasterize, which draws geometry into a scalar image, and
// img_maxdistpoint, the GPU form of the cone under a point) and the loader
// that brings up all six image programs in their start-up order.
#pragma once

// Shader slots and uniform locations; -1 until img_loadimageshaders ran.
extern int img_rasterizeshader;
extern int img_rasterizeimage;  // sampler of the source image
extern int img_rasterizeorigin; // vec3 added after the scale, 0..1 space
extern int img_rasterizescale;  // vec3 vertex scale
extern int img_maxdistpointshader;
extern int img_maxdistpointimage;  // sampler of the field being raised
extern int img_maxdistpointscalex; // world units per pixel in x
extern int img_maxdistpointscaley; // world units per pixel in y
extern int img_maxdistpointpoint;  // vec3 apex: x, y from the field's origin, z height

// Loads img_rasterize, img_convolve and img_minkowski, img_inflate,
// img_maskblur and img_maxdistpoint, in that order, each with its uniform
// locations; 1 when all six linked. A program that failed keeps slot -1 and
// its operation stays on the processor.
int img_loadimageshaders();
