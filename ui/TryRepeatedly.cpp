#include "ui/TryRepeatedly.h"

namespace quenvar {

bool TryRepeatedly(int attempts, const std::function<bool()>& attempt, const std::function<void()>& pause) {
    for (int i = 0; i < attempts; ++i) {
        if (attempt()) return true;
        pause();
    }
    return false;
}

}  // namespace quenvar
