// Text-layer refresh, layer textures, removal and selection. A removal of
// the layer the editor holds first deselects it, so the editor lets go of
// it before its slot is freed; the removal itself runs the frame after.
#include "view/layerfollow.h"

#include "project/brush.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/layertex.h"
#include "project/project.h"
#include "project/undo.h"
#include "gui/textedit/textedit.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "render/texture.h"
#include "img/image.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "view/backup.h"
#include "view/modes.h"
#include "view/readout.h"
#include "view/view.h"

#include <algorithm>
#include <atomic>

float view_textscale = 0.0f;
int32_t view_layertexture = -1;

float view_textcursor[2];
float view_textselect[2];
float view_textchar[2];

static int32_t follow_cursor = -1;    // cursor position last measured, -1 none
static int32_t follow_sellength = 0;  // selection length last measured
static double follow_lastcheck = 0.0;  // last string check of the text-edit layer
static uint64_t follow_reported = 0;   // text-layers reported without a text object

static int follow_textobject(int slot)
{
    int t = project.layers[slot].data.text;
    bool ok = text_objects && t >= 0 && t < text_maxobjects && text_objects[t].font >= 0;
    uint64_t bit = 1ull << slot;
    if (!ok && !(follow_reported & bit))
        sys_log("view_layerfollow: text-layer[%d] has no text object (%d)", slot, t);
    follow_reported = ok ? follow_reported & ~bit : follow_reported | bit;
    return ok ? t : -1;
}

static float follow_scale()
{
    return view_textscale > 0.0f ? view_textscale : (float)project.ppi;
}

// Step 2.2: 1 when the layer took the image's size.
static int follow_fitsize(int slot, int t, const image *img)
{
    project_layer &l = project.layers[slot];
    float k = project.scale * follow_scale();
    if (!(k > 0.0f))
        return 0;
    if (img->width == (int)(l.size[0] * k) && img->height == (int)(l.size[1] * k))
        return 0;
    l.size[0] = (float)(img->width + 1) / k;
    l.size[1] = (float)(img->height + 1) / k;
    const float crop[4] = {0.0f, 0.0f, 1.0f, 1.0f};
    std::copy(crop, crop + 4, l.crop);
    if (slot == project_selectedlayer) {
        layer_editor.size[0] = l.size[0];
        layer_editor.size[1] = l.size[1];
    }
    sys_log("...updated layer[%d] size:%f,%f", slot, l.size[0], l.size[1]);
    sys_log("queued canvas update for layer[%d].text[%d]...", slot, t);
    l.stale = 1;
    return 1;
}

// Step 2.1 to 2.3: 1 when the layer's size was fitted.
static int follow_pickup(int slot, int t, bool editing)
{
    text_object &o = text_objects[t];
    uint32_t mode = jobmode.load();
    std::atomic_ref<uint32_t> updated(o.updated);
    if (!updated.load() || mode == 2 || mode == 3)
        return 0;
    project_layer &l = project.layers[slot];
    sys_log("layer[%d].text[%d] image regenerated... (size:%fx%f)", slot, t, l.size[0], l.size[1]);
    updated.store(0);
    const image *img = text_getimage(t, 0);
    if (!img) {
        sys_log("layer[%d].text[%d] generated with no image!", slot, t);
        return 0;
    }
    int fitted = (l.size[0] == 0.0f || l.size[1] == 0.0f || editing) ? follow_fitsize(slot, t, img) : 0;
    if (slot == project_selectedlayer && layer_texrefreshes.load() == 0)
        layer_refreshtexture(slot);
    return fitted;
}

static void follow_render(int t, const char *what)
{
    text_object &o = text_objects[t];
    img_free(o.img);
    o.img = nullptr;
    sys_log("%s", what);
    text_queueupdate(t);
}

// The caret after n bytes as fractions of the image; 0 when unmeasured.
static int follow_caret(int t, int n, const image *img, float point[2], float charsize[2])
{
    int extent[2], size[2];
    if (!ttf_textwidthn(t, n, extent, size))
        return 0;
    float w = (float)img->width, h = (float)img->height;
    point[0] = extent[0] / w;
    point[1] = extent[1] / h;
    if (charsize) {
        charsize[0] = size[0] / w;
        charsize[1] = size[1] / h;
    }
    return 1;
}

// The caret is measured again only when the cursor or the selection moved.
static void follow_measurecursor(int slot, int t, int fitted)
{
    int cursor = text_editstate.cursor, selection = text_editstate.selection;
    if (cursor == follow_cursor && selection == follow_sellength)
        return;
    follow_cursor = cursor;
    follow_sellength = selection;
    const image *img = text_getimage(t, 0);
    if (!img || img->width <= 0 || img->height <= 0) {
        sys_log("cursorpos: layer[%d].text[%d] has no image!", slot, t);
        return;
    }
    if (!follow_caret(t, cursor, img, view_textcursor, view_textchar))
        return;
    view_textselect[0] = view_textcursor[0];
    view_textselect[1] = view_textcursor[1];
    if (selection != 0)
        follow_caret(t, cursor + selection, img, view_textselect, nullptr);
    const float *c = view_textcursor, *e = view_textselect, *k = view_textchar;
    if (fitted)
        sys_log("...updated text-layer[%d] cursor:%.3f,%.3f select:%.3f,%.3f char:%.3f,%.3f (%dx%d)", slot, c[0],
                c[1], e[0], e[1], k[0], k[1], img->width, img->height);
    else
        sys_log("...updated cursor:%.3f,%.3f select:%.3f,%.3f char:%.3f,%.3f (%dx%d)", c[0], c[1], e[0], e[1], k[0],
                k[1], img->width, img->height);
}

// Step 2.4: the caret, and the text editor's properties and string go to
// the text object. A busy object is left for a later frame rather than
// waited for.
static void follow_textedit(int slot, int t, int fitted)
{
    text_object &o = text_objects[t];
    if (std::atomic_ref<uint32_t>(o.busy).load())
        return;
    follow_measurecursor(slot, t, fitted);
    int32_t font = o.font;
    if (project_textfont >= 0 && project_textfont < sys_fontcount && sys_fontorder)
        font = sys_fontorder[project_textfont];
    float pt = project_textptsize, spacing = project_textspacing;
    // The text objects' own rounding: computed otherwise, the two sizes may
    // never agree and the text would be rendered again every frame.
    int32_t draw = text_drawsize(pt, follow_scale());
    if (font != o.font || pt != o.ptsize || draw != o.drawsize || spacing != o.spacing) {
        o.font = font;
        o.ptsize = pt;
        o.drawsize = draw;
        o.spacing = spacing;
        char line[128];
        snprintf(line, sizeof(line), "text_setproperties: job_updatetext text[%d] font[%d] size:%.2f draw:%d", t, font,
                 pt, draw);
        follow_render(t, line);
        return;
    }
    if (sys_time - follow_lastcheck <= 0.0667)
        return;
    follow_lastcheck = sys_time;
    uint32_t h = text_hash(o.text);
    if (h != o.hash) {
        o.hash = h;
        char line[96];
        snprintf(line, sizeof(line), "text_checkstring: job_updatetext text[%d] font[%d]", t, o.font);
        follow_render(t, line);
    }
}

static void follow_textlayers()
{
    if (project_textlayeredit == -1)
        follow_cursor = -1;
    int fitted = 0;
    for (int i = 0; i < project_maxlayers; i++) {
        if (project.layers[i].type != layer_text)
            continue;
        int t = follow_textobject(i);
        if (t < 0)
            continue;
        bool editing = project_textlayeredit != -1 && i == project_selectedlayer;
        int fit = follow_pickup(i, t, editing);
        fitted += fit;
        if (editing)
            follow_textedit(i, t, fit);
    }
    if (fitted) {
        sys_log("updating canvas for %d text-layers...", fitted);
        project_updatecanvas(0, 1, (uint32_t)project_layergroup);
    }
}

static bool follow_inuse(int slot)
{
    return slot >= 0 && slot < project_maxlayers && project.layers[slot].type != layer_free;
}

// Step 4: the removal with its undo event; the slots above move down.
static void follow_remove(int r)
{
    msg_stream m;
    if (msg_alloc(&m)) {
        layer_write(&m, r);
        sys_log("layer[%02d] event (remove:%d)", r, 1);
        if (!m.failed)
            event_queue(event_layeraddremove, r, (uint32_t)m.position, m.buffer, 0, nullptr);
        sys_free(m.buffer);
    } else {
        sys_log("view_layerfollow: no buffer for the removal of layer[%02d]", r);
    }
    project_layerfree(r);
    layer_closegap(r);
    if (gui_selectedlayer == r)
        gui_selectedlayer = -1;
    if (project_selectedlayer > r) {
        project_selectedlayer--;
        gui_selectedlayer = project_selectedlayer;
    }
    sys_status("removed layer%02d", r);
    // The trace dialog composes the layer it holds itself.
    if (!(view_dialogid() == 17 && project_selectedlayer != -1))
        project_updatecanvas(0, 1, (uint32_t)project_layergroup);
    project_changetime = (float)sys_seconds();
    project_saved = 0;
}

static void follow_removal()
{
    int r = project_removelayer;
    if (r == -1)
        return;
    if (!follow_inuse(r)) {
        sys_log("view_layerfollow: no layer %d to remove", r);
        project_removelayer = -1;
        return;
    }
    if (r == project_selectedlayer) {
        gui_selectedlayer = -1;
        return;
    }
    follow_remove(r);
    project_removelayer = -1;
}

// Step 5: the main window's selection goes into the editor.
static void follow_selection()
{
    int sel = gui_selectedlayer;
    if (sel == project_selectedlayer)
        return;
    if (sel != -1 && !follow_inuse(sel)) {
        sys_log("view_layerfollow: no layer %d to select", sel);
        gui_selectedlayer = sel = -1;
        if (sel == project_selectedlayer)
            return;
    }
    if (sel != -1)
        view_measuretool.on = 0;
    project_rasterselect(0);
    layer_pathedit(0);
    project_textmode(0);
    int previous = project_selectedlayer;
    if (sel != -1) {
        layer_loadeditor(&project.layers[sel]);
        sys_status("...selected layer #%02d", sel);
    } else if (projectmode == 1) {
        sys_status("...deselected layer #%02d", previous);
    }
    project_selectedlayer = sel;
    // The boxes follow the selection (the selected layer shows none until
    // it is edited): without a redraw the buffered view would keep the old
    // ones until some other change, such as the display texture, came.
    view_redraw = 1;
    if (sel != -1) {
        layer_refreshtexture(sel);
        // The list shows the highest slot on top: bring the row into view.
        if (!gui_layerfromlist && numlayers > 0)
            gui_layerscroll = std::clamp(1.0f - (float)sel / (float)numlayers, 0.0f, 1.0f);
    }
    gui_layerfromlist = 0;
}

void view_layerfollow()
{
    follow_textlayers();
    follow_removal();
    follow_selection();
}

void view_takelayertexture()
{
    int32_t t = layer_activetexture.load();
    if (t == -1)
        return;
    if (view_layertexture != t)
        r_freetexture(view_layertexture);
    view_layertexture = t;
    layer_activetexture.store(-1);
    view_redraw = 1;
}
