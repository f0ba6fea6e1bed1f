// Syntax analysis of Tcl test scripts without running them.
#pragma once

#include <QByteArray>

// Analyses a NUL-terminated UTF-8 script; returns the error text, empty when none is found.
QByteArray analyzeSource(const char* utf8Text);
