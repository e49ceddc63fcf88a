// Maze growth: knight distances against a breadth-first search, the pick
// among the newest walls, the mirror positions and the walls that are left
// alone, and whole mazes judged by networkx as one tree over every room,
// with and without each symmetry bit.
#include "cam/maze.h"

#include "testchild.h"
#include "testlog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <fstream>
#include <string>
#include <vector>

namespace {
// Knight moves from (0, 0) to every square of a board wide enough that its
// edge never shortens a path to a, b <= 20.
std::vector<std::vector<int>> knightbfs(int reach)
{
    const int off = 8, side = reach + 2 * off;
    std::vector<std::vector<int>> d(side, std::vector<int>(side, -1));
    std::deque<std::pair<int, int>> q{{off, off}};
    d[off][off] = 0;
    const int jumps[8][2] = {{1, 2}, {2, 1}, {-1, 2}, {-2, 1}, {1, -2}, {2, -1}, {-1, -2}, {-2, -1}};
    while (!q.empty()) {
        auto [x, y] = q.front();
        q.pop_front();
        for (auto &j : jumps) {
            const int a = x + j[0], b = y + j[1];
            if (a >= 0 && b >= 0 && a < side && b < side && d[a][b] < 0) {
                d[a][b] = d[x][y] + 1;
                q.push_back({a, b});
            }
        }
    }
    std::vector<std::vector<int>> out(reach + 1, std::vector<int>(reach + 1));
    for (int a = 0; a <= reach; a++)
        for (int b = 0; b <= reach; b++)
            out[a][b] = d[a + off][b + off];
    return out;
}

std::vector<std::string> networkxverdict(const std::vector<maze> &mazes)
{
    std::ostringstream f(std::ios::binary);
    for (const maze &m : mazes) {
        f << m.nx << " " << m.ny << "\n";
        f.write((const char *)m.cells, (std::streamsize)m.nx * m.ny);
    }
    return testchild_ask("cam/maze_networkx.py", f.str());
}
} // namespace

TEST(Maze, KnightDistanceMatchesABreadthFirstSearch)
{
    struct Case {
        int a, b, moves;
    };
    const Case cases[] = {{1, 0, 3}, {2, 2, 4}, {0, 0, 0}, {4, 0, 2}};
    for (const Case &c : cases)
        EXPECT_EQ(maze_knightdist(c.a, c.b), c.moves) << c.a << "," << c.b;
    const auto bfs = knightbfs(20);
    for (int a = 0; a <= 20; a++)
        for (int b = 0; b <= 20; b++)
            ASSERT_EQ(maze_knightdist(a, b), bfs[a][b]) << a << "," << b;
}

TEST(Maze, PickTakesTheNewestWallWithoutVariance)
{
    testlog_capture quiet;
    maze m;
    ASSERT_EQ(maze_begin(&m, 16, 16), 1);
    m.x0 = m.y0 = 8;
    const int walls[4][2] = {{3, 8}, {8, 5}, {13, 2}, {8, 11}};
    for (auto &w : walls)
        maze_addwall(&m, w[0], w[1]);
    int32_t s = maze_pickwall(&m, 1, 0, 0);
    ASSERT_GE(s, 0);
    EXPECT_EQ(m.pool[s].x, 8);
    EXPECT_EQ(m.pool[s].y, 11) << "k = 1 takes the wall added last";
    // Over all four, the score |kd(to 8,8) ^ kd(to 0,0)| decides; ties go to the newer.
    const auto kd = knightbfs(20);
    int best = -1, want = -1;
    for (int i = 3; i >= 0; i--) {
        const int score = kd[std::abs(walls[i][0] - 8)][std::abs(walls[i][1] - 8)] ^ kd[walls[i][0]][walls[i][1]];
        if (score > best)
            best = score, want = i;
    }
    s = maze_pickwall(&m, 4, 0, 0);
    ASSERT_GE(s, 0);
    EXPECT_EQ(m.pool[s].x, walls[want][0]);
    EXPECT_EQ(m.pool[s].y, walls[want][1]);
    maze_free(&m);
}

TEST(Maze, MirrorXTriesTheOppositeWallAndSkipsWhatCannotOpen)
{
    testlog_capture quiet;
    maze m;
    ASSERT_EQ(maze_begin(&m, 8, 6), 1);
    int out[6][2];
    ASSERT_EQ(maze_mirrors(&m, 0x1, 3, 2, out), 1);
    EXPECT_EQ(out[0][0], 5);
    EXPECT_EQ(out[0][1], 2);
    ASSERT_EQ(maze_mirrors(&m, 0x1, 0, 1, out), 1);
    EXPECT_EQ(out[0][0], 8) << "mirror of the first column lies outside the grid";

    maze_addcell(&m, 2, 2); // one visited room
    struct Case {
        const char *what;
        int x, y, opens;
    };
    const Case cases[] = {
        {"outside the grid", 8, 1, 0}, {"negative", -1, 2, 0},   {"a room", 4, 2, 0},
        {"a pillar", 3, 3, 0},         {"both rooms unvisited", 5, 2, 0},
        {"between visited and unvisited", 3, 2, 1},
        {"both rooms visited now", 3, 2, 0},
    };
    for (const Case &c : cases) {
        const uint8_t before = (c.x >= 0 && c.x < 8) ? maze_cell(&m, c.x, c.y) : 0;
        EXPECT_EQ(maze_openwall(&m, c.x, c.y), c.opens) << c.what;
        if (c.opens) {
            EXPECT_EQ(maze_cell(&m, c.x, c.y), maze_open) << c.what;
            EXPECT_EQ(maze_cell(&m, 4, 2), maze_open) << c.what << ": the unvisited room is visited";
        } else if (c.x >= 0 && c.x < 8) {
            EXPECT_EQ(maze_cell(&m, c.x, c.y), before) << c.what;
        }
    }
    maze_free(&m);
}

TEST(Maze, OpenCellsFormOneTreeOverTheRooms)
{
    struct Case {
        int nx, ny;
        float variance;
        uint32_t symmetry;
    };
    const Case cases[] = {
        {2, 2, 0, 0},       {40, 30, 0, 0},     {40, 30, 20, 0},   {40, 30, 5, 0x1},
        {40, 30, 5, 0x2},   {40, 30, 5, 0x3},   {40, 40, 5, 0x4},  {40, 30, 5, 0x8},
        {40, 40, 5, 0xc},   {36, 36, 9, 0xf},
    };
    testlog_capture quiet;
    std::vector<maze> mazes(std::size(cases));
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case &c = cases[i];
        ASSERT_EQ(maze_generate(&mazes[i], c.nx, c.ny, c.variance, c.symmetry), 1);
        maze again;
        ASSERT_EQ(maze_generate(&again, c.nx, c.ny, c.variance, c.symmetry), 1);
        EXPECT_EQ(memcmp(mazes[i].cells, again.cells, (size_t)c.nx * c.ny), 0) << "the same input grows the same maze";
        maze_free(&again);
    }
    const std::vector<std::string> v = networkxverdict(mazes);
    ASSERT_FALSE(v.empty()) << "/usr/bin/python3 tests/cam/maze_networkx.py failed (needs python3-networkx)";
    size_t at = 0;
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case &c = cases[i];
        std::vector<std::string> faults;
        for (; at < v.size() && v[at].rfind("rooms ", 0) != 0; at++)
            faults.push_back(v[at]);
        ASSERT_LT(at, v.size()) << "no verdict for maze " << i;
        EXPECT_EQ(v[at], "rooms " + std::to_string((c.nx / 2) * (c.ny / 2)));
        EXPECT_TRUE(faults.empty()) << c.nx << "x" << c.ny << " symmetry " << c.symmetry << ": " << faults[0];
        at++;
        maze_free(&mazes[i]);
    }
}

TEST(Maze, RefusesSizesTheCellArithmeticCannotTake)
{
    struct Case {
        int nx, ny;
        float variance;
    };
    const Case cases[] = {{0, 8, 0}, {8, 0, 0}, {1, 8, 0}, {65536, 8, 0}, {8, 65536, 0}, {7, 8, 0}, {8, 8, -1}};
    for (const Case &c : cases) {
        testlog_capture log;
        maze m;
        EXPECT_EQ(maze_generate(&m, c.nx, c.ny, c.variance, 0), 0) << c.nx << "x" << c.ny;
        EXPECT_EQ(m.cells, nullptr);
        EXPECT_EQ(log.count("maze_generate:"), 1);
    }
}
