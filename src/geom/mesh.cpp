// The mesh start and shutdown: the preview-mesh array and the two light
// directions of the mesh drawing.
#include "geom/mesh.h"

#include "geom/vec.h"
#include "sys/log.h"
#include "sys/mem.h"

uint8_t *cam_previewmeshes = nullptr;
// A key light above and to the front right, a fill light from the left that
// keeps the faces the key misses from going black.
float mesh_keylight[3] = {1.0f, 1.0f, 2.0f};
float mesh_filllight[3] = {-1.0f, -0.5f, 1.0f};

int mesh_init()
{
    constexpr double kilobytes = mesh_previewbytes / 1024.0;
    mesh_quit();
    cam_previewmeshes = (uint8_t *)sys_calloc(1, mesh_previewbytes);
    if (!cam_previewmeshes) {
        sys_error("mesh_init: failed to allocate %3.2fKB meshes array", kilobytes);
        return 0;
    }
    sys_debuglog("mesh_init: allocated %3.2fKB meshes array", kilobytes);
    vec3_normalize(mesh_keylight, mesh_keylight);
    vec3_normalize(mesh_filllight, mesh_filllight);
    return 1;
}

void mesh_quit()
{
    sys_free(cam_previewmeshes);
    cam_previewmeshes = nullptr;
}
