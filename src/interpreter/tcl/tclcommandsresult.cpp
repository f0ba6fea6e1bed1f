// The test result commands: `test`, which dispatches each option to the framework's test API through
// the global script context, and `testInteraction`, the tester's dialogs.
#include "tclcommands.h"

#include "tclinterpreter.h"
#include "tclspecific.h"
#include "testapi.h"

#include <cstring>

namespace {

struct TestOption {
    const char* name;
    int minWords;
    int maxWords;
    const char* usage; // null: no usage text, only the command words are shown
    int (*function)(ScriptContext*);
};

const TestOption testOptions[] = {
    {"log", 1, 2, "message ?detail?", testLog},
    {"verify", 1, 2, "condition ?info?", testVerify},
    {"xverify", 1, 2, "condition ?info?", testXVerify},
    {"compare", 2, 3, "val1 val2 ?info?", testCompare},
    {"xcompare", 2, 3, "val1 val2 ?info?", testXCompare},
    {"exception", 1, 2, "{ command } ?info?", testException},
    {"vp", 1, 2, "verificationPoint", testVP},
    {"xvp", 1, 2, "verificationPoint", testXVP},
    {"vpWithObject", 2, 2, "VerificationPointWithObject", testVPWithObject},
    {"fail", 1, 2, "message ?detail?", testFail},
    {"xfail", 1, 2, "message ?detail?", testXFail},
    {"pass", 1, 2, "message ?detail?", testPass},
    {"xpass", 1, 2, "message ?detail?", testXPass},
    {"fatal", 1, 2, "message ?detail?", testFatal},
    {"warning", 1, 2, "message ?detail?", testWarning},
    {"skip", 1, 2, "message ?detail?", testSkip},
    {"resultCount", 1, 1, "category", testResultCount},
    {"stackTrace", 0, 2, "?startFrame? ?numFrames?", testStackTrace},
    {"fixateResultContext", 0, 1, "?ancestorFrame?", testFixateResultContext},
    {"restoreResultContext", 0, 0, "", testRestoreResultContext},
    {"startSection", 1, 2, "title ?description?", testStartSection},
    {"endSection", 0, 0, "", testEndSection},
    {"compareTextFiles", 2, 3, "expectedFilePath actualFilePath ?options?", testCompareTextFiles},
    {"compareXMLFiles", 2, 3, "expectedFilePath actualFilePath ?options?", testCompareXMLFiles},
    {"compareJSONFiles", 2, 3, "expectedFilePath actualFilePath ?options?", testCompareJSONFiles},
    {"breakpoint", 0, 1, "message ?detail?", testBreakpoint},
    {"imageNotPresent", 1, 3, nullptr, testImageNotPresent},
    {"imagePresent", 1, 3, nullptr, testImagePresent},
    {"ocrTextNotPresent", 1, 3, nullptr, testOcrTextNotPresent},
    {"ocrTextPresent", 1, 3, nullptr, testOcrTextPresent},
    {"attachFile", 1, 2, "absoluteFilePath ?message?", testAttachFile},
    {"attachDesktopScreenshot", 1, 1, "message", testAttachDesktopScreenshot},
    {"attachImage", 1, 2, "image ?message?", testAttachImage},
    {"startVideoCapture", 0, 1, "?message?", testStartVideoCapture},
    {"stopVideoCapture", 0, 1, "?message?", testStopVideoCapture},
};

struct InteractionOption {
    const char* name;
    int (*function)(ScriptContext*);
    int constant;
};

const InteractionOption interactionOptions[] = {
    {"choice", TestInteraction::choice, 0},
    {"isAvailable", TestInteraction::isAvailable, 0},
    {"information", TestInteraction::information, 0},
    {"input", TestInteraction::input, 0},
    {"notification", TestInteraction::notification, 0},
    {"password", TestInteraction::password, 0},
    {"warning", TestInteraction::warning, 0},
    {"question", TestInteraction::question, 0},
    {"showImage", TestInteraction::showImage, 0},
    {"None", nullptr, TestInteraction::None},
    {"Ok", nullptr, TestInteraction::Ok},
    {"Cancel", nullptr, TestInteraction::Cancel},
    {"Yes", nullptr, TestInteraction::Yes},
    {"No", nullptr, TestInteraction::No},
};

} // namespace

/*
 * test option ?arg ...?
 *
 * Results: what the option's test function answers. Side effects: results reported to the test case;
 * a failed verification or a skip that ends the test case comes back as an error with the prefix
 * "VerificationFailure: " or "Skipped: ", and errorCode holds the bare text.
 */
int TestObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option ?arg ...?");
        return TCL_ERROR;
    }
    const char* name = Tcl_GetString(objv[1]);
    for (const TestOption& option : testOptions) {
        if (strcmp(option.name, name) != 0)
            continue;
        const int words = objc - 2;
        if (words < option.minWords || words > option.maxWords) {
            Tcl_WrongNumArgs(interp, 2, objv, option.usage);
            return TCL_ERROR;
        }
        return runInGlobalContext(interp, words, objv + 2, option.function);
    }
    return setErrorResult(interp, QStringLiteral(
        "Unknown option. Possible options are: log, verify, xverify, compare, xcompare, fail, breakpoint, warning, "
        "skip, xfail, pass, xpass, fatal, exception, vp, xvp, vpWithObject, resultCount, stackTrace, "
        "fixateResultContext, restoreResultContext, startSection, endSection, compareTextFiles, compareXMLFiles, "
        "compareJSONFiles, imageNotPresent, imagePresent, ocrTextNotPresent, ocrTextPresent, attachFile, "
        "attachDesktopScreenshot, startVideoCapture, stopVideoCapture"));
}

/*
 * testInteraction option ?arg ...?
 *
 * Results: the dialog's answer, or a button constant.
 */
int TestInteractionObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option");
        return TCL_ERROR;
    }
    const char* name = Tcl_GetString(objv[1]);
    for (const InteractionOption& option : interactionOptions) {
        if (strcmp(option.name, name) != 0)
            continue;
        if (!option.function) {
            Tcl_SetObjResult(interp, Tcl_NewIntObj(option.constant));
            return finishCommand(TCL_OK);
        }
        return runInContext(option.function, interp, objc - 1, objv + 1);
    }
    return setErrorResult(interp, QStringLiteral("Unknown option. Possible options are: information, input, "
                                                 "notification, password, warning, question, None, Ok, Cancel, "
                                                 "Yes, No"));
}
