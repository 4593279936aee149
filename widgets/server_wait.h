#pragma once

#include <QString>

// What the window shows while the program waits for a database server: from half a second on, a busy cursor and a
// small box that names the server and how long the wait has lasted. The window keeps painting and answering the
// desktop meanwhile; what the user types or clicks waits until the server has answered.
namespace ServerWaitIndicator {
void install();
// The box's text for a wait of so many milliseconds (also what assistive technology reads).
QString text(const QString &server, qint64 waitedMs);
} // namespace ServerWaitIndicator
