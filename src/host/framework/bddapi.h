// The framework's BDD entry: runs a feature file through the current language back end's script
// actions and reports its scenarios and steps to the test result.
#pragma once

#include "scriptcontext.h"

// Arguments: the feature file (relative to the test script's directory) and optional tags: "@tag" runs
// only scenarios with one of the given tags, "~@tag" leaves out scenarios with that tag. The result is
// true when every scenario passed. A file that cannot be read or parsed is an error naming file and line.
int runFeatureFile(ScriptContext* context);
