#include <gtest/gtest.h>

#include "kit_builder.h"
#include "support/scenario_case.h"

namespace {

struct BuiltKit {
    const char *name;
    size_t firmwareSize;
    size_t payloadSize;
};
// The row's name, not its bytes (a pointer among them), in the test's name.
void PrintTo(const BuiltKit &row, std::ostream *out) { *out << row.name; }

class BuiltKitUpdate : public testing::TestWithParam<BuiltKit> {};

TEST_P(BuiltKitUpdate, DeviceHoldsTheKitByteForByte) {
    const BuiltKit &c = GetParam();
    std::vector<uint8_t> kit = buildRecords(testkit::randomBytes(c.firmwareSize, 7), c.payloadSize);
    testkit::Setup setup;
    setup.kitText = formatHexText(kit);
    device::Model model;

    testkit::RunResult run = testkit::runUpdateAgainst(setup, model);

    const std::string ending = expected::done + expected::success + expected::pause;
    ASSERT_GE(run.output.size(), ending.size());
    EXPECT_EQ(run.output.substr(run.output.size() - ending.size()), ending);
    EXPECT_EQ(model.image(), kit);
}

INSTANTIATE_TEST_SUITE_P(Kits, BuiltKitUpdate,
                         testing::Values(BuiltKit{"oneShortRecord", 10, 256}, BuiltKit{"evenRecords", 2048, 256},
                                         BuiltKit{"shortLastRecord", 3000, 256}, BuiltKit{"oneBytePayloads", 200, 1},
                                         BuiltKit{"frameSizedRecords", 1900, 19},
                                         BuiltKit{"largestDefaultKit", largestFirmwareFor(256), 256}),
                         testkit::caseName<BuiltKit>);

}  // namespace
