#include "appcore/QueueJournal.h"

#include <algorithm>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "appcore/GlobalObject.h"

namespace tovi {
namespace {

constexpr const char *kTag = "tovi-queue-journal";
constexpr int kVersion = 1;

constexpr std::array<std::pair<TRowState, const char *>, 5> kStateNames{{
    {TRowState::Waiting, "waiting"},
    {TRowState::Queued, "queued"},
    {TRowState::Converting, "converting"},
    {TRowState::Done, "done"},
    {TRowState::Failed, "failed"},
}};

QString Q(const std::string &s) { return QString::fromStdString(s); }

const char *StateName(TRowState state) {
  for (const auto &[s, name] : kStateNames)
    if (s == state) return name;
  return "waiting";
}

std::optional<TRowState> StateFromName(const QString &name) {
  for (const auto &[s, text] : kStateNames)
    if (name == QLatin1String(text)) return s;
  return std::nullopt;
}

// Readers that keep the default when the key is missing or of another type.
void Read(const QJsonObject &o, const char *key, std::string &v) {
  if (const QJsonValue j = o.value(QLatin1String(key)); j.isString()) v = j.toString().toStdString();
}
void Read(const QJsonObject &o, const char *key, bool &v) {
  if (const QJsonValue j = o.value(QLatin1String(key)); j.isBool()) v = j.toBool();
}
template <typename T> void Read(const QJsonObject &o, const char *key, T &v) {
  if (const QJsonValue j = o.value(QLatin1String(key)); j.isDouble()) v = static_cast<T>(j.toInteger());
}

QJsonObject WatermarkToJson(const TWmRec &m) {
  QJsonObject font{{"name", Q(m.Font.Name)},
                   {"size", m.Font.Size},
                   {"bold", m.Font.Bold},
                   {"italic", m.Font.Italic},
                   {"underline", m.Font.Underline},
                   {"strikeOut", m.Font.StrikeOut},
                   {"color", static_cast<qint64>(m.Font.Color)}};
  return QJsonObject{{"text", Q(m.Text)},
                     {"font", font},
                     {"textLeft", m.TextLeft},
                     {"textTop", m.TextTop},
                     {"textWidth", m.TextWidth},
                     {"textHeight", m.TextHeight},
                     {"textOpacity", m.TextOpacity},
                     {"backgroundColor", static_cast<qint64>(m.BackgroundColor)},
                     {"opaqueBackground", m.OpaqueBackground},
                     {"pictureFile", Q(m.PictureFile)},
                     {"pictureLeft", m.PictureLeft},
                     {"pictureTop", m.PictureTop},
                     {"pictureWidth", m.PictureWidth},
                     {"pictureHeight", m.PictureHeight},
                     {"pictureOpacity", m.PictureOpacity},
                     {"kind", m.Kind},
                     {"start", m.Start},
                     {"end", m.End}};
}

TWmRec WatermarkFromJson(const QJsonObject &o) {
  TWmRec m;
  Read(o, "text", m.Text);
  const QJsonObject font = o.value("font").toObject();
  Read(font, "name", m.Font.Name);
  Read(font, "size", m.Font.Size);
  Read(font, "bold", m.Font.Bold);
  Read(font, "italic", m.Font.Italic);
  Read(font, "underline", m.Font.Underline);
  Read(font, "strikeOut", m.Font.StrikeOut);
  Read(font, "color", m.Font.Color);
  Read(o, "textLeft", m.TextLeft);
  Read(o, "textTop", m.TextTop);
  Read(o, "textWidth", m.TextWidth);
  Read(o, "textHeight", m.TextHeight);
  Read(o, "textOpacity", m.TextOpacity);
  Read(o, "backgroundColor", m.BackgroundColor);
  Read(o, "opaqueBackground", m.OpaqueBackground);
  Read(o, "pictureFile", m.PictureFile);
  Read(o, "pictureLeft", m.PictureLeft);
  Read(o, "pictureTop", m.PictureTop);
  Read(o, "pictureWidth", m.PictureWidth);
  Read(o, "pictureHeight", m.PictureHeight);
  Read(o, "pictureOpacity", m.PictureOpacity);
  Read(o, "kind", m.Kind);
  Read(o, "start", m.Start);
  Read(o, "end", m.End);
  return m;
}

QJsonObject RecordToJson(const TlvFilesRecord &r) {
  QJsonArray marks;
  for (const TWmRec &m : r.Watermarks)
    marks.append(WatermarkToJson(m));
  return QJsonObject{{"selectionIndex", r.SelectionIndex},
                     {"sourceFile", Q(r.SourceFile)},
                     {"destinationFile", Q(r.DestinationFile)},
                     {"durationSeconds", r.DurationSeconds},
                     {"trimStart", static_cast<qint64>(r.TrimStart)},
                     {"trimLength", static_cast<qint64>(r.TrimLength)},
                     {"zoomMode", Q(r.ZoomMode)},
                     {"cropTop", r.CropTop},
                     {"cropLeft", r.CropLeft},
                     {"cropBottom", r.CropBottom},
                     {"cropRight", r.CropRight},
                     {"cropTopShown", r.CropTopShown},
                     {"cropLeftShown", r.CropLeftShown},
                     {"cropBottomShown", r.CropBottomShown},
                     {"cropRightShown", r.CropRightShown},
                     {"watermarks", marks},
                     {"brightness", r.Brightness},
                     {"contrast", r.Contrast},
                     {"saturation", r.Saturation},
                     {"exposure", r.Exposure},
                     {"processText", r.ProcessText},
                     {"processImage", r.ProcessImage},
                     {"targetSize", Q(r.TargetSize)}};
}

TlvFilesRecord RecordFromJson(const QJsonObject &o) {
  TlvFilesRecord r;
  Read(o, "selectionIndex", r.SelectionIndex);
  Read(o, "sourceFile", r.SourceFile);
  Read(o, "destinationFile", r.DestinationFile);
  Read(o, "durationSeconds", r.DurationSeconds);
  Read(o, "trimStart", r.TrimStart);
  Read(o, "trimLength", r.TrimLength);
  Read(o, "zoomMode", r.ZoomMode);
  Read(o, "cropTop", r.CropTop);
  Read(o, "cropLeft", r.CropLeft);
  Read(o, "cropBottom", r.CropBottom);
  Read(o, "cropRight", r.CropRight);
  Read(o, "cropTopShown", r.CropTopShown);
  Read(o, "cropLeftShown", r.CropLeftShown);
  Read(o, "cropBottomShown", r.CropBottomShown);
  Read(o, "cropRightShown", r.CropRightShown);
  for (const QJsonValue &m : o.value("watermarks").toArray())
    r.Watermarks.push_back(WatermarkFromJson(m.toObject()));
  Read(o, "brightness", r.Brightness);
  Read(o, "contrast", r.Contrast);
  Read(o, "saturation", r.Saturation);
  Read(o, "exposure", r.Exposure);
  Read(o, "processText", r.ProcessText);
  Read(o, "processImage", r.ProcessImage);
  Read(o, "targetSize", r.TargetSize);
  return r;
}

std::string ErrnoText(const std::string &what, const std::string &path) {
  return what + " " + path + ": " + std::strerror(errno);
}

} // namespace

std::string QueueJournalFile() { return ConfigDir() + "queue-journal.json"; }

std::string SerializeQueue(const TQueueSnapshot &snapshot) {
  QJsonArray rows;
  for (const TFileRow &row : snapshot.Rows)
    rows.append(QJsonObject{{"caption", Q(row.Caption)},
                            {"checked", row.Checked},
                            {"state", StateName(row.State)},
                            {"record", RecordToJson(row.Record)}});
  const QJsonObject root{
      {"journal", kTag}, {"version", kVersion}, {"profileCode", snapshot.ProfileCode}, {"rows", rows}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

std::optional<TQueueSnapshot> ParseQueue(const std::string &text, std::string &problem) {
  // The writer escapes every control character, so a raw one is damage; the parser
  // would take it inside a string (a NUL in a file name would cut the name short).
  const auto damaged = std::find_if(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 && c != '\n' && c != '\r' && c != '\t';
  });
  if (damaged != text.end()) {
    problem =
        "not a whole journal (a control character at byte " + std::to_string(damaged - text.begin()) + ")";
    return std::nullopt;
  }
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  if (error.error != QJsonParseError::NoError) {
    problem = "not a whole journal (" + error.errorString().toStdString() + " at byte " +
              std::to_string(error.offset) + ")";
    return std::nullopt;
  }
  const QJsonObject root = doc.object();
  if (!doc.isObject() || root.value("journal").toString() != QLatin1String(kTag)) {
    problem = "not a queue journal";
    return std::nullopt;
  }
  if (root.value("version").toInt(-1) != kVersion) {
    problem = "journal version " + std::to_string(root.value("version").toInt(-1)) + " is not known";
    return std::nullopt;
  }
  if (!root.value("rows").isArray() || !root.value("profileCode").isDouble()) {
    problem = "the journal has no rows or no profile";
    return std::nullopt;
  }
  TQueueSnapshot snapshot;
  snapshot.ProfileCode = root.value("profileCode").toInt();
  for (const QJsonValue &value : root.value("rows").toArray()) {
    const QJsonObject o = value.toObject();
    TFileRow row;
    Read(o, "caption", row.Caption);
    const auto state = StateFromName(o.value("state").toString());
    if (row.Caption.empty() || !state || !o.value("record").isObject()) {
      problem = "row " + std::to_string(snapshot.Rows.size() + 1) + " is incomplete";
      return std::nullopt;
    }
    Read(o, "checked", row.Checked);
    row.State = *state;
    row.Record = RecordFromJson(o.value("record").toObject());
    snapshot.Rows.push_back(std::move(row));
  }
  return snapshot;
}

bool WriteFileAtomically(const std::string &path, const std::string &data, std::string &problem) {
  const std::filesystem::path target(path);
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    problem = ErrnoText("cannot create a file beside", path);
    return false;
  }
  bool ok = true;
  for (std::size_t done = 0; ok && done < data.size();) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      problem = ErrnoText("cannot write", temp);
      ok = false;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  // Synced before the rename: otherwise a power loss can leave the new name on an empty
  // or partial file.
  if (ok && ::fsync(fd) != 0) {
    problem = ErrnoText("cannot sync", temp);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    problem = ErrnoText("cannot close", temp);
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    problem = ErrnoText("cannot rename the new journal to", path);
    ok = false;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself lives in the folder; sync it so that the new name survives too.
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

void PrepareResume(std::vector<TFileRow> &rows) {
  for (TFileRow &row : rows) {
    row.ReplaceOutput.clear();
    if (row.State == TRowState::Done) {
      row.Progress = "100%";
      continue;
    }
    // Only a name the interrupted run chose is ours to replace: a waiting row's name is
    // a guess made when the file was added, and another file may have taken it since.
    const bool runChoseName = row.State == TRowState::Queued || row.State == TRowState::Converting ||
                              row.State == TRowState::Failed;
    std::error_code ec;
    if (runChoseName && !row.Record.DestinationFile.empty() &&
        std::filesystem::is_regular_file(row.Record.DestinationFile, ec))
      row.ReplaceOutput = row.Record.DestinationFile;
    row.State = TRowState::Waiting;
    row.Progress.clear();
  }
}

TQueueJournal::TQueueJournal(std::string path, int debounceMs) : path_(std::move(path)) {
  timer_.setSingleShot(true);
  timer_.setInterval(debounceMs);
  // GUI thread: the timer lives in the thread that made the journal.
  QObject::connect(&timer_, &QTimer::timeout, [this] { Flush(); });
}

std::optional<TQueueSnapshot> TQueueJournal::LeftOver(std::string &problem) const {
  problem.clear();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path_, ec)) return std::nullopt;
  QFile file(Q(path_));
  if (!file.open(QIODevice::ReadOnly)) {
    problem = "cannot read " + path_ + ": " + file.errorString().toStdString();
    return std::nullopt;
  }
  auto snapshot = ParseQueue(file.readAll().toStdString(), problem);
  if (!snapshot) {
    problem = path_ + ": " + problem;
    return std::nullopt;
  }
  if (snapshot->Rows.empty()) return std::nullopt;
  return snapshot;
}

void TQueueJournal::Changed(const TQueueSnapshot &snapshot) {
  pending_ = SerializeQueue(snapshot);
  // Not restarted by later edits: a steady stream of them is still written once a period.
  if (!timer_.isActive()) timer_.start();
}

void TQueueJournal::StateChanged(const TQueueSnapshot &snapshot) {
  timer_.stop();
  pending_.reset();
  Write(SerializeQueue(snapshot));
}

void TQueueJournal::Flush() {
  timer_.stop();
  if (!pending_) return;
  const std::string text = std::move(*pending_);
  pending_.reset();
  Write(text);
}

void TQueueJournal::Clear() {
  timer_.stop();
  pending_.reset();
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

void TQueueJournal::Write(const std::string &text) {
  ++writes_;
  problem_.clear();
  // A journal that cannot be written costs the list after a crash, not the running work.
  if (!WriteFileAtomically(path_, text, problem_))
    std::fprintf(stderr, "tovi: the file list is not kept for a restart: %s\n", problem_.c_str());
}

} // namespace tovi
