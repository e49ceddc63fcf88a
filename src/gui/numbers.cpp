// Fractional parts are tested against single-precision 0.0001 widened to
// double: the values come from float fields, and that threshold keeps a
// float's representation error from asking for extra places. Floors are
// taken in double so values far beyond the 32-bit range cannot overflow.
#include "gui/numbers.h"

#include <cmath>

static const double gui_fracthreshold = (double)0.0001f;

struct gui_unitrule {
    double step; // rounding step
    int32_t most; // most decimals shown
};
static const gui_unitrule gui_unitrules[gui_unitcount] = {{1.0, 0}, {0.0001, 4}, {0.01, 2}};

static const float gui_ladder[] = {1.0f, 1.25f, 2.0f, 2.5f, 5.0f, 10.0f};
static const float gui_ladderup[] = {1.25f, 2.0f, 2.5f, 5.0f, 10.0f, 10.0f};
static const float gui_ladderdown[] = {1.0f, 1.0f, 1.25f, 2.0f, 2.5f, 5.0f};

static double gui_frac(double x)
{
    return std::fabs(x - std::floor(x));
}

static bool gui_whole(double x)
{
    return gui_frac(x) < gui_fracthreshold;
}

// The fewest places (1 up to most, then 6) whose scaled r is whole. r is
// scaled by ten a step at a time: 1/3, rounded to 0.3333, then scales to
// just below 3333 and so shows with six places like any repeating fraction,
// while 2/3 (0.6667) lands on 6667 and shows with four.
static int32_t gui_places(double r, int32_t most)
{
    double scaled = 10.0 * r;
    if (gui_whole(r) || gui_whole(scaled))
        return 1;
    for (int32_t k = 2; k <= most; k++) {
        scaled *= 10.0;
        if (gui_whole(scaled))
            return k;
    }
    return 6;
}

static double gui_roundto(double value, double step)
{
    return std::fabs(std::floor(value / step + 0.5) * step);
}

int32_t gui_decimals(float value)
{
    return gui_places(gui_roundto(value, 0.001), 5);
}

int32_t gui_unitdecimals(int32_t unit, float value)
{
    if (unit < 0 || unit >= gui_unitcount)
        unit = 0;
    const gui_unitrule &u = gui_unitrules[unit];
    int32_t k = gui_places(gui_roundto(value, u.step), 5);
    return k < u.most ? k : u.most;
}

float gui_nicestep(float value, int32_t up)
{
    for (int i = 0; i < 6; i++)
        if (std::fabs(value - gui_ladder[i]) < 0.1f)
            return up ? gui_ladderup[i] : gui_ladderdown[i];
    return 2.0f;
}

int32_t gui_fielddecimals(double value)
{
    return gui_places(gui_roundto(value, 0.0001), 5);
}
