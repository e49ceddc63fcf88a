// X protocol errors as logged failures. Xlib's own handler ends the whole
// process on any error, and a request about a window that another
// connection has just destroyed (a closing message box) is enough for that:
// the program would vanish with unsaved work over a harmless race.
#pragma once

// Installs the logging handler when the X11 client library is loaded (SDL's
// x11 video driver); nothing on other drivers. 1 when installed.
int plat_xerrors();
