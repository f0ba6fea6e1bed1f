// The framework's test API: verifications, comparisons, logging, results of the running test case,
// sections, stack traces, file comparisons and attachments. Each function reads its arguments from a
// script context and reports to the context's test result; each result records the file and line of the
// script that produced it. Failed verifications go on with the script, unless the test result is set to
// abort on failure; `fatal` and `skip` end the test case.
#pragma once

#include "scriptcontext.h"

int testLog(ScriptContext* context);
int testVerify(ScriptContext* context);
int testXVerify(ScriptContext* context);
int testCompare(ScriptContext* context);
int testXCompare(ScriptContext* context);
int testException(ScriptContext* context);
int testVP(ScriptContext* context);
int testXVP(ScriptContext* context);
int testVPWithObject(ScriptContext* context);
int testFail(ScriptContext* context);
int testXFail(ScriptContext* context);
int testPass(ScriptContext* context);
int testXPass(ScriptContext* context);
int testFatal(ScriptContext* context);
int testWarning(ScriptContext* context);
int testSkip(ScriptContext* context);
int testResultCount(ScriptContext* context);
int testStackTrace(ScriptContext* context);
int testFixateResultContext(ScriptContext* context);
int testRestoreResultContext(ScriptContext* context);
int testStartSection(ScriptContext* context);
int testEndSection(ScriptContext* context);
int testCompareTextFiles(ScriptContext* context);
int testCompareXMLFiles(ScriptContext* context);
int testCompareJSONFiles(ScriptContext* context);
int testBreakpoint(ScriptContext* context);
int testImageNotPresent(ScriptContext* context);
int testImagePresent(ScriptContext* context);
int testOcrTextNotPresent(ScriptContext* context);
int testOcrTextPresent(ScriptContext* context);
int testAttachFile(ScriptContext* context);
int testAttachDesktopScreenshot(ScriptContext* context);
int testAttachImage(ScriptContext* context);
int testStartVideoCapture(ScriptContext* context);
int testStopVideoCapture(ScriptContext* context);

// Saves a PNG of the current application's windows into `directory` (made when missing) as
// PREFIX-N.png, the first N not taken, and returns its absolute path. Empty, with the reason in *error,
// when there is no application that can be pictured or the file cannot be written.
QString saveApplicationScreenshot(const QString& directory, const QString& prefix, QString* error);

// Dialogs on the tester's machine. Without a terminal to ask on, isAvailable answers 0 and the dialogs
// fail with a clear message instead of waiting.
namespace TestInteraction {
enum Button { None = 0, Ok = 1, Cancel = 2, Yes = 4, No = 8 };
int isAvailable(ScriptContext* context);
int information(ScriptContext* context);
int warning(ScriptContext* context);
int notification(ScriptContext* context);
int question(ScriptContext* context);
int input(ScriptContext* context);
int password(ScriptContext* context);
int choice(ScriptContext* context);
int showImage(ScriptContext* context);
// Where the dialogs read and write; tests point them elsewhere.
void setStreams(FILE* in, FILE* out);
} // namespace TestInteraction
