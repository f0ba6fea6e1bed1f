// The framework's BDD entry: runs a feature file through the current language back end's script
// actions and reports its scenarios and steps to the test result.
#pragma once

#include "gherkin.h"
#include "scriptcontext.h"

// Arguments: the feature file (relative to the test script's directory) and optional tags: "@tag" runs
// only scenarios with one of the given tags, "~@tag" leaves out scenarios with that tag. The result is
// true when every scenario passed. The runner's tag expression selects scenarios too, and in its dry run
// steps are only matched against the step definitions (undefined and ambiguous ones are errors). A file that cannot be read or parsed is an error naming file and line.
int runFeatureFile(ScriptContext* context);

// A Tcl step definition for a step that has none, to paste into a step file: numbers in the text become
// |integer|, quoted texts |word| or |any|; a doc string and a table add a parameter each.
QString stepDefinitionSnippet(const Gherkin::Step& step);
