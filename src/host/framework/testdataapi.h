// The framework's test data functions: finding a suite's data files, and moving data files between the
// test suite and the working directory of the application under test.
//
// A data file name is looked up, in this order, as given (an absolute path), in the test case's own
// directory for its kind ("testdata" under the test case), and in the suite's shared directory for it
// ("shared/testdata" under the suite).
#pragma once

#include "scriptcontext.h"

#include <QString>
#include <QVariant>

// The path of the suite file of that kind, or an empty text when there is none.
QString findTestSuiteFile(const QString& name, const QString& kind);

// Copies the data file into the working directory of the application under test. Returns an invalid
// value on success; on failure a valid one, with the reason in *error.
QVariant copyTestData(const QString& name, QString* error);

// Copies a file from the application's working directory back into the test case's testdata directory.
// Arguments: fileName
int testDataGet(ScriptContext* context);

// The directory data files are put into (the application's working directory).
QString applicationDataDirectory();
