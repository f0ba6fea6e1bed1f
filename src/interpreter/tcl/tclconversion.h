// Conversion between native objects of the object model and Tcl values.
#pragma once

#include "sharedptr.h"

#include <tcl.h>

class Object;

// A new Tcl value (reference count 0) for a native result: primitives become numbers and texts, any
// other object an object handle, no object the empty value.
Tcl_Obj* toTclValue(const SharedPtr<Object>& object);
