// Running conversions through the queue and the converter component in a test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "AppcoreTestSupport.h"
#include "appcore/ConversionQueue.h"
#include "appcore/GlobalObject.h"
#include "appcore/WatermarkRenderer.h"
#include "converter/Converter.h"

namespace tovi::test {

struct ConversionRun {
  std::vector<TTerminateInfo> notices; // per task, in arrival order
  bool allEnded = false;
};

// Starts the rows with `options` and runs every task in the calling thread.
// Fills `run` (owned by the caller) with what the converter reports. The handlers stay
// set after this returns, so a later StartTask of the same converter (a corrective
// round) reports into the same `run`, `queue` and `rows`: all three must outlive it.
inline void RunConversionInto(ConversionRun &run, TFFConverter &converter, TConversionQueue &queue,
                              std::vector<TFileRow> &rows, const TStartOptions &options,
                              ICompletionActions *actions = nullptr, bool openFolder = false,
                              bool shutDown = false) {
  converter.SetOnCustomHook([&](TCustomConverter &, PHookInfo info) { queue.HandleCustomHook(*info, rows); });
  converter.SetOnProgress([&](TCustomConverter &, PProgressInfo info) { queue.HandleProgress(*info, rows); });
  converter.SetOnTerminate(
      [&run, &queue, &rows, actions, openFolder, shutDown](TCustomConverter &, const TTerminateInfo &info) {
        if (info.TaskIndex < 0) {
          run.allEnded = true;
          return;
        }
        run.notices.push_back(info);
        queue.HandleTerminate(info, rows, openFolder, shutDown, actions);
      });
  if (!queue.StartConversion(rows, options)) return;
  converter.SetPreview(false);
  converter.StartTask(0);
}

// One conversion run to its end (StartTask returns when every task has ended).
inline ConversionRun RunConversion(TFFConverter &converter, TConversionQueue &queue,
                                   std::vector<TFileRow> &rows, const TStartOptions &options,
                                   ICompletionActions *actions = nullptr, bool openFolder = false,
                                   bool shutDown = false) {
  ConversionRun run;
  RunConversionInto(run, converter, queue, rows, options, actions, openFolder, shutDown);
  // The handlers hold this `run`: none may report into it once it is returned.
  converter.SetOnTerminate(nullptr);
  return run;
}

// One settings folder and one converter with its libraries loaded, shared by every test
// of a suite: conversion suites pay for the loading once.
template <class Base = ::testing::Test> class SharedConverterSuite : public Base {
protected:
  static void SetUpTestSuite() {
    config_ = std::make_unique<ConfigFolder>();
    converter_ = std::make_unique<TFFConverter>();
    ASSERT_TRUE(converter_->LoadLibraries("")) << converter_->LastErrorText();
  }
  static void TearDownTestSuite() {
    converter_.reset();
    config_.reset();
  }

  inline static std::unique_ptr<ConfigFolder> config_;
  inline static std::unique_ptr<TFFConverter> converter_;
};

// A test that converts rows through its own converter and queue with the H.264/AAC MKV
// profile (2200, which keeps the source's size), collecting the queue's warnings.
class QueueConversionTest : public ::testing::Test {
protected:
  static constexpr int kMkv = 2200;

  static void SetUpTestSuite() { EnsureGuiApplication(); }
  void SetUp() override {
    ASSERT_TRUE(converter_.LoadLibraries("")) << converter_.LastErrorText();
    options_.ProfileCode = kMkv;
    options_.OutDir = (config_.Path() / "out").string();
    options_.Warn = [this](const std::string &title, const std::string &message) {
      warnings_.push_back(title + ": " + message);
    };
  }
  void TearDown() override { converter_.ClearTasks(); }

  ConfigFolder config_;
  TGlobalObject global_;
  TFFConverter converter_;
  TConversionQueue queue_{converter_, global_};
  TStartOptions options_;
  std::vector<std::string> warnings_;
};

inline TFileRow RowFor(const std::string &file) {
  TFileRow row;
  row.Caption = file;
  row.Record.SourceFile = file;
  return row;
}

} // namespace tovi::test
