// Tcl words against declared argument types, overload choice, and native values back to Tcl.
// Scoring looks at the Tcl internal type names first, so values Tcl has already parsed are classified
// without reparsing their text; only untyped strings are parsed.
#include "tclconversion.h"

#include "inspector.h"
#include "tclhandles.h"
#include "tclinterpreter.h"
#include "tclspecific.h"

#include <QVector>

#include <climits>
#include <cmath>
#include <cstring>

namespace {

PrimitiveKind kindOf(const Class* cls)
{
    return cls ? cls->primitiveKind() : NoPrimitive;
}

bool typeIs(Tcl_Obj* value, const char* name)
{
    return value->typePtr && value->typePtr->name && !strcmp(value->typePtr->name, name);
}

// The object's class converting it to `to`: 100 for the class itself, 100 minus the inheritance depth for
// a base, 50 for an unrelated convertible class, else 0.
int scoreObject(const Object* object, const Class* to, int flags)
{
    const Class* cls = object->objectClass();
    if (cls == to)
        return 100;
    if (cls && cls->canConvert(to, object->attribute().isPointer(), flags & ObjectAttribute::PointerFlag)) {
        const int depth = Class::inheritanceDepth(cls, to);
        return depth == -1 ? 50 : 100 - depth;
    }
    return 0;
}

int scoreHandle(Tcl_Obj* value, const Class* cls, int flags)
{
    if (SharedPtr<Object> object = objectFromValue(value))
        return scoreObject(object.get(), cls, flags);
    return value->typePtr && value->typePtr->name && cls &&
                   cls->className().toUtf8() == QByteArray(value->typePtr->name)
               ? 100
               : 0;
}

int scoreGeneric(Tcl_Interp* interp, Tcl_Obj* value, const Class* cls, int flags, const Class* hint)
{
    if (SharedPtr<Object> object = toNativeValue(interp, value, hint))
        return scoreObject(object.get(), cls, flags);
    return scoreHandle(value, cls, flags);
}

int scoreUntyped(Tcl_Interp* interp, Tcl_Obj* value, const Class* cls, int flags, const Class* fallback,
                 const Class* stringClass)
{
    int i;
    double d;
    const PrimitiveKind kind = kindOf(cls);
    if (cls == stringClass && (flags & ObjectAttribute::PointerFlag))
        return 100;
    if (kind == IntKind)
        return Tcl_GetIntFromObj(interp, value, &i) == TCL_OK ? 100 : 0;
    if (kind == DoubleKind) {
        if (Tcl_GetDoubleFromObj(interp, value, &d) != TCL_OK)
            return 0;
        return d == std::trunc(d) ? 99 : 100;
    }
    if (kind == BoolKind)
        return Tcl_GetBooleanFromObj(interp, value, &i) == TCL_OK ? 100 : 0;
    int n;
    if (cls == ArrayClass::registeredClass() && Tcl_ListObjLength(interp, value, &n) == TCL_OK)
        return 100;
    const bool destinationPointer = flags & ObjectAttribute::PointerFlag;
    if (SharedPtr<Object> object = objectFromValue(value)) {
        if (object->objectClass() == cls)
            return 100;
        const Class* oc = object->objectClass();
        if (oc && oc->canConvert(cls, object->attribute().isPointer(), destinationPointer)) {
            const int depth = Class::inheritanceDepth(oc, cls);
            return depth == -1 ? 50 : 100 - depth;
        }
    }
    if (stringClass->canConvert(cls, true, destinationPointer))
        return 99;
    if (fallback)
        return Tcl_GetIntFromObj(interp, value, &i) == TCL_OK ? 99 : 0;
    return 0;
}

// The word as an integer in [min, max]. A double counts when it has no fractional part; Tcl itself refuses
// doubles where it wants an integer. The bounds are powers of two or one less, so the double comparisons
// are exact with the strict upper bound.
bool wordToInteger(Tcl_Obj* word, Tcl_WideInt min, Tcl_WideInt max, Tcl_WideInt* out)
{
    Tcl_WideInt wide = 0;
    if (Tcl_GetWideIntFromObj(nullptr, word, &wide) == TCL_OK) {
        if (wide < min || wide > max)
            return false;
        *out = wide;
        return true;
    }
    double d = 0;
    if (Tcl_GetDoubleFromObj(nullptr, word, &d) != TCL_OK || !std::isfinite(d) || d != std::trunc(d))
        return false;
    if (d < double(min) || d >= double(max) + 1.0)
        return false;
    *out = Tcl_WideInt(d);
    return true;
}

QString candidateLine(const Class* declaring, const QString& name, const Signature& signature)
{
    return QLatin1Char('\t') + (declaring ? declaring->className() : QString()) + QLatin1String("::") + name +
           signature.toString() + QLatin1Char('\n');
}

} // namespace

bool isNumericOrBoolKind(PrimitiveKind kind)
{
    return kind == IntKind || kind == OtherIntKind || kind == LongKind || kind == Int64Kind || kind == DoubleKind ||
           kind == BoolKind;
}

SharedPtr<Object> toPrimitiveValue(Tcl_Obj* word, PrimitiveKind kind)
{
    Inspector* inspector = Inspector::self();
    Tcl_WideInt wide = 0;
    switch (kind) {
    case IntKind:
    case OtherIntKind:
        return wordToInteger(word, INT_MIN, INT_MAX, &wide) ? inspector->createInt(int(wide)) : SharedPtr<Object>();
    case LongKind:
        return wordToInteger(word, LONG_MIN, LONG_MAX, &wide) ? inspector->createLong(long(wide))
                                                               : SharedPtr<Object>();
    case Int64Kind:
        return wordToInteger(word, LLONG_MIN, LLONG_MAX, &wide) ? inspector->createInt64(wide)
                                                                 : SharedPtr<Object>();
    case DoubleKind: {
        double d = 0;
        return Tcl_GetDoubleFromObj(nullptr, word, &d) == TCL_OK ? inspector->createDouble(d) : SharedPtr<Object>();
    }
    case BoolKind: {
        int b = 0;
        return Tcl_GetBooleanFromObj(nullptr, word, &b) == TCL_OK ? inspector->createBool(b != 0)
                                                                   : SharedPtr<Object>();
    }
    default:
        return SharedPtr<Object>();
    }
}

ObjectAttribute valueAttribute(Tcl_Obj* value)
{
    if (value->typePtr == &testObjectType) {
        auto object = static_cast<Object*>(value->internalRep.otherValuePtr);
        return object ? object->attribute() : ObjectAttribute::Pointer();
    }
    if (!value->typePtr)
        return ObjectAttribute::Pointer();
    const char* name = value->typePtr->name ? value->typePtr->name : "";
    for (const char* valueType : {"int", "boolean", "double", "index"})
        if (!strcmp(name, valueType))
            return ObjectAttribute::Value();
    for (const char* pointerType : {"string", "bytearray", "cmdName", "localVarName"})
        if (!strcmp(name, pointerType))
            return ObjectAttribute::Pointer();
    return ObjectAttribute(0, 0);
}

int scoreArgument(Tcl_Interp* interp, Tcl_Obj* value, const Argument& argument)
{
    if (typeIs(value, "exprcode")) {
        Tcl_Obj* result = nullptr;
        if (Tcl_ExprObj(interp, value, &result) != TCL_OK)
            return 0;
        const int score = scoreArgument(interp, result, argument);
        Tcl_DecrRefCount(result);
        return score;
    }

    const Class* stringClass = Inspector::self()->stringClass();
    if (!stringClass)
        return -1;
    const Class* cls = argument.argumentClass();
    const int flags = argument.attribute().flags();
    const Class* fallback = argument.integerFallback();
    const PrimitiveKind kind = kindOf(cls);

    int length = 0;
    const bool isList = typeIs(value, "list") && Tcl_ListObjLength(interp, value, &length) == TCL_OK;
    bool seq = flags & ObjectAttribute::Array;
    if (cls == stringClass && !(flags & ObjectAttribute::PointerFlag))
        seq = false;
    if (isList && cls == ArrayClass::registeredClass())
        return 100;
    if (seq && !isList)
        return 0;
    if (isList && cls == stringClass && !seq)
        return 75;

    const char* type = value->typePtr ? value->typePtr->name : nullptr;
    if (!type || !strcmp(type, "cmdName") || !strcmp(type, "localVarName") || !strcmp(type, "parsedVarName") ||
        !strcmp(type, "index"))
        return scoreUntyped(interp, value, cls, flags, fallback, stringClass);

    if (!strcmp(type, "list")) {
        const int both = ObjectAttribute::PointerFlag | ObjectAttribute::Array;
        if (cls != stringClass || (flags & both) != both)
            return 0;
        const Argument element(cls, ObjectAttribute(flags & ~ObjectAttribute::Array, 0), fallback);
        int score = 100;
        for (int i = 0; i < length; ++i) {
            Tcl_Obj* item = nullptr;
            if (Tcl_ListObjIndex(interp, value, i, &item) != TCL_OK || !item)
                return 0;
            score = qMin(score, scoreArgument(interp, item, element));
        }
        return score;
    }
    if (!strcmp(type, "dict"))
        return cls == MapClass::registeredClass() ? 100 : 0;
    if (!strcmp(type, "path") && cls == stringClass && (flags & ObjectAttribute::PointerFlag))
        return 42;
    if (!strcmp(type, "double")) {
        double d = 0;
        // NaN fails to read; out of the int range the truncation is undefined and no exact int exists anyway.
        const bool read = Tcl_GetDoubleFromObj(nullptr, value, &d) == TCL_OK;
        if (read && kind == IntKind && d >= INT_MIN && d <= INT_MAX && d - double(int(d)) == 0.0)
            return 100;
        if (kind != IntKind && cls == stringClass)
            return 99;
    }
    if (kind == BoolKind && !strcmp(type, "booleanString"))
        return 100;
    if (!strcmp(type, "int")) {
        if (kind == IntKind)
            return 100;
        if (kind == OtherIntKind || kind == Int64Kind || kind == LongKind || fallback || kind == DoubleKind)
            return 99;
        return scoreGeneric(interp, value, cls, flags, nullptr);
    }
    if (!strcmp(type, "wideInt")) {
        if (kind == IntKind || kind == Int64Kind || kind == LongKind)
            return 100;
        if (fallback)
            return 99;
        return scoreGeneric(interp, value, cls, flags, nullptr);
    }
    if (!strcmp(type, "string")) {
        if (cls == stringClass)
            return 100;
        return scoreGeneric(interp, value, cls, flags, stringClass);
    }
    if (!strcmp(type, "boolean")) {
        bool ok = false;
        textOf(value).toInt(&ok, 10);
        if (kind == IntKind && ok)
            return 100;
        return scoreGeneric(interp, value, cls, flags, nullptr);
    }
    return scoreHandle(value, cls, flags);
}

namespace {

bool conversionFailed(Tcl_Interp* interp, const Class* cls)
{
    setErrorResult(interp, QStringLiteral("Failed to convert argument of type %1").arg(cls ? cls->className() : QString()));
    return false;
}

} // namespace

bool convertArguments(Tcl_Interp* interp, ObjectList* out, Tcl_Obj* const objv[], const Signature& signature)
{
    Inspector* inspector = Inspector::self();
    const Class* stringClass = inspector->stringClass();
    for (int w = 0; w < signature.size(); ++w) {
        Tcl_Obj* word = objv[w];
        const Argument& argument = signature.at(w);
        const Class* cls = argument.argumentClass();
        const int flags = argument.attribute().flags();
        const bool pointer = flags & ObjectAttribute::PointerFlag;
        const PrimitiveKind kind = word->typePtr == &testObjectType ? NoPrimitive : kindOf(cls);
        const bool objectArgument = word->typePtr == &testObjectType || (kind == NoPrimitive && cls != stringClass &&
                                                                          cls != ArrayClass::registeredClass() &&
                                                                          cls != MapClass::registeredClass());
        if (!objectArgument) {
            if (isNumericOrBoolKind(kind)) {
                SharedPtr<Object> value = toPrimitiveValue(word, kind);
                if (!value)
                    return conversionFailed(interp, cls);
                out->append(value);
                continue;
            }
            if (cls == stringClass) {
                if ((flags & ObjectAttribute::Array) && pointer) {
                    int count = 0;
                    Tcl_Obj** elements = nullptr;
                    QStringList texts;
                    if (Tcl_ListObjGetElements(interp, word, &count, &elements) == TCL_OK)
                        for (int e = 0; e < count; ++e)
                            texts << textOf(elements[e]);
                    out->append(inspector->createStringList(texts));
                } else if (pointer) {
                    TclScriptArgument argumentView(word, interp);
                    out->append(inspector->createPrimitive(argumentView.toString()));
                } else {
                    SharedPtr<Object> number = toPrimitiveValue(word, IntKind);
                    if (!number)
                        return conversionFailed(interp, cls);
                    out->append(number->objectClass()->convert(number, stringClass, false));
                }
                continue;
            }
            out->append(toNativeValue(interp, word, cls)); // array or map class
            continue;
        }

        SharedPtr<Object> object = objectFromValue(word);
        if (!object) {
            int i = 0;
            const QByteArray text = Tcl_GetString(word);
            if (argument.integerFallback() && Tcl_GetIntFromObj(nullptr, word, &i) == TCL_OK) {
                out->append(inspector->createInt(i));
            } else if (pointer && text == "0" && cls) {
                out->append(cls->createNull());
            } else {
                SharedPtr<Object> primitive = inspector->createPrimitive(fromTclUtf(text.constData(), text.size()));
                out->append(primitive->objectClass()->convert(primitive, cls, pointer));
            }
        } else if (object->objectClass() == cls) {
            out->append(object);
        } else {
            SharedPtr<Object> converted =
                object->objectClass() ? object->objectClass()->convert(object, cls, pointer) : SharedPtr<Object>();
            if (!converted)
                return conversionFailed(interp, cls);
            out->append(converted);
        }
    }
    return true;
}

int chooseOverload(Tcl_Interp* interp, int objc, const Class* lookupClass, const QList<Signature>& candidates,
                   const QList<const Class*>& declaringClasses, Tcl_Obj* const objv[], const QString& callableName,
                   ObjectList* out)
{
    QStringList typeNames;
    for (int w = 0; w < objc; ++w)
        typeNames << valueTypeName(objv[w]);
    const QString argumentTypes = QLatin1Char('(') + typeNames.join(QLatin1String(", ")) + QLatin1Char(')');

    QVector<int> scores(candidates.size(), -1);
    int best = -1, ties = 0, firstBest = -1;
    for (int c = 0; c < candidates.size(); ++c) {
        const Signature& sig = candidates.at(c);
        if (sig.size() != objc)
            continue;
        int base = 0;
        if (objc == 0) {
            base = 100;
        } else {
            for (int w = 0; w < objc; ++w) {
                const int s = scoreArgument(interp, objv[w], sig.at(w));
                if (s < 0)
                    return setErrorResult(interp, QStringLiteral("Error preparing execution of '%1' command. "
                                                                 "Application exited?")
                                                      .arg(callableName)),
                           -1;
                if (s == 0) {
                    base = 0;
                    break;
                }
                base += s;
            }
        }
        scores[c] = base - Class::inheritanceDepth(lookupClass, declaringClasses.value(c));
        if (scores[c] > best) {
            best = scores[c];
            ties = 1;
            firstBest = c;
        } else if (scores[c] == best) {
            ++ties;
        }
    }

    if (best <= 0) {
        QString message = QStringLiteral("No matching '") + callableName + argumentTypes +
                          QStringLiteral("' overload found: Following overloads are available:\n");
        for (int c = 0; c < candidates.size(); ++c)
            message += candidateLine(declaringClasses.value(c), callableName, candidates.at(c));
        setErrorResult(interp, message);
        return -1;
    }

    int chosen = firstBest;
    if (ties > 1) {
        QVector<ObjectAttribute> attributes;
        for (int w = 0; w < objc; ++w)
            attributes << valueAttribute(objv[w]);
        bool allIdentical = true, attributeOnly = true;
        int picked = -1, previous = -1;
        QString candidatesText;
        for (int c = 0; c < candidates.size(); ++c) {
            if (scores[c] != best)
                continue;
            const Signature& sig = candidates.at(c);
            const bool hasPrevious = previous >= 0 && c != 0;
            if (hasPrevious && !(static_cast<const FList<Argument>&>(sig) ==
                                 static_cast<const FList<Argument>&>(candidates.at(previous))))
                allIdentical = false;
            bool differs = false;
            if (objc > 0) {
                if (!hasPrevious) {
                    differs = true;
                } else {
                    const Signature& prev = candidates.at(previous);
                    for (int w = 0; w < objc && !differs; ++w)
                        differs = sig.at(w).argumentClass() == prev.at(w).argumentClass() &&
                                  sig.at(w).attribute() != prev.at(w).attribute();
                }
            }
            bool matches = objc > 0;
            for (int w = 0; w < objc && matches; ++w)
                matches = sig.at(w).attribute().tolerantMatch(attributes.at(w));
            attributeOnly = attributeOnly && differs;
            if (attributeOnly && matches) {
                if (picked < 0)
                    picked = c;
                else
                    attributeOnly = false;
            }
            candidatesText += candidateLine(declaringClasses.value(c), callableName, sig);
            previous = c;
        }
        if (picked < 0)
            attributeOnly = false;
        if (allIdentical) {
            chosen = attributeOnly ? picked : firstBest;
        } else if (attributeOnly) {
            chosen = picked;
        } else {
            setErrorResult(interp, QStringLiteral("Ambiguous overload '") + callableName + argumentTypes +
                                       QStringLiteral("'. Candidates:\n") + candidatesText);
            return -1;
        }
    }

    if (!convertArguments(interp, out, objv, candidates.at(chosen)))
        return -1;
    return chosen;
}

Tcl_Obj* toTclValue(const SharedPtr<Object>& object)
{
    if (!object)
        return Tcl_NewObj();
    const Class* cls = object->objectClass();
    switch (kindOf(cls)) {
    case IntKind:
    case LongKind:
        return Tcl_NewLongObj(object->intValue());
    case Int64Kind:
        return Tcl_NewWideIntObj(object->int64Value());
    case DoubleKind:
        return Tcl_NewDoubleObj(object->doubleValue());
    case BoolKind:
        return Tcl_NewIntObj(object->boolValue() ? 1 : 0);
    case StringKind: {
        const ObjectAttribute a = object->attribute();
        const QByteArray text =
            (a.isPointer() || a.isArray()) ? toTclUtf(object->text()) : QByteArray::number(object->intValue());
        return Tcl_NewStringObj(text.constData(), text.size());
    }
    default:
        break;
    }
    if (cls == ArrayClass::registeredClass()) {
        // Iterated as a const list: a loop over the temporary would detach and copy every element.
        const ObjectList elements = ArrayClass::unwrapRemoteObject(object.get());
        Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
        for (const SharedPtr<Object>& element : elements)
            Tcl_ListObjAppendElement(nullptr, list, toTclValue(element));
        return list;
    }
    if (cls == MapClass::registeredClass()) {
        Tcl_Obj* dict = Tcl_NewDictObj();
        const ObjectMapValue map = MapClass::unwrapRemoteObject(object.get());
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            const QByteArray key = toTclUtf(it.key());
            Tcl_DictObjPut(nullptr, dict, Tcl_NewStringObj(key.constData(), key.size()), toTclValue(it.value()));
        }
        return dict;
    }
    return newObjectHandle(object);
}

bool compareValues(Tcl_Interp* interp, Tcl_Obj* a, Tcl_Obj* b, QString* message, QString* textA, QString* textB)
{
    SharedPtr<Object> objectA = objectFromValue(a);
    SharedPtr<Object> objectB = objectFromValue(b);
    *textA = textOf(a);
    *textB = textOf(b);
    if (objectA) {
        if (objectB)
            return objectA->compare(objectB.get());
        SharedPtr<Object> converted = toNativeValue(interp, b, objectA->objectClass());
        return objectA->compare(converted.get());
    }
    if (objectB) {
        SharedPtr<Object> converted = toNativeValue(interp, a, objectB->objectClass());
        return objectB->compare(converted.get());
    }
    if (!a->typePtr && !b->typePtr)
        return *textA == *textB;
    if (a->typePtr == b->typePtr && *textA == *textB)
        return true;

    // Lists are compared through their texts, so that both sides are converted the same way.
    const bool viaText = typeIs(a, "list") || typeIs(b, "list");
    Tcl_Obj* valueA = a;
    Tcl_Obj* valueB = b;
    if (viaText) {
        const QByteArray ta = toTclUtf(*textA), tb = toTclUtf(*textB);
        valueA = Tcl_NewStringObj(ta.constData(), ta.size());
        valueB = Tcl_NewStringObj(tb.constData(), tb.size());
        Tcl_IncrRefCount(valueA);
        Tcl_IncrRefCount(valueB);
    }
    SharedPtr<Object> convertedA = toNativeValue(interp, valueA, nullptr);
    SharedPtr<Object> convertedB = toNativeValue(interp, valueB, nullptr);
    if (viaText) {
        Tcl_DecrRefCount(valueA);
        Tcl_DecrRefCount(valueB);
    }

    bool equal = false;
    if (convertedA && convertedA->compare(convertedB.get())) {
        equal = true;
    } else {
        auto boolOrInt = [](const SharedPtr<Object>& o) {
            const PrimitiveKind k = o ? kindOf(o->objectClass()) : NoPrimitive;
            return k == BoolKind || k == IntKind;
        };
        if (boolOrInt(convertedA)) {
            if (*textB == QLatin1String("true"))
                equal = convertedA->boolValue();
            else if (*textB == QLatin1String("false"))
                equal = !convertedA->boolValue();
        } else if (boolOrInt(convertedB)) {
            if (*textA == QLatin1String("true"))
                equal = convertedB->boolValue();
            else if (*textA == QLatin1String("false"))
                equal = !convertedB->boolValue();
        } else if (convertedA && convertedB && convertedA->objectClass() != convertedB->objectClass()) {
            *message = QStringLiteral(". Different types (%1 and %2)")
                           .arg(convertedA->className(), convertedB->className());
        }
    }
    if (convertedA && !convertedA->text().isEmpty())
        *textA = QLatin1Char('\'') + convertedA->text() + QLatin1Char('\'');
    if (convertedB && !convertedB->text().isEmpty())
        *textB = QLatin1Char('\'') + convertedB->text() + QLatin1Char('\'');
    return equal;
}
