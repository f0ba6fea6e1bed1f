// Native results as Tcl values.
#include "tclconversion.h"

#include "object.h"
#include "tclhandles.h"

Tcl_Obj* toTclValue(const SharedPtr<Object>& object)
{
    if (!object)
        return Tcl_NewObj();
    const Class* cls = object->objectClass();
    switch (cls ? cls->primitiveKind() : NoPrimitive) {
    case IntKind:
    case LongKind:
    case OtherIntKind:
        return Tcl_NewLongObj(object->intValue());
    case Int64Kind:
        return Tcl_NewWideIntObj(object->int64Value());
    case DoubleKind:
        return Tcl_NewDoubleObj(object->doubleValue());
    case BoolKind:
        return Tcl_NewIntObj(object->boolValue() ? 1 : 0);
    case StringKind: {
        const QByteArray text = object->stringValue().toUtf8();
        return Tcl_NewStringObj(text.constData(), text.size());
    }
    case NoPrimitive:
        break;
    }
    return newObjectHandle(object);
}
