#include "widgets/server_wait.h"

#include "store/database.h"

#include <QApplication>
#include <QPointer>
#include <QProgressDialog>

namespace ServerWaitIndicator {

namespace {

QPointer<QProgressDialog> &box()
{
    static QPointer<QProgressDialog> b;
    return b;
}
bool cursorSet = false;

void waiting(const QString &server, qint64 waitedMs)
{
    if (!cursorSet) {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        cursorSet = true;
    }
    QProgressDialog *b = box();
    if (!b) {
        // No cancel button: the wait ends by itself within the program's limit, with a message.
        b = new QProgressDialog(QApplication::activeWindow());
        b->setObjectName(QStringLiteral("ServerWait"));
        b->setWindowTitle(QStringLiteral("Vanterlo"));
        b->setCancelButton(nullptr);
        b->setRange(0, 0);
        b->setMinimumDuration(0);
        b->setAutoClose(false);
        b->setAutoReset(false);
        b->setWindowModality(Qt::NonModal);
        box() = b;
    }
    b->setLabelText(text(server, waitedMs));
    if (!b->isVisible())
        b->show();
    // Paints, answers the desktop and the accessibility bus; keys and clicks are kept until the answer is in.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ended()
{
    if (QProgressDialog *b = box()) {
        b->hide();
        b->deleteLater();
        box() = nullptr;
    }
    if (cursorSet) {
        QApplication::restoreOverrideCursor();
        cursorSet = false;
    }
}

} // namespace

QString text(const QString &server, qint64 waitedMs)
{
    return QStringLiteral("正在等待数据库服务器 %1 应答……已等待 %2 秒").arg(server).arg(waitedMs / 1000);
}

void install()
{
    ServerWait::setWatcher({&waiting, &ended});
}

} // namespace ServerWaitIndicator
