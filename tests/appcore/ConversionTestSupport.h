// Running conversions through the queue and the converter component in a test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "AppcoreTestSupport.h"
#include "appcore/ConversionQueue.h"
#include "converter/Converter.h"

namespace tovi::test {

struct ConversionRun {
  std::vector<TTerminateInfo> notices; // per task, in arrival order
  bool allEnded = false;
};

// Starts the rows with `options` and runs every task in the calling thread.
inline ConversionRun RunConversion(TFFConverter &converter, TConversionQueue &queue,
                                   std::vector<TFileRow> &rows, const TStartOptions &options,
                                   ICompletionActions *actions = nullptr, bool openFolder = false,
                                   bool shutDown = false) {
  ConversionRun run;
  converter.SetOnCustomHook([&](TCustomConverter &, PHookInfo info) { queue.HandleCustomHook(*info, rows); });
  converter.SetOnProgress([&](TCustomConverter &, PProgressInfo info) { queue.HandleProgress(*info, rows); });
  converter.SetOnTerminate([&](TCustomConverter &, const TTerminateInfo &info) {
    if (info.TaskIndex < 0) {
      run.allEnded = true;
      return;
    }
    run.notices.push_back(info);
    queue.HandleTerminate(info, rows, openFolder, shutDown, actions);
  });
  if (!queue.StartConversion(rows, options)) return run;
  converter.SetPreview(false);
  converter.StartTask(0);
  return run;
}

// One settings folder and one converter with its libraries loaded, shared by every test
// of a suite: conversion suites pay for the loading once.
template <class Base = ::testing::Test>
class SharedConverterSuite : public Base {
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

inline TFileRow RowFor(const std::string &file) {
  TFileRow row;
  row.Caption = file;
  row.Record.SourceFile = file;
  return row;
}

} // namespace tovi::test
