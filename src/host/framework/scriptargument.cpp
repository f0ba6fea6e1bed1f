// Framework implementations of the script argument operations a language may keep.
#include "scriptargument.h"

bool ScriptArgument::isStringLike() const
{
    return isString() || isInteger() || isDouble() || isBool();
}

QString ScriptArgument::toRealName() const
{
    return toString();
}

QString ScriptArgument::callableIdentifier() const
{
    return QString();
}

QString ScriptArgument::toPropertyValue() const
{
    return toString();
}
