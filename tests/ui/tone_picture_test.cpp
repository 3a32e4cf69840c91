// The Tone generator window's picture draws its curve readably whatever the palette.
#include "tone_picture.h"

#include <gtest/gtest.h>

#include <QPalette>

#include "readable_blue.h"

namespace {

TEST(TonePicture, TheCurveStandsOutFromTheBackgroundByAtLeastFourAndAHalf) {
  struct Case {
    const char* what;
    QColor base, highlight, text;
    bool highlight_kept;  // the highlight reads already and is drawn as it is
  };
  const Case cases[] = {
      {"light: a deep blue on white", Qt::white, QColor(0x1e, 0x50, 0xa0), Qt::black, true},
      {"dark: a mid blue on dark grey", QColor(0x2a, 0x2a, 0x2a), QColor(0x2a, 0x5a, 0x9a),
       Qt::white, false},
      {"dark: a highlight as dark as the base", QColor(0x20, 0x20, 0x20), QColor(0x20, 0x20, 0x20),
       QColor(0xee, 0xee, 0xee), false},
      {"high contrast: yellow on black", Qt::black, Qt::yellow, Qt::white, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QPalette palette;
    palette.setColor(QPalette::Base, c.base);
    palette.setColor(QPalette::Highlight, c.highlight);
    palette.setColor(QPalette::Text, c.text);
    const QColor curve = TonePicture::CurveColour(palette);
    EXPECT_GE(ContrastRatio(curve, c.base), 4.5);
    EXPECT_EQ(curve == c.highlight, c.highlight_kept);
  }
}

}  // namespace
