#include "widgets/guard.h"

#include "store/app_error.h"
#include "widgets/message_boxes.h"

namespace {
int depth = 0;
}

namespace Guard {

bool active()
{
    return depth > 0;
}

void run(const std::function<void()> &handler)
{
    if (depth > 0) {
        // A cascade: the outermost guard reports, and the error ends every handler on the way.
        ++depth;
        struct Leave
        {
            ~Leave() { --depth; }
        } leave;
        handler();
        return;
    }
    QString message;
    bool failed = false;
    ++depth;
    try {
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
    --depth;
    if (failed)
        MessageBoxes::instance().error(message);
}

} // namespace Guard
