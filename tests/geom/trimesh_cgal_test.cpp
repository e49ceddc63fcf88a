// The triangulator's meshes checked with CGAL's exact predicates: no vertex
// across an inner edge lies inside the circle of the triangle on this side,
// and CGAL's own Delaunay triangulation of the same vertices has as many
// triangles. CGAL is heavy to compile, so it lives in this one unit alone.
#include "geom/trimesh.h"

#include "testlog.h"
#include "trimeshfields.h"

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using point = kernel::Point_2;

TEST(TrimeshCgal, EveryInnerEdgeIsDelaunayAndCgalAgreesOnTheCount)
{
    testlog_capture log;
    for (const trimesh_field &f : trimesh_fields()) {
        std::unique_ptr<trimesh> m(new trimesh{});
        ASSERT_TRUE(trimesh_mesh(m.get(), f.z.data(), f.w, f.h, f.tau)) << f.name;
        std::vector<point> pts;
        for (int64_t i = 0; i < m->numverts; i++)
            pts.emplace_back(m->verts[i].x, m->verts[i].y);
        int inner = 0;
        for (int64_t t = 0; t < m->numtris; t++) {
            const trimesh_tri &tri = m->tris[t];
            // Our triangles turn clockwise; CGAL's circle side wants them counter-clockwise.
            const point &a = pts[tri.v[0]], &b = pts[tri.v[2]], &c = pts[tri.v[1]];
            ASSERT_EQ(CGAL::orientation(a, b, c), CGAL::LEFT_TURN) << f.name << " triangle " << t;
            for (int k = 0; k < 3; k++) {
                const int32_t e = tri.twin[k];
                if (e < 0)
                    continue;
                inner++;
                const point &d = pts[m->tris[e / 3].v[(e % 3 + 2) % 3]];
                EXPECT_NE(CGAL::side_of_oriented_circle(a, b, c, d), CGAL::ON_POSITIVE_SIDE)
                    << f.name << ": triangle " << t << " edge " << k;
            }
        }
        EXPECT_GT(inner, 0) << f.name;
        CGAL::Delaunay_triangulation_2<kernel> dt(pts.begin(), pts.end());
        EXPECT_EQ((int64_t)dt.number_of_faces(), m->numtris) << f.name;
        trimesh_free(m.get());
    }
}

} // namespace
