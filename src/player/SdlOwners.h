// RAII owners of the SDL objects the player creates; each releases through the
// entry-point table. Windows, renderers and textures are released on the thread that
// renders (the play thread), or after it has ended.
#pragma once

#include <memory>

#include "media/EntryPoints.h"
#include "media/RGBHolder.h"

namespace tovi {

struct SdlWindowDestroy {
  void operator()(SDL_Window *w) const noexcept { ff::SDL_DestroyWindow(w); }
};
struct SdlRendererDestroy {
  void operator()(SDL_Renderer *r) const noexcept { ff::SDL_DestroyRenderer(r); }
};
struct SdlTextureDestroy {
  void operator()(SDL_Texture *t) const noexcept { ff::SDL_DestroyTexture(t); }
};

using SdlWindowPtr = std::unique_ptr<SDL_Window, SdlWindowDestroy>;
using SdlRendererPtr = std::unique_ptr<SDL_Renderer, SdlRendererDestroy>;
using SdlTexturePtr = std::unique_ptr<SDL_Texture, SdlTextureDestroy>;

// The display surface: the window (ours or the host's, wrapped), its renderer and the
// streaming texture the pictures are uploaded into. Declared so that the texture goes
// before the renderer and the renderer before the window.
//
// A renderer that draws with the GPU gets the picture as it is (a YUV texture of the
// picture's size; the GPU converts and scales for free). A software renderer would copy
// the planes, convert the whole picture to RGB and then scale it into the window: three
// passes over the picture at its own size. For it the scaler converts and scales the
// picture once, straight into an RGB texture of the size it is drawn at, which the
// renderer then copies 1:1.
struct TDisplaySurface {
  SdlWindowPtr window;
  SdlRendererPtr renderer;
  SdlTexturePtr texture;
  int textureWidth = 0, textureHeight = 0; // as created
  int width = 0, height = 0;
  // ---- software renderer only ----
  bool software = false;
  Uint32 rgbFormat = SDL_PIXELFORMAT_RGB888; // the texture's format
  AVPixelFormat rgbPixFmt = AV_PIX_FMT_NONE; // the same for the scaler
  int drawnWidth = 0, drawnHeight = 0;       // the picture in the texture (top left)
  TScalerCache scaler;

  explicit operator bool() const { return static_cast<bool>(renderer); }
  void reset() {
    texture.reset();
    renderer.reset();
    window.reset();
    scaler.reset();
    textureWidth = textureHeight = width = height = drawnWidth = drawnHeight = 0;
    software = false;
  }
};

} // namespace tovi
