// The input state and the rules that turn SDL's key, button, motion and wheel
// events into it: the scancode table, first-free held slots, the program's
// own key auto-repeat (SDL's repeats are dropped) and one-frame wheel keys.
#include "sys/input.h"

#include "gui/gui.h"
#include "sys/frame.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

int32_t input_keys[input_keycount];
int32_t input_keyframe[input_keycount];
int32_t input_keyprev[input_keycount];
int32_t input_held[input_heldslots] = {-1, -1, -1, -1, -1};
uint32_t input_heldmask = 0;
int input_repeatkey = -1;
float input_repeattime = 0.0f;
int32_t input_mouse[2];
float input_motion[2];
float input_wheel = 0.0f;
int input_capslock = 0;
int input_freezemouse = 0;

// What the events of the frame left for the frame to take.
static float input_accmotion[2];
static float input_accwheel;
static int input_wheelpending[2]; // wheel up, wheel down: release next frame
// Keys that went down since the last frame step. A tap whose press and
// release both fall between two frames still reads as pressed for one frame:
// a quick Enter or Tab must not be lost at a low frame rate.
static uint8_t input_tapped[input_keycount];

constexpr float input_firstrepeat = 0.5f;
constexpr float input_nextrepeat = 0.05f;

static constexpr std::array<uint8_t, input_scancodes> input_buildtable()
{
    std::array<uint8_t, input_scancodes> t{};
    for (int i = 0; i < 26; i++)
        t[SDL_SCANCODE_A + i] = (uint8_t)(1 + i);
    for (int i = 0; i < 10; i++) // 1..9 then 0, on the main row and the keypad
        t[SDL_SCANCODE_1 + i] = t[SDL_SCANCODE_KP_1 + i] = (uint8_t)(28 + i);
    for (int i = 0; i < 12; i++)
        t[SDL_SCANCODE_F1 + i] = (uint8_t)(57 + i);
    const std::pair<int, int> keys[] = {
        {SDL_SCANCODE_GRAVE, 27},        {SDL_SCANCODE_MINUS, 38},       {SDL_SCANCODE_EQUALS, 39},
        {SDL_SCANCODE_TAB, 40},          {SDL_SCANCODE_LEFTBRACKET, 41}, {SDL_SCANCODE_RIGHTBRACKET, 42},
        {SDL_SCANCODE_BACKSLASH, 43},    {SDL_SCANCODE_NONUSHASH, 43},   {SDL_SCANCODE_SEMICOLON, 44},
        {SDL_SCANCODE_APOSTROPHE, 45},   {SDL_SCANCODE_RETURN, 46},      {SDL_SCANCODE_KP_ENTER, 46},
        {SDL_SCANCODE_COMMA, 47},        {SDL_SCANCODE_PERIOD, 48},      {SDL_SCANCODE_SLASH, 49},
        {SDL_SCANCODE_SPACE, 50},        {SDL_SCANCODE_KP_DIVIDE, 51},   {SDL_SCANCODE_KP_MULTIPLY, 52},
        {SDL_SCANCODE_KP_MINUS, 53},     {SDL_SCANCODE_KP_PLUS, 54},     {SDL_SCANCODE_KP_PERIOD, 55},
        {SDL_SCANCODE_ESCAPE, 56},       {SDL_SCANCODE_PRINTSCREEN, 69}, {SDL_SCANCODE_SCROLLLOCK, 70},
        {SDL_SCANCODE_PAUSE, 71},        {SDL_SCANCODE_CAPSLOCK, 72},    {SDL_SCANCODE_LSHIFT, 73},
        {SDL_SCANCODE_RSHIFT, 73},       {SDL_SCANCODE_LCTRL, 74},       {SDL_SCANCODE_RCTRL, 74},
        {SDL_SCANCODE_LALT, 75},         {SDL_SCANCODE_RALT, 75},        {SDL_SCANCODE_BACKSPACE, 76},
        {SDL_SCANCODE_INSERT, 77},       {SDL_SCANCODE_DELETE, 78},      {SDL_SCANCODE_HOME, 79},
        {SDL_SCANCODE_END, 80},          {SDL_SCANCODE_PAGEUP, 81},      {SDL_SCANCODE_PAGEDOWN, 82},
        {SDL_SCANCODE_NUMLOCKCLEAR, 83}, {SDL_SCANCODE_LEFT, 84},        {SDL_SCANCODE_UP, 85},
        {SDL_SCANCODE_RIGHT, 86},        {SDL_SCANCODE_DOWN, 87},
    };
    for (const auto &k : keys)
        t[k.first] = (uint8_t)k.second;
    return t;
}

constexpr std::array<uint8_t, input_scancodes> input_keytable = input_buildtable();
static_assert(input_keytable[SDL_SCANCODE_RALT] == 75, "the right alt scancode is the table's last");

void input_init()
{
    memset(input_keys, 0, sizeof(input_keys));
    memset(input_keyframe, 0, sizeof(input_keyframe));
    memset(input_keyprev, 0, sizeof(input_keyprev));
    for (int32_t &slot : input_held)
        slot = -1;
    input_heldmask = 0;
    input_repeatkey = -1;
    input_wheelpending[0] = input_wheelpending[1] = 0;
    memset(input_tapped, 0, sizeof(input_tapped));
    input_accmotion[0] = input_accmotion[1] = input_accwheel = 0.0f;
    SDL_GetMouseState(&input_mouse[0], &input_mouse[1]);
}

int input_keycode(int scancode)
{
    return scancode >= 0 && scancode < input_scancodes ? input_keytable[scancode] : 0;
}

static int input_valid(int key)
{
    return key >= 0 && key < input_keycount;
}

// The first empty slot takes the key; with all five taken it is not recorded.
static void input_hold(int key)
{
    for (int i = 0; i < input_heldslots; i++) {
        if (input_held[i] == -1) {
            input_held[i] = key;
            input_heldmask |= 1u << i;
            return;
        }
    }
}

static void input_unhold(int key)
{
    for (int i = 0; i < input_heldslots; i++) {
        if (input_held[i] == key) {
            input_held[i] = -1;
            input_heldmask &= ~(1u << i);
            return;
        }
    }
}

void input_press(int key)
{
    if (!input_valid(key) || input_keys[key])
        return;
    input_keys[key] = 1;
    input_tapped[key] = 1;
    input_hold(key);
    if (text_keydown(key)) {
        input_repeatkey = key;
        input_repeattime = (float)sys_time + input_firstrepeat;
    }
}

void input_release(int key)
{
    if (!input_valid(key) || !input_keys[key])
        return;
    input_keys[key] = 0;
    input_unhold(key);
}

// While a text field is edited the wheel repeats like a held key; the GUI
// is not asked, since the wheel is no key it types.
void input_wheelpress(int key)
{
    if (key != key_wheelup && key != key_wheeldown)
        return;
    input_wheelpending[key - key_wheelup] = 1;
    if (input_keys[key])
        return;
    input_keys[key] = 1;
    input_hold(key);
    if (text_editstate.string) {
        input_repeatkey = key;
        input_repeattime = (float)sys_time + input_firstrepeat;
    }
}

void input_wheelrelease()
{
    for (int i = 0; i < 2; i++) {
        if (!input_wheelpending[i])
            continue;
        input_wheelpending[i] = 0;
        input_release(key_wheelup + i);
    }
}

// The last motion event of the frame wins; absurd relative values (warps)
// are not taken.
void input_mousemotion(int xrel, int yrel, int x, int y)
{
    if (std::abs(xrel) < 99999)
        input_accmotion[0] = (float)xrel;
    if (std::abs(yrel) < 99999)
        input_accmotion[1] = (float)yrel;
    if (!input_freezemouse) {
        input_mouse[0] = x;
        input_mouse[1] = y;
    }
}

void input_mousewheel(int y)
{
    if (y > 0)
        input_wheelpress(key_wheelup);
    else if (y < 0)
        input_wheelpress(key_wheeldown);
    input_accwheel = (float)y;
}

void input_takemotion()
{
    input_motion[0] = input_accmotion[0];
    input_motion[1] = input_accmotion[1];
    input_wheel = input_accwheel;
    input_accmotion[0] = input_accmotion[1] = input_accwheel = 0.0f;
}

void input_resetmotion()
{
    input_accmotion[0] = input_accmotion[1] = 0.0f;
    input_motion[0] = input_motion[1] = 0.0f;
}

const char *const input_keynames[input_keycount] = {
    "",          "A",         "B",        "C",          "D",         "E",        "F",       "G",
    "H",         "I",         "J",        "K",          "L",         "M",        "N",       "O",
    "P",         "Q",         "R",        "S",          "T",         "U",        "V",       "W",
    "X",         "Y",         "Z",        "`",          "1",         "2",        "3",       "4",
    "5",         "6",         "7",        "8",          "9",         "0",        "-",       "=",
    "Tab",       "[",         "]",        "\\",         ";",         "'",        "Enter",   ",",
    ".",         "/",         "Space",    "Keypad /",   "Keypad *",  "Keypad -", "Keypad +", "Keypad .",
    "Escape",    "F1",        "F2",       "F3",         "F4",        "F5",       "F6",      "F7",
    "F8",        "F9",        "F10",      "F11",        "F12",       "PrintScreen", "ScrollLock", "Pause",
    "CapsLock",  "Shift",     "Ctrl",     "Alt",        "Backspace", "Insert",   "Delete",  "Home",
    "End",       "PageUp",    "PageDown", "NumLock",    "Left",      "Up",       "Right",   "Down",
    "LeftClick", "WheelClick", "RightClick", "Mouse4",  "Mouse5",    "WheelUp",  "WheelDown",
};

void input_repeat()
{
    if (input_repeatkey == -1)
        return;
    if (!input_keys[input_repeatkey]) {
        input_repeatkey = -1;
        return;
    }
    if (sys_time > input_repeattime) {
        text_keydown(input_repeatkey);
        input_repeattime = (float)sys_time + input_nextrepeat;
    }
}

void input_endframe()
{
    memcpy(input_keyprev, input_keyframe, sizeof(input_keyprev));
    for (int i = 0; i < input_keycount; i++) {
        input_keyframe[i] = input_keys[i] | input_tapped[i];
        input_tapped[i] = 0;
    }
}

int input_pressed(int key)
{
    return input_valid(key) && input_keyframe[key] && !input_keyprev[key];
}
