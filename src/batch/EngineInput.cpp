#include "batch/EngineInput.h"

#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/TemporaryDirectory.h"

namespace orvanta {

namespace fs = std::filesystem;

namespace {
// Room for the longest name the engine derives: "_analyzer_eq_master.wav" and a hidden partial name's
// own suffix are shortened by their writers, the derived names are not.
constexpr std::size_t longestUsableName = 200; // bytes
constexpr std::size_t linkStemBytes = 180;
} // namespace

EngineInput::EngineInput(const fs::path& song) : path_(song) {
    const std::string name = song.filename().string();
    if (name.size() <= longestUsableName) return;
    const std::string extension = utf8Prefix(song.extension().string(), 16);
    path_ = privateTemporaryDirectory() / (utf8Prefix(song.stem().string(), linkStemBytes) + extension);
    std::error_code ec;
    fs::remove(path_, ec);
    fs::create_symlink(fs::absolute(song, ec), path_, ec);
    if (ec) {
        throw fileSystemError(FileSystemErrorCode::copyFailed, "Could not link \"" + song.string() + "\" under a " +
                                                                   "shorter name: " + ec.message());
    }
    linked_ = true;
}

EngineInput::~EngineInput() {
    if (linked_) removeFileQuietly(path_);
}

} // namespace orvanta
