// Test data readers on generated tables of 100,000 rows x 10 columns (the .xls table: 65,000 rows),
// each against a baseline in the same run: the delimited reader against reading and decoding the file,
// the .xlsx reader against inflating its members, the .xls reader against a bare libfreexl loop over
// every cell. Figures of the peers (Python's csv, openpyxl, xlrd) come from testdata_peers.py.
//
//   testdata_bench --write-data DIR           writes DIR/data.csv and DIR/data.xlsx
//   /usr/bin/python3 bench/testdata_peers.py DIR   writes DIR/data.xls, times the peers
//   testdata_bench --data DIR [benchmark flags]   runs the benchmarks
//   testdata_bench --data DIR --peak-memory   peak memory of one .xlsx read against its sheet XML
#include "ratio.h"

#include "../tests/shared/xlsxbuilder.h"
#include "testdata.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <freexl.h>
#include <minizip/unzip.h>

#include <cstdio>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const int rows = 100000;
const int columns = 10;
QString dataDir;

std::string cellText(int row, int column)
{
    char buffer[32];
    if (column % 2 == 0)
        std::snprintf(buffer, sizeof buffer, "text_%d_%d", row, column);
    else
        std::snprintf(buffer, sizeof buffer, "%d.%02d", row * 7 + column, row % 100);
    return buffer;
}

std::string columnName(int column)
{
    return std::string(1, char('A' + column));
}

bool writeData(const QString& dir)
{
    std::string csv;
    for (int c = 0; c < columns; ++c)
        csv += (c ? "," : "") + std::string("col") + std::to_string(c);
    csv += '\n';
    std::vector<std::string> strings;
    std::string sheetRows = "<row r=\"1\">";
    for (int c = 0; c < columns; ++c) {
        sheetRows += "<c r=\"" + columnName(c) + "1\" t=\"s\"><v>" + std::to_string(strings.size()) + "</v></c>";
        strings.push_back("col" + std::to_string(c));
    }
    sheetRows += "</row>";
    for (int r = 1; r < rows; ++r) {
        const std::string number = std::to_string(r + 1);
        sheetRows += "<row r=\"" + number + "\">";
        for (int c = 0; c < columns; ++c) {
            const std::string text = cellText(r, c);
            csv += (c ? "," : "") + text;
            const std::string ref = columnName(c) + number;
            if (c % 2 == 0) {
                sheetRows += "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string(strings.size()) + "</v></c>";
                strings.push_back(text);
            } else {
                sheetRows += "<c r=\"" + ref + "\"><v>" + text + "</v></c>";
            }
        }
        sheetRows += "</row>";
        csv += '\n';
    }
    const std::string sheet = XlsxBuilder::sheet("A1:J" + std::to_string(rows), sheetRows);
    const std::string xlsx = XlsxBuilder::zip(XlsxBuilder::package(sheet, XlsxBuilder::sharedStrings(strings)));
    std::ofstream(QString(dir + "/data.csv").toStdString(), std::ios::binary) << csv;
    std::ofstream(QString(dir + "/data.xlsx").toStdString(), std::ios::binary) << xlsx;
    std::printf("data.csv %zu bytes, data.xlsx %zu bytes (sheet XML %zu bytes)\n", csv.size(), xlsx.size(), sheet.size());
    return true;
}

QString path(const char* name)
{
    return dataDir + QLatin1Char('/') + QLatin1String(name);
}

void setRates(benchmark::State& state, qint64 bytes, qint64 records)
{
    state.counters["MB/s"] = benchmark::Counter(double(bytes) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
    state.counters["rows/s"] = benchmark::Counter(double(records) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_CsvDecodeOnly(benchmark::State& state)
{
    const QString file = path("data.csv");
    for (auto _ : state) {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(QString::fromUtf8(f.readAll()));
    }
    setRates(state, QFileInfo(file).size(), rows);
}
BENCHMARK(BM_CsvDecodeOnly)->Unit(benchmark::kMillisecond);

void BM_CsvReader(benchmark::State& state)
{
    const QString file = path("data.csv");
    for (auto _ : state) {
        SharedPtr<Tarvin::TestDataSet> set(Tarvin::TestDataSet::create(file));
        if (!set || set->recordCount() != rows - 1)
            state.SkipWithError("data.csv did not read");
    }
    setRates(state, QFileInfo(file).size(), rows);
}
BENCHMARK(BM_CsvReader)->Unit(benchmark::kMillisecond);

qint64 inflatedSize(const QString& file, std::vector<std::string>* members)
{
    qint64 total = 0;
    unzFile zip = unzOpen64(file.toUtf8().constData());
    for (const char* name : {"xl/sharedStrings.xml", "xl/worksheets/sheet1.xml"}) {
        if (unzLocateFile(zip, name, 1) != UNZ_OK || unzOpenCurrentFile(zip) != UNZ_OK)
            continue;
        std::string data;
        char chunk[1 << 16];
        int n;
        while ((n = unzReadCurrentFile(zip, chunk, sizeof chunk)) > 0)
            data.append(chunk, n);
        unzCloseCurrentFile(zip);
        total += data.size();
        if (members)
            members->push_back(std::move(data));
    }
    unzClose(zip);
    return total;
}

void BM_XlsxInflateOnly(benchmark::State& state)
{
    const QString file = path("data.xlsx");
    qint64 bytes = 0;
    for (auto _ : state)
        bytes = inflatedSize(file, nullptr);
    setRates(state, bytes, rows);
}
BENCHMARK(BM_XlsxInflateOnly)->Unit(benchmark::kMillisecond);

void BM_XlsxReader(benchmark::State& state)
{
    const QString file = path("data.xlsx");
    for (auto _ : state) {
        SharedPtr<Tarvin::TestDataSet> set(Tarvin::TestDataSet::create(file));
        if (!set || set->recordCount() != rows - 1)
            state.SkipWithError("data.xlsx did not read");
    }
    setRates(state, inflatedSize(file, nullptr), rows);
}
BENCHMARK(BM_XlsxReader)->Unit(benchmark::kMillisecond)->Iterations(3);

double interleavedXlsRatio = 0;

// Every cell of the first sheet read with libfreexl and nothing else; returns the row count.
unsigned int bareFreexlPass(const QString& file)
{
    const void* handle = nullptr;
    freexl_open(file.toLocal8Bit().constData(), &handle);
    freexl_select_active_worksheet(handle, 0);
    unsigned int sheetRows = 0;
    unsigned short sheetColumns = 0;
    freexl_worksheet_dimensions(handle, &sheetRows, &sheetColumns);
    FreeXL_CellValue value;
    for (unsigned int r = 0; r < sheetRows; ++r)
        for (unsigned short c = 0; c < sheetColumns; ++c) {
            freexl_get_cell_value(handle, r, c, &value);
            benchmark::DoNotOptimize(value);
        }
    freexl_close(handle);
    return sheetRows;
}

// The reader and the bare loop taken turn about, so that both see the same state of the machine
// (their speed drifts by a third over tens of seconds here); the counter is the ratio of their times.
void BM_XlsReaderAgainstBareLoop(benchmark::State& state)
{
    const QString file = path("data.xls");
    if (!QFileInfo::exists(file)) {
        state.SkipWithError("no data.xls: run bench/testdata_peers.py first");
        return;
    }
    SharedPtr<Tarvin::TestDataSet> warmUp(Tarvin::TestDataSet::create(file));
    warmUp.reset();
    double reader = 0, bare = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        bareFreexlPass(file);
        const auto t1 = std::chrono::steady_clock::now();
        SharedPtr<Tarvin::TestDataSet> set(Tarvin::TestDataSet::create(file));
        const auto t2 = std::chrono::steady_clock::now();
        if (!set || set->recordCount() < 1)
            state.SkipWithError("data.xls did not read");
        set.reset();
        bare += std::chrono::duration<double>(t1 - t0).count();
        reader += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["ratio"] = bare > 0 ? reader / bare : 0;
    interleavedXlsRatio = bare > 0 ? reader / bare : 0;
}
BENCHMARK(BM_XlsReaderAgainstBareLoop)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_XlsBareFreexl(benchmark::State& state)
{
    const QString file = path("data.xls");
    if (!QFileInfo::exists(file)) {
        state.SkipWithError("no data.xls: run bench/testdata_peers.py first");
        return;
    }
    unsigned int count = 0;
    for (auto _ : state)
        count = bareFreexlPass(file);
    setRates(state, QFileInfo(file).size(), count);
}
BENCHMARK(BM_XlsBareFreexl)->Unit(benchmark::kMillisecond);

void BM_XlsReader(benchmark::State& state)
{
    const QString file = path("data.xls");
    if (!QFileInfo::exists(file)) {
        state.SkipWithError("no data.xls: run bench/testdata_peers.py first");
        return;
    }
    // The first read of a file opens it in a child process as well; the steady state is measured.
    SharedPtr<Tarvin::TestDataSet> warmUp(Tarvin::TestDataSet::create(file));
    warmUp.reset();
    int count = 0;
    for (auto _ : state) {
        SharedPtr<Tarvin::TestDataSet> set(Tarvin::TestDataSet::create(file));
        count = set ? set->recordCount() + 1 : 0;
        if (count < 2)
            state.SkipWithError("data.xls did not read");
    }
    setRates(state, QFileInfo(file).size(), count);
}
BENCHMARK(BM_XlsReader)->Unit(benchmark::kMillisecond);

long statusKb(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::strlen(key), key) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

int peakMemory()
{
    std::vector<std::string> members;
    inflatedSize(path("data.xlsx"), &members);
    const double sheetBytes = members.size() == 2 ? double(members[1].size()) : 0;
    members.clear();
    members.shrink_to_fit();
    std::ofstream("/proc/self/clear_refs") << "5"; // resets the peak to the current size
    const long before = statusKb("VmRSS:");
    SharedPtr<Tarvin::TestDataSet> set(Tarvin::TestDataSet::create(path("data.xlsx")));
    const long peak = statusKb("VmHWM:");
    const double ratio = (peak - before) * 1024.0 / sheetBytes;
    std::printf("xlsx read: peak %ld KiB above %ld KiB; sheet XML %.0f KiB; ratio %.2f (target < 4) %s\n",
                peak - before, before, sheetBytes / 1024, ratio, ratio < 4 ? "met" : "MISSED");
    return ratio < 4 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> rest;
    bool peak = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--write-data") == 0 && i + 1 < argc)
            return writeData(QString::fromLocal8Bit(argv[++i])) ? 0 : 1;
        if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc)
            dataDir = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--peak-memory") == 0)
            peak = true;
        else
            rest.push_back(argv[i]);
    }
    if (dataDir.isEmpty()) {
        std::fprintf(stderr, "usage: %s --write-data DIR | --data DIR [--peak-memory] [benchmark flags]\n", argv[0]);
        return 2;
    }
    if (peak)
        return peakMemory();
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    tarvinbench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.perIteration;
    bool ok = true;
    auto ratio = [&](const char* measured, const char* baseline, double limit) {
        if (!t.count(measured) || !t.count(baseline))
            return;
        const double r = t.at(measured) / t.at(baseline);
        const bool met = limit <= 0 || r <= limit;
        ok = ok && met;
        if (limit > 0)
            std::printf("%s / %s = %.2f (target <= %.2f) %s\n", measured, baseline, r, limit, met ? "met" : "MISSED");
        else
            std::printf("%s / %s = %.2f\n", measured, baseline, r);
    };
    ratio("BM_CsvReader", "BM_CsvDecodeOnly", 0);
    ratio("BM_XlsxReader/iterations:3", "BM_XlsxInflateOnly", 0);
    ratio("BM_XlsReader", "BM_XlsBareFreexl", 0);
    if (interleavedXlsRatio > 0) {
        const bool met = interleavedXlsRatio <= 1.5;
        ok = ok && met;
        std::printf(".xls reader / bare libfreexl loop, taken turn about = %.2f (target <= 1.50) %s\n",
                    interleavedXlsRatio, met ? "met" : "MISSED");
    }
    return ok ? 0 : 1;
}
