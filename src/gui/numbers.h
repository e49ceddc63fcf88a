// How many decimals a number needs on screen, in general and in the
// project's units, and the ladder of round values that step buttons walk.
#pragma once
#include <cstdint>

constexpr int gui_unitcount = 3; // 0 none, 1 inches, 2 metric

// Decimals (1 to 6) needed to show the value to 0.001.
int32_t gui_decimals(float value);
// Decimals (0 to the unit's most) needed to show the value in that unit;
// units outside 0..2 are treated as none.
int32_t gui_unitdecimals(int32_t unit, float value);
// The next value of the ladder 1, 1.25, 2, 2.5, 5, 10 upward (up non-zero)
// or downward; 2 for a value on no rung.
float gui_nicestep(float value, int32_t up);
// Decimals for an evaluated field value: r is the value rounded to 0.0001;
// 1 to 6 places, the fewest that show r exactly.
int32_t gui_fielddecimals(double value);
