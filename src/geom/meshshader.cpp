// The GLSL of the two mesh-model programs and their start and shutdown.
// Both permute the model's axes by "swaps" so that a model can be laid on
// any of its sides without touching its vertices.
#include "geom/meshshader.h"

#include "render/shader.h"
#include "sys/log.h"

#include <string>

int mdl_originshader = -1;
int mdl_originswaps = -1;
int mdl_originscale = -1;
int mdl_shadedshader = -1;
int mdl_shadeditmv = -1;
int mdl_shadedswaps = -1;
int mdl_shadedmode = -1;

// The axis permutations 0..6: xyz, yxz, zyx, xzy, (z, y, -x), (x, z, -y),
// (x, -z, y); any other value leaves the vector as it is.
static const char meshshader_swap[] = R"(
uniform int swaps;
vec3 mdl_swap(vec3 v)
{
    if (swaps == 1)
        return v.yxz;
    if (swaps == 2)
        return v.zyx;
    if (swaps == 3)
        return v.xzy;
    if (swaps == 4)
        return vec3(v.z, v.y, -v.x);
    if (swaps == 5)
        return vec3(v.x, v.z, -v.y);
    if (swaps == 6)
        return vec3(v.x, -v.z, v.y);
    return v;
}
)";

// The colour is the clip-space position mapped to 0..1, blue rising as z
// falls, so a depth render reads the normalised height from blue. z is
// halved so that the whole 0..1 colour range stays inside the clip volume.
static const std::string origin_vertex = std::string("#version 120\n") + meshshader_swap + R"(
uniform float scale;
varying vec3 colour;
void main()
{
    vec4 p = gl_ModelViewProjectionMatrix * vec4(mdl_swap(gl_Vertex.xyz) * scale, 1.0);
    colour = vec3(p.x * 0.5 + 0.5, p.y * 0.5 + 0.5, p.z * -0.5 + 0.5);
    gl_Position = vec4(p.x, p.y, p.z * 0.5, p.w);
}
)";

static const char origin_fragment[] = R"(#version 120
varying vec3 colour;
void main()
{
    gl_FragColor = vec4(colour, 1.0);
}
)";

// The face normal arrives as the vertex colour (mesh_drawtris), turned with
// the model's axes and then by the inverse transpose of the modelview.
static const std::string shaded_vertex = std::string("#version 120\n") + meshshader_swap + R"(
uniform mat4 itmv;
varying vec3 normal;
void main()
{
    gl_Position = gl_ModelViewProjectionMatrix * vec4(mdl_swap(gl_Vertex.xyz), 1.0);
    normal = (itmv * vec4(mdl_swap(gl_Color.rgb), 0.0)).xyz;
}
)";

// Mode 0 shades by the normal; modes 1 to 3 are the faint dark tints of a
// model drawn dimmed.
static const char shaded_fragment[] = R"(#version 120
uniform int mode;
varying vec3 normal;
void main()
{
    if (mode == 1) {
        gl_FragColor = vec4(0.5, 0.0, 0.0, 0.1);
    } else if (mode == 2) {
        gl_FragColor = vec4(0.0, 0.5, 0.0, 0.1);
    } else if (mode == 3) {
        gl_FragColor = vec4(0.0, 0.0, 0.5, 0.1);
    } else {
        float len = length(normal);
        vec3 c = (len > 0.0 ? normal / len : vec3(0.0)) * 0.5 + 0.5;
        gl_FragColor = vec4(c * c, 1.0);
    }
}
)";

static void meshshader_forget()
{
    mdl_originshader = mdl_originswaps = mdl_originscale = -1;
    mdl_shadedshader = mdl_shadeditmv = mdl_shadedswaps = mdl_shadedmode = -1;
}

// The depth render sets only "swaps": the scale starts at 1 so that models
// are drawn at their own size.
static int meshshader_loadorigin()
{
    const r_uniformref uniforms[] = {{&mdl_originswaps, "swaps"}, {&mdl_originscale, "scale"}};
    mdl_originshader = r_loadshaderuniforms("mdl_origin", origin_vertex.c_str(), origin_fragment, uniforms);
    if (mdl_originshader < 0)
        return 0;
    r_bindshader(mdl_originshader);
    r_shaderuniformfloat(mdl_originscale, 1.0f);
    r_bindshader(-1);
    return 1;
}

static int meshshader_loadshaded()
{
    const r_uniformref uniforms[] = {{&mdl_shadeditmv, "itmv"}, {&mdl_shadedswaps, "swaps"}, {&mdl_shadedmode, "mode"}};
    mdl_shadedshader = r_loadshaderuniforms("mdl_shaded", shaded_vertex.c_str(), shaded_fragment, uniforms);
    return mdl_shadedshader >= 0;
}

int model_init()
{
    meshshader_forget();
    int origin = meshshader_loadorigin();
    if (!origin)
        sys_error("model_init: failed to create shader");
    if (!meshshader_loadshaded()) {
        sys_error("model_init: failed to create mdl_faces shader");
        return 0;
    }
    return origin;
}

void model_quit()
{
    r_freeshader(mdl_originshader);
    r_freeshader(mdl_shadedshader);
    meshshader_forget();
}
