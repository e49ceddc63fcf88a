// The viewport's start and shutdown, its shared state, and the view pass.
// Until the canvas exists the pass only puts the view buffer (the
// background) on the window.
#include "view/view.h"

#include "view/canvasinstall.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/main.h"

view_camerarecord view_camera = {{0.0f, 0.0f, 0.0f}, 10.0f, {0.0f, 0.0f, 0.0f}};
int view_moved = 0;
int view_rebuilt = 0;
int view_caminput = 1;
int view_panblock = 0;
int view_dirclass = 5;
int view_direct = 1;
uint32_t view_dragstates[3];

uint32_t view_fbo = 0;
int view_colortexture = -1;
int view_depthtexture = -1;
int view_buffersize[2];

int view_shader = -1;
int view_texcolorlocation = -1;
int view_texdepthlocation = -1;
int view_gradshader = -1;
int view_gradcolorslocation = -1;
int view_quadmodel = -1;

// Copies the view buffer's colour and depth to the window through the quad.
static const char *const view_vertexsource = R"(#version 120
void main()
{
    gl_Position = gl_Vertex;
    gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
}
)";

static const char *const view_fragmentsource = R"(#version 120
uniform sampler2D tex_color;
uniform sampler2D tex_depth;
void main()
{
    vec2 uv = gl_TexCoord[0].st;
    gl_FragColor = vec4(texture2D(tex_color, uv).rgb, 1.0);
    gl_FragDepth = texture2D(tex_depth, uv).r;
}
)";

// The background: the red channel of the vertex colour is the position in
// the gradient, broken up by a 4 x 4 ordered dither so no bands show.
static const char *const grad_vertexsource = R"(#version 120
varying float param;
void main()
{
    gl_Position = gl_Vertex;
    param = gl_Color.r;
}
)";

static const char *const grad_fragmentsource = R"(#version 120
uniform vec3 colors[2];
varying float param;
// The 2 x 2 pattern 0 2 / 3 1.
float grad_bayer2(vec2 q)
{
    return mod(2.0 * q.x + 3.0 * q.y, 4.0);
}
void main()
{
    vec2 p = mod(floor(gl_FragCoord.xy), 4.0);
    float d = (4.0 * grad_bayer2(mod(p, 2.0)) + grad_bayer2(floor(p * 0.5))) / 16.0;
    gl_FragColor = vec4(mix(colors[0], colors[1], param + 0.05 * d), 1.0);
}
)";

static void view_loadshaders()
{
    view_shader = r_loadshader("view", view_vertexsource, view_fragmentsource);
    view_texcolorlocation = r_shaderuniformlocation(view_shader, "tex_color");
    view_texdepthlocation = r_shaderuniformlocation(view_shader, "tex_depth");
    view_gradshader = r_loadshader("grad", grad_vertexsource, grad_fragmentsource);
    view_gradcolorslocation = r_shaderuniformlocation(view_gradshader, "colors");
}

// A full-window fan in device coordinates with the texture's corners.
static void view_buildquad()
{
    view_quadmodel = r_modelnew();
    if (view_quadmodel < 0)
        return;
    const float corners[4][2] = {{-1.0f, -1.0f}, {1.0f, -1.0f}, {1.0f, 1.0f}, {-1.0f, 1.0f}};
    r_begin(r_trianglefan);
    r_color(cfg_getf(cfg_backgroundcolor2), cfg_getf(cfg_backgroundcolor2 + 4), cfg_getf(cfg_backgroundcolor2 + 8),
            1.0f);
    for (const auto &c : corners) {
        r_texcoord((c[0] + 1.0f) * 0.5f, (c[1] + 1.0f) * 0.5f);
        r_vertex(c[0], c[1], 0.0f);
    }
    r_end();
    r_modelend();
}

static int view_started = 0; // view_init ran on a current GL context

void view_init()
{
    view_started = 1;
    view_camera.distance = 10.0f;
    view_redraw = 1;
    view_fbo = 0;
    if (gl_framebuffers) {
        glGenFramebuffers(1, &view_fbo);
        r_checkerror("view_init.genframebuffers");
    }
    view_loadshaders();
    view_buildquad();
}

// The shader programs go with the context; only their slots are forgotten.
void view_quit()
{
    if (!view_started)
        return;
    view_started = 0;
    r_modelfree(view_quadmodel);
    view_quadmodel = -1;
    view_shader = view_gradshader = -1;
    view_texcolorlocation = view_texdepthlocation = view_gradcolorslocation = -1;
    if (view_fbo) {
        glDeleteFramebuffers(1, &view_fbo);
        view_fbo = 0;
    }
    // The last frame's drawing is finished here, while the context is still
    // whole: a software GL tearing down threads with drawing in flight can
    // hang the process at exit.
    glFinish();
}

// Every frame the window shows, the buffered view goes onto it, colour and
// depth: the window is cleared each frame, and whatever draws afterwards
// depth-tests against the view as if it had been drawn this frame.
static void view_drawbuffer()
{
    if (view_direct || sys_minimised || view_shader < 0 || view_colortexture < 0 || view_depthtexture < 0)
        return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, sys_drawable[0], sys_drawable[1]);
    r_viewport[0] = sys_drawable[0];
    r_viewport[1] = sys_drawable[1];
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    r_bindtexture(view_colortexture, 0);
    r_bindtexture(view_depthtexture, 1);
    r_bindshader(view_shader);
    r_shaderuniformint(view_texcolorlocation, 0);
    r_shaderuniformint(view_texdepthlocation, 1);
    r_modeldraw(view_quadmodel);
    r_bindshader(-1);
    r_unbindtexture(1);
    r_unbindtexture(0);
    r_checkerror("view_drawbuffer");
}

void view_frame()
{
    view_canvasframe();
    view_drawbuffer();
}
