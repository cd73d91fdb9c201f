#include "appcore/Snapshot.h"

#include <QBuffer>
#include <QByteArray>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "appcore/GlobalObject.h"
#include "appcore/Settings.h"

namespace tovi {

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// libjpeg reports a fatal error by calling error_exit, which must not return; the
// compressor jumps back to EncodeJpeg's set-up point instead of ending the process.
struct TJpegError {
  jpeg_error_mgr pub;
  std::jmp_buf back;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegError *>(info->err)->back, 1);
}

// The libjpeg part, kept free of objects with destructors so the jump back skips
// nothing that needs cleaning up. `out` and `outSize` get a buffer from malloc that the
// caller frees (also after a failure).
bool CompressRgb(const QImage &rgb, int quality, unsigned char **out, unsigned long *outSize) {
  jpeg_compress_struct cinfo;
  TJpegError err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JpegErrorExit;
  if (setjmp(err.back)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, outSize);
  cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
  cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

std::string EncodeBmp(const QImage &image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.convertToFormat(QImage::Format_RGB888).save(&buffer, "BMP")) return {};
  return bytes.toStdString();
}

// Writes all of `bytes` to `fd`; false on any short or failed write.
bool WriteAll(int fd, const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

} // namespace

TSnapshotOptions SnapshotOptionsFrom(const TAppSettings &settings) {
  TSnapshotOptions o;
  o.Folder = settings.SnapOutPutDir();
  o.FullSize = settings.SnapFullSize();
  o.SmallSize = settings.SnapSmallSize();
  o.Bmp = settings.SnapBmp();
  o.Jpg = settings.SnapJpg();
  o.JpgQuality = settings.JpgCmp();
  return o;
}

std::string PrepareSnapshotFolder(TAppSettings &settings, std::string &warning) {
  warning.clear();
  const std::string folder = settings.SnapOutPutDir();
  if (ForceDirectories(folder)) return folder;
  const std::string fallback = DefaultOutputDir();
  warning =
      "Cannot create output directory:" + folder + ".It will create default directory " + fallback + "!";
  ForceDirectories(fallback);
  settings.SetSnapOutPutDir(fallback);
  // The files go where the message says: the folder asked for cannot hold them.
  return fallback;
}

QImage PanelSizePicture(const QImage &full, QSize panel) {
  if (full.isNull() || panel.isEmpty()) return {};
  return full.scaled(panel, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

std::string EncodeJpeg(const QImage &image, int quality) {
  if (image.isNull()) return {};
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  const bool ok = CompressRgb(rgb, std::clamp(quality, 1, 100), &buffer, &size);
  std::string bytes;
  if (ok && buffer) bytes.assign(reinterpret_cast<const char *>(buffer), size);
  std::free(buffer);
  return bytes;
}

std::string WriteNewFile(const std::string &folder, const std::string &stem, const std::string &ext,
                         const std::string &bytes, std::string &error) {
  const std::string base = WithSlash(folder) + stem;
  for (int n = 1; n < 100000; ++n) {
    const std::string path = n == 1 ? base + "." + ext : base + "(" + std::to_string(n) + ")." + ext;
    // O_EXCL: a file that appeared since the last look is not replaced either.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      error = "Cannot create " + path + ": " + std::strerror(errno);
      return {};
    }
    const bool written = WriteAll(fd, bytes);
    const bool closed = ::close(fd) == 0;
    if (written && closed) return path;
    error = "Cannot write " + path + ": " + std::strerror(errno);
    ::unlink(path.c_str());
    return {};
  }
  error = "No free file name for " + base + "." + ext;
  return {};
}

TSnapshotResult WriteSnapshots(const QImage &full, const QImage &small, const TSnapshotOptions &options) {
  TSnapshotResult result;
  if (full.isNull()) return result;
  struct TItem {
    bool wanted;
    const QImage *image;
    const char *stem;
    bool jpeg;
  };
  const TItem items[] = {
      {options.FullSize && options.Bmp, &full, "Snapshot_full", false},
      {options.SmallSize && options.Bmp, &small, "Snapshot_small", false},
      {options.FullSize && options.Jpg, &full, "Snapshot_full", true},
      {options.SmallSize && options.Jpg, &small, "Snapshot_small", true},
  };
  for (const TItem &item : items) {
    if (!item.wanted) continue;
    const std::string bytes =
        item.jpeg ? EncodeJpeg(*item.image, options.JpgQuality) : EncodeBmp(*item.image);
    const std::string ext = item.jpeg ? "jpg" : "bmp";
    if (bytes.empty()) {
      if (result.Error.empty()) result.Error = std::string("Cannot encode ") + item.stem + "." + ext;
      continue;
    }
    std::string error;
    const std::string path = WriteNewFile(options.Folder, item.stem, ext, bytes, error);
    if (path.empty()) {
      if (result.Error.empty()) result.Error = error;
    } else {
      result.Written.push_back(path);
    }
  }
  return result;
}

} // namespace tovi
