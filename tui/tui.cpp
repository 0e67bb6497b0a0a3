// Text-UI backend services used by console output. No text UI is drawn yet, so there is nothing
// to take down before a print or to restore after it.
#include "tui/tui.hpp"

namespace kov::tui {

bool active() { return false; }

void suspend_for_output() {}

void resume_after_output() {}

}  // namespace kov::tui
