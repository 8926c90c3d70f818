#include "cli/BatchCommand.h"

#include "cli/BatchOptions.h"
#include "cli/BatchPlan.h"
#include "cli/BatchReport.h"
#include "cli/ChildRun.h"
#include "cli/CliOutput.h"
#include "cli/FailureText.h"
#include "cli/InterruptFlag.h"
#include "cli/MasterCommand.h"
#include "cli/OutputChoice.h"
#include "cli/RunTemporaryDirectory.h"
#include "platform/PreferenceStore.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

namespace orvanta::cli {

namespace {

namespace fs = std::filesystem;

std::string takeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::error_code ignored;
    fs::remove(path, ignored);
    return text.str();
}

// A run writes its output under a hidden name in the output's folder, ".<name>.partial-<pid>-...",
// then renames it into place; removes the ones of the run with process id `pid`.
void removePartialFilesOf(pid_t pid, const fs::path& folder) {
    const std::string mark = ".partial-" + std::to_string(pid) + "-";
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (name.front() == '.' && name.find(mark) != std::string::npos && it->is_regular_file(ignored))
            fs::remove(it->path(), ignored);
    }
}

// The runs of one batch: starts up to `jobs` at a time, reaps them, reports each as it ends.
class BatchRun {
public:
    BatchRun(const BatchOptions& options, const fs::path& workFolder, std::vector<std::string> extraArguments = {},
             OutcomeObserver observe = {})
        : options_(options), workFolder_(workFolder), extraArguments_(std::move(extraArguments)),
          observe_(std::move(observe)) {
        // Every run reads the user's preferences (the stored match strength) from a copy: loading a
        // reference stores its profile and the run then puts the old one back, which, with several
        // runs at once on one file, could leave a run's reference stored for the window.
        const fs::path configFolder = workFolder / "config";
        fs::create_directories(configFolder);
        std::error_code ignored;
        fs::copy_file(PreferenceStore::standardFilePath(), configFolder / "preferences.json", ignored);
        configFolder_ = configFolder;
    }

    void run(const std::vector<BatchJob>& jobs) {
        for (const BatchJob& job : jobs)
            if (job.skipped) report({JobOutcome::Kind::skipped, job, {}, {}});
        std::size_t next = 0;
        std::size_t waiting = std::count_if(jobs.begin(), jobs.end(), [](const BatchJob& job) { return !job.skipped; });
        while (true) {
            if (wasInterrupted()) forwardInterrupt();
            for (; !wasInterrupted() && running_.size() < std::size_t(options_.jobs) && next < jobs.size(); ++next) {
                if (jobs[next].skipped) continue;
                // Runs that share the cores each take one: the pipeline's threads would only compete
                // with the other runs. A run that will have the machine to itself keeps them.
                const bool sharing = options_.jobs > 1 && running_.size() + waiting > 1;
                start(jobs[next], next, sharing ? WorkThreads::oneThread : WorkThreads::pipelined);
                --waiting;
            }
            if (running_.empty()) break;
            if (const auto exit = waitForChild(std::chrono::milliseconds(200))) finish(*exit);
        }
        for (; next < jobs.size(); ++next)
            if (!jobs[next].skipped) ++notStarted_;
    }

    int failed() const noexcept { return counts_[int(JobOutcome::Kind::failed)]; }

    void printSummary() const {
        std::string summary = std::to_string(counts_[int(JobOutcome::Kind::mastered)]) + " mastered, " +
                              std::to_string(counts_[int(JobOutcome::Kind::skipped)]) + " skipped, " +
                              std::to_string(failed()) + " failed";
        if (wasInterrupted()) {
            summary += ", " + std::to_string(counts_[int(JobOutcome::Kind::cancelled)]) + " cancelled, " +
                       std::to_string(notStarted_) + " not started";
        }
        if (!options_.json) std::cout << summary << std::endl;
        if (wasInterrupted()) {
            printError(cancelledText() + " (" + summary + "); run the same command with --skip-existing to go on");
        }
    }

private:
    struct Running {
        BatchJob job;
        fs::path standardOutput;
        fs::path standardError;
        bool signalled = false;
    };

    void start(const BatchJob& job, std::size_t index, WorkThreads threads) {
        std::vector<std::string> args;
        args.insert(args.end(), options_.masterOptions.begin(), options_.masterOptions.end());
        args.insert(args.end(), extraArguments_.begin(), extraArguments_.end());
        const std::vector<std::string> format = formatArguments(options_.format);
        args.insert(args.end(), format.begin(), format.end());
        args.insert(args.end(), {"--json", "-o", job.output.string(), "--", job.input.string()});
        const std::string stem = (workFolder_ / ("job-" + std::to_string(index))).string();
        Running entry{job, stem + ".out", stem + ".err"};
        const auto run = [this, &args, threads] {
            ::setenv("ORVANTA_CONFIG_DIR", configFolder_.c_str(), 1);
            try {
                const PreferenceStore preferences(configFolder_ / "preferences.json");
                return runMasterCommand(args, preferences, threads);
            } catch (const UsageError& error) {
                printError("master: " + error.message);
                return exitUsage;
            }
        };
        try {
            running_.emplace(startChild(run, entry.standardOutput, entry.standardError), entry);
        } catch (const std::exception& error) {
            printError(job.input, error.what());
            report({JobOutcome::Kind::failed, job, {}, error.what()});
        }
    }

    // Passes the signal that came on to every run in flight, once each: a signal sent to this
    // process alone (kill, a service manager) must cancel them too, so that each removes its files.
    void forwardInterrupt() {
        for (auto& [pid, entry] : running_) {
            if (entry.signalled) continue;
            ::kill(pid, interruptingSignal());
            entry.signalled = true;
        }
    }

    void finish(const ChildExit& exit) {
        const auto found = running_.find(exit.pid);
        if (found == running_.end()) return;
        const Running entry = found->second;
        running_.erase(found);
        const std::string output = takeFile(entry.standardOutput);
        const std::string errors = takeFile(entry.standardError);
        // The run's own diagnostics (a failure's cause, a reference it could not match) name its file.
        std::cerr << errors << std::flush;
        JobOutcome outcome = outcomeOfRun(entry.job, exit, output, errors);
        if (exit.signal != 0) {
            // Ended outright (killed, crashed): it could not remove what it was writing.
            removePartialFilesOf(exit.pid, entry.job.output.parent_path());
            if (outcome.kind == JobOutcome::Kind::failed) printError(entry.job.input, outcome.error);
        }
        report(outcome);
    }

    void report(JobOutcome outcome) {
        if (observe_) observe_(outcome);
        ++counts_[int(outcome.kind)];
        if (options_.json) {
            printJson(outcomeJson(outcome));
        } else if (const std::string line = outcomeText(outcome); !line.empty()) {
            std::cout << line << std::endl;
        }
    }

    const BatchOptions& options_;
    fs::path workFolder_;
    std::vector<std::string> extraArguments_; // after the user's options, for every run
    OutcomeObserver observe_;
    fs::path configFolder_; // the runs' copy of the user's preferences
    std::map<pid_t, Running> running_;
    int counts_[4] = {};
    int notStarted_ = 0;
};

} // namespace

int runMasterJobs(const BatchOptions& options, const std::vector<BatchJob>& jobs, const fs::path& workFolder,
                  const std::vector<std::string>& extraArguments, const OutcomeObserver& observe) {
    BatchRun batch(options, workFolder, extraArguments, observe);
    batch.run(jobs);
    return batch.failed();
}

bool batchCanStart(const BatchOptions& options) {
    // As in the single-file mode, what can be checked before the work starts is checked here.
    if (options.folder && !fs::is_directory(*options.folder)) {
        printError(*options.folder, "no such folder");
        return false;
    }
    if (options.reference) {
        if (const auto problem = inputProblem(*options.reference)) {
            printError(*options.reference, *problem);
            return false;
        }
    }
    return true;
}

int runBatchMasterCommand(const std::vector<std::string>& args, const PreferenceStore& preferences) {
    const BatchOptions options = parseBatchOptions(args, preferences);
    const std::vector<BatchJob> jobs = planBatch(options);
    if (!batchCanStart(options)) return exitFailure;

    catchInterrupts();
    const RunTemporaryDirectory workFolder; // every run's own folder goes inside it
    BatchRun batch(options, workFolder.path());
    batch.run(jobs);
    batch.printSummary();
    if (wasInterrupted()) return interruptedExitStatus();
    if (!std::cout) {
        printError("could not write the report to standard output");
        return exitFailure;
    }
    return batch.failed() > 0 ? exitFailure : exitSuccess;
}

} // namespace orvanta::cli
