// The main window and its two OpenGL contexts. A hidden probe window checks
// the GL version and the extensions the program needs before the real
// window is made; the workers' context is created first and the window's
// context shares its objects.
#pragma once

// Probes the GL and opens the main window with both contexts, the window's
// context current. 0 on failure; sys_quit is set when the GL is too old.
int sys_openwindow();
// The window's position and size into the configuration unless it is
// maximised (a maximised window keeps the size to restore to); 1 when stored.
int sys_storewindowplace();
// Stores the window state into the configuration (shutdown).
void sys_storewindowstate();
// Destroys the window and both contexts, logging each step.
void sys_closewindow();
