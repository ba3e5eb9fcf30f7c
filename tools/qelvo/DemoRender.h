// One render of the demo and the picture of it. The factors and the cutoff
// drawn are those the unit reports through its modulation report after each
// slice, so the picture shows what was applied, not a re-computation.
#pragma once

#include <string>
#include <vector>

#include "tools/qelvo/LevelCsv.h"
#include "tools/qelvo/Pictures.h"
#include "tools/qelvo/PluginCatalog.h"
#include "tools/qelvo/PluginHost.h"
#include "tools/qelvo/Render.h"

struct PictureRenderSetup {
  std::string plugin;
  int preset = 0;
  double sampleRate = 44100;
  UInt32 block = 512;
};

struct PictureRender {
  std::string unitName;
  PresetDescription preset;
  PresetMeasure measure;
  RenderStats stats;
  std::vector<float> left;  // the output's left channel
  RenderPicture picture;
};

// Renders input (channels[c][frame]) through a fresh instance with the levels
// delivered in step, passing every slice on to out. [control]
PictureRender RenderForPicture(const PictureRenderSetup& setup, const std::vector<std::vector<float>>& input,
                               const std::vector<LevelEvent>& levels, RenderSink& out);
