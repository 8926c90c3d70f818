#include "cli/AlbumCommand.h"

#include "cli/AlbumPlan.h"
#include "cli/BatchCommand.h"
#include "cli/BatchOptions.h"
#include "cli/BatchPlan.h"
#include "cli/CliOutput.h"
#include "cli/FailureText.h"
#include "cli/InterruptFlag.h"
#include "cli/RunTemporaryDirectory.h"
#include "batch/MasterFile.h"
#include "engine/LoudnessMeter.h"
#include "engine/ProcessingErrors.h"
#include "platform/Error.h"

#include <cmath>
#include <cstdio>
#include <iostream>

namespace orvanta::cli {

namespace {

namespace fs = std::filesystem;

double numberIn(const nlohmann::ordered_json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_number() ? found->get<double>() : std::nan("");
}

class AlbumRun {
public:
    AlbumRun(const BatchOptions& options, std::vector<BatchJob> jobs, const fs::path& workFolder)
        : options_(options), jobs_(std::move(jobs)), workFolder_(workFolder), inputLufs_(jobs_.size()) {}

    void run() {
        measureInputs();
        std::vector<bool> done(jobs_.size());
        // The loudest song sets the gain; should it fail, the next loudest.
        for (const std::size_t lead : albumLeadOrder(inputLufs_)) {
            if (wasInterrupted()) return;
            done[lead] = true;
            runMasterJobs(options_, {jobs_[lead]}, workFolder_, {}, observer());
            if (album_.gainDb) break;
        }
        if (!album_.gainDb) return;
        std::vector<BatchJob> rest;
        for (std::size_t i = 0; i < jobs_.size(); ++i)
            if (!done[i] && inputLufs_[i]) rest.push_back(jobs_[i]);
        char gain[32];
        std::snprintf(gain, sizeof gain, "%.6f", *album_.gainDb);
        if (!rest.empty() && !wasInterrupted()) runMasterJobs(options_, rest, workFolder_, {"--gain", gain}, observer());
    }

    const AlbumSummary& summary() const noexcept { return album_; }
    bool allMastered() const {
        for (const AlbumSong& song : album_.songs)
            if (!song.mastered) return false;
        return album_.songs.size() == jobs_.size();
    }

private:
    // This meter's loudness of every input, on this thread: the child runs that follow must start from a
    // process with no other thread. A song that cannot be measured fails here and is not run.
    void measureInputs() {
        for (std::size_t i = 0; i < jobs_.size() && !wasInterrupted(); ++i) {
            const BatchJob& job = jobs_[i];
            std::string problem = inputProblem(job.input).value_or("");
            if (problem.empty()) {
                try {
                    const AudioStats stats = analyzeAudioFile(job.input, WorkThreads::oneThread);
                    if (stats.measurability == Measurability::measurable) {
                        inputLufs_[i] = stats.lufs;
                        continue;
                    }
                    problem = std::string("the song is ") + unmeasuredLabel(stats.measurability) +
                              ": its loudness cannot be measured";
                } catch (const std::exception& failure) {
                    problem = describeForUser(errorFrom(failure));
                }
            }
            printError(job.input, problem);
            JobOutcome outcome{JobOutcome::Kind::failed, job, {}, problem};
            if (options_.json) printJson(outcomeJson(outcome));
            album_.songs.push_back({job.input.string(), false, std::nan(""), std::nan(""), std::nan("")});
        }
    }

    // Each ended run: a mastered lead sets the album's gain; every song's line gets it beside its own.
    OutcomeObserver observer() {
        return [this](JobOutcome& outcome) {
            if (outcome.kind == JobOutcome::Kind::cancelled) return;
            AlbumSong song{outcome.job.input.string(), outcome.kind == JobOutcome::Kind::mastered};
            song.inputLufs = inputLufsOf(outcome.job);
            if (song.mastered) {
                if (!album_.gainDb) {
                    const double gainDb = numberIn(outcome.report, "gain_db");
                    if (!std::isfinite(gainDb)) {
                        song.mastered = false; // mastered, but with no gain to give the others
                        album_.songs.push_back(song);
                        return;
                    }
                    album_.gainDb = gainDb;
                    album_.setBy = song.input;
                }
                outcome.report["album_gain_db"] = jsonNumber(*album_.gainDb);
                const auto final = outcome.report.find("final");
                const auto& written = final != outcome.report.end() ? *final : outcome.report["output"];
                song.outputLufs = numberIn(written, "lufs");
                song.truePeakDbtp = numberIn(written, "true_peak");
            }
            album_.songs.push_back(song);
        };
    }

    double inputLufsOf(const BatchJob& job) const {
        for (std::size_t i = 0; i < jobs_.size(); ++i)
            if (jobs_[i].input == job.input && inputLufs_[i]) return *inputLufs_[i];
        return std::nan("");
    }

    const BatchOptions& options_;
    const std::vector<BatchJob> jobs_;
    fs::path workFolder_;
    std::vector<std::optional<float>> inputLufs_;
    AlbumSummary album_;
};

} // namespace

int runAlbumMasterCommand(const std::vector<std::string>& args, const PreferenceStore& preferences) {
    const BatchOptions options = parseBatchOptions(args, preferences);
    const std::vector<BatchJob> jobs = planBatch(options);
    if (!batchCanStart(options)) return exitFailure;

    catchInterrupts();
    const RunTemporaryDirectory workFolder;
    AlbumRun album(options, jobs, workFolder.path());
    album.run();
    if (wasInterrupted()) {
        printError(cancelledText() + " before the album was finished");
        return interruptedExitStatus();
    }
    if (options.json)
        printJson(albumJson(album.summary()));
    else
        std::cout << albumText(album.summary()) << std::flush;
    if (!std::cout) {
        printError("could not write the report to standard output");
        return exitFailure;
    }
    return album.allMastered() ? exitSuccess : exitFailure;
}

} // namespace orvanta::cli
