// Test data from one sheet of a legacy .xls workbook, read through the Swinder reader (tarvinsw).
#pragma once

#include "testdata.h"

namespace Tarvin {

class ExcelTestDataSet : public TestDataSet {
public:
    // An empty sheetName reads the first sheet. The table is found by its top-left text cell near
    // the sheet's top-left corner; its header is the run of text cells to the right of that cell.
    ExcelTestDataSet(const QString& fileName, const QString& sheetName);
};

} // namespace Tarvin
