// A black panel the player draws its picture into. The player gets the X11 id of a
// native child window that covers the panel; Qt neither paints nor clears that window,
// so the picture does not flicker. While nothing plays the child is hidden and the panel
// shows plain black.
//
// Embedding needs an X11 window: under a Wayland session the program runs on XWayland
// (the entry point asks for the xcb platform).
#pragma once

#include <QWidget>

#include <cstdint>

namespace tovi {

class TPlayerHost final : public QWidget {
  Q_OBJECT
public:
  explicit TPlayerHost(QWidget *parent = nullptr);

  // Shows the picture window and returns its native id for the player's Open.
  std::uintptr_t Handle();
  // After the player has stopped: hides the picture window, so the panel is black again.
  void ShowIdle();
  // The native picture window (for grabbing what the player drew in tests and
  // screenshots).
  QWidget *Surface() const { return surface_; }

protected:
  void resizeEvent(QResizeEvent *event) override;

private:
  QWidget *surface_; // child, owned by Qt's parent chain
};

} // namespace tovi
