#include "appcore/ProgressTexts.h"

#include <cmath>

#include "appcore/ConversionQueue.h"

namespace tovi {

TProgressTexts ProgressTexts(const TProgressInfo &info, int taskCount, const std::string &caption) {
  TProgressTexts t;
  t.Percent = TConversionQueue::ProgressPercent(info);
  t.Time = std::to_string(info.CurrentDuration / 1000000) + " Second";
  t.Length = info.TotalDuration > 0 ? std::to_string(info.TotalDuration / 1000000) + " Second" : "unknown";
  t.Size = std::to_string(info.CurrentSize / 1000) + " kb";
  t.Position = "[" + std::to_string(info.TaskIndex + 1) + "/" + std::to_string(taskCount) + "]";
  t.File = ShortFileLabel(caption);
  return t;
}

std::string ShortFileLabel(const std::string &caption) {
  if (caption.size() < 51) return caption;
  const auto slash = caption.find_last_of('/');
  const auto dot = caption.find_last_of('.');
  const std::string ext = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                              ? caption.substr(dot)
                              : std::string();
  return caption.substr(0, 44) + ".." + ext;
}

TPreviewRect FitPreviewRect(int targetW, int targetH, int sourceW, int sourceH) {
  if (targetW <= 0 || targetH <= 0 || sourceW <= 0 || sourceH <= 0) return {};
  const double a = static_cast<double>(sourceW) / targetW;
  const double b = static_cast<double>(sourceH) / targetH;
  TPreviewRect r{0, 0, targetW, targetH};
  // std::nearbyint in the default rounding mode takes halves to the even neighbour.
  if (a >= b) {
    const int m = static_cast<int>(std::nearbyint((targetH - sourceH / a) / 2));
    r.Top += m;
    r.Bottom -= m;
  } else {
    const int m = static_cast<int>(std::nearbyint((targetW - sourceW / b) / 2));
    r.Left += m;
    r.Right -= m;
  }
  return r;
}

} // namespace tovi
