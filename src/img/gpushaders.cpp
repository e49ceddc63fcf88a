// The GLSL of img_rasterize and img_maxdistpoint and the loader of the six
// image programs. The convolution, dilation, inflation and masked-blur
// programs keep their sources beside their operations; this file only
// calls their loaders in order.
#include "img/gpushaders.h"

#include "img/blur.h"
#include "img/convolve.h"
#include "img/fade.h"
#include "render/shader.h"

int img_rasterizeshader = -1;
int img_rasterizeimage = -1;
int img_rasterizeorigin = -1;
int img_rasterizescale = -1;
int img_maxdistpointshader = -1;
int img_maxdistpointimage = -1;
int img_maxdistpointscalex = -1;
int img_maxdistpointscaley = -1;
int img_maxdistpointpoint = -1;

// Geometry given in the image's 0..1 square (after scale and origin) lands
// on the matching pixels of a framebuffer of the image's size.
static const char rasterize_vertex[] = R"(#version 120
uniform vec3 origin;
uniform vec3 scale;
void main()
{
    vec3 p = gl_Vertex.xyz * scale + origin;
    gl_Position = vec4(p * 2.0 - 1.0, 1.0);
    gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
}
)";

static const char rasterize_fragment[] = R"(#version 120
uniform sampler2D image;
void main()
{
    gl_FragColor = vec4(texture2D(image, gl_TexCoord[0].st).r, 0.0, 0.0, 1.0);
}
)";

// The cone of slope 1 under the apex, measured from pixel corners (x, y)
// in world units as the processor's band worker does: a pixel is raised to
// point.z - r where r < point.z - value, compared on squares with the sign
// of the difference kept so that pixels above the apex stay as they are.
static const char maxdistpoint_fragment[] = R"(#version 120
uniform sampler2D image;
uniform float scale_x;
uniform float scale_y;
uniform vec3 point;
void main()
{
    float value = texture2D(image, gl_TexCoord[0].xy).r;
    vec2 corner = floor(gl_FragCoord.xy);
    vec2 d = vec2(corner.x * scale_x, corner.y * scale_y) - point.xy;
    float r2 = dot(d, d);
    float e = point.z - value;
    if (r2 < e * abs(e))
        value = point.z - sqrt(r2);
    gl_FragColor = vec4(value, 0.0, 0.0, 1.0);
}
)";

static int gpushaders_loadrasterize()
{
    const r_uniformref uniforms[] = {
        {&img_rasterizeimage, "image"}, {&img_rasterizeorigin, "origin"}, {&img_rasterizescale, "scale"}};
    img_rasterizeshader = r_loadshaderuniforms("img_rasterize", rasterize_vertex, rasterize_fragment, uniforms);
    return img_rasterizeshader >= 0;
}

static int gpushaders_loadmaxdistpoint()
{
    const r_uniformref uniforms[] = {{&img_maxdistpointimage, "image"},
                                     {&img_maxdistpointscalex, "scale_x"},
                                     {&img_maxdistpointscaley, "scale_y"},
                                     {&img_maxdistpointpoint, "point"}};
    img_maxdistpointshader =
        r_loadshaderuniforms("img_maxdistpoint", img_fullscreenvertex, maxdistpoint_fragment, uniforms);
    return img_maxdistpointshader >= 0;
}

int img_loadimageshaders()
{
    // Every load is tried even after a failure, so each operation whose
    // program did link can still use the GPU.
    int linked = gpushaders_loadrasterize();
    linked &= img_loadshaders();
    linked &= img_loadinflateshader();
    linked &= img_loadmaskblurshader();
    linked &= gpushaders_loadmaxdistpoint();
    return linked;
}
