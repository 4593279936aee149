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

} // namespace Guard

// Wraps a member handler for connect(): guarded(this, &TForm1::Button1Click).
template <class T> auto guarded(T *object, void (T::*handler)())
{
    return [object, handler]() { Guard::run([object, handler]() { (object->*handler)(); }); };
}
