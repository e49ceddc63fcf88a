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
// Direct mode's read-back of the finished view, "view_rgbtexture" and
// "view_depthtexture" (-1 none), remade when the window's size changes.
extern int view_rgbtexture;
extern int view_readdepthtexture;

// Shader slots and uniform locations (-1 none) and the view quad model.
extern int view_shader;
extern int view_texcolorlocation;
extern int view_texdepthlocation;
extern int view_gradshader;
extern int view_gradcolorslocation;
extern int view_quadmodel;

// Values the frame's set-up computes for the later phases.
struct view_framesetuprecord {
    float origin[3];     // world position of the canvas block's lower corner
    float viewscale;     // d tan(fov / 2) in perspective, else d
    float light[3];      // light direction for the surface shaders
    float gloss;         // the configured glossiness g, 0..1
    float glossstrength; // 2 g^2
    float glossexponent; // 500 g^5 + 2 (1 - g^5)
    float camvec[3];     // view direction in orthographic projection, else 0
};
extern view_framesetuprecord view_setup;

// A raster-edit drag is in progress (the raster editing follow-up sets it):
// the view draws its own brush cursor and keeps the pointer.
extern int32_t view_rasterdrag;

// Test builds set it to see every phase of view_frame as it starts (1..21);
// the program never does.
extern void (*view_phasehook)(int phase);

// A layer generator is running: its result is not yet published.
int view_generating();

// The status spinner's character for time t in seconds and step seconds.
char view_spinchar(double t, double step);
// A configured line thickness in pixels, held to the settings' 1..8.
float view_thickness(int offset);

// The view start: camera, redraw request, framebuffer, shaders, quad.
void view_init();
// The view shutdown: the quad model, the framebuffer and the shader slots.
void view_quit();
// The 3D canvas view pass of each frame.
void view_frame();
// Direct mode: the window's colour and depth into the read-back textures.
void view_readback();
// The view's colour and depth images drawn over the bound target by the
// full-window quad, depth written too.
void view_showimage(int colour, int depth);
