// Test helper for the undo replay and the editors: an empty project of 12 x
// 6 x 1.5 units and 8 x 4 pixels, the event ring, a text-object table over
// two fonts that exist only as records (no render is ever queued), layers of
// each type made by hand, and a canonical dump of everything an undo must
// restore, compared byte for byte.
#pragma once
#include "geom/model.h"
#include "geom/path.h"
#include "geom/pathsel.h"
#include "img/chunk.h"
#include "img/image.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/transform.h"
#include "project/undo.h"
#include "render/sysfont.h"
#include "render/text.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/mem.h"
#include "sys/msg.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

class UndoProject : public testing::Test {
public:
    testlog_capture log;
    int32_t fontorder[2] = {0, 1};

    // Tables may set the fixture up again inside one test: everything is
    // released first.
    void SetUp() override
    {
        TearDown();
        for (int i = 0; i < project_maxlayers; i++) {
            project_layer &l = project.layers[i];
            memset(&l, 0, sizeof(l));
            snprintf(l.name, sizeof(l.name), "Unused Layer");
            l.uid = 0xFFFFFFFFu;
        }
        numlayers = 0;
        memset(numlayertypes, 0, sizeof(numlayertypes));
        memset(project_meshuses, 0, sizeof(project_meshuses));
        project_selectedlayer = -1;
        project_selectlayer = -1;
        project_layergroup = 0;
        project_rastertool = -1;
        project_saved = 1;
        const float size[3] = {12.0f, 6.0f, 1.5f}, frac[3] = {0.0f, 0.0f, 1.0f};
        memcpy(project.size, size, sizeof(size));
        memcpy(project.originfrac, frac, sizeof(frac));
        memset(project.originoffset, 0, sizeof(project.originoffset));
        project.zfill = 0.0f;
        project.ppi = 100;
        project.aspect = 0.5f;
        project.pixelwidth = 8;
        project.pixelheight = 4;
        sys_time = 1.0;
        event_free();
        ASSERT_EQ(event_alloc(), 1);
        ASSERT_EQ(text_init(), 1);
        sys_fontlist = (sys_fontrecord *)sys_calloc(2, (int32_t)sizeof(sys_fontrecord));
        sys_fontcount = 2;
        sys_fontorder = fontorder;
        layer_meshmodel = nullptr;
        project_selectiontexture = nullptr;
        job_refreshtexture = nullptr;
        p_clearselection(nullptr);
        p_selcurves.count = p_selknots.count = -1;
        memset(project_pathpanels, 0, sizeof(project_pathpanels));
        project_textlayeredit = -1;
    }
    void TearDown() override
    {
        p_clearselection(nullptr);
        p_selcurves.count = p_selknots.count = -1;
        for (int i = 0; i < project_maxlayers; i++)
            if (project.layers[i].type != layer_free)
                project_layerfree(i);
        for (int i = 0; i < mdl_maxmodels; i++)
            mdl_free(i);
        img_free(selectionmap);
        selectionmap = nullptr;
        text_quit();
        sys_free(sys_fontlist);
        sys_fontlist = nullptr;
        sys_fontorder = nullptr;
        sys_fontcount = 0;
        event_free();
        project_selectedlayer = -1;
        sys_time = 0.0;
    }

    // ------------------------------------------------------ making layers

    static int rasterlayer(float value)
    {
        int s = project_layeralloc(layer_raster);
        if (s < 0)
            return -1;
        image *img = img_allocfloat("r", 8, 4);
        float *px = (float *)img->pixels;
        for (int i = 0; i < 32; i++)
            px[i] = value + 0.01f * (float)i;
        project.layers[s].data.img = img;
        return s;
    }
    // A paths-layer of n open three-knot curves and one closed four-knot one.
    static int pathslayer(int n, float shift)
    {
        int s = project_layeralloc(layer_paths);
        if (s < 0)
            return -1;
        path *p = path_new();
        for (int c = 0; c <= n; c++) {
            int d = path_newcurve(p);
            bool closed = c == n;
            for (int k = 0; k < (closed ? 4 : 3); k++) {
                float x = k == 3 ? 0.0f : 0.1f * (float)k, y = k == 1 && closed ? 0.3f : 0.05f * (float)c;
                const float pt[3] = {x + shift - 0.4f, y - 0.4f + (closed ? 0.2f : 0.0f), 0.0f};
                path_prependknot(p, d, pt);
            }
            p->curves[d].closed = closed;
        }
        project.layers[s].data.pth = p;
        return s;
    }
    static int modellayer(float scale)
    {
        int s = project_layeralloc(layer_model);
        if (s < 0)
            return -1;
        int m = mdl_alloc();
        // Capacities as a read gives them back (they are carried by the raw
        // form, and cut back to the counts when far beyond them).
        mdl_reserve(4, 2);
        const float v[4][3] = {{0, 0, 0}, {scale, 0, 0}, {0, scale, 0}, {0, 0, scale}};
        for (const auto &p : v)
            mdl_vert(p);
        mdl_face(0, 1, 2);
        mdl_face(0, 2, 3);
        project.layers[s].data.mesh = m;
        project_meshuses[m]++;
        return s;
    }
    static int textlayer(const char *text, int font)
    {
        int s = project_layeralloc(layer_text);
        if (s < 0)
            return -1;
        int t = 0;
        while (t < text_maxobjects && text_objects[t].font >= 0)
            t++;
        text_object &o = text_objects[t];
        snprintf(o.text, sizeof(o.text), "%s", text);
        o.hash = text_hash(o.text);
        o.font = font;
        o.ptsize = 25.0f;
        o.drawsize = 156;
        o.spacing = 0.5f;
        sys_fontlist[font].uses++;
        project.layers[s].data.text = t;
        return s;
    }
    static int anylayer(int type, float v)
    {
        switch (type) {
        case layer_raster:
            return rasterlayer(v);
        case layer_paths:
            return pathslayer(2, v);
        case layer_model:
            return modellayer(1.0f + v);
        default:
            return textlayer(v > 0.5f ? "Kerf" : "Mill", v > 0.5f ? 1 : 0);
        }
    }

    // ----------------------------------------------------------- blobs

    struct blob {
        std::vector<uint8_t> bytes;
        int32_t size() const { return (int32_t)bytes.size(); }
        const void *data() const { return bytes.empty() ? nullptr : bytes.data(); }
    };
    template <typename F> static blob writeblob(F fn)
    {
        msg_stream m;
        EXPECT_TRUE(msg_alloc(&m, 65536));
        EXPECT_TRUE(fn(&m));
        blob b{std::vector<uint8_t>(m.buffer, m.buffer + m.position)};
        sys_free(m.buffer);
        return b;
    }
    // The newest event of the ring as its two blobs.
    static const event &lastevent() { return event_ring[(event_end - 1) % event_slots]; }

    // ------------------------------------------------------------- dump

    static void put(std::string &s, const void *p, size_t n) { s.append((const char *)p, n); }

    // A free slot is only free: what it held before does not matter.
    static std::string layerdump(int slot)
    {
        project_layer r = project.layers[slot];
        if (r.type == layer_free)
            return "free;";
        r.data.img = nullptr;
        r.depth = nullptr;
        r.stale = 0;
        r.rendermodel = 0;
        std::string s((const char *)&r, sizeof(r));
        msg_stream m;
        msg_alloc(&m, 4096);
        switch (r.type) {
        case layer_raster:
            img_write(&m, project.layers[slot].data.img);
            break;
        case layer_paths:
            msg_writepath(&m, project.layers[slot].data.pth);
            put(s, project.layers[slot].data.pth->csel, (size_t)(project.layers[slot].data.pth->csz + 7) >> 3);
            put(s, project.layers[slot].data.pth->ksel, (size_t)(project.layers[slot].data.pth->ksz + 7) >> 3);
            break;
        case layer_model:
            model_write(&m, project.layers[slot].data.mesh, 0);
            break;
        case layer_text: {
            int t = project.layers[slot].data.text;
            if (t >= 0) {
                const text_object &o = text_objects[t];
                s += o.text;
                put(s, &o.font, 4);
                put(s, &o.ptsize, 4);
                put(s, &o.drawsize, 4);
                put(s, &o.spacing, 4);
            }
            break;
        }
        }
        put(s, m.buffer, (size_t)m.position);
        sys_free(m.buffer);
        return s;
    }

    static std::string selectiondump()
    {
        std::string s;
        put(s, &p_selcurves.count, 4);
        put(s, &p_selknots.count, 4);
        for (int32_t c : p_selcurves.curves)
            if (c != -1)
                put(s, &c, 4);
        s += "|";
        for (int x = p_curveknots.last, n = 0; x != -1 && n < p_maxcurveknots; x = p_curveknots.entries[x].prev, n++)
            put(s, &p_curveknots.entries[x], 8);
        s += "|";
        for (int x = p_selknots.last, n = 0; x != -1 && n < p_maxselknots; x = p_selknots.entries[x].prev, n++)
            put(s, &p_selknots.entries[x], 8);
        return s;
    }

    // Where two dumps first differ, by the section marker before it.
    static testing::AssertionResult same(const std::string &a, const std::string &b)
    {
        if (a == b)
            return testing::AssertionSuccess();
        size_t i = 0;
        while (i < a.size() && i < b.size() && a[i] == b[i])
            i++;
        size_t mark = a.rfind('<', i);
        std::string section = mark == std::string::npos ? "canvas" : a.substr(mark, a.find('>', mark) - mark + 1);
        return testing::AssertionFailure() << "dumps of " << a.size() << " and " << b.size() << " bytes differ at "
                                           << i << ", " << (mark == std::string::npos ? i : i - mark)
                                           << " bytes into " << section;
    }

    // Everything an undo must restore, the resolution apart.
    static std::string dump()
    {
        std::string s;
        put(s, project.size, 12);
        put(s, project.originfrac, 12);
        put(s, &project.zfill, 4);
        put(s, project.originoffset, 12);
        put(s, &numlayers, 4);
        put(s, numlayertypes, sizeof(numlayertypes));
        put(s, project_meshuses, sizeof(project_meshuses));
        for (int i = 0; i < project_maxlayers; i++)
            s += "<L" + std::to_string(i) + ">" + layerdump(i);
        s += "<selection>";
        s += selectiondump();
        put(s, project_pathpanels, sizeof(project_pathpanels));
        if (selectionmap) {
            msg_stream m;
            msg_alloc(&m, 4096);
            img_write(&m, selectionmap);
            put(s, m.buffer, (size_t)m.position);
            sys_free(m.buffer);
        }
        return s;
    }
};
