#include "ui/AppInstance.h"

namespace quenvar {

HINSTANCE appInstance = nullptr;

}  // namespace quenvar
