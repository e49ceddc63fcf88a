// The project file actions that the File menu, the toolbar and the keys
// share: new, open, save, save as, and the opener of the G-code export
// dialog with its working values. Each refuses with a status line while an
// operation generates, since the project file reads and the new project
// frees the toolpath slots the generator is filling.
#pragma once
#include <cstdint>

// 1 while an operation's generator runs.
int fileact_blocked();
// Sets the status that says why the action cannot run now.
void fileact_refuse(const char *action);
// 1 while the project has unsaved changes.
int fileact_unsaved();
// 1 when the project may be dropped: no unsaved changes, or the user
// answered Yes to the unsaved-changes question.
int fileact_mayreplace();

// A new untitled project after the unsaved-changes question; 1 when made.
int fileact_new();
// Asks for a project file and loads it; 1 when loaded.
int fileact_open();
// Saves to the project's own file when it has one, else asks for a path as
// Save As does. 1 when a save was started.
int fileact_save();
int fileact_saveas();

// What the G-code export dialog shows and edits until it writes them back.
struct fileact_exportrecord {
    char postname[256];  // the post-processor's file name without folders
    float repeat[2];     // repetitions X and Y for the sliders
    char spacing[2][32]; // spacing X and Y as the text fields show them
};
extern fileact_exportrecord fileact_export;

// Runs the configured post-processor and opens the export dialog (20); the
// dialog opens even when the post failed, which has reported why.
void fileact_exportgcode();
