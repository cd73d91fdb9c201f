// RAII owners of the SDL objects the player creates; each releases through the
// entry-point table. Windows, renderers and textures are released on the thread that
// renders (the play thread), or after it has ended.
#pragma once

#include <memory>

#include "media/EntryPoints.h"

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
struct TDisplaySurface {
  SdlWindowPtr window;
  SdlRendererPtr renderer;
  SdlTexturePtr texture;
  int textureWidth = 0, textureHeight = 0;
  int width = 0, height = 0;

  explicit operator bool() const { return static_cast<bool>(renderer); }
  void reset() {
    texture.reset();
    renderer.reset();
    window.reset();
    textureWidth = textureHeight = width = height = 0;
  }
};

} // namespace tovi
