// Planes held in memory: read through any strides, 16-bit samples turned into plane
// values as photographs' are, and evaluated as the same stack's photographs are.

#include "input/PlaneArray.h"

#include "HeldSupport.h"
#include "SampleRender.h"
#include "SampleStack.h"
#include "TestSupport.h"
#include "base/Errors.h"
#include "input/PictureRows.h"
#include "pipeline/EvaluateInput.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

TEST(PlaneArray, RefusesArraysItCannotRead) {
    std::uint8_t byte = 0;
    auto refused = [&](auto change) {
        TPlaneArray a = Planes(&byte, 17, 1, 1, 1, 1, 1, 1, 255);
        change(a);
        EXPECT_THROW(a.Prepare(), std::invalid_argument);
    };
    refused([](TPlaneArray& a) { a.Count = 0; });
    refused([](TPlaneArray& a) { a.Count = 257; });
    refused([](TPlaneArray& a) { a.Height = -1; });
    refused([](TPlaneArray& a) { a.Width = 1 << 15, a.Height = 1 << 14; });
    refused([](TPlaneArray& a) { a.BytesPerValue = 4; });
    refused([](TPlaneArray& a) { a.MaxValue = 4095; }); // bytes reach 255
    refused([](TPlaneArray& a) { a.BytesPerValue = 2, a.MaxValue = 0; });
    refused([](TPlaneArray& a) { a.BytesPerValue = 2, a.MaxValue = 65536; });
    refused([](TPlaneArray& a) { a.Data = nullptr; });
    TPlaneArray empty = Planes(nullptr, 17, 0, 0, 1, 0, 0, 0, 255);
    EXPECT_NO_THROW(empty.Prepare());
}

TEST(PlaneArray, SixteenBitSamplesBecomeWhatAPhotographsWould) {
    // 12-bit samples at odd addresses, every other column.
    std::vector<std::uint8_t> memory(1 + 2 * 2 * 4096);
    for (std::uint16_t v = 0; v < 4096; ++v)
        std::memcpy(&memory[1 + 4 * std::size_t(v)], &v, 2);
    TPlaneArray a = Planes(memory.data() + 1, 1, 1, 4096, 2, 0, 0, 4, 4095);
    a.Prepare();
    EXPECT_FALSE(a.RowsInPlace());
    std::vector<std::uint8_t> row(4096);
    std::vector<std::uint16_t> deep(4096);
    a.ReadRow(0, 0, row.data());
    a.ReadDeepRow(0, 0, deep.data());
    for (std::uint32_t v = 0; v < 4096; ++v) {
        ASSERT_EQ(row[v], SampleToPlane(v, 4095)) << v;
        ASSERT_EQ(deep[v], SampleToDeep(v, 4095)) << v;
    }
    // Bytes lying next to each other are read where they lie.
    const std::uint8_t values[] = {1, 2, 3};
    const TPlaneArray bytes = Planes(values, 1, 1, 3, 1, 3, 3, 1, 255);
    EXPECT_EQ(bytes.RowInPlace(0, 0), values);
}

TEST(PlaneArray, EveryLayoutEvaluatesAsTheStacksPhotographs) {
    const TLoadedSample loaded;
    const TTempDir& dir = loaded.Dir;
    const TSampleStack& sample = loaded.Sample;
    const TPicEval& eval = loaded.Eval;
    TEvaluateRequest request;
    request.Input = sample.ListFile;
    request.Refine = true;
    for (const TSettingsRequest settings :
         {TSettingsRequest{80, 30}, TSettingsRequest{40, 12}, TSettingsRequest{}}) {
        request.Settings = settings;
        const TFiles expected = Evaluated(request, dir, "cli");
        for (const TLayout layout :
             {TLayout::Rows, TLayout::Columns, TLayout::Reversed, TLayout::EveryOther}) {
            for (const int threads : {1, 3}) {
                SCOPED_TRACE("layout " + std::to_string(int(layout)) + ", threads " +
                             std::to_string(threads) + ", mindif " +
                             (settings.MinDif ? std::to_string(*settings.MinDif) : "auto"));
                const THeldPlanes held = Hold(eval.Pics, layout);
                TEvaluateRequest planes = request;
                planes.Threads = threads;
                planes.KeepCodes = true;
                const TEvaluation result = EvaluatePlanes(held.Array, planes);
                EXPECT_EQ(Written(result, dir, "planes"), expected);
                EXPECT_TRUE(result.Sources.empty());
                EXPECT_EQ(result.Codes.Width, 150);
                EXPECT_EQ(result.Suggestion.has_value(), settings.Automatic());
            }
        }
    }
}

TEST(PlaneArray, SixteenBitPlanesAreRefinedAtFullDepth) {
    TTempDir dir;
    TSampleOptions options = SmallSample();
    options.Greyscale = true;
    options.Format = TSampleFormat::Png;
    options.Depth = 16;
    options.SignificantBits = 12;
    options.Brightness = 50; // dim dots: full depth matters to the refinement
    const TSampleStack sample = WriteSampleStack(dir.path(), "deep", options);
    std::vector<std::uint16_t> samples;
    for (int k = 0; k < kSamplePictureCount; ++k) {
        const std::vector<std::uint16_t> picture = RenderSamplePicture16(options, sample.Dots, k);
        samples.insert(samples.end(), picture.begin(), picture.end());
    }
    TEvaluateRequest request;
    request.Input = sample.ListFile;
    request.Bits = 12;
    request.Refine = true;
    const TFiles expected = Evaluated(request, dir, "cli");
    const std::int64_t pixels = std::int64_t(options.Width) * options.Height;
    const TPlaneArray planes =
        Planes(reinterpret_cast<const std::uint8_t*>(samples.data()), 17, options.Height,
               options.Width, 2, 2 * pixels, 2 * options.Width, 2, 4095);
    EXPECT_EQ(Written(EvaluatePlanes(planes, request), dir, "planes"), expected);
    // Read as 16 bits, the same samples are dimmer: other files.
    TPlaneArray sixteen = planes;
    sixteen.MaxValue = 65535;
    EXPECT_NE(Written(EvaluatePlanes(sixteen, request), dir, "planes16"), expected);
}

TEST(PlaneArray, AnArrayThatIsNoStackIsRefused) {
    std::vector<std::uint8_t> memory(16 * 4 * 4);
    EXPECT_THROW(EvaluatePlanes(Planes(memory.data(), 16, 4, 4, 1, 16, 4, 1, 255), {}),
                 EStackError);
    EXPECT_THROW(EvaluatePlanes(Planes(memory.data(), 17, 0, 4, 1, 0, 4, 1, 255), {}), EStackError);
    EXPECT_THROW(EvaluatePlanes(Planes(memory.data(), 17, 4, 4, 3, 0, 4, 1, 255), {}),
                 std::invalid_argument);
}
