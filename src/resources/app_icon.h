#pragma once

#include <QIcon>

// Icon resource 128: drawn rather than loaded, so no binary is needed.
QIcon appIcon();
