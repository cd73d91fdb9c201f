#include "app/DesktopActions.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace tovi {

void TDesktopActions::OpenOutputFolder(const std::string &folder) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
}

void TDesktopActions::ShutDown() {
  QDBusInterface logind("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                        QDBusConnection::systemBus());
  // interactive = false: no authentication dialog; polkit decides.
  const QDBusMessage reply = logind.call("PowerOff", false);
  if (reply.type() == QDBusMessage::ErrorMessage)
    QMessageBox::warning(nullptr, "Warning", "The computer could not be shut down: " + reply.errorMessage());
}

} // namespace tovi
