#include "platform/AacPieces.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace orvanta::lossy {

namespace {

// Frames an encoder takes before the first packet it keeps: its transform overlaps one frame, the
// window choice looks one ahead, and the psychoacoustic model and the rate control settle within a
// few; a margin beyond that costs well under one per cent of a long piece.
constexpr int64_t leadInFrames = 32;
// Frames fed past the last packet kept, so that its look-ahead is the input's and not the flush.
constexpr int64_t leadOutFrames = 4;
// No piece shorter than this many frames (about 3 s at 44.1 kHz): below it the lead-in is too
// large a share.
constexpr int64_t minimumPieceFrames = 4 * leadInFrames;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using OwnedPacket = std::unique_ptr<AVPacket, PacketFree>;

// Thrown into a piece's thread when another piece has failed.
struct Stopped {};

} // namespace

std::vector<AacPiece> cutIntoPieces(int64_t frames, int frameSize, int wanted) {
    const int64_t blocks = (frames + frameSize - 1) / frameSize;
    const int64_t count = std::clamp<int64_t>(blocks / minimumPieceFrames, 1, std::max(1, wanted));
    std::vector<AacPiece> pieces(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        const int64_t start = (blocks * i / count) * frameSize;
        const int64_t end = i + 1 == count ? frames : (blocks * (i + 1) / count) * frameSize;
        AacPiece& piece = pieces[size_t(i)];
        piece.feedStart = std::max<int64_t>(0, start - leadInFrames * frameSize);
        piece.feedEnd = i + 1 == count ? frames : std::min(frames, end + leadOutFrames * frameSize);
        piece.firstOwned = i == 0 ? INT64_MIN : start;
        piece.endOwned = i + 1 == count ? INT64_MAX : end;
    }
    return pieces;
}

void encodeAacPieces(const Failure& failure, const std::filesystem::path& input, int64_t firstFrame,
                     const std::vector<AacPiece>& pieces, bool wholeFile, float gain,
                     const std::filesystem::path& partial, const std::function<void()>& checkpoint) {
    // Readers and encoders are made here, so that a file or format fault shows before any thread starts.
    std::vector<std::unique_ptr<AudioFileReader>> readers;
    std::vector<std::unique_ptr<FrameEncoder>> encoders;
    for (const AacPiece& piece : pieces) {
        readers.push_back(std::make_unique<AudioFileReader>(input));
        readers.back()->setFramePosition(firstFrame + piece.feedStart);
        encoders.push_back(std::make_unique<FrameEncoder>(failure, int(readers.back()->sampleRate()),
                                                          int(readers.back()->channelCount()), gain));
    }
    std::vector<std::vector<OwnedPacket>> packets(pieces.size());
    std::atomic<bool> stopping{false};
    std::mutex failureMutex;
    std::exception_ptr firstFailure;
    const auto run = [&](size_t i) {
        try {
            const AacPiece& piece = pieces[i];
            const auto check = [&] {
                if (stopping.load(std::memory_order_relaxed)) throw Stopped{};
                if (checkpoint) checkpoint();
            };
            const PacketSink keep = [&](AVPacket& packet) {
                if (packet.pts < piece.firstOwned || packet.pts >= piece.endOwned) return;
                OwnedPacket owned(av_packet_alloc());
                if (!owned) throw std::bad_alloc();
                av_packet_move_ref(owned.get(), &packet);
                packets[i].push_back(std::move(owned));
            };
            // The last piece of a whole file reads to its end, as the serial encoding does, whatever
            // length the file gave.
            const bool toTheEnd = piece.endOwned == INT64_MAX && wholeFile;
            const int64_t frames = toTheEnd ? -1 : piece.feedEnd - piece.feedStart;
            encoders[i]->encode(*readers[i], frames, piece.feedStart, keep, check);
        } catch (const Stopped&) {
        } catch (...) {
            stopping = true;
            const std::lock_guard<std::mutex> lock(failureMutex);
            if (!firstFailure) firstFailure = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> threads;
        try {
            for (size_t i = 1; i < pieces.size(); ++i) threads.emplace_back(run, i);
        } catch (...) {
            stopping = true; // no thread to be had: the pieces already started stop, and this fails
            throw;
        }
        run(0);
    } // joined
    if (firstFailure) std::rethrow_exception(firstFailure);

    PacketMuxer muxer(failure, partial, encoders.front()->context());
    const AVRational timeBase = encoders.front()->context().time_base;
    for (auto& piece : packets) {
        for (OwnedPacket& packet : piece) {
            if (checkpoint) checkpoint();
            muxer.write(*packet, timeBase);
            packet.reset();
        }
    }
    muxer.finish();
}

} // namespace orvanta::lossy
