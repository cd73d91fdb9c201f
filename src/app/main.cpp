// tovi-converter: the desktop program.
//   tovi-converter [--profile CODE|NAME] [--out DIR] [--restore] [--start] [--quit-when-done] FILE...
#include <QFileInfo>
#include <QSplashScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/Application.h"
#include "app/DesktopActions.h"
#include "app/MainWindow.h"
#include "app/StartupPicture.h"
#include "app/widgets/ProfileTreeBox.h"
#include "appcore/AppCommandLine.h"
#include "appcore/GlobalObject.h"
#include "media/MainThread.h"
#include "ui/Previewer.h"
#include "ui/QtMainThreadDispatcher.h"

int main(int argc, char **argv) {
  // The preview player draws into X11 windows of ours; a Wayland session runs the
  // program on XWayland so that works. A platform the user chose stays.
  if (!std::getenv("QT_QPA_PLATFORM") && std::getenv("WAYLAND_DISPLAY"))
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  tovi::TApplication app(argc, argv);
  std::vector<std::string> args;
  for (const QString &a : app.arguments().mid(1))
    args.push_back(a.toStdString());
  const tovi::TAppCommandLine cl = tovi::ParseAppCommandLine(args);
  if (cl.Help) {
    std::printf("%s", tovi::kAppUsage);
    return 0;
  }
  if (!cl.Error.empty()) {
    std::fprintf(stderr, "tovi-converter: %s\n%s", cl.Error.c_str(), tovi::kAppUsage);
    return 2;
  }

  QSplashScreen splash(tovi::StartupPicture());
  splash.show();
  app.processEvents();

  // Converter events come to the GUI thread through this dispatcher; engines preview
  // in floating windows of the GUI thread.
  tovi::SetMainThreadDispatcher(std::make_shared<tovi::QtMainThreadDispatcher>());
  tovi::InstallQtPreviewer();

  tovi::TDesktopActions actions;
  tovi::TMainWindow window(actions);
  window.show();
  splash.finish(&window);

  // A list a crash left is offered before anything else changes the list; an unattended
  // run (--quit-when-done) is not stopped by a question nobody answers.
  if (cl.Restore)
    window.OfferRestore([](const std::string &) { return true; });
  else if (!cl.QuitWhenDone)
    window.OfferRestore();

  if (cl.ProfileCode) window.ProfileTree()->ChooseProfile(*cl.ProfileCode);
  if (cl.OutDir) {
    // A folder named on the command line is made when missing, as scripts expect of
    // --out; relative to the folder the program was started in.
    const std::string folder = QFileInfo(QString::fromStdString(*cl.OutDir)).absoluteFilePath().toStdString();
    tovi::ForceDirectories(folder);
    window.SetOutputFolder(folder);
  }
  if (!cl.Files.empty()) window.AddFiles(cl.Files);
  window.SetQuitWhenDone(cl.QuitWhenDone);
  if (cl.Start)
    QTimer::singleShot(0, &window, [&window, &cl] {
      if (!window.StartConversion() && cl.QuitWhenDone) QCoreApplication::exit(1);
    });
  const int status = app.exec();
  tovi::SetMainThreadDispatcher(nullptr);
  return status;
}
