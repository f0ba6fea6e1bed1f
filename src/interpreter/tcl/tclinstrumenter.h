// Rewriting Tcl scripts with calls of the debug hook.
#pragma once

#include <QString>

// Returns the script with debug hook calls inserted, tagged with sourceId.
QString instrumentSource(const QString& code, int sourceId);
