// The platform's modal dialogs as the program calls them: each blocks its
// calling thread until answered and logs what it did.
#pragma once

// Button set 0 OK, 1 OK/Cancel, 2 Yes/No; icon 3 information, 4 warning,
// 5 question, 6 error; default button 0..3. Returns 1 for OK or Yes.
int sys_messagebox(const char *caption, const char *text, int buttons, int icon, int defbutton);
