#include "ui/MessageBoxCall.h"

namespace quenvar {

MessageBoxFunction showMessageBox = MessageBoxW;

}  // namespace quenvar
