// Screenshots of failures and the reports that show them: a real Qt program failing a comparison, the
// pictures it leaves, JUnit attachments, and the HTML page as a browser renders it.
#include "runnerfixture.h"

#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

namespace {

using ReportsTest = RunnerFixture;

// How many different colours a picture has, up to `enough`: a blank or failed grab has one.
int colours(const QImage& image, int enough = 16)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height() && seen.size() < enough; y += 3)
        for (int x = 0; x < image.width() && seen.size() < enough; x += 3)
            seen.insert(image.pixel(x, y));
    return seen.size();
}

QString chromium()
{
    for (const char* name : {"chromium", "chromium-browser", "google-chrome"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

struct Browser {
    int exitCode = -1;
    QByteArray out, err;
};

// Headless Chromium on a local page, with a profile of its own.
Browser browse(const QString& profile, const QStringList& args)
{
    QProcess p;
    p.start(chromium(), QStringList{"--headless", "--disable-gpu", "--no-sandbox", "--no-first-run",
                                    "--user-data-dir=" + profile, "--enable-logging=stderr", "--v=0"} +
                            args);
    Browser b;
    if (!p.waitForFinished(90000)) {
        p.kill();
        p.waitForFinished();
    }
    b.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    b.out = p.readAllStandardOutput();
    b.err = p.readAllStandardError();
    return b;
}

} // namespace

// The page without an application: results in order with their places, call stacks, sections and BDD
// scenarios nested, text escaped, attachments linked relative to the page, in the default results
// directory beside it.
TEST_F(ReportsTest, HtmlReportShowsEveryResultInOrder)
{
    const QString checks = write("suite/tst_checks/test.tcl", "proc helper {} {\n"
                                                              "    error \"broken <b>&</b>\"\n"
                                                              "}\n"
                                                              "proc main {} {\n"
                                                              "    test log \"starting\"\n"
                                                              "    test startSection \"Details\"\n"
                                                              "    test compare 1 2 \"one and two\"\n"
                                                              "    test endSection\n"
                                                              "    test attachFile notes.txt\n"
                                                              "    helper\n"
                                                              "}\n");
    write("suite/tst_checks/notes.txt", "kept\n");
    write("suite/tst_fine/test.tcl", "proc main {} { test pass fine }\n");
    const QString feature = write("suite/tst_bdd/test.feature", "Feature: Sums\n"
                                                                "  Scenario: Right\n"
                                                                "    Given the number 2\n"
                                                                "  Scenario: Wrong\n"
                                                                "    Given the number 3\n"
                                                                "    Then it is 4\n");
    write("suite/tst_bdd/steps/steps.tcl", "Given \"the number |integer|\" {n} { set ::n $n }\n"
                                           "Then \"it is |integer|\" {n} { test compare $::n $n }\n");

    QDir().mkpath(dir.filePath("out"));
    const RunOutcome r = run({"--html", "out/report.html", "suite"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
    const QString html = read("out/report.html");
    ASSERT_FALSE(html.isEmpty()) << r.err.toStdString();

    EXPECT_CONTAINS(html, "<title>Test results: 1 passed, 2 failed</title>");
    EXPECT_FALSE(html.contains("http://") || html.contains("https://")) << "the page needs no network";
    // The results of tst_checks in order, the comparison inside its section.
    const int log = html.indexOf(">starting<");
    const int section = html.indexOf("<summary>Details</summary>");
    const int failure = html.indexOf(checks + ":7</span> <span class=\"message\">one and two</span>");
    const int compared = html.indexOf("<pre class=\"detail\">'1' and '2' are not equal</pre>");
    const int error = html.indexOf(checks + ":2</span> <span class=\"message\">broken &lt;b&gt;&amp;&lt;/b&gt;</span>");
    EXPECT_TRUE(log > 0 && section > log && failure > section && compared > failure && error > compared)
        << log << ' ' << section << ' ' << failure << ' ' << compared << ' ' << error << '\n' << html.toStdString();
    EXPECT_CONTAINS(html, "<pre class=\"detail\">at " + checks + ":2\nat " + checks + ":10</pre>");
    // attachFile kept the file in the default results directory, linked from the page relative to it.
    EXPECT_TRUE(QFile::exists(dir.filePath("out/report-results/suite/tst_checks/notes.txt")));
    EXPECT_CONTAINS(html, "<a href=\"report-results/suite/tst_checks/notes.txt\">notes.txt</a>");
    // BDD: the feature holds its scenarios, the failing one marked, its steps inside.
    EXPECT_CONTAINS(html, "<li class=\"section feature failed\"><details open><summary>Feature: Sums</summary>");
    EXPECT_CONTAINS(html, "<li class=\"section scenario\"><details open><summary>Scenario: Right</summary>");
    EXPECT_CONTAINS(html, "<li class=\"section scenario failed\"><details open><summary>Scenario: Wrong</summary>");
    EXPECT_CONTAINS(html, feature + ":6</span> <span class=\"message\">Step failed: Then it is 4</span>");
    // A passed test case is there, folded.
    EXPECT_TRUE(html.contains(QRegularExpression("<section class=\"testcase passed\" id=\"case-\\d\"><details><summary>"
                                                 "<span class=\"badge passed\">PASSED</span> <strong>tst_fine</strong>")));

    // A page that cannot be written is a set-up error after the run, like a JUnit report.
    const RunOutcome unwritable = run({"--html", "no/such/dir/report.html", "suite/tst_fine"});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_CONTAINS(unwritable.err, "tarvinrunner: cannot write HTML report no/such/dir/report.html");
    EXPECT_EQ(run({"--html"}).exitCode, 2);
}

// A failure in a real Qt program leaves a picture of its windows at that moment, taken in the test
// case's process; the console, JUnit and the HTML page point to it, and a browser shows it.
TEST_F(ReportsTest, FailuresInARealApplicationLeaveScreenshotsInTheReports)
{
    const QString script = write("suite/tst_widgets/test.tcl",
                                 "proc main {} {\n"
                                 "    startApplication \"" WIDGETSAPP "\"\n"
                                 "    typeText {name lineEdit} \"typed text\"\n"
                                 "    test compare [property get [waitForObject {name lineEdit}] text] \"other\" \"the text\"\n"
                                 "    test compare 1 1 \"a pass\"\n"
                                 "    test attachDesktopScreenshot \"asked for\"\n"
                                 "    error \"the end\"\n"
                                 "}\n");
    const RunOutcome r = run({"--no-color", "--html", "out/report.html", "--junit", "out/report.xml", "suite/tst_widgets"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
    const QString results = dir.filePath("out/report-results/suite/tst_widgets");
    const QString failure = results + "/failure-1.png", asked = results + "/screenshot-1.png",
                  atError = results + "/failure-2.png";
    EXPECT_CONTAINS(r.out, "  FAIL " + script + ":4: the text\n      'typed text' and 'other' are not equal\n"
                           "      Screenshot: " + failure + "\n");
    EXPECT_CONTAINS(r.out, "  LOG " + script + ":6: asked for\n");
    EXPECT_CONTAINS(r.out, "      Screenshot: " + atError + "\n");
    EXPECT_FALSE(QFile::exists(results + "/failure-3.png")) << "passes take no pictures";

    // Real pictures of the window: not blank, the window's size at least.
    for (const QString& path : {failure, asked, atError}) {
        const QImage image(path);
        ASSERT_FALSE(image.isNull()) << path.toStdString();
        EXPECT_GE(image.width(), 640);
        EXPECT_GE(image.height(), 480);
        EXPECT_GE(colours(image), 4) << path.toStdString() << " looks blank";
    }

    // JUnit: the pictures in the form CI servers pick attachments up in.
    const QString xml = read("out/report.xml");
    EXPECT_CONTAINS(xml, "FAIL " + script + ":4: the text [[ATTACHMENT|" + failure + "]]");
    EXPECT_CONTAINS(xml, "[[ATTACHMENT|" + atError + "]]");
    EXPECT_CONTAINS(xml, "[[ATTACHMENT|" + asked + "]]");

    const QString html = read("out/report.html");
    EXPECT_CONTAINS(html, "<img src=\"report-results/suite/tst_widgets/failure-1.png\" alt=\"Screenshot at the failure\">");
    EXPECT_CONTAINS(html, "<img src=\"report-results/suite/tst_widgets/screenshot-1.png\" alt=\"Screenshot\">");

    // --no-screenshots: failures take none; a screenshot asked for is still taken.
    const RunOutcome quiet = run({"--no-screenshots", "--results", "quiet", "suite/tst_widgets"});
    EXPECT_EQ(quiet.exitCode, 1);
    EXPECT_FALSE(quiet.out.contains("Screenshot:")) << quiet.out.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("quiet/suite/tst_widgets/failure-1.png")));
    EXPECT_TRUE(QFile::exists(dir.filePath("quiet/suite/tst_widgets/screenshot-1.png")));

    // The page in a real browser: it runs its script without errors and shows the picture.
    if (chromium().isEmpty())
        GTEST_SKIP() << "no chromium to look at the page with (scripts/install-deps.sh installs it)";
    const QString page = QUrl::fromLocalFile(dir.filePath("out/report.html")).toString();
    const Browser dom = browse(dir.filePath("profile"), {"--dump-dom", page});
    ASSERT_EQ(dom.exitCode, 0) << dom.err.toStdString();
    const QString rendered = QString::fromUtf8(dom.out);
    const QImage picture(failure);
    EXPECT_CONTAINS(rendered, QStringLiteral("<figure class=\"screenshot loaded\"><a href=\"report-results/suite/tst_widgets/failure-1.png\">"));
    EXPECT_CONTAINS(rendered, QStringLiteral("<span class=\"size\">%1 × %2 px</span>").arg(picture.width()).arg(picture.height()));
    EXPECT_FALSE(rendered.contains("<figure class=\"screenshot missing\">")) << rendered.toStdString();
    const QString console = QString::fromUtf8(dom.err);
    // The page logs nothing: every console line (an uncaught error among them) is a fault.
    EXPECT_FALSE(console.contains("Uncaught") || console.contains(":CONSOLE")) << console.toStdString();

    // What a person sees: a page that is not blank (kept in the build tree to look at).
    const QString shot = QStringLiteral(TARVIN_BINARY_DIR "/tests/runner/html-report.png");
    QFile::remove(shot);
    const Browser screenshot = browse(dir.filePath("profile"), {"--window-size=1280,1600", "--hide-scrollbars",
                                                                "--screenshot=" + shot, page});
    ASSERT_EQ(screenshot.exitCode, 0) << screenshot.err.toStdString();
    const QImage rendering(shot);
    ASSERT_FALSE(rendering.isNull());
    EXPECT_GE(colours(rendering, 64), 32) << "the page's screenshot looks empty";

    // Moved without its results, the page says the picture is missing instead of showing a broken one.
    ASSERT_TRUE(QFile::copy(dir.filePath("out/report.html"), dir.filePath("report.html")));
    const Browser moved = browse(dir.filePath("profile"), {"--dump-dom", QUrl::fromLocalFile(dir.filePath("report.html")).toString()});
    EXPECT_CONTAINS(QString::fromUtf8(moved.out), "<span class=\"size\">the file could not be loaded</span>");
}
