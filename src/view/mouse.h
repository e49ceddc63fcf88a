// The viewport's mouse model and layer picking.
#pragma once

void view_mouse();
