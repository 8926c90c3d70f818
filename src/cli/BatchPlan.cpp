#include "cli/BatchPlan.h"

#include "batch/ExportNaming.h"
#include "cli/CliOutput.h"
#include "platform/CompleteAudioFile.h"
#include "platform/FileOperations.h"
#include <sys/stat.h>

#include <map>
#include <optional>
#include <utility>

namespace orvanta::cli {

namespace fs = std::filesystem;

namespace {

// One spelling per file: absolute, with "..", "." and the links of its existing folders resolved,
// so that "a/../b.wav" and "b.wav" meet.
fs::path identity(const fs::path& path) {
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(path), ec);
    return ec ? fs::absolute(path).lexically_normal() : resolved;
}

// The device and inode of an existing file.
std::optional<std::pair<dev_t, ino_t>> fileOf(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return std::pair{info.st_dev, info.st_ino};
}

std::string quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

} // namespace

std::vector<BatchJob> planBatch(const BatchOptions& options) {
    const std::string extension(fileExtension(options.format));
    const bool withReference = options.reference.has_value();
    std::vector<BatchJob> jobs;
    std::map<fs::path, std::size_t> inputNamed;
    std::map<std::pair<dev_t, ino_t>, std::size_t> inputFile; // a file reached by another name or a hard link
    for (const fs::path& input : options.inputs) {
        const fs::path folder = options.folder.value_or(input.parent_path());
        jobs.push_back({input, folder / exportFileName(input, withReference, extension)});
        const std::size_t index = jobs.size() - 1;
        bool added = inputNamed.emplace(identity(input), index).second;
        if (const auto file = fileOf(input)) added = inputFile.emplace(*file, index).second && added;
        if (!added) throw UsageError(quoted(input) + " is listed twice");
    }
    const auto inputAt = [&](const fs::path& output) -> std::optional<std::size_t> {
        if (const auto named = inputNamed.find(output); named != inputNamed.end()) return named->second;
        if (const auto file = fileOf(output)) {
            if (const auto found = inputFile.find(*file); found != inputFile.end()) return found->second;
        }
        return std::nullopt;
    };

    std::map<fs::path, std::size_t> outputNamed;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const BatchJob& job = jobs[i];
        const fs::path output = identity(job.output);
        const auto [earlier, added] = outputNamed.emplace(output, i);
        if (!added) {
            throw UsageError(quoted(jobs[earlier->second].input) + " and " + quoted(job.input) +
                             " would both be written to " + quoted(job.output) +
                             "; rename one of them, or master them into separate folders");
        }
        if (const auto replaced = inputAt(output)) {
            throw UsageError("the master of " + quoted(job.input) + " would replace the input " +
                             quoted(jobs[*replaced].input) + "; choose another folder with -o");
        }
        // Later songs are matched to the reference: overwriting it would change their masters too.
        if (options.reference && isSameFile(*options.reference, job.output)) {
            throw UsageError("the master of " + quoted(job.input) + " would replace the reference " +
                             quoted(*options.reference) + "; choose another folder with -o");
        }
    }

    if (options.skipExisting) {
        for (BatchJob& job : jobs) {
            // A 0-byte or cut-off file left by a run that died is no master: it is made again.
            job.skipped = isCompleteAudioFile(job.output);
        }
    }
    return jobs;
}

} // namespace orvanta::cli
