// The status strip along the bottom of the main window. The pass hands it
// the strip's cell on top of the sector stack.
#pragma once

// Takes the top sector of the stack as the strip and pops exactly it; fps is
// the frame rate of the last second.
void statusline_draw(int fps);
