// Opening and probing a file: the input is written to a file whose name holds a ':',
// so the container library reads it through our own IO (FormatIO.h), then every query
// of the probe runs over it.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "converter/AVProbe.h"

using namespace tovi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::LoadLibrariesOnce();
  static const std::string path = (fuzz::ScratchDir() / "probe:input").string();
  fuzz::WriteFile(path, data, size);

  TAVProbe probe;
  if (!probe.LoadFile(path)) {
    if (probe.LastErrorText().empty()) fuzz::Fail("a refused file comes without a reason");
    return 0;
  }
  if (!probe.FormatContext() || !probe.OwnsContext()) fuzz::Fail("a loaded file has no context of its own");
  if (probe.FormatContext()->pb && !TUnicodeIO::Owns(probe.FormatContext()->pb))
    fuzz::Fail("the file was not read through our IO");
  if (probe.FileName() != path) fuzz::Fail("the probe names another file: " + probe.FileName());

  TFileStreamInfo fileInfo;
  (void)probe.GetFileStreamInfo(fileInfo);
  for (int i = -1; i < probe.StreamCount() + 1; ++i) {
    TAudioStreamInfo audio;
    TVideoStreamInfo video;
    (void)probe.IsAudioStream(i);
    (void)probe.IsVideoStream(i);
    (void)probe.GetAudioStreamInfo(i, audio);
    (void)probe.GetVideoStreamInfo(i, video);
  }
  if (probe.FileInfoText().empty()) fuzz::Fail("a loaded file has no description");
  probe.CloseFile();
  if (probe.StreamCount() != -1) fuzz::Fail("a closed probe still counts streams");
  return 0;
}
