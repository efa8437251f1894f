// The desktop agent's pictures, drawn rather than loaded: icon 128 (the agent watches its UPS)
// and icon 130 (the agent is starting or has no UPS yet): a battery with a plug, green or grey.
#pragma once

#include <QIcon>
#include <QPixmap>

inline constexpr int kIconRunning = 128;
inline constexpr int kIconStartup = 130;

// The picture of icon 128 or 130 (any other id: 130) at the given size in pixels.
QPixmap AgentPixmap(int id, int size);
// The icon in the usual sizes.
QIcon AgentIcon(int id);
