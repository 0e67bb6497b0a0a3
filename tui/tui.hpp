// The text-UI backend's services that the console printer calls. While no text UI is active
// (the only state this module knows so far) both do nothing.
#pragma once

namespace kov::tui {

// True while a text UI is drawn on the terminal.
bool active();

// Before console output: when the text UI is active, erases what it drew and restores the
// terminal's normal output mode.
void suspend_for_output();

// After console output: when the text UI is active, switches its output mode back on and asks
// for a redraw.
void resume_after_output();

}  // namespace kov::tui
