// The three drop-down menus. Each list is a fixed table of items (icon
// buttons, check boxes and separators) laid out top to bottom in a window
// 250 px wide whose height is the sum of its rows. An item that cannot act
// now is drawn as a plain label with the same icon and text, unnamed, so no
// tutorial step can point at it.
#include "mainwindow/menus.h"

#include "gui/calls.h"
#include "gui/dialog.h"
#include "render/drawstate.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/sector.h"
#include "gui/tutorial.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/labels.h"
#include "mainwindow/fileactions.h"
#include "mainwindow/toollib.h"
#include "online/update.h"
#include "platform/path.h"
#include "project/canvas.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/log.h"
#include "sys/main.h"
#include "view/view.h"

constexpr int32_t menus_headid = 10701; // File, Config, Help: 10701..10703
constexpr int32_t menus_itemid = 10710; // items: this plus the item's place in its list
constexpr float menus_itemheight = 21.0f, menus_separator = 3.0f;

// The maker's web pages, all under the program's own domain.
static const char *const menus_site = "https://kerfmill.example";
enum menus_page { page_downloads, page_videos, page_forum, page_news, page_home, page_count };
static const char *const menus_pages[page_count] = {"/downloads", "/videos", "/forum", "/news", "/"};

enum menus_kind { item_button, item_check, item_separator };

struct menus_item {
    menus_kind kind;
    const char *name;
    const char *label;
    int icon;
    int (*enabled)(); // null: always a button
    void (*action)();
    int field; // check boxes: the configuration field, or -1 for the console
};

static int menus_notblocked()
{
    return !fileact_blocked();
}

static int menus_cansave()
{
    return !fileact_blocked() && project_hasfile && fileact_unsaved();
}

static int menus_tutorialsclosed()
{
    return gui_dialogid != 28;
}

static void menus_viewposts()
{
    // The posts folder sits beside the program.
    if (!plat_chdir(sys_programfolder))
        sys_log("menus_viewposts: cannot make \"%s\" current", sys_programfolder);
    sys_shellexecute("%s", "posts");
}

static void menus_openpage(menus_page page)
{
    char url[256];
    snprintf(url, sizeof(url), "%s%s", menus_site, menus_pages[page]);
    sys_openurl(url);
}

static const menus_item menus_file[] = {
    {item_button, "file_newproject", "New Project", 39, menus_notblocked, [] { fileact_new(); }, 0},
    {item_button, "file_openproject", "Open Project", 45, menus_notblocked, [] { fileact_open(); }, 0},
    {item_button, "file_saveproject", "Save Project", 52, menus_cansave, [] { fileact_save(); }, 0},
    {item_button, "file_saveprojectas", "Save Project As...", 52, menus_notblocked, [] { fileact_saveas(); }, 0},
    {item_separator, nullptr, nullptr, 0, nullptr, nullptr, 0},
    {item_button, "file_exportgcode", "Export G-Code", 351, nullptr, fileact_exportgcode, 0},
    {item_separator, nullptr, nullptr, 0, nullptr, nullptr, 0},
    {item_button, "file_importtools", "Import Tool Library", 45, nullptr, [] { toollib_import(); }, 0},
    {item_button, "file_exporttools", "Export Tool Library", 52, nullptr, [] { toollib_export(); }, 0},
    {item_separator, nullptr, nullptr, 0, nullptr, nullptr, 0},
    {item_button, "file_viewposts", "View Post-Processors", 45, nullptr, menus_viewposts, 0},
    {item_button, "file_viewlogs", "View Log Files", 45, nullptr, [] { sys_shellexecute("%s", sys_userfolder); }, 0},
};

static const menus_item menus_config[] = {
    {item_button, "cfg_themes", "Predefined Themes", 71, nullptr, menus_openthemes, 0},
    {item_button, "cfg_uisettings", "UI Settings", 71, nullptr, menus_openuisettings, 0},
    {item_button, "cfg_viewsettings", "View Settings", 71, nullptr, menus_openviewsettings, 0},
    {item_button, "cfg_camsettings", "CNC/CAM Settings", 71, nullptr, menus_opencamsettings, 0},
    {item_button, "cfg_simsettings", "Simulation Settings", 71, nullptr, menus_opensimsettings, 0},
    {item_check, "cfg_autobackup", "Project: Auto-Backup", 0, nullptr, nullptr, cfg_autobackup},
    {item_check, "cfg_gpuconvo", "GPU: Image Convolution", 0, nullptr, nullptr, cfg_gpuconvo},
    {item_check, "cfg_debuginfo", "Log: Debug Info (slower)", 0, nullptr, nullptr, cfg_debuginfo},
    {item_check, "cfg_showconsole", "Show Debug Console (F1)", 0, nullptr, nullptr, -1},
    {item_button, "cfg_cleartoollib", "Clear Tool Library", 68, nullptr, [] { toollib_clear(); }, 0},
    {item_button, "cfg_defaults", "Default Configuration", 71, nullptr, [] { menus_defaultconfig(); }, 0},
};

static const menus_item menus_help[] = {
    {item_button, "help_tutorials", "Interactive Tutorials", 35, menus_tutorialsclosed, menus_opentutorials, 0},
    {item_button, "help_userguide", "User Guide", 96, nullptr, [] { sys_shellexecute("%s", "UserGuide.html"); }, 0},
    {item_button, "help_changes", "Version Changes", 96, nullptr, [] { sys_shellexecute("%s", "changes.txt"); }, 0},
    {item_button, "help_issues", "Known Issues", 96, nullptr, [] { sys_shellexecute("%s", "issues.txt"); }, 0},
    {item_separator, nullptr, nullptr, 0, nullptr, nullptr, 0},
    {item_button, "help_examples", "Example Projects", 96, nullptr, [] { menus_openpage(page_downloads); }, 0},
    {item_button, "help_youtube", "YouTube Channel", 96, nullptr, [] { menus_openpage(page_videos); }, 0},
    {item_button, "help_forum", "Messageboard", 96, nullptr, [] { menus_openpage(page_forum); }, 0},
    {item_button, "help_news", "Site News", 96, nullptr, [] { menus_openpage(page_news); }, 0},
    {item_button, "help_visit", "Visit Site", 96, nullptr, [] { menus_openpage(page_home); }, 0},
    {item_separator, nullptr, nullptr, 0, nullptr, nullptr, 0},
    {item_button, "help_updates", "Check for Updates", 96, nullptr, [] { update_check(1); }, 0},
    {item_button, "help_about", "About Kerfmill", 96, nullptr, [] { gui_setdialog(19); }, 0},
};

void menus_openthemes()
{
    gui_setdialog(13);
}

void menus_openuisettings()
{
    gui_setdialog(8);
}

void menus_openviewsettings()
{
    gui_setdialog(9);
}

void menus_opencamsettings()
{
    gui_setdialog(11);
}

void menus_opensimsettings()
{
    gui_setdialog(10);
}

int menus_defaultconfig()
{
    if (!gui_calls->messagebox("Configuration", "Are you sure you want to reset user\nconfiguration to defaults?", 2,
                               4, 0))
        return 0;
    // config_default logs the kept grid step and units itself.
    config_default();
    view_redraw = 1; // the grid is drawn again from the restored settings
    project_freecanvas(0, 0, 1, 0);
    return 1;
}

void menus_opentutorials()
{
    tut_freeall();
    gui_setdialog(28);
}

static float menus_rowheight(const menus_item &item)
{
    return item.kind == item_separator ? menus_separator : menus_itemheight;
}

template <size_t n> static float menus_listheight(const menus_item (&items)[n])
{
    float h = 0.0f;
    for (const menus_item &item : items)
        h += menus_rowheight(item);
    return h;
}

static int menus_checkvalue(int field)
{
    return field < 0 ? gui_consoleopen : cfg_geti(field);
}

static void menus_setcheck(int field, int value)
{
    if (field < 0)
        gui_consoleopen = value;
    else
        cfg_seti(field, value);
}

// One row: its cell is the top sector.
static void menus_drawitem(const menus_item &item, int32_t id)
{
    if (item.kind == item_separator) {
        gui_popsector();
        return;
    }
    if (item.kind == item_check) {
        int value = menus_checkvalue(item.field);
        gui_elementid("%s", item.name);
        int now = gui_checkbox(id, value, item.label);
        if (now != value)
            menus_setcheck(item.field, now);
        return;
    }
    if (item.enabled && !item.enabled()) {
        gui_label(item.icon, 0, gui_interfacefont, "%s", item.label);
        return;
    }
    gui_elementid("%s", item.name);
    if (gui_iconbutton(id, item.icon, 0, gui_interfacefont, "%s", item.label))
        item.action();
}

// The list fills the window the drop-down began: each row is cut from the
// top of what is left, the last row takes the rest.
template <size_t n> static void menus_drawlist(const menus_item (&items)[n], int32_t firstid)
{
    for (size_t i = 0; i < n; i++) {
        if (i + 1 < n)
            gui_colsector(2, (double)menus_rowheight(items[i]), 1.0);
        menus_drawitem(items[i], firstid + (int32_t)i);
    }
}

template <size_t n>
static void menus_drawhead(int head, const char *name, const char *label, const menus_item (&items)[n])
{
    gui_elementid("%s", name);
    if (!gui_dropdown(menus_headid + head, 0.0f, 20.0f, menus_listwidth, menus_listheight(items), "%s", label))
        return;
    menus_drawlist(items, menus_itemid + 20 * head);
    gui_endwindow();
}

void menus_draw()
{
    if (!gui_topsector())
        return;
    gui_rowsector(3, 1.0, 1.0, 1.0);
    menus_drawhead(0, "menu_file", "File", menus_file);
    menus_drawhead(1, "menu_config", "Config", menus_config);
    menus_drawhead(2, "menu_help", "Help", menus_help);
}
