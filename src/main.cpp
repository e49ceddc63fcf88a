// The program's entry: the main window is aimed at, then everything happens
// in sys_main.
#include "mainwindow/mainwindow.h"
#include "sys/main.h"

int main(int argc, char **argv)
{
    mainwindow_start();
    return sys_main(argc, argv);
}
