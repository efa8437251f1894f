// The pictures of the mimic diagram: the UPS's power path, drawn with QPainter.
//
// Each picture id is one image of its own size. Pictures come in pairs that the mimic
// alternates once a second (the energy flow moves along the lit path):
//   on-line UPS:           146/147 on bypass, 156/163 on battery, 161/164 normal
//   off-line UPS:          187/186 on battery, 185/184 normal
//   line-interactive UPS:  183/182 on battery, 181/180 bucking, 179/178 boosting, 177/176 normal
#pragma once

#include <QImage>
#include <functional>

// The picture of an id; a null image for an id without one.
QImage MimicPicture(int id);

// Where the mimic takes its pictures from (MimicPicture unless a source is installed; an
// empty function restores it). Tests install pictures of their own sizes.
using MimicPictureSource = std::function<QImage(int id)>;
void SetMimicPictureSource(MimicPictureSource source);
QImage LoadMimicPicture(int id);
