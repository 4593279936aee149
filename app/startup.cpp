#include "app/startup.h"

#include "app/data_start.h"
#include "app/fonts.h"
#include "app/form1.h"
#include "app/splash.h"
#include "reports/form2.h"
#include "store/app_error.h"
#include "store/database.h"
#include "widgets/message_boxes.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

namespace {

void centre(QWidget *w)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    w->move(area.center() - QPoint(w->width() / 2, w->height() / 2));
}

} // namespace

int runProgram(QApplication &app, const std::function<void()> &eventLoop)
{
    Q_UNUSED(app);
    bool started = false;
    try {
        fm = new Tfm;
        centre(fm);
        fm->show();
        fm->repaint();
        // The picture is on the screen before the slow part of start-up.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

        installFontSubstitutes();
        QApplication::setApplicationName(QStringLiteral("Vanterlo"));
        convertParadoxFolder(Database::aliasFolder());

        Form1 = new TForm1;
        Form2 = new TForm2(Form1);

        fm->hide();
        fm->close();
        delete fm;
        fm = nullptr;
        started = true;
    } catch (const AppError &e) {
        MessageBoxes::instance().error(withDataAdvice(e.message(), Database::aliasFolder()));
    } catch (...) {
        MessageBoxes::instance().error(QString());
    }

    if (started) {
        centre(Form1);
        Form1->show();
        // For timing start-up from outside: end as soon as the shown window's first events are handled.
        if (qEnvironmentVariableIsSet("VANTERLO_QUIT_AFTER_SHOW"))
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        eventLoop();
    }
    delete Form2;
    Form2 = nullptr;
    delete Form1;
    Form1 = nullptr;
    delete fm;
    fm = nullptr;
    return 0;
}
