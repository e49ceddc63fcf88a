// Test helper: the font state that the font cache and the text objects work
// on, made in the test: FreeType, font records given by path (the
// alphabetical order is the record order), the sysfont, font-cache and image
// mutexes, the cache and the text objects, and a job queue whose workers
// start only when the test asks, so queued jobs can be counted first. For
// the GL tests also their fixture: DejaVu Sans with running workers and the
// workers' shared context. And the ink box that ImageMagick, an independent
// renderer, gives a text, and a bounded wait for a text object's image.
#pragma once
#include "glcontext.h"
#include "img/image.h"
#include "render/fontcache.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "testchild.h"
#include "testtemp.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

static const char *const fontfixture_dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct fontfixture {
    bool workers = false;

    // One record per path (path kind 1), all of them system fonts.
    void start(const std::vector<std::string> &paths)
    {
        sys_quit = 0;
        sys_threadsinit();
        // Jobs allocate and log beside the test: the allocator's total and
        // the log need their locks.
        sys_memmutex = sys_createmutex();
        sys_logmutex = sys_createmutex();
        ASSERT_EQ(sys_initfreetype(), 1);
        sys_fontlist = (sys_fontrecord *)sys_calloc(sys_maxfontfiles, (int32_t)sizeof(sys_fontrecord));
        sys_fontorder = (int32_t *)sys_malloc(sys_maxfontfiles * (int32_t)sizeof(int32_t));
        ASSERT_TRUE(sys_fontlist && sys_fontorder);
        for (int i = 0; i < sys_maxfontfiles; i++)
            sys_fontorder[i] = i;
        sys_fontcount = 0;
        for (const std::string &p : paths)
            sys_fontlist[sys_fontcount++] = {nullptr, sys_strdup(p.c_str()), 1, 0, 0};
        font_systemcount = sys_fontcount;
        font_initcache();
        ASSERT_EQ(text_init(), 1);
        sys_fontmutex = sys_createmutex();
        font_cachemutex = sys_createmutex();
        img_mutex = sys_createmutex();
    }

    void startworkers()
    {
        if (!workers)
            sys_threadsstart(2);
        workers = true;
    }

    // Every wait of the jobs ends on the quit flag, so the workers finish
    // what is queued at once; they are gone before the state they use goes,
    // as in the program's shutdown.
    void stop()
    {
        sys_quit = 1;
        startworkers();
        sys_threadsquit();
        sys_threadsdone();
        workers = false;
        sys_quit = 0;
        for (int i = 0; text_objects && i < text_maxobjects; i++)
            text_objects[i].font = -1;
        sys_quitfonts();
        sys_quitfreetype();
        sys_destroymutex(img_mutex);
        img_mutex = -1;
        sys_destroymutex(sys_logmutex);
        sys_logmutex = -1;
        sys_destroymutex(sys_memmutex);
        sys_memmutex = -1;
        font_systemcount = 0;
    }

    // Fills an entry for a record the way a finished cache job leaves it,
    // without an icon (no GL here).
    static void cache(int font, int entry, const char *path = fontfixture_dejavu)
    {
        font_cacherecord &c = font_cacheslot[entry];
        c.data = (uint8_t *)file_load(path, &c.size, 0, sys_maxfontbytes);
        ASSERT_NE(c.data, nullptr) << "scripts/deps.sh installs fonts-dejavu-core";
        c.sysfont = sys_loadfontmem(c.data, c.size, font_claimsize);
        c.id = entry;
        c.font = font;
        c.flags = font_cached;
        c.drawsize = font_claimsize;
        sys_fontlist[font].cacheid = entry;
    }

    // Waits up to ten seconds for a condition that a worker brings about.
    template <typename F> static bool eventually(F done)
    {
        for (int i = 0; i < 2000 && !done(); i++)
            SDL_Delay(5);
        return done();
    }
};

// DejaVu Sans as the one font record, workers running on the workers'
// shared context, and no textures before or after the test.
class FontGlTest : public GlTest {
protected:
    fontfixture fonts;
    void SetUp() override
    {
        GlTest::SetUp();
        r_cleartextures();
        fonts.start({fontfixture_dejavu});
        ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();
        fonts.startworkers();
    }
    void TearDown() override
    {
        fonts.stop();
        stopworkercontext();
        freetextures();
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
};

// A copy of a file under a temporary name, removed with the object; the
// copy can be removed early to make a font file vanish.
struct fontfixture_copy {
    std::string path;
    explicit fontfixture_copy(const char *source, const char *suffix = ".ttf")
    {
        path = (std::filesystem::temp_directory_path() /
                ("kerfmill-font-" + std::to_string(getpid()) + "-" + std::to_string(count()++) + suffix))
                   .string();
        std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
    }
    ~fontfixture_copy() { remove(path.c_str()); }
    static int &count()
    {
        static int n = 0;
        return n;
    }
};

// The inked box of an RGB image: x0, y0, x1, y1 with exclusive ends; all -1
// when no pixel is inked.
struct fontfixture_box {
    int x0 = -1, y0 = -1, x1 = -1, y1 = -1;
    int width() const { return x1 - x0; }
    int height() const { return y1 - y0; }
};

inline fontfixture_box fontfixture_inkbox(const uint8_t *rgb, int width, int height, int channels = 3)
{
    fontfixture_box b;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            if (!rgb[((size_t)y * width + x) * channels])
                continue;
            if (b.x0 < 0) {
                b = {x, y, x + 1, y + 1};
                continue;
            }
            b.x0 = std::min(b.x0, x);
            b.y0 = std::min(b.y0, y);
            b.x1 = std::max(b.x1, x + 1);
            b.y1 = std::max(b.y1, y + 1);
        }
    return b;
}

// ImageMagick's ink box of a text in a font at a pixel size, or all -1 when
// convert fails (scripts/deps.sh installs it, so the callers fail then) or
// runs longer than a minute.
inline fontfixture_box fontfixture_magickbox(const char *font, int pixels, const char *text)
{
    fontfixture_box b;
    const std::string out = testtemp_file("magickbox");
    if (out.empty())
        return b;
    if (testchild_run({"convert", "-font", font, "-pointsize", std::to_string(pixels), "-density", "72",
                       std::string("label:") + text, "-format", "%@", "info:"},
                      60, out) == 0) {
        int w = 0, h = 0, x = 0, y = 0;
        FILE *f = fopen(out.c_str(), "r");
        if (f && fscanf(f, "%dx%d+%d+%d", &w, &h, &x, &y) == 4)
            b = {x, y, x + w, y + h};
        if (f)
            fclose(f);
    }
    remove(out.c_str());
    return b;
}

// A render that text_getimage(slot, 1) waits for, with a bound: past it the
// watchdog sets the quit flag, which ends every wait of the text objects, and
// the test fails on the timed-out mark rather than hanging.
struct fontfixture_watchdog {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::atomic<bool> timedout{false};
    std::thread watcher;

    explicit fontfixture_watchdog(double seconds = 60)
    {
        watcher = std::thread([this, seconds] {
            std::unique_lock<std::mutex> g(lock);
            if (!done.wait_for(g, std::chrono::duration<double>(seconds), [this] { return finished; })) {
                timedout = true;
                sys_quit = 1;
            }
        });
    }
    ~fontfixture_watchdog()
    {
        {
            std::lock_guard<std::mutex> g(lock);
            finished = true;
        }
        done.notify_all();
        watcher.join();
    }
};

// text_getimage with its wait, failing the test when the render takes more
// than a minute.
inline image *fontfixture_getimage(int slot)
{
    fontfixture_watchdog watchdog;
    image *img = text_getimage(slot, 1);
    EXPECT_FALSE(watchdog.timedout) << "text_getimage(" << slot << ", wait) still waited after a minute";
    return img;
}
