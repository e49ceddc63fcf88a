// Compilation of a toolpath slot's sorted cut paths into moves (runs of
// rapid and feed points that store only the axes they change) and the
// machining-time estimate over those moves. The simulation, the toolpath
// drawing, the project file and the G-code writer read the moves.
#pragma once
#include <cstdint>

// One run of points of the same kind and code.
struct move {
    uint32_t kind;  // 1 rapid, 2 feed (the writer also accepts 3 and 4)
    uint32_t code;  // move_* bits
    uint32_t count; // points in the run
};
static_assert(sizeof(move) == 12, "moves are 12-byte records");

enum move_kind : uint32_t { move_rapid = 1, move_feed = 2 };

// Code bits: the axes a point gives (floats in the order X, Y, Z, then the
// pairs), the engage feed rate and whether the point cuts.
constexpr uint32_t move_x = 0x01;
constexpr uint32_t move_y = 0x02;
constexpr uint32_t move_z = 0x04;
constexpr uint32_t move_xy2 = 0x08;
constexpr uint32_t move_xz2 = 0x10;
constexpr uint32_t move_yz2 = 0x20;
constexpr uint32_t move_engage = 0x40;
constexpr uint32_t move_cut = 0x80;

constexpr uint32_t move_startmoves = 8192;
constexpr uint32_t move_startparms = 32768;

// Appends one point to the slot's moves, merging it into the last run when
// kind and code match; writes the new position (pos with the given axes
// replaced) into out, or (0, 0, 0) when a buffer could not grow. The rapid
// form adds the distance to the slot's rapids; the feed form adds it to the
// path's cutting length when the code has move_cut.
void move_addpoints(float out[3], int slot, const float pos[3], uint32_t code, const float *values);
void move_addpoints(float out[3], int slot, const float pos[3], int path, uint32_t code, const float *values);

// Compiles the slot's sorted paths (every path in index order when nothing
// is sorted) with safez the absolute safe height; 1 on success, 0 with a
// logged reason, leaving the slot without moves.
int toolpath_compile(int slot, float safez);

// Estimated seconds to run the slot's moves: feed and rapid in project units
// per minute, accel in project units per second squared. Always finite.
double toolpath_eta(int slot, float feed, float rapid, float accel);
