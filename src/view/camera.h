// The frame loop's preparation of the 3D view: rebuilding the view buffer,
// the background gradient, the dominant view direction, the projection and
// camera transform, and moving the camera with the mouse.
#pragma once

// Fresh "view_color" and "view_depth" textures of view_buffersize on the
// view framebuffer, cleared; with view_direct 0 the framebuffer stays bound.
void view_bindbuffer();
// The background gradient over the whole viewport, by the camera's pitch.
void view_drawgradient();
// view_dirclass from the first row of view_basis, whose z it doubles.
void view_classify();
// Projection and modelview from view_camera and the configuration.
void view_setprojection();
// Rotates, pans and zooms view_camera from this frame's mouse input.
void view_cameracontrol();
