// The evaluator: its defaults, each pixel's threshold, the code matrix against the
// per-pixel definition, and what its loads leave behind.

#include "pipeline/Evaluator.h"

#include "EvalSupport.h"
#include "PhotoFolder.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "decode/CodeMatrix.h"
#include "image/Plane.h"
#include "input/PicSet.h"

#include <gtest/gtest.h>

namespace {

// The code of one pixel exactly as defined: the threshold as a float, each plane's
// byte compared with it as a float, only odd codes kept.
std::int32_t ReferenceCode(const TPicEval& eval, std::int32_t row, std::int32_t col) {
    const double t = eval.Threshold(row, col);
    std::int32_t code = 0;
    for (int k = 2; k <= 16; ++k)
        if (double(eval.Pics.GetValue(std::uint8_t(k), row, col)) > t)
            code += 1 << (k - 2);
    return code % 2 == 1 ? code : 0;
}

void ExpectMatrixIsReference(const TPicEval& eval, const std::string& what) {
    ASSERT_EQ(eval.CodeMatrix.Height, eval.Height) << what;
    ASSERT_EQ(eval.CodeMatrix.Width, eval.Width) << what;
    for (std::int32_t r = 0; r < eval.Height; ++r)
        for (std::int32_t c = 0; c < eval.Width; ++c)
            ASSERT_EQ(eval.CodeMatrix.GetCode(r, c), ReferenceCode(eval, r, c))
                << what << ": row " << r << " column " << c;
}

bool MatrixIsZero(const TCode& matrix) {
    for (std::size_t i = 0; i < matrix.Data.size(); ++i)
        if (matrix.Data.data()[i] != 0)
            return false;
    return true;
}

} // namespace

TEST(TPicEval, StartsWithItsDefaults) {
    TPicEval eval("ST1");
    EXPECT_EQ(eval.Name, "ST1");
    EXPECT_EQ(eval.Tolerance, 15);
    EXPECT_EQ(eval.MinDif, 80);
    EXPECT_EQ(eval.GetWidth(), 0);
    EXPECT_EQ(eval.GetHeight(), 0);
    EXPECT_EQ(eval.Pics.Count(), 0);
    EXPECT_EQ(eval.Points.EntryCount, 0);
}

TEST(Threshold, LitDotTestIsStrictAndValuesAreWhole) {
    TPicEval eval;
    MakeStack(eval, 4, 1);
    eval.SetTolerance(15);
    eval.SetMinDif(80);
    const struct {
        std::uint8_t dark, lit;
        double threshold;
    } cases[] = {
        {20, 200, 185},  // 180 > 80
        {120, 200, 256}, // 80 is not more than 80
        {119, 200, 185},
        {200, 20, 256}, // plane 2 darker than plane 0
    };
    for (std::int32_t col = 0; col < 4; ++col) {
        SetPlaneValue(eval.Pics.Planes[0], 0, col, cases[col].dark);
        SetPlaneValue(eval.Pics.Planes[2], 0, col, cases[col].lit);
    }
    for (std::int32_t col = 0; col < 4; ++col)
        EXPECT_EQ(eval.Threshold(0, col), cases[col].threshold) << "column " << col;
    EXPECT_EQ(eval.Threshold(1, 0), 256) << "outside the planes";
    EXPECT_EQ(eval.Threshold(0, -1), 256);

    eval.SetMinDif(5);
    SetPlaneValue(eval.Pics.Planes[0], 0, 0, 0);
    SetPlaneValue(eval.Pics.Planes[2], 0, 0, 10);
    EXPECT_EQ(eval.Threshold(0, 0), -5) << "a threshold may be negative";
}

TEST(CalcMatrix, WorkedExamples) {
    TPicEval eval;
    MakeStack(eval, 3, 2);
    eval.SetTolerance(15);
    eval.SetMinDif(80);
    // Threshold 185: plane 3 = 190 sets bit 1, plane 4 = 185 (equal) does not,
    // plane 5 = 186 sets bit 3.
    SetDot(eval, 0, 0, 20, 200, 0, 0, 0);
    SetPlaneValue(eval.Pics.Planes[3], 0, 0, 190);
    SetPlaneValue(eval.Pics.Planes[4], 0, 0, 185);
    SetPlaneValue(eval.Pics.Planes[5], 0, 0, 186);
    // The same pixel on a plane 0 of 120 lies on no lit dot.
    SetDot(eval, 0, 1, 120, 200, 0x3FFF, 255, 0);
    // A negative threshold lets every code plane count as lit.
    SetDot(eval, 1, 0, 0, 10, 0, 0, 0);
    eval.CalcMatrix();
    EXPECT_EQ(eval.CodeMatrix.GetCode(0, 0), 11);
    EXPECT_EQ(eval.CodeMatrix.GetCode(0, 1), 0);
    EXPECT_EQ(eval.CodeMatrix.GetCode(1, 0), 0) << "MinDif 80 is not met";

    eval.SetMinDif(5);
    eval.CalcMatrix();
    EXPECT_EQ(eval.CodeMatrix.GetCode(1, 0), 32767);
}

TEST(CalcMatrix, ExtremeSettingsClearTheWholeMatrix) {
    TPicEval eval;
    MakeStack(eval, 16, 9);
    FillRandom(eval.Pics, 7);
    for (auto [tolerance, minDif] : {std::pair{0, 80}, {30, 255}, {0, 0}}) {
        eval.SetTolerance(std::uint8_t(tolerance));
        eval.SetMinDif(std::uint8_t(minDif));
        eval.CalcMatrix();
        EXPECT_TRUE(MatrixIsZero(eval.CodeMatrix))
            << "Tolerance " << tolerance << ", MinDif " << minDif;
    }
}

TEST(CalcMatrix, EqualsThePerPixelDefinitionOnRandomStacks) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        TPicEval eval;
        MakeStack(eval, 37 + int(seed), 23);
        FillRandom(eval.Pics, seed);
        eval.Threads = int(seed % 3) + 1; // bands of rows on 1 to 3 threads give the same
        for (auto [tolerance, minDif] :
             {std::pair{15, 80}, {30, 5}, {1, 0}, {255, 0}, {200, 100}}) {
            eval.SetTolerance(std::uint8_t(tolerance));
            eval.SetMinDif(std::uint8_t(minDif));
            eval.CalcMatrix();
            ExpectMatrixIsReference(eval, "seed " + std::to_string(seed) + ", Tolerance " +
                                              std::to_string(tolerance) + ", MinDif " +
                                              std::to_string(minDif));
        }
    }
}

TEST(CalcMatrix, IncompleteStackGivesZerosAndSaysWhy) {
    TPicEval eval;
    MakeStack(eval, 8, 6);
    FillRandom(eval.Pics, 3);
    eval.SetMinDif(0);
    std::string reason;
    EXPECT_TRUE(eval.IsStackComplete(&reason));
    EXPECT_TRUE(reason.empty());

    eval.Pics.Planes[9].SetSize(8, 5);
    EXPECT_FALSE(eval.IsStackComplete(&reason));
    EXPECT_NE(reason.find("Picture 9 is 8 x 5 pixels, picture 0 is 8 x 6 pixels"),
              std::string::npos)
        << reason;
    eval.CalcMatrix();
    EXPECT_EQ(eval.CodeMatrix.Height, 6);
    EXPECT_EQ(eval.CodeMatrix.Width, 8);
    EXPECT_TRUE(MatrixIsZero(eval.CodeMatrix));

    eval.Pics.SetCount(3, 8, 6); // fewer planes than the decoding reads
    EXPECT_FALSE(eval.IsStackComplete(&reason));
    EXPECT_NE(reason.find("3 pictures"), std::string::npos) << reason;
    eval.CalcMatrix();
    EXPECT_TRUE(MatrixIsZero(eval.CodeMatrix));

    eval.Pics.SetCount(0, 0, 0);
    eval.CalcMatrix();
    EXPECT_EQ(eval.CodeMatrix.Data.size(), 48u);
}

TEST(CalcMatrix, MatrixChangesOnlyWhenRecomputed) {
    TPicEval eval;
    MakeStack(eval, 2, 1);
    SetDot(eval, 0, 0, 0, 200, 5, 200, 0);
    eval.CalcMatrix();
    ASSERT_EQ(eval.CodeMatrix.GetCode(0, 0), 11);
    eval.SetTolerance(0);
    EXPECT_EQ(eval.CodeMatrix.GetCode(0, 0), 11);
    eval.CalcMatrix();
    EXPECT_EQ(eval.CodeMatrix.GetCode(0, 0), 0);
}

TEST(TCode, ResizeClearsAndAccessOutsideIsHarmless) {
    TCode matrix;
    matrix.Resize(2, 3);
    matrix.SetCode(1, 2, 7);
    matrix.Resize(2, 3);
    EXPECT_EQ(matrix.GetCode(1, 2), 0) << "a resize to the same size still clears";
    for (auto [row, col] : {std::pair{2, 0}, {0, 3}, {-1, 0}, {0, -1}}) {
        matrix.SetCode(row, col, 9);
        EXPECT_EQ(matrix.GetCode(row, col), 0);
    }
    EXPECT_TRUE(MatrixIsZero(matrix));
    EXPECT_THROW(matrix.Resize(-1, 3), std::invalid_argument);
}

TEST(LoadPictures, AFailedLoadKeepsTheFormerSize) {
    TPicEval eval;
    eval.Height = 480;
    eval.Width = 640;
    EXPECT_FALSE(eval.LoadPictures("/no/such/list.txt", false, kChannelGrey));
    EXPECT_EQ(eval.Height, 480);
    EXPECT_EQ(eval.Width, 640);
    EXPECT_FALSE(eval.Pics.LastError().empty());
}

TEST(LoadOutcome, SaysWhetherTheStackIsUsableWhetherItWasReplacedAndWhy) {
    TPhotoFolder folder(17);
    const std::string list = folder.List(folder.Photos(17));
    TPicEval eval;

    TLoadOutcome outcome = eval.LoadList(list, kChannelGrey);
    EXPECT_TRUE(outcome.Usable && outcome.Replaced && outcome.Reason.empty() && !outcome.Error);

    // A list that cannot be read leaves the usable stack as it was.
    outcome = eval.LoadList(folder.dir / "none.txt", kChannelGrey);
    EXPECT_FALSE(outcome.Usable || outcome.Replaced || outcome.Error);
    EXPECT_EQ(outcome.Reason,
              "The list file \"" + (folder.dir / "none.txt") + "\" does not exist.");
    EXPECT_TRUE(eval.IsStackComplete());

    // Sixteen photographs load but make no stack.
    outcome = eval.LoadList(folder.List(folder.Photos(16), "\r\n", "short.txt"), kChannelGrey);
    EXPECT_FALSE(outcome.Usable || outcome.Error);
    EXPECT_TRUE(outcome.Replaced);
    EXPECT_EQ(outcome.Reason, "\"" + (folder.dir / "short.txt") +
                                  "\" does not give a complete stack: The stack holds 16 "
                                  "pictures; 17 are needed.");

    // A damaged photograph: the decoder's error travels with the outcome.
    WriteFileText(folder.Photo(9), "damaged");
    outcome = eval.LoadList(list, kChannelGrey);
    EXPECT_FALSE(outcome.Usable);
    EXPECT_TRUE(outcome.Replaced);
    ASSERT_TRUE(outcome.Error);
    EXPECT_THROW(std::rethrow_exception(outcome.Error), EJpegError);
    EXPECT_NE(outcome.Reason.find(folder.Photo(9)), std::string::npos) << outcome.Reason;
}

TEST(LoadOutcome, OfAPictureSetTakesTheSizeWhateverTheLoadGave) {
    TPhotoFolder folder(17);
    TPicEval eval;
    ASSERT_TRUE(eval.LoadList(folder.List(folder.Photos(17)), kChannelGrey).Usable);
    const std::string header = folder.dir / "set.bbf";
    SavePicSet(eval.Pics, header, true);

    TPicEval fresh;
    TLoadOutcome outcome = fresh.LoadSet(header, folder.dir.path());
    EXPECT_TRUE(outcome.Usable && outcome.Replaced && outcome.Reason.empty());
    EXPECT_EQ(fresh.Width, TPhotoFolder::kWidth);
    EXPECT_EQ(fresh.Height, TPhotoFolder::kHeight);

    outcome = fresh.LoadSet(folder.dir / "none.bbf", folder.dir.path());
    EXPECT_FALSE(outcome.Usable || outcome.Replaced || outcome.Error);
    EXPECT_EQ(outcome.Reason, fresh.Pics.LastError());
    EXPECT_NE(outcome.Reason.find("none.bbf"), std::string::npos) << outcome.Reason;
}
