// The platform's modal dialogs as the program calls them: message boxes, the
// colour picker, the save and open file dialogs and opening documents,
// folders and web pages. Each blocks its calling thread until answered and
// logs what it did; texts in and out are UTF-8.
#pragma once
#include <cstdint>

constexpr int sys_dialogpathmax = 1024;
constexpr int sys_customcolorcount = 16;

// The last chosen path of each file dialog, empty until the first choice. A
// dialog proposes it as the file name and writes the new choice into it.
extern char file_lastsavepath[sys_dialogpathmax];
extern char file_lastopenpath[sys_dialogpathmax];
// The custom colours of the picker, filled from the configuration on its
// first use in the run and kept; the last two stay black. zenity's chooser
// brings its own palette and takes none, so on Linux they are only kept.
extern uint8_t sys_customcolors[sys_customcolorcount][3];

// Button set 0 OK, 1 OK/Cancel, 2 Yes/No; icon 3 information, 4 warning,
// 5 question, 6 error; default button 0..3. Returns 1 for OK or Yes.
int sys_messagebox(const char *caption, const char *text, int buttons, int icon, int defbutton);
// Asks before opening url in the web browser; the shell's result, 0 on No.
int sys_openurl(const char *url);
// Lets the user pick a colour starting at color; 1 with the choice written
// back, 0 when cancelled.
int sys_choosecolor(uint8_t color[3]);
// Fills sys_customcolors from the fourteen configuration colours.
void sys_fillcustomcolors();
// Filters are pairs of description and pattern list ("*.nc;*.cnc"), each
// ended by a NUL, the whole list by a second NUL. Non-zero when a path was
// chosen; it is then in file_lastsavepath / file_lastopenpath.
int file_savedialog(const char *title, const char *folder, const char *filter, const char *defext);
int file_opendialog(const char *title, const char *folder, const char *filter);
// Opens the formatted path, document name or URL with its associated
// application; relative names resolve against the program folder. 1 when
// opened, 0 when the platform refused.
int sys_shellexecute(const char *format, ...) __attribute__((format(printf, 1, 2)));
