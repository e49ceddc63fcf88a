// The platform's modal message box. Button sets: 0 OK, 1 OK/Cancel, 2 Yes/No.
// Icon kinds: 3 information, 4 warning, 5 question, 6 error. Default button
// 0..3 is the button that Return picks. SDL draws the box; where it cannot
// (an X server without core fonts has no font for it) zenity shows it.
#pragma once
#include <string>
#include <vector>

constexpr int plat_msgboxwrap = 100; // characters a line of a box's text at most

// Blocks until answered; 1 for OK or Yes, 0 for anything else (Cancel, No,
// the box closed, or no box could be shown: logged and told on stderr). With
// KERFMILL_MSGBOX_ANSWERS set no box is shown: the next listed answer ("ok",
// "cancel", "yes", "no") is taken and logged with the caption and text.
int plat_messagebox(const char *caption, const char *text, int buttons, int icon, int defbutton);

// text with its lines broken at blanks so none is longer than width
// characters (UTF-8 sequences count once); a word longer than a line is cut.
// Line breaks of the text stay, indentation at a paragraph's start too.
std::string plat_wraptext(const char *text, int width = plat_msgboxwrap);

// The zenity command line of a box; text is shown as given, without markup.
std::vector<std::string> plat_msgboxargs(const char *caption, const char *text, int buttons, int icon,
                                         int defbutton);
// Shows the box through zenity: 1 with *answer set (1 OK or Yes, 0 anything
// else), or 0 when zenity could not show it, with the reason in *why.
int plat_zenitybox(const char *caption, const char *text, int buttons, int icon, int defbutton, int *answer,
                   std::string *why);
