// orvanta-cli: the mastering engine without the window.
#include "cli/AlbumCommand.h"
#include "cli/AnalyzeCommand.h"
#include "cli/BatchCommand.h"
#include "cli/BatchOptions.h"
#include "cli/CliOutput.h"
#include "cli/MasterCommand.h"
#include "cli/MeasureCommand.h"
#include "platform/PreferenceStore.h"

#include <malloc.h>

#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

using Command = std::function<int(const std::vector<std::string>&, const orvanta::PreferenceStore&)>;

const char* const usageText =
    "usage: orvanta-cli <command> [arguments]\n"
    "  measure FILE [--json]        loudness, peak, RMS and tempo of FILE\n"
    "  master IN [-o OUT] [--preset Normal|Loud|\"Extra Loud\"] [--target LUFS] [--ceiling DBFS]\n"
    "         [--reference REF [--match-amount PERCENT]] [--format wav|flac|m4a|mp3]\n"
    "         [--bits 16|24|32] [--rate HZ] [--noise-shaping] [--json]\n"
    "                               master IN (default preset Loud) into OUT; with REF, then match\n"
    "                               REF's spectrum (default: beside IN, \"<name> (MASTER).wav\",\n"
    "                               or \" (FINAL)\" after a reference pass); PERCENT (0-100, or\n"
    "                               Gentle, Medium, Full) is how much of the difference to correct;\n"
    "                               --bits: 24 (default), 16 (dithered), 32 (float, WAV only);\n"
    "                               --rate: resample before limiting (default: IN's own rate)\n"
    "  master IN... [-o FOLDER] [--jobs N] [--skip-existing] [the options above]\n"
    "                               master every IN, N at a time (default: one per core), into FOLDER\n"
    "                               (default: beside each IN) under the names above; --skip-existing\n"
    "                               leaves out a file whose master is already there\n"
    "  master --album IN... [-o FOLDER] [--jobs N] [the options above]\n"
    "                               master IN... as one album: the loudest is mastered to the target\n"
    "                               and its gain goes to every song, so their differences stay\n"
    "         --gain DB             (one file) this gain through the chain instead of the target\n"
    "  analyze FILE [--json]        quality scores, verdict, use case, loudness and spectral balance\n"
    "  analyze FILE --repair [-o OUT] [--format ...] [--bits ...] [--rate HZ] [--noise-shaping]\n"
    "                               also master the analyzer's corrected copy into OUT (default:\n"
    "                               beside FILE, \"<name> (MASTER).wav\")\n"
    "  --version                    the version of orvanta-cli\n"
    "Targets go from -30 to -3 LUFS, ceilings from -6 to 0 dBFS; an OUT's extension (.wav, .flac,\n"
    ".m4a, .mp3) decides its format.\n"
    "Loudness figures are on this meter, which reads 0.5 LU below BS.1770 (\"lufs_bs1770\" in --json).\n"
    "\"--\" ends the options, so that a file name may start with \"-\".\n";

std::map<std::string, Command> commands() {
    return {
        {"measure", [](const std::vector<std::string>& args, const auto&) { return orvanta::cli::runMeasureCommand(args); }},
        {"master",
         [](const std::vector<std::string>& args, const orvanta::PreferenceStore& preferences) {
             if (orvanta::cli::isAlbumMasterForm(args)) return orvanta::cli::runAlbumMasterCommand(args, preferences);
             return orvanta::cli::isBatchMasterForm(args) ? orvanta::cli::runBatchMasterCommand(args, preferences)
                                                          : orvanta::cli::runMasterCommand(args, preferences);
         }},
        {"analyze", orvanta::cli::runAnalyzeCommand},
    };
}

} // namespace

int main(int argc, char** argv) {
    using namespace orvanta::cli;
    // Every pass allocates its blocks and the chain's state anew, a few megabytes. Served from fresh
    // mappings, each of their pages costs a fault on first touch, pass after pass; kept in the heap
    // once freed, they are touched again for nothing. The peak stays what the largest pass needs.
    ::mallopt(M_MMAP_THRESHOLD, 64 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        (words.empty() ? std::cerr : std::cout) << usageText;
        return words.empty() ? exitUsage : exitSuccess;
    }
    if (words[0] == "--version" || words[0] == "-V") {
        std::cout << "orvanta-cli " << ORVANTA_VERSION << std::endl;
        return exitSuccess;
    }
    const auto table = commands();
    const auto command = table.find(words[0]);
    if (command == table.end()) {
        printError("unknown command \"" + words[0] + "\"");
        std::cerr << usageText;
        return exitUsage;
    }
    const std::vector<std::string> arguments(words.begin() + 1, words.end());
    if (asksForHelp(arguments)) {
        std::cout << usageText;
        return exitSuccess;
    }
    try {
        // The user's stored choices (export format, match strength, target): read, never written.
        const orvanta::PreferenceStore preferences(orvanta::PreferenceStore::standardFilePath());
        return command->second(arguments, preferences);
    } catch (const UsageError& error) {
        printError(words[0] + ": " + error.message);
        std::cerr << usageText;
        return exitUsage;
    } catch (const std::exception& error) {
        printError(words[0] + ": " + error.what());
        return exitFailure;
    }
}
