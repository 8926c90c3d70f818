#pragma once

#include "eq/EQSettings.h"

#include <vector>

namespace orvanta {

// The level change in dB that `settings` give a sine at `frequencyHz`: the sum of its peaking bands'
// magnitude responses at `sampleRate` (bands that would not be filtered there count as flat) plus the
// master gain. Whether the settings are enabled is not consulted. Pure; any thread.
float eqResponseDb(const EQSettings& settings, double frequencyHz, double sampleRate = 48000.0);

// `points` frequencies spaced evenly on a log scale from `lowestHz` to `highestHz`, both included.
std::vector<double> logFrequencies(double lowestHz, double highestHz, int points);

} // namespace orvanta
