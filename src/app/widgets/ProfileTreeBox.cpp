#include "app/widgets/ProfileTreeBox.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>

#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileDisplay.h"
#include "appcore/Settings.h"

namespace tovi {
namespace {

constexpr int kCodeRole = Qt::UserRole;
constexpr int kIsCategoryRole = Qt::UserRole + 1;

// A small badge per category: a coloured rounded square with the category's initial.
QIcon CategoryIcon(int index, const QString &name) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor::fromHsv((index * 47) % 360, 150, 200));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
  QFont font = p.font();
  font.setBold(true);
  font.setPixelSize(18);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, name.left(1));
  return QIcon(pixmap);
}

} // namespace

TProfileTreeBox::TProfileTreeBox(std::string settingsFile, QWidget *parent)
    : QWidget(parent), settingsFile_(std::move(settingsFile)) {
  auto *layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  field_ = new QLineEdit(this);
  field_->setReadOnly(true);
  field_->setObjectName("profileField");
  field_->installEventFilter(this);
  arrow_ = new QToolButton(this);
  arrow_->setArrowType(Qt::UpArrow);
  arrow_->setObjectName("profileArrow");
  layout->addWidget(field_, 1);
  layout->addWidget(arrow_);
  connect(arrow_, &QToolButton::clicked, this, [this] { list_->isVisible() ? HideList() : ShowList(); });

  list_ = new QTreeWidget(this);
  list_->setWindowFlags(Qt::Popup);
  list_->setObjectName("profileList");
  list_->setHeaderHidden(true);
  list_->setColumnCount(1);
  list_->setMouseTracking(true);
  list_->setExpandsOnDoubleClick(false); // a click toggles a category already
  list_->setUniformRowHeights(true);
  list_->header()->setStretchLastSection(true);
  connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) { OnItemClicked(item); });
  connect(list_, &QTreeWidget::itemEntered, this,
          [this](QTreeWidgetItem *item) { list_->setCurrentItem(item); });
  Rebuild();
}

void TProfileTreeBox::Rebuild() {
  const TAppSettings settings(settingsFile_);
  list_->clear();
  const auto categories = ProfileCategories();
  QFont bold = list_->font();
  bold.setBold(true);
  for (int c = 0; c < static_cast<int>(categories.size()); ++c) {
    const QString name = QString::fromStdString(ShownCategoryName(c));
    auto *category = new QTreeWidgetItem(list_, QStringList{name});
    category->setData(0, kCodeRole, c);
    category->setData(0, kIsCategoryRole, true);
    category->setFont(0, bold);
    category->setIcon(0, CategoryIcon(c, name));
    category->setFlags(Qt::ItemIsEnabled);
    const int count = static_cast<int>(categories[static_cast<std::size_t>(c)].Profiles.size());
    for (int p = 0; p < count; ++p) {
      const int code = c * 100 + p;
      auto *profile =
          new QTreeWidgetItem(category, QStringList{QString::fromStdString(ShownProfileName(code))});
      profile->setData(0, kCodeRole, code);
      profile->setData(0, kIsCategoryRole, false);
      profile->setForeground(0, QColor(0, 0, 128));
    }
    category->setExpanded(!settings.CategoryCollapsed(c));
  }
  const TChosenProfile chosen = ChosenProfile(settings);
  chosenCode_ = chosen.Code;
  field_->setText(QString::fromStdString(chosen.Text));
  field_->setCursorPosition(0);
  if (QTreeWidgetItem *item = ProfileItem(chosenCode_)) list_->setCurrentItem(item);
}

void TProfileTreeBox::SaveTreeState() const {
  TAppSettings settings(settingsFile_);
  for (int c = 0; c < list_->topLevelItemCount(); ++c)
    settings.SetCategoryCollapsed(c, !list_->topLevelItem(c)->isExpanded());
}

QString TProfileTreeBox::Text() const { return field_->text(); }

QTreeWidgetItem *TProfileTreeBox::CategoryItem(int index) const {
  return index >= 0 && index < list_->topLevelItemCount() ? list_->topLevelItem(index) : nullptr;
}

QTreeWidgetItem *TProfileTreeBox::ProfileItem(int code) const {
  QTreeWidgetItem *category = CategoryItem(code / 100);
  if (!category || code < 0 || code % 100 >= category->childCount()) return nullptr;
  return category->child(code % 100);
}

bool TProfileTreeBox::ChooseProfile(int code) {
  const std::string name = ShownProfileName(code);
  if (name.empty()) return false;
  if (writesChoice_) TAppSettings(settingsFile_).SetFormat(name, code);
  chosenCode_ = code;
  field_->setText(QString::fromStdString(name));
  field_->setCursorPosition(0);
  if (QTreeWidgetItem *item = ProfileItem(code)) list_->setCurrentItem(item);
  emit ProfileChosen(code);
  return true;
}

void TProfileTreeBox::ShowList() {
  if (QTreeWidgetItem *item = ProfileItem(chosenCode_)) {
    list_->setCurrentItem(item);
    list_->scrollToItem(item);
  }
  // Opens upwards over the window when there is room above the field, else downwards.
  const int rowHeight = list_->sizeHintForRow(0) > 0 ? list_->sizeHintForRow(0) : fontMetrics().height() + 4;
  const int height = std::min(22 * rowHeight, 480);
  const QPoint topLeft = mapToGlobal(QPoint(0, 0));
  const QScreen *screen = this->screen();
  const int screenTop = screen ? screen->availableGeometry().top() : 0;
  const int y = topLeft.y() - height >= screenTop ? topLeft.y() - height : topLeft.y() + this->height();
  list_->setGeometry(topLeft.x(), y, std::max(width(), 320), height);
  list_->show();
  list_->setFocus();
}

void TProfileTreeBox::HideList() { list_->hide(); }

void TProfileTreeBox::OnItemClicked(QTreeWidgetItem *item) {
  if (!item || item->data(0, kIsCategoryRole).toBool()) {
    if (item) item->setExpanded(!item->isExpanded());
    return;
  }
  ChooseProfile(item->data(0, kCodeRole).toInt());
  HideList();
}

bool TProfileTreeBox::eventFilter(QObject *watched, QEvent *event) {
  if (watched == field_ && event->type() == QEvent::MouseButtonPress && isEnabled()) {
    list_->isVisible() ? HideList() : ShowList();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

} // namespace tovi
