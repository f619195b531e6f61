// The help window: the help topics as linked pages, with a contents page
// and a search, in a window of its own beside the main window.
#pragma once

#include <string>

class QWidget;

namespace tarvex {

// Shows the help window (made on first use, raised when open) on a page:
// "contents", a topic ("script-language"), a place in one
// ("overview#the-web-map"), a search ("search?words"), or, when page is
// empty, the topic of the pane that has the keyboard focus.
void help_window_show(const std::string& page);
// The page about a widget of the main window.
std::string help_page_of(const QWidget* widget);
// The window, nullptr until it is first shown.
QWidget* help_window();

} // namespace tarvex
