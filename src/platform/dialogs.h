// The file and colour dialogs on Linux: zenity run as a child process (see
// shell.h), so the program's own current directory never changes. The
// argument vectors are built by plain functions so they can be checked as
// data. Test seams: KERFMILL_DIALOG_PATHS answers file dialogs and
// KERFMILL_COLOR_ANSWERS the colour picker; neither shows anything.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What a file dialog is asked. Texts are UTF-8 and may be null. The filter is
// pairs of description and pattern list ("*.nc;*.cnc"), each text ended by a
// NUL and the whole list by a second NUL.
struct plat_filerequest {
    int save;
    const char *title;
    const char *folder; // initial folder
    const char *filter;
    const char *defext; // save only: appended to a chosen name without one
};

// zenity's --file-filter arguments for a filter list: "Description | *.a *.b".
std::vector<std::string> plat_filefilters(const char *filter);
// The zenity command line of a file dialog proposing lastpath.
std::vector<std::string> plat_filedialogargs(const plat_filerequest &req, const char *lastpath);
// Shows the dialog with path (capacity cap) as the proposed name. Returns 1
// with the chosen path in path, or 0 with path unchanged and *error set to 0
// for a cancel (zenity missing counts as one) or 1 when the dialog failed.
int plat_filedialog(const plat_filerequest &req, char *path, int cap, int *error);

// The zenity command line of the colour picker starting at rgb.
std::vector<std::string> plat_colorargs(const uint8_t rgb[3]);
// Reads "rgb(r,g,b)", "rgba(r,g,b,a)" or "#rrggbb"; 1 when well formed.
int plat_parsecolor(const char *text, uint8_t rgb[3]);
// Shows the colour picker; 1 with the choice written to rgb, 0 when cancelled.
int plat_choosecolor(uint8_t rgb[3]);
