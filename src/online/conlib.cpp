// Content-library names, cache records and cache folder.
#include "online/conlib.h"

#include "platform/path.h"
#include "sys/log.h"
#include "sys/main.h"

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
