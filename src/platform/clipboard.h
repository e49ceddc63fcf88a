// The clipboard: SDL's while the video subsystem runs, else a store inside
// the process, so copying works the same in a headless run and its text can
// be read back.
#pragma once

// 1 when the text was stored; a failure is logged with SDL's reason.
int plat_setclipboard(const char *text);
// Copies the clipboard text into out (cap bytes, always terminated); the
// length copied, 0 when the clipboard is empty or unreadable.
int plat_getclipboard(char *out, int cap);
