// The central console's pictures, drawn with QPainter: the computer, UPS and receptacle pictures
// of the status view (ids 287 to 345, each a mode, sub-mode and level of its kind), the list's
// images (327 alarm, 328 warning, 333 information), the splash banner (202), the program's
// icon (128) and the toolbar's command icons.
#pragma once

#include <QIcon>
#include <QImage>

namespace tavona {

enum class PictureKind { Computer, Ups, Receptacle };

struct PictureState {
  PictureKind kind = PictureKind::Computer;
  int mode = 0;
  int subMode = 0;
  int level = 0;
};

// What a picture id shows; false for an id that is not one of the view's pictures.
bool PictureStateOf(int id, PictureState* state);
// The picture id of a kind's (mode, sub-mode, level); 0 when the combination has none.
int PictureIdOf(PictureKind kind, int mode, int subMode, int level);

inline constexpr int kPictureWidth = 150;
inline constexpr int kPictureHeight = 140;

// The picture of an id (kPictureWidth x kPictureHeight); a null image for an unknown id.
QImage TandlePicture(int id);
// The list's images 327, 328, 333 at the given size.
QImage ListImage(int id, int size = 16);
// The splash banner, at the given size.
QImage SplashBanner(int width, int height);
// The program's icon (128).
QIcon ProgramIcon();
QImage ProgramIconImage(int size);
// A toolbar command's icon.
QIcon CommandIcon(int command);

}  // namespace tavona
