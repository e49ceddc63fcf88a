// Until the toolbar is built its strip stays empty.
#include "mainwindow/toolbar.h"

#include "gui/sector.h"

void toolbar_draw()
{
    gui_popframe(0);
}
