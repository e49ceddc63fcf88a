// Until the menus are built the menu row stays empty.
#include "mainwindow/menus.h"

#include "gui/sector.h"

void menus_draw()
{
    gui_popframe(0);
}
