// Conversion between Tcl values and native objects of the object model: scoring Tcl words against
// declared arguments, choosing among overloads, converting the words for the chosen one, native results
// back to Tcl values, and comparing two values the way the object model compares them.
#pragma once

#include "object.h"

#include <QString>
#include <tcl.h>

// How well a value fits a declared argument: -1 when the object model is gone, 0 when it cannot be
// passed, otherwise 1..100, higher being better.
int scoreArgument(Tcl_Interp* interp, Tcl_Obj* value, const Argument& argument);

// Picks one of the candidate signatures (parallel to their declaring classes) for the words and converts
// them into `out`; returns the chosen index, or -1 with the message as the interpreter's result.
int chooseOverload(Tcl_Interp* interp, int objc, const Class* lookupClass, const QList<Signature>& candidates,
                   const QList<const Class*>& declaringClasses, Tcl_Obj* const objv[], const QString& callableName,
                   ObjectList* out);

// Converts the words for a signature; false with the message as the interpreter's result.
bool convertArguments(Tcl_Interp* interp, ObjectList* out, Tcl_Obj* const objv[], const Signature& signature);

// A new Tcl value (reference count 0) for a native result.
Tcl_Obj* toTclValue(const SharedPtr<Object>& object);

// Whether a and b are equal as the object model sees them; *message explains a type difference and
// *textA, *textB receive printable forms of both values.
bool compareValues(Tcl_Interp* interp, Tcl_Obj* a, Tcl_Obj* b, QString* message, QString* textA, QString* textB);

// The word as a native value of a numeric or boolean primitive kind: a number in the kind's range converts
// to itself, a double without a fractional part to the integer it holds, any Tcl boolean word (yes, off, 1,
// TRUE...) to a boolean. Null when the word holds no such value exactly (no number, NaN, out of range) or
// the kind is none of those. The interpreter's result is left alone.
SharedPtr<Object> toPrimitiveValue(Tcl_Obj* word, PrimitiveKind kind);

// Whether toPrimitiveValue handles the kind.
bool isNumericOrBoolKind(PrimitiveKind kind);

// The attribute a Tcl word is passed with, from its internal type.
ObjectAttribute valueAttribute(Tcl_Obj* value);
