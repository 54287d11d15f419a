// The viewer's optional command line, and the Windows rules for splitting it.
#include "app/viewer_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

using Args = std::vector<std::string>;

TEST(ViewerOptions, ParsesTheOptionsAndRefusesEverythingElse) {
    struct Case {
        Args args;
        ViewerRequest request;
        const char* message; // part of it, for Usage
    };
    const Case cases[] = {
        {{}, ViewerRequest::Run, ""},
        {{"--device", "sim", "--log", "a.csv", "--record=b.bin", "--force"},
         ViewerRequest::Run,
         ""},
        {{"--help"}, ViewerRequest::Help, ""},
        {{"--device", "sim", "-h"}, ViewerRequest::Help, ""},
        {{"--version"}, ViewerRequest::Version, ""},
        {{"--bogus"}, ViewerRequest::Usage, "'--bogus'"},
        {{"-reverse"}, ViewerRequest::Usage, "'-reverse'"}, // Qt's own options are not taken
        {{"--log"}, ViewerRequest::Usage, "--log needs a value"},
        {{"--device="}, ViewerRequest::Usage, "--device needs a value"},
        {{"--log", "a", "--log", "b"}, ViewerRequest::Usage, "--log is given twice"},
        {{"file.bin"}, ViewerRequest::Usage, "'file.bin'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        ViewerOptions options;
        std::string message;
        EXPECT_EQ(parseViewerArguments(c.args, options, message), c.request);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
    ViewerOptions options;
    std::string message;
    ASSERT_EQ(parseViewerArguments({"--device", "tty:/dev/x", "--record=r.bin"}, options, message),
              ViewerRequest::Run);
    EXPECT_EQ(options.device, "tty:/dev/x");
    EXPECT_EQ(options.record, "r.bin");
    EXPECT_FALSE(options.log);
    EXPECT_FALSE(options.force);
}

TEST(ViewerOptions, WindowsCommandLinesSplitAndJoinBothWays) {
    struct Case {
        const char* line;
        Args args;
    };
    const Case cases[] = {
        {"", {}},
        {"  --log   a.csv ", {"--log", "a.csv"}},
        {R"(--log "C:\Program Files\x.csv")", {"--log", R"(C:\Program Files\x.csv)"}},
        {R"(a\\b c\d)", {R"(a\\b)", R"(c\d)"}},   // backslashes without a quote stay
        {R"("a\"b" "c\\")", {R"(a"b)", R"(c\)"}}, // escaped quote; 2n backslashes + quote
        {R"("" x)", {"", "x"}},                   // an empty argument
        {R"("a b"c)", {"a bc"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(splitWindowsCommandLine(c.line), c.args);
        EXPECT_EQ(splitWindowsCommandLine(joinWindowsCommandLine(c.args).c_str()), c.args);
    }
    const Args awkward = {"with space", "quote\"inside", "trailing\\", "\\\"", "tab\there", ""};
    EXPECT_EQ(splitWindowsCommandLine(joinWindowsCommandLine(awkward).c_str()), awkward);
}

} // namespace
} // namespace orvane
