// Maze growth. A wall is picked among the k newest of the frontier (k from
// the variance) by a score that mixes knight distances to the start room and
// to the last mirrored wall, which gives the corridors their texture; with
// symmetry, each picked wall is followed by its mirror images. A wall opens
// only between a visited and an unvisited room, so the open cells always
// form one tree over the rooms.
#include "cam/maze.h"

#include "sys/log.h"

#include <cmath>
#include <cstdlib>

static size_t maze_index(const maze *m, int x, int y)
{
    const int cx = ((x % m->nx) + m->nx) % m->nx, cy = ((y % m->ny) + m->ny) % m->ny;
    return (size_t)cy * (size_t)m->nx + (size_t)cx;
}

uint8_t maze_cell(const maze *m, int x, int y)
{
    return m->cells[maze_index(m, x, y)];
}

static void maze_set(maze *m, int x, int y, uint8_t v)
{
    m->cells[maze_index(m, x, y)] = v;
}

int maze_knightdist(int a, int b)
{
    const int p = a > b ? a : b, q = a > b ? b : a;
    if (p == 1 && q == 0)
        return 3;
    if (p == 2 && q == 2)
        return 4;
    const int d = p - q;
    if (q > d)
        return d - 2 * (int)std::floor((double)(d - q) / 3.0);
    return d - 2 * (int)std::floor((double)(d - q) / 4.0);
}

void maze_addwall(maze *m, int x, int y)
{
    m->cursor++;
    int64_t slot = -1;
    for (int64_t tried = 0; tried < m->capacity; tried++, m->cursor++) {
        const int64_t s = m->cursor % m->capacity;
        if (!m->pool[s].used) {
            slot = s;
            break;
        }
    }
    if (slot < 0) {
        sys_error("maze: walls overflow! [ %d / %d ]", (int)m->live, (int)m->capacity);
        return;
    }
    maze_wall &w = m->pool[slot];
    w = maze_wall{(uint16_t)x, (uint16_t)y, -1, m->head, 1};
    maze_set(m, x, y, maze_frontier);
    if (m->head >= 0)
        m->pool[m->head].newer = (int32_t)slot;
    else
        m->tail = (int32_t)slot;
    m->head = (int32_t)slot;
    m->live++;
    if (m->live > m->peak)
        m->peak = m->live;
}

void maze_addcell(maze *m, int x, int y)
{
    maze_set(m, x, y, maze_open);
    struct {
        bool ok;
        int dx, dy;
    } const dirs[4] = {{y < m->ny - 2, 0, 1}, {x > 1, -1, 0}, {y > 1, 0, -1}, {x < m->nx - 2, 1, 0}};
    for (const auto &d : dirs)
        if (d.ok && maze_cell(m, x + 2 * d.dx, y + 2 * d.dy) == maze_closed &&
            maze_cell(m, x + d.dx, y + d.dy) == maze_closed)
            maze_addwall(m, x + d.dx, y + d.dy);
}

static void maze_unlink(maze *m, int32_t s)
{
    maze_wall &w = m->pool[s];
    if (w.newer >= 0)
        m->pool[w.newer].older = w.older;
    else
        m->head = w.older;
    if (w.older >= 0)
        m->pool[w.older].newer = w.newer;
    else
        m->tail = w.newer;
    if (maze_cell(m, w.x, w.y) == maze_frontier)
        maze_set(m, w.x, w.y, maze_closed);
    w = maze_wall{0, 0, -1, -1, 0};
    m->live--;
}

int32_t maze_pickwall(const maze *m, int k, int lx, int ly)
{
    int32_t best = -1;
    int bestscore = -9999999;
    int32_t s = m->head;
    for (int i = 0; i < k && s >= 0; i++, s = m->pool[s].older) {
        const maze_wall &w = m->pool[s];
        const int score = std::abs(maze_knightdist(std::abs(w.x - m->x0), std::abs(w.y - m->y0)) ^
                                   maze_knightdist(std::abs(w.x - lx), std::abs(w.y - ly)));
        if (score > bestscore)
            bestscore = score, best = s;
    }
    return best;
}

int maze_openwall(maze *m, int x, int y)
{
    if (x < 0 || x >= m->nx - 1 || y < 0 || y >= m->ny - 1)
        return 0;
    const bool xodd = x & 1, yodd = y & 1;
    if (xodd == yodd)
        return 0; // a room or a pillar
    const int ax = xodd ? x - 1 : x, ay = xodd ? y : y - 1;
    const int bx = xodd ? x + 1 : x, by = xodd ? y : y + 1;
    const uint8_t a = maze_cell(m, ax, ay), b = maze_cell(m, bx, by);
    if (a == b)
        return 0;
    maze_set(m, x, y, maze_open);
    if (b == maze_closed)
        maze_addcell(m, bx, by);
    else
        maze_addcell(m, ax, ay);
    return 1;
}

int maze_mirrors(const maze *m, uint32_t sym, int x, int y, int out[6][2])
{
    const int nx = m->nx, ny = m->ny;
    int n = 0;
    auto add = [&](int a, int b) { out[n][0] = a, out[n][1] = b, n++; };
    if (sym & 0x1)
        add(nx - x, y);
    if (sym & 0x2)
        add(x, ny - y);
    if ((sym & 0x3) == 0x3)
        add(nx - x, ny - y);
    if (sym & 0x4)
        add(nx + y - ny, ny - x);
    if (sym & 0x8)
        add(nx - x, ny - y);
    if ((sym & 0xc) == 0xc)
        add(ny - y, x);
    return n;
}

int maze_begin(maze *m, int nx, int ny)
{
    maze_free(m);
    if (nx < 2 || ny < 2 || nx > maze_maxside || ny > maze_maxside || (nx & 1) || (ny & 1)) {
        sys_log("maze_generate: size %dx%d must be even and 2..%d", nx, ny, maze_maxside);
        return 0;
    }
    m->nx = nx, m->ny = ny;
    m->capacity = (int64_t)nx * ny / 2;
    sys_log("allocating %dx%d maze walls buffer num=%lld", nx, ny, (long long)m->capacity);
    m->cells = (uint8_t *)calloc((size_t)nx * (size_t)ny, 1);
    if (!m->cells) {
        sys_error("maze_generate: failed to allocate maze buffer!");
        maze_free(m);
        return 0;
    }
    m->pool = (maze_wall *)calloc((size_t)m->capacity, sizeof(maze_wall));
    if (!m->pool) {
        sys_error("maze_generate: failed to allocate fontier walls linked list pool!");
        maze_free(m);
        return 0;
    }
    return 1;
}

int maze_generate(maze *m, int nx, int ny, float variance, uint32_t symmetry)
{
    maze_free(m);
    if (!(variance >= 0.0f) || !std::isfinite(variance)) {
        sys_log("maze_generate: variance %f must be 0 or more", variance);
        return 0;
    }
    if (!maze_begin(m, nx, ny))
        return 0;
    m->x0 = (nx / 2) & ~1, m->y0 = (ny / 2) & ~1;
    sys_log("starting point = %d,%d", m->x0, m->y0);
    maze_addcell(m, m->x0, m->y0);
    int lx = 0, ly = 0;
    const int k = (int)std::fmin(std::floor(std::sqrt((double)variance + 1.0)), 2147483647.0);
    int pending[6][2], npending = 0;
    while (m->live > 0 || npending > 0) {
        if (npending == 0) {
            const int32_t s = maze_pickwall(m, k, lx, ly);
            if (s < 0) {
                sys_log("maze_generate: best wall not found!");
                break;
            }
            const int x = m->pool[s].x, y = m->pool[s].y;
            maze_unlink(m, s);
            npending = maze_mirrors(m, symmetry, x, y, pending);
            if (maze_openwall(m, x, y) && npending == 3)
                lx = x, ly = y;
            continue;
        }
        npending--;
        const int x = pending[npending][0], y = pending[npending][1];
        if (maze_openwall(m, x, y) && npending == 3)
            lx = x, ly = y;
    }
    sys_log("peak maze walls = %lld", (long long)m->peak);
    free(m->pool);
    m->pool = nullptr;
    return 1;
}

void maze_free(maze *m)
{
    free(m->cells);
    free(m->pool);
    *m = maze{};
}
