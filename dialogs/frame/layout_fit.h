// Layout repairs the library's dialogs share.
#pragma once

class QBoxLayout;
class QWidget;

// Keeps a window tall enough for its word-wrapped text. Qt gives a window the minimum size of its
// layout, which does not depend on the width; a word-wrapped label needs more lines when the
// window is narrow or when a control beside it takes room, and is then cut at top and bottom
// (at a larger font or scale factor especially). The keeper watches the window: whenever its
// layout is redone (controls shown or hidden) or the window is resized, the window's minimum
// height becomes what its layout needs at the window's width, and a lower window grows to it.
// Installs the keeper on the window (once; it lives as the window's child). Every KTDialog has one.
void KeepHeightForWidth(QWidget* window);

// A row (or column) of controls placed inside a grid whose horizontal and vertical spacings
// differ inherits no spacing from it, and its controls touch: gives it the style's spacing
// between controls, as the owner's own layouts have it.
void GiveStyleSpacing(QBoxLayout* row, const QWidget* owner);
