// The snapshot writer without a window: JPEG quality as the settings give it, the next
// free name instead of a replaced file, and the folder rule.
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "appcore/AppcoreTestSupport.h"
#include "appcore/Settings.h"
#include "appcore/Snapshot.h"
#include "fixtures/Pattern.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;

namespace {

QImage Pattern(int w, int h, int frame) {
  QImage image(w, h, QImage::Format_RGB888);
  fixtures::DrawPatternRGB(image.bits(), static_cast<int>(image.bytesPerLine()), w, h, frame);
  return image;
}

double MeanAbsDifference(const QImage &a, const QImage &b) {
  const QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
  double sum = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int i = 0; i < x.width() * 3; ++i)
      sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
  return sum / (x.width() * 3.0 * x.height());
}

TEST(Snapshot, JpegQualityTradesSizeForFidelityAndTheFrameStaysReadable) {
  const QImage source = Pattern(320, 240, 1234);
  std::size_t lastSize = 0;
  double lastError = 1e9;
  for (int quality : {1, 30, 95}) {
    const std::string bytes = EncodeJpeg(source, quality);
    ASSERT_FALSE(bytes.empty()) << quality;
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(reinterpret_cast<const uchar *>(bytes.data()),
                                     static_cast<int>(bytes.size()), "JPG"));
    ASSERT_EQ(decoded.size(), source.size());
    const double error = MeanAbsDifference(decoded, source);
    EXPECT_GT(bytes.size(), lastSize) << "quality " << quality;
    EXPECT_LT(error, lastError) << "quality " << quality;
    lastSize = bytes.size();
    lastError = error;
    if (quality >= 30) {
      const QImage rgb = decoded.convertToFormat(QImage::Format_RGB888);
      EXPECT_EQ(fixtures::ReadFrameNumberFromRGB(rgb.constBits(), static_cast<int>(rgb.bytesPerLine()),
                                                 rgb.width(), rgb.height()),
                1234);
    }
  }
  EXPECT_LT(lastError, 3.0);
  EXPECT_TRUE(EncodeJpeg(QImage(), 30).empty());
}

TEST(Snapshot, ExistingNamesAreKeptAndTheNextFreeNumberTaken) {
  TempDir dir;
  // A stranger's file with the second name: it stays as it is, the third name is taken.
  { std::ofstream(dir.file("Snapshot_full(2).jpg")) << "keep me"; }
  TSnapshotOptions options;
  options.Folder = dir.path().string();
  options.Bmp = false;
  const QImage full = Pattern(176, 144, 5);
  const QImage small = PanelSizePicture(full, QSize(370, 240));
  EXPECT_EQ(small.size(), QSize(370, 240));

  const TSnapshotResult first = WriteSnapshots(full, small, options);
  EXPECT_TRUE(first.Error.empty()) << first.Error;
  ASSERT_EQ(first.Written.size(), 2u);
  EXPECT_EQ(first.Written[0], dir.file("Snapshot_full.jpg"));
  EXPECT_EQ(first.Written[1], dir.file("Snapshot_small.jpg"));
  const TSnapshotResult second = WriteSnapshots(full, small, options);
  ASSERT_EQ(second.Written.size(), 2u);
  EXPECT_EQ(second.Written[0], dir.file("Snapshot_full(3).jpg"));
  EXPECT_EQ(second.Written[1], dir.file("Snapshot_small(2).jpg"));
  std::string kept;
  std::getline(std::ifstream(dir.file("Snapshot_full(2).jpg")), kept);
  EXPECT_EQ(kept, "keep me");
  EXPECT_EQ(QImage(QString::fromStdString(second.Written[1])).size(), QSize(370, 240));

  // Nothing to save, nothing written.
  EXPECT_TRUE(WriteSnapshots(QImage(), QImage(), options).Written.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 5);
}

TEST(Snapshot, AFolderThatCannotBeMadeFallsBackToTheDefaultWithAWarning) {
  ConfigFolder config;
  TempDir dir;
  const std::string fakeHome = dir.file("home");
  const char *oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  ::setenv("HOME", fakeHome.c_str(), 1);
  TAppSettings settings(config.SettingsFile());

  std::string warning;
  settings.SetSnapOutPutDir(dir.file("new/deeper"));
  EXPECT_EQ(PrepareSnapshotFolder(settings, warning), dir.file("new/deeper"));
  EXPECT_TRUE(warning.empty());
  EXPECT_TRUE(fs::is_directory(dir.file("new/deeper")));

  // Under a plain file no folder can be made.
  { std::ofstream(dir.file("plain")) << "x"; }
  const std::string bad = dir.file("plain/snaps");
  settings.SetSnapOutPutDir(bad);
  const std::string used = PrepareSnapshotFolder(settings, warning);
  EXPECT_EQ(used, fakeHome + "/videoconverter");
  EXPECT_EQ(warning,
            "Cannot create output directory:" + bad + ".It will create default directory " + used + "!");
  EXPECT_TRUE(fs::is_directory(used));
  EXPECT_EQ(settings.SnapOutPutDir(), used);
  if (oldHome)
    ::setenv("HOME", savedHome.c_str(), 1);
  else
    ::unsetenv("HOME");
}

} // namespace
