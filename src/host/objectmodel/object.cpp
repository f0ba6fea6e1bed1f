// The inspector and its primitive classes.
#include "object.h"

Inspector::Inspector()
{
    static const char* const names[] = {"short", "int", "long", "bool", "string", "double", "qint64"};
    for (int kind = 0; kind <= Int64Kind; ++kind)
        primitives.append(new Class(QString::fromLatin1(names[kind]), PrimitiveKind(kind)));
}

Inspector* Inspector::self()
{
    // Lives until the process ends: objects handed to scripts may refer to its classes to the last.
    static Inspector* inspector = new Inspector;
    return inspector;
}

const Class* Inspector::primitiveClass(int kind) const
{
    return kind >= 0 && kind < primitives.size() ? primitives.at(kind) : nullptr;
}

SharedPtr<Object> Inspector::createInt(int value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(IntKind), value));
}

SharedPtr<Object> Inspector::createInt64(qint64 value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(Int64Kind), value));
}

SharedPtr<Object> Inspector::createDouble(double value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(DoubleKind), value));
}

SharedPtr<Object> Inspector::createBool(bool value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(BoolKind), value));
}

SharedPtr<Object> Inspector::createString(const QString& value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(StringKind), value));
}
