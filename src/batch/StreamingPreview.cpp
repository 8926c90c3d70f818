#include "batch/StreamingPreview.h"

#include <algorithm>
#include <array>

namespace orvanta {

namespace {

constexpr std::array services{
    // "Loudness normalization", Spotify for Artists,
    // https://support.spotify.com/us/artists/article/loudness-normalization/ : -14 LUFS (ITU 1770) in the
    // default "Normal" setting; louder masters turned down, softer ones raised while 1 dB of true-peak
    // headroom is left for lossy encoding. An album played in order gets one gain for all its tracks;
    // this is the gain of the track alone (shuffle, playlists).
    StreamingService{"Spotify", -14.0, NormalisationRule::upToPeakHeadroom, -1.0, ""},
    // "Apple Digital Masters", https://www.apple.com/apple-music/apple-digital-masters/ : Sound Check
    // normalises playback; Apple names no figure or raise limit there. -16 LUFS is the level measured
    // on Sound Check; raising up to -1 dBTP is assumed.
    StreamingService{"Apple Music", -16.0, NormalisationRule::upToPeakHeadroom, -1.0,
                     "Apple publishes neither the level nor how far Sound Check raises a quiet song"},
    // YouTube Help publishes no loudness figure; "Stats for nerds" ("content loudness") shows songs
    // above -14 LUFS turned down and quieter ones left alone.
    StreamingService{"YouTube", -14.0, NormalisationRule::downOnly, -1.0,
                     "YouTube publishes no reference level; -14 LUFS, down only, is what its player shows"},
    // TIDAL Support (https://support.tidal.com/) has an article on loudness normalisation, whose own
    // address is not confirmed here; the rule as Tidal gave it in "Tidal Adds Loudness Normalization",
    // MeterPlugs, https://meterplugs.com/blog/2016/10/07/tidal-adds-loudness-normalization.html :
    // -14 LUFS (BS.1770-4), quieter songs not raised.
    StreamingService{"Tidal", -14.0, NormalisationRule::downOnly, -1.0, ""},
    // Amazon Music for Artists (https://artists.amazonmusic.com/), its loudness guidance (the article's
    // own address is not confirmed here): -14 LUFS; it does not say that quieter songs are raised, so
    // down only is assumed.
    StreamingService{"Amazon Music", -14.0, NormalisationRule::downOnly, -1.0,
                     "whether Amazon Music raises quiet songs is not published; assumed down only"},
    // Deezer Support (https://support.deezer.com/), its article on volume normalisation (the article's
    // own address is not confirmed here): -15 LUFS; raising quieter songs is not described, so down
    // only is assumed.
    StreamingService{"Deezer", -15.0, NormalisationRule::downOnly, -1.0,
                     "whether Deezer raises quiet songs is not published; assumed down only"},
};

double serviceGainDb(const StreamingService& service, double lufs, double truePeakDbtp) {
    const double towardsReference = service.referenceLufs - lufs;
    if (towardsReference <= 0.0) return towardsReference;
    if (service.rule == NormalisationRule::downOnly) return 0.0;
    // A raise that would lift the true peak past the headroom stops there; a peak already above it
    // gets no raise at all.
    return std::clamp(service.headroomDbtp - truePeakDbtp, 0.0, towardsReference);
}

} // namespace

std::span<const StreamingService> streamingServices() noexcept { return services; }

std::vector<StreamingPlayback> previewStreaming(double bs1770Lufs, double truePeakDbtp) {
    std::vector<StreamingPlayback> playbacks;
    playbacks.reserve(services.size());
    for (const StreamingService& service : services) {
        StreamingPlayback playback;
        playback.service = &service;
        playback.gainDb = serviceGainDb(service, bs1770Lufs, truePeakDbtp);
        playback.playsAtLufs = bs1770Lufs + playback.gainDb;
        playback.playedTruePeakDbtp = truePeakDbtp + playback.gainDb;
        playback.givesLoudnessAway = playback.gainDb < -loudnessGivenAwayDb;
        playback.mayClip = playback.playedTruePeakDbtp > lossyClipDbtp;
        playbacks.push_back(playback);
    }
    return playbacks;
}

} // namespace orvanta
