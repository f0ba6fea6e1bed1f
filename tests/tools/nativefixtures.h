// Native API pieces that only the script tests see: a global function, a namespace and the types
// Shape <- Rectangle <- Square, with every kind of member (mandatory, optional and "..." arguments,
// properties without getter or setter, static members, failing functions, an unregistered type).
#pragma once

class Interpreter;

namespace NativeFixtures
{
void registerAll(Interpreter* interpreter);
} // namespace NativeFixtures
