// The platform's modal message box. Button sets: 0 OK, 1 OK/Cancel, 2 Yes/No.
// Icon kinds: 3 information, 4 warning, 5 question, 6 error. Default button
// 0..3 is the button that Return picks.
#pragma once

// Blocks until answered; 1 for OK or Yes, 0 for anything else (Cancel, No,
// the box closed, or no box could be shown). With KERFMILL_MSGBOX_ANSWERS set
// no box is shown: the next listed answer ("ok", "cancel", "yes", "no") is
// taken and logged with the caption and text.
int plat_messagebox(const char *caption, const char *text, int buttons, int icon, int defbutton);
