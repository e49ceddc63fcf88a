// The post-processor variables, registered at start-up in their fixed order,
// and the output engine that expands the post's templates into a program.
#include "cam/cnc.h"

#include "sys/config.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/script.h"
#include "sys/var.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

const char *const cnc_postvarnames[cnc_postvarcount] = {
    "Version", "FileExtension", "ReadStart", "ReadStop", "UseRelativeCoord", "UseToolChange", "UseSpindle",
    "UseCoolant", "UseComments", "CommentBegin", "CommentEnd", "UseSequenceNums", "SequenceComments",
    "SequencePrefix", "SequenceDigits", "SequenceStart", "SequenceInc", "Delimiter", "EndOfBlock", "UsePlusSign",
    "TwoDigitTool", "Units", "ModalMotion", "ModalCoord", "ModalCenter", "ModalSpeed", "ModalFeed", "SpeedScale",
    "SpeedMin", "SpeedMax", "SpeedDecimals", "SpeedTrailingZeroes", "FeedScale", "FeedMin", "FeedMax",
    "FeedDecimals", "FeedTrailingZeroes", "MotionScaleX", "MotionScaleY", "MotionScaleZ", "MotionDecimals",
    "MotionTrailingZeroes", "ArcFormat", "ArcCenterFormat", "ArcPlaneYZ", "ArcPlaneXZ", "ArcPlaneXY",
    "ArcSignedRadius", "ArcMaxAngle", "CodeRapid", "CodeLinear", "CodeArcCW", "CodeArcCCW", "CodeYZPlane",
    "CodeXZPlane", "CodeXYPlane", "CodeInches", "CodeMetric", "CodeAbsolute", "CodeRelative", "CodeSpindleCW",
    "CodeSpindleCCW", "CodeSpindleOff", "CodeToolChange", "CodeCoolantMist", "CodeCoolantFlood", "CodeCoolantOff",
    "CodeEndProgram", "RegisterX", "RegisterY", "RegisterZ", "RegisterI", "RegisterJ", "RegisterK", "RegisterR",
    "RegisterSpeed", "RegisterFeed", "RegisterTool", "PrefixBlock", "PostfixBlock", "ToolChangeBlock",
    "SpindleCWBlock", "SpindleCCWBlock", "SpindleOffBlock", "CoolantMistBlock", "CoolantFloodBlock",
    "CoolantOffBlock", "RapidBlock", "LinearBlock", "ArcBlock", "CNC_SEQUENCE", "CNC_UNITS", "CNC_DISTANCE",
    "CNC_PLANE", "CNC_TOOL", "CNC_FEED", "CNC_SPEED", "CNC_X", "CNC_Y", "CNC_Z", "CNC_I", "CNC_J", "CNC_K",
    "CNC_R", "CNC_GCODE",
};

int postvars[cnc_postvarcount];

int cnc_init()
{
    int ok = 1;
    for (int i = 0; i < cnc_postvarcount; i++) {
        postvars[i] = var_new(cnc_postvarnames[i]);
        if (postvars[i] < 0)
            ok = 0;
    }
    return ok;
}

cnc_state cncout;

static var_variable &cnc_var(int position)
{
    return var_variables[postvars[position]];
}

// A number variable's first value; 0 when it holds none.
static float cnc_num(int position)
{
    const var_variable &v = cnc_var(position);
    return v.type == var_numbers && v.count > 0 ? v.numbers[0] : 0.0f;
}

// Rounded half up, so that -1 stays -1.
static int cnc_int(int position)
{
    double r = floor((double)cnc_num(position) + 0.5);
    return r > 1e9 ? 1000000000 : r < -1e9 ? -1000000000 : (int)r;
}

static void cnc_empty(int position)
{
    var_setf(postvars[position], "%s", "");
}

// Expands a variable into out; a failed expansion is reported and leaves
// out empty. Numbers named in templates show the coordinates' decimals.
static int cnc_expand(int position, char *out, int cap)
{
    sys_debuglog("output var[%d] \"%s\"...", position, cnc_postvarnames[position]);
    if (var_writevalue(postvars[position], cncout.decimals, out, cap))
        return 1;
    sys_error("%s", var_errortext);
    out[0] = 0;
    return 0;
}

void *(*cnc_realloc)(void *block, int32_t size) = sys_realloc;

// Marks the open program as having lost text; the first reason is kept, as
// everything after it follows from it.
static void cnc_fail(const char *caller, const char *why, int64_t size)
{
    if (cncout.failure)
        return;
    cncout.failure = why;
    if (size > 0)
        sys_error("%s: %s (%lld bytes): the program will not be written", caller, why, (long long)size);
    else
        sys_error("%s: %s: the program will not be written", caller, why);
}

// Makes room for n more bytes and a terminator; a failed growth leaves the
// text as it was and marks the program failed. Once failed, nothing more is
// appended: the text after a hole is of no use.
static int cnc_reserve(int32_t n)
{
    if (!cncout.text || cncout.failure)
        return 0;
    if (cncout.length + n < cncout.capacity)
        return 1;
    int64_t capacity = cncout.capacity;
    while (cncout.length + n >= capacity)
        capacity *= 2;
    if (capacity > 0x7fffffff) {
        cnc_fail("cnc_reserve", "the program would exceed 2 GB", (int64_t)cncout.length + n + 1);
        return 0;
    }
    char *text = (char *)cnc_realloc(cncout.text, (int32_t)capacity);
    if (!text) {
        cnc_fail("cnc_reserve", "the output buffer could not grow", capacity);
        return 0;
    }
    cncout.text = text;
    cncout.capacity = (int32_t)capacity;
    sys_debuglog("...doubled cnc output buffer size (%db)", cncout.capacity);
    return 1;
}

static void cnc_append(const char *s, int n)
{
    if (n <= 0 || !cnc_reserve(n))
        return;
    memcpy(cncout.text + cncout.length, s, n);
    cncout.length += n;
    cncout.text[cncout.length] = 0;
}

void cnc_write(const char *format, ...)
{
    char line[cnc_textmax];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (n < 0) {
        cnc_fail("cnc_write", "a line could not be formatted", 0);
        return;
    }
    if (n < (int)sizeof(line)) {
        cnc_append(line, n);
        return;
    }
    // Longer than a line: formatted again straight into the grown buffer.
    if (!cnc_reserve(n))
        return;
    va_start(args, format);
    vsnprintf(cncout.text + cncout.length, n + 1, format, args);
    va_end(args);
    cncout.length += n;
}

// Length of a Delimiter or EndOfBlock at p (the longer one first, in case
// one begins with the other); *eob tells which.
static int cnc_separator(const char *p, int *eob)
{
    const cnc_state &c = cncout;
    int dfirst = c.delimiterlen >= c.endofblocklen;
    for (int k = 0; k < 2; k++) {
        int isd = (k == 0) == (dfirst != 0);
        const char *s = isd ? c.delimiter : c.endofblock;
        int n = isd ? c.delimiterlen : c.endofblocklen;
        if (n > 0 && strncmp(p, s, n) == 0) {
            *eob = !isd;
            return n;
        }
    }
    return 0;
}

// Appends text with separators normalised: those at the start are dropped
// and every run of Delimiters and EndOfBlocks becomes one separator, the
// EndOfBlock when the run holds one (so that two blocks never merge into one
// line), else the Delimiter.
static void cnc_normalise(const char *text)
{
    const char *p = text;
    const char *copied = p;
    int started = 0;
    while (*p) {
        int eob = 0;
        int n = cnc_separator(p, &eob);
        if (!n) {
            p++;
            continue;
        }
        cnc_append(copied, (int)(p - copied));
        if (p > copied)
            started = 1;
        int haseob = eob;
        p += n;
        while ((n = cnc_separator(p, &eob)) > 0) {
            haseob |= eob;
            p += n;
        }
        if (started) {
            if (haseob)
                cnc_append(cncout.endofblock, cncout.endofblocklen);
            else
                cnc_append(cncout.delimiter, cncout.delimiterlen);
        }
        copied = p;
    }
    cnc_append(copied, (int)(p - copied));
}

void cnc_block(const char *format, ...)
{
    char line[cnc_blockmax];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    cnc_normalise(line);
}

void cnc_sequence()
{
    char format[32];
    int digits = cnc_int(cnc_sequencedigits);
    if (digits > 0)
        snprintf(format, sizeof(format), "%%s%%0%dd", digits > 20 ? 20 : digits);
    else
        snprintf(format, sizeof(format), "%%s%%d");
    char prefix[var_valuemax];
    cnc_expand(cnc_sequenceprefix, prefix, sizeof(prefix));
    var_setf(postvars[cnc_seqvar], format, prefix, cncout.sequence);
    cncout.sequence += cnc_int(cnc_sequenceinc);
    sys_debuglog("sequence = %s", cnc_var(cnc_seqvar).text);
}

// Writes the numbered prefix of a line ("N0010 " with numbering on) and
// moves CNC_SEQUENCE on to the next number.
static void cnc_numberline()
{
    if (cncout.sequence < 0)
        return;
    cnc_append(cnc_var(cnc_seqvar).text, cnc_var(cnc_seqvar).count);
    cnc_append(cncout.delimiter, cncout.delimiterlen);
    cnc_sequence();
}

// Writes a template: expanded first, so that a template with nothing to
// write (all its words emptied) takes no sequence number.
static void cnc_template(int position)
{
    char block[cnc_blockmax];
    cnc_expand(position, block, sizeof(block));
    const char *p = block;
    int eob = 0, n;
    while ((n = cnc_separator(p, &eob)) > 0)
        p += n;
    if (!*p)
        return;
    cnc_numberline();
    cnc_normalise(p);
}

// Comment text may not hold the characters that end or begin a comment, nor
// a line end: parentheses become brackets, the other characters of the
// comment's own delimiters and line ends become blanks.
static void cnc_commenttext(char *text)
{
    for (char *c = text; *c; c++) {
        if (*c == '(')
            *c = '[';
        else if (*c == ')')
            *c = ']';
        else if (*c == '\n' || *c == '\r')
            *c = ' ';
        else if (*c != ' ' && (strchr(cncout.commentbegin, *c) || strchr(cncout.commentend, *c)))
            *c = ' ';
    }
}

static void cnc_commentline(char *text)
{
    if (!cncout.text || !cncout.usecomments)
        return;
    cnc_commenttext(text);
    if (cncout.sequencecomments)
        cnc_numberline();
    cnc_append(cncout.commentbegin, (int)strlen(cncout.commentbegin));
    cnc_append(text, (int)strlen(text));
    cnc_append(cncout.commentend, (int)strlen(cncout.commentend));
    cnc_append(cncout.endofblock, cncout.endofblocklen);
}

void cnc_comment(const char *format, ...)
{
    char text[cnc_textmax];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    cnc_commentline(text);
}

void cnc_comment(int repetitionx, int repetitiony, float x, float y)
{
    char text[cnc_textmax];
    snprintf(text, sizeof(text), "repetition %d,%d at %.4f,%.4f", repetitionx, repetitiony, x, y);
    cnc_commentline(text);
}

// A number word: Delimiter, register, then the value with the post's sign
// rule, in fixed point.
static void cnc_setword(int position, int registerpos, double value, int decimals, int zeroes)
{
    char number[64];
    var_formatnumber(value, decimals, zeroes, number + 1, sizeof(number) - 1);
    const char *shown = number + 1;
    if (cncout.plussign && number[1] != '-') {
        number[0] = '+';
        shown = number;
    }
    var_setf(postvars[position], "%s%s%s", cncout.delimiter, cnc_var(registerpos).text, shown);
}

static double cnc_steplength(int64_t steps)
{
    return (double)steps * cncout.resolution;
}

static void cnc_setfeed(float feed)
{
    double f = (double)feed * cncout.unitfactor * cnc_num(cnc_feedscale);
    f = fmax(f, (double)cnc_num(cnc_feedmin));
    f = fmin(f, (double)cnc_num(cnc_feedmax));
    cncout.lastfeed = feed;
    cnc_setword(cnc_feedvar, cnc_registerfeed, f, cnc_int(cnc_feeddecimals), cnc_int(cnc_feedzeroes));
}

// Shared by rapids and feed moves: finds the changed axes in whole
// resolution steps, sets their words and writes the template.
static int cnc_move(float pos[3], uint32_t axes, int motion, float feed)
{
    if (!cncout.text)
        return 0;
    int64_t steps[3];
    int changed = 0;
    for (int a = 0; a < 3; a++) {
        double v = (double)pos[a] * cncout.unitfactor * cncout.scale[a];
        steps[a] = (int64_t)floor(v / cncout.resolution + 0.5);
        if ((axes >> a & 1) && (!cncout.known[a] || steps[a] != cncout.last[a]))
            changed |= 1 << a;
    }
    if (!changed)
        return 0;
    if (cncout.motion != motion) {
        cncout.motion = motion;
        char code[var_valuemax];
        cnc_expand(motion == 1 ? cnc_coderapid : cnc_codelinear, code, sizeof(code));
        var_setf(postvars[cnc_gcodevar], "%s%s", cncout.delimiter, code);
    }
    for (int a = 0; a < 3; a++) {
        pos[a] = (float)((double)pos[a] * cncout.unitfactor * cncout.scale[a]);
        if (!(changed >> a & 1)) {
            // Relative words of an unchanged axis would repeat its last
            // distance; the axis stays where it is.
            if (cncout.relative)
                cnc_empty(cnc_xvar + a);
            continue;
        }
        int64_t word = cncout.relative && cncout.known[a] ? steps[a] - cncout.last[a] : steps[a];
        cnc_setword(cnc_xvar + a, cnc_registerx + a, cnc_steplength(word), cncout.decimals, cncout.trailingzeroes);
        cncout.last[a] = steps[a];
        cncout.known[a] = 1;
    }
    if (motion == 2 && (cncout.lastfeed < 0 || fabsf(feed - cncout.lastfeed) >= 1.0f))
        cnc_setfeed(feed);
    cnc_template(motion == 1 ? cnc_rapidblock : cnc_linearblock);
    return 1;
}

int cnc_rapid(float pos[3], uint32_t axes)
{
    return cnc_move(pos, axes, 1, 0);
}

int cnc_linear(float pos[3], float feed, uint32_t axes)
{
    return cnc_move(pos, axes, 2, feed);
}

void cnc_spindle(int mode, int speed)
{
    if (!cncout.text || !cncout.usespindle)
        return;
    if (mode == cncout.spindlemode && speed == cncout.spindlespeed)
        return;
    if (mode == 1 || mode == 2) {
        if (speed != cncout.spindlespeed) {
            cncout.spindlespeed = speed;
            double s = (double)speed * cnc_num(cnc_speedscale);
            s = fmax(s, (double)cnc_num(cnc_speedmin));
            s = fmin(s, (double)cnc_num(cnc_speedmax));
            cnc_setword(cnc_speedvar, cnc_registerspeed, s, cnc_int(cnc_speeddecimals), cnc_int(cnc_speedzeroes));
        }
        cnc_comment(" Spindle: %s %d ", mode == 1 ? "CW" : "CCW", speed);
        cnc_template(mode == 1 ? cnc_spindlecwblock : cnc_spindleccwblock);
    } else {
        mode = 3;
        if (mode == cncout.spindlemode)
            return;
        cnc_comment(" Spindle: %s ", "STOP");
        cnc_template(cnc_spindleoffblock);
    }
    cncout.spindlemode = mode;
}

static void cnc_coolantoff()
{
    if (!cncout.usecoolant || cncout.coolant == 1)
        return;
    cncout.coolant = 1;
    cnc_comment(" Coolant: %s ", "OFF");
    cnc_template(cnc_coolantoffblock);
}

void cnc_varline()
{
    if (!cncout.text)
        return;
    static const int blocks[4] = {cnc_coolantoffblock, cnc_coolantoffblock, cnc_coolantmistblock,
                                  cnc_coolantfloodblock};
    cnc_template(blocks[cncout.coolant >= 1 && cncout.coolant <= 3 ? cncout.coolant : 1]);
}

void cnc_coolanttool(int tool)
{
    if (!cncout.text)
        return;
    cnc_coolantoff();
    cnc_spindle(3, 0);
    if (!cncout.usetoolchange)
        return;
    const char *format = cnc_int(cnc_twodigittool) ? "%s%s%02d" : "%s%s%d";
    var_setf(postvars[cnc_toolvar], format, cncout.delimiter, cnc_var(cnc_registertool).text, cncout.lasttool);
    cnc_comment(" Tool: %d ", tool);
    cnc_template(cnc_toolchangeblock);
    // The machine may be moved by hand or by the changer while the tool is
    // changed: the next moves write every axis, the motion word and the feed
    // again rather than trust the words from before.
    for (int a = 0; a < 3; a++)
        cncout.known[a] = 0;
    cncout.motion = 0;
    cncout.lastfeed = -1;
}

void cnc_varhook(int index)
{
    const cnc_state &c = cncout;
    if (index == postvars[cnc_seqvar]) {
        if (c.sequence >= 0)
            cnc_sequence();
        return;
    }
    int modal = (index == postvars[cnc_feedvar] && c.modalfeed) || (index == postvars[cnc_speedvar] && c.modalspeed) ||
                (index == postvars[cnc_gcodevar] && c.modalmotion);
    for (int a = 0; a < 3; a++)
        modal |= index == postvars[cnc_xvar + a] && c.modalcoord;
    for (int k = cnc_ivar; k <= cnc_rvar; k++)
        modal |= index == postvars[k] && c.modalcenter;
    if (modal)
        var_setf(index, "%s", "");
}

// Reads the post's settings and resets the output state.
static void cnc_resetstate(int units)
{
    cnc_state &c = cncout;
    c.sequence = -1;
    c.delimiterlen = cnc_expand(cnc_delimiter, c.delimiter, sizeof(c.delimiter)) ? (int)strlen(c.delimiter) : 0;
    c.endofblocklen = cnc_expand(cnc_endofblock, c.endofblock, sizeof(c.endofblock)) ? (int)strlen(c.endofblock) : 0;
    cnc_expand(cnc_commentbegin, c.commentbegin, sizeof(c.commentbegin));
    cnc_expand(cnc_commentend, c.commentend, sizeof(c.commentend));
    for (int a = 0; a < 3; a++) {
        c.last[a] = 0;
        c.known[a] = 0;
        c.scale[a] = cnc_num(cnc_motionscalex + a);
    }
    c.lastfeed = -1;
    c.units = units;
    int postunits = cnc_int(cnc_units) + 1;
    c.unitfactor = units == postunits ? 1.0f : units < postunits ? 25.4f : 1.0f / 25.4f;
    c.lasttool = -1;
    c.motion = 0;
    c.plane = 1;
    c.coolant = 1;
    c.spindlemode = 3;
    c.spindlespeed = 0;
    c.decimals = cnc_int(cnc_motiondecimals);
    c.resolution = (float)pow(10.0, -c.decimals);
    c.trailingzeroes = cnc_int(cnc_motionzeroes);
    c.plussign = cnc_int(cnc_useplus);
    c.relative = cnc_int(cnc_userelative);
    c.modalcoord = cnc_int(cnc_modalcoord);
    c.modalfeed = cnc_int(cnc_modalfeed);
    c.modalspeed = cnc_int(cnc_modalspeed);
    c.modalmotion = cnc_int(cnc_modalmotion);
    c.modalcenter = cnc_int(cnc_modalcenter);
    c.usespindle = cnc_int(cnc_usespindle);
    c.usecoolant = cnc_int(cnc_usecoolant);
    c.usecomments = cnc_int(cnc_usecomments);
    c.usetoolchange = cnc_int(cnc_usetoolchange);
    c.sequencecomments = cnc_int(cnc_sequencecomments);
    for (int k = cnc_toolvar; k <= cnc_rvar; k++)
        cnc_empty(k);
}

static void cnc_setnumber(int position, float value)
{
    var_variable &v = cnc_var(position);
    v.type = var_numbers;
    v.count = 1;
    v.numbers[0] = value;
}

// A line of the post's text, written verbatim.
static void cnc_verbatim(int position)
{
    const var_variable &v = cnc_var(position);
    if (v.type == var_text && v.count > 0) {
        cnc_append(v.text, v.count);
        cnc_append("\n", 1);
    }
}

int cnc_begin(const char *postname, int units)
{
    if (cncout.text) {
        sys_error("cnc_begin: already buffering CNC file output!");
        return 0;
    }
    float version = cnc_num(cnc_version);
    if (version < 1.1f) {
        sys_log("defaulting post-processor v1.1 variables...");
        cnc_setnumber(cnc_userelative, 0);
        cnc_setnumber(cnc_usetoolchange, 1);
        cnc_setnumber(cnc_usespindle, 1);
        cnc_setnumber(cnc_usecoolant, 1);
    }
    var_expandhook = cnc_varhook;
    cnc_resetstate(units);
    if (cnc_int(cnc_usesequence)) {
        cncout.sequence = cnc_int(cnc_sequencestart);
        if (cncout.sequence >= 0)
            cnc_sequence();
    }
    if (cncout.sequence < 0) {
        cncout.sequence = -1;
        cnc_empty(cnc_seqvar);
    }
    char word[var_valuemax];
    cnc_expand(cnc_int(cnc_units) ? cnc_codemetric : cnc_codeinches, word, sizeof(word));
    var_setf(postvars[cnc_unitsvar], "%s%s", cncout.delimiter, word);
    cnc_expand(cncout.relative ? cnc_coderelative : cnc_codeabsolute, word, sizeof(word));
    sys_log(cncout.relative ? "USING RELATIVE COORDS" : "USING ABSOLUTE COORDS");
    var_setf(postvars[cnc_distancevar], "%s%s", cncout.delimiter, word);
    cnc_expand(cnc_codexyplane, word, sizeof(word));
    var_setf(postvars[cnc_planevar], "%s%s", cncout.delimiter, word);

    cncout.text = (char *)sys_malloc(cnc_startcapacity);
    if (!cncout.text) {
        sys_error("cnc_begin: failed to allocate output buffer!");
        return 0;
    }
    cncout.capacity = cnc_startcapacity;
    cncout.length = 0;
    cncout.text[0] = 0;
    cncout.failure = nullptr;
    sys_log("...allocated output buffer");
    cnc_verbatim(cnc_readstart);
    cnc_comment(" Generated by: %s v%s ", "Kerfmill", "1.86b");
    cnc_comment(" Post: %s v%1.2f ", postname, version);
    sys_debuglog(cncout.sequence < 0 ? "outputting unsequenced prefix block..." : "outputting sequenced prefix block...");
    cnc_template(cnc_prefixblock);
    sys_debuglog("...output prefix block");
    return 1;
}

int32_t cnc_end(const char *path)
{
    if (!cncout.text) {
        sys_log("cnc_end: no program is open");
        return 0;
    }
    cnc_coolantoff();
    cnc_spindle(3, 0);
    cnc_comment(" End Program ");
    sys_debuglog(cncout.sequence < 0 ? "outputting unsequenced postfix block..." : "outputting sequenced postfix block...");
    cnc_template(cnc_postfixblock);
    cnc_verbatim(cnc_readstop);
    // Linux text mode writes the bytes as they are: LF line ends.
    int32_t written = 0;
    if (cncout.failure)
        sys_error("cnc_end: %s not written: %s", path, cncout.failure);
    else
        written = file_writeall(path, cncout.text, cncout.length);
    sys_free(cncout.text);
    cncout.text = nullptr;
    cncout.length = 0;
    cncout.capacity = 0;
    var_expandhook = nullptr;
    return written;
}

// Whether the variable at a position holds a number (the others hold text).
static int cnc_isnumber(int position)
{
    return position == cnc_version || (position >= cnc_userelative && position <= cnc_usecomments) ||
           position == cnc_usesequence || position == cnc_sequencecomments ||
           (position >= cnc_sequencedigits && position <= cnc_sequenceinc) ||
           (position >= cnc_useplus && position <= 48);
}

// The first reason the loaded post cannot write a program controllers
// read, into why; 1 when there is none.
static int cnc_checkpost(char *why, int cap)
{
    for (int i = 0; i < cnc_postvarcount; i++) {
        const var_variable &v = cnc_var(i);
        if (cnc_isnumber(i) && (v.type != var_numbers || v.count < 1 || !std::isfinite(v.numbers[0]))) {
            snprintf(why, cap, "\"%s\" must be a number", cnc_postvarnames[i]);
            return 0;
        }
    }
    static const int required[] = {cnc_rapidblock, cnc_linearblock, cnc_coderapid, cnc_codelinear, cnc_endofblock,
                                   cnc_registerx, cnc_registerx + 1, cnc_registerx + 2, cnc_registerfeed};
    for (int position : required) {
        const var_variable &v = cnc_var(position);
        if (v.type == var_none || (v.type == var_text && v.count == 0)) {
            snprintf(why, cap, "\"%s\" is not set", cnc_postvarnames[position]);
            return 0;
        }
    }
    struct range {
        int position;
        float low, high;
        const char *rule;
    };
    static const range ranges[] = {
        {cnc_units, 0, 1, "must be 0 (inches) or 1 (metric)"},
        {cnc_motiondecimals, 0, 6, "must be 0 to 6"},
        {cnc_feeddecimals, 0, 6, "must be 0 to 6"},
        {cnc_speeddecimals, 0, 6, "must be 0 to 6"},
    };
    for (const range &r : ranges) {
        float value = cnc_num(r.position);
        if (value < r.low || value > r.high || (r.position == cnc_units && value != floorf(value))) {
            snprintf(why, cap, "\"%s\" %s", cnc_postvarnames[r.position], r.rule);
            return 0;
        }
    }
    for (int a = 0; a < 3; a++)
        if (cnc_num(cnc_motionscalex + a) == 0) {
            snprintf(why, cap, "\"%s\" must not be 0", cnc_postvarnames[cnc_motionscalex + a]);
            return 0;
        }
    if (!(cnc_num(cnc_feedmax) > 0) || cnc_num(cnc_feedmax) < cnc_num(cnc_feedmin)) {
        snprintf(why, cap, "\"FeedMax\" must be above 0 and not below \"FeedMin\"");
        return 0;
    }
    if (cnc_num(cnc_usespindle) != 0 && !(cnc_num(cnc_speedmax) > 0)) {
        snprintf(why, cap, "\"SpeedMax\" must be above 0 when \"UseSpindle\" is set");
        return 0;
    }
    // Every template the engine writes expands, without the output hook.
    static const int templates[] = {
        cnc_commentbegin, cnc_commentend, cnc_sequenceprefix, cnc_delimiter, cnc_endofblock, cnc_coderapid,
        cnc_codelinear, cnc_codexyplane, cnc_codeinches, cnc_codemetric, cnc_codeabsolute, cnc_coderelative,
        cnc_registerx, cnc_registerx + 1, cnc_registerx + 2, cnc_registerspeed, cnc_registerfeed, cnc_registertool,
        cnc_prefixblock, cnc_postfixblock, cnc_toolchangeblock, cnc_spindlecwblock, cnc_spindleccwblock,
        cnc_spindleoffblock, cnc_coolantmistblock, cnc_coolantfloodblock, cnc_coolantoffblock, cnc_rapidblock,
        cnc_linearblock};
    void (*hook)(int) = var_expandhook;
    var_expandhook = nullptr;
    char out[cnc_blockmax];
    int ok = 1;
    for (int position : templates)
        if (!var_writevalue(postvars[position], 4, out, sizeof(out))) {
            snprintf(why, cap, "\"%s\" does not expand: %s", cnc_postvarnames[position], var_errortext);
            ok = 0;
            break;
        } else if (position == cnc_endofblock && !strchr(out, '\n')) {
            snprintf(why, cap, "\"EndOfBlock\" must end a line");
            ok = 0;
            break;
        }
    var_expandhook = hook;
    return ok;
}

int cnc_loadpost()
{
    if (cncout.text) {
        sys_error("cnc_loadpost: a program is being written");
        return 0;
    }
    for (int i = 0; i < cnc_postvarcount; i++) {
        if (postvars[i] < 0 || postvars[i] >= var_count) {
            sys_error("cnc_loadpost: post-processor variables are not registered");
            return 0;
        }
        if (cnc_isnumber(i))
            cnc_setnumber(i, 0);
        else
            cnc_empty(i);
    }
    const char *path = cfg_gettext(cfg_postpath);
    if (!script_run()) {
        sys_error("cnc_loadpost: unable to run post-processor\nPost: %.511s", path);
        return 0;
    }
    char why[var_errormax + 128];
    if (!cnc_checkpost(why, sizeof(why))) {
        sys_error("cnc_loadpost: %s\nPost: %.511s", why, path);
        return 0;
    }
    return 1;
}
