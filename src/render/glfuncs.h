// The GL entry points beyond GL 1.1, fetched by name at start-up. Each is a
// pointer named gl_<lower-case name> and the GL's own name is a macro for it,
// so call sites read as plain GL. A pointer stays null when the GL lacks it;
// start-up decides what that disables.
#pragma once
#include <GL/gl.h>
#include <GL/glext.h>

// Multitexture.
extern PFNGLACTIVETEXTUREPROC gl_activetexture;
// Buffer objects.
extern PFNGLGENBUFFERSPROC gl_genbuffers;
extern PFNGLDELETEBUFFERSPROC gl_deletebuffers;
extern PFNGLBINDBUFFERPROC gl_bindbuffer;
extern PFNGLBUFFERDATAPROC gl_bufferdata;
// Shader and program objects, uniforms and vertex attributes.
extern PFNGLCREATESHADERPROC gl_createshader;
extern PFNGLSHADERSOURCEPROC gl_shadersource;
extern PFNGLCOMPILESHADERPROC gl_compileshader;
extern PFNGLGETSHADERIVPROC gl_getshaderiv;
extern PFNGLGETSHADERINFOLOGPROC gl_getshaderinfolog;
extern PFNGLDELETESHADERPROC gl_deleteshader;
extern PFNGLCREATEPROGRAMPROC gl_createprogram;
extern PFNGLATTACHSHADERPROC gl_attachshader;
extern PFNGLDETACHSHADERPROC gl_detachshader;
extern PFNGLLINKPROGRAMPROC gl_linkprogram;
extern PFNGLGETPROGRAMIVPROC gl_getprogramiv;
extern PFNGLGETPROGRAMINFOLOGPROC gl_getprograminfolog;
extern PFNGLUSEPROGRAMPROC gl_useprogram;
extern PFNGLDELETEPROGRAMPROC gl_deleteprogram;
extern PFNGLGETUNIFORMLOCATIONPROC gl_getuniformlocation;
extern PFNGLUNIFORM1FPROC gl_uniform1f;
extern PFNGLUNIFORM1FVPROC gl_uniform1fv;
extern PFNGLUNIFORM1IPROC gl_uniform1i;
extern PFNGLUNIFORM3FVPROC gl_uniform3fv;
extern PFNGLUNIFORM4FVPROC gl_uniform4fv;
extern PFNGLUNIFORMMATRIX4FVPROC gl_uniformmatrix4fv;
extern PFNGLGETATTRIBLOCATIONPROC gl_getattriblocation;
extern PFNGLBINDATTRIBLOCATIONPROC gl_bindattriblocation;
extern PFNGLVERTEXATTRIBPOINTERPROC gl_vertexattribpointer;
extern PFNGLENABLEVERTEXATTRIBARRAYPROC gl_enablevertexattribarray;
extern PFNGLDISABLEVERTEXATTRIBARRAYPROC gl_disablevertexattribarray;
// Framebuffer and renderbuffer objects (core names or the EXT ones).
extern PFNGLGENFRAMEBUFFERSPROC gl_genframebuffers;
extern PFNGLDELETEFRAMEBUFFERSPROC gl_deleteframebuffers;
extern PFNGLBINDFRAMEBUFFERPROC gl_bindframebuffer;
extern PFNGLFRAMEBUFFERTEXTURE2DPROC gl_framebuffertexture2d;
extern PFNGLFRAMEBUFFERRENDERBUFFERPROC gl_framebufferrenderbuffer;
extern PFNGLCHECKFRAMEBUFFERSTATUSPROC gl_checkframebufferstatus;
extern PFNGLGENRENDERBUFFERSPROC gl_genrenderbuffers;
extern PFNGLDELETERENDERBUFFERSPROC gl_deleterenderbuffers;
extern PFNGLBINDRENDERBUFFERPROC gl_bindrenderbuffer;
extern PFNGLRENDERBUFFERSTORAGEPROC gl_renderbufferstorage;
extern PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC gl_renderbufferstoragemultisample; // core only
// GL 3.0 and later.
extern PFNGLGENERATEMIPMAPPROC gl_generatemipmap;
extern PFNGLGETSTRINGIPROC gl_getstringi;               // fetched on first extension test
extern PFNGLTEXIMAGE2DMULTISAMPLEPROC gl_teximage2dmultisample; // above 3.1

#define glActiveTexture gl_activetexture
#define glGenBuffers gl_genbuffers
#define glDeleteBuffers gl_deletebuffers
#define glBindBuffer gl_bindbuffer
#define glBufferData gl_bufferdata
#define glCreateShader gl_createshader
#define glShaderSource gl_shadersource
#define glCompileShader gl_compileshader
#define glGetShaderiv gl_getshaderiv
#define glGetShaderInfoLog gl_getshaderinfolog
#define glDeleteShader gl_deleteshader
#define glCreateProgram gl_createprogram
#define glAttachShader gl_attachshader
#define glDetachShader gl_detachshader
#define glLinkProgram gl_linkprogram
#define glGetProgramiv gl_getprogramiv
#define glGetProgramInfoLog gl_getprograminfolog
#define glUseProgram gl_useprogram
#define glDeleteProgram gl_deleteprogram
#define glGetUniformLocation gl_getuniformlocation
#define glUniform1f gl_uniform1f
#define glUniform1fv gl_uniform1fv
#define glUniform1i gl_uniform1i
#define glUniform3fv gl_uniform3fv
#define glUniform4fv gl_uniform4fv
#define glUniformMatrix4fv gl_uniformmatrix4fv
#define glGetAttribLocation gl_getattriblocation
#define glBindAttribLocation gl_bindattriblocation
#define glVertexAttribPointer gl_vertexattribpointer
#define glEnableVertexAttribArray gl_enablevertexattribarray
#define glDisableVertexAttribArray gl_disablevertexattribarray
#define glGenFramebuffers gl_genframebuffers
#define glDeleteFramebuffers gl_deleteframebuffers
#define glBindFramebuffer gl_bindframebuffer
#define glFramebufferTexture2D gl_framebuffertexture2d
#define glFramebufferRenderbuffer gl_framebufferrenderbuffer
#define glCheckFramebufferStatus gl_checkframebufferstatus
#define glGenRenderbuffers gl_genrenderbuffers
#define glDeleteRenderbuffers gl_deleterenderbuffers
#define glBindRenderbuffer gl_bindrenderbuffer
#define glRenderbufferStorage gl_renderbufferstorage
#define glRenderbufferStorageMultisample gl_renderbufferstoragemultisample
#define glGenerateMipmap gl_generatemipmap
#define glGetStringi gl_getstringi
#define glTexImage2DMultisample gl_teximage2dmultisample

// Fetches the entry points start-up needs, in order: multitexture (its lack
// is reported and start-up goes on), the GL 1.4 minimum, buffer objects,
// shader objects (GL 2.0 and "GL_ARB_shader_objects"), then framebuffer
// objects, mipmap generation and multisample textures where the GL has them.
// Needs gl_version and the extension data set. 0 when the GL cannot run the
// program (the error is reported; the caller quits), else 1.
int gl_loadentrypoints();
