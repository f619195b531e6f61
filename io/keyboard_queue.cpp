// The keyboard input ring.
#include "io/keyboard_queue.h"

namespace tarvex {

namespace {
uint8_t g_ring[KEYBOARD_QUEUE_SIZE];
int g_head = 0; // oldest character
int g_tail = 0; // next free place
bool g_full = false;

int advance(int i) { return (i + 1) % KEYBOARD_QUEUE_SIZE; }
} // namespace

void keyboard_push(uint8_t ch) {
    if (ch == 0) return;
    g_ring[g_tail] = ch;
    g_tail = advance(g_tail);
    if (g_full)
        g_head = g_tail; // the oldest character was overwritten
    else if (g_tail == g_head)
        g_full = true;
}

int keyboard_pop() {
    if (!g_full && g_head == g_tail) return -1;
    int ch = g_ring[g_head];
    g_head = advance(g_head);
    g_full = false;
    return ch;
}

int keyboard_count() {
    if (g_full) return KEYBOARD_QUEUE_SIZE;
    return (g_tail - g_head + KEYBOARD_QUEUE_SIZE) % KEYBOARD_QUEUE_SIZE;
}

void keyboard_clear() {
    g_head = g_tail = 0;
    g_full = false;
}

} // namespace tarvex
