// The keyboard input queue: the characters of the lines typed into the
// console, waiting for the input stream. It holds 48 characters; a push into
// a full queue overwrites the oldest one.
#pragma once

#include <cstdint>

namespace tarvex {

constexpr int KEYBOARD_QUEUE_SIZE = 48;

// Characters that end keyboard input instead of being read: Escape (what
// Stop pushes to end a wait for input), Ctrl+C and Ctrl+Z (the console's
// break and end-of-file keys).
constexpr uint8_t KEY_ESCAPE = 27;
constexpr uint8_t KEY_CTRL_C = 3;
constexpr uint8_t KEY_CTRL_Z = 26;

// The console's Enter handling pushes each typed character (the CR ending
// the line included); Stop pushes KEY_ESCAPE. A zero character is ignored.
void keyboard_push(uint8_t ch);
// The oldest character, or -1 when the queue is empty.
int keyboard_pop();
int keyboard_count();
void keyboard_clear();

} // namespace tarvex
