// One input through every way the platform layer reads a file: the kind check, each decoder on its
// own (libsndfile takes nearly every file it knows, so FFmpeg would otherwise never see a WAV or a
// FLAC), the reader that chooses between them, and the facts a file card shows. Built with libFuzzer
// as the fuzzer, and without it as the replay of the committed corpus (CorpusReplay.cpp).

#include "platform/AudioFileFacts.h"
#include "platform/AudioFileReader.h"
#include "platform/AudioReaderBackend.h"
#include "platform/Error.h"
#include "platform/FileKind.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace orvanta;

// The readers take paths: the input goes into an anonymous memory file, opened again through
// /proc/self/fd. Nothing touches the disk, nothing is left behind, and its path has no canonical
// form, so FFmpeg's cache of decoded files never answers for an earlier input.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size) : fd_(::memfd_create("fuzz-input", MFD_CLOEXEC)) {
        if (fd_ < 0) return;
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            done += size_t(n);
        }
    }
    ~MemoryFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    std::filesystem::path path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

constexpr uint32_t blockFrames = 4096;
// A header may claim hours of audio that a few bytes cannot hold; reading stops at this many frames
// either way, so that one input never takes seconds.
constexpr int64_t maxFramesRead = int64_t(1) << 20;
// The reader refuses more; a backend on its own would otherwise be handed thousands of channels.
constexpr uint32_t maxChannels = 32;

// Start to end in blocks, then the seeks a player and the chunked passes make: the middle, the last
// frame, the end itself and back to the start.
void readBackend(AudioReaderBackend& backend) {
    const AudioFormat format = backend.format();
    if (format.channelCount == 0 || format.channelCount > maxChannels) return;
    std::vector<std::vector<float>> storage(format.channelCount, std::vector<float>(blockFrames));
    std::vector<float*> channels;
    for (auto& channel : storage) channels.push_back(channel.data());

    const int64_t length = backend.lengthFrames();
    int64_t position = 0;
    while (position < std::min(length, maxFramesRead)) {
        const uint32_t got = backend.read(position, channels.data(), blockFrames);
        if (got == 0) break;
        position += got;
    }
    for (const int64_t start : {length / 2, length - 1, length, int64_t(0)}) {
        if (start >= 0) backend.read(start, channels.data(), blockFrames);
    }
}

void readThroughReader(const std::filesystem::path& path) {
    AudioFileReader reader(path);
    AudioBuffer buffer = reader.makeBuffer(blockFrames);
    int64_t total = 0;
    while (total < maxFramesRead && reader.read(buffer, blockFrames) > 0) total += buffer.frameLength();
    reader.setFramePosition(reader.lengthFrames() / 2);
    reader.read(buffer, blockFrames);
    reader.setFramePosition(reader.lengthFrames());
    reader.read(buffer, blockFrames);
}

// Refusals are the expected outcome for most inputs: only crashes, sanitizer reports and exceptions
// of any other kind count as findings.
template <typename Step>
void expectingRefusals(Step step) {
    try {
        step();
    } catch (const Error&) {
    } catch (const std::bad_alloc&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const MemoryFile file(data, size);
    if (!file.valid()) return 0;
    const std::filesystem::path path = file.path();
    if (fileKindOf(path) != FileKind::regular) __builtin_trap();

    for (const auto open : {&openSndfileBackend, &openFfmpegBackend}) {
        expectingRefusals([&] {
            std::string reason;
            if (const auto backend = open(path, reason)) readBackend(*backend);
        });
    }
    expectingRefusals([&] { readThroughReader(path); });
    expectingRefusals([&] { readAudioFileFacts(path); });
    return 0;
}
