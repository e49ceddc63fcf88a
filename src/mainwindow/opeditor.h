// The operation editor's state that other panels set: the tool its
// operation cuts with. The tool editor's Apply and the tool library's Load
// point it at the tool they just wrote, so a new operation starts with it.
#pragma once
#include <cstdint>

// Project tool number 1..10, 0 none.
inline int32_t opeditor_tool = 0;
