// Writing the HTML report.
#include "htmlreport.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>
#include <QVector>

namespace {

const char style[] = R"(
:root { --pass: #1a7f37; --fail: #cf222e; --warn: #9a6700; --muted: #57606a; --line: #d0d7de; }
* { box-sizing: border-box; }
body { font: 14px/1.45 system-ui, -apple-system, "Segoe UI", sans-serif; margin: 0; color: #1f2328; background: #f6f8fa; }
header { background: #fff; border-bottom: 1px solid var(--line); padding: 16px 24px; }
h1 { font-size: 20px; margin: 0 0 6px; }
main { padding: 16px 24px; }
.summary span.count { font-weight: 600; margin-right: 12px; }
.passed-text { color: var(--pass); } .failed-text { color: var(--fail); } .skipped-text { color: var(--warn); }
.muted, .time, .at { color: var(--muted); }
.note { color: var(--fail); font-weight: 600; }
table.cases { border-collapse: collapse; margin: 12px 0 4px; background: #fff; }
table.cases td, table.cases th { border: 1px solid var(--line); padding: 3px 10px; text-align: left; }
table.cases td.num { text-align: right; }
.badge { display: inline-block; min-width: 64px; text-align: center; border-radius: 4px; padding: 0 6px;
         font: 600 12px/20px ui-monospace, monospace; color: #fff; background: var(--muted); }
.badge.passed, .badge.pass, .badge.xfail { background: var(--pass); }
.badge.failed, .badge.fail, .badge.error, .badge.fatal, .badge.xpass { background: var(--fail); }
.badge.skipped, .badge.skip, .badge.warning { background: var(--warn); }
.badge.log { background: #8c959f; }
section.testcase { background: #fff; border: 1px solid var(--line); border-left: 6px solid var(--pass);
                   border-radius: 6px; margin: 12px 0; }
section.testcase.failed { border-left-color: var(--fail); }
section.testcase.skipped { border-left-color: var(--warn); }
section.testcase > details > summary { padding: 8px 12px; cursor: pointer; font-size: 15px; }
section.testcase .script { margin: 0 12px 6px 34px; font: 12px ui-monospace, monospace; color: var(--muted); }
ol.results { list-style: none; margin: 0; padding: 0 12px 10px 34px; }
ol.results ol.results { padding: 0 0 4px 18px; border-left: 2px solid var(--line); }
li.result { padding: 2px 0; }
li.result .where { font: 12px ui-monospace, monospace; color: var(--muted); }
li.result.fail, li.result.error, li.result.fatal, li.result.xpass { background: #ffebe9; border-radius: 4px; padding: 4px 6px; }
pre.detail { margin: 4px 0 2px 72px; padding: 6px 8px; background: #f6f8fa; border: 1px solid var(--line);
             border-radius: 4px; white-space: pre-wrap; font: 12px/1.4 ui-monospace, monospace; }
li.section > details > summary { font-weight: 600; cursor: pointer; padding: 3px 0; }
li.section.feature > details > summary { font-size: 15px; }
li.section.failed > details > summary { color: var(--fail); }
figure.screenshot { margin: 6px 0 4px 72px; }
figure.screenshot img { max-width: min(100%, 800px); border: 1px solid var(--line); box-shadow: 0 1px 4px #0002; }
figure.screenshot figcaption { font-size: 12px; color: var(--muted); }
figure.screenshot.missing figcaption .size { color: var(--fail); }
body.only-failed section.testcase:not(.failed), body.only-failed tr.case:not(.failed) { display: none; }
)";

// Images loaded show their size; ones that cannot be loaded (the report moved without its results)
// say so instead of a broken picture.
const char script[] = R"(
(function () {
  var box = document.getElementById('only-failed');
  box.addEventListener('change', function () { document.body.classList.toggle('only-failed', box.checked); });
  document.querySelectorAll('figure.screenshot').forEach(function (figure) {
    var img = figure.querySelector('img'), size = figure.querySelector('.size');
    function loaded() {
      figure.classList.add('loaded');
      size.textContent = img.naturalWidth + ' \u00d7 ' + img.naturalHeight + ' px';
    }
    function missing() {
      figure.classList.add('missing');
      img.style.display = 'none';
      size.textContent = 'the file could not be loaded';
    }
    if (img.complete) { if (img.naturalWidth > 0) loaded(); else missing(); }
    else { img.addEventListener('load', loaded); img.addEventListener('error', missing); }
  });
})();
)";

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

bool isFailure(TestResult::Type t)
{
    return t == TestResult::Fail || t == TestResult::UnexpectedPass || t == TestResult::Error ||
           t == TestResult::Fatal;
}

QString typeClass(TestResult::Type t)
{
    switch (t) {
    case TestResult::Pass: return QStringLiteral("pass");
    case TestResult::Fail: return QStringLiteral("fail");
    case TestResult::ExpectedFail: return QStringLiteral("xfail");
    case TestResult::UnexpectedPass: return QStringLiteral("xpass");
    case TestResult::Warning: return QStringLiteral("warning");
    case TestResult::Error: return QStringLiteral("error");
    case TestResult::Fatal: return QStringLiteral("fatal");
    case TestResult::Skip: return QStringLiteral("skip");
    case TestResult::Log:
    case TestResult::SectionStart:
    case TestResult::SectionEnd: break;
    }
    return QStringLiteral("log");
}

// An attachment's address relative to the page, each path segment percent-encoded.
QString href(const QString& path, const QString& directory)
{
    const QString relative = QFileInfo(path).isAbsolute() ? QDir(directory).relativeFilePath(path) : path;
    QStringList segments = relative.split(QLatin1Char('/'));
    for (QString& segment : segments)
        segment = QString::fromLatin1(QUrl::toPercentEncoding(segment));
    return segments.join(QLatin1Char('/'));
}

bool isImage(const QString& path)
{
    static const QStringList suffixes = {"png", "jpg", "jpeg", "gif", "bmp", "svg", "webp"};
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

QString attachment(const TestResult::Entry& e, const QString& directory)
{
    const QString url = esc(href(e.attachment, directory));
    if (!isImage(e.attachment))
        return QStringLiteral("<div class=\"attachment\">Attachment: <a href=\"%1\">%2</a></div>")
            .arg(url, esc(QFileInfo(e.attachment).fileName()));
    const QString what = isFailure(e.type) ? QStringLiteral("Screenshot at the failure") : QStringLiteral("Screenshot");
    return QStringLiteral("<figure class=\"screenshot\"><a href=\"%1\"><img src=\"%1\" alt=\"%2\"></a>"
                          "<figcaption>%2: <a href=\"%1\">%3</a> <span class=\"size\"></span></figcaption></figure>")
        .arg(url, what, esc(e.attachment));
}

QString result(const TestResult::Entry& e, const QString& directory)
{
    QString html = QStringLiteral("<li class=\"result %1\"><span class=\"badge %1\">%2</span> ")
                       .arg(typeClass(e.type), esc(TestResult::typeName(e.type)));
    if (!e.file.isEmpty())
        html += QStringLiteral("<span class=\"where\">%1</span> ")
                    .arg(esc(e.line > 0 ? QStringLiteral("%1:%2").arg(e.file).arg(e.line) : e.file));
    html += QStringLiteral("<span class=\"message\">%1</span>").arg(esc(e.message));
    if (e.time.isValid())
        html += QStringLiteral(" <span class=\"time\">%1</span>").arg(e.time.toString(QStringLiteral("HH:mm:ss.zzz")));
    // Passes speak for themselves, as on the terminal; the rest shows what was compared or the stack.
    const bool quiet = e.type == TestResult::Pass || e.type == TestResult::ExpectedFail;
    const bool detailIsAttachment = e.detail == e.attachment;
    if (!e.detail.isEmpty() && !quiet && !detailIsAttachment)
        html += QStringLiteral("<pre class=\"detail\">%1</pre>").arg(esc(e.detail));
    if (!e.attachment.isEmpty())
        html += attachment(e, directory);
    return html + QStringLiteral("</li>\n");
}

QString sectionClass(const QString& title)
{
    if (title.startsWith(QLatin1String("Feature:")))
        return QStringLiteral("feature");
    if (title.startsWith(QLatin1String("Scenario")) || title.startsWith(QLatin1String("Example")))
        return QStringLiteral("scenario");
    return QString();
}

QString countsText(const QList<TestResult::Entry>& entries)
{
    static const struct {
        TestResult::Type type;
        const char* one;
        const char* many;
    } counted[] = {{TestResult::Pass, "pass", "passes"},
                   {TestResult::Fail, "failure", "failures"},
                   {TestResult::Error, "error", "errors"},
                   {TestResult::Fatal, "fatal", "fatals"},
                   {TestResult::Warning, "warning", "warnings"},
                   {TestResult::Skip, "skip", "skips"},
                   {TestResult::ExpectedFail, "expected failure", "expected failures"},
                   {TestResult::UnexpectedPass, "unexpected pass", "unexpected passes"}};
    QStringList parts;
    for (const auto& c : counted) {
        int n = 0;
        for (const TestResult::Entry& e : entries)
            n += e.type == c.type ? 1 : 0;
        if (n)
            parts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? c.one : c.many));
    }
    return parts.join(QStringLiteral(", "));
}

QString seconds(double s)
{
    return QString::number(s, 'f', 2) + QStringLiteral(" s");
}

} // namespace

void HtmlReport::addTestCase(const QString& suite, const QString& name, const QString& script, double seconds,
                             const TestResult& result)
{
    cases.append(Case{suite, name, script, seconds, result.entries(), result.passed(), result.skipped()});
}

QString HtmlReport::testCase(const Case& c, int number, const QString& directory) const
{
    const QString status = !c.passed ? QStringLiteral("failed") : c.skipped ? QStringLiteral("skipped")
                                                                             : QStringLiteral("passed");
    // Which sections hold a failure: their matching ends are found with a stack.
    QVector<bool> sectionFailed(c.entries.size(), false);
    QVector<int> open;
    for (int i = 0; i < c.entries.size(); ++i) {
        const TestResult::Entry& e = c.entries.at(i);
        if (e.type == TestResult::SectionStart)
            open << i;
        else if (e.type == TestResult::SectionEnd && !open.isEmpty())
            open.removeLast();
        else if (isFailure(e.type))
            for (int start : open)
                sectionFailed[start] = true;
    }

    QString html = QStringLiteral("<section class=\"testcase %1\" id=\"case-%2\"><details%3><summary>"
                                  "<span class=\"badge %1\">%4</span> <strong>%5</strong>%6 "
                                  "<span class=\"time\">%7</span> <span class=\"muted\">%8</span></summary>\n")
                       .arg(status)
                       .arg(number)
                       .arg(c.passed ? QString() : QStringLiteral(" open"))
                       .arg(status.toUpper(), esc(c.name),
                            c.suite.isEmpty() ? QString() : QStringLiteral(" <span class=\"muted\">(%1)</span>").arg(esc(c.suite)),
                            seconds(c.seconds), esc(countsText(c.entries)));
    html += QStringLiteral("<div class=\"script\">%1</div>\n<ol class=\"results\">\n").arg(esc(c.script));
    int depth = 0;
    for (int i = 0; i < c.entries.size(); ++i) {
        const TestResult::Entry& e = c.entries.at(i);
        if (e.type == TestResult::SectionStart) {
            html += QStringLiteral("<li class=\"section %1%2\"><details open><summary>%3%4</summary>"
                                   "<ol class=\"results\">\n")
                        .arg(sectionClass(e.message), sectionFailed.at(i) ? QStringLiteral(" failed") : QString(),
                             esc(e.message),
                             e.detail.isEmpty() ? QString() : QStringLiteral(" <span class=\"muted\">%1</span>").arg(esc(e.detail)));
            ++depth;
        } else if (e.type == TestResult::SectionEnd) {
            if (depth > 0) {
                html += QStringLiteral("</ol></details></li>\n");
                --depth;
            }
        } else {
            html += result(e, directory);
        }
    }
    for (; depth > 0; --depth) // sections a script left open
        html += QStringLiteral("</ol></details></li>\n");
    return html + QStringLiteral("</ol></details></section>\n");
}

QString HtmlReport::page(const QString& directory) const
{
    int passed = 0, failed = 0, skipped = 0;
    double total = 0;
    for (const Case& c : cases) {
        passed += c.passed && !c.skipped ? 1 : 0;
        failed += c.passed ? 0 : 1;
        skipped += c.skipped ? 1 : 0;
        total += c.seconds;
    }
    QString title = QStringLiteral("Test results: %1 passed, %2 failed").arg(passed).arg(failed);
    if (skipped)
        title += QStringLiteral(", %1 skipped").arg(skipped);

    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                                  "<title>%1</title>\n<style>%2</style>\n</head>\n<body>\n<header>\n<h1>Test results</h1>\n")
                       .arg(esc(title), QString::fromUtf8(style));
    html += QStringLiteral("<div class=\"summary\"><span class=\"count passed-text\">%1 passed</span>"
                           "<span class=\"count failed-text\">%2 failed</span>")
                .arg(passed)
                .arg(failed);
    if (skipped)
        html += QStringLiteral("<span class=\"count skipped-text\">%1 skipped</span>").arg(skipped);
    html += QStringLiteral("<span class=\"muted\">%1 test cases in %2, started %3</span></div>\n")
                .arg(cases.size())
                .arg(seconds(total), started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!note.isEmpty())
        html += QStringLiteral("<p class=\"note\">%1</p>\n").arg(esc(note));
    html += QStringLiteral("<label><input type=\"checkbox\" id=\"only-failed\"> Only failed test cases</label>\n");
    html += QStringLiteral("<table class=\"cases\"><tr><th>Result</th><th>Test case</th><th>Suite</th><th>Time</th>"
                           "<th>Results</th></tr>\n");
    for (int i = 0; i < cases.size(); ++i) {
        const Case& c = cases.at(i);
        const QString status = !c.passed ? QStringLiteral("failed") : c.skipped ? QStringLiteral("skipped")
                                                                                 : QStringLiteral("passed");
        html += QStringLiteral("<tr class=\"case %1\"><td><span class=\"badge %1\">%2</span></td>"
                               "<td><a href=\"#case-%3\">%4</a></td><td>%5</td><td class=\"num\">%6</td><td>%7</td></tr>\n")
                    .arg(status, status.toUpper())
                    .arg(i + 1)
                    .arg(esc(c.name), esc(c.suite), seconds(c.seconds), esc(countsText(c.entries)));
    }
    html += QStringLiteral("</table>\n</header>\n<main>\n");
    for (int i = 0; i < cases.size(); ++i)
        html += testCase(cases.at(i), i + 1, directory);
    html += QStringLiteral("</main>\n<script>%1</script>\n</body>\n</html>\n").arg(QString::fromUtf8(script));
    return html;
}

bool HtmlReport::write(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write HTML report %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(page(QFileInfo(path).absolutePath()).toUtf8());
    if (!file.commit()) {
        *error = QStringLiteral("cannot write HTML report %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
