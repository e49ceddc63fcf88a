// An independent carve simulator for judging generators: analytic cutters
// (flat with a corner radius, ball, tapered, V and tapered ball) stamped
// along a list of moves into a height grid that keeps the lowest point any
// cutter reached, and the brute-force dilation of a target surface by the
// same cutters (the lowest a tip may go without entering the target). It
// knows nothing of the program: no profile images, no kernels, no moves
// format; it works in doubles and world units. Callers convert their own
// data into grids and point lists.
#pragma once
#include <cstddef>
#include <vector>

// A cutter by its height above the tip at a distance from the axis; the
// cutter ends at its cutting radius (beyond it nothing is cut).
struct carve_tool {
    enum kind_t { bull, tapered, vee, taperball } kind;
    double radius;  // cutting radius: where the flutes end
    double corner;  // bull: corner radius (radius for a ball nose, 0 flat)
    double tip;     // tapered: radius of the flat tip
    double slope;   // tapered, vee, taperball: horizontal run per unit of rise (tan of the half-angle)
    double ball;    // taperball: ball radius
    double shift = 0; // the shape moved outward by this much (inward when negative)
    // Height of the cutter above its tip at distance r (r <= radius).
    double height(double r) const;
    // The most the height changes over a horizontal step of len anywhere
    // inside the cutter: the tolerance of sampling it at that spacing.
    double maxrise(double len) const;
};

// The cutter's shape moved outward by d (inward for d < 0), its radius with
// it: a cutter placed d off, for bracketing discretised ones.
carve_tool carve_grow(const carve_tool &t, double d);

carve_tool carve_flat(double diameter);
carve_tool carve_ballnose(double diameter);
carve_tool carve_bullnose(double diameter, double corner);
// Flat tip of tipdiameter, flanks at halfangle degrees from the axis, flutes of length flutes.
carve_tool carve_tapered(double tipdiameter, double halfangle, double flutes);
// V of the full included angle (degrees) and diameter.
carve_tool carve_vee(double diameter, double angle);
// Ball of ballradius under a cone of halfangle degrees touching it, flutes of length flutes.
carve_tool carve_taperball(double ballradius, double halfangle, double flutes);

// Heights at the centres of w x h pixels of size px x py; row 0 is the top
// (largest y): pixel (i, j) has its centre at (x0 + (i + 0.5) px, y0 - (j + 0.5) py).
struct carve_grid {
    int w = 0, h = 0;
    double x0 = 0, y0 = 0, px = 1, py = 1;
    std::vector<double> z;
    double &at(int i, int j) { return z[(std::size_t)j * w + i]; }
    double at(int i, int j) const { return z[(std::size_t)j * w + i]; }
    double cx(int i) const { return x0 + (i + 0.5) * px; }
    double cy(int j) const { return y0 - (j + 0.5) * py; }
};

// A point of a move list; a point of kind start only places the cutter.
struct carve_point {
    enum kind_t { start, rapid, feed } kind;
    double x, y, z;
};

// Lowers the grid wherever the cutter with its tip at (x, y, z) reaches below it.
void carve_stamp(carve_grid &g, const carve_tool &t, double x, double y, double z);
// Stamps the cutter along every move (rapid or feed) from the previous
// point, sampled at a quarter of the smaller pixel side or finer.
void carve_run(carve_grid &g, const carve_tool &t, const std::vector<carve_point> &moves);
// For every pixel of target, the lowest tip height at which the cutter
// touches no target pixel centre: max over pixels q in reach of
// target(q) - height(|p - q|). Brute force; meant for grids up to 128 px.
carve_grid carve_dilate(const carve_grid &target, const carve_tool &t);
// The largest amount by which carved lies below floor at any pixel (0 when
// nowhere), and where.
struct carve_gouge {
    double depth = 0;
    int i = -1, j = -1;
};
carve_gouge carve_deepest(const carve_grid &carved, const carve_grid &floor);
