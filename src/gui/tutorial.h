// The running tutorial as the element model sees it: which step is current,
// the element name that step asks for, the match of a named element against
// it and the step change. Loading the scripts belongs to the tutorials
// dialog; until it exists a tutorial is set up by filling these records.
#pragma once
#include <cstdint>

constexpr int tut_maxsteps = 256;
constexpr int tut_maxname = 128; // a formatted element name, terminator included

struct tut_step {
    char *text1;
    char *text2;
    char *image;
    char *element; // the element name the step asks for; null none
};

struct tut_script {
    char *name;
    char *description;
    char *project;
    tut_step steps[tut_maxsteps];
    int32_t stepcount;
};

extern tut_script *tut_scripts;
extern int32_t tut_count;
extern int32_t tut_current;   // running tutorial, -1 none
extern int32_t tut_stepindex;
extern int32_t tut_stepcount;
extern int32_t tut_hit;       // the element just named is the step's
extern int32_t tut_highlightseen; // some element matched in this frame

// Frees every tutorial record with its strings (sys_malloc blocks); the
// tutorials dialog reloads them from the scripts.
void tut_freeall();
// Makes step n current, held to the tutorial's steps.
void gui_tutorialstep(int n);
// The match of a named element, run by gui_elementid with the formatted name.
void tut_match(const char *formatted);
// 1 when a tutorial runs and its current step names an element.
int tut_wantsname();
