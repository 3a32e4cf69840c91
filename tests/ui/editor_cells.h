// A cell of the program editor's steps opened for typing as a user opens it, for the window tests
// that type into cells.
#pragma once

#include <QTableView>
#include <QTest>

#include "program_editor.h"

// A cell's editor opened as a user opens it: a click to select the cell, a double click to edit.
inline QWidget* OpenCell(ProgramEditor* editor, int row, int column) {
  QTableView* table = editor->Steps();
  const QModelIndex index = table->model()->index(row, column);
  table->scrollTo(index);
  const QPoint at = table->visualRect(index).center();
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
  return table->indexWidget(index);
}
