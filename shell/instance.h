// One running instance per user session: a local socket in the session's
// runtime folder (named after TARVEX_INSTANCE too, so tests run apart from
// a real session). A later start hands its web file to the running
// instance instead of opening a second window.
#pragma once

#include <functional>
#include <string>

class QObject;

namespace tarvex {

constexpr int EXIT_ALREADY_RUNNING = 16;

// What a later start asks for: a web file to open (absolute), or "" to
// bring the window to the front only.
using InstanceRequest = std::function<void(const std::string& file)>;

// The socket's full path: $XDG_RUNTIME_DIR (or Qt's runtime folder when
// that is unset), never a folder other users share.
std::string instance_socket_path();

// True when this process is the one instance: it then listens and calls
// on_request for every later start. False when another instance took
// file (made absolute here, since the other process has its own working
// folder) and was asked to come to the front.
bool instance_claim(QObject* parent, const std::string& file, InstanceRequest on_request);
// Removes the socket (also done when the owner is destroyed).
void instance_release();

// The running instance's answer to a request: the window comes to the
// front and the file opens through File Open (save question included).
void instance_serve(const std::string& file);

} // namespace tarvex
