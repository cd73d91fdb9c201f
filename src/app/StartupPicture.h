// The start-up picture: skin/mp4videocover.jpg from the data folder when present, else a
// picture drawn here.
#pragma once

#include <QPixmap>

namespace tovi {

QPixmap StartupPicture();

} // namespace tovi
