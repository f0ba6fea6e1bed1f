// Syntax analysis of Tcl test scripts without running them.
//
// A single left-to-right pass over the bytes that follows Tcl's quoting, bracing, command
// substitution and comment rules, and descends into the bodies of a fixed set of control
// keywords (proc, while, if, foreach, for, switch, ...). It keeps no tree: the result is one
// line of error text, "Line L: Error: MESSAGE (p COLUMN)\n", naming the last error found, or an
// empty text when the script looks well formed.
//
// Nesting (command substitutions and analysed bodies) is kept on an explicit heap stack, so
// arbitrarily deep input cannot exhaust the native stack. Levels deeper than 1000 are reported
// ("too many nested call to analyze") but still analysed, so later positions stay meaningful.
#pragma once

#include <QByteArray>

// Analyses a NUL-terminated UTF-8 script; returns the error text, empty when none is found.
QByteArray analyzeSource(const char* utf8Text);
