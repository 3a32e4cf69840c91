#include "radio_group.h"

#include <QAbstractButton>
#include <QApplication>
#include <QProxyStyle>
#include <QRadioButton>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>

// The items' style: the desktop's, with the round indicator no larger than the limit the
// layout sets, so that neighbouring indicators neither overlap nor get cut off.
class TRadioGroup::ItemStyle : public QProxyStyle {
 public:
  // Over a fresh instance of the application's style, which the proxy owns.
  ItemStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

  void SetIndicatorLimit(int pixels) { limit_ = pixels; }

  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    const int size = QProxyStyle::pixelMetric(metric, option, widget);
    if (metric == PM_ExclusiveIndicatorWidth || metric == PM_ExclusiveIndicatorHeight) {
      return qMin(size, limit_);
    }
    return size;
  }

 private:
  int limit_ = QWIDGETSIZE_MAX;
};

TRadioGroup::TRadioGroup(QWidget* parent)
    : QGroupBox(parent), buttons_(new QButtonGroup(this)), item_style_(new ItemStyle) {
  connect(buttons_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (!checked) return;
    selected_ = ItemIndex();
    emit ItemIndexChanged(selected_);
  });
}

// The buttons go before the style they are drawn with.
TRadioGroup::~TRadioGroup() {
  qDeleteAll(buttons_->buttons());
}

QStringList TRadioGroup::Items() const {
  QStringList texts;
  for (QAbstractButton* button : buttons_->buttons()) texts << button->text();
  return texts;
}

void TRadioGroup::SetItems(const QStringList& items) {
  for (QAbstractButton* button : buttons_->buttons()) {
    buttons_->removeButton(button);
    delete button;
  }
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    button->setStyle(item_style_.get());
    buttons_->addButton(button, i);
  }
  LayOutButtons();
  // The stored selection may arrive before the stored items.
  if (QAbstractButton* button = buttons_->button(selected_)) button->setChecked(true);
}

int TRadioGroup::ItemIndex() const {
  return buttons_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
  selected_ = index;
  if (QAbstractButton* button = buttons_->button(index)) {
    button->setChecked(true);
    return;
  }
  if (QAbstractButton* checked = buttons_->checkedButton()) {
    // An exclusive group refuses to uncheck its last button.
    buttons_->setExclusive(false);
    checked->setChecked(false);
    buttons_->setExclusive(true);
    emit ItemIndexChanged(-1);
  }
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  LayOutButtons();
}

// One column: the items share the height below the caption equally, each indicator whole
// inside its own row and one pixel short of it, so that neighbours do not touch.
void TRadioGroup::LayOutButtons() {
  const QList<QAbstractButton*> list = buttons_->buttons();
  if (list.isEmpty()) return;
  // The area inside the frame and below the caption, wherever the style puts them.
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  const QRect area =
      style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, this);
  const int row = qMax(1, area.height() / static_cast<int>(list.size()));
  item_style_->SetIndicatorLimit(qMax(1, row - 1));
  for (int i = 0; i < list.size(); ++i) {
    list[i]->setGeometry(area.left() + 6, area.top() + i * row, area.width() - 8, row);
    list[i]->update();
  }
}
