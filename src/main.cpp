// The program's entry: everything happens in sys_main.
#include "sys/main.h"

int main(int argc, char **argv)
{
    return sys_main(argc, argv);
}
