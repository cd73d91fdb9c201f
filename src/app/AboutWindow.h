// The About window: program title, version and the project's web address.
#pragma once

#include <QDialog>

namespace tovi {

class TGlobalObject;

class TAboutWindow final : public QDialog {
public:
  TAboutWindow(const TGlobalObject &global, QWidget *parent);
};

} // namespace tovi
