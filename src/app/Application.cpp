#include "app/Application.h"

#include <QMessageBox>

#include <cstdio>

#include "appcore/GlobalObject.h"
#include "engine/FFmpegException.h"

namespace tovi {

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
  setApplicationName("Tovi Video Converter");
  setApplicationDisplayName("Tovi Video Converter");
  setDesktopFileName("tovi-converter");
}

bool TApplication::notify(QObject *receiver, QEvent *event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleApplicationError(std::current_exception());
    return false;
  }
}

void HandleApplicationError(std::exception_ptr error) {
  std::string message = "Unknown error";
  bool engine = false;
  try {
    std::rethrow_exception(error);
  } catch (const FFmpegException &e) {
    message = e.what();
    engine = true;
  } catch (const std::exception &e) {
    message = e.what();
  } catch (...) {
  }
  const std::string text = ApplicationErrorText(message);
  std::fprintf(stderr, "tovi-converter: %s\n", text.c_str());
  const QString title = QString::fromStdString(TGlobalObject().AppTitle());
  if (engine)
    QMessageBox::warning(nullptr, title, QString::fromStdString(text));
  else
    QMessageBox::critical(nullptr, title, QString::fromStdString(text));
}

} // namespace tovi
