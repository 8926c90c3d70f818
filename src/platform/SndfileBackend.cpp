#include "platform/AudioReaderBackend.h"
#include "platform/SndfileChannelMap.h"
#include "platform/Error.h"

#include <dlfcn.h>
#include <mpg123.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// libsndfile decodes MPEG audio with libmpg123, which prints its notes about damaged or unknown data
// ("Note: Illegal Audio-MPEG-Header ...", "Giving up searching valid MPEG header") straight to
// stderr, where they break the command line's one-line errors; libsndfile offers no way to pass
// mpg123's quiet flag. This definition takes the place of libmpg123's own for the whole process (the
// executable's symbols come first when libsndfile's call is bound) and creates every decoder quiet.
// What goes wrong still reaches the caller as libsndfile's error.
extern "C" mpg123_handle* mpg123_new(const char* decoder, int* error) {
    using Create = mpg123_handle* (*)(const char*, int*);
    static const auto create = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "mpg123_new"));
    if (create == nullptr) {
        if (error != nullptr) *error = MPG123_ERR;
        return nullptr;
    }
    mpg123_handle* handle = create(decoder, error);
    if (handle != nullptr) mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    return handle;
}

namespace orvanta {

namespace {

// libsndfile reads a file it opens itself a few kilobytes per system call: thousands of calls for a
// song, each a noticeable cost on a virtual machine. It reads this stream instead, whose buffer
// takes a megabyte per call.
class BufferedInput {
public:
    static std::unique_ptr<BufferedInput> open(const std::filesystem::path& path) {
        FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) return nullptr;
        auto input = std::unique_ptr<BufferedInput>(new BufferedInput(file));
        std::setvbuf(file, input->buffer_.data(), _IOFBF, input->buffer_.size());
        return input;
    }
    ~BufferedInput() { std::fclose(file_); }
    BufferedInput(const BufferedInput&) = delete;
    BufferedInput& operator=(const BufferedInput&) = delete;

    static SF_VIRTUAL_IO callbacks() {
        SF_VIRTUAL_IO io{};
        io.get_filelen = [](void* self) -> sf_count_t {
            struct stat status{};
            return ::fstat(::fileno(file(self)), &status) == 0 ? sf_count_t(status.st_size) : -1;
        };
        io.seek = [](sf_count_t offset, int whence, void* self) -> sf_count_t {
            if (::fseeko(file(self), off_t(offset), whence) != 0) return -1;
            return sf_count_t(::ftello(file(self)));
        };
        io.read = [](void* destination, sf_count_t count, void* self) -> sf_count_t {
            return sf_count_t(std::fread(destination, 1, size_t(count), file(self)));
        };
        io.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
        io.tell = [](void* self) -> sf_count_t { return sf_count_t(::ftello(file(self))); };
        return io;
    }

private:
    explicit BufferedInput(FILE* file) : file_(file), buffer_(size_t(1) << 20) {}
    static FILE* file(void* self) { return static_cast<BufferedInput*>(self)->file_; }

    FILE* file_;
    std::vector<char> buffer_;
};

// Compressed formats take their length from a header or an estimate: FLAC's stream info, MP3's
// Xing frame or its size over the first frame's bit rate, Ogg's last granule position. A cut or
// lying file claims more than it holds (a cut Ogg stream claims an endless length). PCM lengths come
// from the data chunk, which libsndfile bounds by the file's size.
bool lengthFromHeader(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    const int subtype = format & SF_FORMAT_SUBMASK;
    return major == SF_FORMAT_FLAC || major == SF_FORMAT_OGG || major == SF_FORMAT_MPEG ||
           subtype == SF_FORMAT_ALAC_16 || subtype == SF_FORMAT_ALAC_20 || subtype == SF_FORMAT_ALAC_24 ||
           subtype == SF_FORMAT_ALAC_32;
}

// Whether the claimed last frame decodes; leaves the file at frame 0. A claim beyond 32 bits is
// nonsense whatever a seek answers.
bool lastFrameDecodes(SNDFILE* file, const SF_INFO& info) {
    if (info.frames <= 0 || info.frames > int64_t(std::numeric_limits<uint32_t>::max())) return false;
    std::vector<float> frame(size_t(info.channels));
    const bool decodes = sf_seek(file, info.frames - 1, SEEK_SET) >= 0 && sf_readf_float(file, frame.data(), 1) == 1;
    return sf_seek(file, 0, SEEK_SET) == 0 && decodes;
}

// Frames that decode from the start until the decoder has no more; leaves the file at frame 0, or
// returns nothing when it cannot go back there.
std::optional<int64_t> countDecodedFrames(SNDFILE* file, const SF_INFO& info) {
    constexpr sf_count_t sliceFrames = 16384;
    std::vector<float> scratch(size_t(sliceFrames) * size_t(info.channels));
    int64_t frames = 0;
    while (true) {
        const sf_count_t got = sf_readf_float(file, scratch.data(), sliceFrames);
        if (got <= 0) break;
        frames += got;
        if (frames > int64_t(std::numeric_limits<uint32_t>::max())) break; // longer than any reader takes
    }
    if (sf_seek(file, 0, SEEK_SET) != 0) return std::nullopt;
    return frames;
}

// Counted lengths of files whose header did not hold, so that every reader of the same file in a
// run decodes it to the end once, not once per open. Keyed by what changes when the file is rewritten.
class CountedLengths {
public:
    static CountedLengths& instance() {
        static CountedLengths lengths;
        return lengths;
    }

    struct Key {
        std::string path; // canonical
        uintmax_t size = 0;
        int64_t modified = 0;
        bool operator==(const Key&) const = default;
    };

    static std::optional<Key> keyOf(const std::filesystem::path& path) {
        std::error_code ec;
        Key key;
        key.path = std::filesystem::canonical(path, ec).string();
        if (ec) return std::nullopt;
        key.size = std::filesystem::file_size(path, ec);
        if (ec) return std::nullopt;
        key.modified = int64_t(std::filesystem::last_write_time(path, ec).time_since_epoch().count());
        if (ec) return std::nullopt;
        return key;
    }

    std::optional<int64_t> find(const Key& key) {
        std::lock_guard lock(mutex_);
        for (const auto& [known, frames] : entries_) {
            if (known == key) return frames;
        }
        return std::nullopt;
    }

    void insert(const Key& key, int64_t frames) {
        std::lock_guard lock(mutex_);
        entries_.emplace_front(key, frames);
        if (entries_.size() > capacity) entries_.pop_back();
    }

private:
    static constexpr size_t capacity = 256;
    std::mutex mutex_;
    std::list<std::pair<Key, int64_t>> entries_;
};

// The frames of `file` that decode: its header's claim where the claimed last frame decodes, else a
// count to the end. Nothing when the file cannot be wound back after counting.
std::optional<int64_t> decodableFrames(const std::filesystem::path& path, SNDFILE* file, const SF_INFO& info) {
    if (!lengthFromHeader(info.format) || lastFrameDecodes(file, info)) return info.frames;
    const std::optional<CountedLengths::Key> key = CountedLengths::keyOf(path);
    if (key) {
        if (const auto known = CountedLengths::instance().find(*key)) return known;
    }
    const std::optional<int64_t> counted = countDecodedFrames(file, info);
    if (counted && key) CountedLengths::instance().insert(*key, *counted);
    return counted;
}

// The speaker positions the file's header names (a WAVE_FORMAT_EXTENSIBLE mask, a CAF layout), or 0.
uint64_t channelMaskOf(SNDFILE* file, int channels) {
    std::vector<int> map(size_t(channels), 0);
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int))) != SF_TRUE) return 0;
    return channelMaskOfSndfileMap(map);
}

class SndfileBackend final : public AudioReaderBackend {
public:
    SndfileBackend(SNDFILE* file, const SF_INFO& info, int64_t frames, std::filesystem::path path,
                   std::unique_ptr<BufferedInput> input)
        : input_(std::move(input)), file_(file), info_(info), frames_(frames), path_(std::move(path)),
          channelMask_(channelMaskOf(file, info.channels)) {}
    ~SndfileBackend() override { sf_close(file_); }

    AudioFormat format() const override {
        return {double(info_.samplerate), uint32_t(info_.channels), channelMask_};
    }
    int64_t lengthFrames() const override { return frames_; }
    int64_t declaredFrames() const override { return info_.frames; }
    bool readsAnywhere() const override {
        const int subtype = info_.format & SF_FORMAT_SUBMASK;
        return (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC || subtype == SF_FORMAT_PCM_S8 ||
               subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24 ||
               subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    }

    uint32_t read(int64_t startFrame, float* const* channels, uint32_t frames) override {
        if (startFrame != position_) {
            if (sf_seek(file_, startFrame, SEEK_SET) < 0) {
                fail("seek to frame " + std::to_string(startFrame));
            }
            position_ = startFrame;
        }
        const uint32_t channelCount = uint32_t(info_.channels);
        // Bounded scratch: large reads go through in slices instead of one huge interleaved copy.
        constexpr uint32_t sliceFrames = 16384;
        scratch_.resize(size_t(std::min(frames, sliceFrames)) * channelCount);
        uint32_t done = 0;
        while (done < frames) {
            const uint32_t want = std::min(frames - done, sliceFrames);
            const sf_count_t got = sf_readf_float(file_, scratch_.data(), want);
            if (got < 0) {
                if (done > 0) break; // deliver what was read; the next read reports the damage
                fail("read");
            }
            if (channelCount == 2) {
                // Stereo in one sweep over the interleaved frames.
                float* left = channels[0] + done;
                float* right = channels[1] + done;
                const float* in = scratch_.data();
                for (sf_count_t i = 0; i < got; ++i) {
                    left[i] = in[2 * i];
                    right[i] = in[2 * i + 1];
                }
            } else {
                for (uint32_t c = 0; c < channelCount; ++c) {
                    float* out = channels[c] + done;
                    const float* in = scratch_.data() + c;
                    for (sf_count_t i = 0; i < got; ++i) {
                        out[i] = in[size_t(i) * channelCount];
                    }
                }
            }
            done += uint32_t(got);
            position_ += got;
            if (got < sf_count_t(want)) {
                const int err = sf_error(file_);
                if (err != SF_ERR_NO_ERROR && done == 0) {
                    fail("read");
                }
                break; // end of the audio data
            }
        }
        return done;
    }

private:
    [[noreturn]] void fail(const std::string& what) {
        throw audioFileError(AudioFileErrorCode::readFailed, "Could not " + what + " in \"" + path_.string() +
                                                                 "\": " + sf_strerror(file_));
    }

    std::unique_ptr<BufferedInput> input_; // outlives file_, which reads it
    SNDFILE* file_;
    SF_INFO info_;
    int64_t frames_; // that decode; info_.frames is the header's claim
    std::filesystem::path path_;
    uint64_t channelMask_; // the file's speaker positions, 0 when it names none
    int64_t position_ = 0;
    std::vector<float> scratch_;
};

} // namespace

std::unique_ptr<AudioReaderBackend> openSndfileBackend(const std::filesystem::path& path, std::string& reason) {
    SF_INFO info{};
    std::unique_ptr<BufferedInput> input = BufferedInput::open(path);
    SNDFILE* file = nullptr;
    if (input) {
        SF_VIRTUAL_IO io = BufferedInput::callbacks();
        file = sf_open_virtual(&io, SFM_READ, &info, input.get());
    }
    if (file == nullptr) {
        // The reason comes from libsndfile's own opening, worded as for any other file.
        input.reset();
        info = {};
        file = sf_open(path.c_str(), SFM_READ, &info);
        if (file == nullptr) {
            reason = sf_strerror(nullptr);
            return nullptr;
        }
    }
    if (info.channels <= 0 || info.samplerate <= 0 || info.frames < 0) {
        reason = "invalid header";
        sf_close(file);
        return nullptr;
    }
    // Integer files are scaled to [-1, 1); float files keep their values.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    const std::optional<int64_t> frames = decodableFrames(path, file, info);
    if (!frames) {
        reason = "its decoder cannot return to the start after reading to its end";
        sf_close(file);
        return nullptr;
    }
    return std::make_unique<SndfileBackend>(file, info, *frames, path, std::move(input));
}

} // namespace orvanta
