// Maze growth for labyrinth carving: rooms on the even cells of a grid,
// walls between them opened one at a time from a frontier of candidate
// walls, with optional mirror and rotation symmetry. The same size, variance
// and symmetry always give the same maze. All state lives in one maze
// object per run, so tests and benchmarks may grow mazes on their own.
#pragma once
#include <cstdint>

// Cell values.
constexpr uint8_t maze_closed = 0;
constexpr uint8_t maze_open = 1;     // a visited room or an opened wall
constexpr uint8_t maze_frontier = 2; // a wall waiting in the frontier

constexpr int maze_maxside = 65534; // wall coordinates are 16-bit

// A frontier wall; the pool's records form one list from the newest (head)
// to the oldest (tail).
struct maze_wall {
    uint16_t x, y;
    int32_t newer, older; // pool indexes, -1 none
    uint8_t used;
};

struct maze {
    int nx = 0, ny = 0;
    uint8_t *cells = nullptr; // nx x ny, cell (x, y) at y * nx + x
    maze_wall *pool = nullptr;
    int64_t capacity = 0; // pool records: nx x ny / 2
    int32_t head = -1, tail = -1;
    int64_t live = 0, peak = 0;
    int64_t cursor = 0; // rotating start of the free-slot search
    int x0 = 0, y0 = 0; // the start room
};

// Grows the maze of nx x ny cells (both even, 2..65,534) into m, with
// variance >= 0 (more winding as it grows) and symmetry bits 0x1 mirror
// across x, 0x2 mirror across y, 0x4 quarter turn, 0x8 half turn. m's cells
// stay for the caller to read until maze_free. 0 (logged) on a refused size
// or variance, or when the buffers cannot be had.
int maze_generate(maze *m, int nx, int ny, float variance, uint32_t symmetry);
void maze_free(maze *m);
// The value of cell (x, y), taken modulo the grid.
uint8_t maze_cell(const maze *m, int x, int y);
// Opens room (x, y) and adds each closed wall to an unvisited neighbour room
// to the frontier.
void maze_addcell(maze *m, int x, int y);
// Puts wall (x, y) at the head of the frontier; logged and dropped when the
// pool is full.
void maze_addwall(maze *m, int x, int y);
// The steps of maze_generate, for tests of one step at a time.
// Allocates the zeroed cells and frontier pool of an nx x ny grid (sizes as
// maze_generate checks them); 0 (logged) when they cannot be had.
int maze_begin(maze *m, int nx, int ny);
// The frontier wall to open next: of the k newest, the first with the
// highest score |knightdist(to the start room) XOR knightdist(to (lx, ly))|;
// -1 when the frontier is empty.
int32_t maze_pickwall(const maze *m, int k, int lx, int ly);
// The mirror images of wall (x, y) under the symmetry bits, in the order they
// are queued (they are opened last first); their count.
int maze_mirrors(const maze *m, uint32_t symmetry, int x, int y, int out[6][2]);
// Opens wall (x, y) when it lies inside the grid between a visited and an
// unvisited room, visiting that room; 1 when it did. Rooms, pillars and
// walls between rooms that agree are left alone.
int maze_openwall(maze *m, int x, int y);
// Knight moves between two squares a and b apart on an unbounded board.
int maze_knightdist(int a, int b);
