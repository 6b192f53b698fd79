#pragma once

#include <QFont>

/// The windows' font: Tahoma at 8 points where the system has it, else base's
/// family at 8 points, so that the captions fit the narrow main window.
QFont WindowFont(const QFont& base);
