// The canvas viewport as the frame loop sees it: the camera, the flags the
// frame and the viewport pass share, the view framebuffer with its colour
// and depth textures, the "view" and "grad" shaders and the view quad.
#pragma once
#include "sys/frame.h" // view_redraw

#include <cstdint>

struct view_camerarecord {
    float rotation[3]; // degrees about X (pitch), Y and Z (yaw)
    float distance;
    float centre[3];
};
extern view_camerarecord view_camera;

extern int view_moved;    // the camera moved this frame
extern int view_rebuilt;  // this frame rebuilt the view buffer and background
extern int view_caminput; // the mouse may move the camera this frame
extern int view_panblock; // the viewport uses the pan button itself
extern int view_dirclass; // dominant view direction: 0 +X, 1 +Y, 2 +Z, 3 -X, 4 -Y, 5 -Z
extern int view_direct;   // 1: the view is drawn straight into the window
// The viewport's three mouse drags; the camera stays still while any is set.
extern uint32_t view_dragstates[3];

// View buffer: framebuffer object (0 none), its textures (-1 none), size.
extern uint32_t view_fbo;
extern int view_colortexture;
extern int view_depthtexture;
extern int view_buffersize[2];

// Shader slots and uniform locations (-1 none) and the view quad model.
extern int view_shader;
extern int view_texcolorlocation;
extern int view_texdepthlocation;
extern int view_gradshader;
extern int view_gradcolorslocation;
extern int view_quadmodel;

// The view start: camera, redraw request, framebuffer, shaders, quad.
void view_init();
// The view shutdown: the quad model, the framebuffer and the shader slots.
void view_quit();
// The 3D canvas view pass of each frame.
void view_frame();
