// Benchmarks of the evaluation against the cost of decoding the photographs.
//
// The stacks are generated once into the benchmark folder (KELVARON_BENCH_DIR, by
// default bench-stacks beside the binary's build tree) and reused by later runs.

#include "files/FileUtil.h"
#include "PicHolder.h"
#include "refine/Refine.h"
#include "SampleStack.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <jpeglib.h>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

struct TBenchStack {
    const char* Name;
    int Width, Height;
    double Spacing;
    int DistinctCodes; ///< 0: every dot its own code
};

// "small", "dots10k" (about 10,000 dots) and "large": three camera sizes. "codes16k" and
// "codes100": the same 16,384 dots, carrying all 16,384 codes or only 100 (many dots sharing one),
// so that the two differ in nothing but the number of distinct codes.
const TBenchStack kStacks[] = {
    {"small", 1280, 960, 24, 0},       {"dots10k", 4000, 3000, 34, 0},
    {"large", 8000, 6000, 48, 0},      {"codes16k", 4000, 3000, 26, 0},
    {"codes100", 4000, 3000, 26, 100},
};

std::string BenchFolder() {
    if (const char* dir = std::getenv("KELVARON_BENCH_DIR"))
        return dir;
    return KELVARON_BENCH_DEFAULT_DIR;
}

// The list file of a stack, generated when it is not there yet.
std::string StackList(const TBenchStack& stack) {
    const std::string folder = BenchFolder() + "/" + stack.Name;
    const std::string list = folder + "/stack.txt";
    if (FileExists(list))
        return list;
    TSampleOptions options;
    options.Width = stack.Width;
    options.Height = stack.Height;
    options.Spacing = stack.Spacing;
    options.DistinctCodes = stack.DistinctCodes;
    options.Seed = 2024;
    return WriteSampleStack(folder, "stack", options).ListFile;
}

const TBenchStack& Stack(const char* name) {
    for (const TBenchStack& stack : kStacks)
        if (std::string(stack.Name) == name)
            return stack;
    std::abort();
}

// A loaded evaluator per stack, kept for the whole run.
TPicEval& Loaded(const char* name) {
    static std::map<std::string, std::unique_ptr<TPicEval>> loaded;
    auto& eval = loaded[name];
    if (!eval) {
        eval = std::make_unique<TPicEval>("bench");
        const std::string list = StackList(Stack(name));
        TLoadOptions options;
        options.BaseFolder = ExtractFilePath(list);
        if (!eval->LoadPictures(list, false, kChannelGrey, options))
            std::abort();
        eval->SetTolerance(30);
        eval->SetMinDif(80);
    }
    return *eval;
}

// Where the runs write their points files and bitmaps. A loop that writes a 36 MB
// bitmap many times a second keeps the disk's writeback busy, which a single run
// never does; so the files go to memory (/dev/shm) where the system has it.
std::string OutputFolder() {
    std::string folder = BenchFolder() + "/out";
    if (const char* out = std::getenv("KELVARON_BENCH_OUT"))
        folder = out;
    else if (::access("/dev/shm", W_OK) == 0)
        folder = "/dev/shm/kelvaron-bench";
    std::filesystem::create_directories(folder);
    return folder;
}

// libjpeg-turbo on its own: the 17 files, already in memory, decoded one after the
// other with default parameters into one image buffer. This is the floor of any
// load, and the yardstick for the rest.
void BM_DecodeBaseline(benchmark::State& state, const char* name) {
    const std::string list = StackList(Stack(name));
    std::vector<std::string> lines = ReadTextLines(list);
    std::vector<std::vector<std::uint8_t>> files;
    for (std::size_t i = 2; i < lines.size(); ++i)
        files.push_back(ReadWholeFile(ResolveFileName(lines[i], ExtractFilePath(list))));
    std::vector<std::uint8_t> image;
    for (auto _ : state) {
        for (const auto& file : files) {
            jpeg_decompress_struct info{};
            jpeg_error_mgr err{};
            info.err = jpeg_std_error(&err);
            jpeg_create_decompress(&info);
            jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
            jpeg_read_header(&info, TRUE);
            jpeg_start_decompress(&info);
            const std::size_t stride =
                std::size_t(info.output_width) * std::size_t(info.output_components);
            image.resize(stride * info.output_height);
            while (info.output_scanline < info.output_height) {
                JSAMPROW row = image.data() + info.output_scanline * stride;
                jpeg_read_scanlines(&info, &row, 1);
            }
            jpeg_finish_decompress(&info);
            jpeg_destroy_decompress(&info);
        }
        benchmark::DoNotOptimize(image.data());
    }
}

// Threads: state.range(0), 0 for all cores.
void BM_LoadPictures(benchmark::State& state, const char* name) {
    const std::string list = StackList(Stack(name));
    TLoadOptions options;
    options.BaseFolder = ExtractFilePath(list);
    options.Threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        TPicEval eval("bench");
        if (!eval.LoadPictures(list, false, kChannelGrey, options))
            state.SkipWithError("the stack does not load");
    }
}

// The whole run: code matrix, point list, points file, marks and BMP file.
void BM_Evaluate(benchmark::State& state, const char* name) {
    TPicEval& eval = Loaded(name);
    eval.Threads = static_cast<int>(state.range(0));
    TBitmap display(eval.Width, eval.Height);
    const std::string points = OutputFolder() + "/" + name + ".txt";
    for (auto _ : state)
        eval.Evaluate(points, true, display);
    state.SetLabel(std::to_string(eval.Points.EntryCount) + " points");
}

void BM_CalcMatrix(benchmark::State& state, const char* name) {
    TPicEval& eval = Loaded(name);
    eval.Threads = static_cast<int>(state.range(0));
    for (auto _ : state)
        eval.CalcMatrix();
}

// Gathering the code matrix into the point list.
void BM_PointScan(benchmark::State& state, const char* name) {
    TPicEval& eval = Loaded(name);
    eval.CalcMatrix();
    for (auto _ : state) {
        eval.Points.Reset();
        eval.Points.AddCodeMatrix(eval.CodeMatrix, static_cast<int>(state.range(0)));
        eval.Points.Trim();
    }
    state.SetLabel(std::to_string(eval.Points.EntryCount) + " points");
}

// The refined centres of the point table (evaluate --table) on their own: the code
// matrix and the point list with its plain centres are made once, outside the loop.
void BM_RefineCentres(benchmark::State& state, const char* name) {
    TPicEval& eval = Loaded(name);
    const int threads = static_cast<int>(state.range(0));
    eval.Threads = threads;
    eval.CalcMatrix();
    eval.Points.Reset();
    eval.Points.AddCodeMatrix(eval.CodeMatrix, threads);
    eval.Points.Trim();
    eval.Points.CalcCentres();
    std::size_t refined = 0;
    for (auto _ : state) {
        const std::vector<TRefinedPoint> result = RefineCentres(
            {eval.Pics.Planes[0], eval.Pics.Planes[2]}, eval.CodeMatrix, eval.Points, threads);
        refined = result.size();
        benchmark::DoNotOptimize(result.data());
    }
    state.SetLabel(std::to_string(refined) + " points");
}

void BM_MarkPoints(benchmark::State& state, const char* name) {
    TPicEval& eval = Loaded(name);
    TBitmap display(eval.Width, eval.Height);
    for (auto _ : state)
        eval.MarkPoints(display);
}

} // namespace

// Each benchmark runs a few times and reports its fastest run: on a shared machine
// the fastest is the one least disturbed, and the first run of a process also pays
// for memory the system has not handed out before.
void Setup(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Repetitions(6)
        ->ComputeStatistics(
            "min",
            [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ReportAggregatesOnly(true);
}

void Threads(benchmark::internal::Benchmark* b) {
    Setup(b);
    b->ArgName("threads")->Arg(1)->Arg(0);
}

BENCHMARK_CAPTURE(BM_DecodeBaseline, small, "small")->Apply(Setup);
BENCHMARK_CAPTURE(BM_LoadPictures, small, "small")->Apply(Threads);
BENCHMARK_CAPTURE(BM_Evaluate, small, "small")->Apply(Threads);
BENCHMARK_CAPTURE(BM_DecodeBaseline, dots10k, "dots10k")->Apply(Setup);
BENCHMARK_CAPTURE(BM_LoadPictures, dots10k, "dots10k")->Apply(Threads);
BENCHMARK_CAPTURE(BM_Evaluate, dots10k, "dots10k")->Apply(Threads);
BENCHMARK_CAPTURE(BM_CalcMatrix, dots10k, "dots10k")->Apply(Threads);
BENCHMARK_CAPTURE(BM_MarkPoints, dots10k, "dots10k")->Apply(Setup);
BENCHMARK_CAPTURE(BM_RefineCentres, dots10k, "dots10k")->Apply(Threads);
BENCHMARK_CAPTURE(BM_PointScan, codes16k, "codes16k")->Apply(Threads);
BENCHMARK_CAPTURE(BM_PointScan, codes100, "codes100")->Apply(Threads);
BENCHMARK_CAPTURE(BM_DecodeBaseline, large, "large")->Apply(Setup);
BENCHMARK_CAPTURE(BM_LoadPictures, large, "large")->Apply(Threads);
BENCHMARK_CAPTURE(BM_Evaluate, large, "large")->Apply(Threads);

BENCHMARK_MAIN();
