// Building a project file's bytes in a message buffer (projectwrite.cpp);
// projectfile.cpp writes them to disk.
#pragma once
#include <cstdint>

struct msg_stream;

// The header blocks and the coded body of the open project, from the start
// of m. 0 (logged) when a font cannot be had, a toolpath slot is too large
// for the file's 32-bit block sizes, or the project does not fit the buffer.
int32_t pf_build(msg_stream *m);
