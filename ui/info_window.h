// info_window.cpp holds TForm2, the Information window: a read-only text about the program,
// shown without blocking and hidden again by its close box or Escape, contents and scroll
// position kept.
#pragma once

#include <QWidget>

#include "ui_info_window.h"

class TForm2 : public QWidget, public Ui::TForm2 {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

extern TForm2* Form2;
