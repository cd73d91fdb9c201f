// Hands the pictures a player shows to the GUI thread.
//
// The player runs its frame hook on its video decode thread with the bitmap's canvas
// locked; windows must not touch that bitmap. The relay copies it there into a QImage
// under its own lock, keeps only the newest copy, and posts one queued FrameReady to the
// GUI thread while a copy is waiting (a slow GUI thread gets the newest frame, not a
// backlog). Windows read the copy with LatestFrame in the GUI thread.
#pragma once

#include <QImage>
#include <QObject>

#include <cstdint>
#include <memory>

namespace tovi {

class TCustomPlayer;

class TPlayerFrameRelay final : public QObject {
  Q_OBJECT
public:
  explicit TPlayerFrameRelay(QObject *parent = nullptr);
  // Detaches: no FrameReady is posted after this returns.
  ~TPlayerFrameRelay() override;
  TPlayerFrameRelay(const TPlayerFrameRelay &) = delete;
  TPlayerFrameRelay &operator=(const TPlayerFrameRelay &) = delete;

  // GUI thread. Installs the relay as `player`'s OnHook and turns the player's Hook on;
  // the player must not be playing into another relay. Detach clears the handler and
  // turns Hook off; pictures copied before stay readable.
  void Attach(TCustomPlayer &player);
  void Detach();

  // GUI thread: a copy of the newest picture (null image before the first one) and its
  // time in microseconds (-1 before the first one).
  QImage LatestFrame(std::int64_t *pts = nullptr) const;
  // Forgets the kept picture (a new file opens, the dialog is stopped).
  void Clear();

signals:
  // GUI thread: a picture newer than the last FrameReady is waiting.
  void FrameReady();

private:
  struct TShared;
  std::shared_ptr<TShared> shared_; // also held by the hook, which may outlive Detach by one call
  TCustomPlayer *player_ = nullptr; // the attached player, not owned
};

} // namespace tovi
