// Windows are stored with their outer frame rectangle (position and size including the title
// bar and borders), held in the window's "outerGeometry" property. Qt places a top-level window
// by its frame but sizes it by its client area, and the frame's thickness is known only once the
// window manager has framed the window. So the client size is fitted when the window is first
// shown, and once more shortly after if the frame arrived late. Later moves and resizes by the
// user are left alone. Without a window manager the frame is empty and the client area takes
// the whole stored size. A stored rectangle that does not fit the available area of its screen
// (a small screen, a large scale factor, panels) is moved just enough to lie inside it; a window
// whose "shrinkToScreen" property is true is made smaller first where it is larger than the area.
#pragma once

#include <QRect>
#include <QWidget>

// Places the window at its stored outer rectangle now and fits it again when first shown.
void KeepStoredOuterGeometry(QWidget* window);

// The stored outer rectangle (an empty rectangle when the window has none).
QRect StoredOuterGeometry(const QWidget* window);
