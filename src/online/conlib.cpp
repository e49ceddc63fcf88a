// Content-library names, cache records and cache folder; the set-ups of the
// library and upload dialogs with the index download and the preview job.
#include "online/conlib.h"

#include "geom/contour.h"
#include "geom/path.h"
#include "geom/topolys.h"
#include "img/image.h"
#include "online/upload.h"
#include "platform/path.h"
#include "project/project.h"
#include "render/texture.h"
#include "sys/download.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <cmath>
#include <cstdio>
#include <cstring>

const char *const conlib_categories[] = {
    "Miscellaneous", "Animals/Nature", "Academia/Education", "Advertising/Branding", "Architecture/Structures",
    "Athletics/Sports", "Business/Commerce", "Characters/Cartoons", "Computer/Internet", "Design/Decoration",
    "Family/Relationship", "Fantasy/Fiction", "Games/Toys/Puzzles", "History/Culture", "Holidays/Celebration",
    "Industry/Machines", "Maps/Geography", "Military/Warfare", "Music/Instruments", "Politics/Government",
    "Religious/Spiritual", "Science/Technology", "Television/Film", "Vehicles/Transport", "Food/Dessert", nullptr,
};

const char *const conlib_tags[] = {
    "Licensed", "3D Shape(s)", "Photograph", "Abstract", "Simple", "Detailed", "Intricate",
    "Cute", "Creepy", "Ornate", "Rural", "Urban", "Retro", "Texture",
    "Pattern", "Monochrome", "Mechanical", "Utilitarian", "Template", "Antique", nullptr,
};

conlib_cacherecord conlib_cache[conlib_cacherecords];
int32_t conlib_categorycount = 0;
int32_t conlib_tagcount = 0;
uint32_t conlib_tagselection = 0;
char conlib_path[512];

static int32_t conlib_count(const char *const *names)
{
    int32_t n = 0;
    while (names[n])
        n++;
    return n;
}

int conlib_init()
{
    plat_joinpath(conlib_path, sizeof(conlib_path), sys_userfolder, "lib");
    sys_log("conlib path: %s", conlib_path);
    for (conlib_cacherecord &r : conlib_cache)
        r = {-1, {-1, -1}, {1, 1, 1, 1}, nullptr, nullptr, 0, 0};
    conlib_categorycount = conlib_count(conlib_categories);
    conlib_tagcount = conlib_count(conlib_tags);
    conlib_tagselection = (1u << conlib_tagcount) - 1;
    // Without the folder only the library's cache is lost; start-up goes on.
    if (!plat_mkdir(conlib_path)) {
        sys_log("conlib_init: cannot create \"%s\"", conlib_path);
        return 0;
    }
    return 1;
}

// ------------------------------------------------------ the two dialogs

conlib_listrecord conlib_list = {nullptr, 0, 0.0, 0, 0, 0, -1, -1};
conlib_layuprecord conlib_layup = {-1, {}, {}, 0, nullptr, -1, {-1}};
contour *(*conlib_topolys)(int, float, int, int, int) = path_topolys;
void (*conlib_previewjob)(void *) = job_genlayuppreview;

static const char conlib_indexpath[] = "Kerfmill/lib/index.dat";
static const char conlib_caption[] = "Content Library";
static const char conlib_failtext[] =
    "Failed to retrieve content library information. This could be an issue with your internet connection or our "
    "server. We apologize for the inconvenience. Please try again later.";
constexpr int32_t conlib_connectseconds = 3;

// The remembered slot is only ours while it still carries our request.
static int conlib_indexfetching()
{
    int32_t s = conlib_list.slot;
    return s >= 0 && s < sys_maxdownloads && sys_downloads[s].url[0] && sys_downloads[s].id == conlib_indexid;
}

void conlib_openlibrary()
{
    if (conlib_list.index && sys_time - conlib_list.indextime < conlib_indexmaxage)
        return;
    // A second request for the same list would only race the first.
    if (conlib_indexfetching())
        return;
    conlib_list.shown = conlib_list.count = conlib_list.pages = 0;
    conlib_list.selection = -1;
    char url[256];
    snprintf(url, sizeof(url), "http://%s/%s", online_host, conlib_indexpath);
    conlib_list.slot = sys_download(conlib_indexid, url, conlib_response, conlib_caption, conlib_failtext,
                                    conlib_connectseconds);
}

// Only a complete transfer replaces the index: a failed one leaves the old
// index (if any) and its time, so the next opening asks again.
void conlib_takeindex(int32_t size, const uint8_t *buffer)
{
    int32_t s = conlib_list.slot;
    conlib_list.slot = -1;
    if (s < 0 || s >= sys_maxdownloads || !sys_downloads[s].success || size <= 0 || !buffer) {
        sys_log("conlib_takeindex: no index received (%d bytes)", size);
        return;
    }
    uint8_t *copy = (uint8_t *)sys_malloc(size);
    if (!copy) {
        sys_log("conlib_takeindex: no memory for %d bytes", size);
        return;
    }
    memcpy(copy, buffer, (size_t)size);
    sys_free(conlib_list.index);
    conlib_list.index = copy;
    conlib_list.indexsize = size;
    conlib_list.indextime = sys_time;
}

static void conlib_freepreview()
{
    img_free(conlib_layup.preview);
    conlib_layup.preview = nullptr;
    if (conlib_layup.previewtexture != -1)
        r_freetexture(conlib_layup.previewtexture);
    conlib_layup.previewtexture = -1;
}

int conlib_openupload(int32_t layer)
{
    int type = layer >= 0 && layer < project_maxlayers ? project.layers[layer].type : layer_free;
    if (type != layer_raster && type != layer_paths) {
        sys_log("!!! selected layer is not raster/paths !!!");
        return 0;
    }
    const project_layer &l = project.layers[layer];
    conlib_layup.layer = layer;
    snprintf(conlib_layup.name, sizeof(conlib_layup.name), "%.*s", conlib_uploadnamemax, l.name);
    conlib_layup.description[0] = 0;
    conlib_layup.flags = type == layer_paths ? 1u : 0u;
    conlib_freepreview();
    contour *polys = nullptr;
    if (type == layer_paths && l.data.pth)
        polys = conlib_topolys(layer, 0.02f * sqrtf((float)l.data.pth->cnum), 0, 0, 1);
    conlib_layup.previewjob.store(1, std::memory_order_relaxed);
    if (sys_threadjob("layuppreview", conlib_previewjob, polys) < 0) {
        sys_log("conlib_openupload: preview job refused");
        cont_free(polys);
        conlib_layup.previewjob.store(-1, std::memory_order_relaxed);
    }
    return 1;
}

// Until the preview renderer exists the job only lets its argument go.
void job_genlayuppreview(void *polylines)
{
    cont_free((contour *)polylines);
    conlib_layup.previewjob.store(-1, std::memory_order_release);
}

void conlib_quit()
{
    sys_free(conlib_list.index);
    conlib_list.index = nullptr;
    conlib_list.indexsize = 0;
    conlib_freepreview();
}
