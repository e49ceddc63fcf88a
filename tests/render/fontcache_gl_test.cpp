// Font cache on a real context with workers: the "Aa" icon made on a worker
// through the workers' context (and replaced when the entry is claimed
// again), a data font cached from project bytes and released, and the
// character map's glyph textures with no texture for the space.
#include "fontfixture.h"
#include "render/texture.h"
#include "testlog.h"

#include <cstdlib>

class FontCacheGl : public FontGlTest {
protected:
    // The texture's RGB bytes, read on the test's own context.
    static std::vector<uint8_t> readtexture(int slot)
    {
        const r_textureslot &t = r_textures[slot];
        std::vector<uint8_t> rgb((size_t)t.width * t.height * 3);
        glBindTexture(GL_TEXTURE_2D, t.gltexture);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        return rgb;
    }
};

TEST_F(FontCacheGl, IconIsMadeOnAWorkerWithTheWorkersContext)
{
    struct Case {
        int32_t cursor;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {0,
         {"loading font[0].cache[0] id:0...", "parsing font[0].cache[0] id:0...", "locking render mutex... font[0].cache[0] id:0",
          "...locked render mutex font[0]", "creating icon texture... font[0].cache[0] id:0...",
          "unlocking render mutex... font[0]", "...unlocked render mutex font[0]"}},
        // Claimed again: the stale face, bytes and icon go first.
        {256,
         {"freeing stale cache[0] sysfont[", "freeing stale cache[0] data...", "removing stale icon font[0].cache[0] id:256",
          "...cached font[0].cache[0] id:256"}},
    };
    fontfixture_box expected = fontfixture_magickbox(fontfixture_dejavu, font_claimsize, "Aa");
    ASSERT_GE(expected.x0, 0) << "ImageMagick's convert failed (scripts/deps.sh installs imagemagick)";
    for (const Case &c : cases) {
        testlog_capture log;
        font_cachecursor = c.cursor;
        ASSERT_EQ(font_claimentry(0), 0);
        ASSERT_GE(sys_threadjob("cachesystemfont", job_cachesystemfont, (void *)0), 0);
        ASSERT_TRUE(fontfixture::eventually([] { return font_iscached(0) != 0; })) << log.text();
        for (const std::string &line : c.lines)
            EXPECT_TRUE(log.contains(line)) << line << "\n" << log.text();
        const font_cacherecord &e = font_cacheslot[0];
        EXPECT_STREQ(sys_fontlist[0].name, "DejaVu Sans Book");
        EXPECT_EQ(e.name, sys_fontlist[0].name);
        ASSERT_GE(e.icon, 0);
        EXPECT_EQ((int)r_textures[e.icon].width, e.iconwidth);
        EXPECT_EQ((int)r_textures[e.icon].height, e.iconheight);
        EXPECT_EQ(glIsTexture(r_textures[e.icon].gltexture), GL_TRUE);
        std::vector<uint8_t> rgb = readtexture(e.icon);
        fontfixture_box ink = fontfixture_inkbox(rgb.data(), e.iconwidth, e.iconheight);
        // "Aa" at 48 pixels: about a cap height tall and two letters wide.
        EXPECT_GT(ink.height(), font_claimsize / 2);
        EXPECT_LT(ink.height(), font_claimsize);
        EXPECT_GT(ink.width(), font_claimsize);
        EXPECT_LT(ink.width(), 2 * font_claimsize);
        EXPECT_NEAR(ink.width(), expected.width(), 2);
        EXPECT_NEAR(ink.height(), expected.height(), 2);
    }
}

TEST_F(FontCacheGl, ADataFontCachesFromProjectBytesAndIsReleased)
{
    int32_t size = 0;
    uint8_t *data = (uint8_t *)file_load(fontfixture_dejavu, &size, 0, sys_maxfontbytes);
    ASSERT_NE(data, nullptr);
    sys_fontlist[1] = {nullptr, sys_strdup("DejaVu Sans Book"), 1, 0, 0};
    sys_fontcount = 2;
    int entry = font_claimentry(1, data, size);
    ASSERT_EQ(entry, 0);
    testlog_capture log;
    ASSERT_GE(sys_threadjob("cachedatafont", job_cachedatafont, (void *)1), 0);
    ASSERT_TRUE(fontfixture::eventually([] { return font_iscached(1) != 0; }));
    EXPECT_TRUE(log.contains("caching data font[001] (DejaVu Sans Book)..."));
    EXPECT_EQ(font_flags(entry), font_cached | font_datafont);
    EXPECT_STREQ(sys_fontlist[1].name, "DejaVu Sans Book");
    EXPECT_GE(font_cacheslot[entry].icon, 0);
    // A data font is never claimed for another font while the project holds it.
    EXPECT_NE(font_claimentry(0), entry);
    font_freedata();
    EXPECT_EQ(font_flags(entry), 0u);
    EXPECT_EQ(font_cacheslot[entry].data, nullptr);
    EXPECT_EQ(font_cacheslot[entry].sysfont, -1);
    EXPECT_EQ(sys_fontcount, 1);
}

TEST_F(FontCacheGl, CharacterMapMakesGlyphTexturesAndNoneForTheSpace)
{
    testlog_capture log;
    font_charmap.font = 0;
    font_charmap.size = 32.0f;
    font_charmap.generating = 1;
    ASSERT_GE(sys_threadjob("gencharmap", job_gencharmap, nullptr), 0);
    ASSERT_TRUE(fontfixture::eventually([] { return font_charmap.generating == 0; })) << log.text();
    EXPECT_TRUE(log.contains("...generated charmap ("));
    EXPECT_EQ(font_iscached(0), 1); // the job cached the font it needed
    EXPECT_EQ(font_charmap.textures[0], font_noglyph);
    for (int c = '!'; c <= '~'; c++) {
        int i = c - font_charmapfirst;
        int texture = font_charmap.textures[i];
        ASSERT_GE(texture, 0) << (char)c;
        const r_textureslot &t = r_textures[texture];
        EXPECT_FLOAT_EQ(font_charmap.aspects[i], (float)t.height / (float)t.width) << (char)c;
    }
    // Glyphs at 32 pixels: "M" is about as wide as tall, "|" far taller than wide.
    EXPECT_GT(font_charmap.aspects['M' - font_charmapfirst], 0.8f);
    EXPECT_LT(font_charmap.aspects['M' - font_charmapfirst], 2.0f);
    EXPECT_GT(font_charmap.aspects['|' - font_charmapfirst], 2.5f);
    std::vector<uint8_t> rgb = readtexture(font_charmap.textures['A' - font_charmapfirst]);
    const r_textureslot &a = r_textures[font_charmap.textures['A' - font_charmapfirst]];
    EXPECT_GT(fontfixture_inkbox(rgb.data(), (int)a.width, (int)a.height).height(), 16);
}
