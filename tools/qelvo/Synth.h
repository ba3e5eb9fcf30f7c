// The demo's input: pink noise under a sustained chord, stereo, made from a
// fixed seed so every run renders the same samples.
#pragma once

#include <vector>

// channels[c][frame], 32-bit float, peak well below full scale.
std::vector<std::vector<float>> SynthesizeDemoInput(double sampleRate, double seconds, int channels);
