#pragma once
// What the parts of a batch share: each pose's files in the output folder, the
// record that tells whether they are up to date, and the combined files.

#include "pipeline/Batch.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace batch_detail {

/// One pose's files in the output folder: POSE.txt, and POSE.bmp, POSE.csv and
/// POSE.html as the request asks for them (empty names otherwise), and the settings
/// record POSE.settings.
struct TPoseFiles {
    std::string Points, Bitmap, Table, Report, Settings;

    TPoseFiles(const std::string& folder, const std::string& pose, const TBatchRequest& request);
    /// Every file but the settings record.
    std::vector<std::string> Outputs() const;
};

/// What a pose's settings record says about how its files were made: the lines
/// that must match for the files to be kept.
std::string SettingsHeader(const std::string& input, const TBatchRequest& request);

/// The settings record of a pose evaluated into row, made with header.
std::string SettingsRecord(const std::string& header, const TBatchRow& row);

/// The row a settings record holds for its pose, when it was made with header;
/// nullopt when the file is not there, cannot be read, was made otherwise or is
/// damaged.
std::optional<TBatchRow> ReadSettingsRecord(const std::string& fileName, const std::string& header);

/// Whether every output is there and no older than any input.
bool NewerThanInputs(const std::vector<std::string>& outputs,
                     const std::vector<std::string>& inputs);

/// The combined files in folder, put in place together once all are written:
/// points.csv, report.html (request.Report, its sections taken from the poses' pages)
/// and summary.csv last, the set's key. files holds the files of the poses of rows.
/// Raises EFileError when one cannot be read or written (the former ones then stay).
void WriteCombinedFiles(const std::string& folder, const TBatchRequest& request,
                        const std::vector<TBatchRow>& rows, const std::vector<TPoseFiles>& files);

} // namespace batch_detail
