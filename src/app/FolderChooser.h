// The folder chooser of the output and snapshot folders: the "Browse" window, which
// refuses folders on read-only mounts (a CD or DVD, a read-only image) and asks again.
#pragma once

#include <QString>

#include <string>

class QWidget;

namespace tovi {

// Shows the chooser starting at `start`; the chosen folder, empty when cancelled.
// `appTitle` is the title of the message that refuses a read-only folder.
std::string ChooseWritableFolder(QWidget *parent, const QString &start, const std::string &appTitle);

} // namespace tovi
