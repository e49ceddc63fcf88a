// The script runner: loads the whole file, then tokenizes it one statement
// line at a time. Lines are copied into a fixed buffer first, so a value can
// never run on into the next line; CR LF line ends and a leading UTF-8 byte
// order mark are taken as editors write them.
#include "sys/script.h"

#include "platform/path.h"
#include "sys/config.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/token.h"
#include "sys/var.h"

#include <cstdio>
#include <cstring>

constexpr int script_linemax = 1024; // bytes of one statement line, terminator included

static char script_name[256]; // the running script's file name, for error reports

// Copies the statement at p (up to NUL, CR or LF) into line and returns its
// end. A longer line keeps its first 1,023 characters: the value comes first,
// and what follows it on a line is ignored anyway.
static const char *script_copyline(const char *p, char *line)
{
    size_t len = strcspn(p, "\r\n");
    if (len > script_linemax - 1) {
        sys_log("script_run: line %d of %s cut to %d characters", token_line, script_name, script_linemax - 1);
        memcpy(line, p, script_linemax - 1);
        line[script_linemax - 1] = 0;
    } else {
        memcpy(line, p, len);
        line[len] = 0;
    }
    return p + len;
}

// Runs one statement line; 0 when a bad value aborts the script.
static int script_statement(const char *line)
{
    const char *p = token_next(line);
    if (token_kind != token_kindword)
        return 1;
    int index = var_find(token_text);
    if (index < 0) {
        snprintf(var_errortext, sizeof(var_errortext), "script_statement: unknown variable/command \"%.900s\"",
                 token_text);
        return 1;
    }
    token_next(p);
    if (token_kind == token_kinderror) {
        snprintf(var_errortext, sizeof(var_errortext), "Unknown value \"%.900s\" for \"%s\"", token_text,
                 var_variables[index].name);
        sys_error("%s\nScript: %s\nLine: %d", var_errortext, script_name, token_line);
        return 0;
    }
    if (token_kind != token_kindend)
        var_parsetoken(index);
    return 1;
}

static int script_execute(const char *text)
{
    static const char bom[] = "\xEF\xBB\xBF";
    if (strncmp(text, bom, 3) == 0)
        text += 3;
    token_line = 1;
    token_comments = 1;
    const char *p = token_skipblank(text);
    while (*p) {
        char line[script_linemax];
        p = script_copyline(p, line);
        if (!script_statement(line))
            return 0;
        p = token_skipblank(p);
    }
    return 1;
}

int script_run()
{
    // Copied with a bound: a damaged configuration file may leave the field
    // without its terminator.
    char path[512];
    const char *field = cfg_gettext(cfg_postpath);
    size_t len = strnlen(field, sizeof(path) - 1);
    memcpy(path, field, len);
    path[len] = 0;
    // Configurations name their posts with Windows separators (the default is
    // "posts\\GRBL (Inches).txt"); here a backslash is a separator too.
    for (char *c = path; *c; c++)
        if (*c == '\\')
            *c = '/';
    sys_log("loading script %s", path);
    int32_t size = 0;
    char *text = (char *)file_load(path, &size, 1, script_maxfilebytes);
    if (!text)
        return 0;
    const char *sep = plat_lastsep(path);
    snprintf(script_name, sizeof(script_name), "%.255s", sep ? sep + 1 : path);
    sys_log("executing %s...", script_name);
    int ok = script_execute(text);
    sys_free(text);
    if (ok)
        sys_log("...%d lines executed", token_line);
    return ok;
}
