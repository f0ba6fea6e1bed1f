// What the runner's end-to-end tests share: a scratch directory to write test cases into, and running
// tarvinrunner there as a user would.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QXmlStreamReader>

struct RunOutcome {
    int exitCode = -1;
    QString out;
    QString err;
};

class RunnerFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // Writes a file below the scratch directory, making its directories; returns its path.
    QString write(const QString& relativePath, const QByteArray& text)
    {
        const QString path = dir.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    }

    QString read(const QString& relativePath)
    {
        QFile file(dir.filePath(relativePath));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    RunOutcome run(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(TARVIN_BINARY_DIR "/bin/tarvinrunner"), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        RunOutcome r;
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    QTemporaryDir dir;
};

#define EXPECT_CONTAINS(haystack, needle)                                                                    \
    EXPECT_TRUE((haystack).contains(needle)) << "missing: " << QString(needle).toStdString() << "\nin:\n"    \
                                             << (haystack).toStdString()

// "KEY: outcome" for each testcase of a JUnit file, in order (outcome: its first error, failure or
// skipped element, else ok), comma-separated; KEY is the testcase attribute named. Or what is wrong with
// the file.
inline QString junitCases(const QString& path, const char* key = "name")
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "cannot open " + path;
    QXmlStreamReader xml(&file);
    QStringList cases;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("testcase"))
            cases << xml.attributes().value(QLatin1String(key)).toString() + ": ok";
        else if (!cases.isEmpty() && cases.last().endsWith(QLatin1String(": ok")) &&
                 (xml.name() == QLatin1String("error") || xml.name() == QLatin1String("failure") ||
                  xml.name() == QLatin1String("skipped")))
            cases.last().replace(cases.last().size() - 2, 2, xml.name().toString());
    }
    return xml.hasError() ? "invalid XML: " + xml.errorString() : cases.join(", ");
}
