// Framework functions around applications under test that are not the runner's: recorded gestures.
#pragma once

#include "object.h"

#include <QString>

// Reads a gesture file (format in src/host/README.md) into a "Gesture" object. The name is a path, or
// a file name looked up beside the test script, in its gestures directory and in the suite's
// shared/gestures directory. Null with the reason in *error on failure.
SharedPtr<Object> readGestureByName(const QString& name, QString* error);
