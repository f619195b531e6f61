// One running instance per user: a local socket named after the user (and
// TARVEX_INSTANCE, so tests run apart from a real session).
#pragma once

#include <functional>

class QObject;

namespace tarvex {

constexpr int EXIT_ALREADY_RUNNING = 16;

// True when this process is the one instance (it then listens, calling
// on_raise whenever a later start asks it to come to the front); false when
// another instance answered and was asked to come to the front.
bool instance_claim(QObject* parent, std::function<void()> on_raise);
// Removes the socket (also done when the owner is destroyed).
void instance_release();

} // namespace tarvex
