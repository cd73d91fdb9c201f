// A "vhook" plug-in for the engine tests. Configure keeps its arguments; Process fills
// the first plane with the number given as the first argument (0 without one) and
// remembers the pts; Release counts. Built twice: with and without "Configure".
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/VideoHookPlugins.h"

namespace {

struct Context {
  int Value = 0;
};

std::vector<std::string> gArgs;
int gReleased = 0;
int gProcessed = 0;
std::int64_t gLastPts = -1;

} // namespace

extern "C" {

#ifndef TOVI_VHOOK_NO_CONFIGURE
__attribute__((visibility("default"))) int Configure(void **context, int argc, char *argv[]) {
  gArgs.assign(argv, argv + argc);
  if (argc > 1 && std::strcmp(argv[1], "fail") == 0) return 1;
  auto *c = new Context;
  c->Value = argc > 1 ? std::atoi(argv[1]) : 0;
  *context = c;
  return 0;
}
#endif

__attribute__((visibility("default"))) void Process(void *context, tovi::TVhookPicture *picture, int,
                                                    int width, int height, std::int64_t pts) {
  const int value = context ? static_cast<Context *>(context)->Value : 0;
  for (int y = 0; y < height; ++y)
    std::memset(picture->data[0] + y * picture->linesize[0], value, width);
  gLastPts = pts;
  ++gProcessed;
}

__attribute__((visibility("default"))) void Release(void *context) {
  delete static_cast<Context *>(context);
  ++gReleased;
}

// Read back by the tests through dlsym.
__attribute__((visibility("default"))) int TestReleased() { return gReleased; }
__attribute__((visibility("default"))) int TestProcessed() { return gProcessed; }
__attribute__((visibility("default"))) std::int64_t TestLastPts() { return gLastPts; }
__attribute__((visibility("default"))) int TestArgCount() { return static_cast<int>(gArgs.size()); }
__attribute__((visibility("default"))) const char *TestArg(int i) {
  return gArgs.at(static_cast<std::size_t>(i)).c_str();
}
}
