// The operations mode's panel: New Operation, the list of the project's ten
// operation entries with their move, include, show and remove buttons, and
// the Operation Type chooser (dialog 22) that New Operation and the editor's
// type button open. Selecting or creating an operation loads the operation
// editor's working copy (mainwindow/opeditor.h); the editor itself draws in
// the right column.
#pragma once
#include <cstdint>

constexpr int32_t operations_typedialog = 22;

// Icons of the operation types 0..17.
extern const int operations_typeicons[18];

// The three categories of the chooser: element name, label and the types
// they hold in their order (0 ends a list).
struct operations_category {
    const char *name, *label;
    int types[8];
};
extern const operations_category operations_categories[3];
// The category holding type t, 0 for a type in none.
int operations_categoryof(int t);

// The tool a new operation starts with: the remembered tool when it is
// defined, else the first defined tool 1..10, else the remembered one.
int operations_newtool(int remembered);
// A new operation's depths: the depth of cut is at most the tool's flute
// length in project units, the maximum depth at most the canvas depth;
// each is snapped to the step the project's units show.
float operations_newcutdepth(int tool, float remembered);
float operations_newmaxdepth(float remembered);
// The step lengths are snapped to: 0.001 inch, 0.1 mm, 1 without units.
float operations_unitstep(int32_t units);

// The panel's actions, each as its button does it.
void operations_new();
void operations_select(int index);
// Chooses a type in dialog 22 for the edited operation and closes it.
void operations_choosetype(int type);
// Cancel of dialog 22, and its closing when the mode leaves operations.
void operations_canceltype();

// The panel function of operations mode and the body of dialog 22.
void operations_panel();
void operations_typechooser();
