// The configuration record: one fixed 30,432-byte little-endian record that
// every subsystem reads and writes through typed accessors at the fixed
// offsets named below. The file "config.dat" is the raw record; config_init
// loads and upgrades it, config_save writes it back whole.
#pragma once
#include <cstdint>

constexpr int cfg_size = 30432;
// Longer files are cut to the record, but one this much longer is not a
// configuration file and is not read at all.
constexpr int32_t cfg_maxfilebytes = 1048576;
constexpr uint32_t cfg_magicvalue = 0x5A17C3E9;
constexpr int cfg_version = 186; // 100 x major + minor of this program
constexpr int cfg_toolcount = 256;   // entries of the tool library
constexpr int cfg_toolnamesize = 64; // bytes of one tool-library name
constexpr int cfg_opcount = 64;      // entries of each operation-value array

// Field offsets. Integers are i32 and floats f32 unless noted; a colour is
// three f32 (red, green, blue). Fields named after their offset belong to a
// subsystem that gives them their meaning; the record only keeps them.
enum cfg_field : int {
    cfg_magic = 0,                // u32
    cfg_termsaccepted = 4,
    cfg_windowx = 8,
    cfg_windowy = 12,
    cfg_windowwidth = 16,
    cfg_windowheight = 20,
    cfg_windowmaximised = 24,
    cfg_guitextcolour = 28,       // GUI style: primary font colour
    cfg_guihitextcolour = 40,     // secondary font colour
    cfg_guiwidgetcolour = 52,     // foreground UI colour; 52..75 offered to the colour picker
    cfg_guipanelcolour = 64,      // background UI colour
    cfg_guipanelalpha = 76,       // f32, opacity of widget boxes
    cfg_guishadestep = 80,        // f32, hot, pressed and rim shades
    cfg_guispacing = 84,          // pixels between widget boxes
    cfg_guipadding = 88,          // pixels from a box to its text
    cfg_guiborderwidth = 92,      // pixels of a framed box's rim
    cfg_guifont = 96,             // data-font index of the UI font
    cfg_guishowinputs = 100,      // "Show Keyboard/Mouse Inputs"
    cfg_fov = 104,                // "Perspective FOV", degrees
    cfg_nearfactor = 108,
    cfg_farfactor = 112,
    cfg_perspective = 116,
    cfg_swapcamerabuttons = 120,
    cfg_backgroundcolor2 = 124,   // gradient colour at parameter 1
    cfg_backgroundcolor1 = 136,   // gradient colour at parameter 0
    cfg_viewcolor1 = 148,         // eight view and canvas colours, 12 bytes apart
    cfg_viewcolor2 = 160,
    cfg_viewcolor3 = 172,
    cfg_viewcolor4 = 184,
    cfg_viewcolor5 = 196,
    cfg_viewcolor6 = 208,
    cfg_viewcolor7 = 220,
    cfg_viewcolor8 = 232,
    cfg_gridmajoralpha = 244,     // f32, opacity of the grid's whole-unit lines
    cfg_gridminoralpha = 248,     // f32, opacity of its subdivision lines
    cfg_gridsubdiv = 252,         // f32
    cfg_value276 = 276,           // f32
    cfg_pathminlength = 280,      // f32
    cfg_pathmaxlength = 284,      // f32
    cfg_canvassize = 296,         // 3 x f32, project units
    cfg_canvasorigin = 308,       // 3 x f32
    cfg_value348 = 348,
    cfg_value352 = 352,           // f32
    // The operation editor's remembered common values, written by Apply and
    // read by New Operation.
    cfg_oplasttype = 360,         // the last applied operation type
    cfg_opcoolant = 364,
    cfg_optool = 368,             // project tool number 1..10
    cfg_opengagefeed = 372,
    cfg_opfeed = 376,
    cfg_opspeed = 380,
    cfg_opdir = 384,
    cfg_opstock = 388,            // f32, project units
    cfg_opstep = 392,             // f32, project units or percent
    cfg_opdoc = 396,              // f32, depth of cut
    cfg_opmaxdepth = 400,         // f32
    cfg_opmindepth = 404,         // f32
    cfg_opsafe = 408,             // f32, safe height
    cfg_oprest = 412,             // the five remembered switches, 0 or 1
    cfg_opsort = 416,
    cfg_oplink = 420,
    cfg_opedges = 424,
    cfg_oppercent = 428,
    cfg_oldopvalues = 512,        // 3 x 16 i32, before 1.84
    cfg_units = 704,
    cfg_antialiasing = 708,
    cfg_canvasquality = 724,      // f32
    cfg_canvasgeometry = 728,     // f32 0..1, detail of the canvas surface's slice stacks
    cfg_declinedmajor = 732,      // version remembered by the update check
    cfg_declinedminor = 736,
    cfg_gpuconvo = 740,
    cfg_debuginfo = 752,
    cfg_postpath = 768,           // text
    cfg_projectpath = 1280,       // text
    cfg_toollibpath = 1792,       // text, the last tool-library file
    cfg_backupinterval = 2376,    // f32, least seconds between two automatic backups
    cfg_autobackup = 2380,
    cfg_versionmajor = 2392,
    cfg_versionminor = 2396,
    cfg_ppi = 2400,
    cfg_snaptogrid = 2412,
    cfg_viewmode2d = 2420,
    cfg_value2428 = 2428,
    cfg_value2432 = 2432,
    cfg_gpuviewbuffering = 2436,
    cfg_oldtoolnames = 2440,      // 32 x char[64], before 1.80
    cfg_oldtoolvalues = 4488,     // 6 x 32 f32, before 1.80
    cfg_leftpanelwidth = 5268,
    cfg_rightpanelwidth = 5272,
    cfg_showgrid = 5308,
    cfg_undomemory = 5312,        // megabytes of the undo/redo ring
    cfg_value5316 = 5316,
    cfg_value5360 = 5360,
    cfg_cpubudget = 5364,         // f32
    cfg_framerate = 5368,
    cfg_projunits = 5392,
    cfg_rapidfeed = 5416,         // f32 (i32 before 1.54)
    cfg_svgdpi = 5420,
    cfg_canvascurve = 5428,       // f32
    cfg_simcurve = 5432,          // f32
    cfg_rapidaccel = 5452,        // f32
    cfg_trochoidstep = 5476,      // f32, degrees
    cfg_selectopacity = 5524,     // f32
    cfg_selectsolid = 5528,
    cfg_lightyaw = 5532,          // f32, degrees
    cfg_lightpitch = 5536,        // f32, degrees
    cfg_dxftolerance = 5540,      // f32 0..1, "DXF Tolerance:" (fit and arc step)
    cfg_dxfautojoin = 5544,       // f32 0..1, "DXF Auto-Join:" (join distance)
    cfg_tracezplane = 5548,       // f32, "Trace Z-Plane", project units above the canvas bottom
    cfg_traceoffset = 5552,       // f32, "Trace Offset", project units, positive outward
    cfg_traceerror = 5556,        // f32 0..1, "Error Threshold" of the traced curves' fit
    cfg_smallviewbuttons = 5560,  // toolbar buttons 21 px instead of 38
    cfg_toolpathocclusion = 5564, // 0 all toolpaths drawn, 1 occluded ones hidden, 2 occluded ones shown
    cfg_exportmode = 5568,        // G-code export: 1 each operation, 2 per tool, 3 combined
    cfg_exportopen = 5572,        // G-code export: open each written file
    cfg_exportrepeatx = 5576,     // G-code export: columns of the repetition grid, 1..10
    cfg_exportrepeaty = 5580,     // rows, 1..10
    cfg_exportspacingx = 5584,    // f32, gap between columns, project units
    cfg_exportspacingy = 5588,    // f32, gap between rows
    cfg_gloss = 5592,             // f32 0..1, "Shade Glossiness:"
    cfg_shadecontrast = 5596,     // f32 0..2, "Shade Contrast:"
    cfg_boundarythickness = 5600, // f32 pixels, "Boundaries Thickness: %1.1fpx"
    cfg_pathsthickness = 5604,    // f32 pixels, "Paths Thickness: %1.1fpx"
    cfg_gridthickness = 5608,     // f32 pixels, "Grid Thickness: %1.1fpx"
    cfg_highquality = 5612,       // "High Quality Rendering"
    cfg_keepview = 5616,          // a loaded or new project keeps the camera's angles
    cfg_showallpaths = 5620,      // "Show All Paths-Layers" while editing paths
    cfg_fastview = 5624,          // "Fast View Update": simplified drawing while manipulating
    cfg_fittocanvas = 5628,       // loaded media are scaled to fit the canvas
    cfg_physicalsvgunits = 5632,  // SVG paths read and written in project units, not canvas pixels
    cfg_lasttooltype = 5636,      // the last applied tool type, negative when metric
    cfg_tooldeftotal = 5640,      // 4 x f32 by tool type - 1: remembered total length
    cfg_tooldefflute = 5656,      // 4 x f32: flute length
    cfg_tooldefdiameter = 5672,   // 4 x f32: flute diameter
    cfg_tooldefvalue = 5688,      // 4 x f32: the type's own value (radius, angle)
    cfg_tooldeframp = 5704,       // 4 x f32: ramp angle
    cfg_openpath = 5728,          // text, the starting file of the layer loaders' open dialogs
    cfg_toollib = 6080,           // the tool library block, up to cfg_toollibend
    cfg_toolnames = 6080,         // 256 x char[64]
    cfg_toolvalues = 22464,       // 7 arrays of 256 values, 1,024 bytes apart
    cfg_toollibend = 29632,
    cfg_appearcolor1 = 29632,
    cfg_appearcolor2 = 29644,
    cfg_opvalues = 29656,         // 3 arrays of 64 i32, 256 bytes apart
};

extern uint8_t cfg[cfg_size];
extern const uint8_t *const cfg_defaults; // the built-in record
extern int cfg_updated; // set by config_init when it upgraded an older file

int32_t cfg_geti(int offset);
void cfg_seti(int offset, int32_t value);
float cfg_getf(int offset);
void cfg_setf(int offset, float value);
// Text fields: the post-processor path, the last project path and the tool
// names. cfg_settext refuses (0) a text that does not fit its field or an
// offset that is not the start of a text field, and leaves the field as is.
const char *cfg_gettext(int offset);
int cfg_settext(int offset, const char *text);

// Builds cfg from the defaults and the configuration file, upgrading an older
// file to this version.
void config_init();
// Writes cfg whole to the configuration file; 1 on success.
int config_save();
// Resets cfg to the defaults, keeping the user's units, grid subdivision,
// terms flag and tool library, then saves.
void config_default();

// The GUI style keeps its place in the record: the file is the record.
static_assert(cfg_guitextcolour == 28 && cfg_guihitextcolour == 40 && cfg_guiwidgetcolour == 52 &&
              cfg_guipanelcolour == 64 && cfg_guipanelalpha == 76 && cfg_guishadestep == 80 &&
              cfg_guispacing == 84 && cfg_guipadding == 88 && cfg_guiborderwidth == 92 && cfg_guifont == 96 &&
              cfg_guishowinputs == 100 && cfg_fov == 104);
