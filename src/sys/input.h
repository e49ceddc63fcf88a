// The input state: the program's key codes, the keys held this frame and the
// frame before, the held slots, key auto-repeat, the mouse, its motion and
// the wheel. Only the frame loop writes it (from SDL events); the viewport,
// the GUI toolkit and the main window read it.
#pragma once
#include <array>
#include <cstdint>

// Key codes 0..94: 1-26 letters, 27 grave, 28-37 digits 1-9 and 0, 38-55
// punctuation and keypad, 56 escape, 57-68 F1-F12, 69-72 print screen,
// scroll lock, pause, caps lock, 73-75 shift, ctrl, alt, 76-87 editing and
// cursor keys, 88-92 mouse buttons 1-5, 93 and 94 the wheel; 0 any other.
constexpr int input_keycount = 95;
constexpr int input_scancodes = 231; // SDL scancodes the key table covers
constexpr int input_heldslots = 5;
constexpr int key_shift = 73;
constexpr int key_ctrl = 74;
constexpr int key_alt = 75;
constexpr int key_mouseleft = 88;   // mouse button n is key n + 87
constexpr int key_mousemiddle = 89;
constexpr int key_mouseright = 90;
constexpr int key_wheelup = 93;
constexpr int key_wheeldown = 94;

extern const std::array<uint8_t, input_scancodes> input_keytable;
extern int32_t input_keys[input_keycount];     // 1 down, 0 up
extern int32_t input_keyframe[input_keycount]; // input_keys after this frame's events
extern int32_t input_keyprev[input_keycount];  // the same, one frame earlier
extern int32_t input_held[input_heldslots];    // key codes held, -1 empty
extern uint32_t input_heldmask;                // bit i set while slot i holds a key
extern int input_repeatkey;                    // -1 none
extern float input_repeattime;                 // sys_time of its next repeat
extern int32_t input_mouse[2];                 // window pixels
extern float input_motion[2];                  // this frame's relative motion
extern float input_wheel;                      // this frame's wheel value
extern int input_capslock;
extern int input_freezemouse;                  // set by dragging widgets

// One name per key code for the held-keys overlay; "" for codes without one.
extern const char *const input_keynames[input_keycount];

// Clears the key tables and held slots and reads the mouse position.
void input_init();
// The key code of an SDL scancode; 0 outside the table.
int input_keycode(int scancode);
// A key or mouse button going down or up. A press of a key already down is
// dropped (SDL's own repeats); a press the GUI wants repeated starts the
// program's own auto-repeat.
void input_press(int key);
void input_release(int key);
// A wheel notch: its key (93 or 94) is down until the next frame.
void input_wheelpress(int key);
void input_wheelrelease();
// Event values kept until the frame takes them.
void input_mousemotion(int xrel, int yrel, int x, int y);
void input_mousewheel(int y);
// Frame steps: take the motion and wheel values, repeat the held key, and
// copy the key states into input_keyframe / input_keyprev.
void input_takemotion();
// Forgets the motion gathered so far: a widget that moved the pointer itself
// must not read its own warp as the user's motion.
void input_resetmotion();
void input_repeat();
void input_endframe();
// 1 when the key went down in this frame.
int input_pressed(int key);
