// Scripts: plain-text files of statements, one a line, each a variable's name
// and one value token ("//" starts a comment). Post-processors are scripts;
// running one assigns the variables it names and leaves the others as they
// were.
#pragma once
#include <cstdint>

// Scripts and post-processors are short texts; a larger file is refused.
constexpr int32_t script_maxfilebytes = 1048576;

// Runs the post-processor named by the configuration's path. 1 when the
// script ran to its end; 0 when it could not be loaded or a bad value
// aborted it (with an error box naming the file and line).
int script_run();
