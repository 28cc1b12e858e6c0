#include "run/damage_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scripted_medium.h"

namespace tessaly {
namespace {

TEST(ReportCsv, QuotesNamesWithCommasQuotesAndLineBreaks)
{
    ReportLine plain{"/src/a.bin", 10, ReportState::Complete, 10, 0, 0, "/out/a.bin", ""};
    ReportLine odd{"/src/b, \"c\"\nd.bin", 4096, ReportState::Damaged, 3584, 512, 1,
                   "/out/b, \"c\"\nd.bin", "/out/b, \"c\"\nd.bin.log"};
    const std::string csv = reportCsv({plain, odd});
    EXPECT_EQ(csv,
              "source,size,state,bytes read,bytes not read,filled regions,copy,log\r\n"
              "/src/a.bin,10,complete,10,0,0,/out/a.bin,\r\n"
              "\"/src/b, \"\"c\"\"\nd.bin\",4096,damaged,3584,512,1,"
              "\"/out/b, \"\"c\"\"\nd.bin\",\"/out/b, \"\"c\"\"\nd.bin.log\"\r\n");
}

class DamageReportTest : public ::testing::Test
{
protected:
    DamageReportTest() : engine(medium), step(engine, medium) { medium.addFolder("/out"); }

    ReportLine lineOf(const std::string& path, std::uint64_t size)
    {
        const FileEntry entry{std::make_shared<const std::string>(), path, size};
        const StepResult result = step.copy(entry, "/out", nullptr);
        return reportLineOf(entry, &result, medium);
    }

    testing::ScriptedMedium medium;
    CopyEngine engine;
    FileStep step;
};

// Each state of a run, as the report gives it: only the copy whose log lists parts not
// read is damaged, and a log is named only where one lies beside the copy.
TEST_F(DamageReportTest, ALineForEachWayAFileEnds)
{
    medium.addFile("/src/whole.bin", std::string(8192, 'w'));
    medium.addFile("/src/hurt.bin", std::string(8192, 'h'));
    medium.markBad("/src/hurt.bin", 4096, 512);
    medium.addFile("/dup/whole.bin", std::string(100, 'd'));

    const ReportLine whole = lineOf("/src/whole.bin", 8192);
    EXPECT_EQ(whole, (ReportLine{"/src/whole.bin", 8192, ReportState::Complete, 8192, 0, 0,
                                 "/out/whole.bin", ""}));  // a clean copy's log is deleted

    const ReportLine hurt = lineOf("/src/hurt.bin", 8192);
    EXPECT_EQ(hurt.state, ReportState::Damaged);
    EXPECT_EQ(hurt.read + hurt.notRead, 8192u);
    EXPECT_GT(hurt.notRead, 0u);
    EXPECT_EQ(hurt.regions, 1u);
    EXPECT_EQ(hurt.logPath, "/out/hurt.bin.log");

    // The medium went away part way: the next run continues the copy from its log.
    medium.addFile("/card/cut.bin", std::string(200000, 'c'));
    medium.setRemovableMedium("/card/");
    medium.setRemovalAfter(70000);
    const ReportLine cut = lineOf("/card/cut.bin", 200000);
    EXPECT_EQ(cut.state, ReportState::Unfinished);
    EXPECT_STREQ(reportStateName(cut.state), "unfinished");
    EXPECT_GT(cut.read, 0u);
    EXPECT_LT(cut.read, 200000u);
    EXPECT_EQ(cut.notRead, 0u);
    EXPECT_EQ(cut.logPath, "/out/cut.bin.log");

    EXPECT_EQ(lineOf("/dup/whole.bin", 100).state, ReportState::Failed);  // the same copy
    EXPECT_EQ(lineOf("/src/gone.bin", 100).state, ReportState::Failed);   // cannot be opened

    const FileEntry later{std::make_shared<const std::string>(), "/src/later.bin", 5};
    EXPECT_EQ(reportLineOf(later, nullptr, medium),
              (ReportLine{"/src/later.bin", 5, ReportState::NotCopied, 0, 0, 0, "", ""}));

    const ReportSummary summary = summaryOf({whole, hurt, reportLineOf(later, nullptr, medium)});
    EXPECT_EQ(summary.count(ReportState::Complete), 1u);
    EXPECT_EQ(summary.count(ReportState::Damaged), 1u);
    EXPECT_EQ(summary.count(ReportState::NotCopied), 1u);
    EXPECT_EQ(summary.notRead, hurt.notRead);
}

TEST_F(DamageReportTest, AReportIsNotWrittenThroughALink)
{
    medium.addFile("/elsewhere/keep.txt", "keep");
    medium.addSymlink("/out/report.csv", "/elsewhere/keep.txt");
    EXPECT_NE(writeReport(medium, "/out/report.csv", {}), 0);
    EXPECT_EQ(medium.text("/elsewhere/keep.txt"), "keep");
    EXPECT_EQ(writeReport(medium, "/out/r.csv", {}), 0);
    EXPECT_EQ(medium.text("/out/r.csv"),
              "source,size,state,bytes read,bytes not read,filled regions,copy,log\r\n");
}

}  // namespace
}  // namespace tessaly
