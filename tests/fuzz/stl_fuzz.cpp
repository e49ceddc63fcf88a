// Fuzz target of the STL model reader; the checks are in modelfuzz.h.
#include "modelfuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    modelfuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    modelfuzz_load("fuzz.stl", data, size);
    return 0;
}
