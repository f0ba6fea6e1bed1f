// Feature files: any bytes must parse or fail with a line, and a parsed feature must run to its end
// with script actions whose outcomes depend on the step texts.
#include "gherkin.h"

#include <cstddef>
#include <cstdint>

namespace {

struct Actions : Gherkin::ScriptActions {
    Result runStep(const Gherkin::Step& step) override
    {
        Result r;
        r.status = step.text.size() % 8;
        return r;
    }
    Result runHooks(int, int, const QByteArray& title) override
    {
        Result r;
        r.status = title.size() % 5 == 4 ? 1 : 0;
        return r;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Gherkin::Feature feature;
    Gherkin::RunFeatureError error;
    if (!Gherkin::parseFeature(QByteArray(reinterpret_cast<const char*>(data), int(size)), "fuzz.feature", &feature,
                               &error)) {
        if (error.lineNo() < 0)
            __builtin_trap();
        return 0;
    }
    Actions actions;
    Gherkin::ReportGenerator report;
    Gherkin::runFeature(feature, &actions, &report);
    return 0;
}
