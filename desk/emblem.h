// The desk's emblem (a signed sheet under a seal), drawn rather than loaded so the window needs
// no image plug-in. assets/moravel-verify.svg is the same drawing for the desktop menu.
#pragma once

#include <QPixmap>

namespace vellum::desk {

QPixmap DrawEmblem(int size);

}  // namespace vellum::desk
