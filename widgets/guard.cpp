#include "widgets/guard.h"

#include "store/app_error.h"
#include "store/database.h"
#include "widgets/message_boxes.h"

#include <QThread>

namespace {
// Handlers running at the event-loop level where the outermost guard started. A modal box or a window waited for in a
// local event loop starts a new level: handlers there have their own outermost guard, so their errors never travel
// through the event loop of the handler that opened it.
int depth = 0;
int guardLevel = -1;

int loopLevel()
{
    return QThread::currentThread()->loopLevel();
}
} // namespace

namespace Guard {

bool active()
{
    return depth > 0 && guardLevel == loopLevel();
}

void run(const std::function<void()> &handler)
{
    if (active()) {
        // A cascade: the outermost guard reports, and the error ends every handler on the way.
        ++depth;
        struct Leave
        {
            ~Leave() { --depth; }
        } leave;
        handler();
        return;
    }
    const int savedDepth = depth;
    const int savedLevel = guardLevel;
    depth = 1;
    guardLevel = loopLevel();
    QString message;
    bool failed = false;
    try {
        Database::checkSession();
        handler();
    } catch (const AppError &e) {
        failed = true;
        message = e.message();
    } catch (const std::exception &e) {
        failed = true;
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        failed = true;
    }
    depth = savedDepth;
    guardLevel = savedLevel;
    if (failed) {
        MessageBoxes::instance().error(message);
        // A failure on a server may leave the window showing what the server no longer holds: once the box is
        // closed, what is shown is read again (and again after the next failure, while the server cannot be reached).
        Database::refreshIfStale();
    }
}

bool atBoundary(const std::function<void()> &fn)
{
    bool done = false;
    const auto body = [&] {
        fn();
        done = true;
    };
    if (!active()) {
        run(body);
        return done;
    }
    try {
        body();
    } catch (const AppError &e) {
        MessageBoxes::instance().error(e.message());
    } catch (const std::exception &e) {
        MessageBoxes::instance().error(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        MessageBoxes::instance().error(QString());
    }
    return done;
}

} // namespace Guard
