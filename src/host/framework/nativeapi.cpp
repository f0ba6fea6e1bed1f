// The framework's native script API. It publishes nothing yet; languages already offer the
// registration operations, so adding a function here makes it available to every script.
#include "nativeapi.h"

void NativeApi::registerAll(Interpreter*) {}
