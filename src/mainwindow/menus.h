// The menu row: the "File", "Config" and "Help" drop-downs with their list
// windows. Every item acts in the frame of its click; the file flows are in
// fileactions.h and the tool-library file in toollib.h.
#pragma once
#include <cstdint>

// Width of every list window.
constexpr float menus_listwidth = 250.0f;

// Takes the top sector as the menu row, splits it into the three heads and
// pops it; an open head draws its list window.
void menus_draw();

// Openers of the settings dialogs, one per dialog: each loads what its
// dialog edits and opens it.
void menus_openthemes();       // 13 "Predefined Themes"
void menus_openuisettings();   // 8 "UI Settings"
void menus_openviewsettings(); // 9 "View Settings"
void menus_opencamsettings();  // 11 "CNC/CAM Settings"
void menus_opensimsettings();  // 10 "Simulation Settings"

// "Default Configuration" after its question; 1 when reset.
int menus_defaultconfig();
// Reloads the tutorials and opens their dialog (also the toolbar's button).
void menus_opentutorials();
