// The mesh models' start: the two GLSL programs that draw mesh models,
// "mdl_origin" (a model-layer's heights written as colour for its depth
// render) and "mdl_shaded" (the viewport's shaded or tinted model), with
// their uniform locations, loaded by model_init and freed by model_quit.
#pragma once

// Shader slots and uniform locations; -1 until model_init loaded them.
extern int mdl_originshader;
extern int mdl_originswaps; // int 0..6: which model axes become x, y and z
extern int mdl_originscale; // float vertex scale, set to 1 by model_init
extern int mdl_shadedshader;
extern int mdl_shadeditmv;  // mat4 inverse transpose of the modelview, for normals
extern int mdl_shadedswaps; // int 0..6, as for mdl_origin
extern int mdl_shadedmode;  // int 0 shaded by the normal, 1..3 dark red, green, blue

// Loads both programs. A failed "mdl_origin" reports "model_init: failed to
// create shader", a failed "mdl_shaded" "model_init: failed to create
// mdl_faces shader"; both loads are tried. 1 when both linked, else 0.
int model_init();
// Frees both programs and forgets their slots and locations.
void model_quit();
