// The operation writer: the blocks that set the machine up for an operation,
// then its compiled moves replayed once for each cell of a grid of
// repetitions, so that several copies of a project are cut from one sheet.
// Rows are visited in a serpentine, so the move over from one copy to the
// next is always a short one.
#include "cam/writeop.h"

#include "cam/cam.h"
#include "cam/cnc.h"
#include "cam/compile.h"
#include "cam/toolpath.h"
#include "sys/log.h"

#include <bit>
#include <climits>
#include <cmath>

// The machine's moves of one operation, read from its toolpath slot.
struct writeop_moves {
    const move *moves;
    uint32_t num_moves, sz_moves;
    const float *parms;
    uint32_t num_parms, sz_parms;
};

// The moves of the record's slot; empty when it has none.
static writeop_moves writeop_getmoves(const camop &rec)
{
    writeop_moves m = {nullptr, 0, 0, nullptr, 0, 0};
    int slot = rec.toolpath;
    if (slot < 0 || slot >= toolpath_maxslots || !toolpaths[slot].moves || !toolpaths[slot].parms)
        return m;
    const toolpath &tp = toolpaths[slot];
    m.moves = tp.moves;
    m.num_moves = tp.num_moves;
    m.sz_moves = tp.sz_moves;
    m.parms = tp.parms;
    m.num_parms = tp.num_parms;
    m.sz_parms = tp.sz_parms;
    return m;
}

// The tool change, only for a tool other than the last one.
static void writeop_tool(int tool)
{
    sys_debuglog("printing tool change command...");
    if (tool == cncout.lasttool)
        return;
    cncout.lasttool = tool;
    if (cncout.usetoolchange)
        cnc_coolanttool(tool);
}

// The coolant block is written for every operation, even when the state
// did not change: an operator may have switched coolant by hand meanwhile.
static void writeop_coolant(int coolant)
{
    sys_debuglog("printing coolant command...");
    if (!cncout.usecoolant || !cncout.coolant)
        return;
    const char *word = coolant == 2 ? "MIST" : coolant == 3 ? "FLOOD" : "OFF";
    cncout.coolant = coolant == 2 || coolant == 3 ? coolant : 1;
    cnc_comment(" Coolant: %s ", word);
    cnc_varline();
}

// The record's setup blocks: comment, tool change, spindle and coolant.
static void writeop_setup(const char *comment, const camop &rec)
{
    sys_debuglog("printing operation comment...");
    cnc_comment("%s", comment ? comment : "");
    writeop_tool(rec.tool);
    sys_debuglog("printing spindle command...");
    cnc_spindle(1, rec.speed);
    writeop_coolant(rec.coolant);
}

// The point and second point moves track, in project units.
struct writeop_cursor {
    float point[3];
    float second[3];
};

// Reads one move point's floats at p into the cursor, relative to base:
// the axes the code gives, then the second point of an arc code, which
// takes the axis it does not give from the point just built.
static void writeop_readpoint(writeop_cursor &c, uint32_t code, const float *p, const float base[3])
{
    for (int a = 0; a < 3; a++)
        if (code & (1u << a))
            c.point[a] = base[a] + *p++;
    // The planes of 0x08, 0x10 and 0x20: XY, XZ, YZ.
    static const int planes[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (int k = 0; k < 3; k++) {
        if (!(code & (move_xy2 << k)))
            continue;
        for (int a = 0; a < 3; a++)
            c.second[a] = c.point[a];
        c.second[planes[k][0]] = base[planes[k][0]] + p[0];
        c.second[planes[k][1]] = base[planes[k][1]] + p[1];
        p += 2;
    }
}

// Floats one point of a code takes in the parameter array.
static uint32_t writeop_floats(uint32_t code)
{
    return (uint32_t)std::popcount(code & 7u) + 2u * (uint32_t)std::popcount(code & (move_xy2 | move_xz2 | move_yz2));
}

// Writes the points of one run. Only the axes a point gives are handed to
// the engine: the first rapid of a repetition lifts Z over the previous
// copy's last XY, and an axis whose position the engine does not know (at
// the start, after a tool change) is never written from a guess.
static void writeop_point(const writeop_cursor &c, const move &mv, const camop &rec)
{
    float at[3] = {c.point[0], c.point[1], c.point[2]};
    uint32_t axes = mv.code & 7u;
    if (mv.kind == move_rapid)
        cnc_rapid(at, axes);
    else if (mv.kind == move_feed)
        cnc_linear(at, (float)(mv.code & move_engage ? rec.engagefeed : rec.feed), axes);
    // Kinds 3 and 4 are arcs: tracked, but no arc output exists.
}

// Replays every move once at base (the slot was checked whole before):
// the number of points processed.
static int64_t writeop_replay(const writeop_moves &m, const camop &rec, const float base[3], writeop_cursor &c)
{
    int64_t points = 0;
    const float *p = m.parms;
    for (uint32_t i = 0; i < m.num_moves; i++) {
        const move &mv = m.moves[i];
        uint32_t n = writeop_floats(mv.code);
        for (uint32_t k = 0; k < mv.count; k++, p += n) {
            writeop_readpoint(c, mv.code, p, base);
            writeop_point(c, mv, rec);
            points++;
        }
    }
    return points;
}

// Whether every point's floats lie within the slot and are finite: a slot
// read from a damaged file must not send the machine to a made-up place, nor
// leave half an operation in the program.
static int writeop_checkmoves(const writeop_moves &m, int slot)
{
    if (m.num_moves > m.sz_moves || m.num_parms > m.sz_parms) {
        sys_log("cam_writeoperation: toolpath%d holds more moves or parms than it has room for", slot);
        return 0;
    }
    uint64_t at = 0;
    for (uint32_t i = 0; i < m.num_moves; i++) {
        uint32_t n = writeop_floats(m.moves[i].code);
        if (n == 0) {
            sys_log("cam_writeoperation: toolpath%d move %u gives no coordinate", slot, i);
            return 0;
        }
        uint64_t need = (uint64_t)n * m.moves[i].count;
        if (need > m.num_parms - at) {
            sys_log("cam_writeoperation: toolpath%d moves need more than its %u parms", slot, m.num_parms);
            return 0;
        }
        at += need;
    }
    for (uint64_t k = 0; k < at; k++)
        if (!std::isfinite(m.parms[k])) {
            sys_log("cam_writeoperation: toolpath%d parm %llu is not finite", slot, (unsigned long long)k);
            return 0;
        }
    return 1;
}

// Refuses what cannot be written: 1 when the record can go out.
static int writeop_check(int op, const float offset[3], const float spacing[2])
{
    if (!cncout.text) {
        sys_log("cam_writeoperation: no program is open");
        return 0;
    }
    if (op < 0 || op >= cam_maxops || cam_ops[op].type == 0) {
        sys_log("cam_writeoperation: no operation in record %d", op);
        return 0;
    }
    // A generator still writes the slot; its moves are not complete.
    if (cam_ops[op].generating.load(std::memory_order_acquire)) {
        sys_log("cam_writeoperation: op%d is still generating", op);
        return 0;
    }
    for (int a = 0; a < 3; a++)
        if (!std::isfinite(offset[a]) || (a < 2 && !std::isfinite(spacing[a]))) {
            sys_log("cam_writeoperation: offset %f,%f,%f or spacing %f,%f is not finite", offset[0], offset[1],
                    offset[2], spacing[0], spacing[1]);
            return 0;
        }
    return writeop_checkmoves(writeop_getmoves(cam_ops[op]), cam_ops[op].toolpath);
}

int cam_writeoperation(const char *comment, int op, const float offset[3], const int grid[2], const float spacing[2],
                       float pos[3], float second[3])
{
    if (!writeop_check(op, offset, spacing))
        return -1;
    const camop &rec = cam_ops[op];
    writeop_setup(comment, rec);
    int columns = grid[0], rows = grid[1];
    sys_log("cam_writeoperation: op%d, tool%d, spindle%d, coolant%d (offs:%.3f,%.3f,%.3f grid:%dx%d "
            "scale:%.4fx%.4f)",
            op, rec.tool, rec.speed, rec.coolant, offset[0], offset[1], offset[2], columns, rows, spacing[0],
            spacing[1]);
    writeop_moves m = writeop_getmoves(rec);
    // Without moves there is nothing to repeat: not even the comments.
    if (rows < 1 || m.num_moves == 0)
        return 0;
    writeop_cursor c;
    int64_t total = 0;
    for (int r = 0; r < rows; r++)
        for (int k = 1; k <= columns; k++) {
            int column = r % 2 == 0 ? k - 1 : columns - k;
            float x = (float)column * spacing[0], y = (float)r * spacing[1];
            if (columns > 1 || rows > 1)
                cnc_comment(k, r + 1, x, y);
            const float base[3] = {offset[0] + x, offset[1] + y, offset[2]};
            for (int a = 0; a < 3; a++) {
                c.point[a] = pos[a];
                c.second[a] = second[a];
            }
            total += writeop_replay(m, rec, base, c);
            for (int a = 0; a < 3; a++) {
                pos[a] = c.point[a];
                second[a] = c.second[a];
            }
        }
    return total > INT_MAX ? INT_MAX : (int)total;
}
