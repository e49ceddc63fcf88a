// Test helper: the thirty data fonts in load order, by the names of their
// sheets. The data-font tests check both the shipped sheets and the slots
// font_init fills against this one list.
#pragma once
#include "render/font.h"

inline const char *const fonttest_names[font_count] = {
    "System",      "Fixedsys",        "Source Code", "Courier",    "Latha",      "Tahoma",
    "Verdana",     "Ocr A",           "IBM",         "KaiTi",      "Comfort",    "Cafe",
    "BlackSans",   "Thaiseri",        "CallingCode", "Latha Big",  "Tahoma Big", "Verdana Big",
    "OCR A Big",   "Electrolize Big", "Aldrich Big", "Icons",      "Icons Big",  "Icons Huge",
    "Icons2",      "Icons2 Big",      "Icons2 Huge", "Icons3",     "Icons3 Big", "Icons3 Huge",
};
