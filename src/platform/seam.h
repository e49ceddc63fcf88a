// Test seams: environment variables that answer blocking dialogs in turn, so
// tests and CI never wait for a person. Each variable holds a list; call n
// takes entry n, and the last entry repeats once the list runs out.
#pragma once

// Copies the answer for the next call of the named seam into out and returns
// 1, or returns 0 when the variable is not set (show the real dialog).
// Entries are split at sep. Each seam counts its own calls.
int plat_seamnext(const char *var, char sep, char *out, int cap);

// Forgets how many answers each seam has given (tests start afresh).
void plat_seamreset();
