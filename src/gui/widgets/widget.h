// What the widget family shares: the box and text area every widget cuts
// from its sector, the colour scheme of clickable members by element state,
// the icon font of a glyph, glyph placement, and printf formatting in the C
// locale so a value reads "1.50" whatever locale the desktop runs in.
#pragma once
#include "gui/sector.h"

#include <cstdarg>
#include <cstdint>

constexpr int widget_textmax = 1024;

// Box and text colours of one clickable member this frame.
struct widget_colours {
    const float *box;
    const float *text;
};

// Pops the top sector into *sector; 0 with an empty stack.
int widget_popsector(gui_rect *sector);
// The sector moved in by the spacing; the box moved in by the padding.
gui_rect widget_box(const gui_rect &sector);
gui_rect widget_area(const gui_rect &box);
// Colours by the element model's state of the id; asks for the hand pointer
// while the id is hot or pressed.
widget_colours widget_statecolours(int32_t id);
// The data font of an icon code for a sector of height h: three families of
// three sizes, fonts 21 to 29.
int widget_iconfont(int icon, float h);
// The cell height of a data font (13 px and the like); 0 when not loaded.
int widget_cellheight(int font);
// Formats into out (widget_textmax bytes) in the C locale; out[0] = 0 for a
// null format. The return is out, or null for a null format.
const char *widget_vformat(char *out, const char *fmt, va_list args);
const char *widget_format(char *out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// The start of every widget with a text: pops the top sector into *sector
// and formats the text into text (widget_textmax bytes); 0 with an empty
// stack, the text then left unformatted.
int widget_poptext(gui_rect *sector, char *text, const char *fmt, va_list args);
// Queues a text in the area: 4 px in from the left or centred across, and
// centred down 1 px low. An empty text queues nothing.
void widget_text(const gui_rect &area, int font, int centred, const char *text, const float rgb[3]);
// Queues a glyph (one character of an icon font) and an optional text: with
// a text the glyph sits 4 px into the area and the text after it; without
// one the glyph is centred in the box.
void widget_glyphtext(const gui_rect &box, const gui_rect &area, int iconfont, char glyph, const float glyphrgb[3],
                      int font, const char *text, const float textrgb[3]);
