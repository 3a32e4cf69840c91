// The program file a drag carries onto a window: one local file, named by its bytes (path_text.h)
// so that a name that is not UTF-8 still opens. Shared by the main and the Programs window.
#pragma once

#include <QString>

class QDragEnterEvent;
class QDropEvent;

// Accepts the drag when it carries one local file.
void AcceptFileDrag(QDragEnterEvent* event);
// The dropped file (accepting the drop), or empty when the drop carries none.
QString TakeDroppedFile(QDropEvent* event);
