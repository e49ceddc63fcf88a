// fontgen: the build-time maker of the thirty data fonts. Each font is a
// glyph sheet "<name>.png" (a grid of equal cells, white with the coverage in
// alpha) and its metrics "<name>.dat" (273 bytes: sheet and cell size, first
// character, 256 advances), rendered with FreeType from free faces installed
// from Debian. The icon sheets take their pictograms from tools/icons.tsv.
// Usage: fontgen <icons.tsv> <output folder>. Same inputs give the same bytes.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// The Debian packages these faces come from are named in scripts/deps.sh.
constexpr const char *gen_dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char *gen_dejavubold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr const char *gen_dejavumono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
constexpr const char *gen_dejavumonobold = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf";
constexpr const char *gen_liberation = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
constexpr const char *gen_liberationbold = "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf";
constexpr const char *gen_liberationmono = "/usr/share/fonts/truetype/liberation2/LiberationMono-Regular.ttf";
constexpr const char *gen_liberationmonobold = "/usr/share/fonts/truetype/liberation2/LiberationMono-Bold.ttf";
constexpr const char *gen_hack = "/usr/share/fonts/truetype/hack/Hack-Regular.ttf";
constexpr const char *gen_ocra = "/usr/share/fonts/truetype/ocr-a/OCRA.ttf";
constexpr const char *gen_ukai = "/usr/share/fonts/truetype/arphic/ukai.ttc";
constexpr const char *gen_comfortaa = "/usr/share/fonts/truetype/comfortaa/Comfortaa-Regular.ttf";
constexpr const char *gen_comicneue = "/usr/share/fonts/opentype/comic-neue/ComicNeue-Regular.otf";
constexpr const char *gen_laksaman = "/usr/share/fonts/truetype/tlwg/Laksaman.ttf";
constexpr const char *gen_juramedium = "/usr/share/fonts/opentype/jura/Jura-Medium.otf";
constexpr const char *gen_jurabold = "/usr/share/fonts/opentype/jura/Jura-Bold.otf";
constexpr const char *gen_iconface = "/usr/share/fonts/truetype/font-awesome/fontawesome-webfont.ttf";

// A text sheet holds characters 32..159 in 16 x 8 cells; an icon sheet holds
// codes 0..255 of one family in 16 x 16 cells.
constexpr int gen_columns = 16;
constexpr int gen_textfirst = 32;
constexpr int gen_textrows = 8;
constexpr int gen_iconrows = 16;
constexpr int gen_blockchar = 127; // a full block: the text cursor in overwrite mode

struct gen_font {
    const char *name;
    const char *face;  // file; null for an icon sheet
    int pixelsize;     // text: the size asked for (shrunk until a line fits the cell)
    int cell;          // cell width and height in pixels
    int family;        // icon sheets: icon code / 256
};

// In the program's load order: the index of a font is its position here.
const gen_font gen_fonts[] = {
    {"System", gen_dejavubold, 12, 16, 0},
    {"Fixedsys", gen_dejavumonobold, 13, 16, 0},
    {"Source Code", gen_hack, 13, 16, 0},
    {"Courier", gen_liberationmono, 13, 16, 0},
    {"Latha", gen_liberation, 14, 16, 0},
    {"Tahoma", gen_dejavu, 12, 16, 0},
    {"Verdana", gen_dejavu, 13, 16, 0},
    {"Ocr A", gen_ocra, 13, 16, 0},
    {"IBM", gen_liberationmonobold, 13, 16, 0},
    {"KaiTi", gen_ukai, 15, 16, 0},
    {"Comfort", gen_comfortaa, 13, 16, 0},
    {"Cafe", gen_comicneue, 15, 16, 0},
    {"BlackSans", gen_liberationbold, 13, 16, 0},
    {"Thaiseri", gen_laksaman, 15, 16, 0},
    {"CallingCode", gen_dejavumono, 12, 16, 0},
    {"Latha Big", gen_liberation, 28, 32, 0},
    {"Tahoma Big", gen_dejavu, 24, 32, 0},
    {"Verdana Big", gen_dejavu, 26, 32, 0},
    {"OCR A Big", gen_ocra, 26, 32, 0},
    {"Electrolize Big", gen_juramedium, 28, 32, 0},
    {"Aldrich Big", gen_jurabold, 28, 32, 0},
    {"Icons", nullptr, 0, 16, 0},
    {"Icons Big", nullptr, 0, 32, 0},
    {"Icons Huge", nullptr, 0, 64, 0},
    {"Icons2", nullptr, 0, 16, 1},
    {"Icons2 Big", nullptr, 0, 32, 1},
    {"Icons2 Huge", nullptr, 0, 64, 1},
    {"Icons3", nullptr, 0, 16, 2},
    {"Icons3 Big", nullptr, 0, 32, 2},
    {"Icons3 Huge", nullptr, 0, 64, 2},
};

// A sheet being drawn: one coverage byte per pixel.
struct gen_sheet {
    int width = 0, height = 0;
    std::vector<uint8_t> alpha;
    uint8_t first = 0;
    uint8_t advance[256] = {};
};

struct gen_icon {
    int code;
    std::string source;
    std::string meaning;
};

static FT_Library gen_library;

static void gen_fail(const char *format, const char *what)
{
    fprintf(stderr, "fontgen: ");
    fprintf(stderr, format, what);
    fprintf(stderr, "\n");
    exit(1);
}

static FT_Face gen_openface(const char *path)
{
    static std::map<std::string, FT_Face> faces;
    auto found = faces.find(path);
    if (found != faces.end())
        return found->second;
    FT_Face face;
    if (FT_New_Face(gen_library, path, 0, &face))
        gen_fail("cannot open the face \"%s\" (run scripts/deps.sh)", path);
    faces[path] = face;
    return face;
}

// Copies a rendered glyph bitmap into the sheet at (x, y), clipped to the
// cell that starts at (cx, cy); coverage combines by maximum.
static void gen_blit(gen_sheet &s, const FT_Bitmap &b, int x, int y, int cx, int cy, int cell)
{
    for (unsigned row = 0; row < b.rows; row++) {
        int py = y + (int)row;
        if (py < cy || py >= cy + cell)
            continue;
        const uint8_t *src = b.buffer + (ptrdiff_t)row * b.pitch;
        for (unsigned col = 0; col < b.width; col++) {
            int px = x + (int)col;
            if (px < cx || px >= cx + cell)
                continue;
            uint8_t &d = s.alpha[(size_t)py * s.width + px];
            d = src[col] > d ? src[col] : d;
        }
    }
}

// Rows the printable characters reach above and below the baseline at the
// face's current size.
static void gen_inkextent(FT_Face face, const gen_font &f, int *above, int *below)
{
    *above = *below = 0;
    for (int c = gen_textfirst + 1; c < gen_blockchar; c++) {
        if (!FT_Get_Char_Index(face, c))
            gen_fail("a character is missing from \"%s\"", f.name);
        if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_NO_BITMAP))
            gen_fail("FreeType failed to render a character of \"%s\"", f.name);
        FT_GlyphSlot g = face->glyph;
        *above = std::max(*above, g->bitmap_top);
        *below = std::max(*below, (int)g->bitmap.rows - g->bitmap_top);
    }
}

// The largest size up to the one asked for at which every printable
// character fits the cell height (faces whose line metrics make room for
// other scripts would come out too small by those); returns the baseline
// that centres the characters' rows in the cell.
static int gen_setsize(FT_Face face, const gen_font &f)
{
    for (int size = f.pixelsize; size > 4; size--) {
        FT_Set_Pixel_Sizes(face, 0, size);
        int above, below;
        gen_inkextent(face, f, &above, &below);
        if (above + below <= f.cell)
            return (f.cell - above - below) / 2 + above;
    }
    gen_fail("no size of \"%s\" fits its cell", f.name);
    return 0;
}

static void gen_textsheet(const gen_font &f, gen_sheet &s)
{
    FT_Face face = gen_openface(f.face);
    int baseline = gen_setsize(face, f);
    s.width = gen_columns * f.cell;
    s.height = gen_textrows * f.cell;
    s.alpha.assign((size_t)s.width * s.height, 0);
    s.first = gen_textfirst;
    for (int c = gen_textfirst; c < gen_blockchar; c++) {
        // Outlines only: some faces carry bitmap strikes of another design.
        if (FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_NO_BITMAP))
            gen_fail("FreeType failed to render a character of \"%s\"", f.name);
        FT_GlyphSlot g = face->glyph;
        int k = c - gen_textfirst;
        int cx = k % gen_columns * f.cell, cy = k / gen_columns * f.cell;
        gen_blit(s, g->bitmap, cx + g->bitmap_left, cy + baseline - g->bitmap_top, cx, cy, f.cell);
        s.advance[c] = (uint8_t)((g->advance.x + 32) >> 6);
    }
    // The block fills the line as wide as a digit.
    int k = gen_blockchar - gen_textfirst;
    int cx = k % gen_columns * f.cell, cy = k / gen_columns * f.cell;
    int width = s.advance['0'] < f.cell ? s.advance['0'] : f.cell;
    for (int y = 0; y < f.cell; y++)
        memset(&s.alpha[(size_t)(cy + y) * s.width + cx], 255, (size_t)width);
    s.advance[gen_blockchar] = (uint8_t)width;
}

// An outline being assembled from glyph outlines and drawn shapes, in any
// units with y up; it is fitted into a cell when rendered.
struct gen_path {
    std::vector<double> x, y;
    std::vector<char> tags;
    std::vector<short> ends;
};

// An unscaled glyph outline (font units) moved by (dx, dy).
static void gen_addoutline(gen_path &p, const FT_Outline &o, double dx, double dy)
{
    size_t base = p.x.size();
    for (int i = 0; i < o.n_points; i++) {
        p.x.push_back(o.points[i].x + dx);
        p.y.push_back(o.points[i].y + dy);
        p.tags.push_back(o.tags[i]);
    }
    for (int i = 0; i < o.n_contours; i++)
        p.ends.push_back((short)(base + o.contours[i]));
}

// A closed polygon; reversed it cuts a hole in what it overlaps (non-zero
// winding).
static void gen_addpolygon(gen_path &p, const std::vector<double> &xy, bool hole)
{
    size_t n = xy.size() / 2;
    for (size_t i = 0; i < n; i++) {
        size_t j = hole ? n - 1 - i : i;
        p.x.push_back(xy[2 * j]);
        p.y.push_back(xy[2 * j + 1]);
        p.tags.push_back(FT_CURVE_TAG_ON);
    }
    p.ends.push_back((short)(p.x.size() - 1));
}

static void gen_addrect(gen_path &p, double x0, double y0, double x1, double y1, bool hole = false)
{
    gen_addpolygon(p, {x0, y0, x1, y0, x1, y1, x0, y1}, hole);
}

static void gen_addcircle(gen_path &p, double cx, double cy, double r, double from, double to, bool hole = false)
{
    std::vector<double> xy;
    const int steps = 48;
    for (int i = 0; i <= steps; i++) {
        double a = from + (to - from) * i / steps;
        xy.push_back(cx + r * cos(a));
        xy.push_back(cy + r * sin(a));
    }
    if (to - from < 2 * M_PI) {
        xy.push_back(cx);
        xy.push_back(cy);
    }
    gen_addpolygon(p, xy, hole);
}

// Cutting tools stand upright: the shank above, the cutter below.
static void gen_toolshape(gen_path &p, const std::string &name)
{
    gen_addrect(p, 0.40, 0.55, 0.60, 1.00);
    if (name == "tool_cylinder") {
        gen_addrect(p, 0.32, 0.05, 0.68, 0.55);
    } else if (name == "tool_tapered") {
        gen_addpolygon(p, {0.30, 0.55, 0.42, 0.05, 0.58, 0.05, 0.70, 0.55}, false);
    } else if (name == "tool_vbit") {
        gen_addpolygon(p, {0.22, 0.55, 0.50, 0.02, 0.78, 0.55}, false);
    } else {
        gen_addpolygon(p, {0.30, 0.55, 0.40, 0.14, 0.60, 0.14, 0.70, 0.55}, false);
        gen_addcircle(p, 0.50, 0.14, 0.10, M_PI, 2 * M_PI);
    }
}

// A ruler with tick marks; the "on" form is solid with the ticks cut out.
static void gen_rulershape(gen_path &p, bool solid)
{
    const double x0 = 0.02, x1 = 0.98, y0 = 0.30, y1 = 0.70, t = 0.07;
    if (solid) {
        gen_addrect(p, x0, y0, x1, y1);
        for (int i = 1; i < 8; i++)
            gen_addrect(p, x0 + i * 0.12 - 0.02, i % 2 ? 0.50 : 0.42, x0 + i * 0.12 + 0.02, y1 - t, true);
        return;
    }
    gen_addrect(p, x0, y0, x1, y0 + t);
    gen_addrect(p, x0, y1 - t, x1, y1);
    gen_addrect(p, x0, y0 + t, x0 + t, y1 - t);
    gen_addrect(p, x1 - t, y0 + t, x1, y1 - t);
    for (int i = 1; i < 8; i++)
        gen_addrect(p, x0 + i * 0.12 - 0.02, i % 2 ? 0.50 : 0.42, x0 + i * 0.12 + 0.02, y1 - t);
}

static void gen_shape(gen_path &p, const std::string &name)
{
    if (name.rfind("tool_", 0) == 0) {
        gen_toolshape(p, name);
    } else if (name == "diamond") {
        gen_addpolygon(p, {0.50, 0.0, 1.0, 0.50, 0.50, 1.0, 0.0, 0.50}, false);
    } else if (name == "dial_pointer") {
        // Drawn turned about the cell centre, so the needle starts there.
        gen_addcircle(p, 0.50, 0.50, 0.09, 0, 2 * M_PI);
        gen_addrect(p, 0.46, 0.50, 0.54, 0.96);
    } else if (name == "ruler" || name == "ruler_on") {
        gen_rulershape(p, name == "ruler_on");
    } else {
        gen_fail("no shape named \"%s\"", name.c_str());
    }
}

// Letters set side by side in the bold sans, in font units.
static void gen_letters(gen_path &p, const std::string &text)
{
    FT_Face face = gen_openface(gen_dejavubold);
    double pen = 0;
    for (unsigned char c : text) {
        if (FT_Load_Char(face, c, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP))
            gen_fail("cannot load the letters \"%s\"", text.c_str());
        gen_addoutline(p, face->glyph->outline, pen, 0);
        pen += face->glyph->advance.x;
    }
}

// The bounding box of the points: x0, y0, x1, y1.
static void gen_bounds(const gen_path &p, double *box)
{
    box[0] = box[1] = 1e30;
    box[2] = box[3] = -1e30;
    for (size_t i = 0; i < p.x.size(); i++) {
        box[0] = std::min(box[0], p.x[i]);
        box[1] = std::min(box[1], p.y[i]);
        box[2] = std::max(box[2], p.x[i]);
        box[3] = std::max(box[3], p.y[i]);
    }
}

// Scales the outline so that extent spans the cell less a margin, centres
// box in the cell, and renders it anti-aliased.
static void gen_renderpath(gen_sheet &s, const gen_path &p, const double *box, double extent, int cx, int cy,
                           int cell)
{
    double room = cell - std::max(2.0, cell / 16.0);
    double scale = room / extent;
    double ox = cell / 2.0 - (box[0] + box[2]) / 2 * scale;
    double oy = cell / 2.0 - (box[1] + box[3]) / 2 * scale;
    std::vector<FT_Vector> points(p.x.size());
    for (size_t i = 0; i < points.size(); i++) {
        points[i].x = lround((p.x[i] * scale + ox) * 64.0);
        points[i].y = lround((p.y[i] * scale + oy) * 64.0);
    }
    std::vector<char> tags = p.tags;
    std::vector<short> ends = p.ends;
    FT_Outline o = {};
    o.n_points = (short)points.size();
    o.n_contours = (short)ends.size();
    o.points = points.data();
    o.tags = tags.data();
    o.contours = ends.data();
    std::vector<uint8_t> pixels((size_t)cell * cell, 0);
    FT_Bitmap b = {};
    b.rows = (unsigned)cell;
    b.width = (unsigned)cell;
    b.pitch = cell;
    b.buffer = pixels.data();
    b.num_grays = 256;
    b.pixel_mode = FT_PIXEL_MODE_GRAY;
    if (FT_Outline_Get_Bitmap(gen_library, &o, &b))
        gen_fail("FreeType failed to render an icon of code cell %s", std::to_string(cx / cell).c_str());
    gen_blit(s, b, cx, cy, cx, cy, cell);
}

static void gen_drawicon(gen_sheet &s, const gen_icon &icon, int cell)
{
    gen_path p;
    double box[4] = {0, 0, 1, 1}; // shapes are drawn in the unit square
    double extent = 1;
    const std::string &src = icon.source;
    if (src.rfind("fa:", 0) == 0) {
        FT_Face face = gen_openface(gen_iconface);
        FT_ULong point = strtoul(src.c_str() + 3, nullptr, 16);
        FT_UInt glyph = FT_Get_Char_Index(face, point);
        if (!glyph || FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP))
            gen_fail("the icon font has no glyph for \"%s\"", src.c_str());
        gen_addoutline(p, face->glyph->outline, 0, 0);
        // The icon font's glyphs share one scale: the em, unless a glyph is
        // wider or taller.
        gen_bounds(p, box);
        extent = std::max({(double)face->units_per_EM, box[2] - box[0], box[3] - box[1]});
    } else if (src.rfind("shape:", 0) == 0) {
        gen_shape(p, src.substr(6));
    } else if (src.rfind("text:", 0) == 0) {
        gen_letters(p, src.substr(5));
        gen_bounds(p, box);
        // Letters keep a wider margin so neighbouring cells do not read as
        // one word.
        extent = std::max(box[2] - box[0], box[3] - box[1]) * 1.3;
    } else {
        gen_fail("unknown icon source \"%s\"", src.c_str());
    }
    int k = icon.code % 256;
    gen_renderpath(s, p, box, extent, k % gen_columns * cell, k / gen_columns * cell, cell);
}

static void gen_iconsheet(const gen_font &f, const std::vector<gen_icon> &icons, gen_sheet &s)
{
    s.width = gen_columns * f.cell;
    s.height = gen_iconrows * f.cell;
    s.alpha.assign((size_t)s.width * s.height, 0);
    s.first = 0;
    memset(s.advance, f.cell, sizeof(s.advance));
    for (const gen_icon &icon : icons)
        if (icon.code / 256 == f.family)
            gen_drawicon(s, icon, f.cell);
}

static std::vector<gen_icon> gen_readicons(const char *path)
{
    std::ifstream in(path);
    if (!in)
        gen_fail("cannot read the icon table \"%s\"", path);
    std::vector<gen_icon> icons;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        gen_icon icon;
        std::string code;
        if (!std::getline(fields, code, '\t') || !std::getline(fields, icon.source, '\t') ||
            !std::getline(fields, icon.meaning))
            gen_fail("a line of the icon table lacks a field: \"%s\"", line.c_str());
        icon.code = atoi(code.c_str());
        if (icon.code < 0 || icon.code > 767)
            gen_fail("icon code out of 0..767: \"%s\"", line.c_str());
        for (const gen_icon &other : icons)
            if (other.code == icon.code)
                gen_fail("icon code listed twice: \"%s\"", line.c_str());
        icons.push_back(icon);
    }
    return icons;
}

static void gen_writepng(const fs::path &path, const gen_sheet &s)
{
    FILE *out = fopen(path.c_str(), "wb");
    if (!out)
        gen_fail("cannot write \"%s\"", path.c_str());
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        gen_fail("libpng failed on \"%s\"", path.c_str());
    png_init_io(png, out);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, (png_uint_32)s.width, (png_uint_32)s.height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row((size_t)s.width * 4);
    for (int y = 0; y < s.height; y++) {
        for (int x = 0; x < s.width; x++) {
            uint8_t *p = &row[(size_t)x * 4];
            p[0] = p[1] = p[2] = 255;
            p[3] = s.alpha[(size_t)y * s.width + x];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    if (fclose(out))
        gen_fail("cannot finish \"%s\"", path.c_str());
}

static void gen_putint(std::vector<uint8_t> &out, int32_t v)
{
    for (int i = 0; i < 4; i++)
        out.push_back((uint8_t)((uint32_t)v >> (8 * i)));
}

static void gen_writedat(const fs::path &path, const gen_sheet &s, int cell)
{
    std::vector<uint8_t> out;
    gen_putint(out, s.width);
    gen_putint(out, s.height);
    gen_putint(out, cell);
    gen_putint(out, cell);
    out.push_back(s.first);
    out.insert(out.end(), s.advance, s.advance + 256);
    std::ofstream file(path, std::ios::binary);
    file.write((const char *)out.data(), (std::streamsize)out.size());
    if (!file)
        gen_fail("cannot write \"%s\"", path.c_str());
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: fontgen <icons.tsv> <output folder>\n");
        return 2;
    }
    if (FT_Init_FreeType(&gen_library))
        gen_fail("%s", "FreeType did not start");
    std::vector<gen_icon> icons = gen_readicons(argv[1]);
    fs::path folder = argv[2];
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        gen_fail("cannot make the folder \"%s\"", argv[2]);
    for (const gen_font &f : gen_fonts) {
        gen_sheet s;
        if (f.face)
            gen_textsheet(f, s);
        else
            gen_iconsheet(f, icons, s);
        gen_writepng(folder / (std::string(f.name) + ".png"), s);
        gen_writedat(folder / (std::string(f.name) + ".dat"), s, f.cell);
    }
    FT_Done_FreeType(gen_library); // closes every face opened
    printf("fontgen: %zu data fonts, %zu icons in \"%s\"\n", sizeof(gen_fonts) / sizeof(gen_fonts[0]), icons.size(),
           argv[2]);
    return 0;
}
