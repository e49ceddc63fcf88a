// Text objects on a real context with workers: a text object in DejaVu Sans
// whose font is not cached yet renders "Kerfmill" (the job caches the font,
// its icon made through the workers' context) into an image whose ink box
// matches the size and ImageMagick's.
#include "fontfixture.h"
#include "render/texture.h"
#include "testlog.h"

class TextGl : public FontGlTest {};

TEST_F(TextGl, KerfmillRendersWithAnInkBoxPlausibleForTheSize)
{
    testlog_capture log;
    int slot = text_alloc(0, 16.0f, 0.0f, 100.0f, "Kerfmill");
    ASSERT_GE(slot, 0);
    const int pixels = 64; // (0.5 x 16)^2 x 100 x 0.01
    EXPECT_EQ(text_objects[slot].drawsize, pixels);
    image *img = fontfixture_getimage(slot);
    ASSERT_NE(img, nullptr) << log.text();
    EXPECT_TRUE(log.contains("job_updatetext: text[0] caching font[0] cache[0]..."));
    EXPECT_TRUE(log.contains("locking render mutex... font[0].cache[0] id:0"));
    EXPECT_TRUE(log.contains("reloading text[0] font[0] size:16.00 draw:64..."));
    EXPECT_TRUE(log.contains("...updated text[0]"));
    EXPECT_EQ(text_objects[slot].updated, 1u);
    EXPECT_GE(font_cacheslot[0].icon, 0);
    EXPECT_EQ(font_cacheslot[0].drawsize, pixels);

    fontfixture_box ink = fontfixture_inkbox(img->pixels, img->width, img->height);
    // Inside the one-pixel border of zeros.
    EXPECT_GE(ink.x0, 1);
    EXPECT_GE(ink.y0, 1);
    EXPECT_LE(ink.x1, img->width - 1);
    EXPECT_LE(ink.y1, img->height - 1);
    // No descenders: from the ascenders of "K", "f", "l" down to the
    // baseline, below the size; eight letters of about half the size each.
    EXPECT_GT(ink.height(), pixels * 6 / 10);
    EXPECT_LT(ink.height(), pixels);
    EXPECT_GT(ink.width(), pixels * 5 / 2);
    EXPECT_LT(ink.width(), pixels * 5);
    fontfixture_box expected = fontfixture_magickbox(fontfixture_dejavu, pixels, "Kerfmill");
    ASSERT_GE(expected.x0, 0) << "ImageMagick's convert failed (scripts/deps.sh installs imagemagick)";
    EXPECT_NEAR(ink.width(), expected.width(), 3);
    EXPECT_NEAR(ink.height(), expected.height(), 3);

    text_release(slot);
    EXPECT_EQ(text_objects[slot].font, -1);
    EXPECT_EQ(text_objects[slot].img, nullptr);
    EXPECT_EQ(sys_fontlist[0].uses, 0);
}
