#include "run/output_check.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/scripted_medium.h"

namespace tessaly {
namespace {

using testing::ScriptedMedium;

// Each way an output folder cannot take a run's copies is found before the run, and a
// folder that can is let through; the check leaves nothing behind in it.
TEST(OutputCheck, FindsEachProblemOnceBeforeTheRun)
{
    struct Row
    {
        const char* what;
        std::string output;
        std::function<void(ScriptedMedium&)> setUp;
        OutputProblem expected;
    };
    const std::vector<std::string> scanned = {"/media/card/docs", "/media/stick"};
    const Row rows[] = {
        {"usable", "/out", {}, OutputProblem::None},
        {"missing", "/gone", {}, OutputProblem::Missing},
        {"none chosen", "", {}, OutputProblem::Missing},
        {"a file", "/out/file", [](ScriptedMedium& m) { m.addFile("/out/file", "x"); },
         OutputProblem::Missing},
        {"read-only", "/out",
         [](ScriptedMedium& m) { m.failOpen(std::string("/out/") + kOutputProbeName); },
         OutputProblem::NotWritable},
        {"a scanned folder", "/media/stick", {}, OutputProblem::InsideSource},
        {"a read-only scanned folder", "/media/stick",
         [](ScriptedMedium& m) { m.failOpen(std::string("/media/stick/") + kOutputProbeName); },
         OutputProblem::InsideSource},
        {"below one", "/media/card/docs/rescued", {}, OutputProblem::InsideSource},
        {"through a link", "/link", [](ScriptedMedium& m) { m.addSymlink("/link", "/media/stick/x"); },
         OutputProblem::InsideSource},
        {"beside one, a longer name", "/media/card/docs2", {}, OutputProblem::None},
        {"above one", "/media/card", {}, OutputProblem::None},
        {"full", "/out", [](ScriptedMedium& m) { m.setQuota(kOutputRoom - 1); }, OutputProblem::NoRoom},
        {"free space unknown", "/out", [](ScriptedMedium& m) { m.setFreeSpaceUnknown(true); },
         OutputProblem::None},
        {"a probe left by a killed run", "/out",
         [](ScriptedMedium& m) { m.addFile(std::string("/out/") + kOutputProbeName, ""); },
         OutputProblem::None},
    };
    for (const Row& row : rows) {
        ScriptedMedium medium;
        for (const char* folder : {"/out", "/media/card/docs/rescued", "/media/card/docs2",
                                   "/media/stick/x"}) {
            medium.addFolder(folder);
        }
        if (row.setUp) row.setUp(medium);
        EXPECT_EQ(checkOutputFolder(medium, row.output, scanned), row.expected) << row.what;
        EXPECT_FALSE(medium.hasFile(std::string("/out/") + kOutputProbeName)) << row.what;
        EXPECT_FALSE(medium.hasFile(row.output + "/" + kOutputProbeName)) << row.what;
    }
}

}  // namespace
}  // namespace tessaly
