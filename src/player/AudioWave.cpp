// The audio wave display: files with sound but no shown video get a moving
// oscilloscope picture of the samples being played, one band per channel.
#include <algorithm>
#include <climits>

#include "player/PlayerCore.h"

namespace tovi {

void WaveRingUpdate(TPlayContext &ctx, const std::int16_t *samples, int sampleCount) {
  std::lock_guard<std::mutex> lock(ctx.waveMutex);
  if (ctx.sampleArray.size() != SAMPLE_ARRAY_SIZE) return;
  int index = ctx.sampleArrayIndex;
  while (sampleCount > 0) {
    const int n = std::min(SAMPLE_ARRAY_SIZE - index, sampleCount);
    std::copy(samples, samples + n, ctx.sampleArray.begin() + index);
    samples += n;
    sampleCount -= n;
    index = (index + n) % SAMPLE_ARRAY_SIZE;
  }
  ctx.sampleArrayIndex = index;
}

void DrawWave(TPlayContext &ctx) {
  TPlayerCore &core = *ctx.player;
  SDL_Renderer *renderer = core.surface.renderer.get();
  const int channels = std::max(ctx.audioChannels, 1);
  const int width = ctx.width, height = ctx.height;
  if (!renderer || width <= 0 || height <= 0) return;
  std::lock_guard<std::mutex> lock(ctx.waveMutex);
  if (ctx.sampleArray.size() != SAMPLE_ARRAY_SIZE) return;
  const auto wrap = [](int i) { return ((i % SAMPLE_ARRAY_SIZE) + SAMPLE_ARRAY_SIZE) % SAMPLE_ARRAY_SIZE; };
  const std::int16_t *ring = ctx.sampleArray.data();
  int iStart;
  if (!ctx.paused) {
    // Samples handed to SDL but not yet played: the wave shows what is heard.
    long long n = (ctx.audioBufSize - ctx.audioBufIndex) / (2 * channels);
    if (const std::int64_t t = core.audioCallbackTime; t != 0)
      n -= (WallClockMicros() - t) * ctx.audioRate / 1000000;
    n += 2 * width;
    n = std::max<long long>(n, width);
    const int x = wrap(static_cast<int>(ctx.sampleArrayIndex - n * channels));
    iStart = x;
    // Trigger: the steepest falling zero crossing in the last 1000 samples.
    int best = INT_MIN;
    for (int i = 0; i < 1000; i += channels) {
      const int idx = wrap(x - i);
      const int a = ring[idx];
      const int b = ring[wrap(idx + 4 * channels)];
      const int c = ring[wrap(idx + 5 * channels)];
      const int d = ring[wrap(idx + 9 * channels)];
      const int score = a - d;
      if (best < score && (b ^ c) < 0) {
        best = score;
        iStart = idx;
      }
    }
    ctx.lastIStart = iStart;
  } else {
    iStart = ctx.lastIStart;
  }
  ff::SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
  ff::SDL_RenderClear(renderer);
  ff::SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
  const int h = height / channels;
  const int amp = h * 9 / 20;
  for (int ch = 0; ch < channels; ++ch) {
    int i = wrap(iStart + ch);
    const int y1 = ctx.ytop + ch * h + h / 2;
    for (int x = 0; x < width; ++x) {
      const int y = (ring[i] * amp) >> 15;
      const SDL_Rect bar = y < 0 ? SDL_Rect{ctx.xleft + x, y1 + y, 1, -y} : SDL_Rect{ctx.xleft + x, y1, 1, y};
      if (bar.h > 0) ff::SDL_RenderFillRect(renderer, &bar);
      i = wrap(i + channels);
    }
  }
  for (int ch = 1; ch < channels; ++ch) {
    const SDL_Rect line{ctx.xleft, ctx.ytop + ch * h, width, 1};
    ff::SDL_RenderFillRect(renderer, &line);
  }
  ff::SDL_RenderPresent(renderer);
}

} // namespace tovi
