// Mesh import support: the vertex hash that merges duplicate vertices while
// an STL or OBJ file is read into a mesh model. The importer allocates it
// before reading and frees it afterwards.
#pragma once

// Allocates the vertex hash with every bucket empty; 1, or 0 (logged) when
// it is already allocated or memory runs out.
int vbucket_alloc();
// Frees the vertex hash; nothing when it is absent.
void vbucket_free();
