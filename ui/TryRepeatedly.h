// A bounded retry: for steps that can fail only because something else is not
// up yet (the shell's tray at logon, a busy pipe).
#pragma once

#include <functional>

namespace quenvar {

// Calls `attempt` up to `attempts` times and `pause` after every failed one,
// the last included. True at the first success.
bool TryRepeatedly(int attempts, const std::function<bool()>& attempt, const std::function<void()>& pause);

}  // namespace quenvar
