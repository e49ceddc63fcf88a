// Installing a staged project file (projectinstall.cpp): made ready while
// the open project still stands, then handed over after the reset.
#pragma once

struct pf_staged;

// Everything of the install that can fail, done before the open project is
// reset: the data fonts' names and bytes, the toolpath slots' records. False
// (logged) when the file cannot be installed; the open project untouched.
bool pf_prepare(pf_staged &st);
// Hands a prepared project over to the reset project; cannot fail.
void pf_install(pf_staged &st);
