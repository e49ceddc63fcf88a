// G-code output: the post-processor variables. A post-processor is a script
// that sets these named variables; the output engine addresses them by their
// fixed position in this table, so the order of registration is part of the
// file format of every post-processor.
#pragma once

constexpr int cnc_postvarcount = 105;

extern const char *const cnc_postvarnames[cnc_postvarcount];
// Variable ids of the post-processor variables, in the order of the names.
extern int postvars[cnc_postvarcount];

// The "cnc..." start: registers every post-processor variable. 0 when the
// variable table refused one (reported by the table).
int cnc_init();
