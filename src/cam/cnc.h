// G-code output. A post-processor is a script that sets the post-processor
// variables; the output engine addresses them by their fixed position in
// this table, so the order of registration is part of the file format of
// every post-processor. The engine fills the run-time variables (CNC_X ...)
// and expands the post's block templates into one growing text buffer:
// cnc_begin opens a program, the writers append blocks, cnc_end saves it.
// Main thread only.
#pragma once
#include "sys/var.h"

#include <cstdint>

constexpr int cnc_postvarcount = 105;

extern const char *const cnc_postvarnames[cnc_postvarcount];
// Variable ids of the post-processor variables, in the order of the names.
extern int postvars[cnc_postvarcount];

// Positions in postvars of the variables the engine reads or fills.
enum cnc_postvar : int {
    cnc_version = 0, cnc_readstart = 2, cnc_readstop = 3, cnc_userelative = 4, cnc_usetoolchange = 5,
    cnc_usespindle = 6, cnc_usecoolant = 7, cnc_usecomments = 8, cnc_commentbegin = 9, cnc_commentend = 10,
    cnc_usesequence = 11, cnc_sequencecomments = 12, cnc_sequenceprefix = 13, cnc_sequencedigits = 14,
    cnc_sequencestart = 15, cnc_sequenceinc = 16, cnc_delimiter = 17, cnc_endofblock = 18, cnc_useplus = 19,
    cnc_twodigittool = 20, cnc_units = 21, cnc_modalmotion = 22, cnc_modalcoord = 23, cnc_modalcenter = 24,
    cnc_modalspeed = 25, cnc_modalfeed = 26, cnc_speedscale = 27, cnc_speedmin = 28, cnc_speedmax = 29,
    cnc_speeddecimals = 30, cnc_speedzeroes = 31, cnc_feedscale = 32, cnc_feedmin = 33, cnc_feedmax = 34,
    cnc_feeddecimals = 35, cnc_feedzeroes = 36, cnc_motionscalex = 37, cnc_motiondecimals = 40,
    cnc_motionzeroes = 41, cnc_coderapid = 49, cnc_codelinear = 50, cnc_codexyplane = 55, cnc_codeinches = 56,
    cnc_codemetric = 57, cnc_codeabsolute = 58, cnc_coderelative = 59, cnc_registerx = 68,
    cnc_registerspeed = 75, cnc_registerfeed = 76, cnc_registertool = 77, cnc_prefixblock = 78,
    cnc_postfixblock = 79, cnc_toolchangeblock = 80, cnc_spindlecwblock = 81, cnc_spindleccwblock = 82,
    cnc_spindleoffblock = 83, cnc_coolantmistblock = 84, cnc_coolantfloodblock = 85, cnc_coolantoffblock = 86,
    cnc_rapidblock = 87, cnc_linearblock = 88, cnc_seqvar = 90, cnc_unitsvar = 91, cnc_distancevar = 92,
    cnc_planevar = 93, cnc_toolvar = 94, cnc_feedvar = 95, cnc_speedvar = 96, cnc_xvar = 97, cnc_ivar = 100,
    cnc_rvar = 103, cnc_gcodevar = 104,
};

constexpr int cnc_startcapacity = 32768; // bytes of a new program buffer
constexpr int cnc_textmax = 1064;        // bytes of one formatted line of a writer
constexpr int cnc_blockmax = 4096;       // bytes of one expanded template

// The output state of the one open program.
struct cnc_state {
    char *text; // null while no program is open
    int32_t length, capacity;
    // Why text was lost (the buffer could not grow, a line did not format),
    // or null. Sticky until the next cnc_begin: a program with a hole in it
    // must never reach a machine, so cnc_end refuses to write it.
    const char *failure;
    int sequence; // next sequence number; negative: numbering off
    char delimiter[var_valuemax], endofblock[var_valuemax];
    char commentbegin[var_valuemax], commentend[var_valuemax];
    int delimiterlen, endofblocklen;
    // Last coordinates written, in whole resolution steps of post units, and
    // whether each axis has been written at all: an axis whose position is
    // unknown is never written.
    int64_t last[3];
    int known[3];
    float lastfeed; // project units per minute; negative: none written yet
    int units;      // the project's: 1 inches, 2 metric
    float unitfactor;
    int lasttool, motion, plane, coolant;
    int spindlemode, spindlespeed;
    // The post's settings, read once by cnc_begin.
    float scale[3], resolution;
    int decimals, trailingzeroes, plussign, relative;
    int modalcoord, modalfeed, modalspeed, modalmotion, modalcenter;
    int usespindle, usecoolant, usecomments, usetoolchange, sequencecomments;
};
extern cnc_state cncout;

// The "cnc..." start: registers every post-processor variable. 0 when the
// variable table refused one (reported by the table).
int cnc_init();

// Resets every post-processor variable (numbers to 0, texts empty), runs the
// configured post with script_run and checks that it can write a program
// controllers read. 1 when it can; 0 after an error box naming the file and
// the cause.
int cnc_loadpost();

// Opens a program: postname is shown in the header, units are the
// project's (1 inches, 2 metric). 1 when output is open; 0 when a program is
// already open or the buffer cannot be allocated.
int cnc_begin(const char *postname, int units);
// Appends formatted text as it is.
void cnc_write(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Writes a comment line (with UseComments); parentheses in the text become
// brackets, so that no comment can nest or end early.
void cnc_comment(const char *format, ...) __attribute__((format(printf, 1, 2)));
void cnc_comment(int repetitionx, int repetitiony, float x, float y);
// Appends a block line with runs of delimiters and block ends collapsed.
void cnc_block(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Sets CNC_SEQUENCE to the current number and advances the counter.
void cnc_sequence();
// Moves to pos (project units): 0 when nothing changed by half a resolution
// step, else 1. axes (bits 1 X, 2 Y, 4 Z) names the coordinates the caller
// sets; the others are left alone. pos is overwritten with the post-unit
// values written.
int cnc_rapid(float pos[3], uint32_t axes = 7);
int cnc_linear(float pos[3], float feed, uint32_t axes = 7);
// mode 1 clockwise, 2 counter-clockwise, 3 off.
void cnc_spindle(int mode, int speed);
// Coolant off, spindle off and a change to cncout.lasttool.
void cnc_coolanttool(int tool);
// The coolant block of the current coolant state.
void cnc_varline();
// Installed as var_expandhook while a program is open.
void cnc_varhook(int index);
// Saves the program to path (temporary file renamed into place) and closes
// it: bytes written, or 0 (nothing left at path but what was there), also
// when any text was lost while the program was written.
int32_t cnc_end(const char *path);
// The program buffer's growth; tests swap it to refuse growth.
extern void *(*cnc_realloc)(void *block, int32_t size);
