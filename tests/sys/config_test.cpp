// The configuration record: defaults, loading, the version upgrade chain,
// saving whole and the reset to defaults. Every test points the
// configuration path at a temporary folder.
#include "sys/config.h"
#include "sys/main.h"

#include "testlog.h"
#include "testtemp.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

using record = std::vector<uint8_t>;

static void rec_seti(record &r, int offset, int32_t v)
{
    memcpy(r.data() + offset, &v, 4);
}

static void rec_setf(record &r, int offset, float v)
{
    memcpy(r.data() + offset, &v, 4);
}

static int32_t rec_geti(const record &r, int offset)
{
    int32_t v;
    memcpy(&v, r.data() + offset, 4);
    return v;
}

class Config : public testing::Test {
protected:
    fs::path dir;
    char savedpath[sizeof(sys_configpath)];

    void SetUp() override
    {
        const std::string name = testtemp_folder("cfg");
        ASSERT_FALSE(name.empty());
        dir = name;
        memcpy(savedpath, sys_configpath, sizeof(savedpath));
        snprintf(sys_configpath, sizeof(sys_configpath), "%s", (dir / "config.dat").c_str());
    }
    void TearDown() override
    {
        memcpy(sys_configpath, savedpath, sizeof(savedpath));
        memcpy(cfg, cfg_defaults, cfg_size);
        cfg_updated = 0;
        fs::remove_all(dir);
    }
    static record defaults() { return record(cfg_defaults, cfg_defaults + cfg_size); }
    void writefile(const record &r)
    {
        std::ofstream out(sys_configpath, std::ios::binary);
        out.write((const char *)r.data(), (std::streamsize)r.size());
    }
    record readfile() const
    {
        std::ifstream in(sys_configpath, std::ios::binary);
        return record(std::istreambuf_iterator<char>(in), {});
    }
    static record current() { return record(cfg, cfg + cfg_size); }
};

TEST_F(Config, DefaultsFollowTheRecordLayout)
{
    struct Case {
        int offset;
        bool isfloat;
        double value;
    };
    const Case cases[] = {
        {cfg_windowx, false, 20},         {cfg_windowwidth, false, 800},   {cfg_windowmaximised, false, 1},
        {40, true, 0.392157},             {cfg_guipanelalpha, true, 0.985},   {cfg_guifont, false, 6},
        {cfg_fov, true, 45},              {cfg_farfactor, true, 24},       {136, true, 0.533333},
        {cfg_gridsubdiv, true, 0.25},     {cfg_pathmaxlength, true, 0.25}, {304, true, 0.5},
        {cfg_value348, false, 1024},      {cfg_units, false, 1},           {cfg_declinedminor, false, 86},
        {cfg_gpuconvo, false, 1},         {cfg_debuginfo, false, 0},       {cfg_backupinterval, true, 100},
        {cfg_versionmajor, false, 1},     {cfg_versionminor, false, 86},   {cfg_ppi, false, 120},
        {cfg_gpuviewbuffering, false, 1}, {cfg_rightpanelwidth, false, 360}, {cfg_undomemory, false, 256},
        {cfg_cpubudget, true, 0.5},       {cfg_framerate, false, 60},      {cfg_rapidfeed, true, 100},
        {cfg_svgdpi, false, 128},         {cfg_rapidaccel, true, 25},      {cfg_lightyaw, true, -60},
        {22464, false, 0},                {23488, false, 2},               {23488 + 4 * 255, false, 2},
        {24512, false, 0},                {29644, true, 0.588235},
        // A fresh user's first operation generates: no feed or speed of 0.
        {cfg_opfeed, false, 40},          {cfg_opengagefeed, false, 20},   {cfg_opspeed, false, 12000},
        {cfg_opdoc, true, 0.125},         {cfg_opstep, true, 25},          {cfg_oppercent, false, 1},
        {cfg_opsafe, true, 0.1},
    };
    memcpy(cfg, cfg_defaults, cfg_size);
    EXPECT_EQ((uint32_t)cfg_geti(cfg_magic), 0x5A17C3E9u);
    for (const Case &c : cases) {
        if (c.isfloat)
            EXPECT_FLOAT_EQ(cfg_getf(c.offset), (float)c.value) << c.offset;
        else
            EXPECT_EQ(cfg_geti(c.offset), (int)c.value) << c.offset;
    }
    EXPECT_STREQ(cfg_gettext(cfg_postpath), "posts\\GRBL (Inches).txt");
    EXPECT_STREQ(cfg_gettext(cfg_projectpath), "");
    EXPECT_STREQ(cfg_gettext(cfg_toolnames), "None");
    EXPECT_STREQ(cfg_gettext(cfg_toolnames + 255 * cfg_toolnamesize), "None");
}

TEST_F(Config, MissingFileKeepsDefaultsWithoutDebugLog)
{
    testlog_capture log;
    config_init();
    EXPECT_EQ(current(), defaults());
    EXPECT_EQ(cfg_updated, 0);
    EXPECT_TRUE(log.contains("config_init: default version #186"));
    EXPECT_FALSE(log.contains("[ ERROR ]"));
}

TEST_F(Config, SaveThenLoadRoundTripsByteForByte)
{
    config_init();
    cfg_seti(cfg_windowx, -7);
    cfg_setf(cfg_canvassize, 30.5f);
    cfg_seti(3000, 0x7E57); // a byte range the record does not name
    ASSERT_TRUE(cfg_settext(cfg_projectpath, "/home/u/proj.kfm"));
    ASSERT_TRUE(cfg_settext(cfg_toolnames + 3 * cfg_toolnamesize, "1/4 Ball"));
    cfg_seti(cfg_debuginfo, 1); // loading turns it on, so save it on
    record saved = current();
    testlog_capture log;
    ASSERT_EQ(config_save(), 1);
    EXPECT_EQ(readfile(), saved);
    EXPECT_FALSE(fs::exists(std::string(sys_configpath) + ".tmp"));
    EXPECT_TRUE(log.contains("...wrote 29.72kb (" + std::string(sys_configpath) + ")"));
    EXPECT_TRUE(log.contains("...saved configuration (29.72kb)"));

    memset(cfg, 0x5A, cfg_size);
    config_init();
    EXPECT_EQ(current(), saved);
    EXPECT_EQ(cfg_updated, 0);
    EXPECT_TRUE(log.contains("...loaded config version #186"));
}

TEST_F(Config, FileSizeAndMagicDecideWhatIsTaken)
{
    struct Case {
        const char *name;
        size_t size;
        uint32_t magic;
        bool taken;
        bool upgraded; // only a taken whole record carries the old version
    };
    const Case cases[] = {
        {"100 bytes", 100, cfg_magicvalue, true, false},
        {"whole record", cfg_size, cfg_magicvalue, true, true},
        {"longer than the record", cfg_size + 100, cfg_magicvalue, true, true},
        {"wrong magic", cfg_size, 0x12345678, false, false},
        {"too short for a magic", 3, cfg_magicvalue, false, false},
    };
    for (const Case &c : cases) {
        // Every byte differs from the defaults, the version says 1.50.
        record file(c.size > (size_t)cfg_size ? c.size : (size_t)cfg_size, 0);
        for (size_t i = 0; i < file.size(); i++)
            file[i] = (uint8_t)(cfg_defaults[i % cfg_size] ^ 0xA5);
        rec_seti(file, cfg_magic, (int32_t)c.magic);
        rec_seti(file, cfg_windowx, 5);
        rec_seti(file, cfg_versionmajor, 1);
        rec_seti(file, cfg_versionminor, 50);
        file.resize(c.size);
        writefile(file);

        testlog_capture log;
        config_init();
        EXPECT_EQ(cfg_geti(cfg_windowx), c.taken ? 5 : 20) << c.name;
        EXPECT_EQ(cfg_geti(cfg_debuginfo), 1) << c.name;
        EXPECT_EQ(cfg_updated, c.upgraded ? 1 : 0) << c.name;
        EXPECT_EQ(log.contains("[ ERROR ] invalid user configuration version, using defaults"), !c.taken)
            << c.name;
        if (!c.upgraded) {
            // The defaults, with the file's bytes over them when it was taken.
            record want = defaults();
            if (c.taken)
                memcpy(want.data(), file.data(), c.size);
            rec_seti(want, cfg_debuginfo, 1);
            EXPECT_EQ(current(), want) << c.name;
        }
    }
}

// A file far longer than the record is not read at all: the defaults stay
// whole, the debug log stays off as for a missing file, and the file itself
// is left as it was.
TEST_F(Config, OversizedFileIsRefusedAndDefaultsKept)
{
    struct Case {
        size_t size;
        bool taken;
    };
    const Case cases[] = {{(size_t)cfg_maxfilebytes, true}, {(size_t)cfg_maxfilebytes + 1, false}};
    for (const Case &c : cases) {
        record file(c.size, 0x5A);
        memcpy(file.data(), cfg_defaults, cfg_size);
        rec_seti(file, cfg_windowx, 5);
        writefile(file);
        memcpy(cfg, cfg_defaults, cfg_size);

        testlog_capture log;
        config_init();
        EXPECT_EQ(log.contains("file_load: file too large"), !c.taken) << c.size;
        EXPECT_EQ(cfg_geti(cfg_windowx), c.taken ? 5 : 20) << c.size;
        if (!c.taken)
            EXPECT_EQ(current(), defaults()) << c.size;
        EXPECT_EQ(readfile(), file) << c.size;
    }
}

TEST_F(Config, TextsWithoutTerminatorAreCutAtTheirField)
{
    record file = defaults();
    memset(file.data() + cfg_postpath, 'P', 512);
    memset(file.data() + cfg_projectpath, 'Q', 512);
    memset(file.data() + cfg_toolnames, 'T', cfg_toolcount * cfg_toolnamesize);
    writefile(file);
    config_init();
    EXPECT_EQ(strlen(cfg_gettext(cfg_postpath)), 511u);
    EXPECT_EQ(strlen(cfg_gettext(cfg_projectpath)), 511u);
    for (int i = 0; i < cfg_toolcount; i++)
        ASSERT_EQ(strlen(cfg_gettext(cfg_toolnames + i * cfg_toolnamesize)), 63u) << i;
}

// An old record with a marker in every field some upgrade step touches.
static record config_oldfile(int minor, int projunits)
{
    record r(cfg_defaults, cfg_defaults + cfg_size);
    rec_seti(r, cfg_versionmajor, 1);
    rec_seti(r, cfg_versionminor, minor);
    rec_seti(r, cfg_projunits, projunits);
    rec_setf(r, cfg_pathminlength, 0.5f);
    rec_setf(r, cfg_pathmaxlength, 2.0f);
    rec_seti(r, cfg_guifont, 1);
    rec_setf(r, cfg_guipanelalpha, 0.5f);
    rec_setf(r, cfg_nearfactor, 0.3f);
    rec_seti(r, cfg_leftpanelwidth, 111);
    // The rapid feed rate was an integer before 1.54.
    if (minor <= 53)
        rec_seti(r, cfg_rapidfeed, 300);
    else
        rec_setf(r, cfg_rapidfeed, 300.0f);
    rec_setf(r, cfg_viewcolor3, 0.1f);
    rec_setf(r, cfg_viewcolor4, 0.2f);
    rec_seti(r, cfg_value2428, 7);
    rec_seti(r, cfg_value2432, 9);
    rec_setf(r, cfg_backupinterval, 55.0f);
    for (int i = 0; i < 32; i++) {
        snprintf((char *)r.data() + cfg_oldtoolnames + 64 * i, 64, "Old%d", i);
        for (int k = 0; k < 6; k++)
            rec_seti(r, cfg_oldtoolvalues + 128 * k + 4 * i, 1000 * (k + 1) + i);
    }
    snprintf((char *)r.data() + cfg_toolnames, 64, "Kept");
    rec_seti(r, 23488, 77);
    for (int i = 0; i < 48; i++)
        rec_seti(r, cfg_oldopvalues + 4 * i, 500 + i);
    rec_seti(r, cfg_opvalues, -3);
    return r;
}

TEST_F(Config, UpgradeChainAppliesEveryStepUpToItsBound)
{
    struct Case {
        int minor;
        int projunits;
        bool upgraded;
        float minlen, maxlen;
        bool guireset;  // 76..95 and the panel widths back to defaults (1.50)
        bool nearreset; // 1.61
        bool swapped;   // 1.68
        bool cleared2432;
        bool toolsmoved; // 1.79
        bool opsmoved;   // 1.83
    };
    const Case cases[] = {
        {50, 2, true, 0.0254f, 6.35f, true, true, true, true, true, true},
        {50, 1, true, 0.001f, 0.25f, true, true, true, true, true, true},
        {53, 1, true, 0.5f, 2.0f, false, true, true, true, true, true},
        {61, 1, true, 0.5f, 2.0f, false, true, true, true, true, true},
        {63, 1, true, 0.5f, 2.0f, false, false, true, true, true, true},
        {68, 1, true, 0.5f, 2.0f, false, false, true, true, true, true},
        {69, 1, true, 0.5f, 2.0f, false, false, false, true, true, true},
        {78, 1, true, 0.5f, 2.0f, false, false, false, true, true, true},
        {79, 1, true, 0.5f, 2.0f, false, false, false, false, true, true},
        {80, 1, true, 0.5f, 2.0f, false, false, false, false, false, true},
        {83, 1, true, 0.5f, 2.0f, false, false, false, false, false, true},
        {84, 1, true, 0.5f, 2.0f, false, false, false, false, false, false},
        {86, 2, false, 0.5f, 2.0f, false, false, false, false, false, false},
        {90, 2, false, 0.5f, 2.0f, false, false, false, false, false, false},
    };
    for (const Case &c : cases) {
        writefile(config_oldfile(c.minor, c.projunits));
        testlog_capture log;
        config_init();
        std::string at = "version 1." + std::to_string(c.minor);
        EXPECT_EQ(cfg_updated, c.upgraded ? 1 : 0) << at;
        EXPECT_EQ(log.contains("configuring for v1.86b..."), c.upgraded) << at;
        EXPECT_EQ(cfg_geti(cfg_versionminor), c.upgraded ? 86 : c.minor) << at;
        EXPECT_EQ(cfg_geti(cfg_value2428), c.upgraded ? 0 : 7) << at;
        EXPECT_FLOAT_EQ(cfg_getf(cfg_backupinterval), c.upgraded ? 100.0f : 55.0f) << at;
        EXPECT_FLOAT_EQ(cfg_getf(cfg_pathminlength), c.minlen) << at;
        EXPECT_FLOAT_EQ(cfg_getf(cfg_pathmaxlength), c.maxlen) << at;
        EXPECT_FLOAT_EQ(cfg_getf(cfg_rapidfeed), 300.0f) << at;
        EXPECT_EQ(cfg_geti(cfg_guifont), c.guireset ? 6 : 1) << at;
        EXPECT_EQ(cfg_geti(cfg_leftpanelwidth), c.guireset ? 280 : 111) << at;
        EXPECT_FLOAT_EQ(cfg_getf(cfg_nearfactor), c.nearreset ? 0.05f : 0.3f) << at;
        EXPECT_FLOAT_EQ(cfg_getf(cfg_guipanelalpha), c.minor <= 63 ? 0.985f : 0.5f) << at;
        EXPECT_FLOAT_EQ(cfg_getf(cfg_viewcolor3), c.swapped ? 0.2f : 0.1f) << at;
        EXPECT_FLOAT_EQ(cfg_getf(cfg_viewcolor4), c.swapped ? 0.1f : 0.2f) << at;
        EXPECT_EQ(cfg_geti(cfg_value2432), c.cleared2432 ? 0 : 9) << at;

        EXPECT_STREQ(cfg_gettext(cfg_toolnames), c.toolsmoved ? "Old0" : "Kept") << at;
        EXPECT_STREQ(cfg_gettext(cfg_toolnames + 31 * 64), c.toolsmoved ? "Old31" : "None") << at;
        EXPECT_STREQ(cfg_gettext(cfg_toolnames + 32 * 64), "None") << at;
        const int targets[6] = {22464, 24512, 25536, 26560, 27584, 28608};
        for (int k = 0; k < 6; k++)
            EXPECT_EQ(cfg_geti(targets[k] + 4 * 31), c.toolsmoved ? 1000 * (k + 1) + 31 : 0) << at << " " << k;
        EXPECT_EQ(cfg_geti(23488), 77) << at;
        EXPECT_EQ(log.contains("v1.80 reformatting tool lib..."), c.toolsmoved) << at;

        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(cfg_geti(cfg_opvalues + 256 * k + 60), c.opsmoved ? 500 + 16 * k + 15 : 0) << at;
            EXPECT_EQ(cfg_geti(cfg_opvalues + 256 * k + 64), 0) << at;
        }
        EXPECT_EQ(cfg_geti(cfg_opvalues), c.opsmoved ? 500 : -3) << at;
        EXPECT_EQ(cfg_geti(cfg_debuginfo), 1) << at;
    }
}

TEST_F(Config, FailedSaveLeavesTheOldFile)
{
    struct Case {
        const char *name;
        bool tempblocked; // the temporary file cannot be created
        const char *logline;
    };
    const Case cases[] = {
        {"temporary file cannot be opened", true, "...unable to open"},
        {"cannot replace the configuration", false, "...failed writing 29.72kb"},
    };
    for (const Case &c : cases) {
        fs::remove_all(sys_configpath);
        fs::remove_all(std::string(sys_configpath) + ".tmp");
        if (c.tempblocked) {
            writefile(record(10, 0x11));
            fs::create_directory(std::string(sys_configpath) + ".tmp");
        } else {
            // A folder in the file's place cannot be replaced by a file.
            fs::create_directory(sys_configpath);
            fs::create_directory(std::string(sys_configpath) + "/keep");
        }
        testlog_capture log;
        EXPECT_EQ(config_save(), 0) << c.name;
        EXPECT_TRUE(log.contains(c.logline)) << c.name;
        EXPECT_TRUE(log.contains("[ ERROR ] failed writing configuration to \"" + std::string(sys_configpath) + "\""))
            << c.name;
        if (c.tempblocked)
            EXPECT_EQ(readfile(), record(10, 0x11)) << c.name;
        else
            EXPECT_FALSE(fs::exists(std::string(sys_configpath) + ".tmp")) << c.name;
    }
}

TEST_F(Config, DefaultKeepsTheUsersChoicesAndSaves)
{
    memcpy(cfg, cfg_defaults, cfg_size);
    cfg_seti(cfg_termsaccepted, 1);
    cfg_seti(cfg_units, 2);
    cfg_setf(cfg_gridsubdiv, 0.5f);
    cfg_seti(cfg_projunits, 2);
    ASSERT_TRUE(cfg_settext(cfg_toolnames + 64 * 200, "V 60"));
    cfg_seti(cfg_toolvalues + 4 * 7, 42);
    cfg_seti(cfg_toollibend - 4, 43);
    cfg_seti(cfg_windowwidth, 1234);
    cfg_seti(cfg_debuginfo, 1);
    ASSERT_TRUE(cfg_settext(cfg_postpath, "posts/other.txt"));
    record kept = current();

    testlog_capture log;
    config_default();
    EXPECT_TRUE(log.contains("GRIDSUBDIV:0.500000 PROJUNITS:2 UNITS:2"));
    EXPECT_TRUE(log.contains("[ STATUS ] ...defaulted configuration"));
    record want = defaults();
    for (int off : {(int)cfg_termsaccepted, (int)cfg_units, (int)cfg_gridsubdiv, (int)cfg_projunits})
        rec_seti(want, off, rec_geti(kept, off));
    memcpy(want.data() + cfg_toollib, kept.data() + cfg_toollib, cfg_toollibend - cfg_toollib);
    EXPECT_EQ(current(), want);
    EXPECT_EQ(readfile(), want);
}

TEST_F(Config, SetTextRefusesWhatDoesNotFit)
{
    struct Case {
        int offset;
        size_t length;
        int result;
    };
    const Case cases[] = {
        {cfg_postpath, 511, 1},
        {cfg_postpath, 512, 0},
        {cfg_toolnames + 64 * 255, 63, 1},
        {cfg_toolnames + 64 * 255, 64, 0},
        {cfg_toolnames + 10, 3, 0}, // inside a name, not at its start
        {cfg_windowx, 1, 0},
    };
    for (const Case &c : cases) {
        memcpy(cfg, cfg_defaults, cfg_size);
        std::string text(c.length, 'x');
        EXPECT_EQ(cfg_settext(c.offset, text.c_str()), c.result) << c.offset << " " << c.length;
        if (c.result)
            EXPECT_EQ(cfg_gettext(c.offset), text);
        else
            EXPECT_EQ(current(), defaults()) << c.offset << " " << c.length;
    }
}

// The capacity of a text field as cfg_settext sees it: one more than the
// longest text it takes.
static int textcapacity(int offset)
{
    std::string text;
    while (text.size() < 4096 && cfg_settext(offset, (text + "x").c_str()))
        text += "x";
    return (int)text.size() + 1;
}

TEST_F(Config, NamedFieldsDoNotOverlap)
{
    struct Field {
        const char *name;
        int offset;
        int size; // bytes; 0: a text, measured, times count
        int count = 1;
    };
    const Field fields[] = {
        {"magic", cfg_magic, 4}, {"termsaccepted", cfg_termsaccepted, 4}, {"windowx", cfg_windowx, 4},
        {"windowy", cfg_windowy, 4}, {"windowwidth", cfg_windowwidth, 4}, {"windowheight", cfg_windowheight, 4},
        {"windowmaximised", cfg_windowmaximised, 4}, {"guitextcolour", cfg_guitextcolour, 12},
        {"guihitextcolour", cfg_guihitextcolour, 12}, {"guiwidgetcolour", cfg_guiwidgetcolour, 12},
        {"guipanelcolour", cfg_guipanelcolour, 12}, {"guipanelalpha", cfg_guipanelalpha, 4},
        {"guishadestep", cfg_guishadestep, 4}, {"guispacing", cfg_guispacing, 4}, {"guipadding", cfg_guipadding, 4},
        {"guiborderwidth", cfg_guiborderwidth, 4}, {"guifont", cfg_guifont, 4},
        {"guishowinputs", cfg_guishowinputs, 4}, {"fov", cfg_fov, 4}, {"nearfactor", cfg_nearfactor, 4},
        {"farfactor", cfg_farfactor, 4}, {"perspective", cfg_perspective, 4},
        {"swapcamerabuttons", cfg_swapcamerabuttons, 4}, {"backgroundcolor2", cfg_backgroundcolor2, 12},
        {"backgroundcolor1", cfg_backgroundcolor1, 12}, {"viewcolor1", cfg_viewcolor1, 12},
        {"viewcolor2", cfg_viewcolor2, 12}, {"viewcolor3", cfg_viewcolor3, 12}, {"viewcolor4", cfg_viewcolor4, 12},
        {"viewcolor5", cfg_viewcolor5, 12}, {"viewcolor6", cfg_viewcolor6, 12}, {"viewcolor7", cfg_viewcolor7, 12},
        {"viewcolor8", cfg_viewcolor8, 12}, {"gridmajoralpha", cfg_gridmajoralpha, 4}, {"gridminoralpha", cfg_gridminoralpha, 4}, {"gridsubdiv", cfg_gridsubdiv, 4},
        {"value276", cfg_value276, 4}, {"pathminlength", cfg_pathminlength, 4},
        {"pathmaxlength", cfg_pathmaxlength, 4}, {"canvassize", cfg_canvassize, 12},
        {"canvasorigin", cfg_canvasorigin, 12}, {"value348", cfg_value348, 4}, {"value352", cfg_value352, 4},
        {"oplasttype", cfg_oplasttype, 4}, {"opcoolant", cfg_opcoolant, 4}, {"optool", cfg_optool, 4},
        {"opengagefeed", cfg_opengagefeed, 4}, {"opfeed", cfg_opfeed, 4}, {"opspeed", cfg_opspeed, 4},
        {"opdir", cfg_opdir, 4}, {"opstock", cfg_opstock, 4}, {"opstep", cfg_opstep, 4}, {"opdoc", cfg_opdoc, 4},
        {"opmaxdepth", cfg_opmaxdepth, 4}, {"opmindepth", cfg_opmindepth, 4}, {"opsafe", cfg_opsafe, 4},
        {"oprest", cfg_oprest, 4}, {"opsort", cfg_opsort, 4}, {"oplink", cfg_oplink, 4},
        {"opedges", cfg_opedges, 4}, {"oppercent", cfg_oppercent, 4},
        {"oldopvalues", cfg_oldopvalues, 3 * 16 * 4}, {"units", cfg_units, 4},
        {"antialiasing", cfg_antialiasing, 4}, {"canvasquality", cfg_canvasquality, 4},
        {"canvasgeometry", cfg_canvasgeometry, 4}, {"declinedmajor", cfg_declinedmajor, 4},
        {"declinedminor", cfg_declinedminor, 4}, {"gpuconvo", cfg_gpuconvo, 4}, {"debuginfo", cfg_debuginfo, 4},
        {"postpath", cfg_postpath, 0}, {"projectpath", cfg_projectpath, 0}, {"toollibpath", cfg_toollibpath, 0},
        {"backupinterval", cfg_backupinterval, 4}, {"autobackup", cfg_autobackup, 4},
        {"versionmajor", cfg_versionmajor, 4}, {"versionminor", cfg_versionminor, 4}, {"ppi", cfg_ppi, 4},
        {"snaptogrid", cfg_snaptogrid, 4}, {"viewmode2d", cfg_viewmode2d, 4}, {"value2428", cfg_value2428, 4},
        {"value2432", cfg_value2432, 4}, {"gpuviewbuffering", cfg_gpuviewbuffering, 4},
        {"oldtoolnames", cfg_oldtoolnames, 32 * 64}, {"oldtoolvalues", cfg_oldtoolvalues, 6 * 32 * 4},
        {"leftpanelwidth", cfg_leftpanelwidth, 4}, {"rightpanelwidth", cfg_rightpanelwidth, 4},
        {"showgrid", cfg_showgrid, 4}, {"undomemory", cfg_undomemory, 4}, {"value5316", cfg_value5316, 4},
        {"value5360", cfg_value5360, 4}, {"cpubudget", cfg_cpubudget, 4}, {"framerate", cfg_framerate, 4},
        {"projunits", cfg_projunits, 4}, {"rapidfeed", cfg_rapidfeed, 4}, {"svgdpi", cfg_svgdpi, 4},
        {"canvascurve", cfg_canvascurve, 4}, {"simcurve", cfg_simcurve, 4}, {"rapidaccel", cfg_rapidaccel, 4},
        {"trochoidstep", cfg_trochoidstep, 4}, {"selectopacity", cfg_selectopacity, 4},
        {"selectsolid", cfg_selectsolid, 4}, {"lightyaw", cfg_lightyaw, 4}, {"lightpitch", cfg_lightpitch, 4},
        {"dxftolerance", cfg_dxftolerance, 4}, {"dxfautojoin", cfg_dxfautojoin, 4},
        {"tracezplane", cfg_tracezplane, 4}, {"traceoffset", cfg_traceoffset, 4},
        {"traceerror", cfg_traceerror, 4}, {"smallviewbuttons", cfg_smallviewbuttons, 4},
        {"toolpathocclusion", cfg_toolpathocclusion, 4}, {"exportmode", cfg_exportmode, 4},
        {"exportopen", cfg_exportopen, 4}, {"exportrepeatx", cfg_exportrepeatx, 4},
        {"exportrepeaty", cfg_exportrepeaty, 4}, {"exportspacingx", cfg_exportspacingx, 4},
        {"exportspacingy", cfg_exportspacingy, 4}, {"gloss", cfg_gloss, 4},
        {"shadecontrast", cfg_shadecontrast, 4}, {"boundarythickness", cfg_boundarythickness, 4},
        {"pathsthickness", cfg_pathsthickness, 4}, {"gridthickness", cfg_gridthickness, 4},
        {"highquality", cfg_highquality, 4}, {"keepview", cfg_keepview, 4}, {"showallpaths", cfg_showallpaths, 4},
        {"fastview", cfg_fastview, 4}, {"fittocanvas", cfg_fittocanvas, 4},
        {"physicalsvgunits", cfg_physicalsvgunits, 4}, {"lasttooltype", cfg_lasttooltype, 4},
        {"tooldeftotal", cfg_tooldeftotal, 16}, {"tooldefflute", cfg_tooldefflute, 16},
        {"tooldefdiameter", cfg_tooldefdiameter, 16}, {"tooldefvalue", cfg_tooldefvalue, 16},
        {"tooldeframp", cfg_tooldeframp, 16}, {"openpath", cfg_openpath, 0, 1}, {"toolnames", cfg_toolnames, 0, cfg_toolcount},
        {"toolvalues", cfg_toolvalues, 7 * 1024}, {"appearcolor1", cfg_appearcolor1, 12},
        {"appearcolor2", cfg_appearcolor2, 12}, {"opvalues", cfg_opvalues, 3 * 256},
    };
    struct span {
        const char *name;
        int from, to;
    };
    std::vector<span> spans;
    for (const Field &f : fields) {
        int size = f.size ? f.size : textcapacity(f.offset) * f.count;
        spans.push_back({f.name, f.offset, f.offset + size});
    }
    std::sort(spans.begin(), spans.end(), [](const span &a, const span &b) { return a.from < b.from; });
    for (size_t i = 0; i < spans.size(); i++) {
        EXPECT_LE(spans[i].to, cfg_size) << spans[i].name;
        if (i > 0)
            EXPECT_LE(spans[i - 1].to, spans[i].from) << spans[i - 1].name << " runs into " << spans[i].name;
    }
    // The tool library is the block of the names and the values.
    EXPECT_EQ(cfg_toollib, cfg_toolnames);
    EXPECT_EQ(cfg_toolvalues + 7 * 1024, cfg_toollibend);
}
