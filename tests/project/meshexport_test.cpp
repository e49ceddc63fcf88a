// Canvas mesh export: the flat canvas and the extension table checked byte
// by byte, a relief read back by admesh (facets, bounds, degenerate and
// backwards edges, the volume once the open border is closed) and by a small
// OBJ reader of our own against the STL, every grid point within the error
// threshold of the mesh; and the exits that must clear the busy flag, free
// the image and leave no file behind.
#include "project/meshexport.h"

#include "cam/export.h"
#include "geom/model.h"
#include "img/image.h"
#include "project/project.h"
#include "testchild.h"
#include "testlog.h"
#include "testtemp.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using vec3 = std::array<double, 3>;
using tri3 = std::array<vec3, 3>;

struct me_folder {
    std::string path;
    me_folder()
    {
        path = testtemp_folder("mesh");
        EXPECT_FALSE(path.empty());
    }
    ~me_folder() { std::filesystem::remove_all(path); }
    std::string at(const char *name) const { return path + "/" + name; }
};

std::string me_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The canvas and its origin offset; restored after each test.
struct me_canvas {
    float size[3], origin[3];
    me_canvas(float sx, float sy, float sz, float ox, float oy, float oz)
    {
        memcpy(size, project.size, sizeof(size));
        memcpy(origin, project.originoffset, sizeof(origin));
        project.size[0] = sx, project.size[1] = sy, project.size[2] = sz;
        project.originoffset[0] = ox, project.originoffset[1] = oy, project.originoffset[2] = oz;
    }
    ~me_canvas()
    {
        memcpy(project.size, size, sizeof(size));
        memcpy(project.originoffset, origin, sizeof(origin));
    }
};

image *me_image(int w, int h, float (*height)(int, int, int, int))
{
    image *img = img_allocfloat("mesh", w, h);
    float *p = (float *)img->pixels;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            p[y * w + x] = height(x, y, w, h);
    return img;
}

// Runs the job off the test's thread, as the program does, so error
// reports become notices instead of boxes.
void me_export(image *img, const std::string &path)
{
    snprintf(export_path, sizeof(export_path), "%s", path.c_str());
    std::thread job(trimesh_generate, (void *)img);
    job.join();
}

std::vector<tri3> me_readstl(const std::string &bytes, uint32_t *count)
{
    std::vector<tri3> tris;
    *count = 0;
    if (bytes.size() < 84)
        return tris;
    memcpy(count, bytes.data() + 80, 4);
    for (size_t at = 84; at + 50 <= bytes.size(); at += 50) {
        float f[12];
        memcpy(f, bytes.data() + at, 48);
        tri3 t;
        for (int k = 0; k < 3; k++)
            t[k] = {f[3 + k * 3], f[4 + k * 3], f[5 + k * 3]};
        tris.push_back(t);
    }
    return tris;
}

// A reader for the OBJ subset we write: "v x y z" and "f a b c" lines.
struct me_obj {
    std::string comment;
    std::vector<vec3> verts;
    std::vector<std::array<long, 3>> faces;
    bool bad = false;
};

me_obj me_readobj(const std::string &text)
{
    me_obj o;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream l(line);
        std::string kind;
        l >> kind;
        if (kind == "#") {
            o.comment = line;
        } else if (kind == "v") {
            vec3 v;
            l >> v[0] >> v[1] >> v[2];
            o.verts.push_back(v);
            o.bad |= l.fail();
        } else if (kind == "f") {
            std::array<long, 3> f;
            l >> f[0] >> f[1] >> f[2];
            o.faces.push_back(f);
            o.bad |= l.fail();
        } else {
            o.bad = true;
        }
    }
    return o;
}

float me_flat(int, int, int, int) { return 0.3f; }

// A smooth dome in the middle and a border of zeros three pixels wide.
float me_dome(int x, int y, int w, int h)
{
    double dx = (x - (w - 1) * 0.5) / (w * 0.3), dy = (y - (h - 1) * 0.5) / (h * 0.3);
    double r2 = dx * dx + dy * dy;
    double z = r2 < 1 ? 0.8 * (1 - r2) * (1 - r2) : 0;
    return (float)z;
}

TEST(MeshExport, FlatCanvasAndExtensions)
{
    me_folder dir;
    me_canvas canvas(4.0f, 3.0f, 1.0f, -1.0f, -0.5f, -0.2f);
    const int W = 8, H = 6;
    // The four grid corners in project units: x right by size / W per pixel,
    // image row 0 at the canvas's far edge.
    const double sx = 4.0 / W, sy = -3.0 / H;
    const double z = 0.3 - 0.2;
    std::vector<vec3> corners = {{-1.0, 2.5, z},
                                 {(W - 1) * sx - 1.0, 2.5, z},
                                 {-1.0, 2.5 + (H - 1) * sy, z},
                                 {(W - 1) * sx - 1.0, 2.5 + (H - 1) * sy, z}};
    struct {
        const char *name;
        int kind; // 0 none, 1 STL, 2 OBJ
    } cases[] = {{"flat.stl", 1}, {"flat.STL", 1}, {"f.sTl", 1}, {"flat.obj", 2},
                 {"flat.OBJ", 2}, {"flat.png", 0}, {"flat.stlx", 0}, {"stl", 1}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        testlog_capture log;
        const int images = img_count;
        image *img = me_image(W, H, me_flat);
        std::string path = dir.at(c.name);
        me_export(img, path);
        EXPECT_EQ(mesh_exporting.load(), 0);
        EXPECT_EQ(img_count, images) << "the job frees its image";
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
        std::string bytes = me_bytes(path);
        if (c.kind == 0) {
            EXPECT_FALSE(std::filesystem::exists(path));
            EXPECT_TRUE(log.contains("unknown model format"));
            EXPECT_TRUE(log.contains("model_save failed!"));
            continue;
        }
        EXPECT_FALSE(log.contains("model_save failed!"));
        std::vector<vec3> found;
        if (c.kind == 1) {
            ASSERT_EQ(bytes.size(), 84u + 50u * 2u);
            std::string header = "Generated by Kerfmill v1.86b 64-bit ";
            EXPECT_EQ(bytes.substr(0, header.size()), header);
            EXPECT_EQ(bytes.substr(header.size(), 80 - header.size()), std::string(80 - header.size(), '\0'));
            uint32_t count;
            std::vector<tri3> tris = me_readstl(bytes, &count);
            EXPECT_EQ(count, 2u);
            for (auto &t : tris)
                for (auto &v : t)
                    found.push_back(v);
            // Normals and attributes are zero.
            for (size_t at = 84; at < bytes.size(); at += 50) {
                EXPECT_EQ(bytes.substr(at, 12), std::string(12, '\0'));
                EXPECT_EQ(bytes.substr(at + 48, 2), std::string(2, '\0'));
            }
        } else {
            me_obj o = me_readobj(bytes);
            EXPECT_FALSE(o.bad);
            EXPECT_EQ(o.comment, "# Generated by Kerfmill v1.86b 64-bit ");
            EXPECT_EQ(o.verts.size(), 4u);
            EXPECT_EQ(o.faces.size(), 2u);
            found = o.verts;
        }
        for (auto &v : found) {
            double best = 1e9;
            for (auto &k : corners)
                best = std::fmin(best, std::fabs(v[0] - k[0]) + std::fabs(v[1] - k[1]) + std::fabs(v[2] - k[2]));
            EXPECT_LT(best, 1e-5) << v[0] << " " << v[1] << " " << v[2];
        }
    }
}

struct me_admesh {
    int facets = -1, degenerate = -1, backwards = -1, reversed = -1;
    bool binary = false;
    double lo[3] = {}, hi[3] = {}, volume = 0;
};

// Runs admesh with the given checks and reads its report.
me_admesh me_runadmesh(const std::string &path, const char *options)
{
    me_admesh r;
    // A bounded wait: a hung tool fails the test instead of holding the run.
    std::string report = path + ".report";
    std::vector<std::string> args = {"/usr/bin/admesh"};
    if (*options)
        args.push_back(options);
    args.push_back(path);
    if (testchild_run(args, 60, report) != 0)
        return r;
    std::string text = me_bytes(report);
    remove(report.c_str());
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const char *s = line.c_str();
        int orig, fin;
        double a, b;
        char axis;
        if (sscanf(s, "Min %c = %lf, Max %*c = %lf", &axis, &a, &b) == 3 && axis >= 'X' && axis <= 'Z')
            r.lo[axis - 'X'] = a, r.hi[axis - 'X'] = b;
        else if (sscanf(s, "Number of facets : %d %d", &orig, &fin) == 2)
            r.facets = orig;
        else if (sscanf(s, "Degenerate facets : %d", &orig) == 1)
            r.degenerate = orig;
        else if (sscanf(s, "Backwards edges : %d", &orig) == 1)
            r.backwards = orig;
        else if (sscanf(s, "Facets reversed : %d", &orig) == 1)
            r.reversed = orig;
        if (line.find("Binary STL file") != std::string::npos)
            r.binary = true;
        size_t v = line.find("Volume   :");
        if (v != std::string::npos)
            r.volume = atof(s + v + 10);
    }
    return r;
}

// Height of the mesh at (x, y), from the triangle that holds the point;
// NaN when none does.
double me_meshheight(const std::vector<tri3> &tris, double x, double y)
{
    for (auto &t : tris) {
        double x0 = t[0][0], y0 = t[0][1];
        double ax = t[1][0] - x0, ay = t[1][1] - y0, bx = t[2][0] - x0, by = t[2][1] - y0;
        double d = ax * by - ay * bx;
        if (std::fabs(d) < 1e-12)
            continue;
        double u = ((x - x0) * by - (y - y0) * bx) / d, w = (ax * (y - y0) - ay * (x - x0)) / d;
        const double e = 1e-6;
        if (u >= -e && w >= -e && u + w <= 1 + e)
            return t[0][2] + u * (t[1][2] - t[0][2]) + w * (t[2][2] - t[0][2]);
    }
    return NAN;
}

TEST(MeshExport, ReliefAgainstAdmeshAndObj)
{
    me_folder dir;
    const int W = 48, H = 40;
    const float SX = 4.8f, SY = 4.0f, SZ = 0.5f, OX = -2.4f, OY = -2.0f, OZ = 0.1f;
    me_canvas canvas(SX, SY, SZ, OX, OY, OZ);
    std::vector<float> grid(W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            grid[y * W + x] = me_dome(x, y, W, H);
    testlog_capture log;
    me_export(me_image(W, H, me_dome), dir.at("dome.stl"));
    me_export(me_image(W, H, me_dome), dir.at("dome.obj"));
    ASSERT_FALSE(log.contains("model_save failed!"));

    std::string stl = me_bytes(dir.at("dome.stl"));
    uint32_t count;
    std::vector<tri3> tris = me_readstl(stl, &count);
    ASSERT_EQ(stl.size(), 84u + 50u * count);
    ASSERT_EQ(tris.size(), count);
    EXPECT_LT(count, 2u * (W - 1) * (H - 1) / 2) << "flat areas take few triangles";

    const double sx = (double)SX / W, sy = -(double)SY / H, oy = SY + OY;
    const double tau = std::fabs(sx / SZ) * 0.05;
    double peak = 0;
    for (float g : grid)
        peak = std::fmax(peak, g);

    // The open surface as it is: every facet turned the same way.
    me_admesh a = me_runadmesh(dir.at("dome.stl"), "--normal-directions");
    EXPECT_TRUE(a.binary);
    EXPECT_EQ(a.facets, (int)count);
    EXPECT_EQ(a.degenerate, 0);
    EXPECT_EQ(a.backwards, 0);
    EXPECT_EQ(a.reversed, 0);
    EXPECT_NEAR(a.lo[0], OX, 1e-4);
    EXPECT_NEAR(a.hi[0], (W - 1) * sx + OX, 1e-4);
    EXPECT_NEAR(a.lo[1], (H - 1) * sy + oy, 1e-4);
    EXPECT_NEAR(a.hi[1], oy, 1e-4);
    EXPECT_NEAR(a.lo[2], OZ, 1e-4);
    EXPECT_NEAR(a.hi[2], peak * SZ + OZ, tau * SZ + 1e-4);
    // Volume above the base plane under the grid by the trapezoid rule, and
    // admesh's once it has closed the open border with all its checks.
    const double closed = me_runadmesh(dir.at("dome.stl"), "").volume;
    double volume = 0;
    for (int y = 0; y + 1 < H; y++)
        for (int x = 0; x + 1 < W; x++)
            volume += (grid[y * W + x] + grid[y * W + x + 1] + grid[(y + 1) * W + x] + grid[(y + 1) * W + x + 1]) *
                      0.25 * SZ * sx * -sy;
    const double area = (W - 1) * sx * (H - 1) * -sy;
    EXPECT_NEAR(std::fabs(closed), volume, 0.05 * sx * area);

    me_obj o = me_readobj(me_bytes(dir.at("dome.obj")));
    EXPECT_FALSE(o.bad);
    ASSERT_EQ(o.faces.size(), tris.size());
    for (size_t i = 0; i < o.faces.size(); i++) {
        for (int k = 0; k < 3; k++) {
            long f = o.faces[i][k];
            ASSERT_GE(f, 1);
            ASSERT_LE(f, (long)o.verts.size());
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(o.verts[f - 1][c], tris[i][k][c], 1e-6) << "face " << i;
        }
    }
    // Every grid point within the threshold of the surface.
    int far = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            double h = me_meshheight(tris, x * sx + OX, y * sy + oy);
            double want = grid[y * W + x] * SZ + OZ;
            if (!(std::fabs(h - want) <= tau * SZ + 1e-5))
                far++;
        }
    EXPECT_EQ(far, 0);
}

TEST(MeshExport, FailuresClearTheFlagAndLeaveNoFile)
{
    me_folder dir;
    me_canvas canvas(2.0f, 2.0f, 1.0f, 0, 0, 0);
    std::filesystem::create_directory(dir.at("taken.stl"));
    struct {
        const char *what;
        std::string path;
        int fillmodels;
    } cases[] = {
        {"missing folder", dir.at("none/x.stl"), 0},
        {"a folder in the way", dir.at("taken.stl"), 0},
        {"model table full", dir.at("full.stl"), 1},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<int> held;
        if (c.fillmodels)
            for (int s; (s = mdl_alloc()) >= 0;)
                held.push_back(s);
        testlog_capture log;
        const int images = img_count;
        me_export(me_image(16, 16, me_dome), c.path);
        for (int s : held)
            mdl_free(s);
        EXPECT_EQ(mesh_exporting.load(), 0);
        EXPECT_EQ(img_count, images);
        EXPECT_TRUE(log.contains(c.fillmodels ? "model_fromimage failed!" : "model_save failed!"));
        EXPECT_FALSE(std::filesystem::is_regular_file(c.path));
        EXPECT_FALSE(std::filesystem::exists(c.path + ".tmp"));
    }
    // A model that cannot be saved still gives its slot back.
    int before = mdl_count;
    me_export(me_image(16, 16, me_dome), dir.at("none/y.obj"));
    EXPECT_EQ(mdl_count, before);
}

} // namespace
