// A long scope run from the command line: the export holds every sample reply received.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "protocol/TraceFile.h"
#include "registers/Scope.h"
#include "support/ScopeFixture.h"

namespace vindelor::cli {
namespace {

using testing::CliRun;
using testing::CliScope;
using testing::Fields;
using testing::Lines;

TEST_F(CliScope, TheExportOfALongRunMatchesEverySampleReplyReceived) {
    CliRun r = run("--trace " + dir.file("t.trace") + " scope --seconds 2 --csv " + dir.file("s.csv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    std::ifstream csvFile(dir.file("s.csv"));
    std::stringstream csv;
    csv << csvFile.rdbuf();
    const auto rows = Lines(csv.str());
    ASSERT_GT(rows.size(), 100u);

    // The replies as the trace recorded them, decoded by the definitions' types.
    const auto channels = registers::ScopeChannelsFor(d, {selector(0), selector(1), selector(2), selector(3)});
    ASSERT_EQ(channels[1].name, "TEMP");
    std::ifstream trace(dir.file("t.trace"));
    std::vector<std::vector<std::string>> replies;
    for (std::string line; std::getline(trace, line);) {
        if (line.find("| sample reply") == std::string::npos) continue;
        std::string error;
        auto f = protocol::ParseTraceLine(line, error);
        ASSERT_TRUE(f) << error;
        std::vector<std::uint8_t> payload;
        for (std::size_t i = 7; i + 2 < f->bytes.size(); i += 2) payload.push_back(f->bytes[i]);
        std::vector<std::string> values;
        for (int c = 0; c < registers::kScopeChannels; ++c) {
            const int type = channels[static_cast<std::size_t>(c)].type;
            values.push_back(registers::ScopeNumber(registers::sampleNumber(type, registers::sampleRaw(payload, c, type, 1))));
        }
        replies.push_back(values);
    }
    ASSERT_EQ(replies.size(), rows.size() - 1);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        auto f = Fields(rows[i + 1]);
        f.erase(f.begin());
        ASSERT_EQ(f, replies[i]) << "row " << i + 1;
    }
}

}  // namespace
}  // namespace vindelor::cli
