// The menu row of the main window: the "File", "Config" and "Help" heads and
// their lists. The pass hands it the row's cell on top of the sector stack.
#pragma once

// Takes the top sector of the stack as the menu row and pops exactly it.
void menus_draw();
