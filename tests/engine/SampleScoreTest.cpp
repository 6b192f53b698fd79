// Scoring points against the truth: points files, point lists and point tables.

#include "SampleScore.h"

#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>
#include <vector>

TEST(TruthComparison, PointsFilesAndTablesAreScoredByCode) {
    TTempDir dir;
    const std::vector<TSampleDot> truth = {{0, 1, 10.0, 20.0}, {1, 3, 30.0, 40.0}, {2, 5, 50, 60}};
    WriteFileText(dir / "p.txt", "1 10.30 20.40 12\r\n3 30.00 40.00 9\r\n7 1.00 1.00 2\r\n");
    const TTruthComparison points = CompareWithTruth(truth, dir / "p.txt");
    EXPECT_EQ(points.Dots, 3u);
    EXPECT_EQ(points.Found, 2u);
    EXPECT_EQ(points.Extra, 1u);
    EXPECT_NEAR(points.MeanError, 0.25, 1e-9);
    EXPECT_NEAR(points.MaxError, 0.5, 1e-9);
    EXPECT_EQ(points.Far, 0u);

    WriteFileText(dir / "t.csv",
                  "code,dot,x,y,pixels,refined_x,refined_y,blob_pixels,stray_pixels,contrast,"
                  "radius,flags\n"
                  "1,0,10.3000,20.4000,12,10.0100,20.0000,12,0,200,1.9544,\n"
                  "3,1,31.0000,40.0000,9,30.0000,40.6000,9,0,200,1.6926,border\n");
    const TTableComparison table = CompareTableWithTruth(truth, dir / "t.csv");
    EXPECT_EQ(table.Plain.Found, 2u);
    EXPECT_NEAR(table.Plain.MaxError, 1.0, 1e-9);
    EXPECT_EQ(table.Plain.Far, 1u);
    EXPECT_NEAR(table.Refined.MeanError, 0.305, 1e-9);
    EXPECT_NEAR(table.Refined.MaxError, 0.6, 1e-9);
    EXPECT_EQ(table.Refined.Far, 1u);

    for (const char* bad :
         {"code,dot,x\n", "code,dot,x,y,pixels,refined_x,refined_y\n1,0,1,2,3,4\n",
          "code,dot,x,y,pixels,refined_x,refined_y\n1,0,1,2,3,4,x\n"}) {
        WriteFileText(dir / "bad.csv", bad);
        EXPECT_THROW(CompareTableWithTruth(truth, dir / "bad.csv"), EFileError) << bad;
    }
}
