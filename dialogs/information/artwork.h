// The pictures of the information dialogs, drawn here rather than shipped as images: UPS
// pictures (by bitmap number, at the bitmap's source size), vendor logos and the receptacle
// state pictures. Each is drawn once per number and size and then reused.
#pragma once

#include <QPixmap>
#include <QSize>

// Source size of a UPS picture or logo bitmap; an invalid size for a number without a picture.
QSize ArtworkSourceSize(int bitmap);
// A UPS picture (bitmaps 188 .. 265) at its source size.
QPixmap UpsArtwork(int bitmap);
// A vendor logo (bitmaps 203, 204, 214, 231, 250) at its source size: the vendor's name on a
// plate in the vendor's colour.
QPixmap LogoArtwork(int bitmap);
// A receptacle state picture (bitmaps 209 .. 213: on up/down, off up/down, unknown), square.
QPixmap ReceptacleArtwork(int bitmap, int size);
