// A position in a test script as the framework reports it in call stacks: file and line.
#pragma once

#include <QList>
#include <QString>

class LineInfo {
public:
    LineInfo() = default;
    LineInfo(const QString& file, int line) : fileName(file), lineNumber(line) {}

    QString file() const { return fileName; }
    int line() const { return lineNumber; }
    bool operator==(const LineInfo& o) const { return fileName == o.fileName && lineNumber == o.lineNumber; }

private:
    QString fileName;
    int lineNumber = -1;
};

using LineInfoList = QList<LineInfo>;
