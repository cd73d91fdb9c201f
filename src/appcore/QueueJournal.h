// The file list kept on disk while the program runs, so that a crash or a power loss
// does not lose it: every row's edits and checked state, where each row stands in the
// conversions (waiting, queued, converting, done, failed) and its output name, and the
// chosen profile. The next start offers a list left by a run that did not end normally;
// Start then converts only what was not finished, the interrupted output again under
// its own name.
//
// The journal is a JSON file in the config folder, replaced as a whole through a
// temporary file (written, flushed to the disk, renamed over the old one), so a reader
// sees the old list or the new one, never a mix. A journal that cannot be read (torn,
// edited, from an unknown version) is ignored with a reason, never trusted in part.
#pragma once

#include <QTimer>

#include <optional>
#include <string>
#include <vector>

#include "appcore/ConversionQueue.h"

namespace tovi {

// What the journal holds.
struct TQueueSnapshot {
  int ProfileCode = 0; // the profile the rows convert with
  std::vector<TFileRow> Rows;
};

// The journal's file in the config folder.
std::string QueueJournalFile();

// The journal's text for `snapshot`.
std::string SerializeQueue(const TQueueSnapshot &snapshot);
// The snapshot in `text`; nullopt with the reason in `problem` when the text is not a
// whole journal of this program (torn, corrupt, wrong version, a row without a source).
// Fields that are missing keep their defaults, so a journal written before a field was
// added still reads.
std::optional<TQueueSnapshot> ParseQueue(const std::string &text, std::string &problem);

// Replaces `path` with `data` so that a crash at any moment leaves either the old file or
// the new one: a temporary file in the same folder is written, synced and renamed over
// `path`, then the folder is synced. False with the reason in `problem`; the old file is
// then untouched and the temporary file removed.
bool WriteFileAtomically(const std::string &path, const std::string &data, std::string &problem);

// A left-over list made ready to resume. Rows that were done stay done ("100%"). Every
// other row waits; one the interrupted run had already given an output name to (queued,
// converting or failed) and whose output exists on disk keeps that name in
// ReplaceOutput, so the next start converts it again over the half-written file instead
// of adding "name(2)".
void PrepareResume(std::vector<TFileRow> &rows);

// The journal of the running program. Lives in the GUI thread (its timer does).
class TQueueJournal {
public:
  // `debounceMs`: how long edits are gathered before they are written.
  explicit TQueueJournal(std::string path, int debounceMs = 500);
  TQueueJournal(const TQueueJournal &) = delete;
  TQueueJournal &operator=(const TQueueJournal &) = delete;

  const std::string &Path() const { return path_; }

  // The list a run that did not end normally left; nullopt when there is none, when it
  // holds no rows, or when it cannot be read (the reason is then in `problem`).
  std::optional<TQueueSnapshot> LeftOver(std::string &problem) const;

  // An edit: written within the debounce time, together with any later edits (a slider
  // dragged across its range writes a few times, not once per step).
  void Changed(const TQueueSnapshot &snapshot);
  // A row started or ended: written at once (a crash a moment later must find it).
  void StateChanged(const TQueueSnapshot &snapshot);
  // Writes a pending edit now.
  void Flush();
  // A normal end: the journal is removed and nothing pending is written.
  void Clear();

  // Writes made so far, and the reason the last write failed ("" when it worked).
  int WriteCount() const { return writes_; }
  const std::string &LastProblem() const { return problem_; }

private:
  void Write(const std::string &text);

  std::string path_;
  QTimer timer_; // fires once per debounce period while an edit is pending
  std::optional<std::string> pending_;
  int writes_ = 0;
  std::string problem_;
};

} // namespace tovi
