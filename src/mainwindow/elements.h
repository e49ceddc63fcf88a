// The test seam KERFMILL_ELEMENTS: when it names a file, every element of a
// frame is recorded, and at the end of each frame whose list differs from the
// one last written, or a quarter second after the last writing, the file is
// rewritten whole (through a temporary file renamed into place), so a test
// driving the real window finds each named element where it was drawn. The
// first line also holds the pointer's place and buttons as the frame saw
// them.
#pragma once

// Start-up: reads the variable and, when set, starts recording.
void elements_start();
// Records into path from now on (the seam's start, also for tests); the hook
// found in place keeps being called.
void elements_record(const char *path);
// Stops recording and lets the previous hook have the elements alone.
void elements_stop();
// The end of the main window's frame: writes the file when the list changed.
void elements_endframe();
