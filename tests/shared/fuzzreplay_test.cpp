// Replays the inputs under data/fuzz/<target>/ through the fuzz entry points: inputs that once made
// a fuzzer fail, and hand-made hostile ones. Each must run to the end (under the sanitizer build,
// without a report).
#include "testdatafuzz.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

// libfreexl leaks on some damaged workbooks; that is inside the library, not ours to report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfreexl.so";
}

namespace {

void replay(const char* target, void (*entry)(const std::uint8_t*, std::size_t))
{
    const QDir dir(QStringLiteral(TARVIN_SOURCE_DIR "/tests/shared/data/fuzz/") + QLatin1String(target));
    const QStringList names = dir.entryList(QDir::Files);
    EXPECT_FALSE(names.isEmpty()) << "no inputs for " << target;
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        SCOPED_TRACE(name.toStdString());
        entry(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size()));
    }
}

TEST(FuzzReplay, Delimited)
{
    replay("tsv", TarvinFuzz::delimited);
}

TEST(FuzzReplay, Xlsx)
{
    replay("xlsx", TarvinFuzz::xlsx);
}

TEST(FuzzReplay, Xls)
{
    replay("xls", TarvinFuzz::xls);
}

} // namespace
