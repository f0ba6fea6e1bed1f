// The framework's test API.
#include "testapi.h"

#include "filecompare.h"
#include "inspector.h"
#include "interpreter.h"
#include "runnerinterface.h"
#include "scriptargument.h"
#include "testresult.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

// Positions that results are reported at instead of the current one (fixateResultContext).
QList<LineInfo>& fixatedLocations()
{
    static QList<LineInfo> locations;
    return locations;
}

RunnerInterface* runner()
{
    return Interpreter::self() ? Interpreter::self()->runner() : nullptr;
}

TestResult* resultOf(ScriptContext* context)
{
    if (TestResult* result = context->testResult())
        return result;
    if (ScriptContext* current = ScriptContext::current())
        return current->testResult();
    return nullptr;
}

// The script position a result belongs to.
void where(QString* file, int* line)
{
    if (!fixatedLocations().isEmpty()) {
        *file = fixatedLocations().last().file();
        *line = fixatedLocations().last().line();
        return;
    }
    Debugger* debugger = Debugger::self();
    if (debugger)
        debugger->synchronize();
    if (debugger && debugger->currentLine() > 0) {
        *file = debugger->currentFile();
        *line = debugger->currentLine();
        return;
    }
    *file = runner() ? runner()->testScriptPath() : QString();
    *line = -1;
}

void report(ScriptContext* context, TestResult::Type type, const QString& message, const QString& detail = QString(),
            const QString& attachment = QString())
{
    TestResult* result = resultOf(context);
    if (!result) {
        qWarning("%s: %s", qPrintable(TestResult::typeName(type)), qUtf8Printable(message));
        return;
    }
    TestResult::Entry e;
    e.type = type;
    e.message = message;
    e.detail = detail;
    e.attachment = attachment;
    where(&e.file, &e.line);
    result->add(e);
}

int fail(ScriptContext* context, const QString& message)
{
    context->setError(message, ScriptContext::PlainError);
    return 1;
}

QString arg(ScriptContext* context, int i)
{
    return i < context->argumentCount() ? context->argument(i)->toString() : QString();
}

// A failed check: reported, and the test case ends when the result says so.
int checked(ScriptContext* context, bool ok, TestResult::Type passType, TestResult::Type failType,
            const QString& passMessage, const QString& failMessage, const QString& detail)
{
    report(context, ok ? passType : failType, ok ? passMessage : failMessage, detail);
    context->setResult(context->createBoolArgument(ok));
    TestResult* result = resultOf(context);
    const bool counts = (ok ? passType : failType) == TestResult::Fail ||
                        (ok ? passType : failType) == TestResult::UnexpectedPass;
    if (counts && result && result->isAbortOnFailure()) {
        context->setError(ok ? passMessage : failMessage, ScriptContext::VerificationFailure);
        return 1;
    }
    return 0;
}

int verify(ScriptContext* context, bool expectFailure)
{
    const bool ok = context->isTrue(context->argument(0));
    const QString info = arg(context, 1);
    // A condition is a value: an expression text such as {$x == 1} is not evaluated.
    const QString detail = context->argument(0)->isBool()
                               ? QStringLiteral("'%1' is %2").arg(arg(context, 0), ok ? "true" : "false")
                               : QStringLiteral("'%1' is not a boolean value (pass the result of expr)")
                                     .arg(arg(context, 0));
    if (expectFailure)
        return checked(context, !ok, TestResult::ExpectedFail, TestResult::UnexpectedPass,
                       info.isEmpty() ? QStringLiteral("Expected failure") : info,
                       info.isEmpty() ? QStringLiteral("Unexpected pass") : info, detail);
    return checked(context, ok, TestResult::Pass, TestResult::Fail, info.isEmpty() ? QStringLiteral("Verified") : info,
                   info.isEmpty() ? QStringLiteral("Verification failed") : info, detail);
}

int compare(ScriptContext* context, bool expectFailure)
{
    const bool equal = context->compareArguments(context->argument(0), context->argument(1));
    const QString info = arg(context, 2);
    const QString detail =
        QStringLiteral("'%1' and '%2' are %3").arg(arg(context, 0), arg(context, 1), equal ? "equal" : "not equal");
    if (expectFailure)
        return checked(context, !equal, TestResult::ExpectedFail, TestResult::UnexpectedPass,
                       info.isEmpty() ? QStringLiteral("Expected failure") : info,
                       info.isEmpty() ? QStringLiteral("Unexpected pass") : info, detail);
    return checked(context, equal, TestResult::Pass, TestResult::Fail,
                   info.isEmpty() ? QStringLiteral("Comparison") : info,
                   info.isEmpty() ? QStringLiteral("Comparison failed") : info, detail);
}

int simple(ScriptContext* context, TestResult::Type type)
{
    report(context, type, arg(context, 0), arg(context, 1));
    return 0;
}

int notAvailable(ScriptContext* context, const QString& what, bool giveFalse)
{
    report(context, TestResult::Warning, QStringLiteral("%1 is not available in this build").arg(what),
           arg(context, 0));
    if (giveFalse)
        context->setResult(context->createBoolArgument(false));
    return 0;
}

// A relative path belongs to the directory of the test script.
QString resolvePath(const QString& path)
{
    if (QFileInfo(path).isAbsolute() || !runner() || runner()->testScriptPath().isEmpty())
        return path;
    return QDir::cleanPath(QFileInfo(runner()->testScriptPath()).absolutePath() + QLatin1Char('/') + path);
}

CompareOptions readOptions(ScriptContext* context, int index)
{
    CompareOptions options;
    if (index >= context->argumentCount())
        return options;
    const QMap<QString, SharedPtr<ScriptArgument>> map = context->argument(index)->toMap();
    if (map.contains(QStringLiteral("strictLineEndings")))
        options.strictLineEndings = map.value(QStringLiteral("strictLineEndings"))->toBool();
    if (map.contains(QStringLiteral("ignoreWhitespace")))
        options.ignoreWhitespace = map.value(QStringLiteral("ignoreWhitespace"))->toBool();
    if (map.contains(QStringLiteral("ignoreComments")))
        options.ignoreComments = map.value(QStringLiteral("ignoreComments"))->toBool();
    return options;
}

int compareFiles(ScriptContext* context, const QString& kind,
                 FileComparison (*comparison)(const QString&, const QString&, const CompareOptions&))
{
    const QString expected = resolvePath(arg(context, 0)), actual = resolvePath(arg(context, 1));
    const FileComparison result = comparison(expected, actual, readOptions(context, 2));
    if (!result.readable)
        return fail(context, result.error);
    return checked(context, result.equal, TestResult::Pass, TestResult::Fail,
                   QStringLiteral("%1 files are equal").arg(kind), QStringLiteral("%1 files differ").arg(kind),
                   result.equal ? QStringLiteral("'%1' and '%2'").arg(expected, actual)
                                : QStringLiteral("'%1' and '%2':\n%3").arg(expected, actual, result.summary));
}

FileComparison jsonComparison(const QString& a, const QString& b, const CompareOptions&)
{
    return compareJSONFiles(a, b);
}

} // namespace

int testLog(ScriptContext* c) { return simple(c, TestResult::Log); }
int testVerify(ScriptContext* c) { return verify(c, false); }
int testXVerify(ScriptContext* c) { return verify(c, true); }
int testCompare(ScriptContext* c) { return compare(c, false); }
int testXCompare(ScriptContext* c) { return compare(c, true); }

int testException(ScriptContext* c)
{
    const QPair<QString, QString> outcome = c->evaluateExpectingError(c->argument(0));
    const QString info = arg(c, 1);
    const bool raised = !outcome.first.isEmpty();
    return checked(c, raised, TestResult::Pass, TestResult::Fail, info.isEmpty() ? QStringLiteral("Exception raised") : info,
                   info.isEmpty() ? QStringLiteral("No exception raised") : info, raised ? outcome.first : outcome.second);
}

int testVP(ScriptContext* c)
{
    return notAvailable(c, QStringLiteral("Verification point '%1': verification points are").arg(arg(c, 0)), true);
}
int testXVP(ScriptContext* c) { return testVP(c); }
int testVPWithObject(ScriptContext* c) { return testVP(c); }
int testFail(ScriptContext* c) { return checked(c, false, TestResult::Pass, TestResult::Fail, QString(), arg(c, 0), arg(c, 1)); }
int testXFail(ScriptContext* c) { return simple(c, TestResult::ExpectedFail); }
int testPass(ScriptContext* c) { return simple(c, TestResult::Pass); }
int testXPass(ScriptContext* c) { return checked(c, false, TestResult::Pass, TestResult::UnexpectedPass, QString(), arg(c, 0), arg(c, 1)); }
int testWarning(ScriptContext* c) { return simple(c, TestResult::Warning); }

int testFatal(ScriptContext* c)
{
    report(c, TestResult::Fatal, arg(c, 0), arg(c, 1));
    // Reported already: the prefix keeps the runner from reporting the end of the script again.
    c->setError(arg(c, 0), ScriptContext::VerificationFailure);
    return 1;
}

int testSkip(ScriptContext* c)
{
    report(c, TestResult::Skip, arg(c, 0), arg(c, 1));
    c->setError(arg(c, 0), ScriptContext::SkipError);
    return 1;
}

int testResultCount(ScriptContext* c)
{
    static const QList<QPair<QString, TestResult::Type>> categories = {
        {"errors", TestResult::Error},         {"fails", TestResult::Fail},         {"fatals", TestResult::Fatal},
        {"passes", TestResult::Pass},          {"skips", TestResult::Skip},         {"warnings", TestResult::Warning},
        {"xfails", TestResult::ExpectedFail}, {"xpasses", TestResult::UnexpectedPass}};
    const QString category = arg(c, 0);
    TestResult* result = resultOf(c);
    for (const auto& entry : categories) {
        if (entry.first == category) {
            c->setResult(c->createIntArgument(result ? result->count(entry.second) : 0));
            return 0;
        }
    }
    if (category == QLatin1String("testcases")) {
        c->setResult(c->createIntArgument(1));
        return 0;
    }
    return fail(c, QStringLiteral("Unknown result category '%1'. Possible are: errors, fails, fatals, passes, skips, "
                                  "testcases, warnings, xfails, xpasses")
                       .arg(category));
}

int testStackTrace(ScriptContext* c)
{
    const int start = c->argumentCount() > 0 ? c->argument(0)->toInt() : 0;
    const int count = c->argumentCount() > 1 ? c->argument(1)->toInt() : 0;
    if (start < 0 || count < 0)
        return fail(c, QStringLiteral("test stackTrace: frame numbers must not be negative"));
    LineInfoList stack;
    LineInfo info;
    for (int level = start; (count == 0 || stack.size() < count) && c->lineInfo(&info, level); ++level)
        stack.append(info);
    c->setStackTraceResult(stack);
    return 0;
}

int testFixateResultContext(ScriptContext* c)
{
    const int level = c->argumentCount() > 0 ? c->argument(0)->toInt() : 1;
    LineInfo info;
    if (level < 0 || !c->lineInfo(&info, level))
        return fail(c, QStringLiteral("test fixateResultContext: there is no frame %1 above this one").arg(level));
    fixatedLocations().append(info);
    return 0;
}

int testRestoreResultContext(ScriptContext* c)
{
    if (fixatedLocations().isEmpty())
        return fail(c, QStringLiteral("test restoreResultContext: no result context is fixated"));
    fixatedLocations().removeLast();
    return 0;
}

int testStartSection(ScriptContext* c)
{
    QString file;
    int line;
    where(&file, &line);
    if (TestResult* result = resultOf(c))
        result->startSection(arg(c, 0), arg(c, 1), file, line);
    return 0;
}

int testEndSection(ScriptContext* c)
{
    QString file;
    int line;
    where(&file, &line);
    TestResult* result = resultOf(c);
    if (!result || !result->endSection(file, line))
        return fail(c, QStringLiteral("test endSection: no section is open"));
    return 0;
}

int testCompareTextFiles(ScriptContext* c) { return compareFiles(c, QStringLiteral("Text"), compareTextFiles); }
int testCompareXMLFiles(ScriptContext* c) { return compareFiles(c, QStringLiteral("XML"), compareXMLFiles); }
int testCompareJSONFiles(ScriptContext* c) { return compareFiles(c, QStringLiteral("JSON"), jsonComparison); }

int testBreakpoint(ScriptContext* c)
{
    const QString message = c->argumentCount() ? arg(c, 0) : QString();
    report(c, TestResult::Log, QStringLiteral("Breakpoint%1").arg(c->argumentCount() ? ": " + message : QString()));
    // Under a debugger the script stops here, where the command was called.
    Debugger* debugger = Debugger::self();
    if (debugger && debugger->isInteractive()) {
        debugger->synchronize();
        debugger->stopBecause(Debugger::StopAtScriptBreakpoint, message);
    }
    return 0;
}

int testImageNotPresent(ScriptContext* c) { return notAvailable(c, QStringLiteral("Image search"), true); }
int testImagePresent(ScriptContext* c) { return notAvailable(c, QStringLiteral("Image search"), true); }
int testOcrTextNotPresent(ScriptContext* c) { return notAvailable(c, QStringLiteral("Text recognition"), true); }
int testOcrTextPresent(ScriptContext* c) { return notAvailable(c, QStringLiteral("Text recognition"), true); }
int testAttachImage(ScriptContext* c) { return notAvailable(c, QStringLiteral("Attaching images"), false); }
int testStartVideoCapture(ScriptContext* c) { return notAvailable(c, QStringLiteral("Video capture"), false); }
int testStopVideoCapture(ScriptContext* c) { return notAvailable(c, QStringLiteral("Video capture"), false); }

int testAttachFile(ScriptContext* c)
{
    const QString path = resolvePath(arg(c, 0));
    const QFileInfo info(path);
    if (!info.isFile())
        return fail(c, QStringLiteral("Cannot attach file '%1': it does not exist").arg(arg(c, 0)));
    QString kept = info.absoluteFilePath();
    const QString directory = runner() ? runner()->resultDirectory() : QString();
    if (!directory.isEmpty()) {
        QDir dir(directory);
        if (!dir.mkpath(QStringLiteral(".")))
            return fail(c, QStringLiteral("Cannot attach file '%1': cannot create the result directory '%2'")
                               .arg(arg(c, 0), directory));
        kept = dir.filePath(info.fileName());
        for (int n = 2; QFile::exists(kept); ++n)
            kept = dir.filePath(QStringLiteral("%1-%2%3")
                                    .arg(info.completeBaseName())
                                    .arg(n)
                                    .arg(info.suffix().isEmpty() ? QString() : "." + info.suffix()));
        if (!QFile::copy(path, kept))
            return fail(c, QStringLiteral("Cannot attach file '%1': copying it to '%2' failed").arg(arg(c, 0), kept));
    }
    const QString message = c->argumentCount() > 1 ? arg(c, 1) : QStringLiteral("Attached %1").arg(info.fileName());
    report(c, TestResult::Log, message, kept, kept);
    c->setResult(c->createStringArgument(kept));
    return 0;
}

QString saveApplicationScreenshot(const QString& directory, const QString& prefix, QString* error)
{
    ObjectProvider* provider = Inspector::self()->currentObjectProvider();
    if (!provider) {
        *error = QStringLiteral("there is no application to take a screenshot of (only programs started with "
                                "startApplication or attached to have windows to picture)");
        return QString();
    }
    if (const QString reason = provider->unavailableReason(); !reason.isEmpty()) {
        *error = reason;
        return QString();
    }
    const QByteArray png = provider->screenshot();
    if (png.isEmpty()) {
        const QString reason = Inspector::self()->lastError();
        *error = reason.isEmpty() ? QStringLiteral("the application has no window to picture") : reason;
        return QString();
    }
    QDir dir(directory);
    if (!dir.mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("cannot create the directory '%1'").arg(directory);
        return QString();
    }
    QString path;
    for (int n = 1; path.isEmpty() || QFile::exists(path); ++n)
        path = dir.absoluteFilePath(QStringLiteral("%1-%2.png").arg(prefix).arg(n));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(png) != png.size()) {
        *error = QStringLiteral("cannot write '%1': %2").arg(path, file.errorString());
        return QString();
    }
    return path;
}

int testAttachDesktopScreenshot(ScriptContext* c)
{
    // Without a results directory the picture has to live somewhere until the reports name it.
    QString directory = runner() ? runner()->resultDirectory() : QString();
    if (directory.isEmpty())
        directory = QDir::tempPath() + QStringLiteral("/tarvin-screenshots");
    QString error;
    const QString path = saveApplicationScreenshot(directory, QStringLiteral("screenshot"), &error);
    if (path.isEmpty())
        return fail(c, QStringLiteral("Cannot attach a desktop screenshot: %1").arg(error));
    const QString message = arg(c, 0).isEmpty() ? QStringLiteral("Desktop screenshot") : arg(c, 0);
    report(c, TestResult::Log, message, path, path);
    c->setResult(c->createStringArgument(path));
    return 0;
}

namespace TestInteraction {

namespace {

FILE* inStream = nullptr;
FILE* outStream = nullptr;

FILE* in() { return inStream ? inStream : stdin; }
FILE* out() { return outStream ? outStream : stdout; }

bool available()
{
    return isatty(fileno(in())) && isatty(fileno(out()));
}

int noTerminal(ScriptContext* c)
{
    return fail(c, QStringLiteral("testInteraction: there is no terminal to show the dialog on (the run is not "
                                  "interactive)"));
}

QString readLine(bool hidden = false)
{
    struct termios saved;
    const bool hide = hidden && tcgetattr(fileno(in()), &saved) == 0;
    if (hide) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~ECHO;
        tcsetattr(fileno(in()), TCSANOW, &quiet);
    }
    char buffer[4096];
    const bool ok = fgets(buffer, sizeof buffer, in()) != nullptr;
    if (hide) {
        tcsetattr(fileno(in()), TCSANOW, &saved);
        fputc('\n', out());
    }
    return ok ? QString::fromLocal8Bit(buffer).trimmed() : QString();
}

void show(const QString& title, const QString& text)
{
    fprintf(out(), "\n[%s] %s\n", qPrintable(title), text.toLocal8Bit().constData());
    fflush(out());
}

int message(ScriptContext* c, const QString& title)
{
    if (!available())
        return noTerminal(c);
    show(title, arg(c, 0));
    fputs("Press Enter to continue... ", out());
    fflush(out());
    readLine();
    c->setResult(c->createIntArgument(Ok));
    return 0;
}

} // namespace

void setStreams(FILE* i, FILE* o)
{
    inStream = i;
    outStream = o;
}

int isAvailable(ScriptContext* c)
{
    c->setResult(c->createIntArgument(available() ? 1 : 0));
    return 0;
}

int information(ScriptContext* c) { return message(c, QStringLiteral("Information")); }
int warning(ScriptContext* c) { return message(c, QStringLiteral("Warning")); }

int notification(ScriptContext* c)
{
    if (!available())
        return noTerminal(c);
    show(QStringLiteral("Notification"), arg(c, 0));
    return 0;
}

int question(ScriptContext* c)
{
    if (!available())
        return noTerminal(c);
    show(QStringLiteral("Question"), arg(c, 0));
    while (true) {
        fputs("Answer y (yes) or n (no): ", out());
        fflush(out());
        const QString answer = readLine().toLower();
        if (answer == QLatin1String("y") || answer == QLatin1String("yes")) {
            c->setResult(c->createIntArgument(Yes));
            return 0;
        }
        if (answer == QLatin1String("n") || answer == QLatin1String("no") || feof(in())) {
            c->setResult(c->createIntArgument(No));
            return 0;
        }
    }
}

int input(ScriptContext* c)
{
    if (!available())
        return noTerminal(c);
    show(QStringLiteral("Input"), arg(c, 0));
    const QString initial = arg(c, 1);
    fprintf(out(), "%s> ", initial.isEmpty() ? "" : qPrintable(QStringLiteral("[%1] ").arg(initial)));
    fflush(out());
    const QString text = readLine();
    c->setResult(c->createStringArgument(text.isEmpty() ? initial : text));
    return 0;
}

int password(ScriptContext* c)
{
    if (!available())
        return noTerminal(c);
    show(QStringLiteral("Password"), arg(c, 0));
    fputs("> ", out());
    fflush(out());
    c->setResult(c->createStringArgument(readLine(true)));
    return 0;
}

int choice(ScriptContext* c)
{
    if (!available())
        return noTerminal(c);
    QStringList items;
    for (const SharedPtr<ScriptArgument>& item : c->argument(1) ? c->argument(1)->toList() : QList<SharedPtr<ScriptArgument>>())
        items << item->toString();
    if (items.isEmpty())
        return fail(c, QStringLiteral("testInteraction choice: no items to choose from"));
    show(QStringLiteral("Choice"), arg(c, 0));
    for (int i = 0; i < items.size(); ++i)
        fprintf(out(), "  %d) %s\n", i + 1, items.at(i).toLocal8Bit().constData());
    while (true) {
        fputs("Number: ", out());
        fflush(out());
        bool ok = false;
        const int n = readLine().toInt(&ok);
        if (ok && n >= 1 && n <= items.size()) {
            c->setResult(c->createStringArgument(items.at(n - 1)));
            return 0;
        }
        if (feof(in())) {
            c->setResult(c->createStringArgument(QString()));
            return 0;
        }
    }
}

int showImage(ScriptContext* c)
{
    if (!available())
        return noTerminal(c);
    show(QStringLiteral("Image"), QStringLiteral("%1 (%2)").arg(arg(c, 1), arg(c, 0)));
    return 0;
}

} // namespace TestInteraction
