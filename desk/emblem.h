// The desk's emblem (a signed sheet under a seal), drawn from assets/moravel-verify.svg, the
// same drawing the desktop menu shows. It is rendered for the screen's device pixel ratio, so
// it stays sharp on scaled displays.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace vellum::desk {

// The emblem `size` device-independent pixels wide and high, rendered with
// `device_pixel_ratio` device pixels to each.
QPixmap DrawEmblem(int size, qreal device_pixel_ratio = 1.0);

// The window icon: the emblem at the usual icon sizes.
QIcon EmblemIcon();

}  // namespace vellum::desk
