// Walking the triangle tree: leaves become textured, coloured triangles, inner
// nodes split their triangle at the midpoint of its long side. The depth is
// bounded so that a damaged tree whose links form a loop ends instead of
// exhausting the stack.
#include "geom/tritree.h"

#include "img/resample.h"
#include "render/draw.h"
#include "sys/log.h"

constexpr int tritree_maxdepth = 32;

static int tritree_vertex(const toolpath_tree *t, const float *p)
{
    r_texcoord(p[0] / (float)t->width, 1.0f - p[1] / (float)t->height);
    return r_vertex(p[0] * t->scale[0] + t->offset[0], p[1] * t->scale[1] + t->offset[1],
                    p[2] * t->scale[2] + t->offset[2]);
}

static int tritree_emit(const toolpath_tree *t, const float *a, const float *b, const float *c, const float *colour)
{
    r_color(colour[0], colour[1], colour[2], colour[3]);
    int ok = tritree_vertex(t, a);
    ok &= tritree_vertex(t, b);
    ok &= tritree_vertex(t, c);
    return ok;
}

static int tritree_walk(const toolpath_tree *t, int node, const float *a, const float *b, const float *c,
                        const float *colour, int depth)
{
    if (node == -1)
        return 0;
    if (node < 0 || node >= t->numnodes || depth > tritree_maxdepth) {
        sys_log("toolpath_renderhelper: bad node %d at depth %d", node, depth);
        return 0;
    }
    const toolpath_treenode &n = t->nodes[node];
    if (n.child[0] == -1)
        return tritree_emit(t, a, b, c, colour);
    float m[3] = {0.5f * (a[0] + c[0]), 0.5f * (a[1] + c[1]), 0.0f};
    m[2] = img_samplescalar(t->field, m[0], (float)t->height - m[1]);
    if (!tritree_walk(t, n.child[0], b, m, a, colour, depth + 1))
        return 0;
    return tritree_walk(t, n.child[1], c, m, b, colour, depth + 1);
}

int toolpath_renderhelper(const toolpath_tree *tree, int node, const float *a, const float *b, const float *c,
                          const float *colour)
{
    return tritree_walk(tree, node, a, b, c, colour, 0);
}
