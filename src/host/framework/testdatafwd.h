// Forward declarations of the test data model (src/shared/testdata.h), for headers that only pass
// records and data sets along.
#pragma once

namespace Tarvin {
class TestDataRecord;
class TestDataSet;
} // namespace Tarvin
using Tarvin::TestDataRecord;
using Tarvin::TestDataSet;
