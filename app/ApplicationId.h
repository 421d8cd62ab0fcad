#pragma once

#include <QString>

#ifndef QUINTARO_APP_ID
#error "QUINTARO_APP_ID must name the desktop entry"
#endif

// The name desktops know the program by: its desktop entry, icons and AppStream metadata.
inline QString ApplicationId() {
    return QStringLiteral(QUINTARO_APP_ID);
}
