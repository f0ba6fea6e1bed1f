// Prints a test data file as a test script would get it, for the runner's --show-data option.
#pragma once

#include <QString>
#include <QTextStream>

namespace Tarvin {

// Writes the field names on the first line, then one line per record: fields separated by one tab,
// with backslash, tab, carriage return and line feed in a field written as \\, \t, \r and \n. An
// empty sheet reads the first sheet; a sheet name is only accepted for .xls and .xlsx files. When
// the file cannot be read, nothing is written, the reader's message goes to *errorMessage (if given;
// the reader prints nothing itself meanwhile) and the result is false.
bool printTestData(const QString& file, const QString& sheet, QTextStream& out, QString* errorMessage);

} // namespace Tarvin
