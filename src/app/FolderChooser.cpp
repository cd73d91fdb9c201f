#include "app/FolderChooser.h"

#include <QFileDialog>
#include <QMessageBox>

#include <sys/statvfs.h>

namespace tovi {

namespace {

// A folder on a read-only mount: no output goes there.
bool OnReadOnlyMount(const std::string &folder) {
  struct statvfs info {};
  return ::statvfs(folder.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY) != 0;
}

} // namespace

std::string ChooseWritableFolder(QWidget *parent, const QString &start, const std::string &appTitle) {
  QFileDialog chooser(parent, "Please select an output directory:", start);
  chooser.setWindowTitle("Browse");
  chooser.setFileMode(QFileDialog::Directory);
  chooser.setOption(QFileDialog::ShowDirsOnly, true);
  while (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
    const std::string chosen = chooser.selectedFiles().first().toStdString();
    if (!OnReadOnlyMount(chosen)) return chosen;
    QMessageBox::information(parent, QString::fromStdString(appTitle),
                             "Output folder cannot be located in CD-ROM.Please select another folder.");
  }
  return {};
}

} // namespace tovi
