// The project file ".kfm" (also the automatic backup): project_write builds
// the header blocks and the FSE-coded body in a message buffer of its own
// (projectwrite.h) and writes it through a temporary file; project_load
// (project.h) reads a file into staging (projectread.h, projectmigrate.h),
// checks every block and section, readies what the install needs
// (projectinstall.h), and only then replaces the open project. The header
// layout constants are shared with the tests.
#pragma once
#include <cstdint>

constexpr uint32_t projfile_magic = 0x5A17C3E9;
constexpr int32_t projfile_version = 44;
constexpr int32_t projfile_headerbytes = 12206; // blocks 1 to 21 of the current version
constexpr uint32_t projfile_rawbody = 0x80000000u; // size word bit: the body follows uncoded
constexpr int32_t projfile_maxbytes = 0x7FFFFFFF;

// Header blocks: the first file version that carries each, and its size.
struct projfile_block {
    int32_t from;
    int32_t size;
};
constexpr int projfile_blockcount = 21;
extern const projfile_block projfile_blocks[projfile_blockcount];

// Saves the project to path (".kfm" appended when the path holds ".kfm"
// nowhere, in any case); elapsed gets the seconds taken. The bytes written, or
// 0 on failure (logged), with any previous file at path left whole: among
// the failures a toolpath slot whose blocks exceed the file's 32-bit sizes.
// Runs as the save job; the caller has set project_savebusy.
int32_t project_write(const char *path, double *elapsed);
