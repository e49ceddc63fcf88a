// The renderer's common ground: the values start-up reads from the GL, the
// default GL state, the error check that follows nearly every GL step (with
// the caller's label and a one-shot stage text), world/device projection
// through the current matrices, and entry-point and extension look-ups.
#pragma once
#include "render/glfuncs.h"

// Set by start-up from the probe and window contexts; read by the renderer.
extern int gl_version;             // 10 x major + minor, -1 until known
extern char *gl_renderer;          // sys_strdup copies of the GL strings, may be null
extern char *gl_versionstring;
extern char *gl_vendor;
extern char *gl_extensions;        // the old-style blank-separated list
extern int gl_numextensions;       // GL_NUM_EXTENSIONS, read on 3.0 and later
extern int gl_multisample;         // "GL_ARB_multisample" offered
extern int gl_texturefloat;        // "GL_ARB_texture_float" offered
extern float gl_maxanisotropy;     // 0 without anisotropic filtering
extern int gl_maxtexturesize;
extern int gl_maxrenderbuffersize;
extern int gl_framebuffers;        // framebuffer objects usable

// Stage text of the running drawing pass: printed with the next GL error
// reported, then cleared.
extern const char *r_errorinfo;

// 10 x major + minor from a GL version string ("4.5 (...)" gives 45); -1
// without a string or when it does not start "digit.digit".
int gl_versionnumber(const char *versionstring);
// 1 when the renderer string names one of Mesa's software rasterisers,
// which draw every pixel on the processor.
int gl_softwarerenderer(const char *renderer);

void r_defaultstate();
// Reads one GL error; 0 when none (the label is then not even formatted),
// else reports it with the label made from format and returns the code.
int r_checkerror(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Reports a GL error code with its label: the stage text first when one is
// set, then the error line through sys_error; clears the stage text.
void r_reporterror(int code, const char *label);

// World point to device coordinates through projection x modelview, and
// back; the perspective setting decides the divide by w. Points are three
// floats; out is returned.
float *r_project(float *out, const float *in);
float *r_unproject(float *out, const float *in);

// Address of a GL function by name, or null; both cases are logged.
void *gl_findextension(const char *name);
// 1 when the GL offers the extension: whole indexed names from GL 3.0 on,
// a substring of the extension string below.
int gl_loadextensions(const char *name);
// 1 when name occurs anywhere in the blank-separated list (the pre-3.0 rule).
int gl_listhas(const char *list, const char *name);
// Logs every extension as "%d = [%s]".
void gl_logextensions();
