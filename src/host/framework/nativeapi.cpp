// The framework's native script API as every interpreter gets it.
#include "nativeapi.h"

void NativeApi::registerAll(Interpreter* interpreter)
{
    interpreter->registerNativeNamespace(QStringLiteral("OS"), osNamespace());
    registerTimerTypes(interpreter);
}
