// The truth, target and camera files of a sample stack, and the truth read back.

#include "SampleTruth.h"

#include "SampleCamera.h"
#include "SampleText.h"
#include "base/Errors.h"
#include "files/FileUtil.h"

#include <array>
#include <charconv>
#include <system_error>

using sample_detail::ExactText;
using sample_detail::FixedText;

std::string FormatSampleTruth(const std::vector<TSampleDot>& dots, int decimals) {
    std::string text = "dot,code,x,y\n";
    text.reserve(dots.size() * 32 + text.size());
    for (const TSampleDot& dot : dots) {
        text += std::to_string(dot.Number);
        text += ',';
        text += std::to_string(dot.Code);
        text += ',';
        text += FixedText(dot.X, decimals);
        text += ',';
        text += FixedText(dot.Y, decimals);
        text += '\n';
    }
    return text;
}

std::string FormatSampleTargetTable(const std::vector<TSampleDot>& dots) {
    std::string text = "dot,code,target_x,target_y\n";
    for (const TSampleDot& dot : dots)
        text += std::to_string(dot.Number) + ',' + std::to_string(dot.Code) + ',' +
                ExactText(dot.TargetX) + ',' + ExactText(dot.TargetY) + '\n';
    return text;
}

std::string FormatSampleCamera(const TSampleOptions& options, std::size_t dots) {
    const TSampleCamera camera = options.Camera.value_or(TSampleCamera{});
    const TSampleIntrinsics& in = camera.Intrinsics;
    const TSampleTarget& target = camera.Target;
    auto list = [](const double* values, int count) {
        std::string text = "[";
        for (int i = 0; i < count; ++i)
            text += (i > 0 ? ", " : "") + ExactText(values[i]);
        return text + "]";
    };
    const std::array<double, 9> R = SampleRotationMatrix(camera.Pose.Rotation);
    std::string text = "{\n";
    text += "  \"width\": " + std::to_string(options.Width) + ",\n";
    text += "  \"height\": " + std::to_string(options.Height) + ",\n";
    text += "  \"fx\": " + ExactText(in.Fx) + ",\n";
    text += "  \"fy\": " + ExactText(in.Fy) + ",\n";
    text += "  \"cx\": " + ExactText(in.Cx) + ",\n";
    text += "  \"cy\": " + ExactText(in.Cy) + ",\n";
    text += "  \"k1\": " + ExactText(in.K1) + ",\n";
    text += "  \"k2\": " + ExactText(in.K2) + ",\n";
    text += "  \"rotation\": " + list(camera.Pose.Rotation.data(), 3) + ",\n";
    text += "  \"rotation_matrix\": [" + list(R.data(), 3) + ", " + list(R.data() + 3, 3) + ", " +
            list(R.data() + 6, 3) + "],\n";
    text += "  \"translation\": " + list(camera.Pose.Translation.data(), 3) + ",\n";
    text += "  \"target\": {\"pitch\": " + ExactText(target.Pitch) +
            ", \"dot_radius\": " + ExactText(target.DotRadius) +
            ", \"columns\": " + std::to_string(target.Columns) +
            ", \"rows\": " + std::to_string(target.Rows) +
            ", \"jitter\": " + ExactText(target.Jitter) + "},\n";
    text += "  \"dots\": " + std::to_string(dots) + "\n}\n";
    return text;
}

std::vector<TSampleDot> ReadSampleTruth(const std::string& fileName) {
    const std::vector<std::string> lines = ReadTextLines(fileName);
    auto fail = [&](std::size_t line, const std::string& reason) {
        throw EFileError("Cannot read \"" + fileName + "\": line " + std::to_string(line + 1) +
                         ": " + reason);
    };
    if (lines.empty() || lines[0] != "dot,code,x,y")
        fail(0, "the header \"dot,code,x,y\" is missing");
    std::vector<TSampleDot> dots;
    dots.reserve(lines.size() - 1);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const char* p = line.data();
        const char* end = p + line.size();
        TSampleDot dot{};
        auto field = [&](auto& value, bool lastField) {
            auto [next, ec] = std::from_chars(p, end, value);
            if (ec != std::errc() || next == p ||
                (lastField ? next != end : next == end || *next != ','))
                fail(i, "expected four comma-separated numbers, found \"" + line + "\"");
            p = lastField ? next : next + 1;
        };
        field(dot.Number, false);
        field(dot.Code, false);
        field(dot.X, false);
        field(dot.Y, true);
        dots.push_back(dot);
    }
    return dots;
}
