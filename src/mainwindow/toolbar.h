// The toolbar strip above the view area. The pass hands it the strip's cell
// on top of the sector stack.
#pragma once

// Takes the top sector of the stack as the strip and pops exactly it.
void toolbar_draw();
