#pragma once

#include <functional>

// The error boundary of every event handler. An AppError (or any other exception) that reaches the outermost guard
// ends that handler and is shown in the application's error message box; the program goes on. A guard inside another
// one (a handler run by a cascade from another handler) lets the error through, so it ends the whole cascade. A handler
// dispatched by a local event loop inside another handler (a modal box, a window waited for) is outermost again.
namespace Guard {

void run(const std::function<void()> &handler);

// True while a guarded handler is running at the current event-loop level.
bool active();

// Runs the part of one of Qt's event handlers (or a slot called from inside Qt) that can fail. Outermost it is run().
// Inside a running handler (the event came synchronously from something that handler did, such as a check box it
// switched) the error cannot end that handler through Qt's own frames: it is shown here and ends only this part.
// Returns true when fn ran to its end.
bool atBoundary(const std::function<void()> &fn);

} // namespace Guard

// Wraps a member handler for connect(): guarded(this, &TForm1::Button1Click).
template <class T> auto guarded(T *object, void (T::*handler)())
{
    return [object, handler]() { Guard::run([object, handler]() { (object->*handler)(); }); };
}
