#include "service/ServiceHost.h"

int wmain() { return quenvar::RunServiceProcess(); }
