// TRadioGroup: a captioned group of radio buttons laid out in one column, addressed by item
// index like a list: Items are the buttons' texts, ItemIndex the checked one (-1 for none).
// The items share the style's contents area in equal rows; where the style's round indicator
// is taller than a row allows, it is drawn smaller, so that every indicator stays whole and a
// pixel apart from the next.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>
#include <memory>

class TRadioGroup : public QGroupBox {
  Q_OBJECT
  Q_PROPERTY(QStringList items READ Items WRITE SetItems)
  Q_PROPERTY(int itemIndex READ ItemIndex WRITE SetItemIndex NOTIFY ItemIndexChanged)

 public:
  explicit TRadioGroup(QWidget* parent = nullptr);
  ~TRadioGroup() override;

  QStringList Items() const;
  // Replaces the buttons, keeping the selected index when it is still an item.
  void SetItems(const QStringList& items);

  int ItemIndex() const;
  // An index outside the items clears the selection.
  void SetItemIndex(int index);

 signals:
  void ItemIndexChanged(int index);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  class ItemStyle;

  void LayOutButtons();

  QButtonGroup* buttons_;
  std::unique_ptr<ItemStyle> item_style_;
  int selected_ = -1;
};
