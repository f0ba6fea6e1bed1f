// Test data from one worksheet of an .xlsx workbook, read with minizip and TinyXML.
#pragma once

#include "testdata.h"

namespace Tarvin {

class ExcelXmlTestDataSet : public TestDataSet {
public:
    // An empty sheetName reads the first sheet file. Failures are printed and leave the set as far
    // as it had been filled.
    ExcelXmlTestDataSet(const QString& fileName, const QString& sheetName);
};

} // namespace Tarvin
