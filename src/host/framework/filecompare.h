// Comparing expected and actual files for the test API: text line by line, XML by its structure, JSON
// by its values. Each gives whether the files are equal and a short summary of the first differences.
#pragma once

#include <QString>

struct FileComparison {
    bool readable = false; // false: `error` says which file could not be read or parsed
    bool equal = false;
    QString error;
    QString summary; // the first differences, one per line
};

struct CompareOptions {
    bool strictLineEndings = false; // text: "\r\n" and "\n" differ
    bool ignoreWhitespace = false;  // text: runs of blanks compare equal; XML: whitespace-only text is ignored
    bool ignoreComments = true;     // XML
};

FileComparison compareTextFiles(const QString& expectedPath, const QString& actualPath, const CompareOptions& options);
FileComparison compareXMLFiles(const QString& expectedPath, const QString& actualPath, const CompareOptions& options);
FileComparison compareJSONFiles(const QString& expectedPath, const QString& actualPath);
