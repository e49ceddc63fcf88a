// The operation editor's working copy and its common rows: loading it from a
// camop and building the flags word back (the two must agree bit for bit,
// or an operation cuts with switches the user never saw), the remembered
// defaults in cfg, and the rows of speeds, feeds, depths and stepover.
#include "mainwindow/opeditor.h"

#include "cam/cam.h"
#include "gui/numbers.h"
#include "sys/config.h"
#include "sys/convert.h"

#include <cstdio>

// ---- working copy ----

int opeditor_takescontours(int type)
{
    return type == 6 || type == 8 || type == 10 || type == 15 || type == 16 || type == 17;
}

void opeditor_load(opeditor_record *r, const camop *op)
{
    r->type = op->type;
    r->coolant = op->coolant;
    r->tool = op->tool;
    r->engagefeed = op->engagefeed;
    r->feed = op->feed;
    r->speed = op->speed;
    r->dir = op->dir;
    r->entry = op->entry;
    r->stock = op->stock;
    r->step = op->step;
    r->z_doc = op->z_doc;
    r->z_max = op->z_max;
    r->z_min = op->z_min;
    r->z_safe = op->z_safe;
    std::memcpy(r->aux, op->aux, sizeof(r->aux));
    const uint32_t f = op->flags;
    r->rest = (f & 0x0001) != 0;
    r->sort = (f & 0x0002) != 0;
    r->link = (f & 0x0004) != 0;
    r->edges = (f & 0x0008) != 0;
    r->outline = (f & 0x0010) != 0;
    r->islands = (f & 0x0020) != 0;
    r->typeoption = (f & 0x0040) != 0;
    r->ignoretool = (f & 0x0080) != 0;
    r->percent = (f & 0x0400) != 0;
    r->invert = (f & 0x0800) != 0;
    r->contourmode = (f & 0x0200) ? 1 : (f & 0x2000) ? 2 : 0;
    r->loadedtype = op->type;
}

uint32_t opeditor_flags(const opeditor_record *r)
{
    uint32_t f = 0;
    f |= r->rest ? 0x0001u : 0u;
    f |= r->sort ? 0x0002u : 0u;
    f |= r->link ? 0x0004u : 0u;
    f |= r->edges ? 0x0008u : 0u;
    f |= r->ignoretool ? 0x0080u : 0u;
    f |= r->percent ? 0x0400u : 0u;
    f |= r->invert ? 0x0800u : 0u;
    // The type-specific bits mean something else, or nothing, to the other
    // generators: a switch left over from an earlier type must not reach them.
    if (r->type == 8) {
        f |= r->outline ? 0x0010u : 0u;
        f |= r->islands ? 0x0020u : 0u;
    }
    if (r->type == 7 || r->type == 13)
        f |= r->typeoption ? 0x0040u : 0u;
    if (opeditor_takescontours(r->type))
        f |= r->contourmode == 1 ? 0x0200u : r->contourmode == 2 ? 0x2000u : 0u;
    return f;
}

void opeditor_store(const opeditor_record *r, camop *op)
{
    op->type = r->type;
    op->coolant = r->coolant;
    op->tool = r->tool;
    op->engagefeed = r->engagefeed;
    op->feed = r->feed;
    op->speed = r->speed;
    op->dir = r->dir;
    op->entry = r->entry;
    op->stock = r->stock;
    op->step = r->step;
    op->z_doc = r->z_doc;
    op->z_max = r->z_max;
    op->z_min = r->z_min;
    op->z_safe = r->z_safe;
    std::memcpy(op->aux, r->aux, sizeof(op->aux));
    op->flags = opeditor_flags(r);
}

// ---- remembered defaults ----

void opeditor_loaddefaults(opeditor_record *r)
{
    r->coolant = cfg_geti(cfg_opcoolant);
    r->tool = cfg_geti(cfg_optool);
    r->engagefeed = cfg_geti(cfg_opengagefeed);
    r->feed = cfg_geti(cfg_opfeed);
    r->speed = cfg_geti(cfg_opspeed);
    r->dir = cfg_geti(cfg_opdir);
    r->stock = cfg_getf(cfg_opstock);
    r->step = cfg_getf(cfg_opstep);
    r->z_doc = cfg_getf(cfg_opdoc);
    r->z_max = cfg_getf(cfg_opmaxdepth);
    r->z_min = cfg_getf(cfg_opmindepth);
    r->z_safe = cfg_getf(cfg_opsafe);
    r->rest = cfg_geti(cfg_oprest) != 0;
    r->sort = cfg_geti(cfg_opsort) != 0;
    r->link = cfg_geti(cfg_oplink) != 0;
    r->edges = cfg_geti(cfg_opedges) != 0;
    r->percent = cfg_geti(cfg_oppercent) != 0;
}

void opeditor_loadtypevalues(opeditor_record *r, int type)
{
    if (type < 1 || type > cfg_opcount)
        return;
    for (int k = 0; k < 3; k++)
        std::memcpy(&r->aux[k], cfg + cfg_opvalues + 4 * (cfg_opcount * k + type - 1), 4);
}

void opeditor_savedefaults(const opeditor_record *r)
{
    cfg_seti(cfg_oplasttype, r->type);
    cfg_seti(cfg_opcoolant, r->coolant);
    cfg_seti(cfg_optool, r->tool);
    cfg_seti(cfg_opengagefeed, r->engagefeed);
    cfg_seti(cfg_opfeed, r->feed);
    cfg_seti(cfg_opspeed, r->speed);
    cfg_seti(cfg_opdir, r->dir);
    cfg_setf(cfg_opstock, r->stock);
    cfg_setf(cfg_opstep, r->step);
    cfg_setf(cfg_opdoc, r->z_doc);
    cfg_setf(cfg_opmaxdepth, r->z_max);
    cfg_setf(cfg_opmindepth, r->z_min);
    cfg_setf(cfg_opsafe, r->z_safe);
    cfg_seti(cfg_oprest, r->rest);
    cfg_seti(cfg_opsort, r->sort);
    cfg_seti(cfg_oplink, r->link);
    cfg_seti(cfg_opedges, r->edges);
    cfg_seti(cfg_oppercent, r->percent);
    if (r->type >= 1 && r->type <= cfg_opcount)
        for (int k = 0; k < 3; k++)
            std::memcpy(cfg + cfg_opvalues + 4 * (cfg_opcount * k + r->type - 1), &r->aux[k], 4);
}

// ---- texts ----

void opeditor_formatlength(char *text, float value, int32_t units)
{
    snprintf(text, opeditor_textsize, "%.*f", (int)gui_unitdecimals(units, value), (double)value);
    str_trimzeros(text);
}

void opeditor_settexts(opeditor_record *r, int32_t units)
{
    snprintf(r->text[opeditor_speedtext], opeditor_textsize, "%d", r->speed);
    snprintf(r->text[opeditor_feedtext], opeditor_textsize, "%d", r->feed);
    snprintf(r->text[opeditor_engagetext], opeditor_textsize, "%d", r->engagefeed);
    opeditor_formatlength(r->text[opeditor_doctext], r->z_doc, units);
    opeditor_formatlength(r->text[opeditor_mintext], r->z_min, units);
    opeditor_formatlength(r->text[opeditor_maxtext], r->z_max, units);
    if (r->percent)
        snprintf(r->text[opeditor_steptext], opeditor_textsize, "%.1f", (double)r->step);
    else
        opeditor_formatlength(r->text[opeditor_steptext], r->step, units);
    opeditor_formatlength(r->text[opeditor_safetext], r->z_safe, units);
    opeditor_formatlength(r->text[opeditor_stocktext], r->stock, units);
}
