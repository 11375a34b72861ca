#pragma once
// A home of the program's own for a benchmark run by hand: the settings (the back-office API key
// among them) and caches that it or the application it starts would keep under the user's home
// go there instead.

#include <QString>

namespace testsupport {

// Points HOME, XDG_CONFIG_HOME and XDG_CACHE_HOME into dir, for this process and those it starts.
void useOwnHome(const QString& dir);

} // namespace testsupport
