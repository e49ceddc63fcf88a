// The 3D view's set-up each frame: the view buffer and background are rebuilt
// only in frames after a camera move or a redraw request; the projection and
// the camera control run every frame. The camera angles are in degrees.
#include "view/camera.h"

#include "geom/vec.h"
#include "gui/gui.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/input.h"
#include "sys/log.h"
#include "sys/main.h"
#include "view/view.h"

#include <cmath>
#include <cstring>

constexpr double camera_degrees = 3.14159265358979323846 / 180.0;

static float view_zoomanchor[2]; // device point the drag zoom closes in on

static void camera_bindview()
{
    glBindFramebuffer(GL_FRAMEBUFFER, view_fbo);
    r_checkerror("r_bindframebuffer (fbo:%d)", (int)view_fbo);
}

static void camera_viewport(int width, int height)
{
    glViewport(0, 0, width, height);
    r_viewport[0] = width;
    r_viewport[1] = height;
    r_aspect = height > 0 ? (float)width / (float)height : 1.0f;
}

void view_bindbuffer()
{
    if (!view_fbo)
        return;
    r_freetexture(view_colortexture);
    r_freetexture(view_depthtexture);
    view_colortexture = view_depthtexture = -1;
    camera_bindview();
    int width = view_buffersize[0], height = view_buffersize[1];
    view_colortexture = r_newframebuffertexture("view_color", 2, width, height, 3, 0);
    view_depthtexture = r_newframebuffertexture("view_depth", 0, width, height, 0, 0);
    // The view goes onto the window texel for pixel: nearest sampling gives
    // the picture of linear at a quarter of the reads, every frame.
    for (int t : {view_colortexture, view_depthtexture}) {
        if (t < 0)
            continue;
        r_bindtexture(t, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
    r_unbindtexture(0);
    if (!r_checkframebuffer())
        sys_log("view_bindbuffer: framebuffer object failed check!");
    camera_viewport(width, height);
    glDepthMask(GL_TRUE);
    glStencilFunc(GL_ALWAYS, 0, 0xFFFFFFFFu);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    if (!view_direct) {
        camera_bindview();
        camera_viewport(width, height);
    }
}

// The shader needs shader objects, which the GL has from version 2.0 on.
static void camera_bindgradient()
{
    if (gl_version < 20 || view_gradshader < 0)
        return;
    r_bindshader(view_gradshader);
    float colors[6];
    for (int i = 0; i < 3; i++) {
        colors[i] = cfg_getf(cfg_backgroundcolor1 + 4 * i);
        colors[3 + i] = cfg_getf(cfg_backgroundcolor2 + 4 * i);
    }
    r_shaderuniformvec3(view_gradcolorslocation, 2, colors);
}

// Five bands top to bottom in device coordinates; the red channel carries
// the gradient position, which the camera's pitch slides up the screen.
void view_drawgradient()
{
    glDepthMask(GL_FALSE);
    glDisable(GL_BLEND);
    r_unbindtexture(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    camera_bindgradient();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    float pitch = view_camera.rotation[0];
    r_begin(r_trianglestrip);
    for (int i = 0; i <= 5; i++) {
        float t = 0.2f * i;
        r_color(pitch / 90.0f - t, 0.0f, 0.0f, 0.0f);
        r_vertex(-1.0f, 1.0f - 2.0f * t, -1.0f);
        r_vertex(1.0f, 1.0f - 2.0f * t, -1.0f);
    }
    r_end();
}

void view_classify()
{
    float *f = view_basis[view_forward];
    f[2] *= 2.0f;
    float x = f[0], y = f[1], z = f[2];
    float q = x * x + y * y;
    float length = q * vec_fastinvsqrt(q);
    if (std::fabs(z) < length)
        view_dirclass = std::fabs(x) <= std::fabs(y) ? (y <= 0.0f ? 4 : 1) : (x <= 0.0f ? 3 : 0);
    else
        view_dirclass = z <= 0.0f ? 5 : 2;
}

// Where the view sits between the side panels: -1..1 of the window width.
static float camera_panelshift()
{
    float left = (float)cfg_geti(cfg_leftpanelwidth), right = (float)cfg_geti(cfg_rightpanelwidth);
    return left + right > 0.0f ? (left - right) / (left + right) : 0.0f;
}

void view_setprojection()
{
    const view_camerarecord &c = view_camera;
    float d = c.distance, a = r_aspect;
    float farfactor = cfg_getf(cfg_farfactor);
    float t = (float)std::tan(cfg_getf(cfg_fov) * 0.5 * camera_degrees);
    float k = 1.0f;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (cfg_geti(cfg_perspective)) {
        float n = d * cfg_getf(cfg_nearfactor), f = d * farfactor;
        // Top and bottom exchanged: the modelview flips y back.
        glFrustum(-a * t * n, a * t * n, t * n, -t * n, n, f);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glScalef(1.0f, -1.0f, 1.0f);
        glTranslatef(0.0f, 0.0f, -d);
        k = t;
    } else {
        float s = d * vec_fastinvsqrt(d);
        glOrtho(-a * d, a * d, -d, d, -(farfactor * s), farfactor * s);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    // Centres the view between the side panels rather than in the window.
    glTranslatef(d * k * camera_panelshift(), 0.0f, 0.0f);
    glRotatef(-c.rotation[0], 1.0f, 0.0f, 0.0f);
    glRotatef(-c.rotation[1], 0.0f, 1.0f, 0.0f);
    glRotatef(-c.rotation[2], 0.0f, 0.0f, 1.0f);
    glTranslatef(-c.centre[0], -c.centre[1], -c.centre[2]);
}

// What every camera move of the frame shares.
struct camera_frame {
    int perspective;
    float zoomrate;   // share of the distance one unit of input moves
    float k;          // distance scale: 1 / tan(fov / 2) in perspective
    float fov;        // radians
    int ctrl;         // fine control
    float right[3];   // ground axes under the camera
    float forward[3];
    float dx, dy;     // this frame's mouse motion
};

// The cosine of the pitch, held away from 0: looking exactly at the horizon
// the ground is seen edge-on and its tangent and inverse cosine are infinite,
// which would throw the centre out of reach in one step.
static float camera_pitchcos(float pitch)
{
    float c = (float)std::cos(pitch * camera_degrees);
    if (std::fabs(c) < 0.01f)
        c = c < 0.0f ? -0.01f : 0.01f;
    return c;
}

static void camera_move(const float *axis, float amount)
{
    for (int i = 0; i < 3; i++)
        view_camera.centre[i] += axis[i] * amount;
}

static void camera_rotate(camera_frame &f, int button)
{
    if (input_pressed(button))
        f.dx = f.dy = 0.0f;
    if (f.ctrl) {
        f.dx *= 0.1f;
        f.dy *= 0.1f;
    }
    float *r = view_camera.rotation;
    float pitch = r[0] - 0.3f * f.dy;
    r[0] = pitch < 0.0f ? 0.0f : pitch > 180.0f ? 180.0f : pitch;
    float yaw = std::fmod(r[2] - 0.3f * f.dx, 360.0f);
    r[2] = yaw < 0.0f ? yaw + 360.0f : yaw;
    view_moved = 1;
}

static void camera_pan(camera_frame &f, int button)
{
    float s = 0.005f * view_camera.distance * f.zoomrate;
    if (input_pressed(button))
        f.dx = f.dy = 0.0f;
    if (f.ctrl) {
        f.dx *= 0.1f;
        f.dy *= 0.1f;
    }
    if (f.perspective)
        s *= 2.0f * (float)std::tan(f.fov * 0.5f);
    camera_move(f.right, f.dx * s);
    float pitch = view_camera.rotation[0];
    float dy = f.dy * s;
    if (90.0f - pitch < 0.0f)
        dy = -dy;
    float slope = (float)std::sin(pitch * camera_degrees) / camera_pitchcos(pitch);
    camera_move(f.forward, dy * (1.0f + std::fabs(slope)));
    view_moved = 1;
}

// The device point under the mouse, shifted like the view between the panels.
static void camera_anchor(float *anchor)
{
    float width = sys_drawable[0] > 0 ? (float)sys_drawable[0] : 1.0f;
    float height = sys_drawable[1] > 0 ? (float)sys_drawable[1] : 1.0f;
    anchor[0] = camera_panelshift() + sys_aspect * (1.0f - 2.0f * input_mouse[0] / width);
    anchor[1] = 1.0f - 2.0f * input_mouse[1] / height;
}

// Moves the camera q toward the anchor: a new distance within its limits
// and, unless ctrl is held, the centre toward the anchored point.
static void camera_zoom(const camera_frame &f, float q, const float *anchor)
{
    float d = view_camera.distance;
    float nd = d - f.k * q;
    float lo = f.k * 0.005f, hi = f.k * 100.0f;
    nd = nd < lo ? lo : nd > hi ? hi : nd;
    if (nd == d)
        return;
    view_camera.distance = nd;
    if (f.ctrl)
        return;
    camera_move(f.right, anchor[0] * q);
    camera_move(f.forward, anchor[1] * q / camera_pitchcos(view_camera.rotation[0]));
}

static void camera_dragzoom(camera_frame &f)
{
    if (input_pressed(key_mousemiddle))
        camera_anchor(view_zoomanchor);
    float q = -f.dy * f.zoomrate * view_camera.distance * 0.01f;
    if (f.perspective)
        q *= (float)std::sin(f.fov);
    camera_zoom(f, q, view_zoomanchor);
    view_moved = 1;
}

static void camera_wheelzoom(camera_frame &f)
{
    float anchor[2];
    camera_anchor(anchor);
    float q = view_camera.distance * f.zoomrate * 0.32f * input_wheel;
    if (f.perspective)
        q *= (float)std::sin(f.fov);
    camera_zoom(f, q, anchor);
    view_redraw = 1;
}

// The ground axes under the camera become the second and third rows of the
// camera basis; in the 2D view the camera looks straight down, unturned.
static void camera_setup(camera_frame &f)
{
    f.perspective = cfg_geti(cfg_perspective);
    f.zoomrate = f.perspective ? 0.2f : 0.4f;
    f.fov = (float)(cfg_getf(cfg_fov) * camera_degrees);
    f.k = f.perspective ? 1.0f / (float)std::tan(f.fov * 0.5f) : 1.0f;
    f.ctrl = input_keys[key_ctrl];
    float *r = view_camera.rotation;
    // Whoever turned the camera in the 2D view (a project load framing in
    // 3D angles, the home view) is undone here, and the view drawn again:
    // the picture already drawn with the turned camera would stay otherwise.
    if (cfg_geti(cfg_viewmode2d) && (r[0] != 0.0f || r[1] != 0.0f || r[2] != 0.0f)) {
        r[0] = r[1] = r[2] = 0.0f;
        view_redraw = 1;
    }
    double yaw = r[2] * camera_degrees;
    const float right[3] = {(float)-std::cos(yaw), (float)-std::sin(yaw), 0.0f};
    const float forward[3] = {(float)-std::sin(yaw), (float)std::cos(yaw), 0.0f};
    const float down[3] = {0.0f, 0.0f, -1.0f};
    memcpy(f.right, right, sizeof(right));
    memcpy(f.forward, forward, sizeof(forward));
    memcpy(view_basis[view_forward], down, sizeof(down));
    memcpy(view_basis[view_up], forward, sizeof(forward));
    memcpy(view_basis[view_right], right, sizeof(right));
    f.dx = input_motion[0];
    f.dy = input_motion[1];
}

// The mouse is the interface's while an element is hot or pressed, and the
// viewport's while it drags something or took the camera input.
static int camera_mousefree()
{
    if (gui_hotid != -1 || gui_activeid != -1 || !view_caminput)
        return 0;
    for (uint32_t drag : view_dragstates)
        if (drag)
            return 0;
    return 1;
}

void view_cameracontrol()
{
    camera_frame f;
    camera_setup(f);
    view_moved = 0;
    if (!camera_mousefree())
        return;
    int rotate = key_mouseright, pan = key_mouseleft;
    if (cfg_geti(cfg_swapcamerabuttons)) {
        rotate = key_mouseleft;
        pan = key_mouseright;
    }
    if (input_keys[rotate] && !cfg_geti(cfg_viewmode2d))
        camera_rotate(f, rotate);
    else if (input_keys[pan] && !view_panblock)
        camera_pan(f, pan);
    else if (input_keys[key_mousemiddle])
        camera_dragzoom(f);
    else if (!gui_wheelclaimed && (input_keys[key_wheelup] || input_keys[key_wheeldown]))
        camera_wheelzoom(f);
}
