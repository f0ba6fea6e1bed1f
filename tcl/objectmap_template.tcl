# The object map of the test suite: symbolic names for the real names of the application's objects.
# Each entry is a variable of the namespace names; test scripts write $names::NAME where an object
# name goes (waitForObject $names::NAME). New entries are added in front of the closing brace.
package require tarvin::objectmaphelper

namespace eval names {
}
