#include "app/AboutWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "appcore/GlobalObject.h"

namespace tovi {

TAboutWindow::TAboutWindow(const TGlobalObject &global, QWidget *parent) : QDialog(parent) {
  setWindowTitle("About");
  setModal(true);
  auto *layout = new QVBoxLayout(this);
  auto *title = new QLabel(QString::fromStdString(global.AppTitle() + global.VersionText()), this);
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  title->setFont(bold);
  layout->addWidget(title);
  layout->addWidget(
      new QLabel("Tovi Video Converter: video and audio conversion for players, phones and consoles.", this));
  const QString site = QString::fromStdString(global.WebSite());
  auto *link = new QLabel(QString("<a href=\"%1\">%1</a>").arg(site.toHtmlEscaped()), this);
  link->setOpenExternalLinks(true);
  layout->addWidget(link);
  auto *ok = new QPushButton("&Ok", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignRight);
}

} // namespace tovi
