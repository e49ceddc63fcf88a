// Message boxes through SDL_ShowMessageBox, else through zenity, or answered
// by the test seam. SDL's X11 box needs the server's core fonts and never
// wraps its text, so every text is wrapped here first: a box then fits a
// 1024 x 768 screen whichever of the two draws it.
#include "platform/msgbox.h"

#include "platform/seam.h"
#include "platform/shell.h"
#include "sys/log.h"
#include "sys/main.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

static int msgbox_seamanswer(const char *caption, const char *text, int *answer)
{
    char word[32];
    if (!plat_seamnext("KERFMILL_MSGBOX_ANSWERS", ',', word, sizeof(word)))
        return 0;
    *answer = strcmp(word, "ok") == 0 || strcmp(word, "yes") == 0;
    sys_log("msgbox seam: \"%s\" \"%s\" = %s", caption, text, word);
    return 1;
}

// Characters, not bytes: a UTF-8 sequence counts once.
static int msgbox_chars(const std::string &s)
{
    int n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// Bytes of the first n characters of s.
static size_t msgbox_prefix(const std::string &s, int n)
{
    size_t at = 0;
    for (int i = 0; i < n && at < s.size(); i++) {
        at++;
        while (at < s.size() && ((unsigned char)s[at] & 0xC0) == 0x80)
            at++;
    }
    return at;
}

// One line of the text (no '\n' in it) as lines of at most width characters.
// The blanks at a break are dropped; a paragraph's indentation is kept.
static void msgbox_wrapline(const std::string &line, int width, std::string *out)
{
    std::string cur;
    int used = 0;
    bool hasword = false, broken = false;
    auto flush = [&] {
        *out += cur + "\n";
        cur.clear();
        used = 0;
        hasword = false;
        broken = true;
    };
    for (size_t at = 0; at < line.size();) {
        size_t start = line.find_first_not_of(' ', at);
        if (start == std::string::npos)
            break; // trailing blanks show nothing
        size_t end = std::min(line.find(' ', start), line.size());
        std::string gap = broken && !hasword ? "" : line.substr(at, start - at);
        std::string word = line.substr(start, end - start);
        at = end;
        int g = msgbox_chars(gap), w = msgbox_chars(word);
        if (hasword && used + g + w > width) {
            flush();
            gap.clear();
            g = 0;
        }
        // A word longer than a line (a path, an address) is cut, or the box
        // would be as wide as the word.
        while (used + g + w > width) {
            int room = width - used - g;
            if (room <= 0) {
                gap.clear();
                g = 0;
                room = width - used;
            }
            size_t cut = msgbox_prefix(word, room);
            cur += gap + word.substr(0, cut);
            flush();
            word.erase(0, cut);
            w = msgbox_chars(word);
            gap.clear();
            g = 0;
        }
        cur += gap + word;
        used += g + w;
        hasword = true;
    }
    *out += cur;
}

std::string plat_wraptext(const char *text, int width)
{
    std::string out;
    if (!text)
        return out;
    if (width < 1)
        width = 1;
    for (const char *line = text;;) {
        const char *end = strchr(line, '\n');
        if (!end)
            end = line + strlen(line);
        msgbox_wrapline(std::string(line, end), width, &out);
        if (!*end)
            return out;
        out += '\n';
        line = end + 1;
    }
}

// How each icon kind is shown: SDL's flag (SDL has no question icon), the
// zenity dialog of an OK-only box and the icon of a question box.
struct msgbox_iconkind {
    int icon;
    Uint32 sdlflag;
    const char *zenitykind, *zenityicon;
};
static const msgbox_iconkind msgbox_icons[] = {
    {3, SDL_MESSAGEBOX_INFORMATION, "--info", "dialog-information"},
    {4, SDL_MESSAGEBOX_WARNING, "--warning", "dialog-warning"},
    {5, SDL_MESSAGEBOX_INFORMATION, "--info", "dialog-question"},
    {6, SDL_MESSAGEBOX_ERROR, "--error", "dialog-error"},
};

static const msgbox_iconkind &msgbox_icon(int icon)
{
    for (const msgbox_iconkind &k : msgbox_icons)
        if (k.icon == icon)
            return k;
    return msgbox_icons[0];
}

std::vector<std::string> plat_msgboxargs(const char *caption, const char *text, int buttons, int icon,
                                         int defbutton)
{
    const msgbox_iconkind &kind = msgbox_icon(icon);
    std::vector<std::string> args = {"zenity"};
    // zenity's own labels follow the desktop's language; the program's
    // questions name their buttons in English, so the labels are given.
    if (buttons == 1 || buttons == 2) {
        args.push_back("--question");
        args.push_back(buttons == 2 ? "--ok-label=Yes" : "--ok-label=OK");
        args.push_back(buttons == 2 ? "--cancel-label=No" : "--cancel-label=Cancel");
        if (defbutton == 1)
            args.push_back("--default-cancel");
        args.push_back(std::string("--icon-name=") + kind.zenityicon);
    } else {
        args.push_back(kind.zenitykind);
        args.push_back("--ok-label=OK");
    }
    args.push_back(std::string("--title=") + (caption ? caption : ""));
    args.push_back(std::string("--text=") + (text ? text : ""));
    // The text is wrapped already, and "<" or "&" in it are plain characters.
    args.push_back("--no-wrap");
    args.push_back("--no-markup");
    return args;
}

int plat_zenitybox(const char *caption, const char *text, int buttons, int icon, int defbutton, int *answer,
                   std::string *why)
{
    std::string out;
    int status = plat_runcapture(plat_msgboxargs(caption, text, buttons, icon, defbutton), &out, 1);
    // Exit status 1 is both a refusal and GTK failing to reach the display;
    // only the second says so on stderr.
    if (status == 0 || (status == 1 && out.find("cannot open display") == std::string::npos)) {
        *answer = status == 0;
        return 1;
    }
    if (status < 0)
        *why = "zenity could not be run";
    else if (status == 1)
        *why = "zenity cannot open the display";
    else
        *why = "zenity failed with status " + std::to_string(status);
    return 0;
}

// SDL's box: 1 with *answer set, or 0 when SDL cannot show one (its reason
// in *why).
static int msgbox_sdl(const char *caption, const char *text, int buttons, int icon, int defbutton, int *answer,
                      std::string *why)
{
    // Button ids: 1 means OK/Yes, 0 means Cancel/No; closing the box gives -1.
    SDL_MessageBoxButtonData set[2];
    int count = 1;
    if (buttons == 2) {
        set[0] = {0, 1, "Yes"};
        set[1] = {0, 0, "No"};
        count = 2;
    } else if (buttons == 1) {
        set[0] = {0, 1, "OK"};
        set[1] = {0, 0, "Cancel"};
        count = 2;
    } else {
        set[0] = {0, 1, "OK"};
    }
    // A default beyond the buttons shown falls back to the first. Escape is
    // always Cancel or No, whichever button Return picks.
    int def = defbutton >= 0 && defbutton < count ? defbutton : 0;
    set[def].flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    if (count == 2)
        set[1].flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;

    SDL_MessageBoxData box = {};
    box.flags = msgbox_icon(icon).sdlflag | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    box.window = sys_window; // owned by the main window once there is one
    box.title = caption;
    box.message = text;
    box.numbuttons = count;
    box.buttons = set;
    int hit = -1;
    if (SDL_ShowMessageBox(&box, &hit) < 0) {
        *why = SDL_GetError();
        return 0;
    }
    *answer = hit == 1;
    return 1;
}

int plat_messagebox(const char *caption, const char *text, int buttons, int icon, int defbutton)
{
    int answer = 0;
    if (msgbox_seamanswer(caption, text, &answer))
        return answer;
    std::string wrapped = plat_wraptext(text);
    std::string sdlwhy, zenitywhy;
    if (msgbox_sdl(caption, wrapped.c_str(), buttons, icon, defbutton, &answer, &sdlwhy))
        return answer;
    sys_log("plat_messagebox: SDL shows no box (%s), trying zenity", sdlwhy.c_str());
    if (plat_zenitybox(caption, wrapped.c_str(), buttons, icon, defbutton, &answer, &zenitywhy))
        return answer;
    // Nobody saw the question: say so where a person starting the program
    // from a terminal will look, as well as in the log.
    sys_log("plat_messagebox: no box could be shown for \"%s\" (SDL: %s; %s), taken as refused", caption,
            sdlwhy.c_str(), zenitywhy.c_str());
    fprintf(stderr, "kerfmill: no message box could be shown for \"%s\" (SDL: %s; %s), taken as refused:\n%s\n",
            caption ? caption : "", sdlwhy.c_str(), zenitywhy.c_str(), text ? text : "");
    return 0;
}
