// The "Output signal" group as drawn: every item's round indicator and text whole, inside the
// group's stored bounds, and no two items overlapping.
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include "app_fixture.h"

namespace {

using OutputSignalGroup = WindowsTest;

TEST_F(OutputSignalGroup, IndicatorsAndTextsAreWholeAndApartInsideTheGroup) {
  TRadioGroup* group = Form1->RadioGroup1;
  ASSERT_EQ(group->geometry(), QRect(232, 168, 105, 49));
  const QList<QRadioButton*> items = group->findChildren<QRadioButton*>();
  ASSERT_EQ(items.size(), 2);
  QList<QRect> indicators;
  for (QRadioButton* item : items) {
    SCOPED_TRACE(item->text().toStdString());
    QStyleOptionButton option;
    option.initFrom(item);
    option.text = item->text();
    const QRect indicator =
        item->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, item);
    const QRect contents =
        item->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, item);
    const QRect ink = item->fontMetrics().tightBoundingRect(item->text());
    // Whole: nothing of the indicator or the text is cut off by the item's own bounds.
    EXPECT_GT(indicator.height(), 0);
    EXPECT_TRUE(item->rect().contains(indicator));
    EXPECT_TRUE(item->rect().contains(contents));
    EXPECT_GE(contents.height(), ink.height());
    EXPECT_GE(contents.width(), ink.width());
    EXPECT_TRUE(group->rect().contains(item->geometry()));
    indicators << indicator.translated(item->pos());
  }
  EXPECT_FALSE(indicators[0].intersects(indicators[1]));
  EXPECT_FALSE(items[0]->geometry().intersects(items[1]->geometry()));
}

}  // namespace
